// A stand-in for the external downloader, built as yt-dlp.exe for the tests. It accepts
// the three command lines the program gives (a download with "-o <template> <target>", a
// listing with "--print <fields> ytsearch10:<words>", the self-update "-U"), prints what
// the real program prints for them and writes the file it would write (a file that is there already it leaves
// alone and says so, as the real one does). Words in the target choose misbehaviour:
//
//   download target contains   behaviour
//   fail                       error on standard error, exit 1, no progress, no file
//   at40                       progress up to 40 %, then exit 1 without a file
//   nofile                     progress to 100 %, exit 0, but no file
//   quiet                      no output at all, the file, exit 0
//   silent                     no output, never exits
//   hang                       some progress, then never exits
//   grandchild                 starts a copy of itself that writes "grandchild-done.txt"
//                              into the folder 3 s later, then behaves like "hang"
//   holdpipe                   starts a silent copy of itself that inherits the output and
//                              holds it for 3 s, then writes "holder-done.txt" into the
//                              folder; meanwhile this one downloads normally and exits 0
//   garbage                    binary noise and broken lines between the progress lines
//   slow                       a download that takes 30 s
//   gate                       stops halfway until a file "gate.txt" appears in the
//                              folder (at most 60 s), then finishes like a normal one
//
//   search words contain       listing
//   nothing                    no lines, exit 1
//   fewer                      3 results
//   missing                    lines with too few fields, without address, "NA" durations
//   badutf8                    titles with bytes that are not UTF-8
//   longline                   3000-byte lines
//   thousands                  5000 results
//   slowsearch                 results after 2 s
//   hangsearch                 2 results, then never exits
//   carry                      every address ends in "&q=<the words, blanks as +>", so
//                              that a download of a listed row sees the words
//
// With YTDLP_DOUBLE_LOG set, every start appends its arguments to that file: "ARGS n",
// then each argument as "<UTF-16 units>:<UTF-8 bytes>" on a line of its own, and
// "CRT-DIFFERS" when the C runtime split the command line differently from
// CommandLineToArgvW. With YTDLP_DOUBLE_CATALOGUE set, a watch address's id is looked up
// in that UTF-8 file of "id<TAB>title" lines to name the file; otherwise "Video <id>".
// YTDLP_DOUBLE_UPDATE chooses what "-U" does, printing what the real one prints:
//
//   current (or unset)   "yt-dlp is up to date (stable@2024.08.06 ...)", exit 0
//   updated              "Updated yt-dlp to stable@2024.10.07 ...", exit 0
//   fail                 "ERROR: ..." on standard error, exit 1
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static HANDLE g_out;

static std::string utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &s[0], n, nullptr, nullptr);
    return s;
}

static std::wstring wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), &w[0], n);
    return w;
}

static void put(const std::string& bytes) {
    DWORD written = 0;
    if (g_out && g_out != INVALID_HANDLE_VALUE) WriteFile(g_out, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
}

static void put_error(const std::string& bytes) {
    DWORD written = 0;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE) WriteFile(err, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
}

static std::wstring env(const wchar_t* name) {
    wchar_t buf[1024];
    DWORD n = GetEnvironmentVariableW(name, buf, 1024);
    return (n && n < 1024) ? std::wstring(buf, n) : std::wstring();
}

static void log_arguments(int argc, wchar_t** argv) {
    std::wstring path = env(L"YTDLP_DOUBLE_LOG");
    if (path.empty()) return;
    std::string record = "ARGS " + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; i++) {
        record += std::to_string(wcslen(argv[i])) + ":" + utf8(argv[i]) + "\n";
    }
    int crt_argc = __argc;
    wchar_t** crt_argv = __wargv;
    int same = crt_argv && crt_argc == argc;
    for (int i = 1; same && i < argc; i++) same = wcscmp(crt_argv[i], argv[i]) == 0;
    if (!same) record += "CRT-DIFFERS\n";
    // Several children may log at once (a search and a download); appends of one write each.
    HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, record.data(), (DWORD)record.size(), &written, nullptr);
    CloseHandle(f);
}

static int contains(const std::wstring& text, const wchar_t* word) {
    std::wstring lower = text;
    for (auto& c : lower) c = (wchar_t)towlower(c);
    return lower.find(word) != std::wstring::npos;
}

static std::wstring make_id(const std::wstring& seed, int n) {
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    unsigned long long h = 1469598103934665603ull + (unsigned)n * 7919u;
    for (wchar_t c : seed) h = (h ^ (unsigned)c) * 1099511628211ull;
    std::wstring id;
    for (int i = 0; i < 11; i++) {
        id += (wchar_t)ALPHABET[h & 63];
        h = (h >> 6) | (h << 58);
        h *= 6364136223846793005ull;
    }
    return id;
}

// The real downloader swaps characters a Windows file name cannot hold for look-alikes.
static std::wstring file_safe(const std::wstring& title) {
    std::wstring out;
    for (wchar_t c : title) {
        switch (c) {
        case L'"': out += L'\uff02'; break;
        case L':': out += L'\uff1a'; break;
        case L'/': out += L'\u29f8'; break;
        case L'\\': out += L'\u29f9'; break;
        case L'*': out += L'\uff0a'; break;
        case L'?': out += L'\uff1f'; break;
        case L'<': out += L'\uff1c'; break;
        case L'>': out += L'\uff1e'; break;
        case L'|': out += L'\uff5c'; break;
        default:
            if (c >= 32) out += c;
        }
    }
    return out;
}

// Two seconds of a quiet 440 Hz tone, so that a downloaded track really plays.
static std::string wav_bytes(void) {
    const int rate = 8000, samples = rate * 2;
    std::string s;
    auto u32 = [&](unsigned v) { for (int i = 0; i < 4; i++) s += (char)((v >> (8 * i)) & 255); };
    auto u16 = [&](unsigned v) { s += (char)(v & 255); s += (char)((v >> 8) & 255); };
    s += "RIFF"; u32(36 + samples * 2); s += "WAVEfmt "; u32(16); u16(1); u16(1); u32(rate); u32(rate * 2);
    u16(2); u16(16); s += "data"; u32(samples * 2);
    for (int i = 0; i < samples; i++) {
        int phase = (i * 440 * 4 / rate) % 4;  // a triangle is close enough to a tone
        int v = phase == 0 ? 0 : phase == 1 ? 3000 : phase == 2 ? 0 : -3000;
        u16((unsigned)(v & 0xffff));
    }
    return s;
}

static std::wstring catalogue_title(const std::wstring& id) {
    std::wstring path = env(L"YTDLP_DOUBLE_CATALOGUE");
    if (!path.empty()) {
        FILE* f = _wfopen(path.c_str(), L"rb");
        if (f) {
            char line[1024];
            while (fgets(line, sizeof line, f)) {
                std::string s(line);
                while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
                size_t tab = s.find('\t');
                if (tab != std::string::npos && wide(s.substr(0, tab)) == id) {
                    fclose(f);
                    return wide(s.substr(tab + 1));
                }
            }
            fclose(f);
        }
    }
    return L"Video " + id;
}

static void sleep_forever(void) {
    for (;;) Sleep(1000);
}

static int download(const std::wstring& tmpl, const std::wstring& target, const std::wstring& self) {
    std::wstring id, title;
    size_t v = target.find(L"watch?v=");
    if (v != std::wstring::npos) {
        id = target.substr(v + 8, 11);
        title = catalogue_title(id);
    } else if (target.rfind(L"ytsearch1:", 0) == 0) {
        title = target.substr(10);
        id = make_id(title, 0);
    } else {
        put_error("ERROR: '" + utf8(target) + "' is not a valid URL.\n");
        return 2;
    }
    std::wstring path = tmpl;
    auto fill = [&](const wchar_t* field, const std::wstring& value) {
        size_t at = path.find(field);
        if (at != std::wstring::npos) path.replace(at, wcslen(field), value);
    };
    fill(L"%(title)s", file_safe(title));
    fill(L"%(id)s", id);
    fill(L"%(ext)s", L"wav");
    std::wstring folder = tmpl.substr(0, tmpl.find_last_of(L'\\') == std::wstring::npos ? 0 : tmpl.find_last_of(L'\\'));

    if (contains(target, L"silent")) sleep_forever();
    if (contains(target, L"fail")) {
        put("[youtube] Extracting URL: " + utf8(target) + "\n");
        put_error("ERROR: [youtube] " + utf8(id) + ": Video unavailable. This video is not available\n");
        return 1;
    }
    if (contains(target, L"grandchild")) {
        std::wstring line = L"\"" + self + L"\" --grandchild-of \"" + folder + L"\\grandchild-done.txt\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::wstring copy = line;
        if (CreateProcessW(nullptr, &copy[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    if (contains(target, L"holdpipe")) {
        std::wstring line = L"\"" + self + L"\" --hold-output \"" + folder + L"\\holder-done.txt\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = g_out;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION pi = {};
        std::wstring copy = line;
        if (CreateProcessW(nullptr, &copy[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    int quiet = contains(target, L"quiet");
    int slow = contains(target, L"slow");
    if (!quiet) {
        put("[youtube] Extracting URL: " + utf8(target) + "\r\n");
        put("[youtube] " + utf8(id) + ": Downloading webpage\n");
        put("[info] " + utf8(id) + ": Downloading 1 format(s): 140\n");
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            put("[download] " + utf8(path) + " has already been downloaded\n");
            put("[download] 100% of    3.45MiB\n");
            return 0;
        }
        put("[download] Destination: " + utf8(path) + "\n");
    }
    int steps = slow ? 300 : 12;
    int pause = slow ? 100 : 15;
    int garbage = contains(target, L"garbage");
    for (int i = 0; i <= steps && !quiet; i++) {
        double percent = 100.0 * i / steps;
        if (contains(target, L"at40") && percent > 40.0) {
            put_error("ERROR: unable to download video data: HTTP Error 403: Forbidden\n");
            return 1;
        }
        char line[160];
        if (i == steps) {
            snprintf(line, sizeof line, "[download] 100%% of    3.45MiB in 00:00:01 at 2.71MiB/s\n");
        } else {
            snprintf(line, sizeof line, "[download] %5.1f%% of    3.45MiB at    1.20MiB/s ETA 00:%02d\n", percent,
                     (steps - i) % 60);
        }
        // Real output reaches the pipe in arbitrary pieces; cut every third line in two.
        std::string s(line);
        if (i % 3 == 1) {
            put(s.substr(0, 14));
            Sleep(5);
            put(s.substr(14));
        } else {
            put(s);
        }
        if (garbage) {
            std::string noise;
            for (int k = 0; k < 300; k++) noise += (char)((k * 37 + i * 11) & 255);
            put(noise + "\n%%%[download\n[download] %\n[download] .%\n[download] 250% of nothing\n");
        }
        if (contains(target, L"hang") && i == steps / 2) sleep_forever();
        if (contains(target, L"grandchild") && i == steps / 2) sleep_forever();
        if (contains(target, L"gate") && i == steps / 2) {
            std::wstring gate = folder + L"\\gate.txt";
            for (int wait = 0; wait < 600 && GetFileAttributesW(gate.c_str()) == INVALID_FILE_ATTRIBUTES; wait++) Sleep(100);
        }
        Sleep(pause);
    }
    if (!contains(target, L"nofile")) {
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
            put_error("ERROR: unable to open for writing\n");
            return 1;
        }
        std::string bytes = wav_bytes();
        DWORD written = 0;
        WriteFile(f, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(f);
    }
    return 0;
}

static int self_update(void) {
    std::wstring mode = env(L"YTDLP_DOUBLE_UPDATE");
    put("Current version: stable@2024.08.06 from yt-dlp/yt-dlp\n");
    if (mode == L"updated" || mode == L"fail") {
        put("Latest version: stable@2024.10.07 from yt-dlp/yt-dlp\n");
        if (mode == L"fail") {
            put_error("ERROR: Unable to write to yt-dlp.exe; try running as administrator\n");
            return 1;
        }
        put("Current Build Hash: 468a6f8bf1d156ad173e000a40f696d4fbd69c5aa7360229329b9063a388e7d0\n");
        put("Updating to stable@2024.10.07 from yt-dlp/yt-dlp ...\n");
        put("Updated yt-dlp to stable@2024.10.07 from yt-dlp/yt-dlp\n");
        return 0;
    }
    put("Latest version: stable@2024.08.06 from yt-dlp/yt-dlp\n");
    put("yt-dlp is up to date (stable@2024.08.06 from yt-dlp/yt-dlp)\n");
    return 0;
}

static int search(const std::wstring& words) {
    if (contains(words, L"slowsearch")) Sleep(2000);
    if (contains(words, L"nothing")) {
        put_error("ERROR: no results\n");
        return 1;
    }
    int hang = contains(words, L"hangsearch");
    int count = hang ? 2 : contains(words, L"thousands") ? 5000 : contains(words, L"fewer") ? 3 : 10;
    for (int n = 0; n < count; n++) {
        std::wstring id = make_id(words, n);
        std::string title = utf8(words) + (n % 3 == 0 ? " (Official Video)" : n % 3 == 1 ? " [Lyrics]" : " - Live");
        if (n > 0) title += " " + std::to_string(n + 1);
        if (contains(words, L"badutf8")) title += "\xff\xfe\xc3(\x80";
        if (contains(words, L"longline")) title += std::string(3000, 'x');
        std::string duration = std::to_string(150 + n * 17) + ".4";
        std::string uploader = "Kanal " + std::to_string(n + 1);
        std::string url = "https://www.youtube.com/watch?v=" + utf8(id);
        if (contains(words, L"carry")) {
            std::string q = utf8(words);
            for (char& c : q) if (c == ' ') c = '+';
            url += "&q=" + q;
        }
        std::string line;
        if (contains(words, L"missing") && n % 3 == 0) {
            line = utf8(id) + "\t" + title + "\n";  // too few fields
        } else if (contains(words, L"missing") && n % 3 == 1) {
            line = utf8(id) + "\t" + title + "\tNA\t" + uploader + "\n";  // no address
        } else {
            line = utf8(id) + "\t" + title + "\t" + duration + "\t" + uploader + "\t" + url + "\n";
        }
        put(line);
    }
    if (hang) sleep_forever();
    return 0;
}

int wmain(int, wchar_t**) {
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 3;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (argc == 3 && wcscmp(argv[1], L"--grandchild-of") == 0) {
        Sleep(3000);
        HANDLE f = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"--hold-output") == 0) {
        Sleep(3000);
        HANDLE f = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        return 0;
    }
    log_arguments(argc, argv);
    if (argc == 2 && wcscmp(argv[1], L"-U") == 0) return self_update();
    std::wstring tmpl, target;
    int listing = 0;
    for (int i = 1; i < argc; i++) {
        if (wcscmp(argv[i], L"-o") == 0 && i + 1 < argc) tmpl = argv[++i];
        else if (wcscmp(argv[i], L"--print") == 0 && i + 1 < argc) { listing = 1; i++; }
        else if (wcscmp(argv[i], L"-f") == 0 || wcscmp(argv[i], L"--concurrent-fragments") == 0 ||
                 wcscmp(argv[i], L"--buffer-size") == 0 || wcscmp(argv[i], L"--encoding") == 0) i++;
        else if (argv[i][0] != L'-') target = argv[i];
    }
    if (listing && target.rfind(L"ytsearch10:", 0) == 0) return search(target.substr(11));
    if (!tmpl.empty() && !target.empty()) return download(tmpl, target, self);
    put_error("Usage: yt-dlp [OPTIONS] URL [URL...]\n");
    return 2;
}

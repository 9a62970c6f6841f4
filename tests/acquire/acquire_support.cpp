#include "acquire_support.h"

#include <windows.h>
#include <tlhelp32.h>

#include "acquire/downloader.h"
#include "library/folder_scan.h"
#include "test_support.h"

std::string utf8_of(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    if (n) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &s[0], n, nullptr, nullptr);
    return s;
}

static std::wstring wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    if (n) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), &w[0], n);
    return w;
}

static std::wstring temp_file(const wchar_t* prefix) {
    wchar_t dir[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, prefix, 0, name);
    return name;
}

std::vector<std::wstring> files_in(const std::wstring& folder) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(fd.cFileName);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return out;
}

int running_doubles(void) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"yt-dlp.exe") == 0) count++;
    }
    CloseHandle(snap);
    return count;
}

ArgumentLog::ArgumentLog() {
    path = temp_file(L"arg");
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_LOG", path.c_str());
}

ArgumentLog::~ArgumentLog() {
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_LOG", nullptr);
    DeleteFileW(path.c_str());
}

std::vector<std::vector<std::wstring>> ArgumentLog::starts() const {
    std::string text = read_file(path);
    std::vector<std::vector<std::wstring>> out;
    size_t at = 0;
    auto next_line = [&](std::string* line) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) return false;
        *line = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string line;
    while (next_line(&line)) {
        if (line.rfind("ARGS ", 0) != 0) continue;
        int argc = atoi(line.c_str() + 5);
        std::vector<std::wstring> argv;
        for (int i = 0; i < argc; i++) {
            // "<UTF-16 units>:<UTF-8 bytes>"; an argument may hold line breaks, so read by length.
            size_t colon = text.find(':', at);
            if (colon == std::string::npos) return out;
            size_t units = (size_t)atoi(text.substr(at, colon - at).c_str());
            size_t p = colon + 1;
            std::wstring arg;
            while (arg.size() < units && p < text.size()) {
                size_t end = p + 1;
                while (end < text.size() && ((unsigned char)text[end] & 0xC0) == 0x80) end++;
                arg += wide(text.substr(p, end - p));
                p = end;
            }
            argv.push_back(arg);
            at = p + 1;  // the line break after the argument
        }
        out.push_back(argv);
    }
    return out;
}

bool ArgumentLog::crt_differs() const { return read_file(path).find("CRT-DIFFERS") != std::string::npos; }

Catalogue::Catalogue(const std::vector<std::pair<std::wstring, std::wstring>>& id_titles) {
    path = temp_file(L"cat");
    std::string text;
    for (const auto& entry : id_titles) text += utf8_of(entry.first) + "\t" + utf8_of(entry.second) + "\n";
    write_file(path, text);
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_CATALOGUE", path.c_str());
}

Catalogue::~Catalogue() {
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_CATALOGUE", nullptr);
    DeleteFileW(path.c_str());
}

MissingDownloader::MissingDownloader() { downloader_set_program(L"nelvo-no-such-downloader.exe"); }

MissingDownloader::~MissingDownloader() { downloader_set_program(nullptr); }

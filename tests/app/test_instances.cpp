// One running window per installation: files handed to the window by a later start, and
// copies of the real Nelvo.exe started side by side and one after another.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/single_instance.h"
#include "audio_support.h"
#include "library/track_list.h"
#include "ui/fonts.h"
#include "peer_driver.h"
#include "real_input.h"
#include "test_support.h"
#include "window_fixture.h"

static std::vector<char> handover_block(const std::vector<std::wstring>& files) {
    std::vector<const wchar_t*> paths;
    for (const std::wstring& f : files) paths.push_back(f.c_str());
    std::vector<char> block(HANDOVER_MAX_BYTES);
    int taken = 0;
    block.resize(handover_pack(paths.data(), (int)paths.size(), block.data(), block.size(), &taken));
    return block;
}

TEST_F(MainWindowTest, HandedFilesOpenLikeTheCommandLine) {
    use_music_folder();
    write_tone_wav(music + L"\\a.wav", {{440, 300}});
    TempDir other;
    write_file(other.file(L"song.MP3"), "not really audio");
    write_tone_wav(other.file(L"c.wav"), {{550, 300}});
    write_file(other.file(L"liste.m3u"), "#EXTM3U\r\nc.wav\r\n");
    std::vector<char> block = handover_block(
        {other.file(L"song.MP3"), other.path, other.file(L"missing.mp3"), other.file(L"liste.m3u")});

    // The files come while the second stage of start-up is still queued, as they do when a
    // second start finds the first's window the moment it exists.
    command_line = L"\"nelvo.exe\"";
    window = main_window_create(GetModuleHandleW(nullptr), SW_SHOWNORMAL, command_line.c_str());
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    COPYDATASTRUCT data = {HANDOVER_TAG, (DWORD)block.size(), block.data()};
    EXPECT_EQ(SendMessageW(window, WM_COPYDATA, 0, (LPARAM)&data), TRUE);
    EXPECT_FALSE(IsIconic(window)) << "the window comes back for the files";
    pump(50);
    ASSERT_EQ(track_list_count(), 3) << "folder and missing file skipped, the stage ran once";
    EXPECT_EQ(lstrcmpiW(track_list_at(0)->path, (music + L"\\a.wav").c_str()), 0) << "the library first";
    EXPECT_EQ(lstrcmpiW(track_list_at(1)->path, other.file(L"song.MP3").c_str()), 0);
    EXPECT_EQ(lstrcmpiW(track_list_at(2)->path, other.file(L"c.wav").c_str()), 0) << "the playlist imported";

    // Anything else arriving as WM_COPYDATA is refused and opens nothing.
    std::vector<char> more = handover_block({other.file(L"c.wav"), music + L"\\b.wav"});
    write_tone_wav(music + L"\\b.wav", {{660, 300}});
    data = {HANDOVER_TAG + 1, (DWORD)more.size(), more.data()};
    EXPECT_EQ(SendMessageW(window, WM_COPYDATA, 0, (LPARAM)&data), FALSE);
    more.push_back(0);
    data = {HANDOVER_TAG, (DWORD)more.size(), more.data()};
    EXPECT_EQ(SendMessageW(window, WM_COPYDATA, 0, (LPARAM)&data), FALSE);
    data = {HANDOVER_TAG, (DWORD)more.size(), nullptr};
    EXPECT_EQ(SendMessageW(window, WM_COPYDATA, 0, (LPARAM)&data), FALSE);
    EXPECT_EQ(track_list_count(), 3);
}

//~ Copies of the real program

// The build's programs: the copy of Nelvo.exe whose links go to loopback (in "loopback" beside
// the tests), the real one (one folder above them) and the downloader's stand-in (beside them).
static std::wstring built(const wchar_t* name, bool in_tests_folder) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    path = path.substr(0, path.rfind(L'\\'));
    if (!in_tests_folder) path = path.substr(0, path.rfind(L'\\'));
    return path + L"\\" + name;
}

static std::string utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &s[0], n, nullptr, nullptr);
    return s;
}

// A working folder whose config.json names its music folder; returns the music folder.
static std::wstring working_folder_with_music(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring music = folder + L"\\music";
    CreateDirectoryW(music.c_str(), nullptr);
    std::string escaped;
    for (char c : utf8(music)) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    write_file(folder + L"\\config.json", "{\n  \"last_folder\": \"" + escaped + "\",\n  \"volume\": 80\n}\n");
    return music;
}

// A started copy of Nelvo.exe, ended by force when the test ends, however it ends.
struct NelvoProcess {
    PROCESS_INFORMATION pi = {};

    ~NelvoProcess() {
        if (!pi.hProcess) return;
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }

    // Starts exe with the arguments in its own working folder and per-user folder.
    bool start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
               const std::wstring& appdata) {
        std::vector<wchar_t> environment;
        wchar_t* inherited = GetEnvironmentStringsW();
        for (const wchar_t* p = inherited; *p; p += wcslen(p) + 1)
            if (_wcsnicmp(p, L"APPDATA=", 8) != 0) environment.insert(environment.end(), p, p + wcslen(p) + 1);
        FreeEnvironmentStringsW(inherited);
        std::wstring mine = L"APPDATA=" + appdata;
        environment.insert(environment.end(), mine.c_str(), mine.c_str() + mine.size() + 1);
        environment.push_back(0);
        CreateDirectoryW(appdata.c_str(), nullptr);
        std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        return CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                              environment.data(), folder.c_str(), &si, &pi) != 0;
    }

    // Whether the process ended within ms, with its exit code.
    bool ended_within(int ms, DWORD* code) {
        if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return false;
        GetExitCodeProcess(pi.hProcess, code);
        return true;
    }

    bool running() { return WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }
};

// A file the downloader's stand-in wrote for the video id into folder, waited for.
static bool downloaded_within(const std::wstring& folder, const wchar_t* video_id, int ms) {
    std::wstring pattern = folder + L"\\*" + video_id + L"*.wav";
    DWORD start = GetTickCount();
    for (;;) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            FindClose(h);
            return true;
        }
        if ((int)(GetTickCount() - start) > ms) return false;
        Sleep(100);
    }
}

// A shared playlist with one track nobody has: the program that imports it runs the
// downloader into its own music folder, where the file shows who imported it.
static void write_shared_playlist(const std::wstring& path, const wchar_t* video_id) {
    write_file(path, "#EXTM3U\r\n#EXTINF:-1,Bir \xc5\x9e" "ark\xc4\xb1\r\nhttps://www.youtube.com/watch?v=" + utf8(video_id) +
                         "\r\n");
}

// A folder holding a copy of the program with the downloader's stand-in beside it.
static std::wstring install_copy(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring exe = folder + L"\\Nelvo.exe";
    EXPECT_TRUE(CopyFileW(built(L"loopback\\Nelvo.exe", true).c_str(), exe.c_str(), FALSE));
    EXPECT_TRUE(CopyFileW(built(L"yt-dlp.exe", true).c_str(), (folder + L"\\yt-dlp.exe").c_str(), FALSE));
    return exe;
}

TEST(NelvoExe, SecondStartHandsItsFilesToTheRunningWindow) {
    TempDir root;
    std::wstring exe = install_copy(root.file(L"app"));
    std::wstring first_music = working_folder_with_music(root.file(L"first"));
    NelvoProcess first;
    ASSERT_TRUE(first.start(exe, L"", root.file(L"first"), root.file(L"roaming")));
    HWND window = wait_for_main_window(first.pi.dwProcessId, 20000);
    ASSERT_NE(window, nullptr) << "the first start made no window";

    // A second start from another working folder, with its own per-user folder (no settings),
    // and the playlist named relative to that folder.
    CreateDirectoryW(root.file(L"second").c_str(), nullptr);
    write_shared_playlist(root.file(L"second\\liste \u011f\u00fc.m3u"), L"AbCdEfGhIjK");
    NelvoProcess second;
    ASSERT_TRUE(second.start(exe, L"\"liste \u011f\u00fc.m3u\"", root.file(L"second"), root.file(L"roaming2")));
    DWORD code = 1234;
    ASSERT_TRUE(second.ended_within(10000, &code)) << "the second start stays";
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(downloaded_within(first_music, L"AbCdEfGhIjK", 20000)) << "the running window imported nothing";
    EXPECT_TRUE(first.running());

    // Without files a start only brings the running window back, restored and in front,
    // also from behind a copy in another folder: another installation, which runs beside it.
    ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 100 && !IsIconic(window); i++) Sleep(20);
    ASSERT_TRUE(IsIconic(window));
    NelvoProcess third;
    ASSERT_TRUE(third.start(exe, L"", root.file(L"second"), root.file(L"roaming2")));
    ASSERT_TRUE(third.ended_within(10000, &code));
    EXPECT_EQ(code, 0u);
    for (int i = 0; i < 100 && IsIconic(window); i++) Sleep(20);
    EXPECT_FALSE(IsIconic(window));

    std::wstring elsewhere = install_copy(root.file(L"elsewhere"));
    working_folder_with_music(root.file(L"other"));
    NelvoProcess other;
    ASSERT_TRUE(other.start(elsewhere, L"", root.file(L"other"), root.file(L"roaming")));
    HWND other_window = wait_for_main_window(other.pi.dwProcessId, 20000);
    ASSERT_NE(other_window, nullptr);
    for (int i = 0; i < 100 && GetForegroundWindow() != other_window; i++) Sleep(20);
    ASSERT_EQ(GetForegroundWindow(), other_window);
    NelvoProcess fifth;
    ASSERT_TRUE(fifth.start(exe, L"", root.file(L"second"), root.file(L"roaming2")));
    ASSERT_TRUE(fifth.ended_within(10000, &code));
    EXPECT_EQ(code, 0u);
    for (int i = 0; i < 100 && GetForegroundWindow() != window; i++) Sleep(20);
    EXPECT_EQ(GetForegroundWindow(), window);
    EXPECT_TRUE(first.running() && other.running());
    EXPECT_EQ(main_windows_of({first.pi.dwProcessId, second.pi.dwProcessId, third.pi.dwProcessId, fifth.pi.dwProcessId})
                  .size(),
              1u);
}

TEST(NelvoExe, StartsThatOverlapLoseNoFileAndLeaveOneWindow) {
    TempDir root;
    std::wstring exe = install_copy(root.file(L"app"));
    std::wstring music = working_folder_with_music(root.file(L"work"));
    write_shared_playlist(root.file(L"liste.m3u8"), L"XyZ_-12345a");
    write_shared_playlist(root.file(L"ikinci.m3u8"), L"Q9w8E7r6T5y");

    // A first start that holds the installation's name but has no window yet: the test
    // itself, owning the named mutex of that executable path and user.
    wchar_t long_exe[MAX_PATH], user[260], key[INSTANCE_KEY_CAPACITY];
    ASSERT_GT(GetLongPathNameW(exe.c_str(), long_exe, MAX_PATH), 0u);
    DWORD user_length = 260;
    ASSERT_TRUE(GetUserNameW(user, &user_length));
    instance_key(long_exe, user, key, INSTANCE_KEY_CAPACITY);
    HANDLE starting = CreateMutexW(nullptr, TRUE, (std::wstring(L"Local\\") + key + L"-running").c_str());
    ASSERT_NE(starting, nullptr);
    NelvoProcess waiting;
    ASSERT_TRUE(waiting.start(exe, L"\"" + root.file(L"liste.m3u8") + L"\"", root.file(L"work"), root.file(L"roaming")));
    Sleep(1500);
    EXPECT_TRUE(waiting.running()) << "a start gave up on a first that is still starting";
    EXPECT_TRUE(main_windows_of({waiting.pi.dwProcessId}).empty()) << "two windows for one installation";
    // That first ends without a window: the waiting start runs the window and keeps its file.
    ReleaseMutex(starting);
    CloseHandle(starting);
    EXPECT_NE(wait_for_main_window(waiting.pi.dwProcessId, 20000), nullptr);
    EXPECT_TRUE(downloaded_within(music, L"XyZ_-12345a", 20000)) << "the waiting start lost its file";

    // The running one dies; two starts at once: whichever comes first runs the window, the
    // other finds it gone or still starting and hands its files over.
    TerminateProcess(waiting.pi.hProcess, 1);
    WaitForSingleObject(waiting.pi.hProcess, 5000);
    NelvoProcess a, b;
    ASSERT_TRUE(a.start(exe, L"", root.file(L"work"), root.file(L"roaming")));
    ASSERT_TRUE(b.start(exe, L"\"" + root.file(L"ikinci.m3u8") + L"\"", root.file(L"work"), root.file(L"roaming")));
    DWORD code = 1234;
    DWORD start = GetTickCount();
    bool a_ended = false, b_ended = false;
    while (!a_ended && !b_ended && GetTickCount() - start < 20000) {
        a_ended = a.ended_within(0, &code);
        b_ended = b.ended_within(0, &code);
        Sleep(50);
    }
    ASSERT_TRUE(a_ended != b_ended) << "one of the two starts ends, the other stays";
    EXPECT_EQ(code, 0u);
    NelvoProcess& staying = a_ended ? b : a;
    EXPECT_NE(wait_for_main_window(staying.pi.dwProcessId, 20000), nullptr);
    EXPECT_TRUE(downloaded_within(music, L"Q9w8E7r6T5y", 20000)) << "the playlist was lost";
    EXPECT_EQ(main_windows_of({a.pi.dwProcessId, b.pi.dwProcessId}).size(), 1u);
}

// A second start with one audio file, as Explorer's "Open with" or a double-click makes it:
// the running window lists the file, shows it playing and plays it.
TEST(NelvoExe, ASecondStartWithAnAudioFilePlaysIt) {
    TempDir dir;
    std::wstring music = dir.path + L"\\M\u00fczikler";
    CreateDirectoryW(music.c_str(), nullptr);
    write_tone_wav(music + L"\\Bir.wav", {{440, 20000}});
    CreateDirectoryW(dir.file(L"indirilenler").c_str(), nullptr);
    write_tone_wav(dir.file(L"indirilenler\\Tek.wav"), {{770, 20000}});
    PeerInstallation first;
    ASSERT_TRUE(first.start(dir.path, built(L"nelvo_peer.exe", true), peer_friends_json("Ben#1111", "Ben"), 1, 1));
    ASSERT_TRUE(first.state_shows("tracks=1", 20000)) << first.ask("state");
    long long mark = audio_capture_size();
    NelvoProcess second;
    ASSERT_TRUE(second.start(dir.file(L"nelvo_peer.exe"), L"1 1 -- \"" + dir.file(L"indirilenler\\Tek.wav") + L"\"",
                             dir.file(L"indirilenler"), dir.file(L"roaming")));
    DWORD code = 1234;
    ASSERT_TRUE(second.ended_within(10000, &code)) << "the second start stays";
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(first.state_shows("tracks=2 playing=1", 10000)) << first.ask("state");
    EXPECT_TRUE(first.state_shows("current=Tek ", 1000)) << first.ask("state");
    ASSERT_TRUE(pump_until([&] { return audio_capture_since(mark).sound_ms >= 500; }, 10000));
    EXPECT_NEAR(audio_capture_since(mark).frequency, 770, 25);
    EXPECT_EQ(first.ask("quit"), "OK");
}

// Two runs of the program one after the other (the test build, in a folder of its own).
TEST(Resume, TheTrackAndItsPlaceComeBackPausedAfterARestart) {
    TempDir dir;
    std::wstring music = dir.path + L"\\M\u00fczikler";
    CreateDirectoryW(music.c_str(), nullptr);
    write_tone_wav(music + L"\\Bir.wav", {{440, 30000}});
    write_tone_wav(music + L"\\Iki.wav", {{660, 30000}});
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring peer = here;
    peer = peer.substr(0, peer.find_last_of(L'\\')) + L"\\nelvo_peer.exe";
    auto position = [](PeerInstallation& p) {
        std::string s = p.ask("state");
        size_t at = s.find(" position=");
        return at == std::string::npos ? -1 : atoi(s.c_str() + at + 10);
    };
    {
        PeerInstallation first;
        ASSERT_TRUE(first.start(dir.path, peer, peer_friends_json("Ben#1111", "Ben"), 1, 1));
        ASSERT_TRUE(first.state_shows("tracks=2", 20000)) << first.ask("state");
        EXPECT_EQ(first.ask("play Iki"), "OK");
        EXPECT_EQ(first.ask("seek 12000"), "OK");
        Sleep(300);
        EXPECT_EQ(first.ask("quit"), "OK");
        EXPECT_EQ(WaitForSingleObject(first.process.hProcess, 10000), WAIT_OBJECT_0);
    }
    long long mark = audio_capture_size();
    PeerInstallation second;
    ASSERT_TRUE(second.start(dir.path, peer, peer_friends_json("Ben#1111", "Ben"), 1, 1));
    ASSERT_TRUE(second.state_shows("current=Iki", 20000)) << second.ask("state");
    EXPECT_TRUE(second.state_shows("playing=0", 1000));
    Sleep(500);
    int at = position(second);
    EXPECT_GE(at, 12000);
    EXPECT_LT(at, 13500);
    EXPECT_EQ(audio_capture_since(mark).sound_ms, 0) << "no sound until play is pressed";
    mark = audio_capture_size();
    EXPECT_EQ(second.ask("pause"), "OK");  // the play button
    Sleep(1500);
    EXPECT_GT(position(second), at + 500);
    SoundReport heard = audio_capture_since(mark);
    EXPECT_GE(heard.sound_ms, 500);
    EXPECT_NEAR(heard.frequency, 660, 25);
    EXPECT_EQ(second.ask("quit"), "OK");
    EXPECT_EQ(WaitForSingleObject(second.process.hProcess, 10000), WAIT_OBJECT_0);

    // The remembered file is gone: the start is as without it.
    DeleteFileW((music + L"\\Iki.wav").c_str());
    PeerInstallation third;
    ASSERT_TRUE(third.start(dir.path, peer, peer_friends_json("Ben#1111", "Ben"), 1, 1));
    ASSERT_TRUE(third.state_shows("tracks=1", 20000)) << third.ask("state");
    EXPECT_TRUE(third.state_shows("current= notice", 1000)) << third.ask("state");
    EXPECT_EQ(third.ask("quit"), "OK");
}

//~ The window's place on a 1280 x 800 screen at 144 dpi with a 48-pixel taskbar

// The lowest row of the client, as the screen shows it, that crosses the play button's white
// disc: a run of white that no text makes. -1 when the screen shows none.
static int play_disc_row(HWND window) {
    int w = 0, h = 0;
    std::vector<unsigned> shown = screen_of(window, &w, &h);
    for (int y = h - 1; y >= 0; y--) {
        int run = 0;
        for (int x = 0; x < w; x++) {
            run = shown[(size_t)y * w + x] == 0xFFFFFF ? run + 1 : 0;
            if (run >= 40) return y;
        }
    }
    return -1;
}

static RECT window_rect(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

// A person's drag of the window's caption by (dx, dy), through the system's input queue.
static void drag_caption(HWND window, int dx, int dy) {
    RECT r = window_rect(window);
    POINT client = {0, 0};
    ClientToScreen(window, &client);
    POINT at = {(r.left + r.right) / 2, (r.top + client.y) / 2};
    ASSERT_EQ(SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y)), HTCAPTION);
    auto input = [](int x, int y, DWORD flags) {
        INPUT in = {};
        in.type = INPUT_MOUSE;
        in.mi.dx = (LONG)(((long long)x * 65536 + 32768) / GetSystemMetrics(SM_CXSCREEN));
        in.mi.dy = (LONG)(((long long)y * 65536 + 32768) / GetSystemMetrics(SM_CYSCREEN));
        in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        SendInput(1, &in, sizeof in);
        Sleep(60);
    };
    input(at.x, at.y, 0);
    input(at.x, at.y, MOUSEEVENTF_LEFTDOWN);
    for (int i = 1; i <= 4; i++) input(at.x + dx * i / 4, at.y + dy * i / 4, 0);
    input(at.x + dx, at.y + dy, MOUSEEVENTF_LEFTUP);
}

template <typename F>
static bool wait_until(F done, int ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if ((int)(GetTickCount() - start) > ms) return false;
        Sleep(50);
    }
    return true;
}

TEST(WindowFit, TheWindowFitsTheScreenAndComesBackWhereItWas) {
    if (!GetEnvironmentVariableW(L"NELVO_TEST_144DPI", nullptr, 0))
        GTEST_SKIP() << "needs a screen of its own at 144 dpi: tests/app/at_144dpi.sh";
    SetProcessDPIAware();  // the screen's pixels, as the program sees them
    TempDir root;
    std::wstring exe = install_copy(root.file(L"app"));
    working_folder_with_music(root.file(L"work"));
    auto start = [&](NelvoProcess& p) {
        EXPECT_TRUE(p.start(exe, L"", root.file(L"work"), root.file(L"roaming")));
        HWND window = wait_for_main_window(p.pi.dwProcessId, 20000);
        // Shown where it opens once the second stage of its start has run.
        if (window) {
            EXPECT_TRUE(wait_until([&] { return IsWindowVisible(window) && play_disc_row(window) >= 0; }, 10000));
        }
        return window;
    };
    auto close = [](NelvoProcess& p, HWND window) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 1234;
        EXPECT_TRUE(p.ended_within(15000, &code));
    };

    // The first start: 680 x 720 DIPs would be 1020 x 1080 pixels, higher than the screen.
    NelvoProcess first;
    HWND window = start(first);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window_dpi(window), 144);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
    RECT work = monitor.rcWork;
    ASSERT_EQ(work.bottom, 752) << "the screen's taskbar";
    RECT r = window_rect(window);
    EXPECT_TRUE(rect_inside(r, work)) << rect_text(r);
    EXPECT_EQ(r.right - r.left, 1020);
    // The player bar (104 DIPs, 156 pixels, at the client's bottom) shows on the screen.
    RECT client;
    GetClientRect(window, &client);
    int disc = play_disc_row(window);
    EXPECT_GE(disc, client.bottom - 156) << "the play button is not on the screen";
    POINT bottom = {0, client.bottom};
    ClientToScreen(window, &bottom);
    EXPECT_LE(bottom.y, work.bottom);

    // Dragged by its caption and then ended without closing: the drag's end was kept.
    drag_caption(window, -100, 0);
    RECT dragged = window_rect(window);
    EXPECT_EQ(dragged.left, r.left - 100) << rect_text(dragged);
    TerminateProcess(first.pi.hProcess, 1);
    WaitForSingleObject(first.pi.hProcess, 5000);
    NelvoProcess second;
    window = start(second);
    ASSERT_NE(window, nullptr);
    r = window_rect(window);
    EXPECT_TRUE(EqualRect(&r, &dragged)) << rect_text(r);

    // Moved and resized, then closed: it comes back there; maximized, it comes back
    // maximized, and restores to that place.
    RECT moved = {60, 0, 960, 752};
    SetWindowPos(window, nullptr, moved.left, moved.top, moved.right - moved.left, moved.bottom - moved.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    close(second, window);
    NelvoProcess third;
    window = start(third);
    ASSERT_NE(window, nullptr);
    r = window_rect(window);
    EXPECT_TRUE(EqualRect(&r, &moved)) << rect_text(r);
    SendMessageW(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    EXPECT_TRUE(IsZoomed(window));
    close(third, window);
    NelvoProcess fourth;
    window = start(fourth);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsZoomed(window));
    SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    r = window_rect(window);
    EXPECT_TRUE(EqualRect(&r, &moved)) << rect_text(r);
    close(fourth, window);
}

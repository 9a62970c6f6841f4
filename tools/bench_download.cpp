// How the main window keeps up while a download runs, with the yt-dlp.exe stand-in from
// the test build (build/tests) as the downloader.
//   1. A 30 s shared-playlist download: a heartbeat thread posts a message every 10 ms; the
//      delay from posting to handling, and the longest time any one message took to
//      handle, tell how long the window could not answer.
//   2. Downloads from the search window: time from the stand-in's last progress line (the
//      main window's progress message with 99) to the new track standing at the top.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "acquire/search_window.h"
#include "app/app_state.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/track_actions.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/track_list.h"
#include "net/mqtt.h"
#include "update/updater.h"
#include "bench_common.h"
#include "bench_window.h"
#include "program_home.h"

enum { MSG_HEARTBEAT = WM_APP + 999 };

static LARGE_INTEGER g_frequency;
static WNDPROC g_original;
static std::vector<double> g_heartbeat_ms;
static double g_slowest_ms;
static UINT g_slowest_message;
static double g_last_progress_at = -1;  // when the progress message with 99 arrived
static double g_top_at = -1;            // when the downloaded track stood at the top
static int g_count_before;  // tracks before the search-window download

static double now_ms(void) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)g_frequency.QuadPart;
}

static LRESULT CALLBACK measuring_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    double start = now_ms();
    if (message == MSG_HEARTBEAT) {
        g_heartbeat_ms.push_back(start - (double)wparam / 1000.0);
        return 0;
    }
    if (message == MSG_DOWNLOAD_PROGRESS && (int)wparam == 99) g_last_progress_at = start;
    LRESULT result = CallWindowProcW(g_original, window, message, wparam, lparam);
    double end = now_ms();
    if (end - start > g_slowest_ms) {
        g_slowest_ms = end - start;
        g_slowest_message = message;
    }
    if (message == MSG_DOWNLOAD_DONE && g_top_at < 0 && track_list_count() > g_count_before) {
        g_top_at = end;
    }
    return result;
}

static std::atomic<int> g_beating{1};

static DWORD WINAPI heartbeat(void* param) {
    HWND window = (HWND)param;
    while (g_beating.load()) {
        PostMessageW(window, MSG_HEARTBEAT, (WPARAM)(now_ms() * 1000.0), 0);
        Sleep(10);
    }
    return 0;
}

static void write_small_file(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(f, "RIFF", 4, &written, nullptr);
    CloseHandle(f);
}

int wmain(int argc, wchar_t** argv) {
    program_home_enter(L"bench-download");
    // The library size: rescans after each download grow with it.
    static int library = argc > 1 ? _wtoi(argv[1]) : 2000;
    QueryPerformanceFrequency(&g_frequency);
    // The stand-in lies with the tests; the real program finds yt-dlp.exe beside itself.
    wchar_t path[4096];
    GetEnvironmentVariableW(L"PATH", path, 4096);
    std::wstring new_path = module_folder() + L"\\tests;" + path;
    SetEnvironmentVariableW(L"PATH", new_path.c_str());

    std::wstring work = program_home_path() + L"\\download";
    CreateDirectoryW(work.c_str(), nullptr);
    SetCurrentDirectoryW(work.c_str());
    std::wstring music = work + L"\\music";
    CreateDirectoryW(music.c_str(), nullptr);
    // What an earlier run downloaded would change the count.
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((music + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((music + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    // A library, so that the rescans after a download cost what they would.
    for (int i = 0; i < library; i++) {
        wchar_t name[64];
        wstr_format(name, 64, L"\\Sanat\u00e7\u0131 %d - Par\u00e7a %d.wav", i % 97, i);
        write_small_file(music + name);
    }
    HWND window = open_bench_window(music.c_str(), L"");
    pump_until([] { return track_list_count() >= library; }, 60000);
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    g_original = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)measuring_proc);

    // 1. Thirty seconds of shared-playlist download.
    std::wstring list = work + L"\\slow.nelvo";
    HANDLE f = CreateFileW(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const char body[] = "#EXTM3U\r\n#EXTNELVO:YTID=slow0000001\r\n#EXTINF:-1,Slow One\r\nC:\\x\\slow.m4a\r\n";
    DWORD written = 0;
    WriteFile(f, body, sizeof body - 1, &written, nullptr);
    CloseHandle(f);
    HANDLE beat = CreateThread(nullptr, 0, heartbeat, window, 0, nullptr);
    pump_for(300);
    g_heartbeat_ms.clear();
    g_slowest_ms = 0;
    double start = now_ms();
    import_playlist(list.c_str());
    pump_until([] { return g_shared_queue.running.load() == 0; }, 120000);
    pump_for(500);
    double took = now_ms() - start;
    g_beating.store(0);
    WaitForSingleObject(beat, 1000);
    std::vector<double> beats = g_heartbeat_ms;
    std::sort(beats.begin(), beats.end());
    if (!beats.empty()) {
        printf("30 s download through the shared-playlist worker, %d-track library: %.1f s, %d tracks after it\n",
               library, took / 1000.0, track_list_count());
        printf("  heartbeat delay over %zu beats: median %.2f ms, 99th percentile %.2f ms, longest %.2f ms\n",
               beats.size(), beats[beats.size() / 2], beats[beats.size() * 99 / 100], beats.back());
        printf("  longest single message: %.2f ms (message 0x%X)\n", g_slowest_ms, g_slowest_message);
    }

    // 2. Five downloads from the search window, one per result. Covers are not fetched:
    // nothing listens on port 1, and the figure is about the download.
    search_set_thumbnail_base(L"http://127.0.0.1:1");
    open_search_window_with_query(window, music.c_str(), L"Bench Parca");
    HWND search = g_search.window.load();
    HWND results = GetDlgItem(search, 2005);
    if (!search || !pump_until([&] { return SendMessageW(results, LB_GETCOUNT, 0, 0) > 0; }, 20000)) {
        printf("search window: no results\n");
        return 1;
    }
    for (int round = 0; round < 5; round++) {
        g_last_progress_at = g_top_at = -1;
        SendMessageW(results, LB_SETCURSEL, (WPARAM)round, 0);
        wchar_t text[256] = L"";
        SendMessageW(results, LB_GETTEXT, (WPARAM)round, (LPARAM)text);
        g_count_before = track_list_count();
        SendMessageW(search, WM_COMMAND, MAKEWPARAM(2006, BN_CLICKED), (LPARAM)GetDlgItem(search, 2006));
        pump_until([] { return g_top_at >= 0; }, 30000);
        if (g_top_at < 0 || g_last_progress_at < 0) {
            printf("download %d: did not arrive\n", round + 1);
            continue;
        }
        printf("download %d (\"%ls\"): last progress line to the track at the top: %.1f ms (top: %ls)\n", round + 1,
               text, g_top_at - g_last_progress_at, track_list_at(0)->title);
        pump_for(300);
    }
    DestroyWindow(search);
    DestroyWindow(window);
    return 0;
}

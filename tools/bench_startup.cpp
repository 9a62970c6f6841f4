// Start-up, idle memory and idle CPU of the real main window.
//   bench_startup                 runs everything and prints the figures
//   bench_startup child N FOLDER  (internal) one measured start with FOLDER holding N tracks
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "net/mqtt.h"
#include "playback/player.h"
#include "update/updater.h"
#include "bench_common.h"
#include "bench_window.h"
#include "program_home.h"
#include "working_set_map.h"

static size_t working_set(void) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.WorkingSetSize;
}

static ULONGLONG filetime(FILETIME t) {
    return ((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

// Paints reach the window both from the queue and from UpdateWindow, so they are counted
// where every sent or dispatched message passes.
static long g_paints;
static long long g_painted_pixels;

static LRESULT CALLBACK count_paints(int code, WPARAM wparam, LPARAM lparam) {
    const CWPSTRUCT* m = (const CWPSTRUCT*)lparam;
    RECT update;
    if (code == HC_ACTION && m->message == WM_PAINT && GetUpdateRect(m->hwnd, &update, FALSE)) {
        g_paints++;
        g_painted_pixels += (long long)(update.right - update.left) * (update.bottom - update.top);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

static int child(int tracks, const wchar_t* folder, const wchar_t* play_file) {
    HWND window = open_bench_window(folder, L"bench");
    while (track_list_count() < tracks) pump_for(1);
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    printf("startup_ms %.1f\n", (double)(filetime(now) - filetime(created)) / 10000.0);
    SetForegroundWindow(window);
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    pump_for(3000);  // the idle trim timer fires and gives memory back
    printf("working_set %zu\n", working_set());
    print_working_set_map("idle_working_set_map");
    double before = process_cpu_ms(GetCurrentProcess());
    pump_for(10000);
    printf("idle_cpu_ms %.1f timer_running %d\n", process_cpu_ms(GetCurrentProcess()) - before, g_app.tick_period != 0);
    if (play_file && play_file[0]) {
        int index = track_list_add(play_file, 1);
        play_track(index, 0, 0, 0);
        pump_for(500);
        // The main thread's share is the program's own work (timers, repaints, trims); the
        // rest is the media player's threads and the transport's.
        FILETIME tc, te, tk, tu;
        GetThreadTimes(GetCurrentThread(), &tc, &te, &tk, &tu);
        double main_before = (double)(filetime(tk) + filetime(tu)) / 10000.0;
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof(pmc);
        GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
        DWORD faults_before = pmc.PageFaultCount;
        g_pump_counts = PumpCounts{};
        HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, count_paints, nullptr, GetCurrentThreadId());
        before = process_cpu_ms(GetCurrentProcess());
        pump_for(10000);
        if (hook) UnhookWindowsHookEx(hook);
        printf("playing_cpu_ms %.1f tick_period %d\n", process_cpu_ms(GetCurrentProcess()) - before, g_app.tick_period);
        GetThreadTimes(GetCurrentThread(), &tc, &te, &tk, &tu);
        GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
        printf("playing_main_thread_ms %.1f page_faults %lu\n", (double)(filetime(tk) + filetime(tu)) / 10000.0 - main_before,
               pmc.PageFaultCount - faults_before);
        RECT client;
        GetClientRect(window, &client);
        printf("playing_in_10_s: %ld ticks, %ld animation frames, %ld idle trims, %ld paints of %.1f%% of the window "
               "each on average\n",
               g_pump_counts.timers[1], g_pump_counts.timers[2], g_pump_counts.timers[3], g_paints,
               g_paints ? 100.0 * (double)g_painted_pixels / g_paints /
                                          ((double)client.right * client.bottom)
                                    : 0.0);
    }
    fflush(stdout);
    DestroyWindow(window);
    // The process is ended here: Wine crashes while tearing down a process that decoded media.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

static std::string run(const std::wstring& command, const std::wstring& cwd) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE read_end, write_end;
    CreatePipe(&read_end, &write_end, &sa, 0);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write_end;
    si.hStdError = write_end;
    PROCESS_INFORMATION pi = {};
    std::wstring line = command;
    std::string out;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &si, &pi)) {
        CloseHandle(write_end);
        char buf[512];
        DWORD got;
        while (ReadFile(read_end, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
        WaitForSingleObject(pi.hProcess, 60000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        CloseHandle(write_end);
    }
    CloseHandle(read_end);
    return out;
}

int wmain(int argc, wchar_t** argv) {
    // The measured child runs the program's code too: a home of its own as well.
    int is_child = argc >= 4 && !wcscmp(argv[1], L"child");
    program_home_enter(is_child ? L"bench-startup-child" : L"bench-startup");
    if (is_child) return child(_wtoi(argv[2]), argv[3], argc > 4 ? argv[4] : nullptr);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring root = program_home_path() + L"\\startup";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring play = root + L"\\long.wav";
    write_silent_wav(play, 60, 44100);
    const int sizes[] = {1000, 10000};
    double nelvo_playing = -1, nelvo_working_set = -1;
    for (int n : sizes) {
        std::wstring folder = root + L"\\music" + std::to_wstring(n);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (int i = 0; i < n; i++) {
            wchar_t name[260];
            wstr_format(name, 260, L"%ls\\mp3indirdur-artist-%d-song-title-%d [aB3dE5fG7hJ].mp3", folder.c_str(), i, i);
            HANDLE f = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        }
        std::wstring cmd = L"\"" + std::wstring(exe) + L"\" child " + std::to_wstring(n) + L" \"" + folder + L"\"";
        if (n == 1000) cmd += L" \"" + play + L"\"";
        std::string out = run(cmd, root);
        printf("== %d tracks\n%s", n, out.c_str());
        size_t at = out.find("playing_cpu_ms ");
        if (at != std::string::npos) nelvo_playing = atof(out.c_str() + at + 15);
        at = out.find("working_set ");
        if (n == 1000 && at != std::string::npos) nelvo_working_set = atof(out.c_str() + at + 12);
    }
    // The same file in a program that only plays it, in the same run.
    std::wstring player = exe;
    player = player.substr(0, player.rfind(L'\\')) + L"\\bare_player.exe";
    std::string bare_out = run(L"\"" + player + L"\" \"" + play + L"\"", root);
    printf("== bare player, the same file\n%s", bare_out.c_str());
    size_t at = bare_out.find("playing_cpu_ms ");
    double bare_playing = at == std::string::npos ? -1 : atof(bare_out.c_str() + at + 15);
    if (nelvo_playing > 0 && bare_playing > 0)
        printf("playing_cpu_ratio %.2f (Nelvo %.0f ms / bare %.0f ms in 10 s)\n", nelvo_playing / bare_playing,
               nelvo_playing, bare_playing);
    // The floor of the idle working set: a window of the same size that shows nothing, and one
    // that paints its client area (every window on screen does; Wine then gives it a surface).
    std::wstring bare = exe;
    bare = bare.substr(0, bare.rfind(L'\\')) + L"\\bare_window.exe";
    std::string bare_ws = run(L"\"" + bare + L"\"", root);
    std::string painted_ws = run(L"\"" + bare + L"\" paint", root);
    printf("== bare window\nworking_set %s== bare window that paints\nworking_set %s", bare_ws.c_str(), painted_ws.c_str());
    if (nelvo_working_set > 0 && atof(bare_ws.c_str()) > 0)
        printf("idle_working_set_ratio %.2f (Nelvo %.1f MB / bare window %.1f MB; %.2f against the one that paints)\n",
               nelvo_working_set / atof(bare_ws.c_str()), nelvo_working_set / 1048576.0,
               atof(bare_ws.c_str()) / 1048576.0, nelvo_working_set / atof(painted_ws.c_str()));
    return 0;
}

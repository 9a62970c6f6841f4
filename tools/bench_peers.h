#pragma once
// What the benchmarks that drive installations of the test build (tools/nelvo_peer.cpp)
// share: a clock, their folders, waiting for a state, and printing figures.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_common.h"
#include "program_home.h"
#include "peer_driver.h"

inline double now_ms(void) {
    static LARGE_INTEGER g_frequency;
    if (!g_frequency.QuadPart) QueryPerformanceFrequency(&g_frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)g_frequency.QuadPart;
}

// A folder inside the benchmark's home, which goes with it.
inline std::wstring temp_folder(const wchar_t* name) {
    std::wstring f = program_home_path() + L"\\" + name;
    CreateDirectoryW(f.c_str(), nullptr);
    return f;
}

inline std::wstring peer_exe(void) {
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring p = here;
    return p.substr(0, p.find_last_of(L'\\')) + L"\\tests\\nelvo_peer.exe";
}

// The time until the installation's state shows expected, polling every 2 ms; -1 when not
// within 20 s.
inline double wait_for(PeerInstallation* p, const char* expected, double from) {
    while (now_ms() - from < 20000) {
        if (p->ask("state").find(expected) != std::string::npos) return now_ms() - from;
        Sleep(2);
    }
    return -1;
}

inline void print_figures(const char* what, std::vector<double> v) {
    if (v.empty()) {
        printf("%-44s no result\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    printf("%-44s median %7.1f ms   min %7.1f   max %7.1f   (%d runs)\n", what, v[v.size() / 2], v.front(), v.back(),
           (int)v.size());
}


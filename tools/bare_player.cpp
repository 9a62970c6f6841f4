// The floor for the CPU Nelvo spends while playing: the same simple media player (mfplay)
// playing the same file, with a message loop and nothing else.
//   bare_player FILE     prints playing_cpu_ms over 10 s, after half a second of playing
#include <windows.h>
#include <mfplay.h>

#include <stdio.h>

#include "bench_common.h"

typedef HRESULT(WINAPI* CreatePlayerFn)(LPCWSTR, BOOL, DWORD, IMFPMediaPlayerCallback*, HWND, IMFPMediaPlayer**);

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fputs("usage: bare_player FILE\n", stderr);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE library = LoadLibraryW(L"mfplay.dll");
    CreatePlayerFn create = library ? (CreatePlayerFn)(void*)GetProcAddress(library, "MFPCreateMediaPlayer") : nullptr;
    IMFPMediaPlayer* player = nullptr;
    if (!create || FAILED(create(argv[1], TRUE, 0, nullptr, nullptr, &player)) || !player) {
        printf("playing_cpu_ms -1\n");
        return 1;
    }
    pump_for(500);
    double before = process_cpu_ms(GetCurrentProcess());
    pump_for(10000);
    printf("playing_cpu_ms %.1f\n", process_cpu_ms(GetCurrentProcess()) - before);
    fflush(stdout);
    // Wine crashes while tearing down a process that decoded media.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

#pragma once
// What the benchmark programs share: a message pump for a while, a process's CPU time, and
// a silent WAV to play.
#include <windows.h>

#include <string>

// The timer messages the pump dispatched, by id (1000..1007).
struct PumpCounts {
    long timers[8];
};
inline PumpCounts g_pump_counts;

// Dispatches the thread's messages for ms milliseconds.
inline void pump_for(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER && msg.wParam >= 1000 && msg.wParam < 1008) g_pump_counts.timers[msg.wParam - 1000]++;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Pumps until done() holds; false after ms.
template <typename F>
inline bool pump_until(F done, DWORD ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        pump_for(2);
    }
    return true;
}

// Kernel and user time of process so far, in ms.
inline double process_cpu_ms(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (double)(k.QuadPart + u.QuadPart) / 10000.0;
}

// seconds of silence, 16-bit mono at rate: what matters to the benchmarks is that it plays.
inline bool write_silent_wav(const std::wstring& path, int seconds, unsigned rate) {
    unsigned bytes = rate * 2 * (unsigned)seconds;
    std::string wav = "RIFF";
    auto u32 = [&](unsigned v) { wav.append((const char*)&v, 4); };
    auto u16 = [&](unsigned short v) { wav.append((const char*)&v, 2); };
    u32(36 + bytes);
    wav += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    wav += "data";
    u32(bytes);
    wav.append(bytes, '\0');
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(f, wav.data(), (DWORD)wav.size(), &written, nullptr);
    CloseHandle(f);
    return written == wav.size();
}

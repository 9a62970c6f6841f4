// A bare Win32 window program built the same way as Nelvo.exe, for comparing the idle
// working set: shows a window, trims its working set once idle, prints it and exits.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <string.h>

#include "working_set_map.h"

static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(w, m, wp, lp);
}

// With the argument "paint" the class has a background brush, so that the window paints its
// client area as every window on screen does.
int main(int argc, char** argv) {
    WNDCLASSW wc = {};
    if (argc > 1 && !strcmp(argv[1], "paint")) wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"BareWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowW(L"BareWindow", L"bare", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 680, 720, nullptr,
                           nullptr, wc.hInstance, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    UpdateWindow(w);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 2500) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
    SetProcessWorkingSetSize(GetCurrentProcess(), (SIZE_T)-1, (SIZE_T)-1);
    Sleep(200);
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("%zu\n", (size_t)pmc.WorkingSetSize);
    print_working_set_map("bare_working_set_map");
    DestroyWindow(w);
    return 0;
}

#pragma once
// Input as a person gives it: mouse and keyboard events through the system's input queue
// (SendInput), and what the screen then shows, read back from the screen itself. A test that
// typed with SetWindowTextW or clicked by sending messages would not see a box that is
// hidden, misplaced or covering something else.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "window_fixture.h"

// Puts the window in front with the keyboard, as a click on it would.
inline void bring_to_front(HWND window) {
    SetForegroundWindow(window);
    SetActiveWindow(window);
    pump(50);
}

// Moves the pointer to client point (x, y) of window.
inline void pointer_to(HWND window, int x, int y) {
    POINT p = {x, y};
    ClientToScreen(window, &p);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = (LONG)(((long long)p.x * 65536 + 32768) / GetSystemMetrics(SM_CXSCREEN));
    in.mi.dy = (LONG)(((long long)p.y * 65536 + 32768) / GetSystemMetrics(SM_CYSCREEN));
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
    pump(30);
}

inline void real_click(HWND window, int x, int y) {
    // Two clicks at one place within the double-click time are a double click, which
    // selects a word: a person's separate clicks are further apart.
    static DWORD last_tick = 0;
    static POINT last = {-1000, -1000};
    POINT p = {x, y};
    ClientToScreen(window, &p);
    DWORD wait = GetDoubleClickTime() + 50;
    if (abs(p.x - last.x) < 8 && abs(p.y - last.y) < 8 && GetTickCount() - last_tick < wait)
        pump((int)(wait - (GetTickCount() - last_tick)));
    pointer_to(window, x, y);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof in[0]);
    last_tick = GetTickCount();
    last = p;
    pump(80);
}

inline void real_click(HWND window, const RECT& r) { real_click(window, (r.left + r.right) / 2, (r.top + r.bottom) / 2); }

inline void real_wheel(HWND window, int x, int y, int notches) {
    pointer_to(window, x, y);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = MOUSEEVENTF_WHEEL;
    in.mi.mouseData = (DWORD)(-WHEEL_DELTA * notches);
    SendInput(1, &in, sizeof in);
    pump(80);
}

inline void real_key(WORD key) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = key;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof in[0]);
    pump(40);
}

// A key held with shift, as Shift+Home is typed.
inline void real_shifted_key(WORD key) {
    INPUT in[4] = {};
    for (INPUT& i : in) i.type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[3].ki.wVk = VK_SHIFT;
    in[1].ki.wVk = in[2].ki.wVk = key;
    in[2].ki.dwFlags = in[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, in, sizeof in[0]);
    pump(40);
}

inline void real_type(const std::wstring& text);

// What the focused one-line box holds, typed over.
inline void real_retype(const std::wstring& text) {
    real_key(VK_END);
    real_shifted_key(VK_HOME);
    real_key(VK_DELETE);
    if (!text.empty()) real_type(text);
}

inline void real_type(const std::wstring& text) {
    std::vector<INPUT> in;
    for (wchar_t c : text) {
        INPUT down = {};
        down.type = INPUT_KEYBOARD;
        down.ki.wScan = c;
        down.ki.dwFlags = KEYEVENTF_UNICODE;
        INPUT up = down;
        up.ki.dwFlags |= KEYEVENTF_KEYUP;
        in.push_back(down);
        in.push_back(up);
    }
    SendInput((UINT)in.size(), in.data(), sizeof(INPUT));
    pump(120);
}

// Answers the next message box of this thread with a key, as a person at the keyboard would:
// the box runs its own message loop, in which this thread timer still fires.
struct MessageBoxAnswer {
    static WORD key;
    UINT_PTR timer;
    explicit MessageBoxAnswer(WORD answer_key) {
        key = answer_key;
        timer = SetTimer(nullptr, 0, 150, answer);
    }
    ~MessageBoxAnswer() { KillTimer(nullptr, timer); }
    static void CALLBACK answer(HWND, UINT, UINT_PTR, DWORD) {
        HWND box = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM found) -> BOOL {
                wchar_t cls[16] = L"";
                GetClassNameW(w, cls, 16);
                if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(w)) return TRUE;
                *(HWND*)found = w;
                return FALSE;
            },
            (LPARAM)&box);
        if (!box) return;
        // The box has the keyboard once it is in front, as it would under a window manager.
        SetForegroundWindow(box);
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = key;
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof in[0]);
    }
};
inline WORD MessageBoxAnswer::key = VK_RETURN;

// The window's client area as the screen shows it now, 0x00RRGGBB by row.
inline std::vector<unsigned> screen_of(HWND window, int* width, int* height) {
    RECT c;
    GetClientRect(window, &c);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    *width = c.right;
    *height = c.bottom;
    std::vector<unsigned> out((size_t)c.right * c.bottom);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = c.right;
    bi.bmiHeader.biHeight = -c.bottom;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, c.right, c.bottom, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const unsigned* px = (const unsigned*)bits;
    for (size_t i = 0; i < out.size(); i++) out[i] = px[i] & 0xFFFFFFu;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return out;
}

// Where the screen shows something other than the frame the painter drew: the bounding
// box of the differing pixels (empty when the screen is the painted frame), and how many
// of them are bright (text in white on a dark field).
struct ScreenDifference {
    RECT box;
    int count;
    int bright;
};

// Pixels inside the search box's own control are left out: it always shows (its cue or its
// text), and is checked where it matters.
inline ScreenDifference screen_against_painter(HWND window, bool with_search_box = false) {
    pump(60);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    pump(60);
    int w = 0, h = 0;
    std::vector<unsigned> shown = screen_of(window, &w, &h);
    ScreenDifference d = {{0, 0, 0, 0}, 0, 0};
    RECT search = {0, 0, 0, 0};
    if (!with_search_box && g_app.search_box && IsWindowVisible(g_app.search_box)) {
        GetWindowRect(g_app.search_box, &search);
        MapWindowPoints(nullptr, window, (POINT*)&search, 2);
    }
    const BackBuffer& b = g_app.back_buffer;
    EXPECT_TRUE(b.pixels && b.width == w && b.height == h) << "the window paints through its back buffer";
    if (!b.pixels || b.width != w || b.height != h) return d;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            unsigned s = shown[(size_t)y * w + x], p = b.pixels[(size_t)y * w + x] & 0xFFFFFFu;
            if (s == p) continue;
            POINT at = {x, y};
            if (PtInRect(&search, at)) continue;
            if (d.count++ == 0) d.box = RECT{x, y, x + 1, y + 1};
            if (x < d.box.left) d.box.left = x;
            if (x >= d.box.right) d.box.right = x + 1;
            if (y >= d.box.bottom) d.box.bottom = y + 1;
            int r = (s >> 16) & 0xFF, g = (s >> 8) & 0xFF, bl = s & 0xFF;
            if (r > 160 && g > 160 && bl > 160) d.bright++;
        }
    }
    return d;
}

inline bool rect_inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

inline std::string rect_text(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

#pragma once
// A search window over a real main window, the stand-in downloader logging its starts,
// and the helpers that drive the window as a user would.
#include <windows.h>

#include <string>
#include <vector>

#include "acquire/search_window.h"
#include "acquire_support.h"
#include "app/window_fixture.h"
#include "base/messages.h"

struct SearchWindowTest : MainWindowTest {
    ArgumentLog log;

    void SetUp() override {
        MainWindowTest::SetUp();
        // Nothing listens on port 1: covers fail at once and never leave the machine.
        search_set_thumbnail_base(L"http://127.0.0.1:1");
        use_music_folder();
        open_window();
    }

    void TearDown() override {
        HWND search = g_search.window.load();
        if (search) DestroyWindow(search);
        // Threads of this test must not report into the next one's window.
        pump_until([] { return !g_search.searching.load() && !g_search.downloading.load() &&
                               !g_search.thumbnail_threads.load() && !g_search.updating.load(); },
                   60000);
        pump(20);
        search_set_thumbnail_base(nullptr);
        MainWindowTest::TearDown();
    }

    HWND open_search() {
        open_search_window(window, music.c_str());
        HWND search = g_search.window.load();
        EXPECT_NE(search, nullptr);
        pump(20);
        return search;
    }

    static std::wstring text_of(HWND control) {
        wchar_t buf[1024];
        GetWindowTextW(control, buf, 1024);
        return buf;
    }
    static std::wstring status() { return text_of(g_search.status_label); }
    // Whether the control shows, where the window lays it out.
    static bool shown_at(HWND control, RECT expected) {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, g_search.window.load(), (POINT*)&r, 2);
        return IsWindowVisible(control) && EqualRect(&r, &expected);
    }
    static SearchLayout layout() {
        RECT client;
        GetClientRect(g_search.window.load(), &client);
        return search_layout(client.right, client.bottom, g_search.dpi);
    }
    static std::wstring list_item(int i) {
        wchar_t buf[512] = L"";
        SendMessageW(g_search.list, LB_GETTEXT, (WPARAM)i, (LPARAM)buf);
        return buf;
    }
    static int list_count() { return (int)SendMessageW(g_search.list, LB_GETCOUNT, 0, 0); }

    static void press_enter() { SendMessageW(g_search.edit, WM_KEYDOWN, VK_RETURN, 0); }

    // Runs a search for text from the edit box and waits for its result.
    static bool search_for(const wchar_t* text) {
        SetWindowTextW(g_search.edit, text);
        press_enter();
        return wait_search();
    }
    static bool wait_search() {
        return pump_until([] { return !g_search.searching.load() && IsWindowEnabled(g_search.search_button); },
                          30000);
    }
    // Every cover load ended and its message was handled.
    static bool wait_covers() {
        bool ok = pump_until([] { return g_search.thumbnail_threads.load() == 0; }, 30000);
        MSG msg;
        ok = ok && pump_until([&] { return !PeekMessageW(&msg, nullptr, MSG_SEARCH_THUMB, MSG_SEARCH_THUMB, PM_NOREMOVE); },
                              5000);
        pump(10);
        return ok;
    }

    // A click on a row, as the mouse gives it, so that the list tells the window.
    static void click_row(int row, bool twice = false) {
        RECT r;
        SendMessageW(g_search.list, LB_GETITEMRECT, (WPARAM)row, (LPARAM)&r);
        LPARAM at = MAKELPARAM(r.left + 100, (r.top + r.bottom) / 2);
        SendMessageW(g_search.list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(g_search.list, WM_LBUTTONUP, 0, at);
        if (twice) {
            SendMessageW(g_search.list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
            SendMessageW(g_search.list, WM_LBUTTONUP, 0, at);
        }
    }

    // The argument lists the stand-in was started with, one per start, in UTF-8.
    std::vector<std::vector<std::string>> logged_starts() {
        std::vector<std::vector<std::string>> starts;
        bool differs = log.crt_differs();
        for (const std::vector<std::wstring>& argv : log.starts()) {
            std::vector<std::string> args;
            for (const std::wstring& arg : argv) args.push_back(utf8_of(arg));
            if (differs) args.push_back("CRT-DIFFERS");
            starts.push_back(args);
        }
        return starts;
    }
};

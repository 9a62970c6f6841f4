#pragma once
// A fresh main window per test, created in this process on the (virtual) display, with its
// own working folder (config.json) and APPDATA; and the helpers that drive it.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/library_scan.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "net/mqtt.h"
#include "social/identity.h"
#include "social/jam.h"
#include "test_support.h"
#include "update/updater.h"

inline void pump(int ms) {
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

#ifndef NELVO_PUMP_UNTIL
#define NELVO_PUMP_UNTIL
template <typename F>
bool pump_until(F done, int ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if ((int)(GetTickCount() - start) > ms) return false;
        pump(5);
    }
    return true;
}
#endif

inline std::wstring exe_folder() {
    wchar_t buf[260];
    program_folder(buf, 260);
    return buf;
}

// The main windows of the given processes now.
inline std::vector<HWND> main_windows_of(std::vector<DWORD> pids) {
    struct Search {
        std::vector<DWORD> pids;
        std::vector<HWND> found;
    } search = {pids, {}};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            Search* s = (Search*)p;
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            wchar_t cls[64] = L"";
            GetClassNameW(w, cls, 64);
            for (DWORD want : s->pids)
                if (pid == want && !wcscmp(cls, MAIN_WINDOW_CLASS)) s->found.push_back(w);
            return TRUE;
        },
        (LPARAM)&search);
    return search.found;
}

// The first main window of process pid, waited for; null after ms.
inline HWND wait_for_main_window(DWORD pid, int ms) {
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> found = main_windows_of({pid});
        if (!found.empty()) return found[0];
        if ((int)(GetTickCount() - start) > ms) return nullptr;
        Sleep(50);
    }
}

// The last painted frame as a bitmap beside the test run, for a person to look at.
inline void save_back_buffer(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    if (!GetEnvironmentVariableW(L"NELVO_TEST_ARTIFACTS", folder, MAX_PATH)) return;
    CreateDirectoryW(folder, nullptr);
    const BackBuffer& b = g_app.back_buffer;
    if (!b.pixels) return;
    std::wstring path = std::wstring(folder) + L"\\" + name + L".bmp";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD size = (DWORD)b.width * b.height * 4;
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(ih);
    fh.bfSize = fh.bfOffBits + size;
    ih.biSize = sizeof(ih);
    ih.biWidth = b.width;
    ih.biHeight = -b.height;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    DWORD written;
    WriteFile(f, &fh, sizeof(fh), &written, nullptr);
    WriteFile(f, &ih, sizeof(ih), &written, nullptr);
    WriteFile(f, b.pixels, size, &written, nullptr);
    CloseHandle(f);
}

// Each test gets its own working folder (config.json, and friends.json where the program
// keeps it beside itself) and APPDATA, and a fresh window.
struct MainWindowTest : ::testing::Test {
    TempDir work;
    std::wstring music;
    wchar_t old_dir[MAX_PATH];
    HWND window = nullptr;
    std::wstring command_line;

    static void SetUpTestSuite() { app_process_setup(); }

    void SetUp() override {
        GetCurrentDirectoryW(MAX_PATH, old_dir);
        ASSERT_TRUE(SetCurrentDirectoryW(work.path.c_str()));
        CreateDirectoryW(work.file(L"roaming").c_str(), nullptr);
        SetEnvironmentVariableW(L"APPDATA", work.file(L"roaming").c_str());
        identity_set_program_folder(work.path.c_str());
        music = work.file(L"music");
        CreateDirectoryW(music.c_str(), nullptr);
        app_state_init(&g_app);
        jam_reset();
        g_jam_wanted = JamWanted{};
        // The window starts the transport: both links go to a loopback port where no broker
        // listens, never to the public brokers.
        for (int i = 0; i < MQTT_LINK_COUNT; i++) mqtt_set_broker(i, "127.0.0.1", 1);
        update_set_server(L"");
    }

    void TearDown() override {
        if (window && IsWindow(window)) DestroyWindow(window);
        pump(20);
        identity_set_program_folder(nullptr);
        SetCurrentDirectoryW(old_dir);
    }

    void use_music_folder() {
        Settings s;
        settings_defaults(&s);
        wstr_copy(s.last_folder, music.c_str());
        save_settings(&s, CONFIG_FILE_NAME);
    }

    void open_window(int show = SW_SHOWNORMAL) {
        window = main_window_create(GetModuleHandleW(nullptr), show, command_line.c_str());
        ASSERT_NE(window, nullptr);
        // The second stage runs from the posted message, and the library arrives from the
        // scan worker.
        pump(50);
        wait_for_scan();
    }

    static void wait_for_scan() { EXPECT_TRUE(pump_until([] { return !library_scan_busy(); }, 10000)); }
};


// A real drop handle, as the shell builds it.
inline HDROP make_drop(const std::vector<std::wstring>& paths) {
    size_t chars = 1;
    for (const std::wstring& p : paths) chars += p.size() + 1;
    HGLOBAL mem = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    DROPFILES* df = (DROPFILES*)GlobalLock(mem);
    df->pFiles = sizeof(DROPFILES);
    df->fWide = TRUE;
    wchar_t* out = (wchar_t*)(df + 1);
    for (const std::wstring& p : paths) {
        wcscpy(out, p.c_str());
        out += p.size() + 1;
    }
    *out = 0;
    GlobalUnlock(mem);
    return (HDROP)mem;
}

// Closes any popup menu the window opens while it lives, the way a click elsewhere would:
// the menu's own message loop still runs thread timers.
struct MenuCloser {
    UINT_PTR timer;
    static void CALLBACK close_menu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }
    MenuCloser() { timer = SetTimer(nullptr, 0, 100, close_menu); }
    ~MenuCloser() { KillTimer(nullptr, timer); }
};


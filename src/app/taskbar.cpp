#include "app/taskbar.h"

#include <shobjidl.h>

#include "app/play_queue.h"
#include "base/wstr.h"
#include "ui/glyph_icon.h"

enum { ICON_PREVIOUS, ICON_PLAY, ICON_PAUSE, ICON_NEXT, ICON_COUNT };

static struct {
    UINT created_message;
    HWND window;
    ITaskbarList3* list;
    HICON icons[ICON_COUNT];
    int buttons;       // added to the thumbnail
    int playing;       // what the play/pause button shows
    int progress;      // what the button shows: -1 none
    int failed_calls;
} g_taskbar = {0, nullptr, nullptr, {}, 0, 0, -1, 0};

static int check(HRESULT hr) {
    if (FAILED(hr)) g_taskbar.failed_calls++;
    return SUCCEEDED(hr);
}

UINT taskbar_created_message(void) {
    if (!g_taskbar.created_message) g_taskbar.created_message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return g_taskbar.created_message;
}

static THUMBBUTTON button(UINT id, int icon, const wchar_t* tip) {
    THUMBBUTTON b = {};
    b.dwMask = (THUMBBUTTONMASK)(THB_ICON | THB_TOOLTIP | THB_FLAGS);
    b.iId = id;
    b.hIcon = g_taskbar.icons[icon];
    wstr_copy(b.szTip, tip);
    b.dwFlags = THBF_ENABLED;
    return b;
}

static THUMBBUTTON play_button(void) {
    return g_taskbar.playing ? button(THUMB_PLAY_PAUSE, ICON_PAUSE, L"Duraklat") : button(THUMB_PLAY_PAUSE, ICON_PLAY, L"Oynat");
}

static void apply_progress(void) {
    if (!g_taskbar.list) return;
    if (g_taskbar.progress < 0) {
        check(g_taskbar.list->SetProgressState(g_taskbar.window, TBPF_NOPROGRESS));
    } else {
        check(g_taskbar.list->SetProgressState(g_taskbar.window, TBPF_NORMAL));
        check(g_taskbar.list->SetProgressValue(g_taskbar.window, (ULONGLONG)g_taskbar.progress, 100));
    }
}

void on_taskbar_created(HWND window) {
    g_taskbar.window = window;
    if (!g_taskbar.list) {
        ITaskbarList3* list = nullptr;
        if (!check(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, (void**)&list)))
            return;
        if (!check(list->HrInit())) {
            list->Release();
            return;
        }
        g_taskbar.list = list;
    }
    if (!g_taskbar.icons[0]) {
        int size = GetSystemMetrics(SM_CXSMICON);
        static const wchar_t GLYPHS[ICON_COUNT] = {0xE892, 0xE768, 0xE769, 0xE893};
        for (int i = 0; i < ICON_COUNT; i++) g_taskbar.icons[i] = make_glyph_icon(GLYPHS[i], size > 0 ? size : 16);
    }
    // A new button (Explorer restarted) has no thumbnail buttons yet.
    THUMBBUTTON buttons[3] = {button(THUMB_PREVIOUS, ICON_PREVIOUS, L"\u00d6nceki"), play_button(),
                              button(THUMB_NEXT, ICON_NEXT, L"Sonraki")};
    g_taskbar.buttons = check(g_taskbar.list->ThumbBarAddButtons(window, 3, buttons));
    apply_progress();
}

void taskbar_show_playing(int playing) {
    playing = playing ? 1 : 0;
    if (playing == g_taskbar.playing) return;
    g_taskbar.playing = playing;
    if (!g_taskbar.list || !g_taskbar.buttons) return;
    THUMBBUTTON b = play_button();
    check(g_taskbar.list->ThumbBarUpdateButtons(g_taskbar.window, 1, &b));
}

void taskbar_show_progress(int percent) {
    if (percent > 100) percent = 100;
    if (percent < 0) percent = -1;
    if (percent == g_taskbar.progress) return;
    g_taskbar.progress = percent;
    apply_progress();
}

int on_thumb_button(WPARAM wparam) {
    if (HIWORD(wparam) != THBN_CLICKED) return 0;
    switch (LOWORD(wparam)) {
    case THUMB_PREVIOUS: play_previous(); return 1;
    case THUMB_PLAY_PAUSE: toggle_play(); return 1;
    case THUMB_NEXT: play_next(); return 1;
    }
    return 0;
}

void taskbar_release(void) {
    if (g_taskbar.list) g_taskbar.list->Release();
    g_taskbar.list = nullptr;
    g_taskbar.buttons = 0;
    for (HICON& icon : g_taskbar.icons) {
        if (icon) DestroyIcon(icon);
        icon = nullptr;
    }
}

int taskbar_failed_calls(void) { return g_taskbar.failed_calls; }

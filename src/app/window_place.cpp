#include "app/window_place.h"

#include <string.h>

#include "app/settings.h"
#include "ui/fonts.h"

//~ Decisions

static int clamp_between(int value, int low, int high) {
    if (value > high) value = high;
    return value < low ? low : value;
}

SIZE window_min_size(int dpi, RECT work) {
    if (dpi <= 0) dpi = 96;
    SIZE min = {MulDiv(WINDOW_MIN_WIDTH, dpi, 96), MulDiv(WINDOW_MIN_HEIGHT, dpi, 96)};
    int width = work.right - work.left, height = work.bottom - work.top;
    if (width > 0 && min.cx > width) min.cx = width;
    if (height > 0 && min.cy > height) min.cy = height;
    return min;
}

RECT window_start_rect(const SavedWindow* saved, RECT work, int dpi) {
    if (dpi <= 0) dpi = 96;
    if (saved && !saved->known) saved = nullptr;
    int work_width = work.right - work.left, work_height = work.bottom - work.top;
    int width = saved ? saved->width : MulDiv(WINDOW_FIRST_WIDTH, dpi, 96);
    int height = saved ? saved->height : MulDiv(WINDOW_FIRST_HEIGHT, dpi, 96);
    if (work_width > 0 && width > work_width) width = work_width;
    if (work_height > 0 && height > work_height) height = work_height;
    SIZE min = window_min_size(dpi, work);
    if (width < min.cx) width = min.cx;
    if (height < min.cy) height = min.cy;
    int x = saved ? saved->x : work.left + (work_width - width) / 2;
    int y = saved ? saved->y : work.top + (work_height - height) / 2;
    x = clamp_between(x, work.left, work.right - width);
    y = clamp_between(y, work.top, work.bottom - height);
    return RECT{x, y, x + width, y + height};
}

//~ The window

typedef HRESULT(WINAPI* GetDpiForMonitorFn)(HMONITOR, int, UINT*, UINT*);

// The monitor's own DPI where the system has one per monitor (Windows 8.1 and later), else
// the screen's.
static int monitor_dpi(HMONITOR monitor) {
    static GetDpiForMonitorFn get_dpi = [] {
        HMODULE shcore = LoadLibraryW(L"shcore.dll");
        return shcore ? (GetDpiForMonitorFn)(void*)GetProcAddress(shcore, "GetDpiForMonitor") : nullptr;
    }();
    UINT x = 0, y = 0;
    if (get_dpi && monitor && SUCCEEDED(get_dpi(monitor, 0, &x, &y)) && y > 0) return (int)y;  // 0: effective DPI
    return screen_dpi();
}

static RECT work_area_of(HMONITOR monitor) {
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (monitor && GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT work = {0, 0, 0, 0};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

RECT window_place_at_start(const Settings* s, int* maximized) {
    *maximized = 0;
    const SavedWindow* saved = s && s->window.known ? &s->window : nullptr;
    HMONITOR monitor = nullptr;
    if (saved) {
        RECT was = {saved->x, saved->y, saved->x + saved->width, saved->y + saved->height};
        // A monitor unplugged since, or a place off every screen, is no place to open at.
        monitor = MonitorFromRect(&was, MONITOR_DEFAULTTONULL);
        if (!monitor) saved = nullptr;
    }
    if (!monitor) monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    if (saved) *maximized = saved->maximized != 0;
    return window_start_rect(saved, work_area_of(monitor), monitor_dpi(monitor));
}

void window_place_min_track(HWND window, MINMAXINFO* info) {
    // Sizes of a window aware of each monitor's DPI are that monitor's pixels.
    SIZE min = window_min_size(window_dpi(window), work_area_of(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)));
    info->ptMinTrackSize.x = min.cx;
    info->ptMinTrackSize.y = min.cy;
}

// The place now: the last rectangle followed, and whether the window is (or, minimized,
// comes back) maximized.
static SavedWindow current_place(HWND window) {
    SavedWindow place = g_settings.window;
    RECT r = g_app.window_normal;
    if (r.right > r.left && r.bottom > r.top) {
        place.known = 1;
        place.x = r.left;
        place.y = r.top;
        place.width = r.right - r.left;
        place.height = r.bottom - r.top;
    }
    WINDOWPLACEMENT wp = {};
    wp.length = sizeof wp;
    if (IsZoomed(window)) place.maximized = 1;
    else if (IsIconic(window) && GetWindowPlacement(window, &wp)) place.maximized = (wp.flags & WPF_RESTORETOMAXIMIZED) != 0;
    else place.maximized = 0;
    return place;
}

void window_place_follow(HWND window) {
    if (IsIconic(window)) return;
    int maximized = IsZoomed(window) != 0;
    if (!maximized) GetWindowRect(window, &g_app.window_normal);
    // The moves of its creation come before the window shows where it was.
    if (g_app.window_placed && maximized != (g_settings.window.known && g_settings.window.maximized))
        window_place_save(window);
}

void window_place_save(HWND window) {
    SavedWindow place = current_place(window);
    if (!memcmp(&place, &g_settings.window, sizeof place)) return;
    g_settings.window = place;
    save_settings(&g_settings, CONFIG_FILE_NAME);
}

void window_place_note(HWND window) {
    g_settings.window = current_place(window);
}

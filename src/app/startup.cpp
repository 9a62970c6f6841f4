#include "app/startup.h"

#include "app/app_state.h"
#include "app/settings.h"
#include "library/folder_scan.h"
#include "library/track_list.h"

// A plain list of the titles until the custom-drawn window lands.
static void paint_track_titles(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH background = CreateSolidBrush(RGB(18, 18, 24));
    FillRect(dc, &client, background);
    DeleteObject(background);
    SetBkMode(dc, TRANSPARENT);
    HFONT font = CreateFontW(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                             L"Segoe UI");
    HGDIOBJ old_font = SelectObject(dc, font);
    int y = 16;
    for (int i = 0; i < track_list_count() && y < client.bottom; i++, y += 24) {
        SetTextColor(dc, RGB(235, 235, 245));
        RECT row = {20, y, client.right - 20, y + 24};
        DrawTextW(dc, track_list_at(i)->title, -1, &row, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    SelectObject(dc, old_font);
    DeleteObject(font);
    EndPaint(window, &ps);
}

static LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT:
        paint_track_titles(window);
        return 0;
    case WM_DESTROY:
        track_list_free();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

int app_run(HINSTANCE instance, const wchar_t*, int show) {
    app_state_init(&g_app);
    track_list_init();
    load_settings(&g_settings, CONFIG_FILE_NAME);
    wchar_t folder[260];
    resolve_music_folder(folder);
    scan_music_folder(folder);

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = main_window_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hIconSm = wc.hIcon;
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    if (!RegisterClassExW(&wc)) return 1;
    g_app.main_window = CreateWindowExW(0, MAIN_WINDOW_CLASS, L"NELVO", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 680, 720, nullptr, nullptr, instance, nullptr);
    if (!g_app.main_window) return 1;
    ShowWindow(g_app.main_window, show);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

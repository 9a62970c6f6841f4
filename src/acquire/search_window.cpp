// The search window: creation, its controls, the commands and the messages its worker
// threads post. Main thread only.
#include "acquire/search_window.h"

#include <windows.h>
#include <commctrl.h>
#include <dwmapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include <time.h>

#include "acquire/downloader.h"
#include "base/messages.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "ui/fonts.h"

SearchWindowState g_search;

static const wchar_t WINDOW_TITLE[] = L"NELVO \u2022 M\u00fczik Ara ve \u0130ndir";
static const wchar_t STATUS_HINT[] = L"\u015eark\u0131 veya sanat\u00e7\u0131 ad\u0131 yaz\u0131p Enter'a bas\u0131n.";
static const wchar_t STATUS_SEARCHING[] = L"YouTube taran\u0131yor...";
static const wchar_t STATUS_DONE[] = L"\u2713 Tamamland\u0131 (%100)! \u015eark\u0131 listenin en \u00fcst\u00fcne eklendi.";
static const wchar_t STATUS_FAILED[] = L"\u0130ndirme ba\u015far\u0131s\u0131z oldu. Tekrar deneyin.";

enum { EDIT_SUBCLASS_ID = 1, RESULT_ROW_HEIGHT = 60 };

// Dark frame and rounded corners; older mingw headers lack the names.
enum { DARK_MODE_ATTRIBUTE = 20, DARK_MODE_ATTRIBUTE_OLD = 19, CORNER_ATTRIBUTE = 33, CORNER_ROUND = 2 };

static LRESULT CALLBACK search_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

//~ Helpers

static int window_dpi_of(HWND window) {
    typedef UINT(WINAPI * GetDpiForWindowFn)(HWND);
    static GetDpiForWindowFn get_dpi = (GetDpiForWindowFn)(void*)GetProcAddress(GetModuleHandleW(L"user32.dll"),
                                                                                "GetDpiForWindow");
    if (get_dpi && window) {
        UINT dpi = get_dpi(window);
        if (dpi > 0) return (int)dpi;
    }
    return screen_dpi();
}

static int sc(int n) {
    return scale_at(n, g_search.dpi);
}

static int selected_row(void) {
    if (!g_search.list) return -1;
    int row = (int)SendMessageW(g_search.list, LB_GETCURSEL, 0, 0);
    return (row >= 0 && row < g_search.result_count) ? row : -1;
}

// What a search or a download says; it stays until the next one says something.
static void set_status(const wchar_t* text) {
    g_search.status_quiet = 0;
    if (g_search.status_label) SetWindowTextW(g_search.status_label, text);
}

// What only fills an otherwise idle status line, such as the self-update's outcome.
static void set_quiet_status(const wchar_t* text) {
    if (g_search.status_quiet && g_search.status_label) SetWindowTextW(g_search.status_label, text);
}

static void show_folder(void) {
    wchar_t text[300];
    wstr_format(text, 300, L"Klas\u00f6r: %ls", g_search.download_folder);
    if (g_search.folder_label) SetWindowTextW(g_search.folder_label, text);
}

static void release_thumbnails(void) {
    if (!g_search.results) return;
    for (int i = 0; i < SEARCH_MAX_ROWS; i++) {
        if (g_search.results[i].thumbnail) DeleteObject(g_search.results[i].thumbnail);
        g_search.results[i].thumbnail = nullptr;
    }
}

//~ Fonts

static int g_has_variable_text = -1;
static int g_has_fluent_icons;

static int CALLBACK note_found(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM flag) {
    *(int*)flag = 1;
    return 0;
}

static void probe_font_families(void) {
    if (g_has_variable_text >= 0) return;
    g_has_variable_text = 0;
    HDC dc = GetDC(nullptr);
    if (!dc) return;
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, L"Segoe UI Variable Text", LF_FACESIZE);
    EnumFontFamiliesExW(dc, &lf, note_found, (LPARAM)&g_has_variable_text, 0);
    lstrcpynW(lf.lfFaceName, L"Segoe Fluent Icons", LF_FACESIZE);
    EnumFontFamiliesExW(dc, &lf, note_found, (LPARAM)&g_has_fluent_icons, 0);
    ReleaseDC(nullptr, dc);
}

static HFONT make_font(int points, int weight, const wchar_t* face) {
    return CreateFontW(-MulDiv(points, g_search.dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

static void delete_window_fonts(void) {
    HFONT* fonts[] = {&g_search.body_font, &g_search.semibold_font, &g_search.small_font, &g_search.icon_font};
    for (HFONT* f : fonts) {
        if (*f) DeleteObject(*f);
        *f = nullptr;
    }
}

static void create_window_fonts(void) {
    probe_font_families();
    delete_window_fonts();
    const wchar_t* text = g_has_variable_text ? L"Segoe UI Variable Text" : L"Segoe UI";
    const wchar_t* icons = g_has_fluent_icons ? L"Segoe Fluent Icons" : L"Segoe MDL2 Assets";
    g_search.body_font = make_font(10, 400, text);
    g_search.semibold_font = make_font(10, 600, text);
    g_search.small_font = make_font(9, 400, text);
    g_search.icon_font = make_font(11, 400, icons);
}

static void apply_fonts_to_controls(void) {
    SendMessageW(g_search.edit, WM_SETFONT, (WPARAM)g_search.body_font, TRUE);
    SendMessageW(g_search.folder_label, WM_SETFONT, (WPARAM)g_search.small_font, TRUE);
    SendMessageW(g_search.status_label, WM_SETFONT, (WPARAM)g_search.small_font, TRUE);
    SendMessageW(g_search.list, LB_SETITEMHEIGHT, 0, sc(RESULT_ROW_HEIGHT));
}

//~ Layout

static void move_to(HWND control, RECT r) {
    if (control) MoveWindow(control, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

static void apply_layout(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    SearchLayout l = search_layout(client.right, client.bottom, g_search.dpi);
    move_to(g_search.edit, l.edit);
    move_to(g_search.search_button, l.search_button);
    move_to(g_search.folder_label, l.folder_label);
    move_to(g_search.folder_button, l.folder_button);
    move_to(g_search.list, l.list);
    move_to(g_search.status_label, g_search.downloader_missing ? l.status_label_short : l.status_label);
    move_to(g_search.open_folder_button, l.open_folder_button);
    move_to(g_search.download_button, l.download_button);
    InvalidateRect(window, nullptr, FALSE);
}

// The missing downloader's status comes with the way to the folder it belongs in; any
// later status takes both away.
static void show_downloader_missing(HWND window, int missing) {
    if (missing) set_status(DOWNLOADER_MISSING_TEXT);
    if (g_search.downloader_missing == missing) return;
    g_search.downloader_missing = missing;
    ShowWindow(g_search.open_folder_button, missing ? SW_SHOW : SW_HIDE);
    apply_layout(window);
}

static void open_program_folder(HWND window) {
    wchar_t folder[MAX_PATH];
    program_folder(folder, MAX_PATH);
    if (folder[0]) ShellExecuteW(window, L"open", folder, nullptr, nullptr, SW_SHOWNORMAL);
}

//~ Edit box

static void paste_one_line(HWND edit) {
    if (!OpenClipboard(edit)) return;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* text = data ? (const wchar_t*)GlobalLock(data) : nullptr;
    if (text) {
        size_t limit = GlobalSize(data) / sizeof(wchar_t);
        size_t length = wcsnlen(text, limit);
        wchar_t* copy = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t));
        if (copy) {
            wmemcpy(copy, text, length);
            copy[length] = 0;
            replace_line_breaks(copy);
            SendMessageW(edit, EM_REPLACESEL, TRUE, (LPARAM)copy);
            HeapFree(GetProcessHeap(), 0, copy);
        }
        GlobalUnlock(data);
    }
    CloseClipboard();
}

HMENU search_edit_menu(HWND edit) {
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    UINT selection = start != end ? 0 : MF_GRAYED;
    UINT paste = (IsClipboardFormatAvailable(CF_UNICODETEXT) || IsClipboardFormatAvailable(CF_TEXT)) ? 0 : MF_GRAYED;
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    AppendMenuW(menu, MF_STRING | selection, EDIT_MENU_CUT, L"Kes\tCtrl+X");
    AppendMenuW(menu, MF_STRING | selection, EDIT_MENU_COPY, L"Kopyala\tCtrl+C");
    AppendMenuW(menu, MF_STRING | paste, EDIT_MENU_PASTE, L"Yap\u0131\u015ft\u0131r\tCtrl+V");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, EDIT_MENU_SELECT_ALL, L"T\u00fcm\u00fcn\u00fc Se\u00e7\tCtrl+A");
    return menu;
}

void search_edit_command(HWND edit, int command) {
    switch (command) {
    case EDIT_MENU_CUT: SendMessageW(edit, WM_CUT, 0, 0); break;
    case EDIT_MENU_COPY: SendMessageW(edit, WM_COPY, 0, 0); break;
    case EDIT_MENU_PASTE: paste_one_line(edit); break;
    case EDIT_MENU_SELECT_ALL: SendMessageW(edit, EM_SETSEL, 0, -1); break;
    }
}

static void show_edit_menu(HWND edit, LPARAM where) {
    POINT p = {GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    if (where == (LPARAM)-1) {
        // Opened from the keyboard: under the box rather than wherever the mouse is.
        RECT r;
        GetWindowRect(edit, &r);
        p.x = r.left;
        p.y = r.bottom;
    }
    SetFocus(edit);
    HMENU menu = search_edit_menu(edit);
    if (!menu) return;
    int command = (int)TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, p.x, p.y, 0, edit, nullptr);
    DestroyMenu(menu);
    if (command) search_edit_command(edit, command);
}

static LRESULT CALLBACK edit_subclass_proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                           DWORD_PTR) {
    switch (message) {
    case WM_CHAR:
        // The control characters of the shortcuts below (and of Enter) would only beep.
        if (wparam == 1 || wparam == 3 || wparam == 22 || wparam == 24 || wparam == L'\r') return 0;
        break;
    case WM_KEYDOWN: {
        if (wparam == VK_RETURN) {
            SendMessageW(GetParent(edit), WM_COMMAND, MAKEWPARAM(ID_SEARCH_BUTTON, BN_CLICKED),
                         (LPARAM)g_search.search_button);
            return 0;
        }
        if (GetKeyState(VK_CONTROL) >= 0) break;
        int command = wparam == 'A' ? EDIT_MENU_SELECT_ALL
                      : wparam == 'C' ? EDIT_MENU_COPY
                      : wparam == 'X' ? EDIT_MENU_CUT
                      : wparam == 'V' ? EDIT_MENU_PASTE
                                      : 0;
        if (!command) break;
        search_edit_command(edit, command);
        return 0;
    }
    case WM_PASTE: paste_one_line(edit); return 0;
    case WM_CONTEXTMENU: show_edit_menu(edit, lparam); return 0;
    }
    return DefSubclassProc(edit, message, wparam, lparam);
}

//~ Commands

static void on_search_command(HWND window) {
    if (g_search.searching.load() || g_search.downloading.load()) return;
    wchar_t text[SEARCH_TEXT_CAPACITY];
    GetWindowTextW(g_search.edit, text, SEARCH_TEXT_CAPACITY);
    if (!text[0]) return;
    release_thumbnails();
    g_search.result_count = 0;
    g_search.generation.fetch_add(1);
    g_search.searching.store(1);
    g_search.last_percent.store(-1);
    EnableWindow(g_search.search_button, FALSE);
    EnableWindow(g_search.download_button, FALSE);
    SendMessageW(g_search.list, LB_RESETCONTENT, 0, 0);
    show_downloader_missing(window, 0);
    set_status(STATUS_SEARCHING);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    search_thread_start(text);
}

static void on_search_done(HWND window, SearchBatch* batch) {
    int missing = 0;
    int count = search_batch_take(batch, g_search.generation.load(), g_search.results, &missing);
    if (count < 0) {
        // A search that has since been replaced; the newer one reports for itself.
        InvalidateRect(g_search.search_button, nullptr, FALSE);
        return;
    }
    g_search.result_count = count;
    EnableWindow(g_search.search_button, TRUE);
    InvalidateRect(g_search.search_button, nullptr, FALSE);
    SendMessageW(g_search.list, LB_RESETCONTENT, 0, 0);
    if (missing) {
        show_downloader_missing(window, 1);
    } else {
        wchar_t status[160];
        search_status_text(count, status, 160);
        set_status(status);
    }
    if (count > 0) {
        for (int i = 0; i < count; i++) SendMessageW(g_search.list, LB_ADDSTRING, 0, (LPARAM)g_search.results[i].title);
        SendMessageW(g_search.list, LB_SETCURSEL, 0, 0);
        if (!g_search.downloading.load()) EnableWindow(g_search.download_button, TRUE);
        unsigned generation = g_search.generation.load();
        for (int i = 0; i < count; i++) thumbnail_thread_start(i, generation, g_search.results[i].video_id);
    }
    InvalidateRect(window, nullptr, FALSE);
}

static void on_thumbnail(HWND window, ThumbnailDelivery* delivery) {
    int row = thumbnail_delivery_take(delivery);
    if (row < 0) return;
    InvalidateRect(g_search.list, nullptr, FALSE);
    if (row == selected_row()) InvalidateRect(window, nullptr, FALSE);
}

static void on_selection_change(HWND window) {
    if (!g_search.downloading.load()) {
        g_search.last_percent.store(-1);
        EnableWindow(g_search.download_button, selected_row() >= 0);
    }
    InvalidateRect(window, nullptr, FALSE);
}

static void on_download_command(HWND window) {
    int row = selected_row();
    if (row < 0 || g_search.downloading.load()) return;
    g_search.downloading.store(1);
    g_search.last_percent.store(0);
    wstr_copy(g_search.download_title, g_search.results[row].title);
    wstr_copy(g_search.download_target, g_search.download_folder);
    EnableWindow(g_search.download_button, FALSE);
    EnableWindow(g_search.search_button, FALSE);
    show_downloader_missing(window, 0);
    wchar_t status[400];
    download_status_text(0, g_search.download_title, status, 400);
    set_status(status);
    if (g_search.owner) PostMessageW(g_search.owner, MSG_DOWNLOAD_PROGRESS, 0, 0);
    if (!download_thread_start(g_search.owner, g_search.results[row].webpage_url, g_search.download_target)) {
        g_search.downloading.store(0);
        if (g_search.owner) PostMessageW(g_search.owner, MSG_DOWNLOAD_PROGRESS, (WPARAM)-1, 0);
        PostMessageW(window, MSG_SEARCH_DL_DONE, 0, 0);
    }
    InvalidateRect(window, nullptr, FALSE);
}

static void on_download_progress_message(HWND window, int percent) {
    wchar_t status[400];
    download_status_text(percent, g_search.download_title, status, 400);
    set_status(status);
    InvalidateRect(g_search.download_button, nullptr, FALSE);
    InvalidateRect(window, nullptr, FALSE);
}

// result: 1 success, 0 failure, DOWNLOADER_MISSING.
static void on_download_finished(HWND window, int result) {
    EnableWindow(g_search.search_button, TRUE);
    EnableWindow(g_search.download_button, selected_row() >= 0);
    if (result == 1) {
        g_search.last_percent.store(100);
        set_status(STATUS_DONE);
        if (g_search.owner) PostMessageW(g_search.owner, MSG_DOWNLOAD_DONE, 0, 0);
    } else if (result == DOWNLOADER_MISSING) {
        g_search.last_percent.store(-1);
        show_downloader_missing(window, 1);
    } else {
        g_search.last_percent.store(-1);
        set_status(STATUS_FAILED);
    }
    InvalidateRect(g_search.download_button, nullptr, FALSE);
    InvalidateRect(window, nullptr, FALSE);
}

static void on_update_done(DownloaderUpdateReport* report) {
    wchar_t version[DOWNLOADER_UPDATE_VERSION_CAPACITY];
    int outcome = update_report_take(report, version, DOWNLOADER_UPDATE_VERSION_CAPACITY);
    // Gone since the window looked: whatever a search says about it is the news.
    if (outcome == DOWNLOADER_MISSING) return;
    wchar_t text[160];
    update_status_text(outcome, version, text, 160);
    set_quiet_status(text);
}

static void choose_folder(HWND window) {
    BROWSEINFOW info = {};
    info.hwndOwner = window;
    info.lpszTitle = L"M\u00fcziklerin \u0130ndirilece\u011fi Klas\u00f6r\u00fc Se\u00e7in";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return;
    wchar_t path[MAX_PATH];
    if (SHGetPathFromIDListW(chosen, path)) {
        wstr_copy(g_search.download_folder, path);
        show_folder();
    }
    CoTaskMemFree(chosen);
}

static void on_command(HWND window, int id, int code) {
    switch (id) {
    case ID_SEARCH_BUTTON: on_search_command(window); break;
    case ID_FOLDER_BUTTON: choose_folder(window); break;
    case ID_DOWNLOAD_BUTTON: on_download_command(window); break;
    case ID_OPEN_FOLDER_BUTTON: open_program_folder(window); break;
    case ID_RESULT_LIST:
        if (code == LBN_DBLCLK) on_download_command(window);
        else if (code == LBN_SELCHANGE) on_selection_change(window);
        break;
    }
}

//~ Creation and destruction

static HWND make_control(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           (HMENU)(INT_PTR)id, GetModuleHandleW(nullptr), nullptr);
}

static int on_create(HWND window) {
    g_search.window.store(window);
    if (!g_search.results) {
        g_search.results = (SearchResult*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                    sizeof(SearchResult) * SEARCH_MAX_ROWS);
        if (!g_search.results) return -1;
    }
    g_search.result_count = 0;
    if (!g_search.downloading.load()) g_search.last_percent.store(-1);
    g_search.downloader_missing = 0;
    g_search.status_quiet = !g_search.downloading.load();
    g_search.dpi = window_dpi_of(window);

    BOOL dark = TRUE;
    if (FAILED(DwmSetWindowAttribute(window, DARK_MODE_ATTRIBUTE, &dark, sizeof dark))) {
        DwmSetWindowAttribute(window, DARK_MODE_ATTRIBUTE_OLD, &dark, sizeof dark);
    }
    int corners = CORNER_ROUND;
    DwmSetWindowAttribute(window, CORNER_ATTRIBUTE, &corners, sizeof corners);

    g_search.background_brush = CreateSolidBrush(RGB(5, 5, 5));
    g_search.edit_brush = CreateSolidBrush(RGB(24, 24, 24));
    g_search.panel_brush = CreateSolidBrush(RGB(16, 16, 16));
    create_window_fonts();

    g_search.edit = make_control(window, L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, ID_SEARCH_EDIT);
    g_search.search_button = make_control(window, L"BUTTON", L"Ara", BS_OWNERDRAW | WS_TABSTOP, ID_SEARCH_BUTTON);
    g_search.folder_label = make_control(window, L"STATIC", L"", SS_ENDELLIPSIS | SS_NOPREFIX, ID_FOLDER_LABEL);
    g_search.folder_button =
        make_control(window, L"BUTTON", L"Klas\u00f6r Se\u00e7", BS_OWNERDRAW | WS_TABSTOP, ID_FOLDER_BUTTON);
    g_search.list = make_control(window, L"LISTBOX", L"",
                                 WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                                     LBS_NOINTEGRALHEIGHT,
                                 ID_RESULT_LIST);
    g_search.status_label = make_control(window, L"STATIC", STATUS_HINT, SS_ENDELLIPSIS | SS_NOPREFIX, ID_STATUS_LABEL);
    g_search.download_button =
        make_control(window, L"BUTTON", L"\u0130ndir ve Ekle", BS_OWNERDRAW | WS_TABSTOP, ID_DOWNLOAD_BUTTON);
    g_search.open_folder_button =
        make_control(window, L"BUTTON", L"Klas\u00f6r\u00fc A\u00e7", BS_OWNERDRAW | WS_TABSTOP, ID_OPEN_FOLDER_BUTTON);
    if (!g_search.edit || !g_search.search_button || !g_search.folder_label || !g_search.folder_button ||
        !g_search.list || !g_search.status_label || !g_search.download_button || !g_search.open_folder_button) {
        return -1;
    }
    ShowWindow(g_search.open_folder_button, SW_HIDE);
    SendMessageW(g_search.edit, EM_SETCUEBANNER, TRUE, (LPARAM)L"\u015eark\u0131 veya sanat\u00e7\u0131 ara...");
    apply_fonts_to_controls();
    show_folder();
    SetWindowSubclass(g_search.edit, edit_subclass_proc, EDIT_SUBCLASS_ID, 0);
    EnableWindow(g_search.download_button, FALSE);
    apply_layout(window);
    SetFocus(g_search.edit);
    return 0;
}

// Posted records still queued for a window that goes are settled here: rows and pictures
// freed, and a finished download still announced to the main window.
static void settle_queued_messages(HWND window) {
    MSG msg;
    while (PeekMessageW(&msg, window, MSG_SEARCH_DONE, MSG_SEARCH_UPDATE_DONE, PM_REMOVE)) {
        if (msg.message == MSG_SEARCH_DONE) {
            search_batch_free((SearchBatch*)msg.lParam);
        } else if (msg.message == MSG_SEARCH_THUMB) {
            thumbnail_delivery_take((ThumbnailDelivery*)msg.lParam);
        } else if (msg.message == MSG_SEARCH_UPDATE_DONE) {
            wchar_t version[DOWNLOADER_UPDATE_VERSION_CAPACITY];
            update_report_take((DownloaderUpdateReport*)msg.lParam, version, DOWNLOADER_UPDATE_VERSION_CAPACITY);
        } else if (msg.message == MSG_SEARCH_DL_DONE && msg.wParam == 1 && g_search.owner) {
            PostMessageW(g_search.owner, MSG_DOWNLOAD_DONE, 0, 0);
        }
    }
}

static void on_destroy(HWND window) {
    g_search.search_cancel.store(1);
    g_search.generation.fetch_add(1);
    g_search.window.store(nullptr);
    if (g_search.edit) RemoveWindowSubclass(g_search.edit, edit_subclass_proc, EDIT_SUBCLASS_ID);
    release_thumbnails();
    settle_queued_messages(window);
    if (g_search.results) HeapFree(GetProcessHeap(), 0, g_search.results);
    g_search.results = nullptr;
    g_search.result_count = 0;
    search_release_paint_buffer();
    HBRUSH* brushes[] = {&g_search.background_brush, &g_search.edit_brush, &g_search.panel_brush};
    for (HBRUSH* b : brushes) {
        if (*b) DeleteObject(*b);
        *b = nullptr;
    }
    delete_window_fonts();
    g_search.edit = g_search.search_button = g_search.folder_label = g_search.folder_button = nullptr;
    g_search.list = g_search.status_label = g_search.download_button = g_search.open_folder_button = nullptr;
    g_search.downloader_missing = 0;
}

static void on_dpi_changed(HWND window, int dpi, const RECT* suggested) {
    g_search.dpi = dpi;
    create_window_fonts();
    apply_fonts_to_controls();
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    apply_layout(window);
}

static LRESULT on_control_color(UINT message, HDC dc) {
    if (message == WM_CTLCOLOREDIT) {
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkColor(dc, RGB(24, 24, 24));
        return (LRESULT)g_search.edit_brush;
    }
    if (message == WM_CTLCOLORLISTBOX) {
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkColor(dc, RGB(16, 16, 16));
        return (LRESULT)g_search.panel_brush;
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(161, 161, 170));
    return (LRESULT)g_search.background_brush;
}

static LRESULT CALLBACK search_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE: return on_create(window);
    case WM_SIZE: apply_layout(window); return 0;
    case WM_GETMINMAXINFO: {
        SIZE min = search_min_track_size(g_search.dpi > 0 ? g_search.dpi : window_dpi_of(window));
        ((MINMAXINFO*)lparam)->ptMinTrackSize.x = min.cx;
        ((MINMAXINFO*)lparam)->ptMinTrackSize.y = min.cy;
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: search_paint(window); return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC: return on_control_color(message, (HDC)wparam);
    case WM_MEASUREITEM: ((MEASUREITEMSTRUCT*)lparam)->itemHeight = sc(RESULT_ROW_HEIGHT); return TRUE;
    case WM_DRAWITEM: search_draw_item((const DRAWITEMSTRUCT*)lparam); return TRUE;
    case WM_COMMAND: on_command(window, LOWORD(wparam), HIWORD(wparam)); return 0;
    case WM_DPICHANGED: on_dpi_changed(window, HIWORD(wparam), (const RECT*)lparam); return 0;
    case MSG_SEARCH_DONE: on_search_done(window, (SearchBatch*)lparam); return 0;
    case MSG_SEARCH_THUMB: on_thumbnail(window, (ThumbnailDelivery*)lparam); return 0;
    case MSG_SEARCH_DL_PROGRESS: on_download_progress_message(window, (int)wparam); return 0;
    case MSG_SEARCH_DL_DONE: on_download_finished(window, (int)(INT_PTR)wparam); return 0;
    case MSG_SEARCH_UPDATE_DONE: on_update_done((DownloaderUpdateReport*)lparam); return 0;
    case WM_DESTROY: on_destroy(window); return 0;
    case WM_NCDESTROY: settle_queued_messages(window); break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

//~ Opening

static void register_window_class(HINSTANCE instance) {
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, SEARCH_WINDOW_CLASS, &existing)) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = search_window_proc;
    wc.hInstance = instance;
    wc.hIcon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                 GetSystemMetrics(SM_CYICON), 0);
    wc.hIconSm = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                   GetSystemMetrics(SM_CYSMICON), 0);
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    if (!wc.hIconSm) wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = SEARCH_WINDOW_CLASS;
    RegisterClassExW(&wc);
}

static void create_search_window(HWND owner, const wchar_t* music_folder) {
    g_search.owner = owner;
    // Reopened during a download, the window keeps showing the folder the user chose for it.
    if (!g_search.downloading.load()) {
        if (music_folder && music_folder[0]) {
            wstr_copy(g_search.download_folder, music_folder);
        } else {
            wchar_t current[MAX_PATH];
            DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
            wstr_copy(g_search.download_folder, (n > 0 && n < MAX_PATH) ? current : L"");
        }
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    register_window_class(instance);
    int dpi = window_dpi_of(owner);
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    RECT owner_rect;
    if (owner && GetWindowRect(owner, &owner_rect)) {
        x = owner_rect.left + scale_at(24, dpi);
        y = owner_rect.top + scale_at(24, dpi);
    }
    HWND window = CreateWindowExW(0, SEARCH_WINDOW_CLASS, WINDOW_TITLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN,
                                  x, y, scale_at(820, dpi), scale_at(530, dpi), owner, nullptr, instance,
                                  nullptr);
    if (!window) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(instance, SEARCH_WINDOW_CLASS, &wc)) {
        SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)wc.hIcon);
        SendMessageW(window, WM_SETICON, ICON_SMALL, (LPARAM)wc.hIconSm);
    }
}

// Starts the self-update for an open window when a week has passed since the last attempt
// and the downloader is there; the attempt counts from its start, so that one that fails
// is not tried again before the week is out.
static int start_due_update(long long* downloader_checked) {
    if (!downloader_checked || !g_search.window.load()) return 0;
    long long now = (long long)time(nullptr);
    if (!downloader_update_due(*downloader_checked, now) || !downloader_found()) return 0;
    if (!update_thread_start()) return 0;
    *downloader_checked = now;
    return 1;
}

int open_search_window(HWND owner, const wchar_t* music_folder, long long* downloader_checked) {
    HWND existing = g_search.window.load();
    if (existing) {
        if (IsIconic(existing)) ShowWindow(existing, SW_RESTORE);
        SetForegroundWindow(existing);
    } else {
        create_search_window(owner, music_folder);
    }
    return start_due_update(downloader_checked);
}

int open_search_window_with_query(HWND owner, const wchar_t* music_folder, const wchar_t* text,
                                  long long* downloader_checked) {
    int started = open_search_window(owner, music_folder, downloader_checked);
    HWND window = g_search.window.load();
    if (!text || !text[0] || !window) return started;
    SetWindowTextW(g_search.edit, text);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_SEARCH_BUTTON, BN_CLICKED), (LPARAM)g_search.search_button);
    return started;
}

void search_window_copy_download_folder(wchar_t* out, int capacity) {
    wstr_copy(out, capacity, g_search.download_folder);
}

void search_window_copy_last_download_folder(wchar_t* out, int capacity) {
    wstr_copy(out, capacity, g_search.download_target);
}

void search_window_copy_last_download_path(wchar_t* out, int capacity) {
    wstr_copy(out, capacity, g_search.download_path);
}

void search_window_copy_download_title(wchar_t* out, int capacity) {
    wstr_copy(out, capacity, g_search.download_title);
}

// The three edit controls of the main window (search, friend tag, display name): their
// placement, colours, keys, cue texts, and the search filter they drive.
#include <windows.h>
#include <commctrl.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "base/messages.h"
#include "base/wstr.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/list_geometry.h"

static const wchar_t* cue_of(int id) {
    if (id == ID_SEARCH_BOX) return L"Par\u00e7a ara...";
    if (id == ID_TAG_BOX) return L"Ornek#8421";
    if (id == ID_NAME_BOX) return L"Yeni ad\u0131n...";
    return nullptr;
}

// Set on an edit control that draws its cue itself (the common controls of version 6 do).
#define CUE_BY_SYSTEM_PROP L"NelvoCueBySystem"

// Where the system's edit control cannot show a cue, the grey hint of an empty, unfocused
// box is ours.
static void draw_cue(HWND edit, const wchar_t* cue) {
    if (!cue || GetPropW(edit, CUE_BY_SYSTEM_PROP) || GetWindowTextLengthW(edit) > 0 || GetFocus() == edit) return;
    HDC dc = GetDC(edit);
    if (!dc) return;
    RECT r;
    GetClientRect(edit, &r);
    r.left += LOWORD(SendMessageW(edit, EM_GETMARGINS, 0, 0));
    HGDIOBJ old = SelectObject(dc, g_fonts.body);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(113, 113, 122));
    DrawTextW(dc, cue, -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
}

static void search_box_key(HWND edit, WPARAM key) {
    HWND main = GetParent(edit);
    if (key == VK_RETURN) {
        if (g_app.filter.active && g_app.filter.filtered_count > 0) play_track(g_app.filter.filtered_indices[0], 0, 0, 0);
        SetFocus(main);
    } else {
        clear_search();
        SetFocus(main);
    }
}

static void tag_box_key(HWND edit, WPARAM key) {
    if (key == VK_RETURN) {
        send_friend_request_from_input();
        return;
    }
    open_sidebar(0);
    SetFocus(GetParent(edit));
}

static LRESULT CALLBACK edit_subclass_proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
    WNDPROC original = (WNDPROC)GetWindowLongPtrW(edit, GWLP_USERDATA);
    int id = GetDlgCtrlID(edit);
    switch (message) {
    case WM_KEYDOWN:
        if (wparam != VK_RETURN && wparam != VK_ESCAPE) break;
        if (id == ID_SEARCH_BOX) search_box_key(edit, wparam);
        else if (id == ID_TAG_BOX) tag_box_key(edit, wparam);
        else end_name_editing(wparam == VK_RETURN);
        return 0;
    case WM_CHAR:
        if (wparam == L'\r' || wparam == L'\n' || wparam == 27) return 0;  // no beep, no line
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
        LRESULT result = CallWindowProcW(original, edit, message, wparam, lparam);
        InvalidateRect(edit, nullptr, TRUE);
        HWND main = GetParent(edit);
        if (id == ID_SEARCH_BOX) InvalidateRect(main, &g_hit.search_box, FALSE);
        else InvalidateRect(main, nullptr, FALSE);
        if (id == ID_TAG_BOX) choose_tick_period();
        return result;
    }
    case WM_PAINT: {
        LRESULT result = CallWindowProcW(original, edit, message, wparam, lparam);
        draw_cue(edit, cue_of(id));
        return result;
    }
    case WM_NCDESTROY: RemovePropW(edit, CUE_BY_SYSTEM_PROP); break;
    }
    return CallWindowProcW(original, edit, message, wparam, lparam);
}

HWND create_edit_control(HWND parent, int id, DWORD style) {
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL | style, 0, 0, 0, 0, parent,
                                (HMENU)(INT_PTR)id, (HINSTANCE)GetWindowLongPtrW(parent, GWLP_HINSTANCE), nullptr);
    if (!edit) return nullptr;
    SendMessageW(edit, WM_SETFONT, (WPARAM)g_fonts.body, FALSE);
    // Shown while focused too (wParam TRUE), as long as the box is empty.
    if (SendMessageW(edit, EM_SETCUEBANNER, TRUE, (LPARAM)cue_of(id))) SetPropW(edit, CUE_BY_SYSTEM_PROP, (HANDLE)1);
    SetWindowLongPtrW(edit, GWLP_USERDATA, GetWindowLongPtrW(edit, GWLP_WNDPROC));
    SetWindowLongPtrW(edit, GWLP_WNDPROC, (LONG_PTR)edit_subclass_proc);
    return edit;
}

// Shows box at want (client coordinates), or hides it; a hidden box gives the keyboard back
// to the window, so that keystrokes never land in a control nobody sees. Moved only when it
// is elsewhere: a move repaints, and this runs after every paint.
static void put_box(HWND box, const RECT* want) {
    if (!box) return;
    // Its own flag, not IsWindowVisible: that is false for every box while the window is hidden.
    int visible = (GetWindowLongW(box, GWL_STYLE) & WS_VISIBLE) != 0;
    if (!want) {
        if (!visible) return;
        if (GetFocus() == box) SetFocus(g_app.main_window);
        ShowWindow(box, SW_HIDE);
        return;
    }
    RECT now;
    GetWindowRect(box, &now);
    MapWindowPoints(nullptr, g_app.main_window, (POINT*)&now, 2);
    if (!EqualRect(&now, want)) MoveWindow(box, want->left, want->top, want->right - want->left, want->bottom - want->top, TRUE);
    if (!visible) ShowWindow(box, SW_SHOWNA);
}

void layout_search_box(void) {
    if (!g_app.search_box || !g_app.main_window) return;
    RECT client;
    GetClientRect(g_app.main_window, &client);
    PixelRect p = search_edit_rect(client.right, g_app.dpi, g_app.filter.text[0] != 0);
    RECT r = {p.left, p.top, p.right, p.bottom};
    put_box(g_app.search_box, &r);
}

// The search box sits in its pill; the tag and name boxes sit in the fields the last
// painted frame drew for them, and show only while the friends panel is fully open and
// still. Called after every paint, so that whatever repaints (a tab, the mode, editing, the
// sidebar, the size, the DPI) moves them.
void place_edit_controls(void) {
    if (!g_app.main_window) return;
    layout_search_box();
    int settled = g_app.sidebar_open && g_app.sidebar_mode == 1 && g_app.sidebar_progress.value >= 0.96f &&
                  !g_app.sidebar_dragging;
    if (!settled && g_app.name_editing) {
        g_app.name_editing = 0;
        InvalidateRect(g_app.main_window, nullptr, FALSE);
    }
    RECT tag = g_hit.tag_box_frame;
    int tag_shown = settled && rect_has_area(&tag);
    if (tag_shown) {
        int height = scale(22);
        tag.left += scale(10);
        tag.right -= scale(10);
        tag.top += (tag.bottom - tag.top - height) / 2;
        tag.bottom = tag.top + height;
    }
    put_box(g_app.tag_box, tag_shown ? &tag : nullptr);
    RECT name = g_hit.name_box_frame;
    int name_shown = settled && g_app.name_editing && rect_has_area(&name);
    if (name_shown) InflateRect(&name, -scale(4), -scale(4));
    put_box(g_app.name_box, name_shown ? &name : nullptr);
}

LRESULT on_edit_color(HDC dc) {
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkColor(dc, RGB(24, 24, 24));
    return (LRESULT)g_app.edit_brush;
}

void on_search_changed(void) {
    wchar_t text[FILTER_TEXT_CAPACITY];
    GetWindowTextW(g_app.search_box, text, FILTER_TEXT_CAPACITY);
    int was_empty = g_app.filter.text[0] == 0;
    wstr_copy(g_app.filter.text, text);
    apply_new_filter();
    if (was_empty != (text[0] == 0)) layout_search_box();
}

void apply_filter(void) {
    rebuild_filter_rows();
    // The list changed under the filter: the view stays where it was, within the list.
    clamp_scroll_to_list();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
    choose_tick_period();
}

void apply_new_filter(void) {
    rebuild_filter_rows();
    // A new filter shows its list from the top.
    g_app.scroll_offset = {0, 0};
    g_app.scroll_target = 0;
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
    choose_tick_period();
}

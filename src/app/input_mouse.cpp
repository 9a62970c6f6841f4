// The mouse over the main window: presses on the painted elements and rows, the five drags
// (seek bar, volume, row reorder, sidebar swipe, scroll thumb), hover and the wheel.
#include <windows.h>
#include <windowsx.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "acquire/search_window.h"
#include "app/app_state.h"
#include "app/library_scan.h"
#include "app/list_indices.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "app/track_actions.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "social/friends.h"
#include "social/jam.h"
#include "social/trust.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/hit_test.h"
#include "ui/list_geometry.h"
#include "ui/main_paint.h"
#include "ui/paint_parts.h"
#include "update/updater.h"

enum { SIDEBAR_WIDTH = 278, DRAG_THRESHOLD = 7, EDGE_ZONE = 14, MENU_TOP = 74, MENU_ITEM_HEIGHT = 52 };

static void note_press(HWND window) {
    g_app.last_input_tick = GetTickCount();
    SetTimer(window, TIMER_IDLE_TRIM, 1500, nullptr);
}

int sidebar_width_now(void) {
    float p = g_app.sidebar_progress.value;
    p = p < 0 ? 0 : (p > 1 ? 1 : p);
    return (int)lroundf((float)scale(SIDEBAR_WIDTH) * p);
}

// The sidebar covers the rest of the window once it is open or well on its way.
static int sidebar_covers(void) {
    return sidebar_width_now() > scale(12) && (g_app.sidebar_open || g_app.sidebar_progress.value > 0.2f);
}

static HitState hit_state_now(void) {
    HitState s;
    s.invitation_pending = jam_invitation_pending();
    s.filter_has_text = g_app.filter.text[0] != 0;
    s.sidebar_width = sidebar_width_now();
    s.sidebar_open = g_app.sidebar_open;
    s.sidebar_progress = g_app.sidebar_progress.value;
    s.friends_mode = g_app.sidebar_mode == 1;
    s.friends_tab = g_app.friends_tab;
    s.jam_active = jam_is_active();
    s.banner_shown = g_app.banner.state != BANNER_HIDDEN;
    s.banner_progress = g_app.banner_progress.value;
    s.header_height = scale(HEADER_HEIGHT);
    return s;
}

int element_at(POINT p) {
    HitState s = hit_state_now();
    return element_hit_test(g_hit.element, p, &s);
}

int track_at(HWND window, int x, int y) {
    RECT client;
    GetClientRect(window, &client);
    RowGeometry g = {current_list_top(), list_bottom(client.bottom, g_app.dpi), client.right,
                     g_app.scroll_offset.value, g_app.dpi};
    return row_at_point(&g, x, y, g_app.filter.filtered_indices, g_app.filter.filtered_count, g_app.filter.active,
                        track_list_count());
}

static int menu_item_at(int y) {
    if (y < scale(MENU_TOP)) return -1;
    int item = (y - scale(MENU_TOP)) / scale(MENU_ITEM_HEIGHT);
    return item < MENU_ROW_COUNT ? item : -1;
}

void clear_search(void) {
    g_app.filter.text[0] = 0;
    if (g_app.search_box) SetWindowTextW(g_app.search_box, L"");
    apply_new_filter();
    layout_search_box();
}

//~ Left button down

static void record_sidebar_press(int x) {
    g_app.sidebar_pressed = 1;
    g_app.sidebar_drag_start_x = x;
    g_app.sidebar_drag_last_x = x;
    g_app.sidebar_drag_start_progress = g_app.sidebar_progress.value;
    g_app.sidebar_drag_last_tick = GetTickCount();
    g_app.sidebar_velocity = 0;
}

static void scroll_thumb_to(int y) {
    RECT client;
    GetClientRect(g_app.main_window, &client);
    int track_top = current_list_top() + scale(FIRST_ROW_OFFSET);
    int track = client.bottom - (scale(CONTROL_BAR_HEIGHT) + scale(6)) - track_top;
    int thumb = g_hit.scroll_thumb.bottom - g_hit.scroll_thumb.top;
    if (thumb >= track) return;
    float f = (float)(y - track_top - g_app.scroll_grab_offset) / (float)(track - thumb);
    f = f < 0 ? 0 : (f > 1 ? 1 : f);
    int rows = g_app.filter.active ? g_app.filter.filtered_count : track_list_count();
    float limit = (float)max_scroll(rows, current_list_top(), list_bottom(client.bottom, g_app.dpi), g_app.dpi);
    g_app.scroll_offset.value = g_app.scroll_target = f * limit;
    g_app.scroll_offset.velocity = 0;
}

static void start_name_editing(void) {
    if (!g_app.name_box) return;
    g_app.name_editing = 1;
    SetWindowTextW(g_app.name_box, my_display_name());
    SendMessageW(g_app.name_box, EM_SETSEL, 0, -1);
    // Shown by the next paint, in the field drawn for it.
    SetFocus(g_app.name_box);
}

void end_name_editing(int commit) {
    if (commit && g_app.name_box) {
        wchar_t name[64];
        GetWindowTextW(g_app.name_box, name, 64);
        // Blanks, tabs and line ends around the name are typing noise.
        int start = 0, end = (int)wcslen(name);
        while (start < end && wcschr(L" \t\r\n", name[start])) start++;
        while (end > start && wcschr(L" \t\r\n", name[end - 1])) end--;
        name[end] = 0;
        if (name[start]) change_my_name(name + start);
    }
    g_app.name_editing = 0;
    if (g_app.main_window) {
        SetFocus(g_app.main_window);
        InvalidateRect(g_app.main_window, nullptr, FALSE);
    }
}

static void copy_tag_to_clipboard(HWND window) {
    const wchar_t* tag = my_user_tag();
    size_t bytes = (wcslen(tag) + 1) * sizeof(wchar_t);
    if (!OpenClipboard(window)) return;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* data = memory ? GlobalLock(memory) : nullptr;
    if (data) {
        memcpy(data, tag, bytes);
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    } else if (memory) {
        GlobalFree(memory);
    }
    CloseClipboard();
    g_app.tag_copied_tick = GetTickCount();
}

static void press_in_friends_panel(HWND window, int id, POINT p) {
    switch (id) {
    case ELEMENT_PANEL_BACK:
        if (g_app.name_editing) end_name_editing(0);
        g_app.sidebar_mode = 0;
        return;
    case ELEMENT_PANEL_REFRESH: presence_ping_all(); return;
    case ELEMENT_PANEL_COPY_TAG:
        if (g_app.name_editing) end_name_editing(0);
        else copy_tag_to_clipboard(window);
        return;
    case ELEMENT_PANEL_EDIT_NAME:
        if (g_app.name_editing) end_name_editing(1);
        else start_name_editing();
        return;
    case ELEMENT_TAB_FRIENDS: g_app.friends_tab = 0; presence_ping_all(); return;
    case ELEMENT_TAB_REQUESTS: g_app.friends_tab = 1; return;
    case ELEMENT_TAB_ADD:
        g_app.friends_tab = 2;
        g_app.friend_notice[0] = 0;
        if (g_app.tag_box) SetFocus(g_app.tag_box);
        return;
    case ELEMENT_SEND_REQUEST: send_friend_request_from_input(); return;
    }
    if (g_app.friends_tab == 0) {
        if (!jam_is_active() && rect_has_area(&g_hit.jam_start_card) && PtInRect(&g_hit.jam_start_card, p)) {
            jam_start_room();
            return;
        }
        for (int i = 0; i < FRIEND_ROWS_MAX; i++) {
            if (rect_has_area(&g_hit.friend_invite[i]) && PtInRect(&g_hit.friend_invite[i], p)) {
                const FriendEntry* f = friend_at(i);
                if (!f) return;
                if (!jam_is_member(f->tag)) {
                    jam_invite(f->tag, f->name);
                } else if (jam_state() == JAM_INVITING && jam_member_count() == 0) {
                    leave_jam_room();
                }
                return;
            }
            if (rect_has_area(&g_hit.friend_remove[i]) && PtInRect(&g_hit.friend_remove[i], p)) {
                const FriendEntry* f = friend_at(i);
                if (!f) return;
                wchar_t tag[USER_TAG_CAPACITY], question[160];
                wstr_copy(tag, f->tag);
                wstr_format(question, 160, L"%ls arkada\u015f listenden \u00e7\u0131kar\u0131ls\u0131n m\u0131?", f->name);
                if (MessageBoxW(window, question, L"Arkada\u015f\u0131 Kald\u0131r", MB_YESNO | MB_ICONQUESTION) != IDYES)
                    return;
                // The list may have changed while the box was open: the friend asked about
                // is found again by tag, and is gone already when no longer there.
                friend_remove(tag);
                return;
            }
        }
        // Elsewhere on a verified friend's row: his key card.
        for (int i = 0; i < FRIEND_ROWS_MAX; i++) {
            if (!rect_has_area(&g_hit.friend_row[i]) || !PtInRect(&g_hit.friend_row[i], p)) continue;
            const FriendEntry* f = friend_at(i);
            if (f && trust_friend_verified(f)) wstr_copy(g_app.friend_card_tag, f->tag);
            return;
        }
    } else if (g_app.friends_tab == 1) {
        for (int i = 0; i < REQUEST_ROWS_MAX; i++) {
            if (rect_has_area(&g_hit.request_accept[i]) && PtInRect(&g_hit.request_accept[i], p)) {
                const PendingEntry* e = pending_at(i);
                if (!e) return;
                // The question below runs a message loop in which the list may change: the request
                // is kept by tag.
                wchar_t tag[USER_TAG_CAPACITY];
                wstr_copy(tag, e->tag);
                g_settings.jam_keep_downloads = ask_keep_downloads(window);
                save_settings(&g_settings, CONFIG_FILE_NAME);
                friend_accept(tag);
                g_app.friends_tab = 0;
                return;
            }
            if (rect_has_area(&g_hit.request_reject[i]) && PtInRect(&g_hit.request_reject[i], p)) {
                const PendingEntry* e = pending_at(i);
                if (e) pending_remove(e->tag);
                return;
            }
        }
    }
}

// The key card lies over the panel: a press on it acts on the card alone (1); a press
// anywhere else closes it and then acts as it would without it (0).
static int press_on_friend_card(POINT p) {
    if (!g_app.friend_card_tag[0]) return 0;
    if (!PtInRect(&g_hit.friend_card, p)) {
        g_app.friend_card_tag[0] = 0;
        return 0;
    }
    if (PtInRect(&g_hit.friend_card_check, p)) toggle_key_checked(g_app.friend_card_tag);
    else if (PtInRect(&g_hit.friend_card_close, p)) g_app.friend_card_tag[0] = 0;
    return 1;
}

// A press on no element: the sidebar, the scrollbar or a row.
static void press_elsewhere(HWND window, int id, POINT p) {
    int width = sidebar_width_now();
    if ((g_app.sidebar_open || width > scale(EDGE_ZONE)) && p.y >= scale(HEADER_HEIGHT)) {
        if (p.x >= width) {
            open_sidebar(0);
            return;
        }
        record_sidebar_press(p.x);
        if (g_app.sidebar_mode == 1) press_in_friends_panel(window, id, p);
        else g_app.pressed_menu_item = menu_item_at(p.y);
        return;
    }
    if (!g_app.sidebar_open && p.x <= scale(EDGE_ZONE) && p.y >= scale(HEADER_HEIGHT)) {
        g_app.sidebar_mode = 0;
        record_sidebar_press(p.x);
    }
    if (rect_has_area(&g_hit.scroll_zone) && PtInRect(&g_hit.scroll_zone, p)) {
        RECT thumb = g_hit.scroll_thumb;
        if (rect_has_area(&thumb) && p.y >= thumb.top && p.y < thumb.bottom) {
            g_app.scroll_grab_offset = p.y - thumb.top;
        } else {
            g_app.scroll_grab_offset = (thumb.bottom - thumb.top) / 2;
            scroll_thumb_to(p.y);
        }
        g_app.scroll_dragging = 1;
        return;
    }
    int index = track_at(window, p.x, p.y);
    if (index < 0) return;
    RECT client;
    GetClientRect(window, &client);
    if (p.x >= client.right - scale(46)) {
        g_app.selected_index = index;
        POINT screen = p;
        ClientToScreen(window, &screen);
        open_context_menu(window, index, screen);
    } else if (g_app.multi_select_mode) {
        if (index < MULTI_SELECT_LIMIT) g_app.multi_selected[index] = !g_app.multi_selected[index];
        g_app.selected_index = index;
    } else {
        g_app.press_row = g_app.drag_row = g_app.drop_row = index;
        g_app.selected_index = index;
        g_app.press_point = p;
    }
}

// Set while the window gives the mouse back itself, when the capture change is no news.
static int g_releasing_capture;

void end_drags(HWND window) {
    int any = g_app.seek_dragging || g_app.volume_dragging || g_app.row_dragging || g_app.sidebar_dragging ||
              g_app.scroll_dragging || g_app.sidebar_pressed || g_app.press_row >= 0 || g_app.pressed_id ||
              g_app.pressed_menu_item >= 0;
    if (g_app.seek_dragging) seek_bar_cancel();
    if (g_app.volume_dragging) {
        g_app.volume_dragging = 0;
        save_settings(&g_settings, CONFIG_FILE_NAME);
    }
    g_app.row_dragging = 0;
    g_app.drag_row = g_app.drop_row = g_app.press_row = -1;
    g_app.scroll_dragging = 0;
    g_app.sidebar_pressed = 0;
    g_app.pressed_id = 0;
    g_app.pressed_menu_item = -1;
    if (g_app.sidebar_dragging) {
        g_app.sidebar_dragging = 0;
        open_sidebar(g_app.sidebar_progress.value >= 0.45f);
    }
    if (any) InvalidateRect(window, nullptr, FALSE);
}

void on_capture_changed(HWND window, HWND gaining) {
    if (g_releasing_capture || gaining == window) return;
    end_drags(window);
}

void on_left_button_down(HWND window, int x, int y) {
    note_press(window);
    // A drag whose release went elsewhere ends before the new press begins.
    end_drags(window);
    SetFocus(window);
    SetCapture(window);
    g_app.sidebar_pressed = 0;
    g_app.sidebar_dragging = 0;
    g_app.pressed_menu_item = -1;
    g_app.press_row = -1;
    POINT p = {x, y};
    if (press_on_friend_card(p)) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
        return;
    }
    int id = element_at(p);
    g_app.pressed_id = id;
    switch (id) {
    case ELEMENT_MENU:
        if (g_app.sidebar_open) {
            open_sidebar(0);
        } else {
            g_app.sidebar_mode = 0;
            open_sidebar(1);
        }
        break;
    case ELEMENT_FRIENDS:
        if (g_app.sidebar_open && g_app.sidebar_mode == 1) open_sidebar(0);
        else open_friends_panel();
        break;
    case ELEMENT_DOWNLOAD:
        // Opening may start the downloader's weekly self-update, whose time is kept.
        if (open_search_window(g_app.main_window, g_settings.last_folder, &g_settings.downloader_checked))
            save_settings(&g_settings, CONFIG_FILE_NAME);
        break;
    case ELEMENT_SEARCH_CLEAR: clear_search(); break;
    case ELEMENT_INVITE_JOIN:
        // Another room is left the way "Ayrıl" leaves it: its fetch, wanted track and
        // downloads end with it, so that nothing of it reaches the new room.
        if (jam_is_active() && jam_invitation_pending() && strcmp(g_jam.room_id, g_jam.invitation.room_id) != 0)
            leave_jam_room();
        jam_accept_invitation();
        presence_ping_all();
        start_animation();
        break;
    case ELEMENT_INVITE_CLOSE: jam_decline_invitation(); break;
    case ELEMENT_JAM_LEAVE:
        leave_jam_room();
        start_animation();
        break;
    case ELEMENT_JAM_DOWNLOAD:
        if (open_search_window_with_query(g_app.main_window, g_settings.last_folder, jam_notice_second_line(),
                                          &g_settings.downloader_checked))
            save_settings(&g_settings, CONFIG_FILE_NAME);
        break;
    case ELEMENT_BANNER_CANCEL: g_shared_queue.stop.exchange(1); break;
    case ELEMENT_SHUFFLE: toggle_shuffle(); break;
    case ELEMENT_PREVIOUS: play_previous(); break;
    case ELEMENT_PLAY: toggle_play(); break;
    case ELEMENT_NEXT: play_next(); break;
    case ELEMENT_REPEAT: cycle_repeat(); break;
    case ELEMENT_MUTE: toggle_mute(); break;
    case ELEMENT_SORT: choose_sort(g_settings.sort + 1); break;
    case ELEMENT_SEEK: seek_bar_press(x, g_hit.seek_left, g_hit.seek_right); break;
    case ELEMENT_VOLUME:
        g_app.volume_dragging = 1;
        volume_slider_drag(x, g_hit.volume_left, g_hit.volume_right);
        break;
    default: press_elsewhere(window, id, p); break;
    }
    if (g_app.main_window) {
        InvalidateRect(window, nullptr, FALSE);
        // Painted now, not when the queue empties: the edit boxes follow the frame, and
        // input already queued behind this press must find them where they are drawn.
        UpdateWindow(window);
    }
}

//~ Mouse move and hover

static void drag_sidebar(HWND window, int x) {
    float width = (float)scale(SIDEBAR_WIDTH);
    float p = g_app.sidebar_drag_start_progress + (float)(x - g_app.sidebar_drag_start_x) / width;
    g_app.sidebar_progress.value = p < 0 ? 0 : (p > 1 ? 1 : p);
    DWORD now = GetTickCount();
    if (now != g_app.sidebar_drag_last_tick) {
        float seconds = (float)(now - g_app.sidebar_drag_last_tick) / 1000.0f;
        float step = (float)(x - g_app.sidebar_drag_last_x) / width / seconds;
        g_app.sidebar_velocity = 0.35f * g_app.sidebar_velocity + 0.65f * step;
        g_app.sidebar_drag_last_x = x;
        g_app.sidebar_drag_last_tick = now;
    }
    InvalidateRect(window, nullptr, FALSE);
}

static void update_hover(HWND window, int x, int y) {
    POINT p = {x, y};
    int id = element_at(p);
    int covered = sidebar_covers();
    int over_scrollbar = !covered && rect_has_area(&g_hit.scroll_zone) && PtInRect(&g_hit.scroll_zone, p);
    int menu_item = -1;
    int width = sidebar_width_now();
    if (g_app.sidebar_mode == 0 && width > scale(24) && x < width) menu_item = menu_item_at(y);
    int row = covered || over_scrollbar ? -1 : track_at(window, x, y);
    if (id == g_app.hover_id && over_scrollbar == g_app.scrollbar_hover && menu_item == g_app.hover_menu_item &&
        row == g_app.hover_row)
        return;
    g_app.hover_id = id;
    g_app.scrollbar_hover = over_scrollbar;
    g_app.hover_menu_item = menu_item;
    g_app.hover_row = row;
    InvalidateRect(window, nullptr, FALSE);
}

void on_mouse_move(HWND window, int x, int y, WPARAM keys) {
    g_app.last_input_tick = GetTickCount();
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, window, 0};
    TrackMouseEvent(&track);
    if (keys & MK_LBUTTON) {
        if (g_app.sidebar_pressed && !g_app.sidebar_dragging &&
            abs(x - g_app.sidebar_drag_start_x) > scale(DRAG_THRESHOLD)) {
            g_app.sidebar_dragging = 1;
            g_app.pressed_menu_item = -1;
            g_app.press_row = -1;
        }
        if (g_app.sidebar_dragging) {
            drag_sidebar(window, x);
            return;
        }
        if (g_app.scroll_dragging) {
            scroll_thumb_to(y);
            InvalidateRect(window, nullptr, FALSE);
            return;
        }
        if (g_app.seek_dragging) {
            seek_bar_drag(x, g_hit.seek_left, g_hit.seek_right);
            return;
        }
        if (g_app.volume_dragging) {
            volume_slider_drag(x, g_hit.volume_left, g_hit.volume_right);
            return;
        }
        if (g_app.press_row >= 0 && !g_app.filter.active && !g_app.row_dragging &&
            abs(y - g_app.press_point.y) > scale(DRAG_THRESHOLD)) {
            g_app.row_dragging = 1;
            g_app.press_row = -1;
        }
        if (g_app.row_dragging) {
            int count = track_list_count();
            int drop = (y - current_list_top() - scale(FIRST_ROW_OFFSET) + (int)lroundf(g_app.scroll_offset.value)) /
                       scale(ROW_HEIGHT);
            drop = drop < 0 ? 0 : (drop > count - 1 ? count - 1 : drop);
            if (drop != g_app.drop_row) {
                g_app.drop_row = drop;
                InvalidateRect(window, nullptr, FALSE);
            }
            return;
        }
    }
    update_hover(window, x, y);
}

void on_mouse_leave(HWND window) {
    note_press(window);
    int any = g_app.hover_id || g_app.scrollbar_hover || g_app.hover_menu_item >= 0 || g_app.hover_row >= 0;
    g_app.hover_id = 0;
    g_app.scrollbar_hover = 0;
    g_app.hover_menu_item = -1;
    g_app.hover_row = -1;
    if (any) InvalidateRect(window, nullptr, FALSE);
}

//~ Left button up

static void clear_track_list(void) {
    library_scan_cancel_all();
    track_list_clear();
    stop_playback();
    g_app.current_index = -1;
    g_app.selected_index = -1;
    refresh_now_playing();
    clear_search();
}

static void run_menu_item(int item) {
    // Choosing the order leaves the sidebar open, so that the next click tries the next one.
    if (item != 2 && item != MENU_ROW_SORT) open_sidebar(0);
    switch (item) {
    case 0: choose_music_folder(); break;
    case 1:
        if (open_search_window(g_app.main_window, g_settings.last_folder, &g_settings.downloader_checked))
            save_settings(&g_settings, CONFIG_FILE_NAME);
        break;
    case 2: open_friends_panel(); break;
    case 3: import_playlist_from_dialog(); break;
    case 4: export_playlist(); break;
    case 5: clear_track_list(); break;
    case 6: start_update_check(g_app.main_window, 1); break;
    case MENU_ROW_SORT: choose_sort(g_settings.sort + 1); break;
    }
}

void on_left_button_double(HWND window, int x, int y) {
    on_left_button_down(window, x, y);
    // The first click of a double click already started this row.
    if (g_app.press_row >= 0 && g_app.press_row == g_app.current_index) g_app.press_row = -1;
}

void on_left_button_up(HWND window, int x, int y) {
    note_press(window);
    g_releasing_capture = 1;
    ReleaseCapture();
    g_releasing_capture = 0;
    int pressed_item = g_app.pressed_menu_item;
    int pressed_row = g_app.press_row;
    g_app.pressed_id = 0;
    g_app.pressed_menu_item = -1;
    g_app.press_row = -1;
    g_app.sidebar_pressed = 0;
    InvalidateRect(window, nullptr, FALSE);
    if (g_app.sidebar_dragging) {
        g_app.sidebar_dragging = 0;
        open_sidebar(g_app.sidebar_progress.value + 0.14f * g_app.sidebar_velocity >= 0.45f);
        return;
    }
    if (pressed_item >= 0 && g_app.sidebar_open && g_app.sidebar_mode == 0 && x < sidebar_width_now() &&
        menu_item_at(y) == pressed_item) {
        run_menu_item(pressed_item);
        return;
    }
    g_app.scroll_dragging = 0;
    if (g_app.seek_dragging) seek_bar_release(x, g_hit.seek_left, g_hit.seek_right);
    if (g_app.volume_dragging) {
        g_app.volume_dragging = 0;
        save_settings(&g_settings, CONFIG_FILE_NAME);
    }
    if (g_app.row_dragging) {
        int from = g_app.drag_row, to = g_app.drop_row, count = track_list_count();
        if (from >= 0 && to >= 0 && from < count && to < count && !g_app.filter.active && from != to) {
            track_list_move(from, to);
            ListIndices ix = {g_app.current_index, g_app.selected_index};
            indices_after_move(&ix, from, to);
            g_app.current_index = ix.current;
            g_app.selected_index = ix.selected;
        }
    } else if (pressed_row >= 0 && track_at(window, x, y) == pressed_row) {
        play_track(pressed_row, 0, 0, 0);
    }
    g_app.row_dragging = 0;
    g_app.drag_row = -1;
    g_app.drop_row = -1;
}

//~ Right button and wheel

void on_right_button_up(HWND window, int x, int y) {
    note_press(window);
    end_drags(window);
    if (g_app.sidebar_open || g_app.sidebar_progress.value >= 0.1f) return;
    int index = track_at(window, x, y);
    if (index < 0) return;
    g_app.selected_index = index;
    InvalidateRect(window, nullptr, FALSE);
    POINT screen = {x, y};
    ClientToScreen(window, &screen);
    open_context_menu(window, index, screen);
}

// The wheel over the friends panel scrolls the list of the tab shown, as far as the last
// frame said it goes.
static void scroll_panel_list(int delta) {
    if (g_app.sidebar_mode != 1 || (g_app.friends_tab != 0 && g_app.friends_tab != 1)) return;
    float* target = &g_app.panel_scroll_target[g_app.friends_tab];
    *target = wheel_scroll_target(*target, delta, (float)scale(60) * 1.5f, (float)g_hit.panel_list_max_scroll);
    start_animation();
}

void on_mouse_wheel(HWND window, int delta, int screen_x, int screen_y) {
    note_press(window);
    POINT p = {screen_x, screen_y};
    ScreenToClient(window, &p);
    RECT client;
    GetClientRect(window, &client);
    int bar_top = client.bottom - scale(CONTROL_BAR_HEIGHT);
    int over_sidebar = p.x < sidebar_width_now();
    if (over_sidebar && p.y >= scale(HEADER_HEIGHT)) {
        scroll_panel_list(delta);
        return;
    }
    if (p.y < bar_top) {
        if (over_sidebar) return;
        int rows = g_app.filter.active ? g_app.filter.filtered_count : track_list_count();
        float limit = (float)max_scroll(rows, current_list_top(), list_bottom(client.bottom, g_app.dpi), g_app.dpi);
        g_app.scroll_target = wheel_scroll_target(g_app.scroll_target, delta, (float)scale(ROW_HEIGHT) * 2.2f, limit);
        start_animation();
        return;
    }
    change_volume(delta < 1 ? -5 : +5);
}

// The keyboard, the media keys and files dropped on the main window.
#include <windows.h>
#include <shellapi.h>

#include <stdlib.h>

#include "app/app_state.h"
#include "app/given_files.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/track_actions.h"
#include "base/messages.h"
#include "library/folder_scan.h"
#include "library/track_list.h"

static void note_input(HWND window) {
    g_app.last_input_tick = GetTickCount();
    SetTimer(window, TIMER_IDLE_TRIM, 1500, nullptr);
}

static void select_and_show(int index) {
    if (index < 0) return;
    g_app.selected_index = index;
    scroll_into_view(index);
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

void on_key_down(HWND window, WPARAM key) {
    note_input(window);
    int ctrl = GetKeyState(VK_CONTROL) < 0;
    if (key == VK_ESCAPE && g_app.friend_card_tag[0]) {
        g_app.friend_card_tag[0] = 0;
        InvalidateRect(window, nullptr, FALSE);
        return;
    }
    if (key == VK_ESCAPE && g_app.sidebar_open) {
        open_sidebar(0);
        return;
    }
    if (ctrl) {
        if (key == 'F' && g_app.search_box) SetFocus(g_app.search_box);
        else if (key == 'S') toggle_shuffle();
        else if (key == 'R') cycle_repeat();
        return;
    }
    switch (key) {
    case VK_RETURN:
        if (track_list_at(g_app.selected_index)) play_track(g_app.selected_index, 0, 0, 0);
        return;
    case VK_ESCAPE:
        if (g_app.multi_select_mode) {
            g_app.multi_select_mode = 0;
            ZeroMemory(g_app.multi_selected, sizeof(g_app.multi_selected));
            InvalidateRect(window, nullptr, FALSE);
        }
        return;
    case VK_SPACE: toggle_play(); return;
    case VK_LEFT: seek_by_key(0); return;
    case VK_RIGHT: seek_by_key(1); return;
    case VK_UP: change_volume(+5); return;
    case VK_DOWN: change_volume(-5); return;
    case VK_DELETE: remove_selected_or_marked(); return;
    }
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'))
        select_and_show(track_list_find_by_initial((wchar_t)key, g_app.selected_index));
}

int on_app_command(LPARAM lparam) {
    switch (HIWORD(lparam) & 0x0FFF) {
    case APPCOMMAND_MEDIA_NEXTTRACK: play_next(); return 1;
    case APPCOMMAND_MEDIA_PREVIOUSTRACK: play_previous(); return 1;
    case APPCOMMAND_MEDIA_STOP: stop_playback(); return 1;
    case APPCOMMAND_MEDIA_PLAY_PAUSE: toggle_play_media_key(); return 1;
    }
    return 0;
}

void on_drop_files(HWND window, HDROP drop) {
    note_input(window);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    typedef wchar_t DroppedPath[260];
    DroppedPath* names = (DroppedPath*)calloc(count ? count : 1, sizeof(DroppedPath));
    const wchar_t** paths = (const wchar_t**)calloc(count ? count : 1, sizeof(const wchar_t*));
    int taken = 0;
    for (UINT i = 0; names && paths && i < count; i++) {
        // A longer path would come back cut, naming some other file: it is skipped.
        if (DragQueryFileW(drop, i, nullptr, 0) >= 260) continue;
        if (DragQueryFileW(drop, i, names[taken], 260) == 0) continue;
        paths[taken] = names[taken];
        taken++;
    }
    DragFinish(drop);
    given_files_open(paths, taken, 1);
    free(paths);
    free(names);
}

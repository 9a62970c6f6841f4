// What the user does with tracks beyond the transport: the context menu and its commands,
// removing and deleting, choosing the music folder, importing and exporting playlists, the
// sidebar, and cleaning up what a Jam downloaded.
#include "app/track_actions.h"

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>

#include "acquire/fetch_workers.h"
#include "app/app_state.h"
#include "app/file_deletion.h"
#include "app/library_scan.h"
#include "app/library_watch.h"
#include "app/list_indices.h"
#include "app/main_window.h"
#include "app/music_folder.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/matching.h"
#include "library/playlist.h"
#include "library/track_list.h"
#include "library/track_order.h"
#include "playback/player.h"
#include "social/friends.h"

static void invalidate_all(void) {
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

//~ Removing tracks

void remove_track_at(int index, int close_file) {
    if (index < 0 || index >= track_list_count()) return;
    ListIndices ix = {g_app.current_index, g_app.selected_index};
    // The track prepared to follow holds its file open too.
    const Track* t = track_list_at(index);
    if (close_file && t && !wcscmp(t->path, player_prepared_path())) player_forget_prepared();
    track_list_remove(index);
    // The marks of multi-selection follow their tracks too.
    if (index < MULTI_SELECT_LIMIT)
        memmove(&g_app.multi_selected[index], &g_app.multi_selected[index + 1], MULTI_SELECT_LIMIT - index - 1);
    g_app.multi_selected[MULTI_SELECT_LIMIT - 1] = 0;
    if (indices_after_remove(&ix, index, track_list_count())) {
        stop_playback();
        if (close_file) player_close();
    }
    g_app.current_index = ix.current;
    g_app.selected_index = ix.selected;
}

void after_tracks_removed(void) {
    int count = track_list_count();
    if (g_app.selected_index >= count) g_app.selected_index = count - 1;
    refresh_now_playing();
    apply_filter();
    invalidate_all();
}

void remove_selected_or_marked(void) {
    if (g_app.multi_select_mode) {
        for (int i = track_list_count() - 1; i >= 0; i--) {
            if (i >= MULTI_SELECT_LIMIT || !g_app.multi_selected[i]) continue;
            if (i == g_app.current_index) {
                stop_playback();
                g_app.current_index = -1;
            } else if (g_app.current_index > i) {
                g_app.current_index--;
            }
            track_list_remove(i);
        }
        g_app.multi_select_mode = 0;
        ZeroMemory(g_app.multi_selected, sizeof(g_app.multi_selected));
    } else if (track_list_at(g_app.selected_index)) {
        remove_track_at(g_app.selected_index, 0);
    }
    after_tracks_removed();
}

// While a menu or a box waits for the user, messages keep arriving: a track ends, a
// download lands, rows move. What the user chose is therefore carried by its path and found
// again afterwards; -1 when it is gone.
static int index_of_path(const wchar_t* path) {
    for (int i = 0; i < track_list_count(); i++)
        if (path_equal_nocase(track_list_at(i)->path, path)) return i;
    return -1;
}

static void delete_from_disk(HWND owner, int index) {
    const Track* t = track_list_at(index);
    if (!t || !t->path[0]) return;
    wchar_t path[260], question[384], title[TRACK_TEXT_CAPACITY];
    wstr_copy(path, t->path);
    track_full_title(t, title, TRACK_TEXT_CAPACITY);
    wstr_format(question, 384,
                L"\"%ls\" dosyas\u0131n\u0131 cihaz\u0131n\u0131zdan kal\u0131c\u0131 olarak silmek istiyor musunuz?",
                title);
    if (MessageBoxW(owner, question, L"Cihazdan Sil", MB_YESNO | MB_ICONWARNING) != IDYES) return;
    index = index_of_path(path);
    if (index >= 0) remove_track_at(index, 1);
    delete_file_soon(path);
    after_tracks_removed();
}

//~ The context menu

static void run_context_command(HWND owner, int command, int index) {
    const Track* t = track_list_at(index);
    if (!t) return;
    switch (command) {
    case CMD_PLAY_NOW: play_track(index, 0, 0, 0); break;
    case CMD_MULTI_SELECT:
        g_app.multi_select_mode = 1;
        ZeroMemory(g_app.multi_selected, sizeof(g_app.multi_selected));
        if (index < MULTI_SELECT_LIMIT) g_app.multi_selected[index] = 1;
        invalidate_all();
        break;
    case CMD_SHOW_IN_FOLDER:
        if (t->path[0]) {
            wchar_t parameters[292];
            wstr_format(parameters, 292, L"/select,\"%ls\"", t->path);
            ShellExecuteW(owner, L"open", L"explorer.exe", parameters, nullptr, SW_SHOWNORMAL);
        }
        break;
    case CMD_REMOVE_FROM_LIST:
        if (g_app.multi_select_mode) {
            remove_selected_or_marked();
        } else {
            remove_track_at(index, 0);
            after_tracks_removed();
        }
        break;
    case CMD_DELETE_FROM_DISK: delete_from_disk(owner, index); break;
    }
}

void open_context_menu(HWND owner, int index, POINT screen) {
    if (!track_list_at(index)) return;
    g_app.selected_index = index;
    invalidate_all();
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendMenuW(menu, MF_STRING, CMD_PLAY_NOW, L"\u015eimdi \u00c7al");
    AppendMenuW(menu, MF_STRING, CMD_MULTI_SELECT, L"Birden Fazla Se\u00e7");
    AppendMenuW(menu, MF_STRING, CMD_SHOW_IN_FOLDER, L"Dosya Konumunu A\u00e7");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, CMD_REMOVE_FROM_LIST, L"Listeden Kald\u0131r");
    AppendMenuW(menu, MF_STRING, CMD_DELETE_FROM_DISK, L"Cihazdan Sil");
    wchar_t path[260];
    wstr_copy(path, track_list_at(index)->path);
    int command = (int)TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD, screen.x, screen.y, 0, owner, nullptr);
    DestroyMenu(menu);
    if (command) run_context_command(owner, command, index_of_path(path));
}

int on_context_command(HWND owner, int command) {
    if (command < CMD_PLAY_NOW || command > CMD_MULTI_SELECT) return 0;
    run_context_command(owner, command, g_app.selected_index);
    return 1;
}

//~ The music folder

void use_music_folder(const wchar_t* folder) {
    wstr_copy(g_settings.last_folder, folder);
    save_settings(&g_settings, CONFIG_FILE_NAME);
    stop_playback();
    track_list_clear();
    // What the old folder's scan would still bring, and anything asked after it, belonged
    // to the list just cleared.
    library_scan_replace(g_settings.last_folder);
    library_watch_follow(g_settings.last_folder);
    g_app.current_index = -1;
    g_app.selected_index = -1;  // the first row once the scan has brought one
    g_app.scroll_offset = {0, 0};
    g_app.scroll_target = 0;
    apply_filter();
    refresh_now_playing();
    invalidate_all();
}

void choose_music_folder(void) {
    BROWSEINFOW bi = {};
    bi.hwndOwner = g_app.main_window;
    bi.lpszTitle = L"M\u00fczik Klas\u00f6r\u00fcn\u00fc Se\u00e7in";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&bi);
    if (!chosen) return;
    wchar_t folder[MAX_PATH];
    if (SHGetPathFromIDListW(chosen, folder)) use_music_folder(folder);
    CoTaskMemFree(chosen);
}

//~ Playlists

// Hands the missing tracks of an import to the shared-playlist worker's queue. Entries
// still waiting are not queued twice; returns the number waiting afterwards. Decided under
// the queue's lock, where the worker decides to end: while it runs it takes what is
// queued here; once it has ended (or while it stops) the entries wait for the next one.
int queue_wanted_tracks(SharedQueue* q, const WantedTrack* wanted, int count) {
    EnterCriticalSection(&q->lock);
    if (!q->running.load()) {
        // Entries queued during a stop may still wait for their worker: keep them.
        if (q->taken >= q->queued) q->queued = q->taken = q->done = q->total = 0;
    } else if (q->stop.load() && !q->queued_during_stop) {
        // The worker is being stopped and takes nothing more: what the stopped list had
        // left goes, and this list starts afresh for the worker started after it.
        q->queued = q->taken = q->done = q->total = 0;
        q->queued_during_stop = 1;
    }
    for (int i = 0; i < count && q->queued < SHARED_QUEUE_CAPACITY; i++) {
        const WantedTrack* w = &wanted[i];
        int duplicate = 0;
        for (int k = q->taken; k < q->queued && !duplicate; k++) {
            const WantedTrack* e = &q->entries[k];
            if (w->video_id[0] && !wcscmp(w->video_id, e->video_id)) duplicate = 1;
            else if (w->title[0] && CompareStringOrdinal(w->title, -1, e->title, -1, TRUE) == CSTR_EQUAL) duplicate = 1;
        }
        if (!duplicate) q->entries[q->queued++] = *w;
    }
    q->total = q->queued;
    int waiting = q->queued - q->taken;
    LeaveCriticalSection(&q->lock);
    return waiting;
}

int import_playlist(const wchar_t* path) {
    if (!path || !path[0]) return 0;
    // Matched against a library still being scanned, the playlist would fetch tracks the
    // user has: it waits for the scan.
    if (library_scan_busy()) {
        library_scan_then_import(path);
        return 1;
    }
    if (track_list_count() == 0) {
        wchar_t folder[260];
        resolve_music_folder(folder);
        wchar_t cache[MAX_PATH];
        tag_cache_file(cache, MAX_PATH);
        if (folder[0]) scan_music_folder_cached(folder, cache);
    }
    WantedTrack* wanted = (WantedTrack*)calloc(SHARED_QUEUE_CAPACITY, sizeof(WantedTrack));
    if (!wanted) return 0;
    int missing = 0;
    matching_cache_begin();
    int local = read_playlist_file(path, wanted, SHARED_QUEUE_CAPACITY, &missing);
    matching_cache_end();
    if (g_app.selected_index < 0 && track_list_count() > 0) g_app.selected_index = 0;
    apply_filter();
    if (missing > 0 && g_app.shared_queue_lock_ready) {
        int waiting = queue_wanted_tracks(&g_shared_queue, wanted, missing);
        if (waiting > 0) {
            wchar_t title[BANNER_TITLE_CAPACITY];
            wstr_format(title, BANNER_TITLE_CAPACITY,
                        L"PAYLA\u015eILAN L\u0130STE Y\u00dcKLEN\u0130YOR  \u2022  1 / %d Par\u00e7a",
                        g_shared_queue.total);
            wchar_t first[256];
            wstr_copy(first, wanted[0].title);
            wchar_t folder[260];
            if (resolve_music_folder(folder)) {
                banner_show(BANNER_SHARED, 0, title, first, 0);
                shared_fetch_resume(g_app.main_window, resolve_music_folder);
            } else {
                // Without a folder every download would fail unseen; the tracks wait in the
                // queue for the next import.
                banner_show(BANNER_SHARED, 0, L"\u26a0 M\u00dcZ\u0130K KLAS\u00d6R\u00dc OLU\u015eTURULAMADI",
                            L"Men\u00fcden bir m\u00fczik klas\u00f6r\u00fc se\u00e7in", 4000);
            }
            choose_tick_period();
        }
    } else if (missing == 0 && local > 0) {
        wchar_t subtitle[BANNER_SUBTITLE_CAPACITY];
        wstr_format(subtitle, BANNER_SUBTITLE_CAPACITY, L"%d par\u00e7a yerel kitapl\u0131\u011f\u0131n\u0131zdan an\u0131nda y\u00fcklendi",
                    local);
        banner_show(BANNER_SHARED, 100, L"\u2713 OYNATMA L\u0130STES\u0130 \u0130\u00c7E AKTARILDI", subtitle, 3000);
        choose_tick_period();
    }
    free(wanted);
    invalidate_all();
    return 1;
}

void import_playlist_from_dialog(void) {
    wchar_t file[260] = L"";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = g_app.main_window;
    ofn.lpstrTitle = L"Oynatma Listesini \u0130\u00e7e Aktar";
    ofn.lpstrFilter = L"Oynatma Listesi (*.m3u8;*.m3u;*.nelvo)\0*.m3u8;*.m3u;*.nelvo\0T\u00fcm Dosyalar (*.*)\0*.*\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = 260;
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (GetOpenFileNameW(&ofn)) import_playlist(file);
}

void export_playlist(void) {
    if (track_list_count() == 0) {
        MessageBoxW(g_app.main_window,
                    L"D\u0131\u015fa aktar\u0131lacak oynatma listesinde hen\u00fcz \u015fark\u0131 bulunmuyor.",
                    L"Oynatma Listesini D\u0131\u015fa Aktar", MB_OK | MB_ICONINFORMATION);
        return;
    }
    wchar_t file[260] = L"Nelvo_Listem.m3u8";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = g_app.main_window;
    ofn.lpstrTitle = L"Oynatma Listesini D\u0131\u015fa Aktar";
    ofn.lpstrFilter = L"Payla\u015f\u0131labilir Nelvo Listesi (*.m3u8)\0*.m3u8\0Nelvo Paket Listesi (*.nelvo)\0*.nelvo\0"
                      L"Standart Oynatma Listesi (*.m3u)\0*.m3u\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = 260;
    ofn.Flags = OFN_OVERWRITEPROMPT;
    ofn.lpstrDefExt = L"m3u8";
    if (!GetSaveFileNameW(&ofn)) return;
    if (!write_playlist_file(file)) {
        MessageBoxW(g_app.main_window,
                    L"Oynatma listesi kaydedilemedi.\nL\u00fctfen ba\u015fka bir konum se\u00e7ip tekrar deneyin.",
                    L"Oynatma Listesini D\u0131\u015fa Aktar", MB_OK | MB_ICONERROR);
        return;
    }
    banner_show(BANNER_SHARED, 100, L"\u2713 OYNATMA L\u0130STES\u0130 DI\u015eA AKTARILDI",
                L"Arkada\u015f\u0131n bu dosyay\u0131 i\u00e7e aktard\u0131\u011f\u0131nda \u015fark\u0131lar otomatik "
                L"indirilecek",
                3500);
    choose_tick_period();
    invalidate_all();
}

//~ The sidebar

void open_sidebar(int open) {
    g_app.sidebar_open = open ? 1 : 0;
    g_app.pressed_menu_item = -1;
    if (!g_app.window_active || g_app.window_minimized) g_app.sidebar_progress = {open ? 1.0f : 0.0f, 0};
    if (!open) {
        g_app.name_editing = 0;
        g_app.friend_card_tag[0] = 0;
    } else if (g_app.sidebar_mode == 1) {
        ensure_transport_started();
        presence_ping_all();
    }
    start_animation();
    invalidate_all();
}

void open_friends_panel(void) {
    ensure_transport_started();
    g_app.sidebar_mode = 1;
    g_app.sidebar_open = 1;
    g_app.pressed_menu_item = -1;
    if (!g_app.window_active || g_app.window_minimized) g_app.sidebar_progress = {1, 0};
    presence_ping_all();
    g_app.last_ping_tick = GetTickCount();
    start_animation();
    invalidate_all();
}

//~ Jam downloads

void delete_jam_downloads(void) {
    if (g_settings.jam_keep_downloads) return;
    for (int i = 0; i < g_app.jam_temp_file_count && i < JAM_TEMP_FILES_MAX; i++) {
        wchar_t* path = g_app.jam_temp_files[i];
        if (!path[0]) continue;
        for (int k = track_list_count() - 1; k >= 0; k--) {
            if (!path_equal_nocase(track_list_at(k)->path, path)) continue;
            // The rows after it move up; the playing and the focused row move with them, and
            // a download still playing stops first, so that its file can go.
            remove_track_at(k, 1);
            break;
        }
        delete_file_soon(path);
        path[0] = 0;
    }
    g_app.jam_temp_file_count = 0;
    int count = track_list_count();
    if (g_app.selected_index >= count) g_app.selected_index = count - 1;
    refresh_now_playing();
    apply_filter();
}

void choose_sort(int mode) {
    if (mode < 0 || mode >= SORT_MODES) mode = SORT_DISK;
    g_settings.sort = mode;
    save_settings(&g_settings, CONFIG_FILE_NAME);
    apply_filter();
    int keep = g_app.selected_index >= 0 ? g_app.selected_index : g_app.current_index;
    if (keep >= 0) scroll_into_view(keep);
    invalidate_all();
}

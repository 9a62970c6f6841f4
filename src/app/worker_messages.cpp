// What the main window does with the results the worker threads post, and the banner and
// filter services those handlers share.
#include <windows.h>

#include <stdlib.h>

#include "acquire/fetch_workers.h"
#include "acquire/search_window.h"
#include "app/app_state.h"
#include "app/library_scan.h"
#include "app/library_watch.h"
#include "app/list_indices.h"
#include "app/main_window.h"
#include "app/music_folder.h"
#include "app/settings.h"
#include "app/taskbar.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/text_case.h"
#include "library/track_list.h"
#include "social/jam.h"
#include "ui/fonts.h"
#include "ui/list_geometry.h"

//~ Banner and filter

void invalidate_banner(void) {
    if (!g_app.main_window) return;
    RECT r;
    GetClientRect(g_app.main_window, &r);
    r.top = scale(HEADER_HEIGHT);
    r.bottom = r.top + scale(JAM_BAR_PROGRESS_HEIGHT) + scale(BANNER_HEIGHT);
    InvalidateRect(g_app.main_window, &r, FALSE);
}

void banner_show(int state, int percent, const wchar_t* title, const wchar_t* subtitle, int hide_after_ms) {
    g_app.banner.state = state;
    g_app.banner.percent = percent;
    if (title) wstr_copy(g_app.banner.title, title);
    if (subtitle) wstr_copy(g_app.banner.subtitle, subtitle);
    g_app.banner.hide_at = hide_after_ms ? GetTickCount() + (DWORD)hide_after_ms : 0;
    if (!g_app.banner.hide_at && hide_after_ms) g_app.banner.hide_at = 1;  // 0 means "keep"
    // A download's progress on the taskbar button too, while it runs.
    int running = (state == BANNER_DOWNLOAD || state == BANNER_SHARED || state == BANNER_UPDATE) && !hide_after_ms;
    taskbar_show_progress(running ? percent : -1);
    start_animation();
    invalidate_banner();
}

// For a download whose file the downloader did not name: the whole folder is listed again,
// at once, since the caller looks for the download right after.
void rescan_music_folder(void) {
    if (!g_settings.last_folder[0]) return;
    wchar_t cache[MAX_PATH];
    tag_cache_file(cache, MAX_PATH);
    scan_music_folder_cached(g_settings.last_folder, cache);
    if (g_app.selected_index < 0 && track_list_count() > 0) g_app.selected_index = 0;
    apply_filter();
}

//~ Search-window downloads

void on_download_progress(int percent) {
    StatusBanner* b = &g_app.banner;
    if (percent < 0) {
        if (b->state == BANNER_DOWNLOAD && !b->hide_at) {
            b->state = BANNER_HIDDEN;
            taskbar_show_progress(-1);
            start_animation();
        }
        return;
    }
    if (b->state == BANNER_SHARED || b->state == BANNER_UPDATE) return;
    wchar_t title[256];
    search_window_copy_download_title(title, 256);
    banner_show(BANNER_DOWNLOAD, percent, L"M\u00dcZ\u0130K \u0130ND\u0130R\u0130L\u0130YOR",
                title[0] ? title : L"Y\u00fcksek kaliteli ses dosyas\u0131 haz\u0131rlan\u0131yor...", 0);
}

void on_download_done(void) {
    // Where the download went: the user may have picked another folder in the search
    // window since.
    wchar_t folder[260];
    search_window_copy_last_download_folder(folder, 260);
    if (folder[0]) {
        wstr_copy(g_settings.last_folder, folder);
        save_settings(&g_settings, CONFIG_FILE_NAME);
        library_watch_follow(g_settings.last_folder);
    }
    if (!g_settings.last_folder[0]) return;
    int before = track_list_count();
    // The file the downloader named is added by itself: a library of 100,000 tracks is not
    // listed again for one more. Only without a name is the folder rescanned.
    wchar_t path[260];
    search_window_copy_last_download_path(path, 260);
    // The folder's watch may have listed the file before this message came: it is still
    // this download's, and goes to the top as a new one.
    int listed_first = -1;
    if (path[0] && is_audio_file_in(path, g_settings.last_folder)) {
        int index = track_list_find_path(path);
        if (index >= 0 && library_watch_claim(path)) listed_first = index;
        else track_list_add(path, 1);
    } else {
        rescan_music_folder();
    }
    if (g_app.filter.active) clear_search();
    int added = track_list_count() - before;
    if (listed_first >= 0) {
        ListIndices ix = {g_app.current_index, g_app.selected_index};
        track_list_move(listed_first, 0);
        indices_after_move(&ix, listed_first, 0);
        g_app.current_index = ix.current;
    }
    if (added > 0 || listed_first >= 0) {
        // Each new track goes to the top in the order found, so the last one ends up first.
        for (int i = before; i < before + added; i++) track_list_move(i, 0);
        if (g_app.current_index >= 0) g_app.current_index += added;
        g_app.selected_index = 0;
        g_app.scroll_target = 0;
        if (g_app.banner.state == BANNER_HIDDEN || g_app.banner.state == BANNER_DOWNLOAD) {
            wchar_t title[TRACK_TEXT_CAPACITY];
            track_full_title(track_list_at(0), title, TRACK_TEXT_CAPACITY);
            banner_show(BANNER_DOWNLOAD, 100, L"\u2713 M\u00dcZ\u0130K \u0130ND\u0130R\u0130LD\u0130 (%100)", title,
                        2600);
            choose_tick_period();
        }
        start_animation();
        if (jam_in_room()) jam_on_download_done();
    }
    apply_filter();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

//~ Shared-playlist worker

void on_shared_progress(int percent, LPARAM wanted) {
    if (wanted) {
        WantedTrack* w = (WantedTrack*)wanted;
        wstr_copy(g_app.banner.subtitle, w->title);
        free(w);
    }
    int done = g_shared_queue.done, total = g_shared_queue.total;
    int shown = (done >= total && total >= 1) ? done : done + 1;
    wchar_t title[BANNER_TITLE_CAPACITY];
    wstr_format(title, BANNER_TITLE_CAPACITY, L"PAYLA\u015eILAN L\u0130STE Y\u00dcKLEN\u0130YOR  \u2022  %d / %d Par\u00e7a",
                shown, total);
    banner_show(BANNER_SHARED, percent, title, nullptr, 0);
    start_animation();
}

void on_shared_item_done(int result, wchar_t* path) {
    if (!result) {
        free(path);
        return;
    }
    g_shared_queue.done++;
    if (!g_settings.last_folder[0]) {
        free(path);
        return;
    }
    if (path && is_audio_file_in(path, g_settings.last_folder)) {
        int first = track_list_count();
        if (track_list_add(path, 1) >= first) {
            if (g_app.selected_index < 0) g_app.selected_index = 0;
            filter_tracks_appended(first);
        }
    } else {
        library_scan_folder(g_settings.last_folder);
    }
    free(path);
    clamp_scroll_to_list();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

void on_shared_finished(int fetched, int end) {
    // A track whose download was interrupted by the stop has no item message, yet its file
    // may have been finished.
    if (end == SHARED_END_STOPPED && g_settings.last_folder[0]) library_scan_folder(g_settings.last_folder);
    wchar_t subtitle[BANNER_SUBTITLE_CAPACITY];
    if (end == SHARED_END_MISSING) {
        // Nothing failed on its own account: the entries wait for the next import, and a
        // worker started now would end the same way.
        banner_show(BANNER_SHARED, g_app.banner.percent, L"\u0130ND\u0130R\u0130C\u0130 BULUNAMADI",
                    L"yt-dlp.exe'yi Nelvo.exe'nin yan\u0131na ya da PATH'teki bir klas\u00f6re koyun", 8000);
        choose_tick_period();
        if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
        return;
    }
    if (end == SHARED_END_STOPPED) {
        wstr_format(subtitle, BANNER_SUBTITLE_CAPACITY, L"%d par\u00e7a kitapl\u0131\u011f\u0131n\u0131za eklendi", fetched);
        banner_show(BANNER_SHARED, g_app.banner.percent, L"PAYLA\u015eILAN L\u0130STE \u0130ND\u0130RMES\u0130 DURDURULDU",
                    subtitle, 4000);
    } else {
        wstr_format(subtitle, BANNER_SUBTITLE_CAPACITY,
                    L"%d eksik par\u00e7a otomatik indirildi ve listeye eklendi", fetched);
        banner_show(BANNER_SHARED, 100, L"\u2713 PAYLA\u015eILAN OYNATMA L\u0130STES\u0130 HAZIR (%100)", subtitle, 4000);
    }
    choose_tick_period();
    // A list imported while this worker was being stopped waits for a worker of its own.
    if (g_app.shared_queue_lock_ready) shared_fetch_resume(g_app.main_window, resolve_music_folder);
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

void on_autofetch_progress(int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    g_jam_fetch.percent.store(percent);
    if (jam_in_room() && jam_notice_is_progress()) {
        wchar_t text[128];
        wstr_format(text, 128, L"\u26a1 Ortak \u015fark\u0131 indiriliyor (%%%d) \u2022 Canl\u0131 saniyeye e\u015fitlenecek",
                    percent);
        jam_set_notice(text, 1, nullptr);
    }
    // The Jam bar shows the percent, with or without the notice.
    if (g_app.main_window && jam_is_active()) {
        RECT r;
        GetClientRect(g_app.main_window, &r);
        r.top = scale(HEADER_HEIGHT);
        r.bottom = r.top + scale(JAM_BAR_PROGRESS_HEIGHT);
        InvalidateRect(g_app.main_window, &r, FALSE);
    }
}

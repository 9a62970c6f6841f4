// What the main window does when a track the Jam room plays arrives: by the Jam fetch, or
// by a download the user started from the Jam bar's "İndir" after the fetch failed.
#include <windows.h>

#include <string.h>

#include "acquire/downloader.h"
#include "acquire/fetch_workers.h"
#include "app/app_state.h"
#include "app/file_deletion.h"
#include "app/main_window.h"
#include "app/library_scan.h"
#include "app/library_watch.h"
#include "app/track_actions.h"
#include "app/music_folder.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "social/jam.h"

static_assert(sizeof(AutofetchRequest::room_id) >= JAM_ROOM_ID_CAPACITY, "a room id travels whole with its fetch");

static int differ_nocase(const wchar_t* a, const wchar_t* b) {
    return a[0] && b[0] && CompareStringOrdinal(a, -1, b, -1, TRUE) != CSTR_EQUAL;
}

int jam_wants_other_track(const WantedTrack* wanted_now, const WantedTrack* fetched) {
    return differ_nocase(wanted_now->video_id, fetched->video_id) || differ_nocase(wanted_now->title, fetched->title);
}

void start_jam_fetch(void) {
    const WantedTrack* wanted = &g_jam_wanted.track;
    if (!wanted->title[0] && !wanted->video_id[0]) return;
    if (g_jam_fetch.running.load()) return;  // before the folder is resolved: that may save settings
    wchar_t folder[260];
    if (!resolve_music_folder(folder)) {
        jam_set_notice(L"\u26a0 M\u00fczik klas\u00f6r\u00fc olu\u015fturulamad\u0131 \u2022 Men\u00fcden bir klas\u00f6r se\u00e7",
                       0, wanted->title);
        return;
    }
    if (!jam_fetch_start(g_app.main_window, wanted, folder, g_jam.room_id)) return;
    wchar_t name[128];
    wstr_copy(name, wanted->title[0] ? wanted->title : wanted->video_id);
    wchar_t notice[256];
    wstr_format(notice, 256, L"\u26a1 \"%ls\" sende yok \u2022 \u0130ndiriliyor (%%0)...", name);
    jam_set_notice(notice, 1, nullptr);
    start_animation();
}

static void play_for_jam(int index) {
    jam_wanted_clear();
    play_track(index, jam_position_estimate(), !g_jam_wanted.playing, 1);
}

// Adds the file the fetch's downloader named to the list, -1 when it named none that
// qualifies. Only a file this fetch wrote, and the list did not hold already, goes when
// the Jam ends: another download or the user may have put the same name there. The folder's
// watch listing it first does not make it another's.
static int add_fetched_file(const AutofetchRequest* request) {
    if (!request->path[0] || !is_audio_file_in(request->path, request->folder)) return -1;
    int before = track_list_count();
    int index = track_list_add(request->path, 1);
    int fresh = index >= before || (index >= 0 && library_watch_claim(request->path));
    if (fresh && request->written && !g_settings.jam_keep_downloads &&
        g_app.jam_temp_file_count < JAM_TEMP_FILES_MAX) {
        wstr_copy(g_app.jam_temp_files[g_app.jam_temp_file_count++], request->path);
    }
    return index;
}

// The track to play for a finished fetch: the file its downloader named, else whatever the
// library has for the request, which is only played, never taken for the fetch's own.
static int find_fetched_track(const AutofetchRequest* request) {
    int index = add_fetched_file(request);
    if (index < 0) {
        rescan_music_folder();
        index = find_matching_track(request->wanted.title, request->wanted.video_id);
    }
    apply_filter();
    return index;
}

// A file a fetch wrote for nothing (stopped, or for a room the user has left) is removed
// like the Jam's other downloads, unless those are kept or something listed it meanwhile
// (the folder's watch, which saw the fetch's own file, does not count).
static void discard_fetched_file(const AutofetchRequest* request) {
    if (!request->written || g_settings.jam_keep_downloads) return;
    if (!is_audio_file_in(request->path, request->folder)) return;
    int index = track_list_find_path(request->path);
    if (index >= 0) {
        if (!library_watch_claim(request->path)) return;
        remove_track_at(index, 1);
        after_tracks_removed();
    }
    delete_file_soon(request->path);
}

static void jam_autofetch_done(int result, AutofetchRequest* request) {
    if (request->stopped) {
        // Stopped on purpose: nothing failed, so nothing is shown. The progress notice goes
        // back to the sync notice, unless a fetch of the track wanted now has taken it over.
        discard_fetched_file(request);
        if (jam_wants_other_track(&g_jam_wanted.track, &request->wanted)) start_jam_fetch();
        if (!g_jam_fetch.running.load() && jam_notice_is_progress()) jam_set_notice(nullptr, 0, nullptr);
        return;
    }
    if (jam_wants_other_track(&g_jam_wanted.track, &request->wanted)) {
        if (result == 1 && g_settings.last_folder[0]) {
            if (add_fetched_file(request) < 0) library_scan_folder(g_settings.last_folder);
            apply_filter();
        }
        start_jam_fetch();
        return;
    }
    if (result == DOWNLOADER_MISSING) {
        // Said apart from a failure: no retry helps until the downloader is in place.
        jam_set_notice(L"\u26a0 yt-dlp.exe bulunamad\u0131 \u2022 Nelvo.exe'nin yan\u0131na koy", 0,
                       request->wanted.title);
        return;
    }
    if (result != 1 || !g_settings.last_folder[0]) {
        jam_set_notice(L"\u26a0 Otomatik indirilemedi \u2022 Sa\u011fdaki '\u0130ndir' d\u00fc\u011fmesini kullan", 0,
                       request->wanted.title);
        return;
    }
    int index = find_fetched_track(request);
    if (index < 0) {
        jam_set_notice(L"\u26a0 \u015eark\u0131 bulunamad\u0131 \u2022 '\u0130ndir' ile manuel ekleyebilirsin", 0,
                       request->wanted.title);
        return;
    }
    int playing = g_jam_wanted.playing;
    play_for_jam(index);
    scroll_into_view(index);
    jam_set_notice(playing ? L"\u2713 Otomatik indirildi \u2022 Canl\u0131 milisaniyeye e\u015fitlendi"
                           : L"\u2713 Otomatik indirildi \u2022 Ortak duraklatmada haz\u0131r",
                   0, nullptr);
    jam_ask_state();
}

// Leaving a room, or accepting an invitation into another, while its fetch ran makes the
// fetch another room's.
static int fetch_of_this_room(const AutofetchRequest* request) {
    return jam_in_room() && strcmp(request->room_id, g_jam.room_id) == 0;
}

void on_autofetch_done(int result, LPARAM lparam) {
    g_jam_fetch.running.store(0);
    AutofetchRequest* request = (AutofetchRequest*)lparam;
    if (request && fetch_of_this_room(request)) {
        jam_autofetch_done(result, request);
    } else {
        // Another room's fetch starts nothing and says nothing; what the room the user is
        // in now wants is its own business, and outside a room nothing is wanted.
        if (request) discard_fetched_file(request);
        if (!jam_in_room()) jam_wanted_clear();
        // It held the fetch back from the track the room the user is in now wants.
        else start_jam_fetch();
    }
    autofetch_request_release(lparam);
    start_animation();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

void jam_on_download_done(void) {
    const wchar_t* title = jam_notice_second_line();
    if (!title[0]) return;
    int index = find_matching_track(title, g_jam_wanted.track.video_id);
    if (index < 0) return;
    play_for_jam(index);
    jam_set_notice(L"\u2713 Canl\u0131 milisaniye senkronize", 0, nullptr);
    jam_ask_state();
}

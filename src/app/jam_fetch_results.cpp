// What the main window does when a track the Jam room plays arrives: by the Jam fetch, or
// by a download the user started from the Jam bar's "İndir" after the fetch failed.
#include <windows.h>

#include <stdlib.h>

#include "acquire/fetch_workers.h"
#include "app/app_state.h"
#include "app/main_window.h"
#include "app/music_folder.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "library/video_id.h"
#include "social/jam.h"

void start_jam_fetch(void) {
    const WantedTrack* wanted = &g_app.jam_wanted;
    if (!wanted->title[0] && !wanted->video_id[0]) return;
    if (g_jam_fetch.running.load()) return;  // before the folder is resolved: that may save settings
    wchar_t folder[260];
    if (!resolve_music_folder(folder)) {
        jam_set_notice(L"\u26a0 M\u00fczik klas\u00f6r\u00fc olu\u015fturulamad\u0131 \u2022 Men\u00fcden bir klas\u00f6r se\u00e7",
                       0, wanted->title);
        return;
    }
    if (!jam_fetch_start(g_app.main_window, wanted, folder)) return;
    wchar_t name[128];
    wstr_copy(name, wanted->title[0] ? wanted->title : wanted->video_id);
    wchar_t notice[256];
    wstr_format(notice, 256, L"\u26a1 \"%ls\" sende yok \u2022 \u0130ndiriliyor (%%0)...", name);
    jam_set_notice(notice, 1, nullptr);
    start_animation();
}

static int differ_nocase(const wchar_t* a, const wchar_t* b) {
    return a[0] && b[0] && CompareStringOrdinal(a, -1, b, -1, TRUE) != CSTR_EQUAL;
}

int jam_wants_other_track(const WantedTrack* wanted_now, const WantedTrack* fetched) {
    return differ_nocase(wanted_now->video_id, fetched->video_id) || differ_nocase(wanted_now->title, fetched->title);
}

int newest_file_in(const wchar_t* folder, wchar_t* path, int capacity) {
    path[0] = 0;
    wchar_t pattern[MAX_PATH + 8];
    if (wstr_format(pattern, MAX_PATH + 8, L"%ls\\*.*", folder) >= MAX_PATH + 4) return 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return 0;
    FILETIME newest = {};
    int found = 0;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        // Strictly later only: of two files written in the same instant the first listed stays.
        if (found && CompareFileTime(&data.ftLastWriteTime, &newest) <= 0) continue;
        newest = data.ftLastWriteTime;
        found = wstr_format(path, capacity, L"%ls\\%ls", folder, data.cFileName) < capacity - 1;
        if (!found) path[0] = 0;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

static void clear_jam_wanted(void) {
    g_app.jam_wanted.title[0] = 0;
    g_app.jam_wanted.video_id[0] = 0;
}

static void play_for_jam(int index) {
    clear_jam_wanted();
    play_track(index, jam_position_estimate(), !jam_is_playing(), 1);
}

// The file the Jam fetch brought: the newest file of the music folder, unless its video id
// says it is another video (another download may have finished meanwhile); then, or when
// it cannot be added, the library is searched for the request.
static int find_fetched_track(const AutofetchRequest* request) {
    wchar_t path[260];
    int index = -1;
    if (newest_file_in(g_settings.last_folder, path, 260)) {
        wchar_t id[VIDEO_ID_CAPACITY];
        video_id_from_file_name(path, id, VIDEO_ID_CAPACITY);
        int other_video = id[0] && request->wanted.video_id[0] &&
                          CompareStringOrdinal(id, -1, request->wanted.video_id, -1, FALSE) != CSTR_EQUAL;
        if (!other_video) {
            int before = track_list_count();
            index = track_list_add(path, 1);
            if (index >= before && !g_settings.jam_keep_downloads && g_app.jam_temp_file_count < JAM_TEMP_FILES_MAX) {
                wstr_copy(g_app.jam_temp_files[g_app.jam_temp_file_count++], path);
            }
        }
    }
    if (index < 0) {
        rescan_music_folder();
        index = find_matching_track(request->wanted.title, request->wanted.video_id);
    }
    apply_filter();
    return index;
}

static void jam_autofetch_done(int result, AutofetchRequest* request) {
    if (jam_wants_other_track(&g_app.jam_wanted, &request->wanted)) {
        if (result && g_settings.last_folder[0]) rescan_music_folder();
        start_jam_fetch();
        return;
    }
    if (!result || !g_settings.last_folder[0]) {
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
    int playing = jam_is_playing();
    play_for_jam(index);
    scroll_into_view(index);
    jam_set_notice(playing ? L"\u2713 Otomatik indirildi \u2022 Canl\u0131 milisaniyeye e\u015fitlendi"
                           : L"\u2713 Otomatik indirildi \u2022 Ortak duraklatmada haz\u0131r",
                   0, nullptr);
    jam_ask_state();
}

void on_autofetch_done(int result, LPARAM lparam) {
    g_jam_fetch.running.store(0);
    AutofetchRequest* request = (AutofetchRequest*)lparam;
    if (request && jam_in_room()) jam_autofetch_done(result, request);
    else clear_jam_wanted();
    autofetch_request_release(lparam);
    start_animation();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

void jam_on_download_done(void) {
    const wchar_t* title = jam_notice_second_line();
    if (!title[0]) return;
    int index = find_matching_track(title, g_app.jam_wanted.video_id);
    if (index < 0) return;
    play_for_jam(index);
    jam_set_notice(L"\u2713 Canl\u0131 milisaniye senkronize", 0, nullptr);
    jam_ask_state();
}

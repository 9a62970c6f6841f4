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
#include "library/audio_files.h"
#include "library/display_title.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "library/video_id.h"
#include "social/jam.h"

static int differ_nocase(const wchar_t* a, const wchar_t* b) {
    return a[0] && b[0] && CompareStringOrdinal(a, -1, b, -1, TRUE) != CSTR_EQUAL;
}

int jam_wants_other_track(const WantedTrack* wanted_now, const WantedTrack* fetched) {
    return differ_nocase(wanted_now->video_id, fetched->video_id) || differ_nocase(wanted_now->title, fetched->title);
}

// The audio files of the music folder when the Jam fetch started, by name hash: what the
// fetch brought is among those that are not. A hash shared by two names makes a new file
// look old, which only keeps it from being deleted.
static struct {
    unsigned* hashes;
    int count;
} g_before;

static int compare_hashes(const void* a, const void* b) {
    unsigned x = *(const unsigned*)a, y = *(const unsigned*)b;
    return x < y ? -1 : x > y;
}

// Calls visit with the full path of every audio file in folder.
template <typename Visit> static void for_each_audio_file(const wchar_t* folder, Visit visit) {
    wchar_t pattern[MAX_PATH + 8];
    if (wstr_format(pattern, MAX_PATH + 8, L"%ls\\*", folder) >= MAX_PATH + 4) return;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !has_audio_extension(data.cFileName)) continue;
        wchar_t path[MAX_PATH];
        if (wstr_format(path, MAX_PATH, L"%ls\\%ls", folder, data.cFileName) < MAX_PATH - 1) visit(path);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

static void forget_folder_snapshot(void) {
    free(g_before.hashes);
    g_before.hashes = nullptr;
    g_before.count = 0;
}

static void snapshot_folder(const wchar_t* folder) {
    forget_folder_snapshot();
    int capacity = 0;
    for_each_audio_file(folder, [&](const wchar_t* path) {
        if (g_before.count == capacity) {
            int grown = capacity ? capacity * 2 : 256;
            unsigned* more = (unsigned*)realloc(g_before.hashes, (size_t)grown * sizeof(unsigned));
            if (!more) return;
            g_before.hashes = more;
            capacity = grown;
        }
        g_before.hashes[g_before.count++] = path_hash_nocase(path);
    });
    if (g_before.count) qsort(g_before.hashes, g_before.count, sizeof(unsigned), compare_hashes);
}

static int existed_before(const wchar_t* path) {
    unsigned h = path_hash_nocase(path);
    return g_before.count && bsearch(&h, g_before.hashes, g_before.count, sizeof(unsigned), compare_hashes);
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
    snapshot_folder(folder);
    if (!jam_fetch_start(g_app.main_window, wanted, folder)) {
        forget_folder_snapshot();
        return;
    }
    wchar_t name[128];
    wstr_copy(name, wanted->title[0] ? wanted->title : wanted->video_id);
    wchar_t notice[256];
    wstr_format(notice, 256, L"\u26a1 \"%ls\" sende yok \u2022 \u0130ndiriliyor (%%0)...", name);
    jam_set_notice(notice, 1, nullptr);
    start_animation();
}

int fetched_file_in(const wchar_t* folder, const WantedTrack* wanted, wchar_t* path, int capacity, int* created) {
    path[0] = 0;
    *created = 0;
    int by_id = is_video_id(wanted->video_id);
    if (!by_id && !wanted->title[0]) return 0;
    for_each_audio_file(folder, [&](const wchar_t* candidate) {
        if (*created) return;
        int is_new = !existed_before(candidate);
        int match;
        if (by_id) {
            wchar_t id[VIDEO_ID_CAPACITY];
            video_id_from_file_name(candidate, id, VIDEO_ID_CAPACITY);
            match = !wcscmp(id, wanted->video_id);
        } else {
            wchar_t title[WANTED_TITLE_CAPACITY];
            make_path_display_title(candidate, title, WANTED_TITLE_CAPACITY);
            match = is_new && title_matches_wanted(title, wanted->title);
        }
        // A new file wins over one that was there before; the first found of each kind.
        if (match && (is_new || !path[0])) {
            wstr_copy(path, capacity, candidate);
            *created = is_new;
        }
    });
    return path[0] != 0;
}

static void play_for_jam(int index) {
    jam_wanted_clear();
    play_track(index, jam_position_estimate(), !g_jam_wanted.playing, 1);
}

// The file this fetch brought: the one named with the wanted video id, or for a request by
// title alone a new file of that title; recorded for deletion only when the fetch created
// it. Otherwise, or when it cannot be added, the library is searched for the request.
static int find_fetched_track(const AutofetchRequest* request) {
    wchar_t path[260];
    int created = 0, index = -1;
    if (fetched_file_in(request->folder, &request->wanted, path, 260, &created)) {
        int before = track_list_count();
        index = track_list_add(path, 1);
        if (index >= before && created && !g_settings.jam_keep_downloads &&
            g_app.jam_temp_file_count < JAM_TEMP_FILES_MAX) {
            wstr_copy(g_app.jam_temp_files[g_app.jam_temp_file_count++], path);
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
    if (jam_wants_other_track(&g_jam_wanted.track, &request->wanted)) {
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
    int playing = g_jam_wanted.playing;
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
    else jam_wanted_clear();
    // A fetch of the next wanted track may have started meanwhile, with a snapshot of its own.
    if (!g_jam_fetch.running.load()) forget_folder_snapshot();
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

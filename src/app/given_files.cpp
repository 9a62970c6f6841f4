#include "app/given_files.h"

#include <stdlib.h>

#include "app/app_state.h"
#include "app/library_scan.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/track_actions.h"
#include "library/audio_files.h"
#include "library/track_list.h"

//~ Decisions

static int is_playlist_name(const wchar_t* path) {
    const wchar_t* dot = last_extension(path);
    if (!dot) return 0;
    return !lstrcmpiW(dot, L".m3u") || !lstrcmpiW(dot, L".m3u8") || !lstrcmpiW(dot, L".nelvo");
}

int given_file_kind(const wchar_t* path, DWORD attributes) {
    if (!path || !path[0] || attributes == INVALID_FILE_ATTRIBUTES) return GIVEN_SKIPPED;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return GIVEN_FOLDER;
    if (is_playlist_name(path)) return GIVEN_PLAYLIST;
    return has_audio_extension(path) ? GIVEN_AUDIO : GIVEN_OTHER;
}

int given_file_to_play(const int* kinds, int count) {
    for (int i = 0; i < count; i++)
        if (kinds[i] == GIVEN_AUDIO) return i;
    return -1;
}

//~ Opening

void open_file_argument(const wchar_t* path, int scan_folders, int play) {
    int kind = given_file_kind(path, GetFileAttributesW(path));
    if (kind == GIVEN_SKIPPED) return;
    if (kind == GIVEN_FOLDER) {
        if (scan_folders) library_scan_folder(path);
    } else if (library_scan_busy()) {
        library_scan_then_open(path, play);  // after the library it was asked after
    } else if (kind == GIVEN_PLAYLIST) {
        import_playlist(path);
    } else {
        int index = track_list_add_unique(path);
        if (play && index >= 0) {
            play_track(index, 0, 0, 0);
            scroll_into_view(index);
        }
    }
}

void given_files_open(const wchar_t* const* paths, int count, int scan_folders) {
    if (!paths || count <= 0) return;
    int* kinds = (int*)calloc((size_t)count, sizeof(int));
    int chosen = -1;
    if (kinds) {
        for (int i = 0; i < count; i++) kinds[i] = given_file_kind(paths[i], GetFileAttributesW(paths[i]));
        chosen = given_file_to_play(kinds, count);
    }
    free(kinds);  // without memory the files still open, and none plays
    for (int i = 0; i < count; i++) open_file_argument(paths[i], scan_folders, i == chosen);
    if (g_app.selected_index < 0 && track_list_count() > 0) g_app.selected_index = 0;
    apply_filter();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

#include "app/resume.h"

#include <windows.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "playback/player.h"

void resume_remember(void) {
    const Track* t = track_list_at(g_app.current_index);
    int position = t && player_has_track() ? player_position_ms() : 0;
    int length = t && player_has_track() ? player_duration_ms() : 0;
    wstr_copy(g_settings.resume_path, t ? t->path : L"");
    g_settings.resume_ms = position > 0 ? position : 0;
    g_settings.resume_length_ms = length > 0 ? length : 0;
    save_settings(&g_settings, CONFIG_FILE_NAME);
}

void resume_restore(void) {
    const wchar_t* path = g_settings.resume_path;
    if (!path[0] || g_app.current_index >= 0) return;
    int at = g_settings.resume_ms;
    if (at < 0 || (at > 0 && at >= g_settings.resume_length_ms)) return;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return;
    for (int i = 0; i < track_list_count(); i++) {
        if (!path_equal_nocase(track_list_at(i)->path, path)) continue;
        play_track(i, at, 1, 1);
        scroll_into_view(i);
        return;
    }
}

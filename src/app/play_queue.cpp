#include "app/play_queue.h"

#include <windows.h>

#include <math.h>

#include "app/app_state.h"
#include "app/cover_art.h"
#include "app/main_window.h"
#include "app/media_overlay.h"
#include "app/settings.h"
#include "app/taskbar.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/shuffle_walk.h"
#include "library/track_list.h"
#include "library/track_order.h"
#include "library/video_id.h"
#include "playback/player.h"
#include "social/friends.h"
#include "social/jam.h"
#include "ui/fonts.h"
#include "ui/list_geometry.h"
#include "ui/main_paint.h"

void refresh_now_playing(void) {
    const Track* t = track_list_at(g_app.current_index);
    g_app.now_playing = player_is_playing();
    // Friends, the system's media flyout and the taskbar know a track as "Artist - Title".
    track_full_title(t, g_app.now_playing_title, (int)(sizeof(g_app.now_playing_title) / sizeof(wchar_t)));
    presence_set_playing(g_app.now_playing, g_app.now_playing_title);
    taskbar_show_playing(g_app.now_playing);
    media_overlay_show(g_app.now_playing_title, g_app.now_playing, t != nullptr);
}

void invalidate_control_bar(void) {
    if (!g_app.main_window) return;
    RECT r;
    GetClientRect(g_app.main_window, &r);
    r.top = list_bottom(r.bottom, g_app.dpi);
    InvalidateRect(g_app.main_window, &r, FALSE);
}

// Decoded here, once per track, so that painting only copies pixels. The overlay gets the
// same picture; a track without one clears the last track's there too.
static void load_cover(const Track* t) {
    if (g_app.cover_bitmap) DeleteObject(g_app.cover_bitmap);
    CoverBytes encoded;
    g_app.cover_bitmap = cover_art_load(t->path, &g_app.cover_side, &encoded);
    media_overlay_set_cover(encoded.data, encoded.length);
    cover_bytes_free(&encoded);
}

// Everything a track's start means besides the sound: the row, the cover, who is told.
static void track_started(int index, int start_ms, int paused) {
    Track* t = track_list_at(index);
    g_app.current_index = index;
    g_app.selected_index = index;
    g_app.playing_generation = g_player.generation.load();
    load_cover(t);
    refresh_now_playing();
    if (jam_in_room() && !g_app.applying_sync && t->title[0]) {
        jam_wanted_clear();
        g_jam_fetch.stop.store(1);
        wchar_t id[VIDEO_ID_CAPACITY];
        video_id_from_file_name(t->path, id, VIDEO_ID_CAPACITY);
        jam_set_notice(L"\u2713 Canl\u0131 milisaniye senkronize", 0, nullptr);
        wchar_t title[TRACK_TEXT_CAPACITY];
        track_full_title(t, title, TRACK_TEXT_CAPACITY);
        jam_send_state(!paused, title, id, start_ms);
    }
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
    choose_tick_period();
}

void play_track(int index, int start_ms, int paused, int quiet) {
    Track* t = track_list_at(index);
    if (!t) return;
    int was_applying = g_app.applying_sync;
    if (quiet) g_app.applying_sync = 1;
    g_app.failed_in_row = 0;
    if (start_ms < 0) start_ms = 0;
    player_open(t->path, start_ms, paused);
    track_started(index, start_ms, paused);
    g_app.applying_sync = was_applying;
}

void prepare_following_track(void) {
    unsigned generation = g_player.generation.load();
    if (!player_is_playing() || g_app.playing_generation != generation || g_app.near_end_generation != generation) return;
    // A guest hears what the host plays next, never a pick of its own.
    int next = -1;
    if (!jam_in_room() || jam_is_host())
        next = track_order_peek_next(g_settings.sort, g_app.current_index, g_settings.shuffle, g_settings.repeat);
    const Track* t = track_list_at(next);
    player_prepare_next(t ? t->path : nullptr);
}

void on_track_near_end(WPARAM generation) {
    if (!player_event_is_current(generation)) return;
    g_app.near_end_generation = (unsigned)generation;
    prepare_following_track();
}

void on_track_advanced(WPARAM generation) {
    if (!player_take_advance(generation)) return;
    // The walk takes the track as played; it is the one peeked at unless the list changed in
    // the last moment, and then the player, which is already playing it, decides.
    int expected = track_order_next(g_settings.sort, g_app.current_index, g_settings.shuffle, g_settings.repeat);
    const Track* t = track_list_at(expected);
    int index = t && !wcscmp(t->path, g_player.path) ? expected : track_list_find_path(g_player.path);
    if (index < 0) {
        stop_playback();  // the file left the list while it was being prepared
        return;
    }
    g_app.failed_in_row = 0;
    track_started(index, 0, 0);
    scroll_into_view(index);
}

static void toggle_play_with_start(int start_index) {
    if (player_is_playing()) {
        player_toggle_pause();
        refresh_now_playing();
        if (jam_in_room()) jam_send_pos(0, player_position_ms());
    } else if (g_app.current_index >= 0 && player_has_track()) {
        player_play();
        refresh_now_playing();
        if (jam_in_room()) jam_send_pos(1, player_position_ms());
    } else if (track_list_at(g_app.current_index)) {
        // Stopped, or the list ended: the player holds nothing to resume, so the current
        // track starts again.
        play_track(g_app.current_index, 0, 0, 0);
    } else if (track_list_count() > 0) {
        play_track(start_index, 0, 0, 0);
    }
    invalidate_control_bar();
    choose_tick_period();
}

void toggle_play(void) {
    toggle_play_with_start(g_app.selected_index >= 0 ? g_app.selected_index : 0);
}

void toggle_play_media_key(void) {
    toggle_play_with_start(0);
}

void stop_playback(void) {
    player_stop();
    refresh_now_playing();
    invalidate_control_bar();
    choose_tick_period();
}

static void play_and_show(int index) {
    if (index < 0) return;
    play_track(index, 0, 0, 0);
    scroll_into_view(index);
}

void play_next(void) {
    // A manual next leaves a repeated track and wraps at the end of the list.
    int repeat = g_settings.repeat == REPEAT_TRACK ? REPEAT_LIST : g_settings.repeat;
    play_and_show(track_order_next(g_settings.sort, g_app.current_index, g_settings.shuffle, repeat));
}

void play_previous(void) {
    play_and_show(track_order_prev(g_settings.sort, g_app.current_index, g_settings.shuffle));
}

void on_track_ended(void) {
    g_app.failed_in_row = 0;
    if (!jam_in_room() || jam_is_host()) {
        int next = track_order_next(g_settings.sort, g_app.current_index, g_settings.shuffle, g_settings.repeat);
        if (next >= 0) {
            play_and_show(next);
            return;
        }
        player_stop();
    } else {
        // A guest waits for the host's next track instead of advancing on its own.
        player_toggle_pause();
        player_seek_ms(0);
    }
    refresh_now_playing();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
    choose_tick_period();
}

void on_track_failed(void) {
    const Track* t = track_list_at(g_app.current_index);
    int failures = g_app.failed_in_row + 1;
    int count = track_list_count();
    // Like the notices of finished downloads, it never covers a shared-playlist or update banner.
    if (g_app.banner.state == BANNER_HIDDEN || g_app.banner.state == BANNER_DOWNLOAD) {
        wchar_t title[TRACK_TEXT_CAPACITY];
        track_full_title(t, title, TRACK_TEXT_CAPACITY);
        banner_show(BANNER_DOWNLOAD, 0, L"\u26a0 PAR\u00c7A \u00c7ALINAMADI",
                    failures >= count ? L"Listedeki hi\u00e7bir par\u00e7a a\u00e7\u0131lamad\u0131" : title, 3000);
    }
    // A file that cannot be played is skipped the way a manual next skips it (a repeated
    // track does not repeat), and in a Jam a guest waits for the host as at a track end.
    int next = -1;
    if (failures < count && (!jam_in_room() || jam_is_host())) {
        int repeat = g_settings.repeat == REPEAT_TRACK ? REPEAT_LIST : g_settings.repeat;
        next = track_order_next(g_settings.sort, g_app.current_index, g_settings.shuffle, repeat);
    }
    if (next >= 0) {
        play_and_show(next);
        g_app.failed_in_row = failures;
    } else {
        player_stop();
        g_app.failed_in_row = 0;
        refresh_now_playing();
    }
    choose_tick_period();
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

void toggle_shuffle(void) {
    shuffle_walk_reset();  // a walk begins from the track playing now
    g_settings.shuffle = g_settings.shuffle == 0 ? 1 : 0;
    save_settings(&g_settings, CONFIG_FILE_NAME);
    invalidate_control_bar();
}

void cycle_repeat(void) {
    // A value damaged in the file ((5 + 1) % 3 == 0) still lands on a valid mode.
    g_settings.repeat = ((g_settings.repeat + 1) % 3 + 3) % 3;
    save_settings(&g_settings, CONFIG_FILE_NAME);
    invalidate_control_bar();
}

static void store_volume(int volume) {
    g_settings.volume = volume;
    save_settings(&g_settings, CONFIG_FILE_NAME);
    invalidate_control_bar();
}

void change_volume(int step) {
    player_set_volume(player_get_volume() + step);
    int volume = player_get_volume();
    if (volume > 0) g_app.last_volume = volume;
    store_volume(volume);
}

void toggle_mute(void) {
    int volume = player_get_volume();
    if (volume < 1) {
        player_set_volume(g_app.last_volume >= 1 ? g_app.last_volume : 80);
    } else {
        g_app.last_volume = volume;
        player_set_volume(0);
    }
    store_volume(player_get_volume());
}

int volume_from_fraction(float fraction) {
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    return (int)floorf(fraction * 100.0f + 0.5f);
}

void seek_to(int position_ms) {
    player_seek_ms(position_ms);
    // Without a loaded track (stopped, or waiting for a Jam fetch) there is nothing the room
    // could seek to with this user.
    if (jam_in_room() && track_list_at(g_app.current_index) && player_has_track()) jam_send_pos(-1, position_ms);
}

int key_seek_target(int position_ms, int duration_ms, int forward) {
    if (!forward) return position_ms <= 5000 ? 0 : position_ms - 5000;
    if (duration_ms <= 0 || position_ms + 5000 < duration_ms) return position_ms + 5000;
    return duration_ms;
}

void seek_by_key(int forward) {
    if (!track_list_at(g_app.current_index) || !player_has_track()) return;
    seek_to(key_seek_target(player_position_ms(), player_duration_ms(), forward));
}

int scroll_target_for_row(int row, float scroll_target, int visible_height, int dpi, float* new_target) {
    int row_h = scale_at(ROW_HEIGHT, dpi);
    int top = row * row_h;
    if (scroll_target > (float)top) {
        *new_target = (float)top;
        return 1;
    }
    if ((float)(top + row_h) > scroll_target + (float)visible_height - (float)scale_at(8, dpi)) {
        *new_target = (float)(top + row_h - visible_height + scale_at(12, dpi));
        return 1;
    }
    return 0;
}

void scroll_into_view(int index) {
    int row = index;
    if (g_app.filter.active) {
        row = -1;
        for (int i = 0; i < g_app.filter.filtered_count; i++)
            if (g_app.filter.filtered_indices[i] == index) row = i;
        if (row < 0) return;
    }
    if (!g_app.main_window) return;
    RECT client;
    GetClientRect(g_app.main_window, &client);
    int visible = list_bottom(client.bottom, g_app.dpi) - current_list_top();
    if (!scroll_target_for_row(row, g_app.scroll_target, visible, g_app.dpi, &g_app.scroll_target)) return;
    clamp_scroll_to_list();
    start_animation();
}

//~ Seek bar and volume slider

float slider_fraction(int x, int left, int right) {
    if (right <= left) return 0;
    float f = (float)(x - left) / (float)(right - left);
    return f < 0 ? 0 : (f > 1 ? 1 : f);
}

void seek_bar_press(int x, int left, int right) {
    g_app.seek_dragging = 1;
    int duration = player_duration_ms();
    if (duration >= 1) {
        int target = (int)(slider_fraction(x, left, right) * (float)duration);
        g_app.seek_shown_seconds = (float)target / 1000.0f;
        seek_to(target);
    } else {
        g_app.seek_shown_seconds = (float)player_position_seconds();
    }
    invalidate_control_bar();
}

void seek_bar_drag(int x, int left, int right) {
    // Without a length there is nowhere to point at: what is shown stays the position.
    if (player_duration_ms() >= 1) g_app.seek_shown_seconds = slider_fraction(x, left, right) * (float)player_duration_seconds();
    invalidate_control_bar();
}

void seek_bar_release(int x, int left, int right) {
    g_app.seek_dragging = 0;
    int duration = player_duration_ms();
    // A release while the length is still unknown seeks nowhere: it would land on 0, or
    // overwrite the position a track is being opened at.
    if (duration >= 1 && track_list_at(g_app.current_index)) seek_to((int)(slider_fraction(x, left, right) * (float)duration));
    invalidate_control_bar();
}

void seek_bar_cancel(void) {
    g_app.seek_dragging = 0;
    invalidate_control_bar();
}

void volume_slider_drag(int x, int left, int right) {
    int volume = volume_from_fraction(slider_fraction(x, left, right));
    player_set_volume(volume);
    if (volume > 0) g_app.last_volume = volume;
    g_settings.volume = volume;
    invalidate_control_bar();
}

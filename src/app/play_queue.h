#pragma once
// The transport logic of the main window: which track plays, what follows, volume, seeking.
// Inside a Jam room every local action is also told to the room.
#include <windows.h>

void play_track(int index, int start_ms, int paused, int quiet);
void toggle_play(void);
void toggle_play_media_key(void);
void stop_playback(void);
void play_next(void);
void play_previous(void);
void on_track_ended(void);
// Near a track's end (MSG_TRACK_NEAR_END) the one that follows is prepared, so that it
// starts without a gap; until the end it is chosen again at every tick, as the list, the
// order or the modes may change.
void on_track_near_end(WPARAM generation);
void prepare_following_track(void);
// The prepared track is heard now (MSG_TRACK_ADVANCED): it becomes the current one as if
// the end had opened it.
void on_track_advanced(WPARAM generation);
// The track could not be opened or played: said in the banner, and the queue moves on as
// at its end, until every track of the list failed in a row.
void on_track_failed(void);
void toggle_shuffle(void);
void cycle_repeat(void);
void change_volume(int step);
void toggle_mute(void);
void seek_to(int position_ms);
void seek_by_key(int forward);
void scroll_into_view(int index);

// Where x lies between a slider's ends, 0..1.
float slider_fraction(int x, int left, int right);
// The seek bar between left and right: a press seeks at once, a drag only moves what is
// shown, the release seeks to where the button came up.
void seek_bar_press(int x, int left, int right);
void seek_bar_drag(int x, int left, int right);
void seek_bar_release(int x, int left, int right);
// The drag ended without a release (the window lost the mouse): nothing is sought.
void seek_bar_cancel(void);
// The volume slider follows the pointer at once; it is saved when the button comes up.
void volume_slider_drag(int x, int left, int right);

// The volume a slider fraction gives: 0..100, rounded half up.
int volume_from_fraction(float fraction);
// Where Left (forward 0) or Right (forward 1) seeks from position, with duration (0 unknown).
int key_seek_target(int position_ms, int duration_ms, int forward);
// The scroll target that brings a row into view; 0 when it is visible already.
int scroll_target_for_row(int row, float scroll_target, int visible_height, int dpi, float* new_target);

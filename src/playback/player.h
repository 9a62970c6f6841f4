#pragma once
// One local audio file at a time, decoded by Media Foundation's source reader on the player's
// own thread (one for the run) and played into one sound stream, so that the track prepared
// next follows the current one without a gap. Positions cross this interface in
// milliseconds. Ends, failures and the moves to a prepared track reach the main window as
// posted messages carrying the generation they belong to.
#include <windows.h>

#include <atomic>

// Owned by the main thread except where a field says otherwise.
struct MediaPlayer {
    HWND main_window;
    // Identifies what plays: changed by every open, stop and shutdown, and by the player's
    // thread when it moves on to the prepared track.
    std::atomic<unsigned> generation;
    std::atomic<int> media_ready;       // the track is opened and its length known
    std::atomic<int> pending_start_ms;  // a position asked for and not yet applied; -1 none
    std::atomic<int> held_ms;           // the position while no sound stream runs
    std::atomic<int> duration_ms;       // 0 until known
    std::atomic<int> duration_s;
    std::atomic<int> active;  // a track is loaded and meant to play
    std::atomic<int> paused;  // the user paused it
    std::atomic<int> volume;  // 0..100
    wchar_t path[260];        // the file of the current open request
};

extern MediaPlayer g_player;

int player_init(HWND main_window);
// Opens the file at path and plays it from start_ms (paused there when start_paused).
int player_open(const wchar_t* path, int start_ms, int start_paused);
void player_play(void);
void player_toggle_pause(void);
void player_stop(void);
// Stops and lets go of the file (a stopped player still holds it open), so that it can be
// deleted; the next open starts afresh.
void player_close(void);
int player_is_playing(void);
// A track is loaded and meant to play or held paused: false after a stop, the end of the
// list or a failed open, when play has to open the track again.
int player_has_track(void);
// Whether the generation a MSG_TRACK_ENDED or MSG_TRACK_FAILED carries is that of the track
// opened now.
int player_event_is_current(WPARAM generation);
int player_position_ms(void);
int player_position_seconds(void);
int player_duration_ms(void);
int player_duration_seconds(void);
void player_seek_ms(int position_ms);
void player_set_volume(int percent);
int player_get_volume(void);
void player_shutdown(void);

// Prepares path to follow the current track without a gap when it ends; null or empty
// forgets what was prepared. A preparation belongs to the generation it was made under:
// after an open or a stop it no longer applies. When the prepared track starts, the main
// window gets MSG_TRACK_ADVANCED with the new generation instead of MSG_TRACK_ENDED.
void player_prepare_next(const wchar_t* path);
// The main window hears MSG_TRACK_NEAR_END when this much of the track is left to decode.
enum { PLAYER_NEAR_END_MS = 6000 };
// Forgets what was prepared and returns once the file is let go (it is about to be deleted).
void player_forget_prepared(void);
// What was prepared under the current generation ("" when nothing).
const wchar_t* player_prepared_path(void);
// Called by the main window for MSG_TRACK_ADVANCED: the prepared track becomes the current
// one. 1 when generation is current.
int player_take_advance(WPARAM generation);

// The position an open request starts at: none for 0 or less, and never so close to the end
// that the track ends before it is heard.
int player_clamp_open_position(int position_ms, int duration_ms);
// A seek never lands within 200 ms of the end of media longer than 500 ms.
int player_clamp_seek_position(int position_ms, int duration_ms);

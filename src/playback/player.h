#pragma once
// One local audio file at a time through Media Foundation's simple player (mfplay.dll,
// loaded at first use). Positions cross this interface in milliseconds. The platform
// delivers its events on the thread that created the player, through its message loop.
#include <windows.h>

#include <atomic>

struct IMFPMediaPlayer;
struct PlayerCallback;

typedef HRESULT(WINAPI* MfpCreateMediaPlayerFn)(LPCWSTR, BOOL, DWORD, void*, HWND, IMFPMediaPlayer**);

struct MediaPlayer {
    HWND main_window;
    PlayerCallback* callback;
    HMODULE library;
    MfpCreateMediaPlayerFn create_fn;
    IMFPMediaPlayer* player;
    std::atomic<unsigned> generation;    // identifies the current open request
    std::atomic<int> media_ready;        // the opened item is set on the player
    std::atomic<int> pending_start_ms;   // applied once the media is ready; -1 none
    int duration_ms;                     // 0 until known
    int duration_s;
    int active;  // a track is loaded and meant to play
    int paused;  // the user paused it
    int volume;  // 0..100
    int seek_unsupported;  // the platform player answered a position change with E_NOTIMPL
    // Where such a player cannot seek, files are opened through a source that starts at the
    // wanted position; the player then counts from there.
    int position_offset_ms;
    wchar_t path[260];  // the file of the current open request
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

// The position an open request starts at: none for 0 or less, and never so close to the end
// that the track ends before it is heard.
int player_clamp_open_position(int position_ms, int duration_ms);
// A seek never lands within 200 ms of the end of media longer than 500 ms.
int player_clamp_seek_position(int position_ms, int duration_ms);

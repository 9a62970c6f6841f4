#pragma once
// Calls from the shell into subsystems that are not built yet: friends and presence, Jam
// rooms, the MQTT transport, playlist import, the search window, the automatic fetch and
// the updater. Each does nothing (and reports "no", "none" or "not started") until its
// subsystem lands and replaces it; none pretends that work was done.
#include <windows.h>

// Identity, transport, friends and presence.
void identity_load(void);
int transport_start(HWND receiver);  // 0: no transport
void transport_stop(void);
void friends_say_bye(void);
void presence_set_playing(int playing, const wchar_t* title);
void presence_expire(void);
void presence_ping_all(void);
int friend_lookup_found(const wchar_t* tag);  // 0: not (yet) found
void friend_lookup_start(const wchar_t* tag);
void friend_lookup_cancel(void);
void friend_request_send(const wchar_t* tag);
void mqtt_event_release(WPARAM record);

// Jam rooms.
void jam_reset(void);
int jam_is_active(void);
int jam_in_room(void);
int jam_is_host(void);
int jam_invitation_pending(void);
int jam_notice_is_progress(void);
void jam_leave(void);
void jam_set_notice(const wchar_t* text, int kind, const wchar_t* second_line);
void jam_send_state(int playing, const wchar_t* title, const wchar_t* video_id, int position_ms);
void jam_send_pos(int playing, int position_ms);
void jam_tick(void);
// The Jam's share of a finished search-window download: retry the wanted track if the Jam
// notice names one.
void jam_on_download_done(void);
// An automatic Jam fetch ended while in a room: play what came, or fetch what is wanted now.
// Takes over the request.
void jam_on_autofetch_done(int result, LPARAM request);

// Track actions, playlist import and the fetch workers.
int import_playlist(const wchar_t* path);  // 0: not imported
void remove_selected_or_marked(void);
void delete_jam_downloads(void);
void autofetch_request_release(LPARAM request);

// The search-and-download window.
const wchar_t* search_window_download_title(void);   // "" when none
const wchar_t* search_window_download_folder(void);  // "" when none

// The updater.
void update_remove_leftovers(void);
void update_check_start(int silent);
void update_record_release(LPARAM record);

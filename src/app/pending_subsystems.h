#pragma once
// Calls from the shell into subsystems that are not built yet: friends and presence, Jam
// rooms, the MQTT transport, playlist import, the automatic fetch and
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
int friend_pending_count(void);  // friend requests waiting for an answer

// Jam rooms.
enum { JAM_NONE = 0, JAM_INVITING = 1, JAM_IN_ROOM = 2 };
// What the Jam queries below answer until the room protocol exists; tests set it to see
// the window in each Jam state.
struct PendingJam {
    int state;  // JAM_*
    int members;
    int invitation_pending;
    int notice_is_progress;
    const wchar_t* banner_text;
    const wchar_t* notice_text;
    const wchar_t* inviter;
    int playing;       // the room's track plays
    int position_ms;   // where the room's track is now
    int asks;          // times the room was asked for its state
    wchar_t notice[128];        // the last notice set
    wchar_t second_line[256];   // the track title a failed fetch left for the "İndir" button
};
extern PendingJam g_pending_jam;
void jam_reset(void);
int jam_state(void);
int jam_member_count(void);
const wchar_t* jam_banner_text(void);  // the Jam bar's first line
const wchar_t* jam_notice_text(void);  // its second line: the notice
const wchar_t* jam_notice_second_line(void);  // the title a failed fetch leaves for "İndir"; "" when none
int jam_is_playing(void);
int jam_position_estimate(void);
void jam_ask_state(void);
const wchar_t* jam_inviter_name(void);  // who invited us, while an invitation is pending
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

// Friends panel actions, by the row the painter recorded.
const wchar_t* my_user_tag(void);
const wchar_t* my_display_name(void);
void change_my_name(const wchar_t* name);
void send_friend_request_from_input(void);
const wchar_t* friend_name(int index);
void friend_remove(int index);
void friend_accept(int pending_index);
void pending_remove(int pending_index);
// Asks whether tracks downloaded for a Jam stay after it; 1 keep.
int ask_keep_downloads(HWND owner);
void jam_accept_invitation(void);
void jam_decline_invitation(void);
void jam_start_room(void);
void jam_invite(int friend_index);
int jam_is_member(int friend_index);

// The updater.
void update_remove_leftovers(void);
void update_check_start(int silent);
void update_record_release(LPARAM record);

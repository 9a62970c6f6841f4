#pragma once
// Jam rooms and their playback sync, as the shell and the painter use them. Main thread only.
//
// Until the room protocol is built, the queries answer from g_pending_jam, which the tests
// set to see the window in each Jam state, and the actions change nothing else.
#include <wchar.h>

enum { JAM_NONE = 0, JAM_INVITING = 1, JAM_IN_ROOM = 2 };

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
// kind 1 marks a download in progress (the Jam bar grows for its progress line).
void jam_set_notice(const wchar_t* text, int kind, const wchar_t* second_line);
void jam_send_state(int playing, const wchar_t* title, const wchar_t* video_id, int position_ms);
void jam_send_pos(int playing, int position_ms);
void jam_tick(void);

// The friends panel's Jam card and invite buttons, and the invitation notice.
void jam_accept_invitation(void);
void jam_decline_invitation(void);
void jam_start_room(void);
void jam_invite(int friend_index);
int jam_is_member(int friend_index);

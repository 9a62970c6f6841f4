#include "social/jam.h"

#include "base/wstr.h"

PendingJam g_pending_jam;

void jam_reset(void) {}
int jam_state(void) { return g_pending_jam.state; }
int jam_member_count(void) { return g_pending_jam.members; }
const wchar_t* jam_banner_text(void) { return g_pending_jam.banner_text ? g_pending_jam.banner_text : L""; }
const wchar_t* jam_notice_text(void) { return g_pending_jam.notice_text ? g_pending_jam.notice_text : L""; }
const wchar_t* jam_inviter_name(void) { return g_pending_jam.inviter ? g_pending_jam.inviter : L""; }
int jam_is_active(void) { return g_pending_jam.state != JAM_NONE; }
int jam_in_room(void) { return g_pending_jam.state == JAM_IN_ROOM; }
int jam_is_host(void) { return 0; }
int jam_invitation_pending(void) { return g_pending_jam.invitation_pending; }
int jam_notice_is_progress(void) { return g_pending_jam.notice_is_progress; }
void jam_leave(void) { g_pending_jam.state = JAM_NONE; }
void jam_set_notice(const wchar_t* text, int kind, const wchar_t* second_line) {
    wstr_copy(g_pending_jam.notice, text ? text : L"");
    g_pending_jam.notice_text = g_pending_jam.notice;
    g_pending_jam.notice_is_progress = kind == 1;
    wstr_copy(g_pending_jam.second_line, second_line ? second_line : L"");
}
const wchar_t* jam_notice_second_line(void) { return g_pending_jam.second_line; }
int jam_is_playing(void) { return g_pending_jam.playing; }
int jam_position_estimate(void) { return g_pending_jam.position_ms; }
void jam_ask_state(void) { g_pending_jam.asks++; }
void jam_send_state(int, const wchar_t*, const wchar_t*, int) {}
void jam_send_pos(int, int) {}
void jam_tick(void) {}

void jam_accept_invitation(void) {}
void jam_decline_invitation(void) {}
void jam_start_room(void) {}
void jam_invite(int) {}
int jam_is_member(int) { return 0; }

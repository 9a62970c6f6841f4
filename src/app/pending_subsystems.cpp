#include "app/pending_subsystems.h"

#include "app/wstr.h"

PendingJam g_pending_jam;

void identity_load(void) {}
int transport_start(HWND) { return 0; }
void transport_stop(void) {}
void friends_say_bye(void) {}
void presence_set_playing(int, const wchar_t*) {}
void presence_expire(void) {}
void presence_ping_all(void) {}
int friend_lookup_found(const wchar_t*) { return 0; }
void friend_lookup_start(const wchar_t*) {}
void friend_lookup_cancel(void) {}
void friend_request_send(const wchar_t*) {}
int friend_pending_count(void) { return 0; }

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

const wchar_t* my_user_tag(void) { return L""; }
const wchar_t* my_display_name(void) { return L""; }
void change_my_name(const wchar_t*) {}
void send_friend_request_from_input(void) {}
const wchar_t* friend_name(int) { return L""; }
void friend_remove(int) {}
void friend_accept(int) {}
void pending_remove(int) {}
int ask_keep_downloads(HWND) { return 0; }
void jam_accept_invitation(void) {}
void jam_decline_invitation(void) {}
void jam_start_room(void) {}
void jam_invite(int) {}
int jam_is_member(int) { return 0; }


void update_remove_leftovers(void) {}
void update_check_start(int) {}
void update_record_release(LPARAM) {}

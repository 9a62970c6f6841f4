#include "social/friends.h"

void identity_load(void) {}
void friends_say_bye(void) {}
void presence_set_playing(int, const wchar_t*) {}
void presence_expire(void) {}
void presence_ping_all(void) {}
int friend_lookup_found(const wchar_t*) { return 0; }
void friend_lookup_start(const wchar_t*) {}
void friend_lookup_cancel(void) {}
void friend_request_send(const wchar_t*) {}
int friend_pending_count(void) { return 0; }

const wchar_t* my_user_tag(void) { return L""; }
const wchar_t* my_display_name(void) { return L""; }
void change_my_name(const wchar_t*) {}
const wchar_t* friend_name(int) { return L""; }
void friend_remove(int) {}
void friend_accept(int) {}
void pending_remove(int) {}

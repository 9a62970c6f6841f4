#include "social/friends.h"

void friends_say_bye(void) {}
void presence_set_playing(int, const wchar_t*) {}
void presence_expire(void) {}
void presence_ping_all(void) {}
int friend_lookup_found(const wchar_t*) { return 0; }
void friend_lookup_start(const wchar_t*) {}
void friend_lookup_cancel(void) {}
void friend_request_send(const wchar_t*) {}
int friend_pending_count(void) { return pending_count(); }

const wchar_t* my_user_tag(void) { return g_identity.tag; }
const wchar_t* my_display_name(void) { return g_identity.name; }
void change_my_name(const wchar_t*) {}

const wchar_t* friend_name(int index) {
    const FriendEntry* f = friend_at(index);
    return f ? f->name : L"";
}

int friend_accept(const wchar_t*) { return 0; }

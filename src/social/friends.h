#pragma once
// The user's identity, the friends store, the friend protocol and presence, as the shell
// and the painter use them. Main thread only.
//
// Until the friends subsystem is built these answer as an installation with no identity,
// no friends and no requests, and the actions do nothing; none pretends that work was done.
#include <wchar.h>

void identity_load(void);
void friends_say_bye(void);

// Presence: what this user plays, pings to friends and the expiry of silent ones.
void presence_set_playing(int playing, const wchar_t* title);
void presence_expire(void);
void presence_ping_all(void);

// The lookup of a user by tag before a friend request.
int friend_lookup_found(const wchar_t* tag);  // 0: not (yet) found
void friend_lookup_start(const wchar_t* tag);
void friend_lookup_cancel(void);
void friend_request_send(const wchar_t* tag);
int friend_pending_count(void);  // friend requests waiting for an answer

// The friends panel's rows, by index.
const wchar_t* my_user_tag(void);
const wchar_t* my_display_name(void);
void change_my_name(const wchar_t* name);
const wchar_t* friend_name(int index);
void friend_remove(int index);
void friend_accept(int pending_index);
void pending_remove(int pending_index);

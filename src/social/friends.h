#pragma once
// The friend protocol and presence as the shell and the painter use them, over the identity
// and friends store. Main thread only.
//
// Until the friend protocol is built, its actions (lookups, requests, accepting, presence,
// the name change and the goodbye) do nothing; none pretends that work was done. What the
// store knows is answered from it.
#include <wchar.h>

#include "social/identity.h"

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
const wchar_t* friend_name(int index);  // empty outside the list
int friend_accept(const wchar_t* tag);

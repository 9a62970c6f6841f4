#pragma once
// The friends subsystem as the shell and the painter use it: the identity and friends
// store, the friend protocol and presence, and the few answers the panel reads. Main
// thread only.
#include <wchar.h>

#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/presence.h"

int friend_pending_count(void);  // friend requests waiting for an answer

// The friends panel's rows, by index.
const wchar_t* my_user_tag(void);
const wchar_t* my_display_name(void);
const wchar_t* friend_name(int index);  // empty outside the list

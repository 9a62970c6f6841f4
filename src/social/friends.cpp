#include "social/friends.h"

int friend_pending_count(void) { return pending_count(); }

const wchar_t* my_user_tag(void) { return g_identity.tag; }
const wchar_t* my_display_name(void) { return g_identity.name; }

const wchar_t* friend_name(int index) {
    const FriendEntry* f = friend_at(index);
    return f ? f->name : L"";
}

#pragma once
// Presence (who is online and what they play) and the lookup of a user by tag that comes
// before a friend request. Main thread only.
#include <wchar.h>

//~ The user lookup

void friend_lookup_start(const wchar_t* text);
void friend_lookup_cancel(void);
// Whether the lookup for text (ignoring case) has found its user.
int friend_lookup_found(const wchar_t* text);
// The topic on which a registration would answer the running lookup ("" when none).
const char* friend_lookup_reg_topic(void);
// A tag heard from the network: when a lookup runs and it names the searched user, the
// lookup is found with it. Returns 1 then.
int friend_lookup_offer(const wchar_t* tag);
// The tag a request should go to for text: what the lookup resolved when it searched text,
// else text itself.
const wchar_t* friend_lookup_resolved(const wchar_t* text);

//~ Presence

void presence_ping(const wchar_t* tag);
void presence_ping_all(void);
void presence_pong(const wchar_t* tag);
void presence_set_playing(int playing, const wchar_t* text);
// Friends silent for more than 32 s turn offline.
void presence_expire(void);
void friends_say_bye(void);

extern const wchar_t STATUS_OFFLINE[];  // "Çevrimdışı"
extern const wchar_t STATUS_ONLINE[];   // "Çevrimiçi"
extern const wchar_t STATUS_IDLE[];     // "Çevrimiçi • Boşta"

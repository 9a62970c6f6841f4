#pragma once
// Friendships between Nelvo installations that can be trusted on public brokers: each
// installation publishes its signing key, a friend's key is pinned when the friendship is
// made, and from then on every friend and Jam message between the two travels signed, and
// only signed messages count. Installations of the original program, and friends whose key
// was not pinned, go on exactly as before. Main thread.
#include <wchar.h>

struct FriendEntry;

// Opens the installation's key (made at the first start) in the per-user folder.
void trust_start(void);
// The retained key record on the own key topic; on every connection.
void trust_publish_key(void);
// Subscribes the key topic of every friend with a number (the retained records tell a
// changed key).
void trust_subscribe_friend_keys(void);
// A friendship was just made: the key the friend publishes, if any, is pinned when its
// record arrives within the next half minute.
void trust_friendship_made(const wchar_t* tag);

// Whether the friend's messages must be signed both ways.
int trust_friend_verified(const FriendEntry* f);
// How a message goes to the user at tag: as it is, signed (a verified friend), or both (a
// friend who signs to us though we did not pin his key: he may have pinned ours, or an
// envelope claiming him was forged; both forms reach him either way). The envelope is made
// into sealed; TRUST_NONE when it should be signed and cannot be.
enum { TRUST_NONE = 0, TRUST_PLAIN = 1, TRUST_SIGNED = 2, TRUST_BOTH = 3 };
int trust_for_user(const wchar_t* tag, const char* payload, char* sealed, int capacity);
// Publishes payload to the room topic: signed when a member is a verified friend, as it is
// when a member is not (or there is none), both when the room has both.
void trust_publish_to_room(const char* topic, const char* payload, const wchar_t* const* member_tags, int members);

// What of a received message counts: the message to act on (the envelope's inside, or the
// payload), or null when it must be ignored (a plain message claiming a verified friend, an
// envelope that does not verify, is stale or replayed, or comes from someone whose key was
// not pinned). Key records are taken here and give null. room_topic: the current room's.
const char* trust_inbound(const char* topic, const char* payload, const char* room_topic);

// For the benchmark and tests: messages refused since start.
int trust_refused_count(void);

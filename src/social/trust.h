#pragma once
// Friendships between Nelvo installations that can be trusted on public brokers: each
// installation publishes its signing key, a friend's key is pinned when the friendship is
// made, and from then on every friend and Jam message between the two travels signed, and
// only signed messages count. Installations of the original program, and friends whose key
// was not pinned, go on exactly as before. Main thread.
#include <wchar.h>

struct FriendEntry;
struct InboundMessage;

// Opens the installation's key (made at the first start) in the per-user folder.
void trust_start(void);
// 1 when a kept key could not be opened (another Windows user's, a damaged file): nothing
// can be signed this run, so verified friends receive nothing.
int trust_key_problem(void);
// The retained key record on the own key topic; on every connection.
void trust_publish_key(void);
// Subscribes the own key topic (to answer whoever overwrites it) and the key topic of every
// friend with a number, each broker's copy apart.
void trust_subscribe_friend_keys(void);
// A friendship was just made: the key the friend publishes, if any, is pinned when every
// connected broker hands over the same record for him within the next half minute.
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

// Reads a received message once into out and says whether it counts for the handlers
// (TRUST_TAKEN), was a key record taken here (TRUST_KEY_RECORD: a friend's row may change), or
// must be ignored (TRUST_IGNORED: a message claiming a verified friend that is not his valid
// envelope, a stale or replayed envelope). An envelope from someone whose key is not pinned
// here counts as the plain message inside it. room_topic: the topic of the room the Jam
// protocol takes messages from (jam_room_topic_now); link: the broker that delivered it.
enum { TRUST_IGNORED = 0, TRUST_TAKEN = 1, TRUST_KEY_RECORD = 2 };
int trust_inbound(const char* topic, const char* payload, const char* room_topic, int link, InboundMessage* out);
// Empties the user's mailbox on the brokers, at most once a second; a clear asked for
// meanwhile follows on the tick.
void trust_clear_mailbox(const char* topic);

// Whether the housekeeping tick must run for trust's sake, and what it does: deferred
// clears and republishing, closing pin windows, saving the accepted times.
int trust_needs_tick(void);
void trust_tick(void);
// At exit: the accepted times are written.
void trust_stop(void);

// A key's fingerprint as two friends compare it aloud: six groups of four digits. Empty for
// something that is not a key.
void trust_fingerprint(const char* key_text, wchar_t* out, int capacity);

// For the benchmark and tests: messages refused, and signatures checked, since start.
int trust_refused_count(void);
int trust_verified_count(void);

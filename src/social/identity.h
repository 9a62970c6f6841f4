#pragma once
// The user's identity (display name, '#', four-digit number), the friends, the friend
// requests that wait for an answer and the requests this user sent, with the two files in
// which they persist: "identity.tag" in the per-user folder and "friends.json" beside the
// executable (mirrored in the per-user folder). Main thread only, except friends_save_flush
// and friends_save_writes: the store keeps no lock, and its files are written by a thread
// of its own from texts handed over whole.
#include <stdint.h>
#include <wchar.h>

enum {
    IDENTITY_NUMBER_CAPACITY = 16,
    IDENTITY_NAME_CAPACITY = 64,
    USER_TAG_CAPACITY = 32,
    STATUS_TEXT_CAPACITY = 128,
    FRIENDS_MAX = 32,
    PENDING_MAX = 16,
    SENT_REQUESTS_MAX = 32,
    DISPLAY_NAME_KEPT = 24,
    FRIENDS_FILE_MAX_BYTES = 65536,
};

struct Identity {
    wchar_t number[IDENTITY_NUMBER_CAPACITY];
    wchar_t name[IDENTITY_NAME_CAPACITY];
    wchar_t tag[USER_TAG_CAPACITY];  // name#number once identity_complete has run
};

struct FriendEntry {
    wchar_t tag[USER_TAG_CAPACITY];
    wchar_t name[IDENTITY_NAME_CAPACITY];
    int32_t online;
    int32_t playing;
    wchar_t status_text[STATUS_TEXT_CAPACITY];
    uint32_t last_seen;  // tick count of the last PING, PONG or ACC from the friend
    // The friend's signing key, pinned when the friendship was made (base64url, "" none):
    // with one, only the friend's signed messages count. Stored in friends.json.
    char key[88];
    int32_t key_changed;      // the friend now publishes another key than the pinned one
    int32_t key_checked;      // the user compared the key's fingerprint with the friend's. Stored.
    // While a friendship is new: since when a published key may be pinned (tick), and what
    // each broker holds on the friend's key topic ("" nothing yet, "-" nothing usable).
    int32_t pin_open;
    unsigned long long pin_started;  // GetTickCount64: never wraps
    char pin_seen[2][88];
    int32_t key_differs[2];  // per broker: it holds another key than the pinned one
    // The last send time accepted from the friend, per kind of recipient. Stored, so that
    // a restart does not open the door to envelopes already taken.
    long long last_signed_ms;
    long long last_room_signed_ms;
    int32_t signs_to_me;  // envelopes come from him though his key is not pinned here: he pinned ours
    // Failed verifications: the budget left and when it was last refilled (tick).
    int32_t verify_budget;
    unsigned long long verify_budget_at;
};

struct PendingEntry {
    wchar_t tag[USER_TAG_CAPACITY];
    wchar_t name[IDENTITY_NAME_CAPACITY];
};

// The lists, as kept in memory and as read from or written to friends.json. A sent request
// is remembered by what same_user needs to recognise its answer: the tag's number when it
// has more than two digits, else the whole tag.
struct FriendStore {
    FriendEntry friends[FRIENDS_MAX];
    int friend_count;
    PendingEntry pending[PENDING_MAX];
    int pending_count;
    wchar_t sent[SENT_REQUESTS_MAX][USER_TAG_CAPACITY];
    int sent_count;
};

extern Identity g_identity;
extern FriendStore g_friends;

//~ Tags and names (pure)

// The run of digits after the first '#' (or from the start without one); returns its length.
int tag_number(const wchar_t* tag, wchar_t* buffer, int size);
// The tag as a topic-safe ASCII word: Turkish letters folded, other characters '_'.
int tag_slug(const wchar_t* tag, char* buffer, int size);
// Two tags name the same user: equal numbers when both have more than two digits, else
// equal whole tags ignoring case. Empty or null tags name nobody.
int same_user(const wchar_t* a, const wchar_t* b);
// A display name the user may have: no control characters, no '"', '#', '\', '|', no
// spaces at either end, at most 24 characters. Returns the length (0 is possible).
int clean_display_name(const wchar_t* text, wchar_t* out, int capacity);

// Text that arrives from other users. A name is cleaned like clean_display_name and also
// loses the invisible direction and formatting marks, so that it cannot reverse or hide
// what is drawn after it. A tag must be a cleaned name, '#' and 1..15 ASCII digits, and fit
// in capacity whole, else 0 is returned and out is empty. A status text loses control
// characters and those marks and keeps at most 127 characters.
int clean_received_name(const wchar_t* text, wchar_t* out, int capacity);
int clean_received_tag(const wchar_t* text, wchar_t* out, int capacity);
int clean_received_status(const wchar_t* text, wchar_t* out, int capacity);
// Any other received text that is drawn (a track title): without control characters and
// direction or hiding marks, cut to capacity.
int clean_received_text(const wchar_t* text, wchar_t* out, int capacity);

// The number the machine always gets: from the system volume's serial number and the
// computer name, "1000".."9999".
void identity_number_from_machine(uint32_t volume_serial, const wchar_t* computer_name, wchar_t* out, int capacity);
// The name taken from the system user name (null or empty when it could not be read).
void identity_name_from_user(const wchar_t* user_name, wchar_t* out, int capacity);

//~ The two files (pure)

// What identity.tag holds: valid when its first line begins with a digit.
struct IdentityTagFile {
    int valid;
    wchar_t number[IDENTITY_NUMBER_CAPACITY];
    wchar_t name[IDENTITY_NAME_CAPACITY];  // the name line as written, not cleaned
};
void identity_tag_parse(const char* text, int length, IdentityTagFile* out);
// "number\nname\ntag\n" in UTF-8; returns the length, or -1 when it does not fit.
int identity_tag_format(const Identity* id, char* out, int capacity);

// Reads friends.json text (not necessarily terminated): the own tag and name into id (number
// left empty) and the lists into store, within their limits. Values are JSON-escaped in
// files that end with the "format" mark, and taken as written in those without it.
// Returns 1 when the store holds everything the text held; 0 when saving the store would
// lose part of it (a cut file, an entry without a tag, more entries than the lists hold,
// a value longer than its field).
int friends_json_parse(const char* text, int length, Identity* id, FriendStore* store);
// The friends.json text, values JSON-escaped and the "format" mark last; returns the
// length, or -1 when it does not fit.
int friends_json_format(const Identity* id, const FriendStore* store, char* out, int capacity);

// Which identity the two files give before completion (number and name may stay empty):
// friends_file is null when friends.json was not found or not readable. Names come out
// cleaned.
void identity_decide(const IdentityTagFile* tag_file, const Identity* friends_file, Identity* out);

//~ The store (main thread)

// The folder treated as the executable's, where friends.json is written and looked for
// first; null or empty gives back the real one.
void identity_set_program_folder(const wchar_t* folder);
// name in the per-user folder (made when missing); 0 without one.
int identity_user_file(const wchar_t* name, wchar_t* path, int capacity);

// Reads both files. A friends.json that did not load whole (or is too big to be read) is
// first copied beside itself as friends.json.bak, or .bak2 .. .bak9 when that name is
// taken; when no copy could be made, saving stays off until the next load, so that the
// only copy of the list is never replaced by what was made of it.
void identity_load(void);
void identity_complete(void);
// Writes identity.tag at once.
int identity_save(void);
// Hands the current texts of identity.tag and friends.json to the writer thread, which
// writes at most once a second and always the latest. Returns 1 when they were handed over
// or equal the last ones; 0 when saving is off or the list does not fit.
int friends_save(void);
// Writes whatever waits, on the calling thread, after a write in progress. Any thread.
void friends_save_flush(void);
// How many times the files were written since the process started. Any thread.
int friends_save_writes(void);
// The copy identity_load kept of a friends.json that did not load whole: its path, empty
// when none was made.
const wchar_t* friends_kept_aside(void);
// 1 when friends.json did not load whole and could not be copied aside: nothing is saved.
int friends_save_refused(void);

void get_my_tag(wchar_t* buffer, int size);
void get_my_name(wchar_t* buffer, int size);

int friend_count(void);
FriendEntry* friend_at(int i);  // null outside 0..count-1
int pending_count(void);
PendingEntry* pending_at(int i);
int friend_find(const wchar_t* tag);  // -1: not a friend
int pending_find(const wchar_t* tag);
int friend_remove(const wchar_t* tag);
int pending_remove(const wchar_t* tag);

// Friend requests this user sent, so that only their answers make friends.
int sent_request_add(const wchar_t* tag);
int sent_request_has(const wchar_t* tag);
int sent_request_remove(const wchar_t* tag);

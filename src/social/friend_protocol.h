#pragma once
// The friend protocol: pipe-separated UTF-8 messages on the public brokers, on topics named
// after a user's tag number and slug. Each user listens on its own id, mbox and u topics; a
// retained mailbox message reaches a user who is offline, and a retained registration lets
// anyone see that a tag exists. Main thread only.
#include <windows.h>

enum {
    FRIEND_TOPIC_CAPACITY = 128,
    FRIEND_MESSAGE_CAPACITY = 512,
    WIRE_TAG_BYTES = 127,      // tag and name as sent
    WIRE_PLAYING_BYTES = 191,  // playing text as sent
    // Tag and name fields as read: all a sender may put in them, so that a long name in a
    // script of three-byte characters keeps the '#' and number of its tag.
    RECEIVED_FIELD_BYTES = WIRE_TAG_BYTES,
};

// TOPIC_KEY: where an installation keeps its signing key's record, retained; a topic the
// original program never subscribes to.
enum { TOPIC_ID = 0, TOPIC_MBOX = 1, TOPIC_U = 2, TOPIC_REG = 3, TOPIC_KEY = 4 };

enum {
    FRIEND_MSG_OTHER = 0,
    FRIEND_MSG_REG,
    FRIEND_MSG_REQ,
    FRIEND_MSG_REQ_ACK,
    FRIEND_MSG_ACC,
    FRIEND_MSG_NAME_CHG,
    FRIEND_MSG_PING,
    FRIEND_MSG_PONG,
    FRIEND_MSG_BYE,
};

//~ Topics and messages (pure)

// "zembrafold/<id|mbox|reg|key>/<number>" or "zembrafold/u/<slug>" for tag; returns 0 with out
// empty when the tag has no number (or, for the u topic, is empty or begins with '#').
int friend_topic(int kind, const wchar_t* tag, char* out, int capacity);

// Text as it goes on the wire: line breaks and '|' become '-', UTF-8 cut to max_bytes on a
// character boundary. Returns the length.
int wire_text(const wchar_t* text, int max_bytes, char* out, int capacity);

// A received UTF-8 field of length bytes as wide text: at most max_bytes of it, cut on a
// character boundary, into out (capacity characters, cut silently). A strict field that is
// not UTF-8 comes out empty; elsewhere bad bytes become U+FFFD.
void wire_field(const char* field, int length, int max_bytes, wchar_t* out, int capacity, int strict);
// The integer at the start of text, as atoi reads it, without overflowing (at most 10^9
// in size).
int wire_integer(const char* text);

// "<kind>|<tag>|<name>", or "BYE|<tag>" when name is null.
int friend_message_format(char* out, int capacity, const char* kind, const wchar_t* tag, const wchar_t* name);
// "PONG|<tag>|<name>|<0 or 1>|<text, only when playing>".
int friend_pong_format(char* out, int capacity, const wchar_t* tag, const wchar_t* name, int playing,
                       const wchar_t* text);

// What a received payload says, its texts already cleaned for storing and showing.
struct FriendMessage {
    int kind;  // FRIEND_MSG_*
    wchar_t tag[32];
    wchar_t name[64];       // empty when absent or nothing of it survives cleaning
    int playing;            // PONG
    wchar_t playing_text[128];  // PONG
};
// Returns 1 when the payload is a friend message this side acts on, with out filled; 0 when
// it is malformed, its tag does not look like a tag, or it is not a friend message (kind
// then says FRIEND_MSG_OTHER).
int friend_message_parse(const char* payload, FriendMessage* out);

//~ The protocol (main thread)

// Whether topic is, ignoring case, this user's id, mbox or u topic.
int is_own_topic(const char* topic);
// Which of the user's own topics this is (0 id, 1 mailbox, 2 by name); -1 for any other.
int own_topic_index(const char* topic);
// Publishes payload, not retained, to the user's id topic and u topic.
void send_to_user(const wchar_t* tag, const char* payload);
void subscribe_own_topics(void);
void publish_registration(void);
void announce_online(void);
// Offers a received message, read by friend_message_parse (null: it is not a friend message
// or is malformed; a mailbox is emptied all the same); what is not a friend message is left
// for the Jam protocol. arrived_at: the transport's stamp (tick_fine); 0 takes the moment of
// the call.
void friend_protocol_take(const char* topic, const FriendMessage* m, DWORD arrived_at = 0);
// The same for a message still as text.
void friend_protocol_handle(const char* topic, const char* payload, DWORD arrived_at = 0);

// Sends a friend request to the looked-up user, or to text. 0 when text names nobody, this
// user or a friend; nothing is sent then.
int friend_request_send(const wchar_t* text);
// Accepts a pending request: the requester becomes a friend and is told so. 0 when no
// request of that user waits.
int friend_accept(const wchar_t* tag);
void change_my_name(const wchar_t* new_name);

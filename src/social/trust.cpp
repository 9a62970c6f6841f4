#include "social/trust.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "base/ticks.h"
#include "net/mqtt.h"
#include "social/envelope.h"
#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/signing.h"

enum { PIN_WINDOW_MS = 30000, SIGNED_TEXT_CAPACITY = FRIEND_MESSAGE_CAPACITY + 256 };

static int g_refused;
static long long g_last_sent_ms;

static long long wall_clock_ms(void) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    unsigned long long t = ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (long long)(t / 10000ULL) - 11644473600000LL;  // from 1601 to 1970
}

// The tag's number in ASCII; 0 unless it has more than two digits (shorter numbers do not
// name one user alone, and a key is only ever pinned to one user).
static int ascii_number(const wchar_t* tag, char* out, int capacity) {
    wchar_t number[16];
    int n = tag_number(tag, number, 16);
    if (n <= 2 || n >= capacity) {
        out[0] = 0;
        return 0;
    }
    for (int i = 0; i <= n; i++) out[i] = (char)number[i];
    return n;
}

static FriendEntry* friend_by_number(const char* number) {
    if (!number || strlen(number) <= 2) return nullptr;
    for (int i = 0; i < friend_count(); i++) {
        char n[16];
        if (ascii_number(friend_at(i)->tag, n, 16) && !strcmp(n, number)) return friend_at(i);
    }
    return nullptr;
}

void trust_start(void) {
    wchar_t path[MAX_PATH];
    if (identity_user_file(L"signing.key", path, MAX_PATH)) signing_key_open(path);
}

void trust_publish_key(void) {
    char topic[FRIEND_TOPIC_CAPACITY], record[256];
    if (!signing_public_key_text()[0] || !friend_topic(TOPIC_KEY, g_identity.tag, topic, sizeof topic)) return;
    char tag[WIRE_TAG_BYTES + 1];
    wire_text(g_identity.tag, WIRE_TAG_BYTES, tag, sizeof tag);
    snprintf(record, sizeof record, KEY_RECORD_PREFIX "%s|%s", tag, signing_public_key_text());
    mqtt_publish(topic, record, true);
}

void trust_subscribe_friend_keys(void) {
    char topic[FRIEND_TOPIC_CAPACITY];
    for (int i = 0; i < friend_count(); i++)
        if (friend_topic(TOPIC_KEY, friend_at(i)->tag, topic, sizeof topic)) mqtt_subscribe(topic);
}

void trust_friendship_made(const wchar_t* tag) {
    int index = friend_find(tag);
    if (index < 0) return;
    FriendEntry* f = friend_at(index);
    if (f->key[0]) return;
    f->pin_until = tick_now() + PIN_WINDOW_MS;
    if (!f->pin_until) f->pin_until = 1;
    // A subscription made again delivers the retained record again.
    char topic[FRIEND_TOPIC_CAPACITY];
    if (friend_topic(TOPIC_KEY, f->tag, topic, sizeof topic)) {
        mqtt_unsubscribe(topic);
        mqtt_subscribe(topic);
    }
}

int trust_friend_verified(const FriendEntry* f) {
    return f && f->key[0] != 0;
}

// The envelope of payload for to; 0 when it cannot be signed (no key of our own).
static int seal(const char* to, const char* payload, char* out, int capacity) {
    char number[16], text[SIGNED_TEXT_CAPACITY];
    if (!ascii_number(g_identity.tag, number, 16)) return 0;
    long long time_ms = envelope_next_time(wall_clock_ms(), g_last_sent_ms);
    int length = envelope_signed_text(to, number, time_ms, payload, text, sizeof text);
    unsigned char signature[SIGNATURE_BYTES];
    if (length < 0 || !signing_sign(text, length, signature)) return 0;
    if (envelope_format(number, time_ms, signature, payload, out, capacity) < 0) return 0;
    g_last_sent_ms = time_ms;
    return 1;
}

int trust_for_user(const wchar_t* tag, const char* payload, char* sealed, int capacity) {
    int index = friend_find(tag);
    char to[16];
    if (index < 0 || !ascii_number(tag, to, 16)) return TRUST_PLAIN;
    const FriendEntry* f = friend_at(index);
    if (trust_friend_verified(f)) return seal(to, payload, sealed, capacity) ? TRUST_SIGNED : TRUST_NONE;
    if (f->signs_to_me) return seal(to, payload, sealed, capacity) ? TRUST_BOTH : TRUST_PLAIN;
    return TRUST_PLAIN;
}

void trust_publish_to_room(const char* topic, const char* payload, const wchar_t* const* member_tags, int members) {
    int verified = 0, plain = members == 0;
    for (int i = 0; i < members; i++) {
        int index = friend_find(member_tags[i]);
        const FriendEntry* f = index >= 0 ? friend_at(index) : nullptr;
        if (f && trust_friend_verified(f)) {
            verified = 1;
        } else {
            plain = 1;
            if (f && f->signs_to_me) verified = 1;
        }
    }
    char sealed[SIGNED_TEXT_CAPACITY];
    if (verified && seal(topic, payload, sealed, sizeof sealed)) mqtt_publish(topic, sealed);
    if (plain) mqtt_publish(topic, payload);
}

//~ Received

static void key_record_received(const char* topic, const char* payload) {
    char tag[WIRE_TAG_BYTES + 1], key[SIGNING_TEXT_CAPACITY];
    const char* number = strrchr(topic, '/');
    FriendEntry* f = number ? friend_by_number(number + 1) : nullptr;
    if (!f) return;
    if (!payload[0] || !key_record_parse(payload, tag, sizeof tag, key, sizeof key)) {
        // A cleared record is no key; the pinned one stays what counts.
        if (f->key[0]) f->key_changed = 1;
        return;
    }
    if (f->key[0]) {
        // Never re-pinned silently: the row says so, and the new key's messages fail.
        f->key_changed = strcmp(f->key, key) != 0;
        return;
    }
    if (f->pin_until && (int)(f->pin_until - tick_now()) > 0) {
        memcpy(f->key, key, strlen(key) + 1);
        f->key_changed = 0;
        f->pin_until = 0;
        friends_save();
    }
}

static const char* refuse(const char* topic) {
    g_refused++;
    // What arrives in the mailbox is cleared from it whatever it was, as the protocol does
    // for messages it takes.
    if (own_topic_index(topic) == TOPIC_MBOX) mqtt_publish(topic, "", true);
    return nullptr;
}

const char* trust_inbound(const char* topic, const char* payload, const char* room_topic) {
    if (!topic || !payload) return payload;
    if (!strncmp(topic, "zembrafold/key/", 15)) {
        key_record_received(topic, payload);
        return nullptr;
    }
    int direct = is_own_topic(topic);
    int room = !direct && room_topic && room_topic[0] && !_stricmp(topic, room_topic);
    if (!direct && !room) return payload;  // registrations and lookups: public by design
    if (!payload[0]) return payload;
    Envelope e;
    if (!envelope_parse(payload, &e)) {
        char number[16];
        message_sender_number(payload, number, sizeof number);
        FriendEntry* f = friend_by_number(number);
        if (f && trust_friend_verified(f)) return refuse(topic);
        return payload;
    }
    FriendEntry* f = friend_by_number(e.number);
    if (f && !trust_friend_verified(f)) f->signs_to_me = 1;
    if (!f || !trust_friend_verified(f)) return refuse(topic);  // nothing to check it with
    // The inside must speak for the one who signed it.
    char inner[16];
    message_sender_number(e.message, inner, sizeof inner);
    if (strcmp(inner, e.number) != 0) return refuse(topic);
    long long* last = room ? &f->last_room_signed_ms : &f->last_signed_ms;
    if (envelope_time_verdict(e.time_ms, wall_clock_ms(), *last) != ENVELOPE_FRESH) return refuse(topic);
    char to[256], text[SIGNED_TEXT_CAPACITY];
    if (room) snprintf(to, sizeof to, "%s", topic);
    else ascii_number(g_identity.tag, to, 16);
    int length = envelope_signed_text(to, e.number, e.time_ms, e.message, text, sizeof text);
    if (length < 0 || !signing_verify(f->key, text, length, e.signature)) return refuse(topic);
    *last = e.time_ms;
    return e.message;
}

int trust_refused_count(void) {
    return g_refused;
}

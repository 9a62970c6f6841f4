#include "social/trust.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "net/mqtt.h"
#include "social/envelope.h"
#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/inbound.h"
#include "social/signing.h"

enum {
    PIN_WINDOW_MS = 30000,
    SIGNED_TEXT_CAPACITY = FRIEND_MESSAGE_CAPACITY + 256,
    // Failed verifications a friend's number may cost: a burst, then one per refill period.
    // An envelope beyond the budget is refused before its signature is checked, so that a
    // flood of forgeries in a friend's name costs a few checks a second, not thousands.
    VERIFY_BUDGET_MAX = 16,
    VERIFY_REFILL_MS = 500,
    // Each clear of the mailbox is a retained publish on both brokers: a flood of refused
    // messages must not turn into a flood of our own.
    MAILBOX_CLEAR_GAP_MS = 1000,
    // Our key record put back after someone overwrote it: at once the first time, then
    // after twice the last wait while it keeps being overwritten (two users who drew the
    // same number must not keep the brokers busy with their records forever).
    REPUBLISH_GAP_MS = 1000,
    REPUBLISH_GAP_MAX_MS = 600000,
    // The last accepted times are written at most this often while they move; at exit always.
    TIMES_SAVE_GAP_MS = 2000,
};

static struct {
    int refused;
    int verified;  // signatures checked
    int key_problem;
    long long last_sent_ms;
    unsigned long long last_mailbox_clear, last_republish, last_times_save;
    unsigned long long republish_gap;
    int mailbox_clear_due, republish_due, times_dirty;
} g_trust;

static long long wall_clock_ms(void) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    unsigned long long t = ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (long long)(t / 10000ULL) - 11644473600000LL;  // from 1601 to 1970
}

static unsigned long long now64(void) { return GetTickCount64(); }

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

// The friend a read message names as its sender, exactly as the handlers will find him.
static FriendEntry* sender_friend(const InboundMessage* m) {
    const wchar_t* tag = inbound_sender(m);
    int index = tag[0] ? friend_find(tag) : -1;
    return index >= 0 ? friend_at(index) : nullptr;
}

void trust_start(void) {
    wchar_t path[MAX_PATH];
    g_trust.key_problem = identity_user_file(L"signing.key", path, MAX_PATH) && !signing_key_open(path);
}

int trust_key_problem(void) { return g_trust.key_problem; }

static int own_key_record(char* topic, char* record, int capacity) {
    if (!signing_public_key_text()[0] || !friend_topic(TOPIC_KEY, g_identity.tag, topic, FRIEND_TOPIC_CAPACITY)) return 0;
    char tag[WIRE_TAG_BYTES + 1];
    wire_text(g_identity.tag, WIRE_TAG_BYTES, tag, sizeof tag);
    snprintf(record, capacity, KEY_RECORD_PREFIX "%s|%s", tag, signing_public_key_text());
    return 1;
}

void trust_publish_key(void) {
    char topic[FRIEND_TOPIC_CAPACITY], record[256];
    if (!own_key_record(topic, record, sizeof record)) return;
    mqtt_publish(topic, record, true);
    g_trust.last_republish = now64();
    g_trust.republish_due = 0;
}

void trust_subscribe_friend_keys(void) {
    char topic[FRIEND_TOPIC_CAPACITY];
    // Our own record too: whoever overwrites it is answered at once with the real one.
    if (signing_public_key_text()[0] && friend_topic(TOPIC_KEY, g_identity.tag, topic, sizeof topic))
        mqtt_subscribe(topic, true);
    for (int i = 0; i < friend_count(); i++)
        if (friend_topic(TOPIC_KEY, friend_at(i)->tag, topic, sizeof topic)) mqtt_subscribe(topic, true);
}

void trust_friendship_made(const wchar_t* tag) {
    int index = friend_find(tag);
    if (index < 0) return;
    FriendEntry* f = friend_at(index);
    // Without a key of our own nothing could be signed to him: pinned, he would hear nothing
    // from us. Unpinned, the friendship goes on in the clear, as with the original program.
    if (f->key[0] || !signing_public_key_text()[0]) return;
    f->pin_open = 1;
    f->pin_started = now64();
    memset(f->pin_seen, 0, sizeof f->pin_seen);
    // A subscription made again delivers the retained record again, from each broker.
    char topic[FRIEND_TOPIC_CAPACITY];
    if (friend_topic(TOPIC_KEY, f->tag, topic, sizeof topic)) {
        mqtt_unsubscribe(topic);
        mqtt_subscribe(topic, true);
    }
}

int trust_friend_verified(const FriendEntry* f) {
    return f && f->key[0] != 0;
}

// The envelope of payload for to; 0 when it cannot be signed (no key of our own).
static int seal(const char* to, const char* payload, char* out, int capacity) {
    char number[16], text[SIGNED_TEXT_CAPACITY];
    if (!ascii_number(g_identity.tag, number, 16)) return 0;
    long long time_ms = envelope_next_time(wall_clock_ms(), g_trust.last_sent_ms);
    int length = envelope_signed_text(to, number, time_ms, payload, text, sizeof text);
    unsigned char signature[SIGNATURE_BYTES];
    if (length < 0 || !signing_sign(text, length, signature)) return 0;
    if (envelope_format(number, time_ms, signature, payload, out, capacity) < 0) return 0;
    g_trust.last_sent_ms = time_ms;
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

//~ Keys on the brokers

static int pin_window_open(const FriendEntry* f) {
    return f->pin_open && now64() - f->pin_started < PIN_WINDOW_MS;
}

// Pins the friend's key once every connected broker holds the same usable record for him:
// an impostor then has to win the race on both brokers at once, against the owner, who puts
// his record back wherever it is overwritten.
static void try_pin(FriendEntry* f) {
    if (f->key[0] || !pin_window_open(f)) return;
    const char* agreed = nullptr;
    int connected = 0;
    for (int link = 0; link < MQTT_LINK_COUNT; link++) {
        if (!mqtt_link_connected(link)) continue;
        connected++;
        const char* seen = f->pin_seen[link];
        if (!seen[0] || !strcmp(seen, "-")) return;
        if (agreed && strcmp(agreed, seen) != 0) return;
        agreed = seen;
    }
    if (!connected || !agreed) return;
    memcpy(f->key, agreed, strlen(agreed) + 1);
    f->key_changed = 0;
    f->key_checked = 0;
    memset(f->key_differs, 0, sizeof f->key_differs);
    f->pin_open = 0;
    memset(f->pin_seen, 0, sizeof f->pin_seen);
    friends_save();
}

// A record on a friend's key topic, from one broker.
static void key_record_received(const char* topic, const char* payload, int link) {
    char tag[WIRE_TAG_BYTES + 1], key[SIGNING_TEXT_CAPACITY];
    const char* number = strrchr(topic, '/');
    FriendEntry* f = number ? friend_by_number(number + 1) : nullptr;
    if (!f || link < 0 || link >= MQTT_LINK_COUNT) return;
    int usable = payload[0] && key_record_parse(payload, tag, sizeof tag, key, sizeof key);
    if (usable) {
        // The record must speak for the friend it is filed under.
        wchar_t raw[WIRE_TAG_BYTES + 1], named[USER_TAG_CAPACITY];
        wire_field(tag, (int)strlen(tag), WIRE_TAG_BYTES, raw, WIRE_TAG_BYTES + 1, 1);
        usable = clean_received_tag(raw, named, USER_TAG_CAPACITY) && same_user(named, f->tag);
    }
    if (f->key[0]) {
        // A cleared or broken record is no key and says nothing; another key is shown, never
        // pinned, and its messages fail.
        if (!usable) return;
        f->key_differs[link] = strcmp(f->key, key) != 0;
        f->key_changed = 0;
        for (int i = 0; i < MQTT_LINK_COUNT; i++) f->key_changed |= f->key_differs[i];
        return;
    }
    if (!pin_window_open(f)) return;
    snprintf(f->pin_seen[link], sizeof f->pin_seen[link], "%s", usable ? key : "-");
    try_pin(f);
}

// A record on our own key topic: anything but ours is put right.
static void own_record_received(const char* payload) {
    char topic[FRIEND_TOPIC_CAPACITY], record[256];
    if (!own_key_record(topic, record, sizeof record) || !strcmp(payload, record)) return;
    unsigned long long since = now64() - g_trust.last_republish;
    if (!g_trust.republish_gap || since > 2 * g_trust.republish_gap + 60000) g_trust.republish_gap = REPUBLISH_GAP_MS;
    g_trust.republish_due = 1;
    if (since >= g_trust.republish_gap) {
        trust_publish_key();
        if (g_trust.republish_gap < REPUBLISH_GAP_MAX_MS) g_trust.republish_gap *= 2;
    }
}

//~ Received

void trust_clear_mailbox(const char* topic) {
    if (now64() - g_trust.last_mailbox_clear >= MAILBOX_CLEAR_GAP_MS) {
        mqtt_publish(topic, "", true);
        g_trust.last_mailbox_clear = now64();
        g_trust.mailbox_clear_due = 0;
    } else {
        g_trust.mailbox_clear_due = 1;
    }
}

static int refuse(const char* topic) {
    g_trust.refused++;
    // What arrives in the mailbox is cleared from it whatever it was, as the protocol does
    // for messages it takes.
    if (own_topic_index(topic) == TOPIC_MBOX) trust_clear_mailbox(topic);
    return 0;
}

// A message that is not (or no longer) inside an envelope: it counts unless it claims a
// verified friend, whose messages come signed.
static int take_plain(const char* topic, const char* text, InboundMessage* out) {
    inbound_parse(text, out);
    FriendEntry* f = sender_friend(out);
    if (f && trust_friend_verified(f)) return refuse(topic);
    return 1;
}

// Whether a verification may be spent on the friend's number; refills with time.
static int budget_allows(FriendEntry* f) {
    unsigned long long now = now64();
    if (!f->verify_budget_at) {
        f->verify_budget = VERIFY_BUDGET_MAX;
        f->verify_budget_at = now;
    }
    unsigned long long refills = (now - f->verify_budget_at) / VERIFY_REFILL_MS;
    if (refills) {
        unsigned long long budget = (unsigned long long)f->verify_budget + refills;
        f->verify_budget = budget < (unsigned long long)VERIFY_BUDGET_MAX ? (int)budget : (int)VERIFY_BUDGET_MAX;
        f->verify_budget_at += refills * VERIFY_REFILL_MS;
    }
    return f->verify_budget > 0;
}

static void times_changed(void) {
    g_trust.times_dirty = 1;
    if (now64() - g_trust.last_times_save >= TIMES_SAVE_GAP_MS) {
        friends_save();
        g_trust.last_times_save = now64();
        g_trust.times_dirty = 0;
    }
}

int trust_inbound(const char* topic, const char* payload, const char* room_topic, int link, InboundMessage* out) {
    inbound_parse("", out);
    if (!topic || !payload) return 0;
    if (!strncmp(topic, "zembrafold/key/", 15)) {
        char own[FRIEND_TOPIC_CAPACITY];
        if (friend_topic(TOPIC_KEY, g_identity.tag, own, sizeof own) && !_stricmp(topic, own)) own_record_received(payload);
        else key_record_received(topic, payload, link);
        return TRUST_KEY_RECORD;
    }
    int direct = is_own_topic(topic);
    int room = !direct && room_topic && room_topic[0] && !_stricmp(topic, room_topic);
    Envelope e;
    // Registrations and lookups are public by design; an empty payload clears a mailbox.
    if (!direct && !room) {
        inbound_parse(payload, out);
        return TRUST_TAKEN;
    }
    if (!envelope_parse(payload, &e)) return take_plain(topic, payload, out);
    FriendEntry* f = friend_by_number(e.number);
    if (!trust_friend_verified(f)) {
        // Nothing here to check it with: the inside counts as the plain message it is. A
        // friend who signs to us has pinned our key and gets signed messages back.
        if (!take_plain(topic, e.message, out)) return 0;
        if (f && sender_friend(out) == f) f->signs_to_me = 1;
        return 1;
    }
    if (!budget_allows(f)) return refuse(topic);
    // The inside must speak for the one who signed it, as the handlers will read it.
    inbound_parse(e.message, out);
    if (sender_friend(out) != f) return refuse(topic);
    long long* last = room ? &f->last_room_signed_ms : &f->last_signed_ms;
    if (envelope_time_verdict(e.time_ms, wall_clock_ms(), *last) != ENVELOPE_FRESH) return refuse(topic);
    char to[256], text[SIGNED_TEXT_CAPACITY];
    if (room) snprintf(to, sizeof to, "%s", topic);
    else ascii_number(g_identity.tag, to, 16);
    int length = envelope_signed_text(to, e.number, e.time_ms, e.message, text, sizeof text);
    g_trust.verified++;
    if (length < 0 || !signing_verify(f->key, text, length, e.signature)) {
        f->verify_budget--;
        return refuse(topic);
    }
    *last = e.time_ms;
    times_changed();
    return 1;
}

//~ Housekeeping

int trust_needs_tick(void) {
    if (g_trust.mailbox_clear_due || g_trust.republish_due || g_trust.times_dirty) return 1;
    for (int i = 0; i < friend_count(); i++)
        if (friend_at(i)->pin_open) return 1;
    return 0;
}

void trust_tick(void) {
    if (g_trust.mailbox_clear_due) {
        char mailbox[FRIEND_TOPIC_CAPACITY];
        if (friend_topic(TOPIC_MBOX, g_identity.tag, mailbox, sizeof mailbox)) trust_clear_mailbox(mailbox);
        else g_trust.mailbox_clear_due = 0;
    }
    if (g_trust.republish_due && now64() - g_trust.last_republish >= g_trust.republish_gap) trust_publish_key();
    if (g_trust.times_dirty) times_changed();
    for (int i = 0; i < friend_count(); i++) {
        FriendEntry* f = friend_at(i);
        // A window that has passed is closed for good: nothing reopens it later.
        if (f->pin_open && !pin_window_open(f)) {
            f->pin_open = 0;
            memset(f->pin_seen, 0, sizeof f->pin_seen);
        }
        try_pin(f);  // a broker that went away leaves the other's word to stand alone
    }
}

void trust_stop(void) {
    if (g_trust.times_dirty) friends_save();
    g_trust.times_dirty = 0;
}

int trust_refused_count(void) { return g_trust.refused; }
int trust_verified_count(void) { return g_trust.verified; }

// The codes are painted on every frame while a key card is open: the two it shows (the
// friend's and the user's own) are remembered rather than hashed again each time.
static struct {
    char key[SIGNING_TEXT_CAPACITY];
    wchar_t code[32];
} g_codes[2];
static int g_codes_next;

void trust_fingerprint(const char* key_text, wchar_t* out, int capacity) {
    if (capacity <= 0) return;
    out[0] = 0;
    int length = key_text ? (int)strlen(key_text) : 0;
    if (!length || length >= SIGNING_TEXT_CAPACITY) return;
    for (const auto& c : g_codes) {
        if (c.code[0] && !strcmp(c.key, key_text)) {
            if ((int)wcslen(c.code) < capacity) wcscpy(out, c.code);
            return;
        }
    }
    unsigned char point[SIGNING_KEY_BYTES], digest[32];
    if (base64url_decode(key_text, length, point, SIGNING_KEY_BYTES) != SIGNING_KEY_BYTES ||
        !signing_digest((const char*)point, SIGNING_KEY_BYTES, digest))
        return;
    // Six groups of four digits, 80 bits of the key's hash: short enough to read aloud,
    // long enough that nobody makes a key to match.
    wchar_t text[32];
    int n = 0;
    for (int g = 0; g < 6; g++) {
        unsigned value = ((unsigned)digest[2 * g] << 8 | digest[2 * g + 1]) % 10000;
        n += swprintf(text + n, 32 - n, g ? L" %04u" : L"%04u", value);
    }
    auto& slot = g_codes[g_codes_next];
    g_codes_next = (g_codes_next + 1) % 2;
    memcpy(slot.key, key_text, (size_t)length + 1);
    memcpy(slot.code, text, (size_t)(n + 1) * sizeof(wchar_t));
    if (n < capacity) memcpy(out, text, (size_t)(n + 1) * sizeof(wchar_t));
}

// The friend messages, their topics, and what each side does with them.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/ticks.h"
#include "base/wstr.h"
#include "net/mqtt.h"
#include "social/envelope.h"
#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/peer_delay.h"
#include "social/presence.h"
#include "social/trust.h"

//~ Topics and messages

int friend_topic(int kind, const wchar_t* tag, char* out, int capacity) {
    if (capacity <= 0) return 0;
    out[0] = 0;
    if (!tag || !tag[0]) return 0;
    if (kind == TOPIC_U) {
        if (tag[0] == L'#') return 0;
        char slug[64];
        if (tag_slug(tag, slug, sizeof slug) == 0) return 0;
        snprintf(out, capacity, "zembrafold/u/%s", slug);
        return 1;
    }
    wchar_t number[16];
    if (tag_number(tag, number, 16) == 0) return 0;
    char digits[16];
    int n = 0;
    for (; number[n]; n++) digits[n] = (char)number[n];
    digits[n] = 0;
    const char* folder = kind == TOPIC_ID ? "id" : kind == TOPIC_MBOX ? "mbox" : kind == TOPIC_KEY ? "key" : "reg";
    snprintf(out, capacity, "zembrafold/%s/%s", folder, digits);
    return 1;
}

int wire_text(const wchar_t* text, int max_bytes, char* out, int capacity) {
    if (capacity <= 0) return 0;
    out[0] = 0;
    if (!text || !text[0]) return 0;
    wchar_t clean[512];
    int n = 0;
    for (; text[n] && n < 511; n++) {
        wchar_t c = text[n];
        clean[n] = (c == L'\n' || c == L'\r' || c == L'|') ? L'-' : c;
    }
    clean[n] = 0;
    char utf8[1600];
    int length = WideCharToMultiByte(CP_UTF8, 0, clean, n, utf8, sizeof utf8, nullptr, nullptr);
    if (length <= 0) return 0;
    int limit = max_bytes < capacity - 1 ? max_bytes : capacity - 1;
    length = mqtt_utf8_cut(utf8, length, limit);
    memcpy(out, utf8, length);
    out[length] = 0;
    return length;
}

int friend_message_format(char* out, int capacity, const char* kind, const wchar_t* tag, const wchar_t* name) {
    char t[WIRE_TAG_BYTES + 1], n[WIRE_TAG_BYTES + 1];
    wire_text(tag, WIRE_TAG_BYTES, t, sizeof t);
    int length;
    if (name) {
        wire_text(name, WIRE_TAG_BYTES, n, sizeof n);
        length = snprintf(out, capacity, "%s|%s|%s", kind, t, n);
    } else {
        length = snprintf(out, capacity, "%s|%s", kind, t);
    }
    return length < 0 ? 0 : length < capacity ? length : capacity - 1;
}

int friend_pong_format(char* out, int capacity, const wchar_t* tag, const wchar_t* name, int playing,
                       const wchar_t* text) {
    char t[WIRE_TAG_BYTES + 1], n[WIRE_TAG_BYTES + 1], p[WIRE_PLAYING_BYTES + 1];
    wire_text(tag, WIRE_TAG_BYTES, t, sizeof t);
    wire_text(name, WIRE_TAG_BYTES, n, sizeof n);
    p[0] = 0;
    if (playing) wire_text(text, WIRE_PLAYING_BYTES, p, sizeof p);
    int length = snprintf(out, capacity, "PONG|%s|%s|%d|%s", t, n, playing ? 1 : 0, p);
    return length < 0 ? 0 : length < capacity ? length : capacity - 1;
}

void wire_field(const char* field, int length, int max_bytes, wchar_t* out, int capacity, int strict) {
    out[0] = 0;
    if (length <= 0) return;
    length = mqtt_utf8_cut(field, length, max_bytes);
    wchar_t wide[1024];
    int n = MultiByteToWideChar(CP_UTF8, strict ? MB_ERR_INVALID_CHARS : 0, field, length, wide, 1023);
    if (n < 0) n = 0;
    wide[n] = 0;
    wstr_copy(out, capacity, wide);
}

static int starts_with(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

int wire_integer(const char* text) {
    int sign = 1;
    if (*text == '-' || *text == '+') sign = *text++ == '-' ? -1 : 1;
    long long value = 0;
    while (*text >= '0' && *text <= '9' && value < 1000000000) value = value * 10 + (*text++ - '0');
    if (value > 1000000000) value = 1000000000;
    return (int)(sign * value);
}

int friend_message_parse(const char* payload, FriendMessage* out) {
    memset(out, 0, sizeof *out);
    if (!payload || !payload[0]) return 0;
    struct Prefix {
        const char* text;
        int kind;
        int needs_name_field;  // a message without a '|' after the tag is ignored
    };
    // REQ_ACK before REQ: the longer prefix first.
    static const Prefix prefixes[] = {
        {"REG|", FRIEND_MSG_REG, 0},   {"REQ_ACK|", FRIEND_MSG_REQ_ACK, 0}, {"REQ|", FRIEND_MSG_REQ, 1},
        {"ACC|", FRIEND_MSG_ACC, 1},   {"NAME_CHG|", FRIEND_MSG_NAME_CHG, 0}, {"PING|", FRIEND_MSG_PING, 0},
        {"PONG|", FRIEND_MSG_PONG, 1}, {"BYE|", FRIEND_MSG_BYE, 0},
    };
    const Prefix* prefix = nullptr;
    for (const Prefix& p : prefixes)
        if (starts_with(payload, p.text)) prefix = &p;
    if (!prefix) return 0;
    out->kind = prefix->kind;

    const char* tag = payload + strlen(prefix->text);
    const char* bar = strchr(tag, '|');
    // A BYE's whole rest is its tag; the others end the tag at the next '|'.
    if (out->kind == FRIEND_MSG_BYE) bar = nullptr;
    if (!bar && prefix->needs_name_field) return 0;
    int tag_length = bar ? (int)(bar - tag) : (int)strlen(tag);
    // Longer than any sender writes: cutting it would make another tag of it.
    if (tag_length > RECEIVED_FIELD_BYTES) return 0;
    wchar_t raw[RECEIVED_FIELD_BYTES + 1];
    // A tag names a user by its number: bytes that are not text must not pass for one.
    wire_field(tag, tag_length, RECEIVED_FIELD_BYTES, raw, RECEIVED_FIELD_BYTES + 1, 1);
    if (!clean_received_tag(raw, out->tag, 32)) return 0;
    if (out->kind == FRIEND_MSG_REG || out->kind == FRIEND_MSG_BYE || out->kind == FRIEND_MSG_REQ_ACK || !bar) return 1;

    const char* name = bar + 1;
    const char* name_end = strchr(name, '|');
    if (out->kind == FRIEND_MSG_PONG && !name_end) return 0;
    // REQ, ACC, NAME_CHG and PING carry nothing after the name: a '|' in it is the sender's.
    if (out->kind != FRIEND_MSG_PONG) name_end = nullptr;
    int name_length = name_end ? (int)(name_end - name) : (int)strlen(name);
    if (name_length > RECEIVED_FIELD_BYTES) return 0;
    wire_field(name, name_length, RECEIVED_FIELD_BYTES, raw, RECEIVED_FIELD_BYTES + 1, 0);
    clean_received_name(raw, out->name, 64);
    if (out->kind != FRIEND_MSG_PONG) return 1;

    const char* flag = name_end + 1;
    out->playing = wire_integer(flag) != 0;
    const char* text = strchr(flag, '|');
    if (text) {
        wchar_t wide[1024];
        wire_field(text + 1, (int)strlen(text + 1), 1023, wide, 1024, 0);
        clean_received_status(wide, out->playing_text, 128);
    }
    return 1;
}

//~ Sending

static void own_topic(int kind, char* out) { friend_topic(kind, g_identity.tag, out, FRIEND_TOPIC_CAPACITY); }

int own_topic_index(const char* topic) {
    if (!topic || !topic[0]) return -1;
    static const int kinds[] = {TOPIC_ID, TOPIC_MBOX, TOPIC_U};
    for (int i = 0; i < 3; i++) {
        char own[FRIEND_TOPIC_CAPACITY];
        own_topic(kinds[i], own);
        if (own[0] && _stricmp(own, topic) == 0) return i;
    }
    return -1;
}

int is_own_topic(const char* topic) { return own_topic_index(topic) >= 0; }

// payload on the user's topics of the given kinds; one envelope for all of them when the
// user is a verified friend.
static void publish_to_user(const wchar_t* tag, const char* payload, int id, int u, int mailbox) {
    char sealed[FRIEND_MESSAGE_CAPACITY + ENVELOPE_OVERHEAD_MAX + 64];
    int forms = trust_for_user(tag, payload, sealed, sizeof sealed);
    const char* texts[2] = {forms & TRUST_PLAIN ? payload : nullptr, forms & TRUST_SIGNED ? sealed : nullptr};
    char topic[FRIEND_TOPIC_CAPACITY];
    for (const char* text : texts) {
        if (!text) continue;
        if (id && friend_topic(TOPIC_ID, tag, topic, sizeof topic)) mqtt_publish(topic, text);
        if (u && friend_topic(TOPIC_U, tag, topic, sizeof topic)) mqtt_publish(topic, text);
        // The mailbox keeps one message: unless the friend is verified, the plain one, which
        // every installation of the original program takes as today.
        if (mailbox && (forms != TRUST_BOTH || text == payload) && friend_topic(TOPIC_MBOX, tag, topic, sizeof topic))
            mqtt_publish(topic, text, true);
    }
}

void send_to_user(const wchar_t* tag, const char* payload) { publish_to_user(tag, payload, 1, 1, 0); }

// A request or an answer that must reach the user even while offline: sent, and left in the
// user's mailbox on the brokers.
static void send_with_mailbox(const wchar_t* tag, const char* payload) { publish_to_user(tag, payload, 1, 1, 1); }

static void own_message(char* out, const char* kind) {
    friend_message_format(out, FRIEND_MESSAGE_CAPACITY, kind, g_identity.tag, g_identity.name);
}

void subscribe_own_topics(void) {
    char topic[FRIEND_TOPIC_CAPACITY];
    static const int kinds[] = {TOPIC_ID, TOPIC_MBOX, TOPIC_U};
    for (int kind : kinds) {
        own_topic(kind, topic);
        if (topic[0]) mqtt_subscribe(topic);
    }
    for (int i = 0; i < friend_count(); i++)
        if (friend_topic(TOPIC_REG, friend_at(i)->tag, topic, sizeof topic)) mqtt_subscribe(topic);
    trust_subscribe_friend_keys();
}

void publish_registration(void) {
    char topic[FRIEND_TOPIC_CAPACITY], message[FRIEND_MESSAGE_CAPACITY];
    own_topic(TOPIC_REG, topic);
    if (!topic[0]) return;
    own_message(message, "REG");
    mqtt_publish(topic, message, true);
    trust_publish_key();
}

void announce_online(void) {
    subscribe_own_topics();
    publish_registration();
}

//~ Receiving

// Takes what a friend's message says about its tag and name; returns 1 when either changed.
static int refresh_friend_names(FriendEntry* f, const FriendMessage* m) {
    int changed = 0;
    if (m->tag[0] && wcscmp(f->tag, m->tag) != 0) {
        wstr_copy(f->tag, m->tag);
        changed = 1;
    }
    if (m->name[0] && wcscmp(f->name, m->name) != 0) {
        wstr_copy(f->name, m->name);
        changed = 1;
    }
    return changed;
}

static FriendEntry* append_friend(const wchar_t* tag, const wchar_t* name) {
    if (g_friends.friend_count >= FRIENDS_MAX) return nullptr;
    FriendEntry* f = &g_friends.friends[g_friends.friend_count++];
    *f = FriendEntry{};
    wstr_copy(f->tag, tag);
    wstr_copy(f->name, name && name[0] ? name : tag);
    wstr_copy(f->status_text, STATUS_OFFLINE);
    return f;
}

static void on_request(const FriendMessage* m) {
    if (same_user(m->tag, g_identity.tag)) return;
    char reply[FRIEND_MESSAGE_CAPACITY];
    own_message(reply, "REQ_ACK");
    send_to_user(m->tag, reply);
    if (friend_find(m->tag) >= 0) {
        own_message(reply, "ACC");
        send_with_mailbox(m->tag, reply);
        presence_pong(m->tag);
        return;
    }
    int pending = pending_find(m->tag);
    if (pending >= 0) {
        PendingEntry* e = pending_at(pending);
        if (m->name[0] && wcscmp(e->name, m->name) != 0) {
            wstr_copy(e->name, m->name);
            friends_save();
        }
        presence_pong(m->tag);
        return;
    }
    if (g_friends.pending_count >= PENDING_MAX) return;
    PendingEntry* e = &g_friends.pending[g_friends.pending_count++];
    *e = PendingEntry{};
    wstr_copy(e->tag, m->tag);
    wstr_copy(e->name, m->name[0] ? m->name : m->tag);
    friends_save();
    presence_pong(m->tag);
}

static void on_accept(const FriendMessage* m) {
    if (same_user(m->tag, g_identity.tag)) return;
    int index = friend_find(m->tag);
    // Only the user this installation asked, or a friend already, can make itself a friend.
    if (index < 0 && !sent_request_has(m->tag)) return;
    FriendEntry* f = index >= 0 ? friend_at(index) : append_friend(m->tag, m->name);
    if (f) {
        if (index < 0) {
            friends_save();
            sent_request_remove(m->tag);
            trust_friendship_made(f->tag);
        }
        if (refresh_friend_names(f, m)) friends_save();
        f->online = 1;
        f->last_seen = tick_now();
        if (!f->status_text[0] || wcscmp(f->status_text, STATUS_OFFLINE) == 0) wstr_copy(f->status_text, STATUS_ONLINE);
    }
    presence_pong(m->tag);
}

static void on_name_change(const FriendMessage* m) {
    int index = friend_find(m->tag);
    if (index < 0) return;
    if (refresh_friend_names(friend_at(index), m)) friends_save();
}

static void on_ping(const FriendMessage* m) {
    int index = friend_find(m->tag);
    if (index >= 0) {
        FriendEntry* f = friend_at(index);
        f->online = 1;
        f->last_seen = tick_now();
        if (refresh_friend_names(f, m)) friends_save();
    }
    // Strangers are answered too: that is how a lookup learns the user is there.
    presence_pong(m->tag);
}

static void on_pong(const FriendMessage* m, DWORD arrived_at) {
    peer_delay_answered(m->tag, PEER_QUESTION_PING, arrived_at);
    friend_lookup_offer(m->tag);
    int index = friend_find(m->tag);
    if (index < 0) return;
    FriendEntry* f = friend_at(index);
    if (refresh_friend_names(f, m)) friends_save();
    f->online = 1;
    // Playing without a title to show is idle as far as the row goes.
    f->playing = m->playing && m->playing_text[0];
    f->last_seen = tick_now();
    wstr_copy(f->status_text, m->playing && m->playing_text[0] ? m->playing_text : STATUS_IDLE);
}

static void on_bye(const FriendMessage* m) {
    int index = friend_find(m->tag);
    if (index < 0) return;
    FriendEntry* f = friend_at(index);
    f->online = 0;
    f->playing = 0;
    wstr_copy(f->status_text, STATUS_OFFLINE);
}

void friend_protocol_take(const char* topic, const FriendMessage* m, DWORD arrived_at) {
    if (!topic) return;
    if (!arrived_at) arrived_at = tick_fine();
    const char* lookup_topic = friend_lookup_reg_topic();
    if (lookup_topic[0] && _stricmp(topic, lookup_topic) == 0) {
        if (m && m->kind == FRIEND_MSG_REG) friend_lookup_offer(m->tag);
        return;
    }
    if (!is_own_topic(topic)) return;
    char mailbox[FRIEND_TOPIC_CAPACITY];
    own_topic(TOPIC_MBOX, mailbox);
    // Emptied at once, so that the brokers do not hand the same message over at every connect.
    if (mailbox[0] && _stricmp(topic, mailbox) == 0) trust_clear_mailbox(mailbox);
    if (!m) return;
    switch (m->kind) {
    case FRIEND_MSG_REQ: on_request(m); break;
    case FRIEND_MSG_ACC: on_accept(m); break;
    case FRIEND_MSG_NAME_CHG: on_name_change(m); break;
    case FRIEND_MSG_PING: on_ping(m); break;
    case FRIEND_MSG_PONG: on_pong(m, arrived_at); break;
    case FRIEND_MSG_BYE: on_bye(m); break;
    }
}

void friend_protocol_handle(const char* topic, const char* payload, DWORD arrived_at) {
    if (!topic || !payload || !payload[0]) return;
    FriendMessage m;
    int parsed = friend_message_parse(payload, &m);
    friend_protocol_take(topic, parsed ? &m : nullptr, arrived_at);
}

//~ The user's actions

int friend_request_send(const wchar_t* text) {
    const wchar_t* source = friend_lookup_resolved(text);
    wchar_t copy[USER_TAG_CAPACITY];
    wstr_copy(copy, source ? source : L"");
    friend_lookup_cancel();
    wchar_t* start = copy;
    while (*start == L' ' || *start == L'\t' || *start == L'\r' || *start == L'\n') start++;
    int n = (int)wcslen(start);
    while (n > 0 && (start[n - 1] == L' ' || start[n - 1] == L'\t' || start[n - 1] == L'\r' || start[n - 1] == L'\n'))
        start[--n] = 0;
    wchar_t number[16];
    if (n == 0 || (!tag_number(start, number, 16) && !wcschr(start, L'#'))) return 0;
    if (same_user(start, g_identity.tag) || friend_find(start) >= 0) return 0;
    char message[FRIEND_MESSAGE_CAPACITY];
    own_message(message, "REQ");
    send_with_mailbox(start, message);
    sent_request_add(start);
    return 1;
}

int friend_accept(const wchar_t* tag) {
    int pending = pending_find(tag);
    if (pending < 0) return 0;
    PendingEntry request = *pending_at(pending);
    int index = friend_find(request.tag);
    FriendEntry* f = index >= 0 ? friend_at(index) : append_friend(request.tag, request.name);
    if (f) {
        f->online = 1;
        f->last_seen = tick_now();
        if (index < 0) wstr_copy(f->status_text, STATUS_ONLINE);
        if (index < 0) trust_friendship_made(f->tag);
    }
    char message[FRIEND_MESSAGE_CAPACITY];
    own_message(message, "ACC");
    send_with_mailbox(request.tag, message);
    presence_pong(request.tag);
    presence_ping(request.tag);
    // A request this user sent to the same user crossed theirs: answered now, it must not
    // let a later ACC bring them back after a removal.
    sent_request_remove(request.tag);
    if (!pending_remove(request.tag)) friends_save();
    return 1;
}

void change_my_name(const wchar_t* new_name) {
    wchar_t name[IDENTITY_NAME_CAPACITY];
    if (!clean_display_name(new_name, name, IDENTITY_NAME_CAPACITY)) return;
    char old_u[FRIEND_TOPIC_CAPACITY], new_u[FRIEND_TOPIC_CAPACITY];
    own_topic(TOPIC_U, old_u);
    wstr_copy(g_identity.name, name);
    identity_complete();
    friends_save();
    own_topic(TOPIC_U, new_u);
    if (old_u[0] && strcmp(old_u, new_u) != 0) mqtt_unsubscribe(old_u);
    announce_online();
    char message[FRIEND_MESSAGE_CAPACITY];
    own_message(message, "NAME_CHG");
    for (int i = 0; i < friend_count(); i++) {
        const wchar_t* tag = friend_at(i)->tag;
        char topic[FRIEND_TOPIC_CAPACITY];
        if (!friend_topic(TOPIC_MBOX, tag, topic, sizeof topic)) continue;
        publish_to_user(tag, message, 1, 0, 1);
        presence_pong(tag);
    }
    for (int i = 0; i < friend_count(); i++) presence_ping(friend_at(i)->tag);
}

#include "social/jam_wire.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "social/friend_protocol.h"
#include "social/identity.h"

// Tags and names as long as a sender may make them (see the friend messages).
enum { FIELD_BYTES = RECEIVED_FIELD_BYTES, NUMBER_BYTES = 23 };

void jam_wire_room_id(const char* room_id, char* out, int capacity) {
    if (capacity <= 0) return;
    int n = 0;
    for (const char* p = room_id ? room_id : ""; *p && n < capacity - 1; p++)
        out[n++] = (*p == '|' || *p == '\n' || *p == '\r') ? '-' : *p;
    out[n] = 0;
}

// The received room id: at most 63 bytes, and only what a room id is made of, so that a
// hostile one cannot put wildcards or broken text into the topics this user subscribes to.
static int take_room_id(const char* text, char* out) {
    int n = (int)strlen(text);
    if (n == 0) return 0;
    if (n > JAM_ROOM_ID_CAPACITY - 1) n = JAM_ROOM_ID_CAPACITY - 1;
    for (int i = 0; i < n; i++) {
        char c = text[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return 0;
    }
    memcpy(out, text, n);
    out[n] = 0;
    return 1;
}

// The next field: its start and length, *rest moved past its '|'; 0 when no '|' follows.
static int next_field(const char** rest, const char** start, int* length) {
    const char* bar = strchr(*rest, '|');
    if (!bar) return 0;
    *start = *rest;
    *length = (int)(bar - *rest);
    *rest = bar + 1;
    return 1;
}

// A tag or name longer than any sender writes makes the message malformed: cut, it could
// name someone else.
static int take_tag(const char* field, int length, wchar_t* out) {
    if (length > FIELD_BYTES) return 0;
    wchar_t raw[FIELD_BYTES + 1];
    wire_field(field, length, FIELD_BYTES, raw, FIELD_BYTES + 1, 1);
    return clean_received_tag(raw, out, JAM_TAG_CAPACITY);
}

static int take_name(const char* field, int length, wchar_t* out) {
    if (length > FIELD_BYTES) return 0;
    wchar_t raw[FIELD_BYTES + 1];
    wire_field(field, length, FIELD_BYTES, raw, FIELD_BYTES + 1, 0);
    clean_received_name(raw, out, JAM_NAME_CAPACITY);
    return 1;
}

static int take_number(const char* field, int length, int max_bytes) {
    char digits[32];
    if (length > max_bytes) length = max_bytes;
    memcpy(digits, field, length);
    digits[length] = 0;
    return wire_integer(digits);
}

int jam_wire_parse(const char* payload, JamWireMessage* out) {
    memset(out, 0, sizeof *out);
    if (!payload) return 0;
    static const struct {
        const char* prefix;
        int kind;
    } kinds[] = {
        {"JAM_INV|", JAM_MSG_INV},     {"JAM_JOIN|", JAM_MSG_JOIN},   {"JAM_HERE|", JAM_MSG_HERE},
        {"JAM_ASK|", JAM_MSG_ASK},     {"JAM_REJ|", JAM_MSG_REJ},     {"JAM_LEAVE|", JAM_MSG_LEAVE},
        {"JAM_STATE|", JAM_MSG_STATE}, {"JAM_POS|", JAM_MSG_POS},
    };
    const char* rest = nullptr;
    for (const auto& k : kinds) {
        size_t n = strlen(k.prefix);
        if (strncmp(payload, k.prefix, n) == 0) {
            out->kind = k.kind;
            rest = payload + n;
        }
    }
    if (!rest) return 0;
    const char* field;
    int length;
    if (!next_field(&rest, &field, &length) || !take_tag(field, length, out->tag)) return 0;
    switch (out->kind) {
    case JAM_MSG_INV:
    case JAM_MSG_JOIN:
    case JAM_MSG_HERE:
        if (!next_field(&rest, &field, &length) || !take_name(field, length, out->name)) return 0;
        return take_room_id(rest, out->room_id);
    case JAM_MSG_ASK:
    case JAM_MSG_REJ:
    case JAM_MSG_LEAVE: return take_room_id(rest, out->room_id);
    default: break;
    }
    // JAM_STATE and JAM_POS: the room id, then numbers.
    char room[JAM_ROOM_ID_CAPACITY * 2];
    if (!next_field(&rest, &field, &length)) return 0;
    if (length >= (int)sizeof room) return 0;
    memcpy(room, field, length);
    room[length] = 0;
    if (!take_room_id(room, out->room_id)) return 0;
    if (out->kind == JAM_MSG_POS) {
        if (!next_field(&rest, &field, &length)) return 0;
        out->command = take_number(field, length, 15);
        out->position_ms = take_number(rest, (int)strlen(rest), NUMBER_BYTES);
    } else {
        if (!next_field(&rest, &field, &length)) return 0;
        out->command = take_number(field, length, 15) != 0;
        if (!next_field(&rest, &field, &length)) return 0;
        out->position_ms = take_number(field, length, NUMBER_BYTES);
        if (!next_field(&rest, &field, &length)) return 0;
        wchar_t raw[WANTED_TITLE_CAPACITY];
        wire_field(field, length, JAM_WIRE_ID_BYTES, raw, WANTED_ID_CAPACITY, 0);
        clean_received_text(raw, out->video_id, WANTED_ID_CAPACITY);
        wire_field(rest, (int)strlen(rest), 1023, raw, WANTED_TITLE_CAPACITY, 0);
        clean_received_text(raw, out->title, WANTED_TITLE_CAPACITY);
    }
    if (out->position_ms < 0) out->position_ms = 0;
    return 1;
}

void jam_room_topic(const char* room_id, char* out, int capacity) {
    snprintf(out, capacity, "zembrafold/jam/%s", room_id ? room_id : "");
}

int jam_state_format(char* out, int capacity, const wchar_t* tag, const char* room_id, int playing, int position_ms,
                     const wchar_t* video_id, const wchar_t* title) {
    char t[WIRE_TAG_BYTES + 1], room[JAM_ROOM_ID_CAPACITY], id[JAM_WIRE_ID_BYTES + 1], name[JAM_WIRE_TITLE_BYTES + 1];
    wire_text(tag, WIRE_TAG_BYTES, t, sizeof t);
    jam_wire_room_id(room_id, room, sizeof room);
    wire_text(video_id, JAM_WIRE_ID_BYTES, id, sizeof id);
    wire_text(title, JAM_WIRE_TITLE_BYTES, name, sizeof name);
    int length = snprintf(out, capacity, "JAM_STATE|%s|%s|%d|%d|%s|%s", t, room, playing ? 1 : 0,
                          position_ms < 0 ? 0 : position_ms, id, name);
    return length < 0 ? 0 : length < capacity ? length : capacity - 1;
}

int jam_pos_format(char* out, int capacity, const wchar_t* tag, const char* room_id, int command, int position_ms) {
    char t[WIRE_TAG_BYTES + 1], room[JAM_ROOM_ID_CAPACITY];
    wire_text(tag, WIRE_TAG_BYTES, t, sizeof t);
    jam_wire_room_id(room_id, room, sizeof room);
    int length =
        snprintf(out, capacity, "JAM_POS|%s|%s|%d|%d", t, room, command, position_ms < 0 ? 0 : position_ms);
    return length < 0 ? 0 : length < capacity ? length : capacity - 1;
}

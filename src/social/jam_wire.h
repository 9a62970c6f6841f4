#pragma once
// The Jam messages as they travel: pipe-separated UTF-8 on the room topic and the users'
// own topics. Pure (no state, no sending), except jam_publish_to_room.
#include <wchar.h>

#include "base/wanted_track.h"
#include "social/jam.h"

enum {
    JAM_MESSAGE_CAPACITY = 1024,
    JAM_TOPIC_CAPACITY = 96,
    JAM_WIRE_ID_BYTES = 31,      // video id as sent
    JAM_WIRE_TITLE_BYTES = 319,  // title as sent
};

enum {
    JAM_MSG_NONE = 0,
    JAM_MSG_INV,
    JAM_MSG_JOIN,
    JAM_MSG_HERE,
    JAM_MSG_ASK,
    JAM_MSG_REJ,
    JAM_MSG_LEAVE,
    JAM_MSG_STATE,
    JAM_MSG_POS,
};

// A received Jam message, its texts cleaned for storing and drawing.
struct JamWireMessage {
    int kind;  // JAM_MSG_*
    wchar_t tag[JAM_TAG_CAPACITY];
    wchar_t name[JAM_NAME_CAPACITY];
    char room_id[JAM_ROOM_ID_CAPACITY];
    int command;      // JAM_STATE: the flag; JAM_POS: the command
    int position_ms;  // never negative
    wchar_t video_id[WANTED_ID_CAPACITY];
    wchar_t title[WANTED_TITLE_CAPACITY];
};

// 1 when payload is a Jam message with every field its kind has, a tag that looks like a
// tag and a room id that can name a topic (letters, digits, '_' and '-'); 0 otherwise.
int jam_wire_parse(const char* payload, JamWireMessage* out);

// A room id as it may go into a message and a topic: '|' and line breaks become '-'.
void jam_wire_room_id(const char* room_id, char* out, int capacity);
// "zembrafold/jam/<room id>".
void jam_room_topic(const char* room_id, char* out, int capacity);
// Publishes payload on the current room's topic (the room's and the sync's sends).
void jam_publish_to_room(const char* payload);

// "JAM_STATE|tag|room|flag|position|video id|title" and "JAM_POS|tag|room|command|position".
int jam_state_format(char* out, int capacity, const wchar_t* tag, const char* room_id, int playing, int position_ms,
                     const wchar_t* video_id, const wchar_t* title);
int jam_pos_format(char* out, int capacity, const wchar_t* tag, const char* room_id, int command, int position_ms);

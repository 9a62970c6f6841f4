// Pings and pongs between friends, their expiry, the goodbye at exit, and the user lookup.
#include <windows.h>

#include <string.h>

#include "base/ticks.h"
#include "base/wstr.h"
#include "net/mqtt.h"
#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/peer_delay.h"
#include "social/presence.h"

const wchar_t STATUS_OFFLINE[] = L"\u00c7evrimd\u0131\u015f\u0131";
const wchar_t STATUS_ONLINE[] = L"\u00c7evrimi\u00e7i";
const wchar_t STATUS_IDLE[] = L"\u00c7evrimi\u00e7i \u2022 Bo\u015fta";

enum { SILENCE_MS = 32000 };

struct FriendLookup {
    int running;
    wchar_t searched[64];
    char reg_topic[FRIEND_TOPIC_CAPACITY];  // empty when no registration is awaited
    int found;
    wchar_t resolved[USER_TAG_CAPACITY];
};

struct Presence {
    int playing;
    wchar_t text[128];
};

static FriendLookup g_lookup;
static Presence g_presence;

//~ The user lookup

void friend_lookup_cancel(void) {
    if (g_lookup.reg_topic[0]) mqtt_unsubscribe(g_lookup.reg_topic);
    g_lookup.reg_topic[0] = 0;
    g_lookup.running = 0;
}

void friend_lookup_start(const wchar_t* text) {
    friend_lookup_cancel();
    wstr_copy(g_lookup.searched, text ? text : L"");
    g_lookup.found = 0;
    g_lookup.resolved[0] = 0;
    g_lookup.running = 1;
    char topic[FRIEND_TOPIC_CAPACITY];
    if (friend_topic(TOPIC_REG, g_lookup.searched, topic, sizeof topic)) {
        mqtt_subscribe(topic);
        strcpy(g_lookup.reg_topic, topic);
    }
    presence_ping(g_lookup.searched);
}

static int same_text(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

int friend_lookup_found(const wchar_t* text) {
    return text && g_lookup.found && same_text(g_lookup.searched, text);
}

const char* friend_lookup_reg_topic(void) { return g_lookup.reg_topic; }

int friend_lookup_offer(const wchar_t* tag) {
    if (!g_lookup.running || !tag || !tag[0] || !same_user(g_lookup.searched, tag)) return 0;
    wstr_copy(g_lookup.resolved, tag);
    g_lookup.found = 1;
    friend_lookup_cancel();
    return 1;
}

const wchar_t* friend_lookup_resolved(const wchar_t* text) {
    if (text && g_lookup.resolved[0] && same_text(g_lookup.searched, text)) return g_lookup.resolved;
    return text;
}

//~ Presence

void presence_ping(const wchar_t* tag) {
    char message[FRIEND_MESSAGE_CAPACITY];
    friend_message_format(message, sizeof message, "PING", g_identity.tag, g_identity.name);
    // Its PONG measures the way to tag and back.
    peer_delay_asked(tag, PEER_QUESTION_PING, tick_fine());
    send_to_user(tag, message);
}

void presence_ping_all(void) {
    for (int i = 0; i < friend_count(); i++) presence_ping(friend_at(i)->tag);
}

void presence_pong(const wchar_t* tag) {
    char message[FRIEND_MESSAGE_CAPACITY];
    friend_pong_format(message, sizeof message, g_identity.tag, g_identity.name, g_presence.playing,
                       g_presence.text);
    send_to_user(tag, message);
}

void presence_set_playing(int playing, const wchar_t* text) {
    g_presence.playing = playing ? 1 : 0;
    if (text && text[0]) wstr_copy(g_presence.text, text);
    else if (!playing) g_presence.text[0] = 0;
}

void presence_expire(void) {
    DWORD now = tick_now();
    for (int i = 0; i < friend_count(); i++) {
        FriendEntry* f = friend_at(i);
        if (!f->online || ticks_since(f->last_seen, now) <= SILENCE_MS) continue;
        f->online = 0;
        f->playing = 0;
        wstr_copy(f->status_text, STATUS_OFFLINE);
    }
}

void friends_say_bye(void) {
    if (friend_count() == 0) return;
    char message[FRIEND_MESSAGE_CAPACITY];
    friend_message_format(message, sizeof message, "BYE", g_identity.tag, nullptr);
    for (int i = 0; i < friend_count(); i++) send_to_user(friend_at(i)->tag, message);
}

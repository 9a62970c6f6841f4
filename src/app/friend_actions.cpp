// The shell's side of the friends: starting the transport, the transport's events, and the
// friend request typed into the friends panel.
#include <windows.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/ticks.h"
#include "base/wstr.h"
#include "net/mqtt.h"
#include "social/friends.h"
#include "social/jam.h"
#include "social/inbound.h"
#include "social/jam_wire.h"
#include "social/trust.h"

void ensure_transport_started(void) {
    if (g_app.transport_started || !g_app.main_window) return;
    g_app.transport_started = 1;
    wchar_t tag[USER_TAG_CAPACITY];
    get_my_tag(tag, USER_TAG_CAPACITY);
    char slug[64];
    tag_slug(tag, slug, sizeof slug);
    mqtt_start(g_app.main_window, MSG_MQTT_EVENT, slug);
    // In the client's list before the first connect, which subscribes them.
    subscribe_own_topics();
}

void on_mqtt_event(HWND window, WPARAM wparam) {
    const MqttEvent* event = (const MqttEvent*)wparam;
    // A message that counts for nothing changes nothing on the screen: a flood of them must
    // not turn into a flood of repaints.
    int changed = 1;
    if (event && event->kind == MQTT_EVENT_MESSAGE) {
        int jam_was_active = jam_is_active();
        // The room topic exactly when the Jam protocol takes it: the gate and the handler
        // must never disagree on which messages are the room's.
        char room[JAM_TOPIC_CAPACITY];
        jam_room_topic_now(room, sizeof room);
        // Read once: between installations that pinned each other's keys only signed
        // messages count, and the handlers act on the very record the check decided on.
        InboundMessage m;
        int verdict = trust_inbound(event->topic, event->payload, room, event->link, &m);
        changed = verdict != TRUST_IGNORED;
        if (verdict == TRUST_TAKEN) {
            friend_protocol_take(event->topic, m.family == INBOUND_FRIEND ? &m.friend_message : nullptr,
                                 event->arrived_at);
            if (m.family == INBOUND_JAM) jam_message_received(event->topic, m.text, &m.jam, event->arrived_at);
        }
        if (trust_needs_tick() && !g_app.tick_period) choose_tick_period();
        if (jam_is_active() != jam_was_active) start_animation();
    } else if (event && event->kind == MQTT_EVENT_CONNECTED) {
        announce_online();
        if (friends_panel_open() || jam_is_active()) {
            presence_ping_all();
            g_app.last_ping_tick = tick_now();
        }
        if (jam_in_room() && g_app.current_index < 0 && !g_jam_fetch.running.load()) jam_ask_state();
    }
    mqtt_event_free(wparam);
    if (changed) InvalidateRect(window, nullptr, FALSE);
}

static int is_trimmed(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'@'; }

static void set_friend_notice(const wchar_t* text) { wstr_copy(g_app.friend_notice, text); }

void send_friend_request_from_input(void) {
    if (g_app.friend_search_active) return;
    wchar_t typed[64] = L"";
    if (g_app.tag_box) GetWindowTextW(g_app.tag_box, typed, 64);
    wchar_t* text = typed;
    while (is_trimmed(*text)) text++;
    int n = (int)wcslen(text);
    while (n > 0 && is_trimmed(text[n - 1])) text[--n] = 0;
    wchar_t number[16];
    if (n == 0) {
        set_friend_notice(L"L\u00fctfen bir kullan\u0131c\u0131 etiketi yaz\u0131n.");
    } else if (!wcschr(text, L'#') && tag_number(text, number, 16) <= 2) {
        set_friend_notice(L"Etiket '#' ve numara i\u00e7ermelidir (\u00d6rn: Ornek#8421)");
    } else if (same_user(text, g_identity.tag)) {
        set_friend_notice(L"Kendinize istek g\u00f6nderemezsiniz.");
    } else if (friend_find(text) >= 0) {
        set_friend_notice(L"Bu kullan\u0131c\u0131 zaten arkada\u015f listenizde.");
    } else {
        ensure_transport_started();
        g_app.friend_search_active = 1;
        g_app.friend_search_tick = tick_now();
        wstr_copy(g_app.friend_search_tag, text);
        set_friend_notice(L"Kullan\u0131c\u0131 aran\u0131yor...");
        friend_lookup_start(text);
        start_animation();
        choose_tick_period();
    }
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

void toggle_key_checked(const wchar_t* tag) {
    FriendEntry* f = friend_at(friend_find(tag));
    if (!f || !trust_friend_verified(f)) return;
    f->key_checked = !f->key_checked;
    friends_save();
}

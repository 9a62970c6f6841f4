// The Jam room: its record, invitations, members, the room messages and the Jam bar's texts.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/ticks.h"
#include "base/wstr.h"
#include "net/mqtt.h"
#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/jam.h"
#include "social/jam_rules.h"
#include "social/jam_wire.h"
#include "social/peer_delay.h"
#include "social/trust.h"

JamRoom g_jam;
// Which texts arrived by which path, as the transport keeps them by broker. Outlives the
// rooms: a late copy of a decline or an invitation must not count again after the room it
// was for has ended.
static MqttRecent g_copies;

static const wchar_t NOTICE_SYNC_ACTIVE[] = L"Canl\u0131 milisaniye senkronizasyonu aktif";
static const wchar_t NOTICE_INVITING[] = L"Davet g\u00f6nderildi \u2022 Kat\u0131l\u0131mc\u0131lar\u0131n kabul etmesi bekleniyor...";

//~ Record

void jam_reset(void) { g_jam = JamRoom{}; }

void jam_clear(void) {
    JamInvitation invitation = g_jam.invitation;
    DWORD invite_time = g_jam.invite_time;
    g_jam = JamRoom{};
    g_jam.invitation = invitation;
    g_jam.invite_time = invite_time;
}

static int is_me(const wchar_t* tag) {
    return tag && tag[0] && (same_user(tag, g_identity.tag) || _wcsicmp(tag, g_identity.tag) == 0);
}

static int has_room(void) { return g_jam.state != JAM_NONE && g_jam.room_id[0]; }

static void subscribe_room(void) {
    char topic[JAM_TOPIC_CAPACITY];
    jam_room_topic(g_jam.room_id, topic, sizeof topic);
    mqtt_subscribe(topic);
}

void jam_publish_to_room(const char* payload) {
    char topic[JAM_TOPIC_CAPACITY];
    jam_room_topic(g_jam.room_id, topic, sizeof topic);
    const wchar_t* tags[JAM_MEMBERS_MAX];
    for (int i = 0; i < g_jam.member_count; i++) tags[i] = g_jam.members[i].tag;
    trust_publish_to_room(topic, payload, tags, g_jam.member_count);
}

static void make_room_id(void) {
    char slug[64];
    tag_slug(g_identity.tag, slug, sizeof slug);
    snprintf(g_jam.room_id, sizeof g_jam.room_id, "jam_%s_%lu", slug, (unsigned long)tick_now());
}

//~ Notices and texts

void jam_set_notice(const wchar_t* text, int kind, const wchar_t* second_line) {
    wstr_copy(g_jam.notice, text ? text : L"");
    g_jam.notice_kind = kind;
    wstr_copy(g_jam.notice_second_line, second_line ? second_line : L"");
}

static const wchar_t* member_label(const JamMember* m) { return m->name[0] ? m->name : m->tag; }

// A room is open to whoever reads its topic, and a name is whatever its sender typed: only a
// verified friend's name is his; any other member carries a question mark.
static const wchar_t* member_mark(const JamMember* m) {
    return trust_friend_verified(friend_at(friend_find(m->tag))) ? L"" : L" (?)";
}

void jam_banner_text(wchar_t* buffer, int size) {
    if (g_jam.state == JAM_INVITING) {
        if (g_jam.pending_invites < 2) {
            wstr_format(buffer, size, L"JAM DAVET\u0130 BEKLEN\u0130YOR  \u2022  %ls",
                        g_jam.invitee_name[0] ? g_jam.invitee_name : g_jam.invitee_tag);
        } else {
            wstr_format(buffer, size, L"JAM ODASI KURULUYOR  \u2022  %d ki\u015fiye davet g\u00f6nderildi",
                        g_jam.pending_invites);
        }
        return;
    }
    wchar_t list[192] = L"Sen";
    for (int i = 0; i < g_jam.member_count && i < 3; i++) {
        wchar_t longer[192];
        const JamMember* m = &g_jam.members[i];
        wstr_format(longer, 192, L"%ls, %ls%ls", list, member_label(m), member_mark(m));
        wstr_copy(list, longer);
    }
    if (g_jam.member_count > 3) {
        wchar_t longer[192];
        wstr_format(longer, 192, L"%ls +%d", list, g_jam.member_count - 3);
        wstr_copy(list, longer);
    }
    wstr_format(buffer, size, L"CANLI JAM ODASI (%d Ki\u015fi)  \u2022  %ls", g_jam.member_count + 1, list);
}

void jam_notice_text(wchar_t* buffer, int size) {
    if (g_jam.state == JAM_INVITING) wstr_copy(buffer, size, NOTICE_INVITING);
    else wstr_copy(buffer, size, g_jam.notice[0] ? g_jam.notice : NOTICE_SYNC_ACTIVE);
}

//~ Members and the ask queue

int jam_member_add(const wchar_t* tag, const wchar_t* name) {
    if (!tag || !tag[0] || is_me(tag)) return 0;
    for (int i = 0; i < g_jam.member_count; i++) {
        JamMember* m = &g_jam.members[i];
        if (!same_user(m->tag, tag)) continue;
        wstr_copy(m->tag, tag);
        if (name && name[0]) wstr_copy(m->name, name);
        return 0;
    }
    if (g_jam.member_count >= JAM_MEMBERS_MAX) return 0;
    JamMember* m = &g_jam.members[g_jam.member_count++];
    wstr_copy(m->tag, tag);
    wstr_copy(m->name, name && name[0] ? name : tag);
    return 1;
}

void jam_member_remove(const wchar_t* tag) {
    for (int i = 0; i < g_jam.member_count; i++) {
        if (!same_user(g_jam.members[i].tag, tag)) continue;
        memmove(&g_jam.members[i], &g_jam.members[i + 1], (g_jam.member_count - i - 1) * sizeof(JamMember));
        g_jam.member_count--;
        break;
    }
    if (tag && _wcsicmp(g_jam.source_tag, tag) == 0) g_jam.source_tag[0] = 0;
}

static int member_index(const wchar_t* tag) {
    for (int i = 0; i < g_jam.member_count; i++)
        if (same_user(g_jam.members[i].tag, tag)) return i;
    return -1;
}

void jam_queue_asker(const wchar_t* tag) {
    if (!tag || !tag[0] || g_jam.ask_count >= JAM_ASK_QUEUE_MAX) return;
    for (int i = 0; i < g_jam.ask_count; i++)
        if (_wcsicmp(g_jam.asks[i], tag) == 0) return;
    wstr_copy(g_jam.asks[g_jam.ask_count++], tag);
}

int jam_next_asker(wchar_t* buffer, int size) {
    if (g_jam.ask_count <= 0) return 0;
    wstr_copy(buffer, size, g_jam.asks[0]);
    g_jam.ask_count--;
    memmove(&g_jam.asks[0], &g_jam.asks[1], g_jam.ask_count * sizeof g_jam.asks[0]);
    return 1;
}

//~ Messages

// "<kind>|<tag>|<name>|<room>", or without the name when it is null.
static void room_message(char* out, const char* kind, const wchar_t* name, const char* room_id) {
    char tag[WIRE_TAG_BYTES + 1], who[WIRE_TAG_BYTES + 1], room[JAM_ROOM_ID_CAPACITY];
    wire_text(g_identity.tag, WIRE_TAG_BYTES, tag, sizeof tag);
    jam_wire_room_id(room_id, room, sizeof room);
    if (name) {
        wire_text(name, WIRE_TAG_BYTES, who, sizeof who);
        snprintf(out, JAM_MESSAGE_CAPACITY, "%s|%s|%s|%s", kind, tag, who, room);
    } else {
        snprintf(out, JAM_MESSAGE_CAPACITY, "%s|%s|%s", kind, tag, room);
    }
}

void jam_ask_state(void) {
    if (g_jam.state != JAM_IN_ROOM || !g_jam.room_id[0]) return;
    char message[JAM_MESSAGE_CAPACITY];
    room_message(message, "JAM_ASK", nullptr, g_jam.room_id);
    const wchar_t* asked = nullptr;
    if (g_jam.source_tag[0] && member_index(g_jam.source_tag) >= 0) asked = g_jam.source_tag;
    else if (g_jam.member_count > 0) asked = g_jam.members[0].tag;
    // The JAM_STATE that answers measures the way there and back.
    peer_delay_asked(asked, PEER_QUESTION_STATE, tick_fine());
    if (asked) send_to_user(asked, message);
    else jam_publish_to_room(message);
}

//~ The user's actions

void jam_start_room(void) {
    if (has_room()) return;
    jam_clear();
    make_room_id();
    g_jam.state = JAM_IN_ROOM;
    g_jam.host = 1;
    g_jam.holder_is_me = 1;
    jam_set_notice(L"Jam odas\u0131 olu\u015fturuldu \u2022 M\u00fczik ba\u015flat ve arkada\u015flar\u0131n\u0131 davet et", 0,
                   nullptr);
    subscribe_room();
    char message[JAM_MESSAGE_CAPACITY];
    room_message(message, "JAM_JOIN", g_identity.name, g_jam.room_id);
    jam_publish_to_room(message);
}

void jam_invite(const wchar_t* tag, const wchar_t* name) {
    if (!tag || !tag[0] || is_me(tag) || jam_is_member(tag)) return;
    if (has_room()) {
        char slug[64];
        tag_slug(g_identity.tag, slug, sizeof slug);
        if (g_jam.member_count == 0 || (slug[0] && strstr(g_jam.room_id, slug))) g_jam.host = 1;
    } else {
        jam_clear();
        make_room_id();
        g_jam.state = JAM_INVITING;
        g_jam.host = 1;
        g_jam.holder_is_me = 1;
        subscribe_room();
    }
    g_jam.invite_time = tick_now();
    // Inviting again someone whose invitation is still open sends it again without
    // counting it twice: one answer will come.
    jam_invited_add(g_jam.invited, &g_jam.invited_count, tag, g_jam.invite_time);
    g_jam.pending_invites = jam_invited_pending(g_jam.invited, g_jam.invited_count, g_jam.invite_time);
    wstr_copy(g_jam.invitee_tag, tag);
    wstr_copy(g_jam.invitee_name, name && name[0] ? name : tag);
    if (g_jam.state == JAM_INVITING) {
        jam_set_notice(NOTICE_INVITING, 0, nullptr);
    } else if (g_jam.notice_kind == 0) {
        wchar_t notice[128];
        wstr_format(notice, 128, L"%ls odaya davet edildi \u2022 Canl\u0131 senkron aktif", g_jam.invitee_name);
        jam_set_notice(notice, 0, nullptr);
    }
    char message[JAM_MESSAGE_CAPACITY];
    room_message(message, "JAM_INV", g_identity.name, g_jam.room_id);
    send_to_user(tag, message);
}

void jam_accept_invitation(void) {
    jam_tick();
    if (!g_jam.invitation.pending) return;
    JamInvitation invitation = g_jam.invitation;
    g_jam.invitation.pending = 0;
    if (g_jam.state != JAM_NONE && strcmp(g_jam.room_id, invitation.room_id) != 0) jam_leave();
    g_jam.state = JAM_IN_ROOM;
    g_jam.host = 0;
    strcpy(g_jam.room_id, invitation.room_id);
    jam_member_add(invitation.tag, invitation.name[0] ? invitation.name : invitation.tag);
    wstr_copy(g_jam.source_tag, invitation.tag);
    // Until someone answers, the inviter is taken to hold the room's state.
    wstr_copy(g_jam.holder, invitation.tag);
    g_jam.joined_at = tick_now();
    if (!g_jam.joined_at) g_jam.joined_at = 1;
    subscribe_room();
    jam_set_notice(L"Odaya ba\u011flan\u0131ld\u0131 \u2022 Canl\u0131 yay\u0131n senkronize ediliyor...", 0, nullptr);
    char message[JAM_MESSAGE_CAPACITY];
    room_message(message, "JAM_JOIN", g_identity.name, g_jam.room_id);
    send_to_user(invitation.tag, message);
    jam_publish_to_room(message);
    room_message(message, "JAM_ASK", nullptr, g_jam.room_id);
    peer_delay_asked(invitation.tag, PEER_QUESTION_STATE, tick_fine());
    send_to_user(invitation.tag, message);
    jam_publish_to_room(message);
}

void jam_decline_invitation(void) {
    if (!g_jam.invitation.pending) return;
    char message[JAM_MESSAGE_CAPACITY];
    room_message(message, "JAM_REJ", nullptr, g_jam.invitation.room_id);
    send_to_user(g_jam.invitation.tag, message);
    g_jam.invitation.pending = 0;
}

void jam_close_silently(void) {
    if (g_jam.room_id[0]) {
        char topic[JAM_TOPIC_CAPACITY];
        jam_room_topic(g_jam.room_id, topic, sizeof topic);
        mqtt_unsubscribe(topic);
    }
    jam_clear();
}

void jam_leave(void) {
    if (g_jam.state == JAM_NONE) return;
    char message[JAM_MESSAGE_CAPACITY];
    room_message(message, "JAM_LEAVE", nullptr, g_jam.room_id);
    jam_publish_to_room(message);
    for (int i = 0; i < g_jam.member_count; i++) send_to_user(g_jam.members[i].tag, message);
    // Everyone still invited, not only the last one.
    DWORD now = tick_now();
    for (int i = 0; i < g_jam.invited_count; i++) {
        const JamInvited* e = &g_jam.invited[i];
        if (!e->answered && ticks_since(e->at, now) <= JAM_LIFE_MS && member_index(e->tag) < 0)
            send_to_user(e->tag, message);
    }
    jam_close_silently();
}

void jam_tick_at(DWORD now) {
    if (g_jam.state == JAM_INVITING && ticks_since(g_jam.invite_time, now) > JAM_LIFE_MS) jam_close_silently();
    if (g_jam.state != JAM_NONE) g_jam.pending_invites = jam_invited_pending(g_jam.invited, g_jam.invited_count, now);
    // A joiner that heard nothing asks once more: whoever it asked then answers, even when
    // it does not hold the room's state (its holder may be gone without a word).
    if (g_jam.state == JAM_IN_ROOM && g_jam.joined_at && !g_jam.asked_again &&
        ticks_since(g_jam.joined_at, now) > JAM_JOIN_ASK_AGAIN_MS) {
        g_jam.asked_again = 1;
        jam_ask_state();
    }
    if (g_jam.invitation.pending && ticks_since(g_jam.invitation.received_at, now) > JAM_LIFE_MS)
        g_jam.invitation.pending = 0;
}

void jam_tick(void) { jam_tick_at(tick_now()); }

//~ Queries

int jam_state(void) {
    jam_tick();
    return g_jam.state;
}
int jam_is_active(void) { return jam_state() != JAM_NONE; }
int jam_in_room(void) { return jam_state() == JAM_IN_ROOM; }
// The creator while it is in the room; after it left, the member with the lowest number, a
// rule every member applies to the same list, so that they agree without a message.
static int creator_present(void) {
    for (int i = 0; i < g_jam.member_count; i++)
        if (jam_room_created_by(g_jam.room_id, g_jam.members[i].tag)) return 1;
    return 0;
}

static int acts_as_host(void) {
    if (g_jam.host || jam_room_created_by(g_jam.room_id, g_identity.tag)) return 1;
    return !creator_present() && jam_elect_host(g_identity.tag, g_jam.members, g_jam.member_count) < 0;
}

int jam_is_host(void) { return jam_in_room() && acts_as_host(); }
int jam_invitation_pending(void) {
    jam_tick();
    return g_jam.invitation.pending;
}
int jam_member_count(void) { return g_jam.member_count; }
int jam_is_member(const wchar_t* tag) {
    if (!tag || !tag[0]) return 0;
    if (member_index(tag) >= 0) return 1;
    return g_jam.state == JAM_INVITING && same_user(g_jam.invitee_tag, tag);
}
const wchar_t* jam_inviter_name(void) {
    return g_jam.invitation.name[0] ? g_jam.invitation.name : g_jam.invitation.tag;
}
const wchar_t* jam_inviter_tag(void) { return g_jam.invitation.tag; }
int jam_notice_is_progress(void) { return g_jam.notice_kind == 1; }
const wchar_t* jam_notice_second_line(void) { return g_jam.notice_second_line; }

//~ Receiving

void jam_took_action(void) {
    g_jam.holder_is_me = 1;
    g_jam.holder[0] = 0;
    g_jam.joined_at = 0;
}

// The host holds the room's state when the member who held it leaves.
static void pass_state_on(const wchar_t* leaving) {
    if (g_jam.holder_is_me || !same_user(g_jam.holder, leaving)) return;
    g_jam.holder[0] = 0;
    if (acts_as_host()) {
        g_jam.holder_is_me = 1;
        return;
    }
    for (int i = 0; i < g_jam.member_count; i++) {
        if (jam_room_created_by(g_jam.room_id, g_jam.members[i].tag)) {
            wstr_copy(g_jam.holder, g_jam.members[i].tag);
            return;
        }
    }
    int elected = jam_elect_host(g_identity.tag, g_jam.members, g_jam.member_count);
    if (elected >= 0) wstr_copy(g_jam.holder, g_jam.members[elected].tag);
}

static JamAsker* asker_record(const wchar_t* tag) {
    for (JamAsker& a : g_jam.askers)
        if (a.tag[0] && same_user(a.tag, tag)) return &a;
    JamAsker* a = &g_jam.askers[g_jam.asker_next];
    g_jam.asker_next = (g_jam.asker_next + 1) % JAM_ASK_QUEUE_MAX;
    *a = JamAsker{};
    wstr_copy(a->tag, tag);
    return a;
}

static int ms_since(DWORD then, DWORD now) {
    if (!then) return -1;
    DWORD d = ticks_since(then, now);
    return d > 0x7FFFFFFF ? 0x7FFFFFFF : (int)d;
}

// A joiner or a member asks for the room's state: queued for an answer when this user is
// the one to give it.
static void consider_answer(const wchar_t* tag, int directly) {
    DWORD now = tick_now();
    g_jam.other_ask_at = now ? now : 1;
    wstr_copy(g_jam.other_asker, tag);
    if (g_jam.notice_kind != 0) return;  // fetching: nothing to answer with
    JamAsker* a = asker_record(tag);
    JamAskView view;
    view.i_hold_state = g_jam.holder_is_me;
    view.holder_present = g_jam.holder_is_me || member_index(g_jam.holder) >= 0;
    view.asked_directly = directly;
    view.asked_directly_ms_ago = ms_since(a->asked_directly_at, now);
    view.answered_ms_ago = ms_since(a->answered_at, now);
    if (jam_should_answer(&view)) {
        jam_queue_asker(tag);
        a->answered_at = now ? now : 1;
        a->asked_directly_at = 0;
    } else if (directly) {
        a->asked_directly_at = now ? now : 1;
    }
}

static void on_invitation(const JamWireMessage* m) {
    // Only friends invite: the program never sends an invitation from anywhere but a friend
    // row, and a stranger's must not pop up over the window.
    if (!m->tag[0] || !m->room_id[0] || is_me(m->tag) || friend_find(m->tag) < 0) return;
    if (g_jam.state != JAM_NONE && strcmp(g_jam.room_id, m->room_id) == 0) return;
    g_jam.invitation.pending = 1;
    g_jam.invitation.received_at = tick_now();
    strcpy(g_jam.invitation.room_id, m->room_id);
    wstr_copy(g_jam.invitation.tag, m->tag);
    wstr_copy(g_jam.invitation.name, m->name);
}

static void count_answer(const wchar_t* tag) {
    DWORD now = tick_now();
    jam_invited_answer(g_jam.invited, g_jam.invited_count, tag, now);
    g_jam.pending_invites = jam_invited_pending(g_jam.invited, g_jam.invited_count, now);
}

static void on_join(const JamWireMessage* m, int directly) {
    if (!m->tag[0] || is_me(m->tag)) return;
    int added = jam_member_add(m->tag, m->name);
    g_jam.state = JAM_IN_ROOM;
    count_answer(m->tag);
    if (!added) return;
    if (g_jam.notice_kind == 0) jam_set_notice(NOTICE_SYNC_ACTIVE, 0, nullptr);
    char message[JAM_MESSAGE_CAPACITY];
    room_message(message, "JAM_HERE", g_identity.name, g_jam.room_id);
    send_to_user(m->tag, message);
    jam_publish_to_room(message);
    consider_answer(m->tag, directly);
}

static void on_leave(const JamWireMessage* m) {
    if (!m->tag[0] || is_me(m->tag)) return;
    jam_member_remove(m->tag);
    pass_state_on(m->tag);
    if (g_jam.pending_invites == 0 && g_jam.member_count == 0) jam_close_silently();
}

static void on_sync(const JamWireMessage* m, int own, DWORD arrived_at) {
    if (!m->tag[0] || is_me(m->tag)) return;
    jam_member_add(m->tag, nullptr);
    g_jam.state = JAM_IN_ROOM;
    // A state sent to this user alone answers its ask.
    if (m->kind == JAM_MSG_STATE && own) peer_delay_answered(m->tag, PEER_QUESTION_STATE, arrived_at);
    DWORD now = tick_now();
    if (m->kind == JAM_MSG_STATE &&
        !jam_state_is_for_me(own, ms_since(g_jam.other_ask_at, now), same_user(m->tag, g_jam.other_asker),
                             !g_jam.holder_is_me && same_user(m->tag, g_jam.holder)))
        return;
    wstr_copy(g_jam.source_tag, m->tag);
    wstr_copy(g_jam.holder, m->tag);
    g_jam.holder_is_me = 0;
    g_jam.joined_at = 0;
    JamSync* s = &g_jam.sync;
    *s = JamSync{};
    s->valid = 1;
    s->is_position = m->kind == JAM_MSG_POS;
    s->command = s->is_position ? m->command : (m->command != 0);
    s->playing = s->is_position ? m->command == 1 : m->command != 0;
    s->position_ms = m->position_ms;
    DWORD handled = tick_fine();
    s->received_at = jam_fixed_allowances() ? handled : arrived_at;
    int delay = jam_fixed_allowances() ? -1 : peer_delay_of(m->tag, handled);
    s->delay_known = delay >= 0;
    s->delay_ms = delay >= 0 ? delay : 0;
    wstr_copy(s->sender, m->tag);
    wstr_copy(s->video_id, m->video_id);
    wstr_copy(s->title, m->title);
}

int jam_room_topic_now(char* out, int capacity) {
    if (capacity > 0) out[0] = 0;
    if (!g_jam.room_id[0]) return 0;
    jam_room_topic(g_jam.room_id, out, capacity);
    return 1;
}

void jam_protocol_handle(const char* topic, const char* payload, DWORD arrived_at) {
    if (!topic || !payload || !payload[0]) return;
    JamWireMessage m;
    if (jam_wire_parse(payload, &m)) jam_protocol_take(topic, payload, &m, arrived_at);
}

void jam_protocol_take(const char* topic, const char* payload, const JamWireMessage* parsed, DWORD arrived_at) {
    if (!topic || !payload || !parsed) return;
    if (!arrived_at) arrived_at = tick_fine();
    char room_topic[JAM_TOPIC_CAPACITY];
    jam_room_topic_now(room_topic, sizeof room_topic);
    int own_index = own_topic_index(topic);
    int own = own_index >= 0;
    if (!own && !(room_topic[0] && _stricmp(topic, room_topic) == 0)) return;
    const JamWireMessage& m = *parsed;
    // Each message comes on every topic it was sent to: one arrival of it counts.
    int path = own ? JAM_PATH_OWN_FIRST + own_index : JAM_PATH_ROOM;
    if (mqtt_recent_seen(&g_copies, mqtt_message_hash("", payload), path, tick_now())) return;
    if (m.kind == JAM_MSG_INV) {
        if (own) on_invitation(&m);
        return;
    }
    if (g_jam.state == JAM_NONE || strcmp(m.room_id, g_jam.room_id) != 0) return;
    switch (m.kind) {
    case JAM_MSG_JOIN: on_join(&m, own); break;
    case JAM_MSG_HERE:
        if (m.tag[0] && !is_me(m.tag)) {
            jam_member_add(m.tag, m.name);
            g_jam.state = JAM_IN_ROOM;
        }
        break;
    case JAM_MSG_REJ:
        count_answer(m.tag);
        if (g_jam.state == JAM_INVITING && g_jam.member_count == 0 && g_jam.pending_invites == 0) jam_close_silently();
        break;
    case JAM_MSG_LEAVE: on_leave(&m); break;
    case JAM_MSG_ASK:
        if (g_jam.state != JAM_IN_ROOM || !m.tag[0] || is_me(m.tag)) break;
        jam_member_add(m.tag, nullptr);
        consider_answer(m.tag, own);
        break;
    case JAM_MSG_STATE:
    case JAM_MSG_POS: on_sync(&m, own, arrived_at); break;
    }
}

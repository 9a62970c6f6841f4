#include "social/jam_rules.h"

#include <string.h>

#include "base/ticks.h"
#include "base/wstr.h"
#include "social/identity.h"

//~ Invitations

static int invitation_live(const JamInvited* e, DWORD now) {
    return !e->answered && ticks_since(e->at, now) <= JAM_LIFE_MS;
}

int jam_invited_add(JamInvited* list, int* count, const wchar_t* tag, DWORD now) {
    if (!tag || !tag[0]) return 0;
    JamInvited* slot = nullptr;
    for (int i = 0; i < *count; i++) {
        if (!same_user(list[i].tag, tag)) continue;
        if (invitation_live(&list[i], now)) return 0;
        slot = &list[i];
        break;
    }
    if (!slot) {
        if (*count < JAM_MEMBERS_MAX) {
            slot = &list[(*count)++];
        } else {
            // Reuse an entry that no longer waits for anything.
            for (int i = 0; i < *count && !slot; i++)
                if (!invitation_live(&list[i], now)) slot = &list[i];
            if (!slot) return 0;
        }
    }
    wstr_copy(slot->tag, tag);
    slot->at = now ? now : 1;
    slot->answered = 0;
    return 1;
}

int jam_invited_answer(JamInvited* list, int count, const wchar_t* tag, DWORD now) {
    if (!tag || !tag[0]) return 0;
    for (int i = 0; i < count; i++) {
        if (!same_user(list[i].tag, tag) || !invitation_live(&list[i], now)) continue;
        list[i].answered = 1;
        return 1;
    }
    return 0;
}

int jam_invited_pending(const JamInvited* list, int count, DWORD now) {
    int pending = 0;
    for (int i = 0; i < count; i++) pending += invitation_live(&list[i], now);
    return pending;
}

//~ Answers

int jam_should_answer(const JamAskView* v) {
    if (v->answered_ms_ago >= 0 && v->answered_ms_ago < JAM_ANSWER_REPEAT_MS) return 0;
    if (v->i_hold_state) return 1;
    // An earlier direct ask, not the other half of the same join (a JOIN and an ASK come
    // together), that nobody answered.
    int asking_again = v->asked_directly_ms_ago >= JAM_ANSWER_REPEAT_MS && v->asked_directly_ms_ago < JAM_ASK_AGAIN_MS;
    return v->asked_directly && (!v->holder_present || asking_again);
}

int jam_state_is_for_me(int on_own_topic, int other_ask_ms_ago, int from_the_asker, int from_the_holder) {
    if (on_own_topic || from_the_asker || from_the_holder) return 1;
    return !(other_ask_ms_ago >= 0 && other_ask_ms_ago < JAM_OTHERS_ANSWER_MS);
}

//~ Host

void jam_room_creator_number(const char* room_id, wchar_t* number, int capacity) {
    if (capacity <= 0) return;
    number[0] = 0;
    if (!room_id || strncmp(room_id, "jam_", 4) != 0) return;
    // "jam_" <slug> "_" <tick>: the slug ends with the creator's number ("ayse_1111").
    const char* tick = strrchr(room_id, '_');
    if (!tick || tick < room_id + 4) return;
    const char* end = tick;
    const char* start = end;
    while (start > room_id + 4 && start[-1] >= '0' && start[-1] <= '9') start--;
    int n = 0;
    for (const char* p = start; p < end && n < capacity - 1; p++) number[n++] = (wchar_t)*p;
    number[n] = 0;
}

int jam_room_created_by(const char* room_id, const wchar_t* tag) {
    wchar_t creator[16], number[16];
    jam_room_creator_number(room_id, creator, 16);
    int n = tag_number(tag, number, 16);
    // Numbers of one or two digits are too common to name a user alone: then the whole slug.
    if (wcslen(creator) > 2 && n > 2) return wcscmp(creator, number) == 0;
    char slug[64];
    if (!tag_slug(tag, slug, sizeof slug) || !room_id) return 0;
    size_t length = strlen(slug);
    return strncmp(room_id, "jam_", 4) == 0 && strncmp(room_id + 4, slug, length) == 0 && room_id[4 + length] == '_';
}

// The tag's number as a value; tags without one sort last.
static long long number_value(const wchar_t* tag) {
    wchar_t digits[16];
    if (!tag_number(tag, digits, 16)) return 0x7FFFFFFFFFFFll;
    long long v = 0;
    for (const wchar_t* p = digits; *p; p++) v = v * 10 + (*p - L'0');
    return v;
}

static int lower_than(const wchar_t* a, const wchar_t* b) {
    long long x = number_value(a), y = number_value(b);
    if (x != y) return x < y;
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_LESS_THAN;
}

int jam_elect_host(const wchar_t* me, const JamMember* members, int count) {
    int best = -1;
    const wchar_t* best_tag = me;
    for (int i = 0; i < count; i++) {
        if (lower_than(members[i].tag, best_tag)) {
            best = i;
            best_tag = members[i].tag;
        }
    }
    return best;
}

#pragma once
// The decisions that keep a room of several members in step although every message reaches
// a member several times (the user's two own topics, the room topic) and every member hears
// every other: which copy is new, whose answer counts, who answers a joiner, who is host.
// Pure functions of their inputs; the room record feeds them.
#include <windows.h>

#include "social/jam.h"

// Where a message arrived, as the path bit of the copy filter the room shares with the
// transport (mqtt_recent_seen): the room topic, or one of the user's own topics.
enum { JAM_PATH_ROOM = 0, JAM_PATH_OWN_FIRST = 1 };

//~ Invitations

// 1 when this makes tag's invitation pending (a new one, or again after an answer or its
// expiry); 0 when one is pending already or the list is full of pending ones.
int jam_invited_add(JamInvited* list, int* count, const wchar_t* tag, DWORD now);
// 1 when this is the first answer (a join or a decline) to tag's pending invitation; a
// copy, a second answer or an answer nobody asked for changes nothing.
int jam_invited_answer(JamInvited* list, int count, const wchar_t* tag, DWORD now);
// Invitations neither answered nor older than JAM_LIFE_MS.
int jam_invited_pending(const JamInvited* list, int count, DWORD now);

//~ Answers

// What this member knows when a joiner or a member asks for the room's state.
struct JamAskView {
    int i_hold_state;         // this user acted last, or holds the room's state as its host
    int holder_present;       // whoever holds it is a member here
    int asked_directly;       // the ask came on one of the user's own topics
    int asked_directly_ms_ago;  // since the asker last asked this user directly, unanswered; -1 never
    int answered_ms_ago;      // since this user last answered the asker; -1 never
};
enum { JAM_ANSWER_REPEAT_MS = 2000, JAM_ASK_AGAIN_MS = 20000, JAM_OTHERS_ANSWER_MS = 3000 };

// Whether this member answers: the one who holds the room's state answers; anyone asked
// directly answers when the holder is gone, or when the asker asks it directly again
// between JAM_ANSWER_REPEAT_MS and JAM_ASK_AGAIN_MS after an unanswered ask; nobody answers
// the same asker twice within JAM_ANSWER_REPEAT_MS (a join asks twice at once).
int jam_should_answer(const JamAskView* view);

// Whether a received JAM_STATE is for this user: one on an own topic answers this user's
// ask; one on the room topic within JAM_OTHERS_ANSWER_MS of another member's ask, from
// neither the asker nor the member holding the room's state, is taken as an answer meant
// for the asker (an idle member of an older version answers on the room topic, and would
// rewind the room); anything else is a member starting a track. other_ask_ms_ago: -1 when
// none.
int jam_state_is_for_me(int on_own_topic, int other_ask_ms_ago, int from_the_asker, int from_the_holder);

//~ Host

// The number that names the room's creator, from "jam_<slug>_<tick>"; "" when none.
void jam_room_creator_number(const char* room_id, wchar_t* number, int capacity);
// Whether tag created the room.
int jam_room_created_by(const char* room_id, const wchar_t* tag);
// Who acts as host when the creator is not in the room: the lowest number among the user
// and the members (by value, then the tag's text). -1 for the user, else a member's index.
int jam_elect_host(const wchar_t* me, const JamMember* members, int count);

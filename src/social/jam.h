#pragma once
// Jam rooms: friends listening to the same track at the same moment. A room is a topic on
// the brokers named by an id its creator makes up; the members follow whoever last started,
// paused, resumed or sought. Main thread only.
#include <windows.h>

#include "base/wanted_track.h"

enum { JAM_NONE = 0, JAM_INVITING = 1, JAM_IN_ROOM = 2 };
enum {
    JAM_MEMBERS_MAX = 64,
    JAM_ASK_QUEUE_MAX = 8,
    JAM_ROOM_ID_CAPACITY = 64,
    JAM_TAG_CAPACITY = 32,
    JAM_NAME_CAPACITY = 64,
    JAM_LIFE_MS = 45000,  // of an unanswered invitation, sent or received
    JAM_JOIN_ASK_AGAIN_MS = 3000,  // a joiner without an answer asks once more after this
};

struct JamMember {
    wchar_t tag[JAM_TAG_CAPACITY];
    wchar_t name[JAM_NAME_CAPACITY];
};

// A received JAM_STATE or JAM_POS waiting to be applied; a newer one overwrites it.
struct JamSync {
    int valid;
    int playing;      // JAM_STATE: its flag; JAM_POS: command 1
    int is_position;  // 1 for JAM_POS
    int command;      // JAM_STATE: the flag as 0 or 1; JAM_POS: as received (1 play, 0 pause, -1 seek)
    int position_ms;  // never negative
    // When the message arrived (tick_fine): read by the transport, or, with the fixed
    // allowances, handled here.
    DWORD received_at;
    // The delay measured from its sender when it arrived (social/peer_delay.h), added
    // instead of the fixed allowance when known.
    int delay_known;
    int delay_ms;
    wchar_t sender[JAM_TAG_CAPACITY];
    wchar_t video_id[WANTED_ID_CAPACITY];
    wchar_t title[WANTED_TITLE_CAPACITY];
};

// An invitation this user sent, until its join or decline.
struct JamInvited {
    wchar_t tag[JAM_TAG_CAPACITY];
    DWORD at;
    int answered;
};

// A member who asked this user for the room's state: when, and when it was answered.
struct JamAsker {
    wchar_t tag[JAM_TAG_CAPACITY];
    DWORD asked_directly_at;  // 0: not asked directly, or answered since
    DWORD answered_at;        // 0: never
};

struct JamInvitation {
    int pending;
    char room_id[JAM_ROOM_ID_CAPACITY];
    wchar_t tag[JAM_TAG_CAPACITY];
    wchar_t name[JAM_NAME_CAPACITY];
    DWORD received_at;
};

struct JamRoom {
    int state;  // JAM_*
    char room_id[JAM_ROOM_ID_CAPACITY];
    JamMember members[JAM_MEMBERS_MAX];  // never the user
    int member_count;
    wchar_t invitee_tag[JAM_TAG_CAPACITY];
    wchar_t invitee_name[JAM_NAME_CAPACITY];
    int pending_invites;
    DWORD invite_time;
    wchar_t source_tag[JAM_TAG_CAPACITY];  // whose state this user follows
    wchar_t notice[128];
    int notice_kind;  // 0 sync notice, 1 download progress
    wchar_t notice_second_line[256];
    int host;
    JamInvitation invitation;
    JamSync sync;
    wchar_t asks[JAM_ASK_QUEUE_MAX][JAM_TAG_CAPACITY];
    int ask_count;
    // Who was invited and has not answered yet: each answer counts once, however many
    // copies of it arrive.
    JamInvited invited[JAM_MEMBERS_MAX];
    int invited_count;
    // Who holds the room's state: this user when it acted last (or made the room), else
    // the member who did.
    int holder_is_me;
    wchar_t holder[JAM_TAG_CAPACITY];
    DWORD other_ask_at;  // when another member last joined or asked; 0 never
    wchar_t other_asker[JAM_TAG_CAPACITY];  // and who
    JamAsker askers[JAM_ASK_QUEUE_MAX];
    int asker_next;
    DWORD joined_at;     // when this user joined as a guest, until a state arrives; 0 otherwise
    int asked_again;     // the joiner's one repeated ask was sent
};

// The track the room plays that this user lacks, and where the room was with it.
struct JamWanted {
    WantedTrack track;
    int position_ms;
    DWORD time;  // tick_fine at which position_ms held; 0 unknown
    int playing;
    int delay_known;  // the delay of the message that told it, as in JamSync
    int delay_ms;
};

extern JamRoom g_jam;
extern JamWanted g_jam_wanted;

//~ The room (lifecycle, invitations, members, texts)

void jam_reset(void);
void jam_clear(void);
void jam_start_room(void);
void jam_invite(const wchar_t* tag, const wchar_t* name);
void jam_accept_invitation(void);
void jam_decline_invitation(void);
void jam_leave(void);
void jam_close_silently(void);
void jam_tick(void);
void jam_tick_at(DWORD now);  // jam_tick on a given clock

int jam_state(void);  // ticks first
int jam_is_active(void);
int jam_in_room(void);
int jam_is_host(void);
int jam_invitation_pending(void);
int jam_member_count(void);
int jam_is_member(const wchar_t* tag);
const wchar_t* jam_inviter_name(void);
const wchar_t* jam_inviter_tag(void);
int jam_notice_is_progress(void);
const wchar_t* jam_notice_second_line(void);  // "" when none

// The user starts, pauses, resumes or seeks: the room's state is this user's now.
void jam_took_action(void);

int jam_member_add(const wchar_t* tag, const wchar_t* name);
void jam_member_remove(const wchar_t* tag);
void jam_queue_asker(const wchar_t* tag);
int jam_next_asker(wchar_t* buffer, int size);
void jam_ask_state(void);

// The Jam bar's title: the room's size and who is in it, each member who is not a verified
// friend marked " (?)".
void jam_banner_text(wchar_t* buffer, int size);
void jam_notice_text(wchar_t* buffer, int size);
// kind 1 marks a download in progress (the Jam bar grows for its progress line).
void jam_set_notice(const wchar_t* text, int kind, const wchar_t* second_line);

// A transport message after the friend protocol has seen it; arrived_at is the transport's
// stamp (tick_fine), 0 for the moment of the call.
void jam_protocol_handle(const char* topic, const char* payload, DWORD arrived_at = 0);
// The same for a message already read by jam_wire_parse; payload is its text, by which the
// copies that come on several topics are told apart.
struct JamWireMessage;
void jam_protocol_take(const char* topic, const char* payload, const JamWireMessage* m, DWORD arrived_at = 0);
// The topic of the room whose messages the protocol takes: whenever a room id is set,
// inviting included. Returns 0 with out empty when there is none.
int jam_room_topic_now(char* out, int capacity);

//~ Playback sync

void jam_send_state(int playing, const wchar_t* title, const wchar_t* video_id, int position_ms);
void jam_send_state_to(const wchar_t* tag, int playing, const wchar_t* title, const wchar_t* video_id, int position_ms);
void jam_send_pos(int command, int position_ms);
int jam_take_sync(JamSync* record);
// 1: received positions are advanced by the fixed allowances and their age counts from
// their handling, as older versions of the program do; 0 (the default): by the delay
// measured from their sender, from their arrival. The benchmark compares the two.
void jam_use_fixed_allowances(int fixed);
int jam_fixed_allowances(void);

// Where the room's wanted track is now (for starting it once fetched); never below 0.
int jam_position_estimate(void);
int jam_position_estimate_at(DWORD now);
void jam_wanted_clear(void);

// What this installation has when a sync is applied.
struct JamLocal {
    DWORD now;            // tick_fine, right before the player is called
    int has_current;      // a track is current
    int current_index;    // which
    int loaded;           // and the player holds it (not stopped)
    int current_matches;  // and it is the record's track
    int found_index;      // otherwise the library's track that is, or -1
    int position_ms;      // the player's
    int playing;          // the player's
    int fetch_running;    // the Jam fetch
    // How long the last call that moved the player here took (a seek, or an opening where the
    // player reopens the file to seek, as Wine's must): a sender's message leaves only after
    // its own such call returned, a delay no round trip sees, and the same call delays this
    // player's start. Added with a measured delay.
    int player_call_ms;
};

// What applying a sync asks of the shell, in this order: ask the room; stop the player;
// seek; pause or resume; play a track; stop or start the fetch; set the notice.
struct JamSyncPlan {
    int ask_state;
    int stop_player;
    int seek_ms;  // -1: none
    int pause;
    int resume;
    int play_index;  // -1: none
    int play_at_ms;
    int play_paused;
    int stop_fetch;
    int start_fetch;
    const wchar_t* notice;  // nullptr: unchanged
    int refresh_presence;
};

// Decides what a received state or position means here; updates wanted (the missing track)
// as the decision requires. Returns 0 when nothing is to be done.
int jam_plan_sync(const JamSync* record, const JamLocal* local, JamWanted* wanted, JamSyncPlan* plan);

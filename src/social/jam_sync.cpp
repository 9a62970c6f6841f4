// Playback sync in a Jam room: the state and position messages, and what a received one
// means for this installation's player.
#include <windows.h>

#include <string.h>

#include "base/ticks.h"
#include "base/wstr.h"
#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/jam.h"
#include "social/jam_wire.h"

JamWanted g_jam_wanted;

// Added to a playing position for the way from its sender when nothing is measured of it
// (no round trip with the sender yet, or the fixed allowances asked for); the age since it
// arrived is measured and added besides.
enum { POS_ALLOWANCE_MS = 50, STATE_ALLOWANCE_MS = 60, FETCHED_ALLOWANCE_MS = 90 };
enum { DRIFT_PLAYING_MS = 650, DRIFT_PAUSED_MS = 250, MAX_AGE_MS = 5000 };

static const wchar_t NOTICE_IN_SYNC[] = L"\u2713 Canl\u0131 milisaniye senkronize";
static const wchar_t NOTICE_PAUSED[] = L"\u23f8 Ortak duraklat\u0131ld\u0131";

static int g_fixed_allowances;

void jam_use_fixed_allowances(int fixed) { g_fixed_allowances = fixed ? 1 : 0; }
int jam_fixed_allowances(void) { return g_fixed_allowances; }

static int can_send(void) { return g_jam.state == JAM_IN_ROOM && g_jam.room_id[0]; }

void jam_send_state(int playing, const wchar_t* title, const wchar_t* video_id, int position_ms) {
    if (!can_send()) return;
    char message[JAM_MESSAGE_CAPACITY];
    jam_state_format(message, sizeof message, g_identity.tag, g_jam.room_id, playing, position_ms, video_id, title);
    jam_publish_to_room(message);
    jam_took_action();
}

// An answer goes to the asker alone: on the room topic it would move the other members,
// who cannot tell it from a member starting a track.
void jam_send_state_to(const wchar_t* tag, int playing, const wchar_t* title, const wchar_t* video_id,
                       int position_ms) {
    if (!can_send() || !tag || !tag[0]) return;
    char message[JAM_MESSAGE_CAPACITY];
    jam_state_format(message, sizeof message, g_identity.tag, g_jam.room_id, playing, position_ms, video_id, title);
    send_to_user(tag, message);
}

void jam_send_pos(int command, int position_ms) {
    if (!can_send()) return;
    char message[JAM_MESSAGE_CAPACITY];
    jam_pos_format(message, sizeof message, g_identity.tag, g_jam.room_id, command, position_ms);
    jam_publish_to_room(message);
    jam_took_action();
}

int jam_take_sync(JamSync* record) {
    if (!g_jam.sync.valid) return 0;
    *record = g_jam.sync;
    g_jam.sync = JamSync{};
    return 1;
}

int jam_position_estimate_at(DWORD now) {
    long long p = g_jam_wanted.position_ms;
    if (g_jam_wanted.playing && g_jam_wanted.time != 0) {
        p += (long long)ticks_since(g_jam_wanted.time, now);
        p += g_jam_wanted.delay_known ? g_jam_wanted.delay_ms : FETCHED_ALLOWANCE_MS;
    }
    if (p < 0) p = 0;
    if (p > 0x3FFFFFFF) p = 0x3FFFFFFF;
    return (int)p;
}

int jam_position_estimate(void) { return jam_position_estimate_at(tick_fine()); }

void jam_wanted_clear(void) {
    g_jam_wanted.track.title[0] = 0;
    g_jam_wanted.track.video_id[0] = 0;
}

static int same_text(const wchar_t* a, const wchar_t* b) {
    return a[0] && b[0] && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The way from the record's sender: measured, or the fixed allowance.
static int way_of(const JamSync* r, const JamLocal* local, int allowance) {
    return r->delay_known ? r->delay_ms + local->player_call_ms : allowance;
}

static void want_from(const JamSync* r, const JamLocal* local, JamWanted* wanted) {
    wanted->position_ms = r->position_ms;
    wanted->time = r->received_at ? r->received_at : local->now;
    wanted->delay_known = r->delay_known;
    wanted->delay_ms = r->delay_ms;
}

// What the room's position means here now: a playing one has moved on since it arrived.
static int age_of(const JamSync* r, DWORD now) {
    if (r->received_at == 0 || !tick_reached(r->received_at, now)) return 0;
    DWORD age = ticks_since(r->received_at, now);
    return age > MAX_AGE_MS ? 0 : (int)age;
}

static void plan_position(const JamSync* r, const JamLocal* local, int age, JamWanted* wanted, JamSyncPlan* plan) {
    int way = way_of(r, local, POS_ALLOWANCE_MS);
    if (local->fetch_running && (wanted->track.title[0] || wanted->track.video_id[0])) {
        // The fetched track will start where the room is when it arrives.
        want_from(r, local, wanted);
        if (r->command == 0 || r->command == 1) wanted->playing = r->command;
        plan->refresh_presence = 0;
        return;
    }
    if (!local->has_current) {
        plan->ask_state = 1;
        plan->refresh_presence = 0;
        return;
    }
    if (!local->loaded) {
        // A stopped player keeps nothing to resume or seek in: a play opens the track where
        // the room is; a pause or a seek leaves it stopped.
        if (r->command > 0) {
            plan->play_index = local->current_index;
            plan->play_at_ms = r->position_ms + age + way;
            plan->notice = NOTICE_IN_SYNC;
        } else if (r->command == 0) {
            plan->notice = NOTICE_PAUSED;
        }
        return;
    }
    if (r->command < 0) {
        plan->seek_ms = local->playing ? r->position_ms + age + way : r->position_ms;
    } else if (r->command > 0) {
        plan->seek_ms = r->position_ms + age + way;
        plan->resume = !local->playing;
        plan->notice = NOTICE_IN_SYNC;
    } else {
        plan->pause = local->playing;
        plan->seek_ms = r->position_ms;
        plan->notice = NOTICE_PAUSED;
    }
}

static void plan_state(const JamSync* r, const JamLocal* local, int age, JamWanted* wanted, JamSyncPlan* plan) {
    if (!r->title[0] && !r->video_id[0]) {
        plan->refresh_presence = 0;
        return;
    }
    int target = r->playing ? r->position_ms + age + way_of(r, local, STATE_ALLOWANCE_MS) : r->position_ms;
    if (local->has_current && local->current_matches && !local->loaded) {
        // Stopped on the room's track: opened again where the room is, as play would.
        plan->play_index = local->current_index;
        plan->play_at_ms = target;
        plan->play_paused = !r->playing;
    } else if (local->has_current && local->current_matches) {
        int drift = target - local->position_ms;
        if (drift < 0) drift = -drift;
        if (drift > (r->playing ? DRIFT_PLAYING_MS : DRIFT_PAUSED_MS)) plan->seek_ms = target;
        plan->pause = !r->playing && local->playing;
        plan->resume = r->playing && !local->playing;
    } else if (local->found_index >= 0) {
        wanted->track.title[0] = 0;
        wanted->track.video_id[0] = 0;
        plan->stop_fetch = 1;
        plan->play_index = local->found_index;
        plan->play_at_ms = target;
        plan->play_paused = !r->playing;
    } else {
        plan->stop_player = 1;
        int same = same_text(r->video_id, wanted->track.video_id) || same_text(r->title, wanted->track.title);
        want_from(r, local, wanted);
        wanted->playing = r->playing;
        if (!same || !local->fetch_running) {
            wstr_copy(wanted->track.title, r->title);
            wstr_copy(wanted->track.video_id, r->video_id);
            if (!local->fetch_running) plan->start_fetch = 1;
            else plan->stop_fetch = 1;  // its end starts the fetch of the new track
        }
        return;  // the notice is the fetch's; presence was refreshed by the stop
    }
    plan->notice = r->playing ? NOTICE_IN_SYNC : NOTICE_PAUSED;
}

int jam_plan_sync(const JamSync* record, const JamLocal* local, JamWanted* wanted, JamSyncPlan* plan) {
    *plan = JamSyncPlan{};
    plan->seek_ms = -1;
    plan->play_index = -1;
    if (!record || !record->valid || g_jam.state != JAM_IN_ROOM) return 0;
    plan->refresh_presence = 1;
    int age = age_of(record, local->now);
    if (record->is_position) plan_position(record, local, age, wanted, plan);
    else plan_state(record, local, age, wanted, plan);
    if (plan->stop_player) plan->refresh_presence = 1;
    return 1;
}

#include "social/peer_delay.h"

#include "base/ticks.h"
#include "base/wstr.h"
#include "social/identity.h"

//~ The estimate

int peer_delay_add(PeerDelaySamples* s, DWORD sent_at, DWORD arrived_at) {
    DWORD trip = ticks_since(sent_at, arrived_at);
    if (trip > (DWORD)PEER_DELAY_ROUND_TRIP_MAX_MS) return 0;  // a wrapped difference lands here too
    int slot = s->count < PEER_DELAY_SAMPLES ? s->count++ : s->next;
    s->next = (slot + 1) % PEER_DELAY_SAMPLES;
    s->sample[slot].at = arrived_at;
    s->sample[slot].round_trip_ms = (int)trip;
    return 1;
}

int peer_delay_estimate(const PeerDelaySamples* s, DWORD now) {
    int best = -1;
    for (int i = 0; i < s->count; i++) {
        const PeerDelaySample* e = &s->sample[i];
        // A sample stamped after now belongs to no clock this one can compare with.
        if (!tick_reached(e->at, now) || ticks_since(e->at, now) > (DWORD)PEER_DELAY_WINDOW_MS) continue;
        if (best < 0 || e->round_trip_ms < best) best = e->round_trip_ms;
    }
    return best < 0 ? -1 : (best + 1) / 2;
}

//~ The peers

struct PeerQuestion {
    int waiting;
    DWORD sent_at;
};

struct PeerDelay {
    wchar_t tag[USER_TAG_CAPACITY];
    PeerQuestion asked[PEER_QUESTIONS];
    PeerDelaySamples samples;
    DWORD used_at;
};

static PeerDelay g_peers[PEER_DELAY_PEERS];
static int g_peer_count;
// A JAM_ASK published on the room topic: the first member to answer it answers it.
static PeerQuestion g_asked_anyone;

static PeerDelay* find_peer(const wchar_t* tag) {
    for (int i = 0; i < g_peer_count; i++)
        if (same_user(g_peers[i].tag, tag)) return &g_peers[i];
    return nullptr;
}

// The peer's record, made when new; the one used longest ago gives way when all are taken.
static PeerDelay* peer_record(const wchar_t* tag, DWORD now) {
    PeerDelay* p = find_peer(tag);
    if (!p) {
        if (g_peer_count < PEER_DELAY_PEERS) {
            p = &g_peers[g_peer_count++];
        } else {
            p = &g_peers[0];
            for (PeerDelay& q : g_peers)
                if (ticks_since(q.used_at, now) > ticks_since(p->used_at, now)) p = &q;
        }
        *p = PeerDelay{};
        wstr_copy(p->tag, tag);
    }
    p->used_at = now;
    return p;
}

static int still_waiting(const PeerQuestion* q, DWORD now) {
    return q->waiting && ticks_since(q->sent_at, now) <= (DWORD)PEER_DELAY_ROUND_TRIP_MAX_MS;
}

static void note_question(PeerQuestion* q, DWORD now) {
    if (still_waiting(q, now)) return;
    q->waiting = 1;
    q->sent_at = now;
}

void peer_delay_asked(const wchar_t* tag, int question, DWORD now) {
    if (question < 0 || question >= PEER_QUESTIONS) return;
    if (!tag || !tag[0]) {
        if (question == PEER_QUESTION_STATE) note_question(&g_asked_anyone, now);
        return;
    }
    note_question(&peer_record(tag, now)->asked[question], now);
}

void peer_delay_answered(const wchar_t* tag, int question, DWORD arrived_at) {
    if (!tag || !tag[0] || question < 0 || question >= PEER_QUESTIONS) return;
    PeerDelay* p = find_peer(tag);
    PeerQuestion* q = p && p->asked[question].waiting ? &p->asked[question] : nullptr;
    if (!q && question == PEER_QUESTION_STATE && g_asked_anyone.waiting) q = &g_asked_anyone;
    // Read before the question went out: the answer to an earlier one, which has its own.
    if (!q || !tick_reached(q->sent_at, arrived_at)) return;
    q->waiting = 0;
    if (!p) p = peer_record(tag, arrived_at);
    peer_delay_add(&p->samples, q->sent_at, arrived_at);
    p->used_at = arrived_at;
}

int peer_delay_of(const wchar_t* tag, DWORD now) {
    const PeerDelay* p = tag && tag[0] ? find_peer(tag) : nullptr;
    return p ? peer_delay_estimate(&p->samples, now) : -1;
}

void peer_delay_reset(void) {
    g_peer_count = 0;
    g_asked_anyone = PeerQuestion{};
}

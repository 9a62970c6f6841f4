#pragma once
// How long a message takes from another installation to this one, learnt from the round
// trips the program makes anyway: a PING answered by a PONG, a JAM_ASK answered by a
// JAM_STATE. Half the round trip is the one-way delay; as NTP does, the smallest of the recent
// round trips is taken, since queues and a busy answerer only ever add to a trip. Times are
// on tick_fine's clock (base/ticks.h).
#include <windows.h>

enum {
    PEER_DELAY_SAMPLES = 8,         // round trips kept per peer: half a minute of pings
    PEER_DELAY_WINDOW_MS = 30000,   // a round trip counts this long, so a longer route takes over
    PEER_DELAY_ROUND_TRIP_MAX_MS = 1500,  // longer: an answer to another question, or none
    PEER_DELAY_PEERS = 64,
};
enum { PEER_QUESTION_PING = 0, PEER_QUESTION_STATE = 1, PEER_QUESTIONS = 2 };

struct PeerDelaySample {
    DWORD at;  // when the answer arrived
    int round_trip_ms;
};
struct PeerDelaySamples {
    PeerDelaySample sample[PEER_DELAY_SAMPLES];
    int count;
    int next;  // the slot the next sample overwrites once all are used
};

//~ The estimate (pure)

// Keeps the round trip of a question sent at sent_at and answered at arrived_at; 1 when
// kept, 0 when it is longer than PEER_DELAY_ROUND_TRIP_MAX_MS (or arrived before it was sent).
int peer_delay_add(PeerDelaySamples* samples, DWORD sent_at, DWORD arrived_at);
// Half the smallest round trip among those that arrived within PEER_DELAY_WINDOW_MS before
// now, rounded; -1 when there is none.
int peer_delay_estimate(const PeerDelaySamples* samples, DWORD now);

//~ The peers (main thread)

// A question went to tag (to anyone who answers when tag is empty or null). An earlier one
// that still waits for its answer keeps its time: the first answer belongs to it, and taking
// it for a later one would make the trip look shorter than it was.
void peer_delay_asked(const wchar_t* tag, int question, DWORD now);
// An answer from tag that arrived at arrived_at (the transport's stamp).
void peer_delay_answered(const wchar_t* tag, int question, DWORD arrived_at);
// The one-way delay from tag, or -1 when nothing recent is known.
int peer_delay_of(const wchar_t* tag, DWORD now);
void peer_delay_reset(void);

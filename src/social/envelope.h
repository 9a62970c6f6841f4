#pragma once
// Signed envelopes between Nelvo installations that pinned each other's keys. A message
// travels whole after a prefix the original program takes no action on:
//   "NSIG|<sender number>|<send time, ms since 1970>|<signature, base64url>|<message>"
// The signature covers "<to>|<sender number>|<send time>|<message>", where to is the
// recipient's number for a message to a user and the topic for a message to a room, so
// that an envelope cannot be replayed to someone else or into another room. Pure.
#include "social/signing.h"

#define ENVELOPE_PREFIX "NSIG|"
// The key record each installation keeps retained on its key topic: "NKEY|<tag>|<key>".
#define KEY_RECORD_PREFIX "NKEY|"

enum {
    ENVELOPE_NUMBER_CAPACITY = 16,
    // What an envelope adds to its message at most: prefix, number, time, signature, bars.
    ENVELOPE_OVERHEAD_MAX = 5 + 15 + 1 + 20 + 1 + (SIGNING_TEXT_CAPACITY - 1) + 1,
    // How far a send time may be from the receiver's clock.
    ENVELOPE_CLOCK_SLACK_MS = 120000,
};

struct Envelope {
    char number[ENVELOPE_NUMBER_CAPACITY];
    long long time_ms;
    unsigned char signature[SIGNATURE_BYTES];
    const char* message;  // inside the parsed payload
};

// 1 when payload is a well-formed envelope (number of 1..15 digits, time of 1..19 digits,
// a 64-byte signature, a message of at least one character).
int envelope_parse(const char* payload, Envelope* out);
// The text a signature covers; returns its length, or -1 when it does not fit.
int envelope_signed_text(const char* to, const char* number, long long time_ms, const char* message, char* out,
                         int capacity);
// The envelope for a signed message; returns its length, or -1 when it does not fit.
int envelope_format(const char* number, long long time_ms, const unsigned char signature[SIGNATURE_BYTES],
                    const char* message, char* out, int capacity);

enum { ENVELOPE_FRESH = 0, ENVELOPE_STALE = 1, ENVELOPE_REPLAYED = 2 };
// Whether a send time may count: within the slack of now, and later than the last one
// accepted from the same sender for the same recipient (0: none yet).
int envelope_time_verdict(long long time_ms, long long now_ms, long long last_accepted_ms);
// The next send time: now, or one past the last when the clock has not moved on (or went
// back), so that the receiver's last-accepted rule never drops a message of ours.
long long envelope_next_time(long long now_ms, long long last_sent_ms);

// A key record's tag and key: 1 when it is "NKEY|<tag>|<43..86 base64url characters>".
int key_record_parse(const char* payload, char* tag, int tag_capacity, char* key, int key_capacity);

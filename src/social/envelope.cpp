#include "social/envelope.h"

#include <stdio.h>
#include <string.h>

// A run of 1..max ASCII digits at text, ending at '|'; its length, 0 when it is not one.
static int digit_field(const char* text, int max) {
    int n = 0;
    while (text[n] >= '0' && text[n] <= '9') n++;
    return n >= 1 && n <= max && text[n] == '|' ? n : 0;
}

int envelope_parse(const char* payload, Envelope* out) {
    static const int PREFIX_LENGTH = (int)sizeof ENVELOPE_PREFIX - 1;
    if (!payload || strncmp(payload, ENVELOPE_PREFIX, PREFIX_LENGTH) != 0) return 0;
    const char* p = payload + PREFIX_LENGTH;
    int n = digit_field(p, ENVELOPE_NUMBER_CAPACITY - 1);
    if (!n) return 0;
    memcpy(out->number, p, (size_t)n);
    out->number[n] = 0;
    p += n + 1;
    n = digit_field(p, 18);  // below 2^63 whatever the digits
    if (!n) return 0;
    out->time_ms = 0;
    for (int i = 0; i < n; i++) out->time_ms = out->time_ms * 10 + (p[i] - '0');
    p += n + 1;
    const char* bar = strchr(p, '|');
    if (!bar || base64url_decode(p, (int)(bar - p), out->signature, SIGNATURE_BYTES) != SIGNATURE_BYTES) return 0;
    out->message = bar + 1;
    return out->message[0] != 0;
}

int envelope_signed_text(const char* to, const char* number, long long time_ms, const char* message, char* out,
                         int capacity) {
    int n = snprintf(out, (size_t)capacity, "%s|%s|%lld|%s", to, number, time_ms, message);
    return n >= 0 && n < capacity ? n : -1;
}

int envelope_format(const char* number, long long time_ms, const unsigned char signature[SIGNATURE_BYTES],
                    const char* message, char* out, int capacity) {
    char signature_text[SIGNING_TEXT_CAPACITY];
    if (base64url_encode(signature, SIGNATURE_BYTES, signature_text, SIGNING_TEXT_CAPACITY) < 0) return -1;
    int n = snprintf(out, (size_t)capacity, ENVELOPE_PREFIX "%s|%lld|%s|%s", number, time_ms, signature_text, message);
    return n >= 0 && n < capacity ? n : -1;
}

int envelope_time_verdict(long long time_ms, long long now_ms, long long last_accepted_ms) {
    long long off = time_ms - now_ms;
    if (off > ENVELOPE_CLOCK_SLACK_MS || off < -ENVELOPE_CLOCK_SLACK_MS) return ENVELOPE_STALE;
    if (time_ms <= last_accepted_ms) return ENVELOPE_REPLAYED;
    return ENVELOPE_FRESH;
}

long long envelope_next_time(long long now_ms, long long last_sent_ms) {
    return now_ms > last_sent_ms ? now_ms : last_sent_ms + 1;
}

int key_record_parse(const char* payload, char* tag, int tag_capacity, char* key, int key_capacity) {
    static const int PREFIX_LENGTH = (int)sizeof KEY_RECORD_PREFIX - 1;
    if (!payload || strncmp(payload, KEY_RECORD_PREFIX, PREFIX_LENGTH) != 0) return 0;
    const char* t = payload + PREFIX_LENGTH;
    const char* bar = strchr(t, '|');
    if (!bar || bar == t || bar - t >= tag_capacity) return 0;
    const char* k = bar + 1;
    int key_length = (int)strlen(k);
    unsigned char point[SIGNING_KEY_BYTES];
    if (key_length >= key_capacity || base64url_decode(k, key_length, point, SIGNING_KEY_BYTES) != SIGNING_KEY_BYTES)
        return 0;
    memcpy(tag, t, (size_t)(bar - t));
    tag[bar - t] = 0;
    memcpy(key, k, (size_t)key_length + 1);
    return 1;
}

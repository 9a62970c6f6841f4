#include "net/mqtt_packets.h"

#include <stdlib.h>
#include <string.h>

int mqtt_utf8_cut(const char* text, int length, int limit) {
    if (length <= limit) return length;
    // Back over the continuation bytes (10xxxxxx) of the character that the limit would
    // split, to its first byte: at most three in a well-formed text.
    int cut = limit;
    while (cut > 0 && cut > limit - 3 && ((uint8_t)text[cut] & 0xC0) == 0x80) cut--;
    return cut;
}

void mqtt_normalize_topic(char* out, const char* topic) {
    int length = 0;
    while (length < MQTT_TOPIC_CAPACITY && topic[length]) length++;
    int n = mqtt_utf8_cut(topic, length, MQTT_TOPIC_CAPACITY - 1);
    for (int i = 0; i < n; i++) out[i] = (topic[i] == '#' || topic[i] == '+') ? '_' : topic[i];
    out[n] = 0;
}

void mqtt_client_id(char* out, int link_index, const char* seed, uint32_t tick) {
    char letters[13];
    int n = 0;
    for (const char* p = seed ? seed : ""; *p && n < 12; p++) {
        char c = *p;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) letters[n++] = c;
    }
    letters[n] = 0;
    // Built by hand: the seed is someone's name and never a format.
    char digits[16];
    int d = 0;
    unsigned long stamp = tick % 1000000u;
    do {
        digits[d++] = (char)('0' + stamp % 10);
        stamp /= 10;
    } while (stamp);
    int at = 0;
    out[at++] = 'n';
    out[at++] = 'v';
    out[at++] = (char)('0' + (link_index % 10));
    const char* name = n ? letters : "pc";
    for (const char* p = name; *p; p++) out[at++] = *p;
    while (d) out[at++] = digits[--d];
    out[at] = 0;
}

static int put_remaining_length(uint8_t* out, uint32_t value) {
    int n = 0;
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value) byte |= 0x80;
        out[n++] = byte;
    } while (value);
    return n;
}

static int put_string(uint8_t* out, const char* text, int length) {
    out[0] = (uint8_t)(length >> 8);
    out[1] = (uint8_t)(length & 0xFF);
    memcpy(out + 2, text, (size_t)length);
    return length + 2;
}

int mqtt_build_connect(uint8_t* out, int capacity, const char* client_id) {
    int n = (int)strlen(client_id);
    if (n < 1 || n > 96 || capacity < 14 + n) return 0;
    static const uint8_t HEAD[] = {0x00, 0x04, 'M', 'Q', 'T', 'T', 0x04, 0x02, 0x00, 0x1E};
    int at = 0;
    out[at++] = 0x10;
    out[at++] = (uint8_t)(12 + n);
    memcpy(out + at, HEAD, sizeof HEAD);
    at += sizeof HEAD;
    return at + put_string(out + at, client_id, n);
}

static int build_topic_packet(uint8_t* out, int capacity, uint8_t type, uint16_t packet_id, const char* topic,
                              int with_qos) {
    int n = (int)strlen(topic);
    if (n < 1 || n > 200) return 0;
    uint32_t remaining = (uint32_t)(n + 4 + with_qos);
    if (capacity < 4 + (int)remaining) return 0;
    int at = 0;
    out[at++] = type;
    at += put_remaining_length(out + at, remaining);
    out[at++] = (uint8_t)(packet_id >> 8);
    out[at++] = (uint8_t)(packet_id & 0xFF);
    at += put_string(out + at, topic, n);
    if (with_qos) out[at++] = 0x00;
    return at;
}

int mqtt_build_subscribe(uint8_t* out, int capacity, uint16_t packet_id, const char* topic) {
    return build_topic_packet(out, capacity, 0x82, packet_id, topic, 1);
}

int mqtt_build_unsubscribe(uint8_t* out, int capacity, uint16_t packet_id, const char* topic) {
    return build_topic_packet(out, capacity, 0xA2, packet_id, topic, 0);
}

int mqtt_build_publish(uint8_t* out, int capacity, const char* topic, const char* payload, int payload_length,
                       int retain) {
    int t = (int)strlen(topic);
    if (t < 1 || payload_length < 0) return 0;
    int remaining = 2 + t + payload_length;
    if (remaining > MQTT_PUBLISH_MAX) return 0;
    if (capacity < 1 + 2 + remaining) return 0;
    int at = 0;
    out[at++] = retain ? 0x31 : 0x30;
    at += put_remaining_length(out + at, (uint32_t)remaining);
    at += put_string(out + at, topic, t);
    memcpy(out + at, payload, (size_t)payload_length);
    return at + payload_length;
}

int mqtt_build_pingreq(uint8_t* out, int capacity) {
    if (capacity < 2) return 0;
    out[0] = 0xC0;
    out[1] = 0x00;
    return 2;
}

uint16_t mqtt_next_packet_id(uint16_t* counter) {
    if (*counter == 0) *counter = 1;
    uint16_t id = *counter;
    *counter = id == 65535 ? 1 : (uint16_t)(id + 1);
    return id;
}

int mqtt_remaining_length_byte(uint8_t byte, int* count, uint32_t* value) {
    if (*count >= 4) return -1;
    if (*count == 0) *value = 0;
    *value |= (uint32_t)(byte & 0x7F) << (7 * *count);
    (*count)++;
    if (!(byte & 0x80)) return 1;
    return *count >= 4 ? -1 : 0;
}

int mqtt_header_malformed(uint8_t header) {
    int type = header >> 4;
    return type == 0 || type == 15 || (type == 3 && (header & 0x06) == 0x06);
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) without
// U+0000, as MQTT requires of a topic.
static int topic_text_valid(const uint8_t* p, int length) {
    for (int i = 0; i < length;) {
        uint8_t c = p[i];
        if (c == 0) return 0;
        if (c < 0x80) {
            i++;
            continue;
        }
        int more;
        uint32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            code = c & 0x07;
        } else {
            return 0;
        }
        if (i + more >= length) return 0;
        for (int k = 1; k <= more; k++) {
            if ((p[i + k] & 0xC0) != 0x80) return 0;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if ((more == 2 && code < 0x800) || (more == 3 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return 0;
        i += 1 + more;
    }
    return 1;
}

int mqtt_parse_publish(uint8_t header, const uint8_t* body, int length, char* topic, char* payload) {
    if (length < 2) return 0;
    int topic_length = (body[0] << 8) | body[1];
    int payload_at = 2 + topic_length + ((header & 0x06) ? 2 : 0);
    if (length < payload_at) return 0;
    if (topic_length == 0 || !topic_text_valid(body + 2, topic_length)) return -1;
    if (topic_length > MQTT_TOPIC_CAPACITY - 1) return 0;
    int payload_length = length - payload_at;
    if (payload_length <= 0 || memchr(body + payload_at, 0, (size_t)payload_length)) return 0;
    memcpy(topic, body + 2, (size_t)topic_length);
    topic[topic_length] = 0;
    payload_length = mqtt_utf8_cut((const char*)body + payload_at, payload_length, MQTT_PAYLOAD_CAPACITY - 1);
    memcpy(payload, body + payload_at, (size_t)payload_length);
    payload[payload_length] = 0;
    return 1;
}

uint64_t mqtt_message_hash(const char* topic, const char* payload) {
    uint64_t h = 14695981039346656037ull;
    for (const char* p = topic; *p; p++) h = (h ^ (uint8_t)*p) * 1099511628211ull;
    h = (h ^ 0xFF) * 1099511628211ull;
    for (const char* p = payload; *p; p++) h = (h ^ (uint8_t)*p) * 1099511628211ull;
    return h;
}

enum { RECENT_MIN_CAPACITY = 64 };

static bool recent_expired(const MqttRecentSlot* slot, uint32_t now) {
    return (uint32_t)(now - slot->time) >= MQTT_COPY_MEMORY_MS;
}

static MqttRecentSlot* recent_probe(MqttRecentSlot* slots, int capacity, uint64_t hash) {
    uint32_t mask = (uint32_t)capacity - 1;
    uint32_t i = (uint32_t)(hash ^ (hash >> 32)) & mask;
    while (slots[i].time && slots[i].hash != hash) i = (i + 1) & mask;
    return &slots[i];
}

// A table four times the size of what is still remembered, holding only that.
static bool recent_rebuild(MqttRecent* recent, uint32_t now) {
    int live = 0;
    for (int i = 0; i < recent->capacity; i++) live += recent->slots[i].time && !recent_expired(&recent->slots[i], now);
    int capacity = RECENT_MIN_CAPACITY;
    while (capacity < (live + 1) * 4) capacity *= 2;
    MqttRecentSlot* slots = (MqttRecentSlot*)calloc((size_t)capacity, sizeof(MqttRecentSlot));
    if (!slots) return false;
    for (int i = 0; i < recent->capacity; i++) {
        const MqttRecentSlot* old = &recent->slots[i];
        if (old->time && !recent_expired(old, now)) *recent_probe(slots, capacity, old->hash) = *old;
    }
    free(recent->slots);
    recent->slots = slots;
    recent->capacity = capacity;
    recent->used = live;
    recent->rebuilt_at = now;
    return true;
}

int mqtt_recent_seen(MqttRecent* recent, uint64_t hash, int link, uint32_t now) {
    uint32_t stamp = now ? now : 1;
    uint32_t bit = 1u << (link & 31);
    // Without memory for a new table the old one serves on while it has room.
    if (recent->capacity > RECENT_MIN_CAPACITY && (uint32_t)(now - recent->rebuilt_at) >= MQTT_COPY_MEMORY_MS)
        recent_rebuild(recent, now);
    if (recent->slots) {
        MqttRecentSlot* slot = recent_probe(recent->slots, recent->capacity, hash);
        if (slot->time) {
            if (!recent_expired(slot, now) && !(slot->links & bit)) {
                slot->links |= bit;
                return 1;
            }
            slot->time = stamp;
            slot->links = bit;
            return 0;
        }
    }
    // Without memory for a larger table the message is let through unremembered.
    if ((recent->used + 1) * 2 > recent->capacity && !recent_rebuild(recent, now)) return 0;
    MqttRecentSlot* slot = recent_probe(recent->slots, recent->capacity, hash);
    slot->hash = hash;
    slot->time = stamp;
    slot->links = bit;
    recent->used++;
    return 0;
}

void mqtt_recent_clear(MqttRecent* recent) {
    free(recent->slots);
    memset(recent, 0, sizeof *recent);
}

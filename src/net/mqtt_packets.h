#pragma once
// The bytes of the MQTT 3.1.1 packets this client sends, and the decisions about what it
// receives, as plain functions of their inputs. The link threads only move them over TCP.
#include <stdint.h>

enum {
    MQTT_TOPIC_CAPACITY = 128,    // topics, NUL included
    MQTT_PAYLOAD_CAPACITY = 1024, // received payloads, NUL included
    MQTT_PUBLISH_MAX = 4000,      // whole outgoing PUBLISH after the first two header bytes
    MQTT_BODY_MAX = 3999,         // largest incoming PUBLISH body that is read
    MQTT_CLIENT_ID_CAPACITY = 64,
    // How long a message is remembered for the other broker's copy: well above the 45 s after
    // which a link that stopped talking is dropped, so that the slower broker's copy is still
    // known however far that link fell behind.
    MQTT_COPY_MEMORY_MS = 60000,
};

// '#' and '+' become '_' (the client never subscribes with wildcards), cut to 127 bytes
// at most, never inside a UTF-8 character (a strict broker refuses such a topic).
void mqtt_normalize_topic(char* out, const char* topic);

// "nv<link><seed letters and digits, at most 12, or "pc"><tick mod 1000000>".
void mqtt_client_id(char* out, int link_index, const char* seed, uint32_t tick);

// Each builder writes one packet into out and returns its length, or 0 when the inputs
// are outside the packet's limits or it does not fit in capacity.
int mqtt_build_connect(uint8_t* out, int capacity, const char* client_id);
int mqtt_build_subscribe(uint8_t* out, int capacity, uint16_t packet_id, const char* topic);
int mqtt_build_unsubscribe(uint8_t* out, int capacity, uint16_t packet_id, const char* topic);
int mqtt_build_publish(uint8_t* out, int capacity, const char* topic, const char* payload, int payload_length,
                       int retain);
int mqtt_build_pingreq(uint8_t* out, int capacity);

// Identifiers run 1..65535 and wrap to 1; 0 is never handed out.
uint16_t mqtt_next_packet_id(uint16_t* counter);

// The variable-length remaining length, read one byte at a time: returns 1 when value is
// complete, 0 when another byte is needed, -1 when a fifth byte would be needed.
int mqtt_remaining_length_byte(uint8_t byte, int* count, uint32_t* value);

// A fixed header that MQTT 3.1.1 forbids a broker to send: the reserved packet types 0
// and 15, or a PUBLISH with both QoS bits set. The connection is then closed.
int mqtt_header_malformed(uint8_t header);

// How many bytes of text (length bytes long) to keep so that at most limit remain and
// no UTF-8 character is split.
int mqtt_utf8_cut(const char* text, int length, int limit);

// What a received PUBLISH body holds. Returns 1 with topic and payload copied
// (NUL-terminated, payload cut to 1023 bytes on a character boundary) when it is
// delivered; 0 when it is dropped: body shorter than its topic (and packet id for QoS
// above 0), topic longer than 127 bytes (the longest this client subscribes to), empty payload or one that holds a NUL (it is
// text, and a shortened message must not pass for the whole); -1 when the topic is
// malformed (empty, not UTF-8, or holding U+0000), which closes the connection.
int mqtt_parse_publish(uint8_t header, const uint8_t* body, int length, char* topic, char* payload);

// 64-bit FNV-1a over the topic, one 0xFF byte and the payload.
uint64_t mqtt_message_hash(const char* topic, const char* payload);

// The messages taken in the last 60 s, however many: a burst of retained messages on
// connect runs one link far ahead of the other. Each is known by its hash, when its current
// instance first arrived and which links have brought that instance. An open-addressing
// table, at most half full, rebuilt without the expired entries when it fills up or has not
// been rebuilt for 60 s (so that it shrinks again after a burst).
struct MqttRecentSlot {
    uint64_t hash;
    uint32_t time;   // tick in ms of the instance's first arrival; 0 = empty
    uint32_t links;  // bit per link index
};
struct MqttRecent {
    MqttRecentSlot* slots;  // heap; nullptr before the first message
    int capacity;           // a power of two
    int used;               // occupied slots, the expired included
    uint32_t rebuilt_at;
};

// A message that arrived on link (0..31) at now. Each broker carries every message once, so
// one that another link already brought is that broker's copy: 1, it is dropped, however
// late. One that this link brought before is a new sending of the same text, as is one not
// known or forgotten: it is remembered as a new instance and 0 is returned.
int mqtt_recent_seen(MqttRecent* recent, uint64_t hash, int link, uint32_t now);
// Forgets everything and frees the table.
void mqtt_recent_clear(MqttRecent* recent);

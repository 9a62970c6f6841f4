// The MQTT packets byte for byte, and what the client keeps or drops of what it receives.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "net/mqtt_packets.h"

static std::vector<uint8_t> bytes(const uint8_t* p, int n) { return std::vector<uint8_t>(p, p + n); }

TEST(MqttPackets, ConnectSubscribeUnsubscribePing) {
    uint8_t out[512];
    int n = mqtt_build_connect(out, sizeof out, "nv0ayse1234567");
    std::vector<uint8_t> connect = {0x10, 26, 0x00, 0x04, 'M', 'Q', 'T', 'T', 0x04, 0x02, 0x00, 0x1E, 0x00, 14};
    for (char c : std::string("nv0ayse1234567")) connect.push_back((uint8_t)c);
    EXPECT_EQ(bytes(out, n), connect);
    EXPECT_EQ(mqtt_build_connect(out, sizeof out, ""), 0);
    EXPECT_EQ(mqtt_build_connect(out, sizeof out, std::string(97, 'a').c_str()), 0);
    EXPECT_EQ(mqtt_build_connect(out, sizeof out, std::string(96, 'a').c_str()), 2 + 12 + 96);

    n = mqtt_build_subscribe(out, sizeof out, 0x1234, "nelvo/u/ayse");
    std::vector<uint8_t> sub = {0x82, 17, 0x12, 0x34, 0x00, 12};
    for (char c : std::string("nelvo/u/ayse")) sub.push_back((uint8_t)c);
    sub.push_back(0x00);
    EXPECT_EQ(bytes(out, n), sub);

    n = mqtt_build_unsubscribe(out, sizeof out, 65535, "a/b");
    EXPECT_EQ(bytes(out, n), (std::vector<uint8_t>{0xA2, 7, 0xFF, 0xFF, 0x00, 3, 'a', '/', 'b'}));
    EXPECT_EQ(mqtt_build_subscribe(out, sizeof out, 1, ""), 0);
    EXPECT_EQ(mqtt_build_subscribe(out, sizeof out, 1, std::string(201, 't').c_str()), 0);
    // 200 bytes still fits; its remaining length needs two bytes.
    n = mqtt_build_subscribe(out, sizeof out, 1, std::string(200, 't').c_str());
    EXPECT_EQ(n, 1 + 2 + 205);
    EXPECT_EQ(out[1], (uint8_t)((205 & 0x7F) | 0x80));
    EXPECT_EQ(out[2], 1);

    n = mqtt_build_pingreq(out, sizeof out);
    EXPECT_EQ(bytes(out, n), (std::vector<uint8_t>{0xC0, 0x00}));
}

TEST(MqttPackets, PublishWithAndWithoutRetainAndItsSizeLimit) {
    static uint8_t out[8192];
    int n = mqtt_build_publish(out, sizeof out, "t/x", "hi", 2, 0);
    EXPECT_EQ(bytes(out, n), (std::vector<uint8_t>{0x30, 7, 0x00, 3, 't', '/', 'x', 'h', 'i'}));
    n = mqtt_build_publish(out, sizeof out, "t/x", "", 0, 1);
    EXPECT_EQ(bytes(out, n), (std::vector<uint8_t>{0x31, 5, 0x00, 3, 't', '/', 'x'})) << "clears a retained message";

    std::string topic = "nelvo/jam/room";
    std::string fits(3998 - topic.size(), 'p');
    n = mqtt_build_publish(out, sizeof out, topic.c_str(), fits.c_str(), (int)fits.size(), 0);
    ASSERT_EQ(n, 1 + 2 + 4000);
    EXPECT_EQ(out[1], (uint8_t)((4000 & 0x7F) | 0x80));
    EXPECT_EQ(out[2], (uint8_t)(4000 >> 7));
    std::string over = fits + "p";
    EXPECT_EQ(mqtt_build_publish(out, sizeof out, topic.c_str(), over.c_str(), (int)over.size(), 0), 0);
    EXPECT_EQ(mqtt_build_publish(out, sizeof out, "", "x", 1, 0), 0);
}

TEST(MqttPackets, TopicsLoseWildcardsAndClientIdsTheirOddCharacters) {
    char topic[MQTT_TOPIC_CAPACITY];
    mqtt_normalize_topic(topic, "nelvo/+/u/#");
    EXPECT_STREQ(topic, "nelvo/_/u/_");
    mqtt_normalize_topic(topic, std::string(300, 'a').c_str());
    EXPECT_EQ(strlen(topic), 127u);
    // The 127-byte cut never splits a character: a strict broker refuses the topic.
    const struct {
        std::string in, out;
    } cuts[] = {
        {std::string(126, 'a') + "\xC5\x9F" "x", std::string(126, 'a')},
        {std::string(125, 'a') + "\xC5\x9F" "x", std::string(125, 'a') + "\xC5\x9F"},
        {std::string(125, 'a') + "\xE2\x82\xAC", std::string(125, 'a')},
        {std::string(124, 'a') + "\xF0\x9F\x98\x80", std::string(124, 'a')},
        {std::string(123, 'a') + "\xF0\x9F\x98\x80" "x", std::string(123, 'a') + "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cuts) {
        mqtt_normalize_topic(topic, c.in.c_str());
        EXPECT_EQ(std::string(topic), c.out) << c.in.size() << " bytes in";
    }

    char id[MQTT_CLIENT_ID_CAPACITY];
    mqtt_client_id(id, 1, "ay\xc5\x9f" "e#1234-longer-than-twelve", 123456789u);
    EXPECT_STREQ(id, "nv1aye1234longe456789") << "first 12 letters and digits, tick mod 1000000";
    mqtt_client_id(id, 0, "%s%n#", 5u);
    EXPECT_STREQ(id, "nv0sn5");
    mqtt_client_id(id, 0, "#-!", 0u);
    EXPECT_STREQ(id, "nv0pc0");
    mqtt_client_id(id, 1, nullptr, 999999u);
    EXPECT_STREQ(id, "nv1pc999999");
}

TEST(MqttPackets, PacketIdentifiersWrapFrom65535ToOne) {
    uint16_t counter = 1;
    EXPECT_EQ(mqtt_next_packet_id(&counter), 1);
    EXPECT_EQ(mqtt_next_packet_id(&counter), 2);
    counter = 65534;
    EXPECT_EQ(mqtt_next_packet_id(&counter), 65534);
    EXPECT_EQ(mqtt_next_packet_id(&counter), 65535);
    EXPECT_EQ(mqtt_next_packet_id(&counter), 1);
}

static int decode(const std::vector<uint8_t>& in, uint32_t* value) {
    int count = 0, state = 0;
    for (uint8_t b : in) {
        state = mqtt_remaining_length_byte(b, &count, value);
        if (state != 0) return state;
    }
    return state;
}

TEST(MqttPackets, RemainingLengths) {
    uint32_t v = 0;
    EXPECT_EQ(decode({0x00}, &v), 1);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(decode({0xC1, 0x02}, &v), 1);
    EXPECT_EQ(v, 321u);
    EXPECT_EQ(decode({0xFF, 0xFF, 0xFF, 0x7F}, &v), 1);
    EXPECT_EQ(v, 268435455u);
    EXPECT_EQ(decode({0x80, 0x00}, &v), 1) << "an overlong zero still reads as zero";
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(decode({0xFF, 0x00}, &v), 1);
    EXPECT_EQ(v, 127u);
    EXPECT_EQ(decode({0x80, 0x80, 0x80, 0x80, 0x01}, &v), -1) << "no fifth byte";
    EXPECT_EQ(decode({0x80, 0xE4, 0xDF}, &v), 0) << "incomplete";
}

static int parse(uint8_t header, const std::vector<uint8_t>& body, std::string* topic, std::string* payload) {
    char t[MQTT_TOPIC_CAPACITY], p[MQTT_PAYLOAD_CAPACITY];
    int kept = mqtt_parse_publish(header, body.data(), (int)body.size(), t, p);
    if (kept) {
        *topic = t;
        *payload = p;
    }
    return kept;
}

static std::vector<uint8_t> publish_body(const std::string& topic, const std::string& payload, int packet_id = -1) {
    std::string b;
    b += (char)(topic.size() >> 8);
    b += (char)(topic.size() & 0xFF);
    b += topic;
    if (packet_id >= 0) {
        b += (char)(packet_id >> 8);
        b += (char)(packet_id & 0xFF);
    }
    b += payload;
    return std::vector<uint8_t>(b.begin(), b.end());
}

TEST(MqttPackets, WhatAReceivedPublishDelivers) {
    std::string topic, payload;
    ASSERT_TRUE(parse(0x30, publish_body("a/b", "{\"t\":\"PING\"}"), &topic, &payload));
    EXPECT_EQ(topic, "a/b");
    EXPECT_EQ(payload, "{\"t\":\"PING\"}");
    ASSERT_TRUE(parse(0x32, publish_body("a/b", "qos1", 7), &topic, &payload)) << "packet id skipped";
    EXPECT_EQ(payload, "qos1");
    ASSERT_TRUE(parse(0x35, publish_body("a/b", "qos2", 9), &topic, &payload));
    EXPECT_EQ(payload, "qos2");

    ASSERT_TRUE(parse(0x30, publish_body("a", std::string(2000, 'x')), &topic, &payload));
    EXPECT_EQ(payload.size(), 1023u);
    EXPECT_TRUE(parse(0x30, publish_body(std::string(127, 't'), "p"), &topic, &payload));
    EXPECT_FALSE(parse(0x30, publish_body(std::string(128, 't'), "p"), &topic, &payload));

    EXPECT_FALSE(parse(0x31, publish_body("a/b", ""), &topic, &payload)) << "an empty retained payload";
    EXPECT_FALSE(parse(0x30, publish_body("a/b", std::string("\0rest", 5)), &topic, &payload));
    EXPECT_FALSE(parse(0x32, publish_body("a/b", ""), &topic, &payload));
    // A topic length beyond the body.
    std::vector<uint8_t> lying = {0x00, 0x50, 'a', 'b', 'c'};
    EXPECT_FALSE(parse(0x30, lying, &topic, &payload));
    EXPECT_FALSE(parse(0x30, {0x00}, &topic, &payload));
    EXPECT_FALSE(parse(0x32, {0x00, 0x01, 'a', 0x00}, &topic, &payload)) << "QoS 1 without room for its id";
    EXPECT_EQ(parse(0x30, publish_body("a/b", std::string("be\0fore", 7)), &topic, &payload), 0)
        << "not delivered shortened at the NUL";

    // The 1023-byte cut ends on a character boundary.
    const struct {
        std::string tail;
        size_t kept;
    } cuts[] = {
        {std::string(1022, 'a') + "\xC5\x9F", 1022},
        {std::string(1021, 'a') + "\xE2\x82\xAC", 1021},
        {std::string(1020, 'a') + "\xF0\x9F\x98\x80", 1020},
        {std::string(1021, 'a') + "\xC5\x9F" "b", 1023},
    };
    for (const auto& c : cuts) {
        ASSERT_EQ(parse(0x30, publish_body("a", c.tail + std::string(50, 'z')), &topic, &payload), 1);
        EXPECT_EQ(payload, c.tail.substr(0, c.kept)) << c.kept;
    }

    // A malformed topic closes the connection (-1) instead of being delivered as something else.
    ASSERT_EQ(parse(0x30, publish_body("\xC5\x9F" "ark\xC4\xB1/\xE2\x82\xAC/\xF0\x9F\x98\x80", "p"), &topic, &payload), 1);
    const std::string malformed[] = {
        "",                        // empty
        std::string("t\0evil", 6),  // U+0000
        "t\xC3",                   // cut short
        "t\xFFx",                  // never in UTF-8
        "\xC0\x80",                // U+0000 spelt long
        "\xE0\x80\xAF",            // overlong '/'
        "\xED\xA0\x80",            // a surrogate
        "\xF4\x90\x80\x80",        // above U+10FFFF
        "a\x9F",                   // a lone continuation byte
    };
    for (const std::string& t : malformed) {
        EXPECT_EQ(parse(0x30, publish_body(t, "p"), &topic, &payload), -1) << t.size() << " bytes";
    }
    // And so does a fixed header no broker may send.
    for (int header : {0x00, 0x0F, 0xF0, 0xFF, 0x36, 0x37, 0x3E}) EXPECT_TRUE(mqtt_header_malformed((uint8_t)header)) << header;
    for (int header : {0x20, 0x30, 0x31, 0x32, 0x35, 0x3D, 0x90, 0xB0, 0xD0})
        EXPECT_FALSE(mqtt_header_malformed((uint8_t)header)) << header;
}

TEST(MqttPackets, TheOtherBrokersCopyIsDroppedANewSendingKept) {
    uint64_t a = mqtt_message_hash("t", "hello"), b = mqtt_message_hash("t", "hellp");
    EXPECT_NE(a, b);
    EXPECT_NE(mqtt_message_hash("ab", "c"), mqtt_message_hash("a", "bc")) << "the 0xFF byte separates";
    // FNV-1a of "t", 0xFF, "x" worked by hand from the offset basis and the prime.
    uint64_t h = 14695981039346656037ull;
    for (uint8_t c : std::vector<uint8_t>{'t', 0xFF, 'x'}) h = (h ^ c) * 1099511628211ull;
    EXPECT_EQ(mqtt_message_hash("t", "x"), h);

    const uint64_t c = a + 1, d = a + 2;
    const struct {
        uint64_t hash;
        int link;
        uint32_t tick;
        int copy;
        const char* why;
    } arrivals[] = {
        {a, 0, 1000, 0, "first arrival"},
        {b, 1, 1000, 0, "another message"},
        {a, 1, 3000, 1, "the other broker's copy, 2 s late"},
        {a, 1, 3500, 0, "the same link again: a new sending"},
        {a, 0, 4000, 1, "its copy"},
        {a, 0, 4100, 0, "a third sending"},
        {a, 1, 4100 + MQTT_COPY_MEMORY_MS, 0, "forgotten: new"},
        {c, 0, 0xFFFFFF00u, 0, "before the tick wraps"},
        {c, 1, 0x00000100u, 1, "its copy after"},
        {d, 0, 0, 0, "at tick 0"},
        {d, 1, 5, 1, "its copy: 0 is a time, not an empty slot"},
    };
    MqttRecent recent = {};
    for (const auto& r : arrivals) EXPECT_EQ(mqtt_recent_seen(&recent, r.hash, r.link, r.tick), r.copy) << r.why;
    mqtt_recent_clear(&recent);

    // However many messages one link brought, each is still known when the other link's
    // copies come: one link may run thousands of messages ahead of the other.
    MqttRecent many = {};
    const uint64_t SPREAD = 0x9E3779B97F4A7C15ull;
    for (uint64_t i = 1; i <= 50000; i++) ASSERT_FALSE(mqtt_recent_seen(&many, i * SPREAD, 0, 5000 + (uint32_t)i / 100)) << i;
    for (uint64_t i = 1; i <= 50000; i++) ASSERT_TRUE(mqtt_recent_seen(&many, i * SPREAD, 1, 30000)) << i;
    // Once they are all old, they are forgotten and their memory goes back.
    EXPECT_FALSE(mqtt_recent_seen(&many, SPREAD, 1, 70000));
    EXPECT_FALSE(mqtt_recent_seen(&many, 2 * SPREAD, 0, 70000));
    EXPECT_LE(many.capacity, 64);
    mqtt_recent_clear(&many);
}

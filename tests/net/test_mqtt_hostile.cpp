// The client against a broker that lies: malformed lengths, bodies that do not add up,
// floods, and one byte at a time. The server records what the client sends, which is
// checked byte for byte.
#include <gtest/gtest.h>

#include "net_support.h"

#include <psapi.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

static std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += (char)b;
    return s;
}

struct Hostile : ::testing::Test {
    EventSink sink;
    void start_against(ScriptedServer* server, bool both_links = false) {
        mqtt_set_broker(0, "127.0.0.1", (unsigned short)server->port);
        // The other link knocks on a closed port and waits between tries.
        mqtt_set_broker(1, "127.0.0.1", (unsigned short)(both_links ? server->port : free_port()));
        ASSERT_TRUE(mqtt_start(sink.window, MSG_MQTT_EVENT, "ay\xc5\x9f" "e#4821"));
    }
    void TearDown() override {
        mqtt_stop();
        mqtt_set_keep_alive(0);
    }
    bool wait_message(const std::string& topic, const std::string& payload, int ms = 8000) {
        return pump_until([&] { return sink.messages(topic, payload) >= 1; }, ms);
    }
};

// Packets that MQTT 3.1.1 calls malformed: each closes the connection that carried it.
static const std::string MALFORMED[] = {
    publish_packet("", "empty topic"),
    publish_packet(std::string("t\0evil", 6), "topic with U+0000"),
    publish_packet("t\xC3(", "topic not UTF-8"),
    publish_packet("t", "qos 3", 0x36, 9),
    bytes({0x00, 0x00}),  // reserved type 0
    bytes({0xF0, 0x00}),  // reserved type 15
};
static const int MALFORMED_COUNT = (int)(sizeof MALFORMED / sizeof MALFORMED[0]);

TEST_F(Hostile, MalformedPacketsAreDroppedOrEndTheConnection) {
    ScriptedServer server([](int n, SOCKET s) {
        accept_session(s);
        if (n >= 2 && n < 2 + MALFORMED_COUNT) {
            send_bytes(s, MALFORMED[n - 2] + publish_packet("t", "after malformed"));
            return;
        }
        switch (n) {
        case 0:
            // Packets the client must read past, with good ones between them.
            send_bytes(s, publish_packet("t", "one"));
            send_bytes(s, bytes({0xD0, 0x00}));                        // PINGRESP
            send_bytes(s, bytes({0x90, 0x03, 0x00, 0x01, 0x00}));      // SUBACK
            send_bytes(s, bytes({0x30, 0x80, 0x00}));                  // overlong zero length
            send_bytes(s, bytes({0xD0, 0xFF, 0x00}) + std::string(127, 'j'));  // overlong 127
            send_bytes(s, publish_packet("t", "two"));
            send_bytes(s, bytes({0x30, 0x05, 0x00, 0x50, 'a', 'b', 'c'}));  // topic longer than body
            send_bytes(s, publish_packet(std::string(128, 'T'), "long topic"));
            // As long as the longest topic the client itself subscribes to.
            send_bytes(s, publish_packet(std::string(127, 'T'), "longest topic"));
            send_bytes(s, publish_packet("t", ""));                       // empty payload
            send_bytes(s, publish_packet("t", std::string("\0after", 6)));  // NUL first
            send_bytes(s, publish_packet("t", std::string("be\0fore", 7)));  // NUL inside
            // The 1023-byte cut would split the "ş" at 1022..1023.
            send_bytes(s, publish_packet("t", std::string(1022, 'c') + "\xC5\x9F" "after"));
            send_bytes(s, publish_packet("t", std::string(3997, 'B')));   // body 4000: skipped
            send_bytes(s, publish_packet("t", std::string(3996, 'C')));  // body 3999: kept, cut
            send_bytes(s, publish_packet("t", "qos1", 0x32, 7));
            send_bytes(s, publish_packet("t", "qos2", 0x34, 65535));
            send_bytes(s, publish_packet("t", "three"));
            // A fifth length byte: nothing after it can be trusted.
            send_bytes(s, bytes({0x30, 0x80, 0x80, 0x80, 0x80, 0x01}));
            send_bytes(s, publish_packet("t", "never"));
            break;
        case 1:
            // A length larger than what follows, then the connection closes.
            send_bytes(s, bytes({0x30, 0x20, 0x00, 0x01, 't', 'x'}));
            shutdown(s, SD_BOTH);
            break;
        default:
            send_bytes(s, publish_packet("t", "reconnected"));
            break;
        }
    });
    start_against(&server);
    // Renewed on every connection, cut to 127 bytes without splitting the "ş".
    std::string long_topic = std::string(126, 'a') + "\xC5\x9F" "tail";
    mqtt_subscribe(long_topic.c_str());
    ASSERT_TRUE(wait_message("t", "reconnected", 40000)) << "the client came back after each bad stream";
    EXPECT_EQ(sink.messages("t", "one"), 1);
    EXPECT_EQ(sink.messages("t", "two"), 1);
    EXPECT_EQ(sink.messages("t", "three"), 1);
    EXPECT_EQ(sink.messages("t", "qos1"), 1);
    EXPECT_EQ(sink.messages("t", "qos2"), 1);
    EXPECT_EQ(sink.messages(std::string(127, 'T'), "longest topic"), 1);
    EXPECT_EQ(sink.messages(std::string(128, 'T'), "long topic"), 0);
    EXPECT_EQ(sink.messages("t", std::string(1023, 'C')), 1) << "a 3999-byte body is read and cut";
    EXPECT_EQ(sink.messages("t", "never"), 0);
    int others = 0;
    for (const SinkEvent& e : sink.events)
        if (e.kind == MQTT_EVENT_MESSAGE && e.payload[0] == 'B') others++;
    EXPECT_EQ(others, 0) << "a 4000-byte body is skipped";
    EXPECT_EQ(sink.messages("t", std::string(1022, 'c')), 1) << "cut before the character, not inside it";
    EXPECT_EQ(sink.messages("t", "after malformed"), 0) << "each malformed packet closed its connection";
    EXPECT_EQ(sink.count(MQTT_EVENT_MESSAGE), 9) << "the eight kept above and the one after reconnecting";
    int connections = server.connections.load();
    EXPECT_EQ(connections, 3 + MALFORMED_COUNT);
    pump_messages(200);  // the recorder's last reads
    for (int c = 1; c < connections; c++) {
        std::vector<Packet> packets = split_packets(server.bytes_of(c));
        ASSERT_GE(packets.size(), 2u) << "connection " << c;
        EXPECT_EQ(packets[1].header, 0x82);
        EXPECT_EQ(packets[1].body.substr(2), bytes({0x00, 126}) + std::string(126, 'a') + bytes({0x00})) << c;
    }
}

TEST_F(Hostile, AHugeDeclaredLengthIsSkippedNotAllocated) {
    ScriptedServer server([](int n, SOCKET s) {
        accept_session(s);
        if (n == 0) {
            // 200 MB declared; 64 KB follow, then the server hangs up.
            send_bytes(s, std::string(1, (char)0x30) + remaining_length(200u * 1024 * 1024) + std::string(65536, 'z'));
            Sleep(300);
            shutdown(s, SD_BOTH);
        } else {
            send_bytes(s, publish_packet("t", "after huge"));
        }
    });
    PROCESS_MEMORY_COUNTERS_EX before = {};
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&before, sizeof before);
    start_against(&server);
    ASSERT_TRUE(wait_message("t", "after huge", 15000));
    PROCESS_MEMORY_COUNTERS_EX after = {};
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&after, sizeof after);
    EXPECT_LT(after.PeakPagefileUsage, before.PeakPagefileUsage + 50u * 1024 * 1024);
}

TEST_F(Hostile, ABrokerThatStopsReadingFreezesNeitherTheCallerNorTheOtherLink) {
    ScriptedServer server([&](int n, SOCKET s) {
        accept_session(s);
        // The other link's broker speaks while the first one's buffers are full.
        if (n == 1) send_bytes(s, publish_packet("t", "from the other broker"));
        // After 10 s the stalled broker reads again, so that a client that waits for it
        // fails this test instead of holding it.
        if (n == 0) {
            for (int i = 0; i < 100 && !server.closing.load(); i++) Sleep(100);
            server.deaf.store(-1);
        }
    });
    // Whichever link connects first gets a broker that stops reading.
    server.deaf.store(0);
    start_against(&server, true);
    ASSERT_TRUE(pump_until([&] { return sink.count(MQTT_EVENT_CONNECTED) == 2; }, 8000));
    // A burst faster than any socket takes it, then publishing on at a program's pace until
    // the stalled link is given up: queues fill, and what does not fit is dropped.
    unsigned dropped_before = mqtt_dropped_count();
    std::string big(3900, 'x');
    int count = 0;
    auto publish_bulk = [&](int n) {
        for (int i = 0; i < n; i++) mqtt_publish("bulk", (std::to_string(count++) + big).c_str());
    };
    publish_bulk(300);
    while (server.connections.load() < 3 && server.deaf.load() == 0) {
        publish_bulk(10);
        pump_messages(10);
    }
    EXPECT_EQ(server.deaf.load(), 0) << "the publishes returned while the broker was still stalled";
    ASSERT_EQ(server.connections.load(), 3) << "the stalled link was dropped and came back";
    EXPECT_TRUE(wait_message("t", "from the other broker", 3000));
    // A last word after the bulk: once the other broker has it, it has all that link took.
    auto on_other_link = [&](const char* topic) {
        std::vector<int> numbers;
        size_t n = strlen(topic);
        for (const Packet& p : split_packets(server.bytes_of(1)))
            if (p.header == 0x30 && p.body.compare(0, n + 2, std::string(1, '\0') + (char)n + topic) == 0)
                numbers.push_back(atoi(p.body.c_str() + 2 + n));
        return numbers;
    };
    ASSERT_TRUE(pump_until(
        [&] {
            mqtt_publish("last", "0");
            pump_messages(20);
            return !on_other_link("last").empty();
        },
        5000));
    std::vector<int> carried = on_other_link("bulk");
    unsigned dropped = mqtt_dropped_count() - dropped_before;
    EXPECT_TRUE(std::adjacent_find(carried.begin(), carried.end(), [](int a, int b) { return b <= a; }) == carried.end())
        << "in order, each once";
    EXPECT_GE(carried.size() + dropped, (size_t)count) << "what the other link did not carry was counted as dropped";
    ASSERT_TRUE(pump_until([&] { return sink.count(MQTT_EVENT_CONNECTED) == 3; }, 8000));
    EXPECT_EQ(server.connections.load(), 3);
    EXPECT_EQ(sink.count(MQTT_EVENT_OFFLINE), 0) << "the other link stayed up";
}

TEST_F(Hostile, SilentBrokersAreLeftEvenInTheMiddleOfAPacket) {
    // Pings after 1.2 s, gives a link up after 3 s without a byte.
    mqtt_set_keep_alive(2000);
    ScriptedServer server([&](int n, SOCKET s) {
        accept_session(s);
        if (n == 0) return;  // not a word more
        if (n == 1) {
            // A body that never comes.
            send_bytes(s, std::string(1, (char)0x30) + remaining_length(200u * 1024 * 1024) + std::string(100, 'z'));
            return;
        }
        // A live broker: every PINGREQ gets its PINGRESP.
        size_t answered = 0;
        while (!server.closing.load()) {
            size_t pings = 0;
            for (const Packet& p : split_packets(server.bytes_of(n))) pings += p.header == 0xC0;
            for (; answered < pings; answered++) send_bytes(s, bytes({0xD0, 0x00}));
            Sleep(50);
        }
    });
    start_against(&server, true);
    ASSERT_TRUE(pump_until([&] { return sink.count(MQTT_EVENT_CONNECTED) == 2; }, 8000));
    EXPECT_TRUE(mqtt_is_online());
    DWORD connected_at = GetTickCount();
    ASSERT_TRUE(pump_until([&] { return !mqtt_is_online(); }, 8000)) << "both silent links given up";
    EXPECT_GE(GetTickCount() - connected_at, 2500u) << "not before the silence limit";
    ASSERT_TRUE(pump_until([&] { return sink.count(MQTT_EVENT_OFFLINE) == 1; }, 1000));
    ASSERT_TRUE(pump_until([&] { return sink.count(MQTT_EVENT_CONNECTED) == 4; }, 8000)) << "and reconnected";
    // Twice the silence limit with pings answered: the links stay.
    pump_messages(6000);
    EXPECT_TRUE(mqtt_is_online());
    EXPECT_EQ(server.connections.load(), 4);
    EXPECT_EQ(sink.count(MQTT_EVENT_OFFLINE), 1);
}

TEST_F(Hostile, OneByteAtATimeAndAFlood) {
    const int FLOOD = 100000;
    ScriptedServer server([&](int n, SOCKET s) {
        accept_session(s);
        if (n != 0) return;
        std::string slow = publish_packet("slow/t", "drip");
        for (char c : slow) {
            send_bytes(s, std::string(1, c));
            Sleep(15);
        }
        std::string flood;
        for (int i = 0; i < FLOOD; i++) flood += publish_packet("f", "m" + std::to_string(i));
        send_bytes(s, flood);
        // Once the window's queue has drained, a last word.
        Sleep(4000);
        send_bytes(s, publish_packet("f", "end"));
    });
    start_against(&server);
    ASSERT_TRUE(wait_message("slow/t", "drip"));
    ASSERT_TRUE(wait_message("f", "end", 120000));
    int flood = 0;
    for (const SinkEvent& e : sink.events) flood += e.kind == MQTT_EVENT_MESSAGE && e.topic[0] == 'f';
    // What the window's queue could not take was freed by the sender; the rest came once each.
    EXPECT_GT(flood, 1000);
    EXPECT_LE(flood, FLOOD + 1);
    EXPECT_EQ(server.connections.load(), 1) << "no reconnect: the stream was sound";
}

TEST_F(Hostile, WhatTheClientSendsByteForByte) {
    ScriptedServer server([](int, SOCKET s) { accept_session(s); });
    start_against(&server, true);
    ASSERT_TRUE(pump_until([&] { return sink.count(MQTT_EVENT_CONNECTED) == 2; }, 8000));
    DWORD connected_at = GetTickCount();
    ASSERT_TRUE(mqtt_subscribe("nelvo/u/ay+e"));
    ASSERT_TRUE(mqtt_unsubscribe("nelvo/u/ay+e"));
    ASSERT_TRUE(mqtt_publish("nelvo/r/x", "{}", true));
    ASSERT_TRUE(mqtt_publish("nelvo/p/x", "hi"));
    // 32767 more subscriptions of one topic: the packet identifiers go past 65535. At a pace
    // the links' queues keep up with: a full queue would drop some.
    for (int i = 0; i < 32767; i++) {
        ASSERT_TRUE(mqtt_subscribe("w"));
        if (i % 1000 == 999) pump_messages(5);
    }
    // Silence: the keep-alive ping comes 18 to 22 s after the connection.
    ASSERT_TRUE(pump_until(
        [&] {
            return split_packets(server.bytes_of(0)).back().header == 0xC0 &&
                   split_packets(server.bytes_of(1)).back().header == 0xC0;
        },
        30000));
    DWORD pinged_after = GetTickCount() - connected_at;
    EXPECT_GE(pinged_after + 500, 18000u);
    // A stop says DISCONNECT on each link before closing it.
    mqtt_stop();
    ASSERT_TRUE(pump_until(
        [&] {
            return split_packets(server.bytes_of(0)).back().header == 0xE0 &&
                   split_packets(server.bytes_of(1)).back().header == 0xE0;
        },
        2000));

    std::vector<uint16_t> ids;
    std::string links;
    for (int c = 0; c < 2; c++) {
        std::vector<Packet> packets = split_packets(server.bytes_of(c));
        ASSERT_GE(packets.size(), 5u + 32767u + 2u);
        // CONNECT: protocol 4, clean session, keep-alive 30, "nv<link><seed><tick>".
        const Packet& connect = packets[0];
        EXPECT_EQ(connect.header, 0x10);
        EXPECT_EQ(connect.body.substr(0, 10), bytes({0x00, 0x04, 'M', 'Q', 'T', 'T', 0x04, 0x02, 0x00, 0x1E}));
        std::string id = connect.body.substr(12);
        EXPECT_EQ((size_t)(uint8_t)connect.body[11], id.size());
        EXPECT_EQ(id.substr(0, 2), "nv");
        links += id[2];
        EXPECT_EQ(id.substr(3, 7), "aye4821") << "the seed's letters and digits";
        std::string tick = id.substr(10);
        EXPECT_TRUE(!tick.empty() && tick.size() <= 6 && tick.find_first_not_of("0123456789") == std::string::npos);
        // SUBSCRIBE, UNSUBSCRIBE: the normalised topic, fresh identifiers.
        EXPECT_EQ(packets[1].header, 0x82);
        EXPECT_EQ(packets[1].body.substr(2), bytes({0x00, 12}) + "nelvo/u/ay_e" + bytes({0x00}));
        EXPECT_EQ(packets[2].header, 0xA2);
        EXPECT_EQ(packets[2].body.substr(2), bytes({0x00, 12}) + "nelvo/u/ay_e");
        EXPECT_EQ(packets[3].header, 0x31);
        EXPECT_EQ(packets[3].body, bytes({0x00, 9}) + "nelvo/r/x{}");
        EXPECT_EQ(packets[4].header, 0x30);
        EXPECT_EQ(packets[4].body, bytes({0x00, 9}) + "nelvo/p/xhi");
        EXPECT_EQ(packets[packets.size() - 2].header, 0xC0);
        EXPECT_TRUE(packets[packets.size() - 2].body.empty());
        EXPECT_EQ(packets.back().header, 0xE0);
        EXPECT_TRUE(packets.back().body.empty());
        for (size_t i = 1; i < packets.size(); i++) {
            if (packets[i].header == 0x82 || packets[i].header == 0xA2)
                ids.push_back((uint16_t)(((uint8_t)packets[i].body[0] << 8) | (uint8_t)packets[i].body[1]));
        }
    }
    // Every SUBSCRIBE and UNSUBSCRIBE took its own identifier, across both links: 1 to 65535,
    // then 1 again, never 0.
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(ids.size(), 2u * (2 + 32767));
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), 65535);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), (uint16_t)0), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), (uint16_t)1), 2) << "after 65535 comes 1";
    EXPECT_EQ(std::count(ids.begin(), ids.end(), (uint16_t)3), 2);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), (uint16_t)4), 1);
    std::sort(links.begin(), links.end());
    EXPECT_EQ(links, "01") << "one connection per link, each with its index";
}

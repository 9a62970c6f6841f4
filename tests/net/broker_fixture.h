#pragma once
// Tests of the transport and of what speaks through it, on two real mosquitto brokers on
// loopback (one per link), started once for a test suite.
#include <gtest/gtest.h>

#include "net_support.h"

struct LoopbackBrokers : ::testing::Test {
    static inline Broker* brokers[2] = {};
    EventSink sink;

    static void SetUpTestSuite() {
        for (Broker*& b : brokers) {
            b = new Broker;
            ASSERT_TRUE(b->start()) << "mosquitto on loopback";
        }
    }
    static void TearDownTestSuite() {
        for (Broker*& b : brokers) {
            delete b;
            b = nullptr;
        }
    }

    // Points link i at broker i; call before mqtt_start.
    void point_links_at_brokers() {
        mqtt_set_broker(0, "127.0.0.1", (unsigned short)brokers[0]->port);
        mqtt_set_broker(1, "127.0.0.1", (unsigned short)brokers[1]->port);
    }
    // Waits until both links reported their connection, then forgets the events so far.
    bool both_links_up() {
        bool up = pump_until([&] { return sink.count(MQTT_EVENT_CONNECTED) == 2; }, 15000);
        sink.clear();
        return up;
    }
};

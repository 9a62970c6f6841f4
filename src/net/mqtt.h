#pragma once
// A small MQTT 3.1.1 client: QoS 0 publish (retained or not), subscribe, unsubscribe and
// keep-alive, over two broker connections at once. Each link reconnects on its own; a
// message that arrives from both brokers is delivered once. Incoming messages reach the
// window given to mqtt_start, as the message number given with it, with an MqttEvent in
// wParam that the handler frees.
#include <windows.h>

#include "net/mqtt_packets.h"

enum { MQTT_EVENT_CONNECTED = 1, MQTT_EVENT_OFFLINE = 2, MQTT_EVENT_MESSAGE = 3 };
enum { MQTT_LINK_COUNT = 2, MQTT_SUBSCRIPTIONS_MAX = 40, MQTT_PORT = 1883 };

struct MqttEvent {
    int kind;
    char topic[MQTT_TOPIC_CAPACITY];
    char payload[MQTT_PAYLOAD_CAPACITY];
};

// The public brokers, one per link.
#define MQTT_BROKER_HOST_0 "broker.emqx.io"
#define MQTT_BROKER_HOST_1 "broker.hivemq.com"

// Points a link at another broker before mqtt_start: the tests use loopback brokers.
void mqtt_set_broker(int link_index, const char* host, unsigned short port);
// Sets the period of the client's own keep-alive timers before mqtt_start: a PINGREQ after
// 3/5 of it without one, the link given up after 3/2 of it without a byte received. The
// CONNECT still announces 30 s; the tests use short periods to meet a silent broker in
// seconds. 0 restores the 30 s.
void mqtt_set_keep_alive(int period_ms);

// Starts both link threads, which post message to window; seed goes into the client
// identifiers. True when running.
bool mqtt_start(HWND window, UINT message, const char* seed);
// Closes both connections and waits at most 1000 ms for each link thread.
void mqtt_stop(void);
bool mqtt_subscribe(const char* topic);
bool mqtt_unsubscribe(const char* topic);
bool mqtt_publish(const char* topic, const char* payload, bool retain = false);
// Running and at least one link connected.
bool mqtt_is_online(void);
// Frees what a MSG_MQTT_EVENT carried.
void mqtt_event_free(WPARAM event);

#pragma once
// A small MQTT 3.1.1 client: QoS 0 publish (retained or not), subscribe, unsubscribe and
// keep-alive, over two broker connections at once. Each link reconnects on its own; a
// message that arrives from both brokers is delivered once. What the window thread sends is
// queued for each link's thread, so that it never waits on a socket. Incoming messages reach the
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
    // Messages: when the link read the message from its socket, on tick_fine's clock
    // (base/ticks.h; never 0), so that the time it waited for the window's thread counts.
    DWORD arrived_at;
    int link;  // messages: the link that delivered it; -1 for other events
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
// Closes both connections and waits at most 1000 ms for each link thread. What was queued
// before goes out first, as far as 200 ms allow.
void mqtt_stop(void);
// Each queues its packet on every connected link and returns true when at least one took
// it. A link whose queue is full drops the packet; mqtt_dropped_count counts it.
// every_copy: a message on the topic is delivered once per link that brings it, with its
// link, so that the receiver can compare what the two brokers hold.
bool mqtt_subscribe(const char* topic, bool every_copy = false);
bool mqtt_unsubscribe(const char* topic);
bool mqtt_publish(const char* topic, const char* payload, bool retain = false);
// Packets a full link queue dropped since the process started, both links together.
unsigned mqtt_dropped_count(void);
// Called for every PUBLISH written to a broker's socket (sent 1) and every PUBLISH read from
// one, before copies are dropped (sent 0), with its link index; on the link threads, so it
// must be thread-safe. Set before mqtt_start; nullptr stops it.
typedef void (*MqttObserver)(int sent, int link, const char* topic, const char* payload);
void mqtt_set_observer(MqttObserver observer);
// Running and at least one link connected.
bool mqtt_is_online(void);
// Running and that link connected.
bool mqtt_link_connected(int link);
// Frees what a MSG_MQTT_EVENT carried.
void mqtt_event_free(WPARAM event);

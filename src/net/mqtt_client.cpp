// The two broker links: one thread each, connecting, renewing subscriptions, keeping the
// connection alive and reading what the broker sends. The main thread publishes and
// subscribes through the same sockets under the client lock.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "net/mqtt.h"

enum { PING_INTERVAL_MS = 18000, CONNECT_WAIT_MS = 4000, RECONNECT_WAIT_MS = 1500, RETRY_WAIT_MS = 2500 };
enum { LINK_STACK = 32 * 1024 };

struct MqttLink {
    char host[256];
    unsigned short port;
    SOCKET socket;                // guarded by the client lock; the link's thread owns and closes it
    HANDLE thread;
    std::atomic<int> connected;   // written under the lock, read anywhere
    int index;
};

static MqttLink g_links[MQTT_LINK_COUNT] = {
    {MQTT_BROKER_HOST_0, MQTT_PORT, INVALID_SOCKET, nullptr, {0}, 0},
    {MQTT_BROKER_HOST_1, MQTT_PORT, INVALID_SOCKET, nullptr, {0}, 1},
};

static std::atomic<int> g_running{0};
// Each start is a new generation; a link thread that outlived an earlier stop sees that it
// is stale and touches nothing of the new one.
static std::atomic<int> g_generation{0};
// Never deleted: a link thread still waiting in name resolution when mqtt_stop gives up on
// it takes the lock once more on its way out.
static CRITICAL_SECTION g_lock;
static INIT_ONCE g_lock_once = INIT_ONCE_STATIC_INIT;
static HWND g_window;          // written by mqtt_start before the link threads start
static UINT g_event_message;  // likewise
static char g_seed[MQTT_CLIENT_ID_CAPACITY];
static char g_subscriptions[MQTT_SUBSCRIPTIONS_MAX][MQTT_TOPIC_CAPACITY];
static int g_subscription_count;
static uint16_t g_packet_id = 1;
static MqttRecent g_recent;
static int g_winsock_started;

static BOOL CALLBACK init_lock(INIT_ONCE*, void*, void**) {
    InitializeCriticalSection(&g_lock);
    return TRUE;
}

void mqtt_set_broker(int link_index, const char* host, unsigned short port) {
    if (link_index < 0 || link_index >= MQTT_LINK_COUNT || !host) return;
    snprintf(g_links[link_index].host, sizeof g_links[link_index].host, "%s", host);
    g_links[link_index].port = port;
}

static bool alive(int generation) { return g_running.load() && g_generation.load() == generation; }

// Waits in short steps, so that a stop is noticed within 100 ms.
static void wait_while_alive(int generation, int ms) {
    for (int waited = 0; waited < ms && alive(generation); waited += 100) Sleep(100);
}

static bool send_all(SOCKET s, const uint8_t* bytes, int length) {
    while (length > 0) {
        int sent = send(s, (const char*)bytes, length, 0);
        if (sent <= 0) return false;
        bytes += sent;
        length -= sent;
    }
    return true;
}

static bool recv_exact(SOCKET s, uint8_t* bytes, int length) {
    while (length > 0) {
        int got = recv(s, (char*)bytes, length, 0);
        if (got <= 0) return false;
        bytes += got;
        length -= got;
    }
    return true;
}

static void post_event(int kind, const char* topic, const char* payload) {
    MqttEvent* event = (MqttEvent*)calloc(1, sizeof(MqttEvent));
    if (!event) return;
    event->kind = kind;
    if (topic) snprintf(event->topic, sizeof event->topic, "%s", topic);
    if (payload) snprintf(event->payload, sizeof event->payload, "%s", payload);
    if (!IsWindow(g_window) || !PostMessageW(g_window, g_event_message, (WPARAM)event, 0)) free(event);
}

void mqtt_event_free(WPARAM event) { free((MqttEvent*)event); }

//~ Connecting

static SOCKET open_connection(MqttLink* link, int generation) {
    char service[8];
    snprintf(service, sizeof service, "%u", (unsigned)link->port);
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(link->host, service, &hints, &found) != 0 || !found) return INVALID_SOCKET;
    if (!alive(generation)) {
        freeaddrinfo(found);
        return INVALID_SOCKET;
    }
    SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s == INVALID_SOCKET) {
        freeaddrinfo(found);
        return INVALID_SOCKET;
    }
    BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&no_delay, sizeof no_delay);
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    int result = connect(s, found->ai_addr, (int)found->ai_addrlen);
    freeaddrinfo(found);
    bool ok = result == 0;
    if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
        // Up to 4 s in short slices, so that a stop does not wait for an unreachable broker.
        for (int waited = 0; waited < CONNECT_WAIT_MS && alive(generation); waited += 100) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval slice = {0, 100 * 1000};
            int ready = select(0, nullptr, &writable, &failed, &slice);
            if (ready < 0) break;
            if (ready == 0) continue;
            int error = 0;
            int size = sizeof error;
            ok = FD_ISSET(s, &writable) && !FD_ISSET(s, &failed) &&
                 getsockopt(s, SOL_SOCKET, SO_ERROR, (char*)&error, &size) == 0 && error == 0;
            break;
        }
    }
    if (!ok || !alive(generation)) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    return s;
}

static void set_receive_timeout(SOCKET s, DWORD ms) {
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&ms, sizeof ms);
}

// Sends CONNECT and waits for an accepting CONNACK. The socket is already in the link, so
// that mqtt_stop can close it and end the wait.
static bool handshake(SOCKET s, const char* client_id) {
    uint8_t packet[128];
    int length = mqtt_build_connect(packet, sizeof packet, client_id);
    if (!length) return false;
    set_receive_timeout(s, CONNECT_WAIT_MS);
    EnterCriticalSection(&g_lock);
    bool sent = send_all(s, packet, length);
    LeaveCriticalSection(&g_lock);
    uint8_t ack[4];
    bool received = sent && recv_exact(s, ack, 4);
    set_receive_timeout(s, 0);
    return received && ack[0] == 0x20 && ack[3] == 0;
}

// Under the client lock.
static bool send_subscribe_locked(MqttLink* link, const char* topic) {
    uint8_t packet[MQTT_TOPIC_CAPACITY + 8];
    int length = mqtt_build_subscribe(packet, sizeof packet, mqtt_next_packet_id(&g_packet_id), topic);
    return length && send_all(link->socket, packet, length);
}

//~ Receiving

// What the link thread has read from its socket but not yet taken: many small messages
// arrive in one segment, and one recv per segment instead of three or four per message
// is what lets a link keep up with a busy broker.
struct LinkReader {
    SOCKET s;
    int have, at;
    uint8_t bytes[2048];
};

static bool reader_take(LinkReader* r, uint8_t* out, uint32_t length) {
    while (length > 0) {
        if (r->at == r->have) {
            int got = recv(r->s, (char*)r->bytes, (int)sizeof r->bytes, 0);
            if (got <= 0) return false;
            r->have = got;
            r->at = 0;
        }
        uint32_t n = (uint32_t)(r->have - r->at);
        if (n > length) n = length;
        if (out) {
            memcpy(out, r->bytes + r->at, n);
            out += n;
        }
        r->at += (int)n;
        length -= n;
    }
    return true;
}

static void deliver(const char* topic, const char* payload) {
    uint64_t hash = mqtt_message_hash(topic, payload);
    EnterCriticalSection(&g_lock);
    int seen = mqtt_recent_seen(&g_recent, hash, GetTickCount());
    LeaveCriticalSection(&g_lock);
    if (!seen) post_event(MQTT_EVENT_MESSAGE, topic, payload);
}

// Reads one packet; false ends the connection.
static bool read_packet(LinkReader* r) {
    uint8_t header;
    if (!reader_take(r, &header, 1)) return false;
    if (mqtt_header_malformed(header)) return false;
    uint32_t remaining = 0;
    int count = 0;
    for (;;) {
        uint8_t byte;
        if (!reader_take(r, &byte, 1)) return false;
        int state = mqtt_remaining_length_byte(byte, &count, &remaining);
        if (state < 0) return false;  // a fifth length byte: the stream cannot be trusted
        if (state > 0) break;
    }
    // Anything else is passed over without keeping it, however long it says it is.
    if ((header >> 4) != 3 || remaining < 2 || remaining > MQTT_BODY_MAX) return reader_take(r, nullptr, remaining);
    uint8_t* body = (uint8_t*)malloc(remaining + 1);
    if (!body) return false;
    bool ok = reader_take(r, body, remaining);
    if (ok) {
        char topic[MQTT_TOPIC_CAPACITY];
        char payload[MQTT_PAYLOAD_CAPACITY];
        int kept = mqtt_parse_publish(header, body, (int)remaining, topic, payload);
        if (kept > 0) deliver(topic, payload);
        ok = kept >= 0;  // a malformed topic closes the connection
    }
    free(body);
    return ok;
}

//~ The link thread

static void connection_loop(SOCKET s, int generation) {
    DWORD last_ping = GetTickCount();
    LinkReader reader;
    reader.s = s;
    reader.have = reader.at = 0;
    while (alive(generation)) {
        int ready = 1;
        if (reader.at == reader.have) {  // nothing buffered: wait for the socket
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval wait = {4, 0};
            ready = select(0, &readable, nullptr, nullptr, &wait);
        }
        if (ready < 0) return;
        if (!alive(generation)) return;
        if (GetTickCount() - last_ping >= PING_INTERVAL_MS) {
            last_ping = GetTickCount();
            uint8_t ping[2];
            mqtt_build_pingreq(ping, 2);
            EnterCriticalSection(&g_lock);
            bool sent = send_all(s, ping, 2);
            LeaveCriticalSection(&g_lock);
            if (!sent) return;
        }
        if (ready > 0 && !read_packet(&reader)) return;
    }
}

static DWORD WINAPI link_thread(void* param) {
    int index = (int)((INT_PTR)param & 0xFF);
    int generation = (int)((INT_PTR)param >> 8);
    MqttLink* link = &g_links[index];
    while (alive(generation)) {
        char client_id[MQTT_CLIENT_ID_CAPACITY];
        mqtt_client_id(client_id, index, g_seed, GetTickCount());
        SOCKET s = open_connection(link, generation);
        if (s == INVALID_SOCKET) {
            wait_while_alive(generation, RETRY_WAIT_MS);
            continue;
        }
        EnterCriticalSection(&g_lock);
        bool current = alive(generation);
        if (current) link->socket = s;
        LeaveCriticalSection(&g_lock);
        bool accepted = current && handshake(s, client_id);
        EnterCriticalSection(&g_lock);
        if (accepted && alive(generation)) {
            link->connected.store(1);
            for (int i = 0; i < g_subscription_count; i++) send_subscribe_locked(link, g_subscriptions[i]);
        } else {
            accepted = false;
            // Ours to close unless mqtt_stop closed it already.
            if (!current || link->socket == s) {
                if (link->socket == s) link->socket = INVALID_SOCKET;
                closesocket(s);
            }
        }
        LeaveCriticalSection(&g_lock);
        if (!accepted) {
            wait_while_alive(generation, RETRY_WAIT_MS);
            continue;
        }
        post_event(MQTT_EVENT_CONNECTED, nullptr, nullptr);
        connection_loop(s, generation);

        EnterCriticalSection(&g_lock);
        if (link->socket == s) {
            link->socket = INVALID_SOCKET;
            link->connected.store(0);
            closesocket(s);
        }
        bool any = false;
        for (MqttLink& l : g_links) any = any || l.connected.load();
        LeaveCriticalSection(&g_lock);
        if (!any && alive(generation)) post_event(MQTT_EVENT_OFFLINE, nullptr, nullptr);
        wait_while_alive(generation, RECONNECT_WAIT_MS);
    }
    return 0;
}

//~ What the main thread calls

static bool threads_linger(void) {
    for (MqttLink& link : g_links)
        if (link.thread && WaitForSingleObject(link.thread, 0) != WAIT_OBJECT_0) return true;
    return false;
}

bool mqtt_start(HWND window, UINT message, const char* seed) {
    if (g_running.load()) return true;
    InitOnceExecuteOnce(&g_lock_once, init_lock, nullptr, nullptr);
    // Threads left from an earlier stop end within a name lookup; never run two per link.
    for (MqttLink& link : g_links) {
        if (!link.thread) continue;
        if (WaitForSingleObject(link.thread, 5000) != WAIT_OBJECT_0) return false;
        CloseHandle(link.thread);
        link.thread = nullptr;
    }
    if (!g_winsock_started) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
        g_winsock_started = 1;
    }
    EnterCriticalSection(&g_lock);
    mqtt_recent_clear(&g_recent);
    g_window = window;
    g_event_message = message;
    snprintf(g_seed, sizeof g_seed, "%s", seed ? seed : "");
    g_subscription_count = 0;
    g_packet_id = 1;  // a clean session every time
    LeaveCriticalSection(&g_lock);
    int generation = g_generation.load() + 1;
    g_generation.store(generation);
    g_running.store(1);
    int started = 0;
    for (int i = 0; i < MQTT_LINK_COUNT; i++) {
        MqttLink* link = &g_links[i];
        link->socket = INVALID_SOCKET;
        link->connected.store(0);
        link->index = i;
        link->thread = CreateThread(nullptr, LINK_STACK, link_thread, (void*)(INT_PTR)(i | (generation << 8)),
                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (link->thread) started++;
    }
    if (!started) g_running.store(0);
    return started > 0;
}

void mqtt_stop(void) {
    if (!g_running.load()) return;
    g_running.store(0);
    EnterCriticalSection(&g_lock);
    // Closing is what wakes a link thread blocked in recv or select (a shutdown alone does
    // not, under Wine). The thread finds its socket gone from the link and does not close it
    // again, so that a handle value reused meanwhile is never closed twice.
    for (MqttLink& link : g_links) {
        if (link.socket != INVALID_SOCKET) {
            shutdown(link.socket, SD_BOTH);
            closesocket(link.socket);
            link.socket = INVALID_SOCKET;
        }
        link.connected.store(0);
    }
    LeaveCriticalSection(&g_lock);
    for (MqttLink& link : g_links) {
        if (!link.thread) continue;
        if (WaitForSingleObject(link.thread, 1000) == WAIT_OBJECT_0) {
            CloseHandle(link.thread);
            link.thread = nullptr;
        }
    }
    if (!threads_linger() && g_winsock_started) {
        WSACleanup();
        g_winsock_started = 0;
    }
}

bool mqtt_subscribe(const char* topic) {
    if (!g_running.load() || !topic || !topic[0]) return false;
    char normal[MQTT_TOPIC_CAPACITY];
    mqtt_normalize_topic(normal, topic);
    bool any = false;
    EnterCriticalSection(&g_lock);
    int known = 0;
    for (int i = 0; i < g_subscription_count && !known; i++) known = strcmp(g_subscriptions[i], normal) == 0;
    if (!known && g_subscription_count < MQTT_SUBSCRIPTIONS_MAX) {
        memcpy(g_subscriptions[g_subscription_count++], normal, sizeof normal);
    }
    for (MqttLink& link : g_links) {
        if (link.connected.load() && link.socket != INVALID_SOCKET && send_subscribe_locked(&link, normal)) any = true;
    }
    LeaveCriticalSection(&g_lock);
    return any;
}

bool mqtt_unsubscribe(const char* topic) {
    if (!g_running.load() || !topic || !topic[0]) return false;
    char normal[MQTT_TOPIC_CAPACITY];
    mqtt_normalize_topic(normal, topic);
    bool any = false;
    EnterCriticalSection(&g_lock);
    for (int i = 0; i < g_subscription_count; i++) {
        if (strcmp(g_subscriptions[i], normal) != 0) continue;
        memmove(g_subscriptions[i], g_subscriptions[i + 1], (size_t)(g_subscription_count - i - 1) * MQTT_TOPIC_CAPACITY);
        g_subscription_count--;
        break;
    }
    for (MqttLink& link : g_links) {
        if (!link.connected.load() || link.socket == INVALID_SOCKET) continue;
        uint8_t packet[MQTT_TOPIC_CAPACITY + 8];
        int length = mqtt_build_unsubscribe(packet, sizeof packet, mqtt_next_packet_id(&g_packet_id), normal);
        if (length && send_all(link.socket, packet, length)) any = true;
    }
    LeaveCriticalSection(&g_lock);
    return any;
}

bool mqtt_publish(const char* topic, const char* payload, bool retain) {
    if (!g_running.load() || !topic || !payload) return false;
    char normal[MQTT_TOPIC_CAPACITY];
    mqtt_normalize_topic(normal, topic);
    uint8_t packet[MQTT_PUBLISH_MAX + 8];
    int length = mqtt_build_publish(packet, sizeof packet, normal, payload, (int)strlen(payload), retain);
    if (!length) return false;
    bool any = false;
    EnterCriticalSection(&g_lock);
    for (MqttLink& link : g_links) {
        if (link.connected.load() && link.socket != INVALID_SOCKET && send_all(link.socket, packet, length)) any = true;
    }
    LeaveCriticalSection(&g_lock);
    return any;
}

bool mqtt_is_online(void) {
    if (!g_running.load()) return false;
    for (MqttLink& link : g_links)
        if (link.connected.load()) return true;
    return false;
}

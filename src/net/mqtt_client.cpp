// The two broker links: one thread each, connecting, renewing subscriptions, keeping the
// connection alive, reading what the broker sends and writing what the main thread queued.
// The main thread never touches a socket: a publish or subscription is appended to a
// bounded queue of each connected link, whose thread is woken to send it.
//
// Every socket is non-blocking and every wait is bounded: a broker that stops reading
// fills its link's queue, whose overflow is dropped, and after SEND_WAIT_MS without room
// for a batch its link is dropped and reconnects; a broker that stops talking is dropped
// after 1.5 keep-alive periods.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "base/ticks.h"
#include "net/mqtt.h"

enum { CONNECT_WAIT_MS = 4000, RECONNECT_WAIT_MS = 1500, RETRY_WAIT_MS = 2500 };
// The keep-alive the CONNECT announces.
enum { KEEP_ALIVE_MS = 30000 };
// A healthy broker empties the socket's send buffer in far less than this; one that has not
// made room for a batch of queued packets within it has stopped reading. What is still
// queued at a stop and the DISCONNECT after it share less: the window is closing.
enum { SEND_WAIT_MS = 1000, DISCONNECT_WAIT_MS = 200, SEND_SLICE_MS = 50 };
enum { LINK_STACK = 32 * 1024 };
// What may wait for one link: some sixty of the largest packets, hundreds of the usual ones,
// far more than a healthy broker lets pile up, and all a stalled one costs in memory. The
// link's thread writes it out in batches of whole packets.
enum { QUEUE_BYTES = 256 * 1024, BATCH_BYTES = 16 * 1024 };

struct MqttLink {
    char host[256];
    unsigned short port;
    HANDLE thread;
    int index;
    // The packets queued for the link's thread, each after its length in two bytes, in a
    // ring of QUEUE_BYTES from queue_head; under queue_lock. Only a connected link takes
    // packets, and its thread empties the queue when a connection ends and before the next
    // one goes online, so that nothing queued for one connection goes out on another.
    CRITICAL_SECTION queue_lock;
    uint8_t* queue;               // allocated once with the locks; without it the link takes nothing
    int queue_head;
    std::atomic<int> queue_used;  // written under queue_lock; the link's thread peeks without it
    std::atomic<int> connected;   // written under queue_lock and the client lock, read anywhere
    // A send failed or timed out: no more packets on this stream, and the link's thread
    // drops the connection (that is where connected goes back to 0). While the thread runs,
    // only it writes this.
    std::atomic<int> broken;
    HANDLE wake;    // manual reset; set by mqtt_stop
    HANDLE queued;  // auto reset; set when the queue stops being empty
};

static MqttLink g_links[MQTT_LINK_COUNT] = {
    {MQTT_BROKER_HOST_0, MQTT_PORT, nullptr, 0, {}, nullptr, 0, {0}, {0}, {0}, nullptr, nullptr},
    {MQTT_BROKER_HOST_1, MQTT_PORT, nullptr, 1, {}, nullptr, 0, {0}, {0}, {0}, nullptr, nullptr},
};

static std::atomic<int> g_running{0};
// Each start is a new generation; a link thread that outlived an earlier stop sees that it
// is stale and touches nothing of the new one.
static std::atomic<int> g_generation{0};
// The client lock: the subscription list, the packet identifier counter and the recent
// messages. Never held while sending. Never deleted: a link thread still waiting in name
// resolution when mqtt_stop gives up on it takes the lock once more on its way out.
static CRITICAL_SECTION g_lock;
static INIT_ONCE g_lock_once = INIT_ONCE_STATIC_INIT;
static HWND g_window;          // written by mqtt_start before the link threads start
static UINT g_event_message;  // likewise
static DWORD g_ping_ms = KEEP_ALIVE_MS * 3 / 5;     // likewise
static DWORD g_silence_ms = KEEP_ALIVE_MS * 3 / 2;  // likewise
static char g_seed[MQTT_CLIENT_ID_CAPACITY];
static char g_subscriptions[MQTT_SUBSCRIPTIONS_MAX][MQTT_TOPIC_CAPACITY];
// Per subscription: whether each link's copy of a message is delivered (under g_lock).
static char g_every_copy[MQTT_SUBSCRIPTIONS_MAX];
static int g_subscription_count;
static uint16_t g_packet_id = 1;
static MqttRecent g_recent;
static int g_winsock_started;
static std::atomic<MqttObserver> g_observer{nullptr};
static std::atomic<unsigned> g_dropped{0};

static BOOL CALLBACK init_lock(INIT_ONCE*, void*, void**) {
    InitializeCriticalSection(&g_lock);
    for (MqttLink& link : g_links) {
        InitializeCriticalSection(&link.queue_lock);
        link.queue = (uint8_t*)malloc(QUEUE_BYTES);
        link.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        link.queued = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    return TRUE;
}

void mqtt_set_broker(int link_index, const char* host, unsigned short port) {
    if (link_index < 0 || link_index >= MQTT_LINK_COUNT || !host) return;
    snprintf(g_links[link_index].host, sizeof g_links[link_index].host, "%s", host);
    g_links[link_index].port = port;
}

void mqtt_set_keep_alive(int period_ms) {
    DWORD period = period_ms > 0 ? (DWORD)period_ms : (DWORD)KEEP_ALIVE_MS;
    g_ping_ms = period * 3 / 5;
    g_silence_ms = period * 3 / 2;
}

static bool alive(int generation) { return g_running.load() && g_generation.load() == generation; }

// Waits in short steps, so that a stop is noticed within 100 ms.
static void wait_while_alive(int generation, int ms) {
    for (int waited = 0; waited < ms && alive(generation); waited += 100) Sleep(100);
}

static void post_event(int kind, const char* topic, const char* payload, DWORD arrived_at = 0, int link = -1) {
    MqttEvent* event = (MqttEvent*)calloc(1, sizeof(MqttEvent));
    if (!event) return;
    event->kind = kind;
    event->link = link;
    event->arrived_at = arrived_at ? arrived_at : 1;
    if (topic) snprintf(event->topic, sizeof event->topic, "%s", topic);
    if (payload) snprintf(event->payload, sizeof event->payload, "%s", payload);
    if (!IsWindow(g_window) || !PostMessageW(g_window, g_event_message, (WPARAM)event, 0)) free(event);
}

void mqtt_event_free(WPARAM event) { free((MqttEvent*)event); }

//~ The queue

static void ring_put(MqttLink* link, int at, const uint8_t* bytes, int length) {
    at %= QUEUE_BYTES;
    int first = length < QUEUE_BYTES - at ? length : QUEUE_BYTES - at;
    memcpy(link->queue + at, bytes, (size_t)first);
    memcpy(link->queue, bytes + first, (size_t)(length - first));
}

static void ring_get(const MqttLink* link, int at, uint8_t* out, int length) {
    at %= QUEUE_BYTES;
    int first = length < QUEUE_BYTES - at ? length : QUEUE_BYTES - at;
    memcpy(out, link->queue + at, (size_t)first);
    memcpy(out + first, link->queue, (size_t)(length - first));
}

// Under queue_lock.
static void queue_clear(MqttLink* link) {
    link->queue_head = 0;
    link->queue_used.store(0);
}

// Appends one packet for the link's thread; on the main thread. False when the link is not
// connected, or when its queue is full: the packet is then dropped and counted.
static bool link_queue(MqttLink* link, const uint8_t* bytes, int length) {
    if (!link->connected.load() || length <= 0 || length > BATCH_BYTES) return false;
    bool queued = false, full = false;
    EnterCriticalSection(&link->queue_lock);
    if (link->connected.load() && !link->broken.load()) {
        int used = link->queue_used.load();
        if (link->queue && used + 2 + length <= QUEUE_BYTES) {
            uint8_t size[2] = {(uint8_t)(length >> 8), (uint8_t)(length & 0xFF)};
            ring_put(link, link->queue_head + used, size, 2);
            ring_put(link, link->queue_head + used + 2, bytes, length);
            link->queue_used.store(used + 2 + length);
            // The link's thread never waits while its queue holds something, so one wake
            // each time it stops being empty is enough.
            if (!used) SetEvent(link->queued);
            queued = true;
        } else {
            full = true;
        }
    }
    LeaveCriticalSection(&link->queue_lock);
    if (full) g_dropped.fetch_add(1);
    return queued;
}

// Takes the oldest whole packets, as many as fit in capacity (at least one: no packet is
// queued larger than a batch).
static int queue_take(MqttLink* link, uint8_t* out, int capacity) {
    int taken = 0;
    EnterCriticalSection(&link->queue_lock);
    int used = link->queue_used.load();
    while (used > 0) {
        uint8_t size[2];
        ring_get(link, link->queue_head, size, 2);
        int length = (size[0] << 8) | size[1];
        if (taken + length > capacity) break;
        ring_get(link, link->queue_head + 2, out + taken, length);
        taken += length;
        link->queue_head = (link->queue_head + 2 + length) % QUEUE_BYTES;
        used -= 2 + length;
    }
    link->queue_used.store(used);
    LeaveCriticalSection(&link->queue_lock);
    return taken;
}

//~ A connection

// One connection as its thread reads and writes it. What has been read from the socket
// but not yet taken stays in bytes: many small messages arrive in one segment, and one
// recv per segment instead of three or four per message is what lets a link keep up with
// a busy broker.
struct LinkReader {
    MqttLink* link;
    SOCKET s;
    WSAEVENT readable;
    int generation;
    DWORD last_received, last_ping;
    DWORD read_at;  // the last recv that brought bytes, on tick_fine's clock
    DWORD silence_ms;  // the CONNACK's wait during the handshake, then the keep-alive's
    bool pinging;
    int have, at;
    uint8_t bytes[2048];
    uint8_t batch[BATCH_BYTES];  // queued packets on their way to the socket
    // What the observer is shown of a sent PUBLISH.
    char sent_topic[MQTT_TOPIC_CAPACITY];
    char sent_payload[MQTT_PUBLISH_MAX + 1];
};

// What is left of period after since has passed, never less than 0.
static DWORD time_left(DWORD period, DWORD since) { return since >= period ? 0 : period - since; }

//~ Sending

// Sends the whole packet, waiting for room in the socket's buffer at most limit_ms in
// all. An abortable send also gives up when the client stops. On the link's thread, the
// only one that writes to its socket.
static bool send_bounded(SOCKET s, const uint8_t* bytes, int length, DWORD limit_ms, bool abortable) {
    DWORD start = GetTickCount();
    while (length > 0) {
        int sent = send(s, (const char*)bytes, length, 0);
        if (sent > 0) {
            bytes += sent;
            length -= sent;
            continue;
        }
        if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
        DWORD waited = GetTickCount() - start;
        if (waited >= limit_ms || (abortable && !g_running.load())) return false;
        DWORD slice = limit_ms - waited < (DWORD)SEND_SLICE_MS ? limit_ms - waited : (DWORD)SEND_SLICE_MS;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval wait = {0, (long)slice * 1000};
        if (select(0, nullptr, &writable, nullptr, &wait) < 0) return false;
    }
    return true;
}

// Sends one packet on the connection. One that does not go out whole has cut the stream:
// the link is marked broken, and the connection ends.
static bool link_send(LinkReader* r, const uint8_t* bytes, int length) {
    if (send_bounded(r->s, bytes, length, SEND_WAIT_MS, true)) return true;
    r->link->broken.store(1);
    return false;
}

// Shows the observer each PUBLISH of a batch that went out, read back from its bytes.
static void observe_sent(LinkReader* r, const uint8_t* bytes, int length) {
    MqttObserver observer = g_observer.load();
    if (!observer) return;
    int at = 0;
    while (at < length) {
        uint8_t header = bytes[at++];
        uint32_t remaining = 0;
        int count = 0, state = 0;
        while (at < length && (state = mqtt_remaining_length_byte(bytes[at++], &count, &remaining)) == 0) {
        }
        if (state <= 0 || remaining > (uint32_t)(length - at)) return;  // the client built these: never
        const uint8_t* body = bytes + at;
        at += (int)remaining;
        if ((header >> 4) != 3 || remaining < 2) continue;
        int topic_length = (body[0] << 8) | body[1];
        int payload_length = (int)remaining - 2 - topic_length;
        if (topic_length >= (int)sizeof r->sent_topic || payload_length < 0 ||
            payload_length >= (int)sizeof r->sent_payload)
            continue;
        memcpy(r->sent_topic, body + 2, (size_t)topic_length);
        r->sent_topic[topic_length] = 0;
        memcpy(r->sent_payload, body + 2 + topic_length, (size_t)payload_length);
        r->sent_payload[payload_length] = 0;
        observer(1, r->link->index, r->sent_topic, r->sent_payload);
    }
}

// Writes what the main thread queued, a batch of whole packets at a time. While the client
// runs, each batch gets SEND_WAIT_MS and a stop cuts the wait short; at a stop, what is left
// shares the DISCONNECT's budget from started, which the stop does not cut. At most a
// queue's worth per call, so that a busy caller cannot keep the thread from reading.
static bool drain_queue(LinkReader* r, bool stopping, DWORD started) {
    for (int moved = 0; moved < QUEUE_BYTES;) {
        int length = queue_take(r->link, r->batch, (int)sizeof r->batch);
        if (!length) break;
        DWORD limit = stopping ? time_left(DISCONNECT_WAIT_MS, GetTickCount() - started) : (DWORD)SEND_WAIT_MS;
        if (!send_bounded(r->s, r->batch, length, limit, !stopping)) {
            r->link->broken.store(1);
            return false;
        }
        observe_sent(r, r->batch, length);
        moved += length;
    }
    return true;
}

//~ Receiving

// Whether the connection goes on: the client runs, no send on it has failed, the broker
// has said something recently enough, and what is queued and the keep-alive ping are out.
static bool keep_going(LinkReader* r) {
    if (!alive(r->generation) || r->link->broken.load()) return false;
    if (r->link->queue_used.load() && !drain_queue(r, false, 0)) return false;
    DWORD now = GetTickCount();
    if (now - r->last_received >= r->silence_ms) return false;
    if (r->pinging && now - r->last_ping >= g_ping_ms) {
        r->last_ping = now;
        uint8_t ping[2];
        mqtt_build_pingreq(ping, sizeof ping);
        if (!link_send(r, ping, sizeof ping)) return false;
    }
    return true;
}

// Waits until the socket may have something to read; false ends the connection. Also
// wakes for something queued, the next ping, the silence limit and a stop.
static bool wait_for_input(LinkReader* r) {
    for (;;) {
        if (!keep_going(r)) return false;
        DWORD now = GetTickCount();
        DWORD timeout = time_left(r->silence_ms, now - r->last_received);
        if (r->pinging) {
            DWORD to_ping = time_left(g_ping_ms, now - r->last_ping);
            if (to_ping < timeout) timeout = to_ping;
        }
        // More was queued than one drain takes: only look whether something came in.
        if (r->link->queue_used.load()) timeout = 0;
        HANDLE events[3] = {r->readable, r->link->wake, r->link->queued};
        DWORD woke = WaitForMultipleObjects(3, events, FALSE, timeout);
        if (woke == WAIT_OBJECT_0) {
            WSANETWORKEVENTS happened;
            WSAEnumNetworkEvents(r->s, r->readable, &happened);
            return true;
        }
        if (woke == WAIT_FAILED) return false;
    }
}

// Takes length bytes (or skips them when out is null). Every refill first checks that the
// connection goes on, so that a broker pouring out one endless packet is still pinged,
// still sent what is queued, and a stop still heard.
static bool reader_take(LinkReader* r, uint8_t* out, uint32_t length) {
    while (length > 0) {
        while (r->at == r->have) {
            if (!keep_going(r)) return false;
            int got = recv(r->s, (char*)r->bytes, (int)sizeof r->bytes, 0);
            if (got > 0) {
                r->have = got;
                r->at = 0;
                r->last_received = GetTickCount();
                r->read_at = tick_fine();
            } else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK || !wait_for_input(r)) {
                return false;
            }
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

// arrived_at: the tick of the recv that brought the message's last bytes.
static void deliver(const char* topic, const char* payload, int link_index, DWORD arrived_at) {
    uint64_t hash = mqtt_message_hash(topic, payload);
    EnterCriticalSection(&g_lock);
    int copy = mqtt_recent_seen(&g_recent, hash, link_index, GetTickCount());
    for (int i = 0; copy && i < g_subscription_count; i++)
        if (g_every_copy[i] && strcmp(g_subscriptions[i], topic) == 0) copy = 0;
    LeaveCriticalSection(&g_lock);
    if (!copy) post_event(MQTT_EVENT_MESSAGE, topic, payload, arrived_at, link_index);
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
        if (kept > 0) {
            MqttObserver observer = g_observer.load();
            if (observer) observer(0, r->link->index, topic, payload);
            deliver(topic, payload, r->link->index, r->read_at);
        }
        ok = kept >= 0;  // a malformed topic closes the connection
    }
    free(body);
    return ok;
}

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
    return s;  // stays non-blocking
}

// Sends CONNECT and waits at most 4 s for an accepting CONNACK.
static bool handshake(LinkReader* r, const char* client_id) {
    uint8_t packet[128];
    int length = mqtt_build_connect(packet, sizeof packet, client_id);
    if (!length) return false;
    bool sent = send_bounded(r->s, packet, length, SEND_WAIT_MS, true);
    r->silence_ms = CONNECT_WAIT_MS;
    r->pinging = false;
    r->last_received = GetTickCount();
    uint8_t ack[4];
    return sent && reader_take(r, ack, 4) && ack[0] == 0x20 && ack[3] == 0;
}

// Opens the link's queue and renews every subscription, in list order, in one send. The
// queue opens under the client lock while the renewal is taken from the list: a subscribe
// or unsubscribe that reaches the list later is queued, and goes out after the renewal.
static bool go_online(LinkReader* r) {
    MqttLink* link = r->link;
    EnterCriticalSection(&g_lock);
    bool ok = true;
    uint8_t* packets = nullptr;
    int length = 0;
    if (g_subscription_count) {
        int capacity = g_subscription_count * (MQTT_TOPIC_CAPACITY + 8);
        packets = (uint8_t*)malloc((size_t)capacity);
        ok = packets != nullptr;
        for (int i = 0; ok && i < g_subscription_count; i++) {
            length += mqtt_build_subscribe(packets + length, capacity - length, mqtt_next_packet_id(&g_packet_id),
                                           g_subscriptions[i]);
        }
    }
    if (ok) {
        EnterCriticalSection(&link->queue_lock);
        queue_clear(link);
        link->connected.store(1);
        LeaveCriticalSection(&link->queue_lock);
    }
    LeaveCriticalSection(&g_lock);
    if (ok && length) ok = link_send(r, packets, length);
    if (!ok) link->broken.store(1);  // no other packet on a cut stream; the caller drops it
    free(packets);
    return ok;
}

//~ The link thread

// At a stop, writes out what is still queued (the program says goodbye right before it
// stops the client) and says DISCONNECT (the broker then ends the session cleanly, and
// drops anything it would otherwise publish for us). Then closes the link's queue and the
// socket. Returns whether the other link is still connected.
static bool drop_connection(LinkReader* r) {
    MqttLink* link = r->link;
    if (!alive(r->generation) && link->connected.load() && !link->broken.load()) {
        static const uint8_t DISCONNECT[] = {0xE0, 0x00};
        DWORD started = GetTickCount();
        if (drain_queue(r, true, started)) {
            send_bounded(r->s, DISCONNECT, sizeof DISCONNECT, time_left(DISCONNECT_WAIT_MS, GetTickCount() - started),
                         false);
        }
    }
    // Clearing this link and reading the other under one lock: of two links that drop at
    // the same moment, the second sees the first gone.
    EnterCriticalSection(&g_lock);
    EnterCriticalSection(&link->queue_lock);
    link->connected.store(0);
    queue_clear(link);
    LeaveCriticalSection(&link->queue_lock);
    bool any = false;
    for (MqttLink& l : g_links) any = any || l.connected.load();
    LeaveCriticalSection(&g_lock);
    closesocket(r->s);
    return any;
}

static DWORD WINAPI link_thread(void* param) {
    int index = (int)((INT_PTR)param & 0xFF);
    int generation = (int)((INT_PTR)param >> 8);
    MqttLink* link = &g_links[index];
    // Kept off the thread's 32 KiB stack; lives as long as the thread.
    LinkReader* r = (LinkReader*)calloc(1, sizeof(LinkReader));
    WSAEVENT readable = WSACreateEvent();
    if (!r || readable == WSA_INVALID_EVENT) {
        free(r);
        if (readable != WSA_INVALID_EVENT) WSACloseEvent(readable);
        return 0;
    }
    while (alive(generation)) {
        char client_id[MQTT_CLIENT_ID_CAPACITY];
        mqtt_client_id(client_id, index, g_seed, GetTickCount());
        SOCKET s = open_connection(link, generation);
        if (s == INVALID_SOCKET) {
            wait_while_alive(generation, RETRY_WAIT_MS);
            continue;
        }
        WSAResetEvent(readable);
        if (WSAEventSelect(s, readable, FD_READ | FD_CLOSE) != 0) {
            closesocket(s);
            wait_while_alive(generation, RETRY_WAIT_MS);
            continue;
        }
        memset(r, 0, sizeof *r);
        r->link = link;
        r->s = s;
        r->readable = readable;
        r->generation = generation;
        // A stop after this reset is seen by the check of alive() that follows it.
        ResetEvent(link->wake);
        link->broken.store(0);
        if (!alive(generation) || !handshake(r, client_id) || !go_online(r)) {
            drop_connection(r);
            wait_while_alive(generation, RETRY_WAIT_MS);
            continue;
        }
        if (alive(generation)) post_event(MQTT_EVENT_CONNECTED, nullptr, nullptr);
        r->silence_ms = g_silence_ms;
        r->pinging = true;
        r->last_ping = r->last_received = GetTickCount();
        while (read_packet(r)) {
        }
        bool any = drop_connection(r);
        if (!any && alive(generation)) post_event(MQTT_EVENT_OFFLINE, nullptr, nullptr);
        wait_while_alive(generation, RECONNECT_WAIT_MS);
    }
    WSACloseEvent(readable);
    free(r);
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
        link->connected.store(0);
        link->broken.store(0);
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
    // Each link's thread wakes, says DISCONNECT on its connection and closes it itself: no
    // other thread closes a socket that a link thread may still be using.
    for (MqttLink& link : g_links) SetEvent(link.wake);
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

// SUBSCRIBE (0x82) or UNSUBSCRIBE (0xA2) with a fresh packet identifier for this link.
static bool link_queue_topic(MqttLink* link, uint8_t type, const char* topic) {
    if (!link->connected.load()) return false;
    EnterCriticalSection(&g_lock);
    uint16_t id = mqtt_next_packet_id(&g_packet_id);
    LeaveCriticalSection(&g_lock);
    uint8_t packet[MQTT_TOPIC_CAPACITY + 8];
    int length = type == 0x82 ? mqtt_build_subscribe(packet, sizeof packet, id, topic)
                              : mqtt_build_unsubscribe(packet, sizeof packet, id, topic);
    return length && link_queue(link, packet, length);
}

bool mqtt_subscribe(const char* topic, bool every_copy) {
    if (!g_running.load() || !topic || !topic[0]) return false;
    char normal[MQTT_TOPIC_CAPACITY];
    mqtt_normalize_topic(normal, topic);
    EnterCriticalSection(&g_lock);
    int known = 0;
    for (int i = 0; i < g_subscription_count && !known; i++) {
        known = strcmp(g_subscriptions[i], normal) == 0;
        if (known && every_copy) g_every_copy[i] = 1;
    }
    if (!known && g_subscription_count < MQTT_SUBSCRIPTIONS_MAX) {
        g_every_copy[g_subscription_count] = every_copy;
        memcpy(g_subscriptions[g_subscription_count++], normal, sizeof normal);
    }
    LeaveCriticalSection(&g_lock);
    bool any = false;
    for (MqttLink& link : g_links) any = link_queue_topic(&link, 0x82, normal) || any;
    return any;
}

bool mqtt_unsubscribe(const char* topic) {
    if (!g_running.load() || !topic || !topic[0]) return false;
    char normal[MQTT_TOPIC_CAPACITY];
    mqtt_normalize_topic(normal, topic);
    EnterCriticalSection(&g_lock);
    for (int i = 0; i < g_subscription_count; i++) {
        if (strcmp(g_subscriptions[i], normal) != 0) continue;
        memmove(g_subscriptions[i], g_subscriptions[i + 1], (size_t)(g_subscription_count - i - 1) * MQTT_TOPIC_CAPACITY);
        memmove(g_every_copy + i, g_every_copy + i + 1, (size_t)(g_subscription_count - i - 1));
        g_subscription_count--;
        break;
    }
    LeaveCriticalSection(&g_lock);
    bool any = false;
    for (MqttLink& link : g_links) any = link_queue_topic(&link, 0xA2, normal) || any;
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
    for (MqttLink& link : g_links) any = link_queue(&link, packet, length) || any;
    return any;
}

bool mqtt_link_connected(int link) {
    if (!g_running.load() || link < 0 || link >= MQTT_LINK_COUNT) return false;
    return g_links[link].connected.load() && !g_links[link].broken.load();
}

bool mqtt_is_online(void) {
    if (!g_running.load()) return false;
    for (MqttLink& link : g_links)
        if (link.connected.load() && !link.broken.load()) return true;
    return false;
}

unsigned mqtt_dropped_count(void) { return g_dropped.load(); }

void mqtt_set_observer(MqttObserver observer) { g_observer.store(observer); }

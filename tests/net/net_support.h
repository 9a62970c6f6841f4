#pragma once
// Real network parts for the transport tests: mosquitto brokers on loopback started and
// killed by the test, a bare MQTT peer on a blocking socket, a scripted TCP server that
// plays a hostile broker and records what the client sent, and a window that collects
// the client's events.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "net/mqtt.h"

void winsock_up(void);
int free_port(void);
bool port_accepts(int port);

// A mosquitto process on 127.0.0.1:port, started through the shell, killed by process id.
struct Broker {
    int port = 0;
    int pid = 0;
    bool start();  // on a fresh free port the first time, on the same port afterwards
    void stop();
    ~Broker() { stop(); }
};

// A plain MQTT 3.1.1 client for the other end of the conversation.
struct RawPeer {
    SOCKET s = INVALID_SOCKET;
    bool connect_to(int port, const char* client_id);
    bool subscribe(const char* topic);
    bool publish(const char* topic, const std::string& payload, bool retain = false);
    // PUBLISH messages received within ms, as topic and payload.
    std::vector<std::pair<std::string, std::string>> receive(int ms);
    void close();
    ~RawPeer() { close(); }
};

struct SinkEvent {
    int kind;
    std::string topic, payload;
};

struct EventSink {
    HWND window = nullptr;
    std::vector<SinkEvent> events;
    EventSink();
    ~EventSink();
    void clear() { events.clear(); }
    int count(int kind) const;
    int messages(const std::string& topic, const std::string& payload) const;
};

void pump_messages(int ms);
// The window tests have one of their own; a file that uses both takes the first.
#ifndef NELVO_PUMP_UNTIL
#define NELVO_PUMP_UNTIL
template <typename F>
bool pump_until(F done, int ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if ((int)(GetTickCount() - start) > ms) return false;
        pump_messages(5);
    }
    return true;
}
#endif

// Accepts connections on a free loopback port; each connection runs script(n, socket) on
// a thread of its own (n counts from 0) while another thread records every byte the
// client sends on it.
struct ScriptedServer {
    int port = 0;
    SOCKET listener = INVALID_SOCKET;
    std::function<void(int, SOCKET)> script;
    std::atomic<int> connections{0};
    std::atomic<bool> closing{false};
    // The connection whose bytes are left unread while it is set, like a broker that has
    // stopped reading: the client's sends then fill the socket buffers and stall.
    std::atomic<int> deaf{-1};
    CRITICAL_SECTION lock;
    std::vector<std::string> received;  // per connection, guarded by lock
    std::vector<HANDLE> threads;
    std::vector<SOCKET> sockets;  // closed when the server goes; scripts end a connection with shutdown
    HANDLE acceptor = nullptr;
    explicit ScriptedServer(std::function<void(int, SOCKET)> script);
    ~ScriptedServer();
    std::string bytes_of(int connection);
};

// Sends bytes whole; false when the client has gone.
bool send_bytes(SOCKET s, const std::string& bytes);
// Reads the client's CONNECT (the recorder keeps a copy) and answers with CONNACK.
void accept_session(SOCKET s);

// MQTT packets in a recorded stream: header byte and body.
struct Packet {
    uint8_t header;
    std::string body;
};
std::vector<Packet> split_packets(const std::string& stream);
// The variable-length remaining length of n.
std::string remaining_length(uint32_t n);
std::string publish_packet(const std::string& topic, const std::string& payload, uint8_t header = 0x30,
                           int packet_id = -1);

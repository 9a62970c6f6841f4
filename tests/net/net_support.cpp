#include "net_support.h"

#include "base/messages.h"

#include <ws2tcpip.h>

#include <stdio.h>
#include <stdlib.h>

void winsock_up(void) {
    static bool up = false;
    if (up) return;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    up = true;
}

static sockaddr_in loopback(int port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((u_short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int free_port(void) {
    winsock_up();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(0);
    bind(s, (sockaddr*)&a, sizeof a);
    int size = sizeof a;
    getsockname(s, (sockaddr*)&a, &size);
    closesocket(s);
    return ntohs(a.sin_port);
}

bool port_accepts(int port) {
    winsock_up();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(port);
    bool ok = connect(s, (sockaddr*)&a, sizeof a) == 0;
    closesocket(s);
    return ok;
}

//~ Brokers

// A Unix command through the shell; Wine starts Unix programs given by a Z: path.
static bool run_shell(const std::string& script) {
    std::wstring line = L"sh -c \"";
    for (char c : script) line += (wchar_t)c;
    line += L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

static std::string broker_dir_unix(void) {
    char dir[MAX_PATH] = "";
    GetEnvironmentVariableA("NELVO_TEST_BROKER_DIR", dir, MAX_PATH);
    std::string d = dir;
    if (d.size() > 2 && d[1] == ':') d = d.substr(2);
    for (char& c : d)
        if (c == '\\') c = '/';
    return d.empty() ? std::string("/tmp") : d;
}

bool Broker::start() {
    if (pid) return true;
    if (!port) port = free_port();
    std::string pid_file = broker_dir_unix() + "/" + std::to_string(port) + ".pid";
    std::string windows_pid_file = "Z:" + pid_file;
    for (char& c : windows_pid_file)
        if (c == '/') c = '\\';
    DeleteFileA(windows_pid_file.c_str());
    if (!run_shell("exec /usr/sbin/mosquitto -p " + std::to_string(port) + " >/dev/null 2>&1 & echo $! > " + pid_file)) {
        fprintf(stderr, "broker on %d: the shell did not start (error %lu)\n", port, GetLastError());
        return false;
    }
    for (int i = 0; i < 100 && !port_accepts(port); i++) Sleep(50);
    FILE* f = fopen(windows_pid_file.c_str(), "rb");
    if (f) {
        if (fscanf(f, "%d", &pid) != 1) pid = 0;
        fclose(f);
    }
    bool accepts = port_accepts(port);
    if (!pid || !accepts) {
        SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        int error = probe == INVALID_SOCKET ? WSAGetLastError() : 0;
        if (probe != INVALID_SOCKET) closesocket(probe);
        fprintf(stderr, "broker on %d: pid %d (file %s), %s; a new socket: error %d\n", port, pid,
                f ? "read" : "missing", accepts ? "accepting" : "not accepting", error);
    }
    return pid != 0 && accepts;
}

void Broker::stop() {
    if (!pid) return;
    run_shell("kill " + std::to_string(pid));
    for (int i = 0; i < 100 && port_accepts(port); i++) Sleep(50);
    pid = 0;
}

//~ A bare peer

static bool send_all_bytes(SOCKET s, const uint8_t* p, int n) {
    while (n > 0) {
        int sent = send(s, (const char*)p, n, 0);
        if (sent <= 0) return false;
        p += sent;
        n -= sent;
    }
    return true;
}

bool send_bytes(SOCKET s, const std::string& bytes) {
    return send_all_bytes(s, (const uint8_t*)bytes.data(), (int)bytes.size());
}

static bool recv_all(SOCKET s, uint8_t* p, int n) {
    while (n > 0) {
        int got = recv(s, (char*)p, n, 0);
        if (got <= 0) return false;
        p += got;
        n -= got;
    }
    return true;
}

bool RawPeer::connect_to(int port, const char* client_id) {
    winsock_up();
    close();
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(port);
    if (connect(s, (sockaddr*)&a, sizeof a) != 0) return false;
    uint8_t packet[128];
    int n = mqtt_build_connect(packet, sizeof packet, client_id);
    uint8_t ack[4];
    return send_all_bytes(s, packet, n) && recv_all(s, ack, 4) && ack[0] == 0x20 && ack[3] == 0;
}

bool RawPeer::subscribe(const char* topic) {
    uint8_t packet[256];
    int n = mqtt_build_subscribe(packet, sizeof packet, 1, topic);
    if (!send_all_bytes(s, packet, n)) return false;
    uint8_t ack[5];
    return recv_all(s, ack, 5) && ack[0] == 0x90;
}

bool RawPeer::publish(const char* topic, const std::string& payload, bool retain) {
    static uint8_t packet[8192];
    int n = mqtt_build_publish(packet, sizeof packet, topic, payload.data(), (int)payload.size(), retain);
    return n && send_all_bytes(s, packet, n);
}

std::vector<std::pair<std::string, std::string>> RawPeer::receive(int ms) {
    std::vector<std::pair<std::string, std::string>> out;
    DWORD start = GetTickCount();
    for (;;) {
        int left = ms - (int)(GetTickCount() - start);
        if (left <= 0) break;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait = {left / 1000, (left % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
        uint8_t header;
        if (!recv_all(s, &header, 1)) break;
        uint32_t length = 0;
        int count = 0, state = 0;
        while (state == 0) {
            uint8_t b;
            if (!recv_all(s, &b, 1)) return out;
            state = mqtt_remaining_length_byte(b, &count, &length);
        }
        if (state < 0) break;
        std::string body(length, '\0');
        if (length && !recv_all(s, (uint8_t*)&body[0], (int)length)) break;
        if ((header >> 4) != 3 || body.size() < 2) continue;
        size_t topic_length = ((uint8_t)body[0] << 8) | (uint8_t)body[1];
        size_t at = 2 + topic_length + ((header & 0x06) ? 2 : 0);
        if (at > body.size()) continue;
        out.push_back({body.substr(2, topic_length), body.substr(at)});
    }
    return out;
}

void RawPeer::close() {
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
}

//~ Events

static LRESULT CALLBACK sink_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == MSG_MQTT_EVENT) {
        EventSink* sink = (EventSink*)GetWindowLongPtrW(window, GWLP_USERDATA);
        MqttEvent* event = (MqttEvent*)wparam;
        if (sink) sink->events.push_back({event->kind, event->topic, event->payload});
        mqtt_event_free(wparam);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

EventSink::EventSink() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = sink_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"NelvoTestMqttSink";
        RegisterClassW(&wc);
        registered = true;
    }
    window = CreateWindowExW(0, L"NelvoTestMqttSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)this);
}

EventSink::~EventSink() {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
}

int EventSink::count(int kind) const {
    int n = 0;
    for (const SinkEvent& e : events) n += e.kind == kind;
    return n;
}

int EventSink::messages(const std::string& topic, const std::string& payload) const {
    int n = 0;
    for (const SinkEvent& e : events) n += e.kind == MQTT_EVENT_MESSAGE && topic == e.topic && payload == e.payload;
    return n;
}

void pump_messages(int ms) {
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

//~ The scripted server

namespace {
struct ConnectionStart {
    ScriptedServer* server;
    int n;
    SOCKET s;
};
}  // namespace

static DWORD WINAPI record_thread(void* param) {
    ConnectionStart* c = (ConnectionStart*)param;
    char buf[4096];
    for (;;) {
        while (c->server->deaf.load() == c->n && !c->server->closing.load()) Sleep(20);
        int got = recv(c->s, buf, sizeof buf, 0);
        if (got <= 0) break;
        EnterCriticalSection(&c->server->lock);
        c->server->received[c->n].append(buf, got);
        LeaveCriticalSection(&c->server->lock);
    }
    delete c;
    return 0;
}

static DWORD WINAPI script_thread(void* param) {
    ConnectionStart* c = (ConnectionStart*)param;
    c->server->script(c->n, c->s);
    delete c;
    return 0;
}

static DWORD WINAPI accept_thread(void* param) {
    ScriptedServer* server = (ScriptedServer*)param;
    for (;;) {
        SOCKET s = accept(server->listener, nullptr, nullptr);
        if (s == INVALID_SOCKET || server->closing.load()) {
            if (s != INVALID_SOCKET) closesocket(s);
            return 0;
        }
        BOOL no_delay = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&no_delay, sizeof no_delay);
        EnterCriticalSection(&server->lock);
        int n = (int)server->received.size();
        server->received.push_back(std::string());
        server->sockets.push_back(s);
        LeaveCriticalSection(&server->lock);
        server->threads.push_back(CreateThread(nullptr, 0, record_thread, new ConnectionStart{server, n, s}, 0, nullptr));
        server->threads.push_back(CreateThread(nullptr, 0, script_thread, new ConnectionStart{server, n, s}, 0, nullptr));
        server->connections.store(n + 1);
    }
}

ScriptedServer::ScriptedServer(std::function<void(int, SOCKET)> play) : script(std::move(play)) {
    winsock_up();
    InitializeCriticalSection(&lock);
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(0);
    bind(listener, (sockaddr*)&a, sizeof a);
    int size = sizeof a;
    getsockname(listener, (sockaddr*)&a, &size);
    port = ntohs(a.sin_port);
    listen(listener, 8);
    acceptor = CreateThread(nullptr, 0, accept_thread, this, 0, nullptr);
}

ScriptedServer::~ScriptedServer() {
    closing.store(true);
    closesocket(listener);
    WaitForSingleObject(acceptor, 2000);
    CloseHandle(acceptor);
    for (SOCKET s : sockets) shutdown(s, SD_BOTH);
    for (HANDLE t : threads) {
        WaitForSingleObject(t, 5000);
        CloseHandle(t);
    }
    for (SOCKET s : sockets) closesocket(s);
    DeleteCriticalSection(&lock);
}

std::string ScriptedServer::bytes_of(int connection) {
    EnterCriticalSection(&lock);
    std::string copy = connection < (int)received.size() ? received[connection] : std::string();
    LeaveCriticalSection(&lock);
    return copy;
}

void accept_session(SOCKET s) {
    // The recorder reads the socket; the CONNECT has come once it holds 2 + 12 + id bytes.
    // Waiting a little is enough here: the client sends CONNECT right after connecting.
    Sleep(100);
    static const char CONNACK[] = {0x20, 0x02, 0x00, 0x00};
    send_bytes(s, std::string(CONNACK, 4));
}

std::vector<Packet> split_packets(const std::string& stream) {
    std::vector<Packet> out;
    size_t at = 0;
    while (at < stream.size()) {
        uint8_t header = (uint8_t)stream[at++];
        uint32_t length = 0;
        int count = 0, state = 0;
        while (state == 0 && at < stream.size()) state = mqtt_remaining_length_byte((uint8_t)stream[at++], &count, &length);
        if (state != 1 || at + length > stream.size()) break;
        out.push_back({header, stream.substr(at, length)});
        at += length;
    }
    return out;
}

std::string publish_packet(const std::string& topic, const std::string& payload, uint8_t header, int packet_id) {
    std::string body;
    body += (char)(topic.size() >> 8);
    body += (char)(topic.size() & 0xFF);
    body += topic;
    if (packet_id >= 0) {
        body += (char)(packet_id >> 8);
        body += (char)(packet_id & 0xFF);
    }
    body += payload;
    return std::string(1, (char)header) + remaining_length((uint32_t)body.size()) + body;
}

std::string remaining_length(uint32_t n) {
    std::string bytes;
    do {
        uint8_t b = n & 0x7F;
        n >>= 7;
        if (n) b |= 0x80;
        bytes += (char)b;
    } while (n);
    return bytes;
}

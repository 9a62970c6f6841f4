#pragma once
// A listener on a loopback broker that subscribes to every topic and keeps what passes, so
// that a benchmark can count what installations send each other without asking them (and
// count the same way for any build of the program).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>
#include <vector>

struct TapMessage {
    std::string topic, payload;
};

struct BrokerTap {
    SOCKET s = INVALID_SOCKET;
    HANDLE thread = nullptr;
    CRITICAL_SECTION lock;
    std::vector<TapMessage> seen;

    bool start(int port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        InitializeCriticalSection(&lock);
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at = {};
        at.sin_family = AF_INET;
        at.sin_port = htons((u_short)port);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s == INVALID_SOCKET || connect(s, (sockaddr*)&at, sizeof at) != 0) return false;
        // CONNECT with a keep-alive of 0 (none: the tap never pings), clean session.
        std::string id = "benchtap" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(port);
        std::string body = std::string("\x00\x04MQTT\x04\x02\x00\x00", 10) + (char)0 + (char)id.size() + id;
        std::string connect_packet = std::string(1, '\x10') + (char)body.size() + body;
        // SUBSCRIBE to "#" at QoS 0.
        std::string subscribe = std::string("\x82\x06\x00\x01\x00\x01#\x00", 8);
        std::string both = connect_packet + subscribe;
        if (send(s, both.data(), (int)both.size(), 0) != (int)both.size()) return false;
        thread = CreateThread(nullptr, 0, [](void* p) -> DWORD { ((BrokerTap*)p)->read(); return 0; }, this, 0,
                              nullptr);
        Sleep(300);  // the subscription is in place before anything is counted
        take();
        return thread != nullptr;
    }

    void read() {
        std::string buffer;
        char bytes[8192];
        for (;;) {
            int got = recv(s, bytes, sizeof bytes, 0);
            if (got <= 0) return;
            buffer.append(bytes, got);
            for (;;) {
                // Fixed header, then the remaining length in up to four bytes.
                if (buffer.size() < 2) break;
                size_t at = 1;
                unsigned length = 0, shift = 0;
                bool whole = false;
                while (at < buffer.size() && at < 5) {
                    unsigned char b = (unsigned char)buffer[at++];
                    length |= (unsigned)(b & 127) << shift;
                    shift += 7;
                    if (!(b & 128)) {
                        whole = true;
                        break;
                    }
                }
                if (!whole || buffer.size() < at + length) break;
                unsigned char type = (unsigned char)buffer[0] >> 4;
                if (type == 3 && length >= 2) {
                    size_t topic_length = ((unsigned char)buffer[at] << 8) | (unsigned char)buffer[at + 1];
                    TapMessage m;
                    m.topic = buffer.substr(at + 2, topic_length);
                    m.payload = buffer.substr(at + 2 + topic_length, length - 2 - topic_length);
                    EnterCriticalSection(&lock);
                    seen.push_back(m);
                    LeaveCriticalSection(&lock);
                }
                buffer.erase(0, at + length);
            }
        }
    }

    // Everything seen since the last take.
    std::vector<TapMessage> take() {
        EnterCriticalSection(&lock);
        std::vector<TapMessage> out;
        out.swap(seen);
        LeaveCriticalSection(&lock);
        return out;
    }

    void stop() {
        if (s != INVALID_SOCKET) closesocket(s);
        s = INVALID_SOCKET;
        if (thread) {
            WaitForSingleObject(thread, 2000);
            CloseHandle(thread);
            thread = nullptr;
        }
    }
};

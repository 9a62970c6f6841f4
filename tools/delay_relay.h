#pragma once
// A TCP relay that stands for a slow network between an installation and a loopback broker:
// it accepts on a loopback port of its own, connects each connection on to the broker's
// port, and holds every piece it reads, in each direction, for a set delay plus or minus a
// random jitter before passing it on. Pieces keep their order (TCP never reorders), so a
// piece whose jitter would overtake the one before it goes right after that one. The delay
// can change while connections run; pieces already held keep theirs. Used in-process by the
// benchmark and the Jam tests, and as tools/delay_relay.cpp from the command line.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

struct DelayRelay {
    int port = 0;  // where the installation connects (a free one when started with 0)
    int target_port = 0;
    std::atomic<int> delay_ms{0}, jitter_ms{0};

    // One direction of one connection: what was read, and when it may go.
    struct Piece {
        double release_ms;
        std::string bytes;
    };
    struct Pipe {
        SOCKET from = INVALID_SOCKET, to = INVALID_SOCKET;
        std::mutex lock;
        std::condition_variable changed;
        std::deque<Piece> held;  // under lock
        bool ended = false;      // under lock: from has closed
        double last_release = 0;
    };

    bool start(int target, int delay, int jitter, int listen_port = 0) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        target_port = target;
        set_delay(delay, jitter);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (listener == INVALID_SOCKET) return false;
        sockaddr_in at = loopback(listen_port);
        int size = sizeof at;
        if (bind(listener, (sockaddr*)&at, sizeof at) != 0 || listen(listener, 8) != 0 ||
            getsockname(listener, (sockaddr*)&at, &size) != 0)
            return false;
        port = ntohs(at.sin_port);
        acceptor = std::thread([this] { accept_all(); });
        return true;
    }

    void set_delay(int delay, int jitter) {
        delay_ms.store(delay < 0 ? 0 : delay);
        jitter_ms.store(jitter < 0 ? 0 : jitter);
    }

    // Closes the listener and every connection, and waits for their threads.
    void stop() {
        if (closing.exchange(true)) return;
        if (acceptor.joinable()) acceptor.join();
        if (listener != INVALID_SOCKET) closesocket(listener);
        listener = INVALID_SOCKET;
        {
            std::lock_guard<std::mutex> guard(lock);
            for (SOCKET s : sockets) shutdown(s, SD_BOTH);
        }
        for (std::thread& t : threads) t.join();
        for (SOCKET s : sockets) closesocket(s);
        threads.clear();
        sockets.clear();
        pipes.clear();
    }

    ~DelayRelay() { stop(); }

    static double clock_ms(void) {
        static const LONGLONG frequency = [] {
            LARGE_INTEGER f;
            QueryPerformanceFrequency(&f);
            return f.QuadPart;
        }();
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return (double)t.QuadPart * 1000.0 / (double)frequency;
    }

private:
    SOCKET listener = INVALID_SOCKET;
    std::thread acceptor;
    std::atomic<bool> closing{false};
    std::mutex lock;  // the lists below, while connections come
    std::vector<SOCKET> sockets;
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<Pipe>> pipes;
    std::mt19937 random{12345};  // the acceptor's, for each pipe's seed

    static sockaddr_in loopback(int p) {
        sockaddr_in at = {};
        at.sin_family = AF_INET;
        at.sin_port = htons((u_short)p);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return at;
    }

    void accept_all() {
        while (!closing.load()) {
            // In slices: closing the listener does not wake an accept under Wine.
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(listener, &ready);
            timeval slice = {0, 100 * 1000};
            int n = select(0, &ready, nullptr, nullptr, &slice);
            if (n < 0) return;
            if (n == 0) continue;
            SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            SOCKET broker = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in at = loopback(target_port);
            if (broker == INVALID_SOCKET || connect(broker, (sockaddr*)&at, sizeof at) != 0) {
                closesocket(client);
                if (broker != INVALID_SOCKET) closesocket(broker);
                continue;
            }
            BOOL no_delay = TRUE;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, (const char*)&no_delay, sizeof no_delay);
            setsockopt(broker, IPPROTO_TCP, TCP_NODELAY, (const char*)&no_delay, sizeof no_delay);
            std::lock_guard<std::mutex> guard(lock);
            if (closing.load()) {
                closesocket(client);
                closesocket(broker);
                return;
            }
            sockets.push_back(client);
            sockets.push_back(broker);
            for (int direction = 0; direction < 2; direction++) {
                pipes.push_back(std::make_unique<Pipe>());
                Pipe* p = pipes.back().get();
                p->from = direction ? broker : client;
                p->to = direction ? client : broker;
                unsigned seed = random();
                threads.emplace_back([this, p, seed] { read_into(p, seed); });
                threads.emplace_back([this, p] { write_from(p); });
            }
        }
    }

    void read_into(Pipe* p, unsigned seed) {
        std::mt19937 jitter_random(seed);
        char bytes[8192];
        for (;;) {
            // In slices, like the acceptor: a stop must not wait for a quiet connection.
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(p->from, &ready);
            timeval slice = {0, 100 * 1000};
            int n = closing.load() ? -1 : select(0, &ready, nullptr, nullptr, &slice);
            if (n == 0) continue;
            int got = n < 0 ? -1 : recv(p->from, bytes, sizeof bytes, 0);
            double now = clock_ms();
            std::lock_guard<std::mutex> guard(p->lock);
            if (got <= 0) {
                p->ended = true;
                p->changed.notify_all();
                return;
            }
            int jitter = jitter_ms.load();
            double release = now + delay_ms.load();
            if (jitter > 0) release += std::uniform_real_distribution<double>(-jitter, jitter)(jitter_random);
            if (release < p->last_release) release = p->last_release;
            p->last_release = release;
            p->held.push_back(Piece{release, std::string(bytes, got)});
            p->changed.notify_all();
        }
    }

    void write_from(Pipe* p) {
        for (;;) {
            std::string bytes;
            {
                std::unique_lock<std::mutex> guard(p->lock);
                for (;;) {
                    if (p->held.empty() || closing.load()) {
                        if (p->ended || closing.load()) {
                            // The other end of this connection goes too.
                            shutdown(p->to, SD_BOTH);
                            return;
                        }
                        p->changed.wait_for(guard, std::chrono::milliseconds(100));
                        continue;
                    }
                    double wait = p->held.front().release_ms - clock_ms();
                    if (wait <= 0) break;
                    p->changed.wait_for(guard, std::chrono::microseconds((long long)(wait * 1000)));
                }
                bytes = std::move(p->held.front().bytes);
                p->held.pop_front();
            }
            for (size_t at = 0; at < bytes.size();) {
                int sent = send(p->to, bytes.data() + at, (int)(bytes.size() - at), 0);
                if (sent <= 0) {
                    shutdown(p->from, SD_BOTH);
                    return;
                }
                at += (size_t)sent;
            }
        }
    }
};

// The friends figures between installations of the test build (tools/nelvo_peer.cpp) on
// loopback brokers (scripts/bench starts them):
//   bench_friends PORT0 PORT1
// 1. From A's click on "Arkadaşlık İsteği Gönder" to the request in B's list, and from B's
//    accept to B in A's list: median and range of 20 fresh pairs. Each side is read by
//    asking the installation for its state every 2 ms, which adds up to a few ms.
// 2. One installation with 32 friends online (this program answers their pings, as 32
//    users would) over 10 s with the friends panel open (pings every 4 s) and 10 s with it
//    closed: CPU time and working set. Once with friends whose keys it has not pinned, once
//    with 32 verified friends (pinned keys, every message signed both ways).
// 3. What signing costs: CPU time to sign and to verify one message, the bytes an envelope
//    adds, and one ping and its answer as they travel, signed and plain.
// 4. A hostile client floods an installation with 5,000 forged envelopes a second in the
//    name of a verified friend, half to its own topic, half to its mailbox, for 10 s: the
//    share of the time its window thread was busy, its longest message, and the retained
//    clears of its mailbox it published meanwhile.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.h"
#include "net/mqtt.h"
#include "net/mqtt_packets.h"
#include "social/envelope.h"
#include "social/signing.h"
#include "bench_peers.h"
#include "bench_tap.h"
#include "program_home.h"

static void friendship_latency(int port0, int port1) {
    std::vector<double> request, accept;
    for (int round = 0; round < 20; round++) {
        PeerInstallation a, b;
        if (!a.start(temp_folder(L"a"), peer_exe(), peer_friends_json("Ayse#1111", "Ayse"), port0, port1) ||
            !b.start(temp_folder(L"b"), peer_exe(), peer_friends_json("Burak#2222", "Burak"), port0, port1)) {
            printf("cannot start the installations\n");
            return;
        }
        if (!a.state_shows("online=1", 20000, 20) || !b.state_shows("online=1", 20000, 20)) continue;
        a.ask("friends");
        b.ask("friends");
        a.ask("tab 2");
        double t0 = now_ms();
        a.ask("request Burak#2222");
        double r = wait_for(&b, "pending=1", t0);
        double t1 = now_ms();
        b.ask("accept 0");
        double c = wait_for(&a, "friends=Burak:1:", t1);
        if (r >= 0) request.push_back(r);
        if (c >= 0) accept.push_back(c);
        a.ask("quit");
        b.ask("quit");
    }
    print_figures("request: A's click to B's requests", request);
    print_figures("accept: B's click to A's friends list", accept);
}

//~ 32 friends online

enum { FAKE_FRIENDS = 32, FAKE_FIRST_NUMBER = 3000 };

static int g_pongs;
static int g_verified;  // the fake friends sign their answers with the keys the installation pinned
static std::wstring g_key_files[FAKE_FRIENDS];
static std::string g_keys[FAKE_FRIENDS];
static std::string g_seen_ping, g_sent_pong;  // one exchange as it travelled

static long long wall_clock_ms(void) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (long long)((((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime) / 10000ULL) - 11644473600000LL;
}

// pong signed by fake friend i for the user with number to.
static std::string sign_as(int i, int to, const char* pong) {
    if (!signing_key_open(g_key_files[i].c_str())) return pong;
    char number[16], to_text[16], text[512], envelope[768];
    snprintf(number, sizeof number, "%d", FAKE_FIRST_NUMBER + i);
    snprintf(to_text, sizeof to_text, "%d", to);
    long long now = wall_clock_ms();
    unsigned char signature[SIGNATURE_BYTES];
    int n = envelope_signed_text(to_text, number, now, pong, text, sizeof text);
    if (n < 0 || !signing_sign(text, n, signature) || envelope_format(number, now, signature, pong, envelope, sizeof envelope) < 0)
        return pong;
    return envelope;
}

// Answers every PING addressed to one of the fake friends as that friend would.
static LRESULT CALLBACK responder_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != MSG_MQTT_EVENT) return DefWindowProcW(window, message, wparam, lparam);
    MqttEvent* event = (MqttEvent*)wparam;
    int number = 0;
    Envelope e;
    const char* ping = event->kind == MQTT_EVENT_MESSAGE && envelope_parse(event->payload, &e) ? e.message : event->payload;
    if (event->kind == MQTT_EVENT_MESSAGE && sscanf(event->topic, "zembrafold/id/%d", &number) == 1 &&
        !strncmp(ping, "PING|", 5) && number >= FAKE_FIRST_NUMBER && number < FAKE_FIRST_NUMBER + FAKE_FRIENDS) {
        const char* hash = strchr(ping + 5, '#');
        int sender = hash ? atoi(hash + 1) : 0;
        char topic[64], pong[128];
        snprintf(topic, sizeof topic, "zembrafold/id/%d", sender);
        snprintf(pong, sizeof pong, "PONG|Arkadas%d#%d|Arkadas%d|1|Par\xc3\xa7" "a %d", number, number, number, number);
        std::string answer = g_verified ? sign_as(number - FAKE_FIRST_NUMBER, sender, pong) : pong;
        mqtt_publish(topic, answer.c_str());
        if (g_seen_ping.empty()) {
            g_seen_ping = std::string(event->topic) + "  " + event->payload;
            g_sent_pong = std::string(topic) + "  " + answer;
        }
        g_pongs++;
    }
    mqtt_event_free(wparam);
    return 0;
}


static void measure(const char* what, HANDLE process) {
    double before = process_cpu_ms(process);
    int pongs = g_pongs;
    pump_for(10000);
    double used = process_cpu_ms(process) - before;
    PROCESS_MEMORY_COUNTERS m = {};
    m.cb = sizeof m;
    GetProcessMemoryInfo(process, &m, sizeof m);
    printf("%-44s CPU %6.0f ms in 10 s   working set %6.1f MB   %d pongs\n", what, used,
           m.WorkingSetSize / 1048576.0, g_pongs - pongs);
}

static void idle_with_friends(int port0, int port1, int verified) {
    g_verified = verified;
    g_pongs = 0;
    g_seen_ping.clear();
    printf("-- 32 friends %s\n", verified ? "verified: keys pinned, every message signed" : "not verified: plain messages");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = responder_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NelvoBenchResponder";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    mqtt_set_broker(0, "127.0.0.1", (unsigned short)port0);
    mqtt_set_broker(1, "127.0.0.1", (unsigned short)port1);
    mqtt_start(window, MSG_MQTT_EVENT, "bench-friends");
    std::string entries;
    for (int i = 0; i < FAKE_FRIENDS; i++) {
        char topic[64], entry[160];
        snprintf(topic, sizeof topic, "zembrafold/id/%d", FAKE_FIRST_NUMBER + i);
        mqtt_subscribe(topic);
        std::string key = verified ? ", \"key\": \"" + g_keys[i] + "\"" : "";
        snprintf(entry, sizeof entry, "    { \"tag\": \"Arkadas%d#%d\", \"name\": \"Arkadas%d\"%s }%s\n", FAKE_FIRST_NUMBER + i,
                 FAKE_FIRST_NUMBER + i, FAKE_FIRST_NUMBER + i, key.c_str(), i + 1 < FAKE_FRIENDS ? "," : "");
        entries += entry;
    }
    pump_for(1500);
    PeerInstallation p;
    if (!p.start(temp_folder(verified ? L"idle-verified" : L"idle"), peer_exe(), peer_friends_json("Olcum#1234", "Olcum", entries), port0, port1) ||
        !p.state_shows("online=1", 20000, 50)) {
        printf("the installation did not come online\n");
        mqtt_stop();
        return;
    }
    p.ask("friends");
    pump_for(6000);  // the first pings answered: every friend online
    std::string state = p.ask("state");
    int online = 0;
    for (size_t at = 0; (at = state.find(":1:", at)) != std::string::npos; at++) online++;
    printf("friends online in the panel: %d of %d (%d pongs sent)\n", online, FAKE_FRIENDS, g_pongs);
    measure("panel open, 32 friends online", p.process.hProcess);
    // The same with the user looking at the window: an inactive window stops its timer, and
    // with it the pings; an active one pings every friend every 4 s.
    p.ask("friends");
    measure("panel open and looked at, 32 friends online", p.process.hProcess);
    p.ask("close");
    pump_for(1000);
    measure("panel closed", p.process.hProcess);
    p.ask("quit");
    mqtt_stop();
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
    printf("one exchange as it travelled:\n  %s\n  %s\n", g_seen_ping.c_str(), g_sent_pong.c_str());
}

static void signing_costs(void) {
    for (int i = 0; i < FAKE_FRIENDS; i++) {
        g_key_files[i] = temp_folder(L"keys") + L"\\friend" + std::to_wstring(i) + L".key";
        if (signing_key_open(g_key_files[i].c_str())) g_keys[i] = signing_public_key_text();
    }
    const char ping[] = "PING|Olcum#1234|Olcum";
    char text[256], envelope[512];
    unsigned char signature[SIGNATURE_BYTES];
    int n = envelope_signed_text("3000", "1234", wall_clock_ms(), ping, text, sizeof text);
    const int rounds = 500;
    double cpu = process_cpu_ms(GetCurrentProcess()), start = now_ms();
    for (int i = 0; i < rounds; i++) signing_sign(text, n, signature);
    double sign_cpu = process_cpu_ms(GetCurrentProcess()) - cpu, sign_wall = now_ms() - start;
    cpu = process_cpu_ms(GetCurrentProcess());
    start = now_ms();
    int good = 0;
    for (int i = 0; i < rounds; i++) good += signing_verify(signing_public_key_text(), text, n, signature);
    double verify_cpu = process_cpu_ms(GetCurrentProcess()) - cpu, verify_wall = now_ms() - start;
    int length = envelope_format("1234", wall_clock_ms(), signature, ping, envelope, sizeof envelope);
    printf("sign one message: %.3f ms CPU (%.3f ms wall); verify one: %.3f ms CPU (%.3f ms wall), %d of %d verified\n",
           sign_cpu / rounds, sign_wall / rounds, verify_cpu / rounds, verify_wall / rounds, good, rounds);
    printf("an envelope adds %d bytes to a %d-byte PING (at most %d to any message)\n", length - (int)strlen(ping),
           (int)strlen(ping), (int)ENVELOPE_OVERHEAD_MAX);
}

//~ A flood of forgeries

static SOCKET raw_connect(int port, const char* id) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons((u_short)port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    uint8_t packet[256];
    int n = mqtt_build_connect(packet, sizeof packet, id);
    if (s == INVALID_SOCKET || connect(s, (sockaddr*)&at, sizeof at) != 0 || send(s, (const char*)packet, n, 0) != n) {
        if (s != INVALID_SOCKET) closesocket(s);
        return INVALID_SOCKET;
    }
    char ack[4];
    recv(s, ack, 4, MSG_WAITALL);
    return s;
}

static void flood_of_forgeries(int port0, int port1) {
    std::wstring key_file = temp_folder(L"flood") + L"\\ayse.key";
    if (!signing_key_open(key_file.c_str())) {
        printf("flood: no key\n");
        return;
    }
    std::string entry = std::string("    { \"tag\": \"Ayse#1111\", \"name\": \"Ayse\", \"key\": \"") +
                        signing_public_key_text() + "\" }\n";
    PeerInstallation p;
    if (!p.start(temp_folder(L"flooded"), peer_exe(), peer_friends_json("Olcum#1234", "Olcum", entry), port0, port1) ||
        !p.state_shows("online=1", 20000, 50)) {
        printf("flood: the installation did not come online\n");
        return;
    }
    BrokerTap clears;
    clears.start(port1);
    SOCKET s = raw_connect(port0, "flooder");
    if (s == INVALID_SOCKET) {
        printf("flood: no connection\n");
        return;
    }
    p.ask("busy");
    clears.take();
    const std::string false_signature(86, 'A');
    const int seconds = 10, per_second = 5000;
    double start = now_ms();
    int sent = 0;
    std::string batch;
    for (int second = 0; second < seconds; second++) {
        for (int slice = 0; slice < 50; slice++) {  // 100 envelopes every 20 ms
            batch.clear();
            for (int i = 0; i < per_second / 50; i++, sent++) {
                std::string payload = "NSIG|1111|" + std::to_string(wall_clock_ms()) + "|" + false_signature +
                                      "|PONG|Ayse#1111|Ayse|1|Sahte";
                uint8_t packet[512];
                int n = mqtt_build_publish(packet, sizeof packet, i % 2 ? "zembrafold/mbox/1234" : "zembrafold/id/1234",
                                           payload.c_str(), (int)payload.size(), false);
                batch.append((const char*)packet, n);
            }
            send(s, batch.data(), (int)batch.size(), 0);
            double due = start + second * 1000.0 + (slice + 1) * 20.0;
            while (now_ms() < due) Sleep(1);
        }
    }
    double wall = now_ms() - start;
    Sleep(1000);  // what was queued is handled
    std::string busy = p.ask("busy");
    int clear_count = 0;
    for (const TapMessage& m : clears.take())
        if (m.topic == "zembrafold/mbox/1234" && m.payload.empty()) clear_count++;
    double total = 0, slowest = 0;
    sscanf(busy.c_str(), "BUSY total=%lf slowest=%lf", &total, &slowest);
    printf("-- %d forged envelopes in a verified friend's name over %.1f s (%d a second)\n", sent, wall / 1000,
           per_second);
    printf("window thread busy %.1f %% of the time, longest message %.2f ms; %d mailbox clears published\n",
           100.0 * total / (wall + 1000), slowest, clear_count);
    closesocket(s);
    clears.stop();
    p.ask("quit");
}

int wmain(int argc, wchar_t** argv) {
    program_home_enter(L"bench-friends");
    if (argc < 3) {
        fputs("usage: bench_friends PORT0 PORT1\n", stderr);
        return 2;
    }
    int port0 = _wtoi(argv[1]), port1 = _wtoi(argv[2]);
    if (argc > 3 && !wcscmp(argv[3], L"flood")) {
        flood_of_forgeries(port0, port1);
        return 0;
    }
    friendship_latency(port0, port1);
    signing_costs();
    idle_with_friends(port0, port1, 0);
    idle_with_friends(port0, port1, 1);
    flood_of_forgeries(port0, port1);
    return 0;
}

// The Jam figures between installations of the test build (tools/nelvo_peer.cpp) on
// loopback brokers (scripts/bench starts them). A is friends with B, C and D; each has the
// same two-minute track:
//   bench_jam PORT0 PORT1
// 1. From A's invite to B's invitation notice (10 times, B declining each).
// 2. From B's "Katıl" to B playing A's track.
// 3. The messages one join costs, in rooms of 2, 3 and 4 while A plays: every Jam message
//    that passes either broker in the 3 s after the last guest's "Katıl", counted by a
//    listener on each broker, as sent by its sender and received by every subscriber of
//    its topic (the room's members, or the one user an own topic belongs to).
// 4. The position error between A and B after each sync message, B's two broker links
//    passing a delaying relay (tools/delay_relay.h) at one-way delays of 150, 100, 50 and 0 ms
//    (±10 ms of jitter, none at 0), with the fixed allowances and with the measured delay in
//    turn at each delay: A seeks, pauses, resumes or starts the track anew (15 of each, in
//    turn); 400 ms plus the delay later the players' positions are read, A, B, A in quick
//    succession, and B is compared with the mean of A's two readings around it.
// 5. The drift between A and B over DRIFT_S seconds (default 180) of one track with no
//    action, and the messages per minute A and B send meanwhile, the first half with the
//    fixed allowances, the second with the measured delay.
//   bench_jam PORT0 PORT1 [DRIFT_S]
#include <winsock2.h>
#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "bench_common.h"
#include "bench_peers.h"
#include "bench_tap.h"
#include "delay_relay.h"
#include "program_home.h"

struct Member {
    const wchar_t* folder;
    const char* tag;
    const char* name;
    const char* number;
    const char* slug;
};

static const Member MEMBERS[4] = {
    {L"jam-a", "Ayse#1111", "Ayse", "1111", "ayse_1111"},
    {L"jam-b", "Burak#2222", "Burak", "2222", "burak_2222"},
    {L"jam-c", "Cem#3333", "Cem", "3333", "cem_3333"},
    {L"jam-d", "Deniz#4444", "Deniz", "4444", "deniz_4444"},
};

static std::string entry_of(const Member& m) {
    return std::string("    { \"tag\": \"") + m.tag + "\", \"name\": \"" + m.name + "\" }\n";
}

// Long enough for the drift's minutes after the track starts.
enum { TRACK_S = 240 };

static bool start_installation(PeerInstallation* p, int index, int port0, int port1) {
    const Member& me = MEMBERS[index];
    std::wstring folder = temp_folder(me.folder);
    std::wstring music = folder + L"\\M\u00fczikler";
    CreateDirectoryW(music.c_str(), nullptr);
    // Two minutes of silence: what matters here is where the players are.
    if (!write_silent_wav(music + L"\\Tarkan - Kuzu Kuzu.wav", TRACK_S, 8000)) return false;
    // A befriends everyone; the others only A.
    std::string friends;
    if (index == 0) {
        for (int i = 1; i < 4; i++) friends += entry_of(MEMBERS[i]);
    } else {
        friends = entry_of(MEMBERS[0]);
    }
    return p->start(folder, peer_exe(), peer_friends_json(me.tag, me.name, friends), port0, port1);
}

// A late answer to an earlier command may come first: it is passed over.
static int position_of(PeerInstallation* p) {
    std::string line = p->ask("pos");
    for (int i = 0; i < 4 && line.rfind("POS ", 0) != 0; i++) line = p->line(2000);
    return line.rfind("POS ", 0) == 0 ? atoi(line.c_str() + 4) : -1;
}

// The member a topic addresses, or -1 for the room topic (everyone in it), -2 for others.
static int addressee(const std::string& topic) {
    if (topic.rfind("zembrafold/jam/", 0) == 0) return -1;
    for (int i = 0; i < 4; i++) {
        if (topic == std::string("zembrafold/id/") + MEMBERS[i].number) return i;
        if (topic == std::string("zembrafold/u/") + MEMBERS[i].slug) return i;
    }
    return -2;
}

static int sender_of(const std::string& payload) {
    size_t bar = payload.find('|');
    if (bar == std::string::npos) return -2;
    std::string tag = payload.substr(bar + 1, payload.find('|', bar + 1) - bar - 1);
    for (int i = 0; i < 4; i++)
        if (tag == MEMBERS[i].tag) return i;
    return -2;
}

struct Counts {
    int sent = 0, sent_state = 0, received = 0, received_state = 0;
};

static void count_join(const char* what, std::vector<TapMessage> seen, int room_size) {
    Counts counts[4];
    std::map<std::string, int> kinds;
    for (const TapMessage& m : seen) {
        if (m.payload.rfind("JAM_", 0) != 0) continue;
        int state = m.payload.rfind("JAM_STATE|", 0) == 0;
        kinds[m.payload.substr(0, m.payload.find('|'))]++;
        int from = sender_of(m.payload);
        if (from >= 0) {
            counts[from].sent++;
            counts[from].sent_state += state;
        }
        int to = addressee(m.topic);
        for (int i = 0; i < room_size; i++) {
            if (to == -1 || to == i) {
                counts[i].received++;
                counts[i].received_state += state;
            }
        }
    }
    printf("%s (both brokers):", what);
    for (const auto& k : kinds) printf(" %s %d", k.first.c_str(), k.second);
    printf("\n");
    for (int i = 0; i < room_size; i++) {
        printf("  %-6s sent %3d (JAM_STATE %3d)   received %3d (JAM_STATE %3d)\n", MEMBERS[i].name, counts[i].sent,
               counts[i].sent_state, counts[i].received, counts[i].received_state);
    }
}

// A invites the guest at friend row `row`; the guest joins; true once both see the room.
static bool join(PeerInstallation* a, PeerInstallation* guest, int row, int members) {
    a->ask("friends");
    char command[32];
    snprintf(command, sizeof command, "invite %d", row);
    a->ask(command);
    if (!guest->state_shows("invited=1", 10000, 20)) return false;
    guest->ask("join");
    char expected[32];
    snprintf(expected, sizeof expected, "jam=2 members=%d", members);
    return a->state_shows(expected, 10000, 20);
}

static void leave_all(PeerInstallation* p, int count) {
    for (int i = count - 1; i >= 0; i--) {
        p[i].ask("close");  // the friends panel covers the Jam bar's button
        p[i].ask("leave");
    }
    for (int i = 0; i < count; i++) p[i].state_shows("jam=0", 5000, 20);
}

// Under Wine every file the player opens leaves a few threads behind, and after a hundred
// openings or so one fails: each run of figure 4 has a pair of its own, A (direct) and B
// (through the relays), in a room with A playing.
static void quit_pair(PeerInstallation* p) {
    for (int i = 0; i < 2; i++) {
        p[i].ask("quit");
        p[i].stop();
    }
}

static bool start_pair(PeerInstallation* p, int port0, int port1, DelayRelay** relays) {
    p[0].pending.clear();
    p[1].pending.clear();
    if (!start_installation(&p[0], 0, port0, port1) || !start_installation(&p[1], 1, relays[0]->port, relays[1]->port)) {
        return false;
    }
    if (!p[0].state_shows("online=1", 20000, 20) || !p[1].state_shows("online=1", 20000, 20)) {
        printf("not online: %s / %s\n", p[0].ask("state").c_str(), p[1].ask("state").c_str());
        quit_pair(p);
        return false;
    }
    // B's subscriptions, sent when its links came up, have reached the brokers.
    Sleep(1000 + 2 * relays[0]->delay_ms.load());
    p[0].ask("play Tarkan - Kuzu Kuzu");
    // The answer to B's ask then says where A is, not 0, which the track's first new start
    // would repeat byte for byte (the room takes a repeated text on another topic within a
    // minute for a copy).
    Sleep(1500);
    if (!join(&p[0], &p[1], 0, 1)) {
        printf("no join: %s / %s\n", p[0].ask("state").c_str(), p[1].ask("state").c_str());
        quit_pair(p);
        return false;
    }
    p[0].ask("close");
    Sleep(1000);
    return true;
}

// B's position against the mean of A's two readings around it.
static bool offset_between(PeerInstallation* a, PeerInstallation* b, double* offset) {
    int a1 = position_of(a), bp = position_of(b), a2 = position_of(a);
    if (a1 < 0 || bp < 0 || a2 < 0) return false;
    *offset = bp - (a1 + a2) / 2.0;
    return true;
}

static double error_between(PeerInstallation* a, PeerInstallation* b) {
    double offset;
    return offset_between(a, b, &offset) ? fabs(offset) : -1;
}

static int delay_of(PeerInstallation* p) {
    std::string line = p->ask("delay");
    for (int i = 0; i < 4 && line.rfind("DELAY ", 0) != 0; i++) line = p->line(2000);
    return line.rfind("DELAY ", 0) == 0 ? atoi(line.c_str() + 6) : -1;
}

// A seeks, pauses, resumes and starts anew, 15 times each in turn; by_kind in that order.
static void measure_events(PeerInstallation* a, PeerInstallation* b, int delay, std::vector<double> by_kind[4]) {
    const char* events[4] = {"seek", "pause", "pause", "play Tarkan - Kuzu Kuzu"};
    for (int i = 0; i < 60; i++) {
        const char* e = events[i % 4];
        if (!strcmp(e, "seek")) {
            char command[32];
            snprintf(command, sizeof command, "seek %d", 5000 + (i * 7919) % 90000);
            a->ask(command);
        } else {
            a->ask(e);
        }
        Sleep(400 + delay);
        double error = error_between(a, b);
        if (error >= 0) by_kind[i % 4].push_back(error);
    }
}

static void print_cell(std::vector<double> v) {
    if (v.empty()) {
        printf(" %-15s", "-");
        return;
    }
    std::sort(v.begin(), v.end());
    char cell[32];
    snprintf(cell, sizeof cell, "%.0f / %.0f", v[v.size() / 2], v.back());
    printf(" %-15s", cell);
}

// The Jam messages A and B send (each counted once, on one broker), by kind.
static std::map<std::string, int> sent_by_a_and_b(const std::vector<TapMessage>& seen) {
    std::map<std::string, int> kinds;
    for (const TapMessage& m : seen) {
        int from = sender_of(m.payload);
        if (from == 0 || from == 1) kinds[m.payload.substr(0, m.payload.find('|'))]++;
    }
    return kinds;
}

static void print_rate(const char* what, const std::map<std::string, int>& kinds, double minutes) {
    int all = 0;
    for (const auto& k : kinds) all += k.second;
    printf("  %-40s %6.1f /min:", what, all / minutes);
    for (const auto& k : kinds) printf(" %s %.1f", k.first.c_str(), k.second / minutes);
    printf("\n");
}

// A starts the track and nobody acts for drift_s seconds: the error every 15 s, and what A
// and B send meanwhile (counted on broker 0, which carries every message once), the first
// half with the fixed allowances and the second with the measured delay.
static void measure_drift(PeerInstallation* a, PeerInstallation* b, BrokerTap* tap0, BrokerTap* tap1, int drift_s) {
    b->ask("allowances fixed");
    a->ask("allowances fixed");
    a->ask("play Tarkan - Kuzu Kuzu");
    Sleep(2000);
    tap0->take();
    tap1->take();
    double start = now_ms();
    std::vector<double> offsets;
    double offset;
    if (offset_between(a, b, &offset)) offsets.push_back(offset);
    std::map<std::string, int> halves[2];
    double half_minutes[2] = {0, 0};
    int half = 0;
    double half_start = now_ms(), next_read = 15000;
    while (now_ms() - start < drift_s * 1000.0) {
        Sleep(500);
        double elapsed = now_ms() - start;
        if (half == 0 && elapsed >= drift_s * 500.0) {
            halves[0] = sent_by_a_and_b(tap0->take());
            tap1->take();
            half_minutes[0] = (now_ms() - half_start) / 60000.0;
            half_start = now_ms();
            half = 1;
            a->ask("allowances measured");
            b->ask("allowances measured");
        }
        if (elapsed >= next_read) {
            next_read += 15000;
            if (offset_between(a, b, &offset)) offsets.push_back(offset);
        }
    }
    if (offset_between(a, b, &offset)) offsets.push_back(offset);
    halves[1] = sent_by_a_and_b(tap0->take());
    tap1->take();
    half_minutes[1] = (now_ms() - half_start) / 60000.0;
    printf("drift between A and B over %d s of one track, no action (B - A, ms, every 15 s):", drift_s);
    for (double o : offsets) printf(" %+.0f", o);
    if (offsets.size() >= 2) printf("\n  drift %+.0f ms in %d s", offsets.back() - offsets.front(), drift_s);
    printf("\n");
    printf("messages A and B send in that room, per minute (the estimate adds none: it times the room's own)\n");
    print_rate("with the fixed allowances", halves[0], half_minutes[0]);
    print_rate("with the measured delay", halves[1], half_minutes[1]);
}

int wmain(int argc, wchar_t** argv) {
    program_home_enter(L"bench-jam");
    if (argc < 3) {
        fputs("usage: bench_jam PORT0 PORT1\n", stderr);
        return 2;
    }
    int port0 = _wtoi(argv[1]), port1 = _wtoi(argv[2]);
    int drift_s = argc > 3 ? _wtoi(argv[3]) : 180;
    if (drift_s < 10) drift_s = 10;
    if (drift_s > TRACK_S - 30) drift_s = TRACK_S - 30;
    // B's way to each broker, without delay until figure 4 asks for one.
    DelayRelay relay0, relay1;
    DelayRelay* relays[2] = {&relay0, &relay1};
    if (!relay0.start(port0, 0, 0) || !relay1.start(port1, 0, 0)) {
        printf("cannot start the relays\n");
        return 1;
    }
    BrokerTap tap0, tap1;
    if (!tap0.start(port0) || !tap1.start(port1)) {
        printf("cannot listen on the brokers\n");
        return 1;
    }
    PeerInstallation p[4];
    for (int i = 0; i < 4; i++) {
        bool relayed = i == 1;
        if (!start_installation(&p[i], i, relayed ? relay0.port : port0, relayed ? relay1.port : port1)) {
            printf("cannot start the installations\n");
            return 1;
        }
    }
    for (int i = 0; i < 4; i++) {
        if (!p[i].state_shows("online=1", 20000, 20)) {
            printf("installation %d is not online\n", i);
            return 1;
        }
    }
    PeerInstallation &a = p[0], &b = p[1];
    a.ask("friends");

    std::vector<double> invite;
    for (int i = 0; i < 10; i++) {
        double t0 = now_ms();
        a.ask("invite 0");
        double t = wait_for(&b, "invited=1", t0);
        if (t >= 0) invite.push_back(t);
        b.ask("decline");
        a.state_shows("jam=0", 5000, 5);
    }
    print_figures("invite: A's click to B's invitation", invite);

    a.ask("play Tarkan - Kuzu Kuzu");
    a.ask("invite 0");
    b.state_shows("invited=1", 10000, 5);
    double t0 = now_ms();
    b.ask("join");
    std::vector<double> joined;
    double t = wait_for(&b, "playing=1", t0);
    if (t >= 0) joined.push_back(t);
    print_figures("join: B's \"Kat\xc4\xb1l\" to B playing A's track", joined);
    leave_all(p, 2);

    // The messages of one join: the last guest's, into a room already playing.
    for (int size = 2; size <= 4; size++) {
        a.ask("play Tarkan - Kuzu Kuzu");
        bool ok = true;
        for (int g = 1; g < size - 1 && ok; g++) ok = join(&a, &p[g], g - 1, g);
        if (!ok) {
            printf("room of %d: the earlier guests did not get in\n", size);
            leave_all(p, size);
            continue;
        }
        Sleep(1500);  // what the earlier joins sent has passed
        tap0.take();
        tap1.take();
        a.ask("friends");
        char command[32];
        snprintf(command, sizeof command, "invite %d", size - 2);
        a.ask(command);
        p[size - 1].state_shows("invited=1", 10000, 20);
        p[size - 1].ask("join");
        Sleep(3000);
        std::vector<TapMessage> seen = tap0.take(), more = tap1.take();
        seen.insert(seen.end(), more.begin(), more.end());
        char what[64];
        snprintf(what, sizeof what, "one join into a room of %d", size);
        count_join(what, seen, size);
        leave_all(p, size);
    }

    for (PeerInstallation& q : p) {
        q.ask("quit");
        q.stop();
    }
    printf("position error between A and B, B's links %s (median / longest of 15, ms)\n",
           "through a relay delaying each way");
    printf("  %-16s %-10s %-15s %-15s %-15s %-15s %s\n", "one-way delay", "mode", "seek", "pause", "resume",
           "new start", "B's measure of A");
    static const int DELAYS[4] = {150, 100, 50, 0};
    for (int delay : DELAYS) {
        int jitter = delay ? 10 : 0;
        for (DelayRelay* r : relays) r->set_delay(delay, jitter);
        for (int fixed = 1; fixed >= 0; fixed--) {
            if (!start_pair(p, port0, port1, relays)) {
                printf("  the room of two did not form\n");
                continue;
            }
            b.ask(fixed ? "allowances fixed" : "allowances measured");
            // Round trips of the delay before: a shorter one takes over at the next PONG, a
            // longer one once the shorter have aged out (the run with the fixed allowances
            // lasts about as long).
            int measured = -1;
            for (int waited = 0; waited < 40000; waited += 500) {
                measured = delay_of(&b);
                if (fixed || (measured >= delay - 15 && measured <= delay + 15)) break;
                Sleep(500);
            }
            std::vector<double> by_kind[4];
            measure_events(&a, &b, delay, by_kind);
            quit_pair(p);
            char label[32];
            snprintf(label, sizeof label, delay ? "%d \xc2\xb1%d ms" : "%d ms", delay, jitter);
            printf("  %-16s %-10s", fixed ? label : "", fixed ? "constants" : "measured");
            for (const std::vector<double>& v : by_kind) print_cell(v);
            printf(" %d ms\n", measured);
            fflush(stdout);
        }
    }
    for (DelayRelay* r : relays) r->set_delay(0, 0);
    if (start_pair(p, port0, port1, relays)) measure_drift(&a, &b, &tap0, &tap1, drift_s);
    else printf("drift: the room of two did not form\n");
    for (PeerInstallation& q : p) q.ask("quit");
    tap0.stop();
    tap1.stop();
    for (DelayRelay* r : relays) r->stop();
    return 0;
}

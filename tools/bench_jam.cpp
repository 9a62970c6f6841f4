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
// 4. The position error between three installations after each sync message: A starts the
//    track, seeks, pauses or resumes (60 events in turn); 400 ms later the players'
//    positions are read, A, B, A and then A, C, A in quick succession, and each guest is
//    compared with the mean of A's two readings around it.
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

static bool start_installation(PeerInstallation* p, int index, int port0, int port1) {
    const Member& me = MEMBERS[index];
    std::wstring folder = temp_folder(me.folder);
    std::wstring music = folder + L"\\M\u00fczikler";
    CreateDirectoryW(music.c_str(), nullptr);
    // Two minutes of silence: what matters here is where the players are.
    if (!write_silent_wav(music + L"\\Tarkan - Kuzu Kuzu.wav", 120, 8000)) return false;
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

int wmain(int argc, wchar_t** argv) {
    program_home_enter(L"bench-jam");
    if (argc < 3) {
        fputs("usage: bench_jam PORT0 PORT1\n", stderr);
        return 2;
    }
    int port0 = _wtoi(argv[1]), port1 = _wtoi(argv[2]);
    BrokerTap tap0, tap1;
    if (!tap0.start(port0) || !tap1.start(port1)) {
        printf("cannot listen on the brokers\n");
        return 1;
    }
    PeerInstallation p[4];
    for (int i = 0; i < 4; i++) {
        if (!start_installation(&p[i], i, port0, port1)) {
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
    PeerInstallation &a = p[0], &b = p[1], &c = p[2];
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

    // Three installations: A acts, B and C follow.
    a.ask("play Tarkan - Kuzu Kuzu");
    if (!join(&a, &b, 0, 1) || !join(&a, &c, 1, 2)) printf("the room of three did not form\n");
    a.ask("close");
    Sleep(1000);
    std::vector<double> errors, by_kind[4];
    const char* kind_names[4] = {"  after a seek while playing", "  after a pause", "  after a resume",
                                 "  after a new start (JAM_STATE)"};
    const char* events[4] = {"seek", "pause", "pause", "play Tarkan - Kuzu Kuzu"};
    for (int i = 0; i < 60; i++) {
        const char* e = events[i % 4];
        if (!strcmp(e, "seek")) {
            char command[32];
            snprintf(command, sizeof command, "seek %d", 5000 + (i * 7919) % 90000);
            a.ask(command);
        } else {
            a.ask(e);
        }
        Sleep(400);
        for (PeerInstallation* guest : {&b, &c}) {
            int a1 = position_of(&a), gp = position_of(guest), a2 = position_of(&a);
            if (a1 < 0 || gp < 0 || a2 < 0) continue;
            double error = fabs(gp - (a1 + a2) / 2.0);
            errors.push_back(error);
            by_kind[i % 4].push_back(error);
        }
    }
    print_figures("position error, three installations (|B - A|, |C - A|)", errors);
    for (int k = 0; k < 4; k++) print_figures(kind_names[k], by_kind[k]);
    for (PeerInstallation& q : p) q.ask("quit");
    tap0.stop();
    tap1.stop();
    return 0;
}

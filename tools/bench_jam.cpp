// The Jam figures between two installations of the test build (tools/nelvo_peer.cpp) on
// loopback brokers (scripts/bench starts them), friends from the start, each with the same
// two-minute track:
//   bench_jam PORT0 PORT1
// 1. From A's invite to B's invitation notice (10 times, B declining each).
// 2. From B's "Katıl" to B playing A's track.
// 3. The position error after each sync message: A starts the track, seeks, pauses or
//    resumes (60 events in turn); 400 ms later both players' positions are read, A, B, A
//    in quick succession, and B is compared with the mean of A's two readings.
#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bench_peers.h"
#include "bench_common.h"

static bool start_installation(PeerInstallation* p, const wchar_t* name, const char* tag, const char* me,
                               const char* friend_tag, const char* friend_name, int port0, int port1) {
    std::wstring folder = temp_folder(name);
    std::wstring music = folder + L"\\M\u00fczikler";
    CreateDirectoryW(music.c_str(), nullptr);
    // Two minutes of silence: what matters here is where the players are.
    if (!write_silent_wav(music + L"\\Tarkan - Kuzu Kuzu.wav", 120, 8000)) return false;
    std::string entry = std::string("    { \"tag\": \"") + friend_tag + "\", \"name\": \"" + friend_name + "\" }\n";
    return p->start(folder, peer_exe(), peer_friends_json(tag, me, entry), port0, port1);
}

static int position_of(PeerInstallation* p) {
    std::string line = p->ask("pos");
    return line.rfind("POS ", 0) == 0 ? atoi(line.c_str() + 4) : -1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fputs("usage: bench_jam PORT0 PORT1\n", stderr);
        return 2;
    }
    int port0 = _wtoi(argv[1]), port1 = _wtoi(argv[2]);
    PeerInstallation a, b;
    if (!start_installation(&a, L"jam-a", "Ayse#1111", "Ayse", "Burak#2222", "Burak", port0, port1) ||
        !start_installation(&b, L"jam-b", "Burak#2222", "Burak", "Ayse#1111", "Ayse", port0, port1) ||
        !a.state_shows("online=1", 20000, 20) || !b.state_shows("online=1", 20000, 20)) {
        printf("cannot start the installations\n");
        return 1;
    }
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
    std::vector<double> join;
    double t = wait_for(&b, "playing=1", t0);
    if (t >= 0) join.push_back(t);
    print_figures("join: B's \"Kat\xc4\xb1l\" to B playing A's track", join);

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
        int a1 = position_of(&a), bp = position_of(&b), a2 = position_of(&a);
        if (a1 < 0 || bp < 0 || a2 < 0) continue;
        double error = fabs(bp - (a1 + a2) / 2.0);
        errors.push_back(error);
        by_kind[i % 4].push_back(error);
    }
    print_figures("position error after a sync (|B - A|)", errors);
    for (int k = 0; k < 4; k++) print_figures(kind_names[k], by_kind[k]);
    a.ask("quit");
    b.ask("quit");
    return 0;
}

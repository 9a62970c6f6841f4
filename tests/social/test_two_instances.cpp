// Two installations of the program, each a real process with its own folders, finding each
// other through two real brokers on loopback: the whole friendship and presence cycle,
// driven through their windows.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <math.h>

#include <string>
#include <utility>
#include <vector>

#include "audio_support.h"
#include "net/net_support.h"
#include "peer_driver.h"
#include "test_support.h"

namespace {

// One installation in a temporary folder of its own.
struct Installation : PeerInstallation {
    TempDir dir;
    std::wstring music() { return dir.path + L"\\M\u00fczikler"; }
    // tracks: display title (the file name) and tone; friend_entries: friends.json lines.
    bool start(const char* tag, const char* name, int port0, int port1,
               std::vector<std::pair<std::wstring, double>> tracks = {{L"Tarkan - Kuzu Kuzu", 440}},
               const std::string& friend_entries = "") {
        wchar_t here[MAX_PATH];
        GetModuleFileNameW(nullptr, here, MAX_PATH);
        std::wstring folder = here;
        folder = folder.substr(0, folder.find_last_of(L'\\'));
        CreateDirectoryW(music().c_str(), nullptr);
        for (const auto& t : tracks) write_tone_wav(music() + L"\\" + t.first + L".wav", {{t.second, 90000}});
        // The downloader stand-in beside the program, where it looks for the real one.
        CopyFileW((folder + L"\\yt-dlp.exe").c_str(), (dir.path + L"\\yt-dlp.exe").c_str(), FALSE);
        // One machine gives both installations the same number: each is seeded with its own.
        return PeerInstallation::start(dir.path, folder + L"\\nelvo_peer.exe", peer_friends_json(tag, name, friend_entries),
                                       port0, port1);
    }
    ~Installation() { stop(); }
    // The player's position in the last state line, or -1.
    int position() {
        std::string s = ask("state");
        size_t at = s.find(" position=");
        return at == std::string::npos ? -1 : atoi(s.c_str() + at + 10);
    }
};

}  // namespace

TEST(TwoInstallations, BecomeFriendsAndSeeEachOther) {
    winsock_up();
    Broker b0, b1;
    ASSERT_TRUE(b0.start());
    ASSERT_TRUE(b1.start());
    Installation a, b;
    ASSERT_TRUE(a.start("Ayse#1111", "Ayse", b0.port, b1.port));
    ASSERT_TRUE(b.start("Burak#2222", "Burak", b0.port, b1.port));
    ASSERT_TRUE(a.state_shows("online=1", 20000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("online=1", 20000)) << b.ask("state");
    EXPECT_EQ(a.ask("friends"), "OK");
    EXPECT_EQ(b.ask("friends"), "OK");

    // A finds B by tag and asks; B sees the request and accepts it.
    EXPECT_EQ(a.ask("request Burak#2222"), "OK");
    ASSERT_TRUE(b.state_shows("pending=1", 20000)) << b.ask("state") << " / " << a.ask("notice");
    EXPECT_EQ(a.ask("notice"), "NOTICE \xe2\x9c\x93 \xc4\xb0stek g\xc3\xb6nderildi!");
    EXPECT_EQ(b.ask("accept 0 drop"), "OK");
    ASSERT_TRUE(a.state_shows("friends=Burak:1:", 20000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("friends=Ayse:1:", 20000)) << b.ask("state");
    EXPECT_TRUE(b.state_shows("pending=0", 5000));

    // A plays a track: B's row shows its title.
    EXPECT_EQ(a.ask("play 0"), "OK");
    EXPECT_TRUE(a.state_shows("playing=1", 5000)) << a.ask("state");
    EXPECT_EQ(b.ask("friends"), "OK");
    EXPECT_TRUE(b.state_shows("friends=Ayse:1:Tarkan - Kuzu Kuzu", 20000)) << b.ask("state");

    // A's new name follows in B's list.
    EXPECT_EQ(a.ask("rename Ayca"), "OK");
    EXPECT_TRUE(a.state_shows("tag=Ayca#1111", 5000)) << a.ask("state");
    EXPECT_TRUE(b.state_shows("friends=Ayca:1:", 20000)) << b.ask("state");

    // A leaves: B shows it offline.
    EXPECT_EQ(a.ask("quit"), "OK");
    EXPECT_EQ(WaitForSingleObject(a.process.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(b.state_shows("friends=Ayca:0:\xc3\x87" "evrimd\xc4\xb1\xc5\x9f\xc4\xb1", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("quit"), "OK");
}

TEST(TwoInstallations, ListenTogetherInAJam) {
    winsock_up();
    Broker b0, b1;
    ASSERT_TRUE(b0.start());
    ASSERT_TRUE(b1.start());
    // B lacks the second track; the stand-in downloader knows it by its video id.
    TempDir scratch;
    write_file(scratch.file(L"catalogue.txt"), "Xk2Lm9Pq0Rs\tSezen Aksu - Gidiyorum\n");
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_CATALOGUE", scratch.file(L"catalogue.txt").c_str());
    Installation a, b;
    ASSERT_TRUE(a.start("Ayse#1111", "Ayse", b0.port, b1.port,
                        {{L"Tarkan - Kuzu Kuzu", 440}, {L"Sezen Aksu - Gidiyorum [Xk2Lm9Pq0Rs]", 660}},
                        "    { \"tag\": \"Burak#2222\", \"name\": \"Burak\" }\n"));
    write_file(b.dir.file(L"config.json"), "{\n  \"jam_keep_downloads\": 0\n}\n");
    // B's copy of the first track has a tone of its own: the sound device, which both share,
    // then tells whose player played.
    ASSERT_TRUE(b.start("Burak#2222", "Burak", b0.port, b1.port, {{L"Tarkan - Kuzu Kuzu", 550}},
                        "    { \"tag\": \"Ayse#1111\", \"name\": \"Ayse\" }\n"));
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_CATALOGUE", nullptr);
    ASSERT_TRUE(a.state_shows("online=1", 20000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("online=1", 20000)) << b.ask("state");
    EXPECT_EQ(a.ask("friends"), "OK");

    // A invites B from its friend row; B joins from the invitation notice.
    EXPECT_EQ(a.ask("invite 0"), "OK");
    ASSERT_TRUE(b.state_shows("invited=1", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("join"), "OK");
    ASSERT_TRUE(a.state_shows("jam=2 members=1", 10000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("jam=2 members=1", 10000)) << b.ask("state");

    // A plays, pauses, seeks and resumes: B follows each.
    audio_capture_reset();
    EXPECT_EQ(a.ask("play Tarkan - Kuzu Kuzu"), "OK");
    EXPECT_TRUE(b.state_shows("playing=1", 10000)) << b.ask("state");
    EXPECT_TRUE(b.state_shows("current=Tarkan - Kuzu Kuzu", 1000)) << b.ask("state");
    Sleep(1000);
    int heard_a = 0, heard_b = 0;
    for (const SoundReport& r : audio_capture_streams()) {
        heard_a += r.sound_ms >= 300 && fabs(r.frequency - 440) < 25;
        heard_b += r.sound_ms >= 300 && fabs(r.frequency - 550) < 25;
    }
    EXPECT_TRUE(heard_a && heard_b) << "both players are heard, each with its own copy";
    EXPECT_EQ(a.ask("pause"), "OK");
    EXPECT_TRUE(b.state_shows("playing=0", 10000)) << b.ask("state");
    EXPECT_EQ(a.ask("seek 8000"), "OK");
    EXPECT_TRUE(b.state_shows("position=8000", 10000)) << b.ask("state");
    EXPECT_EQ(a.ask("pause"), "OK");
    EXPECT_TRUE(b.state_shows("playing=1", 10000)) << b.ask("state");
    EXPECT_GE(b.position(), 8000);

    // A plays the track B lacks: B fetches it and plays it too.
    EXPECT_EQ(a.ask("play Sezen Aksu - Gidiyorum"), "OK");
    // (The stand-in's download is two seconds long: it has ended by the time it is looked at.)
    EXPECT_TRUE(b.state_shows("current=Sezen Aksu - Gidiyorum", 30000)) << b.ask("state");
    std::wstring fetched = b.music() + L"\\Sezen Aksu - Gidiyorum [Xk2Lm9Pq0Rs].wav";
    EXPECT_TRUE(file_exists(fetched));

    // A leaves: B's room closes, and only the track B's fetch brought is deleted.
    EXPECT_EQ(a.ask("close"), "OK");  // the friends panel, which covers the Jam bar's button
    EXPECT_EQ(a.ask("leave"), "OK");
    EXPECT_TRUE(b.state_shows("jam=0", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("quit"), "OK");
    EXPECT_EQ(WaitForSingleObject(b.process.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(file_exists(fetched));
    EXPECT_TRUE(file_exists(b.music() + L"\\Tarkan - Kuzu Kuzu.wav"));
    EXPECT_EQ(a.ask("quit"), "OK");
}

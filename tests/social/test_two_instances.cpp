// Two installations of the program, each a real process with its own folders, finding each
// other through two real brokers on loopback: the whole friendship and presence cycle,
// driven through their windows.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "audio_support.h"
#include "net/net_support.h"
#include "peer_driver.h"
#include "test_support.h"

namespace {

// One installation in a temporary folder of its own.
struct Installation : PeerInstallation {
    TempDir dir;
    bool start(const char* tag, const char* name, int port0, int port1) {
        wchar_t here[MAX_PATH];
        GetModuleFileNameW(nullptr, here, MAX_PATH);
        std::wstring peer = here;
        peer = peer.substr(0, peer.find_last_of(L'\\')) + L"\\nelvo_peer.exe";
        // A track of its own in the music folder beside the program.
        std::wstring music = dir.path + L"\\M\u00fczikler";
        CreateDirectoryW(music.c_str(), nullptr);
        write_tone_wav(music + L"\\Tarkan - Kuzu Kuzu.wav", {{440, 20000}});
        // One machine gives both installations the same number: each is seeded with its own.
        return PeerInstallation::start(dir.path, peer, peer_friends_json(tag, name), port0, port1);
    }
    ~Installation() { stop(); }
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
    EXPECT_EQ(b.ask("accept 0"), "OK");
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

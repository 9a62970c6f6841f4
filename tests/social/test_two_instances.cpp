// Installations of the program, each a real process with its own folders, finding each
// other through two real brokers on loopback: the whole friendship and presence cycle, and
// Jam rooms of two and of four, driven through their windows; one of them behind a relay
// that delays its links as a far network would.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <math.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "audio_support.h"
#include "delay_relay.h"
#include "net/mqtt_packets.h"
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
               const std::string& friend_entries = "", int track_ms = 90000) {
        wchar_t here[MAX_PATH];
        GetModuleFileNameW(nullptr, here, MAX_PATH);
        std::wstring folder = here;
        folder = folder.substr(0, folder.find_last_of(L'\\'));
        CreateDirectoryW(music().c_str(), nullptr);
        for (const auto& t : tracks) write_tone_wav(music() + L"\\" + t.first + L".wav", {{t.second, track_ms}});
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

// Whether a stream of this tone was heard for at least 300 ms since the last reset.
bool heard_tone(double frequency) {
    for (const SoundReport& r : audio_capture_streams())
        if (r.sound_ms >= 300 && fabs(r.frequency - frequency) < 25) return true;
    return false;
}

// Two brokers, and A (Ayse#1111) and B (Burak#2222) online with their friends panels open.
void start_strangers(Broker& b0, Broker& b1, Installation& a, Installation& b) {
    ASSERT_TRUE(b0.start());
    ASSERT_TRUE(b1.start());
    ASSERT_TRUE(a.start("Ayse#1111", "Ayse", b0.port, b1.port));
    ASSERT_TRUE(b.start("Burak#2222", "Burak", b0.port, b1.port));
    ASSERT_TRUE(a.state_shows("online=1", 20000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("online=1", 20000)) << b.ask("state");
    EXPECT_EQ(a.ask("friends"), "OK");
    EXPECT_EQ(b.ask("friends"), "OK");
}

}  // namespace

TEST(TwoInstallations, BecomeFriendsAndSeeEachOther) {
    winsock_up();
    Broker b0, b1;
    Installation a, b;
    start_strangers(b0, b1, a, b);
    if (HasFatalFailure()) return;

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

// Subscribes peer to topic while messages of its earlier subscriptions flow: the messages
// that come before the acknowledgement are read whole and kept in early, where a plain
// subscribe would take their first bytes for the acknowledgement.
static bool subscribe_amid_traffic(RawPeer& peer, const char* topic,
                                   std::vector<std::pair<std::string, std::string>>* early) {
    uint8_t packet[256];
    int n = mqtt_build_subscribe(packet, sizeof packet, 1, topic);
    if (!send_bytes(peer.s, std::string((const char*)packet, n))) return false;
    for (;;) {
        uint8_t header;
        uint32_t length = 0;
        int count = 0, state = 0;
        if (recv(peer.s, (char*)&header, 1, MSG_WAITALL) != 1) return false;
        while (state == 0) {
            uint8_t b;
            if (recv(peer.s, (char*)&b, 1, MSG_WAITALL) != 1) return false;
            state = mqtt_remaining_length_byte(b, &count, &length);
        }
        if (state < 0) return false;
        std::string body(length, '\0');
        if (length && recv(peer.s, &body[0], (int)length, MSG_WAITALL) != (int)length) return false;
        if (header == 0x90) return length == 3;
        if ((header >> 4) != 3 || body.size() < 2) continue;
        size_t topic_length = ((uint8_t)body[0] << 8) | (uint8_t)body[1];
        size_t at = 2 + topic_length + ((header & 0x06) ? 2 : 0);
        if (at <= body.size()) early->push_back({body.substr(2, topic_length), body.substr(at)});
    }
}

// Messages A's listener on the given topics collected within ms, until one satisfies done.
template <typename F>
static std::vector<std::pair<std::string, std::string>> listen(RawPeer& peer, int ms, F done) {
    std::vector<std::pair<std::string, std::string>> all;
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < ms) {
        for (auto& m : peer.receive(100)) all.push_back(m);
        if (done(all)) break;
    }
    return all;
}

static std::string first_starting(const std::vector<std::pair<std::string, std::string>>& all, const std::string& head) {
    for (const auto& m : all)
        if (m.second.compare(0, head.size(), head) == 0) return m.second;
    return "";
}

// The retained record a raw client finds on a key topic, or "".
static std::string retained_record(int port, const char* topic) {
    RawPeer peer;
    if (!peer.connect_to(port, "key-reader") || !peer.subscribe(topic)) return "";
    for (const auto& m : peer.receive(1500))
        if (m.first == topic) return m.second;
    return "";
}

static long long wall_ms() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (long long)((((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime) / 10000ULL) - 11644473600000LL;
}

// The installation started again in its own folder, with the files it left.
static bool restart(Installation& i, int port0, int port1) {
    if (i.process.hProcess && i.ask("quit") == "OK") WaitForSingleObject(i.process.hProcess, 10000);
    i.stop();
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring folder = here;
    folder = folder.substr(0, folder.find_last_of(L'\\'));
    return i.PeerInstallation::start(i.dir.path, folder + L"\\nelvo_peer.exe", read_file(i.dir.file(L"friends.json")),
                                     port0, port1) &&
           i.state_shows("online=1", 20000);
}

// A and B pin each other's keys when they become friends, though a stranger raced to file
// another key under B's number. Then a third party claims A's number towards B and A's room,
// in every way a stranger can: plainly, with a tag that a cut would turn into A's, in BYE's
// looser form, into an invitation still open, with A's own envelopes replayed or altered,
// replayed after B restarts, and with a flood of forged envelopes: nothing of it reaches B's
// list, store or player, nor A's room. An envelope of A's counts at B even when B has lost
// A's key. A user of the original protocol befriends A, sees its presence and joins its room
// with today's bytes. An empty key record changes nothing; another key shows on the row.
TEST(TwoInstallations, SignedFriendsCannotBeImpersonated) {
    winsock_up();
    Broker b0, b1;
    Installation a, b;
    start_strangers(b0, b1, a, b);
    if (HasFatalFailure()) return;
    RawPeer forger;
    ASSERT_TRUE(forger.connect_to(b0.port, "forger"));
    const std::string real_b_key = retained_record(b1.port, "zembrafold/key/2222");
    ASSERT_EQ(real_b_key.compare(0, 16, "NKEY|Burak#2222|"), 0) << real_b_key;
    std::string fake_key(86, 'B');
    fake_key[85] = 'A';
    ASSERT_TRUE(forger.publish("zembrafold/key/2222", "NKEY|Burak#2222|" + fake_key, true));
    // B puts its own record back on the broker it was overwritten on.
    std::string on_b0;
    for (int i = 0; i < 30 && (on_b0 = retained_record(b0.port, "zembrafold/key/2222")) != real_b_key; i++) Sleep(100);
    EXPECT_EQ(on_b0, real_b_key);

    EXPECT_EQ(a.ask("request Burak#2222"), "OK");
    ASSERT_TRUE(b.state_shows("pending=1", 20000)) << b.ask("state");
    EXPECT_EQ(b.ask("accept 0 drop"), "OK");
    ASSERT_TRUE(b.state_shows("friends=Ayse:1:\xc3\x87" "evrimi\xc3\xa7i \xe2\x80\xa2 Bo\xc5\x9fta:v1", 20000)) << b.ask("state");
    ASSERT_TRUE(a.state_shows(":v1", 20000)) << a.ask("state");
    // The store is written within a second of a change.
    for (int i = 0; i < 30 && read_file(b.dir.file(L"friends.json")).find("\"key\": \"") == std::string::npos; i++) Sleep(100);
    EXPECT_NE(read_file(b.dir.file(L"friends.json")).find("\"name\": \"Ayse\", \"key\": \""), std::string::npos);
    for (int i = 0; i < 30 && read_file(a.dir.file(L"friends.json")).find("\"key\": \"") == std::string::npos; i++) Sleep(100);
    EXPECT_NE(read_file(a.dir.file(L"friends.json")).find("\"key\": \"" + real_b_key.substr(16) + "\""), std::string::npos)
        << "A pinned the key B publishes, not the one raced in";

    // What A sends B is signed: its new name, seen on B's topics.
    RawPeer tap;
    ASSERT_TRUE(tap.connect_to(b0.port, "tap"));
    ASSERT_TRUE(tap.subscribe("zembrafold/id/2222"));
    std::vector<std::pair<std::string, std::string>> early;
    ASSERT_TRUE(subscribe_amid_traffic(tap, "zembrafold/jam/#", &early));
    EXPECT_EQ(a.ask("rename Ayca"), "OK");
    auto seen = early;
    auto more = listen(tap, 10000, [](auto& all) { return !first_starting(all, "NSIG|1111|").empty() &&
                                                          all.back().second.find("NAME_CHG|Ayca#1111") != std::string::npos; });
    seen.insert(seen.end(), more.begin(), more.end());
    std::string renamed = first_starting(seen, "NSIG|1111|");
    for (const auto& m : seen) {
        if (m.second.find("NAME_CHG|Ayca#1111") != std::string::npos) renamed = m.second;
        EXPECT_NE(m.second.compare(0, 5, "PING|"), 0) << "a plain message of A's to B: " << m.second;
    }
    ASSERT_NE(renamed.find("NSIG|1111|"), std::string::npos) << renamed;
    ASSERT_TRUE(b.state_shows("friends=Ayca:1:", 10000)) << b.ask("state");
    EXPECT_EQ(a.ask("rename Ayse"), "OK");
    ASSERT_TRUE(b.state_shows("friends=Ayse:1:", 10000)) << b.ask("state");

    // A invites B. While the invitation is open, its room id (in clear inside it) is all a
    // stranger needs to speak on the room topic in B's name: A's room neither opens nor closes.
    EXPECT_EQ(a.ask("invite 0"), "OK");
    // Twice in the last runs the message taken here ended before its room id; it is not yet
    // known which one it was, so any such message is printed and the room id is taken from
    // the whole one.
    const std::string whole = "JAM_INV|Ayse#1111|Ayse|jam_";
    auto invitation = listen(tap, 10000, [&whole](auto& all) {
        return !all.empty() && all.back().second.find(whole) != std::string::npos;
    });
    ASSERT_FALSE(invitation.empty());
    for (const auto& m : invitation)
        if (m.second.find("JAM_INV|") != std::string::npos && m.second.find(whole) == std::string::npos)
            printf("[ unexplained ] on %s: %s\n", m.first.c_str(), m.second.c_str());
    std::string invite = invitation.back().second;
    const std::string room_id = invite.substr(invite.rfind('|') + 1), room = "zembrafold/jam/" + room_id;
    ASSERT_TRUE(forger.publish(room.c_str(), "JAM_POS|Burak#2222|" + room_id + "|0|90000"));
    ASSERT_TRUE(forger.publish(room.c_str(), "JAM_REJ|Burak#2222|" + room_id));
    Sleep(1500);
    EXPECT_NE(a.ask("state").find("jam=1 members=0"), std::string::npos) << a.ask("state");
    ASSERT_TRUE(b.state_shows("invited=1", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("join"), "OK");
    ASSERT_TRUE(a.state_shows("jam=2 members=1", 10000)) << a.ask("state");
    EXPECT_EQ(a.ask("play Tarkan - Kuzu Kuzu"), "OK");
    ASSERT_TRUE(b.state_shows("playing=1", 10000)) << b.ask("state");

    // The forgeries, on both of B's ways in. A tag field one byte longer than any sender
    // writes, which a cut at 127 bytes would turn into A's "...#1111", is a stranger's
    // (#11115) to a check that reads it whole; BYE takes its whole rest as the tag.
    std::string tampered = renamed;
    tampered.replace(tampered.find("Ayca", tampered.find("NAME_CHG")), 4, "Ayda");
    const std::string cut_to_a = "Ayse" + std::string(118, 'x') + "#11115";
    const std::string forged[] = {
        "NAME_CHG|Mallory#1111|Mallory", "PONG|Ayse#1111|Ayse|1|Sahte \xc5\x9e" "ark\xc4\xb1",
        "JAM_INV|Ayse#1111|Ayse|jam_mallory_1", "JAM_POS|Ayse#1111|" + room_id + "|0|0", renamed, tampered,
        "PONG|" + cut_to_a + "|Sahte|1|Sahte", "NAME_CHG|" + cut_to_a + "|Sahte", "PING|" + cut_to_a + "|Sahte",
        "JAM_INV|" + cut_to_a + "|Sahte|jam_mallory_2", "JAM_POS|" + cut_to_a + "|" + room_id + "|0|0",
        "JAM_STATE|" + cut_to_a + "|" + room_id + "|0|0||Sahte", "JAM_JOIN|" + cut_to_a + "|Sahte|" + room_id,
        "JAM_LEAVE|" + cut_to_a + "|" + room_id, "BYE|" + cut_to_a, "BYE|X|Ayse#1111",
    };
    for (const std::string& f : forged) {
        EXPECT_TRUE(forger.publish("zembrafold/id/2222", f));
        EXPECT_TRUE(forger.publish(room.c_str(), f));
    }
    Sleep(1500);
    std::string state = b.ask("state");
    EXPECT_NE(state.find("playing=1"), std::string::npos) << state;
    EXPECT_NE(state.find("invited=0"), std::string::npos) << state;
    EXPECT_NE(state.find("jam=2 members=1"), std::string::npos) << state;
    EXPECT_NE(state.find("friends=Ayse:1:"), std::string::npos) << state;
    EXPECT_EQ(state.find("Sahte"), std::string::npos) << state;
    EXPECT_EQ(read_file(b.dir.file(L"friends.json")).find("Mallory"), std::string::npos);

    // A flood of envelopes in A's name with fresh times and false signatures: B checks a few
    // of them, not each, and A's next genuine message still counts.
    auto checks = [](Installation& i) {
        std::string s = i.ask("state");
        size_t at = s.find(" checks=");
        return at == std::string::npos ? -1 : atoi(s.c_str() + at + 8);
    };
    int checks_before = checks(b);
    const std::string false_signature(86, 'A');
    for (int i = 0; i < 2000; i++)
        forger.publish("zembrafold/id/2222", "NSIG|1111|" + std::to_string(wall_ms()) + "|" + false_signature +
                                                 "|PONG|Ayse#1111|Ayse|1|Sahte");
    Sleep(1500);
    EXPECT_LT(checks(b) - checks_before, 200) << "signatures checked for 2000 forgeries";
    EXPECT_EQ(a.ask("rename Ayla"), "OK");
    EXPECT_TRUE(b.state_shows("friends=Ayla:1:", 15000)) << b.ask("state");
    EXPECT_EQ(a.ask("rename Ayse"), "OK");
    EXPECT_TRUE(b.state_shows("friends=Ayse:1:", 15000)) << b.ask("state");

    // A user of the original protocol: plain bytes both ways, as today.
    RawPeer cem;
    ASSERT_TRUE(cem.connect_to(b1.port, "cem"));
    ASSERT_TRUE(cem.subscribe("zembrafold/id/3333"));
    ASSERT_TRUE(cem.publish("zembrafold/id/1111", "REQ|Cem#3333|Cem"));
    ASSERT_TRUE(a.state_shows("pending=1", 10000)) << a.ask("state");
    EXPECT_EQ(a.ask("accept 0 drop"), "OK");
    ASSERT_TRUE(cem.publish("zembrafold/id/1111", "PING|Cem#3333|Cem"));
    auto to_cem = listen(cem, 10000, [](auto& all) { return !first_starting(all, "PONG|Ayse#1111|Ayse|1|").empty(); });
    EXPECT_EQ(first_starting(to_cem, "ACC|"), "ACC|Ayse#1111|Ayse");
    EXPECT_EQ(first_starting(to_cem, "PONG|"), "PONG|Ayse#1111|Ayse|1|Tarkan - Kuzu Kuzu");
    ASSERT_TRUE(a.state_shows("Cem:1:", 10000)) << a.ask("state");
    EXPECT_EQ(a.ask("invite 1"), "OK");
    to_cem = listen(cem, 10000, [](auto& all) { return !first_starting(all, "JAM_INV|").empty(); });
    EXPECT_EQ(first_starting(to_cem, "JAM_INV|"), "JAM_INV|Ayse#1111|Ayse|" + room_id);
    for (const auto& m : to_cem) EXPECT_NE(m.second.compare(0, 5, "NSIG|"), 0) << m.second;
    ASSERT_TRUE(subscribe_amid_traffic(cem, room.c_str(), &early));
    ASSERT_TRUE(cem.publish("zembrafold/id/1111", "JAM_JOIN|Cem#3333|Cem|" + room_id));
    ASSERT_TRUE(cem.publish(room.c_str(), "JAM_JOIN|Cem#3333|Cem|" + room_id));
    EXPECT_TRUE(a.state_shows("jam=2 members=2", 10000)) << a.ask("state");
    EXPECT_EQ(a.ask("pause"), "OK");
    to_cem = listen(cem, 5000, [](auto& all) { return !first_starting(all, "JAM_POS|").empty(); });
    EXPECT_EQ(first_starting(to_cem, "JAM_POS|").compare(0, 24, "JAM_POS|Ayse#1111|" + room_id.substr(0, 6)), 0);
    EXPECT_TRUE(b.state_shows("playing=0", 10000)) << "B follows A's signed copy: " << b.ask("state");

    // B starts again: an envelope of A's that B took a moment before is not taken again.
    EXPECT_EQ(a.ask("rename Ayca"), "OK");
    auto renames = listen(tap, 10000, [](auto& all) {
        return !all.empty() && all.back().second.find("NAME_CHG|Ayca#1111") != std::string::npos;
    });
    ASSERT_FALSE(renames.empty());
    const std::string recent = renames.back().second;
    ASSERT_EQ(recent.compare(0, 10, "NSIG|1111|"), 0) << recent;
    ASSERT_TRUE(b.state_shows("friends=Ayca:", 10000)) << b.ask("state");
    EXPECT_EQ(a.ask("rename Ayse"), "OK");
    ASSERT_TRUE(b.state_shows("friends=Ayse:", 10000)) << b.ask("state");
    ASSERT_TRUE(restart(b, b0.port, b1.port)) << b.ask("state");
    ASSERT_TRUE(forger.publish("zembrafold/id/2222", recent));
    Sleep(1500);
    EXPECT_NE(b.ask("state").find("friends=Ayse:"), std::string::npos) << b.ask("state");
    // B loses A's key (an older copy of its store): A's envelopes still count there.
    std::string store = read_file(b.dir.file(L"friends.json"));
    size_t key_at = store.find(", \"key\": \"");
    ASSERT_NE(key_at, std::string::npos) << store;
    store.erase(key_at, store.find(" }", key_at) - key_at);
    ASSERT_EQ(b.ask("quit"), "OK");
    WaitForSingleObject(b.process.hProcess, 10000);
    b.stop();
    write_file(b.dir.file(L"friends.json"), store);
    ASSERT_TRUE(restart(b, b0.port, b1.port)) << b.ask("state");
    EXPECT_EQ(a.ask("rename Ayla"), "OK");
    EXPECT_TRUE(b.state_shows("friends=Ayla:", 15000)) << b.ask("state");

    // With B gone, nobody puts its record back: an empty one, or one naming someone else,
    // changes nothing on A's row; another key of B's shows there and is never pinned.
    EXPECT_EQ(b.ask("quit"), "OK");
    WaitForSingleObject(b.process.hProcess, 10000);
    std::string other_key(86, 'A');
    other_key[85] = 'Q';
    ASSERT_TRUE(forger.publish("zembrafold/key/2222", "NKEY|Mallory#9999|" + other_key, true));
    ASSERT_TRUE(forger.publish("zembrafold/key/2222", "", true));
    Sleep(1500);
    EXPECT_NE(a.ask("state").find(":v1"), std::string::npos) << "a record for someone else, or none: " << a.ask("state");
    ASSERT_TRUE(forger.publish("zembrafold/key/2222", "NKEY|Burak#2222|" + other_key, true));
    EXPECT_TRUE(a.state_shows(":v2", 10000)) << a.ask("state");
    EXPECT_EQ(read_file(a.dir.file(L"friends.json")).find(other_key), std::string::npos);
    EXPECT_EQ(a.ask("quit"), "OK");

    // B's key can no longer be opened (a damaged file): B says so instead of going quiet.
    b.stop();
    write_file(b.dir.path + L"\\roaming\\Nelvo\\signing.key", "damaged");
    ASSERT_TRUE(restart(b, b0.port, b1.port));
    EXPECT_TRUE(b.state_shows("banner=\xc4\xb0mza anahtar\xc4\xb1n\xc4\xb1z a\xc3\xa7\xc4\xb1lamad\xc4\xb1", 5000))
        << b.ask("state");
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

TEST(Installations, ARoomOfFourStaysInStep) {
    winsock_up();
    Broker b0, b1;
    ASSERT_TRUE(b0.start());
    ASSERT_TRUE(b1.start());
    // A befriends the three others. Each has the first track with a tone of its own (the
    // shared sound device then tells whose player played); the guests have a second track.
    const char* TAGS[4] = {"Ayse#1111", "Burak#2222", "Cem#3333", "Deniz#4444"};
    const char* NAMES[4] = {"Ayse", "Burak", "Cem", "Deniz"};
    const double TONES[4] = {440, 550, 660, 770};
    Installation p[4];
    for (int i = 0; i < 4; i++) {
        std::string friends;
        for (int k = 0; k < 4; k++) {
            if (k == i || (i > 0 && k > 0)) continue;
            friends += std::string("    { \"tag\": \"") + TAGS[k] + "\", \"name\": \"" + NAMES[k] + "\" }\n";
        }
        std::vector<std::pair<std::wstring, double>> tracks = {{L"Tarkan - Kuzu Kuzu", TONES[i]}};
        if (i > 0) tracks.push_back({L"Sezen Aksu - Gidiyorum", TONES[i] + 40});
        // The guests' lists go round, whichever order the folder lists them in.
        if (i > 0) write_file(p[i].dir.file(L"config.json"), "{\n  \"repeat\": 1\n}\n");
        ASSERT_TRUE(p[i].start(TAGS[i], NAMES[i], b0.port, b1.port, tracks, friends, 30000));
    }
    Installation &a = p[0], &b = p[1], &c = p[2], &d = p[3];
    for (Installation& q : p) ASSERT_TRUE(q.state_shows("online=1", 20000)) << q.ask("state");

    // A invites B and C; B declines; C joins seconds later, into a room still open for it.
    EXPECT_EQ(a.ask("friends"), "OK");
    EXPECT_EQ(a.ask("invite 0"), "OK");
    EXPECT_EQ(a.ask("invite 1"), "OK");
    ASSERT_TRUE(b.state_shows("invited=1", 10000)) << b.ask("state");
    ASSERT_TRUE(c.state_shows("invited=1", 10000)) << c.ask("state");
    EXPECT_EQ(b.ask("decline"), "OK");
    Sleep(2500);
    EXPECT_EQ(c.ask("join"), "OK");
    ASSERT_TRUE(c.state_shows("jam=2 members=1", 10000)) << c.ask("state");
    ASSERT_TRUE(a.state_shows("jam=2 members=1", 10000)) << a.ask("state");

    // A plays; C plays along. B joins after all and plays along too, then stops its player.
    EXPECT_EQ(a.ask("play Tarkan - Kuzu Kuzu"), "OK");
    EXPECT_TRUE(c.state_shows("playing=1", 10000)) << c.ask("state");
    EXPECT_EQ(a.ask("invite 0"), "OK");
    ASSERT_TRUE(b.state_shows("invited=1", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("join"), "OK");
    EXPECT_TRUE(b.state_shows("playing=1", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("stop"), "OK");
    EXPECT_TRUE(b.state_shows("playing=0", 5000)) << b.ask("state");

    // B presses Left with nothing loaded, and D joins while B is stopped: D gets the room's
    // state, and nobody else moves.
    int a_before = a.position(), c_before = c.position();
    DWORD t0 = GetTickCount();
    EXPECT_EQ(b.ask("key 37"), "OK");
    EXPECT_EQ(a.ask("invite 2"), "OK");
    ASSERT_TRUE(d.state_shows("invited=1", 10000)) << d.ask("state");
    EXPECT_EQ(d.ask("join"), "OK");
    EXPECT_TRUE(d.state_shows("playing=1", 10000)) << d.ask("state");
    Sleep(1000);
    int moved = (int)(GetTickCount() - t0) - 600;
    EXPECT_TRUE(a.state_shows("playing=1", 100)) << a.ask("state");
    EXPECT_GE(a.position(), a_before + moved) << "A went on playing";
    EXPECT_TRUE(c.state_shows("playing=1", 100)) << c.ask("state");
    EXPECT_GE(c.position(), c_before + moved) << "C went on playing";
    EXPECT_TRUE(b.state_shows("playing=0", 100)) << b.ask("state");
    EXPECT_TRUE(a.state_shows("members=3", 5000)) << a.ask("state");

    // A plays the end of its only track; B, stopped, is opened there too. A's list ends and
    // its player stops; the guests wait at the start. B presses play: A is heard again.
    EXPECT_EQ(a.ask("close"), "OK");
    EXPECT_EQ(a.ask("play Tarkan - Kuzu Kuzu at 27000"), "OK");
    EXPECT_TRUE(b.state_shows("playing=1", 5000)) << b.ask("state");
    EXPECT_TRUE(a.state_shows("playing=0", 10000)) << a.ask("state");
    EXPECT_TRUE(b.state_shows("playing=0", 10000)) << b.ask("state");
    audio_capture_reset();
    EXPECT_EQ(b.ask("pause"), "OK");
    EXPECT_TRUE(a.state_shows("playing=1", 5000)) << a.ask("state");
    Sleep(1500);
    EXPECT_GE(a.position(), 800) << "A's clock runs";
    EXPECT_TRUE(heard_tone(TONES[0])) << "A's player is heard";

    // A leaves. B has the lowest number left and acts as host: at the track's end it goes
    // on to the next one, and C and D follow it.
    EXPECT_EQ(a.ask("leave"), "OK");
    EXPECT_TRUE(c.state_shows("members=2", 10000)) << c.ask("state");
    EXPECT_EQ(b.ask("seek 27000"), "OK");
    EXPECT_TRUE(b.state_shows("current=Sezen Aksu - Gidiyorum", 15000)) << b.ask("state");
    EXPECT_TRUE(c.state_shows("playing=1 banner", 5000)) << c.ask("state");
    EXPECT_TRUE(c.state_shows("current=Sezen Aksu - Gidiyorum", 5000)) << c.ask("state");
    EXPECT_TRUE(d.state_shows("current=Sezen Aksu - Gidiyorum", 5000)) << d.ask("state");

    // B plays a track the others lack: they fetch it (the stand-in takes 30 s for "slow").
    write_tone_wav(b.music() + L"\\Yavas slow Parca.wav", {{500, 30000}});
    EXPECT_EQ(b.ask("rescan"), "OK");
    EXPECT_EQ(b.ask("play Yavas slow Parca"), "OK");
    EXPECT_TRUE(c.state_shows("fetching=1", 10000)) << c.ask("state");
    EXPECT_TRUE(d.state_shows("fetching=1", 10000)) << d.ask("state");
    // C accepts A's invitation into another room: B's room's fetch ends with it.
    EXPECT_EQ(a.ask("friends"), "OK");
    EXPECT_EQ(a.ask("invite 1"), "OK");
    ASSERT_TRUE(c.state_shows("invited=1", 10000)) << c.ask("state");
    EXPECT_EQ(c.ask("join"), "OK");
    EXPECT_TRUE(c.state_shows("fetching=0", 5000)) << c.ask("state");
    EXPECT_TRUE(a.state_shows("jam=2 members=1", 10000)) << a.ask("state");
    // B goes back to a track D has: D's fetch is stopped, and that is no failure.
    EXPECT_EQ(b.ask("play Sezen Aksu - Gidiyorum"), "OK");
    EXPECT_TRUE(d.state_shows("fetching=0", 5000)) << d.ask("state");
    EXPECT_TRUE(d.state_shows("current=Sezen Aksu - Gidiyorum", 5000)) << d.ask("state");
    std::string after = d.ask("state");
    EXPECT_EQ(after.find("Otomatik"), std::string::npos) << after;
    EXPECT_NE(after.find("notice=\xe2\x9c\x93 Canl\xc4\xb1 milisaniye senkronize"), std::string::npos) << after;
    for (Installation& q : p) q.ask("quit");
}

// B's two broker links pass relays that hold each way 100 ms: A pauses and resumes, and B
// resumes where A is, by the delay it measured from A rather than by a fixed allowance.
TEST(Installations, AResumeLandsInStepThroughASlowNetwork) {
    winsock_up();
    Broker b0, b1;
    ASSERT_TRUE(b0.start());
    ASSERT_TRUE(b1.start());
    DelayRelay r0, r1;
    ASSERT_TRUE(r0.start(b0.port, 100, 0));
    ASSERT_TRUE(r1.start(b1.port, 100, 0));
    Installation a, b;
    ASSERT_TRUE(a.start("Ayse#1111", "Ayse", b0.port, b1.port, {{L"Tarkan - Kuzu Kuzu", 440}},
                        "    { \"tag\": \"Burak#2222\", \"name\": \"Burak\" }\n"));
    ASSERT_TRUE(b.start("Burak#2222", "Burak", r0.port, r1.port, {{L"Tarkan - Kuzu Kuzu", 550}},
                        "    { \"tag\": \"Ayse#1111\", \"name\": \"Ayse\" }\n"));
    ASSERT_TRUE(a.state_shows("online=1", 20000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("online=1", 20000)) << b.ask("state");
    Sleep(1000);  // B's subscriptions, sent when its links came up, have reached the brokers
    EXPECT_EQ(a.ask("friends"), "OK");
    EXPECT_EQ(a.ask("play Tarkan - Kuzu Kuzu"), "OK");
    EXPECT_EQ(a.ask("invite 0"), "OK");
    ASSERT_TRUE(b.state_shows("invited=1", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("join"), "OK");
    ASSERT_TRUE(b.state_shows("playing=1", 10000)) << b.ask("state");
    // The answer to B's ask was its first round trip with A.
    ASSERT_TRUE(b.state_shows("jam=2 members=1", 5000)) << b.ask("state");
    EXPECT_NE(b.ask("delay"), "DELAY -1");

    auto pos = [](Installation& p) {
        std::string line = p.ask("pos");
        return line.rfind("POS ", 0) == 0 ? atoi(line.c_str() + 4) : -1;
    };
    std::vector<double> errors;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(a.ask("pause"), "OK");
        EXPECT_TRUE(b.state_shows("playing=0", 5000)) << b.ask("state");
        Sleep(300);
        EXPECT_EQ(a.ask("pause"), "OK");
        EXPECT_TRUE(b.state_shows("playing=1", 5000)) << b.ask("state");
        Sleep(500);
        int a1 = pos(a), bp = pos(b), a2 = pos(a);
        errors.push_back(fabs(bp - (a1 + a2) / 2.0));
    }
    std::sort(errors.begin(), errors.end());
    EXPECT_LE(errors[1], 30.0) << "B resumes within 30 ms of A (median of three; the longest was " << errors[2]
                               << " ms)";
    a.ask("quit");
    b.ask("quit");
}

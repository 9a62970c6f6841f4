// Jam rooms at the wire (this installation "Ben#1111" and a scripted peer on two loopback
// brokers), and the sync decisions on a clock the tests move.
#include "friend_wire.h"

#include "social/jam.h"
#include "social/jam_rules.h"
#include "social/peer_delay.h"

struct JamWire : FriendWire {
    void SetUp() override {
        FriendWire::SetUp();
        jam_reset();
        g_jam_wanted = JamWanted{};
        add_friend(L"Ali#2222", L"Ali");
    }
    void TearDown() override {
        jam_reset();
        FriendWire::TearDown();
    }
    void handle(const char* topic, const char* payload) override {
        friend_protocol_handle(topic, payload);
        jam_protocol_handle(topic, payload);
    }
    std::string room() { return std::string("zembrafold/jam/") + g_jam.room_id; }
    std::string id() { return g_jam.room_id; }
    static std::wstring banner() {
        wchar_t text[256];
        jam_banner_text(text, 256);
        return text;
    }
    // What this installation sent of the Jam's messages.
    static int jam_messages(const Heard& h) {
        int n = 0;
        for (const auto& m : h) n += m.second.rfind("JAM_", 0) == 0 && m.second.find("|Ben#1111|") != std::string::npos;
        return n;
    }
};

TEST_F(JamWire, AFriendsInvitationIsJoinedAndTheRoomEndsWhenTheHostLeaves) {
    // Strangers and unusable room ids do not invite; a friend does.
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "JAM_INV|Yabanc\xc4\xb1#3333|Yabanc\xc4\xb1|jam_yabanci_1"));
    ASSERT_TRUE(peer.publish("zembrafold/u/ben_1111", "JAM_INV|Ali#2222|Ali|jam/#"));
    deliver();
    EXPECT_FALSE(jam_invitation_pending());
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "JAM_INV|Ali#2222|Ali|jam_ali_2222_5"));
    deliver(1000);  // the same message again within 900 ms would be taken for a copy
    ASSERT_TRUE(jam_invitation_pending());
    EXPECT_STREQ(jam_inviter_name(), L"Ali");
    jam_tick_at(g_jam.invitation.received_at + 45001);
    EXPECT_FALSE(jam_invitation_pending()) << "an invitation lives 45 s";
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "JAM_INV|Ali#2222|Ali|jam_ali_2222_5"));
    deliver();

    jam_accept_invitation();
    deliver(300);
    Heard h = heard();
    const std::string room_topic = "zembrafold/jam/jam_ali_2222_5";
    EXPECT_EQ(count(h, "zembrafold/id/2222", "JAM_JOIN|Ben#1111|Ben|jam_ali_2222_5"), 1);
    EXPECT_EQ(count(h, room_topic, "JAM_JOIN|Ben#1111|Ben|jam_ali_2222_5"), 1);
    EXPECT_EQ(count(h, "zembrafold/id/2222", "JAM_ASK|Ben#1111|jam_ali_2222_5"), 1);
    EXPECT_EQ(count(h, room_topic, "JAM_ASK|Ben#1111|jam_ali_2222_5"), 1);
    EXPECT_TRUE(jam_in_room());
    EXPECT_FALSE(jam_is_host());
    EXPECT_EQ(jam_member_count(), 1);
    EXPECT_EQ(banner(), L"CANLI JAM ODASI (2 Ki\u015fi)  \u2022  Sen, Ali (?)") << "Ali's key is not pinned";

    // The host's state becomes the pending sync; this user's own echo does not.
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_STATE|Ben#1111|jam_ali_2222_5|1|5000|abcDEF12345|Kendi"));
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_STATE|Ali#2222|jam_ali_2222_5|1|-20|abcDEF12345|Tarkan | Kuzu"));
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_POS|Ali#2222|jam_other_1|0|100"));
    deliver();
    JamSync r;
    ASSERT_TRUE(jam_take_sync(&r));
    EXPECT_FALSE(r.is_position);
    EXPECT_TRUE(r.playing);
    EXPECT_EQ(r.position_ms, 0) << "a negative position reads as 0";
    EXPECT_STREQ(r.video_id, L"abcDEF12345");
    EXPECT_STREQ(r.title, L"Tarkan | Kuzu") << "the last field is all the rest";
    EXPECT_FALSE(jam_take_sync(&r));
    heard();  // what the peer itself sent

    // The host leaves a two-person room: it closes here without a word.
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_LEAVE|Ali#2222|jam_ali_2222_5"));
    deliver();
    EXPECT_EQ(jam_state(), JAM_NONE);
    EXPECT_EQ(jam_member_count(), 0);
    EXPECT_EQ(jam_messages(heard()), 0);
}

TEST_F(JamWire, TheHostAnswersJoinsOnceAndSurvivesHostileMessages) {
    jam_start_room();
    deliver(300);
    EXPECT_EQ(count(heard(), room(), "JAM_JOIN|Ben#1111|Ben|" + id()), 1);
    EXPECT_TRUE(jam_is_host());

    ASSERT_TRUE(peer.publish(room().c_str(), "JAM_JOIN|Ali#2222|Ali|" + id()));
    deliver();
    Heard h = heard();
    EXPECT_EQ(count(h, "zembrafold/id/2222", "JAM_HERE|Ben#1111|Ben|" + id()), 1);
    EXPECT_EQ(count(h, room(), "JAM_HERE|Ben#1111|Ben|" + id()), 1);
    wchar_t asker[JAM_TAG_CAPACITY];
    ASSERT_TRUE(jam_next_asker(asker, JAM_TAG_CAPACITY));
    EXPECT_STREQ(asker, L"Ali#2222") << "a joiner is sent the state";
    ASSERT_TRUE(peer.publish(room().c_str(), "JAM_JOIN|Ali#2222|Ali|" + id()));
    deliver();
    EXPECT_EQ(jam_messages(heard()), 0) << "a member joining again is not greeted again";

    for (const char* m : {"Veli#3333|Veli", "Cem#4444|Cem", "Deniz#5555|Deniz", "Ece#6666|Ece"})
        ASSERT_TRUE(peer.publish(room().c_str(), std::string("JAM_HERE|") + m + "|" + id()));
    // Hostile: missing fields, a 3.8 kB title, huge numbers, broken UTF-8, bidi marks, other rooms.
    const std::string big(3800, 'x');  // the most one message may carry
    const std::string hostile[] = {
        "JAM_STATE|Ali#2222|" + id(),
        "JAM_STATE|Ali#2222|" + id() + "|1|99999999999999|id|" + big,
        "JAM_POS|Ali#2222",
        "JAM_HERE|\xff\xfe#7777|x|" + id(),
        "JAM_HERE|Mal\xe2\x80\xae" "ory#8888|Mal\xe2\x80\xaeory|" + id(),
        "JAM_LEAVE|Veli#3333|jam_other_1",
        "JAM_JOIN||x|" + id(),
        "JAM_ASK|",
        "JAM_REJ",
    };
    for (const std::string& m : hostile) ASSERT_TRUE(peer.publish(room().c_str(), m)) << m.substr(0, 40);
    deliver();
    EXPECT_EQ(jam_member_count(), 6);
    EXPECT_EQ(banner(), L"CANLI JAM ODASI (7 Ki\u015fi)  \u2022  Sen, Ali (?), Veli (?), Cem (?) +3");
    // Whoever reads the room topic may join under his own number with a friend's name: only
    // a verified friend goes unmarked.
    ASSERT_TRUE(peer.publish(room().c_str(), "JAM_HERE|Cem#4444|Ali|" + id()));
    deliver();
    // Each row changes the friends store, then the title is read again.
    struct {
        const char* step;
        void (*change)();
        const wchar_t* shown;
    } rows[] = {
        {"a stranger named Ali", [] {}, L"Sen, Ali (?), Veli (?), Ali (?) +3"},
        {"Ali's key pinned", [] { memset(friend_at(0)->key, 'A', 86); }, L"Sen, Ali, Veli (?), Ali (?) +3"},
        {"Veli a friend without a pinned key", [] { add_friend(L"Veli#3333", L"Veli"); },
         L"Sen, Ali, Veli (?), Ali (?) +3"},
    };
    for (const auto& row : rows) {
        row.change();
        EXPECT_EQ(banner(), std::wstring(L"CANLI JAM ODASI (7 Ki\u015fi)  \u2022  ") + row.shown) << row.step;
    }
    friend_at(0)->key[0] = 0;
    g_friends.friend_count = 1;
    for (int i = 0; i < jam_member_count(); i++) {
        EXPECT_EQ(wcschr(g_jam.members[i].name, 0x202E), nullptr) << "no direction marks are kept";
    }
    JamSync r;
    ASSERT_TRUE(jam_take_sync(&r));
    EXPECT_EQ(r.position_ms, 1000000000) << "a huge position is held to a size the sums can take";
    EXPECT_EQ(wcslen(r.title), 255u);

    // Everyone leaves: the last one closes the room for the host too.
    for (const char* t : {"Ali#2222", "Veli#3333", "Cem#4444", "Deniz#5555", "Ece#6666", "Mal\xe2\x80\xaeory#8888"})
        ASSERT_TRUE(peer.publish(room().c_str(), std::string("JAM_LEAVE|") + t + "|" + id()));
    deliver();
    EXPECT_EQ(jam_state(), JAM_NONE);
}

TEST_F(JamWire, InvitationsGoToTheFriendAndAnUnansweredRoomCloses) {
    jam_invite(L"Ali#2222", L"Ali");
    deliver(300);
    Heard h = heard();
    EXPECT_EQ(count(h, "zembrafold/id/2222", "JAM_INV|Ben#1111|Ben|" + id()), 1);
    EXPECT_EQ(count(h, room(), "JAM_INV|Ben#1111|Ben|" + id()), 0) << "never on the room topic";
    EXPECT_EQ(jam_state(), JAM_INVITING);
    EXPECT_EQ(banner(), L"JAM DAVET\u0130 BEKLEN\u0130YOR  \u2022  Ali");
    EXPECT_TRUE(jam_is_member(L"Ali#2222"));

    ASSERT_TRUE(peer.publish(room().c_str(), "JAM_ASK|Ali#2222|" + id()));
    deliver();
    wchar_t asker[JAM_TAG_CAPACITY];
    EXPECT_FALSE(jam_next_asker(asker, JAM_TAG_CAPACITY)) << "nobody is asked while only inviting";

    jam_invite(L"Veli#3333", L"Veli");
    EXPECT_EQ(banner(), L"JAM ODASI KURULUYOR  \u2022  2 ki\u015fiye davet g\u00f6nderildi");
    // A decline reaches the inviter on both its own topics: one decline.
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "JAM_REJ|Ali#2222|" + id()));
    ASSERT_TRUE(peer.publish("zembrafold/u/ben_1111", "JAM_REJ|Ali#2222|" + id()));
    deliver();
    EXPECT_EQ(jam_state(), JAM_INVITING) << "one invitation is still open";
    ASSERT_TRUE(peer.publish(room().c_str(), "JAM_REJ|Veli#3333|" + id()));
    deliver();
    EXPECT_EQ(jam_state(), JAM_NONE);

    jam_invite(L"Ali#2222", L"Ali");
    jam_tick_at(g_jam.invite_time + 45001);
    EXPECT_EQ(g_jam.state, JAM_NONE) << "45 s without a join end the room silently";
}

//~ Sync decisions

struct SyncPlan : ::testing::Test {
    JamLocal local = {};
    JamSyncPlan plan = {};
    void SetUp() override {
        jam_reset();
        g_jam.state = JAM_IN_ROOM;
        g_jam_wanted = JamWanted{};
        local.now = 100000;
        local.found_index = -1;
    }
    void TearDown() override { jam_reset(); }
    static JamSync state(int playing, int position, DWORD received_at, const wchar_t* title = L"Tarkan - Kuzu Kuzu") {
        JamSync r = {};
        r.valid = 1;
        r.playing = playing;
        r.command = playing;
        r.position_ms = position;
        r.received_at = received_at;
        wstr_copy(r.title, title);
        return r;
    }
    static JamSync pos(int command, int position, DWORD received_at) {
        JamSync r = {};
        r.valid = 1;
        r.is_position = 1;
        r.command = command;
        r.playing = command == 1;
        r.position_ms = position;
        r.received_at = received_at;
        return r;
    }
};

TEST_F(SyncPlan, AMatchingTrackIsCorrectedOnlyBeyondTheTolerances) {
    local.has_current = local.current_matches = local.loaded = 1;
    local.playing = 1;
    local.position_ms = 9000;
    JamSync playing = state(1, 10000, local.now - 300);
    ASSERT_TRUE(jam_plan_sync(&playing, &local, &g_jam_wanted, &plan));
    EXPECT_EQ(plan.seek_ms, 10360) << "its age and 60 ms";
    EXPECT_STREQ(plan.notice, L"\u2713 Canl\u0131 milisaniye senkronize");
    local.position_ms = 10000;
    jam_plan_sync(&playing, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.seek_ms, -1) << "360 ms is within the playing tolerance";

    JamSync paused = state(0, 10000, local.now - 300);
    local.position_ms = 10300;
    jam_plan_sync(&paused, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.seek_ms, 10000);
    EXPECT_TRUE(plan.pause);
    EXPECT_STREQ(plan.notice, L"\u23f8 Ortak duraklat\u0131ld\u0131");

    JamSync old_play = pos(1, 4000, local.now - 6000);
    local.playing = 0;
    jam_plan_sync(&old_play, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.seek_ms, 4050) << "older than 5 s: no age";
    EXPECT_TRUE(plan.resume);
    JamSync seek = pos(-1, 4000, local.now - 100);
    jam_plan_sync(&seek, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.seek_ms, 4000) << "a paused player seeks to the position itself";
    EXPECT_FALSE(plan.resume || plan.pause);

    // Stopped (the list ended, the Stop key, a failed track): told to play, the track opens
    // where the room is instead of a silent player showing play.
    local.loaded = 0;
    local.current_index = 7;
    JamSync resume = pos(1, 4000, local.now - 100);
    jam_plan_sync(&resume, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.play_index, 7);
    EXPECT_EQ(plan.play_at_ms, 4150);
    EXPECT_FALSE(plan.play_paused || plan.resume || plan.seek_ms >= 0);
    jam_plan_sync(&seek, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.play_index, -1) << "a seek does not start a stopped player";
    jam_plan_sync(&paused, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.play_index, 7);
    EXPECT_EQ(plan.play_at_ms, 10000);
    EXPECT_TRUE(plan.play_paused) << "the room's state opens paused where the room is";

    g_jam.state = JAM_INVITING;
    EXPECT_FALSE(jam_plan_sync(&seek, &local, &g_jam_wanted, &plan)) << "only inside a room";
}

TEST_F(SyncPlan, AMeasuredDelayReplacesTheAllowances) {
    local.has_current = local.current_matches = local.loaded = 1;
    local.position_ms = 2000;
    local.player_call_ms = 15;
    JamSync playing = state(1, 10000, local.now - 300);
    playing.delay_known = 1;
    playing.delay_ms = 120;
    jam_plan_sync(&playing, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.seek_ms, 10435) << "its age, the delay and the player's own call";
    JamSync resume = pos(1, 4000, local.now - 20);
    resume.delay_known = 1;
    resume.delay_ms = 0;
    jam_plan_sync(&resume, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.seek_ms, 4035) << "a delay of 0 is a measure, not none";

    // A fetched track starts where the room is by the delay its message came with.
    local.has_current = 0;
    JamSync missing = state(1, 5000, local.now - 100);
    missing.delay_known = 1;
    missing.delay_ms = 140;
    jam_plan_sync(&missing, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(jam_position_estimate_at(local.now + 1000), 6000 + 100 + 140);
}

// Round trips (sent, arrived) fed in order, then the estimate at now.
TEST(PeerDelay, HalfTheSmallestRecentRoundTrip) {
    struct Row {
        const char* what;
        std::vector<std::pair<DWORD, DWORD>> trips;
        DWORD now;
        int expected;
    };
    const DWORD T = 1000000;
    std::vector<std::pair<DWORD, DWORD>> route_change;  // every 4 s: 100 ms, then 300 ms from 20 s on
    for (int i = 0; i < 8; i++) {
        DWORD at = T + (DWORD)i * 4000;
        route_change.push_back({at, at + (i < 5 ? 100 : 300)});
    }
    const Row rows[] = {
        {"no samples", {}, T, -1},
        {"steady", {{T, T + 200}, {T + 4000, T + 4201}}, T + 5000, 100},
        {"a spike is passed over", {{T, T + 200}, {T + 4000, T + 4900}, {T + 8000, T + 8210}}, T + 9000, 100},
        {"odd round trips round up", {{T, T + 41}}, T + 100, 21},
        {"a shorter route counts at once", {{T, T + 300}, {T + 4000, T + 4100}}, T + 5000, 50},
        {"a longer route once the shorter trips are 30 s old", route_change, T + 16100 + 30001, 150},
        {"... and not before", route_change, T + 16100 + 30000, 50},
        {"longer than 1.5 s is no answer to that question", {{T, T + 1501}}, T + 2000, -1},
        {"only recent samples count", {{T, T + 200}}, T + 200 + 30001, -1},
        {"the tick counter wraps between question and answer", {{0xFFFFFF00u, 0x64u}}, 0x1000u, 178},
        {"and between answer and now", {{0xFFFFF000u, 0xFFFFF0C8u}}, 0x100u, 100},
        {"an answer stamped before its question", {{T + 50, T}}, T + 100, -1},
    };
    for (const Row& row : rows) {
        PeerDelaySamples samples = {};
        for (const auto& trip : row.trips) peer_delay_add(&samples, trip.first, trip.second);
        EXPECT_EQ(peer_delay_estimate(&samples, row.now), row.expected) << row.what;
    }
    // Eight kept: the ninth overwrites the oldest, here the smallest.
    PeerDelaySamples samples = {};
    peer_delay_add(&samples, T, T + 40);
    for (int i = 1; i <= 8; i++) peer_delay_add(&samples, T + i * 100, T + i * 100 + 90);
    EXPECT_EQ(peer_delay_estimate(&samples, T + 1000), 45);

    // Questions and answers by peer: the first answer belongs to the earliest open question,
    // and an answer read before its question went out is the answer to an older one.
    peer_delay_reset();
    peer_delay_asked(L"Ali#2222", PEER_QUESTION_PING, T);
    peer_delay_asked(L"Ali#2222", PEER_QUESTION_PING, T + 100);
    peer_delay_answered(L"Ali#2222", PEER_QUESTION_PING, T + 160);
    peer_delay_answered(L"Ali#2222", PEER_QUESTION_PING, T + 170);
    EXPECT_EQ(peer_delay_of(L"ali#2222", T + 200), 80);
    peer_delay_asked(L"Ali#2222", PEER_QUESTION_STATE, T + 1000);
    peer_delay_answered(L"Ali#2222", PEER_QUESTION_STATE, T + 990);
    peer_delay_answered(L"Ali#2222", PEER_QUESTION_STATE, T + 1120);
    EXPECT_EQ(peer_delay_of(L"Ali#2222", T + 1200), 60);
    peer_delay_asked(nullptr, PEER_QUESTION_STATE, T + 2000);
    peer_delay_answered(L"Veli#3333", PEER_QUESTION_STATE, T + 2080);
    EXPECT_EQ(peer_delay_of(L"Veli#3333", T + 2100), 40) << "an ask on the room topic: whoever answers";
    EXPECT_EQ(peer_delay_of(L"Cem#4444", T + 2100), -1);
    peer_delay_reset();
}

TEST_F(SyncPlan, AMissingTrackIsFetchedAndPositionsMoveOnlyTheWantedOne) {
    JamSync play = pos(1, 2000, local.now);
    jam_plan_sync(&play, &local, &g_jam_wanted, &plan);
    EXPECT_TRUE(plan.ask_state) << "no track here: the room is asked";
    EXPECT_EQ(plan.seek_ms, -1);

    JamSync first = state(1, 5000, local.now - 100);
    wstr_copy(first.video_id, L"abcDEF12345");
    jam_plan_sync(&first, &local, &g_jam_wanted, &plan);
    EXPECT_TRUE(plan.stop_player);
    EXPECT_TRUE(plan.start_fetch);
    EXPECT_STREQ(g_jam_wanted.track.video_id, L"abcDEF12345");

    local.fetch_running = 1;
    JamSync paused = pos(0, 7000, local.now);
    jam_plan_sync(&paused, &local, &g_jam_wanted, &plan);
    EXPECT_FALSE(plan.pause || plan.ask_state || plan.seek_ms >= 0) << "only the wanted position moves";
    EXPECT_EQ(g_jam_wanted.position_ms, 7000);
    EXPECT_EQ(g_jam_wanted.playing, 0);
    EXPECT_EQ(jam_position_estimate_at(local.now + 3000), 7000) << "paused: where it was";
    g_jam_wanted.playing = 1;
    EXPECT_EQ(jam_position_estimate_at(local.now + 3000), 10090) << "playing: moved on, and 90 ms";
    g_jam_wanted.playing = 0;

    JamSync other = state(1, 0, local.now, L"Duman - Bu Ak\u015fam");
    jam_plan_sync(&other, &local, &g_jam_wanted, &plan);
    EXPECT_TRUE(plan.stop_fetch) << "the running fetch is for an older track";
    EXPECT_FALSE(plan.start_fetch) << "its end starts the new one";
    EXPECT_STREQ(g_jam_wanted.track.title, L"Duman - Bu Ak\u015fam");
    EXPECT_STREQ(g_jam_wanted.track.video_id, L"");

    local.found_index = 3;
    JamSync found = state(0, 1500, local.now);
    jam_plan_sync(&found, &local, &g_jam_wanted, &plan);
    EXPECT_EQ(plan.play_index, 3);
    EXPECT_EQ(plan.play_at_ms, 1500);
    EXPECT_TRUE(plan.play_paused);
    EXPECT_STREQ(g_jam_wanted.track.title, L"") << "found here: nothing is wanted any more";
}

//~ Rooms of several members

TEST(JamRules, EveryAnswerCountsOnce) {
    JamInvited list[JAM_MEMBERS_MAX] = {};
    int count = 0;
    EXPECT_TRUE(jam_invited_add(list, &count, L"Ali#2222", 1000));
    EXPECT_FALSE(jam_invited_add(list, &count, L"Ali#2222", 2000)) << "invited again before an answer";
    EXPECT_TRUE(jam_invited_add(list, &count, L"Veli#3333", 2000));
    EXPECT_EQ(jam_invited_pending(list, count, 3000), 2);
    EXPECT_TRUE(jam_invited_answer(list, count, L"Ali#2222", 3000));
    EXPECT_FALSE(jam_invited_answer(list, count, L"Ali#2222", 3100)) << "a second answer";
    EXPECT_FALSE(jam_invited_answer(list, count, L"Cem#4444", 3100)) << "nobody asked Cem";
    EXPECT_EQ(jam_invited_pending(list, count, 3100), 1);
    EXPECT_EQ(jam_invited_pending(list, count, 2000 + JAM_LIFE_MS + 1), 0) << "an invitation lives 45 s";
    EXPECT_TRUE(jam_invited_add(list, &count, L"Ali#2222", 5000)) << "invited again after declining";
}

TEST(JamRules, TheHolderAnswersAndTheLowestNumberHosts) {
    struct Case {
        JamAskView view;
        int answers;
        const char* why;
    } cases[] = {
        {{1, 1, 0, -1, -1}, 1, "the holder answers a join heard on the room topic"},
        {{0, 1, 0, -1, -1}, 0, "an idle member keeps quiet"},
        {{0, 1, 1, -1, -1}, 0, "the inviter asked directly leaves it to the holder"},
        {{0, 0, 1, -1, -1}, 1, "unless the holder is gone"},
        {{0, 1, 1, 3000, -1}, 1, "or the joiner had to ask again"},
        {{0, 1, 1, 5, -1}, 0, "a join's JOIN and ASK are one ask"},
        {{1, 1, 1, -1, 5}, 0, "one answer to a join's JOIN and ASK"},
        {{1, 1, 1, -1, 2500}, 1, "a later ask is answered again"},
    };
    for (const Case& c : cases) EXPECT_EQ(jam_should_answer(&c.view), c.answers) << c.why;
    EXPECT_TRUE(jam_state_is_for_me(1, 10, 0, 0)) << "an answer on an own topic";
    EXPECT_FALSE(jam_state_is_for_me(0, 10, 0, 0)) << "on the room topic right after another's ask";
    EXPECT_TRUE(jam_state_is_for_me(0, 10, 1, 0)) << "the asker itself starting a track";
    EXPECT_TRUE(jam_state_is_for_me(0, 10, 0, 1)) << "the holder: its answer is the room's state";
    EXPECT_TRUE(jam_state_is_for_me(0, JAM_OTHERS_ANSWER_MS, 0, 0)) << "a track start";
    EXPECT_TRUE(jam_state_is_for_me(0, -1, 0, 0));

    EXPECT_TRUE(jam_room_created_by("jam_ayse_1111_12345", L"Ay\u015fe#1111"));
    EXPECT_TRUE(jam_room_created_by("jam_ayse_1111_12345", L"Ayca#1111")) << "renamed: the number names the user";
    EXPECT_FALSE(jam_room_created_by("jam_ayse_1111_12345", L"Burak#2222"));
    EXPECT_FALSE(jam_room_created_by("jam_12345", L"Burak#12345")) << "a tick is not a number";
    JamMember members[3] = {{L"Cem#3333", L"Cem"}, {L"Burak#2222", L"Burak"}, {L"Deniz#10", L"Deniz"}};
    EXPECT_EQ(jam_elect_host(L"Ece#5555", members, 3), 2) << "by value: 10 before 2222";
    EXPECT_EQ(jam_elect_host(L"Ece#0005", members, 3), -1);
    EXPECT_EQ(jam_elect_host(L"Ece#5555", members, 2), 1);
}

TEST_F(JamWire, InARoomOfThreeTheHolderAnswersAndALeavingHostIsReplaced) {
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "JAM_INV|Ali#2222|Ali|jam_ali_2222_5"));
    deliver();
    jam_accept_invitation();
    deliver(300);
    heard();
    const std::string room_topic = "zembrafold/jam/jam_ali_2222_5";
    // Ali answers on this user's own topic: that is its state.
    ASSERT_TRUE(peer.publish("zembrafold/u/ben_1111", "JAM_STATE|Ali#2222|jam_ali_2222_5|1|5000||Tarkan - Kuzu"));
    deliver();
    JamSync r;
    ASSERT_TRUE(jam_take_sync(&r));
    EXPECT_FALSE(jam_is_host());

    // Veli joins: greeted, but answered by Ali, who holds the room's state, not by this user;
    // an older member's answer to Veli on the room topic moves nobody here.
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_JOIN|Veli#3333|Veli|jam_ali_2222_5"));
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_ASK|Veli#3333|jam_ali_2222_5"));
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_STATE|Cem#4444|jam_ali_2222_5|0|0||Eski"));
    deliver();
    wchar_t asker[JAM_TAG_CAPACITY];
    EXPECT_FALSE(jam_next_asker(asker, JAM_TAG_CAPACITY));
    EXPECT_FALSE(jam_take_sync(&r)) << "an answer meant for Veli";
    EXPECT_EQ(jam_member_count(), 3);

    // The host leaves: of Ben#1111 and the others, this user has the lowest number, acts as
    // host, and answers the next one who asks.
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_LEAVE|Ali#2222|jam_ali_2222_5"));
    deliver();
    EXPECT_TRUE(jam_in_room());
    EXPECT_TRUE(jam_is_host());
    ASSERT_TRUE(peer.publish(room_topic.c_str(), "JAM_ASK|Cem#4444|jam_ali_2222_5"));
    deliver();
    ASSERT_TRUE(jam_next_asker(asker, JAM_TAG_CAPACITY));
    EXPECT_STREQ(asker, L"Cem#4444");
}

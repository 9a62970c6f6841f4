// Jam rooms at the wire (this installation "Ben#1111" and a scripted peer on two loopback
// brokers), and the sync decisions on a clock the tests move.
#include "friend_wire.h"

#include "social/jam.h"

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
    EXPECT_EQ(banner(), L"CANLI JAM ODASI (2 Ki\u015fi)  \u2022  Sen, Ali");

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
    EXPECT_EQ(banner(), L"CANLI JAM ODASI (7 Ki\u015fi)  \u2022  Sen, Ali, Veli, Cem +3");
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
    ASSERT_TRUE(peer.publish(room().c_str(), "JAM_REJ|Ali#2222|" + id()));
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
    local.has_current = local.current_matches = 1;
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

    g_jam.state = JAM_INVITING;
    EXPECT_FALSE(jam_plan_sync(&seek, &local, &g_jam_wanted, &plan)) << "only inside a room";
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

// The friend protocol on the wire: this installation ("Ben#1111") against a scripted peer,
// both on two real mosquitto brokers on loopback.
#include "friend_wire.h"

TEST_F(FriendWire, RequestOnEveryOwnTopicMakesOneRequestAndThreeAnswers) {
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "REQ|Ali#2222|Ali"));
    ASSERT_TRUE(peer.publish("zembrafold/u/ben_1111", "REQ|Ali#2222|Ali Veli"));
    ASSERT_TRUE(peer.publish("zembrafold/mbox/1111", "REQ|Ali#2222|Ali Veli", true));
    deliver();
    Heard h = heard();

    ASSERT_EQ(pending_count(), 1);
    EXPECT_STREQ(pending_at(0)->tag, L"Ali#2222");
    EXPECT_STREQ(pending_at(0)->name, L"Ali Veli") << "the later copies refresh the name";
    EXPECT_EQ(friend_count(), 0);
    EXPECT_NE(friends_file().find("Ali Veli"), std::string::npos) << "the request is kept in friends.json";

    EXPECT_EQ(count(h, "zembrafold/id/2222", "REQ_ACK|Ben#1111|Ben"), 3);
    EXPECT_EQ(count(h, "zembrafold/u/ali_2222", "REQ_ACK|Ben#1111|Ben"), 3);
    EXPECT_EQ(count(h, "zembrafold/id/2222", "PONG|Ben#1111|Ben|0|"), 3);
    EXPECT_EQ(count(h, "zembrafold/mbox/1111", ""), 1) << "the mailbox is emptied";

    // A 24-character name in a three-byte script makes a 77-byte tag: its '#' and number
    // survive the receiver's cut, and so does the whole name.
    std::wstring stars(24, L'\u2605');
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", u8(L"REQ|" + stars + L"#4321|" + stars)));
    deliver();
    ASSERT_EQ(pending_count(), 2);
    EXPECT_EQ(std::wstring(pending_at(1)->tag), stars + L"#4321");
    EXPECT_EQ(std::wstring(pending_at(1)->name), stars);

    // Nothing is left in the mailbox for the next connect.
    RawPeer late;
    ASSERT_TRUE(late.connect_to(brokers[0]->port, "late"));
    ASSERT_TRUE(late.subscribe("zembrafold/mbox/1111"));
    EXPECT_TRUE(late.receive(400).empty());
}

TEST_F(FriendWire, PresenceAnswersStrangersAndTracksFriends) {
    // A stranger's ping is answered with what this user plays, on the wire's terms.
    presence_set_playing(1, L"\u015eark\u0131 | Bir\r\n\u0130ki");
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "PING|Yabanc\xc4\xb1#3333|Yabanc\xc4\xb1"));
    deliver();
    EXPECT_EQ(count(heard(), "zembrafold/id/3333", u8(L"PONG|Ben#1111|Ben|1|\u015eark\u0131 - Bir--\u0130ki")), 1);
    EXPECT_EQ(friend_count(), 0);
    EXPECT_EQ(pending_count(), 0);

    presence_set_playing(1, L"");  // an empty title keeps the text while playing
    presence_pong(L"Yabanc\u0131#3333");
    EXPECT_EQ(count(heard(), "zembrafold/id/3333", u8(L"PONG|Ben#1111|Ben|1|\u015eark\u0131 - Bir--\u0130ki")), 1);
    presence_set_playing(0, L"Duraklad\u0131");  // paused: the text does not go out
    presence_pong(L"Yabanc\u0131#3333");
    EXPECT_EQ(count(heard(), "zembrafold/id/3333", "PONG|Ben#1111|Ben|0|"), 1);

    // A friend's pongs set what the panel shows under it.
    add_friend(L"Veli#4444", L"Veli");
    struct Row {
        const char* pong;
        int playing;
        const wchar_t* status;
    } rows[] = {
        {"PONG|Veli#4444|Veli|1|", 0, IDLE},  // playing, but nothing to show: a plain idle row
        {"PONG|Veli#4444|Veli|1|M\xc3\xbczik", 1, L"M\u00fczik"},
        {"PONG|Veli#4444|Veli|0|M\xc3\xbczik", 0, IDLE},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(peer.publish("zembrafold/u/ben_1111", r.pong));
        deliver(300);
        FriendEntry* f = friend_at(0);
        EXPECT_EQ(f->online, 1) << r.pong;
        EXPECT_EQ(f->playing, r.playing) << r.pong;
        EXPECT_STREQ(f->status_text, r.status) << r.pong;
    }
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "BYE|Veli#4444"));
    deliver(300);
    EXPECT_EQ(friend_at(0)->online, 0);
    EXPECT_STREQ(friend_at(0)->status_text, OFFLINE);

    // Silence: more than 32000 ms since the last word turns a friend offline.
    add_friend(L"Nur#4445", L"Nur");
    friend_at(0)->online = friend_at(1)->online = 1;
    friend_at(0)->playing = 1;
    friend_at(0)->last_seen = GetTickCount() - 32001;
    friend_at(1)->last_seen = GetTickCount() - 30000;
    presence_expire();
    EXPECT_EQ(friend_at(0)->online, 0);
    EXPECT_EQ(friend_at(0)->playing, 0);
    EXPECT_STREQ(friend_at(0)->status_text, OFFLINE);
    EXPECT_EQ(friend_at(1)->online, 1);
}

TEST_F(FriendWire, OnlyTheAskedUserCanAcceptAndAcceptingAnswers) {
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "ACC|Zeki#5555|Zeki"));
    deliver();
    EXPECT_EQ(friend_count(), 0) << "an answer to a request never sent";

    EXPECT_TRUE(friend_request_send(L" Zeki#5555 "));
    Heard h = heard();
    EXPECT_EQ(count(h, "zembrafold/id/5555", "REQ|Ben#1111|Ben"), 1);
    EXPECT_EQ(count(h, "zembrafold/u/zeki_5555", "REQ|Ben#1111|Ben"), 1);
    EXPECT_EQ(count(h, "zembrafold/mbox/5555", "REQ|Ben#1111|Ben"), 1);
    EXPECT_EQ(friend_count(), 0) << "a friend only once the answer comes";

    ASSERT_TRUE(peer.publish("zembrafold/mbox/1111", "ACC|Zeki#5555|Zeki Bey", true));
    deliver();
    ASSERT_EQ(friend_count(), 1);
    EXPECT_STREQ(friend_at(0)->tag, L"Zeki#5555");
    EXPECT_STREQ(friend_at(0)->name, L"Zeki Bey");
    EXPECT_EQ(friend_at(0)->online, 1);
    EXPECT_STREQ(friend_at(0)->status_text, ONLINE);
    EXPECT_NE(friends_file().find("Zeki#5555"), std::string::npos);
    EXPECT_EQ(count(heard(), "zembrafold/id/5555", "PONG|Ben#1111|Ben|0|"), 1);

    // Neither this user nor a friend is asked again.
    EXPECT_FALSE(friend_request_send(L"Ben#1111"));
    EXPECT_FALSE(friend_request_send(L"Zeki#5555"));
    EXPECT_FALSE(friend_request_send(L"   "));
    EXPECT_TRUE(heard(300).empty());

    // A request accepted here, crossing one sent there: the requester becomes a friend and
    // hears so.
    EXPECT_TRUE(friend_request_send(L"Ece#6666"));
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "REQ|Ece#6666|Ece"));
    deliver();
    heard(200);
    ASSERT_EQ(pending_count(), 1);
    EXPECT_FALSE(friend_accept(L"Yok#6667"));
    EXPECT_TRUE(friend_accept(L"ece#6666"));
    EXPECT_EQ(pending_count(), 0);
    ASSERT_EQ(friend_count(), 2);
    EXPECT_STREQ(friend_at(1)->name, L"Ece");
    EXPECT_STREQ(friend_at(1)->status_text, ONLINE);
    h = heard();
    EXPECT_EQ(count(h, "zembrafold/id/6666", "ACC|Ben#1111|Ben"), 1);
    EXPECT_EQ(count(h, "zembrafold/mbox/6666", "ACC|Ben#1111|Ben"), 1);
    EXPECT_EQ(count(h, "zembrafold/id/6666", "PING|Ben#1111|Ben"), 1);
    std::string file = friends_file();
    EXPECT_NE(file.find("Ece#6666"), std::string::npos);
    EXPECT_EQ(file.find("\"pending\": [\n  ]"), file.find("\"pending\"")) << file;

    // A REQ from a friend is answered with ACC at once.
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "REQ|Zeki#5555|Zeki"));
    deliver();
    EXPECT_EQ(count(heard(), "zembrafold/mbox/5555", "ACC|Ben#1111|Ben"), 1);
    EXPECT_EQ(pending_count(), 0);

    // Removed, the friend does not come back with an ACC to the request that crossed theirs.
    EXPECT_TRUE(friend_remove(L"Ece#6666"));
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "ACC|Ece#6666|Ece"));
    deliver();
    EXPECT_EQ(friend_count(), 1);
    EXPECT_EQ(friend_find(L"Ece#6666"), -1);
    EXPECT_EQ(friends_file().find("6666"), std::string::npos);
}

TEST_F(FriendWire, NamesFollowTheNumber) {
    add_friend(L"Eski#7777", L"Eski");
    add_friend(L"Can#7778", L"Can");
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "NAME_CHG|Yeni#7777|Yeni Ad"));
    deliver();
    EXPECT_STREQ(friend_at(0)->tag, L"Yeni#7777");
    EXPECT_STREQ(friend_at(0)->name, L"Yeni Ad");
    EXPECT_NE(friends_file().find("Yeni#7777"), std::string::npos);

    change_my_name(L"  Benim Ad\u0131m ");
    EXPECT_STREQ(g_identity.tag, L"Benim Ad\u0131m#1111");
    Heard h = heard();
    std::string change = u8(L"NAME_CHG|Benim Ad\u0131m#1111|Benim Ad\u0131m");
    EXPECT_EQ(count(h, "zembrafold/mbox/7777", change), 1);
    EXPECT_EQ(count(h, "zembrafold/id/7778", change), 1);
    EXPECT_EQ(count(h, "zembrafold/reg/1111", u8(L"REG|Benim Ad\u0131m#1111|Benim Ad\u0131m")), 1);
    EXPECT_EQ(count(h, "zembrafold/id/7777", u8(L"PING|Benim Ad\u0131m#1111|Benim Ad\u0131m")), 1);

    // The new u topic is listened on, the old one no more.
    ASSERT_TRUE(peer.publish("zembrafold/u/benim_adim_1111", "PING|Can#7778|Can"));
    ASSERT_TRUE(peer.publish("zembrafold/u/ben_1111", "BYE|Can#7778"));
    deliver();
    EXPECT_EQ(friend_at(1)->online, 1);
}

TEST_F(FriendWire, LookupFindsARegisteredOrAnsweringUser) {
    ASSERT_TRUE(peer.publish("zembrafold/reg/8888", "REG|Kaya#8888|Kaya", true));
    friend_lookup_start(L"8888");
    deliver();
    EXPECT_TRUE(friend_lookup_found(L"8888"));
    EXPECT_FALSE(friend_lookup_found(L"Nur#9999"));
    heard(200);
    EXPECT_TRUE(friend_request_send(L"8888"));
    EXPECT_EQ(count(heard(), "zembrafold/u/kaya_8888", "REQ|Ben#1111|Ben"), 1) << "sent to the tag found";

    // A user without a registration is found by answering the lookup's ping.
    friend_lookup_start(L"Nur#9999");
    EXPECT_EQ(count(heard(), "zembrafold/id/9999", "PING|Ben#1111|Ben"), 1);
    ASSERT_TRUE(peer.publish("zembrafold/id/1111", "PONG|Nur#9999|Nur|0|"));
    deliver();
    EXPECT_TRUE(friend_lookup_found(L"Nur#9999"));

    friend_lookup_start(L"Yok#4321");
    deliver();
    EXPECT_FALSE(friend_lookup_found(L"Yok#4321"));
    friend_lookup_cancel();
}

TEST_F(FriendWire, HostilePayloadsLeaveTheStoreIntact) {
    add_friend(L"Veli#4444", L"Veli");
    PendingEntry* p = &g_friends.pending[g_friends.pending_count++];
    wstr_copy(p->tag, L"Ali#2222");
    wstr_copy(p->name, L"Ali");
    friends_save();
    std::string before = friends_file();
    const char* own = "zembrafold/id/1111";

    std::string big(10000, 'x');
    // Missing fields, tags that are not tags, 10 kB fields, bytes that are not UTF-8, quotes,
    // backslashes, braces and direction marks.
    const std::vector<std::string> rests = {
        "", "|", "||", "#|x", "Veli|", "Veli#" + big + "|x", big, "\xff\xfe#4444|x", "Ali#2222",
        "Ve\"li#4444\\|{x}", "V#44\xe2\x80\xae" "44|x", "Veli#4444|" + big};
    std::vector<std::string> ignored;
    for (const char* prefix : {"REG", "REQ", "REQ_ACK", "ACC", "NAME_CHG", "PING", "PONG", "BYE"}) {
        std::string k = prefix;
        for (const std::string& rest : rests) ignored.push_back(k + "|" + rest);
        ignored.push_back(k);
    }
    ignored.push_back("ACC|Yabanc\xc4\xb1#3333|\"},{\"tag\":\"x#1\"");  // never asked
    for (const std::string& payload : ignored) {
        friend_protocol_handle(own, payload.c_str());
        ASSERT_EQ(friend_count(), 1) << payload;
        ASSERT_EQ(pending_count(), 1) << payload;
        ASSERT_STREQ(friend_at(0)->tag, L"Veli#4444") << payload;
        ASSERT_STREQ(friend_at(0)->name, L"Veli") << payload;
        ASSERT_STREQ(pending_at(0)->tag, L"Ali#2222") << payload;
        ASSERT_STREQ(pending_at(0)->name, L"Ali") << payload;
    }
    EXPECT_EQ(friends_file(), before);

    // What does get in is cleaned before it is stored or shown. (A name longer than any
    // sender writes, above, gets nowhere.)
    std::string name = "\xe2\x80\xae\"Kimse\\}{ \xff " + big.substr(0, 100);
    friend_protocol_handle(own, ("REQ|Kimse#2323|" + name).c_str());
    ASSERT_EQ(pending_count(), 2);
    const wchar_t* stored = pending_at(1)->name;
    EXPECT_EQ(wcspbrk(stored, L"\"\\|#\u202e"), nullptr) << "no quote, backslash or direction mark";
    EXPECT_LE(wcslen(stored), 24u);
    friend_protocol_handle(own, ("PONG|Veli#4444|Veli|1|\xe2\x81\xa6\xe2\x80\xaeTers\r\n" + big).c_str());
    EXPECT_EQ(wcspbrk(friend_at(0)->status_text, L"\r\n\u202e\u2066"), nullptr);
    EXPECT_EQ(wcsncmp(friend_at(0)->status_text, L"Ters", 4), 0);

    // friends.json read back holds exactly the store.
    std::string file = friends_file();
    Identity id{};
    FriendStore back{};
    friends_json_parse(file.data(), (int)file.size(), &id, &back);
    ASSERT_EQ(back.friend_count, 1);
    ASSERT_EQ(back.pending_count, 2);
    EXPECT_STREQ(back.pending[1].tag, L"Kimse#2323");
    EXPECT_STREQ(back.pending[1].name, stored);
}

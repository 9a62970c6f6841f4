#pragma once
// This installation ("Ben#1111") on two real mosquitto brokers on loopback, and a scripted
// peer that speaks through the first broker and hears everything under zembrafold/ there:
// the friend and Jam protocols tested at the wire.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "net/broker_fixture.h"

#include "base/messages.h"
#include "base/wstr.h"
#include "social/friend_protocol.h"
#include "social/identity.h"
#include "social/presence.h"
#include "test_support.h"

using Heard = std::vector<std::pair<std::string, std::string>>;

inline std::string u8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &s[0], n, nullptr, nullptr);
    return s;
}

inline int count(const Heard& heard, const std::string& topic, const std::string& payload) {
    int n = 0;
    for (const auto& m : heard) n += m.first == topic && m.second == payload;
    return n;
}

inline FriendEntry* add_friend(const wchar_t* tag, const wchar_t* name) {
    FriendEntry* f = &g_friends.friends[g_friends.friend_count++];
    *f = FriendEntry{};
    wstr_copy(f->tag, tag);
    wstr_copy(f->name, name);
    wstr_copy(f->status_text, STATUS_OFFLINE);
    return f;
}

inline const wchar_t OFFLINE[] = L"\u00c7evrimd\u0131\u015f\u0131";
inline const wchar_t ONLINE[] = L"\u00c7evrimi\u00e7i";
inline const wchar_t IDLE[] = L"\u00c7evrimi\u00e7i \u2022 Bo\u015fta";

struct FriendWire : LoopbackBrokers {
    TempDir dir;
    RawPeer peer;

    void SetUp() override {
        CreateDirectoryW(dir.file(L"roaming").c_str(), nullptr);
        SetEnvironmentVariableW(L"APPDATA", dir.file(L"roaming").c_str());
        identity_set_program_folder(dir.path.c_str());
        g_identity = Identity{};
        wstr_copy(g_identity.number, L"1111");
        wstr_copy(g_identity.name, L"Ben");
        identity_complete();
        g_friends = FriendStore{};
        presence_set_playing(0, L"");
        friend_lookup_cancel();
        point_links_at_brokers();
        ASSERT_TRUE(mqtt_start(sink.window, MSG_MQTT_EVENT, "ben_1111"));
        subscribe_own_topics();
        ASSERT_TRUE(both_links_up());
        ASSERT_TRUE(peer.connect_to(brokers[0]->port, "peer"));
        ASSERT_TRUE(peer.subscribe("zembrafold/#"));
    }

    void TearDown() override {
        mqtt_stop();
        friends_save_flush();
        identity_set_program_folder(nullptr);
    }

    // What the main window does with a message; the Jam tests add the room protocol.
    virtual void handle(const char* topic, const char* payload) { friend_protocol_handle(topic, payload); }

    // Lets the transport's messages reach the protocol for ms, as the main window hands them.
    void deliver(int ms = 600) {
        DWORD start = GetTickCount();
        while ((int)(GetTickCount() - start) < ms) {
            pump_messages(20);
            std::vector<SinkEvent> events;
            events.swap(sink.events);
            for (const SinkEvent& e : events)
                if (e.kind == MQTT_EVENT_MESSAGE) handle(e.topic.c_str(), e.payload.c_str());
        }
    }

    // What the peer hears within ms, starting now.
    Heard heard(int ms = 600) { return peer.receive(ms); }

    // friends.json once every save so far is written.
    std::string friends_file() {
        friends_save_flush();
        return read_file(dir.file(L"friends.json"));
    }
};


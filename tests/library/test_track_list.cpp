#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/wstr.h"
#include "library/shuffle_walk.h"
#include "library/track_list.h"

namespace {

struct TrackListTest : ::testing::Test {
    void SetUp() override { track_list_free(); }
    void TearDown() override { track_list_free(); }

    // Tracks named by their titles, so that tests can read the order back.
    void add_titled(std::initializer_list<const wchar_t*> titles) {
        for (const wchar_t* t : titles) {
            std::wstring path = std::wstring(L"C:\\m\\") + t + L".mp3";
            int i = track_list_add(path.c_str(), 0);
            ASSERT_GE(i, 0);
            ASSERT_TRUE(track_list_set_title(i, t));
        }
    }

    std::wstring titles() {
        std::wstring s;
        for (int i = 0; i < track_list_count(); i++) s += std::wstring(track_list_at(i)->title) + L" ";
        return s;
    }
};

}  // namespace

TEST_F(TrackListTest, AddMakesPathAndTitle) {
    EXPECT_EQ(track_list_add(nullptr, 0), -1);
    EXPECT_EQ(track_list_add(L"", 1), -1);
    EXPECT_EQ(track_list_add(L"C:\\M\u00fczik\\mp3indirdur-gripin-aci-veriyor.mp3", 0), 0);
    EXPECT_STREQ(track_list_at(0)->path, L"C:\\M\u00fczik\\mp3indirdur-gripin-aci-veriyor.mp3");
    EXPECT_STREQ(track_list_at(0)->title, L"Aci Veriyor");
    EXPECT_STREQ(track_list_at(0)->artist, L"Gripin");
    EXPECT_EQ(track_list_at(1), nullptr);
    EXPECT_EQ(track_list_at(-1), nullptr);
}

TEST_F(TrackListTest, DedupeIsCaseInsensitive) {
    EXPECT_EQ(track_list_add(L"C:\\M\u00fczik\\Song.mp3", 0), 0);
    EXPECT_EQ(track_list_add(L"C:\\M\u00fczik\\Other.mp3", 0), 1);
    EXPECT_EQ(track_list_add_unique(L"c:\\M\u00dcZIK\\OTHER.MP3"), 1);
    EXPECT_EQ(track_list_count(), 2);
    // Without the flag, the same path goes in again.
    EXPECT_EQ(track_list_add(L"C:\\M\u00fczik\\Song.mp3", 0), 2);
    EXPECT_EQ(track_list_add_unique(L"C:\\M\u00fczik\\SONG.mp3"), 0);
    EXPECT_TRUE(path_equal_nocase(L"a\u00e7\u00f6", L"A\u00c7\u00d6"));
    EXPECT_FALSE(path_equal_nocase(L"abc", L"abcd"));
    EXPECT_EQ(path_hash_nocase(L"C:\\\u015eark\u0131.mp3"), path_hash_nocase(L"c:\\\u015fARK\u0131.MP3"));
}

TEST_F(TrackListTest, PathsLongerThan259AreRefused) {
    // Stored cut, such a path would name no file, and two names alike in their first 259
    // characters would become one track.
    std::wstring stem = L"C:\\" + std::wstring(300, L'x');
    EXPECT_EQ(track_list_add((stem + L"1.mp3").c_str(), 0), -1);
    EXPECT_EQ(track_list_add_unique((stem + L"2.mp3").c_str()), -1);
    EXPECT_EQ(track_list_count(), 0);
    std::wstring longest = L"C:\\" + std::wstring(259 - 7, L'x') + L".mp3";
    ASSERT_EQ(longest.size(), 259u);
    ASSERT_EQ(track_list_add(longest.c_str(), 0), 0);
    EXPECT_EQ(std::wstring(track_list_at(0)->path), longest);
    EXPECT_EQ(track_list_add(L"C:\\x\\a.mp3", 0), 1);
    EXPECT_EQ(track_list_add((L"x" + longest).c_str(), 0), -1);
    EXPECT_EQ(track_list_count(), 2);
}

TEST_F(TrackListTest, GrowsTo256ThenDoubles) {
    EXPECT_EQ(g_tracks.capacity, 0);
    wchar_t path[64];
    for (int i = 0; i < 256; i++) {
        wstr_format(path, 64, L"C:\\m\\track %d.mp3", i);
        ASSERT_EQ(track_list_add(path, 0), i);
    }
    EXPECT_EQ(g_tracks.capacity, 256);
    ASSERT_EQ(track_list_add(L"C:\\m\\track 256.mp3", 0), 256);
    EXPECT_EQ(g_tracks.capacity, 512);
    for (int i = 0; i <= 256; i++) {
        wstr_format(path, 64, L"C:\\m\\track %d.mp3", i);
        ASSERT_STREQ(track_list_at(i)->path, path);
    }
    track_list_clear();
    EXPECT_EQ(track_list_count(), 0);
    EXPECT_EQ(g_tracks.capacity, 512);
    track_list_free();
    EXPECT_EQ(g_tracks.capacity, 0);
    EXPECT_EQ(g_tracks.items, nullptr);
}

TEST_F(TrackListTest, RemoveAndMove) {
    add_titled({L"a", L"b", L"c", L"d", L"e"});
    track_list_remove(-1);
    track_list_remove(5);
    EXPECT_EQ(titles(), L"a b c d e ");
    track_list_remove(1);
    EXPECT_EQ(titles(), L"a c d e ");
    track_list_remove(3);
    EXPECT_EQ(titles(), L"a c d ");

    track_list_free();
    add_titled({L"0", L"1", L"2", L"3", L"4", L"5", L"6"});
    track_list_move(1, 5);
    EXPECT_EQ(titles(), L"0 2 3 4 5 1 6 ");
    track_list_move(5, 1);
    EXPECT_EQ(titles(), L"0 1 2 3 4 5 6 ");
    track_list_move(0, 6);
    EXPECT_EQ(titles(), L"1 2 3 4 5 6 0 ");
    // Out-of-range or equal indices change nothing.
    track_list_move(2, 2);
    track_list_move(-1, 2);
    track_list_move(2, -1);
    track_list_move(7, 0);
    track_list_move(0, 7);
    EXPECT_EQ(titles(), L"1 2 3 4 5 6 0 ");
}

TEST_F(TrackListTest, NextAndPrevious) {
    EXPECT_EQ(track_list_next_index(0, 0, 0), -1);
    EXPECT_EQ(track_list_next_index(-1, 1, 2), -1);
    EXPECT_EQ(track_list_prev_index(0), -1);
    add_titled({L"a", L"b", L"c"});
    struct Case {
        int current, shuffle, repeat, next;
    } cases[] = {
        {0, 0, 0, 1}, {1, 0, 0, 2}, {2, 0, 0, -1}, {2, 0, 1, 0}, {-1, 0, 0, 0},
        {2, 0, 2, 2}, {-1, 0, 2, 0}, {0, 1, 2, 0}, {-1, 1, 2, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(track_list_next_index(c.current, c.shuffle, c.repeat), c.next)
            << "current " << c.current << " shuffle " << c.shuffle << " repeat " << c.repeat;
    }
    EXPECT_EQ(track_list_prev_index(0), 2);
    EXPECT_EQ(track_list_prev_index(-1), 2);
    EXPECT_EQ(track_list_prev_index(2), 1);
    EXPECT_EQ(track_list_prev_index(1), 0);
}

TEST_F(TrackListTest, ShuffleNeverRepeatsTheCurrentTrack) {
    add_titled({L"only"});
    for (int i = 0; i < 50; i++) {
        EXPECT_EQ(track_list_next_index(0, 1, 0), -1);
        EXPECT_EQ(track_list_next_index(0, 1, 1), 0);
    }
    add_titled({L"second"});
    for (int i = 0; i < 200; i++) {
        EXPECT_EQ(track_list_next_index(0, 1, 0), 1);
        EXPECT_EQ(track_list_next_index(1, 1, 0), 0);
    }
    add_titled({L"c", L"d", L"e"});
    track_list_init();
    for (int current = -1; current < 5; current++) {
        std::set<int> seen;
        for (int i = 0; i < 2000; i++) {
            int next = track_list_next_index(current, 1, 0);
            ASSERT_GE(next, 0);
            ASSERT_LT(next, 5);
            ASSERT_NE(next, current);
            seen.insert(next);
        }
        // Every other track comes up: shuffle is not stuck on a neighbour.
        EXPECT_EQ(seen.size(), current < 0 ? 5u : 4u) << "current " << current;
    }

    // A list larger than the 32,768 values of a 15-bit generator: each third of it comes up
    // a third of the time (1000 of 3000 draws, give or take 26).
    track_list_free();
    const int count = 3 * 16384;
    wchar_t path[32];
    for (int i = 0; i < count; i++) {
        wstr_format(path, 32, L"C:\\m\\%d.mp3", i);
        ASSERT_EQ(track_list_add(path, 0), i);
    }
    int thirds[3] = {0, 0, 0};
    for (int i = 0; i < 3000; i++) thirds[track_list_next_index(0, 1, 0) / 16384]++;
    for (int k = 0; k < 3; k++) EXPECT_NEAR(thirds[k], 1000, 150) << "third " << k;
}

TEST_F(TrackListTest, FindByInitialUsesTurkishCase) {
    add_titled({L"\u0131s\u0131k", L"istanbul", L"\u0130zmir", L"Irmak", L"Ankara", L""});
    // "I" lowers to dotless \u0131: it finds \u0131... and I..., never i... or \u0130...
    EXPECT_EQ(track_list_find_by_initial(L'I', -1), 0);
    EXPECT_EQ(track_list_find_by_initial(L'I', 0), 3);
    EXPECT_EQ(track_list_find_by_initial(L'I', 3), 0);
    EXPECT_EQ(track_list_find_by_initial(L'i', -1), 1);
    EXPECT_EQ(track_list_find_by_initial(L'i', 1), 2);
    EXPECT_EQ(track_list_find_by_initial(0x0130, 2), 1);
    EXPECT_EQ(track_list_find_by_initial(L'a', 4), 4);
    EXPECT_EQ(track_list_find_by_initial(L'z', 0), -1);
    EXPECT_EQ(track_list_find_by_initial(L'a', 40), 4);
}

// Shuffle walks a random order of the whole list: each track once, an end without repeat,
// rounds that never start with the track just played, Previous back through what played.
TEST_F(TrackListTest, ShufflePlaysEveryTrackOnceAndPreviousRetracesIt) {
    add_titled({L"a", L"b", L"c", L"d", L"e", L"f", L"g"});
    shuffle_walk_reset();
    std::vector<int> played = {2};
    for (int next; (next = shuffle_walk_next(played.back(), REPEAT_OFF)) >= 0;) {
        ASSERT_NE(next, played.back());
        played.push_back(next);
        ASSERT_LE(played.size(), 7u) << "a track came twice before the others";
    }
    EXPECT_EQ(std::set<int>(played.begin(), played.end()).size(), 7u) << "every track, then the end";
    // Back through what played, newest first, then nothing more.
    for (int i = 6; i > 0; i--) EXPECT_EQ(shuffle_walk_prev(played[(size_t)i]), played[(size_t)i - 1]);
    EXPECT_EQ(shuffle_walk_prev(played[0]), -1);

    // With the list repeating, round after round, each one whole (the first one began with
    // the track playing when the walk began). What is prepared to follow, asked for before
    // each end (twice, as the window asks at every tick), is what then plays.
    shuffle_walk_reset();
    int current = 0;
    for (int round = 0; round < 3; round++) {
        std::set<int> seen;
        for (int i = round == 0 ? 1 : 0; i < 7; i++) {
            int prepared = shuffle_walk_peek(current, REPEAT_LIST);
            EXPECT_EQ(shuffle_walk_peek(current, REPEAT_LIST), prepared);
            int next = shuffle_walk_next(current, REPEAT_LIST);
            ASSERT_EQ(next, prepared) << "round " << round << ", step " << i;
            ASSERT_NE(next, current);
            seen.insert(next);
            current = next;
        }
        EXPECT_EQ(seen.size(), round == 0 ? 6u : 7u) << "round " << round;
    }
    EXPECT_EQ(shuffle_walk_next(current, REPEAT_TRACK), current);

    // A track picked by hand joins the walk; tracks added to the list come in too.
    shuffle_walk_reset();
    int first = shuffle_walk_next(-1, REPEAT_OFF);
    int picked = first == 4 ? 5 : 4;
    std::set<int> seen = {first, picked};
    current = picked;
    for (int next; (next = shuffle_walk_next(current, REPEAT_OFF)) >= 0; current = next) {
        EXPECT_TRUE(seen.insert(next).second) << next << " again";
        if (seen.size() == 4) {
            track_list_add(L"C:\\M\\new 1.mp3", 0);
            track_list_add(L"C:\\M\\new 2.mp3", 0);
        }
    }
    EXPECT_TRUE(seen.count(7) && seen.count(8)) << "the added tracks";
}

#include <gtest/gtest.h>

#include "app/list_indices.h"
#include "app/play_queue.h"
#include "app/tick_period.h"

TEST(TickPeriod, ChoosesTheSlowestThatServes) {
    struct Case {
        TickInputs in;
        int period;
    } cases[] = {
        // active, minimized, friend search, playing, jam, banner hide, friends panel
        {{1, 0, 0, 0, 0, 0, 0}, TICK_STOPPED},
        {{1, 0, 0, 1, 0, 0, 0}, TICK_NORMAL},
        {{1, 0, 0, 0, 0, 1, 0}, TICK_NORMAL},
        {{1, 0, 0, 0, 1, 0, 0}, TICK_SLOW},
        {{1, 0, 0, 0, 0, 0, 1}, TICK_SLOW},
        {{1, 0, 1, 0, 0, 0, 0}, TICK_FAST},
        {{1, 0, 0, 1, 1, 0, 1}, TICK_NORMAL},
        {{0, 0, 0, 1, 0, 0, 0}, TICK_FAST},
        {{0, 0, 0, 0, 0, 1, 0}, TICK_FAST},
        {{0, 0, 0, 0, 1, 0, 0}, TICK_FAST},
        {{0, 0, 0, 0, 0, 0, 1}, TICK_STOPPED},
        {{0, 0, 0, 0, 0, 0, 0}, TICK_STOPPED},
        {{1, 1, 0, 0, 0, 0, 0}, TICK_STOPPED},
        {{1, 1, 0, 1, 0, 0, 0}, TICK_FAST},
    };
    for (const Case& c : cases) EXPECT_EQ(tick_period_for(&c.in), c.period) << "row " << (&c - cases);
}

TEST(ListIndices, RemovalKeepsThePlayingTrack) {
    ListIndices ix = {5, 2};
    EXPECT_EQ(indices_after_remove(&ix, 2, 9), 0);
    EXPECT_EQ(ix.current, 4);
    EXPECT_EQ(ix.selected, 2);
    ix = {5, 5};
    EXPECT_EQ(indices_after_remove(&ix, 5, 9), 1);
    EXPECT_EQ(ix.current, -1);
    EXPECT_EQ(ix.selected, 5);
    ix = {3, 7};
    EXPECT_EQ(indices_after_remove(&ix, 7, 7), 0);
    EXPECT_EQ(ix.current, 3);
    EXPECT_EQ(ix.selected, 6);
    ix = {1, 4};
    indices_after_remove(&ix, 6, 6);
    EXPECT_EQ(ix.current, 1);
    EXPECT_EQ(ix.selected, 4);
    ix = {0, 0};
    EXPECT_EQ(indices_after_remove(&ix, 0, 0), 1);
    EXPECT_EQ(ix.current, -1);
    EXPECT_EQ(ix.selected, -1);
}

TEST(ListIndices, MovingFollowsThePlayingTrack) {
    ListIndices ix = {5, 0};
    indices_after_move(&ix, 5, 2);
    EXPECT_EQ(ix.current, 2);
    EXPECT_EQ(ix.selected, 2);
    ix = {4, 0};
    indices_after_move(&ix, 1, 6);
    EXPECT_EQ(ix.current, 3);
    EXPECT_EQ(ix.selected, 6);
    ix = {4, 0};
    indices_after_move(&ix, 6, 1);
    EXPECT_EQ(ix.current, 5);
    ix = {7, 0};
    indices_after_move(&ix, 1, 6);
    EXPECT_EQ(ix.current, 7);
    ix = {-1, 0};
    indices_after_move(&ix, 1, 6);
    EXPECT_EQ(ix.current, -1);
}

TEST(PlayQueueRules, VolumeSeekAndScroll) {
    EXPECT_EQ(volume_from_fraction(0.495f), 50);
    EXPECT_EQ(volume_from_fraction(0.494f), 49);
    EXPECT_EQ(volume_from_fraction(-1), 0);
    EXPECT_EQ(volume_from_fraction(2), 100);

    EXPECT_EQ(key_seek_target(3000, 60000, 0), 0);
    EXPECT_EQ(key_seek_target(5000, 60000, 0), 0);
    EXPECT_EQ(key_seek_target(5001, 60000, 0), 1);
    EXPECT_EQ(key_seek_target(10000, 60000, 1), 15000);
    EXPECT_EQ(key_seek_target(57000, 60000, 1), 60000) << "3 s before the end Right goes to the end";
    EXPECT_EQ(key_seek_target(57000, 0, 1), 62000) << "an unknown duration does not stop Right";

    float target = 0;
    EXPECT_EQ(scroll_target_for_row(2, 0, 500, 96, &target), 0);
    EXPECT_EQ(scroll_target_for_row(3, 400, 500, 96, &target), 1);
    EXPECT_EQ(target, 168);
    EXPECT_EQ(scroll_target_for_row(9, 0, 500, 96, &target), 1);
    EXPECT_EQ(target, 560 - 500 + 12);
}

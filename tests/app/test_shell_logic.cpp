#include <gtest/gtest.h>

#include "app/list_geometry.h"
#include "app/list_indices.h"
#include "app/play_queue.h"
#include "app/spring.h"
#include "app/tick_period.h"
#include "ui/fonts.h"

TEST(Spring, SettlesOnTheTargetWithoutOvershootingFar) {
    Spring s = {0, 0};
    int frames = 0;
    float highest = 0;
    while (spring_step(&s, 100, 26, 0.012f, 0.25f)) {
        if (s.value > highest) highest = s.value;
        ASSERT_LT(++frames, 1000) << "the spring never settles";
    }
    EXPECT_EQ(s.value, 100.0f);
    EXPECT_EQ(s.velocity, 0.0f);
    EXPECT_LT(highest, 101.0f);
    EXPECT_GT(frames, 5) << "a critically damped spring takes several frames";
    // Already there: snapped, not moving.
    Spring there = {99.9f, 0.5f};
    EXPECT_EQ(spring_step(&there, 100, 26, 0.012f, 0.25f), 0);
    EXPECT_EQ(there.value, 100.0f);
    // Close but fast still moves.
    Spring fast = {99.9f, 50};
    EXPECT_EQ(spring_step(&fast, 100, 26, 0.012f, 0.25f), 1);
}

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

TEST(ListGeometry, TopBottomAndScroll) {
    EXPECT_EQ(list_top(0, 0, 96), 86);
    EXPECT_EQ(list_top(jam_bar_height(1, 0, 96), banner_height(1, 96), 96), 86 + 54 + 60);
    EXPECT_EQ(jam_bar_height(1, 1, 96), 64);
    EXPECT_EQ(jam_bar_height(0.5f, 0, 96), 27);
    EXPECT_EQ(banner_height(0.25f, 96), 15);
    EXPECT_EQ(list_top(0, 0, 144), 129);
    EXPECT_EQ(list_bottom(720, 96), 616);
    EXPECT_EQ(max_scroll(0, 86, 616, 96), 0);
    EXPECT_EQ(max_scroll(9, 86, 616, 96), 0);
    EXPECT_EQ(max_scroll(10, 86, 616, 96), 12 + 560 - 530);
    EXPECT_EQ(max_scroll(10, 600, 500, 96), 572) << "a list with no room shows nothing";
    PixelRect wide = search_pill_rect(680, 96);
    EXPECT_EQ(wide.right - wide.left, 190);
    EXPECT_EQ(wide.right, 668);
    EXPECT_EQ(wide.top, 13);
    PixelRect narrow = search_pill_rect(559, 96);
    EXPECT_EQ(narrow.right - narrow.left, 148);
    PixelRect edit = search_edit_rect(680, 96, 0);
    EXPECT_EQ(edit.left, 680 - 190 + 16);
    EXPECT_EQ(edit.top, 20);
    EXPECT_EQ(edit.right - edit.left, 190 - 28 - 12);
    EXPECT_EQ(edit.bottom - edit.top, 20);
    EXPECT_EQ(search_edit_rect(500, 96, 1).right - search_edit_rect(500, 96, 1).left, 148 - 28 - 30);
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

TEST(Fonts, ScaleAndFaces) {
    EXPECT_EQ(scale_at(36, 144), 54);
    EXPECT_EQ(scale_at(36, 120), 45);
    EXPECT_EQ(font_pixel_height(10, 144), 20);
    FontAvailability none = {0, 0, 0, 0, 1, 0};
    EXPECT_STREQ(text_face(&none), L"Segoe UI");
    EXPECT_STREQ(title_face(&none), L"Segoe UI");
    EXPECT_STREQ(heading_face(&none), L"Segoe UI");
    EXPECT_STREQ(icon_face(&none), L"Segoe MDL2 Assets");
    FontAvailability all = {1, 1, 1, 1, 1, 1};
    EXPECT_STREQ(text_face(&all), L"Segoe UI Variable Text");
    EXPECT_STREQ(title_face(&all), L"Bahnschrift");
    EXPECT_STREQ(heading_face(&all), L"Segoe UI Variable Display");
    EXPECT_STREQ(icon_face(&all), L"Segoe Fluent Icons");
    FontAvailability display = {0, 1, 0, 0, 1, 0};
    EXPECT_STREQ(title_face(&display), L"Segoe UI Variable Display");
    rebuild_fonts(0);
    EXPECT_NE(g_fonts.body, nullptr);
    LOGFONTW lf;
    GetObjectW(g_fonts.body, sizeof lf, &lf);
    EXPECT_EQ(lf.lfHeight, -13);
    rebuild_fonts(144);
    GetObjectW(g_fonts.body, sizeof lf, &lf);
    EXPECT_EQ(lf.lfHeight, -20);
    delete_fonts();
}

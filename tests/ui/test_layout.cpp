// The main window's geometry, checked against numbers worked out by hand at 96 and 144 dpi,
// and the sidebar's frosted glass against a plain two-pass blur written out as it reads.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ui/blur.h"
#include "ui/fonts.h"
#include "ui/hit_test.h"
#include "ui/layout.h"
#include "ui/paint_friends.h"
#include "ui/list_geometry.h"

namespace {

std::string text(RECT r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

const RECT NONE = {0, 0, 0, 0};

bool overlap(RECT a, RECT b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

//~ Header

TEST(Layout, HeaderAt96Dpi) {
    // At 560 and above the pill is 190 wide, below it 148. With the pill's left edge at
    // L = W - 12 - pill, "+ İndir" starts at L - 86 (shown while > 116) and the friends
    // button at L - 210 (shown while > 112): the friends button goes first, at W = 482.
    struct Case {
        int w;
        RECT search, download, friends;
    } cases[] = {
        {1000, {798, 13, 988, 47}, {712, 13, 790, 47}, {588, 13, 704, 47}},
        {560, {358, 13, 548, 47}, {272, 13, 350, 47}, {148, 13, 264, 47}},
        {559, {399, 13, 547, 47}, {313, 13, 391, 47}, {189, 13, 305, 47}},
        {483, {323, 13, 471, 47}, {237, 13, 315, 47}, {113, 13, 229, 47}},
        {482, {322, 13, 470, 47}, {236, 13, 314, 47}, NONE},
        {363, {203, 13, 351, 47}, {117, 13, 195, 47}, NONE},
        {362, {202, 13, 350, 47}, NONE, NONE},
        {300, {140, 13, 288, 47}, NONE, NONE},
    };
    for (const Case& c : cases) {
        HeaderLayout h = header_layout(c.w, 96);
        EXPECT_EQ(text(h.menu), text(RECT{12, 12, 48, 48})) << "W=" << c.w;
        EXPECT_EQ(text(h.search), text(c.search)) << "W=" << c.w;
        EXPECT_EQ(text(h.download), text(c.download)) << "W=" << c.w;
        EXPECT_EQ(text(h.friends), text(c.friends)) << "W=" << c.w;
    }
}

TEST(Layout, HeaderAt144Dpi) {
    // Scaled: margin 18, gap 12, pill 222 or 285 (from W = 840), height 51 centred in the
    // 90-pixel header (top 19), "+ İndir" 117 wide shown while its left > 174, friends 174
    // wide shown while its left > 168.
    struct Case {
        int w;
        RECT search, download, friends;
    } cases[] = {
        {840, {537, 19, 822, 70}, {408, 19, 525, 70}, {222, 19, 396, 70}},
        {839, {599, 19, 821, 70}, {470, 19, 587, 70}, {284, 19, 458, 70}},
        {724, {484, 19, 706, 70}, {355, 19, 472, 70}, {169, 19, 343, 70}},
        {723, {483, 19, 705, 70}, {354, 19, 471, 70}, NONE},
        {544, {304, 19, 526, 70}, {175, 19, 292, 70}, NONE},
        {543, {303, 19, 525, 70}, NONE, NONE},
    };
    for (const Case& c : cases) {
        HeaderLayout h = header_layout(c.w, 144);
        EXPECT_EQ(text(h.menu), text(RECT{18, 18, 72, 72})) << "W=" << c.w;
        EXPECT_EQ(text(h.search), text(c.search)) << "W=" << c.w;
        EXPECT_EQ(text(h.download), text(c.download)) << "W=" << c.w;
        EXPECT_EQ(text(h.friends), text(c.friends)) << "W=" << c.w;
    }
}

TEST(Layout, HeaderButtonsLineUpAndDropOutFriendsFirst) {
    // The smallest widths at which each button is still drawn, from the hand computation
    // in the two tests above.
    struct Dpi {
        int dpi, download_from, friends_from, margin, gap, download_w, friends_w, pill_top, pill_bottom;
    } dpis[] = {{96, 363, 483, 12, 8, 78, 116, 13, 47}, {144, 544, 724, 18, 12, 117, 174, 19, 70}};
    for (const Dpi& d : dpis)
        for (int w = 200; w <= 2400; w++) {
            HeaderLayout h = header_layout(w, d.dpi);
            bool download = w >= d.download_from, friends = w >= d.friends_from;
            ASSERT_EQ(h.search.right, w - d.margin) << "dpi " << d.dpi << " W=" << w;
            ASSERT_EQ(h.search.top, d.pill_top) << "dpi " << d.dpi << " W=" << w;
            ASSERT_EQ(h.search.bottom, d.pill_bottom) << "dpi " << d.dpi << " W=" << w;
            if (download) {
                ASSERT_EQ(h.download.right, h.search.left - d.gap) << "dpi " << d.dpi << " W=" << w;
                ASSERT_EQ(h.download.right - h.download.left, d.download_w) << "dpi " << d.dpi << " W=" << w;
                ASSERT_EQ(h.download.top, h.search.top) << "dpi " << d.dpi << " W=" << w;
                ASSERT_EQ(h.download.bottom, h.search.bottom) << "dpi " << d.dpi << " W=" << w;
            } else {
                ASSERT_EQ(text(h.download), text(NONE)) << "dpi " << d.dpi << " W=" << w;
            }
            if (friends) {
                ASSERT_EQ(h.friends.right, h.download.left - d.gap) << "dpi " << d.dpi << " W=" << w;
                ASSERT_EQ(h.friends.right - h.friends.left, d.friends_w) << "dpi " << d.dpi << " W=" << w;
                ASSERT_EQ(h.friends.top, h.search.top) << "dpi " << d.dpi << " W=" << w;
                ASSERT_EQ(h.friends.bottom, h.search.bottom) << "dpi " << d.dpi << " W=" << w;
                ASSERT_FALSE(overlap(h.friends, h.menu)) << "dpi " << d.dpi << " W=" << w;
            } else {
                ASSERT_EQ(text(h.friends), text(NONE)) << "dpi " << d.dpi << " W=" << w;
            }
        }
}

//~ Player card

TEST(Layout, PlayerCardAt680By720) {
    PlayerLayout p = player_layout(680, 720, 96);
    EXPECT_EQ(text(p.card), text(RECT{10, 620, 670, 712}));
    EXPECT_EQ(p.cy, 651);
    EXPECT_EQ(p.y0, 690);
    EXPECT_EQ(p.pc, 666);
    EXPECT_EQ(p.x, 340);
    EXPECT_EQ(text(p.play), text(RECT{321, 632, 359, 670}));
    EXPECT_EQ(text(p.previous), text(RECT{281, 635, 313, 667}));
    EXPECT_EQ(text(p.shuffle), text(RECT{245, 635, 277, 667}));
    EXPECT_EQ(text(p.next), text(RECT{367, 635, 399, 667}));
    EXPECT_EQ(text(p.repeat), text(RECT{403, 635, 435, 667}));
    // Below 760 the bar is at most 104 long each way, and here W/2 - 240 = 100 is less.
    EXPECT_EQ(p.seek_half, 100);
    EXPECT_EQ(text(p.seek_hit), text(RECT{232, 679, 448, 701}));
    EXPECT_EQ(text(p.elapsed), text(RECT{198, 681, 234, 699}));
    EXPECT_EQ(text(p.duration), text(RECT{446, 681, 484, 699}));
    EXPECT_EQ(text(p.cover), text(RECT{24, 638, 80, 694}));
    EXPECT_TRUE(p.text_shown);
    EXPECT_EQ(p.text_left, 92);
    EXPECT_EQ(p.text_right, 192) << "the elapsed time lies left of shuffle";
    EXPECT_TRUE(p.volume_shown) << "484 + 36 < 582";
    EXPECT_EQ(p.volume_left, 582);
    EXPECT_EQ(p.volume_right, 654);
    EXPECT_EQ(text(p.volume_hit), text(RECT{576, 654, 660, 678}));
    EXPECT_EQ(text(p.mute), text(RECT{548, 651, 578, 681}));
}

TEST(Layout, PlayerCardAt1920By1080) {
    PlayerLayout p = player_layout(1920, 1080, 96);
    EXPECT_EQ(text(p.card), text(RECT{10, 980, 1910, 1072}));
    EXPECT_EQ(p.cy, 1011);
    EXPECT_EQ(p.y0, 1050);
    EXPECT_EQ(p.pc, 1026);
    EXPECT_EQ(text(p.play), text(RECT{941, 992, 979, 1030}));
    EXPECT_EQ(text(p.previous), text(RECT{901, 995, 933, 1027}));
    EXPECT_EQ(text(p.shuffle), text(RECT{865, 995, 897, 1027}));
    EXPECT_EQ(text(p.next), text(RECT{987, 995, 1019, 1027}));
    EXPECT_EQ(text(p.repeat), text(RECT{1023, 995, 1055, 1027}));
    EXPECT_EQ(p.seek_half, 140) << "wide windows cap the bar at 140";
    EXPECT_EQ(text(p.seek_hit), text(RECT{812, 1039, 1108, 1061}));
    EXPECT_EQ(text(p.elapsed), text(RECT{778, 1041, 814, 1059}));
    EXPECT_EQ(text(p.duration), text(RECT{1106, 1041, 1144, 1059}));
    EXPECT_EQ(text(p.cover), text(RECT{24, 998, 80, 1054}));
    EXPECT_TRUE(p.text_shown);
    EXPECT_EQ(p.text_left, 92);
    EXPECT_EQ(p.text_right, 772);
    EXPECT_TRUE(p.volume_shown);
    EXPECT_EQ(text(p.volume_hit), text(RECT{1816, 1014, 1900, 1038}));
    EXPECT_EQ(text(p.mute), text(RECT{1788, 1011, 1818, 1041}));
}

TEST(Layout, PlayerCardAt144Dpi) {
    // 31 and 19 scale to 46.5 and 28.5, which MulDiv rounds up to 47 and 29.
    PlayerLayout p = player_layout(1280, 800, 144);
    EXPECT_EQ(text(p.card), text(RECT{15, 650, 1265, 788}));
    EXPECT_EQ(p.cy, 697);
    EXPECT_EQ(p.y0, 755);
    EXPECT_EQ(p.pc, 719);
    EXPECT_EQ(text(p.play), text(RECT{611, 668, 669, 726}));
    EXPECT_EQ(text(p.previous), text(RECT{551, 673, 599, 721}));
    EXPECT_EQ(text(p.shuffle), text(RECT{497, 673, 545, 721}));
    EXPECT_EQ(text(p.next), text(RECT{681, 673, 729, 721}));
    EXPECT_EQ(text(p.repeat), text(RECT{735, 673, 783, 721}));
    EXPECT_EQ(p.seek_half, 210);
    EXPECT_EQ(text(p.seek_hit), text(RECT{418, 738, 862, 772}));
    EXPECT_EQ(text(p.elapsed), text(RECT{367, 741, 421, 769}));
    EXPECT_EQ(text(p.duration), text(RECT{859, 741, 916, 769}));
    EXPECT_EQ(text(p.cover), text(RECT{36, 677, 120, 761}));
    EXPECT_EQ(p.text_left, 138);
    EXPECT_EQ(p.text_right, 358);
    EXPECT_TRUE(p.volume_shown);
    EXPECT_EQ(p.volume_left, 1133);
    EXPECT_EQ(p.volume_right, 1241);
    EXPECT_EQ(text(p.volume_hit), text(RECT{1124, 701, 1250, 737}));
    EXPECT_EQ(text(p.mute), text(RECT{1082, 696, 1127, 742}));
}

TEST(Layout, PlayerCardAt120DpiHasAnOddHeight) {
    // 104 - 4 - 8 scale one by one to 130 - 5 - 10 = 115 rows: the middle line rounds down.
    PlayerLayout p = player_layout(800, 600, 120);
    EXPECT_EQ(text(p.card), text(RECT{13, 475, 787, 590}));
    EXPECT_EQ(p.cy, 514);
    EXPECT_EQ(p.y0, 562);
    EXPECT_EQ(p.pc, 532);
    EXPECT_EQ(text(p.cover), text(RECT{31, 497, 101, 567}));
    EXPECT_EQ(p.seek_half, 100);
    EXPECT_TRUE(p.volume_shown) << "555 + 45 < 677";
    EXPECT_EQ(text(p.volume_hit), text(RECT{669, 517, 775, 547}));
    EXPECT_EQ(text(p.mute), text(RECT{634, 513, 672, 551}));
}

TEST(Layout, SeekBarHalfLength) {
    // min(104 below 760 else 140, max(56, W/2 - 240)), all scaled.
    struct Case {
        int w, dpi, half;
    } cases[] = {
        {400, 96, 56},   {593, 96, 56},   {594, 96, 57},   {600, 96, 60},   {688, 96, 104},
        {740, 96, 104},  {759, 96, 104},  {760, 96, 140},  {2000, 96, 140}, {700, 144, 84},
        {1139, 144, 156}, {1140, 144, 210}, {1300, 144, 210},
    };
    for (const Case& c : cases)
        EXPECT_EQ(player_layout(c.w, 720, c.dpi).seek_half, c.half) << "W=" << c.w << " dpi " << c.dpi;
}

TEST(Layout, NarrowPlayerCardDropsTheVolumeThenTheText) {
    // Narrow: G = 56, so the duration text ends at W/2 + 100 and the volume bar starts at
    // W - 98; the bar needs W/2 + 136 < W - 98.
    PlayerLayout shown = player_layout(469, 600, 96);
    EXPECT_TRUE(shown.volume_shown) << "334 + 36 < 371";
    EXPECT_EQ(text(shown.volume_hit), text(RECT{365, 534, 449, 558}));
    EXPECT_EQ(text(shown.mute), text(RECT{337, 531, 367, 561}));
    PlayerLayout hidden = player_layout(468, 600, 96);
    EXPECT_FALSE(hidden.volume_shown) << "334 + 36 is not < 370";
    EXPECT_EQ(text(hidden.volume_hit), text(NONE));
    EXPECT_EQ(text(hidden.mute), text(NONE));
    EXPECT_TRUE(hidden.text_shown);

    // The text column needs 92 + 28 < shuffle left - 10, shuffle left being W/2 - 95.
    EXPECT_TRUE(player_layout(452, 600, 96).text_shown);
    EXPECT_FALSE(player_layout(451, 600, 96).text_shown);
    EXPECT_FALSE(player_layout(300, 600, 96).volume_shown);
}

TEST(Layout, EachPlayerControlOwnsItsClicks) {
    // Whatever the size, a click lands on one control only, and what is drawn stays clickable
    // through the element hit test. The one shared strip is by design: the mute button ends 4
    // left of the volume bar, the bar's hit area starts 6 left of it, and the hit order gives
    // those 2 pixels to the mute button.
    const int dpis[] = {96, 120, 144, 192};
    HitState state = {};
    for (int dpi : dpis)
        for (int w = 200; w <= 2600; w += 3) {
            int h = 520 + w % 400;
            PlayerLayout p = player_layout(w, h, dpi);
            state.header_height = scale_at(60, dpi);
            RECT rects[ELEMENT_COUNT] = {};
            rects[ELEMENT_SHUFFLE] = p.shuffle;
            rects[ELEMENT_PREVIOUS] = p.previous;
            rects[ELEMENT_PLAY] = p.play;
            rects[ELEMENT_NEXT] = p.next;
            rects[ELEMENT_REPEAT] = p.repeat;
            rects[ELEMENT_MUTE] = p.mute;
            rects[ELEMENT_SEEK] = p.seek_hit;
            rects[ELEMENT_VOLUME] = p.volume_hit;
            for (int a = ELEMENT_SHUFFLE; a <= ELEMENT_VOLUME; a++) {
                if (rects[a].right <= 0) continue;
                for (int b = a + 1; b <= ELEMENT_VOLUME; b++) {
                    if (a == ELEMENT_MUTE && b == ELEMENT_VOLUME) continue;
                    ASSERT_FALSE(overlap(rects[a], rects[b]))
                        << "elements " << a << " and " << b << " at W=" << w << " dpi " << dpi;
                }
                POINT centre = {(rects[a].left + rects[a].right) / 2, (rects[a].top + rects[a].bottom) / 2};
                ASSERT_EQ(element_hit_test(rects, centre, &state), a) << "W=" << w << " dpi " << dpi;
            }
            if (p.volume_shown) {
                POINT shared = {p.volume_hit.left, p.pc};
                ASSERT_EQ(element_hit_test(rects, shared, &state), ELEMENT_MUTE) << "W=" << w << " dpi " << dpi;
                ASSERT_GT(p.mute.left, p.duration.right) << "W=" << w << " dpi " << dpi;
                ASSERT_LE(p.volume_hit.right, p.card.right) << "W=" << w << " dpi " << dpi;
            }
        }
}

//~ List scrollbar

TEST(Layout, ScrollbarThumbFollowsTheOffset) {
    // 20 rows (content 12 + 1120 = 1132) between 86 and 612 at 96 dpi: zone 92..606 (514
    // high), thumb trunc(526 / 1132 x 514) = 238 long, travelling 514 - 238 = 276.
    int max_offset = max_scroll(20, 86, 616, 96);
    ASSERT_EQ(max_offset, 602);
    struct Case {
        float offset;
        int hot;
        RECT thumb;
    } cases[] = {
        {0, 0, {672, 92, 676, 330}},      {602, 0, {672, 368, 676, 606}}, {301, 0, {672, 230, 676, 468}},
        {301, 1, {669, 230, 676, 468}},   {100.5f, 0, {672, 138, 676, 376}}, {-50, 0, {672, 92, 676, 330}},
        {900, 1, {669, 368, 676, 606}},
    };
    for (const Case& c : cases) {
        ScrollbarLayout s = scrollbar_layout(680, 86, 612, 20, c.offset, max_offset, c.hot, 96);
        EXPECT_TRUE(s.shown);
        EXPECT_EQ(text(s.zone), text(RECT{666, 92, 680, 606}));
        EXPECT_EQ(text(s.thumb), text(c.thumb)) << "offset " << c.offset << " hot " << c.hot;
    }
}

TEST(Layout, ScrollbarThumbLengthLimits) {
    // A thousand rows would give a 4-pixel thumb: it stays 30 long.
    ScrollbarLayout s = scrollbar_layout(680, 86, 612, 1000, 0, 55486, 0, 96);
    EXPECT_EQ(text(s.thumb), text(RECT{672, 92, 676, 122}));
    s = scrollbar_layout(680, 86, 612, 1000, 55486, 55486, 0, 96);
    EXPECT_EQ(text(s.thumb), text(RECT{672, 576, 676, 606}));
    // Content shorter than the view (a stale maximum): the thumb fills the zone, no longer.
    s = scrollbar_layout(680, 86, 612, 5, 5, 10, 0, 96);
    EXPECT_EQ(text(s.thumb), text(RECT{672, 92, 676, 606}));
    // A zone of 24 pixels or less draws no thumb; 25 draws one as long as the zone.
    s = scrollbar_layout(680, 86, 122, 20, 0, 1000, 0, 96);
    EXPECT_TRUE(s.shown);
    EXPECT_EQ(text(s.zone), text(RECT{666, 92, 680, 116}));
    EXPECT_EQ(text(s.thumb), text(NONE));
    s = scrollbar_layout(680, 86, 123, 20, 0, 1000, 0, 96);
    EXPECT_EQ(text(s.thumb), text(RECT{672, 92, 676, 117}));
}

TEST(Layout, ScrollbarAt144Dpi) {
    // Zone (999, 138, 1020, 909), 771 high; content 18 + 20 x 84 = 1698; thumb
    // trunc(789 / 1698 x 771) = 358; a quarter of the way: trunc(0.25 x 413) = 103.
    ScrollbarLayout s = scrollbar_layout(1020, 129, 918, 20, 100, 400, 0, 144);
    EXPECT_EQ(text(s.zone), text(RECT{999, 138, 1020, 909}));
    EXPECT_EQ(text(s.thumb), text(RECT{1008, 241, 1014, 599}));
    s = scrollbar_layout(1020, 129, 918, 20, 100, 400, 1, 144);
    EXPECT_EQ(text(s.thumb), text(RECT{1003, 241, 1014, 599})) << "7 scales to 10.5, rounded to 11";
    s = scrollbar_layout(1020, 129, 180, 20, 0, 400, 0, 144);
    EXPECT_EQ(text(s.thumb), text(NONE)) << "a 33-pixel zone is under the scaled 24 (36)";
}

TEST(Layout, ListThatFitsExactlyHasNoScrollbar) {
    struct Case {
        int dpi, top, bottom, clip_gap, row;
    } cases[] = {{96, 86, 602, 4, 56}, {144, 129, 903, 6, 84}};  // 9 rows: 12 + 9 x 56 = 516, scaled 774
    for (const Case& c : cases) {
        int fits = max_scroll(9, c.top, c.bottom, c.dpi);
        EXPECT_EQ(fits, 0) << "dpi " << c.dpi;
        ScrollbarLayout s = scrollbar_layout(680, c.top, c.bottom - c.clip_gap, 9, 0, fits, 0, c.dpi);
        EXPECT_FALSE(s.shown) << "dpi " << c.dpi;
        EXPECT_EQ(text(s.zone), text(NONE)) << "dpi " << c.dpi;
        EXPECT_EQ(text(s.thumb), text(NONE)) << "dpi " << c.dpi;

        int one_more = max_scroll(10, c.top, c.bottom, c.dpi);
        EXPECT_EQ(one_more, c.row) << "dpi " << c.dpi;
        EXPECT_TRUE(scrollbar_layout(680, c.top, c.bottom - c.clip_gap, 10, 0, one_more, 0, c.dpi).shown)
            << "dpi " << c.dpi;
    }
}

//~ Small shapes

TEST(Layout, ProgressFillWidth) {
    struct Case {
        int w, percent, min, fill;
    } cases[] = {
        {200, 50, 6, 100}, {300, 33, 6, 99}, {400, 100, 6, 400},
        {99, 1, 6, 0},     // 99 < 100: nothing yet
        {100, 1, 6, 6},    // 1 pixel, raised to the minimum
        {300, 1, 6, 6},    {300, 1, 2, 3},  {2, 50, 6, 6},  {1, 99, 6, 0},
        {200, 0, 6, 0},    {0, 50, 6, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progress_fill_width(c.w, c.percent, c.min), c.fill)
            << "w " << c.w << " percent " << c.percent << " min " << c.min;
}

TEST(Layout, PlayingDotColourCycles) {
    struct Case {
        DWORD ticks;
        COLORREF color;
    } cases[] = {
        {0, RGB(255, 146, 92)},     // orange
        {250, RGB(247, 107, 138)},  // halfway to pink: 247.5, 107, 138
        {500, RGB(240, 68, 184)},   // pink
        {750, RGB(189, 60, 219)},   // halfway to violet: 189.5, 60.5, 219.5
        {1000, RGB(139, 53, 255)},  // violet
        {1250, RGB(197, 99, 173)},  // halfway back: 197, 99.5, 173.5
        {1500, RGB(255, 146, 92)},  {3000, RGB(255, 146, 92)}, {3500, RGB(240, 68, 184)},
    };
    for (const Case& c : cases) {
        COLORREF got = playing_dot_color(c.ticks);
        EXPECT_EQ(got, c.color) << "ticks " << c.ticks << ": got " << (int)GetRValue(got) << ","
                                << (int)GetGValue(got) << "," << (int)GetBValue(got);
    }
    // No channel moves by more than 163 over a 500 ms leg, so one millisecond never jumps
    // more than one step, the wrap from violet back to orange included.
    COLORREF before = playing_dot_color(0);
    for (DWORD t = 1; t <= 3100; t++) {
        COLORREF now = playing_dot_color(t);
        ASSERT_LE(abs(GetRValue(now) - GetRValue(before)), 1) << "ticks " << t;
        ASSERT_LE(abs(GetGValue(now) - GetGValue(before)), 1) << "ticks " << t;
        ASSERT_LE(abs(GetBValue(now) - GetBValue(before)), 1) << "ticks " << t;
        before = now;
    }
    // After weeks of uptime, near the 32-bit wrap, the colour and the pulse are those of
    // the same place in the cycle at a small tick count: no steps, no stutter.
    for (DWORD t = 0xFFFFFFFFu - 3000; t < 0xFFFFFFFFu - 7; t += 7) {
        ASSERT_EQ(playing_dot_color(t), playing_dot_color(t % PLAYING_DOT_CYCLE_MS)) << "ticks " << t;
        ASSERT_EQ(playing_dot_pulse(t), playing_dot_pulse(t % PLAYING_DOT_PULSE_MS)) << "ticks " << t;
    }
}

TEST(Layout, InvitationNotice) {
    struct Case {
        int w, dpi;
        RECT rect;
    } cases[] = {
        {680, 96, {145, 70, 535, 124}},    {414, 96, {12, 70, 402, 124}},
        {413, 96, {12, 70, 401, 124}},     // 389 < 390: the notice shrinks to W - 24
        {400, 96, {12, 70, 388, 124}},     {1021, 144, {218, 105, 803, 186}},
        {600, 144, {18, 105, 582, 186}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text(invitation_rect(c.w, c.dpi)), text(c.rect)) << "W=" << c.w << " dpi " << c.dpi;
}

TEST(Layout, SidebarLeftEdge) {
    struct Case {
        float progress;
        int dpi, left;
    } cases[] = {
        {0.5f, 96, -139}, {0, 96, -278},     {1, 96, 0},        {-0.5f, 96, -278}, {1.5f, 96, 0},
        {0.25f, 96, -208},  // -208.5 truncates toward zero
        {0.75f, 96, -69},   {0.5f, 144, -208}, {0, 144, -417},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sidebar_left(c.progress, c.dpi), c.left) << "progress " << c.progress << " dpi " << c.dpi;
}

//~ Rows under a point

TEST(Layout, RowUnderAPointAt144DpiWithAFractionalScroll) {
    // List 129..924 at 144 dpi: the first row starts 9 below the top, rows are 84 high, the
    // columns run from 18 to 1020 - 27 = 993. A quarter-pixel offset keeps the expected
    // rows where the painter, which rounds the offset, draws them.
    RowGeometry g = {129, 924, 1020, 83.25f, 144};
    EXPECT_EQ(row_at_point(&g, 100, 138, nullptr, 0, 0, 50), 0) << "0 + 83.25 is still in row 0";
    EXPECT_EQ(row_at_point(&g, 100, 139, nullptr, 0, 0, 50), 1) << "1 + 83.25 crosses 84";
    EXPECT_EQ(row_at_point(&g, 100, 128, nullptr, 0, 0, 50), -1);
    EXPECT_EQ(row_at_point(&g, 100, 923, nullptr, 0, 0, 50), 10) << "785 + 83.25 = 868.25";
    EXPECT_EQ(row_at_point(&g, 100, 924, nullptr, 0, 0, 50), -1);
    EXPECT_EQ(row_at_point(&g, 17, 300, nullptr, 0, 0, 50), -1);
    EXPECT_EQ(row_at_point(&g, 18, 300, nullptr, 0, 0, 50), 2) << "162 + 83.25 = 245.25";
    EXPECT_EQ(row_at_point(&g, 993, 300, nullptr, 0, 0, 50), 2);
    EXPECT_EQ(row_at_point(&g, 994, 300, nullptr, 0, 0, 50), -1);
    EXPECT_EQ(row_at_point(&g, 100, 306, nullptr, 0, 0, 50), 2) << "168 + 83.25 = 251.25 < 252";
    EXPECT_EQ(row_at_point(&g, 100, 307, nullptr, 0, 0, 50), 3) << "169 + 83.25 = 252.25";
    g.scroll_offset = 1000.25f;
    EXPECT_EQ(row_at_point(&g, 100, 500, nullptr, 0, 0, 50), 16) << "362 + 1000.25 = 1362.25";
    EXPECT_EQ(row_at_point(&g, 100, 500, nullptr, 0, 0, 16), -1) << "past the last row";
    const int filtered[] = {3, 8, 12, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 40};
    EXPECT_EQ(row_at_point(&g, 100, 500, filtered, 17, 1, 50), 40);
    EXPECT_EQ(row_at_point(&g, 100, 500, filtered, 16, 1, 50), -1) << "past the last filtered row";
    // At the list top, in the gap above the first row, with a fractional offset: row 0.
    g.scroll_offset = 0.25f;
    EXPECT_EQ(row_at_point(&g, 100, 129, nullptr, 0, 0, 50), 0);
}

//~ Frosted glass

namespace {

const int BW = 96, BH = 72;

std::vector<unsigned> noise(unsigned seed, int count) {
    std::mt19937 rng(seed);
    std::vector<unsigned> px(count);
    for (unsigned& p : px) p = 0xFF000000u | (rng() & 0xFFFFFF);
    return px;
}

// The part of area that the routines may touch, or an empty rectangle.
RECT reach(RECT area, RECT clip, int width, int height) {
    RECT r = {std::max({area.left, clip.left, 0L}), std::max({area.top, clip.top, 0L}),
              std::min({area.right, clip.right, (LONG)width}), std::min({area.bottom, clip.bottom, (LONG)height})};
    if (r.left >= r.right || r.top >= r.bottom) return NONE;
    return r;
}

unsigned channel(unsigned p, int shift) { return (p >> shift) & 0xFF; }

// The blur as it reads: every output pixel sums its 21 neighbours along the line, a
// neighbour past either end of the area being the end pixel itself; rows first, then columns
// of the row-blurred picture.
void ref_box_blur(std::vector<unsigned>& px, int width, int height, RECT area, RECT clip) {
    RECT r = reach(area, clip, width, height);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w < 3 || h < 3 || w > 2048 || h > 2048) return;
    std::vector<unsigned> across = px;
    for (int y = r.top; y < r.bottom; y++)
        for (int x = r.left; x < r.right; x++) {
            unsigned out = 0xFF000000u;
            for (int shift = 0; shift <= 16; shift += 8) {
                unsigned sum = 0;
                for (int k = -10; k <= 10; k++) {
                    int xs = x + k;
                    if (xs < r.left) xs = r.left;
                    if (xs > r.right - 1) xs = r.right - 1;
                    sum += channel(px[(size_t)y * width + xs], shift);
                }
                out |= ((sum * 3121) >> 16) << shift;
            }
            across[(size_t)y * width + x] = out;
        }
    for (int y = r.top; y < r.bottom; y++)
        for (int x = r.left; x < r.right; x++) {
            unsigned out = 0xFF000000u;
            for (int shift = 0; shift <= 16; shift += 8) {
                unsigned sum = 0;
                for (int k = -10; k <= 10; k++) {
                    int ys = y + k;
                    if (ys < r.top) ys = r.top;
                    if (ys > r.bottom - 1) ys = r.bottom - 1;
                    sum += channel(across[(size_t)ys * width + x], shift);
                }
                out |= ((sum * 3121) >> 16) << shift;
            }
            px[(size_t)y * width + x] = out;
        }
}

RECT random_area(std::mt19937& rng) {
    int l = (int)(rng() % (BW + 20)) - 10, t = (int)(rng() % (BH + 20)) - 10;
    return RECT{l, t, l + (int)(rng() % 80), t + (int)(rng() % 60)};
}

}  // namespace

TEST(Blur, DimMultipliesEachChannelInsideTheAreaOnly) {
    // Half open: a = trunc(0.5 x 118) = 59, so 255 becomes 255 x 197 >> 8 = 196.
    std::vector<unsigned> px(BW * BH, 0xFFFFFFFFu);
    Canvas c = {px.data(), BW, BH, RECT{0, 0, BW, BH}, 0};
    dim_pixels(&c, RECT{10, 20, 30, 40}, 59);
    EXPECT_EQ(px[25 * BW + 15], 0xFFC4C4C4u);
    EXPECT_EQ(px[20 * BW + 10], 0xFFC4C4C4u) << "the top-left corner is inside";
    EXPECT_EQ(px[39 * BW + 29], 0xFFC4C4C4u) << "the bottom-right corner is inside";
    EXPECT_EQ(px[40 * BW + 29], 0xFFFFFFFFu) << "the bottom edge is outside";
    EXPECT_EQ(px[39 * BW + 30], 0xFFFFFFFFu) << "the right edge is outside";
    EXPECT_EQ(px[19 * BW + 15], 0xFFFFFFFFu);
    EXPECT_EQ(px[25 * BW + 9], 0xFFFFFFFFu);

    std::mt19937 rng(7);
    for (int round = 0; round < 200; round++) {
        std::vector<unsigned> pic = noise(round, BW * BH), expected = pic;
        RECT clip = round % 2 ? RECT{(LONG)(rng() % 30), (LONG)(rng() % 20), BW - (LONG)(rng() % 30),
                                     BH - (LONG)(rng() % 20)}
                              : RECT{0, 0, BW, BH};
        RECT area = random_area(rng);
        int amount = 1 + (int)(rng() % 255);
        RECT r = reach(area, clip, BW, BH);
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++) {
                unsigned& p = expected[(size_t)y * BW + x];
                unsigned out = 0xFF000000u;
                for (int shift = 0; shift <= 16; shift += 8) out |= ((channel(p, shift) * (256 - amount)) >> 8) << shift;
                p = out;
            }
        Canvas pc = {pic.data(), BW, BH, clip, 0};
        dim_pixels(&pc, area, amount);
        ASSERT_EQ(pic, expected) << "round " << round << " area " << text(area) << " clip " << text(clip)
                                 << " amount " << amount;
    }
}

TEST(Blur, BoxBlurMatchesAPlainTwoPassBlur) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; round++) {
        std::vector<unsigned> pic = noise(round + 500, BW * BH), expected = pic;
        RECT clip = round % 3 ? RECT{(LONG)(rng() % 30), (LONG)(rng() % 20), BW - (LONG)(rng() % 30),
                                     BH - (LONG)(rng() % 20)}
                              : RECT{0, 0, BW, BH};
        RECT area = round % 10 == 0 ? RECT{-5, -5, BW + 5, BH + 5} : random_area(rng);
        ref_box_blur(expected, BW, BH, area, clip);
        Canvas c = {pic.data(), BW, BH, clip, 0};
        box_blur(&c, area);
        ASSERT_EQ(pic, expected) << "round " << round << " area " << text(area) << " clip " << text(clip);
    }
}

TEST(Blur, UniformAreaStaysUniformWhateverSurroundsIt) {
    // Samples past the area's edges repeat its own edge pixels, so the noise around it must
    // not bleed in, and the blur must not bleed out.
    const unsigned grey = 0xFF5A7BC3u;
    RECT area = {20, 15, 70, 50};
    std::vector<unsigned> pic = noise(42, BW * BH);
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++) pic[(size_t)y * BW + x] = grey;
    std::vector<unsigned> before = pic;
    Canvas c = {pic.data(), BW, BH, RECT{0, 0, BW, BH}, 0};
    box_blur(&c, area);
    for (int y = 0; y < BH; y++)
        for (int x = 0; x < BW; x++) {
            bool inside = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
            ASSERT_EQ(pic[(size_t)y * BW + x], inside ? grey : before[(size_t)y * BW + x]) << x << "," << y;
        }
}

TEST(Blur, SizeLimitsApplyToTheClippedArea) {
    struct Case {
        int width, height;
        RECT area, clip;
        bool blurred;
    } cases[] = {
        {BW, BH, {10, 10, 12, 40}, {0, 0, BW, BH}, false},   // 2 wide
        {BW, BH, {10, 10, 40, 12}, {0, 0, BW, BH}, false},   // 2 high
        {BW, BH, {10, 10, 40, 40}, {0, 0, 12, BH}, false},   // 2 wide once clipped
        {BW, BH, {10, 10, 40, 40}, {0, 0, BW, 12}, false},   // 2 high once clipped
        {BW, BH, {-40, 10, 2, 40}, {0, 0, BW, BH}, false},   // 2 wide on the canvas
        {BW, BH, {10, 10, 13, 13}, {0, 0, BW, BH}, true},    // 3 x 3
        {2049, 3, {0, 0, 2049, 3}, {0, 0, 2049, 3}, false},  // over 2048 wide
        {2048, 3, {0, 0, 2048, 3}, {0, 0, 2048, 3}, true},
        {3, 2049, {0, 0, 3, 2049}, {0, 0, 3, 2049}, false},  // over 2048 high
        {3, 2048, {0, 0, 3, 2048}, {0, 0, 3, 2048}, true},
        {2100, 3, {0, 0, 2100, 3}, {20, 0, 2068, 3}, true},  // 2048 once clipped
    };
    int row = 0;
    for (const Case& c : cases) {
        std::vector<unsigned> pic = noise(row + 900, c.width * c.height), before = pic, expected = pic;
        ref_box_blur(expected, c.width, c.height, c.area, c.clip);
        ASSERT_EQ(expected != before, c.blurred) << "row " << row << ": the reference disagrees with the case";
        Canvas canvas = {pic.data(), c.width, c.height, c.clip, 0};
        box_blur(&canvas, c.area);
        EXPECT_EQ(pic, expected) << "row " << row << " area " << text(c.area) << " clip " << text(c.clip);
        row++;
    }
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

TEST(FriendsPanel, AvatarLettersAndColours) {
    struct Case {
        const wchar_t* name;
        const wchar_t* tag;
        const wchar_t* letter;
    } cases[] = {
        {L"ilker", L"ilker#1234", L"\u0130"}, {L"\u0131\u015f\u0131k", L"", L"I"}, {L"(x)", L"", L"X"},
        {L" [\u00e7a\u011fla]", L"", L"\u00c7"}, {L"", L"deniz#4821", L"D"},   {L"", L"", L"\u266A"},
        {L"  (", L"", L"\u266A"}, {L"\U0001F3B8 Gitar", L"", L"\U0001F3B8"}, {L"\xD83C", L"", L"\u266A"},
    };
    for (const Case& c : cases) {
        wchar_t letter[3];
        avatar_letter(c.name, c.tag, letter);
        EXPECT_STREQ(letter, c.letter) << c.name << " / " << c.tag;
    }
    EXPECT_EQ(avatar_palette_index(L""), 1);
    EXPECT_EQ(avatar_palette_index(L"Zeynep"), avatar_palette_index(L"zEYNEP")) << "letter case does not change the colour";
    int used[6] = {};
    const wchar_t* names[] = {L"Ali", L"Ay\u015fe", L"Mehmet", L"Zeynep", L"Can", L"Elif", L"Burak", L"Deniz", L"Ece", L"Kaan"};
    for (const wchar_t* n : names) used[avatar_palette_index(n)]++;
    int colours = 0;
    for (int u : used) colours += u > 0;
    EXPECT_GE(colours, 4) << "ten names spread over the palette";
}

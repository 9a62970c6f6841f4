#include <gtest/gtest.h>

#include "ui/hit_test.h"
#include "ui/list_geometry.h"

namespace {

struct Layout {
    RECT rects[ELEMENT_COUNT] = {};
    HitState state = {};
    Layout() {
        state.header_height = 60;
        rects[ELEMENT_MENU] = {12, 12, 48, 48};
        rects[ELEMENT_FRIENDS] = {300, 13, 416, 47};
        rects[ELEMENT_DOWNLOAD] = {424, 13, 502, 47};
        rects[ELEMENT_SEARCH_CLEAR] = {640, 16, 664, 44};
        rects[ELEMENT_INVITE_JOIN] = {420, 20, 480, 50};  // over the header buttons
        rects[ELEMENT_INVITE_CLOSE] = {600, 20, 660, 50};
        rects[ELEMENT_JAM_LEAVE] = {560, 70, 640, 100};
        rects[ELEMENT_JAM_DOWNLOAD] = {470, 70, 550, 100};
        rects[ELEMENT_BANNER_CANCEL] = {560, 80, 640, 110};  // overlaps the Jam bar's
        rects[ELEMENT_PLAY] = {316, 620, 364, 668};
        rects[ELEMENT_SEEK] = {100, 600, 580, 616};
        rects[ELEMENT_VOLUME] = {560, 640, 660, 660};
        rects[ELEMENT_PANEL_BACK] = {10, 70, 40, 100};
        rects[ELEMENT_TAB_ADD] = {180, 200, 260, 230};
        rects[ELEMENT_SEND_REQUEST] = {200, 300, 260, 330};
    }
    int at(int x, int y) { return element_hit_test(rects, POINT{x, y}, &state); }
};

}  // namespace

TEST(HitTest, OrderOfPrecedence) {
    Layout l;
    EXPECT_EQ(l.at(30, 30), ELEMENT_MENU);
    EXPECT_EQ(l.at(450, 30), ELEMENT_DOWNLOAD) << "the invitation only counts while one is pending";
    l.state.invitation_pending = 1;
    EXPECT_EQ(l.at(450, 30), ELEMENT_INVITE_JOIN);
    EXPECT_EQ(l.at(650, 30), ELEMENT_INVITE_CLOSE);
    l.state.invitation_pending = 0;
    EXPECT_EQ(l.at(650, 30), ELEMENT_NONE) << "the clear button needs filter text";
    l.state.filter_has_text = 1;
    EXPECT_EQ(l.at(650, 30), ELEMENT_SEARCH_CLEAR);

    EXPECT_EQ(l.at(600, 90), ELEMENT_NONE);
    l.state.banner_progress = 0.2f;
    EXPECT_EQ(l.at(600, 90), ELEMENT_BANNER_CANCEL);
    l.state.jam_active = 1;
    EXPECT_EQ(l.at(600, 90), ELEMENT_JAM_LEAVE) << "the Jam bar comes before the banner";
    EXPECT_EQ(l.at(500, 90), ELEMENT_JAM_DOWNLOAD);

    EXPECT_EQ(l.at(340, 640), ELEMENT_PLAY);
    EXPECT_EQ(l.at(300, 608), ELEMENT_SEEK);
    EXPECT_EQ(l.at(600, 650), ELEMENT_VOLUME);
    l.rects[ELEMENT_VOLUME] = {};  // not drawn: never hit
    EXPECT_EQ(l.at(600, 650), ELEMENT_NONE);
}

TEST(HitTest, TheSidebarCoversWhatLiesUnderIt) {
    Layout l;
    l.state.sidebar_width = 278;
    l.state.sidebar_open = 1;
    l.state.sidebar_progress = 1;
    EXPECT_EQ(l.at(30, 30), ELEMENT_MENU) << "the header stays usable";
    EXPECT_EQ(l.at(25, 85), ELEMENT_NONE) << "menu mode has no panel elements";
    EXPECT_EQ(l.at(340, 640), ELEMENT_NONE) << "right of an open sidebar nothing is hit";
    l.state.friends_mode = 1;
    EXPECT_EQ(l.at(25, 85), ELEMENT_PANEL_BACK);
    EXPECT_EQ(l.at(220, 210), ELEMENT_TAB_ADD);
    EXPECT_EQ(l.at(230, 310), ELEMENT_NONE) << "the send button only on the add tab";
    l.state.friends_tab = 2;
    EXPECT_EQ(l.at(230, 310), ELEMENT_SEND_REQUEST);
    // Closing, but still more than a quarter open.
    l.state.sidebar_open = 0;
    l.state.sidebar_progress = 0.3f;
    l.state.sidebar_width = 83;
    EXPECT_EQ(l.at(340, 640), ELEMENT_NONE);
    l.state.sidebar_progress = 0.2f;
    l.state.sidebar_width = 56;
    EXPECT_EQ(l.at(340, 640), ELEMENT_PLAY);
    l.state.sidebar_width = 10;
    EXPECT_EQ(l.at(5, 85), ELEMENT_NONE);
}

TEST(HitTest, RowUnderAPoint) {
    RowGeometry g = {86, 616, 680, 0, 96};
    EXPECT_EQ(row_at_point(&g, 100, 85, nullptr, 0, 0, 20), -1) << "above the list";
    EXPECT_EQ(row_at_point(&g, 100, 86, nullptr, 0, 0, 20), 0) << "the gap above the first row is its own";
    EXPECT_EQ(row_at_point(&g, 100, 92 + 55, nullptr, 0, 0, 20), 0);
    EXPECT_EQ(row_at_point(&g, 100, 92 + 56, nullptr, 0, 0, 20), 1);
    EXPECT_EQ(row_at_point(&g, 100, 616, nullptr, 0, 0, 20), -1) << "the control bar";
    EXPECT_EQ(row_at_point(&g, 11, 100, nullptr, 0, 0, 20), -1);
    EXPECT_EQ(row_at_point(&g, 662, 100, nullptr, 0, 0, 20), 0);
    EXPECT_EQ(row_at_point(&g, 663, 100, nullptr, 0, 0, 20), -1);
    EXPECT_EQ(row_at_point(&g, 100, 92 + 3 * 56, nullptr, 0, 0, 3), -1) << "past the last row";
    g.scroll_offset = 112;
    EXPECT_EQ(row_at_point(&g, 100, 92, nullptr, 0, 0, 20), 2);
    const int filtered[] = {4, 9, 17};
    EXPECT_EQ(row_at_point(&g, 100, 92, filtered, 3, 1, 20), 17);
    EXPECT_EQ(row_at_point(&g, 100, 92 + 56, filtered, 3, 1, 20), -1);
    RowGeometry hi = {129, 924, 1020, 0, 144};
    EXPECT_EQ(row_at_point(&hi, 100, 129 + 9 + 84, nullptr, 0, 0, 20), 1) << "rows scale with the dpi";
}

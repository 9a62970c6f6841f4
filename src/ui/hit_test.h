#pragma once
// What a point of the main window hits: a row of the list, or one of the clickable elements
// whose rectangles the painter recorded in the last frame (an element not drawn has an
// empty rectangle and is never hit).
#include <windows.h>

enum ElementId {
    ELEMENT_NONE = 0,
    ELEMENT_MENU = 1,
    ELEMENT_FRIENDS = 2,
    ELEMENT_DOWNLOAD = 3,
    ELEMENT_SEARCH_CLEAR = 4,
    ELEMENT_SHUFFLE = 5,
    ELEMENT_PREVIOUS = 6,
    ELEMENT_PLAY = 7,
    ELEMENT_NEXT = 8,
    ELEMENT_REPEAT = 9,
    ELEMENT_MUTE = 10,
    ELEMENT_SEEK = 11,
    ELEMENT_VOLUME = 12,
    ELEMENT_JAM_LEAVE = 13,
    ELEMENT_JAM_DOWNLOAD = 14,
    ELEMENT_BANNER_CANCEL = 15,
    ELEMENT_INVITE_JOIN = 16,
    ELEMENT_INVITE_CLOSE = 17,
    ELEMENT_PANEL_BACK = 18,
    ELEMENT_PANEL_REFRESH = 19,
    ELEMENT_PANEL_COPY_TAG = 20,
    ELEMENT_PANEL_EDIT_NAME = 21,
    ELEMENT_TAB_FRIENDS = 22,
    ELEMENT_TAB_REQUESTS = 23,
    ELEMENT_TAB_ADD = 24,
    ELEMENT_SEND_REQUEST = 25,
    ELEMENT_SORT = 26,
    ELEMENT_COUNT = 27,
};

// The state the hit test depends on besides the rectangles.
struct HitState {
    int invitation_pending;
    int filter_has_text;
    int sidebar_width;  // 278 x progress, rounded
    int sidebar_open;
    float sidebar_progress;
    int friends_mode;  // the sidebar shows the friends panel
    int friends_tab;
    int jam_active;
    int banner_shown;  // the banner's state is not hidden
    float banner_progress;
    int header_height;  // scaled
};

// The element under p, in the fixed order of precedence, or ELEMENT_NONE.
int element_hit_test(const RECT* rects, POINT p, const HitState* s);

// The list geometry a row hit needs, in device pixels.
struct RowGeometry {
    int list_top;
    int list_bottom;
    int client_right;
    float scroll_offset;
    int dpi;
};

// The track index under (x, y): through filtered_indices while the filter is active. -1 for
// a point outside the list columns or rows, or past the last row.
int row_at_point(const RowGeometry* g, int x, int y, const int* filtered, int filtered_count, int filter_active,
                 int track_count);

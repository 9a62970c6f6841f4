#pragma once
// The rectangles of the last painted frame that the mouse handling tests. The painter
// rewrites all of them every frame; an element not drawn gets an empty rectangle.
#include <windows.h>

#include "ui/hit_test.h"

enum { FRIEND_ROWS_MAX = 32, REQUEST_ROWS_MAX = 16 };

struct HitRects {
    RECT element[ELEMENT_COUNT];  // by element id
    RECT search_box;              // the pill the search edit control sits in
    RECT scroll_zone;             // the list scrollbar's track
    RECT scroll_thumb;
    int seek_left, seek_right;      // the seek bar's track
    int volume_left, volume_right;  // the volume slider's track
    RECT control_bar;  // the player card, empty until painted once
    RECT jam_start_card;
    RECT name_box_frame;  // where the name box goes while the name is edited, else empty
    RECT tag_box_frame;   // the add-by-tag field while the "+ Ekle" tab shows, else empty
    RECT panel_list;      // the scrolling part of the friends or requests tab, else empty
    int panel_list_max_scroll;  // how far that list scrolls, in pixels
    RECT friend_invite[FRIEND_ROWS_MAX];
    RECT friend_remove[FRIEND_ROWS_MAX];
    RECT friend_row[FRIEND_ROWS_MAX];  // each friend's card, as much as the list shows
    RECT friend_card;                  // the open key card, else empty
    RECT friend_card_check;            // its button that sets or clears the checked mark
    RECT friend_card_close;
    RECT request_accept[REQUEST_ROWS_MAX];
    RECT request_reject[REQUEST_ROWS_MAX];
};

extern HitRects g_hit;

int rect_has_area(const RECT* r);

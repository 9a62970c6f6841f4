#pragma once
// Where the main window's elements lie, as pure functions of the client size and the dpi,
// so that the painter and the tests share one geometry. All results are device pixels; an
// element that does not fit is an empty rectangle (right <= 0).
#include <windows.h>

struct HeaderLayout {
    RECT menu;
    RECT search;    // the pill
    RECT download;  // "+ İndir", empty when the header is too narrow
    RECT friends;   // the friends / Jam button, empty when too narrow
};

HeaderLayout header_layout(int width, int dpi);

struct PlayerLayout {
    RECT card;
    int cy;  // the transport line
    int y0;  // the seek bar line
    int pc;  // the cover and volume line
    int x;   // the centre column
    RECT play, previous, shuffle, next, repeat;
    int seek_half;  // half the seek bar's length
    RECT seek_hit;
    RECT elapsed, duration;  // the two time texts
    RECT cover;
    int text_left, text_right;  // the now-playing text column
    int text_shown;
    int volume_shown;
    int volume_left, volume_right;  // the slider track
    RECT volume_hit, mute;
};

PlayerLayout player_layout(int width, int height, int dpi);

struct ScrollbarLayout {
    int shown;
    RECT zone;   // the track that a press and hover test
    RECT thumb;  // empty when the track is too short to draw
};

// The list between top and bottom (the clip's bottom is 4 above the control bar) with rows
// shown rows at offset; hot widens the thumb (hovered or dragged).
ScrollbarLayout scrollbar_layout(int width, int list_top, int clip_bottom, int rows, float offset, int max_offset,
                                 int hot, int dpi);

// A list of the friends panel: rows of row_height, pitch apart, shown between top and
// bottom and scrolled by offset. offset comes back clamped to what the rows allow, so that
// a list that shrank never shows empty space; first is the first row that shows.
struct PanelListLayout {
    int max_offset;
    int offset;
    int first;
    RECT thumb;  // the scroll thumb at the panel's right edge x_right, empty when all fits
};
PanelListLayout panel_list_layout(int top, int bottom, int rows, int pitch, int row_height, float offset, int x_right,
                                  int dpi);

// The filled part of a progress track of width w at percent: nothing below 1%, then at
// least min_width.
int progress_fill_width(int w, int percent, int min_width);

// The playing row's dot: its colour goes orange, pink, violet and back in 1.5 s, and its
// halo pulses once about every 898 ms (pulse 0..1).
enum { PLAYING_DOT_CYCLE_MS = 1500, PLAYING_DOT_PULSE_MS = 898 };
COLORREF playing_dot_color(DWORD ticks);
float playing_dot_pulse(DWORD ticks);

// The Jam invitation notice, centred under the header.
RECT invitation_rect(int width, int dpi);

// The key card of a friend over the friends list, between the panel's edges x0 and x1: it
// starts where the tab's contents start, and moves up (not above highest_top) when the
// window is too short for it above bottom.
enum { FRIEND_CARD_HEIGHT = 264 };
struct FriendCardLayout {
    RECT card;
    RECT close;  // the glyph at the top right
    RECT check;  // the button along the bottom
};
FriendCardLayout friend_card_layout(int x0, int x1, int content_top, int highest_top, int bottom, int dpi);

// The sidebar panel's left edge for a slide fraction (its right edge is 278 further).
int sidebar_left(float progress, int dpi);

// The track dot's radius and similar sub-pixel sizes: r x dpi / 96.
float scale_float(float r, int dpi);

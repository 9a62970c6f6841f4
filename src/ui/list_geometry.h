#pragma once
// Where the track list lies in the main window, in device pixels at dpi. Every length is a
// device-independent value scaled at the point of use.

enum {
    HEADER_HEIGHT = 60,
    CONTROL_BAR_HEIGHT = 104,
    ROW_HEIGHT = 56,
    FIRST_ROW_OFFSET = 6,
    LIST_GAP_ABOVE = 26,
    JAM_BAR_HEIGHT = 54,
    JAM_BAR_PROGRESS_HEIGHT = 64,
    BANNER_HEIGHT = 60,
};

// The Jam bar is taller while it shows a download progress notice.
int jam_bar_height(float progress, int progress_notice, int dpi);
int banner_height(float progress, int dpi);
int list_top(int jam_bar_h, int banner_h, int dpi);
int list_bottom(int client_bottom, int dpi);
// The furthest the list scrolls: its rows plus a margin, less what fits on screen.
int max_scroll(int rows, int top, int bottom, int dpi);
// Where a wheel turn of delta (120 a notch, positive away from the user) takes a list's
// scroll target, step pixels a notch, within 0..limit. A target beyond a limit that shrank
// since is taken back to it first, so that the turn moves the list at once.
float wheel_scroll_target(float target, int delta, float step, float limit);

struct PixelRect {
    int left, top, right, bottom;
};

// The search pill of the header for a client width W, and the edit control inside it
// (narrower while there is text, to leave room for the clear button).
PixelRect search_pill_rect(int client_width, int dpi);
PixelRect search_edit_rect(int client_width, int dpi, int has_text);

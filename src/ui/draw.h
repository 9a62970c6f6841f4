#pragma once
// The program's own anti-aliased pixel routines, writing straight into a 32-bit top-down
// bitmap (0xAARRGGBB words, alpha always 0xFF). Colours come in as COLORREF (0x00BBGGRR);
// alphas as bytes 0..255. Main thread only.
#include <windows.h>

// Where the routines draw: the pixels, their size (width is also the row stride), the clip
// they never write outside, and whether GDI drew since the last pixel routine (GDI batches
// its drawing, so the pixels are flushed before they are read).
struct Canvas {
    unsigned* bits;
    int width;
    int height;
    RECT clip;
    int gdi_dirty;
};

extern Canvas g_canvas;  // the back buffer during a paint pass

// The part of shape inside the clip and the canvas, into work; GDI's pending drawing is
// flushed first. 0 when there is nothing to draw. Every routine that writes pixels starts here.
int canvas_begin_shape(Canvas* c, RECT shape, RECT* work);

// A byte alpha as a blend weight 0..256 (255 becomes exactly opaque).
int alpha_weight(int alpha);
// (S * A + D * (256 - A)) >> 8 per channel; A <= 0 leaves D, A >= 256 stores S.
unsigned blend_pixel(unsigned dst, COLORREF src, int weight);
// Signed distance from a pixel centre offset (dx, dy, see below) to a rounded box of radius r.
float round_box_distance(float dx, float dy, float r);

void shade_round_rect_pixel(unsigned* pixel, float dx, float dy, float radius, int fill_r, int fill_g, int fill_b,
                            int fill_weight, int border_r, int border_g, int border_b, int border_weight,
                            int border_on);
void fill_round_rect(Canvas* c, RECT rect, int radius, COLORREF fill, int fill_alpha, COLORREF border,
                     int border_alpha);
void fill_circle(Canvas* c, float cx, float cy, float radius, COLORREF color, int alpha);
void fill_accent_gradient(Canvas* c, RECT rect, int radius);
// The colour of the accent gradient at t in 0..1.
COLORREF accent_gradient_color(float t);

// A round icon button: a hover or pressed disc, the glyph in the icon font, and an optional
// accent dot under it for "on" states.
void draw_icon_button(Canvas* c, HDC dc, RECT rect, int element_id, const wchar_t* glyph, COLORREF text_color,
                      int show_dot);

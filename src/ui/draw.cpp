#include "ui/draw.h"

#include <math.h>

#include "app/app_state.h"
#include "ui/fonts.h"
#include "ui/glyphs.h"

Canvas g_canvas;

int alpha_weight(int alpha) {
    return (alpha * 256 + 127) / 255;
}

static unsigned opaque(COLORREF c) {
    return 0xFF000000u | ((unsigned)GetRValue(c) << 16) | ((unsigned)GetGValue(c) << 8) | GetBValue(c);
}

static unsigned blend_channels(unsigned d, int r, int g, int b, int a) {
    if (a <= 0) return d;
    if (a >= 256) return 0xFF000000u | ((unsigned)r << 16) | ((unsigned)g << 8) | (unsigned)b;
    int inv = 256 - a;
    unsigned dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF;
    unsigned nr = ((unsigned)r * a + dr * inv) >> 8;
    unsigned ng = ((unsigned)g * a + dg * inv) >> 8;
    unsigned nb = ((unsigned)b * a + db * inv) >> 8;
    return 0xFF000000u | (nr << 16) | (ng << 8) | nb;
}

// blend_channels with one weight over a run of pixels: red and blue share one multiply,
// each channel's sum stays below 65536, so no channel spills into the next and the result
// is the same as per channel. Written so that the compiler can vectorise it.
static void blend_span(unsigned* p, int n, int r, int g, int b, int a) {
    if (a <= 0) return;
    unsigned word = 0xFF000000u | ((unsigned)r << 16) | ((unsigned)g << 8) | (unsigned)b;
    if (a >= 256) {
        for (int i = 0; i < n; i++) p[i] = word;
        return;
    }
    unsigned inv = 256u - (unsigned)a;
    unsigned src_rb = (word & 0xFF00FFu) * (unsigned)a, src_g = (word & 0xFF00u) * (unsigned)a;
    for (int i = 0; i < n; i++) {
        unsigned d = p[i];
        unsigned rb = ((src_rb + (d & 0xFF00FFu) * inv) >> 8) & 0xFF00FFu;
        unsigned gg = ((src_g + (d & 0xFF00u) * inv) >> 8) & 0xFF00u;
        p[i] = 0xFF000000u | rb | gg;
    }
}

unsigned blend_pixel(unsigned dst, COLORREF src, int weight) {
    return blend_channels(dst, GetRValue(src), GetGValue(src), GetBValue(src), weight);
}

float round_box_distance(float dx, float dy, float r) {
    float d;
    if (dx <= 0 && dy <= 0) {
        d = dx > dy ? dx : dy;
    } else {
        float ox = dx > 0 ? dx : 0, oy = dy > 0 ? dy : 0;
        d = sqrtf(ox * ox + oy * oy);
    }
    return d - r;
}

static float clamp01(float v) {
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

// What one pixel of a rounded box gets at signed distance s: a fill weight and a border
// weight to blend with, -1 where nothing is blended.
struct Shade {
    int fill_a;
    int border_a;
};

static Shade shade_at(float s, int fill_weight, int border_weight, int border_on) {
    Shade sh = {-1, -1};
    if (s >= 0.65f) return sh;
    float c = clamp01(0.5f - s);
    if (!border_on) {
        sh.fill_a = (int)(c * (float)fill_weight);
        return sh;
    }
    float inner = clamp01(0.5f - (s + 1.1f));
    float ring = c - inner;
    if (inner > 0) sh.fill_a = (int)(inner * (float)fill_weight);
    if (ring > 0) sh.border_a = (int)(ring * (float)border_weight);
    return sh;
}

static void apply_shade(unsigned* pixel, Shade sh, int fr, int fg, int fb, int br, int bg, int bb) {
    if (sh.fill_a >= 0) *pixel = blend_channels(*pixel, fr, fg, fb, sh.fill_a);
    if (sh.border_a >= 0) *pixel = blend_channels(*pixel, br, bg, bb, sh.border_a);
}

void shade_round_rect_pixel(unsigned* pixel, float dx, float dy, float radius, int fill_r, int fill_g, int fill_b,
                            int fill_weight, int border_r, int border_g, int border_b, int border_weight,
                            int border_on) {
    Shade sh = shade_at(round_box_distance(dx, dy, radius), fill_weight, border_weight, border_on);
    apply_shade(pixel, sh, fill_r, fill_g, fill_b, border_r, border_g, border_b);
}

// On one row, every column whose dx is at most this limit is at the same distance from the
// shape (the row's own dy decides it), so its shading is worked out once per row.
static float flat_span_limit(float dy) {
    return dy < 0 ? dy : 0;
}

// A rectangle's centre, half sizes and the radius it can really have (at most half the
// shorter side).
struct RoundBox {
    float hw, hh, r, cx, cy;
};

static RoundBox round_box_of(RECT rect, int radius) {
    RoundBox b;
    b.hw = (rect.right - rect.left) / 2.0f;
    b.hh = (rect.bottom - rect.top) / 2.0f;
    b.r = (float)radius;
    if (b.r > b.hw) b.r = b.hw;
    if (b.r > b.hh) b.r = b.hh;
    if (b.r < 0) b.r = 0;
    b.cx = rect.left + b.hw;
    b.cy = rect.top + b.hh;
    return b;
}

int canvas_begin_shape(Canvas* c, RECT shape, RECT* work) {
    if (!c || !c->bits) return 0;
    if (shape.left >= shape.right || shape.top >= shape.bottom) return 0;
    if (!IntersectRect(work, &shape, &c->clip)) return 0;
    RECT canvas = {0, 0, c->width, c->height};
    if (!IntersectRect(work, work, &canvas)) return 0;
    if (c->gdi_dirty) {
        GdiFlush();
        c->gdi_dirty = 0;
    }
    return 1;
}

void fill_round_rect(Canvas* c, RECT rect, int radius, COLORREF fill, int fill_alpha, COLORREF border,
                     int border_alpha) {
    RECT work;
    if (!canvas_begin_shape(c, rect, &work)) return;
    unsigned fill_word = opaque(fill);
    if (fill_alpha >= 255 && radius <= 0 && border_alpha == 0) {
        for (int y = work.top; y < work.bottom; y++) {
            unsigned* row = c->bits + (size_t)y * c->width;
            for (int x = work.left; x < work.right; x++) row[x] = fill_word;
        }
        return;
    }
    int width = rect.right - rect.left;
    RoundBox box = round_box_of(rect, radius);
    float hw = box.hw, hh = box.hh, r = box.r, cx = box.cx, cy = box.cy;
    int fr = GetRValue(fill), fg = GetGValue(fill), fb = GetBValue(fill);
    int br = GetRValue(border), bg = GetGValue(border), bb = GetBValue(border);
    int fw = alpha_weight(fill_alpha), bw = alpha_weight(border_alpha), border_on = border_alpha > 0;
    // Columns this far from a side edge are interior on a middle-band row.
    int inner_left = rect.left + 3, inner_right = rect.right - 3;
    for (int y = work.top; y < work.bottom; y++) {
        unsigned* row = c->bits + (size_t)y * c->width;
        float dy = fabsf(y + 0.5f - cy) - (hh - r);
        int band = dy <= -1.8f && width > 6;
        float limit = flat_span_limit(dy);
        Shade flat = shade_at(round_box_distance(limit - 1.0f, dy, r), fw, bw, border_on);
        for (int x = work.left; x < work.right; x++) {
            if (band && x >= inner_left && x < inner_right) {
                // The straight middle of the shape: no distance work, plain stores when opaque.
                int span_end = inner_right < work.right ? inner_right : work.right;
                if (fill_alpha >= 255) {
                    for (; x < span_end; x++) row[x] = fill_word;
                } else {
                    blend_span(row + x, span_end - x, fr, fg, fb, fw);
                    x = span_end;
                }
                x--;
                continue;
            }
            float dx = fabsf(x + 0.5f - cx) - (hw - r);
            if (dx <= limit) {
                // Rows near the top and bottom edge: every pixel up to the corners gets the
                // row's one shade, so the run is blended as a span. Its end, where
                // |x + 0.5 - cx| leaves reach, is worked out once and then nudged so that it
                // agrees with the per-pixel test exactly.
                float reach = hw - r + limit;
                int stop = work.right;
                if (band && x < inner_left && inner_left < stop) stop = inner_left;
                int end = (int)floorf(cx + reach - 0.5f) + 1;
                if (end > stop) end = stop;
                if (end < x + 1) end = x + 1;
                while (end > x + 1 && !(fabsf(end - 1 + 0.5f - cx) - (hw - r) <= limit)) end--;
                while (end < stop && fabsf(end + 0.5f - cx) - (hw - r) <= limit) end++;
                blend_span(row + x, end - x, fr, fg, fb, flat.fill_a);
                blend_span(row + x, end - x, br, bg, bb, flat.border_a);
                x = end - 1;
                continue;
            }
            shade_round_rect_pixel(&row[x], dx, dy, r, fr, fg, fb, fw, br, bg, bb, bw, border_on);
        }
    }
}

void fill_circle(Canvas* c, float cx, float cy, float radius, COLORREF color, int alpha) {
    if (alpha <= 0 || radius <= 0 || !c || !c->bits) return;
    RECT box = {(LONG)floorf(cx - radius - 1), (LONG)floorf(cy - radius - 1), (LONG)ceilf(cx + radius + 1),
                (LONG)ceilf(cy + radius + 1)};
    RECT work;
    if (!canvas_begin_shape(c, box, &work)) return;
    int weight = alpha_weight(alpha);
    int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    for (int y = work.top; y < work.bottom; y++) {
        unsigned* row = c->bits + (size_t)y * c->width;
        float py = y + 0.5f - cy;
        for (int x = work.left; x < work.right; x++) {
            float px = x + 0.5f - cx;
            float s = sqrtf(px * px + py * py) - radius;
            if (s >= 0.65f) continue;
            row[x] = blend_channels(row[x], r, g, b, (int)(clamp01(0.5f - s) * (float)weight));
        }
    }
}

COLORREF accent_gradient_color(float t) {
    float r, g, b;
    if (t <= 0.5f) {
        float k = 2 * t;
        r = 255 - 15 * k, g = 146 - 78 * k, b = 92 + 92 * k;
    } else {
        float k = 2 * t - 1;
        r = 240 - 101 * k, g = 68 - 15 * k, b = 184 + 71 * k;
    }
    return RGB((int)r, (int)g, (int)b);
}

enum { GRADIENT_TABLE = 2048 };

void fill_accent_gradient(Canvas* c, RECT rect, int radius) {
    RECT work;
    if (!canvas_begin_shape(c, rect, &work)) return;
    int width = rect.right - rect.left;
    float divisor = width < 2 ? 1.0f : (float)(width - 1);
    static COLORREF table[GRADIENT_TABLE];
    int tabled = width <= GRADIENT_TABLE;
    if (tabled)
        for (int i = 0; i < width; i++) table[i] = accent_gradient_color(clamp01(i / divisor));
    RoundBox box = round_box_of(rect, radius);
    float hw = box.hw, hh = box.hh, r = box.r, cx = box.cx, cy = box.cy;
    for (int y = work.top; y < work.bottom; y++) {
        unsigned* row = c->bits + (size_t)y * c->width;
        float dy = fabsf(y + 0.5f - cy) - (hh - r);
        float limit = flat_span_limit(dy);
        float flat_cover = 0.5f - round_box_distance(limit - 1.0f, dy, r);
        for (int x = work.left; x < work.right; x++) {
            COLORREF color = tabled ? table[x - rect.left] : accent_gradient_color(clamp01((x - rect.left) / divisor));
            float dx = fabsf(x + 0.5f - cx) - (hw - r);
            if (dx <= r - 0.6f && dy <= -0.6f) {
                row[x] = opaque(color);
                continue;
            }
            float cover = dx <= limit ? flat_cover : 0.5f - round_box_distance(dx, dy, r);
            if (cover <= 0) continue;
            if (cover > 1) cover = 1;
            row[x] = blend_pixel(row[x], color, (int)(cover * 256));
        }
    }
}

void draw_icon_button(Canvas* c, HDC dc, RECT rect, int element_id, const wchar_t* glyph, COLORREF text_color,
                      int show_dot) {
    int hovered = element_id == g_app.hover_id, pressed = element_id == g_app.pressed_id;
    float cx = (rect.left + rect.right) / 2.0f, cy = (rect.top + rect.bottom) / 2.0f;
    if (hovered || pressed)
        fill_circle(c, cx, cy, (rect.right - rect.left) / 2.0f - (pressed ? 1 : 0),
                    pressed ? RGB(38, 38, 38) : RGB(24, 24, 24), 255);
    RECT text = rect;
    if (pressed) OffsetRect(&text, 0, 1);
    draw_icon_glyph(c, dc, g_fonts.icon, glyph, text,
                    text_color ? text_color : (hovered ? RGB(255, 255, 255) : RGB(161, 161, 170)),
                    DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    if (show_dot) fill_circle(c, cx, rect.bottom - (float)scale(2), (float)scale(2), RGB(255, 146, 92), 255);
}

#include "ui/paint_common.h"

#include "ui/glyphs.h"
#include "ui/hit_rects.h"

HitRects g_hit;

int rect_has_area(const RECT* r) {
    return r->right > r->left && r->bottom > r->top && r->right > 0;
}

int rects_meet(const RECT* a, const RECT* b) {
    return a->left < b->right && b->left < a->right && a->top < b->bottom && b->top < a->bottom;
}

RECT inset_rect(RECT r, int dx, int dy) {
    return RECT{r.left + dx, r.top + dy, r.right - dx, r.bottom - dy};
}

// Font changes, clip saves and colour changes cost more than the text itself on some
// systems, so a frame selects each only when it changes and restores once at its end.
static HFONT g_frame_font;
static HGDIOBJ g_font_before_frame;
static COLORREF g_frame_text_color;
static HRGN g_damage_region;

void paint_frame_begin(const PaintFrame* f) {
    g_frame_font = nullptr;
    g_font_before_frame = GetCurrentObject(f->dc, OBJ_FONT);
    g_frame_text_color = GetTextColor(f->dc);
    g_damage_region = CreateRectRgnIndirect(&f->damage);
}

void paint_frame_end(const PaintFrame* f) {
    if (g_font_before_frame) SelectObject(f->dc, g_font_before_frame);
    if (g_damage_region) DeleteObject(g_damage_region);
    g_damage_region = nullptr;
    g_frame_font = nullptr;
}

void paint_text(const PaintFrame* f, HFONT font, const wchar_t* text, RECT r, COLORREF color, UINT format) {
    if (!text || !text[0] || r.right <= r.left || r.bottom <= r.top) return;
    if (f->canvas->bits && !rects_meet(&r, &f->canvas->clip)) return;
    if (font != g_frame_font) {
        SelectObject(f->dc, font);
        g_frame_font = font;
    }
    if (color != g_frame_text_color) {
        SetTextColor(f->dc, color);
        g_frame_text_color = color;
    }
    f->canvas->gdi_dirty = 1;
    DrawTextW(f->dc, text, -1, &r, format);
}

void paint_glyph(const PaintFrame* f, HFONT font, const wchar_t* glyph, RECT r, COLORREF color) {
    if (f->canvas->bits && !rects_meet(&r, &f->canvas->clip)) return;
    draw_icon_glyph(f->canvas, f->dc, font, glyph, r, color, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    paint_gdi_touched(f);
}

// The icon routines put the frame's font back but leave their own text colour.
void paint_gdi_touched(const PaintFrame*) {
    g_frame_text_color = CLR_INVALID;
}

void paint_icon_button(const PaintFrame* f, RECT rect, int element_id, const wchar_t* glyph, COLORREF text_color,
                       int show_dot) {
    if (f->canvas->bits && !rects_meet(&rect, &f->canvas->clip)) return;
    draw_icon_button(f->canvas, f->dc, rect, element_id, glyph, text_color, show_dot);
    paint_gdi_touched(f);
}

void push_clip(const PaintFrame* f, RECT region) {
    IntersectClipRect(f->dc, region.left, region.top, region.right, region.bottom);
    RECT clip;
    if (!IntersectRect(&clip, &f->damage, &region)) clip = RECT{0, 0, 0, 0};
    f->canvas->clip = clip;
}

void pop_clip(const PaintFrame* f) {
    SelectClipRgn(f->dc, g_damage_region);
    f->canvas->clip = f->damage;
}

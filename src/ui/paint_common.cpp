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

void paint_text(const PaintFrame* f, HFONT font, const wchar_t* text, RECT r, COLORREF color, UINT format) {
    if (!text || !text[0] || r.right <= r.left || r.bottom <= r.top) return;
    if (f->canvas->bits && !rects_meet(&r, &f->canvas->clip)) return;
    HGDIOBJ old = SelectObject(f->dc, font);
    SetTextColor(f->dc, color);
    f->canvas->gdi_dirty = 1;
    DrawTextW(f->dc, text, -1, &r, format);
    SelectObject(f->dc, old);
}

void paint_glyph(const PaintFrame* f, HFONT font, const wchar_t* glyph, RECT r, COLORREF color) {
    if (f->canvas->bits && !rects_meet(&r, &f->canvas->clip)) return;
    draw_icon_glyph(f->canvas, f->dc, font, glyph, r, color, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

int push_clip(const PaintFrame* f, RECT region) {
    int saved = SaveDC(f->dc);
    IntersectClipRect(f->dc, region.left, region.top, region.right, region.bottom);
    RECT clip;
    if (!IntersectRect(&clip, &f->damage, &region)) clip = RECT{0, 0, 0, 0};
    f->canvas->clip = clip;
    return saved;
}

void pop_clip(const PaintFrame* f, int saved) {
    RestoreDC(f->dc, saved);
    f->canvas->clip = f->damage;
}

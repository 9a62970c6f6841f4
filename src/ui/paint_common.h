#pragma once
// What the painters of the main window share: the palette, the frame being drawn, text
// and glyph drawing, and the clip that keeps GDI and the pixel routines to one region.
#include <windows.h>

#include "ui/draw.h"

#define PALETTE_BACKGROUND RGB(5, 5, 5)
#define PALETTE_CARD RGB(16, 16, 16)
#define PALETTE_CONTROL RGB(24, 24, 24)
#define PALETTE_LINE RGB(38, 38, 38)
#define PALETTE_MUTED RGB(113, 113, 122)
#define PALETTE_SECONDARY RGB(161, 161, 170)
#define PALETTE_ORANGE RGB(255, 146, 92)
#define PALETTE_PINK RGB(240, 68, 184)
#define PALETTE_VIOLET RGB(139, 53, 255)
#define PALETTE_WHITE RGB(255, 255, 255)
#define PALETTE_INK RGB(5, 5, 5)

// Text placement words. Titles come from file names and other people, so "&" is never a
// mnemonic prefix.
enum : UINT {
    TEXT_LEFT = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX,
    TEXT_CENTRED = DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX,
    TEXT_RIGHT = DT_SINGLELINE | DT_VCENTER | DT_RIGHT | DT_NOPREFIX,
    TEXT_ELLIPSIS = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX,
};

// One paint pass: the target DC, the client size in pixels and what stays fixed in it.
struct PaintFrame {
    HDC dc;
    Canvas* canvas;
    int width, height;
    int dpi;
    DWORD ticks;  // read once per frame
    RECT damage;
};

// n DIPs in device pixels for this frame.
inline int dip(const PaintFrame* f, int n) {
    return MulDiv(n, f->dpi, 96);
}

// Around one frame: afterwards the DC has its own font back.
void paint_frame_begin(const PaintFrame* f);
void paint_frame_end(const PaintFrame* f);

// Draws text unless its rectangle lies outside the current clip.
void paint_text(const PaintFrame* f, HFONT font, const wchar_t* text, RECT r, COLORREF color, UINT format);
// One icon glyph, as text in the icon face or as drawn shapes where that face is missing.
void paint_glyph(const PaintFrame* f, HFONT font, const wchar_t* glyph, RECT r, COLORREF color);
// draw_icon_button within a frame.
void paint_icon_button(const PaintFrame* f, RECT rect, int element_id, const wchar_t* glyph, COLORREF text_color,
                       int show_dot);
// After GDI calls made outside paint_text (buttons, the cover picture): what they left
// selected is what the next text starts from.
void paint_gdi_touched(const PaintFrame* f);

// Narrows GDI's clip and the pixel clip together to region (within the damage); pop_clip
// widens both back to the damage.
void push_clip(const PaintFrame* f, RECT region);
void pop_clip(const PaintFrame* f);

int rects_meet(const RECT* a, const RECT* b);
RECT inset_rect(RECT r, int dx, int dy);

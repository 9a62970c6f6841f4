#pragma once
// Icon glyphs of the Windows icon fonts ("Segoe Fluent Icons", "Segoe MDL2 Assets"), and the
// same pictures drawn as anti-aliased shapes where neither font is installed (Wine, Windows 7
// and 8 show empty boxes for the private-use code points). Main thread only.
#include <windows.h>

#include "ui/draw.h"

// Draws one icon glyph into rect with DrawTextW placement `format` (DT_SINGLELINE with
// DT_CENTER/DT_VCENTER, or the left/right/top/bottom variants) in `color`. With an icon face
// installed this is exactly SetBkMode transparent, select font, SetTextColor, c->gdi_dirty = 1,
// DrawTextW(dc, glyph, -1, &rect, format) and the old font back. Without one the glyph is drawn
// as shapes sized from the font's pixel height and placed where the text would be.
void draw_icon_glyph(Canvas* c, HDC dc, HFONT font, const wchar_t* glyph, RECT rect, COLORREF color, UINT format);

// The shapes of one glyph in an em square of em_px pixels centred on (cx, cy), never outside
// that square nor c->clip. Unknown code points draw nothing.
void draw_glyph_shape(Canvas* c, wchar_t glyph, int em_px, float cx, float cy, COLORREF color);

// 1 when neither icon face is installed; decided once, after the font probe (0 before it).
int icon_glyphs_as_shapes(void);

// Tests only: 1 draws shapes, 0 draws text whatever is installed, negative follows the probe.
void icon_glyphs_force_shapes(int on);

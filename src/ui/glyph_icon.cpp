#include "ui/glyph_icon.h"

#include <stdlib.h>
#include <string.h>

#include "ui/draw.h"
#include "ui/glyphs.h"

void glyph_icon_pixels(wchar_t glyph, int size, unsigned* out) {
    for (int i = 0; i < size * size; i++) out[i] = 0xFF000000u;
    Canvas c = {out, size, size, RECT{0, 0, size, size}, 0};
    draw_glyph_shape(&c, glyph, size, size / 2.0f, size / 2.0f, RGB(255, 255, 255));
    // White drawn on black: the brightness is the coverage, which becomes the alpha.
    for (int i = 0; i < size * size; i++) {
        unsigned v = out[i] & 0xFF;
        out[i] = (v << 24) | (v << 16) | (v << 8) | v;
    }
}

HICON make_glyph_icon(wchar_t glyph, int size) {
    if (size <= 0 || size > 256) return nullptr;
    BITMAPV5HEADER h = {};
    h.bV5Size = sizeof h;
    h.bV5Width = size;
    h.bV5Height = -size;
    h.bV5Planes = 1;
    h.bV5BitCount = 32;
    h.bV5Compression = BI_BITFIELDS;
    h.bV5RedMask = 0x00FF0000;
    h.bV5GreenMask = 0x0000FF00;
    h.bV5BlueMask = 0x000000FF;
    h.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP color = CreateDIBSection(screen, (BITMAPINFO*)&h, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    HICON icon = nullptr;
    if (color && mask && bits) {
        glyph_icon_pixels(glyph, size, (unsigned*)bits);
        ICONINFO info = {TRUE, 0, 0, mask, color};
        icon = CreateIconIndirect(&info);
    }
    if (color) DeleteObject(color);
    if (mask) DeleteObject(mask);
    return icon;
}

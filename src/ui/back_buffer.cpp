#include "ui/back_buffer.h"

#include "ui/draw.h"
#include "ui/main_paint.h"

int ensure_back_buffer(BackBuffer* b, HDC reference, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    if (b->dc && b->width == width && b->height == height) return 0;
    release_back_buffer(b);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HDC dc = CreateCompatibleDC(reference);
    if (!dc) return 0;
    HBITMAP bitmap = CreateDIBSection(reference, &bi, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap || !pixels) {
        if (bitmap) DeleteObject(bitmap);
        DeleteDC(dc);
        return 0;
    }
    b->dc = dc;
    b->bitmap = bitmap;
    b->old_bitmap = (HBITMAP)SelectObject(dc, bitmap);
    b->pixels = (unsigned*)pixels;
    b->width = width;
    b->height = height;
    g_canvas = {b->pixels, width, height, RECT{0, 0, width, height}, 0};
    return 1;
}

void release_back_buffer(BackBuffer* b) {
    if (b->dc) {
        SelectObject(b->dc, b->old_bitmap);
        DeleteDC(b->dc);
    }
    if (b->bitmap) DeleteObject(b->bitmap);
    b->dc = nullptr;
    b->bitmap = nullptr;
    b->old_bitmap = nullptr;
    b->pixels = nullptr;
    b->width = 0;
    b->height = 0;
    g_canvas.bits = nullptr;
}

void paint_into_back_buffer(BackBuffer* b, RECT client, RECT damage) {
    HDC buffer = b->dc;
    int saved = SaveDC(buffer);
    IntersectClipRect(buffer, damage.left, damage.top, damage.right, damage.bottom);
    g_canvas.clip = damage;
    g_canvas.gdi_dirty = 0;
    paint_main_window(buffer, client, damage);
    if (g_canvas.gdi_dirty) GdiFlush();
    g_canvas.gdi_dirty = 0;
    RestoreDC(buffer, saved);
}

#include "ui/blur.h"

void dim_pixels(Canvas* c, RECT area, int amount) {
    RECT work;
    if (amount <= 0 || !canvas_begin_shape(c, area, &work)) return;
    unsigned keep = (unsigned)(256 - (amount > 256 ? 256 : amount));
    for (int y = work.top; y < work.bottom; y++) {
        unsigned* row = c->bits + (size_t)y * c->width;
        for (int x = work.left; x < work.right; x++) {
            unsigned p = row[x];
            unsigned r = (((p >> 16) & 0xFF) * keep) >> 8, g = (((p >> 8) & 0xFF) * keep) >> 8, b = ((p & 0xFF) * keep) >> 8;
            row[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
}

// One line of n pixels spaced step apart, blurred in place through a copy of the line.
static void blur_line(unsigned* first, int n, int step, unsigned* copy) {
    for (int i = 0; i < n; i++) copy[i] = first[(size_t)i * step];
    unsigned sr = 0, sg = 0, sb = 0;
    // The window around pixel 0: eleven copies of it (itself and the ten repeated before
    // the edge) and the next ten.
    for (int k = -BLUR_RADIUS; k <= BLUR_RADIUS; k++) {
        unsigned p = copy[k < 0 ? 0 : (k >= n ? n - 1 : k)];
        sr += (p >> 16) & 0xFF, sg += (p >> 8) & 0xFF, sb += p & 0xFF;
    }
    for (int i = 0; i < n; i++) {
        unsigned r = (sr * 3121) >> 16, g = (sg * 3121) >> 16, b = (sb * 3121) >> 16;
        first[(size_t)i * step] = 0xFF000000u | (r << 16) | (g << 8) | b;
        int out = i - BLUR_RADIUS, in = i + BLUR_RADIUS + 1;
        unsigned po = copy[out < 0 ? 0 : out], pi = copy[in >= n ? n - 1 : in];
        sr += ((pi >> 16) & 0xFF) - ((po >> 16) & 0xFF);
        sg += ((pi >> 8) & 0xFF) - ((po >> 8) & 0xFF);
        sb += (pi & 0xFF) - (po & 0xFF);
    }
}

void box_blur(Canvas* c, RECT area) {
    RECT work;
    if (!canvas_begin_shape(c, area, &work)) return;
    int w = work.right - work.left, h = work.bottom - work.top;
    if (w < 3 || h < 3 || w > BLUR_MAX_SIDE || h > BLUR_MAX_SIDE) return;
    static unsigned copy[BLUR_MAX_SIDE];
    for (int y = work.top; y < work.bottom; y++) blur_line(c->bits + (size_t)y * c->width + work.left, w, 1, copy);
    for (int x = work.left; x < work.right; x++) blur_line(c->bits + (size_t)work.top * c->width + x, h, c->width, copy);
}

// Each pixel routine against a plain reference of its formula, pixel for pixel: the fast
// paths (interior spans, opaque stores, the gradient table) must not change a single value.
#include <gtest/gtest.h>

#include <math.h>

#include <random>
#include <vector>

#include "ui/draw.h"

namespace {

const int W = 96, H = 72;

struct Picture {
    std::vector<unsigned> px;
    Canvas canvas;
    Picture(unsigned seed, RECT clip) : px(W * H) {
        std::mt19937 rng(seed);
        for (unsigned& p : px) p = 0xFF000000u | (rng() & 0xFFFFFF);
        canvas = {px.data(), W, H, clip, 0};
    }
};

// Reference blend and coverage, written out per pixel as the formulas read.
unsigned ref_blend(unsigned d, int r, int g, int b, int a) {
    if (a <= 0) return d;
    if (a >= 256) return 0xFF000000u | (r << 16) | (g << 8) | b;
    int dr = (d >> 16) & 255, dg = (d >> 8) & 255, db = d & 255;
    return 0xFF000000u | (((r * a + dr * (256 - a)) >> 8) << 16) | (((g * a + dg * (256 - a)) >> 8) << 8) |
           ((b * a + db * (256 - a)) >> 8);
}

int ref_weight(int a) { return (a * 256 + 127) / 255; }

float ref_clamp(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

float ref_distance(int x, int y, RECT rc, int radius, float* out_dx, float* out_dy, float* out_r) {
    float hw = (rc.right - rc.left) / 2.0f, hh = (rc.bottom - rc.top) / 2.0f;
    float r = fmaxf(0, fminf((float)radius, fminf(hw, hh)));
    float dx = fabsf(x + 0.5f - (rc.left + hw)) - (hw - r);
    float dy = fabsf(y + 0.5f - (rc.top + hh)) - (hh - r);
    float d = (dx <= 0 && dy <= 0) ? fmaxf(dx, dy) : sqrtf(fmaxf(dx, 0) * fmaxf(dx, 0) + fmaxf(dy, 0) * fmaxf(dy, 0));
    if (out_dx) *out_dx = dx, *out_dy = dy, *out_r = r;
    return d - r;
}

bool inside(RECT clip, int x, int y) {
    return x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
}

void ref_round_rect(std::vector<unsigned>& px, RECT clip, RECT rc, int radius, COLORREF fill, int fa, COLORREF border,
                    int ba) {
    for (int y = rc.top; y < rc.bottom; y++)
        for (int x = rc.left; x < rc.right; x++) {
            if (!inside(clip, x, y) || x < 0 || y < 0 || x >= W || y >= H) continue;
            unsigned& p = px[y * W + x];
            float s = ref_distance(x, y, rc, radius, nullptr, nullptr, nullptr);
            if (fa == 255 && radius <= 0 && ba == 0) s = -10;  // the plain fill: every pixel
            if (s >= 0.65f) continue;
            float c = ref_clamp(0.5f - s);
            if (ba == 0) {
                p = ref_blend(p, GetRValue(fill), GetGValue(fill), GetBValue(fill), (int)(c * ref_weight(fa)));
                continue;
            }
            float i = ref_clamp(0.5f - (s + 1.1f)), ring = c - i;
            if (i > 0) p = ref_blend(p, GetRValue(fill), GetGValue(fill), GetBValue(fill), (int)(i * ref_weight(fa)));
            if (ring > 0)
                p = ref_blend(p, GetRValue(border), GetGValue(border), GetBValue(border), (int)(ring * ref_weight(ba)));
        }
}

RECT random_rect(std::mt19937& rng) {
    int l = (int)(rng() % (W + 20)) - 10, t = (int)(rng() % (H + 20)) - 10;
    return RECT{l, t, l + 1 + (int)(rng() % 60), t + 1 + (int)(rng() % 40)};
}

}  // namespace

TEST(Draw, RoundRectMatchesTheFormulaEverywhere) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; round++) {
        RECT clip = round % 3 ? RECT{(LONG)(rng() % 30), (LONG)(rng() % 20), W - (LONG)(rng() % 30), H - (LONG)(rng() % 20)}
                              : RECT{0, 0, W, H};
        RECT rc = random_rect(rng);
        int radius = (int)(rng() % 40) - 4;
        int fa = round % 5 == 0 ? 255 : (int)(rng() % 256), ba = round % 4 == 0 ? 0 : (int)(rng() % 256);
        if (round % 7 == 0) radius = 0, fa = 255, ba = 0;
        COLORREF fill = rng() & 0xFFFFFF, border = rng() & 0xFFFFFF;
        Picture pic(round, clip);
        std::vector<unsigned> expected = pic.px;
        fill_round_rect(&pic.canvas, rc, radius, fill, fa, border, ba);
        ref_round_rect(expected, clip, rc, radius, fill, fa, border, ba);
        ASSERT_EQ(pic.px, expected) << "round " << round << " rect " << rc.left << "," << rc.top << "," << rc.right
                                    << "," << rc.bottom << " radius " << radius << " alphas " << fa << "/" << ba;
    }
}

TEST(Draw, CircleMatchesTheFormula) {
    std::mt19937 rng(99);
    for (int round = 0; round < 300; round++) {
        RECT clip = round % 2 ? RECT{10, 5, 80, 60} : RECT{0, 0, W, H};
        float cx = (rng() % 1200) / 10.0f - 10, cy = (rng() % 900) / 10.0f - 10, radius = (rng() % 300) / 10.0f;
        int alpha = (int)(rng() % 256);
        COLORREF color = rng() & 0xFFFFFF;
        Picture pic(round + 1000, clip);
        std::vector<unsigned> expected = pic.px;
        fill_circle(&pic.canvas, cx, cy, radius, color, alpha);
        if (alpha > 0 && radius > 0)
            for (int y = 0; y < H; y++)
                for (int x = 0; x < W; x++) {
                    if (!inside(clip, x, y)) continue;
                    float s = sqrtf((x + 0.5f - cx) * (x + 0.5f - cx) + (y + 0.5f - cy) * (y + 0.5f - cy)) - radius;
                    if (s >= 0.65f) continue;
                    unsigned& p = expected[y * W + x];
                    p = ref_blend(p, GetRValue(color), GetGValue(color), GetBValue(color),
                                  (int)(ref_clamp(0.5f - s) * ref_weight(alpha)));
                }
        ASSERT_EQ(pic.px, expected) << "round " << round;
    }
}

TEST(Draw, GradientMatchesTheFormula) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; round++) {
        RECT clip = round % 2 ? RECT{5, 5, 90, 66} : RECT{0, 0, W, H};
        RECT rc = random_rect(rng);
        int radius = (int)(rng() % 30);
        Picture pic(round + 2000, clip);
        std::vector<unsigned> expected = pic.px;
        fill_accent_gradient(&pic.canvas, rc, radius);
        int width = rc.right - rc.left;
        for (int y = rc.top; y < rc.bottom; y++)
            for (int x = rc.left; x < rc.right; x++) {
                if (!inside(clip, x, y) || x < 0 || y < 0 || x >= W || y >= H) continue;
                float t = ref_clamp((x - rc.left) / (float)(width < 2 ? 1 : width - 1));
                float k = t <= 0.5f ? 2 * t : 2 * t - 1;
                int r = t <= 0.5f ? (int)(255 - 15 * k) : (int)(240 - 101 * k);
                int g = t <= 0.5f ? (int)(146 - 78 * k) : (int)(68 - 15 * k);
                int b = t <= 0.5f ? (int)(92 + 92 * k) : (int)(184 + 71 * k);
                float dx, dy, rr;
                float s = ref_distance(x, y, rc, radius, &dx, &dy, &rr);
                unsigned& p = expected[y * W + x];
                if (dx <= rr - 0.6f && dy <= -0.6f) {
                    p = ref_blend(p, r, g, b, 256);
                } else if (0.5f - s > 0) {
                    p = ref_blend(p, r, g, b, (int)(fminf(1, 0.5f - s) * 256));
                }
            }
        ASSERT_EQ(pic.px, expected) << "round " << round;
    }
}

TEST(Draw, EdgeCases) {
    RECT all = {0, 0, W, H};
    // Opaque, square and borderless: exactly the rectangle.
    Picture plain(1, all);
    std::vector<unsigned> before = plain.px;
    fill_round_rect(&plain.canvas, RECT{10, 10, 20, 15}, 0, RGB(1, 2, 3), 255, 0, 0);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            bool in = x >= 10 && x < 20 && y >= 10 && y < 15;
            ASSERT_EQ(plain.px[y * W + x], in ? 0xFF010203u : before[y * W + x]) << x << "," << y;
        }
    // A radius over half the shorter side makes a circle of that half.
    Picture a(2, all), b(2, all);
    fill_round_rect(&a.canvas, RECT{30, 30, 50, 50}, 50, RGB(200, 10, 10), 255, 0, 0);
    fill_round_rect(&b.canvas, RECT{30, 30, 50, 50}, 10, RGB(200, 10, 10), 255, 0, 0);
    EXPECT_EQ(a.px, b.px);
    // Nothing without bits, with an empty rect, with radius 0 or alpha 0 circles.
    Picture none(3, all);
    before = none.px;
    fill_round_rect(&none.canvas, RECT{10, 10, 10, 20}, 3, RGB(9, 9, 9), 255, 0, 0);
    fill_circle(&none.canvas, 20, 20, 0, RGB(9, 9, 9), 255);
    fill_circle(&none.canvas, 20, 20, 5, RGB(9, 9, 9), 0);
    fill_round_rect(&none.canvas, RECT{200, 200, 300, 300}, 3, RGB(9, 9, 9), 255, 0, 0);
    EXPECT_EQ(none.px, before);
    Canvas empty = {nullptr, W, H, all, 0};
    fill_round_rect(&empty, RECT{0, 0, 10, 10}, 2, RGB(1, 1, 1), 255, 0, 0);
    // A 1 px wide gradient takes the first stop.
    Picture g(4, all);
    fill_accent_gradient(&g.canvas, RECT{5, 5, 6, 30}, 0);
    EXPECT_EQ(g.px[10 * W + 5], 0xFFFF925Cu);
    EXPECT_EQ(accent_gradient_color(0.5f), RGB(240, 68, 184));
    EXPECT_EQ(accent_gradient_color(1), RGB(139, 53, 255));
    // Weights: 255 is exactly opaque, 0 leaves the pixel.
    EXPECT_EQ(alpha_weight(255), 256);
    EXPECT_EQ(alpha_weight(0), 0);
    EXPECT_EQ(alpha_weight(128), 129);
    EXPECT_EQ(blend_pixel(0xFF000000u, RGB(255, 255, 255), 128), 0xFF7F7F7Fu);
}

TEST(Draw, ShapesDrawOverGdiText) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    Canvas c = {(unsigned*)bits, W, H, RECT{0, 0, W, H}, 0};
    RECT r = {0, 0, W, H};
    FillRect(dc, &r, (HBRUSH)GetStockObject(BLACK_BRUSH));
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    c.gdi_dirty = 1;
    DrawTextW(dc, L"WWWW", -1, &r, DT_SINGLELINE | DT_TOP | DT_LEFT);
    fill_round_rect(&c, RECT{60, 40, 90, 70}, 4, RGB(0, 0, 255), 255, 0, 0);
    EXPECT_EQ(c.gdi_dirty, 0);
    GdiFlush();
    int lit = 0;
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 50; x++) lit += (((unsigned*)bits)[y * W + x] & 0xFFFFFF) != 0;
    EXPECT_GT(lit, 10) << "the text stays under the later shape";
    EXPECT_EQ(((unsigned*)bits)[55 * W + 75] & 0xFFFFFF, 0x0000FFu);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

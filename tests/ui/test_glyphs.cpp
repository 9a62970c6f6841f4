// The icon glyphs drawn as shapes: where they may draw, that each picture is its own and
// faces the right way, and that the drawing helper keeps the font path when it is asked to.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <vector>

#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/glyph_icon.h"
#include "ui/glyphs.h"

namespace {

struct Glyph {
    wchar_t code;
    const char* name;
};

const Glyph GLYPHS[] = {
    {0xE700, "menu"},      {0xE721, "search"},     {0xE711, "close"},     {0xE716, "friends"},
    {0xE768, "play"},      {0xE769, "pause"},      {0xE712, "more"},      {0xE892, "previous"},
    {0xE893, "next"},      {0xE8B1, "shuffle"},    {0xE8EE, "repeat all"}, {0xE8ED, "repeat one"},
    {0xE767, "volume"},    {0xE993, "volume low"}, {0xE74F, "muted"},     {0xEC4F, "music note"},
    {0xE73E, "check"},     {0xE8B7, "folder"},     {0xE896, "download"},  {0xE8E5, "open file"},
    {0xE74E, "save"},      {0xE74D, "delete"},     {0xE72C, "refresh"},   {0xE72B, "back"},
};

const int EMS[] = {8, 13, 16, 20, 30, 60};

// A black picture with a guard row above and below, so that a write past either end of the
// canvas shows.
struct Picture {
    int w, h;
    std::vector<unsigned> px;
    Canvas canvas;
    Picture(int width, int height) : w(width), h(height), px((size_t)width * (height + 2), 0xFF000000u) {
        canvas = {px.data() + width, width, height, RECT{0, 0, width, height}, 0};
    }
    // The red channel: with white drawn on black, the coverage 0..255.
    int at(int x, int y) const { return (int)((px[(size_t)(y + 1) * w + x] >> 16) & 0xFF); }
    bool guards_clean() const {
        for (int x = 0; x < w; x++)
            if (px[x] != 0xFF000000u || px[(size_t)(h + 1) * w + x] != 0xFF000000u) return false;
        return true;
    }
    std::vector<int> coverage() const {
        std::vector<int> out((size_t)w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) out[(size_t)y * w + x] = at(x, y);
        return out;
    }
};

const COLORREF WHITE = RGB(255, 255, 255);

std::vector<int> draw_alone(wchar_t code, int em) {
    Picture p(em + 8, em + 8);
    draw_glyph_shape(&p.canvas, code, em, (em + 8) / 2.0f, (em + 8) / 2.0f, WHITE);
    return p.coverage();
}

// Column (or row) sums of a coverage picture of side n.
std::vector<int> profile(const std::vector<int>& cov, int n, bool columns) {
    std::vector<int> out(n, 0);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) out[columns ? x : y] += cov[(size_t)y * n + x];
    return out;
}

struct Stretch {
    int first, last;  // inclusive
};

// Stretches of lines that carry ink, split by lines that carry almost none.
std::vector<Stretch> runs(const std::vector<int>& line_sums) {
    std::vector<Stretch> out;
    for (int i = 0; i < (int)line_sums.size(); i++) {
        if (line_sums[i] <= 40) continue;
        if (!out.empty() && out.back().last == i - 1) out.back().last = i;
        else out.push_back(Stretch{i, i});
    }
    return out;
}

// Non-increasing from its first peak onwards, allowing for anti-aliasing wobble.
bool falls_after_peak(const std::vector<int>& sums, int first, int last) {
    int peak = first;
    for (int i = first; i <= last; i++)
        if (sums[i] > sums[peak]) peak = i;
    if ((peak - first) * 4 > (last - first + 1)) return false;
    for (int i = peak + 1; i <= last; i++)
        if (sums[i] > sums[i - 1] + 128) return false;
    return sums[last] * 3 < sums[peak];
}

}  // namespace

TEST(Glyphs, EveryGlyphDrawsInsideItsEmBoxAndTheClip) {
    for (const Glyph& g : GLYPHS)
        for (int em : EMS)
            for (float offset : {0.0f, 0.5f, 0.3f}) {
                const int side = 80;
                float cx = 40 + offset, cy = 39 - offset;
                int left = (int)floorf(cx - em / 2.0f), right = (int)ceilf(cx + em / 2.0f);
                int top = (int)floorf(cy - em / 2.0f), bottom = (int)ceilf(cy + em / 2.0f);
                Picture full(side, side);
                draw_glyph_shape(&full.canvas, g.code, em, cx, cy, WHITE);
                int lit = 0;
                for (int y = 0; y < side; y++)
                    for (int x = 0; x < side; x++) {
                        if (!full.at(x, y)) continue;
                        lit++;
                        ASSERT_TRUE(x >= left && x < right && y >= top && y < bottom)
                            << g.name << " em " << em << " offset " << offset << " draws at " << x << "," << y;
                    }
                EXPECT_GT(lit, em / 2) << g.name << " em " << em;

                // Whole pixels further on, the picture is the same, moved.
                Picture moved(side, side);
                draw_glyph_shape(&moved.canvas, g.code, em, cx + 7, cy + 5, WHITE);
                for (int y = 0; y + 5 < side; y++)
                    for (int x = 0; x + 7 < side; x++)
                        ASSERT_EQ(moved.at(x + 7, y + 5), full.at(x, y)) << g.name << " em " << em << " moved, at " << x << "," << y;

                // A clip inside the glyph cuts it without changing what is left.
                RECT clip = {left + em / 4, top + em / 3, right - em / 3, bottom - em / 4};
                Picture part(side, side);
                part.canvas.clip = clip;
                draw_glyph_shape(&part.canvas, g.code, em, cx, cy, WHITE);
                for (int y = 0; y < side; y++)
                    for (int x = 0; x < side; x++) {
                        bool in = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
                        ASSERT_EQ(part.at(x, y), in ? full.at(x, y) : 0)
                            << g.name << " em " << em << " clipped, at " << x << "," << y;
                    }
            }
    // Hanging over the canvas corners: only the canvas is written.
    for (const Glyph& g : GLYPHS)
        for (float c : {2.0f, 30.0f}) {
            Picture p(32, 32);
            draw_glyph_shape(&p.canvas, g.code, 30, c, c, WHITE);
            EXPECT_TRUE(p.guards_clean()) << g.name << " at " << c;
        }
}

TEST(Glyphs, EachGlyphHasItsOwnPicture) {
    for (int em : {13, 16, 20, 30}) {
        std::vector<std::vector<int>> pictures;
        for (const Glyph& g : GLYPHS) pictures.push_back(draw_alone(g.code, em));
        for (size_t a = 0; a < pictures.size(); a++)
            for (size_t b = a + 1; b < pictures.size(); b++) {
                long diff = 0;
                for (size_t i = 0; i < pictures[a].size(); i++) diff += labs((long)pictures[a][i] - pictures[b][i]);
                // At least a few whole pixels apart, not only anti-aliasing.
                EXPECT_GT(diff, 4 * 255) << GLYPHS[a].name << " and " << GLYPHS[b].name << " at em " << em;
            }
    }
}

TEST(Glyphs, UnknownCodePointsAndEmptyCallsDrawNothing) {
    Picture p(40, 40);
    for (wchar_t code : {(wchar_t)0, (wchar_t)L'A', (wchar_t)0xE000, (wchar_t)0xE701, (wchar_t)0xE8EF,
                         (wchar_t)0xF8FF, (wchar_t)0xFFFF})
        draw_glyph_shape(&p.canvas, code, 20, 20, 20, WHITE);
    draw_glyph_shape(&p.canvas, 0xE768, 0, 20, 20, WHITE);
    draw_glyph_shape(&p.canvas, 0xE768, -16, 20, 20, WHITE);
    p.canvas.clip = RECT{10, 10, 10, 30};
    draw_glyph_shape(&p.canvas, 0xE768, 20, 20, 20, WHITE);
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 40; x++) ASSERT_EQ(p.at(x, y), 0) << x << "," << y;
    Canvas no_bits = {nullptr, 40, 40, RECT{0, 0, 40, 40}, 0};
    draw_glyph_shape(&no_bits, 0xE768, 20, 20, 20, WHITE);
    draw_glyph_shape(nullptr, 0xE768, 20, 20, 20, WHITE);
}

TEST(Glyphs, PicturesHaveTheirShape) {
    for (int em : {13, 16, 20, 30, 60}) {
        int n = em + 8;
        std::vector<int> play = profile(draw_alone(0xE768, em), n, true);
        std::vector<Stretch> r = runs(play);
        ASSERT_EQ(r.size(), 1u) << "play, em " << em;
        EXPECT_TRUE(falls_after_peak(play, r[0].first, r[0].last)) << "play points right, em " << em;

        std::vector<Stretch> pause = runs(profile(draw_alone(0xE769, em), n, true));
        ASSERT_EQ(pause.size(), 2u) << "pause has two bars, em " << em;
        EXPECT_LT(pause[0].last, n / 2) << em;
        EXPECT_GE(pause[1].first, n / 2) << em;
        int w0 = pause[0].last - pause[0].first, w1 = pause[1].last - pause[1].first;
        EXPECT_LE(abs(w0 - w1), 1) << "pause bars alike, em " << em;

        EXPECT_EQ(runs(profile(draw_alone(0xE700, em), n, false)).size(), 3u) << "menu has three bars, em " << em;
        EXPECT_EQ(runs(profile(draw_alone(0xE712, em), n, true)).size(), 3u) << "more has three dots, em " << em;

        // Next: the triangle then the bar; previous: the bar then the triangle.
        std::vector<int> next = profile(draw_alone(0xE893, em), n, true);
        r = runs(next);
        ASSERT_EQ(r.size(), 2u) << "next, em " << em;
        EXPECT_TRUE(falls_after_peak(next, r[0].first, r[0].last)) << "next points right, em " << em;
        EXPECT_LT(r[1].last - r[1].first, r[0].last - r[0].first) << "next ends in a bar, em " << em;
        std::vector<int> previous = profile(draw_alone(0xE892, em), n, true);
        r = runs(previous);
        ASSERT_EQ(r.size(), 2u) << "previous, em " << em;
        std::vector<int> mirrored(previous.rbegin(), previous.rend());
        EXPECT_TRUE(falls_after_peak(mirrored, n - 1 - r[1].last, n - 1 - r[1].first)) << "previous points left, em "
                                                                                        << em;
        EXPECT_LT(r[0].last - r[0].first, r[1].last - r[1].first) << "previous starts with a bar, em " << em;
    }
    // As a taskbar icon: the shape is the alpha of white, premultiplied, on transparency.
    std::vector<unsigned> icon(16 * 16);
    glyph_icon_pixels(0xE769, 16, icon.data());
    EXPECT_EQ(icon[0], 0u);
    unsigned peak = 0;
    for (unsigned p : icon) {
        EXPECT_EQ(p >> 24, p & 0xFF);
        peak = p >> 24 > peak ? p >> 24 : peak;
    }
    EXPECT_GE(peak, 250u);
}

TEST(Glyphs, HelperDrawsTextOrShapes) {
    const int W = 96, H = 64;
    HDC screen = GetDC(nullptr);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dcs[2];
    HBITMAP bitmaps[2];
    HGDIOBJ olds[2];
    Canvas canvases[2];
    for (int i = 0; i < 2; i++) {
        void* bits = nullptr;
        dcs[i] = CreateCompatibleDC(screen);
        bitmaps[i] = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        olds[i] = SelectObject(dcs[i], bitmaps[i]);
        canvases[i] = {(unsigned*)bits, W, H, RECT{0, 0, W, H}, 0};
    }
    auto clear = [&]() {
        for (int i = 0; i < 2; i++) {
            GdiFlush();
            for (int k = 0; k < W * H; k++) canvases[i].bits[k] = 0xFF000000u;
            canvases[i].gdi_dirty = 0;
        }
    };
    HFONT text_font = CreateFontW(-24, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    RECT box = {8, 4, 88, 60};
    UINT centred = DT_SINGLELINE | DT_VCENTER | DT_CENTER;

    // The font path: the same pixels as the plain DrawTextW sequence, the DC as it was.
    icon_glyphs_force_shapes(0);
    clear();
    HGDIOBJ font_before = GetCurrentObject(dcs[0], OBJ_FONT);
    draw_icon_glyph(&canvases[0], dcs[0], text_font, L"Wy", box, RGB(200, 100, 50), centred);
    EXPECT_EQ(canvases[0].gdi_dirty, 1);
    EXPECT_EQ(GetCurrentObject(dcs[0], OBJ_FONT), font_before);
    EXPECT_EQ(GetBkMode(dcs[0]), TRANSPARENT);
    SetBkMode(dcs[1], TRANSPARENT);
    HGDIOBJ old_font = SelectObject(dcs[1], text_font);
    SetTextColor(dcs[1], RGB(200, 100, 50));
    RECT copy = box;
    DrawTextW(dcs[1], L"Wy", -1, &copy, centred);
    SelectObject(dcs[1], old_font);
    GdiFlush();
    int lit = 0;
    for (int k = 0; k < W * H; k++) lit += (canvases[0].bits[k] & 0xFFFFFF) != 0;
    EXPECT_GT(lit, 20);
    EXPECT_EQ(memcmp(canvases[0].bits, canvases[1].bits, W * H * 4), 0);

    // The shape path: the picture of draw_glyph_shape, sized by the font and placed as the
    // text would be, over GDI's pending drawing.
    icon_glyphs_force_shapes(1);
    struct Row {
        LONG height;
        UINT format;
        float cx, cy;
    } rows[] = {
        {-32, centred, 8 + 24 + 16, 4 + 12 + 16},
        {-21, centred, 8 + 29 + 10.5f, 4 + 17 + 10.5f},
        {24, centred, 8 + 28 + 12, 4 + 16 + 12},
        {-20, DT_SINGLELINE | DT_LEFT | DT_TOP, 8 + 10, 4 + 10},
        {-20, DT_SINGLELINE | DT_RIGHT | DT_BOTTOM, 88 - 10, 60 - 10},
        {-20, DT_RIGHT | DT_VCENTER, 88 - 10, 4 + 10},  // vertical placement needs one line
    };
    for (const Row& row : rows) {
        clear();
        HFONT font = CreateFontW(row.height, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Segoe MDL2 Assets");
        canvases[0].gdi_dirty = 1;
        draw_icon_glyph(&canvases[0], dcs[0], font, L"\xE700", box, RGB(255, 146, 92), row.format);
        EXPECT_EQ(canvases[0].gdi_dirty, 0) << row.height;
        draw_glyph_shape(&canvases[1], 0xE700, row.height < 0 ? -row.height : row.height, row.cx, row.cy,
                         RGB(255, 146, 92));
        EXPECT_EQ(memcmp(canvases[0].bits, canvases[1].bits, W * H * 4), 0) << row.height << " " << row.format;
        // The fully covered pixels carry exactly the colour asked for.
        unsigned most = 0;
        int best = -1;
        for (int k = 0; k < W * H; k++) {
            unsigned v = canvases[0].bits[k];
            int weight = (int)((v >> 16) & 0xFF);
            if (weight > best) best = weight, most = v;
        }
        EXPECT_EQ(most, 0xFFFF925Cu) << row.height;
        DeleteObject(font);
    }
    clear();
    draw_icon_glyph(&canvases[0], dcs[0], text_font, L"W", box, WHITE, centred);
    for (int k = 0; k < W * H; k++) ASSERT_EQ(canvases[0].bits[k], 0xFF000000u) << "no shape for W";

    // The icon button goes through the helper, with the icon font's size.
    rebuild_fonts(96);
    clear();
    draw_icon_button(&canvases[0], dcs[0], RECT{10, 10, 46, 46}, 987654, L"\xE769", RGB(1, 2, 3), 0);
    LOGFONTW lf;
    GetObjectW(g_fonts.icon, sizeof lf, &lf);
    draw_glyph_shape(&canvases[1], 0xE769, -lf.lfHeight, 28, 28, RGB(1, 2, 3));
    EXPECT_EQ(memcmp(canvases[0].bits, canvases[1].bits, W * H * 4), 0);

    // Left to the probe, the shapes stand in exactly when neither icon face is installed.
    icon_glyphs_force_shapes(-1);
    EXPECT_EQ(icon_glyphs_as_shapes(), !g_font_availability.fluent_icons && !g_font_availability.mdl2_assets);
    delete_fonts();

    DeleteObject(text_font);
    for (int i = 0; i < 2; i++) {
        SelectObject(dcs[i], olds[i]);
        DeleteObject(bitmaps[i]);
        DeleteDC(dcs[i]);
    }
    ReleaseDC(nullptr, screen);
}

#include "ui/glyphs.h"

#include <math.h>
#include <stdlib.h>

#include "ui/fonts.h"

//~ The pictures

// Each picture is a short list of parts on a 16-unit grid spanning the em square, (8, 8) at
// its centre and y growing downwards, as icon fonts are drawn. Parts are united in order; a
// cut part removes what the parts before it drew. Angles are in degrees, clockwise from the
// +x axis on screen.
enum : unsigned char {
    PART_SEG,   // x0 y0 x1 y1 half: a stroke with round ends
    PART_DISC,  // cx cy r
    PART_ARC,   // cx cy r half from to: part of a circle's outline, round ends
    PART_POLY,  // count convex points, then the corner radius in v[8]
    PART_BOX,   // cx cy hw hh radius half: a rounded rectangle, its outline when half > 0
    PART_HEAD,  // x y angle length hw: an arrowhead whose base is centred on (x, y)
};

enum { MAX_PARTS = 16 };

struct GlyphPart {
    unsigned char kind;
    unsigned char cut;
    unsigned char count;
    float v[9];
};

// Half a stroke, in grid units: a little heavier than the icon fonts' hairlines so that the
// pictures still read at 13 px.
const float STROKE = 0.6f;

static constexpr GlyphPart seg(float x0, float y0, float x1, float y1, float half = STROKE) {
    return GlyphPart{PART_SEG, 0, 0, {x0, y0, x1, y1, half}};
}
static constexpr GlyphPart disc(float cx, float cy, float r) {
    return GlyphPart{PART_DISC, 0, 0, {cx, cy, r}};
}
static constexpr GlyphPart ring(float cx, float cy, float r, float half = STROKE) {
    return GlyphPart{PART_ARC, 0, 0, {cx, cy, r, half, 0, 360}};
}
static constexpr GlyphPart arc(float cx, float cy, float r, float from, float to, float half = STROKE) {
    return GlyphPart{PART_ARC, 0, 0, {cx, cy, r, half, from, to}};
}
static constexpr GlyphPart tri(float x0, float y0, float x1, float y1, float x2, float y2, float round) {
    return GlyphPart{PART_POLY, 0, 3, {x0, y0, x1, y1, x2, y2, 0, 0, round}};
}
static constexpr GlyphPart quad(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3,
                                float round) {
    return GlyphPart{PART_POLY, 0, 4, {x0, y0, x1, y1, x2, y2, x3, y3, round}};
}
static constexpr GlyphPart box(float cx, float cy, float hw, float hh, float radius) {
    return GlyphPart{PART_BOX, 0, 0, {cx, cy, hw, hh, radius, 0}};
}
static constexpr GlyphPart frame(float cx, float cy, float hw, float hh, float radius, float half = STROKE) {
    return GlyphPart{PART_BOX, 0, 0, {cx, cy, hw, hh, radius, half}};
}
static constexpr GlyphPart head(float x, float y, float angle, float length, float hw) {
    return GlyphPart{PART_HEAD, 0, 0, {x, y, angle, length, hw}};
}
static constexpr GlyphPart cut(GlyphPart p) {
    p.cut = 1;
    return p;
}

static const GlyphPart MENU[] = {seg(2, 3.5f, 14, 3.5f), seg(2, 8, 14, 8), seg(2, 12.5f, 14, 12.5f)};
static const GlyphPart SEARCH[] = {ring(9.5f, 6.5f, 4.5f), seg(6.3f, 9.7f, 2, 14, 0.75f)};
static const GlyphPart CLOSE[] = {seg(3, 3, 13, 13), seg(13, 3, 3, 13)};
static const GlyphPart FRIENDS[] = {
    ring(6, 5, 2.7f), arc(6, 15, 5, 180, 360),
    ring(11.8f, 4.5f, 2.2f), arc(11.8f, 13.5f, 3.7f, 285, 360),
};
static const GlyphPart PLAY[] = {tri(4, 2.5f, 13.5f, 8, 4, 13.5f, 1)};
static const GlyphPart PAUSE[] = {box(4.5f, 8, 1.5f, 6, 0.5f), box(11.5f, 8, 1.5f, 6, 0.5f)};
static const GlyphPart MORE[] = {disc(3, 8, 1.4f), disc(8, 8, 1.4f), disc(13, 8, 1.4f)};
static const GlyphPart PREVIOUS[] = {box(3.25f, 8, 1, 5.5f, 0.5f), tri(13.5f, 2.5f, 5.5f, 8, 13.5f, 13.5f, 1)};
static const GlyphPart NEXT[] = {box(12.75f, 8, 1, 5.5f, 0.5f), tri(2.5f, 2.5f, 10.5f, 8, 2.5f, 13.5f, 1)};
static const GlyphPart SHUFFLE[] = {
    seg(1.5f, 4.5f, 4.5f, 4.5f), seg(4.5f, 4.5f, 9, 11.5f), seg(9, 11.5f, 11.5f, 11.5f), head(11.5f, 11.5f, 0, 3.5f, 3),
    seg(1.5f, 11.5f, 4.5f, 11.5f), seg(4.5f, 11.5f, 9, 4.5f), seg(9, 4.5f, 11.5f, 4.5f), head(11.5f, 4.5f, 0, 3.5f, 3),
};
// The loop runs clockwise: along the top to the right, along the bottom to the left.
static const GlyphPart REPEAT_ALL[] = {
    frame(8, 8.5f, 6.5f, 4.5f, 3), cut(box(11.5f, 4, 1.5f, 2, 0)), head(7, 4, 0, 3.5f, 3),
    cut(box(4.5f, 13, 1.5f, 2, 0)), head(9, 13, 180, 3.5f, 3),
};
static const GlyphPart REPEAT_ONE[] = {
    frame(8, 8.5f, 6.5f, 4.5f, 3), cut(box(11.5f, 4, 1.5f, 2, 0)), head(7, 4, 0, 3.5f, 3),
};
// The speaker stays put across the three volume pictures, so that only the waves change.
static constexpr GlyphPart SPEAKER_BOX = box(2.25f, 8, 1.25f, 2.25f, 0.5f);
static constexpr GlyphPart SPEAKER_CONE = quad(3, 5.75f, 7, 2.5f, 7, 13.5f, 3, 10.25f, 0.5f);
static const GlyphPart VOLUME[] = {SPEAKER_BOX, SPEAKER_CONE, arc(7.5f, 8, 3.2f, -50, 50), arc(7.5f, 8, 6.5f, -55, 55)};
static const GlyphPart VOLUME_LOW[] = {SPEAKER_BOX, SPEAKER_CONE, arc(7.5f, 8, 3.2f, -50, 50)};
static const GlyphPart MUTED[] = {
    SPEAKER_BOX, SPEAKER_CONE, seg(9.5f, 5.5f, 14.5f, 10.5f), seg(14.5f, 5.5f, 9.5f, 10.5f),
};
static const GlyphPart MUSIC_NOTE[] = {
    disc(3.8f, 12.5f, 2.3f), disc(11.3f, 11, 2.3f), seg(5.5f, 12, 5.5f, 4), seg(13, 10.5f, 13, 2.5f),
    quad(4.9f, 3.4f, 13.6f, 1.5f, 13.6f, 4, 4.9f, 5.9f, 0),
};
static const GlyphPart CHECK[] = {seg(2, 8.5f, 6, 12.5f), seg(6, 12.5f, 14, 4.5f)};
static const GlyphPart FOLDER[] = {
    seg(1.5f, 3, 6, 3), seg(6, 3, 7.5f, 4.5f), seg(7.5f, 4.5f, 14.5f, 4.5f), seg(14.5f, 4.5f, 14.5f, 13),
    seg(14.5f, 13, 1.5f, 13), seg(1.5f, 13, 1.5f, 3), seg(1.5f, 6.5f, 14.5f, 6.5f),
};
static const GlyphPart DOWNLOAD[] = {
    seg(8, 1.5f, 8, 11), seg(4, 7, 8, 11), seg(12, 7, 8, 11), seg(2.5f, 14.5f, 13.5f, 14.5f),
};
static const GlyphPart OPEN_FILE[] = {
    seg(3, 1.5f, 9.5f, 1.5f), seg(9.5f, 1.5f, 13, 5), seg(13, 5, 13, 14.5f), seg(13, 14.5f, 3, 14.5f),
    seg(3, 14.5f, 3, 1.5f), seg(9.5f, 1.5f, 9.5f, 5), seg(9.5f, 5, 13, 5),
};
static const GlyphPart SAVE[] = {
    seg(2, 2, 11.5f, 2), seg(11.5f, 2, 14, 4.5f), seg(14, 4.5f, 14, 14), seg(14, 14, 2, 14), seg(2, 14, 2, 2),
    seg(5, 2, 5, 5.5f), seg(5, 5.5f, 10.5f, 5.5f), seg(10.5f, 5.5f, 10.5f, 2),
    seg(4.5f, 14, 4.5f, 9), seg(4.5f, 9, 11.5f, 9), seg(11.5f, 9, 11.5f, 14),
};
static const GlyphPart DELETE_BIN[] = {
    seg(2, 3.5f, 14, 3.5f), seg(6, 3.5f, 6, 1.5f), seg(6, 1.5f, 10, 1.5f), seg(10, 1.5f, 10, 3.5f),
    seg(3.5f, 3.5f, 4.5f, 14.5f), seg(4.5f, 14.5f, 11.5f, 14.5f), seg(11.5f, 14.5f, 12.5f, 3.5f),
    seg(6.5f, 6.5f, 6.5f, 12), seg(9.5f, 6.5f, 9.5f, 12),
};
// The arc ends at -80 degrees, (8.96, 2.58), where the clockwise tangent points at 10 degrees.
static const GlyphPart REFRESH[] = {arc(8, 8, 5.5f, -10, 280), head(8.96f, 2.58f, 10, 3.5f, 3)};
static const GlyphPart BACK[] = {seg(2.5f, 8, 14, 8), seg(2.5f, 8, 8, 2.5f), seg(2.5f, 8, 8, 13.5f)};

struct GlyphPicture {
    wchar_t code;
    const GlyphPart* parts;
    int count;
};

template <int N>
static constexpr GlyphPicture picture(wchar_t code, const GlyphPart (&parts)[N]) {
    return GlyphPicture{code, parts, N};
}

static const GlyphPicture PICTURES[] = {
    picture(0xE700, MENU),       picture(0xE721, SEARCH),     picture(0xE711, CLOSE),
    picture(0xE716, FRIENDS),    picture(0xE768, PLAY),       picture(0xE769, PAUSE),
    picture(0xE712, MORE),       picture(0xE892, PREVIOUS),   picture(0xE893, NEXT),
    picture(0xE8B1, SHUFFLE),    picture(0xE8EE, REPEAT_ALL), picture(0xE8ED, REPEAT_ONE),
    picture(0xE767, VOLUME),     picture(0xE993, VOLUME_LOW), picture(0xE74F, MUTED),
    picture(0xEC4F, MUSIC_NOTE), picture(0xE73E, CHECK),      picture(0xE8B7, FOLDER),
    picture(0xE896, DOWNLOAD),   picture(0xE8E5, OPEN_FILE),  picture(0xE74E, SAVE),
    picture(0xE74D, DELETE_BIN), picture(0xE72C, REFRESH),    picture(0xE72B, BACK),
};

static const GlyphPicture* find_picture(wchar_t code) {
    for (const GlyphPicture& p : PICTURES)
        if (p.code == code) return &p;
    return nullptr;
}

//~ Parts in pixels

// A part placed on the pixel grid. Polygons carry their points already moved inwards by the
// corner radius, so that the rounded outline keeps the drawn size.
struct PixelPart {
    unsigned char kind;
    unsigned char cut;
    int count;
    float v[8];
    float half;   // stroke half width, or the corner radius of a polygon or box
    float extra;  // arcs: the sweep in radians
};

static float clamp01(float v) {
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

// A stroke a whole number of pixels wide (at least one), so that straight strokes can sit
// exactly on pixel rows and columns.
static float stroke_width(float half_grid, float unit) {
    float w = 2 * half_grid * unit;
    return w < 1 ? 1 : floorf(w + 0.4f);
}

// The line of an odd width centres on a pixel centre, of an even width on a pixel edge:
// either way its edges fall between pixels and stay sharp.
static float snap_line(float v, float width) {
    return ((int)width & 1) ? floorf(v) + 0.5f : floorf(v + 0.5f);
}

static float snap_edge(float v) {
    return floorf(v + 0.5f);
}

static void inset_polygon(PixelPart* p, float r) {
    int n = p->count;
    float mx = 0, my = 0;
    for (int i = 0; i < n; i++) mx += p->v[2 * i], my += p->v[2 * i + 1];
    mx /= (float)n, my /= (float)n;
    float nx[4], ny[4];  // outward unit normal of the edge from point i to point i + 1
    for (int i = 0; i < n; i++) {
        int j = (i + 1) % n;
        float ex = p->v[2 * j] - p->v[2 * i], ey = p->v[2 * j + 1] - p->v[2 * i + 1];
        float len = sqrtf(ex * ex + ey * ey);
        if (len <= 0) len = 1;
        nx[i] = ey / len, ny[i] = -ex / len;
        float ox = (p->v[2 * i] + p->v[2 * j]) / 2 - mx, oy = (p->v[2 * i + 1] + p->v[2 * j + 1]) / 2 - my;
        if (nx[i] * ox + ny[i] * oy < 0) nx[i] = -nx[i], ny[i] = -ny[i];
    }
    float moved[8];
    for (int i = 0; i < n; i++) {
        int before = (i + n - 1) % n;
        float sx = nx[before] + nx[i], sy = ny[before] + ny[i];
        float k = 1 + nx[before] * nx[i] + ny[before] * ny[i];
        if (k < 0.1f) k = 0.1f;  // a hairpin corner; never happens with the pictures above
        moved[2 * i] = p->v[2 * i] - r * sx / k;
        moved[2 * i + 1] = p->v[2 * i + 1] - r * sy / k;
    }
    for (int i = 0; i < 2 * n; i++) p->v[i] = moved[i];
}

static const float DEGREES = 3.14159265f / 180;

// The picture's parts in pixels for an em of em_px centred on (cx, cy); returns their count.
static int place_parts(const GlyphPicture* pic, int em_px, float cx, float cy, PixelPart* out) {
    float unit = em_px / 16.0f;
    int n = 0;
    for (int i = 0; i < pic->count && n < MAX_PARTS; i++) {
        const GlyphPart* g = &pic->parts[i];
        PixelPart* p = &out[n++];
        p->kind = g->kind, p->cut = g->cut, p->count = 0, p->half = 0, p->extra = 0;
        float x = cx + (g->v[0] - 8) * unit, y = cy + (g->v[1] - 8) * unit;
        switch (g->kind) {
        case PART_SEG: {
            float w = stroke_width(g->v[4], unit);
            p->v[0] = snap_line(x, w), p->v[1] = snap_line(y, w);
            p->v[2] = snap_line(cx + (g->v[2] - 8) * unit, w), p->v[3] = snap_line(cy + (g->v[3] - 8) * unit, w);
            p->half = w / 2;
            break;
        }
        case PART_DISC:
            p->v[0] = x, p->v[1] = y, p->v[2] = g->v[2] * unit;
            break;
        case PART_ARC: {
            float w = stroke_width(g->v[3], unit);
            float from = g->v[4] * DEGREES, sweep = (g->v[5] - g->v[4]) * DEGREES, r = g->v[2] * unit;
            p->v[0] = x, p->v[1] = y, p->v[2] = r, p->v[3] = from;
            p->v[4] = x + r * cosf(from), p->v[5] = y + r * sinf(from);
            p->v[6] = x + r * cosf(from + sweep), p->v[7] = y + r * sinf(from + sweep);
            p->half = w / 2, p->extra = sweep;
            break;
        }
        case PART_POLY:
            p->count = g->count;
            for (int k = 0; k < g->count; k++) {
                p->v[2 * k] = snap_edge(cx + (g->v[2 * k] - 8) * unit);
                p->v[2 * k + 1] = snap_edge(cy + (g->v[2 * k + 1] - 8) * unit);
            }
            p->half = g->v[8] * unit;
            if (p->half > 0) inset_polygon(p, p->half);
            break;
        case PART_BOX: {
            float hw = g->v[2] * unit, hh = g->v[3] * unit, w = 0;
            float l = x - hw, t = y - hh, r = x + hw, b = y + hh;
            if (g->v[5] > 0) {
                w = stroke_width(g->v[5], unit);
                l = snap_line(l, w), t = snap_line(t, w), r = snap_line(r, w), b = snap_line(b, w);
            } else {
                l = snap_edge(l), t = snap_edge(t), r = snap_edge(r), b = snap_edge(b);
            }
            p->v[0] = (l + r) / 2, p->v[1] = (t + b) / 2, p->v[2] = (r - l) / 2, p->v[3] = (b - t) / 2;
            float radius = g->v[4] * unit;
            if (radius > p->v[2]) radius = p->v[2];
            if (radius > p->v[3]) radius = p->v[3];
            p->v[4] = radius, p->half = w / 2;
            break;
        }
        case PART_HEAD: {
            float w = stroke_width(STROKE, unit);
            float bx = snap_line(x, w), by = snap_line(y, w);
            float dx = cosf(g->v[2] * DEGREES), dy = sinf(g->v[2] * DEGREES);
            float len = g->v[3] * unit, hw = g->v[4] * unit;
            p->kind = PART_POLY, p->count = 3;
            p->v[0] = bx + dx * len, p->v[1] = by + dy * len;
            p->v[2] = bx - dy * hw, p->v[3] = by + dx * hw;
            p->v[4] = bx + dy * hw, p->v[5] = by - dx * hw;
            p->half = 0.35f * unit;
            inset_polygon(p, p->half);
            break;
        }
        }
    }
    return n;
}

//~ Distances

static float segment_distance(float px, float py, float x0, float y0, float x1, float y1) {
    float ex = x1 - x0, ey = y1 - y0, wx = px - x0, wy = py - y0;
    float ee = ex * ex + ey * ey;
    float t = ee > 0 ? clamp01((wx * ex + wy * ey) / ee) : 0;
    float dx = wx - ex * t, dy = wy - ey * t;
    return sqrtf(dx * dx + dy * dy);
}

// Signed distance to a polygon: the nearest edge, negative inside (crossing count).
static float polygon_distance(const float* v, int n, float px, float py) {
    float best = 1e30f;
    int inside = 0;
    for (int i = 0, j = n - 1; i < n; j = i++) {
        float d = segment_distance(px, py, v[2 * j], v[2 * j + 1], v[2 * i], v[2 * i + 1]);
        if (d < best) best = d;
        float yi = v[2 * i + 1], yj = v[2 * j + 1];
        if ((yi > py) != (yj > py)) {
            float cross_x = v[2 * i] + (py - yi) * (v[2 * j] - v[2 * i]) / (yj - yi);
            if (px < cross_x) inside = !inside;
        }
    }
    return inside ? -best : best;
}

static float part_distance(const PixelPart* p, float px, float py) {
    switch (p->kind) {
    case PART_SEG:
        return segment_distance(px, py, p->v[0], p->v[1], p->v[2], p->v[3]) - p->half;
    case PART_DISC: {
        float dx = px - p->v[0], dy = py - p->v[1];
        return sqrtf(dx * dx + dy * dy) - p->v[2];
    }
    case PART_ARC: {
        float dx = px - p->v[0], dy = py - p->v[1];
        float along = atan2f(dy, dx) - p->v[3];
        const float TURN = 2 * 3.14159265f;
        along = fmodf(along, TURN);
        if (along < 0) along += TURN;
        if (along <= p->extra || p->extra >= TURN - 0.001f) return fabsf(sqrtf(dx * dx + dy * dy) - p->v[2]) - p->half;
        float ax = px - p->v[4], ay = py - p->v[5], bx = px - p->v[6], by = py - p->v[7];
        float a = ax * ax + ay * ay, b = bx * bx + by * by;
        return sqrtf(a < b ? a : b) - p->half;
    }
    case PART_POLY:
        return polygon_distance(p->v, p->count, px, py) - p->half;
    case PART_BOX: {
        float r = p->v[4];
        float d = round_box_distance(fabsf(px - p->v[0]) - (p->v[2] - r), fabsf(py - p->v[1]) - (p->v[3] - r), r);
        return p->half > 0 ? fabsf(d) - p->half : d;
    }
    }
    return 1e30f;
}

//~ Drawing

// A picture's coverage over its em box, as blend weights 0..256: the same for every colour
// and for every whole-pixel position, so each size and sub-pixel offset is worked out once
// rather than on every frame.
struct GlyphMask {
    wchar_t code;
    int em_px;
    float fx, fy;  // the centre's offset from the box's top-left corner
    int width, height;
    unsigned short* weights;
};

enum { GLYPH_MASKS = 48 };
static GlyphMask g_masks[GLYPH_MASKS];
static int g_next_mask;

static void compute_mask(const GlyphPicture* pic, GlyphMask* m) {
    PixelPart parts[MAX_PARTS];
    int n = place_parts(pic, m->em_px, m->fx, m->fy, parts);
    for (int y = 0; y < m->height; y++) {
        float py = y + 0.5f;
        for (int x = 0; x < m->width; x++) {
            float px = x + 0.5f, d = 1e30f;
            for (int i = 0; i < n; i++) {
                float e = part_distance(&parts[i], px, py);
                if (parts[i].cut) {
                    if (-e > d) d = -e;
                } else if (e < d) {
                    d = e;
                }
            }
            float cover = 0.5f - d;
            m->weights[y * m->width + x] = cover <= 0 ? 0 : (cover >= 1 ? 256 : (unsigned short)(cover * 256));
        }
    }
}

static const GlyphMask* glyph_mask(const GlyphPicture* pic, int em_px, float fx, float fy, int width, int height) {
    for (const GlyphMask& m : g_masks)
        if (m.weights && m.code == pic->code && m.em_px == em_px && m.fx == fx && m.fy == fy && m.width == width &&
            m.height == height)
            return &m;
    GlyphMask* m = &g_masks[g_next_mask];
    g_next_mask = (g_next_mask + 1) % GLYPH_MASKS;
    free(m->weights);
    m->weights = (unsigned short*)malloc((size_t)width * (size_t)height * sizeof(unsigned short));
    if (!m->weights) return nullptr;
    m->code = pic->code, m->em_px = em_px, m->fx = fx, m->fy = fy, m->width = width, m->height = height;
    compute_mask(pic, m);
    return m;
}

void draw_glyph_shape(Canvas* c, wchar_t glyph, int em_px, float cx, float cy, COLORREF color) {
    if (!c || !c->bits || em_px <= 0) return;
    const GlyphPicture* pic = find_picture(glyph);
    if (!pic) return;
    float half_em = em_px / 2.0f;
    RECT em = {(LONG)floorf(cx - half_em), (LONG)floorf(cy - half_em), (LONG)ceilf(cx + half_em),
               (LONG)ceilf(cy + half_em)};
    RECT work;
    if (!canvas_begin_shape(c, em, &work)) return;
    const GlyphMask* m = glyph_mask(pic, em_px, cx - (float)em.left, cy - (float)em.top, em.right - em.left,
                                    em.bottom - em.top);
    if (!m) return;
    for (int y = work.top; y < work.bottom; y++) {
        unsigned* row = c->bits + (size_t)y * c->width;
        const unsigned short* weights = m->weights + (size_t)(y - em.top) * m->width;
        for (int x = work.left; x < work.right; x++) {
            int weight = weights[x - em.left];
            if (weight) row[x] = blend_pixel(row[x], color, weight);
        }
    }
}

//~ Choosing the path

struct GlyphMode {
    int forced;  // -1: follow the font probe
    int decided;
    int as_shapes;
};

static GlyphMode g_glyph_mode = {-1, 0, 0};

int icon_glyphs_as_shapes(void) {
    if (g_glyph_mode.forced >= 0) return g_glyph_mode.forced;
    if (!g_glyph_mode.decided) {
        if (!g_font_availability.probed) return 0;  // no fonts yet either; text is the old way
        g_glyph_mode.decided = 1;
        g_glyph_mode.as_shapes = !g_font_availability.fluent_icons && !g_font_availability.mdl2_assets;
    }
    return g_glyph_mode.as_shapes;
}

void icon_glyphs_force_shapes(int on) {
    g_glyph_mode.forced = on < 0 ? -1 : (on ? 1 : 0);
}

// The em of the icon font: the face's cell is one em tall, so a positive (cell) height is
// the em as well.
// Asking GDI costs more than drawing a small glyph, so the answers for the current font
// set are kept; a new set (another dpi) may reuse handle values, so it starts afresh.
static int font_em_px(HFONT font) {
    static HFONT known[8];
    static int em_of[8];
    static unsigned generation;
    if (generation != g_font_generation) {
        generation = g_font_generation;
        for (HFONT& k : known) k = nullptr;
    }
    for (int i = 0; i < 8; i++)
        if (known[i] == font && font) return em_of[i];
    LOGFONTW lf;
    if (!font || !GetObjectW(font, sizeof lf, &lf) || lf.lfHeight == 0) return 16;
    int em = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    for (int i = 0; i < 8; i++)
        if (!known[i]) {
            known[i] = font;
            em_of[i] = em;
            break;
        }
    return em;
}

// Where DrawTextW would put a one-em wide, one-em tall glyph: the same whole-pixel offsets.
static void glyph_centre(RECT rect, int em, UINT format, float* cx, float* cy) {
    int left = rect.left, top = rect.top;
    if (format & DT_CENTER) left = rect.left + (rect.right - rect.left - em) / 2;
    else if (format & DT_RIGHT) left = rect.right - em;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER) top = rect.top + (rect.bottom - rect.top - em) / 2;
        else if (format & DT_BOTTOM) top = rect.bottom - em;
    }
    *cx = left + em / 2.0f;
    *cy = top + em / 2.0f;
}

void draw_icon_glyph(Canvas* c, HDC dc, HFONT font, const wchar_t* glyph, RECT rect, COLORREF color, UINT format) {
    if (!icon_glyphs_as_shapes()) {
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ old = SelectObject(dc, font);
        SetTextColor(dc, color);
        c->gdi_dirty = 1;
        DrawTextW(dc, glyph, -1, &rect, format);
        SelectObject(dc, old);
        return;
    }
    if (!glyph || !glyph[0]) return;
    int em = font_em_px(font);
    float cx, cy;
    glyph_centre(rect, em, format, &cx, &cy);
    draw_glyph_shape(c, glyph[0], em, cx, cy, color);
}

// The track list: one card per visible row, the scrollbar, or the empty-library card.
#include <math.h>

#include "app/app_state.h"
#include "base/wstr.h"
#include "library/matching.h"
#include "library/track_info.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/layout.h"
#include "ui/list_geometry.h"
#include "ui/paint_parts.h"

static const RECT NO_RECT = {0, 0, 0, 0};

struct RowState {
    int index;  // the track shown
    int slot;   // its display position
    int current, playing, hovered, pressed, selected, marked;
};

static void paint_row_card(const PaintFrame* f, RECT r, const RowState* s) {
    int radius = dip(f, 11);
    RECT inset = {r.left + 2, r.top + 1, r.right - 2, r.bottom - 1};
    if (s->marked) {
        fill_round_rect(f->canvas, r, radius, RGB(38, 20, 42), 255, PALETTE_PINK, 180);
    } else if (s->current) {
        fill_round_rect(f->canvas, s->pressed ? inset : r, radius, s->pressed ? RGB(34, 20, 38) : RGB(26, 18, 28), 255,
                        PALETTE_PINK, 150);
    } else if (s->pressed) {
        fill_round_rect(f->canvas, inset, radius, PALETTE_LINE, 255, PALETTE_ORANGE, 150);
    } else if (s->hovered && g_app.sidebar_progress.value < 0.08f) {
        fill_round_rect(f->canvas, r, radius, RGB(20, 20, 20), 255, PALETTE_LINE, 120);
    } else if (s->selected) {
        fill_round_rect(f->canvas, r, radius, PALETTE_CONTROL, 200, 0, 0);
    }
}

static void paint_row_dot(const PaintFrame* f, float x, float y, const RowState* s) {
    Canvas* c = f->canvas;
    if (!s->current) {
        if (s->hovered || s->pressed) {
            fill_circle(c, x, y, scale_float(5.5f, f->dpi), PALETTE_ORANGE, 80);
            fill_circle(c, x, y, scale_float(3.5f, f->dpi), PALETTE_WHITE, 245);
        } else {
            fill_circle(c, x, y, scale_float(2.5f, f->dpi), RGB(60, 60, 70), 180);
        }
    } else if (s->playing) {
        COLORREF color = playing_dot_color(f->ticks);
        float h = playing_dot_pulse(f->ticks);
        fill_circle(c, x, y, scale_float(6.5f + 2.5f * h, f->dpi), color, (int)(70 + 45 * h));
        fill_circle(c, x, y, scale_float(4.0f, f->dpi), color, 255);
        fill_circle(c, x, y, scale_float(1.8f, f->dpi), PALETTE_WHITE, 240);
    } else {
        fill_circle(c, x, y, scale_float(5.5f, f->dpi), PALETTE_PINK, 65);
        fill_circle(c, x, y, scale_float(3.5f, f->dpi), PALETTE_ORANGE, 255);
        fill_circle(c, x, y, scale_float(1.5f, f->dpi), PALETTE_WHITE, 200);
    }
}

// One visible row of a frame, with what its texts need.
struct VisibleRow {
    int y;
    RowState s;
    RECT card;
    int cy;
    int column_end;
    RECT badge;  // empty without a badge
    RECT duration;  // empty when unknown or there is no room
    const wchar_t* title;
    wchar_t second[TRACK_TEXT_CAPACITY];
    wchar_t duration_text[16];
};

static void paint_row_shapes(const PaintFrame* f, VisibleRow* v) {
    const RowState* s = &v->s;
    RECT r = v->card;
    int cy = v->cy;
    paint_row_card(f, r, s);
    if (g_app.row_dragging && !g_app.filter.active && g_app.drop_row == s->slot)
        fill_round_rect(f->canvas, RECT{r.left + dip(f, 8), v->y, r.right - dip(f, 8), v->y + 2}, 0, PALETTE_ORANGE, 255,
                        0, 0);
    RECT number = {r.left + dip(f, 6), r.top, r.left + dip(f, 32), r.bottom};
    if (s->hovered || s->pressed)
        paint_glyph(f, g_fonts.icon_small, s->current && s->playing ? L"\uE769" : L"\uE768", number,
                    s->current && s->playing ? PALETTE_PINK : PALETTE_WHITE);
    paint_row_dot(f, (float)(r.left + dip(f, 42)), (float)cy, s);
    RECT more = {r.right - dip(f, 34), cy - dip(f, 14), r.right - dip(f, 6), cy + dip(f, 14)};
    paint_glyph(f, g_fonts.icon_small, L"\uE712", more, s->hovered ? PALETTE_WHITE : PALETTE_MUTED);
    v->column_end = more.left - dip(f, 6);
    v->duration = RECT{0, 0, 0, 0};
    if (v->duration_text[0] && f->width >= dip(f, 360)) {
        v->duration = RECT{v->column_end - dip(f, 52), r.top, v->column_end, r.bottom};
        v->column_end = v->duration.left - dip(f, 8);
    }
    v->badge = RECT{0, 0, 0, 0};
    if (s->current && f->width >= dip(f, 460)) {
        v->badge = RECT{v->column_end - dip(f, 66), cy - dip(f, 11), v->column_end, cy + dip(f, 11)};
        fill_round_rect(f->canvas, v->badge, dip(f, 11), RGB(32, 18, 30), 255, PALETTE_PINK, 160);
        v->column_end = v->badge.left - dip(f, 10);
    }
}

// The texts go row by row per kind, so that a frame switches fonts and colours a handful
// of times instead of several times a row; no text overlaps another row's shapes, so the
// picture is the same as drawing each row whole.
static void paint_row_texts(const PaintFrame* f, VisibleRow* rows, int n) {
    for (int i = 0; i < n; i++) {
        const RowState* s = &rows[i].s;
        if (s->hovered || s->pressed) continue;
        wchar_t text[16];
        wstr_format(text, 16, L"%d", s->slot + 1);
        RECT number = {rows[i].card.left + dip(f, 6), rows[i].card.top, rows[i].card.left + dip(f, 32),
                       rows[i].card.bottom};
        paint_text(f, s->current ? g_fonts.label_bold : g_fonts.small, text, number,
                   s->current ? PALETTE_ORANGE : PALETTE_MUTED, TEXT_CENTRED);
    }
    for (int i = 0; i < n; i++)
        if (rect_has_area(&rows[i].badge))
            paint_text(f, g_fonts.caption, rows[i].s.playing ? L"\u00c7ALIYOR" : L"DURAKLAT", rows[i].badge,
                       PALETTE_ORANGE, TEXT_CENTRED);
    for (int i = 0; i < n; i++) {
        VisibleRow* v = &rows[i];
        paint_text(f, g_fonts.label_bold, v->title,
                   RECT{v->card.left + dip(f, 56), v->cy - dip(f, 19), v->column_end, v->cy + dip(f, 1)},
                   v->s.current ? PALETTE_ORANGE : PALETTE_WHITE, TEXT_ELLIPSIS);
    }
    for (int i = 0; i < n; i++) {
        VisibleRow* v = &rows[i];
        paint_text(f, g_fonts.small, v->second,
                   RECT{v->card.left + dip(f, 56), v->cy + dip(f, 1), v->column_end, v->cy + dip(f, 19)},
                   v->s.hovered ? PALETTE_WHITE : PALETTE_SECONDARY, TEXT_ELLIPSIS);
    }
    for (int i = 0; i < n; i++)
        if (rect_has_area(&rows[i].duration))
            paint_text(f, g_fonts.small, rows[i].duration_text, rows[i].duration, PALETTE_SECONDARY, TEXT_RIGHT);
}

enum { ROW_BATCH = 32 };

static void paint_rows(const PaintFrame* f, int top, int clip_bottom, int shown) {
    int pitch = dip(f, ROW_HEIGHT);
    int offset = (int)lroundf(g_app.scroll_offset.value);
    int first = offset > 0 ? offset / pitch : 0;
    int playing = player_is_playing();
    // Rows above or below the damaged band cost nothing: they are skipped by arithmetic.
    int lowest = clip_bottom < f->canvas->clip.bottom ? clip_bottom : f->canvas->clip.bottom;
    static VisibleRow batch[ROW_BATCH];
    int n = 0;
    for (int i = first; i < shown; i++) {
        int y = top + dip(f, FIRST_ROW_OFFSET) + pitch * i - offset;
        if (y >= lowest) break;
        if (y + dip(f, 52) <= f->canvas->clip.top) continue;
        int index = g_app.filter.active ? g_app.filter.filtered_indices[i] : i;
        const Track* t = track_list_at(index);
        if (!t) continue;
        VisibleRow* v = &batch[n];
        RowState* s = &v->s;
        s->index = index;
        s->slot = i;
        s->current = index == g_app.current_index;
        s->playing = s->current && playing;
        s->hovered = index == g_app.hover_row;
        s->pressed = index == g_app.press_row && !g_app.row_dragging;
        s->selected = index == g_app.selected_index;
        s->marked = g_app.multi_select_mode && index < MULTI_SELECT_LIMIT && g_app.multi_selected[index];
        v->y = y;
        v->card = RECT{dip(f, 12), y, f->width - dip(f, 18), y + dip(f, 52)};
        v->cy = (v->card.top + v->card.bottom) / 2;
        v->title = t->title;
        track_second_line(t, v->second, TRACK_TEXT_CAPACITY);
        format_track_duration(v->duration_text, 16, t->duration_ms);
        paint_row_shapes(f, v);
        if (++n == ROW_BATCH) {
            paint_row_texts(f, batch, n);
            n = 0;
        }
    }
    paint_row_texts(f, batch, n);
}

static void paint_scrollbar(const PaintFrame* f, int top, int clip_bottom, int shown) {
    int limit = max_scroll(shown, top, list_bottom(f->height, f->dpi), f->dpi);
    int hot = g_app.scrollbar_hover || g_app.scroll_dragging;
    ScrollbarLayout sb = scrollbar_layout(f->width, top, clip_bottom, shown, g_app.scroll_offset.value, limit, hot,
                                          f->dpi);
    g_hit.scroll_zone = sb.shown ? sb.zone : NO_RECT;
    g_hit.scroll_thumb = sb.shown ? sb.thumb : NO_RECT;
    if (!sb.shown || !rect_has_area(&sb.thumb)) return;
    COLORREF color = g_app.scrollbar_hover ? PALETTE_ORANGE : (g_app.scroll_dragging ? RGB(90, 90, 100) : RGB(46, 46, 52));
    fill_round_rect(f->canvas, sb.thumb, (sb.thumb.right - sb.thumb.left) / 2, color, 220, 0, 0);
}

static void paint_empty_card(const PaintFrame* f, int top, int clip_bottom) {
    int m = (top + clip_bottom) / 2;
    RECT card = {dip(f, 28), m - dip(f, 58), f->width - dip(f, 28), m + dip(f, 58)};
    fill_round_rect(f->canvas, card, dip(f, 14), PALETTE_CARD, 180, PALETTE_LINE, 140);
    if (g_app.filter.text[0]) {
        paint_text(f, g_fonts.label_bold, L"E\u015fle\u015fen \u015fark\u0131 bulunamad\u0131", card, PALETTE_WHITE,
                   TEXT_CENTRED);
        return;
    }
    paint_text(f, g_fonts.heading, L"M\u00fczik Kitapl\u0131\u011f\u0131n\u0131z Haz\u0131r",
               RECT{card.left + dip(f, 16), m - dip(f, 42), card.right - dip(f, 16), m - dip(f, 12)}, PALETTE_WHITE,
               TEXT_CENTRED);
    paint_text(f, g_fonts.small,
               L"\u00dcstteki '+ \u0130ndir' d\u00fc\u011fmesiyle \u015fark\u0131 indirebilir, men\u00fcden oynatma "
               L"listesi i\u00e7e aktarabilir\nveya ses dosyalar\u0131n\u0131 do\u011frudan bu pencereye "
               L"s\u00fcr\u00fckleyebilirsiniz.",
               RECT{card.left + dip(f, 16), m - dip(f, 8), card.right - dip(f, 16), m + dip(f, 44)}, PALETTE_SECONDARY,
               DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
}

void paint_track_list(const PaintFrame* f, int top, int shown) {
    int clip_bottom = f->height - dip(f, CONTROL_BAR_HEIGHT) - dip(f, 4);
    push_clip(f, RECT{0, top, f->width, clip_bottom});
    if (shown > 0) {
        paint_rows(f, top, clip_bottom, shown);
        paint_scrollbar(f, top, clip_bottom, shown);
    } else {
        g_hit.scroll_zone = NO_RECT;
        g_hit.scroll_thumb = NO_RECT;
        paint_empty_card(f, top, clip_bottom);
    }
    pop_clip(f);
}

// The sidebar sliding in from the left over a darkened, blurred window: its frame and the
// command menu. The friends panel's own contents are drawn by the friends painter.
#include "app/app_state.h"
#include "base/wstr.h"
#include "social/friends.h"
#include "ui/blur.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/layout.h"
#include "ui/paint_friends.h"
#include "ui/list_geometry.h"
#include "ui/main_paint.h"
#include "ui/paint_parts.h"

static const RECT NO_RECT = {0, 0, 0, 0};

struct MenuRow {
    const wchar_t* glyph;
    const wchar_t* title;
    const wchar_t* subtitle;
    int accent;
};

static const MenuRow MENU_ROWS[MENU_ROW_COUNT] = {
    {L"\uE8B7", L"M\u00fczik Klas\u00f6r\u00fc Se\u00e7", L"Yerel ar\u015fivi tara", 0},
    {L"\uE896", L"M\u00fczik Ara ve \u0130ndir", L"YouTube'dan y\u00fcksek kalite", 1},
    {L"\uE716", L"Arkada\u015flar ve Jam", L"Birlikte canl\u0131 dinle", 1},
    {L"\uE8E5", L"Oynatma Listesini \u0130\u00e7e Aktar", L"Payla\u015f\u0131lan listeyi y\u00fckle ve indir", 0},
    {L"\uE74E", L"Oynatma Listesini D\u0131\u015fa Aktar", L"Arkada\u015flar\u0131nla payla\u015fmak i\u00e7in", 0},
    {L"\uE74D", L"Listeyi Temizle", L"Ekran\u0131 s\u0131f\u0131rla", 0},
    {L"\uE72C", L"G\u00fcncellemeleri Denetle", L"v1.4.3 s\u00fcr\u00fcm\u00fc", 0},
    {L"\uE8CB", L"S\u0131ralama", nullptr, 0},  // its line below says the order in use
};

static void clear_panel_rects(void) {
    for (int id = ELEMENT_PANEL_BACK; id <= ELEMENT_SEND_REQUEST; id++) g_hit.element[id] = NO_RECT;
    g_hit.jam_start_card = NO_RECT;
    g_hit.name_box_frame = NO_RECT;
    g_hit.tag_box_frame = NO_RECT;
    g_hit.panel_list = NO_RECT;
    g_hit.panel_list_max_scroll = 0;
    for (int i = 0; i < FRIEND_ROWS_MAX; i++)
        g_hit.friend_invite[i] = g_hit.friend_remove[i] = g_hit.friend_row[i] = NO_RECT;
    g_hit.friend_card = g_hit.friend_card_check = g_hit.friend_card_close = NO_RECT;
    for (int i = 0; i < REQUEST_ROWS_MAX; i++) g_hit.request_accept[i] = g_hit.request_reject[i] = NO_RECT;
}

static void paint_menu(const PaintFrame* f, int x0, int x1) {
    int pending = friend_pending_count();
    for (int row = 0; row < MENU_ROW_COUNT; row++) {
        const MenuRow* m = &MENU_ROWS[row];
        int top = dip(f, 60 + 14) + dip(f, 52) * row;
        RECT card = {x0 + dip(f, 10), top, x1 - dip(f, 10), top + dip(f, 46)};
        int hovered = g_app.hover_menu_item == row;
        int pressed = g_app.pressed_menu_item == row && !g_app.sidebar_dragging;
        int radius = dip(f, 10);
        if (pressed) {
            fill_round_rect(f->canvas, RECT{card.left + 2, card.top + 1, card.right - 2, card.bottom - 1}, radius,
                            PALETTE_LINE, 255, m->accent ? PALETTE_PINK : PALETTE_ORANGE, 175);
        } else if (hovered) {
            fill_round_rect(f->canvas, card, radius, PALETTE_CONTROL, 255, m->accent ? PALETTE_PINK : PALETTE_LINE, 175);
        } else if (m->accent) {
            fill_round_rect(f->canvas, card, radius, RGB(26, 18, 28), 155, PALETTE_PINK, 85);
        }
        COLORREF glyph_color = m->accent ? PALETTE_ORANGE : (hovered || pressed ? PALETTE_WHITE : PALETTE_SECONDARY);
        paint_glyph(f, g_fonts.icon, m->glyph, RECT{card.left + dip(f, 8), card.top, card.left + dip(f, 36), card.bottom},
                    glyph_color);
        int e = row == 2 && pending > 0 ? dip(f, 34) : dip(f, 8);
        paint_text(f, g_fonts.label_bold, m->title,
                   RECT{card.left + dip(f, 38), card.top + dip(f, 6), card.right - e, card.top + dip(f, 25)},
                   m->accent ? PALETTE_ORANGE : PALETTE_WHITE, TEXT_ELLIPSIS);
        wchar_t order[64];
        if (!m->subtitle) wstr_format(order, 64, L"%ls \u2022 de\u011fi\u015ftirmek i\u00e7in t\u0131kla", sort_mode_name(g_settings.sort));
        paint_text(f, g_fonts.caption, m->subtitle ? m->subtitle : order,
                   RECT{card.left + dip(f, 38), card.top + dip(f, 24), card.right - e, card.bottom - dip(f, 5)},
                   PALETTE_MUTED, TEXT_ELLIPSIS);
        if (row == 2 && pending > 0) {
            RECT badge = {card.right - dip(f, 30), card.top + dip(f, 13), card.right - dip(f, 10), card.bottom - dip(f, 13)};
            fill_round_rect(f->canvas, badge, dip(f, 10), PALETTE_ORANGE, 255, 0, 0);
            wchar_t count[16];
            wstr_format(count, 16, L"%d", pending);
            paint_text(f, g_fonts.caption, count, badge, PALETTE_INK, TEXT_CENTRED);
        }
    }
}

void paint_sidebar(const PaintFrame* f) {
    clear_panel_rects();
    float p = g_app.sidebar_progress.value;
    if (p <= 0.002f) return;
    if (p > 1) p = 1;
    int x0 = sidebar_left(p, f->dpi);
    int x1 = x0 + dip(f, 278);
    int top = dip(f, HEADER_HEIGHT);
    dim_pixels(f->canvas, RECT{x1 > 0 ? x1 : 0, top, f->width, f->height}, (int)(p * 118));
    int right = x1 < f->width ? x1 : f->width;
    push_clip(f, RECT{0, top, right, f->height});
    RECT panel = {x0 > 0 ? x0 : 0, top, right, f->height};
    box_blur(f->canvas, panel);
    fill_round_rect(f->canvas, RECT{x0, top, x1, f->height}, 0, PALETTE_CARD, 226, 0, 0);
    // The edge: one column at weight 236 of 256, which no byte alpha gives exactly.
    RECT edge;
    RECT column = {x1 - 1, top, x1, f->height};
    if (canvas_begin_shape(f->canvas, column, &edge)) {
        for (int y = edge.top; y < edge.bottom; y++) {
            unsigned* px = f->canvas->bits + (size_t)y * f->canvas->width + edge.left;
            *px = blend_pixel(*px, PALETTE_LINE, 236);
        }
    }
    if (g_app.sidebar_mode == 1) paint_friends_panel(f, x0, x1);
    else paint_menu(f, x0, x1);
    pop_clip(f);
}

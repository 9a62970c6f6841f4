// One frame of the main window, back to front: background, header, Jam bar, banner, the
// list, the player card, the sidebar and the invitation notice. Every clickable element's
// rectangle is recorded on the way for the mouse handling.
#include "ui/main_paint.h"

#include <math.h>

#include "app/app_state.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "library/track_order.h"
#include "social/friends.h"
#include "social/jam.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/layout.h"
#include "ui/list_geometry.h"
#include "ui/paint_common.h"
#include "ui/paint_parts.h"

static const RECT NO_RECT = {0, 0, 0, 0};

static void fill_plain(const PaintFrame* f, RECT r, COLORREF color) {
    fill_round_rect(f->canvas, r, 0, color, 255, 0, 0);
}

//~ Background and header

static void paint_background(const PaintFrame* f) {
    if (jam_state() != JAM_IN_ROOM) {
        fill_plain(f, f->damage, PALETTE_BACKGROUND);
        return;
    }
    // A dusk from plum at the top to the window colour at the bottom, one colour per row.
    int d = f->height < 3 ? 1 : f->height - 1;
    for (int y = f->damage.top; y < f->damage.bottom; y++) {
        COLORREF c = RGB(20 - 15 * y / d, 10 - 5 * y / d, 24 - 19 * y / d);
        fill_plain(f, RECT{f->damage.left, y, f->damage.right, y + 1}, c);
    }
}

static void paint_menu_button(const PaintFrame* f, RECT r) {
    int hovered = g_app.hover_id == ELEMENT_MENU, pressed = g_app.pressed_id == ELEMENT_MENU;
    if (hovered || pressed || g_app.sidebar_open) {
        RECT card = pressed ? inset_rect(r, 1, 1) : r;
        fill_round_rect(f->canvas, card, dip(f, 10), pressed ? PALETTE_LINE : PALETTE_CONTROL, 255, PALETTE_LINE, 140);
    }
    paint_glyph(f, g_fonts.icon, L"\uE700", r, g_app.sidebar_open ? PALETTE_ORANGE : PALETTE_WHITE);
    if (friend_pending_count() > 0 && !g_app.sidebar_open)
        fill_circle(f->canvas, (float)(r.right - dip(f, 6)), (float)(r.top + dip(f, 6)), (float)dip(f, 4), PALETTE_ORANGE,
                    255);
}

static void paint_search_pill(const PaintFrame* f, RECT r) {
    int focused = g_app.search_box && GetFocus() == g_app.search_box;
    fill_round_rect(f->canvas, r, dip(f, 17), PALETTE_CONTROL, 255, focused ? PALETTE_ORANGE : PALETTE_LINE,
                    focused ? 240 : 180);
    paint_glyph(f, g_fonts.icon_small, L"\uE721", RECT{r.left + dip(f, 10), r.top, r.left + dip(f, 28), r.bottom},
                focused ? PALETTE_ORANGE : PALETTE_MUTED);
    g_hit.element[ELEMENT_SEARCH_CLEAR] = NO_RECT;
    if (!g_app.filter.text[0]) return;
    RECT clear = {r.right - dip(f, 28), r.top + dip(f, 3), r.right - dip(f, 4), r.bottom - dip(f, 3)};
    g_hit.element[ELEMENT_SEARCH_CLEAR] = clear;
    paint_glyph(f, g_fonts.icon_small, L"\uE711", clear,
                g_app.hover_id == ELEMENT_SEARCH_CLEAR ? PALETTE_WHITE : PALETTE_SECONDARY);
}

static void paint_download_button(const PaintFrame* f, RECT r) {
    int hovered = g_app.hover_id == ELEMENT_DOWNLOAD, pressed = g_app.pressed_id == ELEMENT_DOWNLOAD;
    COLORREF text = PALETTE_WHITE;
    if (pressed) {
        fill_round_rect(f->canvas, inset_rect(r, 1, 1), dip(f, 17), PALETTE_LINE, 255, PALETTE_LINE, 150);
    } else if (hovered) {
        fill_round_rect(f->canvas, r, dip(f, 17), PALETTE_CONTROL, 255, PALETTE_ORANGE, 200);
        text = PALETTE_ORANGE;
    } else {
        fill_round_rect(f->canvas, r, dip(f, 17), PALETTE_CARD, 255, PALETTE_LINE, 150);
    }
    paint_text(f, g_fonts.small_bold, L"+ \u0130ndir", r, text, TEXT_CENTRED);
}

static void paint_friends_button(const PaintFrame* f, RECT r) {
    int in_room = jam_state() == JAM_IN_ROOM;
    int active = in_room || (g_app.sidebar_open && g_app.sidebar_mode == 1);
    int hovered = g_app.hover_id == ELEMENT_FRIENDS, pressed = g_app.pressed_id == ELEMENT_FRIENDS;
    RECT card = r;
    COLORREF fill = PALETTE_CARD;
    if (active) {
        fill = RGB(28, 16, 32);
    } else if (pressed) {
        fill = PALETTE_LINE;
        card = inset_rect(r, 1, 1);
    } else if (hovered) {
        fill = PALETTE_CONTROL;
    }
    fill_round_rect(f->canvas, card, dip(f, 17), fill, 255, active ? PALETTE_PINK : PALETTE_LINE, active ? 220 : 160);
    paint_glyph(f, g_fonts.icon_small, L"\uE716", RECT{r.left + dip(f, 14), r.top, r.left + dip(f, 32), r.bottom},
                active ? PALETTE_PINK : PALETTE_SECONDARY);
    wchar_t label[32];
    if (in_room) wstr_format(label, 32, L"Jam (%d)", jam_member_count() + 1);
    else wstr_copy(label, L"Arkada\u015flar");
    paint_text(f, g_fonts.small_bold, label, RECT{r.left + dip(f, 34), r.top, r.right - dip(f, 10), r.bottom},
               active ? PALETTE_PINK : PALETTE_WHITE, TEXT_LEFT);
    if (friend_pending_count() > 0)
        fill_circle(f->canvas, (float)(r.right - dip(f, 8)), (float)(r.top + dip(f, 7)), (float)dip(f, 4), PALETTE_ORANGE,
                    255);
}

static void paint_header(const PaintFrame* f) {
    int header = dip(f, HEADER_HEIGHT);
    fill_plain(f, RECT{0, 0, f->width, header}, PALETTE_CARD);
    fill_plain(f, RECT{0, header - 1, f->width, header}, PALETTE_LINE);
    HeaderLayout h = header_layout(f->width, f->dpi);
    g_hit.element[ELEMENT_MENU] = h.menu;
    paint_menu_button(f, h.menu);
    if (g_app.window_icon) {
        RECT icon = {dip(f, 56), dip(f, 17), dip(f, 56) + dip(f, 26), dip(f, 17) + dip(f, 26)};
        if (!f->canvas->bits || rects_meet(&icon, &f->canvas->clip)) {
            f->canvas->gdi_dirty = 1;
            DrawIconEx(f->dc, icon.left, icon.top, g_app.window_icon, icon.right - icon.left, icon.bottom - icon.top, 0,
                       nullptr, DI_NORMAL);
        }
    }
    paint_text(f, g_fonts.title, L"N E L V O", RECT{dip(f, 56 + 26 + 9), 0, dip(f, 56 + 26 + 140), header},
               PALETTE_WHITE, TEXT_LEFT);
    g_hit.search_box = h.search;
    paint_search_pill(f, h.search);
    g_hit.element[ELEMENT_DOWNLOAD] = h.download;
    if (rect_has_area(&h.download)) paint_download_button(f, h.download);
    g_hit.element[ELEMENT_FRIENDS] = h.friends;
    if (rect_has_area(&h.friends)) paint_friends_button(f, h.friends);
}

//~ Jam bar and banner

static void paint_progress(const PaintFrame* f, RECT track, int percent) {
    fill_round_rect(f->canvas, track, dip(f, 3), PALETTE_CONTROL, 255, 0, 0);
    int w = progress_fill_width(track.right - track.left, percent, dip(f, 6));
    if (w > 0) fill_accent_gradient(f->canvas, RECT{track.left, track.top, track.left + w, track.bottom}, dip(f, 3));
}

static void paint_jam_bar(const PaintFrame* f, int h) {
    g_hit.element[ELEMENT_JAM_LEAVE] = NO_RECT;
    g_hit.element[ELEMENT_JAM_DOWNLOAD] = NO_RECT;
    int state = jam_state();
    if (h <= dip(f, 8) || state == JAM_NONE) return;
    int top = dip(f, HEADER_HEIGHT);
    push_clip(f, RECT{0, top, f->width, top + h});
    int fetching = g_jam_fetch.running.load() != 0;
    int inviting = state == JAM_INVITING;
    COLORREF accent = inviting ? PALETTE_ORANGE : PALETTE_PINK;
    RECT card = {dip(f, 12), top + dip(f, 6), f->width - dip(f, 12), top + dip(f, fetching ? 60 : 50)};
    fill_round_rect(f->canvas, card, dip(f, 12), inviting ? RGB(32, 20, 16) : RGB(26, 14, 30), 255, accent, 200);
    float dot_x = (float)(card.left + dip(f, 20)), dot_y = (float)(card.top + dip(f, 22));
    fill_circle(f->canvas, dot_x, dot_y, (float)dip(f, 8), accent, 55);
    fill_circle(f->canvas, dot_x, dot_y, (float)dip(f, 4), accent, 255);

    RECT button = {card.right - dip(f, 74), card.top + dip(f, 8), card.right - dip(f, 10), card.top + dip(f, 36)};
    g_hit.element[ELEMENT_JAM_LEAVE] = button;
    int hovered = g_app.hover_id == ELEMENT_JAM_LEAVE;
    fill_round_rect(f->canvas, button, dip(f, 8), hovered ? RGB(56, 18, 28) : PALETTE_CONTROL, 255,
                    hovered ? PALETTE_PINK : PALETTE_LINE, 160);
    paint_text(f, g_fonts.small_bold, inviting ? L"\u0130ptal" : L"Ayr\u0131l", button,
               hovered ? PALETTE_PINK : PALETTE_WHITE, TEXT_CENTRED);

    int column_end;
    if (fetching) {
        int percent = g_jam_fetch.percent.load();
        percent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
        wchar_t text[16];
        wstr_format(text, 16, L"%%%d", percent);
        RECT pr = {button.left - dip(f, 58), card.top + dip(f, 8), button.left - dip(f, 8), card.top + dip(f, 36)};
        paint_text(f, g_fonts.label_bold, text, pr, PALETTE_ORANGE, TEXT_RIGHT);
        paint_progress(f, RECT{card.left + dip(f, 14), card.bottom - dip(f, 10), card.right - dip(f, 14),
                               card.bottom - dip(f, 5)},
                       percent);
        column_end = pr.left - dip(f, 6);
    } else if (!inviting && g_jam_wanted.track.title[0]) {
        RECT get = {button.left - dip(f, 82), card.top + dip(f, 8), button.left - dip(f, 6), card.top + dip(f, 36)};
        g_hit.element[ELEMENT_JAM_DOWNLOAD] = get;
        fill_accent_gradient(f->canvas, get, dip(f, 8));
        paint_text(f, g_fonts.small_bold, L"\u0130ndir", get, PALETTE_INK, TEXT_CENTRED);
        column_end = get.left - dip(f, 8);
    } else {
        column_end = button.left - dip(f, 10);
    }
    wchar_t line[256];
    jam_banner_text(line, 256);
    paint_text(f, g_fonts.small_bold, line, RECT{card.left + dip(f, 36), card.top + dip(f, 5), column_end,
                                                 card.top + dip(f, 23)},
               accent, TEXT_ELLIPSIS);
    wchar_t notice[128];
    jam_notice_text(notice, 128);
    paint_text(f, g_fonts.small, notice, RECT{card.left + dip(f, 36), card.top + dip(f, 22), column_end,
                                              card.top + dip(f, 41)},
               PALETTE_WHITE, TEXT_ELLIPSIS);
    pop_clip(f);
}

static void paint_banner(const PaintFrame* f, int top, int h) {
    g_hit.element[ELEMENT_BANNER_CANCEL] = NO_RECT;
    const StatusBanner* b = &g_app.banner;
    if (h <= dip(f, 8) || (b->state == BANNER_HIDDEN && g_app.banner_progress.value <= 0.02f)) return;
    push_clip(f, RECT{0, top, f->width, top + h});
    COLORREF accent = b->hide_at ? PALETTE_ORANGE : PALETTE_PINK;
    RECT card = {dip(f, 12), top + dip(f, 4), f->width - dip(f, 12), top + dip(f, 56)};
    fill_round_rect(f->canvas, card, dip(f, 12), RGB(20, 14, 24), 245, accent, 195);
    float dot_x = (float)(card.left + dip(f, 18)), dot_y = (float)(card.top + dip(f, 20));
    fill_circle(f->canvas, dot_x, dot_y, (float)dip(f, 7), accent, 55);
    fill_circle(f->canvas, dot_x, dot_y, scale_float(3.5f, f->dpi), accent, 255);

    int column_end = card.right - dip(f, 12);
    if (b->state == BANNER_SHARED && !b->hide_at && g_shared_queue.running.load()) {
        RECT cancel = {card.right - dip(f, 70), card.top + dip(f, 7), card.right - dip(f, 12), card.top + dip(f, 31)};
        g_hit.element[ELEMENT_BANNER_CANCEL] = cancel;
        COLORREF text = PALETTE_SECONDARY;
        if (g_app.pressed_id == ELEMENT_BANNER_CANCEL) {
            fill_round_rect(f->canvas, cancel, dip(f, 7), PALETTE_LINE, 255, 0, 0);
        } else if (g_app.hover_id == ELEMENT_BANNER_CANCEL) {
            fill_round_rect(f->canvas, cancel, dip(f, 7), RGB(52, 18, 28), 255, PALETTE_PINK, 160);
            text = PALETTE_PINK;
        } else {
            fill_round_rect(f->canvas, cancel, dip(f, 7), RGB(28, 22, 32), 255, PALETTE_LINE, 160);
        }
        paint_text(f, g_fonts.caption, L"\u0130ptal", cancel, text, TEXT_CENTRED);
        column_end = cancel.left - dip(f, 8);
    }
    int percent = b->percent < 0 ? 0 : (b->percent > 100 ? 100 : b->percent);
    wchar_t text[16];
    wstr_format(text, 16, L"%%%d", percent);
    RECT pr = {column_end - dip(f, 52), card.top + dip(f, 5), column_end, card.top + dip(f, 33)};
    paint_text(f, g_fonts.label_bold, text, pr, PALETTE_ORANGE, TEXT_RIGHT);
    paint_text(f, g_fonts.caption, b->title,
               RECT{card.left + dip(f, 32), card.top + dip(f, 4), pr.left - dip(f, 8), card.top + dip(f, 20)}, accent,
               TEXT_ELLIPSIS);
    paint_text(f, g_fonts.small_bold, b->subtitle,
               RECT{card.left + dip(f, 32), card.top + dip(f, 19), pr.left - dip(f, 8), card.top + dip(f, 37)},
               PALETTE_WHITE, TEXT_ELLIPSIS);
    paint_progress(f, RECT{card.left + dip(f, 12), card.bottom - dip(f, 10), card.right - dip(f, 12),
                           card.bottom - dip(f, 5)},
                   percent);
    pop_clip(f);
}

//~ Column header and the invitation notice

const wchar_t* sort_mode_name(int mode) {
    static const wchar_t* const NAMES[SORT_MODES] = {
        L"Disk s\u0131ras\u0131", L"Ba\u015fl\u0131k", L"Sanat\u00e7\u0131", L"Alb\u00fcm", L"S\u00fcre",
        L"Eklenme tarihi",
    };
    return NAMES[mode >= 0 && mode < SORT_MODES ? mode : 0];
}

// The order is chosen here: a click moves to the next one.
static void paint_sort_chip(const PaintFrame* f, int u, int l, int right) {
    wchar_t text[64];
    wstr_format(text, 64, L"\u21C5 %ls", sort_mode_name(g_settings.sort));
    RECT chip = {right - dip(f, 150), u + dip(f, 3), right, l - dip(f, 3)};
    if (chip.left < dip(f, 200)) {
        g_hit.element[ELEMENT_SORT] = RECT{0, 0, 0, 0};
        return;
    }
    g_hit.element[ELEMENT_SORT] = chip;
    int hot = g_app.hover_id == ELEMENT_SORT;
    if (hot || g_settings.sort != SORT_DISK)
        fill_round_rect(f->canvas, chip, dip(f, 8), hot ? PALETTE_CONTROL : PALETTE_CARD, 255, PALETTE_LINE, 140);
    paint_text(f, g_fonts.caption, text, chip, g_settings.sort != SORT_DISK || hot ? PALETTE_WHITE : PALETTE_MUTED,
               TEXT_CENTRED);
}

static void paint_column_header(const PaintFrame* f, int u, int l, int shown) {
    paint_text(f, g_fonts.caption, L"#", RECT{dip(f, 18), u + dip(f, 2), dip(f, 48), l}, PALETTE_MUTED, TEXT_CENTRED);
    paint_text(f, g_fonts.caption, L"PAR\u00c7A VE SANAT\u00c7I", RECT{dip(f, 68), u + dip(f, 2), f->width - dip(f, 280), l},
               PALETTE_MUTED, TEXT_LEFT);
    // A scan that takes longer than a moment says so beside the count, which grows as the
    // batches arrive; a quick one is not worth a flicker of text.
    wchar_t count[48];
    int scanning = g_app.scan_running && GetTickCount() - g_app.scan_started_tick >= SCAN_NOTICE_DELAY_MS;
    if (scanning) wstr_format(count, 48, L"TARANIYOR \u2022 %d PAR\u00c7A", shown);
    else wstr_format(count, 48, L"%d PAR\u00c7A", shown);
    paint_text(f, g_fonts.caption, count,
               RECT{f->width - dip(f, scanning ? 240 : 120), u + dip(f, 2), f->width - dip(f, 20), l}, PALETTE_MUTED,
               TEXT_RIGHT);
    paint_sort_chip(f, u, l, f->width - dip(f, scanning ? 248 : 128));
    fill_round_rect(f->canvas, RECT{dip(f, 14), l - 1, f->width - dip(f, 14), l}, 0, PALETTE_LINE, 180, 0, 0);
}

static void paint_invitation(const PaintFrame* f) {
    g_hit.element[ELEMENT_INVITE_JOIN] = NO_RECT;
    g_hit.element[ELEMENT_INVITE_CLOSE] = NO_RECT;
    if (!jam_invitation_pending()) return;
    RECT r = invitation_rect(f->width, f->dpi);
    fill_round_rect(f->canvas, r, dip(f, 14), RGB(26, 14, 30), 250, PALETTE_PINK, 230);
    fill_circle(f->canvas, (float)(r.left + dip(f, 20)), (float)(r.top + dip(f, 27)), (float)dip(f, 5), PALETTE_ORANGE,
                255);
    RECT join = {r.right - dip(f, 104), r.top + dip(f, 11), r.right - dip(f, 42), r.bottom - dip(f, 11)};
    RECT close = {r.right - dip(f, 36), r.top + dip(f, 11), r.right - dip(f, 8), r.bottom - dip(f, 11)};
    g_hit.element[ELEMENT_INVITE_JOIN] = join;
    g_hit.element[ELEMENT_INVITE_CLOSE] = close;
    fill_accent_gradient(f->canvas, join, dip(f, 9));
    paint_text(f, g_fonts.small_bold, L"Kat\u0131l", join, PALETTE_INK, TEXT_CENTRED);
    fill_round_rect(f->canvas, close, dip(f, 9), PALETTE_CONTROL, 255, PALETTE_LINE, 140);
    paint_glyph(f, g_fonts.icon_small, L"\uE711", close, PALETTE_SECONDARY);
    wchar_t name[128], text[192];
    wstr_copy(name, jam_inviter_name());
    wstr_format(text, 192, L"%ls seni Canl\u0131 Jam'e davet etti!", name);
    paint_text(f, g_fonts.label_bold, text, RECT{r.left + dip(f, 34), r.top, join.left - dip(f, 8), r.bottom},
               PALETTE_WHITE, TEXT_ELLIPSIS);
}

//~ The frame

int jam_bar_tall(void) {
    return g_jam_fetch.running.load() || jam_notice_is_progress();
}

int current_list_top(void) {
    return list_top(jam_bar_height(g_app.jam_bar_progress.value, jam_bar_tall(), g_app.dpi),
                    banner_height(g_app.banner_progress.value, g_app.dpi), g_app.dpi);
}

void paint_main_window(HDC dc, RECT client, RECT damage) {
    PaintFrame f;
    f.dc = dc;
    f.canvas = &g_canvas;
    f.width = client.right - client.left;
    f.height = client.bottom - client.top;
    f.dpi = g_app.dpi > 0 ? g_app.dpi : 96;
    f.ticks = GetTickCount();
    f.damage = damage;
    if (!IntersectRect(&f.damage, &f.damage, &client)) f.damage = RECT{0, 0, 0, 0};
    g_canvas.clip = f.damage;
    SetBkMode(dc, TRANSPARENT);
    if (!g_canvas.bits) {
        // Without a back buffer the shapes cannot be drawn; at least the ground is dark.
        HBRUSH ground = CreateSolidBrush(PALETTE_BACKGROUND);
        FillRect(dc, &f.damage, ground);
        DeleteObject(ground);
    }

    paint_frame_begin(&f);
    paint_background(&f);
    paint_header(&f);
    int jam_h = jam_bar_height(g_app.jam_bar_progress.value, jam_bar_tall(), f.dpi);
    paint_jam_bar(&f, jam_h);
    int banner_top = dip(&f, HEADER_HEIGHT) + jam_h;
    int banner_h = banner_height(g_app.banner_progress.value, f.dpi);
    paint_banner(&f, banner_top, banner_h);
    int u = banner_top + banner_h;
    int l = u + dip(&f, LIST_GAP_ABOVE);
    int shown = g_app.filter.active ? g_app.filter.filtered_count : track_list_count();
    g_hit.element[ELEMENT_SORT] = RECT{0, 0, 0, 0};
    paint_column_header(&f, u, l, shown);
    paint_track_list(&f, l, shown);
    paint_player_card(&f);
    paint_sidebar(&f);
    paint_invitation(&f);
    paint_frame_end(&f);
}

// The friends panel inside the sidebar: its header with the connection pill, the user's tag
// card, the three tabs and what each tab shows. Drawn from the friends store, the Jam state
// and the shell's state records; the rectangles the mouse handling needs are recorded.
#include "ui/paint_friends.h"

#include "app/app_state.h"
#include "base/wstr.h"
#include "net/mqtt.h"
#include "social/identity.h"
#include "social/jam.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/layout.h"
#include "ui/list_geometry.h"
#include "ui/paint_parts.h"

#define PALETTE_GREEN RGB(68, 228, 130)
#define PALETTE_FIELD RGB(24, 24, 24)
#define PALETTE_OFFLINE RGB(70, 70, 75)

enum { TAG_COPIED_SHOWN_MS = 2000 };

static const COLORREF AVATAR_PALETTE[6] = {RGB(38, 20, 52), RGB(48, 18, 40), RGB(44, 26, 20),
                                            RGB(26, 22, 40), RGB(22, 26, 36), RGB(40, 22, 32)};

//~ Decisions

int avatar_letter(const wchar_t* name, const wchar_t* tag, wchar_t out[3]) {
    const wchar_t* from = name && name[0] ? name : tag;
    out[0] = L'\u266A';
    out[1] = out[2] = 0;
    for (const wchar_t* c = from ? from : L""; *c; c++) {
        if (*c <= 0x20 || *c == L'(' || *c == L'[') continue;
        if (wstr_is_high_surrogate(c[0])) {
            if (c[1] < 0xDC00 || c[1] > 0xDFFF) continue;  // half a pair draws nothing
            out[0] = c[0];
            out[1] = c[1];
            return 2;
        }
        if (*c >= 0xDC00 && *c <= 0xDFFF) continue;
        if (*c == L'i') out[0] = L'\u0130';
        else if (*c == L'\u0131') out[0] = L'I';
        else {
            out[0] = *c;
            CharUpperBuffW(out, 1);
        }
        return 1;
    }
    return 1;
}

int avatar_palette_index(const wchar_t* name) {
    if (!name || !name[0]) return 1;
    unsigned h = 2166136261u;
    for (const wchar_t* c = name; *c; c++) {
        h ^= (unsigned)((*c | 0x20) & 0xFFFF);
        h *= 16777619u;
    }
    return (int)(h % 6);
}

// One check: what arrives in his name was signed by the key pinned for him. Two: the user
// also heard from him that the key is his.
const wchar_t* friend_key_mark(const FriendEntry* e) {
    if (!e->key[0] || e->key_changed) return L"";
    return e->key_checked ? L" \u2713\u2713" : L" \u2713";
}

void fingerprint_lines(const wchar_t* fingerprint, wchar_t* first, wchar_t* second, int capacity) {
    if (capacity <= 0) return;
    first[0] = second[0] = 0;
    if (!fingerprint || !fingerprint[0]) {
        wstr_copy(first, capacity, L"\u2014");
        return;
    }
    // The third blank ends the first line.
    int head = 0, blanks = 0;
    while (fingerprint[head] && !(fingerprint[head] == L' ' && ++blanks == 3)) head++;
    wstr_copy_n(first, capacity, fingerprint, head);
    wstr_copy(second, capacity, fingerprint[head] ? fingerprint + head + 1 : L"");
}

//~ Pieces

static void paint_avatar(const PaintFrame* f, int cx, int cy, int radius, COLORREF fill, const wchar_t* name,
                         const wchar_t* tag, HFONT font, COLORREF text) {
    fill_circle(f->canvas, (float)cx, (float)cy, (float)dip(f, radius), fill, 255);
    wchar_t s[3];
    avatar_letter(name, tag, s);
    paint_text(f, font, s, RECT{cx - dip(f, radius), cy - dip(f, radius), cx + dip(f, radius), cy + dip(f, radius)},
               text, TEXT_CENTRED);
}

void paint_friend_avatar(const PaintFrame* f, int cx, int cy, const wchar_t* name, const wchar_t* tag) {
    paint_avatar(f, cx, cy, 15, AVATAR_PALETTE[avatar_palette_index(name)], name, tag, g_fonts.small_bold,
                 PALETTE_WHITE);
}

static void paint_header(const PaintFrame* f, int x0, int x1) {
    int t = dip(f, HEADER_HEIGHT);
    RECT back = {x0 + dip(f, 12), t + dip(f, 10), x0 + dip(f, 42), t + dip(f, 40)};
    g_hit.element[ELEMENT_PANEL_BACK] = back;
    paint_icon_button(f, back, ELEMENT_PANEL_BACK, L"\uE72B", 0, 0);
    RECT refresh = {x1 - dip(f, 42), t + dip(f, 10), x1 - dip(f, 12), t + dip(f, 40)};
    g_hit.element[ELEMENT_PANEL_REFRESH] = refresh;
    paint_icon_button(f, refresh, ELEMENT_PANEL_REFRESH, L"\uE72C", 0, 0);

    RECT pill = {x1 - dip(f, 106), t + dip(f, 15), x1 - dip(f, 46), t + dip(f, 35)};
    fill_round_rect(f->canvas, pill, dip(f, 10), RGB(22, 22, 24), 255, PALETTE_LINE, 140);
    int online = mqtt_is_online();
    COLORREF word = online ? PALETTE_GREEN : PALETTE_ORANGE;
    fill_circle(f->canvas, (float)(pill.left + dip(f, 10)), (float)(t + dip(f, 25)), scale_float(3.2f, f->dpi), word, 255);
    paint_text(f, g_fonts.caption, online ? L"Canl\u0131" : L"Ba\u011flan..",
               RECT{pill.left + dip(f, 17), t + dip(f, 15), pill.right - dip(f, 4), t + dip(f, 35)}, word, TEXT_LEFT);
    paint_text(f, g_fonts.label_bold, L"Arkada\u015flar & Jam", RECT{x0 + dip(f, 44), t + dip(f, 10), pill.left - dip(f, 4), t + dip(f, 40)},
               PALETTE_WHITE, TEXT_ELLIPSIS);
}

// A 56 x 28 button of the tag card.
static void paint_card_button(const PaintFrame* f, RECT r, const wchar_t* text, COLORREF fill, COLORREF ink) {
    fill_round_rect(f->canvas, r, dip(f, 8), fill, 255, PALETTE_LINE, 160);
    paint_text(f, g_fonts.caption, text, r, ink, TEXT_CENTRED);
}

static void paint_tag_card(const PaintFrame* f, int x0, int x1) {
    int t = dip(f, HEADER_HEIGHT);
    RECT card = {x0 + dip(f, 12), t + dip(f, 46), x1 - dip(f, 12), t + dip(f, 98)};
    fill_round_rect(f->canvas, card, dip(f, 12), PALETTE_CARD, 255, PALETTE_LINE, 160);
    int cx = card.left + dip(f, 26), cy = (card.top + card.bottom) / 2;
    paint_avatar(f, cx, cy, 16, RGB(46, 20, 42), g_identity.name, g_identity.tag, g_fonts.label_bold,
                 PALETTE_ORANGE);
    fill_circle(f->canvas, (float)(cx + dip(f, 11)), (float)(cy + dip(f, 11)), scale_float(5.0f, f->dpi), PALETTE_CARD, 255);
    fill_circle(f->canvas, (float)(cx + dip(f, 11)), (float)(cy + dip(f, 11)), scale_float(3.5f, f->dpi), PALETTE_PINK, 255);

    RECT copy = {card.right - dip(f, 64), card.top + dip(f, 12), card.right - dip(f, 8), card.bottom - dip(f, 12)};
    RECT edit = {copy.left - dip(f, 62), card.top + dip(f, 12), copy.left - dip(f, 6), card.bottom - dip(f, 12)};
    g_hit.element[ELEMENT_PANEL_COPY_TAG] = copy;
    g_hit.element[ELEMENT_PANEL_EDIT_NAME] = edit;
    g_hit.name_box_frame = RECT{0, 0, 0, 0};
    RECT caption = {card.left + dip(f, 50), card.top + dip(f, 8), edit.left - dip(f, 6), card.top + dip(f, 24)};
    if (g_app.name_editing) {
        paint_card_button(f, edit, L"\u2713 Kaydet", PALETTE_ORANGE, PALETTE_INK);
        paint_card_button(f, copy, L"\u0130ptal", PALETTE_FIELD, PALETTE_SECONDARY);
        RECT frame = {card.left + dip(f, 50), card.top + dip(f, 22), edit.left - dip(f, 8), card.bottom - dip(f, 10)};
        fill_round_rect(f->canvas, frame, dip(f, 6), PALETTE_FIELD, 255, PALETTE_ORANGE, 220);
        g_hit.name_box_frame = frame;
        const wchar_t* hash = wcschr(g_identity.tag, L'#');
        wchar_t text[96];
        wstr_format(text, 96, L"AD\u0130N\u0130 D\u00dcZENLE (%ls SAB\u0130T)", hash ? hash : L"#ET\u0130KET");
        paint_text(f, g_fonts.caption, text, caption, PALETTE_ORANGE, TEXT_LEFT);
        return;
    }
    paint_card_button(f, edit, L"D\u00fczenle", PALETTE_FIELD,
                      g_app.hover_id == ELEMENT_PANEL_EDIT_NAME ? PALETTE_PINK : PALETTE_ORANGE);
    int copied = g_app.tag_copied_tick && f->ticks - g_app.tag_copied_tick < TAG_COPIED_SHOWN_MS;
    if (copied) paint_card_button(f, copy, L"\u2713 Kopyaland\u0131", PALETTE_ORANGE, PALETTE_INK);
    else paint_card_button(f, copy, L"Kopyala", PALETTE_FIELD, PALETTE_WHITE);
    paint_text(f, g_fonts.caption, L"SEN\u0130N ET\u0130KET\u0130N", caption, PALETTE_MUTED, TEXT_LEFT);
    paint_text(f, g_fonts.label_bold, g_identity.tag,
               RECT{card.left + dip(f, 50), card.top + dip(f, 25), edit.left - dip(f, 6), card.bottom - dip(f, 6)},
               PALETTE_WHITE, TEXT_ELLIPSIS);
}

static void paint_tabs(const PaintFrame* f, int x0, int x1) {
    int t = dip(f, HEADER_HEIGHT);
    RECT bar = {x0 + dip(f, 12), t + dip(f, 106), x1 - dip(f, 12), t + dip(f, 140)};
    fill_round_rect(f->canvas, bar, dip(f, 10), PALETTE_CARD, 255, PALETTE_LINE, 180);
    int s = (bar.right - bar.left - 8) / 3;
    wchar_t list[32], requests[32];
    wstr_format(list, 32, L"Liste (%d)", friend_count());
    if (pending_count() > 0) wstr_format(requests, 32, L"\u0130stek (%d)", pending_count());
    else wstr_copy(requests, L"\u0130stekler");
    const wchar_t* labels[3] = {list, requests, L"+ Ekle"};
    static const int IDS[3] = {ELEMENT_TAB_FRIENDS, ELEMENT_TAB_REQUESTS, ELEMENT_TAB_ADD};
    int left = bar.left + 4;
    for (int i = 0; i < 3; i++) {
        int right = i < 2 ? left + s : bar.right - 4;
        RECT seg = {left, bar.top + 3, right, bar.bottom - 3};
        g_hit.element[IDS[i]] = seg;
        if (g_app.friends_tab == i) {
            fill_round_rect(f->canvas, seg, dip(f, 7), PALETTE_FIELD, 255, PALETTE_PINK, 150);
            paint_text(f, g_fonts.small_bold, labels[i], seg, PALETTE_ORANGE, TEXT_CENTRED);
        } else {
            paint_text(f, g_fonts.small, labels[i], seg, PALETTE_SECONDARY, TEXT_CENTRED);
        }
        left = right;
    }
}

//~ Tab contents

static void paint_jam_card(const PaintFrame* f, int x0, int x1, int yc) {
    RECT card = {x0 + dip(f, 12), yc + dip(f, 2), x1 - dip(f, 12), yc + dip(f, 46)};
    g_hit.jam_start_card = card;
    fill_round_rect(f->canvas, card, dip(f, 11), RGB(28, 16, 32), 255, PALETTE_PINK, 170);
    paint_glyph(f, g_fonts.icon, L"\uE716", RECT{card.left + dip(f, 8), card.top, card.left + dip(f, 32), card.bottom},
                PALETTE_PINK);
    paint_text(f, g_fonts.label_bold, L"Jam Odas\u0131 Ba\u015flat",
               RECT{card.left + dip(f, 34), card.top + dip(f, 6), card.right - dip(f, 68), card.top + dip(f, 24)},
               PALETTE_WHITE, TEXT_LEFT);
    paint_text(f, g_fonts.caption, L"Oda a\u00e7, anl\u0131k senkron dinle",
               RECT{card.left + dip(f, 34), card.top + dip(f, 23), card.right - dip(f, 68), card.bottom - dip(f, 5)},
               PALETTE_ORANGE, TEXT_LEFT);
    RECT pill = {card.right - dip(f, 64), card.top + dip(f, 8), card.right - dip(f, 8), card.bottom - dip(f, 8)};
    fill_round_rect(f->canvas, pill, dip(f, 8), PALETTE_ORANGE, 255, 0, 0);
    paint_text(f, g_fonts.caption, L"+ Ba\u015flat", pill, PALETTE_INK, TEXT_CENTRED);
}

// A hit rectangle as much of it as the list shows.
static RECT within(RECT r, const RECT* view) {
    RECT shown;
    if (!IntersectRect(&shown, &r, view)) shown = RECT{0, 0, 0, 0};
    return shown;
}

static void paint_friend_row(const PaintFrame* f, int i, const FriendEntry* e, int x0, int x1, int y, const RECT* view) {
    int member = jam_is_member(e->tag);
    int jam = jam_state();
    RECT card = {x0 + dip(f, 12), y, x1 - dip(f, 12), y + dip(f, 54)};
    if (member) fill_round_rect(f->canvas, card, dip(f, 11), RGB(28, 16, 32), 255, PALETTE_PINK, 150);
    else fill_round_rect(f->canvas, card, dip(f, 11), PALETTE_CARD, 255, PALETTE_LINE, 150);
    int cx = card.left + dip(f, 24), cy = (card.top + card.bottom) / 2;
    paint_friend_avatar(f, cx, cy, e->name, e->tag);
    fill_circle(f->canvas, (float)(cx + dip(f, 11)), (float)(cy + dip(f, 11)), scale_float(5.2f, f->dpi), PALETTE_CARD, 255);
    fill_circle(f->canvas, (float)(cx + dip(f, 11)), (float)(cy + dip(f, 11)), scale_float(3.8f, f->dpi),
                e->online ? PALETTE_ORANGE : PALETTE_OFFLINE, 255);

    RECT remove = {card.right - dip(f, 28), y + dip(f, 15), card.right - dip(f, 6), y + dip(f, 39)};
    RECT invite = {card.right - dip(f, 84), y + dip(f, 13), card.right - dip(f, 30), y + dip(f, 41)};
    if (i < FRIEND_ROWS_MAX) {
        g_hit.friend_remove[i] = within(remove, view);
        g_hit.friend_invite[i] = within(invite, view);
        g_hit.friend_row[i] = within(card, view);
    }
    paint_glyph(f, g_fonts.icon_small, L"\uE711", remove, PALETTE_MUTED);
    if (member) {
        fill_round_rect(f->canvas, invite, dip(f, 8), RGB(42, 20, 44), 255, PALETTE_PINK, 170);
        paint_text(f, g_fonts.caption, jam == JAM_INVITING ? L"Bekliyor" : L"Odada", invite, PALETTE_PINK, TEXT_CENTRED);
    } else {
        const wchar_t* word = jam == JAM_NONE ? L"Jam" : L"+ Davet";
        if (e->online) {
            fill_round_rect(f->canvas, invite, dip(f, 8), PALETTE_ORANGE, 255, 0, 0);
            paint_text(f, g_fonts.caption, word, invite, PALETTE_INK, TEXT_CENTRED);
        } else {
            fill_round_rect(f->canvas, invite, dip(f, 8), PALETTE_FIELD, 255, 0, 0);
            paint_text(f, g_fonts.caption, word, invite, PALETTE_MUTED, TEXT_CENTRED);
        }
    }
    wchar_t name[IDENTITY_NAME_CAPACITY + 4];
    wstr_format(name, IDENTITY_NAME_CAPACITY + 4, L"%ls%ls", e->name[0] ? e->name : e->tag, friend_key_mark(e));
    paint_text(f, g_fonts.label_bold, name,
               RECT{card.left + dip(f, 46), y + dip(f, 8), invite.left - dip(f, 6), y + dip(f, 27)}, PALETTE_WHITE,
               TEXT_ELLIPSIS);
    RECT status = {card.left + dip(f, 46), y + dip(f, 26), invite.left - dip(f, 6), y + dip(f, 46)};
    if (e->key_changed) {
        paint_text(f, g_fonts.caption, L"\u26a0 Anahtar\u0131 de\u011fi\u015fti \u2022 silip yeniden ekleyin", status,
                   PALETTE_ORANGE, TEXT_ELLIPSIS);
    } else if (!e->online) {
        paint_text(f, g_fonts.caption, L"\u00c7evrimd\u0131\u015f\u0131", status, PALETTE_MUTED, TEXT_ELLIPSIS);
    } else if (e->playing && e->status_text[0]) {
        wchar_t line[STATUS_TEXT_CAPACITY + 4];
        wstr_format(line, STATUS_TEXT_CAPACITY + 4, L"\u266B %ls", e->status_text);
        paint_text(f, g_fonts.caption, line, status, PALETTE_PINK, TEXT_ELLIPSIS);
    } else {
        paint_text(f, g_fonts.caption, L"\u00c7evrimi\u00e7i \u2022 Bo\u015fta", status, PALETTE_SECONDARY, TEXT_ELLIPSIS);
    }
}

// The rows of a tab's list scroll between top and the panel's foot; a thin thumb at the
// panel's edge tells that there is more. Returns the layout the rows take.
static PanelListLayout begin_panel_list(const PaintFrame* f, int tab, int x0, int x1, int top, int rows, int pitch,
                                        int row_height, RECT* view) {
    int bottom = f->height - dip(f, 8);
    PanelListLayout l = panel_list_layout(top, bottom, rows, dip(f, pitch), dip(f, row_height),
                                          g_app.panel_scroll[tab].value, x1, f->dpi);
    *view = RECT{x0 > 0 ? x0 : 0, top, x1 < f->width ? x1 : f->width, bottom};
    g_hit.panel_list = *view;
    g_hit.panel_list_max_scroll = l.max_offset;
    push_clip(f, *view);
    return l;
}

// The list is the last thing a tab draws: its clip ends with the sidebar's.
static void end_panel_list(const PaintFrame* f, const PanelListLayout* l) {
    if (rect_has_area(&l->thumb))
        fill_round_rect(f->canvas, l->thumb, (l->thumb.right - l->thumb.left) / 2, RGB(46, 46, 52), 220, 0, 0);
}

static void paint_friend_list(const PaintFrame* f, int x0, int x1, int yc) {
    int start = yc;
    if (jam_state() == JAM_NONE) {
        paint_jam_card(f, x0, x1, yc);
        start = yc + dip(f, 50);
    }
    int count = friend_count();
    if (count == 0) {
        paint_text(f, g_fonts.small,
                   L"Hen\u00fcz ekli arkada\u015f\u0131n yok.\n\n'+ Ekle' sekmesinden arkada\u015f\u0131n\u0131n etiketini "
                   L"girerek davet g\u00f6nderebilirsin.",
                   RECT{x0 + dip(f, 18), start + dip(f, 16), x1 - dip(f, 18), start + dip(f, 100)}, PALETTE_SECONDARY,
                   DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        return;
    }
    RECT view;
    PanelListLayout l = begin_panel_list(f, 0, x0, x1, start, count, 60, 54, &view);
    for (int i = l.first; i < count; i++) {
        int y = start + dip(f, 60) * i - l.offset;
        if (y >= view.bottom) break;
        paint_friend_row(f, i, friend_at(i), x0, x1, y, &view);
    }
    end_panel_list(f, &l);
}

static void paint_requests(const PaintFrame* f, int x0, int x1, int yc) {
    int count = pending_count();
    if (count == 0) {
        paint_text(f, g_fonts.small, L"Bekleyen arkada\u015fl\u0131k iste\u011fi yok.",
                   RECT{x0 + dip(f, 18), yc + dip(f, 24), x1 - dip(f, 18), yc + dip(f, 90)}, PALETTE_SECONDARY,
                   DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        return;
    }
    if (count > REQUEST_ROWS_MAX) count = REQUEST_ROWS_MAX;
    RECT view;
    PanelListLayout l = begin_panel_list(f, 1, x0, x1, yc, count, 58, 52, &view);
    for (int i = l.first; i < count; i++) {
        int y = yc + dip(f, 58) * i - l.offset;
        if (y >= view.bottom) break;
        const PendingEntry* e = pending_at(i);
        RECT card = {x0 + dip(f, 12), y, x1 - dip(f, 12), y + dip(f, 52)};
        fill_round_rect(f->canvas, card, dip(f, 11), PALETTE_CARD, 255, PALETTE_LINE, 140);
        paint_text(f, g_fonts.label_bold, e->name[0] ? e->name : e->tag,
                   RECT{card.left + dip(f, 12), y + dip(f, 7), card.right - dip(f, 74), y + dip(f, 26)}, PALETTE_WHITE,
                   TEXT_ELLIPSIS);
        paint_text(f, g_fonts.caption, e->tag,
                   RECT{card.left + dip(f, 12), y + dip(f, 25), card.right - dip(f, 74), y + dip(f, 44)},
                   PALETTE_SECONDARY, TEXT_ELLIPSIS);
        RECT accept = {card.right - dip(f, 68), y + dip(f, 11), card.right - dip(f, 38), y + dip(f, 41)};
        RECT reject = {card.right - dip(f, 34), y + dip(f, 11), card.right - dip(f, 6), y + dip(f, 41)};
        g_hit.request_accept[i] = within(accept, &view);
        g_hit.request_reject[i] = within(reject, &view);
        fill_round_rect(f->canvas, accept, dip(f, 8), PALETTE_ORANGE, 255, 0, 0);
        paint_glyph(f, g_fonts.icon_small, L"\uE73E", accept, PALETTE_INK);
        fill_round_rect(f->canvas, reject, dip(f, 8), PALETTE_FIELD, 255, PALETTE_LINE, 140);
        paint_glyph(f, g_fonts.icon_small, L"\uE711", reject, PALETTE_SECONDARY);
    }
    end_panel_list(f, &l);
}

static void paint_add_form(const PaintFrame* f, int x0, int x1, int yc) {
    int t = dip(f, HEADER_HEIGHT);
    paint_text(f, g_fonts.label_bold, L"Etiket ile Arkada\u015f Ekle",
               RECT{x0 + dip(f, 14), yc + dip(f, 2), x1 - dip(f, 14), yc + dip(f, 22)}, PALETTE_WHITE, TEXT_LEFT);
    paint_text(f, g_fonts.small, L"Arkada\u015f\u0131n\u0131n etiketini gir (\u00d6rn: Ornek#8421)",
               RECT{x0 + dip(f, 14), yc + dip(f, 22), x1 - dip(f, 14), yc + dip(f, 42)}, PALETTE_SECONDARY, TEXT_LEFT);
    int focused = g_app.tag_box && GetFocus() == g_app.tag_box;
    RECT field = {x0 + dip(f, 12), t + dip(f, 204), x1 - dip(f, 12), t + dip(f, 242)};
    g_hit.tag_box_frame = field;
    fill_round_rect(f->canvas, field, dip(f, 10), PALETTE_FIELD, 255, focused ? PALETTE_ORANGE : PALETTE_LINE,
                    focused ? 220 : 150);
    RECT send = {x0 + dip(f, 12), t + dip(f, 252), x1 - dip(f, 12), t + dip(f, 290)};
    g_hit.element[ELEMENT_SEND_REQUEST] = send;
    COLORREF fill = g_app.pressed_id == ELEMENT_SEND_REQUEST ? PALETTE_VIOLET
                    : g_app.hover_id == ELEMENT_SEND_REQUEST ? PALETTE_PINK
                                                              : PALETTE_ORANGE;
    fill_round_rect(f->canvas, send, dip(f, 10), fill, 255, 0, 0);
    paint_text(f, g_fonts.label_bold, L"Arkada\u015fl\u0131k \u0130ste\u011fi G\u00f6nder", send, PALETTE_INK, TEXT_CENTRED);
    if (g_app.friend_notice[0]) {
        COLORREF ink = wcsstr(g_app.friend_notice, L"g\u00f6nderildi") ? PALETTE_ORANGE : PALETTE_PINK;
        paint_text(f, g_fonts.small, g_app.friend_notice,
                   RECT{x0 + dip(f, 14), t + dip(f, 300), x1 - dip(f, 14), t + dip(f, 356)}, ink,
                   DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    }
}

void paint_friends_panel(const PaintFrame* f, int x0, int x1) {
    paint_header(f, x0, x1);
    paint_tag_card(f, x0, x1);
    paint_tabs(f, x0, x1);
    int yc = dip(f, HEADER_HEIGHT) + dip(f, 150);
    if (g_app.friends_tab == 0) {
        paint_friend_list(f, x0, x1, yc);
        paint_friend_card(f, x0, x1, yc);
    } else if (g_app.friends_tab == 1) paint_requests(f, x0, x1, yc);
    else paint_add_form(f, x0, x1, yc);
}

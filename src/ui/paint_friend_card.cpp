// A verified friend's key card over the friends list. Pinning a key proves only that the key
// published under the friend's number when the friendship was made is the one that signs
// now; whether that key is the friend's own, and not a stranger's who raced him, only the
// two people can tell, by reading the two codes to each other on another channel. The card
// shows both codes and keeps the user's mark that they matched.
#include "ui/paint_friends.h"

#include "app/app_state.h"
#include "social/identity.h"
#include "social/signing.h"
#include "social/trust.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/layout.h"
#include "ui/list_geometry.h"

enum { FINGERPRINT_CAPACITY = 40 };

// A caption, then the code in two lines below it, from top.
static void paint_code(const PaintFrame* f, const wchar_t* caption, const char* key, RECT card, int top) {
    int left = card.left + dip(f, 14), right = card.right - dip(f, 14);
    paint_text(f, g_fonts.caption, caption, RECT{left, top, right, top + dip(f, 16)}, PALETTE_MUTED, TEXT_LEFT);
    wchar_t code[FINGERPRINT_CAPACITY], first[FINGERPRINT_CAPACITY], second[FINGERPRINT_CAPACITY];
    trust_fingerprint(key, code, FINGERPRINT_CAPACITY);
    fingerprint_lines(code, first, second, FINGERPRINT_CAPACITY);
    paint_text(f, g_fonts.heading, first, RECT{left, top + dip(f, 16), right, top + dip(f, 38)}, PALETTE_WHITE,
               TEXT_LEFT);
    paint_text(f, g_fonts.heading, second, RECT{left, top + dip(f, 38), right, top + dip(f, 60)}, PALETTE_WHITE,
               TEXT_LEFT);
}

void paint_friend_card(const PaintFrame* f, int x0, int x1, int yc) {
    if (!g_app.friend_card_tag[0]) return;
    int index = friend_find(g_app.friend_card_tag);
    const FriendEntry* e = friend_at(index);
    if (!e || !trust_friend_verified(e)) return;

    int t = dip(f, HEADER_HEIGHT);
    // In a short window it may rise over the tabs and the tag card, so that its button shows.
    FriendCardLayout l = friend_card_layout(x0, x1, yc, t + dip(f, 10), f->height - dip(f, 8), f->dpi);
    // Over the list and its clip, within the panel.
    RECT panel = {x0 > 0 ? x0 : 0, t, x1 < f->width ? x1 : f->width, f->height};
    pop_clip(f);
    push_clip(f, panel);
    RECT card = l.card;
    IntersectRect(&g_hit.friend_card, &card, &panel);
    IntersectRect(&g_hit.friend_card_check, &l.check, &panel);
    IntersectRect(&g_hit.friend_card_close, &l.close, &panel);

    fill_round_rect(f->canvas, card, dip(f, 12), RGB(20, 14, 24), 255, PALETTE_PINK, 190);
    paint_friend_avatar(f, card.left + dip(f, 28), card.top + dip(f, 30), e->name, e->tag);
    RECT name = {card.left + dip(f, 50), card.top + dip(f, 12), l.close.left - dip(f, 4), card.top + dip(f, 31)};
    paint_text(f, g_fonts.label_bold, e->name[0] ? e->name : e->tag, name, PALETTE_WHITE, TEXT_ELLIPSIS);
    paint_text(f, g_fonts.caption, e->tag,
               RECT{name.left, card.top + dip(f, 30), name.right, card.top + dip(f, 48)}, PALETTE_SECONDARY,
               TEXT_ELLIPSIS);
    paint_glyph(f, g_fonts.icon_small, L"\uE711", l.close, PALETTE_MUTED);

    paint_code(f, L"Anahtar kodu", e->key, card, card.top + dip(f, 58));
    paint_code(f, L"Senin kodun", signing_public_key_text(), card, card.top + dip(f, 124));
    paint_text(f, g_fonts.caption, L"Kodlar\u0131 arkada\u015f\u0131nla sesli kar\u015f\u0131la\u015ft\u0131r",
               RECT{card.left + dip(f, 14), card.top + dip(f, 188), card.right - dip(f, 14), l.check.top - dip(f, 4)},
               PALETTE_SECONDARY, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);

    if (e->key_checked) {
        fill_round_rect(f->canvas, l.check, dip(f, 9), RGB(42, 20, 44), 255, PALETTE_PINK, 170);
        paint_text(f, g_fonts.small_bold, L"\u2713 Kontrol edildi", l.check, PALETTE_PINK, TEXT_CENTRED);
    } else {
        fill_round_rect(f->canvas, l.check, dip(f, 9), PALETTE_ORANGE, 255, 0, 0);
        paint_text(f, g_fonts.small_bold, L"Kontrol et", l.check, PALETTE_INK, TEXT_CENTRED);
    }
}

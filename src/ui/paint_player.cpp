// The player card at the bottom: transport buttons, seek bar and times, the cover, the
// now-playing text and the volume slider.
#include "app/app_state.h"
#include "base/wstr.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "social/jam.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/layout.h"
#include "ui/paint_parts.h"

static const RECT NO_RECT = {0, 0, 0, 0};

static void paint_play_button(const PaintFrame* f, RECT r, int playing) {
    int hovered = g_app.hover_id == ELEMENT_PLAY, pressed = g_app.pressed_id == ELEMENT_PLAY;
    float cx = (float)(r.left + r.right) / 2, cy = (float)(r.top + r.bottom) / 2;
    float disc = (float)dip(f, 19) + (hovered ? 1.0f : 0.0f) - (pressed ? 1.0f : 0.0f);
    if (hovered) fill_circle(f->canvas, cx, cy, disc + (float)dip(f, 3), PALETTE_ORANGE, 70);
    fill_circle(f->canvas, cx, cy, disc, pressed ? RGB(225, 225, 225) : PALETTE_WHITE, 255);
    RECT glyph = r;
    if (!playing) OffsetRect(&glyph, 1, 0);  // the triangle's weight sits left of its box
    paint_glyph(f, g_fonts.icon_large, playing ? L"\uE769" : L"\uE768", glyph, PALETTE_INK);
}

// A bar of thickness 4 (6 while active) centred on line y, with its gradient fill and knob.
static void paint_slider(const PaintFrame* f, int left, int right, int y, int active, float fraction, int knob_radius,
                         int knob) {
    int k = dip(f, active ? 6 : 4);
    int m = k < dip(f, 5) ? dip(f, 2) : k / 2;
    RECT track = {left, y - m, right, y - m + k};
    fill_round_rect(f->canvas, track, m, active ? PALETTE_LINE : PALETTE_CONTROL, 255, 0, 0);
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    int fill = (int)(fraction * (float)(right - left));
    if (fill > 0) fill_accent_gradient(f->canvas, RECT{left, track.top, left + fill, track.bottom}, m);
    if (active && knob) fill_circle(f->canvas, (float)(left + fill), (float)y, (float)dip(f, knob_radius), PALETTE_WHITE, 255);
}

static void format_time(wchar_t* out, int capacity, int seconds) {
    if (seconds < 0) seconds = 0;
    wstr_format(out, capacity, L"%d:%02d", seconds / 60, seconds % 60);
}

// The picture was decoded and cut to a square when the track started; here it is only
// fitted into the rounded square. Transparent parts come out black, as if the picture lay
// on the dark card.
static void paint_cover(const PaintFrame* f, RECT r, int has_track) {
    fill_round_rect(f->canvas, r, dip(f, 10), PALETTE_CONTROL, 255, PALETTE_LINE, 160);
    if (g_app.cover_bitmap) {
        if (!f->canvas->bits || rects_meet(&r, &f->canvas->clip)) {
            HDC source = CreateCompatibleDC(f->dc);
            HGDIOBJ old = source ? SelectObject(source, g_app.cover_bitmap) : nullptr;
            if (old) {
                int saved = SaveDC(f->dc);
                HRGN round = CreateRoundRectRgn(r.left + 1, r.top + 1, r.right, r.bottom, dip(f, 9), dip(f, 9));
                if (round) {
                    ExtSelectClipRgn(f->dc, round, RGN_AND);
                    DeleteObject(round);
                }
                SetStretchBltMode(f->dc, HALFTONE);
                SetBrushOrgEx(f->dc, 0, 0, nullptr);
                f->canvas->gdi_dirty = 1;
                StretchBlt(f->dc, r.left, r.top, r.right - r.left, r.bottom - r.top, source, 0, 0, g_app.cover_side,
                           g_app.cover_side, SRCCOPY);
                RestoreDC(f->dc, saved);
                SelectObject(source, old);
            }
            if (source) DeleteDC(source);
        }
        return;
    }
    float cx = (float)(r.left + r.right) / 2, cy = (float)(r.top + r.bottom) / 2;
    fill_circle(f->canvas, cx, cy, (float)dip(f, 16), RGB(32, 32, 32), 255);
    paint_glyph(f, g_fonts.icon, L"\uEC4F", r, has_track ? PALETTE_ORANGE : PALETTE_MUTED);
}

static void paint_now_playing(const PaintFrame* f, const PlayerLayout* p, const Track* t, int playing) {
    if (!p->text_shown) return;
    int left = p->text_left, right = p->text_right;
    if (!t) {
        paint_text(f, g_fonts.label_bold, L"Haz\u0131r", RECT{left, p->pc - dip(f, 19), right, p->pc + dip(f, 1)},
                   PALETTE_WHITE, TEXT_LEFT);
        paint_text(f, g_fonts.small, L"Bir par\u00e7aya t\u0131klay\u0131n",
                   RECT{left, p->pc + dip(f, 1), right, p->pc + dip(f, 19)}, PALETTE_MUTED, TEXT_LEFT);
        return;
    }
    const wchar_t* artist = t->artist;
    paint_text(f, g_fonts.label_bold, t->title, RECT{left, p->pc - dip(f, 19), right, p->pc + dip(f, 1)}, PALETTE_WHITE,
               TEXT_ELLIPSIS);
    const wchar_t* second = artist[0] ? artist : (playing ? L"\u015eu an \u00e7al\u0131yor" : L"Duraklat\u0131ld\u0131");
    paint_text(f, g_fonts.small, second, RECT{left, p->pc + dip(f, 1), right, p->pc + dip(f, 19)}, PALETTE_SECONDARY,
               TEXT_ELLIPSIS);
}

static void paint_volume(const PaintFrame* f, const PlayerLayout* p) {
    g_hit.element[ELEMENT_VOLUME] = p->volume_hit;
    g_hit.element[ELEMENT_MUTE] = p->mute;
    g_hit.volume_left = p->volume_shown ? p->volume_left : 0;
    g_hit.volume_right = p->volume_shown ? p->volume_right : 0;
    if (!p->volume_shown) return;
    int volume = g_settings.volume;
    int active = g_app.hover_id == ELEMENT_VOLUME || g_app.volume_dragging;
    paint_slider(f, p->volume_left, p->volume_right, p->pc, active, (float)volume / 100.0f, 5, 1);
    const wchar_t* glyph = volume == 0 ? L"\uE74F" : (volume < 50 ? L"\uE993" : L"\uE767");
    paint_icon_button(f, p->mute, ELEMENT_MUTE, glyph, volume == 0 ? PALETTE_PINK : 0, 0);
}

void paint_player_card(const PaintFrame* f) {
    PlayerLayout p = player_layout(f->width, f->height, f->dpi);
    fill_round_rect(f->canvas, p.card, dip(f, 16), PALETTE_CARD, 255, jam_state() == JAM_IN_ROOM ? PALETTE_PINK : PALETTE_LINE,
                    jam_state() == JAM_IN_ROOM ? 180 : 160);
    int playing = player_is_playing();
    const Track* current = track_list_at(g_app.current_index);

    g_hit.element[ELEMENT_PLAY] = p.play;
    g_hit.element[ELEMENT_PREVIOUS] = p.previous;
    g_hit.element[ELEMENT_SHUFFLE] = p.shuffle;
    g_hit.element[ELEMENT_NEXT] = p.next;
    g_hit.element[ELEMENT_REPEAT] = p.repeat;
    paint_play_button(f, p.play, playing);
    paint_icon_button(f, p.previous, ELEMENT_PREVIOUS, L"\uE892", 0, 0);
    paint_icon_button(f, p.shuffle, ELEMENT_SHUFFLE, L"\uE8B1", g_settings.shuffle ? PALETTE_ORANGE : 0,
                     g_settings.shuffle);
    paint_icon_button(f, p.next, ELEMENT_NEXT, L"\uE893", 0, 0);
    int repeat = g_settings.repeat;
    paint_icon_button(f, p.repeat, ELEMENT_REPEAT, repeat == REPEAT_TRACK ? L"\uE8ED" : L"\uE8EE",
                     repeat >= 1 ? PALETTE_ORANGE : 0, repeat >= 1);
    if (repeat == REPEAT_TRACK)
        paint_text(f, g_fonts.caption, L"1",
                   RECT{p.repeat.right - dip(f, 12), p.repeat.top + dip(f, 1), p.repeat.right, p.repeat.top + dip(f, 13)},
                   PALETTE_ORANGE, TEXT_CENTRED);

    // While the knob is dragged the bar follows the pointer, not the player.
    float duration = (float)player_duration_seconds();
    float position = g_app.seek_dragging ? g_app.seek_shown_seconds : (float)player_position_seconds();
    float shown = duration >= 1 && position > duration ? duration : position;
    int g = p.seek_half;
    int active = g_app.hover_id == ELEMENT_SEEK || g_app.seek_dragging;
    g_hit.element[ELEMENT_SEEK] = p.seek_hit;
    g_hit.seek_left = p.x - g;
    g_hit.seek_right = p.x + g;
    paint_slider(f, p.x - g, p.x + g, p.y0, active, duration >= 1 ? shown / duration : 0, 6, duration >= 1);

    wchar_t time[16];
    format_time(time, 16, (int)shown);
    paint_text(f, g_fonts.caption, time, p.elapsed, PALETTE_MUTED, TEXT_RIGHT);
    format_time(time, 16, (int)duration);
    paint_text(f, g_fonts.caption, time, p.duration, PALETTE_MUTED, TEXT_LEFT);

    paint_cover(f, p.cover, current != nullptr);
    paint_now_playing(f, &p, current, playing);
    paint_volume(f, &p);
    g_hit.control_bar = p.card;
}

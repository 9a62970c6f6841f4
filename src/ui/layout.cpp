#include "ui/layout.h"

#include <math.h>

#include "base/ticks.h"
#include "ui/fonts.h"
#include "ui/list_geometry.h"

static const RECT EMPTY_RECT = {0, 0, 0, 0};

HeaderLayout header_layout(int width, int dpi) {
    HeaderLayout h;
    int s12 = scale_at(12, dpi);
    h.menu = RECT{s12, s12, scale_at(48, dpi), scale_at(48, dpi)};
    PixelRect pill = search_pill_rect(width, dpi);
    h.search = RECT{pill.left, pill.top, pill.right, pill.bottom};
    int right = h.search.left - scale_at(8, dpi);
    h.download = RECT{right - scale_at(78, dpi), h.search.top, right, h.search.bottom};
    if (h.download.left <= scale_at(116, dpi)) h.download = EMPTY_RECT;
    right = (h.download.right > 0 ? h.download.left : h.search.left) - scale_at(8, dpi);
    h.friends = RECT{right - scale_at(116, dpi), h.search.top, right, h.search.bottom};
    if (h.friends.left <= scale_at(112, dpi)) h.friends = EMPTY_RECT;
    return h;
}

PlayerLayout player_layout(int width, int height, int dpi) {
    PlayerLayout p;
#define S(n) scale_at(n, dpi)
    p.card = RECT{S(10), height - S(104) + S(4), width - S(10), height - S(8)};
    p.cy = p.card.top + S(31);
    p.y0 = p.card.bottom - S(22);
    p.pc = (p.card.top + p.card.bottom) / 2;
    p.x = width / 2;
    p.play = RECT{p.x - S(19), p.cy - S(19), p.x + S(19), p.cy + S(19)};
    p.previous = RECT{p.play.left - S(8) - S(32), p.cy - S(16), p.play.left - S(8), p.cy + S(16)};
    p.shuffle = RECT{p.previous.left - S(4) - S(32), p.cy - S(16), p.previous.left - S(4), p.cy + S(16)};
    p.next = RECT{p.play.right + S(8), p.cy - S(16), p.play.right + S(8) + S(32), p.cy + S(16)};
    p.repeat = RECT{p.next.right + S(4), p.cy - S(16), p.next.right + S(4) + S(32), p.cy + S(16)};

    int longest = width < S(760) ? S(104) : S(140);
    int room = width / 2 - S(240);
    if (room < S(56)) room = S(56);
    p.seek_half = longest < room ? longest : room;
    int g = p.seek_half;
    p.seek_hit = RECT{p.x - g - S(8), p.y0 - S(11), p.x + g + S(8), p.y0 + S(11)};
    p.elapsed = RECT{p.x - g - S(42), p.y0 - S(9), p.x - g - S(6), p.y0 + S(9)};
    p.duration = RECT{p.x + g + S(6), p.y0 - S(9), p.x + g + S(44), p.y0 + S(9)};

    p.cover = RECT{p.card.left + S(14), p.pc - S(28), p.card.left + S(14) + S(56), p.pc + S(28)};
    p.text_left = p.cover.right + S(12);
    p.text_right = (p.shuffle.left < p.elapsed.left ? p.shuffle.left : p.elapsed.left) - S(6);
    p.text_shown = p.text_left + S(28) < p.shuffle.left - S(10);

    p.volume_right = p.card.right - S(16);
    p.volume_left = p.volume_right - S(72);
    int used = p.repeat.right > p.duration.right ? p.repeat.right : p.duration.right;
    p.volume_shown = used + S(36) < p.volume_left;
    if (p.volume_shown) {
        p.volume_hit = RECT{p.volume_left - S(6), p.pc - S(12), p.volume_right + S(6), p.pc + S(12)};
        p.mute = RECT{p.volume_left - S(34), p.pc - S(15), p.volume_left - S(4), p.pc + S(15)};
    } else {
        p.volume_hit = EMPTY_RECT;
        p.mute = EMPTY_RECT;
    }
#undef S
    return p;
}

ScrollbarLayout scrollbar_layout(int width, int list_top, int clip_bottom, int rows, float offset, int max_offset,
                                 int hot, int dpi) {
    ScrollbarLayout s = {};
    if (max_offset <= 0) return s;
    s.shown = 1;
    s.zone = RECT{width - scale_at(14, dpi), list_top + scale_at(6, dpi), width, clip_bottom - scale_at(6, dpi)};
    int track = s.zone.bottom - s.zone.top;
    if (track <= scale_at(24, dpi)) return s;
    int thumb_w = scale_at(hot ? 7 : 4, dpi);
    float content = (float)(scale_at(12, dpi) + rows * scale_at(56, dpi));
    int length = (int)((float)(clip_bottom - list_top) / content * (float)track);
    if (length < scale_at(30, dpi)) length = scale_at(30, dpi);
    if (length > track) length = track;
    float f = offset / (float)max_offset;
    f = f < 0 ? 0 : (f > 1 ? 1 : f);
    int top = s.zone.top + (int)(f * (float)(track - length));
    int right = width - scale_at(4, dpi);
    s.thumb = RECT{right - thumb_w, top, right, top + length};
    return s;
}

PanelListLayout panel_list_layout(int top, int bottom, int rows, int pitch, int row_height, float offset, int x_right,
                                  int dpi) {
    PanelListLayout l = {};
    int view = bottom - top;
    int content = rows > 0 ? (rows - 1) * pitch + row_height : 0;
    if (view <= 0 || pitch <= 0) return l;
    l.max_offset = content > view ? content - view : 0;
    int o = (int)lroundf(offset);
    l.offset = o < 0 ? 0 : (o > l.max_offset ? l.max_offset : o);
    l.first = l.offset / pitch;
    if (l.max_offset > 0) {
        int length = (int)((long long)view * view / content);
        if (length < scale_at(30, dpi)) length = scale_at(30, dpi);
        if (length > view) length = view;
        int y = top + (int)((long long)(view - length) * l.offset / l.max_offset);
        l.thumb = RECT{x_right - scale_at(7, dpi), y, x_right - scale_at(4, dpi), y + length};
    }
    return l;
}

int progress_fill_width(int w, int percent, int min_width) {
    if (w <= 0 || percent <= 0) return 0;
    if (percent > 100) percent = 100;
    if ((long long)w * percent < 100) return 0;
    int fill = (int)((long long)w * percent / 100);
    if (fill < min_width) fill = min_width;
    return fill;
}

static int mix(int from, int to, float k) {
    return (int)((1 - k) * (float)from + k * (float)to);
}

COLORREF playing_dot_color(DWORD ticks) {
    static const int STOPS[4][3] = {{255, 146, 92}, {240, 68, 184}, {139, 53, 255}, {255, 146, 92}};
    float f = (float)tick_phase(ticks, PLAYING_DOT_CYCLE_MS) * 0.002f;
    int i = (int)f;
    if (i > 2) i = 2;
    float k = f - (float)i;
    return RGB(mix(STOPS[i][0], STOPS[i + 1][0], k), mix(STOPS[i][1], STOPS[i + 1][1], k),
               mix(STOPS[i][2], STOPS[i + 1][2], k));
}

float playing_dot_pulse(DWORD ticks) {
    float angle = (float)tick_phase(ticks, PLAYING_DOT_PULSE_MS) * (6.2831853f / (float)PLAYING_DOT_PULSE_MS);
    return 0.5f + 0.5f * sinf(angle);
}

RECT invitation_rect(int width, int dpi) {
    int w = scale_at(390, dpi);
    if (width - scale_at(24, dpi) < w) w = width - scale_at(24, dpi);
    int left = (width - w) / 2;
    int top = scale_at(60 + 10, dpi);
    return RECT{left, top, left + w, top + scale_at(54, dpi)};
}

FriendCardLayout friend_card_layout(int x0, int x1, int content_top, int highest_top, int bottom, int dpi) {
    int height = scale_at(FRIEND_CARD_HEIGHT, dpi);
    int top = content_top;
    if (top + height > bottom) top = bottom - height;
    if (top < highest_top) top = highest_top;
    FriendCardLayout l;
    l.card = RECT{x0 + scale_at(12, dpi), top, x1 - scale_at(12, dpi), top + height};
    l.close = RECT{l.card.right - scale_at(34, dpi), top + scale_at(10, dpi), l.card.right - scale_at(10, dpi),
                   top + scale_at(34, dpi)};
    l.check = RECT{l.card.left + scale_at(14, dpi), l.card.bottom - scale_at(42, dpi), l.card.right - scale_at(14, dpi),
                   l.card.bottom - scale_at(12, dpi)};
    return l;
}

int sidebar_left(float progress, int dpi) {
    if (progress < 0) progress = 0;
    if (progress > 1) progress = 1;
    return (int)((progress - 1) * (float)scale_at(278, dpi));
}

float scale_float(float r, int dpi) {
    return r * (float)dpi / 96.0f;
}

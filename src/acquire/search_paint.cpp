// The search window's painting: the panels and the preview into an off-screen picture
// copied in one block, and the owner-drawn result rows and buttons. Main thread only.
#include <windows.h>

#include "acquire/search_window.h"
#include "base/wstr.h"
#include "ui/fonts.h"
#include "ui/layout.h"

static const COLORREF BACKGROUND = RGB(5, 5, 5);
static const COLORREF FIELD = RGB(24, 24, 24);
static const COLORREF PANEL = RGB(16, 16, 16);
static const COLORREF EDGE = RGB(38, 38, 38);
static const COLORREF MUTED = RGB(113, 113, 122);
static const COLORREF SECONDARY = RGB(161, 161, 170);
static const COLORREF ORANGE = RGB(255, 146, 92);
static const COLORREF PINK = RGB(240, 68, 184);
static const COLORREF VIOLET = RGB(139, 53, 255);
static const COLORREF DARK_TEXT = RGB(5, 5, 5);

static int sc(int n) {
    return scale_at(n, g_search.dpi);
}

//~ Primitives

static void round_box(HDC dc, RECT r, int corner, COLORREF fill, COLORREF border) {
    HBRUSH brush = CreateSolidBrush(fill);
    HPEN pen = CreatePen(PS_SOLID, 1, border);
    HGDIOBJ old_brush = SelectObject(dc, brush);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, sc(corner) * 2, sc(corner) * 2);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    DeleteObject(brush);
    DeleteObject(pen);
}

static void fill_rect(HDC dc, RECT r, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static void draw_text(HDC dc, HFONT font, COLORREF color, const wchar_t* text, RECT r, UINT flags) {
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    DrawTextW(dc, text, -1, &r, flags | DT_NOPREFIX);
    SelectObject(dc, old);
}

static RECT inset(RECT r, int dx, int dy) {
    RECT out = {r.left + dx, r.top + dy, r.right - dx, r.bottom - dy};
    return out;
}

static void draw_picture(HDC dc, HBITMAP bitmap, RECT r) {
    BITMAP info;
    if (!GetObjectW(bitmap, sizeof info, &info)) return;
    HDC source = CreateCompatibleDC(dc);
    if (!source) return;
    HGDIOBJ old = SelectObject(source, bitmap);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, source, 0, 0, info.bmWidth, info.bmHeight,
               SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

// Centred, word-wrapped text: DrawText centres only single lines vertically.
static void draw_centred_wrapped(HDC dc, HFONT font, COLORREF color, const wchar_t* text, RECT r) {
    RECT measure = r;
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextW(dc, text, -1, &measure, DT_CENTER | DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
    SelectObject(dc, old);
    int height = measure.bottom - measure.top;
    RECT placed = r;
    placed.top = r.top + (r.bottom - r.top - height) / 2;
    placed.bottom = placed.top + height;
    draw_text(dc, font, color, text, placed, DT_CENTER | DT_WORDBREAK);
}

static void gradient(HDC dc, RECT r, COLORREF from, COLORREF to) {
    TRIVERTEX v[2] = {};
    v[0].x = r.left;
    v[0].y = r.top;
    v[0].Red = (COLOR16)(GetRValue(from) << 8);
    v[0].Green = (COLOR16)(GetGValue(from) << 8);
    v[0].Blue = (COLOR16)(GetBValue(from) << 8);
    v[1].x = r.right;
    v[1].y = r.bottom;
    v[1].Red = (COLOR16)(GetRValue(to) << 8);
    v[1].Green = (COLOR16)(GetGValue(to) << 8);
    v[1].Blue = (COLOR16)(GetBValue(to) << 8);
    GRADIENT_RECT span = {0, 1};
    GradientFill(dc, v, 2, &span, 1, GRADIENT_FILL_RECT_H);
}

//~ Window

static void paint_preview(HDC dc, const SearchLayout* l) {
    round_box(dc, l->preview, 8, FIELD, EDGE);
    int row = (int)SendMessageW(g_search.list, LB_GETCURSEL, 0, 0);
    const SearchResult* selected = (row >= 0 && row < g_search.result_count) ? &g_search.results[row] : nullptr;
    if (selected && selected->thumbnail) {
        draw_picture(dc, selected->thumbnail, inset(l->preview, 1, 1));
    } else {
        draw_centred_wrapped(dc, g_search.small_font, MUTED,
                             selected ? L"Kapak y\u00fckleniyor..." : L"\u00d6nizleme i\u00e7in \u015fark\u0131 aray\u0131n",
                             inset(l->preview, sc(8), sc(4)));
    }
    if (!selected) return;
    RECT r = {l->preview.left, l->preview.bottom + sc(14), l->preview.right, l->preview.bottom + sc(14) + sc(46)};
    draw_text(dc, g_search.semibold_font, RGB(255, 255, 255), selected->title, r,
              DT_WORDBREAK | DT_END_ELLIPSIS | DT_EDITCONTROL);
    r.top = r.bottom + sc(4);
    r.bottom = r.top + sc(22);
    draw_text(dc, g_search.body_font, SECONDARY, selected->uploader, r, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    r.top = r.bottom + sc(4);
    r.bottom = r.top + sc(20);
    wchar_t line[96];
    duration_text(selected->duration, selected->source, line, 96);
    draw_text(dc, g_search.small_font, ORANGE, line, r, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
}

static void paint_status_panel(HDC dc, const SearchLayout* l) {
    int downloading = g_search.downloading.load();
    int percent = g_search.last_percent.load();
    if (!status_panel_visible(downloading, percent)) return;
    RECT box = l->status_panel;
    round_box(dc, box, 10, RGB(22, 16, 26), downloading ? PINK : EDGE);
    RECT caption = {box.left + sc(10), box.top + sc(6), box.right - sc(54), box.top + sc(24)};
    draw_text(dc, g_search.small_font, RGB(235, 235, 240),
              downloading ? L"\u0130ndirme durumu" : L"\u2713 \u0130ndirme tamamland\u0131", caption,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    RECT value = {box.right - sc(54), box.top + sc(6), box.right - sc(10), box.top + sc(24)};
    wchar_t label[16];
    percent_label_text(percent, label, 16);
    draw_text(dc, g_search.semibold_font, ORANGE, label, value, DT_SINGLELINE | DT_VCENTER | DT_RIGHT);

    RECT track = {box.left + sc(10), box.bottom - sc(14), box.right - sc(10), box.bottom - sc(7)};
    round_box(dc, track, 7, FIELD, EDGE);
    int width = progress_fill_width(track.right - track.left, percent, track.bottom - track.top);
    if (width <= 0) return;
    HRGN clip = CreateRoundRectRgn(track.left, track.top, track.left + width + 1, track.bottom + 1, sc(7) * 2,
                                   sc(7) * 2);
    SelectClipRgn(dc, clip);
    int middle = (track.left + track.right) / 2;
    RECT first = {track.left, track.top, middle, track.bottom};
    RECT second = {middle, track.top, track.right, track.bottom};
    gradient(dc, first, ORANGE, PINK);
    gradient(dc, second, PINK, VIOLET);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
}

static void paint_window(HDC dc, int w, int h) {
    SearchLayout l = search_layout(w, h, g_search.dpi);
    RECT all = {0, 0, w, h};
    fill_rect(dc, all, BACKGROUND);
    round_box(dc, l.search_field, 10, FIELD, EDGE);
    round_box(dc, l.list_panel, 10, PANEL, EDGE);
    round_box(dc, l.right_panel, 12, PANEL, EDGE);
    paint_preview(dc, &l);
    paint_status_panel(dc, &l);
}

void search_release_paint_buffer(void) {
    if (g_search.paint_dc) {
        SelectObject(g_search.paint_dc, g_search.paint_old_bitmap);
        DeleteDC(g_search.paint_dc);
    }
    if (g_search.paint_bitmap) DeleteObject(g_search.paint_bitmap);
    g_search.paint_dc = nullptr;
    g_search.paint_bitmap = nullptr;
    g_search.paint_old_bitmap = nullptr;
    g_search.paint_width = g_search.paint_height = 0;
}

static int ensure_paint_buffer(HDC reference, int w, int h) {
    if (g_search.paint_dc && g_search.paint_width == w && g_search.paint_height == h) return 1;
    search_release_paint_buffer();
    g_search.paint_dc = CreateCompatibleDC(reference);
    g_search.paint_bitmap = CreateCompatibleBitmap(reference, w, h);
    if (!g_search.paint_dc || !g_search.paint_bitmap) {
        search_release_paint_buffer();
        return 0;
    }
    g_search.paint_old_bitmap = (HBITMAP)SelectObject(g_search.paint_dc, g_search.paint_bitmap);
    g_search.paint_width = w;
    g_search.paint_height = h;
    return 1;
}

void search_paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    int w = client.right, h = client.bottom;
    if (w > 0 && h > 0 && ensure_paint_buffer(dc, w, h)) {
        paint_window(g_search.paint_dc, w, h);
        BitBlt(dc, 0, 0, w, h, g_search.paint_dc, 0, 0, SRCCOPY);
    }
    EndPaint(window, &ps);
}

//~ Result rows

static void draw_play_glyph(HDC dc, RECT box) {
    // Without either icon font the private-use glyph would show as an empty box.
    HGDIOBJ old = SelectObject(dc, g_search.icon_font);
    WORD index = 0xFFFF;
    GetGlyphIndicesW(dc, L"\uE768", 1, &index, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    if (index != 0xFFFF) {
        draw_text(dc, g_search.icon_font, MUTED, L"\uE768", box, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
        return;
    }
    int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2, s = sc(6);
    POINT triangle[3] = {{cx - s / 2, cy - s}, {cx - s / 2, cy + s}, {cx + s, cy}};
    HBRUSH brush = CreateSolidBrush(MUTED);
    HGDIOBJ old_brush = SelectObject(dc, brush);
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(NULL_PEN));
    Polygon(dc, triangle, 3);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    DeleteObject(brush);
}

static void draw_row(HDC dc, RECT rc, int row, int selected) {
    fill_rect(dc, rc, PANEL);
    if (row < 0 || row >= g_search.result_count || !g_search.results) return;
    const SearchResult* result = &g_search.results[row];
    if (selected) {
        RECT box = inset(rc, sc(4), sc(2));
        round_box(dc, box, 8, RGB(28, 18, 30), PINK);
        RECT bar = {box.left + sc(3), rc.top + sc(10), box.left + sc(6), rc.bottom - sc(10)};
        round_box(dc, bar, 2, ORANGE, ORANGE);
    }
    int thumb_w = sc(78), thumb_h = sc(44);
    RECT thumb = {rc.left + sc(10), 0, 0, 0};
    thumb.top = rc.top + (rc.bottom - rc.top - thumb_h) / 2;
    thumb.right = thumb.left + thumb_w;
    thumb.bottom = thumb.top + thumb_h;
    round_box(dc, thumb, 6, FIELD, EDGE);
    if (result->thumbnail) draw_picture(dc, result->thumbnail, inset(thumb, 1, 1));
    else draw_play_glyph(dc, thumb);
    if (result->duration > 0) {
        RECT badge = {thumb.right - sc(3) - sc(38), thumb.bottom - sc(3) - sc(15), thumb.right - sc(3),
                      thumb.bottom - sc(3)};
        round_box(dc, badge, 4, PANEL, EDGE);
        wchar_t text[24];
        duration_text(result->duration, nullptr, text, 24);
        draw_text(dc, g_search.small_font, RGB(245, 245, 248), text, badge, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    }
    int middle = (rc.top + rc.bottom) / 2;
    RECT title = {thumb.right + sc(12), rc.top + sc(6), rc.right - sc(10), middle};
    draw_text(dc, g_search.semibold_font, selected ? RGB(255, 255, 255) : RGB(238, 238, 242), result->title, title,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    RECT uploader = {title.left, middle, title.right, rc.bottom - sc(6)};
    draw_text(dc, g_search.small_font, selected ? PINK : SECONDARY, result->uploader, uploader,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
}

//~ Buttons

static void draw_button(const DRAWITEMSTRUCT* item) {
    HDC dc = item->hDC;
    RECT r = item->rcItem;
    int pressed = (item->itemState & ODS_SELECTED) != 0;
    int disabled = (item->itemState & ODS_DISABLED) != 0;
    if (item->CtlID == ID_FOLDER_BUTTON || item->CtlID == ID_OPEN_FOLDER_BUTTON) {
        // The way to the missing downloader's folder stands out from the folder choice.
        int open = item->CtlID == ID_OPEN_FOLDER_BUTTON;
        fill_rect(dc, r, BACKGROUND);
        round_box(dc, r, 8, pressed ? EDGE : FIELD, open ? ORANGE : EDGE);
        draw_text(dc, g_search.small_font, open ? ORANGE : RGB(240, 240, 245),
                  open ? L"Klas\u00f6r\u00fc A\u00e7" : L"Klas\u00f6r Se\u00e7", r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
        return;
    }
    int download = item->CtlID == ID_DOWNLOAD_BUTTON;
    fill_rect(dc, r, download ? PANEL : BACKGROUND);
    COLORREF face = disabled ? (download ? RGB(32, 32, 36) : RGB(26, 26, 30)) : pressed ? VIOLET : ORANGE;
    RECT box = (pressed && !disabled) ? inset(r, 1, 1) : r;
    round_box(dc, box, 10, face, face);
    COLORREF text_color = disabled ? (download ? RGB(145, 145, 155) : RGB(100, 100, 108)) : DARK_TEXT;
    wchar_t label[64];
    if (download) download_button_text(g_search.downloading.load(), g_search.last_percent.load(), label, 64);
    else wstr_copy(label, g_search.searching.load() ? L"Aran\u0131yor" : L"Ara");
    draw_text(dc, g_search.semibold_font, text_color, label, box, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
}

void search_draw_item(const DRAWITEMSTRUCT* item) {
    if (item->CtlType == ODT_BUTTON) {
        draw_button(item);
        return;
    }
    if (item->CtlType != ODT_LISTBOX) return;
    RECT rc = item->rcItem;
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return;
    // Each row is drawn off-screen first, so that a repainted row never flickers.
    HDC dc = CreateCompatibleDC(item->hDC);
    HBITMAP bitmap = dc ? CreateCompatibleBitmap(item->hDC, w, h) : nullptr;
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        draw_row(item->hDC, rc, (int)item->itemID, (item->itemState & ODS_SELECTED) != 0);
        return;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT local = {0, 0, w, h};
    draw_row(dc, local, (int)item->itemID, (item->itemState & ODS_SELECTED) != 0);
    BitBlt(item->hDC, rc.left, rc.top, w, h, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

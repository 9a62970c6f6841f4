// A plain rendering of the main window's state: the header, the banner and the track list
// with the playing row marked. The custom-drawn window replaces it.
#include "ui/main_paint.h"

#include "app/app_state.h"
#include "app/list_geometry.h"
#include "app/main_window.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "ui/fonts.h"

static void fill(HDC dc, int l, int t, int r, int b, COLORREF c) {
    RECT rect = {l, t, r, b};
    HBRUSH brush = CreateSolidBrush(c);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

static void text(HDC dc, const wchar_t* s, RECT r, COLORREF c, HFONT font, UINT flags) {
    HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(dc, c);
    DrawTextW(dc, s, -1, &r, flags | DT_NOPREFIX | DT_SINGLELINE | DT_END_ELLIPSIS);
    SelectObject(dc, old);
}

void paint_main_window(HDC dc, RECT client) {
    fill(dc, 0, 0, client.right, client.bottom, RGB(12, 12, 12));
    SetBkMode(dc, TRANSPARENT);
    int header = scale(HEADER_HEIGHT);
    fill(dc, 0, 0, client.right, header, RGB(16, 16, 16));
    if (g_app.window_icon)
        DrawIconEx(dc, scale(12), (header - scale(36)) / 2, g_app.window_icon, scale(36), scale(36), 0, nullptr, DI_NORMAL);
    text(dc, L"NELVO", RECT{scale(56), 0, scale(200), header}, RGB(255, 255, 255), g_fonts.title, DT_VCENTER);
    PixelRect pill = search_pill_rect(client.right, g_app.dpi);
    fill(dc, pill.left, pill.top, pill.right, pill.bottom, RGB(24, 24, 24));

    int banner_h = banner_height(g_app.banner_progress.value, g_app.dpi);
    if (banner_h > 0) {
        fill(dc, scale(12), header, client.right - scale(12), header + banner_h, RGB(28, 20, 12));
        text(dc, g_app.banner.title, RECT{scale(24), header, client.right - scale(24), header + banner_h / 2},
             RGB(255, 160, 60), g_fonts.label_bold, DT_BOTTOM);
        text(dc, g_app.banner.subtitle, RECT{scale(24), header + banner_h / 2, client.right - scale(24), header + banner_h},
             RGB(200, 200, 200), g_fonts.small, DT_TOP);
    }

    int top = current_list_top();
    int bottom = list_bottom(client.bottom, g_app.dpi);
    int row_h = scale(ROW_HEIGHT);
    int rows = g_app.filter.active ? g_app.filter.filtered_count : track_list_count();
    int first = (int)g_app.scroll_offset.value / row_h;
    for (int row = first; row < rows; row++) {
        int y = top + scale(FIRST_ROW_OFFSET) + row * row_h - (int)g_app.scroll_offset.value;
        if (y >= bottom) break;
        int index = g_app.filter.active ? g_app.filter.filtered_indices[row] : row;
        const Track* t = track_list_at(index);
        if (!t) continue;
        if (index == g_app.current_index) fill(dc, scale(12), y, client.right - scale(18), y + row_h - scale(4), RGB(34, 24, 16));
        else if (index == g_app.selected_index) fill(dc, scale(12), y, client.right - scale(18), y + row_h - scale(4), RGB(22, 22, 22));
        text(dc, t->title, RECT{scale(24), y, client.right - scale(30), y + row_h - scale(4)},
             index == g_app.current_index ? RGB(255, 160, 60) : RGB(235, 235, 235), g_fonts.label_bold, DT_VCENTER);
    }

    fill(dc, 0, bottom, client.right, client.bottom, RGB(18, 18, 18));
    const Track* playing = track_list_at(g_app.current_index);
    text(dc, playing ? playing->title : L"", RECT{scale(24), bottom, client.right - scale(24), bottom + scale(52)},
         RGB(255, 255, 255), g_fonts.label_bold, DT_VCENTER);
    g_app.control_bar = RECT{0, bottom, client.right, client.bottom};
    g_app.control_bar_drawn = 1;
}

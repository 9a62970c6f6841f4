#pragma once
// The painters of the main window's regions, called in order by paint_main_window.
#include "ui/paint_common.h"

// The rows (or the empty-library card) and the scrollbar below the column header at top.
void paint_track_list(const PaintFrame* f, int top, int shown);
// The player card at the bottom with the transport, seek bar, cover, texts and volume.
void paint_player_card(const PaintFrame* f);
// The sidebar menu's rows: the seven actions, then the list's order.
enum { MENU_ROW_COUNT = 8, MENU_ROW_SORT = 7 };
// The sliding panel over everything, with the dimmed and blurred window behind it.
void paint_sidebar(const PaintFrame* f);

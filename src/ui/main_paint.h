#pragma once
#include <windows.h>

// Draws the part damage of the main window into dc (the back buffer, or the window's own DC
// without one).
void paint_main_window(HDC dc, RECT client, RECT damage);

// The Jam bar is taller while it shows a download in progress.
int jam_bar_tall(void);
// Where the list begins now, with the Jam bar and the banner as far as they have slid in.
int current_list_top(void);

// The Turkish name of a sort mode, as the list's header and the sidebar show it.
const wchar_t* sort_mode_name(int mode);

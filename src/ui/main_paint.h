#pragma once
#include <windows.h>

// Draws the main window into dc (the back buffer, or the window's own DC without one).
void paint_main_window(HDC dc, RECT client);

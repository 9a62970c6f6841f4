#pragma once
// Where the main window opens and how small it may get. It opens where it was when the
// program last closed, if a monitor still shows that place; otherwise at a first size that
// fits the work area (the screen less the taskbar) of the monitor it opens on. Main thread.
#include <windows.h>

#include "app/app_state.h"

// In device-independent pixels.
enum { WINDOW_FIRST_WIDTH = 680, WINDOW_FIRST_HEIGHT = 720, WINDOW_MIN_WIDTH = 500, WINDOW_MIN_HEIGHT = 520 };

//~ Decisions

// The smallest size the window may be dragged to: the minimum scaled for dpi, but no larger
// than work, whose bottom would otherwise hide the player bar (at 150 % a 1080-pixel screen
// is 720 DIPs high, taskbar included).
SIZE window_min_size(int dpi, RECT work);
// The window's rectangle at start, in screen pixels. saved: the last run's place when a
// monitor still shows it, else null; work: that monitor's work area, else the work area of
// the monitor the window opens on; dpi: that monitor's. Without a saved place the first size
// is scaled for dpi and centred. Either is then clamped into work, never below the minimum.
RECT window_start_rect(const SavedWindow* saved, RECT work, int dpi);

//~ The window

// Where the window is created from the settings read, and whether it opens maximized.
RECT window_place_at_start(const Settings* s, int* maximized);
// WM_GETMINMAXINFO.
void window_place_min_track(HWND window, MINMAXINFO* info);
// WM_MOVE and WM_SIZE: follows the rectangle the window has when neither minimized nor
// maximized; a maximize or a restore is kept in the settings at once.
void window_place_follow(HWND window);
// The end of a move or resize (WM_EXITSIZEMOVE): kept in the settings at once, so that the
// place outlives a program ended without closing.
void window_place_save(HWND window);
// Closing: the window's place goes into the settings, which the caller then saves.
void window_place_note(HWND window);

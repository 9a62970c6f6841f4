#pragma once
// The window's taskbar button: previous, play/pause and next under its thumbnail, and the
// progress of a download while one runs. Main thread only; nothing happens where the shell
// offers no taskbar list.
#include <windows.h>

enum { THUMB_PREVIOUS = 0x5101, THUMB_PLAY_PAUSE, THUMB_NEXT };

// The "TaskbarButtonCreated" message; the shell sends it when the button exists (again).
UINT taskbar_created_message(void);
void on_taskbar_created(HWND window);
// The play/pause button's glyph and tip follow the player.
void taskbar_show_playing(int playing);
// percent 0..100 shows the progress, a negative one none.
void taskbar_show_progress(int percent);
// WM_COMMAND from a thumbnail button: does what the player card's button does. 1 when it was.
int on_thumb_button(WPARAM wparam);
void taskbar_release(void);
// Calls to the taskbar list that did not succeed since the start (its buttons, its progress).
int taskbar_failed_calls(void);

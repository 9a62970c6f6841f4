#pragma once
// The four media keys while another window has the focus: taken as hot keys for as long as
// the window lives. A key another program already holds stays with it, and the keys then
// reach Nelvo only while it has the focus, as before.
#include <windows.h>

enum { HOTKEY_PLAY_PAUSE = 0x4E01, HOTKEY_NEXT, HOTKEY_PREVIOUS, HOTKEY_STOP };

// Registers what it can; returns how many keys it got.
int media_keys_register(HWND window);
void media_keys_release(HWND window);
// WM_HOTKEY: does what the key does when the window has the focus. 1 when it was ours.
int on_hotkey(WPARAM id);

#pragma once
// The system media overlay of Windows 10/11 (the media flyout and the lock screen), through
// the System Media Transport Controls of the main window: the current track's title and
// artist, whether it plays, and its buttons. Activated at run time; where the system has no
// such class (older Windows, Wine) it stays off and nothing else changes. Main thread,
// except the button handler, which only posts MSG_SMTC_BUTTON.
#include <windows.h>

// 1 when the overlay is on for window. With it on, the overlay brings the media keys.
int media_overlay_start(HWND window);
int media_overlay_active(void);
// What the overlay shows; has_track 0 shows it stopped.
void media_overlay_show(const wchar_t* display_title, int playing, int has_track);
// The picture the overlay shows from the next media_overlay_show on: a track's cover as
// encoded bytes (any format the system reads; the overlay keeps its own copy), or null for
// none.
void media_overlay_set_cover(const void* bytes, int length);
void media_overlay_stop(void);
// MSG_SMTC_BUTTON: does what the overlay's button asks. 1 when it was one of ours.
int on_media_overlay_button(WPARAM button);

#pragma once
// The two workers that download tracks the user does not have, without asking: the
// shared-playlist worker draining the import queue, and the Jam fetch of the one track a
// Jam room plays. Both report to the main window only through posted messages.
#include <windows.h>

#include "base/wanted_track.h"

// What the Jam fetch hands back to the main window with its done message.
struct AutofetchRequest {
    WantedTrack wanted;
    wchar_t folder[260];
};

// The downloader target for a wanted track: its watch address when it carries a valid
// 11-character video id, else a one-result search for its title (control characters
// removed). Returns 0 when neither gives anything to fetch.
int wanted_track_target(const WantedTrack* wanted, wchar_t* target, int capacity);

// Starts the shared-playlist worker thread, which downloads into folder and reports to
// receiver (the caller has claimed the running flag); 0 when the thread could not be created.
int shared_fetch_start(HWND receiver, const wchar_t* folder);

// Starts the Jam fetch of wanted into folder, reporting to receiver, unless one is being
// fetched (g_jam_fetch.running) or nothing is wanted. 1 when the thread started.
int jam_fetch_start(HWND receiver, const WantedTrack* wanted, const wchar_t* folder);

void autofetch_request_release(LPARAM request);

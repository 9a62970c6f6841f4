#pragma once
// The two workers that download tracks the user does not have, without asking: the
// shared-playlist worker draining the import queue, and the Jam fetch of the one track a
// Jam room plays. Both report to the main window only through posted messages.
#include <windows.h>

#include "base/wanted_track.h"

enum { AUTOFETCH_ROOM_ID_CAPACITY = 64 };

// What the Jam fetch hands back to the main window with its done message. The worker fills
// path, written and stopped before it posts; nothing else touches the record meanwhile.
struct AutofetchRequest {
    WantedTrack wanted;
    wchar_t folder[260];
    char room_id[AUTOFETCH_ROOM_ID_CAPACITY];  // the Jam room the fetch was started for
    wchar_t path[260];  // the file the downloader named; empty when none (or a longer one)
    int written;        // path was written by this fetch, not found there already
    int stopped;        // the fetch was asked to stop (its result is then 0)
};

// The downloader target for a wanted track: its watch address when it carries a valid
// 11-character video id, else a one-result search for its title (control characters
// removed). Returns 0 when neither gives anything to fetch.
int wanted_track_target(const WantedTrack* wanted, wchar_t* target, int capacity);

// Starts the shared-playlist worker when entries wait in g_shared_queue and none runs:
// claims the running flag under the queue's lock, clears the stop flag, asks resolve_folder
// for the folder to download into (0 from it: there is none, and nothing starts), and
// starts the thread, which reports to receiver. Returns 1 when it started one. Entries
// queued while a worker runs are taken by it; those queued while it stops wait for the call
// made when it has finished. A worker that cannot start the downloader ends at once and
// leaves every entry it did not fetch waiting for the next import.
int shared_fetch_resume(HWND receiver, int (*resolve_folder)(wchar_t* folder));

// Starts the Jam fetch of wanted into folder for the room room_id, reporting to receiver,
// unless one is being fetched (g_jam_fetch.running) or nothing is wanted. 1 when the
// thread started.
int jam_fetch_start(HWND receiver, const WantedTrack* wanted, const wchar_t* folder, const char* room_id);

void autofetch_request_release(LPARAM request);

#pragma once
// Following the music folder on disk while the program runs. A thread of the library's scans
// watches the folder and its subfolders, lets a burst of changes settle, and hands the window
// one batch of what they mean for the list: paths gone, paths moved, and files that came or
// changed with what the list shows for them, read as a scan reads them. Files still being
// written (a copy, a downloader's last step) wait until the writer lets go.
#include <windows.h>

#include <stddef.h>

// What a change does to the list, applied in the order of the batch.
enum {
    WATCH_GONE = 1,   // the track at path, or every track under it (a folder), leaves the list
    WATCH_MOVED = 2,  // the track at path, or every track under it, now lies at to
    WATCH_FILE = 3,   // the audio file at path as it is now: the listed track takes it, or,
                      // unless refresh_only, it joins the list
};

struct WatchChange {
    int kind;
    int refresh_only;  // WATCH_FILE: the file only changed; a file not listed stays out
    size_t path_at;    // the path in the batch's text
    size_t more_at;    // WATCH_MOVED: the new path; WATCH_FILE: title, artist, album and album
                       // artist, end to end
    int duration_ms, number, disc;
    unsigned added, flags;
};

// Allocated by the watch thread, freed with watch_batch_free by whoever receives (or fails
// to post) it.
struct WatchBatch {
    unsigned generation;  // the watch it comes from
    int rescan;           // changes were lost (the system's record of them overflowed, or
                          // came damaged): only listing the folder again puts the list right
    int count, capacity;
    WatchChange* changes;
    size_t used, text_capacity;  // characters of text
    wchar_t* text;
};

// Quiet wanted before a burst of changes is handed over, and the longest a change waits for
// it while more keep coming.
enum { WATCH_QUIET_MS = 300, WATCH_HOLD_MAX_MS = 1500 };

// Starts watching folder on a new thread, which posts each WatchBatch to receiver as message
// (wParam its generation, lParam the batch). Any watch running is stopped first. Returns the
// new watch's generation, 0 when none could be started. Main thread.
unsigned folder_watch_start(HWND receiver, UINT message, const wchar_t* folder);
// Stops the watch, waiting at most timeout_ms for its thread to end; batches still on their
// way carry an older generation. Main thread.
void folder_watch_stop(DWORD timeout_ms);
void watch_batch_free(WatchBatch* batch);

// One change as the system reports it: its FILE_ACTION_*, and the name relative to the
// watched folder (empty when too_long: it does not fit a track's path).
struct WatchRecord {
    unsigned long action;
    int came;  // the name came into the folder (added, or the new name of a rename)
    int too_long;
    int rounds;  // how often the file was found still being written
    wchar_t name[260];
};
// Reads one ReadDirectoryChangesW result, record by record: bytes are only lent.
struct WatchReader {
    const unsigned char* bytes;
    size_t size, at;
    int ended;
};
// The next record into out: 1, or 0 at the end, or -1 when the bytes are malformed (an
// offset or a length past them, an action the system does not report): then nothing of them
// is to be trusted.
int watch_record_next(WatchReader* reader, WatchRecord* out);

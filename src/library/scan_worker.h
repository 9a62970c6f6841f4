#pragma once
// Scanning a music folder on a worker thread, so that a library of 100,000 tracks fills in
// while the window goes on painting, playing and filtering. The worker walks the tree and
// makes the titles; the window adds what it hands over, batch by batch.
#include <windows.h>

// One track of a batch: its five texts (path, title, artist, album, album artist, each
// terminated) stand end to end in the batch's text from text_at.
struct ScanTrack {
    size_t text_at;
    int duration_ms;
    int number, disc;
    unsigned added;
    unsigned flags;
};

// One batch of a scan: count tracks, their texts end to end in text. Allocated by the
// worker, freed with scan_batch_free by whoever receives (or fails to post) it.
struct ScanBatch {
    unsigned generation;  // the scan it belongs to
    int last;             // the scan's final batch (possibly empty): the walk has ended
    int complete;         // with last: the walk went through (not cancelled, not cut short)
    int count;
    int folders;          // folders entered so far by the whole scan
    int files;            // audio files found so far by the whole scan
    ScanTrack* tracks;    // count of them
    int track_capacity;
    size_t used, capacity;  // characters of text
    wchar_t text[1];
};

// Starts scanning folder and its subfolders on a new thread, which posts each ScanBatch to
// receiver as message (wParam its generation, lParam the batch). Any scan still running
// is cancelled first: its batches that are still on their way carry an older generation.
// Tags come from cache_file (tag_cache.h) where it knows the file, else from the file; a
// scan that went through writes what it listed back to cache_file (null: no cache).
// Returns the new scan's generation, 0 when no thread could be started (nothing will come).
unsigned scan_worker_start(HWND receiver, UINT message, const wchar_t* folder, const wchar_t* cache_file);
// Cancels the running scan, if any, without starting another.
void scan_worker_cancel(void);
// The generation whose batches are current: the last started scan's, or 0 after a cancel.
unsigned scan_worker_generation(void);
// Cancels and waits (at most timeout_ms) for the scan threads to end; for the window's end.
void scan_worker_shutdown(DWORD timeout_ms);

// Adds a batch's tracks to the track list (main thread), skipping paths it holds already.
// Returns how many were added.
int scan_batch_add(const ScanBatch* batch);
void scan_batch_free(ScanBatch* batch);

// For tests and benchmarks: the most tracks a batch holds, and how long (ms) the worker may
// hold a batch that has any before posting it. 0 restores the defaults.
void scan_worker_set_batching(int max_tracks, int max_wait_ms);

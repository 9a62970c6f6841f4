#pragma once
// The list follows the music folder on disk while the program runs: files deleted there
// leave it, files that come join it, renamed files and folders keep their places under their
// new names. Main thread.
#include <windows.h>

// Watches folder (the music folder) from now on, in place of whatever was watched; the same
// folder again changes nothing, and "" or a missing folder stops the watch.
void library_watch_follow(const wchar_t* folder);
// MSG_WATCH_BATCH: wParam the watch's generation, lParam its WatchBatch (freed here). A batch
// that comes while a scan fills the list waits for the scan.
void on_watch_batch(WPARAM generation, LPARAM batch);
// The scans have ended: the batches that waited for them are applied.
void library_watch_scans_ended(void);
// Whether path came into the list through the watch and nothing claimed it since. The
// program's own download that the watch listed before the download's end was handled is
// still the download's: its handler claims it. Forgets it.
int library_watch_claim(const wchar_t* path);
// The window's end: the watch stops and nothing waits any more.
void library_watch_shutdown(void);

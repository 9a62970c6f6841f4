#pragma once
// Filling the track list from folders without stopping the window: folders are scanned on
// the scan worker one after another, and what was asked after a scan (files to open, a
// playlist to import, the track to resume) waits for it, so the list keeps the order in
// which things were asked. Main thread.
#include <windows.h>

// Adds folder's tracks (with its subfolders) after what is already asked.
void library_scan_folder(const wchar_t* folder);
// The list was cleared for a new music folder: whatever was scanning or waiting is dropped
// and folder is scanned.
void library_scan_replace(const wchar_t* folder);
// Lists folder again after what is already asked, and takes out the tracks under it whose
// files it no longer meets (the changes seen on disk were lost).
void library_scan_sweep(const wchar_t* folder);
// Drops the running scan and everything waiting (the list was cleared).
void library_scan_cancel_all(void);
// A file to add (or playlist to import) once the scans asked before it have ended; at once
// when none runs. play: the file then plays.
void library_scan_then_open(const wchar_t* path, int play);
// A playlist import once the scans asked before it have ended.
void library_scan_then_import(const wchar_t* path);
// The track of the last session resumed once the scans asked before have ended.
void library_scan_then_resume(void);
// A scan runs or a step waits for one.
int library_scan_busy(void);

// MSG_SCAN_BATCH: wParam the scan's generation, lParam its ScanBatch (freed here).
void on_scan_batch(WPARAM generation, LPARAM batch);
// The window's end: the scan threads stop, and nothing waits any more.
void library_scan_shutdown(void);

// Where the scans keep what they read from files: "tags.cache" in the per-user folder ("" when
// there is none).
void tag_cache_file(wchar_t* out, int capacity);

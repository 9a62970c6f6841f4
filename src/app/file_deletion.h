#pragma once
// Deleting files the player may still hold. A file it just let go of can stay open for a
// moment while the media pipeline winds down on its own threads; the window must not wait
// for that, so a sharing violation puts the path on a short list that a timer retries.
#include <windows.h>

enum { PENDING_DELETIONS_MAX = 64, DELETE_RETRY_MS = 50, DELETE_GIVE_UP_MS = 4000 };

// Deletes path now, or later if another handle still has it open.
void delete_file_soon(const wchar_t* path);
// TIMER_DELETE_RETRY: one more try for each waiting path; the timer stops when none waits.
void retry_pending_deletions(HWND window);
// At exit, after the player let go: tries for at most max_ms, then leaves the rest.
void finish_pending_deletions(int max_ms);
int pending_deletion_count(void);

#pragma once
// Keeping the program current: the check of the update server's version file and, on the
// user's consent, the download that replaces the program beside itself and restarts it.
// Both run on worker threads and report to the main window only by posted messages.
#include <windows.h>

#include "update/update_info.h"

enum { UPDATE_FAILED_START = 5 };  // the new program would not start; the old one is back

// The update server's base address ("https://host"), a build-time constant; the tests point
// it at a loopback server, or set "" (no server: no check at start-up, and a manual check
// finds nobody). nullptr restores the built-in one.
void update_set_server(const wchar_t* base);
const wchar_t* update_server(void);
// The program the download replaces: the running one unless the tests name another.
void update_set_program_path(const wchar_t* exe);

// Called on the download thread just before the new program starts and this one ends
// without its usual goodbye: the caller writes out whatever it still holds (the friends
// store's queued save). Null: nothing.
void update_set_before_restart(void (*write_out)(void));

// Deletes what earlier updates left in the program's folder.
void remove_update_leftovers(void);
// Starts a check; it posts MSG_UPDATE_CHECKED with an UpdateInfo when a newer version is
// offered or the check was manual.
void start_update_check(HWND window, int manual);
// Starts the download from url unless one runs or url is empty. 1 when started.
int start_update_download(HWND window, const wchar_t* url);
// Frees the record MSG_UPDATE_CHECKED carried.
void update_record_release(LPARAM record);

// The swap: exe aside to old, fresh into exe's place; 0, or 2 (fresh is no program for this
// machine), 3 (exe could not be moved aside) or 4 (fresh could not be moved in; exe is back).
// On every failure fresh is deleted and exe is left as it was.
int update_install(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old);
// Starts the swapped-in program. When it will not start, the swap is undone (the new file
// aside as fresh, old back into exe's place) and 0 is returned.
int update_restart(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old);

// The progress shown for total bytes of a download: of its length when known, else 95 per
// 320000 bytes; never above 99 before the end.
int update_progress_percent(long long total, long long length);

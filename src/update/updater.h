#pragma once
// Keeping the program current: the check of the update server's version file and, on the
// user's consent, the download that replaces the program beside itself and restarts it.
// Both run on worker threads and report to the main window only by posted messages.
#include <windows.h>

#include "update/update_info.h"

// A download larger than this, or running longer, is given up.
enum { UPDATE_MAX_BYTES = 256 << 20, UPDATE_MAX_MS = 10 * 60 * 1000 };
// How long a new program has to show its window before the swap is undone.
enum { UPDATE_READY_MS = 15000 };

// The update server's base address ("https://host"), a build-time constant; the tests point
// it at a loopback server, or set "" (no server: no check at start-up, and a manual check
// finds nobody). nullptr restores the built-in one.
void update_set_server(const wchar_t* base);
const wchar_t* update_server(void);
// The public key updates must be signed with, as PEM text (the build's own, from
// NELVO_UPDATE_KEY, when pem is nullptr; "" for none). 1 when the key is usable. Main thread,
// before a download starts.
int update_set_public_key(const char* pem);
// Whether this program installs only signed updates: it has a key, usable or not (one
// that is not refuses every update).
int update_signed(void);
// The program the download replaces: the running one unless the tests name another.
void update_set_program_path(const wchar_t* exe);

// Called on the download thread just before the new program starts and this one ends
// without its usual goodbye: the caller writes out whatever it still holds (the friends
// store's queued save). Null: nothing.
void update_set_before_restart(void (*write_out)(void));

// Deletes what earlier updates left in the program's folder, at each start once the program
// is up. The old program (Nelvo_old.tmp) is kept through the first such start after a swap,
// which leaves Nelvo_started.tmp beside it, and removed with it by the next.
void remove_update_leftovers(void);
// The error box's text for a failed update's result code (MSG_UPDATE_RESULT's lParam),
// naming where the old program now is after a failed swap.
void update_failure_text(int code, wchar_t* text, int capacity);
// Starts a check; it posts MSG_UPDATE_CHECKED with an UpdateInfo when a newer version is
// offered, the check was manual, or a signed build refuses what the server offers. A signed
// build reads the server's signed manifest ("/version.txt.sig", update_manifest.h) beside
// the version file, and that decides (update_check_decide).
void start_update_check(HWND window, int manual);
// Starts the download from url unless one runs or url is empty. 1 when started. With a key
// (update_signed), the download is installed only when "<url>.sig" is its signature (an
// ECDSA P-256 signature of its SHA-256, DER or 64 bytes of r and s) and the server's signed
// manifest, fetched again here, names its SHA-256 and a version newer than this one; else
// result code UPDATE_UNVERIFIED, UPDATE_NOT_NEWER or UPDATE_STALE.
int start_update_download(HWND window, const wchar_t* url);
// Frees the record MSG_UPDATE_CHECKED carried.
void update_record_release(LPARAM record);

// The swap: exe aside to old, fresh into exe's place; 0, or UPDATE_UNVERIFIED (fresh is no
// program for this machine), UPDATE_MOVE_FAILED (exe could not be moved aside),
// UPDATE_PLACE_FAILED (fresh could not be moved in; exe is back, renamed or copied) or
// UPDATE_UNDO_FAILED (exe could not be put back: the old program is old). On every other
// failure fresh is deleted and exe holds the old program.
int update_install(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old);
// Starts the swapped-in program, telling it which process it replaces, and waits for it to
// report that its window is up (update_report_ready). 0 when it did; UPDATE_FAILED_START when
// it would not start, ended first or stayed silent for UPDATE_READY_MS (it is ended, and the
// swap undone: the new file aside as fresh, old back into exe's place, by rename or copy);
// UPDATE_UNDO_FAILED when the undo failed (exe then holds the new program, old the old one).
// The old program (old) is left for the new one to remove (remove_update_leftovers).
int update_restart(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old);
// The new program's side: its window is up; the process replaced may end.
void update_report_ready(DWORD replaced);

// The progress shown for total bytes of a download: of its length when known, else 95 per
// 320000 bytes; never above 99 before the end.
int update_progress_percent(long long total, long long length);
// Whether a download may go on with total bytes so far of an announced length (0: none):
// neither is above UPDATE_MAX_BYTES.
int update_body_within(long long total, long long length);
// Whether a body that ended after total bytes is whole: something arrived, within the
// limit, and exactly the announced length when there is one.
int update_body_whole(long long total, long long length);

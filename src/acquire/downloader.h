#pragma once
// One download by the external downloader: the best audio stream of one video, named
// "<title> [<id>].<ext>", into a folder. Blocks the calling worker thread until the child
// ends; the file is the one the downloader's output names. Also the downloader's own
// self-update, and which program the downloader is.
#include <windows.h>
#include <stdint.h>

#include <atomic>

// What the user puts beside Nelvo.exe or on the PATH; the texts that ask for it name it.
#define DOWNLOADER_EXE L"yt-dlp.exe"

// Every runner of the downloader gives this when it could not be started at all (not
// beside the program, not on the PATH): every other run would fail the same way, so the
// callers say so instead of counting a failure.
enum { DOWNLOADER_MISSING = -1 };

// The program every command line starts: DOWNLOADER_EXE, or for the tests a name of their
// own (nullptr restores it). Set it while no downloader runs.
void downloader_set_program(const wchar_t* exe_name);

// Writes the program as the first word of an empty line, quoted only when it holds a
// blank. Returns 0 when it does not fit.
int downloader_command_start(wchar_t* line, int capacity);

// Whether the program is found where starting it would look (beside Nelvo.exe, the system
// folders, the PATH).
int downloader_found(void);

// A line of the downloader's output is kept up to DOWNLOADER_OUTPUT_LINE_CAPACITY-1 bytes:
// room for a destination line naming a path of DESTINATION_CAPACITY_MAX-1 characters of
// three bytes each, so that a line cut short always names a path too long to be taken.
enum { DOWNLOADER_LINE_CAPACITY = 2048, DOWNLOADER_OUTPUT_LINE_CAPACITY = 1024, DESTINATION_CAPACITY_MAX = 260 };

typedef void (*DownloadProgress)(int percent, intptr_t user);

// The command line for one download, quoted argument by argument. Returns 0 when target
// or folder is empty, the target starts with '-' (it would be read as an option), or the
// line does not fit in capacity.
int downloader_command_line(wchar_t* line, int capacity, const wchar_t* target, const wchar_t* folder);

// The percentage a "[download]" progress line starts with (behind the tag and its blanks),
// rounded and capped at 99; -1 for any other line or a value outside 0..100.
int progress_from_line(const char* line, int length);

// The file a "[download]" line at the start of the output line names: 1 for
// "Destination: <path>" (this run writes it), 2 for "<path> has already been downloaded"
// (it was there before), 0 for any other line. The output is UTF-8; a path that is not,
// or does not fit in capacity with its terminator, counts as no path (a cut one would
// name another file). path is left empty whenever 0 is returned.
int destination_from_line(const char* line, int length, wchar_t* path, int capacity);

// Runs the download. Progress: 3 once the child started, then strictly increasing whole
// percentages below 100 parsed from its output, then 100 only on success. Returns 1 when
// the child exited with code 0 and *cancel stayed 0, DOWNLOADER_MISSING (with no progress)
// when it could not be started, else 0; a set cancel flag stops the child and everything
// it started. cancel and progress may be null. With destination, it receives
// the path the output named last (empty when none fitted in destination_capacity, which
// counts as at most DESTINATION_CAPACITY_MAX), and *written whether this run wrote it
// rather than finding it there; both are filled whatever the result.
int run_downloader(const wchar_t* target, const wchar_t* folder, const std::atomic<int>* cancel,
                   DownloadProgress progress, intptr_t user, wchar_t* destination = nullptr,
                   int destination_capacity = 0, int* written = nullptr);

//~ Self-update

enum {
    DOWNLOADER_UPDATE_FAILED = 0,
    DOWNLOADER_UPDATE_CURRENT = 1,
    DOWNLOADER_UPDATE_UPDATED = 2,
    DOWNLOADER_UPDATE_VERSION_CAPACITY = 64,
    DOWNLOADER_UPDATE_OUTPUT_CAPACITY = 8192,
    DOWNLOADER_UPDATE_TIME_LIMIT_MS = 120000,
};
// At most one self-update attempt a week, successful or not.
#define DOWNLOADER_UPDATE_INTERVAL_S (7LL * 24 * 60 * 60)

// Whether a self-update is due at now, given the last attempt (both seconds since 1970).
// A last attempt more than a day in the future (a clock set back, a damaged file) is due,
// so that the update is never put off for ever.
int downloader_update_due(long long last_attempt, long long now);

// What "-U" achieved, from its whole output (lines ended by LF or CR LF, standard error
// included) and its exit code: DOWNLOADER_UPDATE_UPDATED for "Updated yt-dlp to <v>",
// DOWNLOADER_UPDATE_CURRENT for "yt-dlp is up to date (<v> ...)" or, on exit 0 with
// neither, the "Current version: <v>" line; DOWNLOADER_UPDATE_FAILED for a non-zero exit,
// any "ERROR:" line, or nothing recognised. version gets the release without its channel
// ("stable@2024.10.07" gives "2024.10.07"), empty when failed or unknown.
int downloader_update_outcome(const char* output, int exit_code, wchar_t* version, int capacity);

// Runs "<program> -U" and waits for it, at most time_limit_ms, then stops it. Returns a
// DOWNLOADER_UPDATE_* outcome, or DOWNLOADER_MISSING when it cannot be started.
int downloader_self_update(wchar_t* version, int capacity, DWORD time_limit_ms);

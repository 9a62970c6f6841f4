#pragma once
// One download by the external downloader: the best audio stream of one video, named
// "<title> [<id>].<ext>", into a folder. Blocks the calling worker thread until the child
// ends; the file is the one the downloader's output names.
#include <stdint.h>

#include <atomic>

#define DOWNLOADER_EXE L"yt-dlp.exe"

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
// the child exited with code 0 and *cancel stayed 0; a set cancel flag stops the child and
// everything it started. cancel and progress may be null. With destination, it receives
// the path the output named last (empty when none fitted in destination_capacity, which
// counts as at most DESTINATION_CAPACITY_MAX), and *written whether this run wrote it
// rather than finding it there; both are filled whatever the result.
int run_downloader(const wchar_t* target, const wchar_t* folder, const std::atomic<int>* cancel,
                   DownloadProgress progress, intptr_t user, wchar_t* destination = nullptr,
                   int destination_capacity = 0, int* written = nullptr);

#pragma once
// One download by the external downloader: the best audio stream of one video, named
// "<title> [<id>].<ext>", into a folder. Blocks the calling worker thread until the child
// ends; callers find the file by rescanning the folder.
#include <stdint.h>

#include <atomic>

#define DOWNLOADER_EXE L"yt-dlp.exe"

enum { DOWNLOADER_LINE_CAPACITY = 2048, PROGRESS_LINE_CAPACITY = 512 };

typedef void (*DownloadProgress)(int percent, intptr_t user);

// The command line for one download, quoted argument by argument. Returns 0 when target
// or folder is empty, the target starts with '-' (it would be read as an option), or the
// line does not fit in capacity.
int downloader_command_line(wchar_t* line, int capacity, const wchar_t* target, const wchar_t* folder);

// The percentage a "[download]" progress line starts with (behind the tag and its blanks),
// rounded and capped at 99; -1 for any other line or a value outside 0..100.
int progress_from_line(const char* line, int length);

// Runs the download. Progress: 3 once the child started, then strictly increasing whole
// percentages below 100 parsed from its output, then 100 only on success. Returns 1 when
// the child exited with code 0 and *cancel stayed 0; a set cancel flag stops the child and
// everything it started. cancel and progress may be null.
int run_downloader(const wchar_t* target, const wchar_t* folder, const std::atomic<int>* cancel,
                   DownloadProgress progress, intptr_t user);

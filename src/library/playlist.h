#pragma once
// Playlist files, the way friends exchange track lists: "#EXTM3U" text in UTF-8, each track
// as an optional "#EXTNELVO:YTID=<id>" line, an "#EXTINF:-1,<title>" line and its path.
// The reader also takes relative paths and video-site addresses. Main thread.
#include <wchar.h>

struct WantedTrack;

// Lines longer than this many characters, less one, are read in pieces.
enum { PLAYLIST_LINE_CAPACITY = 1024 };
// Bytes read from a playlist file at a time; whatever the file's size, the reader holds
// no more than this (and the decoded text) in memory.
enum { PLAYLIST_READ_CHUNK = 16384 };

// Writes the whole track list to file_name: through a temporary file in the same folder
// that then replaces it, so a failed write leaves the old file as it was. Returns 1, or 0
// when the file cannot be written.
int write_playlist_file(const wchar_t* file_name);

// Adds the listed audio files that exist to the track list, counts the entries that a local
// track already answers (by video id or title), and puts the others, de-duplicated, into
// wanted (at most wanted_capacity; wanted and wanted_count may be absent). Returns the
// number of entries resolved locally; 0 when the file cannot be opened.
int read_playlist_file(const wchar_t* file_name, WantedTrack* wanted, int wanted_capacity, int* wanted_count);

// The video id of a watch address or short link of the video site, or an empty string.
// out must hold at least 12 characters; a smaller buffer gets nothing.
void video_id_from_address(const wchar_t* address, wchar_t* out, int out_capacity);

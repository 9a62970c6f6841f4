#pragma once
// Filling the track list from the music folder.
#include <wchar.h>

// The music folder beside the program, created on first use.
#define DEFAULT_MUSIC_FOLDER_NAME L"M\u00fczikler"

// How many folders deep below the scanned one a scan goes.
enum { SCAN_MAX_DEPTH = 16 };

// Adds the audio files inside folder and its subfolders down to SCAN_MAX_DEPTH levels
// (file-system order, each subfolder where its folder's listing meets it), in the folders
// scan_enters_folder lets it into. When the list already held tracks, files already
// listed are not added again. Returns the number of audio files that ended up with an
// index (new or existing). A file whose full path would pass 259 characters is skipped: a
// track cannot hold its path. New files' tags are read here, on the calling thread.
int scan_music_folder(const wchar_t* folder);
// The same, with the tags of files the cache file knows taken from it (tag_cache.h); a scan
// into an empty list that went through writes what it listed back.
int scan_music_folder_cached(const wchar_t* folder, const wchar_t* cache_file);

// Whether a scan goes into a folder that the listing shows with these attributes and, for a
// reparse point, this tag. Links and junctions (name surrogates) are passed by: one pointing
// at an ancestor would list the library again under every name of the loop. A cloud
// placeholder (OneDrive's files on demand) holds the user's own files and is entered. Hidden
// and system folders hold what their owners did not mean to be browsed (recycle bins,
// thumbnails, other programs' caches).
int scan_enters_folder(unsigned long attributes, unsigned long reparse_tag);

// What the listing says of a file, without opening it.
struct ScanFile {
    unsigned long long size;
    unsigned long long written;  // last write time, 100 ns since 1601
    unsigned created_minutes;    // creation time in minutes since 1601
};

// Called by scan_walk for each folder it is about to enter (path and file null) and each
// audio file (path its full path, length characters); 0 stops the walk. Both are only lent.
typedef int (*ScanVisit)(void* user, const wchar_t* path, int length, const ScanFile* file);
struct TagCache;
struct TrackTags;
struct TrackShown;
// What the list shows for one file a walk of root met: its tags from the cache when it knows
// the file as it is, else read from the file; with keep, recorded in the cache for its next
// save. tags is scratch. Any thread (the cache is the caller's alone).
void scan_read_track(TagCache* cache, int keep, const wchar_t* path, const wchar_t* root, const ScanFile* file,
                     TrackTags* tags, TrackShown* shown);

// Walks folder as scan_music_folder does, touching no list; any thread. 1 when it went
// through to the end (a folder that cannot be listed has no end to reach), 0 when a visit
// stopped it or memory ran out.
int scan_walk(const wchar_t* folder, ScanVisit visit, void* user);

// The folder holding the running executable, without a trailing backslash: where the
// program keeps its default music folder and friends.json.
void program_folder(wchar_t* buf, int capacity);
// Makes program_folder answer folder instead (nullptr: the executable's again). For the
// test and benchmark programs, which run the program's code inside their own executables
// and must not leave its files beside the real one.
void program_folder_set(const wchar_t* folder);

int folder_exists(const wchar_t* path);

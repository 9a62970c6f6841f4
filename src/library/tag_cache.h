#pragma once
// What the scans read from files, kept for the next start: a library of 100,000 tracks is
// then listed without opening a file. Each record is keyed by the file's path, size and
// write time, so that a changed file is read again. The file is written whole (never left
// cut); one that is damaged, cut, of another version or not ours is ignored and made anew.
// One cache belongs to one thread at a time.
#include <stdint.h>
#include <wchar.h>

#include "library/tags.h"

struct TagCache;

// The records of file (a missing or unusable file gives an empty cache); null only when
// memory ran out.
TagCache* tag_cache_load(const wchar_t* file);
// The record of path with that size and write time into out: 1 when there is one.
int tag_cache_find(TagCache* cache, const wchar_t* path, uint64_t size, uint64_t written, TrackTags* out);
// Keeps a record for the next save: every file the scan lists, after its find (one that was
// found as it was costs nothing until something changed). 0 when memory ran out (the save is
// then given up: it would forget files).
int tag_cache_keep(TagCache* cache, const wchar_t* path, uint64_t size, uint64_t written, const TrackTags* tags);
// Whether a scan of folder changed the cache: a file not found as it was, or one of folder's
// files that the scan did not meet.
int tag_cache_changed(TagCache* cache, const wchar_t* folder);
// Writes the kept records whole to file, with the loaded records of files outside folder as
// they were (so that a scan of one music folder does not make another one's start read
// every file again). 1 when written.
int tag_cache_save(TagCache* cache, const wchar_t* file, const wchar_t* folder);
void tag_cache_free(TagCache* cache);

// The bytes of a cache file as records (for tests and the fuzz run): the same reading
// tag_cache_load does. Returns the number of records, -1 when the bytes are not a cache.
int tag_cache_parse_count(const unsigned char* bytes, size_t size);

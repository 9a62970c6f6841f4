#pragma once
// The tag readers (library/tags.h) over a file on disk. Any thread.
#include "library/tags.h"

// The readers ask for a few bytes at a time (a chunk header, a frame header); reading whole
// aligned blocks of this size turns those into one system call per block. Larger reads go
// straight through.
enum { TAG_FILE_BLOCK = 64 * 1024 };

// A file opened for the readers, read through a cache of one block.
struct TagFile;
// Opens path (others may keep writing, renaming or deleting it); null when it cannot be opened.
TagFile* tag_file_open(const wchar_t* path);
TagSource tag_file_source(TagFile* file);
void tag_file_close(TagFile* file);

// Reads the tags of the file at path into out; returns its format, TAG_FORMAT_NONE when the
// file cannot be opened or is of no known format.
int tags_read_file(const wchar_t* path, TrackTags* out);

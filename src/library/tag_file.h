#pragma once
// The tag readers (library/tags.h) over a file on disk. Any thread.
#include "library/tags.h"

// Reads the tags of the file at path into out; returns its format, TAG_FORMAT_NONE when the
// file cannot be opened or is of no known format.
int tags_read_file(const wchar_t* path, TrackTags* out);

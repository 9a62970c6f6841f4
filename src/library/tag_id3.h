#pragma once
// ID3v2 (2.2, 2.3, 2.4) as MP3 files carry it at their start and WAV files in a chunk. Pure and
// bounded like the other readers (library/tags.h).
#include <stdint.h>

#include "library/tags.h"

// Reads the ID3v2 tag that starts at offset and lies within limit bytes of the source, filling
// only the fields of out that are still empty (the first value of each wins). Returns the
// tag's whole length (header, body and footer), 0 when no tag starts there.
uint64_t tags_read_id3v2(const TagSource* source, uint64_t offset, uint64_t limit, TrackTags* out);

#pragma once
// What an audio file says about itself: title, artists, album, numbers, duration and whether
// it carries a picture, read from its own tag formats. Pure and bounded: the readers see the
// file only through a TagSource, check every length read from the file against what remains
// before they use it, advance or stop in every loop, and limit nesting, so that a hostile
// file costs only what its size allows. Any thread.
#include <stdint.h>
#include <wchar.h>

enum { TAG_TEXT_CAPACITY = 256 };  // 255 characters and a terminator; longer text is cut

struct TrackTags {
    wchar_t title[TAG_TEXT_CAPACITY];
    wchar_t artist[TAG_TEXT_CAPACITY];
    wchar_t album[TAG_TEXT_CAPACITY];
    wchar_t album_artist[TAG_TEXT_CAPACITY];
    int track;        // 0 unknown
    int disc;         // 0 unknown
    int year;         // 0 unknown
    int duration_ms;  // 0 unknown
    // An embedded front picture (or the first picture): where its encoded bytes lie in the
    // file; length 0 when there is none.
    uint64_t picture_offset;
    uint32_t picture_length;
};

// The file as the readers see it: read fills out with up to length bytes from offset and
// returns how many it gave (fewer only at the end of the file, or 0 past it or on failure).
struct TagSource {
    void* context;
    int (*read)(void* context, uint64_t offset, void* out, int length);
    uint64_t size;
};

// A source over bytes in memory (for tests, the fuzz run and small files).
struct TagMemory {
    const unsigned char* bytes;
    uint64_t size;
};
TagSource tag_source_memory(TagMemory* memory);

enum {
    TAG_FORMAT_NONE = 0,
    TAG_FORMAT_MP3,
    TAG_FORMAT_FLAC,
    TAG_FORMAT_OGG_VORBIS,
    TAG_FORMAT_OGG_OPUS,
    TAG_FORMAT_MP4,
    TAG_FORMAT_ASF,
    TAG_FORMAT_WAV,
};

// Reads what the file holds into out (zeroed first) and returns its format, TAG_FORMAT_NONE
// when it is none of them or too broken to say anything. Whatever could be read before a
// broken part is kept.
int tags_read(const TagSource* source, TrackTags* out);

// Each format's reader, as tags_read calls them once the format is known; each returns 1
// when the file is of its format.
int tags_read_mp3(const TagSource* source, TrackTags* out);   // ID3v2.2-2.4, ID3v1/1.1, Xing/Info/VBRI, CBR;
                                                              // 0 for a FLAC stream after an ID3v2 tag
int tags_read_flac(const TagSource* source, TrackTags* out);  // STREAMINFO, VORBIS_COMMENT, PICTURE
int tags_read_ogg(const TagSource* source, TrackTags* out, int* format);  // Vorbis or Opus
int tags_read_mp4(const TagSource* source, TrackTags* out);   // moov/udta/meta/ilst, mvhd/mdhd, covr
int tags_read_asf(const TagSource* source, TrackTags* out);   // content description, extended content
int tags_read_wav(const TagSource* source, TrackTags* out);   // fmt, data, LIST/INFO, id3 chunk

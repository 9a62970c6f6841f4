#pragma once
// Text as the tag formats hold it, turned into wide text once, and the few fields several
// formats share. Pure.
#include <stdint.h>
#include <wchar.h>

struct TrackTags;

// Each writes the text of length bytes into out (capacity characters, terminated, cut on a
// character boundary), up to its first NUL, without the spaces at either end and with
// control characters dropped. Returns the length written.
//
// Latin-1 as tags mark it is often Windows-1254 in old Turkish files: where the bytes hold
// one of ý þ ð Ý Þ Ð (0xFD 0xFE 0xF0 0xDD 0xDE 0xD0) and every other byte above 0x7F is a
// letter Turkish also writes (ç ö ü â î û and their capitals), the text is read as
// Windows-1254 (ı ş ğ İ Ş Ğ); otherwise as Latin-1. Bytes 0x80..0x9F, which Latin-1 leaves
// to control characters, are read as Windows-1254 gives them (quotes, dashes, €) either way.
int tag_text_latin1(const unsigned char* bytes, int length, wchar_t* out, int capacity);
// Invalid sequences become U+FFFD.
int tag_text_utf8(const unsigned char* bytes, int length, wchar_t* out, int capacity);
// A byte-order mark decides the order and is dropped; without one, big_endian does. An odd
// last byte is dropped; an unpaired surrogate becomes U+FFFD.
int tag_text_utf16(const unsigned char* bytes, int length, int big_endian, wchar_t* out, int capacity);
// ID3v2's text encodings: 0 Latin-1, 1 UTF-16 with a mark, 2 UTF-16BE, 3 UTF-8.
int tag_text_id3(int encoding, const unsigned char* bytes, int length, wchar_t* out, int capacity);

// The number a track or disc field starts with ("3", "03/12", " 7 "); 0 when none, at most
// 9999.
int tag_leading_number(const wchar_t* text);
// A year from a date field ("1979", "1979-11-30"): its first four digits, 0 when none.
int tag_year(const wchar_t* text);

// A Vorbis comment block as FLAC and Ogg carry it (little-endian lengths: vendor, count,
// then "KEY=value" fields in UTF-8; keys without regard to case): TITLE, ARTIST, ALBUM,
// ALBUMARTIST (or "ALBUM ARTIST"), TRACKNUMBER, DISCNUMBER, DATE. Only the first value of a
// key is kept. Returns 1 when the block was whole, 0 when it ended early (what came before
// is kept).
int tags_vorbis_comments(const unsigned char* block, uint32_t length, TrackTags* out);

// Little- and big-endian integers at p (the caller has checked the bytes are there).
inline uint32_t tag_le32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline uint32_t tag_be32(const unsigned char* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}
inline uint16_t tag_le16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint16_t tag_be16(const unsigned char* p) { return (uint16_t)(p[0] << 8 | p[1]); }
inline uint64_t tag_le64(const unsigned char* p) { return (uint64_t)tag_le32(p) | (uint64_t)tag_le32(p + 4) << 32; }
inline uint64_t tag_be64(const unsigned char* p) { return (uint64_t)tag_be32(p) << 32 | tag_be32(p + 4); }

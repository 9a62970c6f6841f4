#include "library/tag_id3.h"

#include <stdlib.h>
#include <string.h>

#include "library/tag_text.h"

// The frames are walked through the source, header by header, and only the frames kept are
// read: a tag is mostly one picture, of which only the start is needed. A tag whose whole
// body is unsynchronised must be read at once to find its frames; it is read this far.
static const uint32_t ID3_READ_CAP = 16u << 20;
// A text frame is read this far: far more than the 255 characters kept.
static const uint32_t ID3_TEXT_READ = 64 * 1024;
// A picture frame is read this far for its MIME type, type and description.
static const uint32_t ID3_PICTURE_HEAD = 4096;
// Each frame header is read with this much of what follows: most text frames are shorter,
// and come with their header in one read.
enum { ID3_FRAME_PEEK = 64 };

static int syncsafe_ok(const unsigned char* p) { return !((p[0] | p[1] | p[2] | p[3]) & 0x80); }

static uint32_t syncsafe32(const unsigned char* p) {
    return (uint32_t)(p[0] & 0x7F) << 21 | (uint32_t)(p[1] & 0x7F) << 14 | (uint32_t)(p[2] & 0x7F) << 7 | (p[3] & 0x7F);
}

// Undoes unsynchronisation in place (every 0xFF 0x00 was written for 0xFF); returns the new length.
static uint32_t id3_resync(unsigned char* p, uint32_t length) {
    uint32_t w = 0;
    for (uint32_t r = 0; r < length; r++) {
        p[w++] = p[r];
        if (p[r] == 0xFF && r + 1 < length && p[r + 1] == 0x00) r++;
    }
    return w;
}

static int frame_id_ok(const unsigned char* p, int length) {
    for (int i = 0; i < length; i++)
        if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9'))) return 0;
    return 1;
}

// The ID3 text fields the player keeps, by their 2.3/2.4 and 2.2 names.
enum { FIELD_NONE, FIELD_TITLE, FIELD_ARTIST, FIELD_ALBUM, FIELD_ALBUM_ARTIST, FIELD_TRACK, FIELD_DISC, FIELD_YEAR, FIELD_PICTURE };

static int frame_field(const unsigned char* id, int v22) {
    static const struct { const char* id; const char* id22; int field; } FRAMES[] = {
        {"TIT2", "TT2", FIELD_TITLE},  {"TPE1", "TP1", FIELD_ARTIST}, {"TALB", "TAL", FIELD_ALBUM},
        {"TPE2", "TP2", FIELD_ALBUM_ARTIST}, {"TRCK", "TRK", FIELD_TRACK}, {"TPOS", "TPA", FIELD_DISC},
        {"TDRC", "TYE", FIELD_YEAR},   {"TYER", "TYE", FIELD_YEAR},   {"APIC", "PIC", FIELD_PICTURE},
    };
    for (const auto& f : FRAMES)
        if (!memcmp(id, v22 ? f.id22 : f.id, v22 ? 3 : 4)) return f.field;
    return FIELD_NONE;
}

static void set_text(wchar_t* field, int encoding, const unsigned char* data, uint32_t length) {
    if (field[0]) return;
    tag_text_id3(encoding, data, (int)length, field, TAG_TEXT_CAPACITY);
}

static void set_number(int* field, int field_kind, int encoding, const unsigned char* data, uint32_t length) {
    if (*field) return;
    wchar_t text[64];
    tag_text_id3(encoding, data, (int)length, text, 64);
    *field = field_kind == FIELD_YEAR ? tag_year(text) : tag_leading_number(text);
}

// Where the terminator of text in the given ID3 encoding ends, within length; -1 when there is
// none. UTF-16 ends on two zero bytes at an even distance from its start.
static int64_t after_terminator(int encoding, const unsigned char* p, uint32_t length) {
    if (encoding == 1 || encoding == 2) {
        for (uint32_t i = 0; i + 1 < length; i += 2)
            if (!p[i] && !p[i + 1]) return i + 2;
        return -1;
    }
    const void* z = memchr(p, 0, length);
    return z ? (const unsigned char*)z - p + 1 : -1;
}

// The picture of an APIC (or 2.2 PIC) frame: its type and where its bytes start within data.
// Returns 0 when the frame is too short to hold one.
static int picture_start(const unsigned char* data, uint32_t length, int v22, int* type, uint32_t* start) {
    if (length < 2) return 0;
    int encoding = data[0];
    uint32_t at = 1;
    if (v22) {
        at += 3;  // the image format, three letters
    } else {
        int64_t mime = after_terminator(0, data + at, length - at);
        if (mime < 0) return 0;
        at += (uint32_t)mime;
    }
    if (at >= length) return 0;
    *type = data[at++];
    int64_t description = after_terminator(encoding, data + at, length - at);
    if (description < 0) return 0;
    at += (uint32_t)description;
    if (at >= length) return 0;
    *start = at;
    return 1;
}

struct PictureChoice {
    int found;
    int front;
};

// The tag's body as the frame walk sees it: the file through the source, or the body read
// whole and undone from unsynchronisation in memory.
struct Id3Body {
    const TagSource* source;
    uint64_t at;                 // where the body starts in the file
    const unsigned char* bytes;  // the body in memory, or null
    uint32_t length;
};

// Copies up to length bytes from position at of the body; returns how many it gave.
static uint32_t id3_body_read(const Id3Body* b, uint32_t at, unsigned char* out, uint32_t length) {
    if (at >= b->length) return 0;
    if (length > b->length - at) length = b->length - at;
    if (b->bytes) {
        memcpy(out, b->bytes + at, length);
        return length;
    }
    int got = b->source->read(b->source->context, b->at + at, out, (int)length);
    return got > 0 ? (uint32_t)got : 0;
}

uint64_t tags_read_id3v2(const TagSource* source, uint64_t offset, uint64_t limit, TrackTags* out) {
    if (offset >= source->size || limit < 10) return 0;
    if (limit > source->size - offset) limit = source->size - offset;
    unsigned char header[10];
    if (source->read(source->context, offset, header, 10) != 10) return 0;
    int version = header[3];
    if (memcmp(header, "ID3", 3) || version < 2 || version > 4 || header[4] == 0xFF || !syncsafe_ok(header + 6)) return 0;
    int flags = header[5];
    uint64_t body_size = syncsafe32(header + 6);
    uint64_t whole = 10 + body_size + (version == 4 && (flags & 0x10) ? 10 : 0);
    // 2.2's compression was never defined: such a tag cannot be read, only stepped over.
    if (version == 2 && (flags & 0x40)) return whole;

    // A tag cut by the end of its file (or its chunk) is read as far as it goes; its frames
    // are checked against what is there.
    uint64_t available = limit - 10;
    if (available > body_size) available = body_size;
    Id3Body body = {source, offset + 10, nullptr, (uint32_t)available};
    // In 2.2 and 2.3 unsynchronisation covers the whole body, the extended header with it;
    // frame positions then no longer match the file's, so no picture is placed.
    int tag_resynced = version < 4 && (flags & 0x80);
    unsigned char* whole_body = nullptr;
    if (tag_resynced) {
        uint32_t length = body.length < ID3_READ_CAP ? body.length : ID3_READ_CAP;
        whole_body = (unsigned char*)malloc(length ? length : 1);
        if (!whole_body) return whole;
        if (length && source->read(source->context, offset + 10, whole_body, (int)length) != (int)length) length = 0;
        body.bytes = whole_body;
        body.length = id3_resync(whole_body, length);
    }
    unsigned char* data = nullptr;  // the frame being read, grown as needed
    uint32_t data_capacity = 0;
    uint32_t length = body.length, at = 0;
    if (version >= 3 && (flags & 0x40)) {
        unsigned char b[4];
        if (id3_body_read(&body, 0, b, 4) != 4) goto done;
        // 2.3 counts the extended header's size without its own four bytes; 2.4 counts them.
        uint32_t extended = version == 3 ? tag_be32(b) + 4 : syncsafe32(b);
        if (extended < 6 || extended > length) goto done;
        at = extended;
    }
    {
        int v22 = version == 2;
        uint32_t header_size = v22 ? 6 : 10;
        PictureChoice picture = {0, 0};
        while (at + header_size <= length) {
            unsigned char f[10 + ID3_FRAME_PEEK];
            uint32_t frame_at = at, peeked = id3_body_read(&body, at, f, sizeof f);
            if (peeked < header_size) break;
            if (f[0] == 0) break;  // padding
            if (!frame_id_ok(f, v22 ? 3 : 4)) break;
            uint32_t size;
            int format_flags = 0;
            if (v22) {
                size = (uint32_t)f[3] << 16 | (uint32_t)f[4] << 8 | f[5];
            } else if (version == 3) {
                size = tag_be32(f + 4);
                format_flags = f[9];
            } else {
                // Some writers put plain sizes in 2.4 frames; a size with the high bit of a
                // byte set can only be one of those.
                size = syncsafe_ok(f + 4) ? syncsafe32(f + 4) : tag_be32(f + 4);
                format_flags = f[9];
            }
            if (size > length - at - header_size) break;
            int field = frame_field(f, v22);
            uint32_t data_at = at + header_size;
            uint32_t data_size = size;
            at = data_at + size;

            if (field == FIELD_NONE) continue;
            int frame_resynced = 0;
            if (version == 3) {
                if (format_flags & 0xC0) continue;  // compressed or encrypted
                if (format_flags & 0x20) {           // a group byte
                    if (data_size < 1) continue;
                    data_at++, data_size--;
                }
            } else if (version == 4) {
                if (format_flags & 0x0C) continue;  // compressed or encrypted
                uint32_t extra = (format_flags & 0x40 ? 1 : 0) + (format_flags & 0x01 ? 4 : 0);
                if (data_size < extra) continue;
                data_at += extra, data_size -= extra;
                frame_resynced = (format_flags & 0x02) || (flags & 0x80);
            }
            if (data_size < 1) continue;
            int is_picture = field == FIELD_PICTURE;
            if (is_picture && (tag_resynced || frame_resynced || picture.front)) continue;
            // The first of a repeated field wins: the others need not be read.
            wchar_t* text_field = field == FIELD_TITLE ? out->title : field == FIELD_ARTIST ? out->artist
                                : field == FIELD_ALBUM ? out->album : field == FIELD_ALBUM_ARTIST ? out->album_artist : nullptr;
            int* number_field = field == FIELD_TRACK ? &out->track : field == FIELD_DISC ? &out->disc
                              : field == FIELD_YEAR ? &out->year : nullptr;
            if ((text_field && text_field[0]) || (number_field && *number_field)) continue;
            uint32_t want = is_picture ? ID3_PICTURE_HEAD : ID3_TEXT_READ;
            if (want > data_size) want = data_size;
            if (want > data_capacity) {
                unsigned char* grown = (unsigned char*)realloc(data, want);
                if (!grown) break;
                data = grown;
                data_capacity = want;
            }
            if (data_at + want <= frame_at + peeked) {
                memcpy(data, f + (data_at - frame_at), want);
            } else if (id3_body_read(&body, data_at, data, want) != want) {
                break;
            }
            uint32_t got = want;
            if (is_picture) {
                int type = 0;
                uint32_t start = 0;
                if (!picture_start(data, got, v22, &type, &start)) continue;
                if (picture.found && type != 3) continue;
                out->picture_offset = offset + 10 + data_at + start;
                out->picture_length = data_size - start;
                picture.found = 1;
                picture.front = type == 3;
                continue;
            }
            if (frame_resynced) got = id3_resync(data, got);
            if (got < 1) continue;
            if (text_field) set_text(text_field, data[0], data + 1, got - 1);
            else set_number(number_field, field, data[0], data + 1, got - 1);
        }
    }
done:
    free(data);
    free(whole_body);
    return whole;
}

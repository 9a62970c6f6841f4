// ASF (WMA): everything but the packets lives in the header object at the start of the
// file. Its objects are named by GUIDs and sized in 64-bit lengths, each checked against what
// remains of its parent, and walked through the source: only object and attribute headers
// and the values kept are read, never a cover that rides in the header.
#include <stdlib.h>
#include <string.h>

#include "library/tag_text.h"
#include "library/tags.h"

static const uint64_t ASF_OBJECT_HEADER = 24;  // GUID and 64-bit size
// A text value is read this far: far more than the 255 characters kept.
static const uint32_t ASF_TEXT_READ = 64 * 1024;
// WM/Picture is read this far for its type, length, MIME type and description.
static const uint32_t ASF_PICTURE_HEAD = 4096;

// GUIDs as they lie in the file (the first three fields little-endian).
static const unsigned char GUID_HEADER[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
static const unsigned char GUID_FILE_PROPERTIES[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
static const unsigned char GUID_CONTENT_DESCRIPTION[16] = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
static const unsigned char GUID_EXTENDED_CONTENT[16] = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                        0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
static const unsigned char GUID_HEADER_EXTENSION[16] = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                                        0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
static const unsigned char GUID_METADATA_LIBRARY[16] = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                                        0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};
static const unsigned char GUID_METADATA[16] = {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48,
                                                0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA};

enum { ASF_STRING = 0, ASF_BYTES = 1, ASF_BOOL = 2, ASF_DWORD = 3, ASF_QWORD = 4, ASF_WORD = 5 };

struct AsfParse {
    const TagSource* source;
    TrackTags* out;
    int track_zero_based;  // WM/Track plus one; only used without WM/TrackNumber
    int picture_is_front;
    unsigned char* value;  // the value being read, grown as needed
    uint32_t value_capacity;
};

static int asf_read(AsfParse* p, uint64_t at, void* out, uint32_t length) {
    return p->source->read(p->source->context, at, out, (int)length) == (int)length;
}

// Reads up to cap bytes of the value at at into p->value; returns how many, or -1 when the
// file does not give them.
static int64_t asf_value(AsfParse* p, uint64_t at, uint32_t length, uint32_t cap) {
    uint32_t want = length < cap ? length : cap;
    if (want > p->value_capacity) {
        unsigned char* grown = (unsigned char*)realloc(p->value, want);
        if (!grown) return -1;
        p->value = grown;
        p->value_capacity = want;
    }
    return want == 0 || asf_read(p, at, p->value, want) ? want : -1;
}

// The object at at within [at, end): its GUID and whole size, the size checked.
static int asf_object(AsfParse* p, uint64_t at, uint64_t end, unsigned char guid[16], uint64_t* size) {
    unsigned char h[ASF_OBJECT_HEADER];
    if (at > end || end - at < ASF_OBJECT_HEADER || !asf_read(p, at, h, sizeof h)) return 0;
    memcpy(guid, h, 16);
    *size = tag_le64(h + 16);
    return *size >= ASF_OBJECT_HEADER && *size <= end - at;
}

// A number attribute of any of the integer types, or text that starts with one; -1 when
// the value is neither.
static int64_t asf_number(int type, const unsigned char* v, uint32_t length) {
    if ((type == ASF_DWORD || type == ASF_BOOL) && length >= 4) return tag_le32(v);
    if (type == ASF_QWORD && length >= 8) return (int64_t)(tag_le64(v) & 0x7FFFFFFF);
    if (type == ASF_WORD && length >= 2) return tag_le16(v);
    if (type == ASF_STRING) {
        wchar_t text[32];
        tag_text_utf16(v, length > 62 ? 62 : (int)length, 0, text, 32);
        return tag_leading_number(text);
    }
    return -1;
}

static int asf_small(int64_t n) { return n > 0 && n <= 9999 ? (int)n : 0; }

// WM/Picture: picture type, data length, MIME and description (UTF-16LE, NUL-ended), data.
// head holds the first bytes of the value, length its whole size, offset where it lies.
static void asf_picture(AsfParse* p, const unsigned char* v, uint32_t head, uint32_t length, uint64_t offset) {
    if (head < 5) return;
    int front = v[0] == 3;
    if (p->out->picture_length && (p->picture_is_front || !front)) return;
    uint32_t data = tag_le32(v + 1);
    uint32_t at = 5;
    for (int text = 0; text < 2; text++) {
        while (at + 1 < head && (v[at] || v[at + 1])) at += 2;
        if (at + 1 >= head) return;
        at += 2;
    }
    if (!data || data > length - at) return;
    p->out->picture_offset = offset + at;
    p->out->picture_length = data;
    p->picture_is_front = front;
}

// One attribute, wherever the header keeps it, its name and value at name_at and value_at
// in the file; the first of each wins. Returns 0 when the file does not give the bytes.
static int asf_attribute(AsfParse* p, uint64_t name_at, uint32_t name_length, int type, uint64_t value_at,
                         uint32_t length) {
    unsigned char name[62];
    uint32_t name_read = name_length > sizeof name ? (uint32_t)sizeof name : name_length;
    if (name_read && !asf_read(p, name_at, name, name_read)) return 0;
    wchar_t key[32];
    tag_text_utf16(name, (int)name_read, 0, key, 32);
    TrackTags* out = p->out;
    wchar_t* text = nullptr;
    if (!wcscmp(key, L"WM/AlbumTitle")) text = out->album;
    else if (!wcscmp(key, L"WM/AlbumArtist")) text = out->album_artist;
    else if (!wcscmp(key, L"Title")) text = out->title;
    else if (!wcscmp(key, L"Author")) text = out->artist;
    if (text) {
        if (type != ASF_STRING || text[0]) return 1;
        int64_t got = asf_value(p, value_at, length, ASF_TEXT_READ);
        if (got >= 0) tag_text_utf16(p->value, (int)got, 0, text, TAG_TEXT_CAPACITY);
        return got >= 0;
    }
    int* number = nullptr;
    if (!wcscmp(key, L"WM/TrackNumber")) number = &out->track;
    else if (!wcscmp(key, L"WM/Track")) number = &p->track_zero_based;
    else if (!wcscmp(key, L"WM/PartOfSet")) number = &out->disc;
    else if (!wcscmp(key, L"WM/Year")) number = &out->year;
    if (number) {
        if (*number) return 1;
        int64_t got = asf_value(p, value_at, length, 62);
        if (got < 0) return 0;
        const unsigned char* v = p->value;
        if (number == &p->track_zero_based) {
            int64_t n = asf_number(type, v, (uint32_t)got);
            if (n >= 0) *number = asf_small(n + 1);
        } else if (number == &out->year && type == ASF_STRING) {
            wchar_t date[32];
            tag_text_utf16(v, (int)got, 0, date, 32);
            *number = tag_year(date);
        } else {
            *number = asf_small(asf_number(type, v, (uint32_t)got));
        }
        return 1;
    }
    if (!wcscmp(key, L"WM/Picture") && type == ASF_BYTES) {
        int64_t got = asf_value(p, value_at, length, ASF_PICTURE_HEAD);
        if (got < 0) return 0;
        asf_picture(p, p->value, (uint32_t)got, length, value_at);
    }
    return 1;
}

// Content description: five 16-bit lengths, then title, author, copyright, description and
// rating in UTF-16LE.
static void asf_content_description(AsfParse* p, uint64_t at, uint64_t size) {
    unsigned char b[10];
    if (size < 10 || !asf_read(p, at, b, sizeof b)) return;
    uint64_t title = tag_le16(b), author = tag_le16(b + 2);
    if (10 + title > size) return;
    if (!p->out->title[0] && asf_value(p, at + 10, (uint32_t)title, ASF_TEXT_READ) >= 0)
        tag_text_utf16(p->value, (int)title, 0, p->out->title, TAG_TEXT_CAPACITY);
    if (10 + title + author > size) return;
    if (!p->out->artist[0] && asf_value(p, at + 10 + title, (uint32_t)author, ASF_TEXT_READ) >= 0)
        tag_text_utf16(p->value, (int)author, 0, p->out->artist, TAG_TEXT_CAPACITY);
}

// Extended content description: a count, then name length, name, value type, value length,
// value, each length 16-bit.
static void asf_extended_content(AsfParse* p, uint64_t at, uint64_t size) {
    unsigned char b[4];
    if (size < 2 || !asf_read(p, at, b, 2)) return;
    int count = tag_le16(b);
    uint64_t i = 2;
    for (int n = 0; n < count; n++) {
        if (size - i < 2 || !asf_read(p, at + i, b, 2)) return;
        uint32_t name_length = tag_le16(b);
        if (size - i - 2 < (uint64_t)name_length + 4 || !asf_read(p, at + i + 2 + name_length, b, 4)) return;
        uint64_t name_at = at + i + 2;
        int type = tag_le16(b);
        uint32_t length = tag_le16(b + 2);
        i += 6 + name_length;
        if (size - i < length) return;
        if (!asf_attribute(p, name_at, name_length, type, at + i, length)) return;
        i += length;
    }
}

// The metadata library and metadata objects of the header extension: a count, then records
// of 16-bit name length and type and a 32-bit value length, the name, the value. They hold
// what the extended content description cannot, values past 64 KB among them.
static void asf_metadata(AsfParse* p, uint64_t at, uint64_t size) {
    unsigned char b[12];
    if (size < 2 || !asf_read(p, at, b, 2)) return;
    int count = tag_le16(b);
    uint64_t i = 2;
    for (int n = 0; n < count; n++) {
        if (size - i < 12 || !asf_read(p, at + i, b, 12)) return;
        uint32_t name_length = tag_le16(b + 4);
        int type = tag_le16(b + 6);
        uint32_t length = tag_le32(b + 8);
        i += 12;
        if (size - i < name_length || size - i - name_length < length) return;
        if (!asf_attribute(p, at + i, name_length, type, at + i + name_length, length)) return;
        i += (uint64_t)name_length + length;
    }
}

static void asf_header_extension(AsfParse* p, uint64_t at, uint64_t size) {
    // A reserved GUID and word, then the size of the objects that follow.
    unsigned char b[22];
    if (size < 22 || !asf_read(p, at, b, sizeof b)) return;
    uint64_t data = tag_le32(b + 18);
    if (data > size - 22) return;
    uint64_t end = at + 22 + data;
    unsigned char guid[16];
    for (uint64_t o = at + 22, object; o < end && asf_object(p, o, end, guid, &object); o += object) {
        if (!memcmp(guid, GUID_METADATA_LIBRARY, 16) || !memcmp(guid, GUID_METADATA, 16))
            asf_metadata(p, o + ASF_OBJECT_HEADER, object - ASF_OBJECT_HEADER);
    }
}

// File properties: play duration (100 ns units, the preroll included) at 40, preroll (ms)
// at 56 of its body.
static void asf_file_properties(AsfParse* p, uint64_t at, uint64_t size) {
    unsigned char b[64];
    if (size < 64 || !asf_read(p, at, b, sizeof b)) return;
    uint64_t play_ms = tag_le64(b + 40) / 10000;
    uint64_t preroll = tag_le64(b + 56);
    if (play_ms > preroll && play_ms - preroll <= 0x7FFFFFFF) p->out->duration_ms = (int)(play_ms - preroll);
}

int tags_read_asf(const TagSource* source, TrackTags* out) {
    unsigned char head[30];
    if (source->read(source->context, 0, head, sizeof head) != (int)sizeof head) return 0;
    if (memcmp(head, GUID_HEADER, 16)) return 0;
    uint64_t end = tag_le64(head + 16);
    uint32_t objects = tag_le32(head + 24);
    if (end < sizeof head) return 1;
    if (end > source->size) end = source->size;  // a cut file: what is there
    AsfParse p = {source, out, 0, 0, nullptr, 0};
    unsigned char guid[16];
    uint64_t at = sizeof head, object;
    for (uint32_t n = 0; n < objects && at < end && asf_object(&p, at, end, guid, &object); n++, at += object) {
        uint64_t body = at + ASF_OBJECT_HEADER, body_size = object - ASF_OBJECT_HEADER;
        if (!memcmp(guid, GUID_FILE_PROPERTIES, 16)) asf_file_properties(&p, body, body_size);
        else if (!memcmp(guid, GUID_CONTENT_DESCRIPTION, 16)) asf_content_description(&p, body, body_size);
        else if (!memcmp(guid, GUID_EXTENDED_CONTENT, 16)) asf_extended_content(&p, body, body_size);
        else if (!memcmp(guid, GUID_HEADER_EXTENSION, 16)) asf_header_extension(&p, body, body_size);
    }
    if (!out->track) out->track = p.track_zero_based;
    free(p.value);
    return 1;
}

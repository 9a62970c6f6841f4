#pragma once
// Broken copies of real tagged files for the tag reader's mutation run (a fixed seed in
// tests/library/test_tags.cpp, a hundred times longer in tools/bench_tags.cpp), and the rules
// every reading of one must keep.
//
// A length the reader takes from the file is where a bounded reader goes wrong, so the
// mutator knows where each format keeps its lengths (ID3 tag and frame sizes, MP4 box sizes,
// FLAC block lengths, Ogg segment tables, ASF object sizes, RIFF chunk sizes and the lengths
// inside them) through a walk of its own, and sets them to 0, to all ones, to just past the
// end of what holds them, or near it; besides that it flips bits, writes noise, cuts the file,
// and inserts or duplicates ranges. Each mutant comes from a seed of its own (the run's seed,
// the file's name and the mutant's number), so one that a long run finds can be made again
// alone.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "library/tags.h"

//~ Random numbers

struct TagFuzzRandom {
    uint64_t state;
};

// splitmix64: every seed gives a full-period sequence, so nearby seeds give unrelated mutants.
inline uint64_t tag_fuzz_next(TagFuzzRandom* r) {
    uint64_t z = (r->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline uint64_t tag_fuzz_below(TagFuzzRandom* r, uint64_t n) { return n ? tag_fuzz_next(r) % n : 0; }

inline TagFuzzRandom tag_fuzz_random(uint32_t seed, const std::string& file, int mutant) {
    uint64_t h = 1469598103934665603ull;
    for (char c : file) h = (h ^ (unsigned char)c) * 1099511628211ull;
    TagFuzzRandom r = {h ^ (uint64_t)seed << 32 ^ (uint64_t)(uint32_t)mutant * 0xD1B54A32D192ED03ull};
    tag_fuzz_next(&r);
    return r;
}

//~ Where the lengths are

enum {
    TAG_FIELD_U8,
    TAG_FIELD_LE16,
    TAG_FIELD_LE32,
    TAG_FIELD_LE64,
    TAG_FIELD_BE24,
    TAG_FIELD_BE32,
    TAG_FIELD_BE64,
    TAG_FIELD_SYNCSAFE,  // ID3's 28 bits in four bytes of seven
};

// A length (or a count, or a number the reader computes with) at `at`; room is what the
// length could claim before it reaches past the end of what holds it (for a plain number,
// its own value).
struct TagLengthField {
    size_t at;
    int kind;
    uint64_t room;
};

// A name the reader dispatches on (an ID3 frame id, a box type, a chunk id, a GUID, a block
// type, a flags byte): the mutator swaps it for another of its kind, so that one part of a
// file is read as another.
enum {
    TAG_NAMES_ID3,
    TAG_NAMES_ID3V22,
    TAG_NAMES_ID3_FLAGS,
    TAG_NAMES_ID3_VERSION,
    TAG_NAMES_FLAC,
    TAG_NAMES_OGG,
    TAG_NAMES_MP4,
    TAG_NAMES_RIFF,
    TAG_NAMES_ASF,
};
struct TagNameField {
    size_t at;
    int names;
};

struct TagNames {
    int width;
    int count;
    const char* const* names;
};

inline TagNames tag_names(int which) {
    static const char* const ID3[] = {"TIT2", "TPE1", "TPE2", "TALB", "TRCK", "TPOS", "TDRC", "TYER", "APIC", "TXXX", "COMM"};
    static const char* const ID3V22[] = {"TT2", "TP1", "TP2", "TAL", "TRK", "TPA", "TYE", "PIC", "COM"};
    static const char* const ID3_FLAGS[] = {"\x00", "\x80", "\x40", "\x10", "\xF0", "\x01", "\x02", "\x0C", "\x20", "\x43"};
    static const char* const ID3_VERSION[] = {"\x02", "\x03", "\x04", "\x05", "\xFF"};
    static const char* const FLAC[] = {"\x00", "\x04", "\x06", "\x80", "\x84", "\x86", "\x01", "\x7F", "\xFF"};
    static const char* const OGG[] = {"\x00", "\x01", "\x02", "\x04", "\x05", "\x07"};
    static const char* const MP4[] = {"moov", "trak", "mdia", "mdhd", "hdlr", "minf", "udta", "meta", "ilst", "data", "\xa9nam",
                                      "\xa9" "ART", "aART", "\xa9" "alb", "\xa9" "day", "trkn", "disk", "covr", "mvhd", "free", "mdat"};
    static const char* const RIFF[] = {"LIST", "data", "fmt ", "id3 ", "ID3 ", "INFO", "INAM", "IART", "IPRD", "ITRK", "ICRD", "JUNK"};
    static const char* const ASF[] = {
        "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C",  // header
        "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65",  // file properties
        "\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C",  // content description
        "\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50",  // extended content
        "\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11\x8E\xE3\x00\xC0\x0C\x20\x53\x65",  // header extension
        "\x94\x1C\x23\x44\x98\x94\xD1\x49\xA1\x41\x1D\x13\x4E\x45\x70\x54",  // metadata library
        "\xEA\xCB\xF8\xC5\xAF\x5B\x77\x48\x84\x67\xAA\x8C\x44\xFA\x4C\xCA",  // metadata
    };
#define TAG_NAMES_OF(width, list) {width, (int)(sizeof list / sizeof list[0]), list}
    static const TagNames ALL[] = {
        TAG_NAMES_OF(4, ID3), TAG_NAMES_OF(3, ID3V22), TAG_NAMES_OF(1, ID3_FLAGS), TAG_NAMES_OF(1, ID3_VERSION),
        TAG_NAMES_OF(1, FLAC), TAG_NAMES_OF(1, OGG), TAG_NAMES_OF(4, MP4), TAG_NAMES_OF(4, RIFF), TAG_NAMES_OF(16, ASF),
    };
#undef TAG_NAMES_OF
    return ALL[which];
}

inline int tag_field_width(int kind) {
    static const int WIDTHS[] = {1, 2, 4, 8, 3, 4, 8, 4};
    return WIDTHS[kind];
}

struct TagFieldWalk {
    const unsigned char* b;
    size_t n;
    std::vector<TagLengthField>* fields;
    std::vector<TagNameField>* names;

    bool has(size_t at, size_t length) const { return at <= n && length <= n - at; }
    void add(size_t at, int kind, uint64_t room) {
        if (has(at, (size_t)tag_field_width(kind))) fields->push_back({at, kind, room});
    }
    void name(size_t at, int which) {
        if (has(at, (size_t)tag_names(which).width)) names->push_back({at, which});
    }
    uint32_t le16(size_t at) const { return (uint32_t)(b[at] | b[at + 1] << 8); }
    uint32_t le32(size_t at) const { return le16(at) | le16(at + 2) << 16; }
    uint64_t le64(size_t at) const { return le32(at) | (uint64_t)le32(at + 4) << 32; }
    uint32_t be24(size_t at) const { return (uint32_t)b[at] << 16 | (uint32_t)b[at + 1] << 8 | b[at + 2]; }
    uint32_t be32(size_t at) const { return be24(at) << 8 | b[at + 3]; }
    uint64_t be64(size_t at) const { return (uint64_t)be32(at) << 32 | be32(at + 4); }
    uint32_t syncsafe(size_t at) const {
        return (uint32_t)(b[at] & 0x7F) << 21 | (uint32_t)(b[at + 1] & 0x7F) << 14 | (uint32_t)(b[at + 2] & 0x7F) << 7 |
               (b[at + 3] & 0x7F);
    }
    bool is(size_t at, const char* magic, size_t length) const { return has(at, length) && !memcmp(b + at, magic, length); }
};

// An ID3v2 tag at `at` within limit: its size, the extended header's, every frame's. Returns
// where the tag ends (at most limit), 0 when none starts there.
inline size_t tag_walk_id3(TagFieldWalk& w, size_t at, size_t limit) {
    if (limit > w.n) limit = w.n;
    if (at > limit || limit - at < 10 || !w.is(at, "ID3", 3)) return 0;
    int version = w.b[at + 3];
    w.name(at + 3, TAG_NAMES_ID3_VERSION);
    w.name(at + 5, TAG_NAMES_ID3_FLAGS);
    w.add(at + 6, TAG_FIELD_SYNCSAFE, limit - at - 10);
    uint64_t size = w.syncsafe(at + 6);
    size_t end = size > limit - at - 10 ? limit : at + 10 + (size_t)size;
    size_t p = at + 10;
    if (version >= 3 && (w.b[at + 5] & 0x40) && end - p >= 4) {
        w.add(p, version == 3 ? TAG_FIELD_BE32 : TAG_FIELD_SYNCSAFE, end - p);
        uint64_t extended = version == 3 ? (uint64_t)w.be32(p) + 4 : w.syncsafe(p);
        if (extended > end - p) return end;
        p += (size_t)extended;
    }
    size_t header = version == 2 ? 6 : 10;
    for (int frames = 0; frames < 1024 && end - p >= header && w.b[p]; frames++) {
        uint64_t frame;
        if (version == 2) {
            w.name(p, TAG_NAMES_ID3V22);
            w.add(p + 3, TAG_FIELD_BE24, end - p - header);
            frame = w.be24(p + 3);
        } else {
            w.name(p, TAG_NAMES_ID3);
            w.name(p + 9, TAG_NAMES_ID3_FLAGS);
            w.add(p + 4, version == 3 ? TAG_FIELD_BE32 : TAG_FIELD_SYNCSAFE, end - p - header);
            frame = version == 3 ? w.be32(p + 4) : w.syncsafe(p + 4);
        }
        if (frame > end - p - header) break;
        p += header + (size_t)frame;
    }
    return end;
}

// Vendor length, comment count and each comment's length, as FLAC and Ogg carry them.
inline void tag_walk_vorbis_comments(TagFieldWalk& w, size_t p, size_t end) {
    if (end > w.n) end = w.n;
    if (p > end || end - p < 4) return;
    w.add(p, TAG_FIELD_LE32, end - p - 4);
    uint64_t vendor = w.le32(p);
    p += 4;
    if (vendor > end - p || end - p - (size_t)vendor < 4) return;
    p += (size_t)vendor;
    w.add(p, TAG_FIELD_LE32, (end - p - 4) / 4);
    uint64_t count = w.le32(p);
    p += 4;
    for (uint64_t i = 0; i < count && i < 1024 && end - p >= 4; i++) {
        w.add(p, TAG_FIELD_LE32, end - p - 4);
        uint64_t length = w.le32(p);
        p += 4;
        if (length > end - p) return;
        p += (size_t)length;
    }
}

inline void tag_walk_flac_picture(TagFieldWalk& w, size_t p, size_t end) {
    if (end - p < 8) return;
    p += 4;  // the picture's type
    for (int text = 0; text < 2; text++) {  // MIME type, description
        if (end - p < 4) return;
        w.add(p, TAG_FIELD_BE32, end - p - 4);
        uint64_t length = w.be32(p);
        p += 4;
        if (length > end - p) return;
        p += (size_t)length;
    }
    if (end - p >= 20) w.add(p + 16, TAG_FIELD_BE32, end - p - 20);
}

inline void tag_walk_flac(TagFieldWalk& w, size_t at) {
    size_t p = at + 4;
    for (int blocks = 0; blocks < 1024 && w.has(p, 4); blocks++) {
        int type = w.b[p] & 0x7F, last = w.b[p] & 0x80;
        w.name(p, TAG_NAMES_FLAC);
        w.add(p + 1, TAG_FIELD_BE24, w.n - p - 4);
        uint64_t length = w.be24(p + 1);
        size_t body = p + 4;
        if (length > w.n - body) return;
        size_t end = body + (size_t)length;
        if (type == 0 && length >= 18) {
            w.add(body + 10, TAG_FIELD_BE24, w.be24(body + 10));  // the sample rate's top bits
            w.add(body + 14, TAG_FIELD_BE32, w.be32(body + 14));  // the count of samples
        } else if (type == 4) {
            tag_walk_vorbis_comments(w, body, end);
        } else if (type == 6) {
            tag_walk_flac_picture(w, body, end);
        }
        p = end;
        if (last) return;
    }
}

inline void tag_walk_ogg(TagFieldWalk& w) {
    size_t p = 0;
    int comments = 0;
    for (int pages = 0; pages < 256 && w.is(p, "OggS", 4) && w.has(p, 27); pages++) {
        int segments = w.b[p + 26];
        w.add(p + 26, TAG_FIELD_U8, w.n - p - 27 < 255 ? w.n - p - 27 : 255);
        w.add(p + 6, TAG_FIELD_LE64, w.le64(p + 6));  // the granule position
        w.name(p + 5, TAG_NAMES_OGG);
        if (!w.has(p + 27, (size_t)segments)) return;
        size_t body = p + 27 + (size_t)segments, length = 0;
        for (int i = 0; i < segments; i++) {
            w.add(p + 27 + (size_t)i, TAG_FIELD_U8, 255);
            length += w.b[p + 27 + i];
        }
        size_t end = length > w.n - body ? w.n : body + length;
        // The comment header, walked as if its packet lay whole on this page.
        for (size_t i = body; !comments && i + 8 <= end; i++) {
            if (!memcmp(w.b + i, "\x03vorbis", 7) || !memcmp(w.b + i, "OpusTags", 8)) {
                tag_walk_vorbis_comments(w, i + (w.b[i] == 3 ? 7 : 8), w.n);
                comments = 1;
            }
        }
        p = end;
    }
    // The last pages, whose granule gives the length.
    for (size_t i = w.n > 65536 ? w.n - 65536 : 0; i + 27 <= w.n; i++)
        if (!memcmp(w.b + i, "OggS", 4)) w.add(i + 6, TAG_FIELD_LE64, w.le64(i + 6));
}

inline uint32_t tag_fourcc(const char* s) { return (uint32_t)(unsigned char)s[0] << 24 | (uint32_t)(unsigned char)s[1] << 16 | (uint32_t)(unsigned char)s[2] << 8 | (unsigned char)s[3]; }

// The boxes of [begin, end); items: the children of ilst, whose own children are data boxes.
inline void tag_walk_mp4(TagFieldWalk& w, size_t begin, size_t end, int depth, int items) {
    size_t p = begin;
    for (int boxes = 0; boxes < 4096 && p <= end && end - p >= 8; boxes++) {
        w.add(p, TAG_FIELD_BE32, end - p);
        uint64_t size = w.be32(p);
        size_t header = 8;
        if (size == 1) {
            if (end - p < 16) return;
            w.add(p + 8, TAG_FIELD_BE64, end - p);
            size = w.be64(p + 8);
            header = 16;
        } else if (size == 0) {
            size = end - p;
        }
        if (size < header || size > end - p) return;
        uint32_t type = w.be32(p + 4);
        w.name(p + 4, TAG_NAMES_MP4);
        size_t body = p + header, body_end = p + (size_t)size;
        if (depth < 8) {
            static const char* CONTAINERS[] = {"moov", "trak", "mdia", "minf", "stbl", "udta", "edts"};
            int container = items;
            for (const char* c : CONTAINERS) container |= type == tag_fourcc(c);
            if (container) {
                tag_walk_mp4(w, body, body_end, depth + 1, 0);
            } else if (type == tag_fourcc("ilst")) {
                tag_walk_mp4(w, body, body_end, depth + 1, 1);
            } else if (type == tag_fourcc("meta")) {
                size_t start = body_end - body >= 8 && w.be32(body + 4) == tag_fourcc("hdlr") ? body : body + 4;
                if (start <= body_end) tag_walk_mp4(w, start, body_end, depth + 1, 0);
            } else if ((type == tag_fourcc("mvhd") || type == tag_fourcc("mdhd")) && body_end - body >= 20 && !w.b[body]) {
                w.add(body + 12, TAG_FIELD_BE32, w.be32(body + 12));  // the timescale
                w.add(body + 16, TAG_FIELD_BE32, w.be32(body + 16));  // the duration
            } else if (type == tag_fourcc("data") && body_end - body >= 8) {
                w.add(body, TAG_FIELD_BE32, w.be32(body));  // the value's type
            }
        }
        p = body_end;
    }
}

// ASF objects are named by GUIDs; their first four bytes tell the ones walked here apart.
inline void tag_walk_asf_records(TagFieldWalk& w, size_t p, size_t end, int metadata) {
    if (end - p < 2) return;
    w.add(p, TAG_FIELD_LE16, (end - p) / 6);
    uint32_t count = w.le16(p);
    p += 2;
    for (uint32_t i = 0; i < count; i++) {
        uint64_t name, value;
        size_t value_at;
        if (metadata) {  // stream and language, name length, type, value length (32 bits)
            if (end - p < 12) return;
            w.add(p + 4, TAG_FIELD_LE16, end - p - 12);
            w.add(p + 8, TAG_FIELD_LE32, end - p - 12);
            name = w.le16(p + 4);
            value = w.le32(p + 8);
            if (name + value > end - p - 12) return;
            value_at = p + 12 + (size_t)name;
        } else {  // name length, name, type, value length (16 bits), value
            if (end - p < 2) return;
            w.add(p, TAG_FIELD_LE16, end - p - 2);
            name = w.le16(p);
            if (name + 4 > end - p - 2) return;
            w.add(p + 4 + (size_t)name, TAG_FIELD_LE16, end - p - 6 - (size_t)name);
            value = w.le16(p + 4 + (size_t)name);
            if (value > end - p - 6 - (size_t)name) return;
            value_at = p + 6 + (size_t)name;
        }
        const unsigned char* name_at = w.b + value_at - (size_t)name;
        if (value >= 5 && name >= 20 && !memcmp(name_at, "W\0M\0/\0P\0i\0c\0t\0u\0r\0e\0", 20))
            w.add(value_at + 1, TAG_FIELD_LE32, value - 5);  // the picture's length
        p = value_at + (size_t)value;
    }
}

inline void tag_walk_asf_objects(TagFieldWalk& w, size_t p, size_t end, int depth) {
    for (int objects = 0; objects < 1024 && end - p >= 24; objects++) {
        w.add(p + 16, TAG_FIELD_LE64, end - p);
        w.name(p, TAG_NAMES_ASF);
        uint64_t size = w.le64(p + 16);
        if (size < 24 || size > end - p) return;
        size_t body = p + 24, body_end = p + (size_t)size;
        uint32_t id = w.le32(p);
        if (id == 0x75B22633u && body_end - body >= 10) {  // content description
            for (int k = 0; k < 5; k++) w.add(body + 2 * (size_t)k, TAG_FIELD_LE16, body_end - body - 10);
        } else if (id == 0xD2D0A440u) {  // extended content description
            tag_walk_asf_records(w, body, body_end, 0);
        } else if ((id == 0x44231C94u || id == 0xC5F8CBEAu) && depth) {  // metadata library, metadata
            tag_walk_asf_records(w, body, body_end, 1);
        } else if (id == 0x5FBF03B5u && body_end - body >= 22 && !depth) {  // header extension
            w.add(body + 18, TAG_FIELD_LE32, body_end - body - 22);
            uint64_t data = w.le32(body + 18);
            if (data <= body_end - body - 22) tag_walk_asf_objects(w, body + 22, body + 22 + (size_t)data, 1);
        } else if (id == 0x8CABDCA1u && body_end - body >= 64) {  // file properties
            w.add(body + 40, TAG_FIELD_LE64, w.le64(body + 40));  // the play duration
            w.add(body + 56, TAG_FIELD_LE64, w.le64(body + 56));  // the preroll
        }
        p = body_end;
    }
}

inline void tag_walk_asf(TagFieldWalk& w) {
    if (!w.has(0, 30)) return;
    w.add(16, TAG_FIELD_LE64, w.n);
    w.add(24, TAG_FIELD_LE32, w.le32(24));  // the count of objects
    uint64_t size = w.le64(16);
    size_t end = size > w.n ? w.n : (size_t)size;
    if (end >= 30) tag_walk_asf_objects(w, 30, end, 0);
    if (size >= 30 && size < w.n) tag_walk_asf_objects(w, (size_t)size, w.n, 1);  // the data object
}

inline void tag_walk_riff(TagFieldWalk& w) {
    w.add(4, TAG_FIELD_LE32, w.n - 8);
    size_t p = 12;
    for (int chunks = 0; chunks < 1024 && w.has(p, 8); chunks++) {
        w.add(p + 4, TAG_FIELD_LE32, w.n - p - 8);
        w.name(p, TAG_NAMES_RIFF);
        uint64_t size = w.le32(p + 4);
        size_t body = p + 8;
        if (size > w.n - body) return;
        size_t end = body + (size_t)size;
        if (w.is(p, "LIST", 4) && w.is(body, "INFO", 4) && size >= 4) {
            for (size_t q = body + 4; end - q >= 8;) {
                w.add(q + 4, TAG_FIELD_LE32, end - q - 8);
                w.name(q, TAG_NAMES_RIFF);
                uint64_t sub = w.le32(q + 4);
                if (sub > end - q - 8) break;
                q += 8 + (size_t)sub + (size_t)(sub & 1);
                if (q > end) break;
            }
        } else if (w.is(p, "id3 ", 4) || w.is(p, "ID3 ", 4)) {
            tag_walk_id3(w, body, end);
        } else if (w.is(p, "fmt ", 4) && size >= 16) {
            w.add(body + 8, TAG_FIELD_LE32, w.le32(body + 8));  // bytes per second
        }
        p = end + (size_t)(size & 1);
    }
}

// MPEG audio after its tags: the frame counts of a Xing/Info or VBRI header near the start.
inline void tag_walk_mpeg(TagFieldWalk& w, size_t from) {
    size_t to = w.n - from > 70000 ? from + 70000 : w.n;
    for (size_t i = from; i + 18 <= to; i++) {
        if (!memcmp(w.b + i, "Xing", 4) || !memcmp(w.b + i, "Info", 4)) {
            w.add(i + 4, TAG_FIELD_BE32, w.be32(i + 4));  // which fields follow
            w.add(i + 8, TAG_FIELD_BE32, w.be32(i + 8));  // frames
            return;
        }
        if (!memcmp(w.b + i, "VBRI", 4)) {
            w.add(i + 10, TAG_FIELD_BE32, w.be32(i + 10));  // bytes
            w.add(i + 14, TAG_FIELD_BE32, w.be32(i + 14));  // frames
            return;
        }
    }
}

// Every length field and name found in the file, by its format.
struct TagFields {
    std::vector<TagLengthField> lengths;
    std::vector<TagNameField> names;
};

inline TagFields tag_fields(const std::string& bytes) {
    TagFields fields;
    TagFieldWalk w = {(const unsigned char*)bytes.data(), bytes.size(), &fields.lengths, &fields.names};
    static const unsigned char ASF_HEADER[4] = {0x30, 0x26, 0xB2, 0x75};
    if (w.is(0, "ID3", 3)) {
        size_t p = 0;
        for (int tags = 0; tags < 4; tags++) {
            size_t end = tag_walk_id3(w, p, w.n);
            if (!end) break;
            p = end;
        }
        if (w.is(p, "fLaC", 4)) tag_walk_flac(w, p);
        else tag_walk_mpeg(w, p);
    } else if (w.is(0, "fLaC", 4)) {
        tag_walk_flac(w, 0);
    } else if (w.is(0, "OggS", 4)) {
        tag_walk_ogg(w);
    } else if (w.is(4, "ftyp", 4)) {
        tag_walk_mp4(w, 0, w.n, 0, 0);
    } else if (w.is(0, (const char*)ASF_HEADER, 4)) {
        tag_walk_asf(w);
    } else if (w.is(0, "RIFF", 4) && w.is(8, "WAVE", 4)) {
        tag_walk_riff(w);
    } else {
        tag_walk_mpeg(w, 0);
    }
    return fields;
}

//~ Mutations

inline uint64_t tag_field_max(int kind) {
    int bits = kind == TAG_FIELD_SYNCSAFE ? 32 : tag_field_width(kind) * 8;
    return bits == 64 ? ~0ull : (1ull << bits) - 1;
}

inline uint64_t tag_field_get(const std::string& s, const TagLengthField& f) {
    TagFieldWalk w = {(const unsigned char*)s.data(), s.size(), nullptr, nullptr};
    switch (f.kind) {
    case TAG_FIELD_U8: return w.b[f.at];
    case TAG_FIELD_LE16: return w.le16(f.at);
    case TAG_FIELD_LE32: return w.le32(f.at);
    case TAG_FIELD_LE64: return w.le64(f.at);
    case TAG_FIELD_BE24: return w.be24(f.at);
    case TAG_FIELD_BE32: return w.be32(f.at);
    case TAG_FIELD_BE64: return w.be64(f.at);
    default: return w.syncsafe(f.at);
    }
}

// A syncsafe value that does not fit in 28 bits is written as plain 32 bits: bytes with
// their high bit set, as writers that ignore the encoding leave them.
inline void tag_field_put(std::string* s, const TagLengthField& f, uint64_t v) {
    unsigned char* p = (unsigned char*)&(*s)[f.at];
    int width = tag_field_width(f.kind);
    int big = f.kind == TAG_FIELD_BE24 || f.kind == TAG_FIELD_BE32 || f.kind == TAG_FIELD_BE64;
    if (f.kind == TAG_FIELD_SYNCSAFE) {
        if (v <= 0x0FFFFFFF) v = (v & 0x7F) | (v & 0x3F80) << 1 | (v & 0x1FC000) << 2 | (v & 0xFE00000) << 3;
        big = 1;
    }
    for (int i = 0; i < width; i++) p[big ? width - 1 - i : i] = (unsigned char)(v >> (8 * i));
}

// Positions lean to the start and the end of the file, where headers, tags and the last
// pages lie.
inline size_t tag_fuzz_position(TagFuzzRandom* r, size_t n) {
    if (!n) return 0;
    size_t edge = n < 4096 ? n : 4096;
    switch (tag_fuzz_below(r, 4)) {
    case 0: return (size_t)tag_fuzz_below(r, edge);
    case 1: return n - 1 - (size_t)tag_fuzz_below(r, edge);
    default: return (size_t)tag_fuzz_below(r, n);
    }
}

// Breaks bytes in one to three ways; returns what was done, for a failure's message.
inline std::string tag_mutate(TagFuzzRandom* r, std::string* bytes) {
    std::string what;
    char note[96];
    int ops = 1 + (tag_fuzz_below(r, 4) == 0) + (tag_fuzz_below(r, 8) == 0);
    for (int i = 0; i < ops; i++) {
        size_t n = bytes->size();
        int op = (int)tag_fuzz_below(r, 100);
        if (op < 52) {
            TagFields found = tag_fields(*bytes);
            if (op >= 40 && !found.names.empty()) {
                const TagNameField f = found.names[(size_t)tag_fuzz_below(r, found.names.size())];
                TagNames names = tag_names(f.names);
                const char* name = names.names[tag_fuzz_below(r, (uint64_t)names.count)];
                memcpy(&(*bytes)[f.at], name, (size_t)names.width);
                snprintf(note, sizeof note, "name at %zu (kind %d) -> %d; ", f.at, f.names, (unsigned char)name[0]);
                what += note;
                continue;
            }
            const std::vector<TagLengthField>& fields = found.lengths;
            if (!fields.empty()) {
                const TagLengthField f = fields[(size_t)tag_fuzz_below(r, fields.size())];
                uint64_t max = tag_field_max(f.kind), old = tag_field_get(*bytes, f), v;
                switch (tag_fuzz_below(r, 8)) {
                case 0: v = 0; break;
                case 1: v = max; break;
                case 2: v = f.room + 1 + tag_fuzz_below(r, 16); break;  // just past the end
                case 3: v = f.room; break;
                case 4: v = f.room ? f.room - 1 : 1; break;
                case 5: v = tag_fuzz_below(r, 2) ? old + 1 + tag_fuzz_below(r, 8) : old - 1 - tag_fuzz_below(r, 8); break;
                case 6: v = tag_fuzz_next(r); break;
                default: v = (max >> 1) + tag_fuzz_below(r, 3) - 1; break;  // about the sign bit
                }
                v &= max;
                tag_field_put(bytes, f, v);
                snprintf(note, sizeof note, "length at %zu (kind %d) %llu -> %llu; ", f.at, f.kind,
                         (unsigned long long)old, (unsigned long long)v);
                what += note;
                continue;
            }
            op = 52;
        }
        if (op < 64) {
            int flips = 1 + (int)tag_fuzz_below(r, 8);
            for (int k = 0; k < flips && n; k++) (*bytes)[tag_fuzz_position(r, n)] ^= (char)(1 << tag_fuzz_below(r, 8));
            snprintf(note, sizeof note, "%d bits flipped; ", flips);
        } else if (op < 72) {
            size_t at = tag_fuzz_position(r, n), length = 1 + (size_t)tag_fuzz_below(r, 16);
            for (size_t k = at; k < at + length && k < n; k++) (*bytes)[k] = (char)tag_fuzz_next(r);
            snprintf(note, sizeof note, "noise at %zu; ", at);
        } else if (op < 80) {
            size_t at = tag_fuzz_below(r, 2) ? (size_t)tag_fuzz_below(r, n + 1) : tag_fuzz_position(r, n);
            bytes->resize(at);
            snprintf(note, sizeof note, "cut at %zu; ", at);
        } else if (op < 88) {
            size_t at = tag_fuzz_position(r, n), length = 1 + (size_t)tag_fuzz_below(r, 64);
            std::string noise(length, '\0');
            for (char& c : noise) c = (char)tag_fuzz_next(r);
            bytes->insert(at, noise);
            snprintf(note, sizeof note, "%zu bytes inserted at %zu; ", length, at);
        } else {
            size_t from = tag_fuzz_position(r, n), length = 1 + (size_t)tag_fuzz_below(r, 4096);
            if (length > n - from) length = n - from;
            size_t to = tag_fuzz_below(r, 2) ? from + length : tag_fuzz_position(r, n);
            bytes->insert(to, bytes->substr(from, length));
            snprintf(note, sizeof note, "%zu bytes at %zu repeated at %zu; ", length, from, to);
        }
        what += note;
    }
    return what;
}

//~ The rules of a reading

// What a reading may cost: bytes asked for, in all, proportional to the file (a reader that
// rereads a region a few times for different fields stays far below), and read calls
// proportional to the file, since every call must cover new ground (a chunk, a box, a page).
// A read that starts at or past the end is a length trusted without a check; one is the
// price of a tag whose size points to the end and reads there once.
inline uint64_t tag_fuzz_byte_bound(uint64_t size) { return 64 * size + (1u << 20); }
inline uint64_t tag_fuzz_read_bound(uint64_t size) { return 64 + size / 4; }
enum { TAG_FUZZ_PAST_END_READS = 1 };

struct TagFuzzReading {
    TagMemory memory;
    uint64_t asked;
    int reads;
    int past_end;  // reads that started at or past the end
    int negative;  // reads asked for a negative length
};

inline int tag_fuzz_counted_read(void* context, uint64_t offset, void* out, int length) {
    TagFuzzReading* c = (TagFuzzReading*)context;
    c->reads++;
    if (length < 0) c->negative++;
    else c->asked += (uint64_t)length;
    if (offset >= c->memory.size) c->past_end++;
    TagSource inner = tag_source_memory(&c->memory);
    return inner.read(inner.context, offset, out, length);
}

// Text as the readers promise it: terminated within its field, no control characters, no
// unpaired surrogate.
inline const char* tag_fuzz_text_fault(const wchar_t* text) {
    const wchar_t* end = wmemchr(text, 0, TAG_TEXT_CAPACITY);
    if (!end) return "text without its terminator";
    for (const wchar_t* c = text; c < end; c++) {
        if (*c < 0x20 || (*c >= 0x7F && *c < 0xA0)) return "a control character in text";
        if (*c >= 0xD800 && *c < 0xDC00) {
            if (c + 1 == end || c[1] < 0xDC00 || c[1] >= 0xE000) return "an unpaired surrogate in text";
            c++;
        } else if (*c >= 0xDC00 && *c < 0xE000) {
            return "an unpaired surrogate in text";
        }
    }
    return nullptr;
}

// Reads bytes as the library would, counting what the reader asked for; returns the rules
// the reading broke ("" when none).
inline std::string tag_fuzz_read(const std::string& bytes, TagFuzzReading* c, TrackTags* t, int* format) {
    *c = TagFuzzReading{{(const unsigned char*)bytes.data(), bytes.size()}, 0, 0, 0, 0};
    TagSource source = {c, tag_fuzz_counted_read, bytes.size()};
    // A field the reader left unwritten shows as text without its terminator.
    memset(t, 0x55, sizeof *t);
    *format = tags_read(&source, t);
    std::string faults;
    char note[160];
    uint64_t size = bytes.size();
    if (c->asked > tag_fuzz_byte_bound(size)) {
        snprintf(note, sizeof note, "asked for %llu bytes of %llu (bound %llu); ", (unsigned long long)c->asked,
                 (unsigned long long)size, (unsigned long long)tag_fuzz_byte_bound(size));
        faults += note;
    }
    if ((uint64_t)c->reads > tag_fuzz_read_bound(size)) {
        snprintf(note, sizeof note, "%d reads of %llu bytes (bound %llu); ", c->reads, (unsigned long long)size,
                 (unsigned long long)tag_fuzz_read_bound(size));
        faults += note;
    }
    if (c->past_end > TAG_FUZZ_PAST_END_READS) {
        snprintf(note, sizeof note, "%d reads past the end; ", c->past_end);
        faults += note;
    }
    if (c->negative) faults += "a read of a negative length; ";
    if (*format < TAG_FORMAT_NONE || *format > TAG_FORMAT_WAV) faults += "an unknown format; ";
    const wchar_t* texts[] = {t->title, t->artist, t->album, t->album_artist};
    for (const wchar_t* text : texts) {
        const char* fault = tag_fuzz_text_fault(text);
        if (fault) {
            faults += fault;
            faults += "; ";
            break;
        }
    }
    if (t->track < 0 || t->track > 65535 || t->disc < 0 || t->disc > 65535) faults += "a track or disc out of range; ";
    if (t->year < 0 || t->year > 9999) faults += "a year out of range; ";
    if (t->duration_ms < 0) {
        snprintf(note, sizeof note, "a negative duration (%d ms); ", t->duration_ms);
        faults += note;
    }
    if (t->picture_length && (t->picture_offset > size || t->picture_length > size - t->picture_offset))
        faults += "a picture past the end; ";
    return faults;
}

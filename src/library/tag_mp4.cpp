// MP4 (M4A, AAC or ALAC): the movie box holds everything a player shows, the media data
// holds only samples. The boxes are walked by their sizes through the source, so a movie box
// written after the media data (as most encoders do) costs a handful of small reads, and
// within it only the headers of the boxes on the few paths that lead somewhere and the
// values kept are read: not the sample tables, not the cover.
#include <stdlib.h>
#include <string.h>

#include "library/tag_text.h"
#include "library/tags.h"

// The walk follows the few paths that lead somewhere (moov/trak/mdia/mdhd, moov/udta/meta/
// ilst/item/data) and never recurses by what a box claims to hold, so nesting stops six
// levels down whatever the file says.

// A real movie box of a song holds a few hundred boxes; a hostile one of tiny boxes stops here.
enum { MP4_MAX_BOXES = 100000, MP4_MAX_TOP_BOXES = 4096 };
// A text value is read this far: far more than the 255 characters kept.
static const uint32_t MP4_TEXT_READ = 64 * 1024;

static uint32_t fourcc(const char* s) { return tag_be32((const unsigned char*)s); }

struct Mp4Box {
    uint32_t type;
    uint64_t body;  // offset of the body in the file
    uint64_t size;  // of the body
};

// Reads the box header at h (avail bytes of it present) whose box may use at most room
// bytes. Returns 0 when there is no whole, sane box: the walk of this level ends there.
static int mp4_box_header(const unsigned char* h, uint64_t avail, uint64_t at, uint64_t room, Mp4Box* box) {
    if (avail < 8 || room < 8) return 0;
    uint64_t size = tag_be32(h);
    uint64_t header = 8;
    if (size == 1) {
        if (avail < 16 || room < 16) return 0;
        size = tag_be64(h + 8);
        header = 16;
    } else if (size == 0) {
        size = room;  // to the end of the parent
    }
    if (size < header || size > room) return 0;
    box->type = tag_be32(h + 4);
    box->body = at + header;
    box->size = size - header;
    return 1;
}

struct Mp4Parse {
    const TagSource* source;
    int boxes;
    uint64_t movie_duration_ms;
    uint64_t audio_duration_ms;  // the first audio track's
    int have_audio;
    TrackTags* out;
    unsigned char* value;  // the value being read, grown as needed
    uint32_t value_capacity;
};

// Reads up to cap bytes at at into p->value (length of them there); returns how many, -1 when
// the file does not give them.
static int64_t mp4_read(Mp4Parse* p, uint64_t at, uint64_t length, uint32_t cap) {
    uint32_t want = length < cap ? (uint32_t)length : cap;
    if (want > p->value_capacity) {
        unsigned char* grown = (unsigned char*)realloc(p->value, want);
        if (!grown) return -1;
        p->value = grown;
        p->value_capacity = want;
    }
    if (!want) return 0;
    return p->source->read(p->source->context, at, p->value, (int)want) == (int)want ? want : -1;
}

// Calls visit for each box in [begin, end) of the file; stops at the first broken box or
// when the box budget is spent.
template <typename Visit>
static void mp4_children(Mp4Parse* p, uint64_t begin, uint64_t end, Visit visit) {
    uint64_t at = begin;
    while (at < end && p->boxes < MP4_MAX_BOXES) {
        unsigned char h[16];
        uint64_t want = end - at < sizeof h ? end - at : sizeof h;
        int got = p->source->read(p->source->context, at, h, (int)want);
        Mp4Box box;
        if (got <= 0 || !mp4_box_header(h, (uint64_t)got, at, end - at, &box)) return;
        p->boxes++;
        visit(box);
        at = box.body + box.size;
    }
}

// Duration in milliseconds from a timescale and a count of its units, without overflow;
// all-ones is the format's "unknown".
static uint64_t mp4_ms(uint64_t duration, uint32_t timescale, int version) {
    if (!timescale || duration == (version ? ~0ull : 0xFFFFFFFFull)) return 0;
    uint64_t ms = duration / timescale * 1000 + duration % timescale * 1000 / timescale;
    return ms > 0x7FFFFFFF ? 0 : ms;
}

// mvhd and mdhd share their start: version and flags, two times, the timescale, the duration
// (32-bit fields in version 0, 64-bit times and duration in version 1).
static uint64_t mp4_header_ms(Mp4Parse* p, const Mp4Box& box) {
    if (mp4_read(p, box.body, box.size, 32) < 0) return 0;
    const unsigned char* b = p->value;
    uint64_t size = box.size;
    if (size < 4) return 0;
    if (b[0] == 1) return size >= 32 ? mp4_ms(tag_be64(b + 24), tag_be32(b + 20), 1) : 0;
    return size >= 20 ? mp4_ms(tag_be32(b + 16), tag_be32(b + 12), 0) : 0;
}

static void mp4_track(Mp4Parse* p, const Mp4Box& trak) {
    if (p->have_audio) return;
    uint64_t ms = 0;
    int audio = 0;
    mp4_children(p, trak.body, trak.body + trak.size, [&](const Mp4Box& b) {
        if (b.type != fourcc("mdia")) return;
        mp4_children(p, b.body, b.body + b.size, [&](const Mp4Box& m) {
            if (m.type == fourcc("mdhd")) ms = mp4_header_ms(p, m);
            // Version and flags, a predefined word, then the handler type.
            if (m.type == fourcc("hdlr") && m.size >= 12 && mp4_read(p, m.body, 12, 12) == 12 &&
                tag_be32(p->value + 8) == fourcc("soun"))
                audio = 1;
        });
    });
    if (audio) {
        p->have_audio = 1;
        p->audio_duration_ms = ms;
    }
}

// The value of an item's first data box: its type indicator (1 UTF-8, 2 UTF-16BE, 0 or 21
// binary), then the value itself after the indicator and the locale, at value_at.
template <typename Take>
static void mp4_first_data(Mp4Parse* p, const Mp4Box& item, Take take) {
    int done = 0;
    mp4_children(p, item.body, item.body + item.size, [&](const Mp4Box& d) {
        if (done || d.type != fourcc("data") || d.size < 8) return;
        done = 1;
        if (mp4_read(p, d.body, 4, 4) == 4) take(tag_be32(p->value) & 0xFFFFFF, d.body + 8, d.size - 8);
    });
}

static void mp4_text(Mp4Parse* p, const Mp4Box& item, wchar_t* field) {
    if (field[0]) return;  // the first of a repeated item wins
    mp4_first_data(p, item, [&](uint32_t kind, uint64_t value_at, uint64_t length) {
        if (kind != 1 && kind != 2) return;
        int64_t n = mp4_read(p, value_at, length, MP4_TEXT_READ);
        if (n < 0) return;
        if (kind == 1) tag_text_utf8(p->value, (int)n, field, TAG_TEXT_CAPACITY);
        else tag_text_utf16(p->value, (int)n, 1, field, TAG_TEXT_CAPACITY);
    });
}

// trkn and disk: two zero bytes, the number, the total. Some taggers write them as text.
static void mp4_number(Mp4Parse* p, const Mp4Box& item, int* field) {
    if (*field) return;
    mp4_first_data(p, item, [&](uint32_t kind, uint64_t value_at, uint64_t length) {
        if ((kind == 0 || kind == 21) && length >= 4) {
            if (mp4_read(p, value_at, 4, 4) == 4) *field = tag_be16(p->value + 2);
        } else if (kind == 1) {
            int64_t n = mp4_read(p, value_at, length, 15);
            wchar_t text[16];
            if (n < 0) return;
            tag_text_utf8(p->value, (int)n, text, 16);
            *field = tag_leading_number(text);
        }
    });
}

static void mp4_cover(Mp4Parse* p, const Mp4Box& item) {
    if (p->out->picture_length) return;
    int done = 0;
    mp4_children(p, item.body, item.body + item.size, [&](const Mp4Box& d) {
        if (done || d.type != fourcc("data") || d.size <= 8 || d.size - 8 > 0xFFFFFFFFull) return;
        done = 1;
        p->out->picture_offset = d.body + 8;
        p->out->picture_length = (uint32_t)(d.size - 8);
    });
}

static void mp4_items(Mp4Parse* p, uint64_t begin, uint64_t end) {
    TrackTags* out = p->out;
    mp4_children(p, begin, end, [&](const Mp4Box& item) {
        uint32_t t = item.type;
        if (t == fourcc("\xa9nam")) mp4_text(p, item, out->title);
        else if (t == fourcc("\xa9" "ART")) mp4_text(p, item, out->artist);
        else if (t == fourcc("aART")) mp4_text(p, item, out->album_artist);
        else if (t == fourcc("\xa9" "alb")) mp4_text(p, item, out->album);
        else if (t == fourcc("trkn")) mp4_number(p, item, &out->track);
        else if (t == fourcc("disk")) mp4_number(p, item, &out->disc);
        else if (t == fourcc("covr")) mp4_cover(p, item);
        else if (t == fourcc("\xa9" "day") && !out->year) {
            wchar_t date[TAG_TEXT_CAPACITY] = {};
            mp4_text(p, item, date);
            out->year = tag_year(date);
        }
    });
}

static void mp4_user_data(Mp4Parse* p, const Mp4Box& udta) {
    mp4_children(p, udta.body, udta.body + udta.size, [&](const Mp4Box& meta) {
        if (meta.type != fourcc("meta")) return;
        // A full box (version and flags before its children) as the ISO family writes it;
        // QuickTime's own writes its children at once, so look for the first child's type.
        uint64_t start = meta.body;
        if (!(meta.size >= 8 && mp4_read(p, meta.body, 8, 8) == 8 && tag_be32(p->value + 4) == fourcc("hdlr"))) start += 4;
        if (start > meta.body + meta.size) return;
        mp4_children(p, start, meta.body + meta.size, [&](const Mp4Box& ilst) {
            if (ilst.type == fourcc("ilst")) mp4_items(p, ilst.body, ilst.body + ilst.size);
        });
    });
}

int tags_read_mp4(const TagSource* source, TrackTags* out) {
    unsigned char h[16];
    uint64_t at = 0, size = source->size;
    Mp4Box moov = {};
    int found = 0, is_mp4 = 0;
    for (int count = 0; at < size && count < MP4_MAX_TOP_BOXES; count++) {
        int got = source->read(source->context, at, h, sizeof h);
        Mp4Box box;
        if (got < 8 || !mp4_box_header(h, (uint64_t)got, at, size - at, &box)) break;
        if (count == 0) is_mp4 = box.type == fourcc("ftyp");
        if (!is_mp4) return 0;
        if (box.type == fourcc("moov")) {
            moov = box;
            found = 1;
            break;
        }
        at = box.body + box.size;
    }
    if (!is_mp4) return 0;
    if (!found) return 1;

    Mp4Parse p = {};
    p.source = source;
    p.out = out;
    mp4_children(&p, moov.body, moov.body + moov.size, [&](const Mp4Box& b) {
        if (b.type == fourcc("mvhd")) p.movie_duration_ms = mp4_header_ms(&p, b);
        else if (b.type == fourcc("trak")) mp4_track(&p, b);
        else if (b.type == fourcc("udta")) mp4_user_data(&p, b);
    });
    // The movie's duration is the track's with the encoder's priming cut by the edit list.
    uint64_t ms = p.movie_duration_ms ? p.movie_duration_ms : p.audio_duration_ms;
    out->duration_ms = (int)ms;
    free(p.value);
    return 1;
}

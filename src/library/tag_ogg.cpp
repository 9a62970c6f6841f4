// Ogg Vorbis and Ogg Opus: pages ("OggS", version, header type, granule position, serial,
// sequence, CRC, a segment table) carry the packets of one or more logical streams. The
// first logical stream's first two packets say what it is and hold its comments; the last
// page of that stream gives its length through its granule position.
//
// Pictures that Vorbis comments carry as METADATA_BLOCK_PICTURE (base64 of a FLAC picture)
// are not looked for: their bytes are not in the file as they are, so there is no place to
// give, and decoding them is the cover's reader's work, not the list's.
#include <stdlib.h>
#include <string.h>

#include "library/tag_text.h"
#include "library/tags.h"

enum {
    OGG_PAGE_HEADER = 27,
    // The two header packets of a real file lie within a few pages unless a picture rides in
    // the comments; this bounds the walk however the pages are cut.
    OGG_MAX_PAGES = 4096,
    // Comments with a cover in them reach a few megabytes; what lies past this is not read
    // and the comments before it are kept.
    OGG_MAX_PACKET = 16 * 1024 * 1024,
    // The last page is at most 65,307 bytes long and ends the file, so it begins in this tail.
    OGG_TAIL = 64 * 1024,
    // It is a few kilobytes long in practice: the end of the tail is looked at first.
    OGG_NEAR_TAIL = 8 * 1024,
    OPUS_RATE = 48000,
};

struct OggPacket {
    unsigned char* bytes;
    uint32_t length;
    uint32_t capacity;
    int complete;  // its last segment was read; 0 when the file or the cap cut it
};

// The page's CRC, over the page with its own CRC field taken as zeros (polynomial
// 0x04C11DB7, not reflected, no final xor).
struct OggCrcTable {
    uint32_t entries[256];
    constexpr OggCrcTable() : entries() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; k++) r = r & 0x80000000u ? r << 1 ^ 0x04C11DB7u : r << 1;
            entries[i] = r;
        }
    }
};
static constexpr OggCrcTable OGG_CRC = OggCrcTable();

static uint32_t ogg_crc(const unsigned char* page, uint32_t length) {
    uint32_t crc = 0;
    for (uint32_t i = 0; i < length; i++) {
        unsigned char b = i >= 22 && i < 26 ? 0 : page[i];
        crc = crc << 8 ^ OGG_CRC.entries[(crc >> 24 ^ b) & 0xFF];
    }
    return crc;
}

// Appends bytes to a packet as long as the cap allows. Returns 0 when it does not.
static int packet_append(OggPacket* p, const unsigned char* bytes, uint32_t length) {
    if (length > OGG_MAX_PACKET - p->length) return 0;
    if (!length) return 1;
    if (p->length + length > p->capacity) {
        // Doubled rather than grown segment by segment: a packet comes 255 bytes at a time.
        uint32_t capacity = p->capacity < 4096 ? 4096 : p->capacity * 2;
        while (capacity < p->length + length) capacity *= 2;
        unsigned char* grown = (unsigned char*)realloc(p->bytes, capacity);
        if (!grown) return 0;
        p->bytes = grown;
        p->capacity = capacity;
    }
    memcpy(p->bytes + p->length, bytes, length);
    p->length += length;
    return 1;
}

// Collects the first two packets of the first logical stream, reassembled across pages;
// pages of other streams are passed over unread. Returns 0 when the file does not begin
// with a page; *serial is the stream's.
static int ogg_header_packets(const TagSource* s, OggPacket packets[2], uint32_t* serial) {
    // As large as the largest page read, not as a page may be: pages are a few kilobytes, and
    // buffers of tens of kilobytes made and dropped for every file cost more than the reading
    // (the heap gives their memory back to the system each time).
    unsigned char* body = nullptr;
    uint32_t body_capacity = 0;
    uint64_t at = 0;
    int index = 0, overflow = 0, pages = 0;
    for (; pages < OGG_MAX_PAGES && index < 2; pages++) {
        unsigned char header[OGG_PAGE_HEADER], lacing[255];
        if (at > s->size || s->size - at < OGG_PAGE_HEADER) break;
        if (s->read(s->context, at, header, OGG_PAGE_HEADER) != OGG_PAGE_HEADER) break;
        if (memcmp(header, "OggS", 4) || header[4] != 0) break;
        int segments = header[26];
        if (s->read(s->context, at + OGG_PAGE_HEADER, lacing, segments) != segments) break;
        uint32_t body_length = 0;
        for (int i = 0; i < segments; i++) body_length += lacing[i];
        if (pages == 0) *serial = tag_le32(header + 14);
        uint64_t body_at = at + OGG_PAGE_HEADER + segments;
        at = body_at + body_length;
        if (tag_le32(header + 14) != *serial) continue;
        if (body_length > body_capacity) {
            unsigned char* grown = (unsigned char*)realloc(body, body_length);
            if (!grown) break;
            body = grown;
            body_capacity = body_length;
        }
        // A cut page still gives the segments that are whole.
        int got = body_length ? s->read(s->context, body_at, body, (int)body_length) : 0;
        if (got < 0) got = 0;
        uint32_t used = 0;
        for (int i = 0; i < segments && index < 2; i++) {
            if (lacing[i] > (uint32_t)got - used) {
                got = -1;
                break;
            }
            if (!overflow && !packet_append(&packets[index], body + used, lacing[i])) overflow = 1;
            used += lacing[i];
            // A segment shorter than 255 bytes ends its packet; one of 255 goes on, on the next page if need be.
            if (lacing[i] < 255) {
                packets[index].complete = !overflow;
                index++;
                overflow = 0;
            }
        }
        if (got < 0 || overflow) break;
    }
    free(body);
    return pages > 0;
}

// The granule position of the stream's last page that begins in the last tail_length bytes:
// the last page there of that serial whose CRC holds (so that "OggS" inside compressed audio
// is not taken for a page) and on which a packet ends. Returns 0 when there is none.
static int ogg_granule_in_tail(const TagSource* s, uint32_t serial, uint64_t tail_length, uint64_t* granule) {
    uint64_t from = s->size > tail_length ? s->size - tail_length : 0;
    int length = (int)(s->size - from);
    unsigned char* tail = (unsigned char*)malloc(length ? length : 1);
    if (!tail) return 0;
    int found = 0;
    int got = s->read(s->context, from, tail, length);
    for (int i = got - OGG_PAGE_HEADER; i >= 0 && !found; i--) {
        const unsigned char* p = tail + i;
        if (memcmp(p, "OggS", 4) || p[4] != 0 || tag_le32(p + 14) != serial) continue;
        uint64_t g = tag_le64(p + 6);
        if (g == ~(uint64_t)0) continue;  // no packet ends on this page
        int segments = p[26];
        if (got - i - OGG_PAGE_HEADER < segments) continue;
        uint32_t page_length = OGG_PAGE_HEADER + segments;
        for (int k = 0; k < segments; k++) page_length += p[OGG_PAGE_HEADER + k];
        if (page_length > (uint32_t)(got - i) || ogg_crc(p, page_length) != tag_le32(p + 22)) continue;
        *granule = g;
        found = 1;
    }
    free(tail);
    return found;
}

// A page found near the end is the one a search of the whole tail finds too: no page that
// begins later can lie before it.
static int ogg_last_granule(const TagSource* s, uint32_t serial, uint64_t* granule) {
    return ogg_granule_in_tail(s, serial, OGG_NEAR_TAIL, granule) ||
           (s->size > OGG_NEAR_TAIL && ogg_granule_in_tail(s, serial, OGG_TAIL, granule));
}

static int duration_from(uint64_t samples, uint32_t rate) {
    if (!rate) return 0;
    uint64_t ms = samples / rate * 1000 + samples % rate * 1000 / rate;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
}

int tags_read_ogg(const TagSource* source, TrackTags* out, int* format) {
    *format = TAG_FORMAT_NONE;
    OggPacket packets[2] = {};
    uint32_t serial = 0;
    int is_ogg = 0;
    uint32_t rate = 0, pre_skip = 0;
    if (!ogg_header_packets(source, packets, &serial)) goto done;
    {
        const OggPacket& id = packets[0];
        const OggPacket& comments = packets[1];
        if (id.complete && id.length >= 30 && !memcmp(id.bytes, "\x01vorbis", 7)) {
            *format = TAG_FORMAT_OGG_VORBIS;
            rate = tag_le32(id.bytes + 12);
            if (comments.length > 7 && !memcmp(comments.bytes, "\x03vorbis", 7))
                tags_vorbis_comments(comments.bytes + 7, comments.length - 7, out);
        } else if (id.complete && id.length >= 19 && !memcmp(id.bytes, "OpusHead", 8)) {
            *format = TAG_FORMAT_OGG_OPUS;
            // Opus always runs at 48 kHz whatever rate the input had; the first pre_skip
            // samples are the decoder's to throw away.
            rate = OPUS_RATE;
            pre_skip = tag_le16(id.bytes + 10);
            if (comments.length > 8 && !memcmp(comments.bytes, "OpusTags", 8))
                tags_vorbis_comments(comments.bytes + 8, comments.length - 8, out);
        } else {
            goto done;
        }
        is_ogg = 1;
        uint64_t granule;
        if (ogg_last_granule(source, serial, &granule) && granule > pre_skip)
            out->duration_ms = duration_from(granule - pre_skip, rate);
    }
done:
    free(packets[0].bytes);
    free(packets[1].bytes);
    return is_ogg;
}

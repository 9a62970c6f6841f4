// FLAC: "fLaC", then metadata blocks, each a one-byte type (its top bit marks the last one)
// and a 24-bit big-endian length. Only three blocks matter here: STREAMINFO for the length,
// VORBIS_COMMENT for the text and PICTURE for the cover.
#include <stdlib.h>
#include <string.h>

#include "library/tag_text.h"
#include "library/tags.h"

enum {
    FLAC_STREAMINFO = 0,
    FLAC_VORBIS_COMMENT = 4,
    FLAC_PICTURE = 6,
    // A real file has a handful of blocks (padding, seek table, a few pictures); thousands of
    // tiny blocks are only a way to make us read header after header.
    FLAC_MAX_BLOCKS = 1024,
    // Comments are text; a block larger than this is not what a tagger writes.
    FLAC_MAX_COMMENTS = 16 * 1024 * 1024,
    PICTURE_FRONT_COVER = 3,
};

static int read_exact(const TagSource* s, uint64_t offset, void* out, int length) {
    return s->read(s->context, offset, out, length) == length;
}

// Where the stream's "fLaC" begins: at 0, or after an ID3v2 tag some taggers put before it.
// Returns 0 when neither holds it.
static int flac_start(const TagSource* s, uint64_t* start) {
    unsigned char head[10];
    if (!read_exact(s, 0, head, 4)) return 0;
    uint64_t at = 0;
    if (!memcmp(head, "ID3", 3)) {
        if (!read_exact(s, 0, head, 10)) return 0;
        at = 10 + ((uint64_t)(head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 | (head[8] & 0x7F) << 7 | (head[9] & 0x7F));
        if (head[5] & 0x10) at += 10;  // a footer follows the tag
        if (at > s->size || s->size - at < 4 || !read_exact(s, at, head, 4)) return 0;
    }
    if (memcmp(head, "fLaC", 4)) return 0;
    *start = at;
    return 1;
}

static void read_streaminfo(const TagSource* s, uint64_t at, uint32_t length, TrackTags* out) {
    unsigned char b[34];
    if (length < sizeof b || !read_exact(s, at, b, sizeof b)) return;
    uint32_t rate = (uint32_t)b[10] << 12 | (uint32_t)b[11] << 4 | b[12] >> 4;
    uint64_t samples = (uint64_t)(b[13] & 0x0F) << 32 | tag_be32(b + 14);
    // 0 samples means the encoder did not know the length (a stream); say nothing then.
    if (rate && samples) {
        uint64_t ms = samples * 1000 / rate;
        out->duration_ms = ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
    }
}

static void read_comments(const TagSource* s, uint64_t at, uint32_t length, TrackTags* out) {
    // An empty block holds no comment; reading nothing for it would still cost a read each,
    // and a file of empty blocks is a thousand of them.
    if (!length || length > FLAC_MAX_COMMENTS) return;
    unsigned char* block = (unsigned char*)malloc(length ? length : 1);
    if (!block) return;
    if (read_exact(s, at, block, (int)length)) tags_vorbis_comments(block, length, out);
    free(block);
}

// A PICTURE block: type, MIME type and description (each length first), four numbers about
// the image, then the image's own length and bytes. Returns the picture's type, -1 when the
// block does not hold together; the image's place goes to *data and *data_length.
static int read_picture(const TagSource* s, uint64_t at, uint32_t length, uint64_t* data, uint32_t* data_length) {
    unsigned char b[20];
    if (length < 8 || !read_exact(s, at, b, 8)) return -1;
    uint32_t type = tag_be32(b);
    uint32_t used = 8, mime = tag_be32(b + 4);
    if (mime > length - used) return -1;
    used += mime;
    if (length - used < 4 || !read_exact(s, at + used, b, 4)) return -1;
    uint32_t description = tag_be32(b);
    used += 4;
    if (description > length - used) return -1;
    used += description;
    if (length - used < 20 || !read_exact(s, at + used, b, 20)) return -1;
    used += 20;
    uint32_t image = tag_be32(b + 16);
    if (image == 0 || image > length - used) return -1;
    *data = at + used;
    *data_length = image;
    return type > 0x7FFFFFFF ? 0x7FFFFFFF : (int)type;
}

int tags_read_flac(const TagSource* source, TrackTags* out) {
    uint64_t start;
    if (!flac_start(source, &start)) return 0;
    uint64_t at = start + 4;
    int have_front = 0;
    for (int blocks = 0; blocks < FLAC_MAX_BLOCKS; blocks++) {
        unsigned char header[4];
        if (at > source->size || source->size - at < 4 || !read_exact(source, at, header, 4)) break;
        at += 4;
        int type = header[0] & 0x7F;
        uint32_t length = (uint32_t)header[1] << 16 | (uint32_t)header[2] << 8 | header[3];
        // A block that claims more than the file holds leaves nothing after it to trust.
        if (length > source->size - at) break;
        if (type == FLAC_STREAMINFO && blocks == 0) {
            read_streaminfo(source, at, length, out);
        } else if (type == FLAC_VORBIS_COMMENT) {
            read_comments(source, at, length, out);
        } else if (type == FLAC_PICTURE && !have_front) {
            uint64_t data;
            uint32_t data_length;
            int picture = read_picture(source, at, length, &data, &data_length);
            // The front cover wins wherever it is; until one turns up, the first picture stands in.
            if (picture >= 0 && (picture == PICTURE_FRONT_COVER || !out->picture_length)) {
                out->picture_offset = data;
                out->picture_length = data_length;
                have_front = picture == PICTURE_FRONT_COVER;
            }
        }
        at += length;
        if (header[0] & 0x80) break;
    }
    return 1;
}

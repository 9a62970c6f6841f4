#include "library/tags.h"

#include <string.h>

static int read_memory(void* context, uint64_t offset, void* out, int length) {
    const TagMemory* m = (const TagMemory*)context;
    if (length <= 0 || offset >= m->size) return 0;
    uint64_t left = m->size - offset;
    int n = left < (uint64_t)length ? (int)left : length;
    memcpy(out, m->bytes + offset, (size_t)n);
    return n;
}

TagSource tag_source_memory(TagMemory* memory) {
    TagSource s = {memory, read_memory, memory->size};
    return s;
}

int tags_read(const TagSource* source, TrackTags* out) {
    memset(out, 0, sizeof *out);
    unsigned char head[16] = {};
    int got = source->read(source->context, 0, head, sizeof head);
    if (got < 4) return TAG_FORMAT_NONE;
    // A FLAC stream may follow an ID3v2 tag that some taggers put before it. The MP3 reader
    // turns such a file down once it has read past the tag, where it reads anyway: looked
    // for here, the tag's end would be read before its start, and a file source that holds
    // one block would read the first block twice.
    if (got >= 10 && !memcmp(head, "ID3", 3)) {
        if (tags_read_mp3(source, out)) return TAG_FORMAT_MP3;
        memset(out, 0, sizeof *out);
        return tags_read_flac(source, out) ? TAG_FORMAT_FLAC : TAG_FORMAT_NONE;
    }
    if (!memcmp(head, "fLaC", 4)) return tags_read_flac(source, out) ? TAG_FORMAT_FLAC : TAG_FORMAT_NONE;
    if (!memcmp(head, "OggS", 4)) {
        int format = TAG_FORMAT_NONE;
        return tags_read_ogg(source, out, &format) ? format : TAG_FORMAT_NONE;
    }
    if (got >= 8 && !memcmp(head + 4, "ftyp", 4)) return tags_read_mp4(source, out) ? TAG_FORMAT_MP4 : TAG_FORMAT_NONE;
    static const unsigned char ASF_HEADER[4] = {0x30, 0x26, 0xB2, 0x75};
    if (!memcmp(head, ASF_HEADER, 4)) return tags_read_asf(source, out) ? TAG_FORMAT_ASF : TAG_FORMAT_NONE;
    if (got >= 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "WAVE", 4))
        return tags_read_wav(source, out) ? TAG_FORMAT_WAV : TAG_FORMAT_NONE;
    // MPEG audio without a leading tag: its reader looks for frames (and an ID3v1 tag at the end).
    return tags_read_mp3(source, out) ? TAG_FORMAT_MP3 : TAG_FORMAT_NONE;
}

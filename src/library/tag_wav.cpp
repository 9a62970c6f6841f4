// RIFF/WAVE files: the duration from the format and the size of the samples, the text from a
// LIST/INFO chunk and from an ID3v2 tag in an "id3 " chunk, as some taggers add one.
#include <stdlib.h>
#include <string.h>

#include "library/tag_id3.h"
#include "library/tag_text.h"
#include "library/tags.h"

// An INFO list is a few short strings; one larger than this is not read.
static const uint32_t WAV_INFO_CAP = 1u << 20;
// Each chunk costs a read; a file of nothing but empty chunks stops here.
static const int WAV_MAX_CHUNKS = 10000;

// INFO strings are in no declared encoding: encoders today write UTF-8, old Windows tools the
// system's code page. Text that is valid UTF-8 is read as such, anything else by the Latin-1
// rule (which recognises Turkish Windows text).
static int is_utf8(const unsigned char* p, uint32_t length) {
    for (uint32_t i = 0; i < length && p[i];) {
        unsigned char b = p[i];
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || (b & 0xFE) == 0xC0 || i + extra >= length) return 0;
        for (int k = 1; k <= extra; k++)
            if ((p[i + k] & 0xC0) != 0x80) return 0;
        i += (uint32_t)extra + 1;
    }
    return 1;
}

static void info_text(wchar_t* field, const unsigned char* p, uint32_t length) {
    if (field[0]) return;
    if (is_utf8(p, length)) tag_text_utf8(p, (int)length, field, TAG_TEXT_CAPACITY);
    else tag_text_latin1(p, (int)length, field, TAG_TEXT_CAPACITY);
}

static void info_number(int* field, int year, const unsigned char* p, uint32_t length) {
    if (*field) return;
    wchar_t text[64];
    tag_text_latin1(p, (int)length, text, 64);
    *field = year ? tag_year(text) : tag_leading_number(text);
}

// The sub-chunks of a LIST/INFO chunk's body (after "INFO").
static void wav_info(const unsigned char* p, uint32_t length, TrackTags* out) {
    uint32_t at = 0;
    while (length - at >= 8) {
        const unsigned char* id = p + at;
        uint32_t size = tag_le32(p + at + 4);
        if (size > length - at - 8) break;
        const unsigned char* text = p + at + 8;
        if (!memcmp(id, "INAM", 4)) info_text(out->title, text, size);
        else if (!memcmp(id, "IART", 4)) info_text(out->artist, text, size);
        else if (!memcmp(id, "IPRD", 4)) info_text(out->album, text, size);
        else if (!memcmp(id, "ITRK", 4) || !memcmp(id, "IPRT", 4)) info_number(&out->track, 0, text, size);
        else if (!memcmp(id, "ICRD", 4)) info_number(&out->year, 1, text, size);
        at += 8 + size;
        if (size & 1) {
            if (at == length) break;
            at++;
        }
    }
}

int tags_read_wav(const TagSource* source, TrackTags* out) {
    unsigned char head[12];
    if (source->read(source->context, 0, head, 12) != 12 || memcmp(head, "RIFF", 4) || memcmp(head + 8, "WAVE", 4)) return 0;
    // The RIFF size is often wrong in files written as a stream; the file's own size bounds.
    uint64_t end = source->size;
    uint64_t riff_end = 8 + (uint64_t)tag_le32(head + 4);
    if (riff_end >= 12 && riff_end < end) end = riff_end;
    uint32_t byte_rate = 0;
    uint64_t data_size = 0;
    int have_data = 0;
    uint64_t at = 12;
    // The pad byte of an odd last chunk may lie past the end the RIFF size gives, and so may
    // the next chunk's start.
    for (int chunks = 0; chunks < WAV_MAX_CHUNKS && at < end && end - at >= 8; chunks++) {
        unsigned char c[8];
        if (source->read(source->context, at, c, 8) != 8) break;
        uint64_t size = tag_le32(c + 4);
        uint64_t body = at + 8;
        uint64_t room = end - body;
        if (!memcmp(c, "data", 4)) {
            // Files written as a stream leave the size of their samples at all ones, or cut
            // short: the samples run to the end of the file.
            data_size = size > room ? room : size;
            have_data = 1;
        } else if (size > room) {
            break;
        } else if (!memcmp(c, "fmt ", 4) && size >= 16) {
            unsigned char fmt[16];
            if (source->read(source->context, body, fmt, 16) == 16) byte_rate = tag_le32(fmt + 8);
        } else if (!memcmp(c, "LIST", 4) && size >= 4 && size <= WAV_INFO_CAP) {
            unsigned char* list = (unsigned char*)malloc((size_t)size);
            if (list && source->read(source->context, body, list, (int)size) == (int)size && !memcmp(list, "INFO", 4))
                wav_info(list + 4, (uint32_t)size - 4, out);
            free(list);
        } else if (!memcmp(c, "id3 ", 4) || !memcmp(c, "ID3 ", 4)) {
            tags_read_id3v2(source, body, size, out);
        }
        if (size > room) break;
        at = body + size + (size & 1);
    }
    if (have_data && byte_rate) {
        uint64_t ms = data_size * 1000 / byte_rate;
        out->duration_ms = ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
    }
    return 1;
}

// MPEG audio files: an ID3v2 tag at the start, an ID3v1 tag at the end, and the duration from
// the first frame (its Xing/Info or VBRI header, else its bitrate over the audio's size).
#include <stdlib.h>
#include <string.h>

#include "library/tag_id3.h"
#include "library/tag_text.h"
#include "library/tags.h"

// How far past the tag the first frame is looked for: encoders and taggers leave padding
// and junk there, but a file whose audio starts later than this is not read as MPEG.
static const int FRAME_SEARCH_WINDOW = 64 * 1024;
// A tag followed by another one is not unusual after careless retagging; more is a loop.
static const int MAX_LEADING_TAGS = 4;

struct MpegFrame {
    int version;  // 1, 2, or 25 for 2.5
    int layer;    // 1..3
    int bitrate_kbps;
    int sample_rate;
    int samples;  // per frame
    int mono;
    int length;   // bytes, header included
};

// Decodes a frame header; 0 when the four bytes are not one (free bitrate included: its
// length cannot be known from the header alone).
static int mpeg_frame_header(const unsigned char* h, MpegFrame* f) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    int version_bits = (h[1] >> 3) & 3, layer_bits = (h[1] >> 1) & 3;
    int bitrate_index = h[2] >> 4, rate_index = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
    if (version_bits == 1 || layer_bits == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3) return 0;
    static const short BITRATES[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, layer I
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, layer II
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, layer III
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2 and 2.5, layer I
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // 2 and 2.5, layers II and III
    };
    static const int RATES[3] = {44100, 48000, 32000};
    f->version = version_bits == 3 ? 1 : version_bits == 2 ? 2 : 25;
    f->layer = 4 - layer_bits;
    int table = f->version == 1 ? f->layer - 1 : f->layer == 1 ? 3 : 4;
    f->bitrate_kbps = BITRATES[table][bitrate_index - 1];
    f->sample_rate = RATES[rate_index] / (f->version == 1 ? 1 : f->version == 2 ? 2 : 4);
    f->mono = (h[3] >> 6) == 3;
    int bps = f->bitrate_kbps * 1000;
    if (f->layer == 1) {
        f->samples = 384;
        f->length = (12 * bps / f->sample_rate + padding) * 4;
    } else if (f->layer == 2 || f->version == 1) {
        f->samples = 1152;
        f->length = 144 * bps / f->sample_rate + padding;
    } else {
        f->samples = 576;
        f->length = 72 * bps / f->sample_rate + padding;
    }
    return f->length >= 24;
}

// The first frame at or after start whose successor lies where its length says, so that a
// stray 0xFF in padding or a picture is not taken for audio. A frame that ends the audio
// exactly needs no successor. Returns its offset, -1 when the window holds none.
static int64_t mpeg_find_first_frame(const TagSource* source, uint64_t start, uint64_t audio_end, MpegFrame* first) {
    if (start >= audio_end) return -1;
    uint64_t want = audio_end - start;
    // The window and enough beyond it for the successor of a frame that starts at its end.
    if (want > (uint64_t)FRAME_SEARCH_WINDOW + 4096) want = FRAME_SEARCH_WINDOW + 4096;
    unsigned char* window = (unsigned char*)malloc((size_t)want);
    if (!window) return -1;
    int got = source->read(source->context, start, window, (int)want);
    int64_t found = -1;
    int last = got < FRAME_SEARCH_WINDOW ? got : FRAME_SEARCH_WINDOW;
    for (int i = 0; i + 4 <= last && found < 0; i++) {
        MpegFrame f, next;
        if (window[i] != 0xFF || !mpeg_frame_header(window + i, &f)) continue;
        uint64_t next_at = (uint64_t)i + (uint64_t)f.length;
        if (start + next_at == audio_end) {
            found = (int64_t)(start + i);
        } else if (next_at + 4 <= (uint64_t)got) {
            if (mpeg_frame_header(window + next_at, &next) && next.version == f.version && next.layer == f.layer &&
                next.sample_rate == f.sample_rate)
                found = (int64_t)(start + i);
        }
        if (found >= 0) *first = f;
    }
    free(window);
    return found;
}

// The stream's length from the first frame's Xing/Info or VBRI header (the count of frames,
// less the encoder's delay and padding where a LAME-style header gives them), else from its
// bitrate over the audio's size, as a constant bitrate gives it.
static int mpeg_duration_ms(const TagSource* source, uint64_t frame_at, const MpegFrame* f, uint64_t audio_end) {
    unsigned char head[256] = {};
    uint64_t room = audio_end - frame_at;
    int want = room < sizeof head ? (int)room : (int)sizeof head;
    int got = source->read(source->context, frame_at, head, want);
    int side = f->version == 1 ? (f->mono ? 17 : 32) : (f->mono ? 9 : 17);
    uint64_t frames = 0, trimmed = 0;
    int xing = 4 + side;
    if (xing + 12 <= got && f->layer == 3 && (!memcmp(head + xing, "Xing", 4) || !memcmp(head + xing, "Info", 4))) {
        uint32_t flags = tag_be32(head + xing + 4);
        if (flags & 1) frames = tag_be32(head + xing + 8);
        int lame = xing + 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
        if (lame + 24 <= got && (!memcmp(head + lame, "LAME", 4) || !memcmp(head + lame, "Lavc", 4) || !memcmp(head + lame, "Lavf", 4))) {
            const unsigned char* gap = head + lame + 21;
            trimmed = (uint64_t)(gap[0] << 4 | gap[1] >> 4) + (uint64_t)((gap[1] & 0x0F) << 8 | gap[2]);
        }
    } else if (36 + 18 <= got && !memcmp(head + 36, "VBRI", 4)) {
        frames = tag_be32(head + 36 + 14);
    }
    uint64_t ms;
    if (frames) {
        // The header's count of frames may stand for years, more than an int of milliseconds holds.
        uint64_t samples = frames * (uint64_t)f->samples;
        if (trimmed < samples) samples -= trimmed;
        ms = samples * 1000 / (uint64_t)f->sample_rate;
    } else {
        // bits over kilobits per second gives milliseconds
        ms = (audio_end - frame_at) * 8 / (uint64_t)f->bitrate_kbps;
    }
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
}

// ID3v1 and 1.1: the last 128 bytes. Fills only what ID3v2 left empty. Returns 1 when there is one.
static int id3v1_read(const TagSource* source, TrackTags* out) {
    if (source->size < 128) return 0;
    unsigned char t[128];
    if (source->read(source->context, source->size - 128, t, 128) != 128 || memcmp(t, "TAG", 3)) return 0;
    if (!out->title[0]) tag_text_latin1(t + 3, 30, out->title, TAG_TEXT_CAPACITY);
    if (!out->artist[0]) tag_text_latin1(t + 33, 30, out->artist, TAG_TEXT_CAPACITY);
    if (!out->album[0]) tag_text_latin1(t + 63, 30, out->album, TAG_TEXT_CAPACITY);
    if (!out->year) {
        wchar_t year[8];
        tag_text_latin1(t + 93, 4, year, 8);
        out->year = tag_year(year);
    }
    // 1.1 keeps the track in the comment's last byte, after a zero.
    if (!out->track && t[125] == 0 && t[126] != 0) out->track = t[126];
    return 1;
}

int tags_read_mp3(const TagSource* source, TrackTags* out) {
    uint64_t audio_start = 0;
    int tagged = 0;
    for (int i = 0; i < MAX_LEADING_TAGS; i++) {
        uint64_t whole = tags_read_id3v2(source, audio_start, source->size - audio_start, out);
        if (!whole) break;
        tagged = 1;
        audio_start += whole;
        if (audio_start >= source->size) break;
    }
    int has_v1 = id3v1_read(source, out);
    uint64_t audio_end = source->size - (has_v1 ? 128 : 0);
    MpegFrame first = {};
    int64_t frame_at = audio_start < audio_end ? mpeg_find_first_frame(source, audio_start, audio_end, &first) : -1;
    if (frame_at >= 0) out->duration_ms = mpeg_duration_ms(source, (uint64_t)frame_at, &first, audio_end);
    return tagged || frame_at >= 0;
}

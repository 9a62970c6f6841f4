// MPEG audio files: an ID3v2 tag at the start, an ID3v1 tag at the end, and the duration from
// the first frame (its Xing/Info or VBRI header, else its bitrate over the audio's size).
#include <string.h>

#include "library/tag_id3.h"
#include "library/tag_text.h"
#include "library/tags.h"

// How far past the tag the first frame is looked for: encoders and taggers leave padding
// and junk there, but a file whose audio starts later than this is not read as MPEG.
static const int FRAME_SEARCH_WINDOW = 64 * 1024;
// The window is looked at a step at a time, each read holding what follows the step far
// enough for the successor of a frame that starts in it: the longest frame (MPEG 2.5 layer
// II at 160 kbit/s and 8 kHz, padded) is 2,881 bytes. A buffer of the whole window made and
// dropped for every file costs more than the reading.
enum { FRAME_SCAN_STEP = 4096, FRAME_LOOKAHEAD = 4096 };
// How far from its start the search may read: more audio than this and it never reaches ID3v1.
static const uint64_t FRAME_SEARCH_REACH = FRAME_SEARCH_WINDOW + FRAME_SCAN_STEP + FRAME_LOOKAHEAD;
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
    uint64_t room = audio_end - start;
    uint64_t window = room < (uint64_t)FRAME_SEARCH_WINDOW ? room : (uint64_t)FRAME_SEARCH_WINDOW;
    unsigned char bytes[FRAME_SCAN_STEP + FRAME_LOOKAHEAD];
    for (uint64_t from = 0; from < window; from += FRAME_SCAN_STEP) {
        uint64_t want = room - from < sizeof bytes ? room - from : sizeof bytes;
        int got = source->read(source->context, start + from, bytes, (int)want);
        uint64_t last = window - from < (uint64_t)FRAME_SCAN_STEP ? window - from : (uint64_t)FRAME_SCAN_STEP;
        if (last > (uint64_t)got) last = got > 0 ? (uint64_t)got : 0;
        for (uint64_t i = 0; i + 4 <= last; i++) {
            MpegFrame f, next;
            if (bytes[i] != 0xFF || !mpeg_frame_header(bytes + i, &f)) continue;
            uint64_t next_at = i + (uint64_t)f.length;
            if (start + from + next_at != audio_end &&
                !(next_at + 4 <= (uint64_t)got && mpeg_frame_header(bytes + next_at, &next) && next.version == f.version &&
                  next.layer == f.layer && next.sample_rate == f.sample_rate))
                continue;
            *first = f;
            return (int64_t)(start + from + i);
        }
        if ((uint64_t)got < want) break;
    }
    return -1;
}

// The stream's length from the first frame's Xing/Info or VBRI header (the count of frames,
// less the encoder's delay and padding where a LAME-style header gives them), else from its
// bitrate over the audio's size, as a constant bitrate gives it. head holds got bytes from
// the frame's start, none past the audio's end.
static int mpeg_duration_ms(const unsigned char* head, int got, uint64_t frame_at, const MpegFrame* f, uint64_t audio_end) {
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

// Where a FLAC stream would begin after the ID3v2 tag the file starts with, as some taggers
// write it: where the tag's header says the tag ends, however else the header is broken.
// 0 when the file does not start with a tag.
static uint64_t flac_after_tag(const TagSource* source) {
    unsigned char h[10];
    if (source->read(source->context, 0, h, 10) != 10 || memcmp(h, "ID3", 3)) return 0;
    uint64_t start = 10 + ((uint64_t)(h[6] & 0x7F) << 21 | (h[7] & 0x7F) << 14 | (h[8] & 0x7F) << 7 | (h[9] & 0x7F));
    return start + (h[5] & 0x10 ? 10 : 0);  // a footer
}

int tags_read_mp3(const TagSource* source, TrackTags* out) {
    // Looked for where the tag ends once the tag is read: the reading goes on from there.
    uint64_t flac_at = flac_after_tag(source);
    uint64_t audio_start = 0;
    int tagged = 0;
    for (int i = 0; i < MAX_LEADING_TAGS; i++) {
        uint64_t whole = tags_read_id3v2(source, audio_start, source->size - audio_start, out);
        if (!whole) break;
        tagged = 1;
        audio_start += whole;
        if (audio_start >= source->size) break;
    }
    unsigned char magic[4];
    if (flac_at && flac_at < source->size && source->size - flac_at >= 4 &&
        source->read(source->context, flac_at, magic, 4) == 4 && !memcmp(magic, "fLaC", 4))
        return 0;
    // The first frame and its header lie near the tags just read, ID3v1 at the other end of
    // the file: read in this order, the file's first block is read once. The search keeps
    // clear of the last 128 bytes unless the audio is short, and is then made again.
    MpegFrame first = {};
    int64_t frame_at = mpeg_find_first_frame(source, audio_start, source->size, &first);
    unsigned char head[256];
    int got = 0;
    if (frame_at >= 0) {
        uint64_t room = source->size - (uint64_t)frame_at;
        got = source->read(source->context, (uint64_t)frame_at, head, room < sizeof head ? (int)room : (int)sizeof head);
    }
    int has_v1 = id3v1_read(source, out);
    uint64_t audio_end = source->size - (has_v1 ? 128 : 0);
    if (has_v1 && (audio_start >= audio_end || audio_end - audio_start < FRAME_SEARCH_REACH + 128)) {
        frame_at = mpeg_find_first_frame(source, audio_start, audio_end, &first);
        got = frame_at >= 0 ? source->read(source->context, (uint64_t)frame_at, head, (int)sizeof head) : 0;
    }
    if (frame_at >= 0) {
        if ((uint64_t)got > audio_end - (uint64_t)frame_at) got = (int)(audio_end - (uint64_t)frame_at);
        out->duration_ms = mpeg_duration_ms(head, got, (uint64_t)frame_at, &first, audio_end);
    }
    return tagged || frame_at >= 0;
}

#include "library/tag_text.h"

#include <string.h>

#include "library/tags.h"

// Windows-1254 for 0x80..0x9F (0 where it has no character).
static const wchar_t CP1254_LOW[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0,      0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0,      0x0178,
};

static int is_control(wchar_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

// Appends c to out unless it is a control character; keeps one place for the terminator.
static void put(wchar_t* out, int capacity, int* n, wchar_t c) {
    if (*n < capacity - 1 && !is_control(c)) out[(*n)++] = c;
}

// Ends the text: no spaces at either end, no half of a surrogate pair at the end.
static int finish(wchar_t* out, int capacity, int n) {
    if (capacity <= 0) return 0;
    if (n > 0 && n >= capacity - 1 && out[n - 1] >= 0xD800 && out[n - 1] <= 0xDBFF) n--;
    while (n > 0 && (out[n - 1] == L' ' || out[n - 1] == 0x3000)) n--;
    int start = 0;
    while (start < n && out[start] == L' ') start++;
    if (start) memmove(out, out + start, (size_t)(n - start) * sizeof(wchar_t));
    n -= start;
    out[n] = 0;
    return n;
}

static int looks_like_1254(const unsigned char* bytes, int length) {
    static const unsigned char TURKISH_ONLY[] = {0xD0, 0xDD, 0xDE, 0xF0, 0xFD, 0xFE};
    static const unsigned char SHARED[] = {0xC7, 0xD6, 0xDC, 0xE7, 0xF6, 0xFC, 0xC2, 0xCE, 0xDB, 0xE2, 0xEE, 0xFB};
    int found = 0;
    for (int i = 0; i < length && bytes[i]; i++) {
        unsigned char b = bytes[i];
        if (b < 0xA0) continue;
        if (memchr(TURKISH_ONLY, b, sizeof TURKISH_ONLY)) found = 1;
        else if (!memchr(SHARED, b, sizeof SHARED)) return 0;
    }
    return found;
}

int tag_text_latin1(const unsigned char* bytes, int length, wchar_t* out, int capacity) {
    if (capacity <= 0) return 0;
    int turkish = looks_like_1254(bytes, length), n = 0;
    for (int i = 0; i < length && bytes[i]; i++) {
        unsigned char b = bytes[i];
        wchar_t c = b;
        if (b >= 0x80 && b < 0xA0) c = CP1254_LOW[b - 0x80];
        else if (turkish && b == 0xD0) c = 0x011E;  // Ğ
        else if (turkish && b == 0xDD) c = 0x0130;  // İ
        else if (turkish && b == 0xDE) c = 0x015E;  // Ş
        else if (turkish && b == 0xF0) c = 0x011F;  // ğ
        else if (turkish && b == 0xFD) c = 0x0131;  // ı
        else if (turkish && b == 0xFE) c = 0x015F;  // ş
        if (c) put(out, capacity, &n, c);
    }
    return finish(out, capacity, n);
}

int tag_text_utf8(const unsigned char* bytes, int length, wchar_t* out, int capacity) {
    if (capacity <= 0) return 0;
    int n = 0;
    for (int i = 0; i < length && bytes[i];) {
        unsigned char b = bytes[i];
        uint32_t c;
        int extra;
        if (b < 0x80) c = b, extra = 0;
        else if (b >= 0xC2 && b < 0xE0) c = b & 0x1F, extra = 1;
        else if (b >= 0xE0 && b < 0xF0) c = b & 0x0F, extra = 2;
        else if (b >= 0xF0 && b < 0xF5) c = b & 0x07, extra = 3;
        else c = 0xFFFD, extra = -1;
        i++;
        if (extra > 0) {
            int k = 0;
            for (; k < extra && i < length && (bytes[i] & 0xC0) == 0x80; k++, i++) c = c << 6 | (bytes[i] & 0x3F);
            // Short sequences, overlong forms, surrogates and values past U+10FFFF are broken.
            if (k < extra || (extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
                (c >= 0xD800 && c <= 0xDFFF))
                c = 0xFFFD;
        }
        if (c >= 0x10000) {
            if (n + 2 >= capacity) break;  // a pair is not split
            put(out, capacity, &n, (wchar_t)(0xD800 + ((c - 0x10000) >> 10)));
            put(out, capacity, &n, (wchar_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            put(out, capacity, &n, (wchar_t)c);
        }
    }
    return finish(out, capacity, n);
}

int tag_text_utf16(const unsigned char* bytes, int length, int big_endian, wchar_t* out, int capacity) {
    if (capacity <= 0) return 0;
    int i = 0, n = 0;
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) big_endian = 0, i = 2;
    else if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) big_endian = 1, i = 2;
    for (; i + 1 < length; i += 2) {
        wchar_t c = big_endian ? tag_be16(bytes + i) : tag_le16(bytes + i);
        if (!c) break;
        if (c >= 0xD800 && c <= 0xDBFF) {
            wchar_t low = i + 3 < length ? (big_endian ? tag_be16(bytes + i + 2) : tag_le16(bytes + i + 2)) : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                if (n + 2 >= capacity) break;
                put(out, capacity, &n, c);
                put(out, capacity, &n, low);
                i += 2;
                continue;
            }
            c = 0xFFFD;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        put(out, capacity, &n, c);
    }
    return finish(out, capacity, n);
}

int tag_text_id3(int encoding, const unsigned char* bytes, int length, wchar_t* out, int capacity) {
    switch (encoding) {
    case 0: return tag_text_latin1(bytes, length, out, capacity);
    case 1: return tag_text_utf16(bytes, length, 0, out, capacity);  // a missing mark: little-endian, as Windows writes
    case 2: return tag_text_utf16(bytes, length, 1, out, capacity);
    case 3: return tag_text_utf8(bytes, length, out, capacity);
    }
    if (capacity > 0) out[0] = 0;
    return 0;
}

int tag_leading_number(const wchar_t* text) {
    while (*text == L' ') text++;
    int value = 0, digits = 0;
    for (; *text >= L'0' && *text <= L'9' && digits < 9; text++, digits++) value = value * 10 + (*text - L'0');
    return value > 9999 ? 0 : value;
}

int tag_year(const wchar_t* text) {
    while (*text == L' ') text++;
    int value = 0;
    for (int i = 0; i < 4; i++) {
        if (text[i] < L'0' || text[i] > L'9') return 0;
        value = value * 10 + (text[i] - L'0');
    }
    return value;
}

// Whether the field at p (length bytes) is "key=..." without regard to ASCII case; the
// value's start then goes to *value.
static int field_is(const unsigned char* p, uint32_t length, const char* key, const unsigned char** value) {
    size_t k = strlen(key);
    if (length <= k || p[k] != '=') return 0;
    for (size_t i = 0; i < k; i++) {
        unsigned char c = p[i];
        if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 32);
        if (c != (unsigned char)key[i]) return 0;
    }
    *value = p + k + 1;
    return 1;
}

int tags_vorbis_comments(const unsigned char* block, uint32_t length, TrackTags* out) {
    if (length < 8) return 0;
    uint32_t vendor = tag_le32(block);
    if (vendor > length - 8) return 0;
    uint32_t at = 4 + vendor;
    uint32_t count = tag_le32(block + at);
    at += 4;
    for (uint32_t i = 0; i < count; i++) {
        if (length - at < 4) return 0;
        uint32_t size = tag_le32(block + at);
        at += 4;
        if (size > length - at) return 0;
        const unsigned char* field = block + at;
        const unsigned char* value;
        wchar_t number[16];
        int value_length;
        struct { const char* key; wchar_t* text; } texts[] = {
            {"TITLE", out->title}, {"ARTIST", out->artist}, {"ALBUM", out->album},
            {"ALBUMARTIST", out->album_artist}, {"ALBUM ARTIST", out->album_artist},
        };
        int taken = 0;
        for (auto& t : texts) {
            if (!taken && field_is(field, size, t.key, &value)) {
                taken = 1;
                value_length = (int)(size - (uint32_t)(value - field));
                if (!t.text[0]) tag_text_utf8(value, value_length, t.text, TAG_TEXT_CAPACITY);
            }
        }
        if (!taken && field_is(field, size, "TRACKNUMBER", &value) && !out->track) {
            tag_text_utf8(value, (int)(size - (uint32_t)(value - field)), number, 16);
            out->track = tag_leading_number(number);
        } else if (!taken && field_is(field, size, "DISCNUMBER", &value) && !out->disc) {
            tag_text_utf8(value, (int)(size - (uint32_t)(value - field)), number, 16);
            out->disc = tag_leading_number(number);
        } else if (!taken && field_is(field, size, "DATE", &value) && !out->year) {
            tag_text_utf8(value, (int)(size - (uint32_t)(value - field)), number, 16);
            out->year = tag_year(number);
        }
        at += size;
    }
    return 1;
}

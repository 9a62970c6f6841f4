// The text of identity.tag and friends.json, read and written without touching the disk.
//
// friends.json is read by searching, not by a JSON parse, so that the files of earlier
// installations, which wrote values without any escaping, read as they always did. The
// search steps over quoted text, so that braces, brackets, colons and quotes in a name
// never end an entry or a list early.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "base/wstr.h"
#include "social/identity.h"
#include "social/signing.h"

// Room for one value in UTF-8: more than the longest kept text needs.
enum { VALUE_BYTES_MAX = 512 };

static const wchar_t OFFLINE_TEXT[] = L"\u00c7evrimd\u0131\u015f\u0131";

static int is_utf8_continuation(char c) { return ((unsigned char)c & 0xC0) == 0x80; }

// How many of the first length bytes of text to keep so that at most limit remain and no
// character is cut in two.
static int utf8_cut(const char* text, int length, int limit) {
    if (length <= limit) return length;
    int n = limit;
    while (n > 0 && is_utf8_continuation(text[n])) n--;
    return n;
}

// Returns 1 when the text had to be cut to fit capacity.
static int utf8_to_wide(const char* text, int length, wchar_t* out, int capacity) {
    wchar_t wide[VALUE_BYTES_MAX + 1];
    int w = length > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, length, wide, VALUE_BYTES_MAX) : 0;
    if (w <= 0) {
        out[0] = 0;
        return 0;
    }
    wstr_copy_n(out, capacity, wide, w);
    return w > capacity - 1;
}

//~ identity.tag

// The line that starts at p, at most room bytes, cut at its first CR or LF.
static int line_length(const char* p, const char* end, int room) {
    int n = 0;
    while (p + n < end && n < room && p[n] != '\r' && p[n] != '\n') n++;
    return n;
}

void identity_tag_parse(const char* text, int length, IdentityTagFile* out) {
    *out = IdentityTagFile{};
    if (!text || length <= 0) return;
    const char* end = text + length;
    int first = line_length(text, end, 62);
    if (first == 0 || text[0] < '0' || text[0] > '9') return;
    out->valid = 1;
    int digits = 0;
    while (digits < first && digits < IDENTITY_NUMBER_CAPACITY - 1 && text[digits] >= '0' && text[digits] <= '9')
        out->number[digits] = (wchar_t)text[digits], digits++;
    const char* newline = (const char*)memchr(text, '\n', (size_t)length);
    if (!newline) return;
    const char* second = newline + 1;
    int n = line_length(second, end, 127);
    utf8_to_wide(second, utf8_cut(second, n, 126), out->name, IDENTITY_NAME_CAPACITY);
}

static int to_utf8(const wchar_t* text, char* out, int capacity) {
    int n = text[0] ? WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, nullptr, nullptr) : 0;
    if (n <= 0) n = 1;
    out[n - 1] = 0;
    return n - 1;
}

int identity_tag_format(const Identity* id, char* out, int capacity) {
    char number[64], name[256], tag[128];
    to_utf8(id->number, number, sizeof(number));
    to_utf8(id->name, name, sizeof(name));
    to_utf8(id->tag, tag, sizeof(tag));
    int n = snprintf(out, (size_t)capacity, "%s\n%s\n%s\n", number, name, tag);
    return n < 0 || n >= capacity ? -1 : n;
}

//~ Reading friends.json

// How quoted text is read. Files that carry the format mark escape '"', '\' and control
// characters as JSON does. Files without it come from installations that wrote values as
// they were: there a backslash is an ordinary character, and a quote ends the text only
// where the file's structure goes on after it, so that a received name with a quote or a
// closing backslash in it stays one value.
//
// whole is cleared when the store will not hold everything the file held: the next save
// would then lose part of it.
struct Reader {
    int escaped;
    int whole;
};

// Whether the quote at q closes a value in a file without escapes: after spaces or tabs
// comes ',', ':', '}', ']', a line break or the end of the text.
static int ends_plain_text(const char* q, const char* end) {
    const char* p = q + 1;
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    return p == end || *p == ',' || *p == ':' || *p == '}' || *p == ']' || *p == '\r' || *p == '\n';
}

// Just past the closing quote of the quoted text that starts at q, or null when it is not
// closed before end.
static const char* skip_quoted(const Reader* r, const char* q, const char* end) {
    for (const char* p = q + 1; p < end; p++) {
        if (r->escaped && *p == '\\') p++;
        else if (*p == '"' && (r->escaped || ends_plain_text(p, end))) return p + 1;
    }
    return nullptr;
}

// The first c at or after p that is not inside quoted text, or null.
static const char* find_outside(const Reader* r, const char* p, const char* end, char c) {
    while (p < end) {
        if (*p == c) return p;
        p = *p == '"' ? skip_quoted(r, p, end) : p + 1;
        if (!p) return nullptr;
    }
    return nullptr;
}

// Just past the colon after the quoted key, or null. A quoted word not followed by a colon
// is a value, even when it spells the key.
static const char* find_key(const Reader* r, const char* p, const char* end, const char* key) {
    size_t key_length = strlen(key);
    while ((p = find_outside(r, p, end, '"')) != nullptr) {
        const char* after = skip_quoted(r, p, end);
        if (!after) return nullptr;
        int matches = (size_t)(after - p) == key_length + 2 && memcmp(p + 1, key, key_length) == 0;
        p = after;
        if (!matches) continue;
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) p++;
        if (p < end && *p == ':') return p + 1;
    }
    return nullptr;
}

static int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of the four hex digits at p, or -1 when end comes first or one is not a digit.
static int hex4(const char* p, const char* end) {
    if (end - p < 4) return -1;
    int value = 0;
    for (int i = 0; i < 4; i++) {
        int d = hex_digit(p[i]);
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

static int put_utf8(unsigned code, char* out) {
    if (code < 0x80) return out[0] = (char)code, 1;
    if (code < 0x800) return out[0] = (char)(0xC0 | code >> 6), out[1] = (char)(0x80 | (code & 0x3F)), 2;
    if (code < 0x10000) {
        out[0] = (char)(0xE0 | code >> 12);
        out[1] = (char)(0x80 | (code >> 6 & 0x3F));
        out[2] = (char)(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | code >> 18);
    out[1] = (char)(0x80 | (code >> 12 & 0x3F));
    out[2] = (char)(0x80 | (code >> 6 & 0x3F));
    out[3] = (char)(0x80 | (code & 0x3F));
    return 4;
}

// Decodes the escape whose backslash is at p into bytes; returns how many bytes of the text
// it took (at least 2).
static int decode_escape(const char* p, const char* end, char* bytes, int* n) {
    char c = p[1];
    static const char SIMPLE[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
    for (int i = 0; SIMPLE[i]; i += 2)
        if (c == SIMPLE[i]) return bytes[(*n)++] = SIMPLE[i + 1], 2;
    if (c != 'u') return bytes[(*n)++] = c, 2;
    int code = hex4(p + 2, end);
    if (code < 0) return 2;
    int taken = 6;
    if (code >= 0xD800 && code <= 0xDBFF) {
        int low = p + 7 < end && p[6] == '\\' && p[7] == 'u' ? hex4(p + 8, end) : -1;
        if (low >= 0xDC00 && low <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            taken = 12;
        } else {
            code = 0xFFFD;
        }
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
        code = 0xFFFD;
    }
    if (code != 0) *n += put_utf8((unsigned)code, bytes + *n);  // a NUL would end the value
    return taken;
}

// The quoted text at q, unescaped and converted; returns just past it (end when unclosed,
// which gives an empty value and a file that is not whole). A value longer than capacity is
// cut, and the file is not whole either.
static const char* read_quoted(Reader* r, const char* q, const char* end, wchar_t* out, int capacity) {
    out[0] = 0;
    const char* after = skip_quoted(r, q, end);
    if (!after) {
        r->whole = 0;
        return end;
    }
    // Room for the longest escape's bytes past the limit, so that a cut is seen.
    char bytes[VALUE_BYTES_MAX + 8];
    int n = 0;
    const char* p = q + 1;
    while (p < after - 1 && n <= VALUE_BYTES_MAX) {
        if (r->escaped && *p == '\\') p += decode_escape(p, after - 1, bytes, &n);
        else bytes[n++] = *p++;
    }
    if (p < after - 1 || n > VALUE_BYTES_MAX) r->whole = 0;
    int kept = utf8_cut(bytes, n, VALUE_BYTES_MAX);
    if (utf8_to_wide(bytes, kept, out, capacity)) r->whole = 0;
    return after;
}

// The value of key between p and end: the quoted text after the key's colon. Returns 0
// when the key is not there.
static int read_value(Reader* r, const char* p, const char* end, const char* key, wchar_t* out, int capacity) {
    out[0] = 0;
    const char* colon = find_key(r, p, end, key);
    if (!colon) return 0;
    const char* quote = find_outside(r, colon, end, '"');
    if (quote) read_quoted(r, quote, end, out, capacity);
    return 1;
}

// The list after key: from just past its '[' to its ']', or to the end of a cut file, whose
// whole entries still count. Returns 0 when there is none.
static int find_list(Reader* r, const char* text, const char* end, const char* key, const char** first,
                     const char** last) {
    const char* colon = find_key(r, text, end, key);
    if (!colon) return 0;
    const char* open = find_outside(r, colon, end, '[');
    if (!open) {
        r->whole = 0;
        return 0;
    }
    const char* close = find_outside(r, open + 1, end, ']');
    if (!close) r->whole = 0;
    *first = open + 1;
    *last = close ? close : end;
    return 1;
}

// What a friend's entry keeps besides tag and name; older readers skip all of it.
struct EntryTrust {
    char key[88];
    int key_checked;
    long long signed_ms, room_signed_ms;
};

// A stored send time: 1 to 18 digits, else 0 (nothing accepted yet).
static long long stored_time(const wchar_t* text) {
    long long value = 0;
    int n = 0;
    for (; text[n] >= L'0' && text[n] <= L'9' && n < 18; n++) value = value * 10 + (text[n] - L'0');
    return text[n] ? 0 : value;
}

// Calls take(tag, name, trust) for each entry of the list after key; stops when take returns
// 0 (the list is full: whatever follows is not kept).
template <typename Take>
static void read_entries(Reader* r, const char* text, const char* end, const char* key, Take take) {
    const char *p, *last;
    if (!find_list(r, text, end, key, &p, &last)) return;
    const char* open;
    while ((open = find_outside(r, p, last, '{')) != nullptr) {
        const char* close = find_outside(r, open + 1, last, '}');
        if (!close) {
            r->whole = 0;
            return;
        }
        wchar_t tag[USER_TAG_CAPACITY], name[IDENTITY_NAME_CAPACITY], key_text[88], number[24];
        read_value(r, open + 1, close, "tag", tag, USER_TAG_CAPACITY);
        read_value(r, open + 1, close, "name", name, IDENTITY_NAME_CAPACITY);
        read_value(r, open + 1, close, "key", key_text, 88);
        EntryTrust trust = {};
        char* key = trust.key;
        number[0] = 0;
        read_value(r, open + 1, close, "key_checked", number, 24);
        trust.key_checked = number[0] == L'1' && !number[1];
        number[0] = 0;
        read_value(r, open + 1, close, "signed_at", number, 24);
        trust.signed_ms = stored_time(number);
        number[0] = 0;
        read_value(r, open + 1, close, "room_signed_at", number, 24);
        trust.room_signed_ms = stored_time(number);
        // A key is 86 base64url characters; anything else is not kept, and the file is then
        // not whole (saving would lose it).
        if (key_text[0]) {
            int n = 0;
            while (key_text[n] && n < 86 && key_text[n] < 128) key[n] = (char)key_text[n], n++;
            key[n] = 0;
            unsigned char point[SIGNING_KEY_BYTES];
            if (key_text[n] || base64url_decode(key, n, point, SIGNING_KEY_BYTES) != SIGNING_KEY_BYTES) {
                key[0] = 0;
                r->whole = 0;
            }
        }
        p = close + 1;
        if (!tag[0]) {
            r->whole = 0;
            continue;
        }
        if (!name[0]) wstr_copy(name, tag);
        if (!key[0]) trust.key_checked = 0;
        if (!take(tag, name, &trust)) {
            r->whole = 0;
            return;
        }
    }
}

static const char* skip_space_back(const char* text, const char* p) {
    while (p > text && (p[-1] == ' ' || p[-1] == '\t' || p[-1] == '\r' || p[-1] == '\n')) p--;
    return p;
}

// Whether the file carries the format mark: "format" with a number of at least 2 as the last
// member of the object, where the writer puts it. Only a writer's own text stands there;
// whatever quotes or backslashes a value holds, it ends before, so no value can fake or
// hide the mark.
static int has_format_mark(const char* text, const char* end) {
    const char* p = skip_space_back(text, end);
    if (p == text || *--p != '}') return 0;
    p = skip_space_back(text, p);
    const char* digits_end = p;
    while (p > text && p[-1] >= '0' && p[-1] <= '9') p--;
    if (p == digits_end) return 0;
    int version = 0;
    for (const char* d = p; d < digits_end && version < 1000; d++) version = version * 10 + (*d - '0');
    p = skip_space_back(text, p);
    if (p == text || *--p != ':') return 0;
    p = skip_space_back(text, p);
    static const char KEY[] = "\"format\"";
    const int key_length = (int)sizeof(KEY) - 1;
    if (p - text < key_length || memcmp(p - key_length, KEY, key_length) != 0) return 0;
    p = skip_space_back(text, p - key_length);
    return version >= 2 && p > text && (p[-1] == ',' || p[-1] == '{');
}

// Whether the text ends with the object's closing brace, outside quoted text: a file cut
// anywhere before its end does not.
static int object_closed(const Reader* r, const char* text, const char* end) {
    char last = 0;
    for (const char* p = text; p < end;) {
        if (*p == '"') {
            p = skip_quoted(r, p, end);
            if (!p) return 0;
            last = '"';
            continue;
        }
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') last = *p;
        p++;
    }
    return last == '}';
}

int friends_json_parse(const char* text, int length, Identity* id, FriendStore* store) {
    *id = Identity{};
    store->friend_count = store->pending_count = store->sent_count = 0;
    if (!text || length <= 0) return 0;
    const char* end = text + length;
    Reader r = {has_format_mark(text, end), 1};
    if (!object_closed(&r, text, end)) r.whole = 0;
    read_value(&r, text, end, "my_tag", id->tag, USER_TAG_CAPACITY);
    read_value(&r, text, end, "my_name", id->name, IDENTITY_NAME_CAPACITY);
    read_entries(&r, text, end, "friends", [&](const wchar_t* tag, const wchar_t* name, const EntryTrust* trust) {
        if (store->friend_count >= FRIENDS_MAX) return 0;
        FriendEntry* f = &store->friends[store->friend_count++];
        *f = FriendEntry{};
        wstr_copy(f->tag, tag);
        wstr_copy(f->name, name);
        memcpy(f->key, trust->key, strlen(trust->key) + 1);  // at most 86 characters
        f->key_checked = trust->key_checked;
        f->last_signed_ms = trust->signed_ms;
        f->last_room_signed_ms = trust->room_signed_ms;
        wstr_copy(f->status_text, OFFLINE_TEXT);
        return 1;
    });
    read_entries(&r, text, end, "pending", [&](const wchar_t* tag, const wchar_t* name, const EntryTrust*) {
        if (store->pending_count >= PENDING_MAX) return 0;
        PendingEntry* e = &store->pending[store->pending_count++];
        wstr_copy(e->tag, tag);
        wstr_copy(e->name, name);
        return 1;
    });
    const char *p, *last;
    if (!find_list(&r, text, end, "sent", &p, &last)) return r.whole;
    const char* quote;
    while ((quote = find_outside(&r, p, last, '"')) != nullptr) {
        if (store->sent_count >= SENT_REQUESTS_MAX) {
            r.whole = 0;
            break;
        }
        wchar_t* sent = store->sent[store->sent_count];
        p = read_quoted(&r, quote, last, sent, USER_TAG_CAPACITY);
        if (sent[0]) store->sent_count++;
    }
    return r.whole;
}

//~ Writing friends.json

struct JsonOut {
    char* text;
    int capacity;
    int length;  // -1 once something did not fit
};

static void put(JsonOut* o, const char* s, int n) {
    if (o->length < 0) return;
    if (n > o->capacity - 1 - o->length) {
        o->length = -1;
        return;
    }
    memcpy(o->text + o->length, s, (size_t)n);
    o->length += n;
    o->text[o->length] = 0;
}

static void put_text(JsonOut* o, const char* s) { put(o, s, (int)strlen(s)); }

// A value in quotes, escaped as JSON escapes it. Everything else goes as UTF-8, so that a
// value without these characters reads the same to installations that know no escapes.
static void put_value(JsonOut* o, const wchar_t* value) {
    char utf8[VALUE_BYTES_MAX];
    int n = to_utf8(value, utf8, sizeof(utf8));
    put(o, "\"", 1);
    for (int i = 0; i < n; i++) {
        unsigned char c = (unsigned char)utf8[i];
        if (c == '"' || c == '\\') {
            char pair[2] = {'\\', (char)c};
            put(o, pair, 2);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof(escape), "\\u%04x", c);
            put(o, escape, 6);
        } else {
            put(o, utf8 + i, 1);
        }
    }
    put(o, "\"", 1);
}

// A pinned key and what goes with it stay inside the entry's braces, where a reader that
// does not know them skips them.
static void put_entry(JsonOut* o, const wchar_t* tag, const wchar_t* name, const FriendEntry* f, int last) {
    put_text(o, "    { \"tag\": ");
    put_value(o, tag);
    put_text(o, ", \"name\": ");
    put_value(o, name);
    if (f && f->key[0]) {
        put_text(o, ", \"key\": \"");
        put_text(o, f->key);  // base64url: nothing to escape
        put_text(o, "\"");
        if (f->key_checked) put_text(o, ", \"key_checked\": \"1\"");
        char number[64];
        if (f->last_signed_ms > 0) {
            snprintf(number, sizeof number, ", \"signed_at\": \"%lld\"", f->last_signed_ms);
            put_text(o, number);
        }
        if (f->last_room_signed_ms > 0) {
            snprintf(number, sizeof number, ", \"room_signed_at\": \"%lld\"", f->last_room_signed_ms);
            put_text(o, number);
        }
    }
    put_text(o, last ? " }\n" : " },\n");
}

int friends_json_format(const Identity* id, const FriendStore* store, char* out, int capacity) {
    if (capacity <= 0) return -1;
    JsonOut o = {out, capacity, 0};
    out[0] = 0;
    put_text(&o, "{\n  \"my_tag\": ");
    put_value(&o, id->tag);
    put_text(&o, ",\n  \"my_name\": ");
    put_value(&o, id->name);
    put_text(&o, ",\n  \"friends\": [\n");
    for (int i = 0; i < store->friend_count; i++)
        put_entry(&o, store->friends[i].tag, store->friends[i].name, &store->friends[i], i == store->friend_count - 1);
    put_text(&o, "  ],\n  \"pending\": [\n");
    for (int i = 0; i < store->pending_count; i++)
        put_entry(&o, store->pending[i].tag, store->pending[i].name, nullptr, i == store->pending_count - 1);
    put_text(&o, "  ]");
    // After the lists, and the list of sent requests only when there is one, so that a
    // reader which knows neither key still finds every list where it always did.
    if (store->sent_count > 0) {
        put_text(&o, ",\n  \"sent\": [");
        for (int i = 0; i < store->sent_count; i++) {
            put_text(&o, i ? ", " : " ");
            put_value(&o, store->sent[i]);
        }
        put_text(&o, " ]");
    }
    put_text(&o, ",\n  \"format\": 2\n}\n");
    return o.length;
}

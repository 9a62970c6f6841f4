// The text of identity.tag and friends.json, read and written without touching the disk.
//
// friends.json is read by searching, not by a JSON parse, so that the files of earlier
// installations (which wrote values without any escaping) read as they always did. The
// search steps over quoted text, so that braces, brackets, colons and escaped quotes in a
// name never end an entry or a list early.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "base/wstr.h"
#include "social/identity.h"

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

static void utf8_to_wide(const char* text, int length, wchar_t* out, int capacity) {
    wchar_t wide[VALUE_BYTES_MAX + 1];
    int w = length > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, length, wide, VALUE_BYTES_MAX) : 0;
    wstr_copy_n(out, capacity, wide, w);
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

// Just past the closing quote of the quoted text that starts at q, or null when it is not
// closed. \" and \\ are escapes; a backslash before anything else is itself.
static const char* skip_quoted(const char* q, const char* end) {
    for (const char* p = q + 1; p < end; p++) {
        if (*p == '\\' && p + 1 < end && (p[1] == '"' || p[1] == '\\')) p++;
        else if (*p == '"') return p + 1;
    }
    return nullptr;
}

// The first c at or after p that is not inside quoted text, or null.
static const char* find_outside(const char* p, const char* end, char c) {
    while (p < end) {
        if (*p == c) return p;
        p = *p == '"' ? skip_quoted(p, end) : p + 1;
        if (!p) return nullptr;
    }
    return nullptr;
}

// Just past the colon after the quoted key, or null. A quoted word not followed by a colon
// is a value, even when it spells the key.
static const char* find_key(const char* p, const char* end, const char* key) {
    size_t key_length = strlen(key);
    while ((p = find_outside(p, end, '"')) != nullptr) {
        const char* after = skip_quoted(p, end);
        if (!after) return nullptr;
        int matches = (size_t)(after - p) == key_length + 2 && memcmp(p + 1, key, key_length) == 0;
        p = after;
        if (!matches) continue;
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) p++;
        if (p < end && *p == ':') return p + 1;
    }
    return nullptr;
}

// The quoted text at q, unescaped and converted; returns just past it (end when unclosed,
// which gives an empty value).
static const char* read_quoted(const char* q, const char* end, wchar_t* out, int capacity) {
    out[0] = 0;
    const char* after = skip_quoted(q, end);
    if (!after) return end;
    char bytes[VALUE_BYTES_MAX + 4];
    int n = 0;
    for (const char* p = q + 1; p < after - 1 && n < VALUE_BYTES_MAX + 3; p++) {
        if (*p == '\\' && (p[1] == '"' || p[1] == '\\')) p++;
        bytes[n++] = *p;
    }
    utf8_to_wide(bytes, utf8_cut(bytes, n, VALUE_BYTES_MAX), out, capacity);
    return after;
}

// The value of key between p and end: the quoted text after the key's colon.
static void read_value(const char* p, const char* end, const char* key, wchar_t* out, int capacity) {
    out[0] = 0;
    const char* colon = find_key(p, end, key);
    const char* quote = colon ? find_outside(colon, end, '"') : nullptr;
    if (quote) read_quoted(quote, end, out, capacity);
}

// The list after key: from just past its '[' to its ']'. Returns 0 when there is none.
static int find_list(const char* text, const char* end, const char* key, const char** first, const char** last) {
    const char* colon = find_key(text, end, key);
    const char* open = colon ? find_outside(colon, end, '[') : nullptr;
    const char* close = open ? find_outside(open + 1, end, ']') : nullptr;
    if (!close) return 0;
    *first = open + 1;
    *last = close;
    return 1;
}

// Calls take(tag, name) for each entry of the list after key; stops when take returns 0.
template <typename Take>
static void read_entries(const char* text, const char* end, const char* key, Take take) {
    const char *p, *last;
    if (!find_list(text, end, key, &p, &last)) return;
    const char* open;
    while ((open = find_outside(p, last, '{')) != nullptr) {
        const char* close = find_outside(open + 1, last, '}');
        if (!close) return;
        wchar_t tag[USER_TAG_CAPACITY], name[IDENTITY_NAME_CAPACITY];
        read_value(open + 1, close, "tag", tag, USER_TAG_CAPACITY);
        read_value(open + 1, close, "name", name, IDENTITY_NAME_CAPACITY);
        p = close + 1;
        if (!tag[0]) continue;
        if (!name[0]) wstr_copy(name, tag);
        if (!take(tag, name)) return;
    }
}

void friends_json_parse(const char* text, int length, Identity* id, FriendStore* store) {
    *id = Identity{};
    store->friend_count = store->pending_count = store->sent_count = 0;
    if (!text || length <= 0) return;
    const char* end = text + length;
    read_value(text, end, "my_tag", id->tag, USER_TAG_CAPACITY);
    read_value(text, end, "my_name", id->name, IDENTITY_NAME_CAPACITY);
    read_entries(text, end, "friends", [&](const wchar_t* tag, const wchar_t* name) {
        if (store->friend_count >= FRIENDS_MAX) return 0;
        FriendEntry* f = &store->friends[store->friend_count++];
        *f = FriendEntry{};
        wstr_copy(f->tag, tag);
        wstr_copy(f->name, name);
        wstr_copy(f->status_text, OFFLINE_TEXT);
        return 1;
    });
    read_entries(text, end, "pending", [&](const wchar_t* tag, const wchar_t* name) {
        if (store->pending_count >= PENDING_MAX) return 0;
        PendingEntry* e = &store->pending[store->pending_count++];
        wstr_copy(e->tag, tag);
        wstr_copy(e->name, name);
        return 1;
    });
    const char *p, *last;
    if (!find_list(text, end, "sent", &p, &last)) return;
    const char* quote;
    while (store->sent_count < SENT_REQUESTS_MAX && (quote = find_outside(p, last, '"')) != nullptr) {
        wchar_t* sent = store->sent[store->sent_count];
        p = read_quoted(quote, last, sent, USER_TAG_CAPACITY);
        if (sent[0]) store->sent_count++;
    }
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

// A value in quotes, with '"' and '\' escaped.
static void put_value(JsonOut* o, const wchar_t* value) {
    char utf8[VALUE_BYTES_MAX];
    int n = to_utf8(value, utf8, sizeof(utf8));
    put(o, "\"", 1);
    for (int i = 0; i < n; i++) {
        if (utf8[i] == '"' || utf8[i] == '\\') put(o, "\\", 1);
        put(o, utf8 + i, 1);
    }
    put(o, "\"", 1);
}

static void put_entry(JsonOut* o, const wchar_t* tag, const wchar_t* name, int last) {
    put_text(o, "    { \"tag\": ");
    put_value(o, tag);
    put_text(o, ", \"name\": ");
    put_value(o, name);
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
        put_entry(&o, store->friends[i].tag, store->friends[i].name, i == store->friend_count - 1);
    put_text(&o, "  ],\n  \"pending\": [\n");
    for (int i = 0; i < store->pending_count; i++)
        put_entry(&o, store->pending[i].tag, store->pending[i].name, i == store->pending_count - 1);
    // Written last, and only when there is something, so that a reader which does not
    // know the key still finds every list where it always did.
    if (store->sent_count > 0) {
        put_text(&o, "  ],\n  \"sent\": [");
        for (int i = 0; i < store->sent_count; i++) {
            put_text(&o, i ? ", " : " ");
            put_value(&o, store->sent[i]);
        }
        put_text(&o, " ]\n}\n");
    } else {
        put_text(&o, "  ]\n}\n");
    }
    return o.length;
}

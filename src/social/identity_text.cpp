// Tags, display names and the cleaning of what other users send: pure text functions.
#include <windows.h>

#include "base/wstr.h"
#include "social/identity.h"

static int is_ascii_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int tag_number(const wchar_t* tag, wchar_t* buffer, int size) {
    if (size <= 0) return 0;
    buffer[0] = 0;
    if (!tag) return 0;
    const wchar_t* p = wcschr(tag, L'#');
    p = p ? p + 1 : tag;
    while (*p && !is_ascii_digit(*p)) p++;
    int n = 0;
    while (is_ascii_digit(*p) && n < size - 1) buffer[n++] = *p++;
    buffer[n] = 0;
    return n;
}

static char slug_char(wchar_t c) {
    switch (c) {
    case L'C': case L'c': case 0x00C7: case 0x00E7: return 'c';
    case L'G': case L'g': case 0x011E: case 0x011F: return 'g';
    case L'I': case L'i': case 0x0130: case 0x0131: return 'i';
    case L'O': case L'o': case 0x00D6: case 0x00F6: return 'o';
    case L'S': case L's': case 0x015E: case 0x015F: return 's';
    case L'U': case L'u': case 0x00DC: case 0x00FC: return 'u';
    }
    if (c >= L'A' && c <= L'Z') return (char)(c - L'A' + 'a');
    if ((c >= L'a' && c <= L'z') || is_ascii_digit(c) || c == L'-') return (char)c;
    return '_';
}

int tag_slug(const wchar_t* tag, char* buffer, int size) {
    if (size <= 0) return 0;
    int n = 0;
    for (const wchar_t* p = tag ? tag : L""; *p && n < size - 1; p++) {
        buffer[n++] = slug_char(*p);
        // A character outside the basic plane is one character, so one '_'.
        if (wstr_is_high_surrogate(p[0]) && p[1] >= 0xDC00 && p[1] <= 0xDFFF) p++;
    }
    buffer[n] = 0;
    return n;
}

int same_user(const wchar_t* a, const wchar_t* b) {
    if (!a || !b || !a[0] || !b[0]) return 0;
    wchar_t na[16], nb[16];
    int la = tag_number(a, na, 16), lb = tag_number(b, nb, 16);
    // Numbers of one or two digits are too common to name a user alone.
    if (la > 2 && lb > 2) return wcscmp(na, nb) == 0;
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The marks that change the direction of, or hide, the text drawn after them, and the
// characters that draw nothing at all, with which "Ve\u200Bli" would pass for "Veli".
static int is_invisible_mark(wchar_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2060 && c <= 0x2064) || c == 0x061C || c == 0xFEFF || c == 0x00AD;
}

static int is_control(wchar_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F); }

// The display-name rules; received names also lose control characters above U+001F and
// the invisible marks.
// Reads at most length characters of text (all of it when length is negative).
static int clean_name(const wchar_t* text, int length, wchar_t* out, int capacity, int received) {
    if (capacity <= 0) return 0;
    int limit = capacity - 1 < DISPLAY_NAME_KEPT ? capacity - 1 : DISPLAY_NAME_KEPT;
    int n = 0;
    const wchar_t* p = text ? text : L"";
    for (const wchar_t* end = length < 0 ? nullptr : p + length; *p && p != end && n < limit; p++) {
        wchar_t c = *p;
        if (c < 0x20 || c == L'"' || c == L'#' || c == L'\\' || c == L'|') continue;
        if (received && (is_control(c) || is_invisible_mark(c))) continue;
        if (c == L' ' && n == 0) continue;
        out[n++] = c;
    }
    // A pair cut in half by the limit loses its first half too.
    if (n > 0 && wstr_is_high_surrogate(out[n - 1])) n--;
    while (n > 0 && out[n - 1] == L' ') n--;
    out[n] = 0;
    return n;
}

int clean_display_name(const wchar_t* text, wchar_t* out, int capacity) { return clean_name(text, -1, out, capacity, 0); }

int clean_received_name(const wchar_t* text, wchar_t* out, int capacity) { return clean_name(text, -1, out, capacity, 1); }

int clean_received_tag(const wchar_t* text, wchar_t* out, int capacity) {
    if (capacity <= 0) return 0;
    out[0] = 0;
    if (!text) return 0;
    const wchar_t* hash = wcschr(text, L'#');
    if (!hash) return 0;
    const wchar_t* digits = hash + 1;
    int count = 0;
    while (is_ascii_digit(digits[count])) count++;
    if (count == 0 || count > IDENTITY_NUMBER_CAPACITY - 1 || digits[count]) return 0;
    wchar_t name[IDENTITY_NAME_CAPACITY];
    clean_name(text, (int)(hash - text), name, IDENTITY_NAME_CAPACITY, 1);
    int length = (int)wcslen(name) + 1 + count;
    if (length > capacity - 1) return 0;
    wstr_format(out, capacity, L"%ls#%ls", name, digits);
    return length;
}

int clean_received_text(const wchar_t* text, wchar_t* out, int capacity) {
    if (capacity <= 0) return 0;
    int n = 0;
    for (const wchar_t* p = text ? text : L""; *p && n < capacity - 1; p++)
        if (!is_control(*p) && !is_invisible_mark(*p)) out[n++] = *p;
    if (n > 0 && wstr_is_high_surrogate(out[n - 1])) n--;
    out[n] = 0;
    return n;
}

int clean_received_status(const wchar_t* text, wchar_t* out, int capacity) {
    return clean_received_text(text, out, capacity < STATUS_TEXT_CAPACITY ? capacity : STATUS_TEXT_CAPACITY);
}

void identity_number_from_machine(uint32_t volume_serial, const wchar_t* computer_name, wchar_t* out, int capacity) {
    uint32_t h = volume_serial ? volume_serial : 0x5E1100u;
    for (const wchar_t* p = computer_name ? computer_name : L""; *p; p++) h = h * 31u + (uint16_t)*p;
    wstr_format(out, capacity, L"%04u", (unsigned)(h % 9000u + 1000u));
}

void identity_name_from_user(const wchar_t* user_name, wchar_t* out, int capacity) {
    static const wchar_t FALLBACK[] = L"Kullanici";
    if (!clean_display_name(user_name && user_name[0] ? user_name : FALLBACK, out, capacity))
        wstr_copy(out, capacity, FALLBACK);
}

void identity_decide(const IdentityTagFile* tag_file, const Identity* friends_file, Identity* out) {
    *out = Identity{};
    int tag_file_valid = tag_file && tag_file->valid;
    if (friends_file) {
        wstr_copy(out->tag, friends_file->tag);
        // The name was cleaned when it was set; a damaged file must not give a name so long
        // that the number no longer fits in the tag.
        clean_display_name(friends_file->name, out->name, IDENTITY_NAME_CAPACITY);
        tag_number(out->tag, out->number, IDENTITY_NUMBER_CAPACITY);
        if (tag_file_valid) {
            // The number friends know this user by wins over the one identity.tag holds.
            if (!out->number[0]) wstr_copy(out->number, tag_file->number);
            if (!out->name[0]) clean_display_name(tag_file->name, out->name, IDENTITY_NAME_CAPACITY);
        }
        if (!out->name[0] && out->tag[0]) {
            const wchar_t* hash = wcschr(out->tag, L'#');
            clean_name(out->tag, hash ? (int)(hash - out->tag) : -1, out->name, IDENTITY_NAME_CAPACITY, 0);
        }
    } else if (tag_file_valid) {
        wstr_copy(out->number, tag_file->number);
        clean_display_name(tag_file->name, out->name, IDENTITY_NAME_CAPACITY);
    }
}

#include "library/text_case.h"

#include <windows.h>

// Titles are made for every file of the music folder, and most non-ASCII characters in
// them are Turkish or other Latin letters. Asking the system once for the whole block of
// Latin, Greek and Cyrillic letters gives the same answers as asking per character, at a
// fraction of the cost; characters above the block are asked one at a time.
enum { TABLE_FIRST = 0x80, TABLE_END = 0x500, TABLE_SIZE = TABLE_END - TABLE_FIRST };

struct CaseTables {
    wchar_t lower[TABLE_SIZE];
    wchar_t upper[TABLE_SIZE];
    WORD type[TABLE_SIZE];
};

// The system's Turkish casing of one character (LCMAP_LOWERCASE or LCMAP_UPPERCASE), with
// the locale-free conversion when the locale is not available.
static wchar_t system_case(wchar_t c, DWORD direction) {
    wchar_t out = c;
    if (LCMapStringW(TURKISH_LOCALE_ID, direction | LCMAP_LINGUISTIC_CASING, &c, 1, &out, 1) == 1) return out;
    out = c;
    if (direction == LCMAP_LOWERCASE) CharLowerBuffW(&out, 1);
    else CharUpperBuffW(&out, 1);
    return out;
}

static WORD system_type(wchar_t c) {
    WORD t = 0;
    if (!GetStringTypeW(CT_CTYPE1, &c, 1, &t)) t = 0;
    return t;
}

static CaseTables make_case_tables(void) {
    CaseTables t;
    for (int i = 0; i < TABLE_SIZE; i++) {
        wchar_t c = (wchar_t)(TABLE_FIRST + i);
        t.lower[i] = system_case(c, LCMAP_LOWERCASE);
        t.upper[i] = system_case(c, LCMAP_UPPERCASE);
        t.type[i] = system_type(c);
    }
    return t;
}

static const CaseTables& case_tables(void) {
    static const CaseTables tables = make_case_tables();  // built once, thread-safe
    return tables;
}

wchar_t turkish_lower_char(wchar_t c) {
    if (c <= 64 || (c >= 91 && c <= 127)) return c;
    if (c >= L'A' && c <= L'Z') return c == L'I' ? (wchar_t)0x0131 : (wchar_t)(c + 32);
    switch (c) {
    case 0x00C7: return 0x00E7;  // Ç
    case 0x00D6: return 0x00F6;  // Ö
    case 0x00DC: return 0x00FC;  // Ü
    case 0x011E: return 0x011F;  // Ğ
    case 0x0130: return L'i';    // İ
    case 0x015E: return 0x015F;  // Ş
    }
    if (c >= TABLE_FIRST && c < TABLE_END) return case_tables().lower[c - TABLE_FIRST];
    return system_case(c, LCMAP_LOWERCASE);
}

wchar_t turkish_upper_char(wchar_t c) {
    if (c >= L'a' && c <= L'z') return c == L'i' ? (wchar_t)0x0130 : (wchar_t)(c - 32);
    switch (c) {
    case 0x00E7: return 0x00C7;  // ç
    case 0x00F6: return 0x00D6;  // ö
    case 0x00FC: return 0x00DC;  // ü
    case 0x011F: return 0x011E;  // ğ
    case 0x0131: return L'I';    // ı
    case 0x015F: return 0x015E;  // ş
    }
    if (c <= 127) return c;
    if (c >= TABLE_FIRST && c < TABLE_END) return case_tables().upper[c - TABLE_FIRST];
    return system_case(c, LCMAP_UPPERCASE);
}

static WORD char_type(wchar_t c) {
    if (c >= TABLE_FIRST && c < TABLE_END) return case_tables().type[c - TABLE_FIRST];
    return system_type(c);
}

int char_is_upper_letter(wchar_t c) {
    if (c < 128) return c >= L'A' && c <= L'Z';
    switch (c) {
    case 0x00C7: case 0x00D6: case 0x00DC: case 0x011E: case 0x0130: case 0x015E: return 1;
    }
    return (char_type(c) & C1_UPPER) != 0;
}

int char_is_lower_letter(wchar_t c) {
    if (c < 128) return c >= L'a' && c <= L'z';
    switch (c) {
    case 0x00E7: case 0x00F6: case 0x00FC: case 0x011F: case 0x0131: case 0x015F: return 1;
    }
    return (char_type(c) & C1_LOWER) != 0;
}

int char_is_letter(wchar_t c) {
    if (c < 128) return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
    return (char_type(c) & C1_ALPHA) != 0;
}

int char_is_space(wchar_t c) {
    if (c < 128) return c == L' ' || (c >= 9 && c <= 13);
    return (char_type(c) & C1_SPACE) != 0;
}

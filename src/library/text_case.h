#pragma once
// Turkish-aware casing of single characters, and the system's character classes.
// Safe to call from any thread.
#include <wchar.h>

enum { TURKISH_LOCALE_ID = 1055 };

// "I" lowers to dotless "ı" and "İ" to "i"; ASCII punctuation and digits stay.
wchar_t turkish_lower_char(wchar_t c);
// "i" uppers to "İ" and "ı" to "I".
wchar_t turkish_upper_char(wchar_t c);

// Letter classes including the Turkish letters; outside ASCII the system decides.
int char_is_upper_letter(wchar_t c);
int char_is_lower_letter(wchar_t c);
int char_is_letter(wchar_t c);
int char_is_space(wchar_t c);

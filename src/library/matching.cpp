#include "library/matching.h"

#include <string.h>

#include "app/wstr.h"

static void trim_blanks(wchar_t* s) {
    int n = (int)wcslen(s);
    while (n > 0 && (s[n - 1] == L' ' || s[n - 1] == L'\t')) s[--n] = 0;
    int start = 0;
    while (s[start] == L' ' || s[start] == L'\t') start++;
    if (start) memmove(s, s + start, (size_t)(n - start + 1) * sizeof(wchar_t));
}

void split_artist_title(const wchar_t* text, wchar_t* artist, int artist_capacity, wchar_t* title,
                        int title_capacity) {
    if (artist && artist_capacity > 0) artist[0] = 0;
    if (title && title_capacity > 0) title[0] = 0;
    if (!text || !artist || !title || artist_capacity <= 0 || title_capacity <= 0) return;
    const wchar_t* dash = wcsstr(text, L" - ");
    if (dash && dash > text && dash[3]) {
        wstr_copy_n(artist, artist_capacity, text, (int)(dash - text));
        trim_blanks(artist);
        wstr_copy(title, title_capacity, dash + 3);
    } else {
        wstr_copy(title, title_capacity, text);
    }
    trim_blanks(title);
}

#include "library/display_title.h"

#include <windows.h>
#include <shlwapi.h>
#include <string.h>

#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/text_case.h"
#include "library/video_id.h"

//~ Word lists

// Sites that put their name in front of every file they serve.
static const wchar_t* const SITE_PREFIXES[] = {
    L"mp3indirdur-", L"mp3semti-", L"sarkiindir-", L"muzikindir-",
    L"indir-",       L"mp3indir-", L"tubidy-",     L"trendmp3-",
};

// Substrings that mark a bracketed group as noise rather than part of the title. The last
// four are the labels and producers whose names most often end up in Turkish video titles.
static const wchar_t* const JUNK_WORDS[] = {
    L"official", L"video",   L"audio",    L"lyrics", L"lyric", L"klip",
    L"visualizer", L"4k",    L"8k",       L"1080p",  L"720p",  L"orjinal",
    L"orijinal", L"netd",    L"dmc",      L"poll production",  L"pasaj",
};

// Removed wherever they stand, in this order (longer phrases before the ones they contain).
static const wchar_t* const JUNK_PHRASES[] = {
    L"Official Music Video", L"Official Video", L"Official Audio", L"Official Lyric Video",
    L"Music Video",          L"Video Klip",     L"Lyric Video",
    L"- Netd M\u00fczik",    L"- Seyhan M\u00fczik", L"- Esen M\u00fczik",
};

// Artists whose one-word name would otherwise be taken as half of a two-word artist in a
// hyphen-joined name ("tarkan-kuzu-kuzu" is Tarkan - Kuzu Kuzu, not Tarkan Kuzu - Kuzu).
static const wchar_t* const KNOWN_ARTISTS_ONE_WORD[] = {
    L"tarkan",  L"teoman",  L"gripin",  L"manga",    L"athena",  L"duman",   L"model",
    L"ezhel",   L"ceza",    L"hadise",  L"simge",    L"bengu",   L"gulsen",  L"sila",
    L"yalin",   L"edis",    L"kolpa",   L"adamlar",  L"kalben",  L"madrigal", L"murda",
    L"uzi",     L"reynmen", L"batuflex", L"blok3",   L"ati242",  L"no1",
};

static const wchar_t* const KNOWN_ARTISTS_THREE_WORDS[] = {
    L"mor ve otesi", L"buyuk ev ablukada", L"gaye su akyol",
};

static const wchar_t TRIM_SET[] = L" -_\t|\uFF5C";

// A hyphen-joined run of the 511-character work text has at most 256 words.
enum { MAX_HYPHEN_TOKENS = TITLE_WORK_CAPACITY / 2, TOKEN_CAPACITY = 128, JUNK_GROUP_MAX = 254 };

//~ Text helpers on the working buffer

// Case folding for the searches of this file: ASCII and the Turkish capitals with a
// one-to-one small letter. "I" folds to "i", as an English-minded search would expect.
static wchar_t fold(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return (wchar_t)(c + 32);
    switch (c) {
    case 0x00C7: return 0x00E7;
    case 0x00D6: return 0x00F6;
    case 0x00DC: return 0x00FC;
    case 0x011E: return 0x011F;
    case 0x015E: return 0x015F;
    case 0x0130: return L'i';
    }
    return c;
}

static int starts_with_nocase(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix; text++, prefix++)
        if (!*text || fold(*text) != fold(*prefix)) return 0;
    return 1;
}

static int equal_nocase(const wchar_t* a, const wchar_t* b) {
    return starts_with_nocase(a, b) && wcslen(a) == wcslen(b);
}

static wchar_t* find_nocase(wchar_t* text, const wchar_t* needle) {
    for (; *text; text++)
        if (starts_with_nocase(text, needle)) return text;
    return nullptr;
}

static void erase(wchar_t* at, int count) {
    size_t rest = wcslen(at + count);
    memmove(at, at + count, (rest + 1) * sizeof(wchar_t));
}

// Erases [at, end) from text. When that leaves the bracket group around it holding nothing
// but blanks, the group goes too, so that the title does not end in "()".
static void erase_with_emptied_group(wchar_t* text, wchar_t* at, wchar_t* end) {
    wchar_t* open = at;
    while (open > text && open[-1] == L' ') open--;
    wchar_t* close = end;
    while (*close == L' ') close++;
    if (open > text && ((open[-1] == L'(' && *close == L')') || (open[-1] == L'[' && *close == L']'))) {
        at = open - 1;
        end = close + 1;
    }
    erase(at, (int)(end - at));
}

static int in_set(wchar_t c, const wchar_t* set) {
    return c && wcschr(set, c) != nullptr;
}

static void trim(wchar_t* text, const wchar_t* set) {
    int len = (int)wcslen(text);
    while (len > 0 && in_set(text[len - 1], set)) len--;
    text[len] = 0;
    int start = 0;
    while (start < len && in_set(text[start], set)) start++;
    if (start) memmove(text, text + start, (size_t)(len - start + 1) * sizeof(wchar_t));
}

//~ Steps

static void strip_audio_extension(wchar_t* text) {
    wchar_t* ext = (wchar_t*)last_extension(text);
    if (ext && is_audio_extension(ext)) *ext = 0;
}

// Decomposed dotted capitals and look-alike slashes and bars come from titles typed on
// phones and from file systems that forbid the real characters.
static void repair_characters(wchar_t* text) {
    int r = 0, w = 0;
    for (; text[r]; r++) {
        wchar_t c = text[r];
        if ((c == L'I' || c == L'i') && text[r + 1] == 0x0307) {
            text[w++] = c == L'I' ? (wchar_t)0x0130 : L'i';
            r++;
        } else if (c == 0x29F8 || c == 0xFF0F) {
            text[w++] = L'/';
        } else if (c == 0xFF5C) {
            text[w++] = L'|';
        } else {
            text[w++] = c;
        }
    }
    text[w] = 0;
}

static void remove_site_prefix(wchar_t* text) {
    for (const wchar_t* prefix : SITE_PREFIXES) {
        if (starts_with_nocase(text, prefix)) {
            erase(text, (int)wcslen(prefix));
            return;
        }
    }
}

static int group_is_junk(const wchar_t* inner, int length, wchar_t opener) {
    if (is_video_id_group(inner, length, opener)) return 1;
    if (length == 0 || length > JUNK_GROUP_MAX) return 0;
    // Folded like every other search of this file, "I" to "i": the Turkish lower-casing
    // would turn "OFFICIAL" into "offıcıal" and miss it.
    wchar_t lowered[JUNK_GROUP_MAX + 1];
    for (int i = 0; i < length; i++) lowered[i] = fold(inner[i]);
    lowered[length] = 0;
    for (const wchar_t* word : JUNK_WORDS)
        if (wcsstr(lowered, word)) return 1;
    return 0;
}

void remove_junk_groups(wchar_t* text, wchar_t opener, wchar_t closer) {
    if (!text) return;
    int i = 0;
    while (text[i]) {
        if (text[i] != opener) {
            i++;
            continue;
        }
        wchar_t* close = wcschr(text + i + 1, closer);
        if (close && group_is_junk(text + i + 1, (int)(close - (text + i + 1)), opener)) {
            // Whatever moves into the opener's place is looked at again, so that
            // "(Official Video)(Lyrics)" loses both groups.
            erase(text + i, (int)(close - (text + i)) + 1);
            continue;
        }
        i++;
    }
}

// Whether at stands inside a bracket group: an opener before it that is not closed before
// it, and its closer after it.
static int inside_group(const wchar_t* text, const wchar_t* at) {
    for (const wchar_t* p = at; p > text;) {
        wchar_t c = *--p;
        if (c == L')' || c == L']') return 0;
        if (c == L'(') return wcschr(at, L')') != nullptr;
        if (c == L'[') return wcschr(at, L']') != nullptr;
    }
    return 0;
}

// A handle ends at a blank, a closing bracket or the end; outside brackets also at "(" or
// "-". Inside a group the closer ends it, so that a handle holding a hyphen,
// "(prod.@x-ray)", goes whole. A group left empty by the removal goes with it, so that the
// title does not end in a lone "(".
static void remove_producer_handles(wchar_t* text) {
    wchar_t* at;
    while ((at = find_nocase(text, L"prod.@")) != nullptr) {
        int grouped = inside_group(text, at);
        wchar_t* end = at;
        while (*end && *end != L' ' && *end != L')' && *end != L']' && (grouped || (*end != L'(' && *end != L'-')))
            end++;
        erase_with_emptied_group(text, at, end);
    }
}

static void remove_hashtags(wchar_t* text) {
    wchar_t* at;
    while ((at = wcschr(text, L'#')) != nullptr) {
        wchar_t* end = at;
        while (*end && *end != L' ') end++;
        erase(at, (int)(end - at));
    }
}

static void remove_junk_phrases(wchar_t* text) {
    for (const wchar_t* phrase : JUNK_PHRASES) {
        int length = (int)wcslen(phrase);
        wchar_t* at;
        while ((at = find_nocase(text, phrase)) != nullptr) erase_with_emptied_group(text, at, at + length);
    }
}

static void cut_lyrics_suffix(wchar_t* text) {
    int len = (int)wcslen(text);
    if (len > 7 && equal_nocase(text + len - 7, L" Lyrics")) text[len - 7] = 0;
}

// One word of a hyphen-joined run, as a place in the text.
struct Token {
    const wchar_t* at;
    int length;
};

static int token_all_digits(Token t) {
    if (t.length == 0) return 0;
    for (int i = 0; i < t.length; i++)
        if (t.at[i] < L'0' || t.at[i] > L'9') return 0;
    return 1;
}

// A word as the artist lists compare it: cut to 127 characters.
static void token_text(Token t, wchar_t* out) {
    wstr_copy_n(out, TOKEN_CAPACITY, t.at, t.length);
}

static int artist_token_count(const Token* tokens, int* count) {
    if (*count == 2) return 1;
    if (token_all_digits(tokens[*count - 1])) (*count)--;  // a trailing year or track number
    if (*count == 2) return 1;
    wchar_t a[TOKEN_CAPACITY], b[TOKEN_CAPACITY], c[TOKEN_CAPACITY];
    token_text(tokens[0], a);
    if (*count > 3) {
        token_text(tokens[1], b);
        token_text(tokens[2], c);
        wchar_t first_three[256];
        wstr_format(first_three, 256, L"%ls %ls %ls", a, b, c);
        for (const wchar_t* artist : KNOWN_ARTISTS_THREE_WORDS)
            if (equal_nocase(first_three, artist)) return 3;
    }
    for (const wchar_t* artist : KNOWN_ARTISTS_ONE_WORD)
        if (equal_nocase(a, artist)) return 1;
    return 2;
}

// "name-song-title" has no blanks to tell artist from song; the hyphens are split and the
// artist guessed from the token count and the known-artist lists. Every word is kept,
// however many there are.
static void split_hyphen_joined(wchar_t* text) {
    if (wcschr(text, L' ') || !wcschr(text, L'-')) return;
    wchar_t source[TITLE_WORK_CAPACITY];
    wstr_copy(source, text);
    Token tokens[MAX_HYPHEN_TOKENS];
    int count = 0;
    const wchar_t* p = source;
    while (*p && count < MAX_HYPHEN_TOKENS) {
        while (*p == L'-') p++;
        const wchar_t* start = p;
        while (*p && *p != L'-') p++;
        if (p > start) tokens[count++] = Token{start, (int)(p - start)};
    }
    if (count < 2) return;
    int artist = artist_token_count(tokens, &count);
    text[0] = 0;
    for (int i = 0; i < count; i++) {
        if (i == artist) wstr_append(text, TITLE_WORK_CAPACITY, L" - ");
        else if (i > 0) wstr_append(text, TITLE_WORK_CAPACITY, L" ");
        wchar_t word[TOKEN_CAPACITY];
        token_text(tokens[i], word);
        wstr_append(text, TITLE_WORK_CAPACITY, word);
    }
}

static void normalise_spacing(wchar_t* text) {
    wchar_t out[TITLE_WORK_CAPACITY];
    int w = 0;
    for (int r = 0; text[r] && w < TITLE_WORK_CAPACITY - 1; r++) {
        wchar_t c = text[r];
        if (c == L' ' || c == L'\t') {
            while (text[r + 1] == L' ' || text[r + 1] == L'\t') r++;
            if (w > 0 && (out[w - 1] == L'(' || out[w - 1] == L'[')) continue;
            out[w++] = L' ';
        } else if (c == L')' || c == L']') {
            if (w > 0 && out[w - 1] == L' ') w--;
            out[w++] = c;
            if (char_is_letter(text[r + 1]) && w < TITLE_WORK_CAPACITY - 1) out[w++] = L' ';
        } else {
            out[w++] = c;
        }
    }
    if (w == TITLE_WORK_CAPACITY - 1 && wstr_is_high_surrogate(out[w - 1])) w--;  // cut inside a pair
    out[w] = 0;
    memcpy(text, out, (size_t)(w + 1) * sizeof(wchar_t));
}

// All-lower-case names ("ışık - istanbul") are title-cased; a name with any capital is
// taken to be cased on purpose and left alone.
static void capitalise_if_all_lower(wchar_t* text) {
    int lower = 0;
    for (const wchar_t* p = text; *p; p++) {
        if (char_is_upper_letter(*p)) return;
        if (char_is_lower_letter(*p)) lower = 1;
    }
    if (!lower) return;
    int word_start = 1;
    for (wchar_t* p = text; *p; p++) {
        wchar_t c = *p;
        if (char_is_space(c) || c == L'(' || c == L'-' || c == L'[') {
            word_start = 1;
        } else if (word_start) {
            if (char_is_letter(c)) {
                *p = turkish_upper_char(c);
                word_start = 0;
            } else if (c >= L'0' && c <= L'9') {
                word_start = 0;
            }
        }
    }
}

void make_display_title(const wchar_t* name, wchar_t* out, int capacity) {
    if (!name || !name[0] || !out || capacity <= 0) return;
    wchar_t text[TITLE_WORK_CAPACITY];
    wstr_copy(text, name);
    strip_audio_extension(text);
    repair_characters(text);
    remove_site_prefix(text);
    trim(text, TRIM_SET);
    remove_junk_groups(text, L'(', L')');
    remove_junk_groups(text, L'[', L']');
    remove_producer_handles(text);
    remove_hashtags(text);
    if (wchar_t* bar = wcschr(text, L'|')) *bar = 0;
    if (wchar_t* sep = wcsstr(text, L" _ ")) *sep = 0;
    remove_junk_phrases(text);
    trim(text, TRIM_SET);
    cut_lyrics_suffix(text);
    split_hyphen_joined(text);
    normalise_spacing(text);
    trim(text, TRIM_SET);
    capitalise_if_all_lower(text);
    wstr_copy(out, capacity, text);
}

void make_path_display_title(const wchar_t* path, wchar_t* out, int capacity) {
    if (!path || !path[0]) return;
    make_display_title(PathFindFileNameW(path), out, capacity);
}

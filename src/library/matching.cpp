#include "library/matching.h"

#include <windows.h>
#include <shlwapi.h>

#include <string.h>

#include "app/wstr.h"
#include "library/text_case.h"
#include "library/track_list.h"
#include "library/video_id.h"

//~ Keys

// The letters Turkish titles are written with, and a few common Latin accents, folded to
// their base letter; 0 for everything else.
static wchar_t folded_letter(wchar_t ch) {
    switch (ch) {
    case 0x49: case 0x69: case 0xCE: case 0xEE: case 0x130: case 0x131: return L'i';
    case 0xC0: case 0xC1: case 0xC2: case 0xC4: case 0xE0: case 0xE1: case 0xE2: case 0xE4: return L'a';
    case 0xC7: case 0xE7: return L'c';
    case 0xC8: case 0xC9: case 0xCA: case 0xE8: case 0xE9: case 0xEA: return L'e';
    case 0xD4: case 0xD6: case 0xF4: case 0xF6: return L'o';
    case 0xDB: case 0xDC: case 0xFB: case 0xFC: return L'u';
    case 0x11E: case 0x11F: return L'g';
    case 0x15E: case 0x15F: return L's';
    }
    return 0;
}

static int is_key_char(wchar_t ch) {
    return (ch >= L'a' && ch <= L'z') || (ch >= L'0' && ch <= L'9');
}

void make_compare_key(const wchar_t* text, wchar_t* out, int capacity) {
    if (!out || capacity <= 0) return;
    out[0] = 0;
    if (!text) return;
    int n = 0;
    for (; *text && n < capacity - 1; text++) {
        wchar_t ch = *text;
        if (ch == 0x0307) continue;  // the dot of a decomposed İ
        wchar_t folded = folded_letter(ch);
        if (!folded) {
            if (ch >= L'A' && ch <= L'Z') folded = (wchar_t)(ch - L'A' + L'a');
            else if (is_key_char(ch)) folded = ch;
            else {
                wchar_t lower = turkish_lower_char(ch);
                if (is_key_char(lower)) folded = lower;
            }
        }
        if (folded) out[n++] = folded;
        else if (n > 0 && out[n - 1] != L' ') out[n++] = L' ';
    }
    if (n > 0 && out[n - 1] == L' ') n--;
    out[n] = 0;
}

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

//~ Words

static int is_filler_word(const wchar_t* w) {
    return !wcscmp(w, L"feat") || !wcscmp(w, L"ft") || !wcscmp(w, L"ile") || !wcscmp(w, L"ve");
}

int name_tokens(const wchar_t* key, wchar_t (*tokens)[TOKEN_CAPACITY], int max_count) {
    if (!key || !tokens || max_count <= 0) return 0;
    wchar_t cut[COMPARE_KEY_CAPACITY];
    wstr_copy(cut, key);
    int count = 0;
    const wchar_t* p = cut;
    while (*p && count < max_count) {
        while (*p == L' ') p++;
        const wchar_t* start = p;
        while (*p && *p != L' ') p++;
        if (p == start) break;
        wstr_copy_n(tokens[count], TOKEN_CAPACITY, start, (int)(p - start));
        if (!is_filler_word(tokens[count])) count++;
    }
    return count;
}

int titles_match(const wchar_t* a, const wchar_t* b) {
    if (!a || !b || !a[0] || !b[0]) return 0;
    if (!wcscmp(a, b)) return 1;
    wchar_t ta[TITLE_TOKENS_MAX][TOKEN_CAPACITY], tb[TITLE_TOKENS_MAX][TOKEN_CAPACITY];
    int na = name_tokens(a, ta, TITLE_TOKENS_MAX), nb = name_tokens(b, tb, TITLE_TOKENS_MAX);
    if (!na || !nb || na - nb > 2 || nb - na > 2) return 0;
    int common = 0;
    for (int i = 0; i < na; i++)
        for (int j = 0; j < nb; j++)
            if (!wcscmp(ta[i], tb[j])) {
                common++;
                break;
            }
    return common >= (na < nb ? na : nb);
}

int artists_overlap(const wchar_t* a, const wchar_t* b) {
    if (!a || !b || !a[0] || !b[0]) return 0;
    if (!wcscmp(a, b)) return 1;
    wchar_t ta[ARTIST_TOKENS_MAX][TOKEN_CAPACITY], tb[ARTIST_TOKENS_MAX][TOKEN_CAPACITY];
    int na = name_tokens(a, ta, ARTIST_TOKENS_MAX), nb = name_tokens(b, tb, ARTIST_TOKENS_MAX);
    for (int i = 0; i < na; i++) {
        if (wcslen(ta[i]) <= 2) continue;
        for (int j = 0; j < nb; j++)
            if (!wcscmp(ta[i], tb[j])) return 1;
    }
    return 0;
}

//~ Finding a track

// A title split into its two parts, each as a compare key.
struct PartKeys {
    wchar_t artist[PART_KEY_CAPACITY];
    wchar_t title[PART_KEY_CAPACITY];
};

static void part_keys(const wchar_t* text, PartKeys* k) {
    wchar_t artist[PART_KEY_CAPACITY], title[PART_KEY_CAPACITY];
    split_artist_title(text, artist, PART_KEY_CAPACITY, title, PART_KEY_CAPACITY);
    make_compare_key(artist, k->artist, PART_KEY_CAPACITY);
    make_compare_key(title, k->title, PART_KEY_CAPACITY);
}

enum { SCORE_SAME = 920, SCORE_CLOSE = 880, SCORE_REVERSED = 870, SCORE_TITLE_ONLY = 820, SCORE_THRESHOLD = 800 };

static int match_score(const PartKeys* w, const PartKeys* t) {
    int wa = w->artist[0] != 0, ta = t->artist[0] != 0;
    if (wa != ta) return !wcscmp(w->title, t->title) && wcslen(w->title) > 4 ? SCORE_TITLE_ONLY : 0;
    if (!wa) return 0;
    if (titles_match(w->title, t->title) && artists_overlap(w->artist, t->artist))
        return !wcscmp(w->title, t->title) ? SCORE_SAME : SCORE_CLOSE;
    if (titles_match(w->title, t->artist) && artists_overlap(w->artist, t->title)) return SCORE_REVERSED;
    return 0;
}

static int id_in_file_name(const Track* t, const wchar_t* id) {
    wchar_t found[VIDEO_ID_CAPACITY];
    video_id_from_file_name(t->path, found, VIDEO_ID_CAPACITY);
    return found[0] && !wcscmp(found, id);
}

int find_matching_track(const wchar_t* title, const wchar_t* video_id) {
    int count = track_list_count();
    if (video_id && wcslen(video_id) == VIDEO_ID_LENGTH)
        for (int i = 0; i < count; i++)
            if (id_in_file_name(track_list_at(i), video_id)) return i;
    if (!title || !title[0]) return -1;
    wchar_t wanted_key[COMPARE_KEY_CAPACITY];
    make_compare_key(title, wanted_key, COMPARE_KEY_CAPACITY);
    if (!wanted_key[0]) return -1;
    for (int i = 0; i < count; i++)
        if (!lstrcmpiW(track_list_at(i)->title, title)) return i;
    wchar_t key[COMPARE_KEY_CAPACITY];
    for (int i = 0; i < count; i++) {
        make_compare_key(track_list_at(i)->title, key, COMPARE_KEY_CAPACITY);
        if (!wcscmp(key, wanted_key)) return i;
    }
    PartKeys wanted, track;
    part_keys(title, &wanted);
    int best = -1, best_score = 0;
    for (int i = 0; i < count; i++) {
        part_keys(track_list_at(i)->title, &track);
        int score = match_score(&wanted, &track);
        if (score > best_score) {
            best_score = score;
            best = i;
        }
    }
    return best_score >= SCORE_THRESHOLD ? best : -1;
}

int track_matches_wanted(int index, const wchar_t* title, const wchar_t* video_id) {
    const Track* t = track_list_at(index);
    if (!t) return 0;
    if (video_id && wcslen(video_id) == VIDEO_ID_LENGTH && id_in_file_name(t, video_id)) return 1;
    if (!title || !title[0]) return 0;
    if (!lstrcmpiW(t->title, title)) return 1;
    wchar_t a[COMPARE_KEY_CAPACITY], b[COMPARE_KEY_CAPACITY];
    make_compare_key(t->title, a, COMPARE_KEY_CAPACITY);
    make_compare_key(title, b, COMPARE_KEY_CAPACITY);
    if (a[0] && !wcscmp(a, b)) return 1;
    return find_matching_track(title, video_id) == index;
}

int track_matches_filter(int index, const wchar_t* text) {
    const Track* t = track_list_at(index);
    if (!t) return 0;
    if (!text || !text[0]) return 1;
    if (StrStrIW(t->title, text)) return 1;
    wchar_t title_key[COMPARE_KEY_CAPACITY], text_key[PART_KEY_CAPACITY];
    make_compare_key(text, text_key, PART_KEY_CAPACITY);
    if (!text_key[0]) return 0;
    make_compare_key(t->title, title_key, COMPARE_KEY_CAPACITY);
    return title_key[0] && wcsstr(title_key, text_key) != nullptr;
}

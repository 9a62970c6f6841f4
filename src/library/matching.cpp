#include "library/matching.h"

#include <windows.h>
#include <shlwapi.h>

#include <stdlib.h>
#include <string.h>

#include "base/wstr.h"
#include "library/display_title.h"
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

static const wchar_t KEY_SKIP = 0xFFFF;

// What one character becomes in a key: a letter or digit, 0 for a separator, KEY_SKIP for
// nothing at all (the dot of a decomposed İ).
static wchar_t key_char(wchar_t ch) {
    if (ch == 0x0307) return KEY_SKIP;
    wchar_t folded = folded_letter(ch);
    if (folded) return folded;
    if (ch >= L'A' && ch <= L'Z') return (wchar_t)(ch - L'A' + L'a');
    if (is_key_char(ch)) return ch;
    wchar_t lower = turkish_lower_char(ch);
    return is_key_char(lower) ? lower : 0;
}

void make_compare_key(const wchar_t* text, wchar_t* out, int capacity) {
    if (!out || capacity <= 0) return;
    out[0] = 0;
    if (!text) return;
    int n = 0;
    for (; *text && n < capacity - 1; text++) {
        wchar_t folded = key_char(*text);
        if (folded == KEY_SKIP) continue;
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

// Equal without regard to case, character by character: the same letters, not the looser
// equality of a locale's word sort (which also skips hyphens and apostrophes), and cheap
// enough to run over a whole library per search.
static int same_title(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// What the search knows of one title: its key, its two parts as keys, and for each part
// a 64-bit mark of its words (one bit per word hash). Two parts without a common mark bit
// share no word, so the word comparisons cannot hold and are skipped; the marks only ever
// skip work whose answer is already certain.
struct TitleKeys {
    const wchar_t* key;
    const wchar_t* artist;
    const wchar_t* title;
    unsigned long long artist_words, artist_long_words;  // as a title (16 words); words over 2 letters (12)
    unsigned long long title_words, title_long_words;
    wchar_t id[VIDEO_ID_CAPACITY];
};

static unsigned long long word_bit(const wchar_t* w) {
    unsigned h = 2166136261u;
    for (; *w; w++) h = (h ^ (unsigned)*w) * 16777619u;
    return 1ull << (h & 63);
}

static void word_marks(const wchar_t* key, unsigned long long* words, unsigned long long* long_words) {
    wchar_t tokens[TITLE_TOKENS_MAX][TOKEN_CAPACITY];
    *words = *long_words = 0;
    int n = name_tokens(key, tokens, TITLE_TOKENS_MAX);
    for (int i = 0; i < n; i++) *words |= word_bit(tokens[i]);
    n = name_tokens(key, tokens, ARTIST_TOKENS_MAX);
    for (int i = 0; i < n; i++)
        if (wcslen(tokens[i]) > 2) *long_words |= word_bit(tokens[i]);
}

// The text of one title's keys, for when they are worked out on the spot.
struct TitleText {
    wchar_t key[COMPARE_KEY_CAPACITY];
    wchar_t artist[PART_KEY_CAPACITY];
    wchar_t title[PART_KEY_CAPACITY];
};

static void title_keys(const wchar_t* text, const wchar_t* path, TitleText* t, TitleKeys* k) {
    make_compare_key(text, t->key, COMPARE_KEY_CAPACITY);
    wchar_t artist[PART_KEY_CAPACITY], title[PART_KEY_CAPACITY];
    split_artist_title(text, artist, PART_KEY_CAPACITY, title, PART_KEY_CAPACITY);
    make_compare_key(artist, t->artist, PART_KEY_CAPACITY);
    make_compare_key(title, t->title, PART_KEY_CAPACITY);
    k->key = t->key;
    k->artist = t->artist;
    k->title = t->title;
    word_marks(t->artist, &k->artist_words, &k->artist_long_words);
    word_marks(t->title, &k->title_words, &k->title_long_words);
    k->id[0] = 0;
    if (path) video_id_from_file_name(path, k->id, VIDEO_ID_CAPACITY);
}

// The titles a local track answers to: "Artist - Title" as the list shows it, and, when the
// tags made that differ from the file's name, the title of the name too (a friend whose
// copy has no tags names it by the file). Returns how many there are (1 or 2); title
// `which` into out.
static int track_title_count(const Track* t) {
    return (t->flags & TRACK_NAME_DIFFERS) ? 2 : 1;
}

static void track_title(const Track* t, int which, wchar_t* out, int capacity) {
    if (which == 0) track_full_title(t, out, capacity);
    else make_path_display_title(t->path, out, capacity);
}

//~ Keys kept for a batch of searches

// A playlist import searches once per entry; working out every track's keys each time
// would make it quadratic. Between matching_cache_begin and matching_cache_end the keys
// are kept beside the list, one entry per title of each track: appended tracks are added,
// any other change starts afresh.
struct CachedTrack {
    TitleKeys keys;
    int track;
    int key_at, artist_at, title_at, text_at;  // offsets into the text pool
    int title_length;                          // of the title itself
};

static struct {
    int on;
    unsigned changes;
    int count;    // tracks whose titles are kept
    int entries;  // titles kept
    CachedTrack* tracks;
    int capacity;
    wchar_t* pool;
    size_t pool_used, pool_capacity;
} g_cache;

static int pool_add(const wchar_t* text) {
    size_t n = wcslen(text) + 1;
    if (g_cache.pool_used + n > g_cache.pool_capacity) {
        size_t grown = g_cache.pool_capacity ? g_cache.pool_capacity * 2 : 65536;
        while (grown < g_cache.pool_used + n) grown *= 2;
        wchar_t* pool = (wchar_t*)realloc(g_cache.pool, grown * sizeof(wchar_t));
        if (!pool) return -1;
        g_cache.pool = pool;
        g_cache.pool_capacity = grown;
    }
    int at = (int)g_cache.pool_used;
    memcpy(g_cache.pool + at, text, n * sizeof(wchar_t));
    g_cache.pool_used += n;
    return at;
}

// Brings the kept keys up to the list; 0 when memory ran out (the search then works them
// out on the spot).
static int cache_sync(void) {
    if (g_cache.changes != g_tracks.changes || g_cache.count > track_list_count()) {
        g_cache.count = 0;
        g_cache.entries = 0;
        g_cache.pool_used = 0;
        g_cache.changes = g_tracks.changes;
    }
    int count = track_list_count();
    for (; g_cache.count < count; g_cache.count++) {
        const Track* t = track_list_at(g_cache.count);
        int titles = track_title_count(t);
        if (g_cache.entries + titles > g_cache.capacity) {
            int grown = g_cache.capacity + (count - g_cache.count) + 1024;
            CachedTrack* tracks = (CachedTrack*)realloc(g_cache.tracks, (size_t)grown * sizeof(CachedTrack));
            if (!tracks) return 0;
            g_cache.tracks = tracks;
            g_cache.capacity = grown;
        }
        for (int which = 0; which < titles; which++) {
            CachedTrack* c = &g_cache.tracks[g_cache.entries];
            wchar_t title[TRACK_TEXT_CAPACITY];
            track_title(t, which, title, TRACK_TEXT_CAPACITY);
            TitleText text;
            title_keys(title, which == 0 ? t->path : nullptr, &text, &c->keys);
            c->track = g_cache.count;
            c->title_length = (int)wcslen(title);
            c->text_at = pool_add(title);
            c->key_at = pool_add(text.key);
            c->artist_at = pool_add(text.artist);
            c->title_at = pool_add(text.title);
            if (c->text_at < 0 || c->key_at < 0 || c->artist_at < 0 || c->title_at < 0) return 0;
            g_cache.entries++;
        }
    }
    return 1;
}

void matching_cache_begin(void) {
    g_cache.on = 1;
    g_cache.count = 0;
    g_cache.entries = 0;
    g_cache.pool_used = 0;
    g_cache.changes = g_tracks.changes;
}

void matching_cache_end(void) {
    free(g_cache.tracks);
    free(g_cache.pool);
    memset(&g_cache, 0, sizeof(g_cache));
}

enum { SCORE_SAME = 920, SCORE_CLOSE = 880, SCORE_REVERSED = 870, SCORE_TITLE_ONLY = 820, SCORE_THRESHOLD = 800 };

static int may_match_titles(const wchar_t* a, unsigned long long a_words, const wchar_t* b, unsigned long long b_words) {
    return (a_words & b_words) || !wcscmp(a, b);
}

static int match_score(const TitleKeys* w, const TitleKeys* t) {
    int wa = w->artist[0] != 0, ta = t->artist[0] != 0;
    if (wa != ta) return !wcscmp(w->title, t->title) && wcslen(w->title) > 4 ? SCORE_TITLE_ONLY : 0;
    if (!wa) return 0;
    if (may_match_titles(w->title, w->title_words, t->title, t->title_words) &&
        may_match_titles(w->artist, w->artist_long_words, t->artist, t->artist_long_words) &&
        titles_match(w->title, t->title) && artists_overlap(w->artist, t->artist))
        return !wcscmp(w->title, t->title) ? SCORE_SAME : SCORE_CLOSE;
    if (may_match_titles(w->title, w->title_words, t->artist, t->artist_words) &&
        may_match_titles(w->artist, w->artist_long_words, t->title, t->title_long_words) &&
        titles_match(w->title, t->artist) && artists_overlap(w->artist, t->title))
        return SCORE_REVERSED;
    return 0;
}

static int id_in_file_name(const Track* t, const wchar_t* id) {
    wchar_t found[VIDEO_ID_CAPACITY];
    video_id_from_file_name(t->path, found, VIDEO_ID_CAPACITY);
    return found[0] && !wcscmp(found, id);
}

// One pass of the search over every title of every track: kept ones, or worked out on the
// spot. The visit returns 1 to stop; the pass returns the track it stopped at, or -1.
struct TitleVisit {
    const wchar_t* text;  // the title
    int length;
    const wchar_t* key;   // its key, once asked for
    const TitleKeys* keys;
};
enum { NEED_TEXT = 0, NEED_KEY = 1, NEED_KEYS = 2 };

template <typename Visit>
static int each_title(int cached, int need, Visit visit) {
    if (cached) {
        for (int e = 0; e < g_cache.entries; e++) {
            CachedTrack* c = &g_cache.tracks[e];
            c->keys.key = g_cache.pool + c->key_at;
            c->keys.artist = g_cache.pool + c->artist_at;
            c->keys.title = g_cache.pool + c->title_at;
            TitleVisit v = {g_cache.pool + c->text_at, c->title_length, c->keys.key, &c->keys};
            if (visit(&v)) return c->track;
        }
        return -1;
    }
    int count = track_list_count();
    wchar_t title[TRACK_TEXT_CAPACITY];
    TitleText text;
    TitleKeys keys;
    for (int i = 0; i < count; i++) {
        const Track* t = track_list_at(i);
        for (int which = 0; which < track_title_count(t); which++) {
            track_title(t, which, title, TRACK_TEXT_CAPACITY);
            TitleVisit v = {title, (int)wcslen(title), nullptr, nullptr};
            if (need == NEED_KEY) {
                make_compare_key(title, text.key, COMPARE_KEY_CAPACITY);
                v.key = text.key;
            } else if (need == NEED_KEYS) {
                title_keys(title, nullptr, &text, &keys);
                v.key = text.key;
                v.keys = &keys;
            }
            if (visit(&v)) return i;
        }
    }
    return -1;
}

int find_matching_track(const wchar_t* title, const wchar_t* video_id) {
    int count = track_list_count();
    int cached = g_cache.on && cache_sync();
    if (video_id && wcslen(video_id) == VIDEO_ID_LENGTH) {
        if (cached) {
            for (int e = 0; e < g_cache.entries; e++)
                if (g_cache.tracks[e].keys.id[0] && !wcscmp(g_cache.tracks[e].keys.id, video_id))
                    return g_cache.tracks[e].track;
        } else {
            for (int i = 0; i < count; i++)
                if (id_in_file_name(track_list_at(i), video_id)) return i;
        }
    }
    if (!title || !title[0]) return -1;
    TitleText wanted_text;
    TitleKeys wanted;
    title_keys(title, nullptr, &wanted_text, &wanted);
    if (!wanted.key[0]) return -1;
    // Titles equal letter for letter have equal lengths; the length rules most out cheaply.
    int length = (int)wcslen(title);
    int found = each_title(cached, NEED_TEXT,
                           [&](const TitleVisit* v) { return v->length == length && same_title(v->text, title); });
    if (found >= 0) return found;
    found = each_title(cached, NEED_KEY, [&](const TitleVisit* v) { return !wcscmp(v->key, wanted.key); });
    if (found >= 0) return found;
    int best = -1, best_score = 0, at = -1;
    each_title(cached, NEED_KEYS, [&](const TitleVisit* v) {
        at++;
        int score = match_score(&wanted, v->keys);
        if (score > best_score) {
            best_score = score;
            best = at;
        }
        return 0;
    });
    if (best_score < SCORE_THRESHOLD) return -1;
    // The best title's place in the pass, back to its track.
    if (cached) return g_cache.tracks[best].track;
    at = -1;
    return each_title(0, NEED_TEXT, [&](const TitleVisit*) { return ++at == best; });
}

int title_matches_wanted(const wchar_t* title, const wchar_t* wanted) {
    if (!title || !title[0] || !wanted || !wanted[0]) return 0;
    if (same_title(title, wanted)) return 1;
    TitleText wanted_text, own_text;
    TitleKeys wanted_keys, own_keys;
    title_keys(wanted, nullptr, &wanted_text, &wanted_keys);
    if (!wanted_keys.key[0]) return 0;
    title_keys(title, nullptr, &own_text, &own_keys);
    if (!wcscmp(own_keys.key, wanted_keys.key)) return 1;
    return match_score(&wanted_keys, &own_keys) >= SCORE_THRESHOLD;
}

int track_matches_wanted(int index, const wchar_t* title, const wchar_t* video_id) {
    const Track* t = track_list_at(index);
    if (!t) return 0;
    if (video_id && wcslen(video_id) == VIDEO_ID_LENGTH && id_in_file_name(t, video_id)) return 1;
    if (!title || !title[0]) return 0;
    for (int which = 0; which < track_title_count(t); which++) {
        wchar_t own[TRACK_TEXT_CAPACITY];
        track_title(t, which, own, TRACK_TEXT_CAPACITY);
        if (same_title(own, title)) return 1;
        wchar_t a[COMPARE_KEY_CAPACITY], b[COMPARE_KEY_CAPACITY];
        make_compare_key(own, a, COMPARE_KEY_CAPACITY);
        make_compare_key(title, b, COMPARE_KEY_CAPACITY);
        if (a[0] && !wcscmp(a, b)) return 1;
    }
    return find_matching_track(title, video_id) == index;
}

//~ The search box

// A keystroke in the search box is answered over 100,000 titles within a frame: each
// character's lower case and key form come from tables made once, not from a system call
// per character (StrStrIW compares through the locale at every position).
static wchar_t* g_lower_of;  // 65,536 entries
static wchar_t* g_key_of;

static int filter_tables_ready(void) {
    if (g_key_of) return 1;
    wchar_t* lower = (wchar_t*)malloc(65536 * sizeof(wchar_t));
    wchar_t* key = (wchar_t*)malloc(65536 * sizeof(wchar_t));
    if (!lower || !key) {
        free(lower);
        free(key);
        return 0;
    }
    // One call for the whole table, each character mapped on its own as CharLowerW maps
    // one: 65,536 calls through the locale cost the first keystroke tens of milliseconds.
    for (unsigned c = 0; c < 65536; c++) lower[c] = (wchar_t)c;
    CharLowerBuffW(lower + 128, 65536 - 128);
    for (unsigned c = 0; c < 65536; c++) {
        wchar_t ch = (wchar_t)c;
        if (c < 128) lower[c] = (c >= 'A' && c <= 'Z') ? (wchar_t)(c + 32) : ch;
        key[c] = key_char(ch);
    }
    lower[0] = key[0] = 0;
    g_lower_of = lower;
    g_key_of = key;
    return 1;
}

void filter_plan_make(const wchar_t* text, FilterPlan* plan) {
    plan->raw[0] = plan->key[0] = 0;
    plan->raw_length = plan->key_length = 0;
    plan->fast = filter_tables_ready();
    if (!text) return;
    wstr_copy(plan->text, text);
    int n = 0;
    for (const wchar_t* c = text; *c && n < FILTER_PLAN_CAPACITY - 1; c++)
        plan->raw[n++] = plan->fast ? g_lower_of[*c] : *c;
    plan->raw[n] = 0;
    plan->raw_length = n;
    make_compare_key(text, plan->key, PART_KEY_CAPACITY);
    plan->key_length = (int)wcslen(plan->key);
}

int title_passes_filter(const wchar_t* title, const FilterPlan* plan) {
    return text_passes_filter(title, -1, plan);
}

int text_passes_filter(const wchar_t* title, int length, const FilterPlan* plan) {
    if (!title) return 0;
    if (!plan->raw_length) return 1;
    if (length >= 0 && title[length] != 0) {
        // A part of a longer text (a path's folders): copied out once, as the slow path
        // below needs a terminated text.
        wchar_t part[TRACK_TEXT_CAPACITY];
        wstr_copy_n(part, TRACK_TEXT_CAPACITY, title, length);
        return text_passes_filter(part, -1, plan);
    }
    if (!plan->fast) {
        if (StrStrIW(title, plan->text)) return 1;
        if (!plan->key_length) return 0;
        wchar_t title_key[COMPARE_KEY_CAPACITY];
        make_compare_key(title, title_key, COMPARE_KEY_CAPACITY);
        return title_key[0] && wcsstr(title_key, plan->key) != nullptr;
    }
    // One pass over the title, building its lower case and its key side by side and
    // looking for the text at the end of each as it grows: a title that has the text early
    // costs only its first characters.
    wchar_t lower[TRACK_TEXT_CAPACITY], key[COMPARE_KEY_CAPACITY];
    const wchar_t* raw = plan->raw;
    const wchar_t* want = plan->key;
    int raw_last = plan->raw_length - 1, key_last = plan->key_length - 1;
    int n = 0, k = 0;
    for (const wchar_t* c = title; *c && n < TRACK_TEXT_CAPACITY - 1; c++) {
        wchar_t ch = *c;
        wchar_t low = g_lower_of[ch];
        lower[n++] = low;
        if (low == raw[raw_last] && n > raw_last) {
            int i = raw_last - 1, at = n - 2;
            while (i >= 0 && lower[at] == raw[i]) i--, at--;
            if (i < 0) return 1;
        }
        wchar_t folded = g_key_of[ch];
        if (folded == KEY_SKIP || k >= COMPARE_KEY_CAPACITY - 1) continue;
        if (!folded) {
            if (k > 0 && key[k - 1] != L' ') key[k++] = L' ';
            continue;  // the text's key never ends in a space
        }
        key[k++] = folded;
        if (key_last >= 0 && folded == want[key_last] && k > key_last) {
            int i = key_last - 1, at = k - 2;
            while (i >= 0 && key[at] == want[i]) i--, at--;
            if (i < 0) return 1;
        }
    }
    return 0;
}

int track_matches_filter(int index, const wchar_t* text) {
    const Track* t = track_list_at(index);
    if (!t) return 0;
    FilterPlan plan;
    filter_plan_make(text, &plan);
    FilterMemo memo = FILTER_MEMO_START;
    return track_passes_filter(t, &plan, nullptr, &memo);
}

// The folders of path below root (root_length characters, no separator at its end), as a
// range of it: all of them when path lies in root, else the one holding the file. Length 0
// when there are none.
static int folder_part(const wchar_t* path, const wchar_t* root, int root_length, const wchar_t** at) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; p++)
        if (*p == L'\\' || *p == L'/') name = p;
    *at = path;
    if (name == path) return 0;
    int prefix = name - path > root_length ? path_folder_prefix(path, root, root_length) : 0;
    if (prefix > 0) {
        *at = path + prefix;
        return (int)(name - *at);
    }
    const wchar_t* parent = name;
    while (parent > path && parent[-1] != L'\\' && parent[-1] != L'/') parent--;
    *at = parent;
    return (int)(name - parent);
}

int track_passes_filter(const Track* t, const FilterPlan* plan, const wchar_t* root, FilterMemo* memo) {
    if (title_passes_filter(t->title, plan)) return 1;
    // Neighbouring tracks share their artist, album and folders: each is matched once a run.
    if (t->artist != memo->artist) {
        memo->artist = t->artist;
        memo->artist_passes = t->artist[0] && title_passes_filter(t->artist, plan);
    }
    if (memo->artist_passes) return 1;
    if (t->album != memo->album) {
        memo->album = t->album;
        memo->album_passes = t->album[0] && title_passes_filter(t->album, plan);
    }
    if (memo->album_passes) return 1;
    if (memo->root_length < 0) memo->root_length = folder_length_trimmed(root);
    const wchar_t* folders;
    int length = folder_part(t->path, root, memo->root_length, &folders);
    if (length <= 0) return 0;
    if (length != memo->folder_length || !memo->folder || wcsncmp(folders, memo->folder, (size_t)length) != 0) {
        memo->folder = folders;
        memo->folder_length = length;
        memo->folder_passes = text_passes_filter(folders, length, plan);
    }
    return memo->folder_passes;
}

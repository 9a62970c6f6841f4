#pragma once
// Telling whether a local track is the song a friend means: friends exchange tracks by
// title and video id, never by path. Pure reads of the track list, main thread.
#include <wchar.h>

enum { COMPARE_KEY_CAPACITY = 256, PART_KEY_CAPACITY = 128, TITLE_TOKENS_MAX = 16, ARTIST_TOKENS_MAX = 12,
       TOKEN_CAPACITY = 48 };

// The title folded for comparison: lower-case ASCII letters and digits separated by single
// blanks (Turkish and a few Latin accented letters folded to their base letter, anything
// else a separator), at most capacity-1 characters.
void make_compare_key(const wchar_t* text, wchar_t* out, int capacity);

// "Artist - Title": the artist is the text before the first " - " (when it is not at the
// very start and something follows it), the title the rest; otherwise all of it is the
// title. Both are cut to their capacity and trimmed of blanks and tabs.
void split_artist_title(const wchar_t* text, wchar_t* artist, int artist_capacity, wchar_t* title,
                        int title_capacity);

// The words of a key, each at most 47 characters, without "feat", "ft", "ile" and "ve".
int name_tokens(const wchar_t* key, wchar_t (*tokens)[TOKEN_CAPACITY], int max_count);

// Two title keys name the same title when their words mostly agree.
int titles_match(const wchar_t* a, const wchar_t* b);
// Two artist keys share a performer: one word longer than two letters in common.
int artists_overlap(const wchar_t* a, const wchar_t* b);

// The best local track for a wanted title and video id (either may be empty), or -1.
int find_matching_track(const wchar_t* title, const wchar_t* video_id);
// Around a batch of searches (a playlist import): the tracks' keys are kept meanwhile
// instead of being worked out again for every search. Memory is given back at the end.
void matching_cache_begin(void);
void matching_cache_end(void);

// Whether a display title names the wanted title, by the rules find_matching_track uses for
// one track.
int title_matches_wanted(const wchar_t* title, const wchar_t* wanted);
// Whether the track at index is the wanted one.
int track_matches_wanted(int index, const wchar_t* title, const wchar_t* video_id);
// Whether the track at index passes the search box's text: the text is in its title
// without regard to case, or the text's compare key is in the title's.
int track_matches_filter(int index, const wchar_t* text);

// The search box's text made ready once for a pass over the whole list.
enum { FILTER_PLAN_CAPACITY = 128 };
struct FilterPlan {
    wchar_t text[FILTER_PLAN_CAPACITY];
    wchar_t raw[FILTER_PLAN_CAPACITY];  // lower case
    wchar_t key[PART_KEY_CAPACITY];
    int raw_length, key_length;
    int fast;  // the character tables are there
};
void filter_plan_make(const wchar_t* text, FilterPlan* plan);
// track_matches_filter for a title and a prepared text.
int title_passes_filter(const wchar_t* title, const FilterPlan* plan);
// The same for length characters of text (-1: up to its terminator).
int text_passes_filter(const wchar_t* text, int length, const FilterPlan* plan);

// What a pass over the list remembers of the track before (its shared texts and folders),
// FILTER_MEMO_START before the pass.
struct FilterMemo {
    const wchar_t* artist;
    const wchar_t* album;
    const wchar_t* folder;
    int folder_length;
    int artist_passes, album_passes, folder_passes;
    int root_length;  // -1 until worked out
};
#define FILTER_MEMO_START {nullptr, nullptr, nullptr, 0, 0, 0, 0, -1}
struct Track;
// Whether a track passes the prepared text: by its title, artist, album, or the names of
// the folders it lies in below root (the music folder; null or another place: the folder
// holding it).
int track_passes_filter(const Track* t, const FilterPlan* plan, const wchar_t* root, FilterMemo* memo);

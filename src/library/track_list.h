#pragma once
// The one ordered list of tracks that the main window shows and plays. Owned by the main
// thread; no other thread touches it.
#include <wchar.h>

enum { TRACK_TEXT_CAPACITY = 260 };  // paths and titles: 259 characters and a terminator

// Pointers into the list's own text store, so that a library of 100,000 tracks costs what
// its names take rather than 1 KB a track. Artist and album texts are stored once and shared
// by every track that names them. The texts stay where they are until the list is cleared
// or freed; they are read-only and never null ("" when unknown).
struct Track {
    const wchar_t* path;
    const wchar_t* title;         // what the list shows in bold
    const wchar_t* artist;
    const wchar_t* album;
    const wchar_t* album_artist;  // from the tags only
    int duration_ms;              // 0 unknown
    unsigned short number, disc;  // 0 unknown
    unsigned added;               // when the file came: its creation time in minutes since 1601
    unsigned flags;               // TRACK_NAME_DIFFERS
};

// The title made from the file's name alone ("Artist - Title" of a downloaded name) differs
// from the one made of artist and title: friends who name the track by its file are matched
// against that name too.
enum { TRACK_NAME_DIFFERS = 1 };

// What a new track carries beside its path; null texts are "".
struct TrackInfo {
    const wchar_t* title;
    const wchar_t* artist;
    const wchar_t* album;
    const wchar_t* album_artist;
    int duration_ms;
    int number, disc;
    unsigned added;
    unsigned flags;
};

struct TrackList {
    Track* items;
    int count;
    int capacity;
    unsigned changes;  // counts removals, moves, clears and new titles; appending leaves it
};

enum { TRACK_LIST_FIRST_CAPACITY = 256 };

// Repeat modes, as stored in the settings.
enum { REPEAT_OFF = 0, REPEAT_LIST = 1, REPEAT_TRACK = 2 };

extern TrackList g_tracks;

// Seeds the random generator that shuffle draws from.
void track_list_init(void);
// A uniform draw in 0..n-1 from that generator (0 when n is not positive).
int track_list_random_below(int n);

// Appends a track (title made from the path); with dedupe set, an existing track with the
// same path (case-insensitive) is returned instead. Returns the index, or -1 (also for a
// path of more than 259 characters, which a track cannot hold).
int track_list_add(const wchar_t* path, int dedupe);
int track_list_add_unique(const wchar_t* path);
// As track_list_add, with the title already made as a name gives it: "Artist - Title" is
// taken apart (cut at 259 characters).
int track_list_add_titled(const wchar_t* path, const wchar_t* title, int dedupe);
// As track_list_add, with everything already read (texts cut at 259 characters).
int track_list_add_info(const wchar_t* path, const TrackInfo* info, int dedupe);
// Gives track index another path and what info carries (null: what it had), in its place; 0
// when the path is too long or memory ran out.
int track_list_replace(int index, const wchar_t* path, const TrackInfo* info);
// The title friends and other programs know the track by: "Artist - Title", or the title
// alone when the artist is unknown. At most capacity-1 characters.
void track_full_title(const Track* t, wchar_t* out, int capacity);
// A file time (100 ns since 1601) in the minutes Track.added keeps.
unsigned file_time_minutes(unsigned low, unsigned high);
// The first track whose path equals path without regard to case, -1 when none.
int track_list_find_path(const wchar_t* path);
// Gives track index another title, "Artist - Title" taken apart (cut at 259 characters); 0
// when memory ran out.
int track_list_set_title(int index, const wchar_t* title);
void track_list_remove(int index);
void track_list_move(int from, int to);
void track_list_clear(void);
void track_list_free(void);
int track_list_count(void);
Track* track_list_at(int index);

int track_list_next_index(int current, int shuffle, int repeat);
int track_list_prev_index(int current);
int track_list_find_by_initial(wchar_t ch, int current);

// Case-insensitive path equality as the file system sees it, and a hash consistent with it.
// Main thread: the case table is made at the first use.
int path_equal_nocase(const wchar_t* a, const wchar_t* b);
unsigned path_hash_nocase(const wchar_t* path);
// The characters of folder without its closing separators (-1: worked out here).
int folder_length_trimmed(const wchar_t* folder);
// How many characters of path the folder and the separator after it take when path lies in
// folder (folder_length characters, as folder_length_trimmed gives them; compared as
// path_equal_nocase compares, either slash a separator), else 0.
int path_folder_prefix(const wchar_t* path, const wchar_t* folder, int folder_length);

#include "library/track_list.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "base/wstr.h"
#include "library/display_title.h"
#include "library/folder_scan.h"
#include "library/matching.h"
#include "library/tags.h"
#include "library/text_case.h"
#include "library/track_info.h"

TrackList g_tracks;

// Shuffle's generator: splitmix64, 64 bits a draw, so that every index of however large a
// list is reachable (rand() gives only 15 bits on this platform).
static unsigned long long g_shuffle_state = 0x9E3779B97F4A7C15ull;

static unsigned long long next_random(void) {
    unsigned long long z = (g_shuffle_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in 0..n-1: draws from the top stretch that is not a whole multiple of n are
// thrown back, so that no index comes up more often than another.
static int random_below(int n) {
    unsigned long long limit = ~0ull - ~0ull % (unsigned long long)n;
    unsigned long long r;
    do r = next_random();
    while (r >= limit);
    return (int)(r % (unsigned long long)n);
}

int track_list_random_below(int n) {
    return n > 0 ? random_below(n) : 0;
}

void track_list_init(void) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    g_shuffle_state = (unsigned long long)time(nullptr) * 0x9E3779B97F4A7C15ull ^ (unsigned long long)counter.QuadPart;
}

// Upper-cases one path character the way the file system compares names. ASCII is done
// here; the rest comes from a table made once, since CharUpperW is a call per character and
// a library of 100,000 paths in folders named in Turkish is hashed whole at times.
static wchar_t* g_upper_of;  // 65,536 entries, or null until needed (or when memory ran out)

static wchar_t path_fold(wchar_t c) {
    if (c < 128) return (c >= L'a' && c <= L'z') ? (wchar_t)(c - 32) : c;
    if (!g_upper_of) {
        wchar_t* table = (wchar_t*)malloc(65536 * sizeof(wchar_t));
        if (!table) return (wchar_t)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)c);
        for (unsigned i = 0; i < 65536; i++) table[i] = (wchar_t)i;
        // One call for all: each character is mapped on its own, as CharUpperW maps one.
        CharUpperBuffW(table + 1, 65535);
        g_upper_of = table;
    }
    return g_upper_of[c];
}

int path_equal_nocase(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return 0;
    for (;; a++, b++) {
        if (*a != *b && path_fold(*a) != path_fold(*b)) return 0;
        if (!*a) return 1;
    }
}

int folder_length_trimmed(const wchar_t* folder) {
    int n = folder ? (int)wcslen(folder) : 0;
    while (n > 0 && (folder[n - 1] == L'\\' || folder[n - 1] == L'/')) n--;
    return n;
}

int path_folder_prefix(const wchar_t* path, const wchar_t* folder, int folder_length) {
    if (!path || !folder) return 0;
    if (folder_length < 0) folder_length = folder_length_trimmed(folder);
    if (folder_length == 0) return 0;
    for (int i = 0; i < folder_length; i++) {
        wchar_t a = path[i], b = folder[i];
        if (!a) return 0;
        if (a == b) continue;
        if ((a == L'/' || a == L'\\') && (b == L'/' || b == L'\\')) continue;
        if (path_fold(a) != path_fold(b)) return 0;
    }
    return path[folder_length] == L'\\' || path[folder_length] == L'/' ? folder_length + 1 : 0;
}

unsigned path_hash_nocase(const wchar_t* path) {
    unsigned h = 2166136261u;  // FNV-1a
    for (; path && *path; path++) {
        h ^= path_fold(*path);
        h *= 16777619u;
    }
    return h;
}

//~ The text store

// Paths and titles are packed end to end into chunks that never move, so a Track can point
// into them for as long as it lives. A removed track's texts stay behind until the list is
// cleared; clearing rewinds the store and keeps its chunks for the next scan.
struct TextChunk {
    TextChunk* next;
    size_t used, capacity;  // in characters
    wchar_t text[1];
};

static const size_t TEXT_CHUNK_CHARS = 32768;  // 64 KB: a few hundred tracks a chunk

static struct {
    TextChunk* first;
    TextChunk* current;
} g_text;

static const wchar_t* text_store(const wchar_t* text, size_t length) {
    TextChunk* c = g_text.current;
    while (c && c->used + length + 1 > c->capacity) {
        c = c->next;
        if (c) c->used = 0;
    }
    if (!c) {
        size_t capacity = length + 1 > TEXT_CHUNK_CHARS ? length + 1 : TEXT_CHUNK_CHARS;
        c = (TextChunk*)malloc(sizeof(TextChunk) + capacity * sizeof(wchar_t));
        if (!c) return nullptr;
        c->next = nullptr;
        c->used = 0;
        c->capacity = capacity;
        if (g_text.current) {
            // Chunks past current were rewound by a clear; the new one goes at the end.
            TextChunk* last = g_text.current;
            while (last->next) last = last->next;
            last->next = c;
        } else {
            g_text.first = c;
        }
    }
    g_text.current = c;
    wchar_t* at = c->text + c->used;
    memcpy(at, text, length * sizeof(wchar_t));
    at[length] = 0;
    c->used += length + 1;
    return at;
}

static void text_rewind(void) {
    g_text.current = g_text.first;
    if (g_text.first) g_text.first->used = 0;
}

static void text_free(void) {
    for (TextChunk* c = g_text.first; c;) {
        TextChunk* next = c->next;
        free(c);
        c = next;
    }
    g_text.first = g_text.current = nullptr;
}

//~ Shared texts

// Artists and albums repeat: a library of 100,000 tracks names a few thousand. Each text is
// stored once, found again through a table of stored texts by hash; the table is emptied
// with the store it points into.
static struct {
    const wchar_t** slots;
    unsigned mask;
    int used;
} g_shared;

static unsigned text_hash(const wchar_t* text, size_t length) {
    unsigned h = 2166136261u;
    for (size_t i = 0; i < length; i++) {
        h ^= text[i];
        h *= 16777619u;
    }
    return h;
}

static int shared_grow(void) {
    unsigned size = g_shared.slots ? (g_shared.mask + 1) * 2 : 1024;
    const wchar_t** slots = (const wchar_t**)calloc(size, sizeof(const wchar_t*));
    if (!slots) return 0;
    for (unsigned i = 0; g_shared.slots && i <= g_shared.mask; i++) {
        const wchar_t* text = g_shared.slots[i];
        if (!text) continue;
        unsigned at = text_hash(text, wcslen(text)) & (size - 1);
        while (slots[at]) at = (at + 1) & (size - 1);
        slots[at] = text;
    }
    free(g_shared.slots);
    g_shared.slots = slots;
    g_shared.mask = size - 1;
    return 1;
}

// The stored copy of text (cut at 259 characters), "" for null or empty; null when memory ran out.
static const wchar_t* shared_text(const wchar_t* text) {
    if (!text || !text[0]) return L"";
    size_t length = wcslen(text);
    if (length >= TRACK_TEXT_CAPACITY) length = TRACK_TEXT_CAPACITY - 1;
    if ((unsigned)(g_shared.used + 1) * 2 > (g_shared.slots ? g_shared.mask + 1 : 0) && !shared_grow())
        return text_store(text, length);
    unsigned at = text_hash(text, length) & g_shared.mask;
    for (; g_shared.slots[at]; at = (at + 1) & g_shared.mask) {
        const wchar_t* stored = g_shared.slots[at];
        if (!wcsncmp(stored, text, length) && !stored[length]) return stored;
    }
    const wchar_t* stored = text_store(text, length);
    if (!stored) return nullptr;
    g_shared.slots[at] = stored;
    g_shared.used++;
    return stored;
}

static void shared_forget(void) {
    if (g_shared.slots) memset(g_shared.slots, 0, (g_shared.mask + 1) * sizeof(const wchar_t*));
    g_shared.used = 0;
}

//~ The array

// The array lives in one reserved stretch of address space whose pages are committed as
// the capacity grows (256 slots, then doubling), so growing never copies the tracks while
// a folder is scanned into it.
// Past the reservation the tracks move to a reservation twice as large.
static const unsigned long long TRACK_LIST_RESERVED_SLOTS = 1ull << 22;
static unsigned long long g_reserved_slots;

static int track_list_reserve_one(void) {
    if (g_tracks.count < g_tracks.capacity) return 1;
    unsigned long long new_capacity =
        g_tracks.capacity ? (unsigned long long)g_tracks.capacity * 2 : (unsigned long long)TRACK_LIST_FIRST_CAPACITY;
    if (new_capacity > 0x7fffffffull) return 0;
    Track* base = g_tracks.items;
    if (!base || new_capacity > g_reserved_slots) {
        unsigned long long reserve = g_reserved_slots ? g_reserved_slots * 2 : TRACK_LIST_RESERVED_SLOTS;
        while (reserve < new_capacity) reserve *= 2;
        base = (Track*)VirtualAlloc(nullptr, (SIZE_T)(reserve * sizeof(Track)), MEM_RESERVE, PAGE_READWRITE);
        if (!base) return 0;
        if (!VirtualAlloc(base, (SIZE_T)(new_capacity * sizeof(Track)), MEM_COMMIT, PAGE_READWRITE)) {
            VirtualFree(base, 0, MEM_RELEASE);
            return 0;
        }
        if (g_tracks.items) {
            memcpy(base, g_tracks.items, (size_t)g_tracks.count * sizeof(Track));
            VirtualFree(g_tracks.items, 0, MEM_RELEASE);
        }
        g_tracks.items = base;
        g_reserved_slots = reserve;
    } else if (!VirtualAlloc(base, (SIZE_T)(new_capacity * sizeof(Track)), MEM_COMMIT, PAGE_READWRITE)) {
        return 0;
    }
    g_tracks.capacity = (int)new_capacity;
    return 1;
}

//~ The path index

// Duplicate checks run for every file a scan hands over and for every download, over
// libraries of 100,000 tracks: a comparison with each track would make a scan quadratic.
// This table of track indices by case-folded path answers the same question, the first
// track whose path is equal. Appends keep it current; a removal, move or clear makes it
// stale, and it is built again at the next question.
static struct {
    int* slots;  // track index + 1, 0 for an empty slot
    unsigned mask;
    unsigned changes;  // g_tracks.changes when it was built
    int valid;
} g_index;

// Each track's path hash, in the order of the list, so that the table is rebuilt after a
// move or at its growth without hashing 100,000 paths again (a download moves its row to
// the top; a scan's batches grow the table). Null when memory ran out: hashes are then
// worked out when needed.
static unsigned* g_hashes;
static int g_hash_capacity;

static unsigned track_hash(int track) {
    return g_hashes ? g_hashes[track] : path_hash_nocase(g_tracks.items[track].path);
}

static int path_index_find(const wchar_t* path, unsigned hash) {
    for (unsigned i = hash & g_index.mask;; i = (i + 1) & g_index.mask) {
        int slot = g_index.slots[i];
        if (!slot) return -1;
        if (g_hashes && g_hashes[slot - 1] != hash) continue;
        if (path_equal_nocase(g_tracks.items[slot - 1].path, path)) return slot - 1;
    }
}

static void path_index_put(int track, unsigned hash) {
    unsigned i = hash & g_index.mask;
    while (g_index.slots[i]) i = (i + 1) & g_index.mask;
    g_index.slots[i] = track + 1;
}

static void path_index_drop(void) {
    free(g_index.slots);
    g_index.slots = nullptr;
    g_index.mask = 0;
    g_index.valid = 0;
}

// Makes the table current with room for one more track, at most half full. 0 when memory
// ran out (the caller then compares with each track).
static int path_index_ready(void) {
    unsigned size = g_index.slots ? g_index.mask + 1 : 1024;
    unsigned needed = size;
    while ((unsigned)(g_tracks.count + 1) * 2 >= needed) needed *= 2;
    if (g_index.valid && g_index.changes == g_tracks.changes && needed == size) return 1;
    int* slots = (int*)calloc(needed, sizeof(int));
    if (!slots) {
        path_index_drop();
        return 0;
    }
    free(g_index.slots);
    g_index.slots = slots;
    g_index.mask = needed - 1;
    for (int t = 0; t < g_tracks.count; t++) {
        unsigned hash = track_hash(t);
        if (path_index_find(g_tracks.items[t].path, hash) < 0) path_index_put(t, hash);
    }
    g_index.changes = g_tracks.changes;
    g_index.valid = 1;
    return 1;
}

int track_list_find_path(const wchar_t* path) {
    if (!path || !path[0]) return -1;
    if (path_index_ready()) return path_index_find(path, path_hash_nocase(path));
    for (int i = 0; i < g_tracks.count; i++)
        if (path_equal_nocase(g_tracks.items[i].path, path)) return i;
    return -1;
}

// Stores path and what info carries into t (texts cut at 259 characters); 0 when memory ran
// out. path fits a track (checked by the caller).
static int track_fill(Track* t, const wchar_t* path, size_t path_length, const TrackInfo* info) {
    const wchar_t* title = info->title ? info->title : L"";
    size_t title_length = wcslen(title);
    if (title_length >= TRACK_TEXT_CAPACITY) title_length = TRACK_TEXT_CAPACITY - 1;
    const wchar_t* stored_path = text_store(path, path_length);
    const wchar_t* stored_title = stored_path ? text_store(title, title_length) : nullptr;
    const wchar_t* artist = stored_title ? shared_text(info->artist) : nullptr;
    const wchar_t* album = artist ? shared_text(info->album) : nullptr;
    const wchar_t* album_artist = album ? shared_text(info->album_artist) : nullptr;
    if (!album_artist) return 0;
    t->path = stored_path;
    t->title = stored_title;
    t->artist = artist;
    t->album = album;
    t->album_artist = album_artist;
    t->duration_ms = info->duration_ms > 0 ? info->duration_ms : 0;
    t->number = (unsigned short)(info->number > 0 && info->number < 65536 ? info->number : 0);
    t->disc = (unsigned short)(info->disc > 0 && info->disc < 65536 ? info->disc : 0);
    t->added = info->added;
    t->flags = info->flags;
    return 1;
}

int track_list_add_info(const wchar_t* path, const TrackInfo* info, int dedupe) {
    if (!path || !path[0] || !info) return -1;
    // A longer path cannot be stored whole, and a cut one names no file: it could never
    // play, and two names alike in their first 259 characters would become one track.
    size_t path_length = wcslen(path);
    if (path_length >= TRACK_TEXT_CAPACITY) return -1;
    if (dedupe) {
        int existing = track_list_find_path(path);
        if (existing >= 0) return existing;
    }
    if (!track_list_reserve_one()) return -1;
    Track filled;
    if (!track_fill(&filled, path, path_length, info)) return -1;
    // Once lost, the hashes stay away until the list is empty: the earlier ones are unknown.
    if (g_hash_capacity <= g_tracks.count && (g_hashes || g_tracks.count == 0)) {
        int capacity = g_tracks.capacity > g_tracks.count ? g_tracks.capacity : g_tracks.count + 1;
        unsigned* grown = (unsigned*)realloc(g_hashes, (size_t)capacity * sizeof(unsigned));
        if (grown) {
            g_hashes = grown;
            g_hash_capacity = capacity;
        } else {
            free(g_hashes);
            g_hashes = nullptr;
            g_hash_capacity = 0;
        }
    }
    unsigned hash = path_hash_nocase(filled.path);
    if (g_hashes && g_hash_capacity > g_tracks.count) g_hashes[g_tracks.count] = hash;
    g_tracks.items[g_tracks.count] = filled;
    int index = g_tracks.count++;
    // Kept current only while it is: a stale table is rebuilt at the next question.
    if (g_index.valid && g_index.changes == g_tracks.changes && (unsigned)g_tracks.count * 2 < g_index.mask + 1)
        path_index_put(index, hash);
    else
        g_index.valid = 0;
    return index;
}

int track_list_replace(int index, const wchar_t* path, const TrackInfo* info) {
    if (index < 0 || index >= g_tracks.count || !path || !path[0]) return 0;
    size_t path_length = wcslen(path);
    if (path_length >= TRACK_TEXT_CAPACITY) return 0;
    Track* t = &g_tracks.items[index];
    TrackInfo kept = {t->title, t->artist, t->album, t->album_artist, t->duration_ms,
                      t->number, t->disc, t->added, t->flags};
    Track filled;
    if (!track_fill(&filled, path, path_length, info ? info : &kept)) return 0;
    // The table by path holds while the path stays the same to it.
    int index_current = g_index.valid && g_index.changes == g_tracks.changes && path_equal_nocase(t->path, path);
    *t = filled;
    if (g_hashes) g_hashes[index] = path_hash_nocase(filled.path);
    g_tracks.changes++;
    if (index_current) g_index.changes = g_tracks.changes;
    return 1;
}

int track_list_add_titled(const wchar_t* path, const wchar_t* title, int dedupe) {
    if (!title) return -1;
    wchar_t artist[TRACK_TEXT_CAPACITY], own[TRACK_TEXT_CAPACITY];
    split_artist_title(title, artist, TRACK_TEXT_CAPACITY, own, TRACK_TEXT_CAPACITY);
    TrackInfo info = {};
    info.title = own;
    info.artist = artist;
    return track_list_add_info(path, &info, dedupe);
}

int track_list_add(const wchar_t* path, int dedupe) {
    if (!path || !path[0] || wcslen(path) >= TRACK_TEXT_CAPACITY) return -1;
    if (dedupe) {
        int existing = track_list_find_path(path);
        if (existing >= 0) return existing;
    }
    // One file at a time (a download, a drop, a playlist's entry): read at once, without the
    // scan's cache.
    TrackTags* tags = (TrackTags*)malloc(sizeof(TrackTags) + sizeof(TrackShown));
    if (!tags) return -1;
    TrackShown* shown = (TrackShown*)(tags + 1);
    ScanFile file = {};
    WIN32_FILE_ATTRIBUTE_DATA facts;
    if (GetFileAttributesExW(path, GetFileExInfoStandard, &facts))
        file.created_minutes = file_time_minutes(facts.ftCreationTime.dwLowDateTime, facts.ftCreationTime.dwHighDateTime);
    scan_read_track(nullptr, 0, path, nullptr, &file, tags, shown);
    TrackInfo info = track_shown_info(shown, file.created_minutes);
    int index = track_list_add_info(path, &info, 0);
    free(tags);
    return index;
}

unsigned file_time_minutes(unsigned low, unsigned high) {
    unsigned long long t = ((unsigned long long)high << 32 | low) / 600000000ull;
    return t > 0xffffffffull ? 0xffffffffu : (unsigned)t;
}

void track_full_title(const Track* t, wchar_t* out, int capacity) {
    if (!out || capacity <= 0) return;
    out[0] = 0;
    if (!t) return;
    if (t->artist && t->artist[0]) wstr_format(out, capacity, L"%ls - %ls", t->artist, t->title);
    else wstr_copy(out, capacity, t->title);
}

int track_list_add_unique(const wchar_t* path) {
    return track_list_add(path, 1);
}

int track_list_set_title(int index, const wchar_t* title) {
    if (index < 0 || index >= g_tracks.count || !title) return 0;
    wchar_t artist[TRACK_TEXT_CAPACITY], own[TRACK_TEXT_CAPACITY];
    split_artist_title(title, artist, TRACK_TEXT_CAPACITY, own, TRACK_TEXT_CAPACITY);
    const wchar_t* stored = text_store(own, wcslen(own));
    const wchar_t* shared = stored ? shared_text(artist) : nullptr;
    if (!shared) return 0;
    g_tracks.items[index].title = stored;
    g_tracks.items[index].artist = shared;
    g_tracks.changes++;  // a filter made over the old title no longer holds
    return 1;
}

void track_list_remove(int index) {
    if (index < 0 || index >= g_tracks.count) return;
    memmove(&g_tracks.items[index], &g_tracks.items[index + 1],
            (size_t)(g_tracks.count - index - 1) * sizeof(Track));
    if (g_hashes)
        memmove(&g_hashes[index], &g_hashes[index + 1], (size_t)(g_tracks.count - index - 1) * sizeof(unsigned));
    g_tracks.count--;
    g_tracks.changes++;
}

void track_list_move(int from, int to) {
    if (from < 0 || to < 0 || from == to || from >= g_tracks.count || to >= g_tracks.count) return;
    Track moving = g_tracks.items[from];
    if (from < to)
        memmove(&g_tracks.items[from], &g_tracks.items[from + 1], (size_t)(to - from) * sizeof(Track));
    else
        memmove(&g_tracks.items[to + 1], &g_tracks.items[to], (size_t)(from - to) * sizeof(Track));
    g_tracks.items[to] = moving;
    if (g_hashes) {
        unsigned hash = g_hashes[from];
        if (from < to) memmove(&g_hashes[from], &g_hashes[from + 1], (size_t)(to - from) * sizeof(unsigned));
        else memmove(&g_hashes[to + 1], &g_hashes[to], (size_t)(from - to) * sizeof(unsigned));
        g_hashes[to] = hash;
    }
    g_tracks.changes++;
}

void track_list_clear(void) {
    g_tracks.count = 0;
    path_index_drop();
    shared_forget();
    text_rewind();
    g_tracks.changes++;
}

void track_list_free(void) {
    if (g_tracks.items) VirtualFree(g_tracks.items, 0, MEM_RELEASE);
    text_free();
    free(g_shared.slots);
    memset(&g_shared, 0, sizeof(g_shared));
    path_index_drop();
    free(g_hashes);
    g_hashes = nullptr;
    g_hash_capacity = 0;
    g_reserved_slots = 0;
    g_tracks.items = nullptr;
    g_tracks.count = 0;
    g_tracks.capacity = 0;
    g_tracks.changes++;
}

int track_list_count(void) {
    return g_tracks.count;
}

Track* track_list_at(int index) {
    if (index < 0 || index >= g_tracks.count) return nullptr;
    return &g_tracks.items[index];
}

int track_list_next_index(int current, int shuffle, int repeat) {
    int count = g_tracks.count;
    if (count <= 0) return -1;
    if (repeat == REPEAT_TRACK) return current < 0 ? 0 : current;
    if (!shuffle || count == 1) {
        if (current + 1 < count) return current + 1;
        return repeat == REPEAT_LIST ? 0 : -1;
    }
    int r = random_below(count);
    // Stepping past the current track keeps shuffle from playing it twice in a row.
    if (r == current) return (current + 1) % count;
    return r;
}

int track_list_prev_index(int current) {
    if (g_tracks.count <= 0) return -1;
    if (current <= 0) return g_tracks.count - 1;
    return current - 1;
}

int track_list_find_by_initial(wchar_t ch, int current) {
    int count = g_tracks.count;
    if (count <= 0) return -1;
    wchar_t wanted = turkish_lower_char(ch);
    int start = current + 1;
    if (start < 0) start = 0;
    for (int k = 0; k < count; k++) {
        const Track* t = &g_tracks.items[(start + k) % count];
        if (!t->title[0]) continue;
        if (turkish_lower_char(t->title[0]) == wanted) return (int)((start + k) % count);
    }
    return -1;
}

#include "library/track_order.h"

#include <stdlib.h>

#include <algorithm>

#include "library/shuffle_walk.h"

// A character's place in the alphabet: letters by their base letter (four apart, so that
// the Turkish letters fall in between), digits before letters, other signs before digits.
static unsigned sort_weight(wchar_t c) {
    if (c >= L'A' && c <= L'Z') c = (wchar_t)(c + 32);
    if (c >= L'a' && c <= L'z') return 1000 + (unsigned)(c - L'a') * 4;
    if (c >= L'0' && c <= L'9') return 500 + (unsigned)(c - L'0');
    if (c < 128) return 100 + c;
    switch (c) {
    case 0x00E7: case 0x00C7: return 1000 + 2 * 4 + 2;               // ç after c
    case 0x011F: case 0x011E: return 1000 + 6 * 4 + 2;               // ğ after g
    case 0x0131: return 1000 + 8 * 4 - 2;                            // ı before i
    case 0x0130: return 1000 + 8 * 4;                                // İ is i
    case 0x00F6: case 0x00D6: return 1000 + 14 * 4 + 2;              // ö after o
    case 0x015F: case 0x015E: return 1000 + 18 * 4 + 2;              // ş after s
    case 0x00FC: case 0x00DC: return 1000 + 20 * 4 + 2;              // ü after u
    }
    // Other accented Latin letters beside their base letter.
    static const char BASE[] = "aaaaaaxceeeeiiiidnooooo/ouuuuyty";  // U+00E0..U+00FF
    wchar_t lower = c;
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) lower = (wchar_t)(c + 32);
    if (lower >= 0x00E0 && lower <= 0x00FF) {
        char b = BASE[lower - 0x00E0];
        if (b >= 'a' && b <= 'z') return 1000 + (unsigned)(b - 'a') * 4 + 1;
    }
    return 2000 + c;
}

int sort_text_compare(const wchar_t* a, const wchar_t* b) {
    if (!a) a = L"";
    if (!b) b = L"";
    if (!a[0] || !b[0]) return (a[0] == 0) - (b[0] == 0);
    for (;; a++, b++) {
        if (!*a || !*b) return (*a != 0) - (*b != 0);
        unsigned wa = sort_weight(*a), wb = sort_weight(*b);
        if (wa != wb) return wa < wb ? -1 : 1;
    }
}

static int compare_numbers(int a, int b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// An album belongs to its album artist, or to its artist when the tags name none.
static const wchar_t* album_owner(const Track* t) {
    return t->album_artist[0] ? t->album_artist : t->artist;
}

int track_sort_compare(const Track* a, int a_index, const Track* b, int b_index, int mode) {
    int c = 0;
    switch (mode) {
    case SORT_TITLE:
        c = sort_text_compare(a->title, b->title);
        if (!c) c = sort_text_compare(a->artist, b->artist);
        break;
    case SORT_ARTIST:
    case SORT_ALBUM:
        c = mode == SORT_ARTIST ? sort_text_compare(a->artist, b->artist)
                                : sort_text_compare(album_owner(a), album_owner(b));
        if (!c) c = sort_text_compare(a->album, b->album);
        if (!c) c = compare_numbers(a->disc, b->disc);
        if (!c) c = compare_numbers(a->number, b->number);
        if (!c) c = sort_text_compare(a->title, b->title);
        break;
    case SORT_DURATION:
        // Unknown durations after the known ones.
        c = compare_numbers(a->duration_ms ? a->duration_ms : 0x7fffffff, b->duration_ms ? b->duration_ms : 0x7fffffff);
        if (!c) c = sort_text_compare(a->title, b->title);
        break;
    case SORT_ADDED:
        c = compare_numbers(b->added, a->added);  // the newest first
        break;
    }
    return c ? c : compare_numbers(a_index, b_index);
}

//~ The kept order

static struct {
    int* rows;
    int count, capacity;
    int mode;
    unsigned changes;
    int valid;
} g_order;

static void sort_rows(int* rows, int count, int mode) {
    const Track* items = g_tracks.items;
    std::sort(rows, rows + count, [items, mode](int x, int y) {
        return track_sort_compare(&items[x], x, &items[y], y, mode) < 0;
    });
}

static int order_sync(int mode) {
    int count = track_list_count();
    int same = g_order.valid && g_order.mode == mode && g_order.changes == g_tracks.changes && g_order.count <= count;
    if (same && g_order.count == count) return 1;
    if (g_order.capacity < count) {
        int grown = count + count / 2 + 256;
        int* rows = (int*)realloc(g_order.rows, (size_t)grown * sizeof(int));
        if (!rows) {
            g_order.valid = 0;
            return 0;
        }
        g_order.rows = rows;
        g_order.capacity = grown;
    }
    int first = same ? g_order.count : 0;
    for (int i = first; i < count; i++) g_order.rows[i] = i;
    if (mode != SORT_DISK) {
        // A scan hands tracks over in batches: the new ones are sorted among themselves and
        // merged in, a pass over the list rather than a sort of it per batch.
        sort_rows(g_order.rows + first, count - first, mode);
        if (first > 0) {
            const Track* items = g_tracks.items;
            std::inplace_merge(g_order.rows, g_order.rows + first, g_order.rows + count, [items, mode](int x, int y) {
                return track_sort_compare(&items[x], x, &items[y], y, mode) < 0;
            });
        }
    }
    g_order.count = count;
    g_order.mode = mode;
    g_order.changes = g_tracks.changes;
    g_order.valid = 1;
    return 1;
}

const int* track_order(int mode) {
    if (mode < 0 || mode >= SORT_MODES) mode = SORT_DISK;
    return order_sync(mode) ? g_order.rows : nullptr;
}

int track_order_row(int mode, int index) {
    if (index < 0 || index >= track_list_count()) return -1;
    const int* rows = track_order(mode);
    if (!rows) return index;
    for (int r = 0; r < g_order.count; r++)
        if (rows[r] == index) return r;
    return -1;
}

int track_order_next(int mode, int current, int shuffle, int repeat) {
    if (shuffle) return shuffle_walk_next(current, repeat);
    return track_order_peek_next(mode, current, 0, repeat);
}

int track_order_peek_next(int mode, int current, int shuffle, int repeat) {
    int count = track_list_count();
    if (shuffle) return shuffle_walk_peek(current, repeat);
    const int* rows = track_order(mode);
    if (!rows || count <= 0 || repeat == REPEAT_TRACK) return track_list_next_index(current, shuffle, repeat);
    int row = track_order_row(mode, current);
    if (row < 0) return rows[0];
    if (row + 1 < count) return rows[row + 1];
    return repeat == REPEAT_LIST ? rows[0] : -1;
}

int track_order_prev(int mode, int current, int shuffle) {
    if (shuffle) {
        int before = shuffle_walk_prev(current);
        if (before >= 0) return before;
    }
    int count = track_list_count();
    const int* rows = track_order(mode);
    if (!rows || count <= 0) return track_list_prev_index(current);
    int row = track_order_row(mode, current);
    if (row <= 0) return rows[count - 1];
    return rows[row - 1];
}

void track_order_free(void) {
    free(g_order.rows);
    g_order.rows = nullptr;
    g_order.count = g_order.capacity = 0;
    g_order.valid = 0;
}

// The rows the list shows: the tracks in the chosen order, less those the search box leaves
// out. Kept up with typing over 100,000 tracks: a text typed on from an earlier one looks
// only at the rows that one passed, and the rows of the texts typed on the way are kept, so
// that deleting back to them costs a copy.
#include <stdlib.h>
#include <string.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "base/wstr.h"
#include "library/matching.h"
#include "library/track_order.h"
#include "library/track_list.h"

// The rows of one text, valid for the list as it was (changes and count) when made.
struct FilterLevel {
    wchar_t text[FILTER_TEXT_CAPACITY];
    int key_length;
    int* rows;
    int count, capacity;
};

enum { FILTER_LEVELS_MAX = 12 };

static struct {
    FilterLevel levels[FILTER_LEVELS_MAX];  // texts, each a prefix of the next
    int used;
    unsigned changes;
    int tracks;
    int sort;
} g_levels;

static void levels_forget(void) {
    g_levels.used = 0;
}

static int room_for(int** rows, int* capacity, int count) {
    if (*capacity >= count) return 1;
    int* grown = (int*)realloc(*rows, (size_t)(count + 4096) * sizeof(int));
    if (!grown) return 0;
    *rows = grown;
    *capacity = count + 4096;
    return 1;
}

// Keeps the rows just made for text, as the deepest level. Levels that are not prefixes of
// text belong to another line of typing and go.
static void levels_keep(const wchar_t* text, int key_length, const int* rows, int count) {
    int keep = 0;
    while (keep < g_levels.used && !wcsncmp(text, g_levels.levels[keep].text, wcslen(g_levels.levels[keep].text)) &&
           wcscmp(text, g_levels.levels[keep].text))
        keep++;
    g_levels.used = keep;
    if (g_levels.used == FILTER_LEVELS_MAX) {
        // The shortest texts pass the most rows, and are the ones deleting back reaches
        // last: the second level makes room.
        FilterLevel dropped = g_levels.levels[1];
        memmove(&g_levels.levels[1], &g_levels.levels[2], (FILTER_LEVELS_MAX - 2) * sizeof(FilterLevel));
        g_levels.levels[FILTER_LEVELS_MAX - 1] = dropped;
        g_levels.used--;
    }
    FilterLevel* l = &g_levels.levels[g_levels.used];
    if (!room_for(&l->rows, &l->capacity, count)) return;
    memcpy(l->rows, rows, (size_t)count * sizeof(int));
    l->count = count;
    wstr_copy(l->text, text);
    l->key_length = key_length;
    g_levels.used++;
}

// The deepest kept level whose rows hold every row text passes: text starts with its text,
// and its text had a key (a title found by key for the longer text has the shorter key
// too) or text has none.
static const FilterLevel* levels_find(const wchar_t* text, int key_length) {
    if (g_levels.changes != g_tracks.changes || g_levels.tracks != track_list_count() || g_levels.sort != g_settings.sort) {
        levels_forget();
        return nullptr;
    }
    for (int i = g_levels.used - 1; i >= 0; i--) {
        const FilterLevel* l = &g_levels.levels[i];
        if (wcsncmp(text, l->text, wcslen(l->text)) != 0) continue;
        if (l->key_length > 0 || key_length == 0) return l;
    }
    return nullptr;
}

// The sorted order with nothing left out is shown through the rows too.
static int rows_needed(void) {
    return g_app.filter.text[0] != 0 || g_settings.sort != SORT_DISK;
}

void rebuild_filter_rows(void) {
    SearchFilter* f = &g_app.filter;
    f->active = rows_needed();
    f->filtered_count = 0;
    if (!f->active) return;
    FilterPlan plan;
    filter_plan_make(f->text, &plan);
    FilterMemo memo = FILTER_MEMO_START;
    const wchar_t* root = g_settings.last_folder;
    int count = track_list_count();
    room_for(&f->filtered_indices, &f->filtered_capacity, count);
    const int* order = track_order(g_settings.sort);
    const FilterLevel* from = levels_find(f->text, plan.key_length);
    if (from && !wcscmp(from->text, f->text) && from->count <= f->filtered_capacity) {
        memcpy(f->filtered_indices, from->rows, (size_t)from->count * sizeof(int));
        f->filtered_count = from->count;
    } else if (from && from->count <= f->filtered_capacity) {
        for (int r = 0; r < from->count; r++) {
            int i = from->rows[r];
            if (track_passes_filter(&g_tracks.items[i], &plan, root, &memo)) f->filtered_indices[f->filtered_count++] = i;
        }
    } else {
        for (int r = 0; r < count && f->filtered_count < f->filtered_capacity; r++) {
            int i = order ? order[r] : r;
            if (!f->text[0] || track_passes_filter(&g_tracks.items[i], &plan, root, &memo))
                f->filtered_indices[f->filtered_count++] = i;
        }
    }
    // Rows cut short by memory would make what is narrowed from them wrong too.
    if (f->filtered_capacity < count) {
        levels_forget();
        return;
    }
    g_levels.changes = g_tracks.changes;
    g_levels.tracks = count;
    g_levels.sort = g_settings.sort;
    levels_keep(f->text, plan.key_length, f->filtered_indices, f->filtered_count);
}

void filter_tracks_appended(int first) {
    SearchFilter* f = &g_app.filter;
    if (f->active && g_settings.sort != SORT_DISK) {
        // New tracks take their places among the old: the order merges them in.
        levels_forget();
        rebuild_filter_rows();
        return;
    }
    if (f->active) {
        // Tracks only came at the end: the rows before keep their places, and a scan of
        // 100,000 tracks costs each track one match rather than each batch the whole list.
        int count = track_list_count();
        room_for(&f->filtered_indices, &f->filtered_capacity, count);
        FilterPlan plan;
        filter_plan_make(f->text, &plan);
        FilterMemo memo = FILTER_MEMO_START;
        for (int i = first; i < count && f->filtered_count < f->filtered_capacity; i++)
            if (track_passes_filter(&g_tracks.items[i], &plan, g_settings.last_folder, &memo))
                f->filtered_indices[f->filtered_count++] = i;
    }
    // The kept levels lack the new tracks.
    levels_forget();
}

#include "library/shuffle_walk.h"

#include <stdlib.h>

#include "library/track_list.h"

// order[0..position] have played in this round; history holds what played before current,
// newest last, for Previous.
static struct {
    int* order;
    int count;
    int position;
    unsigned changes;  // g_tracks.changes when the order was made
    int* history;
    int history_count, history_capacity;
    // The next round was drawn ahead (to prepare its first track) and none of it has played:
    // the track playing now belongs to the round before.
    int round_drawn;
} g_walk;

static int grow(int** array, int* capacity, int needed) {
    if (*capacity >= needed) return 1;
    int grown = needed + needed / 2 + 16;
    int* bigger = (int*)realloc(*array, (size_t)grown * sizeof(int));
    if (!bigger) return 0;
    *array = bigger;
    *capacity = grown;
    return 1;
}

// A new random order of every track, with first (when it is one) in front as played.
static int new_order(int first) {
    int count = track_list_count();
    free(g_walk.order);
    g_walk.order = (int*)malloc((size_t)(count > 0 ? count : 1) * sizeof(int));
    g_walk.count = 0;
    if (!g_walk.order) return 0;
    for (int i = 0; i < count; i++) g_walk.order[i] = i;
    for (int i = count - 1; i > 0; i--) {  // Fisher-Yates
        int j = track_list_random_below(i + 1);
        int t = g_walk.order[i];
        g_walk.order[i] = g_walk.order[j];
        g_walk.order[j] = t;
    }
    g_walk.count = count;
    g_walk.position = -1;
    g_walk.round_drawn = 0;
    g_walk.changes = g_tracks.changes;
    if (first >= 0 && first < count) {
        for (int i = 0; i < count; i++)
            if (g_walk.order[i] == first) {
                g_walk.order[i] = g_walk.order[0];
                g_walk.order[0] = first;
            }
        g_walk.position = 0;
    }
    return 1;
}

// Tracks that came at the end of the list join the part of the round still to play, in
// random places.
static int take_appended(void) {
    int count = track_list_count();
    int* order = (int*)realloc(g_walk.order, (size_t)count * sizeof(int));
    if (!order) return 0;
    g_walk.order = order;
    for (int i = g_walk.count; i < count; i++) order[i] = i;
    for (int i = count - 1; i > g_walk.position + 1; i--) {
        int j = g_walk.position + 1 + track_list_random_below(i - g_walk.position);
        int t = order[i];
        order[i] = order[j];
        order[j] = t;
    }
    g_walk.count = count;
    return 1;
}

// The walk made current with the list: removals and moves change what indices mean, so the
// order and the history start again; tracks that only came at the end join the round. A
// track picked by hand joins what has played.
static int walk_ready(int current) {
    int count = track_list_count();
    if (g_walk.changes != g_tracks.changes) g_walk.history_count = 0;
    if (g_walk.order && g_walk.changes == g_tracks.changes && g_walk.count < count && !take_appended()) return 0;
    if (!g_walk.order || g_walk.changes != g_tracks.changes || g_walk.count != count) return new_order(current);
    if (g_walk.round_drawn) return 1;
    if (current < 0 || (g_walk.position >= 0 && g_walk.order[g_walk.position] == current)) return 1;
    for (int i = 0; i < count; i++) {
        if (g_walk.order[i] != current) continue;
        if (i > g_walk.position) {
            g_walk.position++;
            g_walk.order[i] = g_walk.order[g_walk.position];
            g_walk.order[g_walk.position] = current;
        }
        break;
    }
    return 1;
}

static void remember(int played) {
    if (played < 0) return;
    if (grow(&g_walk.history, &g_walk.history_capacity, g_walk.history_count + 1))
        g_walk.history[g_walk.history_count++] = played;
}

// A new round, whose first track is never the one that just played.
static int draw_round(int current) {
    int count = track_list_count();
    if (!new_order(-1)) return 0;
    if (count > 1 && g_walk.order[0] == current) {
        int j = 1 + track_list_random_below(count - 1);
        g_walk.order[0] = g_walk.order[j];
        g_walk.order[j] = current;
    }
    g_walk.round_drawn = 1;
    return 1;
}

// The walk's next track without taking it; draws the next round when this one is over.
static int walk_upcoming(int current, int repeat) {
    int count = track_list_count();
    if (g_walk.position + 1 >= count) {
        if (repeat != REPEAT_LIST || !draw_round(current)) return -1;
    }
    int next = g_walk.order[g_walk.position + 1];
    if (next == current && count - g_walk.position - 2 > 0) {
        // A track picked by hand after the round was drawn may stand first in it.
        int j = g_walk.position + 2 + track_list_random_below(count - g_walk.position - 2);
        g_walk.order[g_walk.position + 1] = g_walk.order[j];
        g_walk.order[j] = next;
        next = g_walk.order[g_walk.position + 1];
    }
    return next;
}

int shuffle_walk_next(int current, int repeat) {
    int count = track_list_count();
    if (count <= 0) return -1;
    if (repeat == REPEAT_TRACK) return current < 0 ? 0 : current;
    if (!walk_ready(current)) return track_list_next_index(current, 1, repeat);
    int next = walk_upcoming(current, repeat);
    if (next < 0) return -1;
    g_walk.position++;
    g_walk.round_drawn = 0;
    remember(current);
    return next;
}

int shuffle_walk_peek(int current, int repeat) {
    int count = track_list_count();
    if (count <= 0) return -1;
    if (repeat == REPEAT_TRACK) return current < 0 ? 0 : current;
    if (!walk_ready(current)) return -1;
    return walk_upcoming(current, repeat);
}

int shuffle_walk_prev(int current) {
    walk_ready(current);
    while (g_walk.history_count > 0) {
        int before = g_walk.history[--g_walk.history_count];
        if (before != current && before < track_list_count()) return before;
    }
    return -1;
}

void shuffle_walk_reset(void) {
    g_walk.count = 0;
    g_walk.round_drawn = 0;
    g_walk.history_count = 0;
    free(g_walk.order);
    g_walk.order = nullptr;
}

void shuffle_walk_free(void) {
    shuffle_walk_reset();
    free(g_walk.history);
    g_walk.history = nullptr;
    g_walk.history_capacity = 0;
}

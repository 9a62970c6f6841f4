#pragma once
// The order the list shows and plays its tracks in: the order on disk (the list's own, which
// dragging changes), or sorted by title, artist, album, duration or the date the file came.
// Main thread, like the list.
#include "library/track_list.h"

enum { SORT_DISK = 0, SORT_TITLE, SORT_ARTIST, SORT_ALBUM, SORT_DURATION, SORT_ADDED, SORT_MODES };

// Texts in the order of the Turkish alphabet (c ç, g ğ, ı i, o ö, s ş, u ü), without regard
// to case; accented Latin letters beside their base letter; an empty text after all others.
int sort_text_compare(const wchar_t* a, const wchar_t* b);
// Two tracks in a mode: <0 when a comes first. Ties fall back on the order on disk, so each
// mode gives one order.
int track_sort_compare(const Track* a, int a_index, const Track* b, int b_index, int mode);

// The shown order: the track index of each row. Kept up with the list: tracks appended are
// merged in where they belong, any other change (or another mode) sorts again. Null when
// memory ran out (the order on disk is then the one shown).
const int* track_order(int mode);
// The row of track index in the order, -1 when none.
int track_order_row(int mode, int index);
// What follows current in the order: track_list_next_index's rules (repeat) over rows instead
// of indices; with shuffle, the shuffle walk's next track (shuffle_walk.h).
int track_order_next(int mode, int current, int shuffle, int repeat);
// What track_order_next would give now, leaving the shuffle walk as it is.
int track_order_peek_next(int mode, int current, int shuffle, int repeat);
// What comes before current: with shuffle, what played before it, else (or when nothing
// did) the row before it in the order (the last row before the first).
int track_order_prev(int mode, int current, int shuffle);
void track_order_free(void);

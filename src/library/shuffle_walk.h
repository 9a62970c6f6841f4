#pragma once
// Shuffle as a walk through a random order of the whole list: every track plays once before
// any plays again, the walk ends after the last one unless the list repeats, and Previous
// goes back through what was played. Main thread, like the list.

// The track after current (-1: none playing) with shuffle on; repeat as the settings have it
// (REPEAT_TRACK gives current again). -1 when the walk has ended. The track it gives is taken
// as played: call it only for a track that will play.
int shuffle_walk_next(int current, int repeat);
// What shuffle_walk_next would give now, without taking it (-1 when the walk ends or cannot
// say): what is prepared to follow is then what plays.
int shuffle_walk_peek(int current, int repeat);
// The track played before current, going back through the walk; -1 when nothing was.
int shuffle_walk_prev(int current);
// Forgets the walk (the next call starts a new order).
void shuffle_walk_reset(void);
void shuffle_walk_free(void);

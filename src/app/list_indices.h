#pragma once
// How the playing and the focused row follow changes of the list, so that the track that
// plays keeps playing and no index points past the list.

struct ListIndices {
    int current;   // track in the player, -1 none
    int selected;  // focused row, -1 none
};

// After the track at removed was taken out of a list that now holds count tracks.
// Returns 1 when the removed track was the one playing (the caller stops the player).
int indices_after_remove(ListIndices* ix, int removed, int count);

// After the track at from was moved to to.
void indices_after_move(ListIndices* ix, int from, int to);

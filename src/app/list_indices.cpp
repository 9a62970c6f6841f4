#include "app/list_indices.h"

int indices_after_remove(ListIndices* ix, int removed, int count) {
    int stopped = 0;
    if (removed == ix->current) {
        ix->current = -1;
        stopped = 1;
    } else if (removed < ix->current) {
        ix->current--;
    }
    if (removed < ix->selected) ix->selected--;
    if (ix->selected >= count) ix->selected = count - 1;
    return stopped;
}

void indices_after_move(ListIndices* ix, int from, int to) {
    if (ix->current == from) ix->current = to;
    else if (from < ix->current && ix->current <= to) ix->current--;
    else if (to <= ix->current && ix->current < from) ix->current++;
    ix->selected = to;
}

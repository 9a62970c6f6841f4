#pragma once
// Where the user left off: the current track and its place, kept at exit and offered again,
// paused, at the next start.

// At exit: keeps the current track and its position in the settings (and saves them).
void resume_remember(void);
// At start, once the list is filled: selects the remembered track and holds it paused at
// its place. A track no longer in the list or on the disk, or a place past its end, is
// forgotten and the start is as without it.
void resume_restore(void);

#pragma once
// Telling tracks apart by what their titles say.
#include <wchar.h>

// "Artist - Title": the artist is the text before the first " - " (when it is not at the
// very start and something follows it), the title the rest; otherwise all of it is the
// title. Both are cut to their capacity and trimmed of blanks and tabs.
void split_artist_title(const wchar_t* text, wchar_t* artist, int artist_capacity, wchar_t* title,
                        int title_capacity);

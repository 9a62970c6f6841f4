#pragma once
// Turns a downloaded file's name (or a bare video title) into the clean title the list
// shows and matching compares: site prefixes, video ids, "(Official Video)" groups,
// hashtags and producer handles go; "artist-song-title" runs become "Artist - Song Title".
// A pure function of its input; safe on any thread.
#include <wchar.h>

enum { TITLE_WORK_CAPACITY = 512 };

// The title of a name: a file name or a bare title, taken whole ("AC/DC - Thunderstruck"
// keeps its slash). Writes at most capacity-1 characters and a terminator into out;
// nothing at all when name is absent or empty, out is absent or capacity is not positive.
// The result may be empty.
void make_display_title(const wchar_t* name, wchar_t* out, int capacity);

// The title of a file's path: the same, made from its file-name part only.
void make_path_display_title(const wchar_t* path, wchar_t* out, int capacity);

// Removes, in place, the bracket groups that hold a video id or a junk word
// ("official", "lyrics", "4k", a record label...).
void remove_junk_groups(wchar_t* text, wchar_t opener, wchar_t closer);

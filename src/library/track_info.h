#pragma once
// How a file's tags, its name and its folders become what the list shows: the title, the
// artist, the album and the numbers. A pure function of its inputs, any thread; reading the
// file is the caller's (tag_file.h, or the tag cache).
#include <wchar.h>

#include "library/tags.h"
#include "library/track_list.h"

struct TrackShown {
    wchar_t title[TRACK_TEXT_CAPACITY];
    wchar_t artist[TAG_TEXT_CAPACITY];
    wchar_t album[TAG_TEXT_CAPACITY];
    wchar_t album_artist[TAG_TEXT_CAPACITY];
    int number, disc, duration_ms;
    unsigned flags;  // TRACK_NAME_DIFFERS
};

// What the list shows for the file at path, found under the music folder root (null or ""
// when it was not: then only the folders right above a numbered name are read), with the
// tags read from it (null when none could be read).
//  - A tag's title, artist and album win; an artist missing from the tags is the album
//    artist's.
//  - Without them the name decides: today's rules for downloaded names ("Artist - Title
//    [id]"), and the album layout "Artist\Album\NN - Title" (also "NN Title", "NN. Title"),
//    whose leading track number goes and whose artist and album come from the folders.
void track_shown_make(const wchar_t* path, const wchar_t* root, const TrackTags* tags, TrackShown* out);

// The TrackInfo of a shown record, pointing into it.
TrackInfo track_shown_info(const TrackShown* shown, unsigned added);

// The leading track number of a file name's stem, and where the rest begins: "01 - Title",
// "01. Title", "01 Title", "1-01 Title" (disc and track). Returns the number (0 when none)
// and sets *rest. in_album says the file sits in a folder of its own below the music folder,
// where a bare "12 Title" is a track number rather than part of the title.
int leading_track_number(const wchar_t* stem, int in_album, const wchar_t** rest);

// The list's second line: "artist • album", either alone when the other is unknown, or
// "Yerel Parça" when both are.
void track_second_line(const Track* t, wchar_t* out, int capacity);
// A duration as the list shows it at the right of a row: "3:07", "1:02:05"; "" when unknown.
void format_track_duration(wchar_t* out, int capacity, int duration_ms);

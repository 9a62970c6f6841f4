#pragma once
// A track known only by its title and video id: what playlist import, the shared-playlist
// queue and the Jam fetch pass around until a local file is found or downloaded.
#include <wchar.h>

enum { WANTED_TITLE_CAPACITY = 256, WANTED_ID_CAPACITY = 16 };

struct WantedTrack {
    wchar_t title[WANTED_TITLE_CAPACITY];
    wchar_t video_id[WANTED_ID_CAPACITY];
};

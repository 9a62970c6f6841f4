#pragma once
// The video site whose addresses a playlist may carry instead of a file path. Every place
// that reads or builds one of its addresses takes the host names from here.
#include <wchar.h>

// Watch pages: "https://www.youtube.com/watch?v=<id>".
static const wchar_t YOUTUBE_WATCH_HOST[] = L"www.youtube.com";
// Short links: "https://youtu.be/<id>".
static const wchar_t YOUTUBE_SHORT_HOST[] = L"youtu.be";

// Every host a watch page is shared from: the site's own links drop the "www.", phones
// share "m." addresses and the music front end "music." ones.
static const wchar_t* const YOUTUBE_WATCH_HOSTS[] = {
    YOUTUBE_WATCH_HOST,
    L"youtube.com",
    L"m.youtube.com",
    L"music.youtube.com",
};
enum { YOUTUBE_WATCH_HOST_COUNT = sizeof(YOUTUBE_WATCH_HOSTS) / sizeof(YOUTUBE_WATCH_HOSTS[0]) };

#pragma once
// A media source that begins at a chosen position. Some versions of the simple player
// (Wine's) cannot change the playback position; handing them a source that starts where the
// track should start gives start positions and seeks all the same.
#include <windows.h>

struct IMFMediaSource;

// Opens path as a media source whose first start begins at start_ms, clamped the way a seek
// (seek set) or an open is clamped near the end. Writes the source and the position it will
// start at; 1 on success.
int offset_source_create(const wchar_t* path, int start_ms, int seek, IMFMediaSource** out, int* start_used_ms);

#pragma once
// Which folder is the music folder: the shell decides, creates and saves it; the library
// and the downloads are handed the folder they work in.
#include <wchar.h>

// The configured music folder, or "Müzikler" beside the executable (created, and saved as
// the configured folder) when none is configured or the configured one is gone. 0, with
// buf empty and nothing saved, when that folder cannot be created.
int resolve_music_folder(wchar_t* buf);

// Whether path names an existing audio file directly in folder: a downloader's word is
// taken only for a file where it was told to write.
int is_audio_file_in(const wchar_t* path, const wchar_t* folder);

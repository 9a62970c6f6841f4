#pragma once
// Files the user hands the program from outside: named on its command line, passed on by a
// later start of the program (Explorer's "Open with", a double-click on an associated file)
// or dropped on the window. All three are opened here, alike. Main thread.
#include <windows.h>

// What a given path is to the program.
enum { GIVEN_SKIPPED, GIVEN_FOLDER, GIVEN_PLAYLIST, GIVEN_AUDIO, GIVEN_OTHER };

//~ Decisions

// The kind of path from its file attributes (INVALID_FILE_ATTRIBUTES when they could not be
// read) and its name.
int given_file_kind(const wchar_t* path, DWORD attributes);
// Which of the given paths starts playing: the first audio file, -1 when there is none. One
// song opened from Explorer is one the user means to hear, as in every player; several start
// with the first. Folders, playlists and other files play nothing.
int given_file_to_play(const int* kinds, int count);

//~ Opening

// Opens paths in order: folders are scanned when scan_folders is set (drops) and skipped
// otherwise, playlists imported, other files added without duplicates; the file chosen above
// then plays. Whatever waits for a scan asked before it waits, the playing included.
void given_files_open(const wchar_t* const* paths, int count, int scan_folders);
// One path of those: play set for the one that is to play once it is in the list.
void open_file_argument(const wchar_t* path, int scan_folders, int play);

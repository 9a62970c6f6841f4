#pragma once
// The user's settings, kept in "config.json" in the current directory with a mirror in
// "%APPDATA%\Nelvo". Written after every change, and at exit for where the user left off:
// the track to resume and the window's place.
#include "app/app_state.h"

#define CONFIG_FILE_NAME L"config.json"
enum { CONFIG_MAX_BYTES = 65536, DEFAULT_VOLUME = 80 };

void settings_defaults(Settings* s);

// Reads the keys out of a terminated text with a tolerant key search: keys may stand
// anywhere and in any order, the first occurrence wins, damaged values keep the defaults
// set before. Not a JSON parser on purpose.
void settings_parse(const char* text, Settings* s);

// Writes the file format into out: seven lines, then the resume keys, the sort, the
// downloader's last self-update and the window's place when there are any. Returns the byte
// count, or -1 if it does not fit.
int settings_format(const Settings* s, char* out, int capacity);

// Fills s from file_name, restoring the working copy from the mirror when it is missing.
void load_settings(Settings* s, const wchar_t* file_name);

// Writes file_name and refreshes the mirror. The new content goes to a temporary file that
// then replaces the working copy, so an interrupted save never leaves a cut file behind.
void save_settings(const Settings* s, const wchar_t* file_name);

// "%APPDATA%\Nelvo" into buf; 0 when APPDATA is missing, empty or too long.
int settings_mirror_folder(wchar_t* buf, int capacity);

#pragma once
// The user's settings, kept in "config.json" in the current directory with a mirror in
// "%APPDATA%\Nelvo". Written after every change, never at exit.
#include <wchar.h>

struct Settings {
    wchar_t last_folder[260];  // the music folder
    int volume;                // 0..100
    int shuffle;               // 0 or 1
    int repeat;                // 0 stop at the end, 1 repeat the list, 2 repeat the track
    int jam_keep_downloads;    // keep tracks downloaded during a Jam after leaving it
};

#define CONFIG_FILE_NAME L"config.json"
enum { CONFIG_MAX_BYTES = 65536, DEFAULT_VOLUME = 80 };

extern Settings g_settings;  // main thread

void settings_defaults(Settings* s);

// Reads the keys out of a terminated text with a tolerant key search: keys may stand
// anywhere and in any order, the first occurrence wins, damaged values keep the defaults
// set before. Not a JSON parser on purpose.
void settings_parse(const char* text, Settings* s);

// Writes the seven-line file format into out; returns the byte count, or -1 if it does not fit.
int settings_format(const Settings* s, char* out, int capacity);

// Fills s from file_name, restoring the working copy from the mirror when it is missing.
void load_settings(Settings* s, const wchar_t* file_name);

// Writes file_name and refreshes the mirror. The new content goes to a temporary file that
// then replaces the working copy, so an interrupted save never leaves a cut file behind.
void save_settings(const Settings* s, const wchar_t* file_name);

// "%APPDATA%\Nelvo" into buf; 0 when APPDATA is missing, empty or too long.
int settings_mirror_folder(wchar_t* buf, int capacity);

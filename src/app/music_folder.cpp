#include "app/music_folder.h"

#include <windows.h>

#include "app/library_watch.h"
#include "app/settings.h"
#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/folder_scan.h"

int resolve_music_folder(wchar_t* buf) {
    if (folder_exists(g_settings.last_folder)) {
        wstr_copy(buf, 260, g_settings.last_folder);
        return 1;
    }
    wchar_t exe_folder[260];
    program_folder(exe_folder, 260);
    wstr_format(buf, 260, L"%ls\\%ls", exe_folder, DEFAULT_MUSIC_FOLDER_NAME);
    // A folder that could not be made (a read-only program folder) is not remembered: every
    // download into it would fail.
    if (!CreateDirectoryW(buf, nullptr) && !folder_exists(buf)) {
        buf[0] = 0;
        return 0;
    }
    wstr_copy(g_settings.last_folder, buf);
    save_settings(&g_settings, CONFIG_FILE_NAME);
    library_watch_follow(buf);
    return 1;
}

int is_audio_file_in(const wchar_t* path, const wchar_t* folder) {
    const wchar_t* name = nullptr;
    for (const wchar_t* c = path; *c; c++)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    if (!name || !name[0] || !has_audio_extension(name)) return 0;
    int folder_length = (int)wcslen(folder);
    while (folder_length > 0 && (folder[folder_length - 1] == L'\\' || folder[folder_length - 1] == L'/'))
        folder_length--;
    if (folder_length == 0 || (int)(name - path) != folder_length + 1) return 0;
    if (CompareStringOrdinal(path, folder_length, folder, folder_length, TRUE) != CSTR_EQUAL) return 0;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}


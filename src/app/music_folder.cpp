#include "app/music_folder.h"

#include <windows.h>

#include "app/settings.h"
#include "base/wstr.h"
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
    return 1;
}

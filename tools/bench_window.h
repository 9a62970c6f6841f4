#pragma once
// The real main window for a benchmark: music_folder saved as the music folder in the
// current folder's config.json, the process set up as the program sets itself up, and the
// transport and the update check pointed where nothing answers instead of the public hosts.
#include <windows.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "base/wstr.h"
#include "net/mqtt.h"
#include "update/updater.h"

inline HWND open_bench_window(const wchar_t* music_folder, const wchar_t* command_line) {
    Settings s;
    settings_defaults(&s);
    wstr_copy(s.last_folder, music_folder);
    save_settings(&s, CONFIG_FILE_NAME);
    app_process_setup();
    app_state_init(&g_app);
    for (int i = 0; i < MQTT_LINK_COUNT; i++) mqtt_set_broker(i, "127.0.0.1", 1);
    update_set_server(L"");
    return main_window_create(GetModuleHandleW(nullptr), SW_SHOWNORMAL, command_line);
}

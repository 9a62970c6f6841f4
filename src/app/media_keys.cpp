#include "app/media_keys.h"

#include "app/play_queue.h"

static const struct {
    int id;
    UINT key;
} KEYS[] = {
    {HOTKEY_PLAY_PAUSE, VK_MEDIA_PLAY_PAUSE},
    {HOTKEY_NEXT, VK_MEDIA_NEXT_TRACK},
    {HOTKEY_PREVIOUS, VK_MEDIA_PREV_TRACK},
    {HOTKEY_STOP, VK_MEDIA_STOP},
};

static int g_registered[4];

int media_keys_register(HWND window) {
    int got = 0;
    for (int i = 0; i < 4; i++) {
        if (!g_registered[i]) g_registered[i] = RegisterHotKey(window, KEYS[i].id, MOD_NOREPEAT, KEYS[i].key) != 0;
        got += g_registered[i];
    }
    return got;
}

void media_keys_release(HWND window) {
    for (int i = 0; i < 4; i++) {
        if (g_registered[i]) UnregisterHotKey(window, KEYS[i].id);
        g_registered[i] = 0;
    }
}

int on_hotkey(WPARAM id) {
    switch (id) {
    case HOTKEY_PLAY_PAUSE: toggle_play_media_key(); return 1;
    case HOTKEY_NEXT: play_next(); return 1;
    case HOTKEY_PREVIOUS: play_previous(); return 1;
    case HOTKEY_STOP: stop_playback(); return 1;
    }
    return 0;
}

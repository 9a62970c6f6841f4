#pragma once
// The shell's state records: what the main window shows, what the user is doing and the
// settings. Owned by the main thread. The painter reads them (the one header of app/ that a
// lower folder may include); nothing below the painter sees them.
#include <windows.h>

#include "base/spring.h"
#include "base/wanted_track.h"

enum { NOW_PLAYING_CAPACITY = 128, FILTER_TEXT_CAPACITY = 128, MULTI_SELECT_LIMIT = 4096 };
enum { BANNER_TITLE_CAPACITY = 160, BANNER_SUBTITLE_CAPACITY = 256 };
enum { FRIEND_TAG_CAPACITY = 64, FRIEND_NOTICE_CAPACITY = 128, JAM_TEMP_FILES_MAX = 32 };

// How long a scan runs before the list's header says it is scanning.
enum { SCAN_NOTICE_DELAY_MS = 400 };

enum { BANNER_HIDDEN = 0, BANNER_DOWNLOAD = 1, BANNER_SHARED = 2, BANNER_UPDATE = 3 };

// The off-screen picture every frame is drawn into before one copy to the window.
struct BackBuffer {
    HDC dc;
    HBITMAP bitmap;
    HBITMAP old_bitmap;
    unsigned* pixels;  // 32-bit, top-down, alpha byte always 0xFF
    int width;
    int height;
};

// The progress and notice banner above the list.
struct StatusBanner {
    int state;  // BANNER_*
    int percent;
    wchar_t title[BANNER_TITLE_CAPACITY];
    wchar_t subtitle[BANNER_SUBTITLE_CAPACITY];
    DWORD hide_at;  // tick count after which the banner hides; 0 keeps it
};

// The search box text applied to the list. While active, list rows are positions in
// filtered_indices; otherwise rows are track indices.
struct SearchFilter {
    wchar_t text[FILTER_TEXT_CAPACITY];
    int active;
    int* filtered_indices;
    int filtered_count;
    int filtered_capacity;  // grows to the track count plus 256 when too small
};

// The main window's place when the program last closed, in screen pixels: its rectangle
// while neither minimized nor maximized, and whether it was maximized.
struct SavedWindow {
    int known;  // 0 until a window has had a place: nothing is written then
    int x, y, width, height;
    int maximized;
};

// The user's settings (see settings.h for their file).
struct Settings {
    wchar_t last_folder[260];  // the music folder
    int volume;                // 0..100
    int shuffle;               // 0 or 1
    int repeat;                // 0 stop at the end, 1 repeat the list, 2 repeat the track
    int sort;                  // the list's order: SORT_DISK, SORT_TITLE...
    int jam_keep_downloads;    // keep tracks downloaded during a Jam after leaving it
    wchar_t resume_path[260];  // the track that was current at the last exit; "" none
    int resume_ms;             // and where it stood
    int resume_length_ms;      // and how long it was
    long long downloader_checked;  // the downloader's last self-update attempt, seconds since 1970; 0 never
    SavedWindow window;
};

extern Settings g_settings;  // main thread

struct AppState {
    //~ Window
    HWND main_window;  // written once before any worker starts; read by workers to post
    int dpi;
    int window_active;
    int window_minimized;
    int animating;
    DWORD last_input_tick;
    BackBuffer back_buffer;
    HWND search_box;
    HWND tag_box;
    HWND name_box;
    HBRUSH edit_brush;
    HICON window_icon;  // the program icon at 36 DIPs, drawn in the header
    int tick_period;    // current period of TIMER_TICK, 0 when stopped
    DWORD last_frame_tick;
    DWORD last_ping_tick;
    unsigned tick_count;    // TIMER_TICK ticks so far
    DWORD clock_painted_at; // the player bar's time was last repainted by the tick
    float seek_shown_seconds;
    int shared_queue_lock_ready;
    RECT window_normal;  // the window's rectangle when last neither minimized nor maximized
    int window_placed;   // the window shows at its start place: later changes are the user's

    //~ List and player
    int current_index;   // track in the player, -1 none
    int selected_index;  // keyboard cursor and context-menu target, -1 none
    int hover_row;
    int hover_menu_item;
    int hover_id;
    int pressed_id;
    int scrollbar_hover;
    int last_volume;  // last volume above 0, restored by unmute
    int now_playing;
    wchar_t now_playing_title[NOW_PLAYING_CAPACITY];
    // The current track's picture (app/cover_art.h), decoded when the track starts: a
    // top-down 32-bit premultiplied BGRA DIB section of cover_side a side; null for none.
    HBITMAP cover_bitmap;
    int cover_side;
    int applying_sync;        // a play request comes from a Jam message: do not echo it
    int failed_in_row;        // tracks that could not be played one after another
    unsigned playing_generation;  // the player's generation of current_index's track
    unsigned near_end_generation;  // the generation whose end is near: its follower is prepared

    SearchFilter filter;

    //~ Library scan
    int scan_running;        // the scan worker fills the list
    DWORD scan_started_tick;
    int scan_files;          // audio files it has found so far

    //~ Multi-selection
    int multi_select_mode;
    unsigned char multi_selected[MULTI_SELECT_LIMIT];  // tracks 4096 and above cannot be marked

    StatusBanner banner;

    //~ Animation
    Spring scroll_offset;
    float scroll_target;
    Spring sidebar_progress;
    Spring jam_bar_progress;
    Spring banner_progress;

    //~ Drags
    int seek_dragging;
    int volume_dragging;
    int row_dragging;
    int sidebar_dragging;
    int scroll_dragging;
    POINT press_point;
    int press_row;
    int drag_row;
    int drop_row;
    int sidebar_drag_start_x;
    float sidebar_drag_start_progress;
    int sidebar_drag_last_x;
    DWORD sidebar_drag_last_tick;
    int scroll_grab_offset;
    int sidebar_pressed;  // a press in the sidebar or the edge zone that may become a swipe
    float sidebar_velocity;  // fractions per second, smoothed
    int pressed_menu_item;

    //~ Sidebar and friends panel
    int sidebar_open;
    int sidebar_mode;  // 0 menu, 1 friends panel
    int friends_tab;   // 0 friends, 1 requests, 2 add by tag
    Spring panel_scroll[2];       // the friends and requests lists, in pixels
    float panel_scroll_target[2];
    int name_editing;
    // The friend whose key card is open over the list, by tag (the list may change under
    // it); empty while closed.
    wchar_t friend_card_tag[FRIEND_TAG_CAPACITY];
    int friend_search_active;
    DWORD friend_search_tick;
    wchar_t friend_search_tag[FRIEND_TAG_CAPACITY];
    wchar_t friend_notice[FRIEND_NOTICE_CAPACITY];
    DWORD tag_copied_tick;
    int transport_started;

    //~ Jam glue: the tracks a Jam fetch created, deleted when the Jam ends (the wanted
    // track itself is the room's: g_jam_wanted)
    wchar_t jam_temp_files[JAM_TEMP_FILES_MAX][260];
    int jam_temp_file_count;
};

extern AppState g_app;

// Sets the start values: no current, selected or hovered row, 96 dpi, last volume 80.
void app_state_init(AppState* app);

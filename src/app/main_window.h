#pragma once
// The main window: its class, creation, window procedure and the services its handlers
// offer each other. Everything here runs on the main thread.
#include <windows.h>
#include <shellapi.h>

#define MAIN_WINDOW_CLASS L"NelvoNativeClass"
#define APP_USER_MODEL_ID L"Nelvo.MusicPlayer.Modern.App"
#define APP_VERSION_TEXT L"1.4.3"

// Process-wide settings made before any window exists: app id, DPI awareness, OLE and the
// common controls.
void app_process_setup(void);

// Registers the class and creates and shows the main window; the second stage of start-up
// then reads its files from command_line (kept by the caller until that stage has run).
HWND main_window_create(HINSTANCE instance, int show, const wchar_t* command_line);

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The second stage of start-up, also callable with any command line by tests.
void on_deferred_start(HWND window, const wchar_t* command_line);

// Gives the working set back to the system.
void trim_working_set(void);
// Whether anything moves: an animation, a drag or a held left button.
int something_moving(void);

void start_animation(void);
void choose_tick_period(void);
void on_timer(HWND window, UINT_PTR id);

void invalidate_control_bar(void);
void invalidate_banner(void);
void refresh_now_playing(void);

// Rebuilds filtered_indices from the filter text after a change of the list; the scroll
// position stays, clamped to the list.
void apply_filter(void);
// Makes filtered_indices anew from the filter text, without scrolling or painting.
void rebuild_filter_rows(void);
// The same after tracks were appended from first on, and nothing else changed (nothing is
// painted: the caller invalidates).
void filter_tracks_appended(int first);
// The same for a new filter text, which shows its list from the top.
void apply_new_filter(void);
// Sets the banner's state and texts; hide_after_ms 0 keeps it until replaced.
void banner_show(int state, int percent, const wchar_t* title, const wchar_t* subtitle, int hide_after_ms);

// Keyboard, media keys and dropped files.
void on_key_down(HWND window, WPARAM key);
int on_app_command(LPARAM lparam);  // 1 when the command was one of the media keys
void on_drop_files(HWND window, HDROP drop);
// WM_COPYDATA: the files another start of this installation hands over (single_instance.h).
// TRUE when the block was one and well formed.
LRESULT on_copy_data(HWND window, const COPYDATASTRUCT* data);

// Handlers of the messages the workers post.
void on_download_progress(int percent);
void on_download_done(void);
void on_shared_progress(int percent, LPARAM wanted);
// path: the file the downloader named, or null; freed here.
void on_shared_item_done(int result, wchar_t* path);
void on_shared_finished(int fetched, int stopped);
void on_autofetch_progress(int percent);
void on_autofetch_done(int result, LPARAM request);
void rescan_music_folder(void);
// The Jam's share of a finished search-window download: play the wanted track if the Jam
// notice left its title for "İndir" and the download brought it.
void jam_on_download_done(void);
// Starts fetching the Jam's wanted track into the music folder, with its notice, unless one
// is being fetched or none is wanted.
void start_jam_fetch(void);
// A transport message after the friend protocol: the room protocol, then the answers to
// members who asked for the state, and the received state or position carried out.
struct JamWireMessage;
void jam_message_received(const char* topic, const char* payload, const JamWireMessage* m, DWORD arrived_at);
struct JamSync;
void jam_apply_sync(const JamSync* record);
// Leaves the room with everything that belonged to it: its fetch, its wanted track, and the
// downloads the user chose not to keep.
void leave_jam_room(void);
// Asks whether tracks downloaded for a Jam stay after it; 1 keep.
int ask_keep_downloads(HWND owner);
struct WantedTrack;
// Whether the Jam now wants another track than the one fetched (ids, then titles, both
// compared without regard to case where both sides have one).
int jam_wants_other_track(const WantedTrack* wanted_now, const WantedTrack* fetched);
// Keeps the scroll position and its target within the list.
void clamp_scroll_to_list(void);

// The edit controls: creation with their subclass, placement, colours and the search filter.
HWND create_edit_control(HWND parent, int id, DWORD style);
void layout_search_box(void);
// Puts the tag and name boxes into the fields the last frame drew for them, or hides them.
void place_edit_controls(void);
LRESULT on_edit_color(HDC dc);
void on_search_changed(void);
void clear_search(void);
// Ends editing the display name, saving it when commit is set.
void end_name_editing(int commit);

// The mouse.
void on_left_button_down(HWND window, int x, int y);
void on_left_button_up(HWND window, int x, int y);
// A second press of a double click: a press, except that it does not start its row again.
void on_left_button_double(HWND window, int x, int y);
// Ends every drag and press without acting on it: the mouse went to a menu, a box or
// another window, or a new press begins.
void end_drags(HWND window);
void on_capture_changed(HWND window, HWND gaining);
void on_right_button_up(HWND window, int x, int y);
void on_mouse_move(HWND window, int x, int y, WPARAM keys);
void on_mouse_leave(HWND window);
void on_mouse_wheel(HWND window, int delta, int screen_x, int screen_y);
// The element and the track under a client point, as the last frame drew them.
int element_at(POINT p);
int track_at(HWND window, int x, int y);
// The sidebar's current width in pixels.
int sidebar_width_now(void);
// Opens (1) or closes (0) the sidebar in its current mode.
void open_sidebar(int open);
void open_friends_panel(void);
// The messaging transport starts with the second stage of start-up, or earlier when the
// friends panel needs it.
void ensure_transport_started(void);
// A transport event (MSG_MQTT_EVENT's wParam), handled and freed.
void on_mqtt_event(HWND window, WPARAM event);
int friends_panel_open(void);
// The friends panel's send button and Enter in the tag box: checks the typed tag and looks
// the user up; the housekeeping timer sends the request once the user is found.
void send_friend_request_from_input(void);
// The friend's key card button: the user says he compared the key's code with the friend
// (or takes that back); kept in friends.json.
void toggle_key_checked(const wchar_t* tag);

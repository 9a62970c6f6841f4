#pragma once
// Track commands and dialogs of the main window. Main thread.
#include <windows.h>

#include "base/shared_queue.h"

// The context menu's commands, as WM_COMMAND ids.
enum {
    CMD_PLAY_NOW = 2001,
    CMD_SHOW_IN_FOLDER = 2003,
    CMD_REMOVE_FROM_LIST = 2004,
    CMD_DELETE_FROM_DISK = 2005,
    CMD_MULTI_SELECT = 2006,
};

// Selects the track and shows its menu at a screen point.
void open_context_menu(HWND owner, int index, POINT screen);
// A menu command arriving as WM_COMMAND; 0 when the id is not one of the menu's.
int on_context_command(HWND owner, int command);

// Delete key and "Listeden Kaldır": the marked tracks in multi-selection, else the selected
// one. Files stay on the disk.
void remove_selected_or_marked(void);

// Takes the track at index out of the list (not off the disk). Whether it was playing decides
// whether the player stops; the other indices and the marks follow the rows they named. With
// close_file the player also lets go of a file it played, so that the file can be deleted.
void remove_track_at(int index, int close_file);
// After removals: the focused row within the list, the now-playing status, the rows shown.
void after_tracks_removed(void);

void choose_music_folder(void);
// Makes folder the music folder: saved, list rebuilt from it.
void use_music_folder(const wchar_t* folder);

// Adds what a playlist names from the library and queues the rest for download.
int import_playlist(const wchar_t* path);
void import_playlist_from_dialog(void);
void export_playlist(void);
// Shows and plays the list in another order (SORT_*; past the last one, the first again),
// remembered in the settings. The selected track stays in view.
void choose_sort(int mode);
// The queue side of an import, under the queue's lock: entries already waiting are not
// queued again. Returns how many wait afterwards.
int queue_wanted_tracks(SharedQueue* q, const WantedTrack* wanted, int count);

// Deletes the files a Jam downloaded (unless the user keeps them) and their rows.
void delete_jam_downloads(void);

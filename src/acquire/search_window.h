#pragma once
// The search-and-download window: a top-level window of its own in which the user lists
// video search results with their covers and downloads one as an audio file. The window,
// its controls and its result table belong to the main thread; the search, thumbnail and
// download threads hand their results over in posted messages and touch only the atomic
// fields below.
#include <windows.h>

#include <atomic>

#include "acquire/search_results.h"

#define SEARCH_WINDOW_CLASS L"NelvoSearchWindow"

enum {
    ID_SEARCH_EDIT = 2001,
    ID_SEARCH_BUTTON = 2002,
    ID_FOLDER_LABEL = 2003,
    ID_FOLDER_BUTTON = 2004,
    ID_RESULT_LIST = 2005,
    ID_DOWNLOAD_BUTTON = 2006,
    ID_STATUS_LABEL = 2007,
    ID_OPEN_FOLDER_BUTTON = 2008,  // "Klasörü Aç": shown only while the downloader is missing
};

// Commands of the edit box's context menu.
enum { EDIT_MENU_CUT = 1, EDIT_MENU_COPY = 2, EDIT_MENU_PASTE = 3, EDIT_MENU_SELECT_ALL = 4 };

struct SearchWindowState {
    std::atomic<HWND> window;  // none when closed; worker threads read it before posting
    HWND owner;                // the main window
    wchar_t download_folder[260];
    SearchResult* results;  // SEARCH_MAX_ROWS rows while the window exists
    int result_count;
    std::atomic<int> searching;    // set by the window, cleared by the search thread
    std::atomic<int> search_cancel;  // set when the window goes: the search thread stops its listing
    std::atomic<int> downloading;  // set by the window, cleared by the download thread
    std::atomic<int> last_percent;  // the status panel's percent, -1 no panel; also the download thread's
    wchar_t download_title[256];
    wchar_t download_target[260];  // the folder the running or last download writes to (main thread)
    // The file the last download named, "" none: written by the download thread before it
    // clears downloading and reports, read by the main thread after the report.
    wchar_t download_path[260];
    std::atomic<unsigned> generation;  // one more at every search and when the window goes
    std::atomic<int> thumbnail_threads;  // thumbnail loads not yet handed over
    std::atomic<int> updating;  // the downloader's self-update runs; claimed by the window, cleared by its thread
    int downloader_missing;     // the status line says the downloader could not be started (main thread)
    int status_quiet;  // the status line holds nothing a search or download said: an update's outcome may go there

    //~ Window resources (main thread)
    HWND edit, search_button, folder_label, folder_button, list, status_label, download_button, open_folder_button;
    int dpi;
    HBRUSH background_brush, edit_brush, panel_brush;
    HFONT body_font, semibold_font, small_font, icon_font;
    HDC paint_dc;  // the off-screen picture, recreated when the client size changes
    HBITMAP paint_bitmap, paint_old_bitmap;
    int paint_width, paint_height;
};

extern SearchWindowState g_search;

// Opens the window, or brings it forward when it exists. The download folder starts as
// music_folder, or the current directory when that is empty. downloader_checked is the
// time of the downloader's last self-update attempt (seconds since 1970), kept by the
// caller; when it is a week old and the downloader is found, the self-update starts in
// the background, *downloader_checked becomes now and 1 is returned, for the caller to
// keep. Without it (nullptr) no self-update starts.
int open_search_window(HWND owner, const wchar_t* music_folder, long long* downloader_checked = nullptr);
// Opens the window and, when text is not empty, searches for it at once.
int open_search_window_with_query(HWND owner, const wchar_t* music_folder, const wchar_t* text,
                                  long long* downloader_checked = nullptr);
// Copy the folder the window offers for downloads, cut to capacity.
void search_window_copy_download_folder(wchar_t* out, int capacity);
// Copy the folder / the title of the current or last download, cut to capacity. The
// folder is where that download went, whatever the user has picked since.
void search_window_copy_last_download_folder(wchar_t* out, int capacity);
// The file the last finished download named ("" when the downloader named none).
void search_window_copy_last_download_path(wchar_t* out, int capacity);
void search_window_copy_download_title(wchar_t* out, int capacity);

// Where the covers come from: "https://" THUMBNAIL_HOST unless a test points it elsewhere
// (a scheme and host, no trailing slash). Set it while no thumbnail thread runs.
void search_set_thumbnail_base(const wchar_t* base);

// How long a search listing may run in all before it is stopped and the rows it printed
// so far are shown: SEARCH_TIME_LIMIT_MS unless a test shortens it (0 restores it). Set it
// while no search runs.
enum { SEARCH_TIME_LIMIT_MS = 60000 };
void search_set_time_limit(DWORD ms);

// The edit box's context menu for its current selection and the clipboard; the caller
// destroys it.
HMENU search_edit_menu(HWND edit);
// Carries out one EDIT_MENU_* command on the edit box.
void search_edit_command(HWND edit, int command);

//~ Layout

// Every rectangle of the window for a client area of w x h pixels at dpi.
struct SearchLayout {
    int right_width;  // R
    int right_left;   // X
    int left_width;   // L
    RECT edit, search_button, folder_label, folder_button, list, status_label, download_button;
    RECT open_folder_button;  // at the end of the status line, while the downloader is missing
    RECT status_label_short;  // the status line beside that button
    RECT search_field, list_panel, right_panel;
    RECT preview;       // the cover box in the right panel
    RECT status_panel;  // the download progress panel above the download button
};

SearchLayout search_layout(int w, int h, int dpi);
// The smallest window size, in pixels at dpi.
SIZE search_min_track_size(int dpi);

//~ Between the window's files

struct SearchBatch;  // the search thread's rows, handed over in MSG_SEARCH_DONE
struct ThumbnailDelivery;
struct DownloaderUpdateReport;  // the self-update's outcome, handed over in MSG_SEARCH_UPDATE_DONE

void search_thread_start(const wchar_t* text);
void thumbnail_thread_start(int row, unsigned generation, const wchar_t* video_id);
// 0 when the thread could not be started.
int download_thread_start(HWND owner, const wchar_t* address, const wchar_t* folder);
// Starts the downloader's self-update thread unless one runs (g_search.updating). 0 when
// none was started.
int update_thread_start(void);
// Copies the batch's rows into rows and frees it; returns the row count (0 for no batch),
// or -1 when the batch belongs to an older search than generation. *missing tells whether
// the downloader could not be started.
int search_batch_take(SearchBatch* batch, unsigned generation, SearchResult* rows, int* missing);
void search_batch_free(SearchBatch* batch);
// Stores the delivered picture when it still belongs to its row, else deletes it; frees
// the record. Returns the row it was stored in, -1 when dropped.
int thumbnail_delivery_take(ThumbnailDelivery* delivery);
// The report's DOWNLOADER_UPDATE_* outcome (or DOWNLOADER_MISSING) and version; frees it.
int update_report_take(DownloaderUpdateReport* report, wchar_t* version, int capacity);

void search_paint(HWND window);
void search_draw_item(const DRAWITEMSTRUCT* item);
void search_release_paint_buffer(void);

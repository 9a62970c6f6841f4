#pragma once
// The search listing's decisions, apart from the window and the threads that carry them
// out: the command line, one output line turned into a result row, the thumbnail addresses
// and the texts the window shows. Pure functions; safe on any thread.
#include <windows.h>

enum {
    SEARCH_MAX_ROWS = 30,
    SEARCH_TEXT_CAPACITY = 512,          // the edit text read for a search
    SEARCH_COMMAND_CAPACITY = 2048,
    SEARCH_LINE_CAPACITY = 2048,         // bytes of one output line, terminator included
    SEARCH_ADDRESS_CAPACITY = 512,
};

// One row of the result table. thumbnail is a device-independent bitmap rendered from the
// cover on the thread that loaded it; only the window's thread stores or deletes it.
struct SearchResult {
    wchar_t video_id[64];
    wchar_t raw_title[256];
    wchar_t title[256];  // the cleaned title, or raw_title when the clean-up leaves nothing
    wchar_t uploader[128];
    wchar_t webpage_url[512];
    wchar_t source[32];
    int duration;  // whole seconds, 0 when unknown
    HBITMAP thumbnail;
};

// Whoever serves the cover pictures; tests point thumbnails at a loopback server instead.
#define THUMBNAIL_HOST L"i.ytimg.com"

// The listing command for the words in text: control characters (line breaks included) are
// removed and the query travels as one quoted argument. Returns 0 when it does not fit.
int search_command_line(const wchar_t* text, wchar_t* line, int capacity);

// One line of the listing (id, title, duration, uploader and optionally the address,
// separated by tabs) into *out, thumbnail none. Returns 0, leaving *out undefined, for a line
// with fewer than three tabs.
int search_parse_line(const char* line, int length, SearchResult* out);

// The duration field: whole seconds of a decimal number, 0 for "NA" or anything that does
// not start with a digit, capped at the largest int.
int search_parse_duration(const char* text, int length);

// "<base>/vi/<id>/mqdefault.jpg" (larger == 1) or ".../default.jpg"; base is a scheme and
// host such as "https://i.ytimg.com". Returns 0 when it does not fit.
int thumbnail_address(const wchar_t* base, const wchar_t* video_id, int larger, wchar_t* out, int capacity);

// Replaces every CR and LF by a blank, in place: pasted text stays on one line.
void replace_line_breaks(wchar_t* text);

//~ Texts

// "%d sonuç bulundu • ..." for count > 0, else "Sonuç bulunamadı.".
void search_status_text(int count, wchar_t* out, int capacity);
// The status line when the downloader could not be started, for a search and a download
// alike: what is missing and where it goes.
extern const wchar_t DOWNLOADER_MISSING_TEXT[];
// The status line for a self-update's DOWNLOADER_UPDATE_* outcome and the version it
// named (may be empty).
void update_status_text(int outcome, const wchar_t* version, wchar_t* out, int capacity);
// "İndiriliyor (%37): <title>".
void download_status_text(int percent, const wchar_t* title, wchar_t* out, int capacity);
// The download button's label: "İndiriliyor • %37" while downloading (negative shown as
// 0), else "İndir ve Listeye Ekle".
void download_button_text(int downloading, int percent, wchar_t* out, int capacity);
// The status panel's percent: "%37", negative shown as 0.
void percent_label_text(int percent, wchar_t* out, int capacity);
// "mm:ss" for the badge; "mm:ss  •  <source>" for the preview when source is given.
void duration_text(int seconds, const wchar_t* source, wchar_t* out, int capacity);
// Whether the status panel shows: while downloading, or once a percent of 0 or more is set.
int status_panel_visible(int downloading, int last_percent);

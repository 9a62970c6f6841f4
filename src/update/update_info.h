#pragma once
// What the update check found, and the pure decisions about it: the version file's format,
// the version comparison, which download address to trust, whether a downloaded file is a
// program for this machine, and the texts the main window shows.
#include <windows.h>

enum { UPDATE_VERSION_CAPACITY = 64, UPDATE_URL_CAPACITY = 1024, UPDATE_NOTES_CAPACITY = 1024 };

// Why an update was not installed (MSG_UPDATE_RESULT's lParam), or why a check refuses what
// the server offers (UpdateInfo.refused).
enum {
    UPDATE_DOWNLOAD_FAILED = 1,
    UPDATE_UNVERIFIED = 2,    // no program for this machine, or not the one the update key vouches for
    UPDATE_MOVE_FAILED = 3,   // the running program could not be moved aside
    UPDATE_PLACE_FAILED = 4,  // the new one could not be moved in; the old one is back
    UPDATE_FAILED_START = 5,  // the new program would not start; the old one is back
    UPDATE_UNDO_FAILED = 6,   // a swap could not be undone: the old program is Nelvo_old.tmp
    UPDATE_NOT_NEWER = 7,     // the signed version is not newer than this one: no going back
    UPDATE_STALE = 8,         // the signed update information is past its expiry
};

#ifndef NELVO_VERSION_TEXT
#define NELVO_VERSION_TEXT "1.4.3"
#endif
#define NELVO_WIDEN2(x) L##x
#define NELVO_WIDEN(x) NELVO_WIDEN2(x)
#define NELVO_VERSION NELVO_WIDEN(NELVO_VERSION_TEXT)

// Made by the check thread, handed to the main window with MSG_UPDATE_CHECKED, freed there.
struct UpdateInfo {
    int available;  // the server offers a newer version (in a signed build: its signed manifest does)
    int manual;     // the user asked for the check
    int reached;    // the server answered with a version file
    wchar_t version[UPDATE_VERSION_CAPACITY];
    wchar_t url[UPDATE_URL_CAPACITY];
    wchar_t notes[UPDATE_NOTES_CAPACITY];  // each line ends in "\n"
    // A signed build's objection to what the server offers (UPDATE_UNVERIFIED, _NOT_NEWER
    // or _STALE), 0 for none; and the version the signed manifest names, when there is one.
    int refused;
    wchar_t signed_version[UPDATE_VERSION_CAPACITY];
};

// Reads a version file (bytes as received, at most 4095 used): version, download address or
// first notes line, notes. Fills version, url (empty when the file names none) and notes.
void version_file_parse(const char* bytes, int length, UpdateInfo* out);

// Compares two "major.minor.patch" texts numerically; a missing or unreadable part is 0.
// Returns <0, 0 or >0.
int version_compare(const wchar_t* a, const wchar_t* b);

// The address to download from: the file's own when it is HTTPS, or has exactly the scheme
// and host of base (the update server); otherwise, and for an ".apk", base + "/Nelvo.exe".
void update_download_url(const wchar_t* from_file, const wchar_t* base, wchar_t* out, int capacity);

// Whether the file at path is a Windows x64 program whose size covers the sections its
// headers list, and at least 50000 bytes.
int update_file_is_program(const wchar_t* path);
// The same on bytes in memory (size: the whole file's; head: its first head_length bytes,
// and the section table must lie within them).
int update_image_is_program(const unsigned char* head, int head_length, long long size);

// What the main window shows for a finished check: 0 nothing, else the text, caption and
// box flags (MB_YESNO when it asks whether to update).
int update_prompt(const UpdateInfo* info, wchar_t* text, int capacity, const wchar_t** caption, UINT* flags);

// The error box's text for a failed update's result code: what happened to Nelvo.exe, which
// the user needs to know more than why, and for a failed swap where the old program is
// (old_program, its full path; "" when unknown). exe_name: the program's own file name.
void update_failure_message(int code, const wchar_t* old_program, const wchar_t* exe_name, wchar_t* text,
                            int capacity);

// The hand-over from the old program to the new one after a swap: the new one is started
// with this single argument, naming the process it replaces, and signals the event named
// by update_ready_event_name once its window is up.
void update_handover_argument(DWORD process_id, wchar_t* out, int capacity);
// 1 and *process_id when command_line (program name first) carries exactly that argument.
int update_handover_parse(const wchar_t* command_line, DWORD* process_id);
void update_ready_event_name(DWORD process_id, wchar_t* out, int capacity);

#pragma once
// One running window per installation and user. A second start of the same executable
// hands its command-line files to the running window and ends; copies in other folders run
// side by side. The running window is found through two named objects of the user's
// session, "Local\<key>-running", a mutex that the running process owns for its whole
// life, and "Local\<key>-window", a small shared block holding its window handle once the
// window exists (<key> from instance_key).
#include <windows.h>

#include <stddef.h>

// The dwData of the WM_COPYDATA that carries the files ("NLVF").
#define HANDOVER_TAG ((ULONG_PTR)0x46564C4Eu)

enum {
    INSTANCE_KEY_CAPACITY = 24,     // "Nelvo-" and sixteen hex digits
    HANDOVER_MAX_FILES = 4096,      // per message; a longer list goes in several
    HANDOVER_MAX_PATH = 32767,      // the longest path the system accepts
    HANDOVER_MAX_BYTES = 1 << 20,   // per message
    HANDOVER_WAIT_MS = 5000,        // how long a second start waits for the first's window
    HANDOVER_SEND_MS = 10000,       // how long it waits for the window to take the files
};

//~ Decisions

// The name part shared by every start of one executable by one user: a hash of the path
// and the user name, both case-folded (the file system ignores case), as "Nelvo-" and 16
// hex digits. Object names cannot hold backslashes and are limited in length, so the path
// itself cannot be the name.
void instance_key(const wchar_t* exe_path, const wchar_t* user, wchar_t* key, int capacity);

// Packs paths into a hand-over block: a 32-bit tag, a 32-bit count, then each path with its
// terminator. Takes paths from the start while the block stays within capacity and the
// limits above; an empty or over-long path is skipped. *taken is the number of paths used
// (packed or skipped), so the caller sends the rest in a further block. Returns the bytes
// written, or 0 when not even the header fits.
size_t handover_pack(const wchar_t* const* paths, int count, void* out, size_t capacity, int* taken);

// Checks a received block and points paths[] at its strings (inside data). The block comes
// from another process: its size, tag, count and every terminator are checked, nothing may
// follow the last path, and no path may be empty or longer than HANDOVER_MAX_PATH. Returns
// the number of paths, or -1 when the block is malformed or holds more than capacity.
int handover_unpack(const void* data, size_t size, const wchar_t** paths, int capacity);

//~ The process

enum { INSTANCE_RUN = 0, INSTANCE_HANDED_OVER = 1 };

// Called first thing at start: INSTANCE_RUN when this process is to run the window (it is
// the first, the first has gone, or the first never answered), INSTANCE_HANDED_OVER when
// the running window took the files of command_line and this process is to end with 0.
int single_instance_start(const wchar_t* command_line);
// The start of a new version after an update, once the program it replaces has ended:
// takes the names without looking for a window to hand over to (the old one's is gone, or
// going). Waits at most HANDOVER_WAIT_MS; without them the process runs alone.
void single_instance_take(void);
// Makes the window findable by later starts; once it exists, before the message loop.
void single_instance_publish(HWND window);
// Lets a later start run the window: after the message loop.
void single_instance_end(void);

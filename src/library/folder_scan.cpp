#include "library/folder_scan.h"

#include <windows.h>
#include <stdlib.h>

#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/track_list.h"

// Rescans run after every download, over libraries of thousands of files; comparing each
// file against every track would make them quadratic. This index of the tracks by
// case-folded path answers the same question as the linear search of track_list_add: the
// first track whose path is equal.
struct PathIndex {
    int* slots;  // track index + 1, 0 for an empty slot
    unsigned mask;
    int used;
};

static int path_index_find(const PathIndex* ix, const wchar_t* path, unsigned hash) {
    for (unsigned i = hash & ix->mask;; i = (i + 1) & ix->mask) {
        int slot = ix->slots[i];
        if (!slot) return -1;
        if (path_equal_nocase(g_tracks.items[slot - 1].path, path)) return slot - 1;
    }
}

static void path_index_put(PathIndex* ix, int track, unsigned hash) {
    unsigned i = hash & ix->mask;
    while (ix->slots[i]) i = (i + 1) & ix->mask;
    ix->slots[i] = track + 1;
    ix->used++;
}

static int path_index_rebuild(PathIndex* ix, unsigned size) {
    int* slots = (int*)calloc(size, sizeof(int));
    if (!slots) return 0;
    free(ix->slots);
    ix->slots = slots;
    ix->mask = size - 1;
    ix->used = 0;
    for (int t = 0; t < g_tracks.count; t++) {
        unsigned hash = path_hash_nocase(g_tracks.items[t].path);
        if (path_index_find(ix, g_tracks.items[t].path, hash) < 0) path_index_put(ix, t, hash);
    }
    return 1;
}

// Keeps the table at most half full; 0 when it cannot grow (the caller falls back to the
// linear search).
static int path_index_reserve(PathIndex* ix, int tracks) {
    unsigned size = ix->mask + 1;
    if (ix->slots && (unsigned)tracks * 2 < size) return 1;
    if (!ix->slots) size = 1024;
    while ((unsigned)tracks * 2 >= size) size *= 2;
    return path_index_rebuild(ix, size);
}

static int add_scanned_file(PathIndex* ix, int dedupe, const wchar_t* path) {
    if (!dedupe) return track_list_add(path, 0);
    if (!path_index_reserve(ix, g_tracks.count + 1)) return track_list_add(path, 1);
    unsigned hash = path_hash_nocase(path);
    int existing = path_index_find(ix, path, hash);
    if (existing >= 0) return existing;
    int added = track_list_add(path, 0);
    if (added >= 0) path_index_put(ix, added, hash);
    return added;
}

// Where one scan is: the folder being listed is path[0..length), and the index and flag are
// the whole scan's.
struct ScanState {
    wchar_t path[TRACK_TEXT_CAPACITY];
    PathIndex index;
    int dedupe;
    int counted;
};

// In file-system order, entering each subfolder where the listing meets it. Links and junctions
// are not entered: one pointing at an ancestor would have the scan list the library again
// under every name of the loop. Hidden and system folders hold what their owners did not
// mean to be browsed (recycle bins, thumbnails, other programs' caches).
static void scan_folder(ScanState* s, int length, int depth) {
    // Files whose full path passes 259 characters are skipped rather than stored cut (a cut
    // path names no file); a folder too long for its own pattern holds no file that fits.
    if (length + 4 >= TRACK_TEXT_CAPACITY) return;
    wstr_copy(s->path + length, TRACK_TEXT_CAPACITY - length, L"\\*.*");
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileExW(s->path, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) find = FindFirstFileW(s->path, &fd);
    s->path[length] = 0;
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        int name_length = (int)wcslen(fd.cFileName);
        if (length + 1 + name_length >= TRACK_TEXT_CAPACITY) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth >= SCAN_MAX_DEPTH) continue;
            if (fd.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
                continue;
            if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L"..")) continue;
            s->path[length] = L'\\';
            wstr_copy(s->path + length + 1, TRACK_TEXT_CAPACITY - length - 1, fd.cFileName);
            scan_folder(s, length + 1 + name_length, depth + 1);
            s->path[length] = 0;
            continue;
        }
        if (!has_audio_extension(fd.cFileName)) continue;
        s->path[length] = L'\\';
        wstr_copy(s->path + length + 1, TRACK_TEXT_CAPACITY - length - 1, fd.cFileName);
        if (add_scanned_file(&s->index, s->dedupe, s->path) >= 0) s->counted++;
        s->path[length] = 0;
    } while (FindNextFileW(find, &fd));
    FindClose(find);
}

int scan_music_folder(const wchar_t* folder) {
    if (!folder || !folder[0]) return 0;
    int folder_length = (int)wcslen(folder);
    if (folder_length + 4 >= TRACK_TEXT_CAPACITY) return 0;
    // One record for the whole walk: 520 bytes of path a level would be 9 KB of stack at
    // the deepest, and the duplicate index is built once.
    ScanState* s = (ScanState*)calloc(1, sizeof(ScanState));
    if (!s) return 0;
    wstr_copy(s->path, folder);
    s->dedupe = g_tracks.count > 0;
    scan_folder(s, folder_length, 0);
    int counted = s->counted;
    free(s->index.slots);
    free(s);
    return counted;
}

static wchar_t g_program_folder[MAX_PATH];

void program_folder_set(const wchar_t* folder) { wstr_copy(g_program_folder, folder ? folder : L""); }

void program_folder(wchar_t* buf, int capacity) {
    if (g_program_folder[0]) {
        wstr_copy(buf, capacity, g_program_folder);
        return;
    }
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = 0;
    exe[n] = 0;
    wchar_t* slash = wcsrchr(exe, L'\\');
    if (slash) *slash = 0;
    wstr_copy(buf, capacity, exe);
}

int folder_exists(const wchar_t* path) {
    if (!path || !path[0]) return 0;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

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

int scan_music_folder(const wchar_t* folder) {
    if (!folder || !folder[0]) return 0;
    // Files whose full path passes 259 characters are skipped rather than stored cut (a cut
    // path names no file); a folder too long for its own pattern holds no file that fits.
    int folder_length = (int)wcslen(folder);
    if (folder_length + 4 >= TRACK_TEXT_CAPACITY) return 0;
    wchar_t pattern[TRACK_TEXT_CAPACITY];
    wstr_format(pattern, TRACK_TEXT_CAPACITY, L"%ls\\*.*", folder);
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) find = FindFirstFileW(pattern, &fd);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int dedupe = g_tracks.count > 0;
    PathIndex index = {nullptr, 0, 0};
    int counted = 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!has_audio_extension(fd.cFileName)) continue;
        if (folder_length + 1 + (int)wcslen(fd.cFileName) >= TRACK_TEXT_CAPACITY) continue;
        wchar_t path[TRACK_TEXT_CAPACITY];
        wstr_copy(path, folder);
        wstr_append(path, TRACK_TEXT_CAPACITY, L"\\");
        wstr_append(path, TRACK_TEXT_CAPACITY, fd.cFileName);
        if (add_scanned_file(&index, dedupe, path) >= 0) counted++;
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    free(index.slots);
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

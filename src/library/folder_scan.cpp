#include "library/folder_scan.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/tag_cache.h"
#include "library/tag_file.h"
#include "library/track_info.h"
#include "library/track_list.h"

// Where one walk is: the folder being listed is path[0..length).
struct ScanWalk {
    wchar_t path[TRACK_TEXT_CAPACITY];
    ScanVisit visit;
    void* user;
    int stopped;
};

int scan_enters_folder(unsigned long attributes, unsigned long reparse_tag) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) return 0;
    // A reparse point whose tag the listing did not give is taken for a link.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (!reparse_tag || IsReparseTagNameSurrogate(reparse_tag)))
        return 0;
    return 1;
}

// In file-system order, entering each subfolder where the listing meets it.
static void walk_folder(ScanWalk* w, int length, int depth) {
    // Files whose full path passes 259 characters are skipped rather than stored cut (a cut
    // path names no file); a folder too long for its own pattern holds no file that fits.
    if (length + 4 >= TRACK_TEXT_CAPACITY) return;
    wstr_copy(w->path + length, TRACK_TEXT_CAPACITY - length, L"\\*.*");
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileExW(w->path, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) find = FindFirstFileW(w->path, &fd);
    w->path[length] = 0;
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        int name_length = (int)wcslen(fd.cFileName);
        if (length + 1 + name_length >= TRACK_TEXT_CAPACITY) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth >= SCAN_MAX_DEPTH) continue;
            if (!scan_enters_folder(fd.dwFileAttributes, fd.dwReserved0)) continue;
            if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L"..")) continue;
            w->path[length] = L'\\';
            wstr_copy(w->path + length + 1, TRACK_TEXT_CAPACITY - length - 1, fd.cFileName);
            if (!w->visit(w->user, nullptr, length + 1 + name_length, nullptr)) w->stopped = 1;
            else walk_folder(w, length + 1 + name_length, depth + 1);
            w->path[length] = 0;
            if (w->stopped) break;
            continue;
        }
        if (!has_audio_extension(fd.cFileName)) continue;
        w->path[length] = L'\\';
        wstr_copy(w->path + length + 1, TRACK_TEXT_CAPACITY - length - 1, fd.cFileName);
        ScanFile file;
        file.size = (unsigned long long)fd.nFileSizeHigh << 32 | fd.nFileSizeLow;
        file.written = (unsigned long long)fd.ftLastWriteTime.dwHighDateTime << 32 | fd.ftLastWriteTime.dwLowDateTime;
        file.created_minutes = file_time_minutes(fd.ftCreationTime.dwLowDateTime, fd.ftCreationTime.dwHighDateTime);
        if (!w->visit(w->user, w->path, length + 1 + name_length, &file)) w->stopped = 1;
        w->path[length] = 0;
    } while (!w->stopped && FindNextFileW(find, &fd));
    FindClose(find);
}

int scan_walk(const wchar_t* folder, ScanVisit visit, void* user) {
    if (!folder || !folder[0]) return 0;
    int folder_length = (int)wcslen(folder);
    if (folder_length + 4 >= TRACK_TEXT_CAPACITY) return 0;
    // One record for the whole walk: 520 bytes of path a level would be 9 KB of stack at
    // the deepest.
    ScanWalk* w = (ScanWalk*)calloc(1, sizeof(ScanWalk));
    if (!w) return 0;
    wstr_copy(w->path, folder);
    w->visit = visit;
    w->user = user;
    walk_folder(w, folder_length, 0);
    int finished = !w->stopped;
    free(w);
    return finished;
}

struct ListScan {
    const wchar_t* root;
    TagCache* cache;
    int dedupe;
    int counted;
    TrackTags tags;
    TrackShown shown;
};

void scan_read_track(TagCache* cache, int keep, const wchar_t* path, const wchar_t* root, const ScanFile* file,
                     TrackTags* tags, TrackShown* shown) {
    int tagged = 1;
    if (!tag_cache_find(cache, path, file->size, file->written, tags)) {
        tagged = tags_read_file(path, tags) != TAG_FORMAT_NONE;
        if (!tagged) memset(tags, 0, sizeof(*tags));
    }
    // Files of no known format are kept too, so that the next start does not open them.
    if (keep) tag_cache_keep(cache, path, file->size, file->written, tags);
    track_shown_make(path, root, tagged ? tags : nullptr, shown);
}

static int add_scanned_file(void* user, const wchar_t* path, int, const ScanFile* file) {
    ListScan* scan = (ListScan*)user;
    if (!path) return 1;
    int index = scan->dedupe ? track_list_find_path(path) : -1;
    if (index < 0) {
        // Only a scan into an empty list meets every file, and may write the cache whole.
        scan_read_track(scan->cache, !scan->dedupe, path, scan->root, file, &scan->tags, &scan->shown);
        TrackInfo info = track_shown_info(&scan->shown, file->created_minutes);
        index = track_list_add_info(path, &info, 0);
    }
    if (index >= 0) scan->counted++;
    return 1;
}

int scan_music_folder_cached(const wchar_t* folder, const wchar_t* cache_file) {
    ListScan* scan = (ListScan*)calloc(1, sizeof(ListScan));
    if (!scan) return 0;
    scan->root = folder;
    scan->dedupe = track_list_count() > 0;
    scan->cache = cache_file && cache_file[0] ? tag_cache_load(cache_file) : nullptr;
    int complete = scan_walk(folder, add_scanned_file, scan);
    if (complete && !scan->dedupe && tag_cache_changed(scan->cache, folder))
        tag_cache_save(scan->cache, cache_file, folder);
    tag_cache_free(scan->cache);
    int counted = scan->counted;
    free(scan);
    return counted;
}

int scan_music_folder(const wchar_t* folder) {
    return scan_music_folder_cached(folder, nullptr);
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

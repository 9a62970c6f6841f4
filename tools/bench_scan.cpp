// Prints how long scanning a folder of 10,000 audio files into the track list takes (titles
// included), next to a bare FindFirstFileExW listing of the same folder.
//   bench_scan [file count]
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

#include "base/wstr.h"
#include "library/display_title.h"
#include "library/folder_scan.h"
#include "library/track_list.h"
#include "program_home.h"

static const wchar_t* const SAMPLE_NAMES[] = {
    L"mp3indirdur-tarkan-kuzu-kuzu-%d.mp3",
    L"Sezen Aksu - Gidiyorum %d (Official Audio) [aB3dE5fG7hJ].m4a",
    L"Duman - Senden Daha G\u00fczel %d (Official Video) [4K] #duman [dQw4w9WgXcQ].webm",
    L"\u0131\u015f\u0131k - istanbul %d.flac",
    L"song-title-words-%d.mp3",
    L"Artist - Song %d \uFF5C Live.ogg",
};

static double seconds_since(LARGE_INTEGER start, LARGE_INTEGER freq) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - start.QuadPart) / (double)freq.QuadPart;
}

static int bare_listing(const wchar_t* folder) {
    wchar_t pattern[260];
    wstr_format(pattern, 260, L"%ls\\*.*", folder);
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) n++;
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return n;
}

int wmain(int argc, wchar_t** argv) {
    program_home_enter(L"bench-scan");
    int files = argc > 1 ? _wtoi(argv[1]) : 10000;
    wchar_t folder[MAX_PATH];
    wstr_format(folder, MAX_PATH, L"%ls\\scan", program_home_path().c_str());
    CreateDirectoryW(folder, nullptr);
    for (int i = 0; i < files; i++) {
        wchar_t name[200], path[260];
        wstr_format(name, 200, SAMPLE_NAMES[i % 6], i);
        wstr_format(path, 260, L"%ls\\%ls", folder, name);
        HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    }
    LARGE_INTEGER freq, start;
    QueryPerformanceFrequency(&freq);
    track_list_init();
    bare_listing(folder);  // warm the directory cache for both measurements

    // What a library costs while the program idles: the working set the list adds, from a list
    // that never held a track to the folder scanned into it, before any other scan has left
    // freed memory behind for the list to reuse. (Wine counts reserved address space
    // among private bytes, so they would say nothing here.)
    PROCESS_MEMORY_COUNTERS empty, full;
    GetProcessMemoryInfo(GetCurrentProcess(), &empty, sizeof empty);
    scan_music_folder(folder);
    GetProcessMemoryInfo(GetCurrentProcess(), &full, sizeof full);
    double added = (double)full.WorkingSetSize - (double)empty.WorkingSetSize;
    printf("working set of %d tracks: +%.2f MB (%.0f bytes a track)\n", track_list_count(), added / 1048576.0,
           added / (track_list_count() ? track_list_count() : 1));

    const int rounds = 5;
    double best_list = 1e9, best_scan = 1e9, best_rescan = 1e9;
    int listed = 0, scanned = 0;
    for (int r = 0; r < rounds; r++) {
        QueryPerformanceCounter(&start);
        listed = bare_listing(folder);
        double t = seconds_since(start, freq);
        if (t < best_list) best_list = t;

        track_list_free();
        QueryPerformanceCounter(&start);
        scanned = scan_music_folder(folder);
        t = seconds_since(start, freq);
        if (t < best_scan) best_scan = t;

        QueryPerformanceCounter(&start);
        scan_music_folder(folder);  // a rescan, as after a download: every file checked for duplicates
        t = seconds_since(start, freq);
        if (t < best_rescan) best_rescan = t;
    }
    printf("files: %d listed, %d scanned into the list\n", listed, scanned);
    printf("bare FindFirstFileExW listing: %.1f ms\n", best_list * 1000);
    printf("scan_music_folder (titles included): %.1f ms\n", best_scan * 1000);
    printf("ratio scan / listing: %.2f\n", best_scan / best_list);
    printf("rescan of the same folder into the full list: %.1f ms\n", best_rescan * 1000);
    printf("(best of %d rounds each)\n", rounds);

    double best_warm = 1e9;
    for (int r = 0; r < rounds; r++) {
        track_list_clear();
        QueryPerformanceCounter(&start);
        scan_music_folder(folder);
        double t = seconds_since(start, freq);
        if (t < best_warm) best_warm = t;
    }
    printf("scan into a cleared list whose memory is kept: %.1f ms\n", best_warm * 1000);


    QueryPerformanceCounter(&start);
    for (int i = 0; i < files; i++) {
        wchar_t name[200], title[260];
        wstr_format(name, 200, SAMPLE_NAMES[i % 6], i);
        make_display_title(name, title, 260);
    }
    printf("make_display_title alone (names formatted too): %.1f ms\n", seconds_since(start, freq) * 1000);

    track_list_free();
    for (int i = 0; i < files; i++) {
        wchar_t name[200], path[260];
        wstr_format(name, 200, SAMPLE_NAMES[i % 6], i);
        wstr_format(path, 260, L"%ls\\%ls", folder, name);
        DeleteFileW(path);
    }
    RemoveDirectoryW(folder);
    return 0;
}

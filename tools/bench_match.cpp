// Prints how long finding a wanted track in the library takes (find_matching_track against
// 1,000 and 10,000 tracks: a title that matches nothing, which runs every pass, and one
// that only the scoring pass finds), and how long importing a 256-entry playlist of tracks
// that are not here takes against 10,000 tracks. Each time is also given as a multiple of
// one make_compare_key pass over every title of the list, the unit matching repeats.
//   bench_match
#include <windows.h>

#include <stdio.h>

#include "base/wanted_track.h"
#include "base/wstr.h"
#include "library/matching.h"
#include "library/playlist.h"
#include "library/track_list.h"
#include "program_home.h"

static const wchar_t* const ARTISTS[] = {
    L"Tarkan", L"Sezen Aksu", L"Bar\u0131\u015f Man\u00e7o", L"Duman", L"Teoman", L"MF\u00d6", L"Mor ve \u00d6tesi",
    L"Sertab Erener", L"Ajda Pekkan", L"Cem Karaca", L"Ba\u015fak G\u00fcm\u00fclcinelio\u011flu", L"Manga",
    L"Kenan Do\u011fulu", L"Hande Yener", L"M\u00fcsl\u00fcm G\u00fcrses", L"Zeki M\u00fcren", L"Athena",
    L"Model", L"Gripin", L"Sagopa Kajmer", L"Ceza", L"Mabel Matiz", L"Y\u0131ld\u0131z Tilbe",
    L"Sezen Cumhur \u00d6nal",
};
static const wchar_t* const WORDS[] = {
    L"A\u015fk", L"Gece", L"\u0130stanbul", L"Yalan", L"Ben", L"Sen", L"Kuzu", L"Gidiyorum", L"Yaln\u0131z",
    L"Deniz", L"Bir", L"Derdim", L"Var", L"Papatya", L"G\u00fclpembe", L"Senden", L"Daha", L"G\u00fczel",
    L"\u015e\u0131mar\u0131k", L"Unutamam", L"Haydi", L"S\u00f6yle", L"Kal", L"Yeter", L"Bu", L"Ak\u015fam",
    L"Parampar\u00e7a", L"Yol", L"R\u00fczgar", L"Hat\u0131ra",
};
static const int ARTIST_COUNT = sizeof(ARTISTS) / sizeof(ARTISTS[0]);
static const int WORD_COUNT = sizeof(WORDS) / sizeof(WORDS[0]);

static double seconds_since(LARGE_INTEGER start) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return (double)(now.QuadPart - start.QuadPart) / (double)freq.QuadPart;
}

// An id of the shape the downloader writes into file names, different for every n
// (splitmix64 is a bijection; ten of its 6-bit groups and one more from n).
static void fake_id(int n, wchar_t* out) {
    static const wchar_t ALPHABET[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    unsigned long long h = (unsigned long long)n + 0x9E3779B97F4A7C15ull;
    h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
    h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
    h ^= h >> 31;
    for (int i = 0; i < 10; i++, h >>= 6) out[i] = ALPHABET[h & 63];
    out[10] = ALPHABET[(unsigned)n & 63];
    out[11] = 0;
}

// "Artist - Word Word[ Word] N": realistic names, every one distinct.
static void song_name(int n, wchar_t* out, int capacity) {
    unsigned x = (unsigned)n * 7919u;
    const wchar_t* artist = ARTISTS[n % ARTIST_COUNT];
    const wchar_t* w1 = WORDS[x % WORD_COUNT];
    const wchar_t* w2 = WORDS[(x / 7) % WORD_COUNT];
    if (n % 3 == 0) wstr_format(out, capacity, L"%ls - %ls %ls %d", artist, w1, w2, n);
    else wstr_format(out, capacity, L"%ls - %ls %ls %ls %d", artist, w1, w2, WORDS[(x / 13) % WORD_COUNT], n);
}

// A library as a download folder holds it: a third of the names carry their video id, some
// the site's extra words.
static void fill_library(int count) {
    track_list_free();
    for (int i = 0; i < count; i++) {
        wchar_t name[200], id[12], path[260];
        song_name(i, name, 200);
        fake_id(i, id);
        if (i % 3 == 0) wstr_format(path, 260, L"C:\\M\u00fczik\\%ls [%ls].m4a", name, id);
        else if (i % 3 == 1) wstr_format(path, 260, L"C:\\M\u00fczik\\%ls (Official Video).mp3", name);
        else wstr_format(path, 260, L"C:\\M\u00fczik\\%ls.mp3", name);
        track_list_add(path, 0);
    }
}

// The best of several runs: until half a second has been spent, and three runs at least
// unless they take seconds.
template <class F>
static double best_time(F run) {
    double best = 1e9, total = 0;
    for (int r = 0; r == 0 || (total < 0.5 && r < 50) || (r < 3 && total < 2.0); r++) {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        run();
        double t = seconds_since(start);
        total += t;
        if (t < best) best = t;
    }
    return best;
}

// Keeps the compiler from dropping key computations whose result is not otherwise used.
volatile unsigned g_key_sink;

static double key_pass_time(void) {
    return best_time([] {
        wchar_t key[COMPARE_KEY_CAPACITY];
        for (int i = 0; i < track_list_count(); i++) {
            make_compare_key(track_list_at(i)->title, key, COMPARE_KEY_CAPACITY);
            g_key_sink = key[0];
        }
    });
}

static void bench_find(int tracks) {
    fill_library(tracks);
    double key_pass = key_pass_time();
    printf("== %d tracks\n", tracks);
    printf("  one make_compare_key pass over every title: %.2f ms\n", key_pass * 1000);

    // Nothing matches: the id pass, the exact-title pass, the key pass and the scoring pass
    // all run over the whole list.
    int found = 0;
    double none = best_time([&] { found = find_matching_track(L"Nobody Here - Nothing Like This", L"zzzzzzzzzz0"); });
    printf("  find_matching_track, no match (every pass): %.2f ms (%.1f key passes), result %d\n", none * 1000,
           none / key_pass, found);

    // The last track's name with a guest added to the artist: the whole-title passes miss
    // it and only scoring finds it.
    wchar_t name[200], artist[128], title[128], featured[260];
    song_name(tracks - 1, name, 200);
    split_artist_title(name, artist, 128, title, 128);
    wstr_format(featured, 260, L"%ls feat. Ceza - %ls", artist, title);
    double scored = best_time([&] { found = find_matching_track(featured, L""); });
    printf("  find_matching_track, found by scoring: %.2f ms (%.1f key passes), result %d (expected %d)\n",
           scored * 1000, scored / key_pass, found, tracks - 1);
}

static void bench_import(int tracks) {
    fill_library(tracks);
    double key_pass = key_pass_time();
    int library_count = track_list_count();

    // A friend's list: other songs, paths of another machine, a third with their ids.
    wchar_t list[MAX_PATH];
    wstr_format(list, MAX_PATH, L"%ls\\shared.m3u", program_home_path().c_str());
    HANDLE f = CreateFileW(list, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        printf("cannot write %ls\n", list);
        return;
    }
    const int entries = 256;
    char header[] = "\xEF\xBB\xBF#EXTM3U\r\n";
    DWORD written;
    WriteFile(f, header, (DWORD)(sizeof(header) - 1), &written, nullptr);
    for (int i = 0; i < entries; i++) {
        wchar_t name[200], id[12], text[700];
        song_name(1000000 + i, name, 200);
        fake_id(1000000 + i, id);
        if (i % 3 == 0)
            wstr_format(text, 700,
                        L"#EXTNELVO:YTID=%ls\r\n#EXTINF:-1,%ls\r\nC:\\Users\\arkadas\\Music\\%ls [%ls].m4a\r\n", id,
                        name, name, id);
        else wstr_format(text, 700, L"#EXTINF:-1,%ls\r\nC:\\Users\\arkadas\\Music\\%ls.mp3\r\n", name, name);
        char bytes[2100];
        int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, (int)sizeof(bytes), nullptr, nullptr);
        if (n > 1) WriteFile(f, bytes, (DWORD)(n - 1), &written, nullptr);
    }
    CloseHandle(f);

    static WantedTrack wanted[256];
    int wanted_count = 0, resolved = 0;
    // As the import command does it: the tracks' keys kept for the length of the read.
    double import = best_time([&] {
        matching_cache_begin();
        resolved = read_playlist_file(list, wanted, 256, &wanted_count);
        matching_cache_end();
    });
    double uncached = best_time([&] { read_playlist_file(list, wanted, 256, &wanted_count); });
    printf("== import of a %d-entry playlist (none of it here) against %d tracks\n", entries, tracks);
    printf("  read_playlist_file: %.1f ms (%.0f key passes; %.2f ms per entry), %d resolved, %d wanted, list %s\n",
           import * 1000, import / key_pass, import * 1000 / entries, resolved, wanted_count,
           track_list_count() == library_count ? "unchanged" : "CHANGED");
    printf("  more than 100 ms: %s (without the kept keys: %.1f ms)\n", import > 0.1 ? "yes" : "no", uncached * 1000);

    // The same file against an empty list: what reading and resolving cost without matching.
    track_list_free();
    double alone = best_time([&] { read_playlist_file(list, wanted, 256, &wanted_count); });
    printf("  the same read against an empty list: %.2f ms, %d wanted\n", alone * 1000, wanted_count);
    DeleteFileW(list);
}

int wmain(void) {
    program_home_enter(L"bench-match");
    track_list_init();
    bench_find(1000);
    bench_find(10000);
    bench_import(10000);
    track_list_free();
    return 0;
}

// Prints what the tag reader finds in each file named on the command line, one line each:
// path, title, artist, album, album artist, disc, track, duration in ms, picture or "-",
// separated by tabs, in UTF-8. With --shown, what the list would show instead: path, the
// bold first line, the second line and the duration at the row's right. --root FOLDER names
// the music folder the files lie in, whose artist and album folders the list reads. For
// looking at a person's own music by hand.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <string>

#include "library/tag_file.h"
#include "library/track_info.h"

static std::string utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize((size_t)n - 1);
    return out;
}

int wmain(int argc, wchar_t** argv) {
    // Bytes as they are: no CR before each newline, no code-page conversion.
    _setmode(_fileno(stdout), _O_BINARY);
    int shown_lines = 0;
    const wchar_t* root = nullptr;
    int first = 1;
    for (; first < argc; first++) {
        if (!wcscmp(argv[first], L"--shown")) shown_lines = 1;
        else if (!wcscmp(argv[first], L"--root") && first + 1 < argc) root = argv[++first];
        else break;
    }
    if (first >= argc) {
        fputs("usage: tag_dump [--shown] [--root MUSIC_FOLDER] FILE...\n", stderr);
        return 2;
    }
    int failed = 0;
    for (int i = first; i < argc; i++) {
        TrackTags t;
        int format = tags_read_file(argv[i], &t);
        if (format == TAG_FORMAT_NONE) failed = 1;
        if (shown_lines) {
            TrackShown shown;
            track_shown_make(argv[i], root, format == TAG_FORMAT_NONE ? nullptr : &t, &shown);
            Track track = {};
            track.title = shown.title;
            track.artist = shown.artist;
            track.album = shown.album;
            wchar_t second[TRACK_TEXT_CAPACITY], duration[16];
            track_second_line(&track, second, TRACK_TEXT_CAPACITY);
            format_track_duration(duration, 16, shown.duration_ms);
            std::string line = utf8(argv[i]) + "\t" + utf8(shown.title) + "\t" + utf8(second) + "\t" + utf8(duration) + "\n";
            fwrite(line.data(), 1, line.size(), stdout);
            continue;
        }
        std::string line = utf8(argv[i]) + "\t" + utf8(t.title) + "\t" + utf8(t.artist) + "\t" + utf8(t.album) + "\t" +
                           utf8(t.album_artist) + "\t" + std::to_string(t.disc) + "\t" + std::to_string(t.track) + "\t" +
                           std::to_string(t.duration_ms) + "\t" + (t.picture_length ? "picture" : "-") + "\n";
        fwrite(line.data(), 1, line.size(), stdout);
    }
    return failed;
}

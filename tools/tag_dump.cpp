// Prints what the tag reader finds in each file named on the command line, one line each:
// path, title, artist, album, album artist, disc, track, duration in ms, picture or "-",
// separated by tabs, in UTF-8. For looking at a person's own music by hand.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <string>

#include "library/tag_file.h"

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
    if (argc < 2) {
        fputs("usage: tag_dump FILE...\n", stderr);
        return 2;
    }
    int failed = 0;
    for (int i = 1; i < argc; i++) {
        TrackTags t;
        int format = tags_read_file(argv[i], &t);
        if (format == TAG_FORMAT_NONE) failed = 1;
        std::string line = utf8(argv[i]) + "\t" + utf8(t.title) + "\t" + utf8(t.artist) + "\t" + utf8(t.album) + "\t" +
                           utf8(t.album_artist) + "\t" + std::to_string(t.disc) + "\t" + std::to_string(t.track) + "\t" +
                           std::to_string(t.duration_ms) + "\t" + (t.picture_length ? "picture" : "-") + "\n";
        fwrite(line.data(), 1, line.size(), stdout);
    }
    return failed;
}

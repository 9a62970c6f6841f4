#pragma once
// Reading what the sound device wrote when ALSA points it at a raw file (48 kHz stereo
// 16-bit): the tests and the playback benchmark look at the same captures the same way.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

enum { SOUND_CAPTURE_RATE = 48000 };

// Every sound stream writes a file of its own: path, then path.0001, path.0002... Sorted by
// name they are the capture in the order it was heard.
inline std::vector<std::wstring> sound_capture_files(const std::wstring& path) {
    std::vector<std::wstring> files;
    if (path.empty()) return files;
    std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return files;
    do files.push_back(folder + fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(files.begin(), files.end());
    return files;
}

// The left channel of captured bytes from offset start on.
inline std::vector<short> sound_capture_left(const std::string& bytes, size_t start) {
    start -= start % 4;
    std::vector<short> left;
    for (size_t i = start; i + 4 <= bytes.size(); i += 4) {
        short v;
        memcpy(&v, bytes.data() + i, 2);
        left.push_back(v);
    }
    return left;
}

// The longest run of silence between the first and the last sound, in milliseconds of
// samples: what a listener hears between two tracks that share one stream.
inline double sound_silence_inside_ms(const std::vector<short>& left) {
    long long first = -1, last = -1;
    for (size_t i = 0; i < left.size(); i++)
        if (abs(left[i]) >= 1000) {
            if (first < 0) first = (long long)i;
            last = (long long)i;
        }
    long long longest = 0, run = 0;
    for (long long i = first; first >= 0 && i <= last; i++) {
        run = abs(left[(size_t)i]) < 300 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest * 1000.0 / SOUND_CAPTURE_RATE;
}

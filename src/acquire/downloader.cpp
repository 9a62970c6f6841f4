#include "acquire/downloader.h"

#include <string.h>
#include <wchar.h>

#include "acquire/child_process.h"
#include "acquire/output_lines.h"

int downloader_command_line(wchar_t* line, int capacity, const wchar_t* target, const wchar_t* folder) {
    if (!target || !target[0] || !folder || !folder[0] || capacity < 1) return 0;
    if (target[0] == L'-') return 0;
    line[0] = 0;
    wchar_t output[DOWNLOADER_LINE_CAPACITY];
    int folder_length = (int)wcslen(folder);
    static const wchar_t TEMPLATE[] = L"\\%(title)s [%(id)s].%(ext)s";
    if (folder_length + (int)wcslen(TEMPLATE) >= DOWNLOADER_LINE_CAPACITY) return 0;
    wmemcpy(output, folder, folder_length);
    wcscpy(output + folder_length, TEMPLATE);
    // The fixed words are written bare, as the downloader's own documentation writes them;
    // everything that can hold a blank or comes from elsewhere goes through the quoting.
    static const wchar_t FIXED[] =
        DOWNLOADER_EXE L" --progress --newline --no-warnings --concurrent-fragments 4 --buffer-size 16M -f";
    if ((int)wcslen(FIXED) >= capacity) return 0;
    wcscpy(line, FIXED);
    if (!command_line_append(line, capacity, L"ba[ext=m4a]/ba")) return 0;
    int length = (int)wcslen(line);
    static const wchar_t NO_PLAYLIST[] = L" --no-playlist -o";
    if (length + (int)wcslen(NO_PLAYLIST) >= capacity) return 0;
    wcscpy(line + length, NO_PLAYLIST);
    if (!command_line_append(line, capacity, output)) return 0;
    if (!command_line_append(line, capacity, target)) return 0;
    return 1;
}

int progress_from_line(const char* line, int length) {
    static const char TAG[] = "[download]";
    const int tag_length = (int)sizeof TAG - 1;
    int tag = -1;
    for (int i = 0; i + tag_length <= length; i++) {
        if (memcmp(line + i, TAG, tag_length) == 0) {
            tag = i;
            break;
        }
    }
    if (tag < 0) return -1;
    // The downloader right-aligns the percentage behind the tag; any other "[download]"
    // line (the destination, "has already been downloaded") may hold a title such as
    // "100% Pure Love", so the number has to be the first thing after the blanks.
    int i = tag + tag_length;
    while (i < length && line[i] == ' ') i++;
    // Digits, then at most one fraction.
    double value = 0;
    int digits = 0;
    for (; i < length && line[i] >= '0' && line[i] <= '9'; i++, digits++) value = value * 10 + (line[i] - '0');
    if (i < length && line[i] == '.') {
        double scale = 0.1;
        for (i++; i < length && line[i] >= '0' && line[i] <= '9'; i++, digits++, scale /= 10) {
            value += (line[i] - '0') * scale;
        }
    }
    if (digits == 0 || i >= length || line[i] != '%') return -1;
    if (value > 100) return -1;
    int rounded = (int)(value + 0.5);
    return rounded > 99 ? 99 : rounded;
}

namespace {
struct ProgressState {
    DownloadProgress progress;
    intptr_t user;
    int last;
};
}  // namespace

static void on_output_line(const char* line, int length, void* user) {
    ProgressState* state = (ProgressState*)user;
    int percent = progress_from_line(line, length);
    if (percent > state->last) {
        state->last = percent;
        if (state->progress) state->progress(percent, state->user);
    }
}

int run_downloader(const wchar_t* target, const wchar_t* folder, const std::atomic<int>* cancel,
                   DownloadProgress progress, intptr_t user) {
    wchar_t line[DOWNLOADER_LINE_CAPACITY];
    if (!downloader_command_line(line, DOWNLOADER_LINE_CAPACITY, target, folder)) return 0;
    ChildProcess child;
    if (!child_start(line, 1, &child)) return 0;
    ProgressState state = {progress, user, 3};
    if (progress) progress(3, user);

    char line_bytes[PROGRESS_LINE_CAPACITY];
    OutputLines lines;
    output_lines_init(&lines, line_bytes, PROGRESS_LINE_CAPACITY);
    child_read_lines(&child, 1023, cancel, &lines, on_output_line, &state);
    DWORD code = child_finish(&child, 15000);
    child_close(&child);
    if (cancel && cancel->load()) return 0;
    if (code != 0) return 0;
    if (progress) progress(100, user);
    return 1;
}

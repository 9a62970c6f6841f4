#include "acquire/downloader.h"

#include <string.h>
#include <wchar.h>

#include "acquire/child_process.h"
#include "acquire/output_lines.h"
#include "base/wstr.h"

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
    // Without --encoding the downloader writes to a pipe in the console's code page, which
    // cannot hold every character of a title, and the destination it names would be lost.
    static const wchar_t FIXED[] = DOWNLOADER_EXE
        L" --encoding utf-8 --progress --newline --no-warnings --concurrent-fragments 4 --buffer-size 16M -f";
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

int destination_from_line(const char* line, int length, wchar_t* path, int capacity) {
    static const char TAG[] = "[download] ";
    static const char WRITTEN[] = "Destination: ";
    static const char ALREADY[] = " has already been downloaded";
    const int tag_length = (int)sizeof TAG - 1, written_length = (int)sizeof WRITTEN - 1;
    const int already_length = (int)sizeof ALREADY - 1;
    if (capacity < 1) return 0;
    path[0] = 0;
    // Only at the start of the line: the words may also stand inside a title or an address
    // that another line echoes.
    if (length <= tag_length || memcmp(line, TAG, tag_length) != 0) return 0;
    int kind = 0, start = tag_length, end = length;
    if (length - start > written_length && memcmp(line + start, WRITTEN, written_length) == 0) {
        kind = 1;
        start += written_length;
    } else if (length - start > already_length && memcmp(line + end - already_length, ALREADY, already_length) == 0) {
        kind = 2;
        end -= already_length;
    } else {
        return 0;
    }
    // A room of 0 characters would make the conversion below report the size it needs.
    if (capacity < 2) return 0;
    // Fails rather than cuts when the path does not fit, and for bytes that are not UTF-8.
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line + start, end - start, path, capacity - 1);
    if (units <= 0) {
        path[0] = 0;
        return 0;
    }
    path[units] = 0;
    return kind;
}

namespace {
struct OutputState {
    DownloadProgress progress;
    intptr_t user;
    int last;
    wchar_t* destination;
    int destination_capacity;
    int written;
};
}  // namespace

static void on_output_line(const char* line, int length, void* user) {
    OutputState* state = (OutputState*)user;
    int percent = progress_from_line(line, length);
    if (percent > state->last) {
        state->last = percent;
        if (state->progress) state->progress(percent, state->user);
    }
    if (percent < 0 && state->destination) {
        wchar_t path[DESTINATION_CAPACITY_MAX];
        int kind = destination_from_line(line, length, path, state->destination_capacity);
        if (kind) {
            wstr_copy(state->destination, state->destination_capacity, path);
            state->written = kind == 1;
        }
    }
}

int run_downloader(const wchar_t* target, const wchar_t* folder, const std::atomic<int>* cancel,
                   DownloadProgress progress, intptr_t user, wchar_t* destination, int destination_capacity,
                   int* written) {
    if (destination_capacity > DESTINATION_CAPACITY_MAX) destination_capacity = DESTINATION_CAPACITY_MAX;
    if (destination && destination_capacity < 1) destination = nullptr;
    if (destination) destination[0] = 0;
    if (written) *written = 0;
    wchar_t line[DOWNLOADER_LINE_CAPACITY];
    if (!downloader_command_line(line, DOWNLOADER_LINE_CAPACITY, target, folder)) return 0;
    ChildProcess child;
    if (!child_start(line, 1, &child)) return 0;
    OutputState state = {progress, user, 3, destination, destination_capacity, 0};
    if (progress) progress(3, user);

    char line_bytes[DOWNLOADER_OUTPUT_LINE_CAPACITY];
    OutputLines lines;
    output_lines_init(&lines, line_bytes, DOWNLOADER_OUTPUT_LINE_CAPACITY);
    child_read_lines(&child, 1023, cancel, &lines, on_output_line, &state);
    DWORD code = child_finish(&child, 15000);
    child_close(&child);
    if (written) *written = destination && destination[0] ? state.written : 0;
    if (cancel && cancel->load()) return 0;
    if (code != 0) return 0;
    if (progress) progress(100, user);
    return 1;
}

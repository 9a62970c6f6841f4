#include "acquire/downloader.h"

#include <string.h>
#include <wchar.h>

#include "acquire/child_process.h"
#include "acquire/output_lines.h"
#include "base/wstr.h"

//~ The program

static wchar_t g_program[MAX_PATH] = DOWNLOADER_EXE;

void downloader_set_program(const wchar_t* exe_name) {
    wstr_copy(g_program, exe_name && exe_name[0] ? exe_name : DOWNLOADER_EXE);
}

int downloader_command_start(wchar_t* line, int capacity) {
    if (capacity < 1) return 0;
    line[0] = 0;
    if (wcschr(g_program, L' ') || wcschr(g_program, L'\t')) return command_line_append(line, capacity, g_program);
    if ((int)wcslen(g_program) >= capacity) return 0;
    wcscpy(line, g_program);
    return 1;
}

int downloader_found(void) {
    wchar_t path[MAX_PATH];
    DWORD n = SearchPathW(nullptr, g_program, nullptr, MAX_PATH, path, nullptr);
    if (n == 0 || n >= MAX_PATH) return 0;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

//~ Downloading

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
    static const wchar_t FIXED[] =
        L" --encoding utf-8 --progress --newline --no-warnings --concurrent-fragments 4 --buffer-size 16M -f";
    if (!downloader_command_start(line, capacity)) return 0;
    int length = (int)wcslen(line);
    if (length + (int)wcslen(FIXED) >= capacity) return 0;
    wcscpy(line + length, FIXED);
    if (!command_line_append(line, capacity, L"ba[ext=m4a]/ba")) return 0;
    length = (int)wcslen(line);
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
    if (!child_start(line, 1, &child)) return DOWNLOADER_MISSING;
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

//~ Self-update

int downloader_update_due(long long last_attempt, long long now) {
    if (last_attempt > now + 24 * 60 * 60) return 1;
    return now - last_attempt >= DOWNLOADER_UPDATE_INTERVAL_S;
}

// Where word starts in the first length bytes of line, or nullptr.
static const char* find_word(const char* line, int length, const char* word) {
    int n = (int)strlen(word);
    for (int i = 0; i + n <= length; i++) {
        if (memcmp(line + i, word, (size_t)n) == 0) return line + i;
    }
    return nullptr;
}

// The release named at from (up to end): "version " skipped, cut at a blank, bracket or
// list mark, a closing full stop dropped, the channel before '@' dropped. Printable ASCII
// only: a version is never anything else, and no stray byte reaches the window.
static void version_at(const char* from, const char* end, wchar_t* version, int capacity) {
    if (capacity < 1) return;
    version[0] = 0;
    static const char VERSION_WORD[] = "version ";
    if (end - from >= (int)sizeof VERSION_WORD - 1 && memcmp(from, VERSION_WORD, sizeof VERSION_WORD - 1) == 0) {
        from += sizeof VERSION_WORD - 1;
    }
    const char* stop = from;
    while (stop < end && *stop != ' ' && *stop != ')' && *stop != ',' && *stop != ';') stop++;
    while (stop > from && stop[-1] == '.') stop--;
    for (const char* p = from; p < stop; p++) {
        if (*p == '@') from = p + 1;
    }
    int n = 0;
    for (const char* p = from; p < stop && n < capacity - 1; p++) {
        if (*p > 0x20 && *p < 0x7f) version[n++] = (wchar_t)*p;
    }
    version[n] = 0;
}

int downloader_update_outcome(const char* output, int exit_code, wchar_t* version, int capacity) {
    wchar_t updated[DOWNLOADER_UPDATE_VERSION_CAPACITY] = L"", current[DOWNLOADER_UPDATE_VERSION_CAPACITY] = L"";
    wchar_t installed[DOWNLOADER_UPDATE_VERSION_CAPACITY] = L"";
    int is_updated = 0, is_current = 0, error = 0;
    static const char UPDATED[] = "Updated yt-dlp to ";
    static const char UP_TO_DATE[] = "is up to date (";
    static const char CURRENT[] = "Current version: ";
    for (const char* line = output; line && *line;) {
        const char* end = strchr(line, '\n');
        const char* next = end ? end + 1 : line + strlen(line);
        if (!end) end = next;
        if (end > line && end[-1] == '\r') end--;
        int length = (int)(end - line);
        const char* at;
        if (length >= 6 && memcmp(line, "ERROR:", 6) == 0) {
            error = 1;
        } else if ((at = find_word(line, length, UPDATED)) != nullptr) {
            is_updated = 1;
            version_at(at + sizeof UPDATED - 1, end, updated, DOWNLOADER_UPDATE_VERSION_CAPACITY);
        } else if ((at = find_word(line, length, UP_TO_DATE)) != nullptr) {
            is_current = 1;
            version_at(at + sizeof UP_TO_DATE - 1, end, current, DOWNLOADER_UPDATE_VERSION_CAPACITY);
        } else if (!installed[0] && (at = find_word(line, length, CURRENT)) != nullptr) {
            version_at(at + sizeof CURRENT - 1, end, installed, DOWNLOADER_UPDATE_VERSION_CAPACITY);
        }
        line = next;
    }
    int outcome = DOWNLOADER_UPDATE_FAILED;
    const wchar_t* named = L"";
    if (exit_code == 0 && !error) {
        if (is_updated) {
            outcome = DOWNLOADER_UPDATE_UPDATED;
            named = updated;
        } else if (is_current || installed[0]) {
            outcome = DOWNLOADER_UPDATE_CURRENT;
            named = current[0] ? current : installed;
        }
    }
    if (capacity > 0) wstr_copy(version, capacity, named);
    return outcome;
}

namespace {
struct UpdateOutput {
    char* text;
    int length;
};
}  // namespace

static void on_update_line(const char* line, int length, void* user) {
    UpdateOutput* out = (UpdateOutput*)user;
    // The first lines are kept when the output overflows; "-U" prints a handful.
    if (out->length + length + 2 > DOWNLOADER_UPDATE_OUTPUT_CAPACITY) return;
    memcpy(out->text + out->length, line, (size_t)length);
    out->length += length;
    out->text[out->length++] = '\n';
    out->text[out->length] = 0;
}

int downloader_self_update(wchar_t* version, int capacity, DWORD time_limit_ms) {
    if (capacity > 0) version[0] = 0;
    wchar_t line[MAX_PATH + 16];
    if (!downloader_command_start(line, MAX_PATH + 16)) return DOWNLOADER_MISSING;
    wstr_append(line, MAX_PATH + 16, L" -U");
    char* text = (char*)HeapAlloc(GetProcessHeap(), 0, DOWNLOADER_UPDATE_OUTPUT_CAPACITY);
    if (!text) return DOWNLOADER_UPDATE_FAILED;
    text[0] = 0;
    ChildProcess child;
    if (!child_start(line, 1, &child)) {
        HeapFree(GetProcessHeap(), 0, text);
        return DOWNLOADER_MISSING;
    }
    // The update replaces the program in place; one that hangs must still end, and not
    // outlive us: past the limit it is stopped, and it is in a job that ends with us.
    child.time_limit_ms = time_limit_ms;
    UpdateOutput output = {text, 0};
    char line_bytes[DOWNLOADER_OUTPUT_LINE_CAPACITY];
    OutputLines lines;
    output_lines_init(&lines, line_bytes, DOWNLOADER_OUTPUT_LINE_CAPACITY);
    // Past the limit the whole job is stopped; an update that had already exited (leaving
    // only something it started holding the output) keeps its own exit code.
    child_read_lines(&child, 1023, nullptr, &lines, on_update_line, &output);
    DWORD code = child_finish(&child, 5000);
    child_close(&child);
    int outcome = downloader_update_outcome(text, (int)code, version, capacity);
    HeapFree(GetProcessHeap(), 0, text);
    return outcome;
}

#include "app/settings.h"

#include <windows.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/file_replace.h"
#include "base/wstr.h"
#include "library/track_order.h"

enum { FOLDER_UTF8_MAX = 519, FOLDER_UTF8_OUT_MAX = 780, FOLDER_ESCAPED_MAX = 1038 };
// The window's place: numbers of at most seven digits (no screen is wider), in an object of
// at most 160 bytes.
enum { WINDOW_NUMBER_DIGITS = 7, WINDOW_OBJECT_MAX = 160 };

void settings_defaults(Settings* s) {
    s->last_folder[0] = 0;
    s->volume = DEFAULT_VOLUME;
    s->shuffle = 0;
    s->repeat = 0;
    s->sort = 0;
    s->jam_keep_downloads = 1;
    s->resume_path[0] = 0;
    s->resume_ms = 0;
    s->resume_length_ms = 0;
    s->downloader_checked = 0;
    s->window = SavedWindow{};
}

//~ Reading

// The text after the first colon that follows the quoted key, or nullptr.
static const char* value_after_key(const char* text, const char* quoted_key) {
    const char* key = strstr(text, quoted_key);
    if (!key) return nullptr;
    const char* colon = strchr(key + strlen(quoted_key), ':');
    return colon ? colon + 1 : nullptr;
}

// atoi's reading (leading blanks, a sign, digits), saturated instead of overflowing.
static int read_int(const char* p) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    int negative = 0;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long v = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (*p - '0');
        if (v > (long long)INT_MAX + 1) v = (long long)INT_MAX + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return (int)v;
}

static int read_int_key(const char* text, const char* quoted_key, int* out) {
    const char* value = value_after_key(text, quoted_key);
    if (!value) return 0;
    *out = read_int(value);
    return 1;
}

// A time in seconds since 1970: digits only, saturated; anything else keeps the default.
static void read_time_key(const char* text, const char* quoted_key, long long* out) {
    const char* p = value_after_key(text, quoted_key);
    if (!p) return;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    if (*p < '0' || *p > '9') return;
    long long v = 0;
    for (; *p >= '0' && *p <= '9'; p++) v = v > (LLONG_MAX - 9) / 10 ? LLONG_MAX : v * 10 + (*p - '0');
    *out = v;
}

static void read_path_key(const char* text, const char* quoted_key, wchar_t* out, int capacity) {
    const char* value = value_after_key(text, quoted_key);
    if (!value) return;
    const char* open = strchr(value, '"');
    if (!open) return;
    const char* close = strchr(open + 1, '"');
    if (!close) return;
    char unescaped[FOLDER_UTF8_MAX + 1];
    int n = 0;
    for (const char* p = open + 1; p < close && n < FOLDER_UTF8_MAX; p++) {
        if (p[0] == '\\' && p + 1 < close && p[1] == '\\') p++;
        unescaped[n++] = *p;
    }
    wchar_t wide[FOLDER_UTF8_MAX + 1];
    int w = n ? MultiByteToWideChar(CP_UTF8, 0, unescaped, n, wide, FOLDER_UTF8_MAX) : 0;
    wstr_copy_n(out, capacity, wide, w);
}

// A number as this program writes it: blanks, an optional minus, one to seven digits, and no
// digit after them. Anything else is damage.
static const char* read_plain_int(const char* p, int* out) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    int negative = *p == '-';
    if (negative) p++;
    int digits = 0, v = 0;
    for (; *p >= '0' && *p <= '9'; p++, digits++) {
        if (digits == WINDOW_NUMBER_DIGITS) return nullptr;
        v = v * 10 + (*p - '0');
    }
    if (!digits) return nullptr;
    *out = negative ? -v : v;
    return p;
}

// "window": {"x": X, "y": Y, "width": W, "height": H, "maximized": M}. The object is read
// between its braces only, its four numbers all or nothing: a damaged place is no place, and
// the window opens as at a first start.
static void read_window_key(const char* text, SavedWindow* out) {
    const char* p = value_after_key(text, "\"window\"");
    if (!p) return;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    if (*p != '{') return;
    const char* close = strchr(p, '}');
    if (!close || close - p > WINDOW_OBJECT_MAX) return;
    char object[WINDOW_OBJECT_MAX + 2];
    memcpy(object, p, (size_t)(close - p + 1));
    object[close - p + 1] = 0;
    static const char* const KEYS[] = {"\"x\"", "\"y\"", "\"width\"", "\"height\"", "\"maximized\""};
    int values[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 5; i++) {
        const char* value = value_after_key(object, KEYS[i]);
        if (!value && i == 4) break;  // not maximized
        if (!value || !read_plain_int(value, &values[i])) return;
    }
    if (values[2] <= 0 || values[3] <= 0) return;
    *out = SavedWindow{1, values[0], values[1], values[2], values[3], values[4] != 0};
}

void settings_parse(const char* text, Settings* s) {
    if (!text) return;
    read_path_key(text, "\"last_folder\"", s->last_folder, 260);
    int volume;
    if (read_int_key(text, "\"volume\"", &volume) && volume >= 0 && volume <= 100) s->volume = volume;
    read_int_key(text, "\"shuffle\"", &s->shuffle);
    read_int_key(text, "\"repeat\"", &s->repeat);
    read_int_key(text, "\"sort\"", &s->sort);
    if (s->sort < 0 || s->sort >= SORT_MODES) s->sort = 0;
    read_int_key(text, "\"jam_keep_downloads\"", &s->jam_keep_downloads);
    read_path_key(text, "\"resume_path\"", s->resume_path, 260);
    read_int_key(text, "\"resume_ms\"", &s->resume_ms);
    read_int_key(text, "\"resume_length_ms\"", &s->resume_length_ms);
    read_time_key(text, "\"downloader_checked\"", &s->downloader_checked);
    read_window_key(text, &s->window);
}

int settings_mirror_folder(wchar_t* buf, int capacity) {
    wchar_t appdata[260];
    DWORD n = GetEnvironmentVariableW(L"APPDATA", appdata, 260);
    if (n == 0 || n >= 260) return 0;
    return wstr_format(buf, capacity, L"%ls\\Nelvo", appdata) > 0;
}

static int mirror_path(wchar_t* path, int capacity) {
    wchar_t folder[260];
    if (!settings_mirror_folder(folder, 260)) return 0;
    CreateDirectoryW(folder, nullptr);  // an existing folder is fine
    return wstr_format(path, capacity, L"%ls\\config.json", folder) > 0;
}

static HANDLE open_for_reading(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The whole file, terminated, or nullptr when it is empty or over 64 KiB. Closes f.
static char* read_small_file(HANDLE f) {
    char* text = nullptr;
    LARGE_INTEGER size;
    DWORD got = 0;
    if (!GetFileSizeEx(f, &size) || size.QuadPart <= 0 || size.QuadPart > CONFIG_MAX_BYTES) goto done;
    text = (char*)malloc((size_t)size.QuadPart + 1);
    if (!text) goto done;
    if (!ReadFile(f, text, (DWORD)size.QuadPart, &got, nullptr)) got = 0;
    text[got] = 0;
done:
    CloseHandle(f);
    return text;
}

void load_settings(Settings* s, const wchar_t* file_name) {
    settings_defaults(s);
    HANDLE f = open_for_reading(file_name);
    if (f == INVALID_HANDLE_VALUE) {
        wchar_t mirror[260];
        if (!mirror_path(mirror, 260)) return;
        f = open_for_reading(mirror);
        if (f == INVALID_HANDLE_VALUE) return;
        CopyFileW(mirror, file_name, FALSE);
    }
    char* text = read_small_file(f);
    if (!text) return;
    settings_parse(text, s);
    free(text);
}

//~ Writing

// A path as a JSON string's contents: UTF-8 with its backslashes doubled.
static void escape_path(const wchar_t* path, char* escaped) {
    char utf8[FOLDER_UTF8_OUT_MAX + 4];
    int n = WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, (int)sizeof(utf8), nullptr, nullptr);
    if (n <= 0) utf8[0] = 0;
    utf8[FOLDER_UTF8_OUT_MAX] = 0;
    int e = 0;
    for (const char* p = utf8; *p && e < FOLDER_ESCAPED_MAX; p++) {
        if (*p == '\\') {
            if (e + 2 > FOLDER_ESCAPED_MAX) break;
            escaped[e++] = '\\';
        }
        escaped[e++] = *p;
    }
    escaped[e] = 0;
}

int settings_format(const Settings* s, char* out, int capacity) {
    char escaped[FOLDER_ESCAPED_MAX + 2];
    escape_path(s->last_folder, escaped);
    int len = snprintf(out, (size_t)capacity,
                       "{\n  \"last_folder\": \"%s\",\n  \"volume\": %d,\n  \"shuffle\": %d,\n"
                       "  \"repeat\": %d,\n  \"jam_keep_downloads\": %d",
                       escaped, s->volume, s->shuffle, s->repeat, s->jam_keep_downloads);
    if (len < 0 || len >= capacity) return -1;
    // Where to resume comes last, and only when there is somewhere: earlier versions look
    // their keys up by name and never see it.
    if (s->resume_path[0]) {
        escape_path(s->resume_path, escaped);
        int more = snprintf(out + len, (size_t)(capacity - len),
                            ",\n  \"resume_path\": \"%s\",\n  \"resume_ms\": %d,\n  \"resume_length_ms\": %d", escaped,
                            s->resume_ms, s->resume_length_ms);
        if (more < 0 || more >= capacity - len) return -1;
        len += more;
    }
    // Likewise the list's sort, when it is not the order on disk.
    if (s->sort > 0) {
        int more = snprintf(out + len, (size_t)(capacity - len), ",\n  \"sort\": %d", s->sort);
        if (more < 0 || more >= capacity - len) return -1;
        len += more;
    }
    // Likewise the downloader's last self-update, once there has been one.
    if (s->downloader_checked > 0) {
        int more = snprintf(out + len, (size_t)(capacity - len), ",\n  \"downloader_checked\": %lld",
                            s->downloader_checked);
        if (more < 0 || more >= capacity - len) return -1;
        len += more;
    }
    // Likewise the window's place, once it had one.
    if (s->window.known) {
        const SavedWindow* w = &s->window;
        int more = snprintf(out + len, (size_t)(capacity - len),
                            ",\n  \"window\": {\"x\": %d, \"y\": %d, \"width\": %d, \"height\": %d, \"maximized\": %d}",
                            w->x, w->y, w->width, w->height, w->maximized ? 1 : 0);
        if (more < 0 || more >= capacity - len) return -1;
        len += more;
    }
    int end = snprintf(out + len, (size_t)(capacity - len), "\n}\n");
    if (end < 0 || end >= capacity - len) return -1;
    return len + end;
}

void save_settings(const Settings* s, const wchar_t* file_name) {
    char text[2 * FOLDER_ESCAPED_MAX + 512];
    int length = settings_format(s, text, (int)sizeof(text));
    if (length < 0) return;
    if (!file_replace_contents(file_name, text, length)) return;
    wchar_t mirror[260];
    if (mirror_path(mirror, 260)) CopyFileW(file_name, mirror, FALSE);
}

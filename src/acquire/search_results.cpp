#include "acquire/search_results.h"

#include <limits.h>
#include <string.h>
#include <wchar.h>

#include "acquire/child_process.h"
#include "acquire/downloader.h"
#include "base/wstr.h"
#include "library/display_title.h"
#include "library/video_site.h"

int search_command_line(const wchar_t* text, wchar_t* line, int capacity) {
    if (capacity < 1) return 0;
    line[0] = 0;
    wchar_t query[SEARCH_TEXT_CAPACITY + 16];
    wstr_copy(query, L"ytsearch10:");
    wstr_append(query, SEARCH_TEXT_CAPACITY + 16, text);
    strip_control_characters(query);
    // The print template is written out whole: the downloader's own documentation spells it
    // this way, and the tabs inside are what the parser splits on.
    static const wchar_t FIXED[] =
        L" --encoding utf-8 --no-warnings --flat-playlist --print "
        L"\"%(id)s\t%(title)s\t%(duration)s\t%(uploader)s\t%(webpage_url)s\"";
    if (!downloader_command_start(line, capacity)) return 0;
    int length = (int)wcslen(line);
    if (length + (int)wcslen(FIXED) >= capacity) {
        line[0] = 0;
        return 0;
    }
    wcscpy(line + length, FIXED);
    return command_line_append(line, capacity, query);
}

// UTF-8 bytes into a fixed field; bytes that are not UTF-8 become U+FFFD. A cut never
// leaves half a surrogate pair at the end.
static void utf8_field(const char* bytes, int length, wchar_t* out, int capacity) {
    out[0] = 0;
    if (length <= 0) return;
    wchar_t wide[SEARCH_LINE_CAPACITY];
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes, length, wide, SEARCH_LINE_CAPACITY - 1);
    if (n <= 0) return;
    wide[n] = 0;
    int copied = wstr_copy(out, capacity, wide);
    if (copied > 0 && copied < n && out[copied - 1] >= 0xD800 && out[copied - 1] <= 0xDBFF) out[copied - 1] = 0;
}

int search_parse_duration(const char* text, int length) {
    if (length <= 0 || text[0] < '0' || text[0] > '9') return 0;
    long long seconds = 0;
    for (int i = 0; i < length && text[i] >= '0' && text[i] <= '9'; i++) {
        seconds = seconds * 10 + (text[i] - '0');
        if (seconds > INT_MAX) return INT_MAX;
    }
    return (int)seconds;
}

int search_parse_line(const char* line, int length, SearchResult* out) {
    int starts[5] = {0, 0, 0, 0, 0};
    int ends[5] = {0, 0, 0, 0, 0};
    int field = 0;
    for (int i = 0; i < length && field < 5; i++) {
        if (line[i] != '\t') continue;
        ends[field] = i;
        field++;
        if (field < 5) starts[field] = i + 1;
    }
    if (field < 3) return 0;
    // Fewer than five fields: the last one found runs to the end of the line.
    if (field < 5) ends[field] = length;
    int has_address = field >= 4;

    memset(out, 0, sizeof *out);
    utf8_field(line + starts[0], ends[0] - starts[0], out->video_id, 64);
    utf8_field(line + starts[1], ends[1] - starts[1], out->raw_title, 256);
    out->duration = search_parse_duration(line + starts[2], ends[2] - starts[2]);
    utf8_field(line + starts[3], ends[3] - starts[3], out->uploader, 128);
    if (has_address) utf8_field(line + starts[4], ends[4] - starts[4], out->webpage_url, 512);
    // The downloader prints "NA" for a field it does not know.
    if (!out->webpage_url[0] || wcscmp(out->webpage_url, L"NA") == 0) {
        wstr_format(out->webpage_url, 512, L"https://%ls/watch?v=%ls", YOUTUBE_WATCH_HOST, out->video_id);
    }
    wstr_copy(out->source, L"YouTube");
    make_display_title(out->raw_title, out->title, 256);
    if (!out->title[0]) wstr_copy(out->title, out->raw_title);
    return 1;
}

int thumbnail_address(const wchar_t* base, const wchar_t* video_id, int larger, wchar_t* out, int capacity) {
    int needed = _scwprintf(L"%ls/vi/%ls/%ls", base, video_id, larger ? L"mqdefault.jpg" : L"default.jpg");
    if (needed < 0 || needed >= capacity) {
        if (capacity > 0) out[0] = 0;
        return 0;
    }
    wstr_format(out, capacity, L"%ls/vi/%ls/%ls", base, video_id, larger ? L"mqdefault.jpg" : L"default.jpg");
    return 1;
}

void replace_line_breaks(wchar_t* text) {
    for (wchar_t* p = text; *p; p++) {
        if (*p == L'\r' || *p == L'\n') *p = L' ';
    }
}

void search_status_text(int count, wchar_t* out, int capacity) {
    if (count > 0) {
        wstr_format(out, capacity, L"%d sonu\u00e7 bulundu \u2022 \u00c7ift t\u0131klayarak hemen indirebilirsiniz",
                    count);
    } else {
        wstr_copy(out, capacity, L"Sonu\u00e7 bulunamad\u0131.");
    }
}

const wchar_t DOWNLOADER_MISSING_TEXT[] =
    L"yt-dlp.exe bulunamad\u0131 \u2022 Nelvo.exe'nin yan\u0131na ya da PATH'e koyun";

void update_status_text(int outcome, const wchar_t* version, wchar_t* out, int capacity) {
    int named = version && version[0];
    if (outcome == DOWNLOADER_UPDATE_UPDATED) {
        if (named) wstr_format(out, capacity, L"yt-dlp g\u00fcncellendi: %ls", version);
        else wstr_copy(out, capacity, L"yt-dlp g\u00fcncellendi");
    } else if (outcome == DOWNLOADER_UPDATE_CURRENT) {
        if (named) wstr_format(out, capacity, L"yt-dlp g\u00fcncel (%ls)", version);
        else wstr_copy(out, capacity, L"yt-dlp g\u00fcncel");
    } else {
        wstr_copy(out, capacity, L"yt-dlp g\u00fcncellenemedi \u2022 bir hafta sonra yeniden denenecek");
    }
}

void download_status_text(int percent, const wchar_t* title, wchar_t* out, int capacity) {
    wstr_format(out, capacity, L"\u0130ndiriliyor (%%%d): %ls", percent, title);
}

void download_button_text(int downloading, int percent, wchar_t* out, int capacity) {
    if (downloading) {
        wstr_format(out, capacity, L"\u0130ndiriliyor \u2022 %%%d", percent < 0 ? 0 : percent);
    } else {
        wstr_copy(out, capacity, L"\u0130ndir ve Listeye Ekle");
    }
}

void percent_label_text(int percent, wchar_t* out, int capacity) {
    wstr_format(out, capacity, L"%%%d", percent < 0 ? 0 : percent);
}

void duration_text(int seconds, const wchar_t* source, wchar_t* out, int capacity) {
    if (seconds < 0) seconds = 0;
    if (source) {
        wstr_format(out, capacity, L"%02d:%02d  \u2022  %ls", seconds / 60, seconds % 60, source);
    } else {
        wstr_format(out, capacity, L"%02d:%02d", seconds / 60, seconds % 60);
    }
}

int status_panel_visible(int downloading, int last_percent) {
    return downloading || last_percent >= 0;
}

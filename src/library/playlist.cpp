#include "library/playlist.h"

#include <windows.h>
#include <shlwapi.h>

#include <stdio.h>
#include <string.h>

#include "base/wanted_track.h"
#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/display_title.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "library/video_id.h"
#include "library/video_site.h"

//~ Text helpers

static wchar_t ascii_lower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? (wchar_t)(c - L'A' + L'a') : c;
}

// Whether text starts with prefix (lower-case ASCII), ignoring the case of ASCII letters.
static int starts_with_nocase(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix; text++, prefix++)
        if (ascii_lower(*text) != *prefix) return 0;
    return 1;
}

static int is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

static void trim_blanks(wchar_t* s) {
    int n = (int)wcslen(s);
    while (n > 0 && is_blank(s[n - 1])) s[--n] = 0;
    int start = 0;
    while (is_blank(s[start])) start++;
    if (start) memmove(s, s + start, (size_t)(n - start + 1) * sizeof(wchar_t));
}

//~ Video-site addresses

// The 11 id characters at p, when what follows them ends the id: the end, a blank or the
// start of another parameter or path part. "#" and a twelfth id character do not.
static int take_address_id(const wchar_t* p, wchar_t* out) {
    for (int i = 0; i < VIDEO_ID_LENGTH; i++)
        if (!is_video_id_char(p[i])) return 0;
    wchar_t next = p[VIDEO_ID_LENGTH];
    if (next && next != L' ' && next != L'&' && next != L'/' && next != L'?') return 0;
    wstr_copy_n(out, VIDEO_ID_CAPACITY, p, VIDEO_ID_LENGTH);
    return 1;
}

// Host names are ASCII and compared without regard to case.
static int host_is(const wchar_t* host, int length, const wchar_t* name) {
    if ((int)wcslen(name) != length) return 0;
    for (int i = 0; i < length; i++)
        if (ascii_lower(host[i]) != ascii_lower(name[i])) return 0;
    return 1;
}

void video_id_from_address(const wchar_t* address, wchar_t* out, int out_capacity) {
    if (!out || out_capacity <= 0) return;
    out[0] = 0;
    if (out_capacity < VIDEO_ID_LENGTH + 1 || !address) return;
    const wchar_t* p;
    if (starts_with_nocase(address, L"https://")) p = address + 8;
    else if (starts_with_nocase(address, L"http://")) p = address + 7;
    else return;
    const wchar_t* host = p;
    while (*p && *p != L'/' && *p != L'?' && *p != L'#' && !is_blank(*p)) p++;
    int host_length = (int)(p - host);
    wchar_t id[VIDEO_ID_CAPACITY];

    if (host_is(host, host_length, YOUTUBE_SHORT_HOST)) {
        if (*p == L'/' && take_address_id(p + 1, id)) wstr_copy(out, out_capacity, id);
        return;
    }
    int watch_host = 0;
    for (int i = 0; i < YOUTUBE_WATCH_HOST_COUNT; i++)
        if (host_is(host, host_length, YOUTUBE_WATCH_HOSTS[i])) watch_host = 1;
    if (!watch_host || wcsncmp(p, L"/watch?", 7) != 0) return;
    // The first "v" parameter of the query, wherever it stands among the others.
    for (p += 7; *p && *p != L'#' && !is_blank(*p);) {
        if (p[0] == L'v' && p[1] == L'=') {
            if (take_address_id(p + 2, id)) wstr_copy(out, out_capacity, id);
            return;
        }
        while (*p && *p != L'&' && *p != L'#' && !is_blank(*p)) p++;
        if (*p == L'&') p++;
    }
}

//~ Writing

// Lines are collected as UTF-8 in one buffer and written in large pieces.
struct PlaylistWriter {
    HANDLE file;
    char bytes[16384];
    int used;
    int failed;
};

static void writer_flush(PlaylistWriter* w) {
    if (w->failed || w->used == 0) return;
    DWORD written = 0;
    if (!WriteFile(w->file, w->bytes, (DWORD)w->used, &written, nullptr) || written != (DWORD)w->used) w->failed = 1;
    w->used = 0;
}

static void writer_bytes(PlaylistWriter* w, const char* bytes, int length) {
    if (w->used + length > (int)sizeof(w->bytes)) writer_flush(w);
    memcpy(w->bytes + w->used, bytes, (size_t)length);
    w->used += length;
}

// One line: the prefix (ASCII), the text, and CR LF.
static void writer_line(PlaylistWriter* w, const char* prefix, const wchar_t* text) {
    writer_bytes(w, prefix, (int)strlen(prefix));
    // A 259-character text takes at most 3 bytes per character (a surrogate pair takes 4
    // for two), and a lone surrogate becomes the 3-byte replacement character.
    char utf8[TRACK_TEXT_CAPACITY * 3];
    int n = text[0] ? WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, (int)sizeof(utf8), nullptr, nullptr) : 1;
    if (n <= 0) {
        w->failed = 1;
        return;
    }
    writer_bytes(w, utf8, n - 1);  // without the terminator
    writer_bytes(w, "\r\n", 2);
}

int write_playlist_file(const wchar_t* file_name) {
    if (!file_name || !file_name[0]) return 0;
    wchar_t full[MAX_PATH], folder[MAX_PATH], temp[MAX_PATH];
    DWORD length = GetFullPathNameW(file_name, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return 0;
    wstr_copy(folder, full);
    if (!PathRemoveFileSpecW(folder) || !GetTempFileNameW(folder, L"nlv", 0, temp)) return 0;

    PlaylistWriter w;
    w.file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    w.used = 0;
    w.failed = w.file == INVALID_HANDLE_VALUE;
    if (!w.failed) {
        writer_bytes(&w, "\xEF\xBB\xBF", 3);
        writer_line(&w, "#EXTM3U", L"");
        for (int i = 0; i < track_list_count() && !w.failed; i++) {
            const Track* t = track_list_at(i);
            wchar_t id[VIDEO_ID_CAPACITY];
            video_id_from_file_name(t->path, id, VIDEO_ID_CAPACITY);
            if (id[0]) writer_line(&w, "#EXTNELVO:YTID=", id);
            // Friends find the track by "Artist - Title"; other players read the seconds.
            wchar_t title[TRACK_TEXT_CAPACITY];
            track_full_title(t, title, TRACK_TEXT_CAPACITY);
            char info[32];
            snprintf(info, sizeof(info), "#EXTINF:%d,", t->duration_ms > 0 ? (t->duration_ms + 500) / 1000 : -1);
            writer_line(&w, info, title);
            writer_line(&w, "", t->path);
        }
        writer_flush(&w);
        // On disk before it replaces the old file, so that a crash leaves one or the other.
        if (!w.failed && !FlushFileBuffers(w.file)) w.failed = 1;
        CloseHandle(w.file);
    }
    if (!w.failed && MoveFileExW(temp, full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    DeleteFileW(temp);
    return 0;
}

//~ Reading lines

// How a file's bytes become text.
enum { TEXT_UTF8, TEXT_UTF16, TEXT_ANSI };

// Reads a file as lines of text, a chunk at a time. A byte-order mark says UTF-16 LE or
// UTF-8; without one the text is UTF-8 if every byte of the file is valid UTF-8, and
// otherwise in the system code page, which is what most players write.
struct LineReader {
    HANDLE file;
    int encoding;
    int at_end;
    unsigned char bytes[PLAYLIST_READ_CHUNK + 4];
    int carried;  // bytes of a character cut by the end of the previous chunk
    wchar_t text[PLAYLIST_READ_CHUNK + 4];
    int text_length, text_used;
    wchar_t line[PLAYLIST_LINE_CAPACITY];
};

// How many bytes at the end of a UTF-8 chunk begin a character that the next chunk
// completes. Only a lead byte with too few continuation bytes behind it is held back;
// everything else, valid or not, is decoded now.
static int utf8_cut_tail(const unsigned char* bytes, int length) {
    for (int back = 1; back <= 3 && back <= length; back++) {
        unsigned char b = bytes[length - back];
        if ((b & 0xC0) == 0x80) continue;
        int needed = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
        return back < needed ? back : 0;
    }
    return 0;
}

// The same for the system code page: a double-byte lead byte whose second byte is in the
// next chunk. The chunk starts on a character, so walking from its start finds them.
static int ansi_cut_tail(const unsigned char* bytes, int length) {
    int i = 0;
    while (i < length) i += IsDBCSLeadByteEx(CP_ACP, bytes[i]) ? 2 : 1;
    return i - length;
}

// Checks UTF-8 a piece at a time: need is the number of continuation bytes still owed and
// low..high the range the next one must fall in (which rules out overlong forms,
// surrogates and code points past U+10FFFF).
struct Utf8Check {
    int need;
    unsigned char low, high;
    int bad;
};

static void utf8_check(Utf8Check* c, const unsigned char* bytes, int length) {
    for (int i = 0; i < length && !c->bad; i++) {
        unsigned char b = bytes[i];
        if (c->need) {
            if (b < c->low || b > c->high) c->bad = 1;
            c->low = 0x80;
            c->high = 0xBF;
            c->need--;
            continue;
        }
        if (b < 0x80) continue;
        c->low = 0x80;
        c->high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) c->need = 1;
        else if (b >= 0xE0 && b <= 0xEF) {
            c->need = 2;
            if (b == 0xE0) c->low = 0xA0;
            if (b == 0xED) c->high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c->need = 3;
            if (b == 0xF0) c->low = 0x90;
            if (b == 0xF4) c->high = 0x8F;
        } else {
            c->bad = 1;
        }
    }
}

// Reads the byte-order mark, or without one the whole file to see whether it is UTF-8,
// and leaves the file at the first byte of text.
static int reader_start(LineReader* r) {
    DWORD got = 0;
    if (!ReadFile(r->file, r->bytes, PLAYLIST_READ_CHUNK, &got, nullptr)) got = 0;
    LONG skip = 0;
    if (got >= 2 && r->bytes[0] == 0xFF && r->bytes[1] == 0xFE) {
        r->encoding = TEXT_UTF16;
        skip = 2;
    } else if (got >= 3 && r->bytes[0] == 0xEF && r->bytes[1] == 0xBB && r->bytes[2] == 0xBF) {
        r->encoding = TEXT_UTF8;
        skip = 3;
    } else {
        Utf8Check check = {0, 0x80, 0xBF, 0};
        while (got > 0 && !check.bad) {
            utf8_check(&check, r->bytes, (int)got);
            if (!ReadFile(r->file, r->bytes, PLAYLIST_READ_CHUNK, &got, nullptr)) got = 0;
        }
        r->encoding = check.bad || check.need ? TEXT_ANSI : TEXT_UTF8;
    }
    return SetFilePointer(r->file, skip, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

static void reader_decode(LineReader* r, int length, int keep) {
    int usable = length - keep;
    if (r->encoding == TEXT_UTF16) {
        for (int i = 0; i + 1 < usable; i += 2)
            r->text[r->text_length++] = (wchar_t)(r->bytes[i] | (r->bytes[i + 1] << 8));
        if (usable & 1) r->text[r->text_length++] = 0xFFFD;  // an odd last byte of the file
    } else if (usable > 0) {
        // Without MB_ERR_INVALID_CHARS every invalid byte becomes U+FFFD (or the code
        // page's default character); the output never holds more characters than the
        // input has bytes.
        UINT code_page = r->encoding == TEXT_ANSI ? CP_ACP : CP_UTF8;
        r->text_length =
            MultiByteToWideChar(code_page, 0, (const char*)r->bytes, usable, r->text, PLAYLIST_READ_CHUNK + 4);
        if (r->text_length < 0) r->text_length = 0;
    }
    memmove(r->bytes, r->bytes + usable, (size_t)keep);
    r->carried = keep;
}

// Refills the decoded text; 0 at the end of the file (or on a read error).
static int reader_fill(LineReader* r) {
    r->text_length = r->text_used = 0;
    while (!r->at_end && r->text_length == 0) {
        DWORD got = 0;
        if (!ReadFile(r->file, r->bytes + r->carried, PLAYLIST_READ_CHUNK, &got, nullptr) || got == 0) {
            r->at_end = 1;
            reader_decode(r, r->carried, 0);  // a cut character at the very end: decoded as invalid
            break;
        }
        int length = r->carried + (int)got;
        int keep = r->encoding == TEXT_UTF16 ? (length & 1)
                   : r->encoding == TEXT_ANSI ? ansi_cut_tail(r->bytes, length)
                                              : utf8_cut_tail(r->bytes, length);
        reader_decode(r, length, keep);
    }
    return r->text_length > 0;
}

// The next line into r->line, without its LF; a line of more than PLAYLIST_LINE_CAPACITY-1
// characters comes in pieces, never cut between the halves of a surrogate pair. A NUL in
// the text cuts what string functions see of that line.
static int reader_next_line(LineReader* r) {
    int n = 0;
    for (;;) {
        if (r->text_used == r->text_length && !reader_fill(r)) break;
        wchar_t c = r->text[r->text_used++];
        if (c == L'\n') {
            r->line[n] = 0;
            return 1;
        }
        r->line[n++] = c;
        if (n == PLAYLIST_LINE_CAPACITY - 1) {
            // c came from the text just now, so it can be given back to the next piece.
            if (n > 1 && wstr_is_high_surrogate(c)) {
                n--;
                r->text_used--;
            }
            break;
        }
    }
    r->line[n] = 0;
    return n > 0;
}

//~ Reading entries

// What the lines before a path or address said about it.
struct PendingEntry {
    wchar_t title[WANTED_TITLE_CAPACITY];
    wchar_t id[VIDEO_ID_CAPACITY];
};

struct ImportState {
    wchar_t folder[MAX_PATH];  // the playlist's folder, absolute
    WantedTrack* wanted;
    int wanted_capacity;
    int wanted_count;
    int resolved;
    PendingEntry pending;
    // The folder part (with its last backslash) of the last path whose folder was missing.
    // A playlist from another machine names the same absent folder over and over, and each
    // look-up of a missing file costs as much as opening one.
    wchar_t missing_folder[MAX_PATH];
};

// The local file a path line names: relative to the playlist's folder, made canonical so
// that ".." segments do not defeat the duplicate check of the track list. 0 when the path
// is too long to name a file that the list could hold.
static int resolve_path_line(const ImportState* s, wchar_t* line, wchar_t* out) {
    out[0] = 0;
    for (wchar_t* p = line; *p; p++)
        if (*p == L'/') *p = L'\\';  // lists written on other systems
    if (wcslen(line) >= MAX_PATH) return 0;
    if (PathIsRelativeW(line)) return PathCombineW(out, s->folder, line) != nullptr;
    return PathCanonicalizeW(out, line);
}

static int is_network_form(const wchar_t* path) { return path[0] == L'\\' && path[1] == L'\\'; }

static int local_file_exists(ImportState* s, const wchar_t* path) {
    if (!path[0]) return 0;
    int folder_length = (int)(PathFindFileNameW(path) - path);
    if (s->missing_folder[0] &&
        CompareStringOrdinal(path, folder_length, s->missing_folder, -1, TRUE) == CSTR_EQUAL)
        return 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_PATH_NOT_FOUND)
        wstr_copy_n(s->missing_folder, MAX_PATH, path, folder_length);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static int is_wanted_duplicate(const ImportState* s, const wchar_t* title, const wchar_t* id) {
    for (int i = 0; i < s->wanted_count; i++) {
        const WantedTrack* w = &s->wanted[i];
        if (id[0] && !wcscmp(w->video_id, id)) return 1;
        // Ordinal, as matching compares titles: a locale's sorting takes "Straße" for
        // "Strasse" (and on Windows "Don't" for "Dont"), and its case rules change with the
        // user's language.
        if (title[0] && CompareStringOrdinal(w->title, -1, title, -1, TRUE) == CSTR_EQUAL) return 1;
    }
    return 0;
}

// An entry that is not a local file: a library track may still be it, otherwise it is
// wanted. One known only by its id is named after it, as the address line shows it.
static void import_unresolved(ImportState* s) {
    const wchar_t* title = s->pending.title;
    const wchar_t* id = s->pending.id;
    if (!title[0] && id[0])
        wstr_format(s->pending.title, WANTED_TITLE_CAPACITY, L"YouTube Par\u00e7as\u0131 (%ls)", id);
    if (find_matching_track(title, id) >= 0) {
        s->resolved++;
        return;
    }
    if (!title[0] && !id[0]) return;
    if (!s->wanted || s->wanted_count >= s->wanted_capacity || is_wanted_duplicate(s, title, id)) return;
    WantedTrack* w = &s->wanted[s->wanted_count++];
    wstr_copy(w->title, title);
    wstr_copy(w->video_id, id);
}

static void import_address(ImportState* s, const wchar_t* line) {
    if (!s->pending.id[0]) video_id_from_address(line, s->pending.id, VIDEO_ID_CAPACITY);
    import_unresolved(s);
}

// A line in network form ("\\server\share\...", and the "\\?\" and "\\.\" forms) is
// taken as a file that is not here, without looking: a playlist from a friend may name a
// server that does not answer, and the import would wait for the network time-out on every
// such entry. Relative lines of a playlist opened from a share are looked up, since that
// server has just answered.
// Only audio files are taken into the list: a playlist from someone else must not be able
// to put any other file there (where "delete from disk" would reach it). Another name is
// still the entry the lines before it describe, but gives it no title of its own.
static void import_path(ImportState* s, wchar_t* line) {
    int audio = has_audio_extension(line);
    wchar_t path[MAX_PATH];
    if (audio && resolve_path_line(s, line, path) && !is_network_form(line) && local_file_exists(s, path)) {
        if (track_list_add_unique(path) >= 0) s->resolved++;
        return;
    }
    if (!s->pending.id[0]) video_id_from_file_name(line, s->pending.id, VIDEO_ID_CAPACITY);
    if (audio && !s->pending.title[0]) make_path_display_title(line, s->pending.title, WANTED_TITLE_CAPACITY);
    import_unresolved(s);
}

static void import_line(ImportState* s, wchar_t* line) {
    if (line[0] == 0xFEFF) line++;
    int n = (int)wcslen(line);
    while (n > 0 && (is_blank(line[n - 1]) || line[n - 1] == L'\r' || line[n - 1] == L'\n')) line[--n] = 0;
    while (is_blank(*line)) line++;
    if (!line[0]) return;

    if (starts_with_nocase(line, L"#extnelvo:ytid=")) {
        const wchar_t* id = line + 15;
        if (is_video_id(id)) wstr_copy(s->pending.id, id);
        return;
    }
    if (starts_with_nocase(line, L"#extinf:")) {
        const wchar_t* comma = wcschr(line, L',');
        if (comma && comma[1]) {
            wstr_copy(s->pending.title, comma + 1);
            trim_blanks(s->pending.title);
        }
        return;
    }
    if (line[0] == L'#') return;
    if (starts_with_nocase(line, L"http://") || starts_with_nocase(line, L"https://")) import_address(s, line);
    else import_path(s, line);
    s->pending.title[0] = 0;
    s->pending.id[0] = 0;
}

int read_playlist_file(const wchar_t* file_name, WantedTrack* wanted, int wanted_capacity, int* wanted_count) {
    if (wanted_count) *wanted_count = 0;
    if (!file_name || !file_name[0]) return 0;
    // About 70 KB of buffers: from the heap rather than the stack of the window procedure.
    struct Import {
        ImportState state;
        LineReader reader;
    };
    int resolved = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    Import* im = (Import*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Import));
    if (!im) goto done;
    {
        ImportState* s = &im->state;
        DWORD length = GetFullPathNameW(file_name, MAX_PATH, s->folder, nullptr);
        if (length == 0 || length >= MAX_PATH) goto done;
        file = CreateFileW(s->folder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) goto done;
        PathRemoveFileSpecW(s->folder);
        s->wanted = wanted;
        s->wanted_capacity = wanted && wanted_capacity > 0 ? wanted_capacity : 0;
        im->reader.file = file;
        if (!reader_start(&im->reader)) goto done;
        while (reader_next_line(&im->reader)) import_line(s, im->reader.line);
        resolved = s->resolved;
        if (wanted_count) *wanted_count = s->wanted_count;
    }
done:
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (im) HeapFree(GetProcessHeap(), 0, im);
    return resolved;
}

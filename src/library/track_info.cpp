#include "library/track_info.h"

#include <string.h>

#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/display_title.h"
#include "library/matching.h"

static int is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int leading_track_number(const wchar_t* stem, int in_album, const wchar_t** rest) {
    *rest = stem;
    const wchar_t* p = stem;
    int digits = 0, number = 0;
    while (is_digit(*p) && digits < 4) number = number * 10 + (*p++ - L'0'), digits++;
    if (digits == 0 || digits > 3 || is_digit(*p)) return 0;
    // "1-01 Title": the disc before the track.
    if (digits == 1 && *p == L'-' && is_digit(p[1]) && is_digit(p[2]) && !is_digit(p[3])) {
        number = (p[1] - L'0') * 10 + (p[2] - L'0');
        p += 3;
        digits = 2;
    }
    const wchar_t* after = p;
    int marked = 0;  // a hyphen, dot or underscore says the number is no part of the title
    while (*p == L' ' || *p == L'-' || *p == L'.' || *p == L'_') {
        if (*p != L' ') marked = 1;
        p++;
    }
    if (p == after || !*p) return 0;
    // "99 Luftballons" in the music folder itself is a title; in an album folder, or written
    // "09 ...", the number is the track's.
    if (!marked && !in_album && stem[0] != L'0') return 0;
    *rest = p;
    return number;
}

// The folder names right above the file: parent and grandparent, as ranges of path, only
// those below root (when root is known).
struct Folders {
    const wchar_t* name[2];  // [0] parent, [1] grandparent
    int length[2];
    int depth;  // folders between root and the file, when root is known; -1 otherwise
};

static void find_folders(const wchar_t* path, const wchar_t* root, Folders* f) {
    memset(f, 0, sizeof(*f));
    int root_length = path_folder_prefix(path, root, -1);
    int known = root_length > 0;
    f->depth = -1;
    const wchar_t* start = path + root_length;
    const wchar_t* seps[64];
    int count = 0;
    for (const wchar_t* p = start; *p; p++)
        if ((*p == L'\\' || *p == L'/') && count < 64) seps[count++] = p;
    if (known) f->depth = count;
    // Between start and the first separator is the first folder, and so on.
    for (int k = 0; k < 2 && k < count; k++) {
        const wchar_t* end = seps[count - 1 - k];
        const wchar_t* begin = count - 2 - k >= 0 ? seps[count - 2 - k] + 1 : start;
        if (!known && begin == path) break;  // a drive ("C:") is no folder name
        f->name[k] = begin;
        f->length[k] = (int)(end - begin);
    }
}

static void copy_folder(const Folders* f, int k, wchar_t* out, int capacity) {
    out[0] = 0;
    if (f->name[k] && f->length[k] > 0) wstr_copy_n(out, capacity, f->name[k], f->length[k]);
}

static int has_text(const wchar_t* text) {
    for (; *text; text++)
        if (*text != L' ' && *text != L'\t') return 1;
    return 0;
}

static void trim_blanks(wchar_t* text) {
    int n = (int)wcslen(text);
    while (n > 0 && (text[n - 1] == L' ' || text[n - 1] == L'\t')) n--;
    text[n] = 0;
    int s = 0;
    while (text[s] == L' ' || text[s] == L'\t') s++;
    if (s) memmove(text, text + s, (size_t)(n - s + 1) * sizeof(wchar_t));
}

// Fills out from the name and folders; name_title gets the title of the file's name alone
// (today's rules for downloaded names), which is what was made when no number led it.
// With titled set the tags name the title and the artist, and the name's title (the
// costly part of a scan that reads from the cache) is not made.
static void shown_from_name(const wchar_t* path, const wchar_t* root, int titled, TrackShown* out,
                            wchar_t* name_title) {
    Folders folders;
    find_folders(path, root, &folders);
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; p++)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    wchar_t stem[TRACK_TEXT_CAPACITY];
    wstr_copy(stem, name);
    wchar_t* ext = (wchar_t*)last_extension(stem);
    if (ext && is_audio_extension(ext)) *ext = 0;
    int in_album = folders.depth >= 1;
    const wchar_t* rest = stem;
    int number = leading_track_number(stem, in_album, &rest);
    wchar_t made[TRACK_TEXT_CAPACITY];
    made[0] = name_title[0] = 0;
    if (!titled) make_display_title(name, name_title, TRACK_TEXT_CAPACITY);
    if (number && !titled) make_display_title(rest, made, TRACK_TEXT_CAPACITY);
    if (!made[0]) wstr_copy(made, name_title);
    wchar_t artist[TAG_TEXT_CAPACITY];
    split_artist_title(made, artist, TAG_TEXT_CAPACITY, out->title, TRACK_TEXT_CAPACITY);
    wstr_copy(out->artist, artist);
    out->number = number;
    // The album layout: the folders name what the file's name does not.
    int layout = number > 0 || folders.depth >= 2;
    if (!layout) return;
    int known = folders.depth >= 0;
    if (known && folders.depth == 0) return;
    wchar_t parent[TAG_TEXT_CAPACITY], grandparent[TAG_TEXT_CAPACITY];
    copy_folder(&folders, 0, parent, TAG_TEXT_CAPACITY);
    copy_folder(&folders, 1, grandparent, TAG_TEXT_CAPACITY);
    if (!known && !number) return;
    wstr_copy(out->album, parent);
    if (!out->artist[0]) {
        if (folders.depth == 1 || (!known && !grandparent[0])) {
            // "Artist - Album" as one folder.
            wchar_t a[TAG_TEXT_CAPACITY], b[TAG_TEXT_CAPACITY];
            split_artist_title(parent, a, TAG_TEXT_CAPACITY, b, TAG_TEXT_CAPACITY);
            if (a[0]) {
                wstr_copy(out->artist, a);
                wstr_copy(out->album, b);
            }
        } else {
            wstr_copy(out->artist, grandparent);
        }
    }
}

void track_shown_make(const wchar_t* path, const wchar_t* root, const TrackTags* tags, TrackShown* out) {
    memset(out, 0, sizeof(*out));
    if (!path) return;
    wchar_t name_title[TRACK_TEXT_CAPACITY];
    int titled = tags && has_text(tags->title) && (has_text(tags->artist) || has_text(tags->album_artist));
    shown_from_name(path, root, titled, out, name_title);
    if (tags) {
        wchar_t text[TAG_TEXT_CAPACITY];
        wstr_copy(text, tags->title);
        trim_blanks(text);
        if (text[0]) wstr_copy(out->title, text);
        wstr_copy(text, tags->artist);
        trim_blanks(text);
        if (!text[0]) {
            wstr_copy(text, tags->album_artist);
            trim_blanks(text);
        }
        if (text[0]) wstr_copy(out->artist, text);
        wstr_copy(text, tags->album);
        trim_blanks(text);
        if (text[0]) wstr_copy(out->album, text);
        wstr_copy(out->album_artist, tags->album_artist);
        trim_blanks(out->album_artist);
        if (tags->track > 0) out->number = tags->track;
        out->disc = tags->disc;
        out->duration_ms = tags->duration_ms;
    }
    if (out->number > 65535 || out->number < 0) out->number = 0;
    if (out->disc > 65535 || out->disc < 0) out->disc = 0;
    if (!out->title[0]) wstr_copy(out->title, name_title);
    if (titled) {
        // Matching makes the name's title when it needs it.
        out->flags |= TRACK_NAME_DIFFERS;
        return;
    }
    // "artist - title" against the name's title, without making it.
    size_t artist_length = wcslen(out->artist);
    const wchar_t* own = name_title;
    if (artist_length) {
        if (wcsncmp(own, out->artist, artist_length) || wcsncmp(own + artist_length, L" - ", 3)) own = nullptr;
        else own += artist_length + 3;
    }
    if (!own || wcscmp(own, out->title) != 0) out->flags |= TRACK_NAME_DIFFERS;
}

TrackInfo track_shown_info(const TrackShown* shown, unsigned added) {
    TrackInfo info;
    info.title = shown->title;
    info.artist = shown->artist;
    info.album = shown->album;
    info.album_artist = shown->album_artist;
    info.duration_ms = shown->duration_ms;
    info.number = shown->number;
    info.disc = shown->disc;
    info.added = added;
    info.flags = shown->flags;
    return info;
}

void format_track_duration(wchar_t* out, int capacity, int duration_ms) {
    out[0] = 0;
    if (duration_ms <= 0) return;
    int seconds = (duration_ms + 500) / 1000;
    if (seconds >= 3600)
        wstr_format(out, capacity, L"%d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        wstr_format(out, capacity, L"%d:%02d", seconds / 60, seconds % 60);
}

void track_second_line(const Track* t, wchar_t* out, int capacity) {
    if (t->artist[0] && t->album[0]) wstr_format(out, capacity, L"%ls \u2022 %ls", t->artist, t->album);
    else wstr_copy(out, capacity, t->artist[0] ? t->artist : (t->album[0] ? t->album : L"Yerel Par\u00e7a"));
}

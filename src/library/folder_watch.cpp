#include "library/folder_watch.h"

#include <stdlib.h>
#include <string.h>

#include "base/wstr.h"
#include "library/audio_files.h"
#include "library/folder_scan.h"
#include "library/tags.h"
#include "library/track_info.h"
#include "library/track_list.h"

enum {
    // What the system keeps for us between two reads; a burst larger than that is reported as
    // an overflow, and the folder is listed again.
    WATCH_BUFFER_BYTES = 32768,
    // Changes held at once (with the files waiting for their writer): past that they count
    // as lost.
    WATCH_PENDING_MAX = 4096,
    // Changes a batch takes before it goes, so that a folder of thousands moved in arrives
    // in pieces the window handles between paints.
    WATCH_BATCH_CHANGES = 1024,
    WATCH_STOP_WAIT_MS = 3000,
    // A file some program keeps open for writing (a torrent client, an editor) is read as it
    // is after this many looks, rather than looked at for ever.
    WATCH_WRITER_ROUNDS = 100,
};

// Names, sizes and writes: a copy in progress keeps reporting its writes, so its file is
// read once the copy has settled.
static const DWORD WATCH_FILTER =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

//~ The system's records

int watch_record_next(WatchReader* r, WatchRecord* out) {
    if (r->ended || r->at >= r->size) {
        r->ended = 1;
        return 0;
    }
    size_t left = r->size - r->at;
    if (left < 12) return -1;
    const unsigned char* p = r->bytes + r->at;
    DWORD next, action, length;
    memcpy(&next, p, 4);
    memcpy(&action, p + 4, 4);
    memcpy(&length, p + 8, 4);
    if (action < FILE_ACTION_ADDED || action > FILE_ACTION_RENAMED_NEW_NAME) return -1;
    if (length == 0 || length % 2 || length > left - 12) return -1;
    if (next) {
        // Windows starts each record on a DWORD boundary, Wine right after the last; the reads
        // here copy bytes, so either will do.
        if (next < 12 + length || next > left || left - next < 12) return -1;
        r->at += next;
    } else {
        r->ended = 1;
    }
    int chars = (int)(length / 2);
    out->action = action;
    out->came = action == FILE_ACTION_ADDED || action == FILE_ACTION_RENAMED_NEW_NAME;
    out->too_long = chars >= (int)(sizeof(out->name) / sizeof(out->name[0]));
    out->rounds = 0;
    out->name[0] = 0;
    if (!out->too_long) {
        memcpy(out->name, p + 12, length);
        out->name[chars] = 0;
        if ((int)wcslen(out->name) != chars) return -1;  // a name holds no terminator
    }
    return 1;
}

//~ The watch thread's record

struct FolderWatch {
    HWND receiver;
    UINT message;
    unsigned generation;
    HANDLE stop;  // the main thread's; set when the watch is to end
    wchar_t opened[TRACK_TEXT_CAPACITY];
    wchar_t folder[TRACK_TEXT_CAPACITY];  // without a closing separator
    int folder_length;
    WatchRecord* pending;  // changes not handed over yet, in the order they came
    int pending_count, pending_capacity;
    WatchRecord* waiting;  // files found still being written, for the next round
    int waiting_count, waiting_capacity;
    int lost;
    WatchBatch* batch;
    wchar_t path[TRACK_TEXT_CAPACITY];
    TrackTags tags;
    TrackShown shown;
};

static int stopping(const FolderWatch* w) {
    return WaitForSingleObject(w->stop, 0) != WAIT_TIMEOUT;
}

static WatchRecord* record_room(WatchRecord** records, int* count, int* capacity) {
    if (*count >= WATCH_PENDING_MAX) return nullptr;
    if (*count == *capacity) {
        int grown_capacity = *capacity ? *capacity * 2 : 64;
        WatchRecord* grown = (WatchRecord*)realloc(*records, (size_t)grown_capacity * sizeof(WatchRecord));
        if (!grown) return nullptr;
        *records = grown;
        *capacity = grown_capacity;
    }
    return &(*records)[(*count)++];
}

//~ Batches

void watch_batch_free(WatchBatch* batch) {
    if (!batch) return;
    free(batch->changes);
    free(batch->text);
    free(batch);
}

static void post_batch(FolderWatch* w, int rescan) {
    WatchBatch* b = w->batch;
    w->batch = nullptr;
    if (!b && !rescan) return;
    if (!b) b = (WatchBatch*)calloc(1, sizeof(WatchBatch));
    if (!b) return;  // no memory even for that: the list stays as it is
    b->generation = w->generation;
    b->rescan = rescan;
    if (!IsWindow(w->receiver) || !PostMessageW(w->receiver, w->message, (WPARAM)w->generation, (LPARAM)b))
        watch_batch_free(b);
}

// Room for one more change with chars characters of text; null when memory ran out (the
// changes are then lost).
static WatchChange* change_new(FolderWatch* w, int kind, size_t chars) {
    if (w->batch && w->batch->count >= WATCH_BATCH_CHANGES) post_batch(w, 0);
    if (!w->batch) {
        w->batch = (WatchBatch*)calloc(1, sizeof(WatchBatch));
        if (!w->batch) return nullptr;
    }
    WatchBatch* b = w->batch;
    if (b->count == b->capacity) {
        int capacity = b->capacity ? b->capacity * 2 : 16;
        WatchChange* grown = (WatchChange*)realloc(b->changes, (size_t)capacity * sizeof(WatchChange));
        if (!grown) return nullptr;
        b->changes = grown;
        b->capacity = capacity;
    }
    if (b->used + chars > b->text_capacity) {
        size_t capacity = b->text_capacity ? b->text_capacity * 2 : 4096;
        while (capacity < b->used + chars) capacity *= 2;
        wchar_t* grown = (wchar_t*)realloc(b->text, capacity * sizeof(wchar_t));
        if (!grown) return nullptr;
        b->text = grown;
        b->text_capacity = capacity;
    }
    WatchChange* c = &b->changes[b->count++];
    memset(c, 0, sizeof(*c));
    c->kind = kind;
    return c;
}

static size_t batch_text(WatchBatch* b, const wchar_t* text) {
    size_t at = b->used, length = wcslen(text);
    memcpy(b->text + at, text, (length + 1) * sizeof(wchar_t));
    b->used += length + 1;
    return at;
}

// The full path of a name inside the folder into out; 0 when it would not fit a track.
static int full_path(const FolderWatch* w, const wchar_t* name, wchar_t* out) {
    int length = (int)wcslen(name);
    if (w->folder_length + 1 + length >= TRACK_TEXT_CAPACITY) return 0;
    memcpy(out, w->folder, (size_t)w->folder_length * sizeof(wchar_t));
    out[w->folder_length] = L'\\';
    memcpy(out + w->folder_length + 1, name, ((size_t)length + 1) * sizeof(wchar_t));
    return 1;
}

static void change_paths(FolderWatch* w, int kind, const wchar_t* name, const wchar_t* to) {
    wchar_t from_path[TRACK_TEXT_CAPACITY], to_path[TRACK_TEXT_CAPACITY];
    if (!full_path(w, name, from_path)) return;  // nothing listed lies there
    if (to && !full_path(w, to, to_path)) {
        kind = WATCH_GONE;
        to = nullptr;
    }
    WatchChange* c = change_new(w, kind, wcslen(from_path) + 1 + (to ? wcslen(to_path) + 1 : 0));
    if (!c) {
        w->lost = 1;
        return;
    }
    c->path_at = batch_text(w->batch, from_path);
    if (to) c->more_at = batch_text(w->batch, to_path);
}

//~ What a name is now

static int separators(const wchar_t* name) {
    int n = 0;
    for (; *name; name++) n += *name == L'\\';
    return n;
}

// Whether every folder between the watched one and name is one a scan enters.
static int ancestors_entered(const FolderWatch* w, const wchar_t* name) {
    wchar_t path[TRACK_TEXT_CAPACITY];
    if (!full_path(w, name, path)) return 0;
    for (wchar_t* at = path + w->folder_length + 1; *at; at++) {
        if (*at != L'\\') continue;
        *at = 0;
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileW(path, &fd);
        *at = L'\\';
        if (find == INVALID_HANDLE_VALUE) return 0;
        FindClose(find);
        if (!scan_enters_folder(fd.dwFileAttributes, fd.dwReserved0)) return 0;
    }
    return 1;
}

// What the listing says of the path itself: 0 when it is not there.
static int look_up(const wchar_t* path, WIN32_FIND_DATAW* fd) {
    HANDLE find = FindFirstFileW(path, fd);
    if (find == INVALID_HANDLE_VALUE) return 0;
    FindClose(find);
    return 1;
}

static ScanFile scan_file_of(const WIN32_FIND_DATAW* fd) {
    ScanFile file;
    file.size = (unsigned long long)fd->nFileSizeHigh << 32 | fd->nFileSizeLow;
    file.written = (unsigned long long)fd->ftLastWriteTime.dwHighDateTime << 32 | fd->ftLastWriteTime.dwLowDateTime;
    file.created_minutes = file_time_minutes(fd->ftCreationTime.dwLowDateTime, fd->ftCreationTime.dwHighDateTime);
    return file;
}

// Whether a scan would list what lies at name now (a path that is gone again passes: the
// later changes say where it went).
static int listed_by_scan(FolderWatch* w, const wchar_t* name) {
    wchar_t path[TRACK_TEXT_CAPACITY];
    WIN32_FIND_DATAW fd;
    if (!full_path(w, name, path)) return 0;
    if (!look_up(path, &fd)) return 1;
    int depth = separators(name);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (depth + 1 > SCAN_MAX_DEPTH || !scan_enters_folder(fd.dwFileAttributes, fd.dwReserved0)) return 0;
    } else if (depth > SCAN_MAX_DEPTH || !has_audio_extension(name)) {
        return 0;
    }
    return ancestors_entered(w, name);
}

// A file another program still has open for writing (a copy, a downloader finishing it) is
// read once it lets go.
static int being_written(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return 0;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

static void take_file(FolderWatch* w, const wchar_t* path, const ScanFile* file, int came, int rounds) {
    if (rounds < WATCH_WRITER_ROUNDS && being_written(path)) {
        WatchRecord* again = record_room(&w->waiting, &w->waiting_count, &w->waiting_capacity);
        if (!again) {
            w->lost = 1;
            return;
        }
        again->action = came ? FILE_ACTION_ADDED : FILE_ACTION_MODIFIED;
        again->came = came;
        again->too_long = 0;
        again->rounds = rounds + 1;
        wstr_copy(again->name, path + w->folder_length + 1);
        return;
    }
    TrackShown* shown = &w->shown;
    scan_read_track(nullptr, 0, path, w->folder, file, &w->tags, shown);
    const wchar_t* texts[4] = {shown->title, shown->artist, shown->album, shown->album_artist};
    size_t chars = wcslen(path) + 1;
    for (const wchar_t* t : texts) chars += wcslen(t) + 1;
    WatchChange* c = change_new(w, WATCH_FILE, chars);
    if (!c) {
        w->lost = 1;
        return;
    }
    c->refresh_only = !came;
    c->duration_ms = shown->duration_ms;
    c->number = shown->number;
    c->disc = shown->disc;
    c->added = file->created_minutes;
    c->flags = shown->flags;
    c->path_at = batch_text(w->batch, path);
    c->more_at = batch_text(w->batch, texts[0]);
    for (int i = 1; i < 4; i++) batch_text(w->batch, texts[i]);
}

static int walk_visit(void* user, const wchar_t* path, int, const ScanFile* file) {
    FolderWatch* w = (FolderWatch*)user;
    if (w->lost || stopping(w)) return 0;
    if (path && separators(path + w->folder_length + 1) <= SCAN_MAX_DEPTH) take_file(w, path, file, 1, 0);
    return 1;
}

// What is at name now goes to the batch: an audio file as the list shows it, or, for a
// folder that came, every audio file a scan would list in it.
static void present(FolderWatch* w, const WatchRecord* e) {
    WIN32_FIND_DATAW fd;
    if (!full_path(w, e->name, w->path) || !look_up(w->path, &fd)) return;
    int depth = separators(e->name);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A folder's own writes are its files' changes, each reported by itself.
        if (!e->came || depth + 1 > SCAN_MAX_DEPTH) return;
        if (!scan_enters_folder(fd.dwFileAttributes, fd.dwReserved0) || !ancestors_entered(w, e->name)) return;
        scan_walk(w->path, walk_visit, w);
        return;
    }
    if (depth > SCAN_MAX_DEPTH || !has_audio_extension(e->name) || !ancestors_entered(w, e->name)) return;
    ScanFile file = scan_file_of(&fd);
    take_file(w, w->path, &file, e->came, e->rounds);
}

// Whether a later change names the same path: that one decides. A path that came stays
// come through the changes after it.
static int named_later(FolderWatch* w, int i) {
    const WatchRecord* e = &w->pending[i];
    for (int j = i + 1; j < w->pending_count; j++) {
        WatchRecord* later = &w->pending[j];
        if (later->too_long || CompareStringOrdinal(later->name, -1, e->name, -1, TRUE) != CSTR_EQUAL) continue;
        if (e->came) later->came = 1;
        return 1;
    }
    return 0;
}

// Turns the changes that settled into one batch (or more, for a large folder).
static void flush(FolderWatch* w) {
    for (int i = 0; i < w->pending_count && !w->lost; i++) {
        if (stopping(w)) return;
        const WatchRecord* e = &w->pending[i];
        if (e->action == FILE_ACTION_REMOVED) {
            if (!e->too_long) change_paths(w, WATCH_GONE, e->name, nullptr);
        } else if (e->action == FILE_ACTION_RENAMED_OLD_NAME) {
            const WatchRecord* to = nullptr;
            if (i + 1 < w->pending_count && w->pending[i + 1].action == FILE_ACTION_RENAMED_NEW_NAME) to = &w->pending[++i];
            if (!e->too_long) {
                // The tracks keep their places under the new name, unless a scan would not
                // list them there (another extension, a hidden folder): then they go.
                if (to && !to->too_long && listed_by_scan(w, to->name)) change_paths(w, WATCH_MOVED, e->name, to->name);
                else change_paths(w, WATCH_GONE, e->name, nullptr);
            }
            if (to && !to->too_long && !named_later(w, i)) present(w, to);
        } else if (!e->too_long && !named_later(w, i)) {
            present(w, e);  // added, written, or a new name whose old one lay outside the folder
        }
    }
    if (w->lost) {
        // The batch so far goes too: the rescan it asks for comes after it.
        post_batch(w, 1);
        w->waiting_count = 0;
    } else {
        post_batch(w, 0);
    }
    w->lost = 0;
    WatchRecord* records = w->pending;
    int capacity = w->pending_capacity;
    w->pending = w->waiting;
    w->pending_count = w->waiting_count;
    w->pending_capacity = w->waiting_capacity;
    w->waiting = records;
    w->waiting_capacity = capacity;
    w->waiting_count = 0;
    if (!w->pending_count) {
        // Idle again: the room a burst took goes back.
        free(w->pending);
        free(w->waiting);
        w->pending = w->waiting = nullptr;
        w->pending_capacity = w->waiting_capacity = 0;
    }
}

static void take_records(FolderWatch* w, const unsigned char* bytes, DWORD size) {
    WatchReader reader = {bytes, size, 0, 0};
    for (;;) {
        WatchRecord record;
        int got = watch_record_next(&reader, &record);
        if (got == 0) return;
        WatchRecord* slot = got > 0 ? record_room(&w->pending, &w->pending_count, &w->pending_capacity) : nullptr;
        if (!slot) {
            w->lost = 1;
            return;
        }
        *slot = record;
    }
}

//~ The thread

static DWORD WINAPI watch_thread(void* param) {
    FolderWatch* w = (FolderWatch*)param;
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD* buffer = (DWORD*)malloc(WATCH_BUFFER_BYTES);  // the system wants it on a DWORD boundary
    HANDLE dir = CreateFileW(w->opened, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    int reading = 0, holding = 0;
    DWORD first = 0, last = 0;  // when the changes held began to come, and when the last came
    if (dir == INVALID_HANDLE_VALUE || !ov.hEvent || !buffer) goto done;
    for (;;) {
        if (!reading) {
            ResetEvent(ov.hEvent);
            if (ReadDirectoryChangesW(dir, buffer, WATCH_BUFFER_BYTES, TRUE, WATCH_FILTER, nullptr, &ov, nullptr)) {
                reading = 1;
            } else if (GetLastError() == ERROR_NOTIFY_ENUM_DIR) {
                w->lost = 1;
            } else {
                break;  // the folder went, or cannot be watched
            }
        }
        DWORD now = GetTickCount();
        DWORD wait = INFINITE;
        if (holding || w->lost) {
            DWORD quiet = last + WATCH_QUIET_MS - now, bound = first + WATCH_HOLD_MAX_MS - now;
            if ((int)quiet <= 0 || (int)bound <= 0 || !reading) {
                flush(w);
                holding = w->pending_count > 0;
                first = last = GetTickCount();
                continue;
            }
            wait = quiet < bound ? quiet : bound;
        }
        HANDLE handles[2] = {w->stop, ov.hEvent};
        DWORD woke = WaitForMultipleObjects(2, handles, FALSE, wait);
        if (woke == WAIT_TIMEOUT) continue;
        if (woke != WAIT_OBJECT_0 + 1) break;  // told to stop
        reading = 0;
        DWORD bytes = 0;
        if (!GetOverlappedResult(dir, &ov, &bytes, FALSE)) {
            if (GetLastError() != ERROR_NOTIFY_ENUM_DIR) break;
            w->lost = 1;
        } else if (bytes == 0) {
            w->lost = 1;  // more changed than the system could keep
        } else {
            take_records(w, (const unsigned char*)buffer, bytes);
        }
        now = GetTickCount();
        if (!holding) first = now;
        last = now;
        holding = 1;
    }
    // What was seen before the folder went still counts.
    if (!stopping(w) && (holding || w->lost)) flush(w);
    if (reading) {
        CancelIoEx(dir, &ov);
        DWORD bytes;
        GetOverlappedResult(dir, &ov, &bytes, TRUE);
    }
done:
    if (dir != INVALID_HANDLE_VALUE) CloseHandle(dir);
    if (ov.hEvent) CloseHandle(ov.hEvent);
    free(buffer);
    watch_batch_free(w->batch);
    free(w->pending);
    free(w->waiting);
    free(w);
    return 0;
}

//~ Starting and stopping (main thread)

static struct {
    HANDLE thread;
    HANDLE stop;
    unsigned generation;
} g_watch;

unsigned folder_watch_start(HWND receiver, UINT message, const wchar_t* folder) {
    folder_watch_stop(WATCH_STOP_WAIT_MS);
    int length = folder_length_trimmed(folder);
    if (length <= 0 || length + 2 >= TRACK_TEXT_CAPACITY) return 0;
    FolderWatch* w = (FolderWatch*)calloc(1, sizeof(FolderWatch));
    if (!w) return 0;
    w->receiver = receiver;
    w->message = message;
    wstr_copy(w->opened, folder);
    wstr_copy_n(w->folder, TRACK_TEXT_CAPACITY, folder, length);
    w->folder_length = length;
    w->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!w->stop) {
        free(w);
        return 0;
    }
    if (!++g_watch.generation) ++g_watch.generation;  // 0 means "none"
    w->generation = g_watch.generation;
    HANDLE stop = w->stop;
    // The thread needs little stack: its records live in the heap.
    HANDLE thread = CreateThread(nullptr, 256 * 1024, watch_thread, w, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        CloseHandle(stop);
        free(w);
        return 0;
    }
    g_watch.thread = thread;
    g_watch.stop = stop;
    return g_watch.generation;
}

void folder_watch_stop(DWORD timeout_ms) {
    if (!g_watch.thread) return;
    SetEvent(g_watch.stop);
    // A thread still reading one file on a slow disk ends at its next look at the event,
    // which then stays open for it.
    if (WaitForSingleObject(g_watch.thread, timeout_ms) == WAIT_OBJECT_0) CloseHandle(g_watch.stop);
    CloseHandle(g_watch.thread);
    g_watch.thread = nullptr;
    g_watch.stop = nullptr;
}

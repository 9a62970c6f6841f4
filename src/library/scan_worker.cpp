#include "library/scan_worker.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/tag_cache.h"
#include "library/track_info.h"
#include "library/track_list.h"

// The first batch goes out quickly so that the window shows tracks at once; the later ones
// are larger, so that a large library costs the window a hundred short messages rather than
// a hundred thousand.
enum { FIRST_BATCH_TRACKS = 256, BATCH_TRACKS = 2048, BATCH_WAIT_MS = 40 };

static std::atomic<unsigned> g_generation{0};
static std::atomic<unsigned> g_next_generation{0};
static std::atomic<int> g_batch_tracks{BATCH_TRACKS};
static std::atomic<int> g_batch_wait_ms{BATCH_WAIT_MS};

// The threads that may still run; main thread only. Old ones are closed as they end.
enum { SCAN_THREADS_MAX = 8 };
static HANDLE g_threads[SCAN_THREADS_MAX];

struct ScanJob {
    HWND receiver;
    UINT message;
    unsigned generation;
    wchar_t folder[TRACK_TEXT_CAPACITY];
    wchar_t cache_file[TRACK_TEXT_CAPACITY];
    TagCache* cache;
    TrackTags tags;
    TrackShown shown;
    ScanBatch* batch;
    DWORD batch_started;
    int sent;  // batches posted so far
    int folders, files;
    int lost;  // a batch could not be posted or allocated: the scan is incomplete
};

static ScanBatch* batch_new(const ScanJob* job) {
    // Room for the tracks at a usual length, and always for one of the longest.
    size_t capacity = (size_t)g_batch_tracks.load() * 128;
    if (capacity < 2 * TRACK_TEXT_CAPACITY + 4 * TAG_TEXT_CAPACITY) capacity = 2 * TRACK_TEXT_CAPACITY + 4 * TAG_TEXT_CAPACITY;
    ScanBatch* b = (ScanBatch*)malloc(sizeof(ScanBatch) + capacity * sizeof(wchar_t));
    if (!b) return nullptr;
    memset(b, 0, sizeof(ScanBatch));
    b->generation = job->generation;
    b->capacity = capacity;
    b->track_capacity = g_batch_tracks.load() > FIRST_BATCH_TRACKS ? g_batch_tracks.load() : FIRST_BATCH_TRACKS;
    b->tracks = (ScanTrack*)malloc((size_t)b->track_capacity * sizeof(ScanTrack));
    if (!b->tracks) {
        free(b);
        return nullptr;
    }
    return b;
}

static int cancelled(const ScanJob* job) {
    return g_generation.load() != job->generation;
}

// Hands the batch over; the worker goes on with a new one.
static void post_batch(ScanJob* job, int last, int complete) {
    ScanBatch* b = job->batch;
    job->batch = nullptr;
    if (!b) {
        if (!last) return;
        b = batch_new(job);
        if (!b) return;  // the window sees no end; it gives up waiting when the thread ends
    }
    b->last = last;
    b->complete = complete && !job->lost;
    b->folders = job->folders;
    b->files = job->files;
    if (cancelled(job) || !PostMessageW(job->receiver, job->message, (WPARAM)job->generation, (LPARAM)b)) {
        scan_batch_free(b);
        job->lost = 1;
        return;
    }
    job->sent++;
}

static int batch_due(const ScanJob* job) {
    const ScanBatch* b = job->batch;
    if (!b || !b->count) return 0;
    int limit = job->sent == 0 ? FIRST_BATCH_TRACKS : g_batch_tracks.load();
    if (limit > g_batch_tracks.load()) limit = g_batch_tracks.load();
    if (b->count >= limit) return 1;
    return (int)(GetTickCount() - job->batch_started) >= g_batch_wait_ms.load();
}

static int visit(void* user, const wchar_t* path, int length, const ScanFile* file) {
    ScanJob* job = (ScanJob*)user;
    if (cancelled(job)) return 0;
    if (!path) {
        job->folders++;
        if (batch_due(job)) post_batch(job, 0, 0);
        return 1;
    }
    job->files++;
    TrackShown* shown = &job->shown;
    scan_read_track(job->cache, 1, path, job->folder, file, &job->tags, shown);
    const wchar_t* texts[4] = {shown->title, shown->artist, shown->album, shown->album_artist};
    int lengths[4];
    size_t needed = (size_t)length + 1;
    for (int i = 0; i < 4; i++) needed += (size_t)(lengths[i] = (int)wcslen(texts[i])) + 1;
    if (job->batch && (job->batch->used + needed > job->batch->capacity || job->batch->count >= job->batch->track_capacity))
        post_batch(job, 0, 0);
    if (!job->batch) {
        job->batch = batch_new(job);
        job->batch_started = GetTickCount();
        if (!job->batch) {
            job->lost = 1;
            return 1;
        }
    }
    ScanBatch* b = job->batch;
    ScanTrack* t = &b->tracks[b->count];
    t->text_at = b->used;
    t->duration_ms = shown->duration_ms;
    t->number = shown->number;
    t->disc = shown->disc;
    t->added = file->created_minutes;
    t->flags = shown->flags;
    memcpy(b->text + b->used, path, ((size_t)length + 1) * sizeof(wchar_t));
    b->used += (size_t)length + 1;
    for (int i = 0; i < 4; i++) {
        memcpy(b->text + b->used, texts[i], ((size_t)lengths[i] + 1) * sizeof(wchar_t));
        b->used += (size_t)lengths[i] + 1;
    }
    b->count++;
    if (batch_due(job)) post_batch(job, 0, 0);
    return 1;
}

static DWORD WINAPI scan_thread(void* param) {
    ScanJob* job = (ScanJob*)param;
    job->cache = tag_cache_load(job->cache_file);
    int complete = scan_walk(job->folder, visit, job);
    // Only a walk that went through knows every file: a cut one would make the next start
    // read again what it did not reach.
    if (complete && !cancelled(job) && job->cache_file[0] && tag_cache_changed(job->cache, job->folder))
        tag_cache_save(job->cache, job->cache_file, job->folder);
    tag_cache_free(job->cache);
    if (!cancelled(job)) post_batch(job, 1, complete);
    if (job->batch) scan_batch_free(job->batch);
    free(job);
    return 0;
}

static void close_ended_threads(void) {
    for (int i = 0; i < SCAN_THREADS_MAX; i++) {
        if (g_threads[i] && WaitForSingleObject(g_threads[i], 0) == WAIT_OBJECT_0) {
            CloseHandle(g_threads[i]);
            g_threads[i] = nullptr;
        }
    }
}

unsigned scan_worker_start(HWND receiver, UINT message, const wchar_t* folder, const wchar_t* cache_file) {
    scan_worker_cancel();
    close_ended_threads();
    int slot = -1;
    for (int i = 0; i < SCAN_THREADS_MAX && slot < 0; i++)
        if (!g_threads[i]) slot = i;
    if (slot < 0) {
        // Eight cancelled walks still listing a slow disk: wait for the oldest, which was
        // told to stop at its next file.
        WaitForSingleObject(g_threads[0], INFINITE);
        CloseHandle(g_threads[0]);
        g_threads[0] = nullptr;
        slot = 0;
    }
    ScanJob* job = (ScanJob*)calloc(1, sizeof(ScanJob));
    if (!job) return 0;
    job->receiver = receiver;
    job->message = message;
    unsigned generation = ++g_next_generation;
    if (!generation) generation = ++g_next_generation;  // 0 means "none"
    job->generation = generation;
    wstr_copy(job->folder, folder ? folder : L"");
    wstr_copy(job->cache_file, cache_file ? cache_file : L"");
    g_generation.store(generation);
    // The walk itself needs little stack: its path lives in the heap.
    HANDLE thread = CreateThread(nullptr, 256 * 1024, scan_thread, job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        g_generation.store(0);
        free(job);
        return 0;
    }
    g_threads[slot] = thread;
    return generation;
}

void scan_worker_cancel(void) {
    g_generation.store(0);
}

unsigned scan_worker_generation(void) {
    return g_generation.load();
}

void scan_worker_shutdown(DWORD timeout_ms) {
    scan_worker_cancel();
    DWORD start = GetTickCount();
    for (int i = 0; i < SCAN_THREADS_MAX; i++) {
        if (!g_threads[i]) continue;
        DWORD spent = GetTickCount() - start;
        WaitForSingleObject(g_threads[i], spent < timeout_ms ? timeout_ms - spent : 0);
        CloseHandle(g_threads[i]);
        g_threads[i] = nullptr;
    }
}

int scan_batch_add(const ScanBatch* batch) {
    if (!batch) return 0;
    int added = 0;
    for (int i = 0; i < batch->count; i++) {
        const ScanTrack* t = &batch->tracks[i];
        const wchar_t* texts[5];
        const wchar_t* at = batch->text + t->text_at;
        for (int k = 0; k < 5; k++) {
            texts[k] = at;
            at += wcslen(at) + 1;
        }
        TrackInfo info;
        info.title = texts[1];
        info.artist = texts[2];
        info.album = texts[3];
        info.album_artist = texts[4];
        info.duration_ms = t->duration_ms;
        info.number = t->number;
        info.disc = t->disc;
        info.added = t->added;
        info.flags = t->flags;
        int before = track_list_count();
        if (track_list_add_info(texts[0], &info, 1) >= before) added++;
    }
    return added;
}

void scan_batch_free(ScanBatch* batch) {
    if (batch) free(batch->tracks);
    free(batch);
}

void scan_worker_set_batching(int max_tracks, int max_wait_ms) {
    g_batch_tracks.store(max_tracks > 0 ? max_tracks : BATCH_TRACKS);
    g_batch_wait_ms.store(max_wait_ms > 0 ? max_wait_ms : BATCH_WAIT_MS);
}

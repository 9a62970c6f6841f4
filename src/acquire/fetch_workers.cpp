#include "acquire/fetch_workers.h"

#include <stdio.h>
#include <stdlib.h>

#include "acquire/child_process.h"
#include "acquire/downloader.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/video_id.h"
#include "library/video_site.h"

enum { TARGET_CAPACITY = 320, WORKER_STACK = 64 * 1024 };

int wanted_track_target(const WantedTrack* wanted, wchar_t* target, int capacity) {
    target[0] = 0;
    if (is_video_id(wanted->video_id)) {
        wstr_format(target, capacity, L"https://%ls/watch?v=%ls", YOUTUBE_WATCH_HOST, wanted->video_id);
        return 1;
    }
    wchar_t words[WANTED_TITLE_CAPACITY];
    wstr_copy(words, wanted->title);
    strip_control_characters(words);
    if (!words[0]) return 0;
    wstr_format(target, capacity, L"ytsearch1:%ls", words);
    return 1;
}

// A worker posts only while the window it reports to exists; a record that cannot be
// posted is the sender's to free.
static int post_to(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return IsWindow(window) && PostMessageW(window, message, wparam, lparam);
}

//~ Shared-playlist worker

// Written by the main thread before the worker starts and only read by it afterwards;
// one worker at a time (the running flag).
static struct {
    HWND receiver;
    wchar_t folder[260];
} g_shared_worker;

static void shared_progress(int percent, intptr_t) {
    post_to(g_shared_worker.receiver, MSG_SHARED_PROGRESS, (WPARAM)percent, 0);
}

static DWORD WINAPI shared_worker_thread(void*) {
    SharedQueue* q = &g_shared_queue;
    HWND receiver = g_shared_worker.receiver;
    int fetched = 0;
    int stopped = 0;
    int missing = 0;
    for (;;) {
        WantedTrack entry;
        EnterCriticalSection(&q->lock);
        stopped = q->stop.load() ? 1 : 0;
        if (stopped || q->taken >= q->queued) {
            // What a stopped list had left goes with it, unless an import queued new
            // entries during the stop: those wait for the next worker.
            if (stopped && !q->queued_during_stop) q->queued = q->taken;
            q->running.store(0);
            LeaveCriticalSection(&q->lock);
            break;
        }
        entry = q->entries[q->taken];
        q->taken++;
        LeaveCriticalSection(&q->lock);

        WantedTrack* copy = (WantedTrack*)malloc(sizeof(WantedTrack));
        if (copy) {
            *copy = entry;
            if (!post_to(receiver, MSG_SHARED_PROGRESS, 0, (LPARAM)copy)) free(copy);
        }
        wchar_t target[TARGET_CAPACITY], path[260] = L"";
        int result = 0;
        if (wanted_track_target(&entry, target, TARGET_CAPACITY)) {
            result = run_downloader(target, g_shared_worker.folder, &q->stop, shared_progress, 0, path, 260);
        }
        if (result == DOWNLOADER_MISSING) {
            // Every entry would fail the same way: the worker ends here. Unless the list is
            // being stopped anyway, the entry goes back, and all that is left waits in the
            // queue for the next import, as it does without a music folder.
            EnterCriticalSection(&q->lock);
            stopped = q->stop.load() ? 1 : 0;
            if (stopped) {
                if (!q->queued_during_stop) q->queued = q->taken;
            } else {
                missing = 1;
                q->taken--;
            }
            q->running.store(0);
            LeaveCriticalSection(&q->lock);
            break;
        }
        if (q->stop.load()) continue;  // the interrupted track gets no item message
        // The file goes with the report, so that the window adds it rather than rescanning
        // a library of any size for it.
        wchar_t* named = result == 1 && path[0] ? (wchar_t*)malloc(sizeof path) : nullptr;
        if (named) wstr_copy(named, 260, path);
        if (!post_to(receiver, MSG_SHARED_ITEM_DONE, (WPARAM)result, (LPARAM)named)) free(named);
        fetched += result;
    }
    LPARAM end = missing ? SHARED_END_MISSING : stopped ? SHARED_END_STOPPED : 0;
    post_to(receiver, MSG_SHARED_FINISHED, (WPARAM)fetched, end);
    return 0;
}

int shared_fetch_resume(HWND receiver, int (*resolve_folder)(wchar_t* folder)) {
    SharedQueue* q = &g_shared_queue;
    EnterCriticalSection(&q->lock);
    int start = !q->running.load() && q->taken < q->queued;
    if (start) {
        q->running.store(1);
        q->queued_during_stop = 0;
        q->stop.store(0);
    }
    LeaveCriticalSection(&q->lock);
    if (!start) return 0;
    // No worker runs, so nothing reads these meanwhile.
    g_shared_worker.receiver = receiver;
    HANDLE thread = nullptr;
    if (resolve_folder(g_shared_worker.folder))
        thread = CreateThread(nullptr, WORKER_STACK, shared_worker_thread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                              nullptr);
    if (!thread) {
        // The entries stay queued; the next import tries again.
        EnterCriticalSection(&q->lock);
        q->running.store(0);
        LeaveCriticalSection(&q->lock);
        return 0;
    }
    CloseHandle(thread);
    return 1;
}

//~ Jam fetch

struct JamFetch {
    HWND receiver;
    AutofetchRequest* request;
};

static void jam_fetch_progress(int percent, intptr_t receiver) {
    g_jam_fetch.percent.store(percent);
    post_to((HWND)receiver, MSG_AUTOFETCH_PROGRESS, (WPARAM)percent, 0);
}

static DWORD WINAPI jam_fetch_thread(void* param) {
    JamFetch* job = (JamFetch*)param;
    HWND receiver = job->receiver;
    AutofetchRequest* request = job->request;
    free(job);
    wchar_t target[TARGET_CAPACITY];
    int result = 0;
    if (wanted_track_target(&request->wanted, target, TARGET_CAPACITY)) {
        result = run_downloader(target, request->folder, &g_jam_fetch.stop, jam_fetch_progress, (intptr_t)receiver,
                                request->path, 260, &request->written);
    }
    // The flag as this run saw it, kept with the record: once posted, the main thread may
    // set it for a fetch that has already ended, or clear it for the next one.
    request->stopped = g_jam_fetch.stop.load() ? 1 : 0;
    if (request->stopped) result = 0;
    if (!post_to(receiver, MSG_AUTOFETCH_DONE, (WPARAM)(INT_PTR)result, (LPARAM)request)) {
        free(request);
        g_jam_fetch.running.store(0);
    }
    return 0;
}

int jam_fetch_start(HWND receiver, const WantedTrack* wanted, const wchar_t* folder, const char* room_id) {
    if (!wanted->title[0] && !wanted->video_id[0]) return 0;
    int idle = 0;
    if (!g_jam_fetch.running.compare_exchange_strong(idle, 1)) return 0;
    g_jam_fetch.stop.store(0);
    AutofetchRequest* request = (AutofetchRequest*)calloc(1, sizeof(AutofetchRequest));
    JamFetch* job = (JamFetch*)calloc(1, sizeof(JamFetch));
    if (!request || !job) {
        free(request);
        free(job);
        g_jam_fetch.running.store(0);
        return 0;
    }
    wstr_copy(request->wanted.title, wanted->title);
    wstr_copy(request->wanted.video_id, wanted->video_id);
    wstr_copy(request->folder, folder);
    snprintf(request->room_id, sizeof request->room_id, "%s", room_id ? room_id : "");
    g_jam_fetch.percent.store(0);
    job->receiver = receiver;
    job->request = request;
    HANDLE thread = CreateThread(nullptr, WORKER_STACK, jam_fetch_thread, job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        free(request);
        free(job);
        g_jam_fetch.running.store(0);
        return 0;
    }
    CloseHandle(thread);
    return 1;
}

void autofetch_request_release(LPARAM request) {
    free((AutofetchRequest*)request);
}

#include "app/library_scan.h"

#include <stdlib.h>
#include <string.h>

#include "app/app_state.h"
#include "app/given_files.h"
#include "app/library_watch.h"
#include "app/main_window.h"
#include "app/resume.h"
#include "app/settings.h"
#include "app/track_actions.h"
#include "base/messages.h"
#include "base/wstr.h"
#include "library/scan_worker.h"
#include "library/track_list.h"

// STEP_PLAY: open, then play; STEP_SWEEP: a listing that also drops tracks whose files are gone.
enum { STEP_FOLDER, STEP_SWEEP, STEP_OPEN, STEP_PLAY, STEP_IMPORT, STEP_RESUME };

struct ScanStep {
    int kind;
    wchar_t path[260];
};

// The steps waiting, in order; the first is the running scan's while one runs.
static struct {
    ScanStep* steps;
    int count, capacity;
    unsigned running;  // the running scan's generation, 0 none
    int in_step;       // a step is being carried out: whatever came before it is done
    DWORD painted_at;  // when a batch last asked for a frame
} g_queue;

enum { SCAN_PAINT_INTERVAL_MS = 150 };

// A sweeping scan lists a folder again and also takes out the tracks under it that it did
// not meet: the files the folder no longer holds.
static struct {
    int active;
    unsigned changes;     // the list's changes when it began: another change leaves the
                          // indices below unsure, and then nothing is taken out
    unsigned char* seen;  // by track index
    int seen_capacity;
    wchar_t folder[260];
} g_sweep;

static void sweep_forget(void) {
    g_sweep.active = 0;
    free(g_sweep.seen);
    g_sweep.seen = nullptr;
    g_sweep.seen_capacity = 0;
}

static void sweep_begin(const wchar_t* folder) {
    sweep_forget();
    g_sweep.active = 1;
    g_sweep.changes = g_tracks.changes;
    wstr_copy(g_sweep.folder, folder);
}

static void sweep_mark(const ScanBatch* batch) {
    int count = track_list_count();
    if (g_sweep.seen_capacity < count) {
        unsigned char* grown = (unsigned char*)realloc(g_sweep.seen, (size_t)count + 4096);
        if (!grown) {
            sweep_forget();  // the list is left as the scan made it
            return;
        }
        memset(grown + g_sweep.seen_capacity, 0, (size_t)count + 4096 - g_sweep.seen_capacity);
        g_sweep.seen = grown;
        g_sweep.seen_capacity = count + 4096;
    }
    for (int i = 0; i < batch->count; i++) {
        int index = track_list_find_path(batch->text + batch->tracks[i].text_at);
        if (index >= 0) g_sweep.seen[index] = 1;
    }
}

static void sweep_end(int complete) {
    int removed = 0;
    if (g_sweep.active && complete && g_sweep.changes == g_tracks.changes) {
        int length = folder_length_trimmed(g_sweep.folder);
        for (int i = track_list_count() - 1; i >= 0; i--) {
            if (i < g_sweep.seen_capacity && g_sweep.seen[i]) continue;
            if (!path_folder_prefix(track_list_at(i)->path, g_sweep.folder, length)) continue;
            remove_track_at(i, 1);
            removed++;
        }
    }
    sweep_forget();
    if (removed) after_tracks_removed();
}

static int push_step(int kind, const wchar_t* path) {
    if (g_queue.count == g_queue.capacity) {
        int capacity = g_queue.capacity ? g_queue.capacity * 2 : 16;
        ScanStep* grown = (ScanStep*)realloc(g_queue.steps, (size_t)capacity * sizeof(ScanStep));
        if (!grown) return 0;
        g_queue.steps = grown;
        g_queue.capacity = capacity;
    }
    ScanStep* s = &g_queue.steps[g_queue.count++];
    s->kind = kind;
    wstr_copy(s->path, path ? path : L"");
    return 1;
}

static void pop_step(void) {
    if (!g_queue.count) return;
    memmove(&g_queue.steps[0], &g_queue.steps[1], (size_t)(g_queue.count - 1) * sizeof(ScanStep));
    g_queue.count--;
}

static void list_grew(void) {
    if (g_app.selected_index < 0 && track_list_count() > 0) g_app.selected_index = 0;
}

static void scan_ended(void) {
    g_queue.running = 0;
    g_app.scan_running = 0;
    if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
}

// Runs the waiting steps up to the next scan, which is started.
static void run_steps(void) {
    int changed = 0;
    while (g_queue.count && !g_queue.running) {
        ScanStep step = g_queue.steps[0];
        if (step.kind == STEP_FOLDER || step.kind == STEP_SWEEP) {
            wchar_t cache[MAX_PATH];
            tag_cache_file(cache, MAX_PATH);
            unsigned generation = scan_worker_start(g_app.main_window, MSG_SCAN_BATCH, step.path, cache);
            if (generation) {
                g_queue.running = generation;
                g_app.scan_running = 1;
                g_app.scan_started_tick = GetTickCount();
                g_app.scan_files = 0;
                if (step.kind == STEP_SWEEP) sweep_begin(step.path);
                break;
            }
            pop_step();  // no thread: the folder is left as it is, and the rest goes on
            continue;
        }
        pop_step();
        g_queue.in_step = 1;
        if (step.kind == STEP_OPEN || step.kind == STEP_PLAY) open_file_argument(step.path, 0, step.kind == STEP_PLAY);
        else if (step.kind == STEP_IMPORT) import_playlist(step.path);
        else if (step.kind == STEP_RESUME) resume_restore();
        g_queue.in_step = 0;
        changed = 1;
    }
    if (changed) {
        list_grew();
        apply_filter();
    }
}

void tag_cache_file(wchar_t* out, int capacity) {
    wchar_t folder[MAX_PATH];
    out[0] = 0;
    if (!settings_mirror_folder(folder, MAX_PATH)) return;
    CreateDirectoryW(folder, nullptr);  // an existing folder is fine
    wstr_format(out, capacity, L"%ls\\tags.cache", folder);
}

void library_scan_folder(const wchar_t* folder) {
    if (!folder || !folder[0]) return;
    // A scan of the same folder still waiting finds whatever this one would.
    for (int i = g_queue.running ? 1 : 0; i < g_queue.count; i++)
        if ((g_queue.steps[i].kind == STEP_FOLDER || g_queue.steps[i].kind == STEP_SWEEP) &&
            path_equal_nocase(g_queue.steps[i].path, folder))
            return;
    if (push_step(STEP_FOLDER, folder)) run_steps();
}

void library_scan_sweep(const wchar_t* folder) {
    if (!folder || !folder[0]) return;
    for (int i = g_queue.running ? 1 : 0; i < g_queue.count; i++) {
        ScanStep* s = &g_queue.steps[i];
        if ((s->kind == STEP_FOLDER || s->kind == STEP_SWEEP) && path_equal_nocase(s->path, folder)) {
            s->kind = STEP_SWEEP;
            return;
        }
    }
    if (push_step(STEP_SWEEP, folder)) run_steps();
}

void library_scan_cancel_all(void) {
    scan_worker_cancel();
    sweep_forget();
    g_queue.count = 0;
    scan_ended();
}

void library_scan_replace(const wchar_t* folder) {
    library_scan_cancel_all();
    library_scan_folder(folder);
}

void library_scan_then_open(const wchar_t* path, int play) {
    if (!library_scan_busy()) {
        open_file_argument(path, 0, play);
        return;
    }
    push_step(play ? STEP_PLAY : STEP_OPEN, path);
}

void library_scan_then_import(const wchar_t* path) {
    if (!library_scan_busy()) {
        import_playlist(path);
        return;
    }
    push_step(STEP_IMPORT, path);
}

void library_scan_then_resume(void) {
    if (!library_scan_busy()) {
        resume_restore();
        return;
    }
    push_step(STEP_RESUME, nullptr);
}

int library_scan_busy(void) {
    if (g_queue.in_step) return 0;
    return g_queue.running != 0 || g_queue.count > 0;
}

void on_scan_batch(WPARAM generation, LPARAM lparam) {
    ScanBatch* batch = (ScanBatch*)lparam;
    if (!batch) return;
    // A batch of a cancelled scan may still have been on its way.
    if (!g_queue.running || (unsigned)generation != g_queue.running || batch->generation != g_queue.running) {
        scan_batch_free(batch);
        return;
    }
    int first = track_list_count();
    if (scan_batch_add(batch) > 0) {
        list_grew();
        filter_tracks_appended(first);
    }
    if (g_sweep.active) sweep_mark(batch);
    g_app.scan_files = batch->files;
    int last = batch->last, complete = batch->complete;
    scan_batch_free(batch);
    if (last) {
        if (g_sweep.active) sweep_end(complete);
        pop_step();
        scan_ended();
        run_steps();
        library_watch_scans_ended();
    }
    // Once the rows on screen are there, later batches change only the count and the
    // scroll bar: a frame every few batches shows that, and leaves the listing (whose calls
    // share the system's attention with painting) its pace.
    DWORD now = GetTickCount();
    if (last || first == 0 || now - g_queue.painted_at >= SCAN_PAINT_INTERVAL_MS) {
        g_queue.painted_at = now;
        if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
    }
}

void library_scan_shutdown(void) {
    scan_worker_shutdown(2000);
    sweep_forget();
    g_queue.count = 0;
    g_queue.running = 0;
    free(g_queue.steps);
    g_queue.steps = nullptr;
    g_queue.capacity = 0;
}

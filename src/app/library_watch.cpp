#include "app/library_watch.h"

#include <stdlib.h>
#include <string.h>

#include "app/app_state.h"
#include "app/library_scan.h"
#include "app/main_window.h"
#include "app/track_actions.h"
#include "base/messages.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/folder_watch.h"
#include "library/track_list.h"

enum { HELD_BATCHES_MAX = 256, FRESH_PATHS = 32, WATCH_STOP_WAIT_MS = 3000 };

static struct {
    unsigned generation;  // the running watch's, 0 none
    wchar_t folder[TRACK_TEXT_CAPACITY];
    WatchBatch** held;  // batches waiting for the scans to end, in the order they came
    int held_count, held_capacity;
    // Paths the watch brought into the list that nothing claimed yet: a ring, the oldest
    // overwritten.
    wchar_t fresh[FRESH_PATHS][TRACK_TEXT_CAPACITY];
    int fresh_next;
} g_watching;

//~ Paths the watch brought

static void fresh_note(const wchar_t* path) {
    wstr_copy(g_watching.fresh[g_watching.fresh_next], path);
    g_watching.fresh_next = (g_watching.fresh_next + 1) % FRESH_PATHS;
}

int library_watch_claim(const wchar_t* path) {
    if (!path || !path[0]) return 0;
    for (wchar_t* fresh : g_watching.fresh) {
        if (!fresh[0] || !path_equal_nocase(fresh, path)) continue;
        fresh[0] = 0;
        return 1;
    }
    return 0;
}

//~ Applying a batch

struct Applied {
    int removed, changed;
};

// The track at path, or every track under it when it was a folder.
static void remove_under(const wchar_t* path, Applied* a) {
    int index = track_list_find_path(path);
    if (index >= 0) {
        library_watch_claim(path);
        remove_track_at(index, 1);
        a->removed++;
        return;
    }
    int length = folder_length_trimmed(path);
    for (int i = track_list_count() - 1; i >= 0; i--) {
        if (!path_folder_prefix(track_list_at(i)->path, path, length)) continue;
        remove_track_at(i, 1);
        a->removed++;
    }
}

// A renamed file keeps its row; a listed file the rename wrote over gives its row up.
static void move_file(int index, const wchar_t* to, Applied* a) {
    int there = track_list_find_path(to);
    if (there >= 0 && there != index) {
        remove_track_at(there, 1);
        a->removed++;
        if (there < index) index--;
    }
    if (track_list_replace(index, to, nullptr)) {
        a->changed++;
    } else {
        remove_track_at(index, 1);
        a->removed++;
    }
}

static void move_under(const wchar_t* from, const wchar_t* to, Applied* a) {
    int index = track_list_find_path(from);
    if (index >= 0) {
        move_file(index, to, a);
        return;
    }
    // A folder: nothing can lie under its new name yet, so its tracks just follow.
    int length = folder_length_trimmed(from);
    wchar_t path[TRACK_TEXT_CAPACITY];
    for (int i = track_list_count() - 1; i >= 0; i--) {
        int prefix = path_folder_prefix(track_list_at(i)->path, from, length);
        if (!prefix) continue;
        const wchar_t* rest = track_list_at(i)->path + prefix;
        if (wcslen(to) + 1 + wcslen(rest) < TRACK_TEXT_CAPACITY) {
            wstr_format(path, TRACK_TEXT_CAPACITY, L"%ls\\%ls", to, rest);
            if (track_list_replace(i, path, nullptr)) {
                a->changed++;
                continue;
            }
        }
        remove_track_at(i, 1);  // its new path does not fit a track
        a->removed++;
    }
}

static int same_track(const Track* t, const wchar_t* path, const TrackInfo* info) {
    return !wcscmp(t->path, path) && !wcscmp(t->title, info->title) && !wcscmp(t->artist, info->artist) &&
           !wcscmp(t->album, info->album) && !wcscmp(t->album_artist, info->album_artist) &&
           t->duration_ms == info->duration_ms && t->number == info->number && t->disc == info->disc &&
           t->added == info->added && t->flags == info->flags;
}

static void take_file(const WatchBatch* b, const WatchChange* c, Applied* a) {
    const wchar_t* path = b->text + c->path_at;
    const wchar_t* texts[4];
    const wchar_t* at = b->text + c->more_at;
    for (const wchar_t*& t : texts) {
        t = at;
        at += wcslen(at) + 1;
    }
    TrackInfo info = {texts[0], texts[1], texts[2], texts[3], c->duration_ms, c->number, c->disc, c->added, c->flags};
    int index = track_list_find_path(path);
    if (index >= 0) {
        if (!same_track(track_list_at(index), path, &info) && track_list_replace(index, path, &info)) a->changed++;
    } else if (!c->refresh_only && track_list_add_info(path, &info, 0) >= 0) {
        fresh_note(path);
    }
}

static void apply_batch(const WatchBatch* b) {
    int first = track_list_count();
    Applied a = {0, 0};
    for (int i = 0; i < b->count; i++) {
        const WatchChange* c = &b->changes[i];
        const wchar_t* path = b->text + c->path_at;
        if (c->kind == WATCH_GONE) remove_under(path, &a);
        else if (c->kind == WATCH_MOVED) move_under(path, b->text + c->more_at, &a);
        else if (c->kind == WATCH_FILE) take_file(b, c, &a);
    }
    int appended = track_list_count() > first;
    if (a.removed || a.changed || appended) {
        // A row held by the mouse may have moved or gone.
        if (g_app.row_dragging && g_app.main_window) end_drags(g_app.main_window);
        if (g_app.selected_index < 0 && track_list_count() > 0) g_app.selected_index = 0;
        if (a.removed) {
            after_tracks_removed();
        } else {
            if (a.changed) apply_filter();
            else filter_tracks_appended(first);
            refresh_now_playing();
            clamp_scroll_to_list();
            if (g_app.main_window) InvalidateRect(g_app.main_window, nullptr, FALSE);
        }
    }
    // Lost changes come after those the batch holds: listing the folder again puts right
    // whatever they were.
    if (b->rescan) library_scan_sweep(g_watching.folder);
}

static void drop_held(void) {
    for (int i = 0; i < g_watching.held_count; i++) watch_batch_free(g_watching.held[i]);
    g_watching.held_count = 0;
}

// Applies what waits, in order, until a batch starts a scan: the rest waits for that one.
static void apply_held(void) {
    int done = 0;
    while (done < g_watching.held_count && !library_scan_busy()) {
        WatchBatch* b = g_watching.held[done++];
        apply_batch(b);
        watch_batch_free(b);
    }
    memmove(g_watching.held, g_watching.held + done, (size_t)(g_watching.held_count - done) * sizeof(WatchBatch*));
    g_watching.held_count -= done;
}

static int hold(WatchBatch* b) {
    if (g_watching.held_count == g_watching.held_capacity) {
        if (g_watching.held_capacity >= HELD_BATCHES_MAX) return 0;
        int capacity = g_watching.held_capacity ? g_watching.held_capacity * 2 : 8;
        WatchBatch** grown = (WatchBatch**)realloc(g_watching.held, (size_t)capacity * sizeof(WatchBatch*));
        if (!grown) return 0;
        g_watching.held = grown;
        g_watching.held_capacity = capacity;
    }
    g_watching.held[g_watching.held_count++] = b;
    return 1;
}

void on_watch_batch(WPARAM generation, LPARAM lparam) {
    WatchBatch* b = (WatchBatch*)lparam;
    if (!b) return;
    // A batch of a watch stopped since (another music folder) may still have been on its way.
    if (!g_watching.generation || (unsigned)generation != g_watching.generation || b->generation != g_watching.generation) {
        watch_batch_free(b);
        return;
    }
    // While a scan fills the list, a file it is about to list could be removed before it
    // came: the changes wait for the list the scan leaves.
    if (!hold(b)) {
        watch_batch_free(b);
        library_scan_sweep(g_watching.folder);  // what it held is found by listing again
        return;
    }
    if (!library_scan_busy()) apply_held();
}

void library_watch_scans_ended(void) {
    if (!library_scan_busy()) apply_held();
}

//~ Starting and stopping

static void stop_watching(void) {
    folder_watch_stop(WATCH_STOP_WAIT_MS);
    g_watching.generation = 0;
    g_watching.folder[0] = 0;
    drop_held();
    for (wchar_t* fresh : g_watching.fresh) fresh[0] = 0;
}

void library_watch_follow(const wchar_t* folder) {
    if (!folder) folder = L"";
    if (g_watching.generation && path_equal_nocase(g_watching.folder, folder)) return;
    stop_watching();
    if (!folder[0] || !folder_exists(folder) || !g_app.main_window) return;
    wstr_copy(g_watching.folder, folder);
    g_watching.generation = folder_watch_start(g_app.main_window, MSG_WATCH_BATCH, folder);
}

void library_watch_shutdown(void) {
    stop_watching();
    free(g_watching.held);
    g_watching.held = nullptr;
    g_watching.held_capacity = 0;
}

#include "app/file_deletion.h"

#include "app/app_state.h"
#include "base/messages.h"
#include "base/ticks.h"
#include "base/wstr.h"

struct PendingDeletion {
    wchar_t path[260];
    DWORD since;
};

// Main thread only.
static PendingDeletion g_pending[PENDING_DELETIONS_MAX];
static int g_pending_count;

// 1 when the file is gone (or cannot be deleted for a reason waiting will not cure). A file
// still open elsewhere answers with a sharing violation, or under Wine with access denied.
static int try_delete(const wchar_t* path) {
    if (DeleteFileW(path)) return 1;
    DWORD error = GetLastError();
    return error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED;
}

void delete_file_soon(const wchar_t* path) {
    if (!path || !path[0] || try_delete(path)) return;
    for (int i = 0; i < g_pending_count; i++)
        if (lstrcmpW(g_pending[i].path, path) == 0) return;
    if (g_pending_count >= PENDING_DELETIONS_MAX) return;
    PendingDeletion* p = &g_pending[g_pending_count++];
    wstr_copy(p->path, path);
    p->since = tick_now();
    if (g_app.main_window) SetTimer(g_app.main_window, TIMER_DELETE_RETRY, DELETE_RETRY_MS, nullptr);
}

static void retry_all(void) {
    DWORD now = tick_now();
    int kept = 0;
    for (int i = 0; i < g_pending_count; i++) {
        PendingDeletion* p = &g_pending[i];
        if (try_delete(p->path) || ticks_since(p->since, now) >= DELETE_GIVE_UP_MS) continue;
        g_pending[kept++] = *p;
    }
    g_pending_count = kept;
}

void retry_pending_deletions(HWND window) {
    retry_all();
    if (g_pending_count == 0) KillTimer(window, TIMER_DELETE_RETRY);
}

void finish_pending_deletions(int max_ms) {
    DWORD start = tick_now();
    retry_all();
    while (g_pending_count > 0 && ticks_since(start, tick_now()) < (DWORD)max_ms) {
        Sleep(20);
        retry_all();
    }
    g_pending_count = 0;
}

int pending_deletion_count(void) {
    return g_pending_count;
}

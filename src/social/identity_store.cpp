// The identity and the friends store in memory, and the files they persist in.
#include <windows.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "base/file_replace.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "social/identity.h"

Identity g_identity;
FriendStore g_friends;

static wchar_t g_program_folder[MAX_PATH];  // empty: the executable's real folder

// What identity_load found out about friends.json (main thread).
static wchar_t g_kept_aside[MAX_PATH + 8];  // the copy of a file that did not load whole
static int g_save_refused;                   // no copy could be made: nothing is saved

static const wchar_t FRIENDS_FILE_NAME[] = L"friends.json";
static const wchar_t IDENTITY_FILE_NAME[] = L"identity.tag";

enum {
    IDENTITY_TEXT_MAX = 512,
    SAVE_INTERVAL_MS = 1000,  // the writer thread writes at most this often
    KEPT_COPIES_MAX = 9,
};

void identity_set_program_folder(const wchar_t* folder) { wstr_copy(g_program_folder, folder ? folder : L""); }

const wchar_t* friends_kept_aside(void) { return g_kept_aside; }
int friends_save_refused(void) { return g_save_refused; }

//~ Files

static int program_file(const wchar_t* name, wchar_t* path, int capacity) {
    wchar_t folder[MAX_PATH];
    if (g_program_folder[0]) wstr_copy(folder, g_program_folder);
    else program_folder(folder, MAX_PATH);
    if (!folder[0]) return 0;
    return wstr_format(path, capacity, L"%ls\\%ls", folder, name) > 0;
}

// The per-user folder "%APPDATA%\Nelvo".
static int user_folder(wchar_t* folder, int capacity) {
    wchar_t appdata[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"APPDATA", appdata, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    return wstr_format(folder, capacity, L"%ls\\Nelvo", appdata) > 0;
}

// name in the per-user folder, which is made when create is set.
static int user_file(const wchar_t* name, int create, wchar_t* path, int capacity) {
    wchar_t folder[MAX_PATH];
    if (!user_folder(folder, MAX_PATH)) return 0;
    if (create) CreateDirectoryW(folder, nullptr);  // an existing folder is fine
    return wstr_format(path, capacity, L"%ls\\%ls", folder, name) > 0;
}

int identity_user_file(const wchar_t* name, wchar_t* path, int capacity) { return user_file(name, 1, path, capacity); }

// The whole file when its size is 1..max_bytes, else null (with head set, the first
// max_bytes of a longer one); *length gets the size read. *found is set when the file
// exists, *too_big when it is longer than max_bytes.
static char* read_small_file(const wchar_t* path, int max_bytes, int head, int* length, int* found, int* too_big) {
    *length = 0;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return nullptr;
    if (found) *found = 1;
    char* text = nullptr;
    LARGE_INTEGER size;
    DWORD got = 0;
    if (!GetFileSizeEx(f, &size) || size.QuadPart <= 0) goto done;
    if (size.QuadPart > max_bytes) {
        if (too_big) *too_big = 1;
        if (!head) goto done;
        size.QuadPart = max_bytes;
    }
    text = (char*)malloc((size_t)size.QuadPart + 1);
    if (!text) goto done;
    if (!ReadFile(f, text, (DWORD)size.QuadPart, &got, nullptr) || got == 0) {
        free(text);
        text = nullptr;
        goto done;
    }
    text[got] = 0;
    *length = (int)got;
done:
    CloseHandle(f);
    return text;
}

//~ Saving

// One save: both texts and where they go, all decided when the save was asked for, so that
// the writer thread needs nothing of the store. The large text buffer comes last: only the
// pages its text fills are ever touched.
struct SaveJob {
    int identity_length;  // -1: identity.tag is not written
    char identity_text[IDENTITY_TEXT_MAX];
    wchar_t user_folder[MAX_PATH];  // made before writing; empty without APPDATA
    wchar_t identity_path[MAX_PATH];
    wchar_t beside[MAX_PATH];   // beside the executable; empty when its folder is unknown
    wchar_t current[MAX_PATH];  // in the current folder, when the first cannot be written
    wchar_t mirror[MAX_PATH];   // in the per-user folder, after either was written
    int friends_length;
    char friends_text[FRIENDS_FILE_MAX_BYTES];
};

// What the writer thread shares with the threads that save and flush: all of it under
// g_saver.lock. The thread lives for the process once started.
static struct {
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE changed;  // a job was queued, or a write ended
    HANDLE thread;
    int queued;     // queued_job waits to be written
    int writing;    // work_job is being written, by the thread or a flush
    DWORD last_write;
    int writes;
} g_saver;
static INIT_ONCE g_saver_once = INIT_ONCE_STATIC_INIT;
static SaveJob g_queued_job;  // under g_saver.lock
static SaveJob g_work_job;    // belongs to whoever set g_saver.writing under g_saver.lock
// Main thread: the last job handed over, to see whether a save changes anything, and the
// one being made.
static SaveJob g_last_job, g_new_job;
static int g_last_job_valid;

static BOOL CALLBACK init_saver(INIT_ONCE*, void*, void**) {
    InitializeCriticalSection(&g_saver.lock);
    InitializeConditionVariable(&g_saver.changed);
    g_saver.last_write = GetTickCount() - SAVE_INTERVAL_MS;  // the first save goes out at once
    return TRUE;
}

static void copy_job(SaveJob* to, const SaveJob* from) {
    memcpy(to, from, offsetof(SaveJob, friends_text));
    memcpy(to->friends_text, from->friends_text, (size_t)from->friends_length);
}

static int same_job(const SaveJob* a, const SaveJob* b) {
    return a->identity_length == b->identity_length && a->friends_length == b->friends_length &&
           memcmp(a->identity_text, b->identity_text, (size_t)(a->identity_length > 0 ? a->identity_length : 0)) == 0 &&
           memcmp(a->friends_text, b->friends_text, (size_t)a->friends_length) == 0 &&
           wcscmp(a->identity_path, b->identity_path) == 0 && wcscmp(a->beside, b->beside) == 0 &&
           wcscmp(a->current, b->current) == 0 && wcscmp(a->mirror, b->mirror) == 0;
}

// identity.tag, then friends.json beside the executable or else in the current folder, then
// its copy in the per-user folder, which is what a moved or reinstalled program finds.
static void write_job(const SaveJob* job) {
    if (job->user_folder[0]) CreateDirectoryW(job->user_folder, nullptr);  // an existing folder is fine
    if (job->identity_length >= 0 && job->identity_path[0])
        file_replace_contents(job->identity_path, job->identity_text, job->identity_length);
    int saved = job->beside[0] && file_replace_contents(job->beside, job->friends_text, job->friends_length);
    if (!saved && job->current[0]) saved = file_replace_contents(job->current, job->friends_text, job->friends_length);
    if (saved && job->mirror[0]) file_replace_contents(job->mirror, job->friends_text, job->friends_length);
}

// Writes the queued job; called and returns with g_saver.lock held, which is left while
// the files are written.
static void write_queued_locked(void) {
    copy_job(&g_work_job, &g_queued_job);
    g_saver.queued = 0;
    g_saver.writing = 1;
    LeaveCriticalSection(&g_saver.lock);
    write_job(&g_work_job);
    EnterCriticalSection(&g_saver.lock);
    g_saver.writing = 0;
    g_saver.last_write = GetTickCount();
    g_saver.writes++;
    WakeAllConditionVariable(&g_saver.changed);
}

static DWORD WINAPI saver_thread(void*) {
    EnterCriticalSection(&g_saver.lock);
    for (;;) {
        if (!g_saver.queued || g_saver.writing) {
            SleepConditionVariableCS(&g_saver.changed, &g_saver.lock, INFINITE);
            continue;
        }
        // A burst of changes waits out the interval and goes as one write of the latest.
        DWORD since = GetTickCount() - g_saver.last_write;
        if (since < SAVE_INTERVAL_MS) {
            SleepConditionVariableCS(&g_saver.changed, &g_saver.lock, SAVE_INTERVAL_MS - since);
            continue;
        }
        write_queued_locked();
    }
}

static void queue_job(const SaveJob* job) {
    InitOnceExecuteOnce(&g_saver_once, init_saver, nullptr, nullptr);
    EnterCriticalSection(&g_saver.lock);
    copy_job(&g_queued_job, job);
    g_saver.queued = 1;
    // It only writes files: a small stack, as the other workers have.
    if (!g_saver.thread)
        g_saver.thread = CreateThread(nullptr, 64 * 1024, saver_thread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    // Without the thread the save is written here: late, but never lost.
    if (!g_saver.thread) {
        while (g_saver.writing) SleepConditionVariableCS(&g_saver.changed, &g_saver.lock, INFINITE);
        if (g_saver.queued) write_queued_locked();
    }
    WakeAllConditionVariable(&g_saver.changed);
    LeaveCriticalSection(&g_saver.lock);
}

void friends_save_flush(void) {
    InitOnceExecuteOnce(&g_saver_once, init_saver, nullptr, nullptr);
    EnterCriticalSection(&g_saver.lock);
    while (g_saver.writing) SleepConditionVariableCS(&g_saver.changed, &g_saver.lock, INFINITE);
    if (g_saver.queued) write_queued_locked();
    LeaveCriticalSection(&g_saver.lock);
}

int friends_save_writes(void) {
    InitOnceExecuteOnce(&g_saver_once, init_saver, nullptr, nullptr);
    EnterCriticalSection(&g_saver.lock);
    int writes = g_saver.writes;
    LeaveCriticalSection(&g_saver.lock);
    return writes;
}

int identity_save(void) {
    char text[IDENTITY_TEXT_MAX];
    wchar_t path[MAX_PATH];
    int length = identity_tag_format(&g_identity, text, sizeof(text));
    if (length < 0 || !user_file(IDENTITY_FILE_NAME, 1, path, MAX_PATH)) return 0;
    // A queued save holds an older text of the same file.
    friends_save_flush();
    return file_replace_contents(path, text, length);
}

int friends_save(void) {
    if (g_save_refused) return 0;
    SaveJob* job = &g_new_job;
    job->friends_length = friends_json_format(&g_identity, &g_friends, job->friends_text, FRIENDS_FILE_MAX_BYTES);
    if (job->friends_length < 0) return 0;
    job->identity_length = identity_tag_format(&g_identity, job->identity_text, IDENTITY_TEXT_MAX);
    if (!user_folder(job->user_folder, MAX_PATH)) job->user_folder[0] = 0;
    if (!job->user_folder[0] ||
        wstr_format(job->identity_path, MAX_PATH, L"%ls\\%ls", job->user_folder, IDENTITY_FILE_NAME) <= 0 ||
        wstr_format(job->mirror, MAX_PATH, L"%ls\\%ls", job->user_folder, FRIENDS_FILE_NAME) <= 0)
        job->identity_path[0] = job->mirror[0] = 0;
    if (!program_file(FRIENDS_FILE_NAME, job->beside, MAX_PATH)) job->beside[0] = 0;
    // The writer thread must not depend on whatever the current folder is by then.
    DWORD n = GetFullPathNameW(FRIENDS_FILE_NAME, MAX_PATH, job->current, nullptr);
    if (n == 0 || n >= MAX_PATH) job->current[0] = 0;
    if (g_last_job_valid && same_job(job, &g_last_job)) return 1;
    copy_job(&g_last_job, job);
    g_last_job_valid = 1;
    queue_job(job);
    return 1;
}

// friends.json where it is looked for in turn: beside the executable, in the current
// folder, in the per-user folder. *found is set when a file exists, even one too big or
// empty to be read, and path names it.
static char* read_friends_file(wchar_t* path, int* length, int* found, int* too_big, int* in_user_folder) {
    *found = *too_big = *in_user_folder = 0;
    char* text;
    if (program_file(FRIENDS_FILE_NAME, path, MAX_PATH)) {
        text = read_small_file(path, FRIENDS_FILE_MAX_BYTES, 0, length, found, too_big);
        if (*found) return text;
    }
    DWORD n = GetFullPathNameW(FRIENDS_FILE_NAME, MAX_PATH, path, nullptr);
    if (n > 0 && n < MAX_PATH) {
        text = read_small_file(path, FRIENDS_FILE_MAX_BYTES, 0, length, found, too_big);
        if (*found) return text;
    }
    if (!user_file(FRIENDS_FILE_NAME, 0, path, MAX_PATH)) return nullptr;
    *in_user_folder = 1;
    return read_small_file(path, FRIENDS_FILE_MAX_BYTES, 0, length, found, too_big);
}

// Copies path beside itself under the first free name of KEPT_COPIES_MAX, never over an
// earlier copy; without one saving is refused.
static void keep_aside(const wchar_t* path) {
    for (int i = 1; i <= KEPT_COPIES_MAX; i++) {
        wchar_t copy[MAX_PATH + 8];
        if (i == 1) wstr_format(copy, MAX_PATH + 8, L"%ls.bak", path);
        else wstr_format(copy, MAX_PATH + 8, L"%ls.bak%d", path, i);
        if (GetFileAttributesW(copy) != INVALID_FILE_ATTRIBUTES) continue;
        if (CopyFileW(path, copy, TRUE)) {
            wstr_copy(g_kept_aside, copy);
            return;
        }
        break;
    }
    g_save_refused = 1;
}

//~ Identity

void identity_complete(void) {
    if (!g_identity.number[0]) {
        DWORD serial = 0;
        if (!GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) serial = 0;
        wchar_t computer[16] = {0};
        DWORD size = 16;
        if (!GetComputerNameW(computer, &size)) computer[0] = 0;
        identity_number_from_machine(serial, computer, g_identity.number, IDENTITY_NUMBER_CAPACITY);
    }
    if (!g_identity.name[0]) {
        wchar_t user[64] = {0};
        DWORD size = 64;
        if (!GetUserNameW(user, &size)) user[0] = 0;
        identity_name_from_user(user, g_identity.name, IDENTITY_NAME_CAPACITY);
    }
    wstr_format(g_identity.tag, USER_TAG_CAPACITY, L"%ls#%ls", g_identity.name, g_identity.number);
}

void identity_load(void) {
    // The files read here must hold what was saved last, and what is on disk is known no more.
    friends_save_flush();
    g_last_job_valid = 0;
    g_kept_aside[0] = 0;
    g_save_refused = 0;
    g_identity = Identity{};
    g_friends.friend_count = g_friends.pending_count = g_friends.sent_count = 0;
    IdentityTagFile tag_file = {};
    wchar_t path[MAX_PATH];
    int length = 0, found = 0, too_big = 0, in_user_folder = 0;
    if (user_file(IDENTITY_FILE_NAME, 0, path, MAX_PATH)) {
        // Only the first two short lines count; a few kilobytes hold them.
        char* text = read_small_file(path, 4096, 1, &length, nullptr, nullptr);
        identity_tag_parse(text, length, &tag_file);
        free(text);
    }
    char* text = read_friends_file(path, &length, &found, &too_big, &in_user_folder);
    Identity from_file;
    int whole = text ? friends_json_parse(text, length, &from_file, &g_friends) : !too_big;
    if (!whole) keep_aside(path);
    if (text) {
        // Found only in the per-user folder: put back beside the executable, where it is
        // looked for first.
        wchar_t beside[MAX_PATH];
        if (in_user_folder && !g_save_refused && program_file(FRIENDS_FILE_NAME, beside, MAX_PATH))
            file_replace_contents(beside, text, length);
        free(text);
        identity_decide(&tag_file, &from_file, &g_identity);
        identity_complete();
        identity_save();
    } else {
        identity_decide(&tag_file, nullptr, &g_identity);
        identity_complete();
        // identity.tag is not the file at risk when friends.json may not be replaced.
        if (!friends_save()) identity_save();
    }
}

void get_my_tag(wchar_t* buffer, int size) { wstr_copy(buffer, size, g_identity.tag); }
void get_my_name(wchar_t* buffer, int size) { wstr_copy(buffer, size, g_identity.name); }

//~ Lists

int friend_count(void) { return g_friends.friend_count; }
int pending_count(void) { return g_friends.pending_count; }

FriendEntry* friend_at(int i) { return i >= 0 && i < g_friends.friend_count ? &g_friends.friends[i] : nullptr; }
PendingEntry* pending_at(int i) { return i >= 0 && i < g_friends.pending_count ? &g_friends.pending[i] : nullptr; }

int friend_find(const wchar_t* tag) {
    for (int i = 0; i < g_friends.friend_count; i++)
        if (same_user(g_friends.friends[i].tag, tag)) return i;
    return -1;
}

int pending_find(const wchar_t* tag) {
    for (int i = 0; i < g_friends.pending_count; i++)
        if (same_user(g_friends.pending[i].tag, tag)) return i;
    return -1;
}

// Forgets the sent requests to the user of tag, without saving; returns 1 when there were.
static int forget_sent_request(const wchar_t* tag) {
    int kept = 0;
    for (int i = 0; i < g_friends.sent_count; i++)
        if (!same_user(g_friends.sent[i], tag)) wstr_copy(g_friends.sent[kept++], g_friends.sent[i]);
    if (kept == g_friends.sent_count) return 0;
    g_friends.sent_count = kept;
    return 1;
}

int friend_remove(const wchar_t* tag) {
    int at = friend_find(tag);
    if (at < 0) return 0;
    // An old request to the removed friend must not let an answer make them a friend again.
    forget_sent_request(g_friends.friends[at].tag);
    for (int i = at; i + 1 < g_friends.friend_count; i++) g_friends.friends[i] = g_friends.friends[i + 1];
    g_friends.friend_count--;
    friends_save();
    return 1;
}

int pending_remove(const wchar_t* tag) {
    int at = pending_find(tag);
    if (at < 0) return 0;
    for (int i = at; i + 1 < g_friends.pending_count; i++) g_friends.pending[i] = g_friends.pending[i + 1];
    g_friends.pending_count--;
    friends_save();
    return 1;
}

//~ Sent requests

int sent_request_has(const wchar_t* tag) {
    for (int i = 0; i < g_friends.sent_count; i++)
        if (same_user(g_friends.sent[i], tag)) return 1;
    return 0;
}

int sent_request_add(const wchar_t* tag) {
    if (!tag || !tag[0]) return 0;
    if (sent_request_has(tag)) return 1;
    // When the list is full the oldest request, the least likely to be answered, goes.
    if (g_friends.sent_count == SENT_REQUESTS_MAX) {
        for (int i = 0; i + 1 < SENT_REQUESTS_MAX; i++) wstr_copy(g_friends.sent[i], g_friends.sent[i + 1]);
        g_friends.sent_count--;
    }
    wchar_t* slot = g_friends.sent[g_friends.sent_count];
    // The number alone names the user, whatever name answers; a short one does not.
    if (tag_number(tag, slot, USER_TAG_CAPACITY) <= 2) wstr_copy(slot, USER_TAG_CAPACITY, tag);
    g_friends.sent_count++;
    friends_save();
    return 1;
}

int sent_request_remove(const wchar_t* tag) {
    if (!forget_sent_request(tag)) return 0;
    friends_save();
    return 1;
}

#include "update/updater.h"

#include <stdlib.h>

#include <atomic>

#include "base/messages.h"
#include "base/wstr.h"
#include "update/http_fetch.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"
#include "update_key.h"

#define WIDEN2(x) L##x
#define WIDEN(x) WIDEN2(x)
#ifndef NELVO_UPDATE_URL
#define NELVO_UPDATE_URL "https://updates.nelvo.invalid"
#endif

enum { THREAD_STACK = 64 * 1024, BLOCK_BYTES = 16384, VERSION_FILE_BYTES = 4095 };
// The first clean start of a program swapped in leaves this beside it; the next one removes
// it with the old program (see remove_update_leftovers).
#define STARTED_ONCE_NAME L"Nelvo_started.tmp"
// A rename that reaches the disk before it returns: a power cut right after the swap must
// not find the program folder without a Nelvo.exe.
enum { MOVE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH };

static wchar_t g_server[UPDATE_URL_CAPACITY] = WIDEN(NELVO_UPDATE_URL);
static wchar_t g_program_path[MAX_PATH];
static std::atomic<int> g_update_busy{0};

// The key updates must be signed with. Set before any download starts (at start-up, or by a
// test), read by the download thread.
struct UpdateKey {
    int present;  // a key is built in (or set): nothing unsigned is installed
    int usable;   // it parsed; a key that does not refuses everything
    unsigned char xy[UPDATE_KEY_BYTES];
};
static UpdateKey g_key;
static int g_key_loaded;

static void load_key(const char* pem) {
    g_key = {};
    g_key.present = pem && pem[0];
    g_key.usable = g_key.present && update_key_from_pem(pem, g_key.xy);
    g_key_loaded = 1;
}

int update_set_public_key(const char* pem) {
    load_key(pem ? pem : NELVO_UPDATE_KEY_PEM);
    return g_key.usable;
}

int update_signed(void) {
    if (!g_key_loaded) load_key(NELVO_UPDATE_KEY_PEM);
    return g_key.present;
}

void update_set_server(const wchar_t* base) { wstr_copy(g_server, base ? base : WIDEN(NELVO_UPDATE_URL)); }
const wchar_t* update_server(void) { return g_server; }
void update_set_program_path(const wchar_t* exe) { wstr_copy(g_program_path, exe ? exe : L""); }

static void program_path(wchar_t* exe, wchar_t* dir) {
    if (g_program_path[0]) wstr_copy(exe, MAX_PATH, g_program_path);
    else if (!GetModuleFileNameW(nullptr, exe, MAX_PATH)) exe[0] = 0;
    wstr_copy(dir, MAX_PATH, exe);
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (slash) *slash = 0;
}

// The marker of a first clean start, beside old.
static void started_marker(const wchar_t* old, wchar_t* out) {
    wstr_copy(out, MAX_PATH, old);
    wchar_t* slash = wcsrchr(out, L'\\');
    wstr_copy(slash ? slash + 1 : out, (int)(MAX_PATH - (slash ? slash + 1 - out : 0)), STARTED_ONCE_NAME);
}

static int file_exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

void remove_update_leftovers(void) {
    wchar_t exe[MAX_PATH], dir[MAX_PATH], path[MAX_PATH], old[MAX_PATH], marker[MAX_PATH];
    program_path(exe, dir);
    static const wchar_t* const NAMES[] = {L"Nelvo_new.tmp", L"Zembrafold_old.tmp", L"Zembrafold_new.tmp"};
    for (const wchar_t* name : NAMES) {
        wstr_format(path, MAX_PATH, L"%ls\\%ls", dir, name);
        DeleteFileW(path);
    }
    // The old program stays until the new one has come this far twice: one that reaches
    // here and then dies, or dies at every later start, leaves the user the old program.
    wstr_format(old, MAX_PATH, L"%ls\\Nelvo_old.tmp", dir);
    started_marker(old, marker);
    if (!file_exists(old)) {
        DeleteFileW(marker);
    } else if (!file_exists(marker)) {
        HANDLE f = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    } else if (DeleteFileW(old)) {
        DeleteFileW(marker);
    }
}

void update_failure_text(int code, wchar_t* text, int capacity) {
    wchar_t exe[MAX_PATH], dir[MAX_PATH], old[MAX_PATH];
    program_path(exe, dir);
    wstr_format(old, MAX_PATH, L"%ls\\Nelvo_old.tmp", dir);
    const wchar_t* slash = wcsrchr(exe, L'\\');
    // After a failed undo the old program may be left only under its temporary name; after
    // every other failure it is where it always was.
    const wchar_t* where = code == UPDATE_UNDO_FAILED && file_exists(old) ? old : exe;
    update_failure_message(code, where, slash ? slash + 1 : exe, text, capacity);
}

void update_record_release(LPARAM record) { free((void*)record); }

static int start_thread(LPTHREAD_START_ROUTINE routine, void* parameter) {
    HANDLE thread = CreateThread(nullptr, THREAD_STACK, routine, parameter, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return 0;
    CloseHandle(thread);
    return 1;
}

// "<url>?t=<ticks>": no cache between here and the server keeps an old answer.
static void cache_breaking(const wchar_t* url, wchar_t* out, int capacity) {
    wstr_format(out, capacity, L"%ls?t=%lu", url, (unsigned long)GetTickCount());
}

// The body of url (cache-breaking query added) into bytes, at most capacity of them. The
// number of bytes, or -1 when the request failed or the body is longer than capacity (when
// whole is set: a body cut to fit is then no body at all).
static int fetch_small(const wchar_t* url, char* bytes, int capacity, int whole) {
    wchar_t request_url[1200];
    cache_breaking(url, request_url, 1200);
    HINTERNET internet, connection;
    HINTERNET request = http_get(request_url, &internet, &connection);
    if (!request) return -1;
    int length = 0, ended = 0;
    DWORD available = 0, got = 0;
    while (length < capacity && WinHttpQueryDataAvailable(request, &available)) {
        if (available == 0) {
            ended = 1;
            break;
        }
        DWORD want = available < (DWORD)(capacity - length) ? available : (DWORD)(capacity - length);
        if (!WinHttpReadData(request, bytes + length, want, &got) || got == 0) break;
        length += (int)got;
    }
    // Full: whole only when the server has nothing more to give.
    if (!ended && length == capacity && WinHttpQueryDataAvailable(request, &available) && available == 0) ended = 1;
    http_close(request, connection, internet);
    return whole && !ended ? -1 : length;
}

static long long now_utc_seconds(void) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    return (long long)((t.QuadPart - 116444736000000000ULL) / 10000000ULL);
}

// The update server's signed manifest, fetched, read and verified with the update key. 1 and
// *out when it holds.
static int fetch_manifest(UpdateManifest* out) {
    if (!g_key.usable || !g_server[0]) return 0;
    wchar_t url[UPDATE_URL_CAPACITY];
    wstr_format(url, UPDATE_URL_CAPACITY, L"%ls/version.txt.sig", g_server);
    char bytes[UPDATE_MANIFEST_MAX];
    int length = fetch_small(url, bytes, UPDATE_MANIFEST_MAX, 1);
    return length > 0 && update_manifest_parse(bytes, length, out) &&
           update_signature_verify_bytes(g_key.xy, bytes, out->signed_length, out->rs);
}

//~ The check

struct CheckJob {
    HWND window;
    int manual;
};

static DWORD WINAPI check_thread(void* parameter) {
    CheckJob job = *(CheckJob*)parameter;
    free(parameter);
    UpdateInfo* info = (UpdateInfo*)calloc(1, sizeof(UpdateInfo));
    if (!info) return 0;
    info->manual = job.manual;
    wchar_t file_url[UPDATE_URL_CAPACITY];
    wstr_format(file_url, UPDATE_URL_CAPACITY, L"%ls/version.txt", g_server);
    char body[VERSION_FILE_BYTES + 1];
    int length = g_server[0] ? fetch_small(file_url, body, VERSION_FILE_BYTES, 0) : -1;
    if (length > 0) {
        body[length] = 0;
        version_file_parse(body, length, info);
        info->reached = 1;
    }
    wchar_t chosen[UPDATE_URL_CAPACITY];
    update_download_url(info->url, g_server, chosen, UPDATE_URL_CAPACITY);
    wstr_copy(info->url, chosen);
    UpdateManifest manifest;
    int signed_build = g_key.present;
    int verified = signed_build && info->reached && fetch_manifest(&manifest);
    update_check_decide(info, signed_build, verified ? &manifest : nullptr, now_utc_seconds());
    if ((info->available || info->manual || info->refused) && IsWindow(job.window) &&
        PostMessageW(job.window, MSG_UPDATE_CHECKED, 0, (LPARAM)info)) {
        info = nullptr;
    }
    free(info);
    SetProcessWorkingSetSize(GetCurrentProcess(), (SIZE_T)-1, (SIZE_T)-1);
    return 0;
}

void start_update_check(HWND window, int manual) {
    // Without an update server there is nothing to ask; only a manual check answers.
    if (!g_server[0] && !manual) return;
    update_signed();  // the key is read here, on the main thread, before the worker needs it
    CheckJob* job = (CheckJob*)malloc(sizeof(CheckJob));
    if (!job) return;
    *job = CheckJob{window, manual};
    if (!start_thread(check_thread, job)) free(job);
}

//~ The swap

// Puts the old program back into exe's place: by rename, or, when the file system refuses
// (the old file held open by a scanner, say), by a copy that leaves old as it is. 1 when exe
// is the old program again.
static int put_back(const wchar_t* old, const wchar_t* exe) {
    return MoveFileExW(old, exe, MOVE_FLAGS) || CopyFileW(old, exe, FALSE);
}

int update_install(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old) {
    if (!update_file_is_program(fresh)) {
        DeleteFileW(fresh);
        return UPDATE_UNVERIFIED;
    }
    // A marker of an earlier update's first start speaks of another program than the one
    // about to become old.
    wchar_t marker[MAX_PATH];
    started_marker(old, marker);
    DeleteFileW(marker);
    DeleteFileW(old);
    if (!MoveFileExW(exe, old, MOVE_FLAGS)) {
        DeleteFileW(fresh);
        return UPDATE_MOVE_FAILED;
    }
    if (!MoveFileExW(fresh, exe, MOVE_FLAGS)) {
        if (!put_back(old, exe)) return UPDATE_UNDO_FAILED;
        DeleteFileW(fresh);
        return UPDATE_PLACE_FAILED;
    }
    return 0;
}

// Puts the old program back after the new one failed: the new one aside as fresh, old into
// exe's place. 1 when exe is the old program again. When that cannot be done exe is left
// holding a program (the new one, moved back) and old stays where it is, for the failure
// message to name.
static int undo_swap(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old) {
    if (!MoveFileExW(exe, fresh, MOVE_FLAGS)) return CopyFileW(old, exe, FALSE);
    if (put_back(old, exe)) {
        DeleteFileW(fresh);
        return 1;
    }
    MoveFileExW(fresh, exe, MOVE_FLAGS);
    return 0;
}

int update_restart(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old) {
    wchar_t dir[MAX_PATH], argument[48], name[64], command[MAX_PATH + 64];
    wstr_copy(dir, exe);
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (slash) *slash = 0;
    update_handover_argument(GetCurrentProcessId(), argument, 48);
    update_ready_event_name(GetCurrentProcessId(), name, 64);
    wstr_format(command, MAX_PATH + 64, L"\"%ls\" %ls", exe, argument);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, name);
    if (ready) ResetEvent(ready);  // left set by an earlier attempt of this process
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started = {};
    int proven = 0;
    if (ready && CreateProcessW(exe, command, nullptr, nullptr, FALSE, 0, nullptr, dir, &startup, &started)) {
        HANDLE either[2] = {ready, started.hProcess};
        proven = WaitForMultipleObjects(2, either, FALSE, UPDATE_READY_MS) == WAIT_OBJECT_0;
        if (!proven) {
            // Silent or gone: one that still runs must not come up later beside us.
            TerminateProcess(started.hProcess, 1);
            WaitForSingleObject(started.hProcess, 5000);
        }
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    if (ready) CloseHandle(ready);
    if (proven) return 0;
    return undo_swap(exe, fresh, old) ? UPDATE_FAILED_START : UPDATE_UNDO_FAILED;
}

void update_report_ready(DWORD replaced) {
    wchar_t name[64];
    update_ready_event_name(replaced, name, 64);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    if (!ready) return;
    SetEvent(ready);
    CloseHandle(ready);
}

//~ The download

int update_progress_percent(long long total, long long length) {
    long long percent = length > 0 ? total * 99 / length : total * 95 / 320000;
    return percent >= 99 ? 99 : (int)percent;
}

struct DownloadJob {
    HWND window;
    wchar_t url[UPDATE_URL_CAPACITY];
};

static void post(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (IsWindow(window)) PostMessageW(window, message, wparam, lparam);
}

int update_body_within(long long total, long long length) {
    return total <= UPDATE_MAX_BYTES && length <= UPDATE_MAX_BYTES;
}

int update_body_whole(long long total, long long length) {
    return total > 0 && update_body_within(total, length) && (length <= 0 || total == length);
}

// Writes the body of request into file; 1 when it all arrived and was written. The end of
// the body is only an answer of 0 bytes available; a query that fails (a reset, a time-out)
// is a broken download, not its end.
static int receive_into(HINTERNET request, HANDLE file, HWND window, long long length) {
    if (!update_body_within(0, length)) return 0;
    char block[BLOCK_BYTES];
    long long total = 0;
    int last = 2;
    ULONGLONG started = GetTickCount64();
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return 0;
        if (available == 0) break;
        while (available > 0) {
            DWORD want = available < (DWORD)BLOCK_BYTES ? available : (DWORD)BLOCK_BYTES, got = 0, written = 0;
            if (!WinHttpReadData(request, block, want, &got) || got == 0) return 0;
            if (!WriteFile(file, block, got, &written, nullptr) || written != got) return 0;
            available -= got;
            total += got;
            if (!update_body_within(total, length) || GetTickCount64() - started > UPDATE_MAX_MS) return 0;
            int percent = update_progress_percent(total, length);
            if (percent > last) {
                last = percent;
                post(window, MSG_UPDATE_PROGRESS, (WPARAM)percent, 0);
            }
        }
    }
    return update_body_whole(total, length);
}

// Whether "<url>.sig" is the update key's signature of the file at path.
static int signature_holds(const wchar_t* url, const wchar_t* path) {
    if (!g_key.usable) return 0;
    wchar_t sig_url[UPDATE_URL_CAPACITY + 4];
    wstr_format(sig_url, UPDATE_URL_CAPACITY + 4, L"%ls.sig", url);
    char bytes[UPDATE_SIGNATURE_MAX];
    int length = fetch_small(sig_url, bytes, UPDATE_SIGNATURE_MAX, 1);
    unsigned char rs[UPDATE_SIGNATURE_BYTES];
    return length > 0 && update_signature_decode((const unsigned char*)bytes, length, rs) &&
           update_signature_verify_file(g_key.xy, path, rs);
}

// What the signed manifest says of the program downloaded to path: 0 to install it, else
// the result code that says why not.
static int manifest_allows(const wchar_t* path) {
    UpdateManifest manifest;
    unsigned char digest[UPDATE_DIGEST_BYTES];
    if (!fetch_manifest(&manifest) || !update_file_sha256(path, digest)) return UPDATE_UNVERIFIED;
    return update_manifest_verdict(&manifest, digest, now_utc_seconds());
}

static int download(const DownloadJob* job, const wchar_t* exe, const wchar_t* fresh, const wchar_t* old) {
    DeleteFileW(fresh);
    wchar_t url[1200];
    cache_breaking(job->url, url, 1200);
    HINTERNET internet, connection;
    HINTERNET request = http_get(url, &internet, &connection);
    if (!request) return 1;
    DWORD length = 0, size = sizeof length;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX))
        length = 0;
    HANDLE file = CreateFileW(fresh, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        http_close(request, connection, internet);
        return 1;
    }
    post(job->window, MSG_UPDATE_PROGRESS, 2, 0);
    // On the disk before it is checked and swapped in: the check must see what will run.
    int whole = receive_into(request, file, job->window, length) && FlushFileBuffers(file);
    CloseHandle(file);
    http_close(request, connection, internet);
    if (!whole) return 1;
    post(job->window, MSG_UPDATE_PROGRESS, 100, 0);
    if (update_signed()) {
        int refused = signature_holds(job->url, fresh) ? manifest_allows(fresh) : UPDATE_UNVERIFIED;
        if (refused) {
            DeleteFileW(fresh);
            return refused;
        }
    }
    return update_install(exe, fresh, old);
}

// Set by the main thread, read by the download thread.
static std::atomic<void (*)(void)> g_before_restart{nullptr};

void update_set_before_restart(void (*write_out)(void)) { g_before_restart.store(write_out); }

static DWORD WINAPI download_thread(void* parameter) {
    DownloadJob job = *(DownloadJob*)parameter;
    free(parameter);
    wchar_t exe[MAX_PATH], dir[MAX_PATH], fresh[MAX_PATH], old[MAX_PATH];
    program_path(exe, dir);
    wstr_format(fresh, MAX_PATH, L"%ls\\Nelvo_new.tmp", dir);
    wstr_format(old, MAX_PATH, L"%ls\\Nelvo_old.tmp", dir);
    int code = download(&job, exe, fresh, old);
    void (*write_out)(void) = g_before_restart.load();
    if (code == 0 && write_out) write_out();
    if (code == 0) code = update_restart(exe, fresh, old);
    g_update_busy.exchange(0);
    if (code == 0) {
        post(job.window, MSG_UPDATE_RESULT, 1, 0);
        ExitProcess(0);
    }
    // After a failed undo the new program may be the only one left whole.
    if (code != UPDATE_UNDO_FAILED) DeleteFileW(fresh);
    post(job.window, MSG_UPDATE_RESULT, 0, (LPARAM)code);
    return 0;
}

int start_update_download(HWND window, const wchar_t* url) {
    if (!url || !url[0]) return 0;
    int idle = 0;
    if (!g_update_busy.compare_exchange_strong(idle, 1)) return 0;
    update_signed();  // the key is read here, on the main thread, before the worker needs it
    DownloadJob* job = (DownloadJob*)malloc(sizeof(DownloadJob));
    if (job) {
        job->window = window;
        wstr_copy(job->url, url);
        if (start_thread(download_thread, job)) return 1;
        free(job);
    }
    g_update_busy.exchange(0);
    return 0;
}

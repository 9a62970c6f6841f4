#include "update/updater.h"

#include <stdlib.h>

#include <atomic>

#include "base/messages.h"
#include "base/wstr.h"
#include "update/http_fetch.h"
#include "update/update_signature.h"
#include "update_key.h"

#define WIDEN2(x) L##x
#define WIDEN(x) WIDEN2(x)
#ifndef NELVO_UPDATE_URL
#define NELVO_UPDATE_URL "https://updates.nelvo.invalid"
#endif

enum { THREAD_STACK = 64 * 1024, BLOCK_BYTES = 16384, VERSION_FILE_BYTES = 4095 };
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

void remove_update_leftovers(void) {
    wchar_t exe[MAX_PATH], dir[MAX_PATH], path[MAX_PATH];
    program_path(exe, dir);
    static const wchar_t* const NAMES[] = {L"Nelvo_old.tmp", L"Nelvo_new.tmp", L"Zembrafold_old.tmp",
                                           L"Zembrafold_new.tmp"};
    for (const wchar_t* name : NAMES) {
        wstr_format(path, MAX_PATH, L"%ls\\%ls", dir, name);
        DeleteFileW(path);
    }
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
    wchar_t url[1200];
    wchar_t file_url[UPDATE_URL_CAPACITY];
    wstr_format(file_url, UPDATE_URL_CAPACITY, L"%ls/version.txt", g_server);
    cache_breaking(file_url, url, 1200);
    char body[VERSION_FILE_BYTES + 1];
    int length = 0;
    HINTERNET internet, connection;
    HINTERNET request = g_server[0] ? http_get(url, &internet, &connection) : nullptr;
    if (request) {
        DWORD available = 0;
        while (length < VERSION_FILE_BYTES && WinHttpQueryDataAvailable(request, &available) && available) {
            DWORD want = available < (DWORD)(VERSION_FILE_BYTES - length) ? available : VERSION_FILE_BYTES - length;
            DWORD got = 0;
            if (!WinHttpReadData(request, body + length, want, &got) || got == 0) break;
            length += (int)got;
        }
        http_close(request, connection, internet);
    }
    body[length] = 0;
    if (length > 0) {
        version_file_parse(body, length, info);
        info->reached = 1;
    }
    wchar_t chosen[UPDATE_URL_CAPACITY];
    update_download_url(info->url, g_server, chosen, UPDATE_URL_CAPACITY);
    wstr_copy(info->url, chosen);
    info->available = info->reached && version_compare(info->version, NELVO_VERSION) > 0;
    if ((info->available || info->manual) && IsWindow(job.window) &&
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
    CheckJob* job = (CheckJob*)malloc(sizeof(CheckJob));
    if (!job) return;
    *job = CheckJob{window, manual};
    if (!start_thread(check_thread, job)) free(job);
}

//~ The swap

int update_install(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old) {
    if (!update_file_is_program(fresh)) {
        DeleteFileW(fresh);
        return 2;
    }
    DeleteFileW(old);
    if (!MoveFileExW(exe, old, MOVE_FLAGS)) {
        DeleteFileW(fresh);
        return 3;
    }
    if (!MoveFileExW(fresh, exe, MOVE_FLAGS)) {
        if (!MoveFileExW(old, exe, MOVE_FLAGS)) return UPDATE_UNDO_FAILED;
        DeleteFileW(fresh);
        return 4;
    }
    return 0;
}

// Puts the old program back: the new one aside as fresh, old into exe's place. 1 when both
// moves were made.
static int undo_swap(const wchar_t* exe, const wchar_t* fresh, const wchar_t* old) {
    if (!MoveFileExW(exe, fresh, MOVE_FLAGS)) return 0;
    if (!MoveFileExW(old, exe, MOVE_FLAGS)) return 0;
    DeleteFileW(fresh);
    return 1;
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
    wchar_t sig_url[UPDATE_URL_CAPACITY + 4], request_url[1200];
    wstr_format(sig_url, UPDATE_URL_CAPACITY + 4, L"%ls.sig", url);
    cache_breaking(sig_url, request_url, 1200);
    HINTERNET internet, connection;
    HINTERNET request = http_get(request_url, &internet, &connection);
    if (!request) return 0;
    unsigned char bytes[UPDATE_SIGNATURE_MAX + 1];
    int length = 0;
    DWORD available = 0, got = 0;
    int ended = 0;
    while (length <= UPDATE_SIGNATURE_MAX && WinHttpQueryDataAvailable(request, &available)) {
        if (available == 0) {
            ended = 1;
            break;
        }
        DWORD want = available < (DWORD)(UPDATE_SIGNATURE_MAX + 1 - length) ? available : UPDATE_SIGNATURE_MAX + 1 - length;
        if (!WinHttpReadData(request, bytes + length, want, &got) || got == 0) break;
        length += (int)got;
    }
    http_close(request, connection, internet);
    unsigned char rs[UPDATE_SIGNATURE_BYTES];
    return ended && update_signature_decode(bytes, length, rs) && update_signature_verify_file(g_key.xy, path, rs);
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
    if (update_signed() && !signature_holds(job->url, fresh)) {
        DeleteFileW(fresh);
        return 2;
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

#include "app/single_instance.h"

#include <windows.h>
#include <shellapi.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app/given_files.h"
#include "app/main_window.h"
#include "base/messages.h"
#include "base/wstr.h"

//~ The key

static const unsigned long long FNV_OFFSET = 1469598103934665603ull;
static const unsigned long long FNV_PRIME = 1099511628211ull;

static unsigned long long hash_unit(unsigned long long h, wchar_t c) {
    h = (h ^ (unsigned)(c & 0xFF)) * FNV_PRIME;
    return (h ^ (unsigned)((c >> 8) & 0xFF)) * FNV_PRIME;
}

// Upper case without regard to the user's language, as the file system compares names;
// forward slashes count as the backslashes they stand for.
static unsigned long long hash_folded(unsigned long long h, const wchar_t* text) {
    if (!text) return h;
    const size_t CHUNK = 128;
    wchar_t folded[CHUNK];
    size_t length = wcslen(text);
    for (size_t at = 0; at < length; at += CHUNK) {
        int n = (int)(length - at < CHUNK ? length - at : CHUNK);
        if (LCMapStringEx(L"", LCMAP_UPPERCASE, text + at, n, folded, (int)CHUNK, nullptr, nullptr, 0) != n)
            wmemcpy(folded, text + at, (size_t)n);
        for (int i = 0; i < n; i++) h = hash_unit(h, folded[i] == L'/' ? L'\\' : folded[i]);
    }
    return h;
}

void instance_key(const wchar_t* exe_path, const wchar_t* user, wchar_t* key, int capacity) {
    unsigned long long h = hash_folded(FNV_OFFSET, exe_path);
    h = hash_unit(h, 0);  // so that the same letters split differently give another key
    h = hash_folded(h, user);
    wchar_t digits[17];
    for (int i = 15; i >= 0; i--, h >>= 4) digits[i] = L"0123456789abcdef"[h & 15];
    digits[16] = 0;
    wstr_format(key, capacity, L"Nelvo-%ls", digits);
}

//~ The hand-over block

enum { HANDOVER_HEADER = 8 };  // tag, count

size_t handover_pack(const wchar_t* const* paths, int count, void* out, size_t capacity, int* taken) {
    if (taken) *taken = 0;
    if (capacity > HANDOVER_MAX_BYTES) capacity = HANDOVER_MAX_BYTES;
    if (!out || capacity < HANDOVER_HEADER) return 0;
    unsigned char* bytes = (unsigned char*)out;
    size_t used = HANDOVER_HEADER;
    UINT32 packed = 0;
    int i = 0;
    for (; i < count && packed < HANDOVER_MAX_FILES; i++) {
        size_t length = paths && paths[i] ? wcsnlen(paths[i], HANDOVER_MAX_PATH + 1) : 0;
        if (length == 0 || length > HANDOVER_MAX_PATH) continue;  // nothing the receiver could open
        size_t need = (length + 1) * sizeof(wchar_t);
        if (need > capacity - used) break;
        memcpy(bytes + used, paths[i], need);
        used += need;
        packed++;
    }
    UINT32 tag = (UINT32)HANDOVER_TAG;
    memcpy(bytes, &tag, 4);
    memcpy(bytes + 4, &packed, 4);
    if (taken) *taken = i;
    return used;
}

int handover_unpack(const void* data, size_t size, const wchar_t** paths, int capacity) {
    if (!data || size < HANDOVER_HEADER || size > HANDOVER_MAX_BYTES) return -1;
    if ((size - HANDOVER_HEADER) % sizeof(wchar_t)) return -1;
    const unsigned char* bytes = (const unsigned char*)data;
    UINT32 tag = 0, count = 0;
    memcpy(&tag, bytes, 4);
    memcpy(&count, bytes + 4, 4);
    if (tag != (UINT32)HANDOVER_TAG || count > HANDOVER_MAX_FILES || (long long)count > (long long)capacity) return -1;
    const wchar_t* text = (const wchar_t*)(bytes + HANDOVER_HEADER);
    size_t units = (size - HANDOVER_HEADER) / sizeof(wchar_t);
    size_t at = 0;
    for (UINT32 i = 0; i < count; i++) {
        size_t start = at;
        while (at < units && text[at]) at++;
        if (at == units) return -1;  // the last path has no terminator
        size_t length = at - start;
        if (length == 0 || length > HANDOVER_MAX_PATH) return -1;
        if (paths) paths[i] = text + start;
        at++;
    }
    if (at != units) return -1;  // more than the count announced
    return (int)count;
}

//~ The process

// What a running process publishes about its window, in the named shared block.
struct PublishedWindow {
    UINT32 tag;  // HANDOVER_TAG once the other fields are written
    DWORD process_id;
    UINT64 window;  // window handles are the same in every process
};

// This process's share of the named objects. Main thread.
struct SingleInstance {
    wchar_t key[INSTANCE_KEY_CAPACITY];
    HANDLE mutex;    // owned (owns = 1) for as long as this process runs the window
    int owns;
    HANDLE mapping;  // the PublishedWindow, while the window exists
};

static SingleInstance g_instance;

static void object_name(wchar_t* name, int capacity, const wchar_t* kind) {
    // Local\ is the user's session: another user's Nelvo never sees these names.
    wstr_format(name, capacity, L"Local\\%ls-%ls", g_instance.key, kind);
}

static void make_key(void) {
    enum { LONG_PATH = 32768 };
    wchar_t* exe = (wchar_t*)calloc(LONG_PATH, sizeof(wchar_t));
    wchar_t* full = (wchar_t*)calloc(LONG_PATH, sizeof(wchar_t));
    wchar_t user[260] = L"";
    DWORD user_length = 260;
    if (!GetUserNameW(user, &user_length)) user[0] = 0;
    if (exe && full) {
        DWORD n = GetModuleFileNameW(nullptr, exe, LONG_PATH);
        if (n == 0 || n >= LONG_PATH) exe[0] = 0;
        // A start through a short 8.3 name is the same installation as one through the long name.
        DWORD m = GetLongPathNameW(exe, full, LONG_PATH);
        instance_key(m > 0 && m < LONG_PATH ? full : exe, user, g_instance.key, INSTANCE_KEY_CAPACITY);
    } else {
        instance_key(L"", user, g_instance.key, INSTANCE_KEY_CAPACITY);
    }
    free(exe);
    free(full);
}

// The window the running process published, checked to be its main window still; null
// while there is none (not yet created, or gone).
static HWND published_window(DWORD* process_id) {
    wchar_t name[64];
    object_name(name, 64, L"window");
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    if (!mapping) return nullptr;
    HWND found = nullptr;
    const PublishedWindow* view =
        (const PublishedWindow*)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(PublishedWindow));
    if (view) {
        PublishedWindow seen = *view;
        UnmapViewOfFile(view);
        HWND window = (HWND)(UINT_PTR)seen.window;
        DWORD owner = 0;
        wchar_t cls[64] = L"";
        // A handle left from a window that is gone may name another window by now.
        if (seen.tag == (UINT32)HANDOVER_TAG && IsWindow(window) && GetWindowThreadProcessId(window, &owner) &&
            owner == seen.process_id && GetClassNameW(window, cls, 64) && !wcscmp(cls, MAIN_WINDOW_CLASS)) {
            found = window;
            *process_id = owner;
        }
    }
    CloseHandle(mapping);
    return found;
}

// The full path of a command-line argument: the running window has its own working folder.
static wchar_t* full_path_of(const wchar_t* argument) {
    DWORD need = GetFullPathNameW(argument, 0, nullptr, nullptr);
    if (need == 0) return nullptr;
    wchar_t* full = (wchar_t*)calloc(need + 1, sizeof(wchar_t));
    if (!full) return nullptr;
    DWORD n = GetFullPathNameW(argument, need + 1, full, nullptr);
    if (n == 0 || n > need) {
        free(full);
        return nullptr;
    }
    return full;
}

// Sends the files of command_line to window in as many blocks as they need (one, empty,
// when there are none: the window then only comes to the front). 1 when it took them all.
static int hand_over(HWND window, DWORD process_id, const wchar_t* command_line) {
    int argc = 0;
    wchar_t** argv = command_line && command_line[0] ? CommandLineToArgvW(command_line, &argc) : nullptr;
    int count = argv && argc > 1 ? argc - 1 : 0;
    wchar_t** files = (wchar_t**)calloc(count > 0 ? count : 1, sizeof(wchar_t*));
    void* block = malloc(HANDOVER_MAX_BYTES);
    int ok = files && block;
    for (int i = 0; ok && i < count; i++) files[i] = full_path_of(argv[i + 1]);
    // This start came from the user; the running window may come to the front only if we let it.
    AllowSetForegroundWindow(process_id);
    int at = 0, sent = 0;
    while (ok && (at < count || !sent)) {
        int taken = 0;
        size_t size = handover_pack((const wchar_t* const*)files + at, count - at, block, HANDOVER_MAX_BYTES, &taken);
        COPYDATASTRUCT data = {HANDOVER_TAG, (DWORD)size, block};
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, (LPARAM)&data, SMTO_NORMAL, HANDOVER_SEND_MS, &answer) ||
            answer != TRUE)
            ok = 0;
        sent = 1;
        if (taken == 0 && at < count) break;  // a path no block can hold; the rest would repeat
        at += taken;
    }
    for (int i = 0; files && i < count; i++) free(files[i]);
    free(files);
    free(block);
    if (argv) LocalFree(argv);
    return ok;
}

int single_instance_start(const wchar_t* command_line) {
    make_key();
    wchar_t name[64];
    object_name(name, 64, L"running");
    g_instance.mutex = CreateMutexW(nullptr, FALSE, name);
    if (!g_instance.mutex) return INSTANCE_RUN;  // without named objects every start runs alone
    DWORD start = GetTickCount();
    DWORD pause = 0;
    for (;;) {
        // The running process owns the mutex until it ends; ending without letting go (a
        // crash) leaves it abandoned, and then this start takes over.
        DWORD wait = WaitForSingleObject(g_instance.mutex, pause);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            g_instance.owns = 1;
            return INSTANCE_RUN;
        }
        pause = 50;
        DWORD process_id = 0;
        HWND window = published_window(&process_id);
        if (window) {
            if (hand_over(window, process_id, command_line)) {
                CloseHandle(g_instance.mutex);
                g_instance.mutex = nullptr;
                return INSTANCE_HANDED_OVER;
            }
            if (IsWindow(window)) break;  // alive but not answering: run rather than lose the files
        }
        // The first may still be starting: its window appears within moments.
        if (GetTickCount() - start >= HANDOVER_WAIT_MS) break;
    }
    CloseHandle(g_instance.mutex);
    g_instance.mutex = nullptr;
    return INSTANCE_RUN;
}

void single_instance_take(void) {
    make_key();
    wchar_t name[64];
    object_name(name, 64, L"running");
    g_instance.mutex = CreateMutexW(nullptr, FALSE, name);
    if (!g_instance.mutex) return;
    DWORD wait = WaitForSingleObject(g_instance.mutex, HANDOVER_WAIT_MS);
    g_instance.owns = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (!g_instance.owns) {
        CloseHandle(g_instance.mutex);
        g_instance.mutex = nullptr;
    }
}

void single_instance_publish(HWND window) {
    // A start that runs beside an unanswering first leaves the names to that first.
    if (!g_instance.owns || !window) return;
    wchar_t name[64];
    object_name(name, 64, L"window");
    g_instance.mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(PublishedWindow), name);
    if (!g_instance.mapping) return;
    PublishedWindow* view = (PublishedWindow*)MapViewOfFile(g_instance.mapping, FILE_MAP_WRITE, 0, 0, sizeof(PublishedWindow));
    if (!view) {
        CloseHandle(g_instance.mapping);
        g_instance.mapping = nullptr;
        return;
    }
    view->process_id = GetCurrentProcessId();
    view->window = (UINT64)(UINT_PTR)window;
    MemoryBarrier();  // a reader that sees the tag sees the rest
    view->tag = (UINT32)HANDOVER_TAG;
    UnmapViewOfFile(view);
}

void single_instance_end(void) {
    if (g_instance.mapping) CloseHandle(g_instance.mapping);
    g_instance.mapping = nullptr;
    if (g_instance.mutex) {
        if (g_instance.owns) ReleaseMutex(g_instance.mutex);
        CloseHandle(g_instance.mutex);
    }
    g_instance.mutex = nullptr;
    g_instance.owns = 0;
}

//~ The running window's side

static void bring_to_front(HWND window) {
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    else if (!IsWindowVisible(window)) ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

LRESULT on_copy_data(HWND window, const COPYDATASTRUCT* data) {
    if (!data || data->dwData != HANDOVER_TAG) return FALSE;
    size_t size = data->cbData;
    if (size > HANDOVER_MAX_BYTES || (size > 0 && !data->lpData)) return FALSE;
    // The system's copy lives only until the reply; ours is read after it.
    void* block = malloc(size > 0 ? size : 1);
    const wchar_t** paths = (const wchar_t**)calloc(HANDOVER_MAX_FILES, sizeof(const wchar_t*));
    int count = -1;
    if (block && paths) {
        if (size > 0) memcpy(block, data->lpData, size);
        count = handover_unpack(block, size, paths, HANDOVER_MAX_FILES);
    }
    if (count >= 0) {
        // The other start waits only for the answer, not for the files to be opened.
        ReplyMessage(TRUE);
        bring_to_front(window);
        // Files that come before the second stage of start-up has run would land ahead of
        // the library; the stage runs now and they follow it, as the command line's do.
        MSG pending;
        if (PeekMessageW(&pending, window, MSG_DEFERRED_START, MSG_DEFERRED_START, PM_REMOVE))
            SendMessageW(window, MSG_DEFERRED_START, 0, 0);
        given_files_open(paths, count, 0);
    }
    free(paths);
    free(block);
    return count >= 0 ? TRUE : FALSE;
}

// The identity and the friends store in memory, and the files they persist in.
#include <windows.h>
#include <stdlib.h>

#include "base/file_replace.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "social/identity.h"

Identity g_identity;
FriendStore g_friends;

static wchar_t g_program_folder[MAX_PATH];  // empty: the executable's real folder

static const wchar_t FRIENDS_FILE_NAME[] = L"friends.json";

void identity_set_program_folder(const wchar_t* folder) { wstr_copy(g_program_folder, folder ? folder : L""); }

//~ Files

static int program_file(const wchar_t* name, wchar_t* path, int capacity) {
    wchar_t folder[MAX_PATH];
    if (g_program_folder[0]) wstr_copy(folder, g_program_folder);
    else program_folder(folder, MAX_PATH);
    if (!folder[0]) return 0;
    return wstr_format(path, capacity, L"%ls\\%ls", folder, name) > 0;
}

// name in the per-user folder "%APPDATA%\Nelvo", which is made when create is set.
static int user_file(const wchar_t* name, int create, wchar_t* path, int capacity) {
    wchar_t appdata[MAX_PATH], folder[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"APPDATA", appdata, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    wstr_format(folder, MAX_PATH, L"%ls\\Nelvo", appdata);
    if (create) CreateDirectoryW(folder, nullptr);  // an existing folder is fine
    return wstr_format(path, capacity, L"%ls\\%ls", folder, name) > 0;
}

// The whole file when its size is 1..max_bytes, else null (with head set, the first
// max_bytes of a longer one); *length gets the size read.
static char* read_small_file(const wchar_t* path, int max_bytes, int head, int* length, int* found) {
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

int identity_save(void) {
    char text[512];
    wchar_t path[MAX_PATH];
    int length = identity_tag_format(&g_identity, text, sizeof(text));
    if (length < 0 || !user_file(L"identity.tag", 1, path, MAX_PATH)) return 0;
    return file_replace_contents(path, text, length);
}

int friends_save(void) {
    identity_save();
    char* text = (char*)malloc(FRIENDS_FILE_MAX_BYTES);
    if (!text) return 0;
    int length = friends_json_format(&g_identity, &g_friends, text, FRIENDS_FILE_MAX_BYTES);
    int saved = 0;
    wchar_t path[MAX_PATH];
    if (length >= 0) {
        saved = program_file(FRIENDS_FILE_NAME, path, MAX_PATH) && file_replace_contents(path, text, length);
        if (!saved) saved = file_replace_contents(FRIENDS_FILE_NAME, text, length);
    }
    // The copy in the per-user folder is what a moved or reinstalled program finds.
    if (saved && user_file(FRIENDS_FILE_NAME, 1, path, MAX_PATH)) file_replace_contents(path, text, length);
    free(text);
    return saved;
}

// friends.json where it is looked for in turn: beside the executable, in the current
// folder, in the per-user folder (from where it is first copied beside the executable).
// *found is set when a file exists, even one too big or empty to be read.
static char* read_friends_file(int* length, int* found) {
    wchar_t path[MAX_PATH];
    char* text = nullptr;
    *found = 0;
    if (program_file(FRIENDS_FILE_NAME, path, MAX_PATH)) {
        text = read_small_file(path, FRIENDS_FILE_MAX_BYTES, 0, length, found);
        if (*found) return text;
    }
    text = read_small_file(FRIENDS_FILE_NAME, FRIENDS_FILE_MAX_BYTES, 0, length, found);
    if (*found) return text;
    if (!user_file(FRIENDS_FILE_NAME, 0, path, MAX_PATH)) return nullptr;
    text = read_small_file(path, FRIENDS_FILE_MAX_BYTES, 0, length, found);
    wchar_t beside[MAX_PATH];
    if (text && program_file(FRIENDS_FILE_NAME, beside, MAX_PATH)) file_replace_contents(beside, text, *length);
    return text;
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
    g_identity = Identity{};
    g_friends.friend_count = g_friends.pending_count = g_friends.sent_count = 0;
    IdentityTagFile tag_file = {};
    wchar_t path[MAX_PATH];
    int length = 0, found = 0;
    if (user_file(L"identity.tag", 0, path, MAX_PATH)) {
        // Only the first two short lines count; a few kilobytes hold them.
        char* text = read_small_file(path, 4096, 1, &length, nullptr);
        identity_tag_parse(text, length, &tag_file);
        free(text);
    }
    char* text = read_friends_file(&length, &found);
    if (text) {
        Identity from_file;
        friends_json_parse(text, length, &from_file, &g_friends);
        free(text);
        identity_decide(&tag_file, &from_file, &g_identity);
        identity_complete();
        identity_save();
    } else {
        identity_decide(&tag_file, nullptr, &g_identity);
        identity_complete();
        friends_save();
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

int friend_remove(const wchar_t* tag) {
    int at = friend_find(tag);
    if (at < 0) return 0;
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
    int kept = 0;
    for (int i = 0; i < g_friends.sent_count; i++)
        if (!same_user(g_friends.sent[i], tag)) wstr_copy(g_friends.sent[kept++], g_friends.sent[i]);
    if (kept == g_friends.sent_count) return 0;
    g_friends.sent_count = kept;
    friends_save();
    return 1;
}

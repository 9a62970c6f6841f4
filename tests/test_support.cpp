#include "test_support.h"

#include <tlhelp32.h>

#include <atomic>

#include "program_home.h"

// Every test program runs the program's code in a home of its own, from its first line (or
// from the first TempDir another file's statics make, whichever comes first).
static void enter_home(void) {
    if (program_home_path().empty()) program_home_enter(L"test");
}
static const int g_home = (enter_home(), 0);

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    enter_home();
    // Inside the program's home, which goes with the process even when it dies.
    std::wstring base = program_home_path() + L"\\";
    wchar_t name[MAX_PATH];
    for (;;) {
        wsprintfW(name, L"%snelvo-test-%lu-%d", base.c_str(), GetCurrentProcessId(), counter++);
        if (CreateDirectoryW(name, nullptr)) break;
    }
    path = name;
}

TempDir::~TempDir() { remove_tree(path); }

int write_file(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(f, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

std::string read_file(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(f);
    return out;
}

int file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void remove_tree(const std::wstring& path) { home_remove_tree(path); }

int process_thread_count(void) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) count++;
    CloseHandle(snapshot);
    return count;
}

int process_handle_count(void) {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return (int)count;
    // SystemHandleInformation: a count, then one entry per handle of every process.
    struct Entry {
        ULONG process;
        BYTE type, flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    typedef LONG(WINAPI * QueryFn)(ULONG, void*, ULONG, ULONG*);
    QueryFn query = (QueryFn)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    if (!query) return -1;
    std::string buffer(1 << 20, '\0');
    ULONG needed = 0;
    for (int tries = 0; tries < 6; tries++) {
        LONG status = query(16, &buffer[0], (ULONG)buffer.size(), &needed);
        if (status == 0) break;
        if (tries == 5) return -1;
        buffer.assign(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 65536, '\0');
    }
    ULONG entries = *(const ULONG*)buffer.data();
    const Entry* e = (const Entry*)(buffer.data() + sizeof(void*));
    int mine = 0;
    for (ULONG i = 0; i < entries; i++)
        if (e[i].process == GetCurrentProcessId()) mine++;
    return mine;
}

#pragma once
// This process's threads and open handles now, for the tests' leak checks and the
// benchmarks. Wine's process handle count is always 0: there the handles are counted in the
// system's handle list.
#include <windows.h>
#include <tlhelp32.h>

#include <string>

inline int process_thread_count(void) {
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

inline int process_handle_count(void) {
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
    for (int tries = 0;; tries++) {
        if (query(16, &buffer[0], (ULONG)buffer.size(), &needed) == 0) break;
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

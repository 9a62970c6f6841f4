#pragma once
// Where a test or benchmark program keeps what the program's code it runs writes: a
// temporary folder of its own, taken as the program's folder (config.json, friends.json,
// the default music folder) and as its per-user folder (APPDATA), and removed when the
// process ends. What a process that died left behind goes when the next one starts. So
// nothing they do changes what build/Nelvo.exe finds at its next start.
#include <windows.h>

#include <stdlib.h>

#include <string>

#include "library/folder_scan.h"

// The folder of this executable itself (the program's code may be told another one).
inline std::wstring module_folder(void) {
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, n < MAX_PATH ? n : 0);
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

// Removes a folder and everything below it; the tests' remove_tree too.
inline void home_remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            // A link is removed, never entered: it may lead back up the tree.
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveDirectoryW(child.c_str());
            } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                home_remove_tree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

inline std::wstring& program_home_path(void) {
    static std::wstring path;
    return path;
}

inline void program_home_leave(void) {
    std::wstring& home = program_home_path();
    if (home.empty()) return;
    // A folder that is the working folder cannot go.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
    home_remove_tree(home);
    home.clear();
}

// "nelvo-home-<name>-<process id>" in the temporary folder; the homes of processes that no
// longer run are removed first.
inline void program_home_enter(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = temp;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((base + L"nelvo-*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
            // "nelvo-home-<name>-<pid>", and "nelvo-test-<pid>-<n>" of the builds that kept
            // their temporary folders outside a home.
            DWORD pid = 0;
            if (!wcsncmp(fd.cFileName, L"nelvo-home-", 11)) {
                pid = (DWORD)wcstoul(wcsrchr(fd.cFileName, L'-') + 1, nullptr, 10);
            } else if (!wcsncmp(fd.cFileName, L"nelvo-test-", 11)) {
                pid = (DWORD)wcstoul(fd.cFileName + 11, nullptr, 10);
            } else {
                continue;
            }
            HANDLE process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
            bool alive = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
            if (process) CloseHandle(process);
            if (!alive) home_remove_tree(base + fd.cFileName);
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    std::wstring home = base + L"nelvo-home-" + name + L"-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(home.c_str(), nullptr);
    CreateDirectoryW((home + L"\\program").c_str(), nullptr);
    CreateDirectoryW((home + L"\\roaming").c_str(), nullptr);
    SetEnvironmentVariableW(L"APPDATA", (home + L"\\roaming").c_str());
    program_folder_set((home + L"\\program").c_str());
    SetCurrentDirectoryW((home + L"\\program").c_str());
    program_home_path() = home;
    atexit(program_home_leave);
}

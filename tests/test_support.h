#pragma once
// Real files in real temporary folders for the tests.
#include <windows.h>

#include <string>

#include "process_counts.h"

// A fresh folder under the system temp folder, removed with everything in it at the end.
struct TempDir {
    std::wstring path;
    TempDir();
    ~TempDir();
    std::wstring file(const std::wstring& name) const { return path + L"\\" + name; }
};

// Writes bytes to path (created or truncated); returns 1 on success.
int write_file(const std::wstring& path, const std::string& bytes);
// The whole file, or an empty string when it cannot be read.
std::string read_file(const std::wstring& path);
int file_exists(const std::wstring& path);
// Removes a folder and everything below it.
void remove_tree(const std::wstring& path);

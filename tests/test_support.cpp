#include "test_support.h"

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


// The "new version" the updater tests download: a real program that, when started, writes
// started.txt beside itself and, started by an update, reports to the program it replaces
// as the real one does once its window is up; then it does what the real one does once it
// is up (remove_update_leftovers) and ends at once, as a new version that dies right after
// its start would. With quiet.txt beside it, it ends at once without a word instead. Its
// padding makes it as large as a real download must be (the updater takes nothing under
// 50000 bytes).
#include <windows.h>

#include "update/update_info.h"
#include "update/updater.h"

static volatile const char PADDING[64 * 1024] = {1};

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    while (n > 0 && path[n - 1] != L'\\') n--;
    lstrcpyW(path + n, L"started.txt");
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(f, (const void*)PADDING, 1, &written, nullptr);
        CloseHandle(f);
    }
    lstrcpyW(path + n, L"quiet.txt");
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return 0;
    DWORD replaced = 0;
    if (update_handover_parse(GetCommandLineW(), &replaced)) update_report_ready(replaced);
    remove_update_leftovers();
    return 3;
}

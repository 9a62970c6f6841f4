#include "base/file_replace.h"

#include <windows.h>

#include "base/wstr.h"

int file_replace_contents(const wchar_t* target, const char* data, int length) {
    DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return 0;
    wchar_t temp[MAX_PATH + 8];
    if (wstr_format(temp, MAX_PATH + 8, L"%ls.tmp", target) <= 0) return 0;
    HANDLE f = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    int ok = WriteFile(f, data, (DWORD)length, &written, nullptr) && (int)written == length;
    ok = ok && FlushFileBuffers(f);
    CloseHandle(f);
    if (ok) {
        if (attributes != INVALID_FILE_ATTRIBUTES)
            ok = ReplaceFileW(target, temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) ||
                 MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        else
            ok = MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) DeleteFileW(temp);
    return ok;
}

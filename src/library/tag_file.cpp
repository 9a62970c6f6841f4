#include "library/tag_file.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

struct TagFile {
    HANDLE handle;
    uint64_t size;
    uint64_t block_at;  // offset of the cached block
    int block_length;   // 0 when nothing is cached
    unsigned char block[TAG_FILE_BLOCK];
};

static int file_read_at(HANDLE handle, uint64_t offset, void* out, int length) {
    OVERLAPPED at = {};
    at.Offset = (DWORD)offset;
    at.OffsetHigh = (DWORD)(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(handle, out, (DWORD)length, &got, &at)) return 0;
    return (int)got;
}

static int tag_file_read(void* context, uint64_t offset, void* out, int length) {
    TagFile* f = (TagFile*)context;
    if (length <= 0 || offset >= f->size) return 0;
    if ((uint64_t)length > f->size - offset) length = (int)(f->size - offset);
    if (length >= TAG_FILE_BLOCK) return file_read_at(f->handle, offset, out, length);
    unsigned char* to = (unsigned char*)out;
    int done = 0;
    while (done < length) {
        uint64_t at = offset + (uint64_t)done;
        if (!f->block_length || at < f->block_at || at >= f->block_at + (uint64_t)f->block_length) {
            f->block_at = at - at % TAG_FILE_BLOCK;
            f->block_length = file_read_at(f->handle, f->block_at, f->block, TAG_FILE_BLOCK);
            if (at >= f->block_at + (uint64_t)f->block_length) {
                f->block_length = 0;
                break;
            }
        }
        int from = (int)(at - f->block_at);
        int n = f->block_length - from;
        if (n > length - done) n = length - done;
        memcpy(to + done, f->block + from, (size_t)n);
        done += n;
    }
    return done;
}

TagFile* tag_file_open(const wchar_t* path) {
    // Other programs may be writing, renaming or deleting the file while it is read.
    HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    TagFile* file = nullptr;
    // Not zeroed: the block is written before it is read, and clearing 64 KB for every file
    // opened would be work for nothing.
    if (GetFileSizeEx(handle, &size)) file = (TagFile*)malloc(sizeof *file);
    if (!file) {
        CloseHandle(handle);
        return nullptr;
    }
    file->handle = handle;
    file->size = (uint64_t)size.QuadPart;
    file->block_at = 0;
    file->block_length = 0;
    return file;
}

TagSource tag_file_source(TagFile* file) {
    TagSource source = {file, tag_file_read, file->size};
    return source;
}

void tag_file_close(TagFile* file) {
    if (!file) return;
    CloseHandle(file->handle);
    free(file);
}

int tags_read_file(const wchar_t* path, TrackTags* out) {
    memset(out, 0, sizeof *out);
    TagFile* file = tag_file_open(path);
    if (!file) return TAG_FORMAT_NONE;
    TagSource source = tag_file_source(file);
    int format = tags_read(&source, out);
    tag_file_close(file);
    return format;
}

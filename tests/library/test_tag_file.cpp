// The tag reader over files on disk: its block cache must hand the readers the bytes of the
// file, whatever the order and size of their reads.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <algorithm>
#include <string>

#include "library/tag_file.h"
#include "library/tags.h"
#include "test_support.h"

namespace {

std::wstring corpus_dir() {
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring p = here;
    return p.substr(0, p.find_last_of(L'\\')) + L"\\tag-corpus";
}

}  // namespace

// Every corpus file reads the same from disk as from its bytes in memory; the larger WAV
// files keep a chunk past the first block, and the ID3v1 tags lie at the very end.
TEST(TagFile, ReadsAsTheBytesInMemoryRead) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((corpus_dir() + L"\\*.*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << "no corpus: tools/tag_corpus makes it at build time";
    int files = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring path = corpus_dir() + L"\\" + found.cFileName;
        if (path.size() > 4 && path.compare(path.size() - 4, 4, L".tsv") == 0) continue;
        std::string bytes = read_file(path);
        TagMemory memory = {(const unsigned char*)bytes.data(), bytes.size()};
        TagSource source = tag_source_memory(&memory);
        TrackTags from_memory, from_file;
        int memory_format = tags_read(&source, &from_memory);
        int file_format = tags_read_file(path.c_str(), &from_file);
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        EXPECT_EQ(file_format, memory_format);
        EXPECT_EQ(memcmp(&from_file, &from_memory, sizeof from_file), 0);
        files++;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    EXPECT_GT(files, 0);
    TrackTags t;
    EXPECT_EQ(tags_read_file((corpus_dir() + L"\\no such file.mp3").c_str(), &t), TAG_FORMAT_NONE);
}

// Reads of every size, forwards and backwards, across block boundaries and past the end, give
// the file's own bytes (a fixed seed).
TEST(TagFile, ReadsGiveTheFilesBytes) {
    std::wstring path = corpus_dir() + L"\\plain.wav";
    std::string bytes = read_file(path);
    ASSERT_GT(bytes.size(), 200000u);
    TagFile* file = tag_file_open(path.c_str());
    ASSERT_NE(file, nullptr);
    TagSource source = tag_file_source(file);
    EXPECT_EQ(source.size, bytes.size());
    uint32_t seed = 20261209;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    std::string got(200000, '\0');
    for (int i = 0; i < 400; i++) {
        uint64_t offset = next() % (bytes.size() + 100);
        int length = i % 10 == 0 ? (int)(next() % 200000) : (int)(next() % 300);
        int n = source.read(source.context, offset, &got[0], length);
        uint64_t expected = offset >= bytes.size() ? 0 : std::min<uint64_t>((uint64_t)length, bytes.size() - offset);
        ASSERT_EQ((uint64_t)n, expected) << "offset " << offset << " length " << length;
        ASSERT_EQ(memcmp(got.data(), bytes.data() + (offset < bytes.size() ? offset : 0), (size_t)n), 0)
            << "offset " << offset << " length " << length;
    }
    tag_file_close(file);
}

// The tag reader over real files: clips made by real encoders and tagged by a real tagging
// library (tools/tag_corpus), across formats, tag versions and encodings, and the same files
// broken by a fixed-seed mutation run (tools/tag_fuzz.h; bench_tags runs it longer).
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/wstr.h"
#include "library/tag_cache.h"
#include "library/tag_file.h"
#include "library/tag_text.h"
#include "library/tags.h"
#include "tag_fuzz.h"
#include "test_support.h"

namespace {

std::wstring corpus_dir() {
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring p = here;
    return p.substr(0, p.find_last_of(L'\\')) + L"\\tag-corpus";
}

std::wstring wide(const std::string& utf8) {
    wchar_t out[1024];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), out, 1023);
    out[n > 0 ? n : 0] = 0;
    return out;
}

std::vector<std::string> split(const std::string& line, char by) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (size_t at; (at = line.find(by, start)) != std::string::npos; start = at + 1) cells.push_back(line.substr(start, at - start));
    cells.push_back(line.substr(start));
    return cells;
}

const char* format_name(int format) {
    static const char* names[] = {"none", "mp3", "flac", "ogg-vorbis", "ogg-opus", "mp4", "asf", "wav"};
    return format >= 0 && format < 8 ? names[format] : "?";
}

}  // namespace

TEST(Tags, TheCorpusReadsAsItsTaggerWroteIt) {
    std::string expected = read_file(corpus_dir() + L"\\expected.tsv");
    ASSERT_FALSE(expected.empty()) << "no corpus: tools/tag_corpus makes it at build time";
    int rows = 0;
    for (const std::string& line : split(expected, '\n')) {
        if (line.empty()) continue;
        std::vector<std::string> c = split(line, '\t');
        ASSERT_EQ(c.size(), 12u) << line;
        rows++;
        std::string bytes = read_file(corpus_dir() + L"\\" + wide(c[0]));
        TrackTags t;
        TagFuzzReading counted;
        int format;
        std::string faults = tag_fuzz_read(bytes, &counted, &t, &format);
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(faults, "");
        EXPECT_STREQ(format_name(format), c[1].c_str());
        EXPECT_EQ(std::wstring(t.title), wide(c[2]));
        EXPECT_EQ(std::wstring(t.artist), wide(c[3]));
        EXPECT_EQ(std::wstring(t.album), wide(c[4]));
        EXPECT_EQ(std::wstring(t.album_artist), wide(c[5]));
        if (c[6] != "-") {
            EXPECT_EQ(t.disc, atoi(c[6].c_str()));
        }
        if (c[7] != "-") {
            EXPECT_EQ(t.track, atoi(c[7].c_str()));
        }
        if (c[8] != "-") {
            EXPECT_EQ(t.year, atoi(c[8].c_str()));
        }
        if (c[9] != "-") {
            EXPECT_NEAR(t.duration_ms, atoi(c[9].c_str()), atoi(c[10].c_str()));
        }
        EXPECT_EQ(t.picture_length > 0, c[11] == "1");
        if (t.picture_length) {
            // The picture's bytes are where the reader says: a JPEG or a PNG begins there.
            ASSERT_LE(t.picture_offset + t.picture_length, bytes.size());
            std::string head = bytes.substr((size_t)t.picture_offset, 4);
            EXPECT_TRUE(head.compare(0, 3, "\xff\xd8\xff") == 0 || head == "\x89PNG") << "picture";
        }
        // Tags are read near where they are, not by reading the file over and over.
        EXPECT_LE(counted.asked, 2 * bytes.size() + 65536);
    }
    EXPECT_GE(rows, 20);
}

// Every corpus file broken a hundred ways with a fixed seed, its lengths above all
// (tools/tag_fuzz.h): each reading returns, asks for no more than the file's size allows,
// reads past the end at most once, and gives terminated text and numbers in range.
TEST(Tags, BrokenFilesCostOnlyTheirSize) {
    std::string expected = read_file(corpus_dir() + L"\\expected.tsv");
    ASSERT_FALSE(expected.empty());
    const uint32_t seed = 20261209;
    int mutants = 0, broken = 0;
    TrackTags t;
    TagFuzzReading counted;
    int format;
    for (const std::string& line : split(expected, '\n')) {
        if (line.empty()) continue;
        std::string name = split(line, '\t')[0];
        std::string original = read_file(corpus_dir() + L"\\" + wide(name));
        if (original.size() > 4 * 1024 * 1024) continue;
        for (int mutant = 0; mutant < 100; mutant++, mutants++) {
            TagFuzzRandom random = tag_fuzz_random(seed, name, mutant);
            std::string bytes = original;
            std::string what = tag_mutate(&random, &bytes);
            std::string faults = tag_fuzz_read(bytes, &counted, &t, &format);
            if (!faults.empty() && ++broken <= 10)
                ADD_FAILURE() << "bench_tags mutant " << seed << " " << name << " " << mutant << ": " << faults << "(" << what << ")";
        }
    }
    EXPECT_EQ(broken, 0) << "of " << mutants << " mutants";
    EXPECT_GE(mutants, 2000);

    // Nothing at all, and a box that claims to hold itself.
    EXPECT_EQ(tag_fuzz_read("", &counted, &t, &format), "");
    EXPECT_EQ(format, TAG_FORMAT_NONE);
    std::string loop = std::string("\0\0\0\x18" "ftypM4A \0\0\0\0M4A mp42", 24) + std::string("\0\0\0\x08moov", 8);
    for (int i = 0; i < 2000; i++) loop += std::string("\0\0\0\x08udta", 8);
    EXPECT_EQ(tag_fuzz_read(loop, &counted, &t, &format), "");

    // A Xing header counting 2^32 - 1 frames: years of audio, the longest duration an int holds
    // rather than one wrapped negative or short.
    std::string mp3 = read_file(corpus_dir() + L"\\v23-latin1.mp3");
    size_t xing = mp3.find("Info") != std::string::npos ? mp3.find("Info") : mp3.find("Xing");
    ASSERT_NE(xing, std::string::npos);
    mp3.replace(xing + 8, 4, "\xff\xff\xff\xff");
    EXPECT_EQ(tag_fuzz_read(mp3, &counted, &t, &format), "");
    EXPECT_EQ(format, TAG_FORMAT_MP3);
    EXPECT_EQ(t.duration_ms, 0x7FFFFFFF);

    // A RIFF whose size leaves out the pad byte of its last, odd chunk, and after it a data
    // chunk of 4 GB that is not its own: the chunks end where the RIFF ends.
    auto le32 = [](uint32_t v) { return std::string((const char*)&v, 4); };
    std::string fmt = std::string("\x01\x00\x01\x00", 4) + le32(8000) + le32(16000) + std::string("\x02\x00\x10\x00", 4);
    std::string wav = "RIFF" + le32(4 + 24 + 11) + "WAVE" + "fmt " + le32(16) + fmt + "JUNK" + le32(3) + "abc" +
                      std::string(1, '\0') + "data" + le32(0xFFFFFFF0) + std::string(64, '\0');
    EXPECT_EQ(tag_fuzz_read(wav, &counted, &t, &format), "");
    EXPECT_EQ(format, TAG_FORMAT_WAV);
    EXPECT_EQ(t.duration_ms, 0);

    // A FLAC stream of a thousand empty comment blocks: no read for a block with nothing in it.
    std::string flac = "fLaC";
    for (int i = 0; i < 1000; i++) flac += std::string("\x04\0\0\0", 4);
    EXPECT_EQ(tag_fuzz_read(flac, &counted, &t, &format), "");
    EXPECT_EQ(format, TAG_FORMAT_FLAC);
}

// Old Turkish files hold Windows-1254 in fields marked Latin-1; Icelandic and other Latin-1
// text stays as it was.
TEST(Tags, LatinOneOrTurkish) {
    struct { const char* bytes; const wchar_t* text; } rows[] = {
        {"Bar\xfd\xfe Man\xe7o", L"Bar\u0131\u015f Man\u00e7o"},
        {"\xdd\xfete B\xf6yle", L"\u0130\u015fte B\u00f6yle"},
        {"Da\xf0lar Da\xf0lar", L"Da\u011flar Da\u011flar"},
        {"Gl\xf3s\xf3li \xfe\xe1", L"Gl\u00f3s\u00f3li \u00fe\u00e1"},
        {"Caf\xe9 \x93quoted\x94", L"Caf\u00e9 \u201cquoted\u201d"},
        {"  padded  ", L"padded"},
    };
    for (const auto& r : rows) {
        wchar_t out[64];
        tag_text_latin1((const unsigned char*)r.bytes, (int)strlen(r.bytes), out, 64);
        EXPECT_STREQ(out, r.text) << r.bytes;
    }
}


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

// The cache as a file: what was kept comes back for the same path, size and write time
// only; a file damaged anywhere, cut or of another kind is no cache, and never a crash.
TEST(TagCache, KeepsWhatWasReadAndIgnoresWhatIsDamaged) {
    TempDir dir;
    std::wstring file = dir.file(L"tags.cache");
    TrackTags a = {}, b = {}, out;
    wstr_copy(a.title, L"K\u0131rk \u00dc\u00e7");
    wstr_copy(a.artist, L"Bar\u0131\u015f \u00dcnl\u00fc");
    wstr_copy(a.album, L"G\u00fcz");
    a.track = 3;
    a.duration_ms = 2000;
    a.picture_offset = 1234;
    a.picture_length = 99;
    b = a;
    wstr_copy(b.title, L"\u65e5\u672c\u306e\u6b4c");
    const wchar_t* paths[] = {L"C:\\M\\Ar\\Al\\01 a.flac", L"C:\\M\\Ar\\Al\\02 b.mp3", L"C:\\M\\Ar\\Bl\\01 a.flac",
                              L"D:\\Other\\x.mp3"};
    TagCache* c = tag_cache_load(file.c_str());
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(tag_cache_find(c, paths[0], 10, 20, &out)) << "no file, no records";
    for (int i = 0; i < 4; i++) ASSERT_TRUE(tag_cache_keep(c, paths[i], 10 + i, 20 + i, i % 2 ? &b : &a));
    ASSERT_TRUE(tag_cache_changed(c, nullptr));
    ASSERT_TRUE(tag_cache_save(c, file.c_str(), nullptr));
    tag_cache_free(c);

    c = tag_cache_load(file.c_str());
    ASSERT_TRUE(tag_cache_find(c, paths[1], 11, 21, &out));
    EXPECT_STREQ(out.title, b.title);
    EXPECT_STREQ(out.artist, a.artist) << "one artist, shared";
    EXPECT_EQ(out.track, 3);
    EXPECT_EQ(out.duration_ms, 2000);
    EXPECT_EQ(out.picture_offset, 1234u);
    EXPECT_EQ(out.picture_length, 99u);
    EXPECT_TRUE(tag_cache_find(c, paths[2], 12, 22, &out)) << "same file name, other folder";
    EXPECT_FALSE(tag_cache_find(c, paths[0], 10, 99, &out)) << "written again since";
    EXPECT_FALSE(tag_cache_find(c, paths[0], 11, 20, &out)) << "another size";
    EXPECT_FALSE(tag_cache_find(c, L"C:\\M\\Ar\\Al\\01 A.flac", 10, 20, &out)) << "another name";
    tag_cache_free(c);
    // A scan that meets every file as it was changes nothing.
    c = tag_cache_load(file.c_str());
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(tag_cache_find(c, paths[i], 10 + i, 20 + i, &out));
        ASSERT_TRUE(tag_cache_keep(c, paths[i], 10 + i, 20 + i, &out));
    }
    EXPECT_FALSE(tag_cache_changed(c, nullptr));
    tag_cache_free(c);
    // A scan of the first folder that met only one of its files keeps the other folder's record.
    c = tag_cache_load(file.c_str());
    ASSERT_TRUE(tag_cache_find(c, paths[1], 11, 21, &out));
    ASSERT_TRUE(tag_cache_keep(c, paths[1], 11, 21, &out));
    EXPECT_TRUE(tag_cache_changed(c, L"C:\\M"));
    ASSERT_TRUE(tag_cache_save(c, file.c_str(), L"C:\\M"));
    tag_cache_free(c);
    std::string saved = read_file(file);
    EXPECT_EQ(tag_cache_parse_count((const unsigned char*)saved.data(), saved.size()), 2);
    c = tag_cache_load(file.c_str());
    EXPECT_TRUE(tag_cache_find(c, paths[3], 13, 23, &out));
    EXPECT_TRUE(tag_cache_find(c, paths[1], 11, 21, &out));
    EXPECT_FALSE(tag_cache_find(c, paths[2], 12, 22, &out));
    tag_cache_free(c);

    // Every byte changed in turn, and cuts everywhere: never a record from a damaged file.
    for (size_t at = 0; at < saved.size(); at++) {
        std::string bytes = saved;
        bytes[at] = (char)(bytes[at] ^ 0x41);
        EXPECT_EQ(tag_cache_parse_count((const unsigned char*)bytes.data(), bytes.size()), -1) << "byte " << at;
        EXPECT_EQ(tag_cache_parse_count((const unsigned char*)saved.data(), at), -1) << "cut at " << at;
    }
    // A damaged file whose check still holds (written by a faulty copy of the program) is
    // refused by its lengths, not read past its end.
    uint32_t seed = 7;
    int accepted = 0;
    for (int round = 0; round < 3000; round++) {
        std::string bytes = saved.substr(0, saved.size() - 4);
        for (int i = 0; i < 3; i++) {
            seed = seed * 1664525u + 1013904223u;
            size_t at = 8 + seed % (bytes.size() - 8);
            bytes[at] = (char)(seed >> 24);
        }
        uint32_t h = 2166136261u;
        for (unsigned char ch : bytes) h = (h ^ ch) * 16777619u;
        for (int i = 0; i < 4; i++) bytes += (char)(h >> (8 * i));
        // Only the bytes are given: a read past them would be outside this copy.
        std::vector<unsigned char> exact(bytes.begin(), bytes.end());
        int n = tag_cache_parse_count(exact.data(), exact.size());
        EXPECT_TRUE(n == -1 || n == 2);
        accepted += n == 2;
    }
    EXPECT_LT(accepted, 3000);
    write_file(file, "NVTAGC01 an older or foreign file");
    c = tag_cache_load(file.c_str());
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(tag_cache_find(c, paths[3], 13, 23, &out));
    tag_cache_free(c);
}

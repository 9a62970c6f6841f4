// The tag reader against its floors, on the tests' corpus (build/tests/tag-corpus: clips
// made by real encoders and tagged by a real tagging library).
//   bench_tags read [files]
//       Copies the corpus under distinct names into a tree of artist and album folders in
//       the benchmark's home until it holds `files` files, then times tags_read_file over
//       all of them against the floor: opening each file, reading the same bytes (the
//       blocks the file source read for it, recorded once) and closing it.
//   bench_tags fuzz [seed] [mutants]
//       Reads `mutants` broken copies of every corpus file (tools/tag_fuzz.h) and prints
//       what the reader asked for against the bounds; fails when a bound is broken.
//   bench_tags mutant SEED FILE N OUT
//       Writes mutant N of a corpus file to OUT, to look at one that failed.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/wstr.h"
#include "library/tag_file.h"
#include "library/tags.h"
#include "program_home.h"
#include "tag_fuzz.h"

static const uint64_t LARGEST_FILE = 4u << 20;

static LARGE_INTEGER g_frequency;

static double now_ms(void) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)g_frequency.QuadPart;
}

static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

static void print_against(const char* what, double value, const char* unit, double floor) {
    printf("%-62s %9.2f %-3s (floor %g) %s\n", what, value, unit, floor, value <= floor ? "ok" : "OVER");
}

static std::string read_whole(const std::wstring& path) {
    std::string bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    DWORD got = 0;
    if (GetFileSizeEx(f, &size) && size.QuadPart < (1ll << 30)) {
        bytes.resize((size_t)size.QuadPart);
        if (!bytes.empty() && !ReadFile(f, &bytes[0], (DWORD)bytes.size(), &got, nullptr)) got = 0;
        bytes.resize(got);
    }
    CloseHandle(f);
    return bytes;
}

static std::wstring wide(const std::string& utf8) {
    wchar_t out[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), out, 511);
    out[n > 0 ? n : 0] = 0;
    return out;
}

static std::wstring corpus_dir(void) { return module_folder() + L"\\tests\\tag-corpus"; }

// The corpus's files by name, as its list gives them.
static std::vector<std::string> corpus_names(void) {
    std::vector<std::string> names;
    std::string list = read_whole(corpus_dir() + L"\\expected.tsv");
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find('\n', start);
        if (end == std::string::npos) end = list.size();
        std::string name = list.substr(start, list.find('\t', start) < end ? list.find('\t', start) - start : 0);
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    return names;
}

//~ Reading 10,000 files

// The system reads the file source makes for one file's requests: a request of a block or
// more as it is, a smaller one as the whole aligned blocks it touches. Each once: the floor
// reads every byte the reader needed once.
struct Recording {
    TagSource inner;
    std::vector<std::pair<uint64_t, int>> reads;
};

static void record_once(Recording* r, uint64_t offset, int length) {
    for (const auto& read : r->reads)
        if (read.first == offset && read.second == length) return;
    r->reads.push_back({offset, length});
}

static int recording_read(void* context, uint64_t offset, void* out, int length) {
    Recording* r = (Recording*)context;
    uint64_t size = r->inner.size;
    if (length > 0 && offset < size) {
        uint64_t end = offset + (uint64_t)length < size ? offset + (uint64_t)length : size;
        if (length >= TAG_FILE_BLOCK) {
            record_once(r, offset, (int)(end - offset));
        } else {
            for (uint64_t block = offset - offset % TAG_FILE_BLOCK; block < end; block += TAG_FILE_BLOCK)
                record_once(r, block, TAG_FILE_BLOCK);
        }
    }
    return r->inner.read(r->inner.context, offset, out, length);
}

static HANDLE open_like_the_reader(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

static int bench_read(int files) {
    std::vector<std::string> names = corpus_names();
    if (names.empty()) {
        printf("no corpus in %ls: build the tag_corpus target\n", corpus_dir().c_str());
        return 1;
    }
    std::vector<uint64_t> sizes;
    for (const std::string& name : names) sizes.push_back(read_whole(corpus_dir() + L"\\" + wide(name)).size());

    // 20 files an album, 10 albums an artist. A file larger than LARGEST_FILE is copied once:
    // a library holds few of them, and a copy per round would make the run all that file.
    std::wstring tree = program_home_path() + L"\\tags";
    CreateDirectoryW(tree.c_str(), nullptr);
    std::vector<std::wstring> paths;
    std::vector<int> large_copied(names.size(), 0);
    double made_at = now_ms();
    uint64_t bytes_made = 0;
    for (int i = 0, pick = 0; i < files; i++, pick++) {
        size_t k = (size_t)pick % names.size();
        while (sizes[k] > LARGEST_FILE && large_copied[k]) k = (size_t)++pick % names.size();
        large_copied[k] |= sizes[k] > LARGEST_FILE;
        wchar_t folder[96], name[160];
        wstr_format(folder, 96, L"\\Sanat\u00e7\u0131 %d", i / 200);
        if (i % 200 == 0) CreateDirectoryW((tree + folder).c_str(), nullptr);
        wstr_format(folder + wcslen(folder), 48, L"\\Alb\u00fcm %d", i / 20 % 10);
        if (i % 20 == 0) CreateDirectoryW((tree + folder).c_str(), nullptr);
        const char* dot = strrchr(names[k].c_str(), '.');
        wstr_format(name, 160, L"\\%02d - Par\u00e7a %d%ls", i % 20 + 1, i, wide(dot ? dot : "").c_str());
        std::wstring path = tree + folder + name;
        if (!CopyFileW((corpus_dir() + L"\\" + wide(names[k])).c_str(), path.c_str(), FALSE)) {
            printf("cannot copy to %ls\n", path.c_str());
            return 1;
        }
        bytes_made += sizes[k];
        paths.push_back(path);
    }
    printf("tree: %d tagged files (%zu corpus files, those over %llu MB once) in %d folders, %.0f MB, made in %.0f ms\n",
           files, names.size(), (unsigned long long)(LARGEST_FILE >> 20), (files + 19) / 20, bytes_made / 1048576.0,
           now_ms() - made_at);

    // What the file source reads for each file, recorded once.
    std::vector<std::vector<std::pair<uint64_t, int>>> reads(paths.size());
    int biggest = 0, known = 0;
    uint64_t system_reads = 0, bytes_read = 0;
    for (size_t i = 0; i < paths.size(); i++) {
        TagFile* file = tag_file_open(paths[i].c_str());
        if (!file) continue;
        Recording r = {tag_file_source(file), {}};
        TagSource source = {&r, recording_read, r.inner.size};
        TrackTags tags;
        known += tags_read(&source, &tags) != TAG_FORMAT_NONE;
        tag_file_close(file);
        for (const auto& read : r.reads) {
            biggest = std::max(biggest, read.second);
            bytes_read += (uint64_t)std::min<uint64_t>((uint64_t)read.second, r.inner.size - read.first);
        }
        system_reads += r.reads.size();
        reads[i] = r.reads;
    }
    printf("the reader needs %llu reads of %.1f MB in all (%.2f a file); %d of %d files of a known format\n",
           (unsigned long long)system_reads, bytes_read / 1048576.0, (double)system_reads / (double)paths.size(), known,
           files);

    std::vector<unsigned char> buffer((size_t)std::max(biggest, 1));
    auto floor_pass = [&] {
        double start = now_ms();
        for (size_t i = 0; i < paths.size(); i++) {
            HANDLE f = open_like_the_reader(paths[i]);
            if (f == INVALID_HANDLE_VALUE) continue;
            for (const auto& read : reads[i]) {
                OVERLAPPED at = {};
                at.Offset = (DWORD)read.first;
                at.OffsetHigh = (DWORD)(read.first >> 32);
                DWORD got = 0;
                ReadFile(f, buffer.data(), (DWORD)read.second, &got, &at);
            }
            CloseHandle(f);
        }
        return now_ms() - start;
    };
    auto reader_pass = [&] {
        double start = now_ms();
        for (const std::wstring& path : paths) {
            TrackTags tags;
            tags_read_file(path.c_str(), &tags);
        }
        return now_ms() - start;
    };
    // Alternately, so that whatever the system caches serves both alike; each round's ratio
    // is of two passes made one after the other, under the same load.
    std::vector<double> floor_ms, reader_ms, ratios;
    for (int round = 0; round < 5; round++) {
        floor_ms.push_back(floor_pass());
        reader_ms.push_back(reader_pass());
        ratios.push_back(reader_ms.back() / floor_ms.back());
        printf("  round %d: reader %.1f ms, floor %.1f ms: %.2fx\n", round + 1, reader_ms.back(), floor_ms.back(),
               ratios.back());
    }
    double ratio = median(ratios);
    printf("tag reading of %d files: %.1f ms, floor %.1f ms (open and read the same bytes): %.2fx (limit 1.30x); "
           "medians of 5 rounds\n",
           files, median(reader_ms), median(floor_ms), ratio);
    printf("\n");
    char what[96];
    snprintf(what, sizeof what, "tag reading of %d files / open and read the same bytes", files);
    print_against(what, ratio, "x", 1.3);
    return 0;
}

//~ Broken files

static int bench_fuzz(uint32_t seed, int mutants) {
    std::vector<std::string> names = corpus_names();
    std::vector<std::string> originals;
    std::vector<std::string> kept;
    for (const std::string& name : names) {
        std::string bytes = read_whole(corpus_dir() + L"\\" + wide(name));
        if (bytes.empty() || bytes.size() > LARGEST_FILE) continue;
        originals.push_back(bytes);
        kept.push_back(name);
    }
    if (kept.empty()) {
        printf("no corpus in %ls: build the tag_corpus target\n", corpus_dir().c_str());
        return 1;
    }
    printf("corpus: %zu files of up to %llu MB; seed %u; %d mutants of each\n", kept.size(),
           (unsigned long long)(LARGEST_FILE >> 20), seed, mutants);
    double start = now_ms();
    uint64_t read = 0, recognised = 0, asked = 0, bound = 0, faulty = 0;
    double worst_bytes = 0, worst_reads = 0;
    int most_past_end = 0;
    char worst[256] = "";
    for (size_t k = 0; k < kept.size(); k++) {
        for (int m = 0; m < mutants; m++) {
            TagFuzzRandom random = tag_fuzz_random(seed, kept[k], m);
            std::string bytes = originals[k];
            std::string what = tag_mutate(&random, &bytes);
            TagFuzzReading reading;
            TrackTags tags;
            int format;
            std::string faults = tag_fuzz_read(bytes, &reading, &tags, &format);
            read++;
            recognised += format != TAG_FORMAT_NONE;
            asked += reading.asked;
            bound += tag_fuzz_byte_bound(bytes.size());
            double share_bytes = (double)reading.asked / (double)tag_fuzz_byte_bound(bytes.size());
            double share_reads = (double)reading.reads / (double)tag_fuzz_read_bound(bytes.size());
            if (std::max(share_bytes, share_reads) > std::max(worst_bytes, worst_reads)) {
                snprintf(worst, sizeof worst, "%s %d: %llu bytes asked in %d reads of a file of %zu", kept[k].c_str(), m,
                         (unsigned long long)reading.asked, reading.reads, bytes.size());
            }
            worst_bytes = std::max(worst_bytes, share_bytes);
            worst_reads = std::max(worst_reads, share_reads);
            most_past_end = std::max(most_past_end, reading.past_end);
            if (!faults.empty() && ++faulty <= 20)
                printf("FAULT: bench_tags mutant %u %s %d: %s(%s)\n", seed, kept[k].c_str(), m, faults.c_str(), what.c_str());
        }
    }
    printf("mutants read: %llu in %.1f s; still read as their format: %.1f %%\n", (unsigned long long)read,
           (now_ms() - start) / 1000.0, 100.0 * (double)recognised / (double)read);
    printf("bytes requested: %.2f GB in all, against a bound of %.2f GB (64 x each size + 1 MB)\n", asked / 1e9, bound / 1e9);
    printf("the most one mutant asked for: %.4f of its bound in bytes, %.4f in read calls (%s)\n", worst_bytes,
           worst_reads, worst);
    printf("reads starting at or past the end: at most %d in one mutant (limit %d)\n", most_past_end,
           TAG_FUZZ_PAST_END_READS);
    printf("faults: %llu%s\n", (unsigned long long)faulty, faulty ? "  <<<<<<<<<< THE TAG READER BROKE A BOUND" : "");
    printf("\n");
    print_against("tag fuzz: the most one mutant asked for / its bound", std::max(worst_bytes, worst_reads), "x", 1);
    print_against("tag fuzz: mutants that broke a rule", (double)faulty, "", 0);
    return faulty ? 1 : 0;
}

static int write_mutant(uint32_t seed, const wchar_t* file, int n, const wchar_t* out) {
    char name[512];
    WideCharToMultiByte(CP_UTF8, 0, file, -1, name, sizeof name, nullptr, nullptr);
    std::string bytes = read_whole(corpus_dir() + L"\\" + file);
    if (bytes.empty()) return 1;
    TagFuzzRandom random = tag_fuzz_random(seed, name, n);
    printf("%s\n", tag_mutate(&random, &bytes).c_str());
    HANDLE f = CreateFileW(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (f != INVALID_HANDLE_VALUE) {
        WriteFile(f, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(f);
    }
    return written == bytes.size() ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
    QueryPerformanceFrequency(&g_frequency);
    std::wstring mode = argc > 1 ? argv[1] : L"read";
    if (mode == L"mutant" && argc > 5) return write_mutant((uint32_t)wcstoul(argv[2], nullptr, 10), argv[3], _wtoi(argv[4]), argv[5]);
    if (mode == L"fuzz") return bench_fuzz(argc > 2 ? (uint32_t)wcstoul(argv[2], nullptr, 10) : 20261209, argc > 3 ? _wtoi(argv[3]) : 10000);
    program_home_enter(L"bench-tags");
    return bench_read(argc > 2 ? _wtoi(argv[2]) : 10000);
}

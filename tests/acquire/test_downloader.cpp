// The downloader runner: reading progress out of the child's output, quoting what goes on
// its command line, and running the yt-dlp.exe stand-in as a real child process.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "acquire/child_process.h"
#include "acquire/downloader.h"
#include "acquire/output_lines.h"
#include "acquire_support.h"
#include "test_support.h"

//~ Progress lines

static int progress(const std::string& line) { return progress_from_line(line.data(), (int)line.size()); }

TEST(ProgressLine, PercentagesTheDownloaderPrints) {
    EXPECT_EQ(progress("[download]  45.6% of    3.45MiB at    1.20MiB/s ETA 00:02"), 46);
    EXPECT_EQ(progress("[download]  45.4% of    3.45MiB"), 45);
    EXPECT_EQ(progress("[download]   0.0% of    3.45MiB at  Unknown B/s ETA Unknown"), 0);
    EXPECT_EQ(progress("[download] 100% of    3.45MiB in 00:00:01 at 2.71MiB/s"), 99) << "100 is kept for success";
    EXPECT_EQ(progress("[download]  99.6% of 3MiB"), 99);
    EXPECT_EQ(progress("[download]7%"), 7) << "digits right behind the tag";
    EXPECT_EQ(progress("[youtube] x: [download] 12.0% at"), 12) << "the tag may stand anywhere";
}

TEST(ProgressLine, LinesThatCarryNoPercentage) {
    EXPECT_EQ(progress("[download] Destination: C:\\M\\Song [dQw4w9WgXcQ].m4a"), -1);
    EXPECT_EQ(progress("50% done, [download] soon"), -1) << "the % must follow the tag";
    EXPECT_EQ(progress("[info] 45.6% of something"), -1);
    EXPECT_EQ(progress("[download] %"), -1);
    EXPECT_EQ(progress("[download] .% of"), -1) << "a dot is no number";
    EXPECT_EQ(progress("[download] 250% of nothing"), -1);
    EXPECT_EQ(progress("[download] 100.6% of"), -1);
    // A number before a "%" that is not the first thing after the tag belongs to a title.
    EXPECT_EQ(progress("[download] Destination: C:\\M\\100% Pure Love [dQw4w9WgXcQ].webm"), -1);
    EXPECT_EQ(progress("[download] C:\\M\\100% Pure Love [dQw4w9WgXcQ].m4a has already been downloaded"), -1);
    EXPECT_EQ(progress("[downloa] 45%"), -1);
    EXPECT_EQ(progress(""), -1);
}

TEST(DestinationLine, TheFileTheDownloaderNames) {
    // A path of 260 characters does not fit with its terminator; a cut one would name
    // another file.
    std::string too_long = "[download] Destination: C:\\M\\" + std::string(251, 'x') + ".m4a";
    struct Row {
        std::string line;
        int kind;
        std::wstring path;
    } rows[] = {
        {"[download] Destination: C:\\Users\\ay\xc5\x9f" "e\\M\xc3\xbczik\\Bar\xc4\xb1\xc5\x9f Man\xc3\xa7o - "
         "D\xc3\xb6nence [abcDEF12345].m4a",
         1, L"C:\\Users\\ay\u015fe\\M\u00fczik\\Bar\u0131\u015f Man\u00e7o - D\u00f6nence [abcDEF12345].m4a"},
        {"[download] C:\\M\\100% Pure Love [dQw4w9WgXcQ].m4a has already been downloaded", 2,
         L"C:\\M\\100% Pure Love [dQw4w9WgXcQ].m4a"},
        {"[download]  45.6% of    3.45MiB at    1.20MiB/s ETA 00:02", 0, L""},
        {"[download] 100% of    3.45MiB", 0, L""},
        {"[youtube] Extracting URL: ytsearch1:[download] Destination: C:\\x.m4a", 0, L""},
        {"[info] [download] C:\\x.m4a has already been downloaded", 0, L""},
        {"[download] Destination: ", 0, L""},
        {"[download] Destination: C:\\M\\bad \xff\xfe.m4a", 0, L""},
        {too_long, 0, L""},
    };
    for (const Row& row : rows) {
        wchar_t path[260] = L"left over";
        EXPECT_EQ(destination_from_line(row.line.data(), (int)row.line.size(), path, 260), row.kind) << row.line;
        EXPECT_EQ(std::wstring(path), row.path) << row.line;
    }
}

namespace {
struct Collected {
    std::vector<std::string> lines;
};
}  // namespace

static void collect_line(const char* line, int length, void* user) {
    EXPECT_EQ((int)strlen(line), length);
    ((Collected*)user)->lines.push_back(std::string(line, length));
}

TEST(OutputLines, JoinsPiecesAndCutsLongLines) {
    char buffer[DOWNLOADER_OUTPUT_LINE_CAPACITY];
    OutputLines lines;
    output_lines_init(&lines, buffer, DOWNLOADER_OUTPUT_LINE_CAPACITY);
    Collected got;
    const char* pieces[] = {"[downl", "oad]  12.5% of 3MiB\r", "\n\n\r[download] 2", "0.0%\nlast without end"};
    for (const char* p : pieces) output_lines_feed(&lines, p, (int)strlen(p), collect_line, &got);
    output_lines_finish(&lines, collect_line, &got);
    ASSERT_EQ(got.lines.size(), 3u);
    EXPECT_EQ(got.lines[0], "[download]  12.5% of 3MiB");
    EXPECT_EQ(got.lines[1], "[download] 20.0%");
    EXPECT_EQ(got.lines[2], "last without end");

    // A line keeps its first 1023 bytes: a percentage beyond them is not found, one inside is.
    got.lines.clear();
    std::string padding(1017, 'x');
    std::string late = padding + "[download] 50% of 3MiB\n";
    std::string early = "[download] 60%" + std::string(1100, 'y') + "\n";
    output_lines_feed(&lines, late.data(), (int)late.size(), collect_line, &got);
    output_lines_feed(&lines, early.data(), (int)early.size(), collect_line, &got);
    ASSERT_EQ(got.lines.size(), 2u);
    EXPECT_EQ(got.lines[0].size(), 1023u);
    EXPECT_EQ(progress(got.lines[0]), -1);
    EXPECT_EQ(got.lines[1].size(), 1023u);
    EXPECT_EQ(progress(got.lines[1]), 60);
}

//~ Self-update

TEST(DownloaderUpdate, WhatAnAttemptAchievedAndWhenTheNextIsDue) {
    const char* current = "Current version: stable@2024.08.06 from yt-dlp/yt-dlp\r\n"
                          "Latest version: stable@2024.08.06 from yt-dlp/yt-dlp\r\n"
                          "yt-dlp is up to date (stable@2024.08.06 from yt-dlp/yt-dlp)\r\n";
    const char* updated = "Current version: stable@2024.08.06 from yt-dlp/yt-dlp\n"
                          "Latest version: stable@2024.10.07 from yt-dlp/yt-dlp\n"
                          "Updating to stable@2024.10.07 from yt-dlp/yt-dlp ...\n"
                          "Updated yt-dlp to stable@2024.10.07 from yt-dlp/yt-dlp\n";
    struct Row {
        const char* output;
        int exit_code, outcome;
        const wchar_t* version;
    } rows[] = {
        {current, 0, DOWNLOADER_UPDATE_CURRENT, L"2024.08.06"},
        {updated, 0, DOWNLOADER_UPDATE_UPDATED, L"2024.10.07"},
        {"Updated yt-dlp to nightly@2024.10.07.232845 from yt-dlp/yt-dlp-nightly-builds", 0,
         DOWNLOADER_UPDATE_UPDATED, L"2024.10.07.232845"},
        // Nothing said either way on a clean exit: the installed version is what there is.
        {"Current version: stable@2024.08.06 from yt-dlp/yt-dlp\n", 0, DOWNLOADER_UPDATE_CURRENT, L"2024.08.06"},
        {updated, 1, DOWNLOADER_UPDATE_FAILED, L""},
        {"Current version: stable@2024.08.06 from yt-dlp/yt-dlp\n"
         "ERROR: Unable to write to C:\\Nelvo\\yt-dlp.exe; try running as administrator\n",
         1, DOWNLOADER_UPDATE_FAILED, L""},
        {"ERROR: You installed yt-dlp with pip; Use that to update\n", 0, DOWNLOADER_UPDATE_FAILED, L""},
        {"", 0, DOWNLOADER_UPDATE_FAILED, L""},
        {"Usage: yt-dlp [OPTIONS] URL [URL...]\n", 2, DOWNLOADER_UPDATE_FAILED, L""},
    };
    for (const Row& row : rows) {
        wchar_t version[DOWNLOADER_UPDATE_VERSION_CAPACITY] = L"left over";
        EXPECT_EQ(downloader_update_outcome(row.output, row.exit_code, version, DOWNLOADER_UPDATE_VERSION_CAPACITY),
                  row.outcome)
            << row.output << " exit " << row.exit_code;
        EXPECT_STREQ(version, row.version) << row.output;
    }

    const long long now = 1728000000, day = 24 * 60 * 60;
    struct {
        long long last;
        int due;
    } times[] = {{0, 1}, {now - 7 * day, 1}, {now - 7 * day + 1, 0}, {now, 0}, {now + day, 0}, {now + 2 * day, 1}};
    for (auto& t : times) EXPECT_EQ(downloader_update_due(t.last, now), t.due) << t.last;
}

//~ Command lines

static std::vector<std::wstring> split_like_windows(const wchar_t* line) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(line, &argc);
    std::vector<std::wstring> out;
    for (int i = 0; argv && i < argc; i++) out.push_back(argv[i]);
    LocalFree(argv);
    return out;
}

TEST(CommandLine, EveryArgumentComesBackUnchanged) {
    const wchar_t* hostile[] = {
        L"plain",
        L"",
        L"two words",
        L"x\" --exec \"calc.exe",
        L"C:\\Music Folder\\",
        L"ends with two \\\\",
        L"\\\"",
        L"\\\\\\\"\\",
        L"tab\there",
        L"\"\"\"",
        L"--exec calc",
        L"Bar\u0131\u015f Man\u00e7o \"D\u00f6nence\" \\ 1975",
    };
    wchar_t line[2048] = L"prog.exe";
    for (const wchar_t* arg : hostile) ASSERT_TRUE(command_line_append(line, 2048, arg));
    std::vector<std::wstring> args = split_like_windows(line);
    ASSERT_EQ(args.size(), 1 + sizeof(hostile) / sizeof(hostile[0]));
    for (size_t i = 0; i < sizeof(hostile) / sizeof(hostile[0]); i++) EXPECT_EQ(args[i + 1], hostile[i]) << i;

    // Random mixes of the characters that matter to the parser.
    std::mt19937 rng(7);
    const wchar_t alphabet[] = L"a \"\\\t\u015f-";
    for (int round = 0; round < 500; round++) {
        std::wstring a, b;
        int na = rng() % 12, nb = rng() % 12;
        for (int i = 0; i < na; i++) a += alphabet[rng() % 7];
        for (int i = 0; i < nb; i++) b += alphabet[rng() % 7];
        wchar_t l[256] = L"prog.exe";
        ASSERT_TRUE(command_line_append(l, 256, a.c_str()));
        ASSERT_TRUE(command_line_append(l, 256, b.c_str()));
        std::vector<std::wstring> got = split_like_windows(l);
        ASSERT_EQ(got.size(), 3u) << round;
        EXPECT_EQ(got[1], a) << round;
        EXPECT_EQ(got[2], b) << round;
    }
}

TEST(CommandLine, AnArgumentThatDoesNotFitLeavesTheLineAsItWas) {
    wchar_t line[16] = L"prog.exe";
    EXPECT_FALSE(command_line_append(line, 16, L"a\"b\"c"));  // needs 10 more
    EXPECT_STREQ(line, L"prog.exe");
    EXPECT_TRUE(command_line_append(line, 16, L"abcd"));
    EXPECT_STREQ(line, L"prog.exe \"abcd\"");
}

TEST(CommandLine, TheDownloadLine) {
    wchar_t line[DOWNLOADER_LINE_CAPACITY];
    ASSERT_TRUE(downloader_command_line(line, DOWNLOADER_LINE_CAPACITY, L"https://www.youtube.com/watch?v=dQw4w9WgXcQ",
                                        L"C:\\Users\\ay\u015fe\\M\u00fczik"));
    EXPECT_STREQ(line,
                 L"yt-dlp.exe --encoding utf-8 --progress --newline --no-warnings --concurrent-fragments 4 --buffer-size 16M -f "
                 L"\"ba[ext=m4a]/ba\" --no-playlist -o \"C:\\Users\\ay\u015fe\\M\u00fczik\\%(title)s [%(id)s].%(ext)s\" "
                 L"\"https://www.youtube.com/watch?v=dQw4w9WgXcQ\"");
    EXPECT_FALSE(downloader_command_line(line, DOWNLOADER_LINE_CAPACITY, L"", L"C:\\M"));
    EXPECT_FALSE(downloader_command_line(line, DOWNLOADER_LINE_CAPACITY, L"ytsearch1:x", L""));
    EXPECT_FALSE(downloader_command_line(line, DOWNLOADER_LINE_CAPACITY, L"--exec=calc", L"C:\\M"))
        << "a target the downloader would take for an option";
    std::wstring long_target = L"ytsearch1:" + std::wstring(2000, L'x');
    EXPECT_FALSE(downloader_command_line(line, DOWNLOADER_LINE_CAPACITY, long_target.c_str(), L"C:\\M"))
        << "never cut: a cut line could end inside quotes";
}

TEST(CommandLine, ControlCharactersLeaveSearchWords) {
    wchar_t text[] = L"Tarkan\r\n- Kuzu\tKuzu\x1b[31m\x7f\x85\u2028 end";
    strip_control_characters(text);
    EXPECT_STREQ(text, L"Tarkan- KuzuKuzu[31m end");
}

//~ The runner against the stand-in

namespace {
struct ProgressRun {
    std::vector<int> reports;
    CRITICAL_SECTION lock;
    std::atomic<int> cancel{0};
    int cancel_at = 1000;  // set the cancel flag once this percentage is reported
    ProgressRun() { InitializeCriticalSection(&lock); }
    ~ProgressRun() { DeleteCriticalSection(&lock); }
    std::vector<int> seen() {
        EnterCriticalSection(&lock);
        std::vector<int> copy = reports;
        LeaveCriticalSection(&lock);
        return copy;
    }
};
}  // namespace

static void record(int percent, intptr_t user) {
    ProgressRun* run = (ProgressRun*)user;
    EnterCriticalSection(&run->lock);
    run->reports.push_back(percent);
    LeaveCriticalSection(&run->lock);
    if (percent >= run->cancel_at) run->cancel.store(1);
}

static void expect_progress_shape(const std::vector<int>& reports, bool success) {
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), 3);
    for (size_t i = 1; i < reports.size(); i++) EXPECT_GT(reports[i], reports[i - 1]) << "strictly increasing";
    for (size_t i = 0; i + 1 < reports.size(); i++) EXPECT_LT(reports[i], 100);
    EXPECT_EQ(reports.back() == 100, success);
}

static std::wstring watch(const wchar_t* id) { return std::wstring(L"https://www.youtube.com/watch?v=") + id; }

struct DownloaderRun : ::testing::Test {
    TempDir folder;
    ProgressRun run;
    int go(const std::wstring& target) {
        return run_downloader(target.c_str(), folder.path.c_str(), &run.cancel, record, (intptr_t)&run);
    }
};

TEST_F(DownloaderRun, ADownloadReportsItsWayUpAndLeavesTheFile) {
    ASSERT_EQ(go(watch(L"dQw4w9WgXcQ")), 1);
    expect_progress_shape(run.seen(), true);
    EXPECT_GE(run.seen().size(), 8u) << "the lines split across writes were read too";
    EXPECT_TRUE(file_exists(folder.file(L"Video dQw4w9WgXcQ [dQw4w9WgXcQ].wav")));

    // A search download: the stand-in names the file by the search words, and the runner
    // hands back the path it named. Run again, the file is found there, not written.
    const wchar_t* words = L"ytsearch1:Bar\u0131\u015f Man\u00e7o - D\u00f6nence";
    std::wstring named;
    for (int round = 0; round < 2; round++) {
        ProgressRun search;
        wchar_t path[260] = L"";
        int written = -1;
        EXPECT_EQ(run_downloader(words, folder.path.c_str(), nullptr, record, (intptr_t)&search, path, 260, &written), 1);
        EXPECT_EQ(search.seen().back(), 100);
        EXPECT_EQ(written, round == 0 ? 1 : 0) << round;
        if (round == 0) named = path;
        EXPECT_EQ(std::wstring(path), named) << round;
    }
    std::wstring start = folder.file(L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence [");
    EXPECT_EQ(named.substr(0, start.size()), start);
    EXPECT_TRUE(file_exists(named));
    EXPECT_EQ(files_in(folder.path).size(), 2u);
}

TEST_F(DownloaderRun, OutputThatIsNoProgressChangesNothing) {
    EXPECT_EQ(go(watch(L"garbage0001")), 1);
    expect_progress_shape(run.seen(), true);

    ProgressRun quiet;
    EXPECT_EQ(run_downloader(watch(L"quiet000001").c_str(), folder.path.c_str(), nullptr, record, (intptr_t)&quiet), 1);
    EXPECT_EQ(quiet.seen(), (std::vector<int>{3, 100}));
}

TEST_F(DownloaderRun, FailuresNeverReportAHundred) {
    EXPECT_EQ(go(watch(L"fail0000001")), 0);
    EXPECT_EQ(run.seen(), std::vector<int>{3});

    ProgressRun partial;
    EXPECT_EQ(run_downloader(watch(L"at400000001").c_str(), folder.path.c_str(), nullptr, record, (intptr_t)&partial), 0);
    std::vector<int> seen = partial.seen();
    expect_progress_shape(seen, false);
    EXPECT_LE(seen.back(), 40);
    EXPECT_GE(seen.back(), 30);

    // Exit code 0 is success even when no file came: the callers find out by rescanning.
    ProgressRun nofile;
    EXPECT_EQ(run_downloader(watch(L"nofile00001").c_str(), folder.path.c_str(), nullptr, record, (intptr_t)&nofile), 1);
    EXPECT_TRUE(files_in(folder.path).empty());
}

TEST_F(DownloaderRun, CancelStopsTheChildAndEverythingItStarted) {
    run.cancel_at = 20;
    DWORD start = GetTickCount();
    EXPECT_EQ(go(watch(L"grandchild1")), 0);
    EXPECT_LT(GetTickCount() - start, 10000u) << "the hanging child was stopped";
    std::vector<int> seen = run.seen();
    expect_progress_shape(seen, false);
    // The grandchild would write its file 3 s after it started; it was stopped with the rest.
    Sleep(4000);
    EXPECT_FALSE(file_exists(folder.file(L"grandchild-done.txt")));
    EXPECT_EQ(running_doubles(), 0);
}

TEST_F(DownloaderRun, ASilentChildCanBeCancelledToo) {
    std::thread canceller([&] {
        Sleep(600);
        run.cancel.store(1);
    });
    EXPECT_EQ(go(watch(L"silent00001")), 0);
    canceller.join();
    EXPECT_EQ(run.seen(), std::vector<int>{3});
    EXPECT_EQ(running_doubles(), 0);
}

static ULONGLONG cpu_time_ms(void) {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (k.QuadPart + u.QuadPart) / 10000;
}

TEST_F(DownloaderRun, AGrandchildHoldingTheOutputIsWaitedForWithoutSpinning) {
    // The child exits at once; what it started keeps the pipe open for 3 s more.
    ULONGLONG cpu = cpu_time_ms();
    DWORD start = GetTickCount();
    EXPECT_EQ(go(watch(L"holdpipe001")), 1);
    DWORD elapsed = GetTickCount() - start;
    cpu = cpu_time_ms() - cpu;
    EXPECT_TRUE(file_exists(folder.file(L"holder-done.txt"))) << "read until the pipe closed";
    // Waiting costs next to nothing. A reader that spins shows only a third of a core here:
    // under Wine the rest of each turn is spent in the server.
    EXPECT_LT(cpu, elapsed / 10) << cpu << " ms of processor in " << elapsed << " ms";

    // Cancelled while only the grandchild holds the pipe: it is stopped with the rest.
    DeleteFileW(folder.file(L"holder-done.txt").c_str());
    ProgressRun held;
    std::thread canceller([&] {
        std::wstring file = folder.file(L"Video holdpipe002 [holdpipe002].wav");
        for (int i = 0; i < 200 && !file_exists(file); i++) Sleep(20);
        Sleep(300);
        held.cancel.store(1);
    });
    EXPECT_EQ(run_downloader(watch(L"holdpipe002").c_str(), folder.path.c_str(), &held.cancel, record, (intptr_t)&held), 0);
    canceller.join();
    for (int i = 0; i < 500 && running_doubles() > 0; i++) Sleep(20);
    EXPECT_EQ(running_doubles(), 0);
    EXPECT_FALSE(file_exists(folder.file(L"holder-done.txt"))) << "it was stopped, not left to finish";
}

TEST_F(DownloaderRun, HostileTargetsArriveAsOneArgument) {
    ArgumentLog log;
    TempDir odd;
    std::wstring spaced = odd.file(L"a folder & 'odd' %TEMP% \u015f");
    ASSERT_TRUE(CreateDirectoryW(spaced.c_str(), nullptr));
    const wchar_t* targets[] = {
        L"ytsearch1:x\" --exec \"calc.exe",
        L"ytsearch1:Bar\u0131\u015f \\\" -o C:\\evil\\%(id)s \\",
        L"ytsearch1:trailing backslashes \\\\",
    };
    for (const wchar_t* target : targets) {
        ProgressRun r;
        EXPECT_EQ(run_downloader(target, spaced.c_str(), nullptr, record, (intptr_t)&r), 1) << target;
    }
    std::vector<std::vector<std::wstring>> starts = log.starts();
    ASSERT_EQ(starts.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        const std::vector<std::wstring>& argv = starts[i];
        ASSERT_EQ(argv.size(), 16u) << "the same sixteen words every time";
        EXPECT_EQ(argv[14], spaced + L"\\%(title)s [%(id)s].%(ext)s");
        EXPECT_EQ(argv[15], targets[i]);
        EXPECT_EQ(argv[11], L"ba[ext=m4a]/ba");
    }
    EXPECT_FALSE(log.crt_differs()) << "the C runtime splits the line the same way";
    EXPECT_FALSE(file_exists(L"C:\\evil"));
}

TEST_F(DownloaderRun, AMissingDownloaderIsToldApartWithoutProgress) {
    MissingDownloader missing;
    EXPECT_EQ(go(watch(L"dQw4w9WgXcQ")), DOWNLOADER_MISSING);
    EXPECT_TRUE(run.seen().empty());
    EXPECT_FALSE(downloader_found());
}

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "test_support.h"

namespace {

struct FolderScanTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { track_list_free(); }
    void TearDown() override { track_list_free(); }

    void touch(const std::wstring& name) { ASSERT_TRUE(write_file(dir.file(name), "x")) << name.size(); }

    std::set<std::wstring> listed_paths() {
        std::set<std::wstring> paths;
        for (int i = 0; i < track_list_count(); i++) paths.insert(track_list_at(i)->path);
        return paths;
    }
};

}  // namespace

TEST_F(FolderScanTest, TakesAudioFilesFromNestedFoldersOnly) {
    touch(L"song.MP3");
    touch(L"Artist - Song (Official Video) [Xk2Lm9Pq0Rs].m4a");
    touch(L"b.Flac");
    touch(L"song.mp3.txt");
    touch(L"cover.jpg");
    touch(L"noextension");
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"folder.mp3").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"Artist").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"Artist\\Album").c_str(), nullptr));
    touch(L"Artist\\Album\\c.opus");
    touch(L"Artist\\Album\\cover.jpg");

    // Hidden and system folders are passed by.
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"Hidden").c_str(), nullptr));
    touch(L"Hidden\\secret.mp3");
    ASSERT_TRUE(SetFileAttributesW(dir.file(L"Hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"System").c_str(), nullptr));
    touch(L"System\\cache.mp3");
    ASSERT_TRUE(SetFileAttributesW(dir.file(L"System").c_str(), FILE_ATTRIBUTE_SYSTEM));

    // A chain one folder deeper than the scan goes: the file at the last level it enters
    // is taken, the one below is not.
    std::wstring chain;
    for (int level = 1; level <= SCAN_MAX_DEPTH + 1; level++) {
        chain += (level > 1 ? L"\\" : L"") + std::to_wstring(level);
        ASSERT_TRUE(CreateDirectoryW(dir.file(chain).c_str(), nullptr)) << level;
    }
    std::wstring deepest_taken = chain.substr(0, chain.rfind(L'\\')) + L"\\deep.mp3";
    touch(deepest_taken);
    touch(chain + L"\\too deep.mp3");

    // A link back to the scanned folder would list everything again under its name.
    // Some Wine versions report success and make nothing; the loop is then left untested.
    CreateSymbolicLinkW(dir.file(L"Artist\\loop").c_str(), dir.path.c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    DWORD link = GetFileAttributesW(dir.file(L"Artist\\loop").c_str());
    int linked = link != INVALID_FILE_ATTRIBUTES && (link & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!linked) fprintf(stderr, "no link could be made here: the loop goes untested\n");

    // Of reparse points, cloud placeholders (OneDrive's files on demand) are entered; links and
    // junctions, or a point whose tag the listing did not give, are not.
    const unsigned long point = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    struct {
        unsigned long attributes, tag;
        int entered;
    } folders[] = {
        {point, (unsigned long)IO_REPARSE_TAG_CLOUD_3, 1},
        {point | FILE_ATTRIBUTE_HIDDEN, (unsigned long)IO_REPARSE_TAG_CLOUD, 0},
        {point, (unsigned long)IO_REPARSE_TAG_MOUNT_POINT, 0},
        {point, (unsigned long)IO_REPARSE_TAG_SYMLINK, 0},
        {point, 0, 0},
    };
    for (const auto& f : folders)
        EXPECT_EQ(scan_enters_folder(f.attributes, f.tag), f.entered) << std::hex << f.attributes << " " << f.tag;

    EXPECT_EQ(scan_music_folder(dir.path.c_str()), 5);
    std::set<std::wstring> expected = {
        dir.file(L"song.MP3"), dir.file(L"Artist - Song (Official Video) [Xk2Lm9Pq0Rs].m4a"), dir.file(L"b.Flac"),
        dir.file(L"Artist\\Album\\c.opus"), dir.file(deepest_taken)};
    EXPECT_EQ(listed_paths(), expected) << (linked ? "with" : "without") << " the loop";
    for (int i = 0; i < track_list_count(); i++) {
        if (std::wstring(track_list_at(i)->path).find(L"Official") != std::wstring::npos) {
            EXPECT_STREQ(track_list_at(i)->title, L"Song");
            EXPECT_STREQ(track_list_at(i)->artist, L"Artist");
        }
    }
}

TEST_F(FolderScanTest, RescanAddsOnlyNewFilesAndCountsAll) {
    // Enough files to make the duplicate index grow more than once.
    const int files = 1500;
    wchar_t name[64];
    for (int i = 0; i < files; i++) {
        wstr_format(name, 64, L"Artist %d - Song.mp3", i);
        touch(name);
    }
    EXPECT_EQ(scan_music_folder(dir.path.c_str()), files);
    EXPECT_EQ(track_list_count(), files);
    std::vector<std::wstring> before;
    for (int i = 0; i < files; i++) before.push_back(track_list_at(i)->path);

    EXPECT_EQ(scan_music_folder(dir.path.c_str()), files);
    EXPECT_EQ(track_list_count(), files);

    touch(L"zz new download [Xk2Lm9Pq0Rs].webm");
    EXPECT_EQ(scan_music_folder(dir.path.c_str()), files + 1);
    ASSERT_EQ(track_list_count(), files + 1);
    for (int i = 0; i < files; i++) ASSERT_EQ(before[i], track_list_at(i)->path) << i;
    EXPECT_EQ(std::wstring(track_list_at(files)->path), dir.file(L"zz new download [Xk2Lm9Pq0Rs].webm"));
}

TEST_F(FolderScanTest, ExistingTracksInOtherCaseAreNotAddedAgain) {
    touch(L"One.mp3");
    touch(L"Two.mp3");
    std::wstring upper = dir.path;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    ASSERT_EQ(track_list_add((upper + L"\\ONE.MP3").c_str(), 0), 0);
    ASSERT_EQ(track_list_add(L"C:\\elsewhere\\x.mp3", 0), 1);
    EXPECT_EQ(scan_music_folder(dir.path.c_str()), 2);
    ASSERT_EQ(track_list_count(), 3);
    EXPECT_EQ(std::wstring(track_list_at(2)->path), dir.file(L"Two.mp3"));
}

TEST_F(FolderScanTest, PathsLongerThan259AreSkipped) {
    // A folder name long enough that folder + file name passes 259 characters: two such
    // names, alike in all that would fit, and one name that fits exactly.
    std::wstring deep = dir.path + L"\\" + std::wstring(230 - dir.path.size(), L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    std::wstring stem = deep + L"\\" + std::wstring(40, L'f');
    ASSERT_TRUE(write_file(stem + L"1.mp3", "x"));
    ASSERT_TRUE(write_file(stem + L"2.mp3", "x"));
    std::wstring fits = deep + L"\\" + std::wstring(259 - deep.size() - 5, L'g') + L".mp3";
    ASSERT_EQ(fits.size(), 259u);
    ASSERT_TRUE(write_file(fits, "x"));
    EXPECT_EQ(scan_music_folder(deep.c_str()), 1);
    ASSERT_EQ(track_list_count(), 1);
    EXPECT_EQ(std::wstring(track_list_at(0)->path), fits);
}

TEST_F(FolderScanTest, NothingToScan) {
    EXPECT_EQ(scan_music_folder(nullptr), 0);
    EXPECT_EQ(scan_music_folder(L""), 0);
    EXPECT_EQ(scan_music_folder(dir.file(L"missing").c_str()), 0);
    EXPECT_EQ(scan_music_folder(dir.path.c_str()), 0);
    EXPECT_EQ(track_list_count(), 0);
}

// Untagged files as people lay them out: the folders name the artist and the album, and a
// leading track number is no part of the title. Downloaded names keep their own rules.
TEST_F(FolderScanTest, UntaggedFilesTakeTheirArtistAndAlbumFromTheFolders) {
    for (const wchar_t* folder : {L"Pink Floyd", L"Pink Floyd\\The Wall", L"Sezen Aksu - Gidiyorum", L"Sampler"})
        ASSERT_TRUE(CreateDirectoryW(dir.file(folder).c_str(), nullptr));
    struct Row {
        const wchar_t *name, *title, *artist, *album;
        int number;
    } rows[] = {
        {L"Pink Floyd\\The Wall\\01 - In the Flesh.mp3", L"In the Flesh", L"Pink Floyd", L"The Wall", 1},
        {L"Pink Floyd\\The Wall\\02 The Thin Ice.flac", L"The Thin Ice", L"Pink Floyd", L"The Wall", 2},
        {L"Pink Floyd\\The Wall\\1-03. Another Brick.ogg", L"Another Brick", L"Pink Floyd", L"The Wall", 3},
        {L"Pink Floyd\\The Wall\\Mother.wav", L"Mother", L"Pink Floyd", L"The Wall", 0},
        {L"Sezen Aksu - Gidiyorum\\04 Hayat.mp3", L"Hayat", L"Sezen Aksu", L"Gidiyorum", 4},
        {L"Sampler\\05 - Duman - Bu Ak\u015fam.mp3", L"Bu Ak\u015fam", L"Duman", L"Sampler", 5},
        {L"99 Luftballons.mp3", L"99 Luftballons", L"", L"", 0},
        {L"09 Yal\u0131n.mp3", L"Yal\u0131n", L"", L"", 9},
        {L"Tarkan - Kuzu Kuzu (Official Video) [dQw4w9WgXcQ].m4a", L"Kuzu Kuzu", L"Tarkan", L"", 0},
    };
    for (const Row& r : rows) touch(r.name);
    EXPECT_EQ(scan_music_folder(dir.path.c_str()), 9);
    for (const Row& r : rows) {
        int i = track_list_find_path(dir.file(r.name).c_str());
        ASSERT_GE(i, 0) << r.name;
        const Track* t = track_list_at(i);
        EXPECT_STREQ(t->title, r.title) << r.name;
        EXPECT_STREQ(t->artist, r.artist) << r.name;
        EXPECT_STREQ(t->album, r.album) << r.name;
        EXPECT_EQ(t->number, r.number) << r.name;
        EXPECT_EQ(t->duration_ms, 0) << "a one-byte file has no known length";
    }
    // Friends know the downloaded track by its file's name, and the ripped one by artist and title.
    wchar_t full[TRACK_TEXT_CAPACITY];
    track_full_title(track_list_at(track_list_find_path(dir.file(rows[0].name).c_str())), full, TRACK_TEXT_CAPACITY);
    EXPECT_STREQ(full, L"Pink Floyd - In the Flesh");
    EXPECT_EQ(find_matching_track(L"Pink Floyd - In the Flesh", L""), track_list_find_path(dir.file(rows[0].name).c_str()));
    EXPECT_EQ(find_matching_track(L"01 - In the Flesh", L""), track_list_find_path(dir.file(rows[0].name).c_str()))
        << "by the name of an untagged copy too";
    EXPECT_EQ(find_matching_track(L"Tarkan - Kuzu Kuzu", L""), track_list_find_path(dir.file(rows[8].name).c_str()));
}

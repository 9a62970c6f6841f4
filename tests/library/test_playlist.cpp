#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/wanted_track.h"
#include "library/playlist.h"
#include "library/track_list.h"
#include "library/video_id.h"
#include "library/video_site.h"
#include "test_support.h"

namespace {

std::string utf8(const std::wstring& s) {
    if (s.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0, nullptr, nullptr);
    std::string out((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], n, nullptr, nullptr);
    return out;
}

std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? (char)c : '?';
    return out;
}

struct Wanted {
    std::wstring title, id;
    bool operator==(const Wanted& o) const { return title == o.title && id == o.id; }
};

std::ostream& operator<<(std::ostream& os, const Wanted& w) {
    return os << "{\"" << narrow(w.title) << "\", \"" << narrow(w.id) << "\"}";
}

// One import as the import dialog makes it: 256 wanted slots.
struct Import {
    int resolved = -1;
    std::vector<Wanted> wanted;
};

Import import(const std::wstring& file, int capacity = 256) {
    std::vector<WantedTrack> slots((size_t)capacity + 1);
    // The slot past the capacity must never be written.
    wmemset(slots[(size_t)capacity].title, L'Z', WANTED_TITLE_CAPACITY);
    int count = -1;
    Import r;
    r.resolved = read_playlist_file(file.c_str(), slots.data(), capacity, &count);
    EXPECT_GE(count, 0);
    EXPECT_LE(count, capacity);
    EXPECT_EQ(slots[(size_t)capacity].title[0], L'Z') << "written past the wanted capacity";
    for (int i = 0; i < count && i <= capacity; i++) {
        const WantedTrack& w = slots[(size_t)i];
        EXPECT_LT(wcsnlen(w.title, WANTED_TITLE_CAPACITY), (size_t)WANTED_TITLE_CAPACITY) << "entry " << i;
        EXPECT_LT(wcsnlen(w.video_id, WANTED_ID_CAPACITY), (size_t)WANTED_ID_CAPACITY) << "entry " << i;
        r.wanted.push_back(Wanted{w.title, w.video_id});
    }
    return r;
}

std::vector<std::wstring> track_paths() {
    std::vector<std::wstring> paths;
    for (int i = 0; i < track_list_count(); i++) paths.push_back(track_list_at(i)->path);
    return paths;
}

// Every file below a folder with its contents, to show that reading changed nothing.
void snapshot(const std::wstring& folder, std::map<std::wstring, std::string>* out) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[path + L"\\"] = "";
            snapshot(path, out);
        } else {
            (*out)[path] = read_file(path);
        }
    } while (FindNextFileW(find, &fd));
    FindClose(find);
}

std::map<std::wstring, std::string> snapshot(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    snapshot(folder, &files);
    return files;
}

const char BOM[] = "\xEF\xBB\xBF";

struct PlaylistTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { track_list_free(); }
    void TearDown() override { track_list_free(); }

    std::wstring touch(const std::wstring& name) {
        std::wstring path = dir.file(name);
        EXPECT_TRUE(write_file(path, "x")) << narrow(name);
        return path;
    }
    void folder(const std::wstring& name) { ASSERT_TRUE(CreateDirectoryW(dir.file(name).c_str(), nullptr)); }
    std::wstring playlist(const std::string& bytes, const std::wstring& name = L"list.m3u") {
        std::wstring path = dir.file(name);
        EXPECT_TRUE(write_file(path, bytes));
        return path;
    }
};

}  // namespace

//~ Writing and reading back

TEST_F(PlaylistTest, RoundTripHereElsewhereAndAgainstOtherFileNames) {
    folder(L"music");
    const wchar_t* names[] = {
        L"music\\Tarkan - Kuzu Kuzu [dQw4w9WgXcQ].m4a",
        L"music\\Sezen Aksu - Gidiyorum.mp3",
        L"music\\Duman - Bu Ak\u015fam (Official Video) [aB3dE5fG7hJ].webm",
        L"music\\Bar\u0131\u015f Man\u00e7o - G\u00fclpembe.flac",
    };
    const wchar_t* ids[] = {L"dQw4w9WgXcQ", L"", L"aB3dE5fG7hJ", L""};
    for (const wchar_t* n : names) ASSERT_GE(track_list_add(touch(n).c_str(), 0), 0);
    std::vector<std::wstring> titles;
    for (int i = 0; i < 4; i++) {
        wchar_t full[TRACK_TEXT_CAPACITY];
        track_full_title(track_list_at(i), full, TRACK_TEXT_CAPACITY);
        titles.push_back(full);
    }

    std::wstring list = dir.file(L"list.nelvo");
    ASSERT_EQ(write_playlist_file(list.c_str()), 1);
    std::string expected = std::string(BOM) + "#EXTM3U\r\n";
    for (int i = 0; i < 4; i++) {
        if (ids[i][0]) expected += "#EXTNELVO:YTID=" + utf8(ids[i]) + "\r\n";
        expected += "#EXTINF:-1," + utf8(titles[(size_t)i]) + "\r\n" + utf8(dir.file(names[i])) + "\r\n";
    }
    std::string written = read_file(list);
    EXPECT_EQ(written, expected);
    EXPECT_NE(written.find("Bar\xC4\xB1\xC5\x9F Man\xC3\xA7o"), std::string::npos) << "Turkish letters as UTF-8";
    std::map<std::wstring, std::string> files = snapshot(dir.path);
    EXPECT_EQ(files.size(), 6u) << "the music folder, its four files and the playlist; no temporary file left";

    // Here: every entry is a file already in the list.
    Import here = import(list);
    EXPECT_EQ(here.resolved, 4);
    EXPECT_TRUE(here.wanted.empty());
    EXPECT_EQ(track_list_count(), 4);
    EXPECT_EQ(read_playlist_file(list.c_str(), nullptr, 0, nullptr), 4) << "without a wanted array";
    EXPECT_EQ(snapshot(dir.path), files) << "reading changes no file";

    // Read into an empty list, the files are added in playlist order.
    track_list_free();
    EXPECT_EQ(import(list).resolved, 4);
    std::vector<std::wstring> paths;
    for (const wchar_t* n : names) paths.push_back(dir.file(n));
    EXPECT_EQ(track_paths(), paths);

    // Elsewhere: none of the paths exists and the library is empty.
    track_list_free();
    for (const wchar_t* n : names) ASSERT_TRUE(DeleteFileW(dir.file(n).c_str()));
    Import elsewhere = import(list);
    EXPECT_EQ(elsewhere.resolved, 0);
    std::vector<Wanted> all;
    for (int i = 0; i < 4; i++) all.push_back(Wanted{titles[(size_t)i], ids[i]});
    EXPECT_EQ(elsewhere.wanted, all);
    EXPECT_EQ(track_list_count(), 0);

    // A library that holds two of them under other names and one by its video id.
    folder(L"other");
    track_list_add(touch(L"other\\Kuzu Kuzu - Tarkan.mp3").c_str(), 0);
    track_list_add(touch(L"other\\SEZEN AKSU - G\u0130D\u0130YORUM.mp3").c_str(), 0);
    track_list_add(touch(L"other\\duman canli [aB3dE5fG7hJ].opus").c_str(), 0);
    track_list_add(touch(L"other\\Teoman - Paramparça.mp3").c_str(), 0);
    std::vector<std::wstring> library = track_paths();
    Import matched = import(list);
    EXPECT_EQ(matched.resolved, 3);
    EXPECT_EQ(matched.wanted, std::vector<Wanted>{all[3]});
    EXPECT_EQ(track_paths(), library) << "matching adds nothing";
}

TEST_F(PlaylistTest, WriterReplacesWholeFilesAndFailsWithoutTouchingAnything) {
    folder(L"music");
    track_list_add(touch(L"music\\a.mp3").c_str(), 0);

    // A longer old file is replaced as a whole, not overwritten from the start.
    std::wstring list = playlist(std::string(5000, '#') + "\r\nold\r\n", L"list.m3u8");
    ASSERT_EQ(write_playlist_file(list.c_str()), 1);
    EXPECT_EQ(read_file(list), std::string(BOM) + "#EXTM3U\r\n#EXTINF:-1," + utf8(track_list_at(0)->title) + "\r\n" +
                                   utf8(dir.file(L"music\\a.mp3")) + "\r\n");

    // A relative name is written in the working directory.
    wchar_t old_dir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old_dir);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.file(L"music").c_str()));
    EXPECT_EQ(write_playlist_file(L"here.m3u"), 1);
    SetCurrentDirectoryW(old_dir);
    EXPECT_EQ(read_file(dir.file(L"music\\here.m3u")), read_file(list));

    std::map<std::wstring, std::string> before = snapshot(dir.path);
    EXPECT_EQ(write_playlist_file(dir.file(L"missing\\list.m3u").c_str()), 0) << "no such folder";
    EXPECT_EQ(write_playlist_file(dir.file(L"music").c_str()), 0) << "a folder of that name";
    EXPECT_EQ(write_playlist_file(L""), 0);
    EXPECT_EQ(write_playlist_file(nullptr), 0);
    EXPECT_EQ(snapshot(dir.path), before) << "a failed write leaves no file behind and changes none";

    // An empty list writes the header alone.
    track_list_free();
    ASSERT_EQ(write_playlist_file(list.c_str()), 1);
    EXPECT_EQ(read_file(list), std::string(BOM) + "#EXTM3U\r\n");
}

//~ Addresses of the video site

TEST(VideoIdFromAddress, TakesTheIdOnlyWhereItEndsCleanly) {
    struct Case {
        const wchar_t *address, *id;
    } cases[] = {
        {L"https://www.youtube.com/watch?v=dQw4w9WgXcQ", L"dQw4w9WgXcQ"},
        {L"http://www.youtube.com/watch?v=dQw4w9WgXcQ", L"dQw4w9WgXcQ"},
        {L"HTTPS://WWW.YouTube.com/watch?v=dQw4w9WgXcQ", L"dQw4w9WgXcQ"},
        {L"https://youtube.com/watch?v=a-b_c-d_e-f", L"a-b_c-d_e-f"},
        {L"https://m.youtube.com/watch?v=dQw4w9WgXcQ", L"dQw4w9WgXcQ"},
        {L"https://music.youtube.com/watch?v=dQw4w9WgXcQ&list=RDAMVM", L"dQw4w9WgXcQ"},
        {L"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42s", L"dQw4w9WgXcQ"},
        {L"https://www.youtube.com/watch?v=dQw4w9WgXcQ?t=42", L"dQw4w9WgXcQ"},
        {L"https://www.youtube.com/watch?v=dQw4w9WgXcQ/", L"dQw4w9WgXcQ"},
        {L"https://www.youtube.com/watch?v=dQw4w9WgXcQ Tarkan", L"dQw4w9WgXcQ"},
        {L"https://www.youtube.com/watch?feature=share&v=dQw4w9WgXcQ", L"dQw4w9WgXcQ"},
        {L"https://youtu.be/dQw4w9WgXcQ", L"dQw4w9WgXcQ"},
        {L"https://youtu.be/dQw4w9WgXcQ?si=x1y2", L"dQw4w9WgXcQ"},
        {L"https://YOUTU.BE/dQw4w9WgXcQ&t=3", L"dQw4w9WgXcQ"},
        // No id: "#", a twelfth id character, a short id, a character outside the alphabet.
        {L"https://www.youtube.com/watch?v=dQw4w9WgXcQ#t=42", L""},
        {L"https://www.youtube.com/watch?v=dQw4w9WgXcQX", L""},
        {L"https://www.youtube.com/watch?v=dQw4w9WgXc", L""},
        {L"https://www.youtube.com/watch?v=dQw4w9WgX.Q", L""},
        {L"https://www.youtube.com/watch?v=dQw4w9WgX\u00e7Q", L""},
        {L"https://youtu.be/dQw4w9WgXcQ#x", L""},
        {L"https://youtu.be/dQw4w9WgXcQX", L""},
        {L"https://youtu.be/", L""},
        // Only the first "v" parameter counts, and only on the site's own hosts.
        {L"https://www.youtube.com/watch?v=short&v=dQw4w9WgXcQ", L""},
        {L"https://www.youtube.com/watch?nav=dQw4w9WgXcQ", L""},
        {L"https://www.youtube.com/results?v=dQw4w9WgXcQ", L""},
        {L"https://example.com/watch?v=dQw4w9WgXcQ", L""},
        {L"https://notyoutube.com/watch?v=dQw4w9WgXcQ", L""},
        {L"https://youtu.be.example.com/dQw4w9WgXcQ", L""},
        {L"https://example.com/youtu.be/dQw4w9WgXcQ", L""},
        {L"ftp://youtu.be/dQw4w9WgXcQ", L""},
        {L"", L""},
    };
    for (const Case& c : cases) {
        wchar_t out[VIDEO_ID_CAPACITY];
        wmemset(out, L'Z', VIDEO_ID_CAPACITY);
        video_id_from_address(c.address, out, VIDEO_ID_CAPACITY);
        EXPECT_EQ(std::wstring(out), c.id) << narrow(c.address);
    }
    // The hosts the program builds its own addresses with are among those it reads.
    wchar_t out[VIDEO_ID_CAPACITY];
    std::wstring own = std::wstring(L"https://") + YOUTUBE_WATCH_HOST + L"/watch?v=dQw4w9WgXcQ";
    video_id_from_address(own.c_str(), out, VIDEO_ID_CAPACITY);
    EXPECT_EQ(std::wstring(out), L"dQw4w9WgXcQ");
    own = std::wstring(L"https://") + YOUTUBE_SHORT_HOST + L"/dQw4w9WgXcQ";
    video_id_from_address(own.c_str(), out, VIDEO_ID_CAPACITY);
    EXPECT_EQ(std::wstring(out), L"dQw4w9WgXcQ");

    wchar_t small[11];
    wmemset(small, L'Z', 11);
    video_id_from_address(L"https://youtu.be/dQw4w9WgXcQ", small, 11);
    EXPECT_EQ(small[0], 0) << "a buffer too small for an id gets nothing";
    EXPECT_EQ(small[1], L'Z');
    video_id_from_address(nullptr, out, VIDEO_ID_CAPACITY);
    EXPECT_EQ(out[0], 0);
}

TEST_F(PlaylistTest, EntriesTakeTitlesAndIdsFromTheLinesBeforeThem) {
    track_list_add(touch(L"Teoman - Paramparça [Xk2Lm9Pq0Rs].mp3").c_str(), 0);
    track_list_add(touch(L"MFÖ - Ele Güne Karşı.mp3").c_str(), 0);
    std::wstring list = playlist(
        "#EXTM3U\r\n"
        "https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=10\r\n"                     // id, no title
        "#EXTINF:123,Tarkan - \xC5\x9E\xC4\xB1mar\xC4\xB1k, live  \r\n"
        "https://youtu.be/dQw4w9WgXcQ\r\n"                                          // the same id: dropped
        "#EXTINF:-1,Sezen Aksu - Gidiyorum\r\n"
        "#EXTNELVO:YTID=aB3dE5fG7hJ\r\n"
        "https://www.youtube.com/watch?v=zzzzzzzzzzz\r\n"                           // keeps the id above
        "#extnelvo:ytid=Xk2Lm9Pq0Rs\r\n"                                            // a local track's id
        "https://youtu.be/zzzzzzzzzzz\r\n"
        "#EXTINF:-1,Ele G\xC3\xBCne Kar\xC5\x9F\xC4\xB1 - MF\xC3\x96\r\n"           // a local title reversed
        "https://youtu.be/yyyyyyyyyyy\r\n"
        "https://www.youtube.com/watch?v=dQw4w9WgXcQ#t=1\r\n"                       // no id, no title: dropped
        "https://example.com/song.mp3\r\n"                                          // dropped too
        "#EXTNELVO:YTID=tooshort\r\n"                                               // ignored
        "#EXTINF:-1,sezen aksu - GIDIYORUM\r\n"                                     // same title as above
        "https://youtu.be/cCcCcCcCcC1\r\n"
        "#EXTNELVO:YTID=bad\"id&rm-x\r\n"                                           // 11, not id characters
        "#EXTINF:-1,\r\n"                                                           // no title text
        "https://youtu.be/dDdDdDdDdD2?si=1\r\n"
        "#EXTINF:-1,  Pending Title Cleared\r\n"
        "https://youtu.be/eEeEeEeEeE3\r\n"
        "https://youtu.be/fFfFfFfFfF4\r\n"
        "#EXTINF:-1,Stra\xC3\x9F" "e\r\n"                                         // two titles, however
        "https://youtu.be/gGgGgGgGgG5\r\n"                                          // a locale sorts them
        "#EXTINF:-1,Strasse\r\n"
        "https://youtu.be/hHhHhHhHhH6\r\n");
    Import r = import(list);
    EXPECT_EQ(r.resolved, 2);
    std::vector<Wanted> expected = {
        {L"YouTube Par\u00e7as\u0131 (dQw4w9WgXcQ)", L"dQw4w9WgXcQ"},
        {L"Sezen Aksu - Gidiyorum", L"aB3dE5fG7hJ"},
        {L"YouTube Par\u00e7as\u0131 (dDdDdDdDdD2)", L"dDdDdDdDdD2"},
        {L"Pending Title Cleared", L"eEeEeEeEeE3"},
        {L"YouTube Par\u00e7as\u0131 (fFfFfFfFfF4)", L"fFfFfFfFfF4"},
        {L"Stra\u00dfe", L"gGgGgGgGgG5"},
        {L"Strasse", L"hHhHhHhHhH6"},
    };
    EXPECT_EQ(r.wanted, expected);
    EXPECT_EQ(track_list_count(), 2);

    // The first entry has a title of its own once an "#EXTINF" line comes before it.
    list = playlist("#EXTINF:123,Tarkan - \xC5\x9E\xC4\xB1mar\xC4\xB1k, live  \r\nhttps://youtu.be/dQw4w9WgXcQ\r\n");
    r = import(list);
    EXPECT_EQ(r.wanted, (std::vector<Wanted>{{L"Tarkan - \u015e\u0131mar\u0131k, live", L"dQw4w9WgXcQ"}}));

    // A full wanted array drops the rest silently; a missing one drops everything.
    list = playlist(
        "https://youtu.be/aaaaaaaaaa1\r\nhttps://youtu.be/aaaaaaaaaa2\r\nhttps://youtu.be/aaaaaaaaaa3\r\n"
        "#EXTINF:-1,Ele G\xC3\xBCne Kar\xC5\x9F\xC4\xB1 - MF\xC3\x96\r\nhttps://youtu.be/aaaaaaaaaa4\r\n");
    r = import(list, 2);
    EXPECT_EQ(r.resolved, 1) << "entries past a full array still count when they match";
    ASSERT_EQ(r.wanted.size(), 2u);
    EXPECT_EQ(r.wanted[1].id, L"aaaaaaaaaa2");
    EXPECT_EQ(read_playlist_file(list.c_str(), nullptr, 256, nullptr), 1);
    int count = -1;
    EXPECT_EQ(read_playlist_file(list.c_str(), nullptr, 256, &count), 1);
    EXPECT_EQ(count, 0);
}

//~ Paths

TEST_F(PlaylistTest, PathsResolveAgainstThePlaylistFolder) {
    folder(L"lists");
    folder(L"lists\\music");
    folder(L"music");
    std::wstring a = touch(L"lists\\music\\a.mp3");
    std::wstring b = touch(L"lists\\music\\b.mp3");
    std::wstring c = touch(L"music\\c.mp3");
    std::wstring d = touch(L"music\\d.mp3");
    touch(L"lists\\win.ini");
    // The working directory holds files of the same relative names, which must not be taken.
    TempDir work;
    CreateDirectoryW(work.file(L"music").c_str(), nullptr);
    write_file(work.file(L"music\\a.mp3"), "x");
    write_file(work.file(L"music\\x.mp3"), "x");
    wchar_t old_dir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old_dir);
    ASSERT_TRUE(SetCurrentDirectoryW(work.path.c_str()));

    std::wstring list = playlist(
        "musi\\a.mp3\r\n"                        // a folder that is not there, named like one that is
        "music\\a.mp3\r\n"
        "  music/b.mp3\t\r\n"                     // forward slashes, blanks around
        "..\\music\\c.mp3\r\n"                    // up out of the playlist's folder
        "music\\..\\..\\music\\.\\d.mp3\r\n"
        "MUSIC\\A.MP3\r\n"                        // the same file again: counted, not added twice
        + utf8(dir.path) + "\\lists\\music\\..\\music\\b.mp3\r\n"  // absolute, not canonical
        "music\r\n"                               // a folder: not an audio file, so not an entry
        "win.ini\r\n"                             // here, but not an audio file: never added
        "#EXTINF:-1,Clip Title\r\n"               // not an audio file, but a described entry
        "C:\\nelvo-no-such-folder\\clip.mp4\r\n"
        "music\\x.mp3\r\n"                        // only in the working directory
        "#EXTINF:-1,Kept Title\r\n"
        "..\\missing\\Tarkan - Kuzu Kuzu [dQw4w9WgXcQ].m4a\r\n"
        "C:\\nelvo-no-such-folder\\Sezen Aksu - Gidiyorum [aB3dE5fG7hJ].mp3\r\n"
        "C:\\nelvo-no-such-folder\\(Official Video) [cCcCcCcCcC1].mp3\r\n"  // an id, no title
        "#EXTNELVO:YTID=Xk2Lm9Pq0Rs\r\n"
        "\\\\nelvo-no-such-server\\share\\Duman - Senden Daha G\xC3\xBCzel [dQw4w9WgXcQ].mp3\r\n"
        "//nelvo-no-such-server/share/Teoman - Papatya.mp3\r\n"
        "\\\\?\\C:\\nelvo-no-such-folder\\Mor ve Otesi - Bir Derdim Var.mp3\r\n"
        + std::string(300, 'p') + ".mp3\r\n",
        L"lists\\list.m3u");
    std::map<std::wstring, std::string> before = snapshot(dir.path);
    DWORD start = GetTickCount();
    Import r = import(list);
    DWORD took = GetTickCount() - start;
    SetCurrentDirectoryW(old_dir);

    EXPECT_EQ(r.resolved, 6);
    EXPECT_EQ(track_paths(), (std::vector<std::wstring>{a, b, c, d}));
    std::vector<Wanted> expected = {
        {L"A", L""},
        {L"Clip Title", L""},
        {L"X", L""},
        {L"Kept Title", L"dQw4w9WgXcQ"},
        {L"Sezen Aksu - Gidiyorum", L"aB3dE5fG7hJ"},
        {L"YouTube Par\u00e7as\u0131 (cCcCcCcCcC1)", L"cCcCcCcCcC1"},
        {L"Duman - Senden Daha G\u00fczel", L"Xk2Lm9Pq0Rs"},
        {L"Teoman - Papatya", L""},
        {L"Mor ve Otesi - Bir Derdim Var", L""},
    };
    ASSERT_EQ(r.wanted.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(r.wanted[i], expected[i]) << "entry " << i;
    EXPECT_EQ(r.wanted.back().title.substr(0, 10), L"P" + std::wstring(9, L'p'));
    // Network paths are not looked up, so no entry waits for a server that is not there.
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(snapshot(dir.path), before) << "reading changes no file";
}

//~ Encodings and the shape of lines

TEST_F(PlaylistTest, EncodingsAndLinePieces) {
    // UTF-16 LE with its byte-order mark, no final line end.
    std::wstring text = L"#EXTM3U\r\n#EXTINF:-1,Bar\u0131\u015f Man\u00e7o - G\u00fclpembe \U0001F3B5\r\n"
                        L"https://youtu.be/dQw4w9WgXcQ";
    std::string bytes = "\xFF\xFE";
    for (wchar_t ch : text) bytes += std::string{(char)(ch & 0xFF), (char)(ch >> 8)};
    Import r = import(playlist(bytes));
    std::wstring title = L"Bar\u0131\u015f Man\u00e7o - G\u00fclpembe \U0001F3B5";
    EXPECT_EQ(r.wanted, (std::vector<Wanted>{{title, L"dQw4w9WgXcQ"}}));

    // UTF-8 by its byte-order mark, LF only, a byte-order mark again at the start of a
    // line, invalid bytes, and no final line end.
    r = import(playlist(
        std::string(BOM) + "#EXTINF:-1,Bad \xFF\xC3 Bytes\n\xEF\xBB\xBFhttps://youtu.be/aaaaaaaaaa1\n"
        "#EXTINF:-1,Cut \xE2\x82\n"
        "https://youtu.be/aaaaaaaaaa2"));
    EXPECT_EQ(r.wanted, (std::vector<Wanted>{{L"Bad \uFFFD\uFFFD Bytes", L"aaaaaaaaaa1"},
                                             {L"Cut \uFFFD", L"aaaaaaaaaa2"}}));

    // Without a byte-order mark, bytes that are not UTF-8 are text in the system code page,
    // as most players write it (a Turkish list in Windows-1254): its titles read as that
    // code page reads them and its paths name the files that are there.
    const std::string ansi_title = "\xDE\x61rk\xFD \xD0\xFCzel \xE7\xF6\xFE";
    auto from_ansi = [](const std::string& bytes) {
        wchar_t wide[128];
        int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), (int)bytes.size(), wide, 128);
        return std::wstring(wide, n > 0 ? (size_t)n : 0);
    };
    std::wstring local = touch(from_ansi(ansi_title) + L".mp3");
    r = import(playlist("#EXTINF:-1," + ansi_title + "\r\nhttps://youtu.be/aaaaaaaaaa1\r\n" + ansi_title + ".mp3\r\n"));
    EXPECT_EQ(r.resolved, 1);
    EXPECT_EQ(track_paths(), std::vector<std::wstring>{local});
    EXPECT_EQ(r.wanted, (std::vector<Wanted>{{from_ansi(ansi_title), L"aaaaaaaaaa1"}}));

    // Characters whose bytes are cut by the end of a read chunk: a two-byte, a three-byte
    // and a four-byte one, each placed across the boundary in turn.
    const std::string chars[] = {"\xC5\x9F", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5"};
    const std::wstring wide[] = {L"\u015f", L"\u20ac", L"\U0001F3B5"};
    for (int k = 0; k < 3; k++) {
        for (size_t cut = 1; cut < chars[k].size(); cut++) {
            // Comment lines pad the text so that the character starts cut bytes before the
            // end of the first chunk (the byte-order mark is part of that chunk).
            std::string file = BOM;
            const std::string title_line = "#EXTINF:-1,Ak";
            while (file.size() + 100 + title_line.size() < PLAYLIST_READ_CHUNK - cut)
                file += "#" + std::string(97, 'x') + "\r\n";
            file += "#" + std::string(PLAYLIST_READ_CHUNK - cut - title_line.size() - file.size() - 3, 'x') + "\r\n";
            file += title_line + chars[k] + "am\r\nhttps://youtu.be/dQw4w9WgXcQ\r\n";
            ASSERT_EQ(file.find(chars[k]), (size_t)PLAYLIST_READ_CHUNK - cut) << "row " << k << " cut " << cut;
            r = import(playlist(file));
            EXPECT_EQ(r.wanted, (std::vector<Wanted>{{L"Ak" + wide[k] + L"am", L"dQw4w9WgXcQ"}}))
                << "row " << k << " cut " << cut;
        }
    }

    // Lines of up to 1023 characters are one line; a longer one is read in pieces of 1023,
    // each a line of its own.
    std::string comment = "#" + std::string(PLAYLIST_LINE_CAPACITY - 2, 'c');
    r = import(playlist(comment + "\r\n" + comment + "https://youtu.be/aaaaaaaaaa1\r\n" +
                        "#EXTINF:-1," + std::string(2000, 't') + "\r\nhttps://youtu.be/aaaaaaaaaa2\n"));
    EXPECT_EQ(r.wanted, (std::vector<Wanted>{{L"YouTube Par\u00e7as\u0131 (aaaaaaaaaa1)", L"aaaaaaaaaa1"},
                                             {std::wstring(255, L't'), L""},
                                             {L"YouTube Par\u00e7as\u0131 (aaaaaaaaaa2)", L"aaaaaaaaaa2"}}))
        << "the second piece of the long title line is a path line of its own";
    // A piece that would end in the first half of a surrogate pair ends before the pair.
    r = import(playlist("#" + std::string(PLAYLIST_LINE_CAPACITY - 3, 'c') +
                        "\xF0\x9F\x8E\xB5 Song [dQw4w9WgXcQ].mp3\r\n"));
    EXPECT_EQ(r.wanted, (std::vector<Wanted>{{L"\U0001F3B5 Song", L"dQw4w9WgXcQ"}}));
}

//~ Hostile files

namespace {

// Committed private memory, summed over the address space (Wine's process counters leave
// large blocks out).
SIZE_T committed_private_bytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION m;
    for (char* p = nullptr; VirtualQuery(p, &m, sizeof(m)) == sizeof(m); p = (char*)m.BaseAddress + m.RegionSize)
        if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) total += m.RegionSize;
    return total;
}

// How far committed memory rises above its level before run(), sampled from another thread
// while run() works.
template <class F>
SIZE_T memory_rise_during(F run) {
    std::atomic<bool> started{false}, done{false};
    std::atomic<SIZE_T> base{0}, peak{0};
    std::thread sampler([&] {
        base = peak = committed_private_bytes();  // with the sampler's own stack
        started = true;
        while (!done) {
            SIZE_T now = committed_private_bytes();
            if (now > peak) peak = now;
            Sleep(1);
        }
    });
    while (!started) Sleep(1);
    run();
    done = true;
    sampler.join();
    return peak - base;
}

}  // namespace

TEST_F(PlaylistTest, HostileFilesStayBoundedAndChangeNothing) {
    track_list_add(touch(L"Tarkan - Kuzu Kuzu.mp3").c_str(), 0);
    std::vector<std::wstring> library = track_paths();

    // Nothing to read: 0 and no change, with the wanted count set to 0.
    WantedTrack slots[4];
    int count = 7;
    EXPECT_EQ(read_playlist_file(dir.file(L"missing.m3u").c_str(), slots, 4, &count), 0);
    EXPECT_EQ(count, 0);
    count = 7;
    EXPECT_EQ(read_playlist_file(dir.path.c_str(), slots, 4, &count), 0) << "a folder";
    EXPECT_EQ(count, 0);
    EXPECT_EQ(read_playlist_file(L"", slots, 4, &count), 0);
    EXPECT_EQ(read_playlist_file(nullptr, slots, 4, &count), 0);
    const char* nothing[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\r\n\r\n  \t\r\n",
                             "#EXTM3U\r\n#\r\n#EXTINF\r\n###\r\n#EXTINF:-1,x\r\n"};
    for (const char* bytes : nothing) {
        Import r = import(playlist(bytes));
        EXPECT_EQ(r.resolved, 0) << narrow(std::wstring(bytes, bytes + strlen(bytes)));
        EXPECT_TRUE(r.wanted.empty()) << narrow(std::wstring(bytes, bytes + strlen(bytes)));
    }

    // Random bytes, NULs included.
    std::string noise(300000, '\0');
    unsigned seed = 12345;
    for (char& ch : noise) {
        seed = seed * 1103515245u + 12345u;
        ch = (char)(seed >> 16);
    }
    for (size_t i = 0; i < noise.size(); i += 997) noise[i] = '\0';
    Import r = import(playlist(noise, L"noise.m3u"));
    EXPECT_LE(r.wanted.size(), 256u);
    for (const Wanted& w : r.wanted) {
        EXPECT_TRUE(w.id.empty() || w.id.size() == 11) << w;
        for (wchar_t ch : w.id) EXPECT_TRUE(iswalnum(ch) || ch == L'-' || ch == L'_') << w;
    }
    EXPECT_EQ(track_paths(), library);

    // A single line of 10 MB, written in pieces so that the test itself holds no 10 MB; the
    // entry after it is still read, and reading holds no more than its buffers.
    std::wstring huge = dir.file(L"huge.m3u");
    {
        HANDLE f = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        std::string piece(1 << 20, 'a');
        DWORD written;
        for (int i = 0; i < 10; i++) WriteFile(f, piece.data(), (DWORD)piece.size(), &written, nullptr);
        std::string tail = "\r\n#EXTINF:-1,After The Long Line\r\nhttps://youtu.be/dQw4w9WgXcQ\r\n";
        WriteFile(f, tail.data(), (DWORD)tail.size(), &written, nullptr);
        CloseHandle(f);
    }
    SIZE_T rise = memory_rise_during([&] { r = import(huge, 16); });
    EXPECT_LT(rise, (SIZE_T)(4u << 20)) << "the long line is not held whole";
    ASSERT_FALSE(r.wanted.empty());
    EXPECT_EQ(r.wanted.back(), (Wanted{L"After The Long Line", L"dQw4w9WgXcQ"}));
    EXPECT_LE(r.wanted.size(), 3u) << "every 1023-character piece of a's names the same missing file";
    EXPECT_EQ(track_paths(), library);

    // 100,000 entries: most of them missing files, some addresses, one the library has.
    std::string many = "#EXTM3U\r\n";
    many.reserve(100000 * 60);
    char line[160];
    for (int i = 0; i < 100000; i++) {
        if (i == 99999) many += "#EXTINF:-1,TARKAN - KUZU KUZU\r\nmusic\\none.mp3\r\n";
        else if (i % 4 == 0) {
            snprintf(line, sizeof(line), "#EXTINF:-1,Artist %d - Song %d\r\nhttps://youtu.be/id%09d\r\n", i, i, i);
            many += line;
        } else {
            snprintf(line, sizeof(line), "music\\Artist %d - Song %d.mp3\r\n", i, i);
            many += line;
        }
    }
    std::wstring many_file = playlist(many, L"many.m3u");
    many.clear();
    many.shrink_to_fit();
    std::map<std::wstring, std::string> before = snapshot(dir.path);
    r = import(many_file);
    EXPECT_EQ(r.resolved, 1) << "the last entry matches the library by title";
    ASSERT_EQ(r.wanted.size(), 256u);
    EXPECT_EQ(r.wanted[0], (Wanted{L"Artist 0 - Song 0", L"id000000000"}));
    EXPECT_EQ(r.wanted[1], (Wanted{L"Artist 1 - Song 1", L""}));
    EXPECT_EQ(track_paths(), library);
    EXPECT_EQ(snapshot(dir.path), before) << "reading changes no file";
}

// The workers that fetch missing tracks without asking, end to end: a real main window,
// the yt-dlp.exe stand-in as the downloader, real files in the music folder.
#include <gtest/gtest.h>

#include <windows.h>

#include "acquire/fetch_workers.h"
#include "acquire_support.h"
#include "app/play_queue.h"
#include "app/track_actions.h"
#include "app/window_fixture.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "library/track_list.h"
#include "playback/player.h"

//~ Targets

TEST(WantedTarget, WatchAddressForAnIdElseASearchForTheTitle) {
    wchar_t target[320];
    WantedTrack w = {L"Sezen Aksu - Gidiyorum", L"dQw4w9WgXcQ"};
    ASSERT_TRUE(wanted_track_target(&w, target, 320));
    EXPECT_STREQ(target, L"https://www.youtube.com/watch?v=dQw4w9WgXcQ");

    WantedTrack ten = {L"Sezen Aksu - Gidiyorum", L"dQw4w9WgXc"};
    ASSERT_TRUE(wanted_track_target(&ten, target, 320));
    EXPECT_STREQ(target, L"ytsearch1:Sezen Aksu - Gidiyorum");

    // An id that is no id (it came from someone else) must not shape the address.
    WantedTrack odd = {L"Athena - Holigan", L"a&list=b\"c1"};
    ASSERT_TRUE(wanted_track_target(&odd, target, 320));
    EXPECT_STREQ(target, L"ytsearch1:Athena - Holigan");

    WantedTrack lines = {L"Duman\r\n--exec calc\t- Bu Ak\u015fam", L""};
    ASSERT_TRUE(wanted_track_target(&lines, target, 320));
    EXPECT_STREQ(target, L"ytsearch1:Duman--exec calc- Bu Ak\u015fam");

    WantedTrack nothing = {L"\r\n", L"short"};
    EXPECT_FALSE(wanted_track_target(&nothing, target, 320));
}

// The record of the done message posted to receiver, taken off its queue with the
// progress messages before it; null when none came within a minute.
static AutofetchRequest* wait_autofetch_done(HWND receiver, int* result) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
        MSG msg;
        while (PeekMessageW(&msg, receiver, 0, 0, PM_REMOVE)) {
            if (msg.message != MSG_AUTOFETCH_DONE) continue;
            *result = (int)msg.wParam;
            return (AutofetchRequest*)msg.lParam;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
    }
    return nullptr;
}

TEST(JamFetchRequest, CarriesItsRoomTheFileTheDownloaderNamedAndWhetherItWasStopped) {
    Catalogue titles({{L"abcDEF12345", L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence"}, {L"gate0000001", L"Held"}});
    TempDir dir;
    HWND receiver = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(receiver, nullptr);
    std::wstring file = dir.file(L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence [abcDEF12345].wav");
    WantedTrack wanted = {L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence", L"abcDEF12345"};
    // The second fetch of the same track finds the file the first one wrote.
    for (int round = 0; round < 2; round++) {
        ASSERT_TRUE(jam_fetch_start(receiver, &wanted, dir.path.c_str(), "jam_test_1"));
        int result = -1;
        AutofetchRequest* request = wait_autofetch_done(receiver, &result);
        ASSERT_NE(request, nullptr);
        g_jam_fetch.running.store(0);  // the window's part
        EXPECT_EQ(result, 1);
        EXPECT_STREQ(request->room_id, "jam_test_1");
        EXPECT_EQ(std::wstring(request->path), file) << round;
        EXPECT_EQ(request->written, round == 0 ? 1 : 0) << round;
        EXPECT_EQ(request->stopped, 0);
        autofetch_request_release((LPARAM)request);
    }
    // Stopped before the download could finish (it waits for a gate that never opens).
    WantedTrack held = {L"Held", L"gate0000001"};
    ASSERT_TRUE(jam_fetch_start(receiver, &held, dir.path.c_str(), "jam_test_1"));
    g_jam_fetch.stop.store(1);
    int result = -1;
    AutofetchRequest* request = wait_autofetch_done(receiver, &result);
    ASSERT_NE(request, nullptr);
    g_jam_fetch.running.store(0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(request->stopped, 1);
    autofetch_request_release((LPARAM)request);
    DestroyWindow(receiver);
}

TEST(JamWants, AnotherTrackByIdOrByTitle) {
    WantedTrack now = {L"Tarkan - Kuzu Kuzu", L"dQw4w9WgXcQ"};
    WantedTrack same_other_case = {L"TARKAN - kuzu kuzu", L"dQw4w9WgXcQ"};
    WantedTrack other_id = {L"Tarkan - Kuzu Kuzu", L"Xk2Lm9Pq0Rs"};
    WantedTrack no_id = {L"Tarkan - Kuzu Kuzu", L""};
    WantedTrack other_title = {L"Duman - Bu Ak\u015fam", L""};
    EXPECT_FALSE(jam_wants_other_track(&now, &same_other_case));
    EXPECT_TRUE(jam_wants_other_track(&now, &other_id));
    EXPECT_FALSE(jam_wants_other_track(&now, &no_id));
    EXPECT_TRUE(jam_wants_other_track(&now, &other_title));
}

//~ End to end

static int title_index(const wchar_t* title) {
    for (int i = 0; i < track_list_count(); i++) {
        wchar_t full[TRACK_TEXT_CAPACITY];
        track_full_title(track_list_at(i), full, TRACK_TEXT_CAPACITY);
        if (wcscmp(full, title) == 0) return i;
    }
    return -1;
}

struct FetchTest : MainWindowTest {
    void open() {
        use_music_folder();
        open_window();
        SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    }
    std::wstring import(const std::string& body) {
        std::wstring list = work.file(L"shared.nelvo");
        write_file(list, "#EXTM3U\r\n" + body);
        EXPECT_TRUE(import_playlist(list.c_str()));
        return list;
    }
    bool wait_worker(int ms) {
        return pump_until([] { return g_shared_queue.running.load() == 0; }, ms) && pump_until([] { return true; }, 0);
    }
    int index_of_title(const wchar_t* title) { return title_index(title); }
};

TEST_F(FetchTest, ASharedPlaylistsMissingTracksArriveOneAfterAnother) {
    Catalogue titles({{L"abcDEF12345", L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence"},
                      {L"Xk2Lm9Pq0Rs", L"Sertab Erener - Everyway That I Can"}});
    ArgumentLog log;
    open();
    import("#EXTNELVO:YTID=abcDEF12345\r\n#EXTINF:-1,Bar\xc4\xb1\xc5\x9f Man\xc3\xa7o - D\xc3\xb6nence\r\nC:\\x\\a.m4a\r\n"
           "#EXTNELVO:YTID=fail0000001\r\n#EXTINF:-1,Gone Video\r\nC:\\x\\b.m4a\r\n"
           "#EXTINF:-1,Athena - Holigan\r\nC:\\x\\c.m4a\r\n"
           "https://youtu.be/Xk2Lm9Pq0Rs\r\n");
    EXPECT_EQ(g_shared_queue.total, 4);
    // Watch the banner count up while the worker runs.
    std::vector<std::wstring> titles_seen;
    ASSERT_TRUE(pump_until(
        [&] {
            if (titles_seen.empty() || titles_seen.back() != g_app.banner.title) titles_seen.push_back(g_app.banner.title);
            return g_shared_queue.running.load() == 0;
        },
        60000));
    pump(100);
    EXPECT_NE(std::find(titles_seen.begin(), titles_seen.end(),
                        L"PAYLA\u015eILAN L\u0130STE Y\u00dcKLEN\u0130YOR  \u2022  2 / 4 Par\u00e7a"),
              titles_seen.end());
    EXPECT_STREQ(g_app.banner.title, L"\u2713 PAYLA\u015eILAN OYNATMA L\u0130STES\u0130 HAZIR (%100)");
    EXPECT_STREQ(g_app.banner.subtitle, L"3 eksik par\u00e7a otomatik indirildi ve listeye eklendi");
    EXPECT_EQ(g_app.banner.percent, 100);
    EXPECT_NE(g_app.banner.hide_at, 0u);
    EXPECT_EQ(g_shared_queue.done, 3);

    // The three files are in the list, in the order they came, named by their titles.
    ASSERT_EQ(track_list_count(), 3);
    EXPECT_EQ(index_of_title(L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence"), 0);
    EXPECT_EQ(index_of_title(L"Athena - Holigan"), 1);
    EXPECT_EQ(index_of_title(L"Sertab Erener - Everyway That I Can"), 2);
    EXPECT_EQ(g_app.selected_index, 0);

    // The one without a usable id was searched for by its title, with a one-result search.
    std::vector<std::vector<std::wstring>> starts = log.starts();
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_EQ(starts[0].back(), L"https://www.youtube.com/watch?v=abcDEF12345");
    EXPECT_EQ(starts[2].back(), L"ytsearch1:Athena - Holigan");
    EXPECT_EQ(starts[2][14], music + L"\\%(title)s [%(id)s].%(ext)s");
}

TEST_F(FetchTest, StoppingInTheMiddleEndsWithTheStoppedBanner) {
    open();
    import("#EXTNELVO:YTID=slow0000001\r\n#EXTINF:-1,Long One\r\nC:\\x\\a.m4a\r\n"
           "#EXTNELVO:YTID=dQw4w9WgXcQ\r\n#EXTINF:-1,Never Reached\r\nC:\\x\\b.m4a\r\n");
    ASSERT_TRUE(pump_until([] { return g_app.banner.percent > 3; }, 20000)) << "the download got going";
    int percent = g_app.banner.percent;
    // The banner's "İptal" is the user's way to stop.
    g_shared_queue.stop.exchange(1);
    ASSERT_TRUE(wait_worker(10000));
    pump(100);
    EXPECT_STREQ(g_app.banner.title, L"PAYLA\u015eILAN L\u0130STE \u0130ND\u0130RMES\u0130 DURDURULDU");
    EXPECT_STREQ(g_app.banner.subtitle, L"0 par\u00e7a kitapl\u0131\u011f\u0131n\u0131za eklendi");
    EXPECT_GE(g_app.banner.percent, percent);
    EXPECT_EQ(g_shared_queue.done, 0) << "no item message for the interrupted track";
    EXPECT_EQ(track_list_count(), 0);
    EXPECT_TRUE(files_in(music).empty());
    EXPECT_EQ(running_doubles(), 0);
}

TEST_F(FetchTest, AListImportedWhileTheWorkerStopsGetsAWorkerOfItsOwn) {
    Catalogue titles({{L"dQw4w9WgXcQ", L"Never Reached"}, {L"Xk2Lm9Pq0Rs", L"Sertab Erener - Everyway That I Can"}});
    ArgumentLog log;
    open();
    import("#EXTNELVO:YTID=slow0000001\r\n#EXTINF:-1,Long One\r\nC:\\x\\a.m4a\r\n"
           "#EXTNELVO:YTID=dQw4w9WgXcQ\r\n#EXTINF:-1,Never Reached\r\nC:\\x\\b.m4a\r\n");
    ASSERT_TRUE(pump_until([] { return g_app.banner.percent > 3; }, 20000)) << "the download got going";
    // Stopped, and before the worker has wound down another list comes in.
    g_shared_queue.stop.exchange(1);
    import("#EXTNELVO:YTID=Xk2Lm9Pq0Rs\r\n#EXTINF:-1,Sertab Erener - Everyway That I Can\r\nC:\\x\\c.m4a\r\n");
    EXPECT_EQ(g_shared_queue.total, 1) << "the stopped list's rest is not carried over";
    ASSERT_TRUE(pump_until([&] { return index_of_title(L"Sertab Erener - Everyway That I Can") >= 0; }, 30000));
    ASSERT_TRUE(wait_worker(10000));
    pump(100);
    EXPECT_STREQ(g_app.banner.title, L"\u2713 PAYLA\u015eILAN OYNATMA L\u0130STES\u0130 HAZIR (%100)");
    EXPECT_STREQ(g_app.banner.subtitle, L"1 eksik par\u00e7a otomatik indirildi ve listeye eklendi");
    std::vector<std::vector<std::wstring>> starts = log.starts();
    ASSERT_EQ(starts.size(), 2u) << "the stopped list's second track was never fetched";
    EXPECT_EQ(starts[1].back(), L"https://www.youtube.com/watch?v=Xk2Lm9Pq0Rs");
    EXPECT_EQ(running_doubles(), 0);
}

TEST_F(FetchTest, WithoutADownloaderTheWorkerSaysSoAndTheEntriesWait) {
    const std::string list =
        "#EXTINF:-1,One\r\nC:\\x\\a.m4a\r\n#EXTINF:-1,Two\r\nC:\\x\\b.m4a\r\n#EXTINF:-1,Three\r\nC:\\x\\c.m4a\r\n";
    open();
    {
        MissingDownloader missing;
        import(list);
        ASSERT_TRUE(wait_worker(20000));
        pump(100);
    }
    EXPECT_STREQ(g_app.banner.title, L"\u0130ND\u0130R\u0130C\u0130 BULUNAMADI");
    EXPECT_STREQ(g_app.banner.subtitle,
                 L"yt-dlp.exe'yi Nelvo.exe'nin yan\u0131na ya da PATH'teki bir klas\u00f6re koyun");
    EXPECT_EQ(g_shared_queue.running.load(), 0) << "no worker started again to fail the same way";
    EXPECT_EQ(g_shared_queue.queued - g_shared_queue.taken, 3) << "nothing was fetched, everything waits";
    EXPECT_EQ(track_list_count(), 0);

    // With the downloader in place, the next import fetches what waited.
    import(list);
    ASSERT_TRUE(wait_worker(30000));
    pump(100);
    EXPECT_EQ(track_list_count(), 3);
    EXPECT_STREQ(g_app.banner.subtitle, L"3 eksik par\u00e7a otomatik indirildi ve listeye eklendi");
}

struct JamFetchTest : FetchTest {
    static std::wstring notice() {
        wchar_t text[128];
        jam_notice_text(text, 128);
        return text;
    }
    void in_room(const wchar_t* title, const wchar_t* id, int playing) {
        open();
        g_jam.state = JAM_IN_ROOM;
        strcpy(g_jam.room_id, "jam_test_1");
        jam_member_add(L"Ali#2222", L"Ali");
        g_jam_wanted = JamWanted{};
        g_jam_wanted.playing = playing;
        g_jam_wanted.position_ms = 700;
        wstr_copy(g_jam_wanted.track.title, title);
        wstr_copy(g_jam_wanted.track.video_id, id);
        g_settings.jam_keep_downloads = 0;
    }
    bool wait_fetch(int ms) {
        return pump_until([] { return g_jam_fetch.running.load() == 0; }, ms);
    }
};

TEST_F(JamFetchTest, TheRoomsTrackIsFetchedAndStartsWhereTheRoomIs) {
    Catalogue titles({{L"abcDEF12345", L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence"}, {L"Xk2Lm9Pq0Rs", L"Sertab Erener"}});
    // Something already in the library, so that the fetched track's index means something.
    std::wstring old = music + L"\\Duman - Bu Ak\u015fam.wav";
    write_file(old, "not really audio");
    in_room(L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence", L"abcDEF12345", 1);
    ASSERT_EQ(track_list_count(), 1);
    start_jam_fetch();
    EXPECT_EQ(g_jam_fetch.running.load(), 1);
    // The user copies a track in while the fetch runs: the newest file, but not the fetch's.
    std::wstring copied = music + L"\\Sezen Aksu - Gidiyorum.wav";
    write_file(copied, "the user's own");
    EXPECT_STREQ(notice().c_str(),
                 L"\u26a1 \"Bar\u0131\u015f Man\u00e7o - D\u00f6nence\" sende yok \u2022 \u0130ndiriliyor (%0)...");
    EXPECT_TRUE(jam_notice_is_progress());
    start_jam_fetch();  // a second call while one runs changes nothing
    ASSERT_TRUE(wait_fetch(30000));
    pump(50);

    int index = index_of_title(L"Bar\u0131\u015f Man\u00e7o - D\u00f6nence");
    ASSERT_GE(index, 1) << "after what the library held";
    EXPECT_EQ(g_app.current_index, index);
    EXPECT_TRUE(player_is_playing()) << "the room plays, so the track plays";
    EXPECT_GE(player_position_ms(), 600);
    EXPECT_STREQ(notice().c_str(), L"\u2713 Otomatik indirildi \u2022 Canl\u0131 milisaniyeye e\u015fitlendi");
    EXPECT_FALSE(jam_notice_is_progress());
    EXPECT_EQ(g_jam_wanted.track.title[0], 0);
    ASSERT_EQ(g_app.jam_temp_file_count, 1) << "to be deleted when the Jam ends";
    EXPECT_EQ(std::wstring(g_app.jam_temp_files[0]), std::wstring(track_list_at(g_app.current_index)->path));
    EXPECT_TRUE(file_exists(copied));
    EXPECT_TRUE(pump_until([&] { return index_of_title(L"Sezen Aksu - Gidiyorum") >= 0; }, 2000))
        << "the folder's watch listed the user's copy, as its own";
    EXPECT_EQ(g_app.jam_temp_file_count, 1);
    stop_playback();
}

TEST_F(JamFetchTest, AFailedFetchLeavesTheTitleForTheDownloadButton) {
    in_room(L"Kay\u0131p Par\u00e7a", L"fail0000001", 0);
    start_jam_fetch();
    ASSERT_TRUE(wait_fetch(30000));
    pump(50);
    EXPECT_STREQ(notice().c_str(), L"\u26a0 Otomatik indirilemedi \u2022 Sa\u011fdaki '\u0130ndir' d\u00fc\u011fmesini kullan");
    EXPECT_STREQ(jam_notice_second_line(), L"Kay\u0131p Par\u00e7a");
    EXPECT_EQ(g_app.current_index, -1);

    // Without a downloader the notice says what is missing, keeping the title as well.
    MissingDownloader missing;
    start_jam_fetch();
    ASSERT_TRUE(wait_fetch(30000));
    pump(50);
    EXPECT_STREQ(notice().c_str(), L"\u26a0 yt-dlp.exe bulunamad\u0131 \u2022 Nelvo.exe'nin yan\u0131na koy");
    EXPECT_STREQ(jam_notice_second_line(), L"Kay\u0131p Par\u00e7a");
}

TEST_F(JamFetchTest, ATrackTheRoomNoLongerWantsIsNotPlayedAndTheNewOneIsFetched) {
    Catalogue titles({{L"abcDEF12345", L"Eski \u015eark\u0131"}, {L"Xk2Lm9Pq0Rs", L"Yeni \u015eark\u0131"}});
    in_room(L"Eski \u015eark\u0131", L"abcDEF12345", 0);
    start_jam_fetch();
    // The room moved on while the first fetch ran.
    wstr_copy(g_jam_wanted.track.title, L"Yeni \u015eark\u0131");
    wstr_copy(g_jam_wanted.track.video_id, L"Xk2Lm9Pq0Rs");
    ASSERT_TRUE(pump_until([] { return title_index(L"Yeni \u015eark\u0131") >= 0; }, 60000));
    ASSERT_TRUE(wait_fetch(30000));
    pump(50);
    int wanted = index_of_title(L"Yeni \u015eark\u0131");
    EXPECT_EQ(g_app.current_index, wanted) << "the track the room plays now";
    EXPECT_FALSE(player_is_playing()) << "the room is paused";
    EXPECT_STREQ(notice().c_str(), L"\u2713 Otomatik indirildi \u2022 Ortak duraklatmada haz\u0131r");
    stop_playback();
}

TEST_F(JamFetchTest, AFetchThatEndsAfterLeavingOnlyForgetsTheTrack) {
    in_room(L"Bir \u015eark\u0131", L"dQw4w9WgXcQ", 1);
    start_jam_fetch();
    jam_close_silently();
    ASSERT_TRUE(wait_fetch(30000));
    pump(50);
    EXPECT_EQ(g_app.current_index, -1);
    EXPECT_EQ(g_jam_wanted.track.title[0], 0);
    EXPECT_EQ(g_jam_wanted.track.video_id[0], 0);
}

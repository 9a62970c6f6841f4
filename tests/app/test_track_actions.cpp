// Track commands through the real window: removing and deleting with the playing track in
// the way, importing playlists into the download queue, and cleaning up after a Jam.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/file_deletion.h"
#include "app/main_window.h"
#include "app/library_scan.h"
#include "app/library_watch.h"
#include "base/messages.h"
#include "library/scan_worker.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "app/track_actions.h"
#include "audio_support.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "test_support.h"
#include "window_fixture.h"

namespace {

struct ActionsTest : MainWindowTest {
    std::vector<std::wstring> paths;

    void open_with_tones(int n) {
        use_music_folder();
        open_window();
        SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
        // The tracks are added by hand below, in their order: the folder's watch would add
        // them too, and bring back a row a test takes out before it reported them.
        library_watch_follow(L"");
        static const wchar_t* NAMES[] = {L"Tarkan - Kuzu Kuzu", L"Duman - Bu Ak\u015fam", L"Manga - We Could Be The Same",
                                         L"Gripin - Ac\u0131 Veriyor", L"Teoman - Papatya", L"Ezhel - Geceler"};
        for (int i = 0; i < n; i++) {
            std::wstring path = music + L"\\" + NAMES[i % 6] + L".wav";
            write_tone_wav(path, {{330.0 + 55 * i, 30000}});  // longer than the test runs
            paths.push_back(path);
            track_list_add(path.c_str(), 0);
        }
        apply_filter();
    }

    int index_of(const std::wstring& path) {
        for (int i = 0; i < track_list_count(); i++)
            if (path == track_list_at(i)->path) return i;
        return -1;
    }
};

// Answers the next message box with this caption, from another thread, as a user would.
struct DialogAnswer {
    std::atomic<int> done{0};
    std::thread thread;
    DialogAnswer(const wchar_t* caption, int button) {
        std::wstring c = caption;
        thread = std::thread([this, c, button] {
            for (int i = 0; i < 400 && !done.load(); i++) {
                HWND box = FindWindowW(L"#32770", c.c_str());
                if (box) {
                    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                    done.store(1);
                    return;
                }
                Sleep(25);
            }
        });
    }
    ~DialogAnswer() {
        done.store(1);
        thread.join();
    }
};

TEST_F(ActionsTest, RemovingAndDeletingAroundThePlayingTrack) {
    open_with_tones(6);
    play_track(4, 0, 0, 0);
    ASSERT_TRUE(player_is_playing());

    // Multi-selection: mark two rows above the playing one and one below, then remove.
    g_app.selected_index = 1;
    SendMessageW(window, WM_COMMAND, CMD_MULTI_SELECT, 0);
    EXPECT_TRUE(g_app.multi_select_mode);
    EXPECT_TRUE(g_app.multi_selected[1]);
    g_app.multi_selected[2] = 1;
    g_app.multi_selected[5] = 1;
    SendMessageW(window, WM_COMMAND, CMD_REMOVE_FROM_LIST, 0);
    EXPECT_EQ(track_list_count(), 3);
    EXPECT_FALSE(g_app.multi_select_mode);
    EXPECT_EQ(g_app.current_index, 2) << "the playing track moved up by two";
    EXPECT_EQ(index_of(paths[4]), 2);
    EXPECT_TRUE(player_is_playing());
    EXPECT_TRUE(file_exists(paths[1])) << "removal from the list leaves the file";

    // The Delete key without multi-selection removes the selected row only.
    g_app.selected_index = 0;
    SendMessageW(window, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(track_list_count(), 2);
    EXPECT_EQ(g_app.current_index, 1);
    EXPECT_TRUE(player_is_playing());

    // Deleting from the disk: No keeps everything; Yes on a track that is not playing
    // removes the row and the file.
    int other = g_app.current_index == 0 ? 1 : 0;
    std::wstring other_path = track_list_at(other)->path;
    g_app.selected_index = other;
    {
        DialogAnswer no(L"Cihazdan Sil", IDNO);
        SendMessageW(window, WM_COMMAND, CMD_DELETE_FROM_DISK, 0);
    }
    EXPECT_EQ(track_list_count(), 2);
    EXPECT_TRUE(file_exists(other_path));
    {
        DialogAnswer yes(L"Cihazdan Sil", IDYES);
        SendMessageW(window, WM_COMMAND, CMD_DELETE_FROM_DISK, 0);
    }
    EXPECT_EQ(track_list_count(), 1);
    EXPECT_FALSE(file_exists(other_path));
    EXPECT_EQ(g_app.current_index, 0);
    EXPECT_TRUE(player_is_playing());

    // The playing track: playback stops and the row goes. (Wine's media pipeline keeps the
    // file of a track it played open until the process ends, so the file itself cannot be
    // watched disappearing here; the track above shows the deletion.)
    g_app.selected_index = 0;
    {
        DialogAnswer yes(L"Cihazdan Sil", IDYES);
        SendMessageW(window, WM_COMMAND, CMD_DELETE_FROM_DISK, 0);
    }
    EXPECT_EQ(track_list_count(), 0);
    EXPECT_EQ(g_app.current_index, -1);
    EXPECT_FALSE(player_is_playing());
    EXPECT_EQ(g_app.selected_index, -1) << "the selection stays inside the list";
}

TEST_F(ActionsTest, ImportsQueueWhatIsMissingOnce) {
    open_with_tones(3);
    TempDir lists;
    // Everything known locally: a notice, no download.
    std::string local = "#EXTM3U\r\n#EXTINF:-1,Tarkan - Kuzu Kuzu\r\nC:\\nowhere\\kuzu.mp3\r\n"
                        "#EXTINF:-1,Duman - Bu Ak\xc5\x9f" "am\r\nC:\\nowhere\\bu.mp3\r\n";
    write_file(lists.file(L"local.m3u8"), local);
    ASSERT_TRUE(import_playlist(lists.file(L"local.m3u8").c_str()));
    EXPECT_EQ(track_list_count(), 3) << "nothing added: both are in the library";
    EXPECT_EQ(g_app.banner.state, BANNER_SHARED);
    EXPECT_EQ(g_app.banner.percent, 100);
    EXPECT_STREQ(g_app.banner.title, L"\u2713 OYNATMA L\u0130STES\u0130 \u0130\u00c7E AKTARILDI");
    EXPECT_STREQ(g_app.banner.subtitle, L"2 par\u00e7a yerel kitapl\u0131\u011f\u0131n\u0131zdan an\u0131nda y\u00fcklendi");
    EXPECT_NE(g_app.banner.hide_at, 0u);
    EXPECT_EQ(g_shared_queue.queued, 0);

    // Missing tracks are queued and the worker starts. Its first entry is one the
    // downloader never finishes ("hang" in the id), so the rest keep waiting.
    std::string missing = "#EXTM3U\r\n#EXTNELVO:YTID=hang0000001\r\n#EXTINF:-1,Sezen Aksu - Gidiyorum\r\nC:\\x\\a.mp3\r\n"
                          "#EXTNELVO:YTID=dQw4w9WgXcQ\r\n#EXTINF:-1,Athena - Holigan\r\nC:\\x\\b.mp3\r\n"
                          "https://youtu.be/Xk2Lm9Pq0Rs\r\n";
    write_file(lists.file(L"missing.m3u8"), missing);
    ASSERT_TRUE(import_playlist(lists.file(L"missing.m3u8").c_str()));
    EXPECT_EQ(g_shared_queue.queued, 3);
    EXPECT_EQ(g_shared_queue.total, 3);
    EXPECT_STREQ(g_shared_queue.entries[0].video_id, L"hang0000001");
    EXPECT_STREQ(g_app.banner.title, L"PAYLA\u015eILAN L\u0130STE Y\u00dcKLEN\u0130YOR  \u2022  1 / 3 Par\u00e7a");
    EXPECT_STREQ(g_app.banner.subtitle, L"Sezen Aksu - Gidiyorum");
    EXPECT_EQ(g_app.banner.hide_at, 0u);
    EXPECT_EQ(g_shared_queue.running.load(), 1);
    auto taken = [] {
        EnterCriticalSection(&g_shared_queue.lock);
        int n = g_shared_queue.taken;
        LeaveCriticalSection(&g_shared_queue.lock);
        return n;
    };
    ASSERT_TRUE(pump_until([&] { return taken() == 1; }, 10000));

    // While it runs, a second import adds only what is not waiting already (same title in
    // other letters, same id under another title) and raises the total.
    std::string more = "#EXTM3U\r\n#EXTINF:-1,athena - holigan\r\nC:\\x\\c.mp3\r\n"
                       "#EXTNELVO:YTID=Xk2Lm9Pq0Rs\r\n#EXTINF:-1,Another Title\r\nC:\\x\\d.mp3\r\n"
                       "#EXTINF:-1,Gripin - Beni Unutma\r\nC:\\x\\e.mp3\r\n";
    write_file(lists.file(L"more.nelvo"), more);
    ASSERT_TRUE(import_playlist(lists.file(L"more.nelvo").c_str()));
    EXPECT_EQ(g_shared_queue.queued, 4);
    EXPECT_EQ(g_shared_queue.total, 4);
    EXPECT_STREQ(g_shared_queue.entries[3].title, L"Gripin - Beni Unutma");

    // Stopping ends the hanging download; the worker says so and leaves.
    g_shared_queue.stop.exchange(1);
    ASSERT_TRUE(pump_until([] { return g_shared_queue.running.load() == 0; }, 10000));
    pump(50);
    EXPECT_STREQ(g_app.banner.title, L"PAYLA\u015eILAN L\u0130STE \u0130ND\u0130RMES\u0130 DURDURULDU");
    EXPECT_EQ(taken(), 1);

    // Waiting titles are compared letter for letter ignoring case, as matching compares them,
    // not by the rules of a language.
    SharedQueue* q = new SharedQueue();
    InitializeCriticalSection(&q->lock);
    WantedTrack two[2] = {};
    wstr_copy(two[0].title, L"Stra\u00dfe");
    wstr_copy(two[1].title, L"STRASSE");
    EXPECT_EQ(queue_wanted_tracks(q, two, 2), 2);
    WantedTrack again = {};
    wstr_copy(again.title, L"stra\u00dfe");
    EXPECT_EQ(queue_wanted_tracks(q, &again, 1), 2) << "the same title in other letters waits once";
    DeleteCriticalSection(&q->lock);
    delete q;
}

TEST_F(ActionsTest, ABoxActsOnWhatItAskedAboutAndDeletionNeverWaits) {
    open_with_tones(4);
    g_settings.repeat = 0;
    play_track(2, 0, 0, 0);
    g_app.selected_index = 0;
    // The playing track ends while the question is open: the queue and the selection move on.
    PostMessageW(window, MSG_TRACK_ENDED, (WPARAM)g_player.generation.load(), 0);
    {
        DialogAnswer yes(L"Cihazdan Sil", IDYES);
        SendMessageW(window, WM_COMMAND, CMD_DELETE_FROM_DISK, 0);
    }
    EXPECT_FALSE(file_exists(paths[0])) << "the file asked about is deleted";
    EXPECT_EQ(index_of(paths[0]), -1) << "and its row removed";
    EXPECT_EQ(track_list_count(), 3);
    ASSERT_NE(index_of(paths[3]), -1) << "the row the selection moved to stays";
    EXPECT_EQ(g_app.current_index, index_of(paths[3]));
    EXPECT_TRUE(player_is_playing());

    // A Jam download whose file something still holds open (as a player winding down does):
    // the window does not wait for it; a timer deletes it once it is let go.
    HANDLE held = CreateFileW(paths[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    wstr_copy(g_app.jam_temp_files[0], paths[1].c_str());
    g_app.jam_temp_file_count = 1;
    g_settings.jam_keep_downloads = 0;
    delete_jam_downloads();
    EXPECT_EQ(index_of(paths[1]), -1);
    EXPECT_TRUE(file_exists(paths[1]));
    EXPECT_EQ(pending_deletion_count(), 1);
    pump(200);
    CloseHandle(held);
    EXPECT_TRUE(pump_until([&] { return !file_exists(paths[1]); }, 2000)) << "deleted once let go";
    EXPECT_EQ(pending_deletion_count(), 0);
}

TEST_F(ActionsTest, JamDownloadsGoAndTheIndicesFollow) {
    open_with_tones(5);
    // Tracks 1 and 3 came with a Jam; track 4 plays, track 2 is selected.
    wstr_copy(g_app.jam_temp_files[0], paths[1].c_str());
    wstr_copy(g_app.jam_temp_files[1], paths[3].c_str());
    g_app.jam_temp_file_count = 2;
    play_track(4, 0, 0, 0);
    g_app.selected_index = 2;
    g_settings.jam_keep_downloads = 1;
    delete_jam_downloads();
    EXPECT_EQ(track_list_count(), 5) << "kept when the user chose to keep them";
    g_settings.jam_keep_downloads = 0;
    delete_jam_downloads();
    EXPECT_EQ(track_list_count(), 3);
    EXPECT_FALSE(file_exists(paths[1]));
    EXPECT_FALSE(file_exists(paths[3]));
    EXPECT_EQ(g_app.current_index, 2);
    EXPECT_EQ(index_of(paths[4]), 2);
    EXPECT_TRUE(player_is_playing()) << "the track that played keeps playing";
    EXPECT_EQ(g_app.selected_index, 1);
    EXPECT_EQ(g_app.jam_temp_file_count, 0);

    // A folder chosen as the music folder replaces the list.
    TempDir other;
    write_tone_wav(other.file(L"Teoman - Renkli R\u00fcyalar Oteli.wav"), {{440, 500}});
    // Chosen while a large folder still arrives one track a batch: nothing of that folder
    // follows into the new list.
    TempDir large;
    for (int i = 0; i < 40; i++) {
        std::wstring album = large.file(L"album " + std::to_wstring(i));
        CreateDirectoryW(album.c_str(), nullptr);
        for (int k = 0; k < 25; k++) write_file(album + L"\\track " + std::to_wstring(k) + L".mp3", "x");
    }
    scan_worker_set_batching(1, 1);
    ::use_music_folder(large.path.c_str());
    MSG batch;  // the first batch alone: the scan's last one is still to come
    for (int waited = 0; !PeekMessageW(&batch, window, MSG_SCAN_BATCH, MSG_SCAN_BATCH, PM_REMOVE) && waited < 5000; waited++)
        Sleep(1);
    DispatchMessageW(&batch);
    scan_worker_set_batching(0, 0);
    ASSERT_EQ(track_list_count(), 1);
    ASSERT_TRUE(library_scan_busy());
    ::use_music_folder(other.path.c_str());
    wait_for_scan();
    pump(100);
    EXPECT_EQ(track_list_count(), 1);
    EXPECT_EQ(g_app.selected_index, 0);
    EXPECT_EQ(g_app.current_index, -1);
    EXPECT_FALSE(player_is_playing());
    Settings saved;
    load_settings(&saved, CONFIG_FILE_NAME);
    EXPECT_EQ(std::wstring(saved.last_folder), other.path);
    TempDir empty;
    ::use_music_folder(empty.path.c_str());
    EXPECT_EQ(track_list_count(), 0);
    EXPECT_EQ(g_app.selected_index, -1);
}

}  // namespace

// The real main window, created in this process on the (virtual) display, driven with the
// messages the system would send; and the real Nelvo.exe started and closed.
#include <gtest/gtest.h>

#include "net/net_support.h"

#include <windows.h>
#include <shlobj.h>

#include <math.h>

#include <string>

#include "acquire/search_window.h"
#include "app/app_state.h"
#include "app/library_watch.h"
#include "app/main_window.h"
#include "app/media_keys.h"
#include "app/media_overlay.h"
#include "app/taskbar.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "audio_support.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "test_support.h"
#include "window_fixture.h"


TEST_F(MainWindowTest, FillsTheListFromTheFolderAndTheCommandLine) {
    use_music_folder();
    write_tone_wav(music + L"\\a.wav", {{440, 20000}});
    write_tone_wav(music + L"\\b.wav", {{550, 300}});
    TempDir other;
    write_file(other.file(L"song.MP3"), "not really audio");
    write_file(other.file(L"list.M3U8"), "#EXTM3U\r\n");
    write_file(other.file(L"notes.txt"), "a file of any kind is added");
    command_line = L"\"nelvo.exe\" \"" + music + L"\" \"" + other.file(L"missing.mp3") + L"\" \"" +
                   other.file(L"list.M3U8") + L"\" \"" + music + L"\\A.WAV\" \"" + other.file(L"song.MP3") + L"\" \"" +
                   other.file(L"notes.txt") + L"\"";
    open_window(0);
    EXPECT_TRUE(IsWindowVisible(window)) << "show-command 0 still shows the window";
    wchar_t cls[64];
    GetClassNameW(window, cls, 64);
    EXPECT_STREQ(cls, L"NelvoNativeClass");
    ASSERT_EQ(track_list_count(), 4);
    EXPECT_EQ(std::wstring(track_list_at(2)->path), other.file(L"song.MP3"));
    EXPECT_EQ(std::wstring(track_list_at(3)->path), other.file(L"notes.txt"));
    // The first audio file given plays, once the library it was given after is in.
    EXPECT_EQ(g_app.current_index, 0);
    EXPECT_EQ(g_app.selected_index, 0);
    EXPECT_TRUE(player_is_playing() && g_app.now_playing);

    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(track_list_count(), 0);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(MainWindowTest, TakesMuziklerBesideTheProgramWithoutAConfiguration) {
    std::wstring umlaut = exe_folder() + L"\\M\u00fczikler";
    std::wstring plain = exe_folder() + L"\\Muzikler";
    if (folder_exists(umlaut.c_str()) || folder_exists(plain.c_str())) GTEST_SKIP() << "a music folder is in the way";
    ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
    write_tone_wav(plain + L"\\x.wav", {{440, 200}});
    open_window();
    EXPECT_EQ(std::wstring(g_settings.last_folder), plain);
    EXPECT_EQ(track_list_count(), 1);
    Settings saved;
    load_settings(&saved, CONFIG_FILE_NAME);
    EXPECT_EQ(std::wstring(saved.last_folder), plain);
    DestroyWindow(window);
    remove_tree(plain);
}

TEST_F(MainWindowTest, NoFolderAtAllLeavesTheListEmptyAndCreatesNothing) {
    std::wstring umlaut = exe_folder() + L"\\M\u00fczikler";
    if (folder_exists(umlaut.c_str()) || folder_exists((exe_folder() + L"\\Muzikler").c_str()))
        GTEST_SKIP() << "a music folder is in the way";
    open_window();
    EXPECT_EQ(track_list_count(), 0);
    EXPECT_FALSE(folder_exists(umlaut.c_str()));
    EXPECT_FALSE(file_exists(work.file(L"config.json")));
}

TEST_F(MainWindowTest, SettingsChangesAreSavedAtOnce) {
    use_music_folder();
    std::string text = read_file(work.file(L"config.json"));
    text.replace(text.find("\"repeat\": 0"), 11, "\"repeat\": 5");
    text.replace(text.find("\"volume\": 80"), 12, "\"volume\": 0");
    write_file(work.file(L"config.json"), text);
    open_window();
    EXPECT_EQ(player_get_volume(), 0);
    toggle_mute();
    EXPECT_EQ(player_get_volume(), 80) << "unmute with no volume recorded gives 80";
    player_set_volume(35);
    toggle_mute();
    EXPECT_EQ(player_get_volume(), 0);
    toggle_mute();
    EXPECT_EQ(player_get_volume(), 35);
    cycle_repeat();
    toggle_shuffle();
    change_volume(+5);
    Settings saved;
    load_settings(&saved, CONFIG_FILE_NAME);
    EXPECT_EQ(saved.repeat, 0) << "(5 + 1) modulo 3";
    EXPECT_EQ(saved.shuffle, 1);
    EXPECT_EQ(saved.volume, 40);
    EXPECT_EQ(g_app.last_volume, 40);
}

TEST_F(MainWindowTest, TimersFollowActivityAndShutdownSparesABusyWorkerLock) {
    use_music_folder();
    open_window();
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(g_app.window_active);
    EXPECT_EQ(g_app.tick_period, 0);
    g_app.banner.hide_at = GetTickCount() + 60000;
    choose_tick_period();
    EXPECT_EQ(g_app.tick_period, 500);
    SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(g_app.tick_period, 200);
    EXPECT_EQ(g_app.back_buffer.dc, nullptr) << "an inactive window gives its back buffer up";
    SendMessageW(window, WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_TRUE(g_app.window_minimized);
    g_app.banner.hide_at = 0;
    choose_tick_period();
    EXPECT_EQ(g_app.tick_period, 0);

    // A banner whose time has passed is hidden by the housekeeping tick.
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(680, 700));
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    banner_show(BANNER_SHARED, 100, L"x", L"y", 300);
    EXPECT_EQ(g_app.tick_period, 0) << "the banner alone does not choose the period";
    choose_tick_period();
    EXPECT_EQ(g_app.tick_period, 500);
    EXPECT_TRUE(pump_until([] { return g_app.banner.state == BANNER_HIDDEN; }, 3000));

    // A worker still running when the window goes keeps a working lock.
    g_shared_queue.running.store(1);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(TryEnterCriticalSection(&g_shared_queue.lock));
    LeaveCriticalSection(&g_shared_queue.lock);
    g_shared_queue.running.store(0);
}

TEST_F(MainWindowTest, SharedPlaylistMessagesDriveTheBanner) {
    use_music_folder();
    open_window();
    g_shared_queue.total = 3;
    g_shared_queue.done = 0;
    WantedTrack* wanted = (WantedTrack*)calloc(1, sizeof(WantedTrack));
    wstr_copy(wanted->title, L"Sezen Aksu - Gidiyorum");
    SendMessageW(window, MSG_SHARED_PROGRESS, 40, (LPARAM)wanted);
    EXPECT_EQ(g_app.banner.state, BANNER_SHARED);
    EXPECT_STREQ(g_app.banner.subtitle, L"Sezen Aksu - Gidiyorum");
    EXPECT_STREQ(g_app.banner.title, L"PAYLA\u015eILAN L\u0130STE Y\u00dcKLEN\u0130YOR  \u2022  1 / 3 Par\u00e7a");
    // Download progress of the search window leaves the shared banner alone.
    SendMessageW(window, MSG_DOWNLOAD_PROGRESS, 50, 0);
    EXPECT_EQ(g_app.banner.state, BANNER_SHARED);
    write_tone_wav(music + L"\\new.wav", {{440, 200}});
    wchar_t* named = (wchar_t*)malloc(260 * sizeof(wchar_t));
    wstr_copy(named, 260, (music + L"\\new.wav").c_str());
    SendMessageW(window, MSG_SHARED_ITEM_DONE, 1, (LPARAM)named);
    EXPECT_EQ(g_shared_queue.done, 1);
    EXPECT_EQ(track_list_count(), 1);
    SendMessageW(window, MSG_SHARED_FINISHED, 1, 1);
    EXPECT_STREQ(g_app.banner.title, L"PAYLA\u015eILAN L\u0130STE \u0130ND\u0130RMES\u0130 DURDURULDU");
    EXPECT_STREQ(g_app.banner.subtitle, L"1 par\u00e7a kitapl\u0131\u011f\u0131n\u0131za eklendi");
    EXPECT_NE(g_app.banner.hide_at, 0u);
    SendMessageW(window, MSG_SHARED_FINISHED, 2, 0);
    EXPECT_EQ(g_app.banner.percent, 100);
    EXPECT_STREQ(g_app.banner.subtitle, L"2 eksik par\u00e7a otomatik indirildi ve listeye eklendi");
    g_app.banner.state = BANNER_HIDDEN;
    g_app.banner.hide_at = 0;
    SendMessageW(window, MSG_DOWNLOAD_PROGRESS, 30, 0);
    EXPECT_EQ(g_app.banner.state, BANNER_DOWNLOAD);
    EXPECT_EQ(g_app.banner.percent, 30);
    EXPECT_STREQ(g_app.banner.subtitle, L"Y\u00fcksek kaliteli ses dosyas\u0131 haz\u0131rlan\u0131yor...");
    SendMessageW(window, MSG_DOWNLOAD_PROGRESS, (WPARAM)-1, 0);
    EXPECT_EQ(g_app.banner.state, BANNER_HIDDEN);
}

TEST_F(MainWindowTest, DownloadDonePutsNewTracksOnTop) {
    use_music_folder();
    write_tone_wav(music + L"\\a.wav", {{440, 200}});
    write_tone_wav(music + L"\\b.wav", {{550, 200}});
    open_window();
    g_app.current_index = 1;
    RECT box;
    GetWindowRect(g_app.search_box, &box);
    int wide = box.right - box.left;
    SetWindowTextW(g_app.search_box, L"zz");
    ASSERT_TRUE(g_app.filter.active);
    write_tone_wav(music + L"\\Artist - New Song [Xk2Lm9Pq0Rs].wav", {{660, 200}});
    SendMessageW(window, MSG_DOWNLOAD_DONE, 0, 0);
    ASSERT_EQ(track_list_count(), 3);
    EXPECT_FALSE(g_app.filter.active) << "the filter is emptied to show the new track";
    GetWindowRect(g_app.search_box, &box);
    EXPECT_EQ(box.right - box.left, wide) << "and the emptied box gets its full width back";
    EXPECT_STREQ(track_list_at(0)->title, L"New Song");
    EXPECT_STREQ(track_list_at(0)->artist, L"Artist");
    EXPECT_EQ(g_app.current_index, 2);
    EXPECT_EQ(g_app.selected_index, 0);
    EXPECT_EQ(g_app.banner.state, BANNER_DOWNLOAD);
    EXPECT_STREQ(g_app.banner.title, L"\u2713 M\u00dcZ\u0130K \u0130ND\u0130R\u0130LD\u0130 (%100)");
    EXPECT_STREQ(g_app.banner.subtitle, L"Artist - New Song");

    // Above: a downloader that named no file has the folder listed again. One that names
    // its file has that file added, and only that, however large the library.
    for (int i = 0; i < 50000; i++) {
        wchar_t path[80];
        wstr_format(path, 80, L"%ls\\Sanat\u00e7\u0131 %d\\Par\u00e7a %d.mp3", music.c_str(), i / 20, i);
        track_list_add_titled(path, path + music.size() + 1, 0);
    }
    write_tone_wav(music + L"\\put there meanwhile.wav", {{440, 200}});
    std::wstring named = music + L"\\Duman - Bu Ak\u015fam.wav";
    write_tone_wav(named, {{440, 200}});
    wstr_copy(g_search.download_path, named.c_str());
    wstr_copy(g_search.download_target, music.c_str());
    SendMessageW(window, MSG_DOWNLOAD_DONE, 0, 0);
    ASSERT_EQ(track_list_count(), 50004);
    EXPECT_EQ(track_list_at(0)->path, named);
    EXPECT_EQ(track_list_find_path((music + L"\\put there meanwhile.wav").c_str()), -1);
    g_search.download_path[0] = 0;
}

TEST_F(MainWindowTest, TracksThatCannotPlayAreSkippedUntilAllFailed) {
    use_music_folder();
    // Files deleted behind the program's back after the scan listed them.
    write_file(music + L"\\a-gone.mp3", "x");
    write_tone_wav(music + L"\\b-good.wav", {{550, 3000}});
    write_file(music + L"\\c-gone.mp3", "x");
    open_window();
    ASSERT_EQ(track_list_count(), 3);
    // Where nothing reports the deletions (a share the system does not watch).
    library_watch_follow(L"");
    DeleteFileW((music + L"\\a-gone.mp3").c_str());
    DeleteFileW((music + L"\\c-gone.mp3").c_str());
    int broken = -1, good = -1;
    for (int i = 0; i < 3; i++) {
        if (wcsstr(track_list_at(i)->path, L"good")) good = i;
        else if (broken < 0) broken = i;
    }
    g_settings.repeat = 1;
    g_settings.shuffle = 0;
    long long mark = audio_capture_size();
    play_track(broken, 0, 0, 0);
    ASSERT_TRUE(pump_until([&] { return g_app.current_index == good; }, 30000)) << "the queue moves on";
    EXPECT_EQ(g_app.banner.state, BANNER_DOWNLOAD);
    EXPECT_STREQ(g_app.banner.title, L"\u26a0 PAR\u00c7A \u00c7ALINAMADI");
    pump(700);
    EXPECT_GT(audio_capture_since(mark).sound_ms, 300);
    stop_playback();

    // Nothing in the list can play: it stops after one round instead of spinning.
    track_list_remove(good);
    play_track(0, 0, 0, 0);
    ASSERT_TRUE(pump_until(
        [] { return !wcscmp(g_app.banner.subtitle, L"Listedeki hi\u00e7bir par\u00e7a a\u00e7\u0131lamad\u0131"); }, 8000));
    unsigned settled = g_player.generation.load();
    pump(1000);
    EXPECT_EQ(g_player.generation.load(), settled) << "no further opening";
    EXPECT_FALSE(player_is_playing());
    EXPECT_FALSE(player_has_track());
}

// The track tones heard, one per run, in order. A stretch that spans the change from one
// track to the next reads as a mixture near none of the tones, and is passed over.
static std::vector<int> tone_runs(long long mark, const int* tones, int count) {
    std::vector<int> runs;
    for (double f : audio_capture_tones_since(mark, 100)) {
        for (int k = 0; k < count; k++) {
            if (fabs(f - tones[k]) > 20) continue;
            if (runs.empty() || runs.back() != tones[k]) runs.push_back(tones[k]);
        }
    }
    return runs;
}

// The track that follows is prepared before the end and continues the same sound stream:
// between the two tones there is no silence a listener could hear.
TEST_F(MainWindowTest, TheNextTrackFollowsWithoutAGap) {
    use_music_folder();
    write_tone_wav(music + L"\\a.wav", {{440, 4000}});
    write_tone_wav(music + L"\\b.wav", {{660, 4000}});
    open_window();
    ASSERT_EQ(track_list_count(), 2);
    g_settings.repeat = 0;
    audio_capture_reset();
    play_track(0, 0, 0, 0);
    ASSERT_TRUE(pump_until([] { return g_app.current_index == 1; }, 15000));
    EXPECT_TRUE(player_is_playing());
    EXPECT_STREQ(g_player.path, track_list_at(1)->path);
    ASSERT_TRUE(pump_until([] { return !g_player.active; }, 15000)) << "the list ends after the second";
    const int tones[] = {440, 660};
    std::vector<int> runs = tone_runs(0, tones, 2);
    EXPECT_EQ(runs.size(), 2u);
    std::vector<double> silences = audio_capture_silences_inside();
    ASSERT_EQ(silences.size(), 1u) << "both tracks in one stream";
    EXPECT_LE(silences[0], 20.0) << "milliseconds of silence between the tracks";
}

TEST_F(MainWindowTest, TheQueueAdvancesByTheRepeatRules) {
    use_music_folder();
    const int freq[] = {440, 550, 660};
    const wchar_t* names[] = {L"a.wav", L"b.wav", L"c.wav"};
    for (int i = 0; i < 3; i++) write_tone_wav(music + L"\\" + names[i], {{(double)freq[i], 700}});
    open_window();
    ASSERT_EQ(track_list_count(), 3);
    int in_list[3];  // frequency of each list row: the folder's order is the file system's
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 3; k++)
            if (wcsstr(track_list_at(i)->path, names[k])) in_list[i] = freq[k];

    // Repeat 0: every track once, from the first, then the player stops on the last.
    g_settings.repeat = 0;
    audio_capture_reset();
    play_track(0, 0, 0, 0);
    ASSERT_TRUE(pump_until([] { return g_app.current_index == 2 && !g_player.active; }, 15000));
    EXPECT_EQ(tone_runs(0, freq, 3), (std::vector<int>{in_list[0], in_list[1], in_list[2]}));
    play_next();
    EXPECT_EQ(g_app.current_index, 2) << "without repeat the next button does not wrap";
    EXPECT_FALSE(g_player.active);
    // Play after the end: the last track sounds again from its start.
    long long ended = audio_capture_size();
    SendMessageW(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(player_is_playing());
    pump(600);
    EXPECT_GT(audio_capture_since(ended).sound_ms, 300);
    EXPECT_EQ(tone_runs(ended, freq, 3), (std::vector<int>{in_list[2]}));
    stop_playback();

    // Repeat 1: the end of the last track starts the first.
    g_settings.repeat = 1;
    long long mark = audio_capture_size();
    play_track(2, 0, 0, 0);
    ASSERT_TRUE(pump_until([] { return g_app.current_index == 0; }, 8000));
    stop_playback();
    std::vector<int> runs = tone_runs(mark, freq, 3);
    ASSERT_GE(runs.size(), 1u);
    EXPECT_EQ(runs[0], in_list[2]);
    EXPECT_EQ(g_app.current_index, 0) << "a stop keeps the current track";

    // Repeat 2: the same track again; the next button still moves on.
    g_settings.repeat = 2;
    mark = audio_capture_size();
    play_track(1, 0, 0, 0);
    pump(2500);
    EXPECT_EQ(g_app.current_index, 1);
    EXPECT_GT(audio_capture_since(mark).sound_ms, 1000) << "the track played more than once";
    EXPECT_EQ(tone_runs(mark, freq, 3), (std::vector<int>{in_list[1]}));
    play_next();
    EXPECT_EQ(g_app.current_index, 2);
    play_previous();
    play_previous();
    play_previous();
    EXPECT_EQ(g_app.current_index, 2) << "previous from the first wraps to the last";

    // Shuffle never plays the current track twice in a row.
    g_settings.repeat = 1;
    g_settings.shuffle = 1;
    int last = g_app.current_index;
    for (int i = 0; i < 20; i++) {
        play_next();
        EXPECT_NE(g_app.current_index, last);
        last = g_app.current_index;
    }
    stop_playback();
}

TEST_F(MainWindowTest, SpaceStartsTheSelectedTrackAndPauses) {
    use_music_folder();
    write_tone_wav(music + L"\\a.wav", {{440, 3000}});
    write_tone_wav(music + L"\\b.wav", {{550, 3000}});
    open_window();
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    g_app.selected_index = 1;
    toggle_play();
    EXPECT_EQ(g_app.current_index, 1);
    EXPECT_TRUE(player_is_playing());
    EXPECT_TRUE(g_app.now_playing);
    EXPECT_STREQ(g_app.now_playing_title, track_list_at(1)->title);
    EXPECT_EQ(g_app.tick_period, 500) << "the position display runs";
    toggle_play();
    EXPECT_FALSE(player_is_playing());
    EXPECT_FALSE(g_app.now_playing);
    EXPECT_EQ(g_app.tick_period, 0) << "paused and idle: no timer";
    toggle_play();
    EXPECT_TRUE(player_is_playing());
    EXPECT_EQ(g_app.tick_period, 500) << "resumed: the time and seek bar move again";

    // A track end that arrives after the user picked another track belongs to the old one.
    unsigned old_opening = g_player.generation.load();
    play_track(0, 0, 0, 0);
    SendMessageW(window, MSG_TRACK_ENDED, (WPARAM)old_opening, 0);
    EXPECT_EQ(g_app.current_index, 0) << "a stale end skips nothing";
    SendMessageW(window, MSG_TRACK_ENDED, (WPARAM)g_player.generation.load(), 0);
    EXPECT_EQ(g_app.current_index, 1) << "the current track's end moves on";

    stop_playback();
    g_app.current_index = -1;
    toggle_play_media_key();
    EXPECT_EQ(g_app.current_index, 0) << "the media key starts the first track";
    stop_playback();
}

TEST(NelvoExe, StartsAndEndsCleanlyOnClose) {
    TempDir work, installed;
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring built = exe;
    // The build's copy whose links go to loopback, beside the tests.
    built = built.substr(0, built.rfind(L'\\')) + L"\\loopback\\Nelvo.exe";
    // A copy, so that what the program keeps beside itself and in APPDATA stays here.
    std::wstring path = installed.file(L"Nelvo.exe");
    ASSERT_TRUE(CopyFileW(built.c_str(), path.c_str(), FALSE));
    CreateDirectoryW(installed.file(L"roaming").c_str(), nullptr);
    SetEnvironmentVariableW(L"APPDATA", installed.file(L"roaming").c_str());
    std::wstring cmd = L"\"" + path + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, work.path.c_str(), &si, &pi));
    HWND found = wait_for_main_window(pi.dwProcessId, 20000);
    ASSERT_NE(found, nullptr) << "Nelvo.exe made no main window";
    wchar_t title[32];
    GetWindowTextW(found, title, 32);
    EXPECT_STREQ(title, L"NELVO");
    Sleep(500);
    PostMessageW(found, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 15000), WAIT_OBJECT_0);
    DWORD code = 1234;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // Nothing but the settings file may appear in the working folder.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((work.path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            EXPECT_EQ(name, L"config.json");
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    // The identity made at the first start: friends.json beside the program, both files in
    // the per-user folder.
    std::string friends = read_file(installed.file(L"friends.json"));
    EXPECT_EQ(friends.find("{\n  \"my_tag\": \""), 0u) << friends;
    EXPECT_EQ(read_file(installed.file(L"roaming\\Nelvo\\friends.json")), friends);
    EXPECT_TRUE(file_exists(installed.file(L"roaming\\Nelvo\\identity.tag")));
}

// A drop of the given paths, as the shell hands it over.
TEST_F(MainWindowTest, KeysMediaKeysAndDroppedFiles) {
    use_music_folder();
    open_window();
    EXPECT_EQ(track_list_count(), 0);
    TempDir dropped;
    CreateDirectoryW(dropped.file(L"album").c_str(), nullptr);
    write_tone_wav(dropped.file(L"album\\tarkan-kuzu-kuzu.wav"), {{440, 2000}});
    write_tone_wav(dropped.file(L"album\\ezhel-geceler.wav"), {{550, 2000}});
    write_file(dropped.file(L"cover.jpg"), "jpeg");
    write_file(dropped.file(L"list.nelvo"), "#EXTM3U\r\n");
    write_file(dropped.file(L"SHARED.NELVO"), "#EXTM3U\r\n");
    CreateDirectoryW(dropped.file(L"album\\cd 2").c_str(), nullptr);
    write_tone_wav(dropped.file(L"album\\cd 2\\sezen-aksu-gidiyorum.wav"), {{660, 2000}});
    SendMessageW(window, WM_DROPFILES,
                 (WPARAM)make_drop({dropped.file(L"album"), dropped.file(L"cover.jpg"), dropped.file(L"list.nelvo"),
                                    dropped.file(L"gone.mp3"), dropped.file(L"cover.jpg"), dropped.file(L"SHARED.NELVO")}),
                 0);
    wait_for_scan();
    ASSERT_EQ(track_list_count(), 4) << "the folder scanned with its subfolder, the picture added once, the playlists not tracks";
    EXPECT_EQ(g_app.selected_index, 0);
    EXPECT_NE(std::wstring(g_settings.last_folder), dropped.file(L"album")) << "a dropped folder is not the music folder";

    int ezhel = -1;
    for (int i = 0; i < 4; i++)
        if (!wcscmp(track_list_at(i)->title, L"Geceler") && !wcscmp(track_list_at(i)->artist, L"Ezhel")) ezhel = i;
    ASSERT_GE(ezhel, 0);
    SendMessageW(window, WM_KEYDOWN, 'G', 0);
    EXPECT_EQ(g_app.selected_index, ezhel) << "type-ahead";
    SendMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(g_app.current_index, ezhel);
    EXPECT_TRUE(player_is_playing());
    SendMessageW(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_FALSE(player_is_playing());
    SendMessageW(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(player_is_playing());
    int volume = player_get_volume();
    SendMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(player_get_volume(), volume - 5);
    SendMessageW(window, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(player_get_volume(), volume);

    g_settings.repeat = 1;
    g_settings.shuffle = 0;
    int before = g_app.current_index;
    EXPECT_EQ(SendMessageW(window, WM_APPCOMMAND, (WPARAM)window, MAKELPARAM(0, APPCOMMAND_MEDIA_NEXTTRACK)), TRUE);
    EXPECT_EQ(g_app.current_index, (before + 1) % 3);
    SendMessageW(window, WM_APPCOMMAND, (WPARAM)window, MAKELPARAM(0, APPCOMMAND_MEDIA_PREVIOUSTRACK));
    EXPECT_EQ(g_app.current_index, before);
    SendMessageW(window, WM_APPCOMMAND, (WPARAM)window, MAKELPARAM(0, APPCOMMAND_MEDIA_STOP));
    EXPECT_FALSE(player_is_playing());
    EXPECT_EQ(g_app.current_index, before);
    SendMessageW(window, WM_APPCOMMAND, (WPARAM)window, MAKELPARAM(0, APPCOMMAND_MEDIA_PLAY_PAUSE));
    EXPECT_TRUE(player_is_playing());
    // No system media overlay under Wine ("class not registered"): the program goes on without
    // it, and the media keys pressed while another window has the focus arrive as hot keys.
    EXPECT_FALSE(media_overlay_active());
    EXPECT_EQ(media_keys_register(window), 4) << "all four taken (none held by another program here)";
    SendMessageW(window, WM_HOTKEY, HOTKEY_NEXT, 0);
    EXPECT_EQ(g_app.current_index, (before + 1) % 3);
    SendMessageW(window, WM_HOTKEY, HOTKEY_PREVIOUS, 0);
    EXPECT_EQ(g_app.current_index, before);
    SendMessageW(window, WM_HOTKEY, HOTKEY_PLAY_PAUSE, 0);
    EXPECT_FALSE(player_is_playing());
    SendMessageW(window, WM_HOTKEY, HOTKEY_STOP, 0);
    SendMessageW(window, WM_HOTKEY, HOTKEY_PLAY_PAUSE, 0);
    EXPECT_TRUE(player_is_playing()) << "after a stop the current track starts again";
    // The taskbar's thumbnail buttons do what the player card's buttons do, and every call to
    // the taskbar list succeeds (buttons, the play glyph, a download's progress).
    SendMessageW(window, taskbar_created_message(), 0, 0);
    before = g_app.current_index;
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(THUMB_NEXT, THBN_CLICKED), 0);
    EXPECT_EQ(g_app.current_index, (before + 1) % 3);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(THUMB_PREVIOUS, THBN_CLICKED), 0);
    EXPECT_EQ(g_app.current_index, before);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(THUMB_PLAY_PAUSE, THBN_CLICKED), 0);
    EXPECT_FALSE(player_is_playing());
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(THUMB_PLAY_PAUSE, THBN_CLICKED), 0);
    EXPECT_TRUE(player_is_playing());
    banner_show(BANNER_DOWNLOAD, 40, L"M\u00dcZ\u0130K \u0130ND\u0130R\u0130L\u0130YOR", L"", 0);
    banner_show(BANNER_DOWNLOAD, 100, L"\u2713", L"", 2600);
    EXPECT_EQ(taskbar_failed_calls(), 0);
    // The overlay's buttons arrive as posted messages and act as the player card's do.
    SendMessageW(window, MSG_SMTC_BUTTON, 1, 0);
    EXPECT_FALSE(player_is_playing()) << "pause";
    SendMessageW(window, MSG_SMTC_BUTTON, 1, 0);
    EXPECT_FALSE(player_is_playing()) << "pause again changes nothing";
    SendMessageW(window, MSG_SMTC_BUTTON, 0, 0);
    EXPECT_TRUE(player_is_playing()) << "play";
    before = g_app.current_index;
    SendMessageW(window, MSG_SMTC_BUTTON, 6, 0);
    EXPECT_EQ(g_app.current_index, (before + 1) % 3);

    GetKeyState(VK_CONTROL);
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(window, WM_KEYDOWN, 'S', 0);
    SendMessageW(window, WM_KEYDOWN, 'R', 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    Settings saved;
    load_settings(&saved, CONFIG_FILE_NAME);
    EXPECT_EQ(saved.shuffle, 1);
    EXPECT_EQ(saved.repeat, 2);

    // One audio file dropped plays at once, as one opened from Explorer does.
    write_tone_wav(dropped.file(L"tek.wav"), {{770, 20000}});
    SendMessageW(window, WM_DROPFILES, (WPARAM)make_drop({dropped.file(L"tek.wav")}), 0);
    ASSERT_EQ(track_list_count(), 5);
    EXPECT_EQ(g_app.current_index, 4);
    EXPECT_TRUE(player_is_playing());
    stop_playback();
}

// The transport starts with the window: friend messages reach the store through the window's
// own message, and friends hear goodbye before the links close.
TEST_F(MainWindowTest, FriendMessagesTravelThroughTheWindow) {
    Broker brokers[2];
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(brokers[i].start()) << "mosquitto on loopback";
        mqtt_set_broker(i, "127.0.0.1", (unsigned short)brokers[i].port);
    }
    write_file(work.file(L"friends.json"),
               "{\n  \"my_tag\": \"Ben#1111\",\n  \"my_name\": \"Ben\",\n  \"friends\": [\n"
               "    { \"tag\": \"Veli#4444\", \"name\": \"Veli\" }\n  ],\n  \"pending\": [\n  ]\n}\n");
    RawPeer peer;
    ASSERT_TRUE(peer.connect_to(brokers[0].port, "peer"));
    ASSERT_TRUE(peer.subscribe("zembrafold/#"));
    open_window();
    ASSERT_TRUE(pump_until([] { return mqtt_is_online(); }, 15000));
    ASSERT_TRUE(peer.publish("zembrafold/u/ben_1111", "REQ|Ali#2222|Ali"));
    EXPECT_TRUE(pump_until([] { return pending_count() == 1; }, 5000));
    DestroyWindow(window);
    int registrations = 0, acks = 0, goodbyes = 0;
    for (const auto& m : peer.receive(800)) {
        registrations += m.first == "zembrafold/reg/1111" && m.second == "REG|Ben#1111|Ben";
        acks += m.first == "zembrafold/id/2222" && m.second == "REQ_ACK|Ben#1111|Ben";
        goodbyes += m.first == "zembrafold/id/4444" && m.second == "BYE|Ben#1111";
    }
    EXPECT_GE(registrations, 1) << "registered once connected";
    EXPECT_EQ(acks, 1);
    EXPECT_EQ(goodbyes, 1);
}


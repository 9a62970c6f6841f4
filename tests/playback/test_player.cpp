#include <gtest/gtest.h>

#include <windows.h>

#include <math.h>

#include "audio_support.h"
#include "base/messages.h"
#include "base/wstr.h"
#include "playback/player.h"
#include "test_support.h"

namespace {

int g_track_ended;
int g_track_failed;
int g_near_end;
int g_advanced;
WPARAM g_event_generation;  // what the last ended or failed message carried
WPARAM g_advanced_generation;

LRESULT CALLBACK receiver_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == MSG_TRACK_ENDED) g_track_ended++;
    if (m == MSG_TRACK_FAILED) g_track_failed++;
    if (m == MSG_TRACK_NEAR_END && player_event_is_current(wp)) g_near_end++;
    if (m == MSG_TRACK_ADVANCED) {
        g_advanced++;
        g_advanced_generation = wp;
    }
    if (m == MSG_TRACK_ENDED || m == MSG_TRACK_FAILED) g_event_generation = wp;
    return DefWindowProcW(w, m, wp, lp);
}

HWND make_receiver(void) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = receiver_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NelvoPlayerTestReceiver";
    RegisterClassW(&wc);
    return CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

// Runs the message loop (the player's events arrive through it) for ms milliseconds, or
// until the track-ended count reaches until_ended.
void pump(int ms, int until_ended = 1 << 30) {
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < ms && g_track_ended < until_ended) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

struct PlayerTest : ::testing::Test {
    static TempDir* dir;
    static HWND receiver;
    static void SetUpTestSuite() {
        OleInitialize(nullptr);  // as the program's entry does
        dir = new TempDir();
        receiver = make_receiver();
        write_tone_wav(dir->file(L"a440.wav"), {{440, 2000}});
        write_tone_wav(dir->file(L"b880.wav"), {{880, 2000}});
        write_tone_wav(dir->file(L"split.wav"), {{440, 1500}, {660, 1500}});
        write_tone_wav(dir->file(L"short.wav"), {{550, 400}});
        write_tone_wav(dir->file(L"ten.wav"), {{330, 10000}});
    }
    static void TearDownTestSuite() {
        player_shutdown();
        DestroyWindow(receiver);
        delete dir;
        OleUninitialize();
    }
    void SetUp() override {
        ASSERT_FALSE(audio_capture_path().empty()) << "NELVO_TEST_AUDIO_OUT is not set";
        ASSERT_TRUE(player_init(receiver));
        g_track_ended = 0;
        g_track_failed = 0;
        g_near_end = 0;
        g_advanced = 0;
    }
};
TempDir* PlayerTest::dir;
HWND PlayerTest::receiver;

}  // namespace

// Waits until the open request has its media set on the player.
static int wait_ready(int ms = 5000) {
    DWORD start = GetTickCount();
    while (!g_player.media_ready && (int)(GetTickCount() - start) < ms) pump(10);
    return g_player.media_ready;
}

TEST_F(PlayerTest, PlaysAFileToItsEnd) {
    std::wstring t = dir->file(L"a440.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(t.c_str(), 0, 0));
    EXPECT_TRUE(player_is_playing());
    pump(8000, 1);
    EXPECT_EQ(g_track_ended, 1);
    EXPECT_EQ(player_duration_ms(), 2000);
    EXPECT_EQ(player_duration_seconds(), 2);
    SoundReport r = audio_capture_since(0);
    EXPECT_NEAR(r.sound_ms, 2000, 250);
    EXPECT_NEAR(r.frequency, 440, 10);
    pump(300);
    EXPECT_EQ(g_track_ended, 1) << "the end is reported once";
}

TEST_F(PlayerTest, StartPositionSkipsTheBeginning) {
    std::wstring t = dir->file(L"split.wav");  // 1.5 s of 440 Hz, then 1.5 s of 660 Hz
    audio_capture_reset();
    ASSERT_TRUE(player_open(t.c_str(), 1500, 0));
    EXPECT_EQ(player_position_ms(), 1500) << "the pending start reads back before the media is ready";
    ASSERT_TRUE(wait_ready());
    pump(8000, 1);
    ASSERT_EQ(g_track_ended, 1);
    SoundReport r = audio_capture_since(0);
    EXPECT_NEAR(r.sound_ms, 1500, 250);
    for (double f : audio_capture_tones_since(0, 200)) EXPECT_NEAR(f, 660, 15);
}

TEST_F(PlayerTest, StartAtZeroPlaysFromTheBeginning) {
    std::wstring t = dir->file(L"split.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(t.c_str(), 0, 0));
    EXPECT_EQ(player_position_ms(), 0);
    pump(8000, 1);
    std::vector<double> tones = audio_capture_tones_since(0, 200);
    ASSERT_GE(tones.size(), 10u);
    EXPECT_NEAR(tones.front(), 440, 15);
    EXPECT_NEAR(tones.back(), 660, 15);
    EXPECT_NEAR(audio_capture_since(0).sound_ms, 3000, 300);
}

TEST_F(PlayerTest, TwoQuickOpensPlayOnlyTheSecond) {
    std::wstring first = dir->file(L"a440.wav");
    std::wstring second = dir->file(L"b880.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(first.c_str(), 0, 0));
    ASSERT_TRUE(player_open(second.c_str(), 0, 0));
    pump(8000, 1);
    EXPECT_EQ(g_track_ended, 1);
    SoundReport r = audio_capture_since(0);
    EXPECT_NEAR(r.sound_ms, 2000, 250);
    for (double f : audio_capture_tones_since(0, 100)) EXPECT_NEAR(f, 880, 15);
}

TEST_F(PlayerTest, PauseWhileOpeningStaysPaused) {
    std::wstring t = dir->file(L"a440.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(t.c_str(), 0, 0));
    player_toggle_pause();
    EXPECT_FALSE(player_is_playing());
    ASSERT_TRUE(wait_ready());
    pump(1500);
    EXPECT_EQ(audio_capture_since(0).sound_ms, 0);
    EXPECT_EQ(g_track_ended, 0);
    EXPECT_FALSE(player_is_playing());
    player_toggle_pause();
    EXPECT_TRUE(player_is_playing());
    pump(8000, 1);
    EXPECT_EQ(g_track_ended, 1);
    EXPECT_NEAR(audio_capture_since(0).sound_ms, 2000, 250);
}

TEST_F(PlayerTest, OpenedPausedThenPlayed) {
    std::wstring t = dir->file(L"b880.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(t.c_str(), 1000, 1));
    ASSERT_TRUE(wait_ready());
    pump(500);
    EXPECT_EQ(audio_capture_since(0).sound_ms, 0);
    EXPECT_FALSE(player_is_playing());
    player_play();
    EXPECT_TRUE(player_is_playing());
    pump(8000, 1);
    EXPECT_EQ(g_track_ended, 1);
    EXPECT_NEAR(audio_capture_since(0).sound_ms, 1000, 200);
}

TEST_F(PlayerTest, EndClampsKeepTheTrackAudible) {
    std::wstring t = dir->file(L"ten.wav");
    audio_capture_reset();
    // On media of 500 ms or less neither clamp applies.
    EXPECT_EQ(player_clamp_open_position(390, 400), 390);
    EXPECT_EQ(player_clamp_seek_position(390, 400), 390);
    EXPECT_EQ(player_clamp_open_position(9900, 10000), 9750);
    EXPECT_EQ(player_clamp_open_position(9750, 10000), 9750);
    EXPECT_EQ(player_clamp_seek_position(9799, 10000), 9799);
    EXPECT_EQ(player_clamp_seek_position(9800, 10000), 9800);
    EXPECT_EQ(player_clamp_seek_position(20000, 10000), 9800);
    EXPECT_EQ(player_clamp_seek_position(450, 501), 301);
    EXPECT_EQ(player_clamp_open_position(450, 501), 251);
    EXPECT_EQ(player_clamp_open_position(450, 500), 450);

    ASSERT_TRUE(player_open(t.c_str(), 9900, 1));
    ASSERT_TRUE(wait_ready());
    EXPECT_EQ(player_duration_ms(), 10000);
    EXPECT_NEAR(player_position_ms(), 9750, 20);
    player_seek_ms(9900);
    EXPECT_NEAR(player_position_ms(), 9800, 20);
    player_seek_ms(4000);
    EXPECT_NEAR(player_position_ms(), 4000, 20);
    player_seek_ms(-5);
    EXPECT_NEAR(player_position_ms(), 4000, 20);
    player_stop();
}

TEST_F(PlayerTest, SeekBeforeReadyIsApplied) {
    std::wstring t = dir->file(L"ten.wav");
    ASSERT_TRUE(player_open(t.c_str(), 0, 1));
    player_seek_ms(4000);
    EXPECT_EQ(player_position_ms(), 4000);
    ASSERT_TRUE(wait_ready());
    EXPECT_NEAR(player_position_ms(), 4000, 20);
    player_stop();
    EXPECT_FALSE(player_is_playing());
    EXPECT_EQ(player_position_ms(), 0);
    EXPECT_EQ(player_duration_ms(), 0);
}

TEST_F(PlayerTest, SeekWhilePlayingJumps) {
    std::wstring t = dir->file(L"split.wav");  // 1.5 s of 440 Hz, then 1.5 s of 660 Hz
    audio_capture_reset();
    ASSERT_TRUE(player_open(t.c_str(), 0, 0));
    ASSERT_TRUE(wait_ready());
    player_seek_ms(1600);
    EXPECT_NEAR(player_position_ms(), 1600, 60);
    EXPECT_TRUE(player_is_playing());
    pump(8000, 1);
    EXPECT_EQ(g_track_ended, 1);
    int low = 0, high = 0;
    for (double f : audio_capture_tones_since(0, 100)) {
        if (fabs(f - 440) < 15) low++;
        if (fabs(f - 660) < 15) high++;
    }
    EXPECT_LE(low, 4) << "little of the first part is heard before the seek";
    EXPECT_NEAR(high, 14, 3) << "the second part from 1.6 s on";
}

TEST_F(PlayerTest, StopSilencesAndReportsNoEnd) {
    std::wstring t = dir->file(L"ten.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(t.c_str(), 0, 0));
    ASSERT_TRUE(wait_ready());
    player_stop();
    long long mark = audio_capture_size();
    pump(1500);
    EXPECT_EQ(g_track_ended, 0);
    EXPECT_LT(audio_capture_since(mark).sound_ms, 200);
}

TEST_F(PlayerTest, UnreadableFileIsReportedAndSilent) {
    ASSERT_TRUE(write_file(dir->file(L"broken.mp3"), std::string(5000, '\x17')));
    std::wstring t = dir->file(L"broken.mp3");
    audio_capture_reset();
    player_open(t.c_str(), 700, 0);
    pump(1500);
    EXPECT_EQ(g_track_ended, 0);
    EXPECT_EQ(g_track_failed, 1) << "the window hears that the track cannot play";
    EXPECT_TRUE(player_event_is_current(g_event_generation));
    EXPECT_FALSE(player_is_playing());
    EXPECT_FALSE(player_has_track());
    EXPECT_EQ(player_duration_ms(), 0);
    EXPECT_EQ(audio_capture_since(0).sound_ms, 0);
    std::wstring empty;
    EXPECT_FALSE(player_open(empty.c_str(), 0, 0));
    EXPECT_FALSE(player_open(nullptr, 0, 0));
    // The player keeps working for the next file, and its end names that file's opening.
    std::wstring good = dir->file(L"b880.wav");
    ASSERT_TRUE(player_open(good.c_str(), 0, 0));
    pump(8000, 1);
    EXPECT_EQ(g_track_ended, 1);
    EXPECT_EQ(g_track_failed, 1);
    EXPECT_TRUE(player_event_is_current(g_event_generation));
    ASSERT_TRUE(player_open(good.c_str(), 0, 1));
    EXPECT_FALSE(player_event_is_current(g_event_generation)) << "an end from before the last open is stale";
}

TEST_F(PlayerTest, VolumeIsClamped) {
    player_set_volume(150);
    EXPECT_EQ(player_get_volume(), 100);
    player_set_volume(-5);
    EXPECT_EQ(player_get_volume(), 0);
    player_set_volume(35);
    EXPECT_EQ(player_get_volume(), 35);

    player_set_volume(80);
}

// An evening of skipping: a thousand openings, with seeks and tracks played to their end,
// leave the process with the threads and handles it had, and the last track is heard.
TEST_F(PlayerTest, AThousandOpeningsLeaveNothingBehind) {
    const wchar_t* names[] = {L"a440.wav", L"split.wav", L"ten.wav", L"short.wav", L"b880.wav"};
    std::wstring warm = dir->file(L"ten.wav");
    ASSERT_TRUE(player_open(warm.c_str(), 0, 1));  // the platform's own pools come into being
    ASSERT_TRUE(wait_ready());
    int threads = process_thread_count(), handles = process_handle_count();
    for (int i = 0; i < 1000; i++) {
        std::wstring file = dir->file(names[i % 5]);
        // Every hundredth opening plays its short track to the end; the others open paused
        // (as a quick skip does before its sound starts) and some of them seek.
        int play = i % 100 == 3;
        audio_capture_reset();
        ASSERT_TRUE(player_open(file.c_str(), i % 3 * 150, !play));
        ASSERT_TRUE(wait_ready()) << "opening " << i;
        if (i % 4 == 1) player_seek_ms(100 + i % 7 * 40);
        if (play) {
            int ended = g_track_ended;
            pump(8000, ended + 1);
            ASSERT_EQ(g_track_ended, ended + 1) << "opening " << i;
        }
    }
    std::wstring last = dir->file(L"b880.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(last.c_str(), 0, 0));
    pump(8000, g_track_ended + 1);
    SoundReport r = audio_capture_since(0);
    EXPECT_NEAR(r.sound_ms, 2000, 250);
    EXPECT_NEAR(r.frequency, 880, 10);
    pump(300);
    EXPECT_LE(process_thread_count(), threads + 2) << "threads at the start: " << threads;
    EXPECT_LE(process_handle_count(), handles + 16) << "handles at the start: " << handles;
}

// A track prepared near the end follows in the same stream without a pause; one of another
// rate starts a stream of its own once the first has played out. Each move is told with the
// new generation, and the end names the last one.
TEST_F(PlayerTest, PreparedTracksFollowInTheirOwnFormat) {
    write_tone_wav(dir->file(L"r48.wav"), {{990, 1000}}, 48000);
    std::wstring first = dir->file(L"a440.wav"), second = dir->file(L"b880.wav"), third = dir->file(L"r48.wav");
    audio_capture_reset();
    ASSERT_TRUE(player_open(first.c_str(), 0, 0));
    const std::wstring* follow[] = {&second, &third};
    for (int k = 0; k < 2; k++) {
        DWORD start = GetTickCount();
        while (g_near_end <= k && GetTickCount() - start < 8000) pump(10);
        ASSERT_EQ(g_near_end, k + 1) << "the end of track " << k << " comes near";
        player_prepare_next(follow[k]->c_str());
        EXPECT_STREQ(player_prepared_path(), follow[k]->c_str());
        start = GetTickCount();
        while (g_advanced <= k && GetTickCount() - start < 8000) pump(10);
        ASSERT_EQ(g_advanced, k + 1);
        ASSERT_TRUE(player_take_advance(g_advanced_generation));
        EXPECT_STREQ(g_player.path, follow[k]->c_str());
        EXPECT_EQ(g_track_ended, 0);
    }
    pump(8000, 1);
    EXPECT_EQ(g_track_ended, 1);
    EXPECT_TRUE(player_event_is_current(g_event_generation));
    EXPECT_EQ(player_duration_ms(), 1000);
    std::vector<SoundReport> streams = audio_capture_streams();
    ASSERT_EQ(streams.size(), 2u) << "the 48 kHz track in a stream of its own";
    EXPECT_NEAR(streams[0].sound_ms, 4000, 300);
    EXPECT_NEAR(streams[1].sound_ms, 1000, 150);
    EXPECT_NEAR(streams[1].frequency, 990, 15);
    EXPECT_LE(audio_capture_silences_inside()[0], 20.0);
}

// The mouse and keyboard through the real window procedure: the messages the system would
// send, at the places the last painted frame put the elements.
#include <gtest/gtest.h>

#include <windows.h>

#include <math.h>

#include <string>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "audio_support.h"
#include "base/messages.h"
#include "base/wstr.h"
#include "library/tag_cache.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "test_support.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/hit_test.h"
#include "ui/main_paint.h"
#include "real_input.h"
#include "window_fixture.h"

namespace {

struct InputTest : MainWindowTest {
    std::vector<std::wstring> paths;

    void open_sized(int w, int h) {
        use_music_folder();
        open_window();
        RECT r = {0, 0, w, h};
        AdjustWindowRectEx(&r, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE,
                           (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
        SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
        pump(20);
    }

    // Real tones, so that the player really plays them; the names make their titles.
    void add_tone_tracks(const std::vector<std::wstring>& names, int ms) {
        int hz = 330;
        for (const std::wstring& n : names) {
            std::wstring path = music + L"\\" + n + L".wav";
            hz += 110;
            write_tone_wav(path, {{(double)hz, ms}});
            paths.push_back(path);
            track_list_add(path.c_str(), 0);
        }
        apply_filter();
        repaint();
    }

    void repaint() { RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

    int row_y(int i) { return current_list_top() + scale(6) + scale(56) * i - (int)g_app.scroll_offset.value + 26; }

    void down(int x, int y) { SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
    void drag(int x, int y) { SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y)); }
    void up(int x, int y) { SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
    void click(int x, int y) {
        down(x, y);
        up(x, y);
    }
    POINT centre(int id) {
        const RECT& r = g_hit.element[id];
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    void wheel(int x, int y, int delta) {
        POINT p = {x, y};
        ClientToScreen(window, &p);
        SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(p.x, p.y));
    }
};

TEST_F(InputTest, ClicksPlayRowsAndAPressThatMovesReorders) {
    open_sized(680, 720);
    add_tone_tracks({L"Tarkan - Kuzu Kuzu", L"Manga - Cevaps\u0131z Sorular", L"Duman - Bu Ak\u015fam",
                     L"Gripin - Ac\u0131 Veriyor", L"Teoman - Papatya"},
                    30000);  // longer than the test runs
    click(300, row_y(2));
    EXPECT_EQ(g_app.current_index, 2);
    EXPECT_EQ(g_app.selected_index, 2);
    EXPECT_TRUE(player_is_playing());
    // The second click of a double click does not start the row over.
    unsigned opening = g_player.generation.load();
    SendMessageW(window, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(300, row_y(2)));
    up(300, row_y(2));
    EXPECT_EQ(g_player.generation.load(), opening);

    // A drag that loses the mouse to another window ends there: its release moves nothing.
    down(300, row_y(0));
    drag(300, row_y(3));
    ASSERT_TRUE(g_app.row_dragging);
    ReleaseCapture();
    EXPECT_FALSE(g_app.row_dragging);
    up(300, row_y(3));
    EXPECT_STREQ(track_list_at(0)->path, paths[0].c_str());

    // Seven pixels is still a click; eight start a drag, which moves instead of playing.
    down(300, row_y(0));
    drag(300, row_y(0) + 7);
    EXPECT_FALSE(g_app.row_dragging);
    drag(300, row_y(0) + 8);
    EXPECT_TRUE(g_app.row_dragging);
    drag(300, row_y(3));
    EXPECT_EQ(g_app.drop_row, 3);
    up(300, row_y(3));
    EXPECT_FALSE(g_app.row_dragging);
    EXPECT_STREQ(track_list_at(3)->path, paths[0].c_str());
    EXPECT_EQ(g_app.current_index, 1) << "the playing track moved up one place";
    EXPECT_STREQ(track_list_at(g_app.current_index)->path, paths[2].c_str());
    EXPECT_TRUE(player_is_playing());

    // With a filter the rows cannot be dragged.
    SetWindowTextW(g_app.search_box, L"a");
    ASSERT_TRUE(g_app.filter.active);
    repaint();
    down(300, row_y(0));
    drag(300, row_y(0) + 40);
    EXPECT_FALSE(g_app.row_dragging);
    up(300, row_y(0) + 40);
    // Enter in the search box plays the first match and hands the keys back.
    SetFocus(g_app.search_box);
    SendMessageW(g_app.search_box, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(g_app.current_index, g_app.filter.filtered_indices[0]);
    SendMessageW(g_app.search_box, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(g_app.filter.active);
    EXPECT_EQ(GetWindowTextLengthW(g_app.search_box), 0);
    repaint();

    // The "more" end of a row and the right button select it and open its menu.
    MenuCloser closer;
    SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(300, row_y(4)));
    EXPECT_EQ(g_app.selected_index, 4);
    click(680 - 30, row_y(1));
    EXPECT_EQ(g_app.selected_index, 1);

    // Multi-selection: presses mark, Esc leaves and forgets the marks.
    g_app.multi_select_mode = 1;
    click(300, row_y(3));
    click(300, row_y(4));
    EXPECT_TRUE(g_app.multi_selected[3] && g_app.multi_selected[4]);
    SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(g_app.multi_select_mode);
    EXPECT_FALSE(g_app.multi_selected[3] || g_app.multi_selected[4]);
    stop_playback();
}

TEST_F(InputTest, SeekBarVolumeAndWheel) {
    open_sized(680, 720);
    add_tone_tracks({L"Sezen Aksu - Gidiyorum"}, 20000);
    play_track(0, 0, 0, 0);
    ASSERT_TRUE(pump_until([] { return player_duration_ms() > 19000; }, 8000));
    repaint();
    int left = g_hit.seek_left, right = g_hit.seek_right, y = centre(ELEMENT_SEEK).y;
    int at10 = left + (right - left) / 10, at75 = left + (right - left) * 3 / 4;
    down(at10, y);
    EXPECT_TRUE(g_app.seek_dragging);
    ASSERT_TRUE(pump_until([] { return player_position_ms() >= 1500; }, 4000)) << "a press seeks at once";
    drag(at75, y);
    EXPECT_NEAR(g_app.seek_shown_seconds, 15.0f, 0.5f);
    pump(200);
    EXPECT_LT(player_position_ms(), 8000) << "a drag only moves the knob";
    up(at75, y);
    EXPECT_FALSE(g_app.seek_dragging);
    ASSERT_TRUE(pump_until([] { return player_position_ms() >= 14000; }, 4000)) << player_position_ms();
    EXPECT_LT(player_position_ms(), 17500);

    // A seek drag cut short by a menu or another window seeks nowhere when the button comes up.
    down(at75, y);
    drag(at10, y);
    ReleaseCapture();
    EXPECT_FALSE(g_app.seek_dragging);
    up(at10, y);
    pump(300);
    EXPECT_GT(player_position_ms(), 12000);

    // While the length is not known yet, a press and release on the bar leave the start alone.
    play_track(0, 6000, 1, 0);
    click(at10, y);
    ASSERT_TRUE(pump_until([] { return player_duration_ms() > 19000; }, 8000));
    pump(300);
    EXPECT_NEAR(player_position_ms(), 6000, 600);
    play_track(0, 0, 0, 0);

    // The wheel over the control bar steps the volume and saves it.
    int volume = player_get_volume();
    wheel(100, 720 - 20, 120);
    EXPECT_EQ(player_get_volume(), volume + 5);
    Settings saved;
    load_settings(&saved, CONFIG_FILE_NAME);
    EXPECT_EQ(saved.volume, volume + 5);
    wheel(100, 720 - 20, -120);
    EXPECT_EQ(player_get_volume(), volume);

    // The slider follows the pointer at once and is saved on release.
    POINT v = centre(ELEMENT_VOLUME);
    down(g_hit.volume_left - 3, v.y);
    EXPECT_EQ(player_get_volume(), 0);
    drag(g_hit.volume_left + (g_hit.volume_right - g_hit.volume_left) / 2, v.y);
    EXPECT_EQ(player_get_volume(), 50);
    up(g_hit.volume_left + (g_hit.volume_right - g_hit.volume_left) / 2, v.y);
    load_settings(&saved, CONFIG_FILE_NAME);
    EXPECT_EQ(saved.volume, 50);
    EXPECT_EQ(g_app.last_volume, 50);

    // The mute button and the transport buttons are where the frame put them.
    POINT mute = centre(ELEMENT_MUTE);
    click(mute.x, mute.y);
    EXPECT_EQ(player_get_volume(), 0);
    click(mute.x, mute.y);
    EXPECT_EQ(player_get_volume(), 50);
    POINT play = centre(ELEMENT_PLAY);
    click(play.x, play.y);
    EXPECT_FALSE(player_is_playing());
    POINT shuffle = centre(ELEMENT_SHUFFLE);
    click(shuffle.x, shuffle.y);
    EXPECT_EQ(g_settings.shuffle, 1);
    stop_playback();
}

TEST_F(InputTest, TypeAheadScrollingAndTheSidebar) {
    open_sized(680, 720);
    for (int i = 0; i < 40; i++) {
        wchar_t path[260];
        wstr_format(path, 260, L"%ls\\%ls %02d.mp3", music.c_str(), i == 25 ? L"\u0131l\u0131k r\u00fczgar" : L"Duman - \u015eark\u0131",
                    i);
        track_list_add(path, 0);
    }
    g_app.selected_index = 0;
    apply_filter();
    repaint();
    SendMessageW(window, WM_KEYDOWN, 'I', 0);
    EXPECT_EQ(g_app.selected_index, 25) << "I finds the dotless \u0131";
    EXPECT_GT(g_app.scroll_target, 0) << "and scrolls it into view";

    // The wheel over the list scrolls, never past the end.
    g_app.scroll_target = 0;
    g_app.scroll_offset = {0, 0};
    wheel(300, 300, -120);
    EXPECT_NEAR(g_app.scroll_target, 56 * 2.2f, 0.01f);
    for (int i = 0; i < 40; i++) wheel(300, 300, -120);
    RECT c;
    GetClientRect(window, &c);
    int limit = 12 + 40 * 56 - (c.bottom - 104 - current_list_top());
    EXPECT_EQ((int)g_app.scroll_target, limit);

    // The scroll thumb dragged to the bottom of its track.
    g_app.scroll_target = 0;
    g_app.scroll_offset = {0, 0};
    repaint();
    ASSERT_TRUE(rect_has_area(&g_hit.scroll_thumb));
    RECT thumb = g_hit.scroll_thumb;
    down(thumb.left + 1, thumb.top + 5);
    EXPECT_TRUE(g_app.scroll_dragging);
    drag(thumb.left + 1, c.bottom);
    EXPECT_EQ((int)g_app.scroll_offset.value, limit);
    up(thumb.left + 1, c.bottom);
    EXPECT_FALSE(g_app.scroll_dragging);

    // A downloaded item or a deleted row keeps the view where it was, within the list.
    g_app.scroll_target = 600;
    g_app.scroll_offset = {600, 0};
    SendMessageW(window, MSG_SHARED_ITEM_DONE, 1, 0);
    EXPECT_EQ((int)g_app.scroll_target, 600);
    g_app.scroll_target = (float)limit;
    g_app.scroll_offset = {(float)limit, 0};
    g_app.selected_index = 39;
    SendMessageW(window, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ((int)g_app.scroll_target, limit - 56) << "clamped to the shorter list";

    // The menu button opens the sidebar; a press right of it closes it again.
    g_app.scroll_target = 0;
    g_app.scroll_offset = {0, 0};
    POINT menu = centre(ELEMENT_MENU);
    click(menu.x, menu.y);
    EXPECT_TRUE(g_app.sidebar_open);
    EXPECT_EQ(g_app.sidebar_mode, 0);
    g_app.sidebar_progress = {1, 0};
    repaint();
    click(500, 300);
    EXPECT_FALSE(g_app.sidebar_open);
    g_app.sidebar_progress = {0, 0};
    repaint();
    int playing_before = g_app.current_index;
    MenuCloser closer;
    SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(300, row_y(1)));
    EXPECT_EQ(g_app.selected_index, 1);

    // A swipe from the left edge drags the sidebar out; released past the middle it opens.
    down(5, 300);
    drag(60, 300);
    EXPECT_TRUE(g_app.sidebar_dragging);
    drag(200, 300);
    EXPECT_NEAR(g_app.sidebar_progress.value, 195.0f / 278.0f, 0.01f);
    up(200, 300);
    EXPECT_FALSE(g_app.sidebar_dragging);
    EXPECT_TRUE(g_app.sidebar_open);
    EXPECT_EQ(g_app.current_index, playing_before) << "the swipe did not play the row under it";

    // With the sidebar open a right click on a row does nothing, and the wheel over it does
    // not scroll the list.
    g_app.sidebar_progress = {1, 0};
    repaint();
    g_app.selected_index = 7;
    SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(400, row_y(2)));
    EXPECT_EQ(g_app.selected_index, 7);
    wheel(100, 300, -120);
    EXPECT_EQ(g_app.scroll_target, 0);
    SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(g_app.sidebar_open);
}

}  // namespace

// A library as people keep it: tagged files, and untagged ones in artist and album folders.
// The rows say what the files say, the header's order is chosen with real clicks, the
// search box finds artists and albums, and the next start lists it all from the tag cache.
TEST_F(InputTest, TagsAndFoldersMakeTheRowsAndTheHeaderSortsThem) {
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring corpus = here;
    corpus = corpus.substr(0, corpus.find_last_of(L'\\')) + L"\\tag-corpus\\";
    std::wstring tagged = music + L"\\ferah.wav";
    ASSERT_TRUE(CopyFileW((corpus + L"info.wav").c_str(), (music + L"\\kedi.wav").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((corpus + L"id3-chunk.wav").c_str(), tagged.c_str(), FALSE));
    CreateDirectoryW((music + L"\\Pink Floyd").c_str(), nullptr);
    CreateDirectoryW((music + L"\\Pink Floyd\\The Wall").c_str(), nullptr);
    ASSERT_TRUE(write_tone_wav(music + L"\\Pink Floyd\\The Wall\\01 - In the Flesh.wav", {{440.0, 3000}}));
    ASSERT_TRUE(write_tone_wav(music + L"\\Pink Floyd\\The Wall\\02. The Thin Ice.wav", {{550.0, 1000}}));
    open_sized(680, 720);
    bring_to_front(window);
    ASSERT_EQ(track_list_count(), 4);
    // A new start in this process: the list and the window's state begin again, the
    // settings and the cache stay.
    auto reopen = [&]() {
        track_list_clear();
        app_state_init(&g_app);
        open_window();
    };
    auto row_track = [](int row) {
        int index = g_app.filter.active ? g_app.filter.filtered_indices[row] : row;
        return track_list_at(index);
    };
    auto find = [](const wchar_t* title) -> const Track* {
        for (int i = 0; i < track_list_count(); i++)
            if (!wcscmp(track_list_at(i)->title, title)) return track_list_at(i);
        return nullptr;
    };
    const Track* flesh = find(L"In the Flesh");
    ASSERT_NE(flesh, nullptr) << "the track number left the title";
    EXPECT_STREQ(flesh->artist, L"Pink Floyd");
    EXPECT_STREQ(flesh->album, L"The Wall");
    EXPECT_EQ(flesh->number, 1);
    EXPECT_EQ(flesh->duration_ms, 3000) << "known before it plays";
    ASSERT_NE(find(L"The Thin Ice"), nullptr);
    const Track* kedi = find(L"I\u015f\u0131k \u015eark\u0131s\u0131 \u011f\u00fc\u015f \u0130\u015e\u011e");
    ASSERT_NE(kedi, nullptr) << "the WAV's own title";
    EXPECT_STREQ(kedi->artist, L"Kara Kedi");
    EXPECT_STREQ(kedi->album, L"Yollar");

    // Every row shows a duration at its right, in the place the title's column gave up.
    repaint();
    int w = 0, h = 0;
    std::vector<unsigned> screen = screen_of(window, &w, &h);
    auto ink_in = [&](const std::vector<unsigned>& s, RECT r) {
        int ink = 0;
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++) {
                unsigned p = s[(size_t)y * w + x];
                ink += ((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF)) > 300;
            }
        return ink;
    };
    for (int row = 0; row < 4; row++) {
        RECT duration = {680 - scale(96), row_y(row) - scale(10), 680 - scale(44), row_y(row) + scale(10)};
        EXPECT_GT(ink_in(screen, duration), 5) << "no duration drawn on row " << row;
    }

    // The header's order, clicked through: title, artist, album, duration.
    ASSERT_TRUE(rect_has_area(&g_hit.element[ELEMENT_SORT])) << "the header offers the order";
    RECT title_line = {scale(68), row_y(0) - scale(20), scale(300), row_y(0)};
    int before = ink_in(screen, title_line);
    real_click(window, g_hit.element[ELEMENT_SORT]);
    EXPECT_EQ(g_settings.sort, 1);
    EXPECT_STREQ(row_track(0)->title, L"In the Flesh");
    EXPECT_STREQ(row_track(1)->artist, L"Kara Kedi") << "\u0131\u015f after In";
    EXPECT_STREQ(row_track(3)->artist, L"\u015eebnem Ferah") << "Greek after the Latin letters";
    real_click(window, g_hit.element[ELEMENT_SORT]);
    EXPECT_STREQ(row_track(0)->artist, L"Kara Kedi");
    EXPECT_STREQ(row_track(1)->artist, L"Pink Floyd");
    EXPECT_STREQ(row_track(1)->title, L"In the Flesh") << "an artist's tracks by album and number";
    EXPECT_STREQ(row_track(3)->artist, L"\u015eebnem Ferah") << "\u015e after S";
    real_click(window, g_hit.element[ELEMENT_SORT]);
    real_click(window, g_hit.element[ELEMENT_SORT]);
    EXPECT_EQ(g_settings.sort, 4);
    EXPECT_STREQ(row_track(0)->title, L"The Thin Ice") << "the shortest first";
    EXPECT_NE(read_file(work.file(L"config.json")).find("\"sort\": 4"), std::string::npos) << "remembered";
    screen = screen_of(window, &w, &h);
    EXPECT_NE(ink_in(screen, title_line), before) << "the screen shows another first row";

    // Next and previous follow the rows as shown; a drag moves nothing in a sorted list.
    real_click(window, 300, row_y(0));
    EXPECT_STREQ(track_list_at(g_app.current_index)->title, L"The Thin Ice");
    real_click(window, g_hit.element[ELEMENT_NEXT]);
    EXPECT_EQ(track_list_at(g_app.current_index), row_track(1));
    real_click(window, g_hit.element[ELEMENT_PREVIOUS]);
    EXPECT_EQ(track_list_at(g_app.current_index), row_track(0));
    stop_playback();
    player_close();
    down(300, row_y(0));
    drag(300, row_y(2));
    EXPECT_FALSE(g_app.row_dragging);
    up(300, row_y(2));

    // The search box finds artists, albums and folders, typed as a person types.
    real_click(window, g_hit.search_box);
    real_type(L"floyd");
    pump(100);
    EXPECT_EQ(g_app.filter.filtered_count, 2);
    real_retype(L"yollar");
    pump(100);
    ASSERT_EQ(g_app.filter.filtered_count, 1);
    EXPECT_EQ(row_track(0), kedi);
    real_retype(L"the wall");
    pump(100);
    EXPECT_EQ(g_app.filter.filtered_count, 2);
    real_key(VK_ESCAPE);

    // The next start lists from the cache: a file changed in place, size and time kept, is
    // not read again...
    DestroyWindow(window);
    pump(50);
    std::wstring cache = work.file(L"roaming\\Nelvo\\tags.cache");
    ASSERT_TRUE(file_exists(cache)) << "the scan kept what it read";
    HANDLE f = CreateFileW(tagged.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME written;
    GetFileTime(f, nullptr, nullptr, &written);
    CloseHandle(f);
    std::string bytes = read_file(tagged);
    size_t at = bytes.find("Ferah");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 5, "Feray");
    ASSERT_TRUE(write_file(tagged, bytes));
    f = CreateFileW(tagged.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(f, nullptr, nullptr, &written);
    CloseHandle(f);
    reopen();
    ASSERT_EQ(track_list_count(), 4);
    EXPECT_STREQ(find(L"\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u03ba\u03cc\u03c3\u03bc\u03b5")->artist,
                 L"\u015eebnem Ferah");
    EXPECT_EQ(g_settings.sort, 4) << "the order came back with the settings";
    // The sidebar's last row chooses the order too, and stays open for the next click.
    bring_to_front(window);
    real_click(window, g_hit.element[ELEMENT_MENU]);
    pump(400);
    ASSERT_TRUE(g_app.sidebar_open);
    real_click(window, scale(120), scale(74) + scale(52) * 7 + scale(23));
    EXPECT_EQ(g_settings.sort, 5) << "by the date added";
    EXPECT_TRUE(g_app.sidebar_open);
    real_click(window, scale(120), scale(74) + scale(52) * 7 + scale(23));
    EXPECT_EQ(g_settings.sort, 0) << "and round to the order on disk";

    // ...and a damaged cache is read as none: the files are read again, and it is made anew.
    DestroyWindow(window);
    pump(50);
    std::string kept = read_file(cache);
    ASSERT_GT(kept.size(), 64u);
    for (size_t i = 20; i < kept.size(); i += 7) kept[i] = (char)(kept[i] ^ 0x5A);
    ASSERT_TRUE(write_file(cache, kept));
    reopen();
    ASSERT_EQ(track_list_count(), 4);
    EXPECT_STREQ(find(L"\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u03ba\u03cc\u03c3\u03bc\u03b5")->artist,
                 L"\u015eebnem Feray");
    std::string remade = read_file(cache);
    EXPECT_EQ(tag_cache_parse_count((const unsigned char*)remade.data(), remade.size()), 4);
    // A cache cut short, or not a cache at all, is the same.
    DestroyWindow(window);
    pump(50);
    ASSERT_TRUE(write_file(cache, remade.substr(0, remade.size() / 2)));
    reopen();
    EXPECT_EQ(track_list_count(), 4);
}

// A window left in view while another one has the focus still shows the time running.
TEST_F(InputTest, ThePlayingTimeRunsWhileAnotherWindowIsActive) {
    open_sized(680, 720);
    add_tone_tracks({L"Teoman - Papatya"}, 30000);
    bring_to_front(window);
    real_click(window, 300, row_y(0));
    ASSERT_TRUE(player_is_playing());
    HWND other = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 1000, 800, 120, 80, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);
    SetActiveWindow(other);
    pump(600);
    ASSERT_FALSE(g_app.window_active) << "the other window has the focus";
    RECT bar = g_hit.control_bar;
    ASSERT_TRUE(rect_has_area(&bar));
    int w = 0, h = 0;
    auto bar_pixels = [&]() {
        std::vector<unsigned> screen = screen_of(window, &w, &h);
        std::vector<unsigned> out;
        for (int y = bar.top; y < bar.bottom && y < h; y++)
            for (int x = bar.left; x < bar.right && x < w; x++) out.push_back(screen[(size_t)y * w + x]);
        return out;
    };
    std::vector<unsigned> before = bar_pixels();
    pump(2300);
    EXPECT_TRUE(bar_pixels() != before) << "the time and the progress stood still";
    DestroyWindow(other);
    stop_playback();
    player_close();
}

// The list follows the music folder while the window runs: files copied in join it, a
// renamed file keeps its row, a deleted one leaves it (the playing track plays on), and a
// renamed folder takes its tracks along; the rows stay in the order chosen.
TEST_F(InputTest, TheListFollowsTheMusicFolder) {
    CreateDirectoryW((music + L"\\Duman").c_str(), nullptr);
    ASSERT_TRUE(write_tone_wav(music + L"\\Duman\\01 - Bu Ak\u015fam.wav", {{440.0, 1000}}));
    ASSERT_TRUE(write_tone_wav(music + L"\\Teoman - Papatya.wav", {{550.0, 1000}}));
    std::wstring outside = work.file(L"outside");
    CreateDirectoryW(outside.c_str(), nullptr);
    ASSERT_TRUE(write_tone_wav(outside + L"\\Athena - Ya\u015famak Var.wav", {{660.0, 30000}}));
    ASSERT_TRUE(write_tone_wav(outside + L"\\Mor ve \u00d6tesi - Bir Derdim Var.wav", {{770.0, 30000}}));
    open_sized(680, 720);
    bring_to_front(window);
    ASSERT_EQ(track_list_count(), 2);
    real_click(window, g_hit.element[ELEMENT_SORT]);
    ASSERT_EQ(g_settings.sort, 1) << "rows by title";
    auto find = [](const wchar_t* title) {
        for (int i = 0; i < track_list_count(); i++)
            if (!wcscmp(track_list_at(i)->title, title)) return i;
        return -1;
    };
    auto rows = [] {
        std::wstring shown;
        for (int r = 0; r < g_app.filter.filtered_count; r++)
            shown += std::wstring(track_list_at(g_app.filter.filtered_indices[r])->title) + L"|";
        return shown;
    };
    auto row_ink = [&](int row) {
        int w = 0, h = 0;
        std::vector<unsigned> screen = screen_of(window, &w, &h);
        int ink = 0;
        for (int y = row_y(row) - scale(20); y < row_y(row); y++)
            for (int x = scale(68); x < scale(300); x++) {
                unsigned p = screen[(size_t)y * w + x];
                ink += ((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF)) > 300;
            }
        return ink;
    };
    EXPECT_EQ(row_ink(3), 0) << "two rows so far";

    ASSERT_TRUE(CopyFileW((outside + L"\\Athena - Ya\u015famak Var.wav").c_str(),
                          (music + L"\\Athena - Ya\u015famak Var.wav").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((outside + L"\\Mor ve \u00d6tesi - Bir Derdim Var.wav").c_str(),
                          (music + L"\\Mor ve \u00d6tesi - Bir Derdim Var.wav").c_str(), FALSE));
    ASSERT_TRUE(pump_until([&] { return find(L"Bir Derdim Var") >= 0 && find(L"Ya\u015famak Var") >= 0; }, 2000))
        << "the copies joined the list";
    EXPECT_EQ(track_list_count(), 4);
    EXPECT_STREQ(track_list_at(find(L"Bir Derdim Var"))->artist, L"Mor ve \u00d6tesi");
    EXPECT_EQ(rows(), L"Bir Derdim Var|Bu Ak\u015fam|Papatya|Ya\u015famak Var|");
    pump(100);
    EXPECT_GT(row_ink(3), 5) << "the fourth row is on the screen";

    // The copy that came last plays on while the one before it goes.
    int playing = find(L"Bir Derdim Var");
    ASSERT_GT(playing, find(L"Ya\u015famak Var"));
    real_click(window, 300, row_y(0));
    ASSERT_EQ(g_app.current_index, playing);
    ASSERT_TRUE(player_is_playing());

    int papatya = find(L"Papatya");
    ASSERT_TRUE(MoveFileW((music + L"\\Teoman - Papatya.wav").c_str(),
                          (music + L"\\Teoman - Papatya (Canl\u0131).wav").c_str()));
    ASSERT_TRUE(pump_until([&] { return find(L"Papatya (Canl\u0131)") >= 0; }, 2000)) << "the rename reached the list";
    EXPECT_EQ(find(L"Papatya (Canl\u0131)"), papatya) << "in its place";
    EXPECT_EQ(find(L"Papatya"), -1);
    EXPECT_EQ(track_list_count(), 4);

    ASSERT_TRUE(DeleteFileW((music + L"\\Athena - Ya\u015famak Var.wav").c_str()));
    ASSERT_TRUE(pump_until([&] { return find(L"Ya\u015famak Var") < 0; }, 2000)) << "the deleted file left the list";
    EXPECT_EQ(track_list_count(), 3);
    EXPECT_EQ(g_app.current_index, playing - 1) << "the playing track kept its index";
    EXPECT_STREQ(track_list_at(g_app.current_index)->title, L"Bir Derdim Var");
    EXPECT_TRUE(player_is_playing());
    EXPECT_EQ(rows(), L"Bir Derdim Var|Bu Ak\u015fam|Papatya (Canl\u0131)|");

    int aksam = find(L"Bu Ak\u015fam");
    EXPECT_STREQ(track_list_at(aksam)->album, L"Duman");
    const std::wstring album = L"Belki Al\u0131\u015fman Laz\u0131m";
    ASSERT_TRUE(MoveFileW((music + L"\\Duman").c_str(), (music + L"\\Duman - " + album).c_str()));
    ASSERT_TRUE(pump_until([&] { return track_list_at(aksam)->album == album; }, 2000))
        << "the folder's new name reached its track";
    EXPECT_EQ(std::wstring(track_list_at(aksam)->path), music + L"\\Duman - " + album + L"\\01 - Bu Ak\u015fam.wav");
    EXPECT_STREQ(track_list_at(aksam)->artist, L"Duman");
    EXPECT_EQ(track_list_count(), 3);
    stop_playback();
    player_close();
}

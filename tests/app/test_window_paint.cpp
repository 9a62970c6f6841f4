// The real main window painted in the states that matter, checked by the pixels the layout
// fixes and by the rectangles it records for the mouse. Each picture is also saved as a
// bitmap next to the test run, for a person to look at.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/settings.h"
#include "audio_support.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "social/identity.h"
#include "social/jam.h"
#include "test_support.h"
#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/hit_test.h"
#include "ui/layout.h"
#include "ui/main_paint.h"
#include "window_fixture.h"

namespace {

unsigned rgb(int r, int g, int b) {
    return (unsigned)((r << 16) | (g << 8) | b);
}

struct PaintTest : MainWindowTest {
    void set_client_size(int w, int h) {
        RECT r = {0, 0, w, h};
        AdjustWindowRectEx(&r, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE,
                           (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
        SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        pump(20);
    }

    RECT client() {
        RECT c;
        GetClientRect(window, &c);
        return c;
    }

    void repaint() {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }

    // The back buffer as the last paint left it, 0x00RRGGBB.
    unsigned pixel(int x, int y) {
        const BackBuffer& b = g_app.back_buffer;
        EXPECT_NE(b.pixels, nullptr);
        if (!b.pixels || x < 0 || y < 0 || x >= b.width || y >= b.height) return 0xFFFFFFFFu;
        return b.pixels[(size_t)y * b.width + x] & 0xFFFFFFu;
    }

    void save_picture(const wchar_t* name) { save_back_buffer(name); }

    void add_tracks(int n) {
        static const wchar_t* NAMES[] = {L"Tarkan - Kuzu Kuzu", L"Duman - Senden Daha G\u00fczel", L"Manga - Cevaps\u0131z Sorular",
                                         L"Gripin - Ac\u0131 Veriyor", L"Sezen Aksu - Gidiyorum", L"Teoman - \u0130stanbul'da Sonbahar"};
        for (int i = 0; i < n; i++) {
            wchar_t path[260];
            wstr_format(path, 260, L"%ls\\%ls %d.mp3", music.c_str(), NAMES[i % 6], i + 1);
            track_list_add(path, 0);
        }
        apply_filter();
    }

    // Row i's slot top, with the list as it stands.
    int row_top(int i) { return current_list_top() + scale(6) + scale(56) * i - (int)g_app.scroll_offset.value; }
};

TEST_F(PaintTest, EmptyLibraryNoMatchAndNarrowWidths) {
    use_music_folder();
    open_window();
    set_client_size(680, 720);
    repaint();
    save_picture(L"empty-library");
    RECT c = client();
    ASSERT_EQ(c.right, 680);
    EXPECT_EQ(pixel(300, 5), rgb(16, 16, 16)) << "header band";
    EXPECT_EQ(pixel(300, 59), rgb(38, 38, 38)) << "the header's bottom line";
    EXPECT_EQ(pixel(5, 300), rgb(5, 5, 5)) << "window background";
    // The library card: (16, 16, 16) at alpha 180 over the background.
    int m = (86 + (720 - 108)) / 2;
    EXPECT_EQ(pixel(40, m), rgb(12, 12, 12));
    EXPECT_FALSE(rect_has_area(&g_hit.scroll_zone));
    EXPECT_FALSE(rect_has_area(&g_hit.element[ELEMENT_SEARCH_CLEAR]));

    PlayerLayout p = player_layout(680, 720, 96);
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_PLAY], &p.play));
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_SEEK], &p.seek_hit));
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_VOLUME], &p.volume_hit));
    EXPECT_EQ(pixel(p.x, p.cy - 15), rgb(255, 255, 255)) << "the play disc";
    EXPECT_EQ(pixel(p.x + 12, p.cy + 12), rgb(255, 255, 255));
    // Volume 80 of the settings: the fill's first column is the gradient's start, its middle
    // column its middle stop.
    int fill = (int)(0.8f * 72);
    COLORREF start = accent_gradient_color(2.0f / (fill - 1));
    EXPECT_EQ(pixel(p.volume_left + 2, p.pc), rgb(GetRValue(start), GetGValue(start), GetBValue(start)));
    EXPECT_EQ(pixel(p.volume_left + (fill - 1) / 2, p.pc), rgb(240, 68, 184));
    EXPECT_EQ(pixel(p.volume_left + fill + 3, p.pc), rgb(24, 24, 24)) << "the unfilled track";

    // A filter that matches nothing shows its own card and the clear button.
    add_tracks(5);
    SetWindowTextW(g_app.search_box, L"zzzz");
    ASSERT_TRUE(g_app.filter.active);
    EXPECT_EQ(g_app.filter.filtered_count, 0);
    repaint();
    save_picture(L"filter-no-match");
    EXPECT_EQ(pixel(40, m), rgb(12, 12, 12));
    EXPECT_TRUE(rect_has_area(&g_hit.element[ELEMENT_SEARCH_CLEAR]));
    RECT edit;
    GetWindowRect(g_app.search_box, &edit);
    MapWindowPoints(nullptr, window, (POINT*)&edit, 2);
    EXPECT_EQ(edit.right - edit.left, 190 - 28 - 30) << "room for the clear button";

    // Narrow: the 148-wide search box, then the header buttons give way.
    set_client_size(540, 640);
    repaint();
    save_picture(L"narrow-540");
    EXPECT_EQ(g_hit.search_box.right - g_hit.search_box.left, 148);
    HeaderLayout h = header_layout(540, 96);
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_DOWNLOAD], &h.download));
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_FRIENDS], &h.friends));
    HeaderLayout tight = header_layout(440, 96);
    EXPECT_FALSE(rect_has_area(&tight.friends));
}

TEST_F(PaintTest, ATrackListWithItsHighlightsBannerAndJamBar) {
    use_music_folder();
    open_window();
    set_client_size(680, 720);
    add_tracks(40);
    g_app.current_index = 1;
    g_app.selected_index = 3;
    int y1 = row_top(1), y2 = row_top(2), y3 = row_top(3);
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(300, y2 + 26));
    EXPECT_EQ(g_app.hover_row, 2);
    repaint();
    save_picture(L"forty-tracks");
    // Straight parts of each card, 3 px inside its top edge and clear of the text.
    EXPECT_EQ(pixel(300, y1 + 3), rgb(26, 18, 28)) << "the current track";
    EXPECT_EQ(pixel(300, y2 + 3), rgb(20, 20, 20)) << "the hovered row";
    EXPECT_EQ(pixel(300, y3 + 3), rgb(19, 19, 19)) << "the selected row, (24, 24, 24) at alpha 200";
    EXPECT_EQ(pixel(300, row_top(4) + 3), rgb(5, 5, 5)) << "a plain row has no card";
    EXPECT_TRUE(rect_has_area(&g_hit.scroll_zone));
    EXPECT_TRUE(rect_has_area(&g_hit.scroll_thumb));
    EXPECT_EQ(g_hit.scroll_thumb.top, g_hit.scroll_zone.top) << "scrolled to the top";

    // Multi-selection marks win over every other highlight.
    g_app.multi_select_mode = 1;
    g_app.multi_selected[1] = 1;
    g_app.multi_selected[4] = 1;
    repaint();
    save_picture(L"multi-selection");
    EXPECT_EQ(pixel(300, y1 + 3), rgb(38, 20, 42));
    EXPECT_EQ(pixel(300, row_top(4) + 3), rgb(38, 20, 42));
    g_app.multi_select_mode = 0;

    // A banner in progress pushes the list down by its height.
    banner_show(BANNER_SHARED, 40, L"PAYLA\u015eILAN L\u0130STE", L"Tarkan - Kuzu Kuzu indiriliyor", 0);
    g_app.banner_progress = {1, 0};
    repaint();
    save_picture(L"banner");
    EXPECT_EQ(current_list_top(), 60 + 60 + 26);
    EXPECT_EQ(pixel(300, 60 + 10), rgb(19, 13, 23)) << "the banner card, (20, 14, 24) at alpha 245";
    RECT track = {12 + 12, 60 + 56 - 10, 680 - 12 - 12, 60 + 56 - 5};
    EXPECT_GE((int)(pixel(track.left + 3, track.top + 2) >> 16), 250) << "the progress fill starts orange";
    EXPECT_EQ(pixel(track.right - 20, track.top + 2), rgb(24, 24, 24)) << "40 % leaves the end of the track empty";
    EXPECT_EQ(pixel(300, row_top(1) + 3), rgb(26, 18, 28)) << "the rows moved down with the list";

    // In a Jam room: the Jam bar above the banner and the dusk background.
    g_jam.state = JAM_IN_ROOM;
    strcpy(g_jam.room_id, "jam_ben_1");
    jam_member_add(L"Ali#2222", L"Ali");
    jam_member_add(L"Veli#3333", L"Veli");
    g_app.jam_bar_progress = {1, 0};
    repaint();
    save_picture(L"jam-bar");
    EXPECT_EQ(current_list_top(), 60 + 54 + 60 + 26);
    EXPECT_EQ(pixel(300, 60 + 6 + 3), rgb(26, 14, 30)) << "the Jam bar card";
    EXPECT_EQ(pixel(2, 2), rgb(16, 16, 16)) << "the header still covers the top";
    EXPECT_EQ(pixel(2, 719), rgb(5, 5, 5)) << "the dusk ends in the window colour";
    EXPECT_TRUE(rect_has_area(&g_hit.element[ELEMENT_JAM_LEAVE]));
    EXPECT_FALSE(rect_has_area(&g_hit.element[ELEMENT_JAM_DOWNLOAD])) << "nothing is wanted";

    // An invitation over everything, with its two buttons recorded.
    g_jam.invitation.pending = 1;
    g_jam.invitation.received_at = GetTickCount();
    wcscpy(g_jam.invitation.name, L"Ay\u015fe");
    repaint();
    save_picture(L"invitation");
    RECT notice = invitation_rect(680, 96);
    EXPECT_EQ(pixel(notice.right - 124, notice.top + 4), rgb(26, 14, 30)) << "over the Jam bar, clear of its text (which shows through)";
    EXPECT_TRUE(rect_has_area(&g_hit.element[ELEMENT_INVITE_JOIN]));
    POINT join = {g_hit.element[ELEMENT_INVITE_JOIN].left + 3, (notice.top + notice.bottom) / 2};
    EXPECT_EQ(element_at(join), ELEMENT_INVITE_JOIN);
}

TEST_F(PaintTest, SidebarAndDpiChanges) {
    use_music_folder();
    open_window();
    set_client_size(680, 720);
    add_tracks(12);
    repaint();
    unsigned before = pixel(600, 300);
    g_app.sidebar_open = 1;
    g_app.sidebar_progress = {0.5f, 0};
    repaint();
    save_picture(L"sidebar-half");
    // Right of the half-open panel every channel is scaled by 197 / 256.
    unsigned after = pixel(600, 300);
    EXPECT_EQ((after >> 16) & 255, (((before >> 16) & 255) * 197) >> 8);
    EXPECT_EQ(pixel(5, 5), rgb(16, 16, 16)) << "the header is not covered";
    g_app.sidebar_progress = {1, 0};
    repaint();
    save_picture(L"sidebar-menu");
    EXPECT_EQ(pixel(8, 500), rgb(14, 14, 14)) << "the tint, (16, 16, 16) at alpha 226, over the blurred ground";
    EXPECT_EQ(element_at(POINT{400, 300}), ELEMENT_NONE) << "the open panel covers the window";

    // Another monitor: fonts, buffer and every length follow the new dpi.
    g_app.sidebar_open = 0;
    g_app.sidebar_progress = {0, 0};
    RECT w;
    GetWindowRect(window, &w);
    RECT suggested = {w.left, w.top, w.left + 1020, w.top + 1080};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
    EXPECT_EQ(g_app.dpi, 144);
    repaint();
    save_picture(L"dpi-144");
    RECT menu = {18, 18, 72, 72};
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_MENU], &menu));
    LOGFONTW lf;
    GetObjectW(g_fonts.label_bold, sizeof(lf), &lf);
    EXPECT_EQ(lf.lfHeight, -20);
    RECT c = client();
    PlayerLayout p = player_layout(c.right, c.bottom, 144);
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_PLAY], &p.play));
    EXPECT_EQ(g_app.back_buffer.width, c.right);

    // Odd values do not break anything.
    for (int dpi : {0, 72, 288, 96}) {
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&suggested);
        repaint();
        EXPECT_EQ(g_app.dpi, dpi ? dpi : 96);
    }
}

TEST_F(PaintTest, TheFriendsPanelByTabAndState) {
    use_music_folder();
    open_window();
    set_client_size(680, 720);
    wstr_copy(g_identity.name, L"Ornek");
    wstr_copy(g_identity.tag, L"Ornek#8421");
    g_friends = FriendStore{};
    const wchar_t* names[3] = {L"ilker", L"(x)", L"Zeynep"};
    for (int i = 0; i < 3; i++) {
        FriendEntry* e = &g_friends.friends[g_friends.friend_count++];
        wstr_copy(e->name, names[i]);
        wstr_format(e->tag, USER_TAG_CAPACITY, L"%ls#%d", names[i], 1000 + i);
        e->online = i != 1;
    }
    g_friends.friends[0].playing = 1;
    wstr_copy(g_friends.friends[0].status_text, L"Barış Manço - Dönence");
    for (int i = 0; i < 2; i++) {
        PendingEntry* p = &g_friends.pending[g_friends.pending_count++];
        wstr_format(p->tag, USER_TAG_CAPACITY, L"Misafir#%d", 4000 + i);
        wstr_copy(p->name, i ? L"" : L"Deniz");
    }
    g_app.sidebar_open = 1;
    g_app.sidebar_mode = 1;
    g_app.sidebar_progress = {1, 0};
    g_app.friends_tab = 0;
    repaint();
    save_picture(L"friends-list");
    EXPECT_EQ(pixel(182, 85), rgb(255, 146, 92)) << "not connected: the pill's dot is orange";
    // Rows start under the "Jam Odası Başlat" card, 60 apart; the presence dot says who is online.
    EXPECT_EQ(pixel(47, 298), rgb(255, 146, 92));
    EXPECT_EQ(pixel(47, 358), rgb(70, 70, 75));
    RECT invite = {182, 273, 236, 301}, remove = {238, 275, 260, 299}, start = {12, 212, 266, 256};
    EXPECT_TRUE(EqualRect(&g_hit.friend_invite[0], &invite));
    EXPECT_TRUE(EqualRect(&g_hit.friend_remove[0], &remove));
    EXPECT_TRUE(EqualRect(&g_hit.jam_start_card, &start));
    EXPECT_FALSE(rect_has_area(&g_hit.friend_invite[3]));

    // In a Jam room the start card gives way and a member's row turns to the room's colours.
    g_jam.state = JAM_IN_ROOM;
    strcpy(g_jam.room_id, "jam_ornek_1");
    jam_member_add(L"Zeynep#1002", L"Zeynep");
    repaint();
    save_picture(L"friends-jam");
    EXPECT_FALSE(rect_has_area(&g_hit.jam_start_card));
    EXPECT_EQ(pixel(150, 212 + 2 * 60 + 3), rgb(28, 16, 32)) << "the member's row";
    EXPECT_EQ(pixel(150, 212 + 3), rgb(16, 16, 16)) << "another friend's row";
    jam_reset();

    g_app.friends_tab = 1;
    repaint();
    save_picture(L"friends-requests");
    RECT accept = {198, 221, 228, 251};
    EXPECT_TRUE(EqualRect(&g_hit.request_accept[0], &accept));
    EXPECT_FALSE(rect_has_area(&g_hit.friend_invite[0])) << "the list's buttons are gone with its tab";

    g_app.friends_tab = 2;
    wstr_copy(g_app.friend_notice, L"✓ İstek gönderildi!");
    repaint();
    save_picture(L"friends-add-sent");
    wstr_copy(g_app.friend_notice, L"Böyle bir kullanıcı bulunamadı!");
    repaint();
    save_picture(L"friends-add-not-found");
    RECT send = {12, 312, 266, 350};
    EXPECT_TRUE(EqualRect(&g_hit.element[ELEMENT_SEND_REQUEST], &send));

    // Editing the name: the name box sits in the frame drawn for it.
    g_app.friends_tab = 0;
    g_app.name_editing = 1;
    ShowWindow(g_app.name_box, SW_SHOWNA);
    repaint();
    save_picture(L"friends-editing");
    ASSERT_TRUE(rect_has_area(&g_hit.name_box_frame));
    RECT box;
    GetWindowRect(g_app.name_box, &box);
    MapWindowPoints(nullptr, window, (POINT*)&box, 2);
    RECT inside;
    EXPECT_TRUE(IntersectRect(&inside, &box, &g_hit.name_box_frame) && EqualRect(&inside, &box));

    g_app.name_editing = 0;
    RECT w;
    GetWindowRect(window, &w);
    RECT suggested = {w.left, w.top, w.left + 1020, w.top + 1080};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
    repaint();
    save_picture(L"friends-144");
    EXPECT_EQ(pixel(70, 447), rgb(255, 146, 92)) << "the first row's dot, at 144 dpi";

    // A verified friend's key card in a window too short for it below the tabs: it rises,
    // and its whole button shows.
    memset(g_friends.friends[0].key, 'A', 86);
    wstr_copy(g_app.friend_card_tag, g_friends.friends[0].tag);
    set_client_size(680, 520);
    repaint();
    save_picture(L"friends-key-card-short-144");
    RECT check = g_hit.friend_card_check;
    EXPECT_EQ(check.bottom - check.top, scale(30)) << check.top << ".." << check.bottom;
    EXPECT_EQ(pixel(check.left + 6, (check.top + check.bottom) / 2), rgb(255, 146, 92)) << "\"Kontrol et\"";
    g_friends = FriendStore{};
}

TEST_F(PaintTest, HostileSizesAndLists) {
    use_music_folder();
    open_window();
    // 100,000 tracks, some with the longest titles and combining marks.
    std::wstring marks;
    for (int i = 0; i < 120; i++) marks += L"a\u0301";
    for (int i = 0; i < 100000; i++) {
        wchar_t path[260];
        if (i % 1000 == 0) wstr_format(path, 260, L"%ls\\%ls.mp3", music.c_str(), marks.c_str());
        else wstr_format(path, 260, L"%ls\\Par\u00e7a %d.mp3", music.c_str(), i);
        track_list_add(path, 0);
    }
    apply_filter();
    g_app.current_index = 99999;
    set_client_size(680, 720);
    g_app.scroll_target = g_app.scroll_offset.value = 1e9f;
    clamp_scroll_to_list();
    repaint();
    save_picture(L"hundred-thousand");
    EXPECT_GT(g_hit.scroll_thumb.top, g_hit.scroll_zone.top);
    for (SIZE s : {SIZE{1, 1}, SIZE{2, 3}, SIZE{8000, 8000}, SIZE{120, 90}, SIZE{680, 720}}) {
        set_client_size(s.cx, s.cy);
        repaint();
        RECT c = client();
        if (g_app.back_buffer.pixels) {
            EXPECT_EQ(g_app.back_buffer.width, c.right);
        }
    }
    EXPECT_TRUE(IsWindow(window));
}

// The player card's cover for three generated tracks (tools/cover_clips.py), each in a
// folder of its own: a red Folder.JPG beside a track whose tag holds a blue PNG; that PNG
// with an unreadable cover.jpg beside it; a PNG cut short in the tag.
TEST_F(PaintTest, TheCoverComesFromBesideTheTrackThenFromItsTag) {
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring clips = here;
    clips = clips.substr(0, clips.find_last_of(L'\\')) + L"\\cover-clips";
    const wchar_t* folders[] = {L"beside", L"inside", L"broken"};
    for (const wchar_t* folder : folders) {
        std::wstring from = clips + L"\\" + folder, to = music + L"\\" + folder;
        CreateDirectoryW(to.c_str(), nullptr);
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &found);
        ASSERT_NE(find, INVALID_HANDLE_VALUE) << "no clips: tools/cover_clips.py makes them at build time";
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::wstring name = found.cFileName;
            EXPECT_TRUE(CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE));
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    use_music_folder();
    open_window();
    set_client_size(680, 720);
    ASSERT_EQ(track_list_count(), 3);
    RECT cover = player_layout(680, 720, 96).cover;
    int cx = (cover.left + cover.right) / 2, cy = (cover.top + cover.bottom) / 2;
    // Two spots inside the rounded square: its middle, and near its left edge, clear of the
    // glyph's disc. A JPEG's colour may be a step or two off; a PNG's is exact.
    POINT spots[] = {{cx, cy}, {cover.left + 5, cy}};
    struct Shown {
        const wchar_t* folder;
        int picture;
        unsigned colour;
        int tolerance;
        const char* why;
    } shown[] = {
        {L"beside", 1, rgb(0xDC, 0x3C, 0x28), 6, "Folder.JPG beside the track comes before its tag"},
        {L"inside", 1, rgb(0x28, 0xAA, 0xE6), 0, "an unreadable cover.jpg gives way to the tag's PNG"},
        {L"broken", 0, 0, 0, "a picture cut short leaves the empty square and its glyph"},
    };
    for (const Shown& s : shown) {
        int index = track_list_find_path((music + L"\\" + s.folder + L"\\Kapak.flac").c_str());
        ASSERT_GE(index, 0);
        play_track(index, 0, 1, 0);
        repaint();
        save_picture((std::wstring(L"cover-") + s.folder).c_str());
        if (!s.picture) {
            EXPECT_EQ(pixel(cover.left + 5, cy), rgb(24, 24, 24)) << s.why;
            EXPECT_EQ(pixel(cx - 14, cy), rgb(32, 32, 32)) << s.why;
            continue;
        }
        for (POINT at : spots) {
            unsigned got = pixel(at.x, at.y);
            int off = 0;
            for (int shift : {0, 8, 16}) off = std::max(off, abs((int)((got >> shift) & 255) - (int)((s.colour >> shift) & 255)));
            EXPECT_LE(off, s.tolerance) << s.why << ": " << std::hex << got << " at " << std::dec << at.x << "," << at.y;
        }
    }
    stop_playback();
}

}  // namespace

// The friends panel used with a real mouse and keyboard: every box shows what is typed, in
// the field drawn for it and nowhere else, however it was reached; long lists scroll and
// their buttons act on the rows they are drawn on; a verified friend's row opens the card on
// which the user compares key codes and marks the key as checked.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/main_window.h"
#include "base/wstr.h"
#include "real_input.h"
#include "social/friends.h"
#include "social/jam.h"
#include "social/trust.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/hit_test.h"
#include "window_fixture.h"

namespace {

struct FriendsInputTest : MainWindowTest {
    void open_at(int w, int h) {
        use_music_folder();
        open_window();
        resize(w, h);
        bring_to_front(window);
        ASSERT_EQ(GetForegroundWindow(), window);
    }

    void resize(int w, int h) {
        RECT r = {0, 0, w, h};
        AdjustWindowRectEx(&r, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE,
                           (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
        SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
        pump(60);
    }

    // Added once the window's start-up has read the (empty) store.
    void add_friends(int count) {
        for (int i = 0; i < count; i++) {
            FriendEntry* e = &g_friends.friends[g_friends.friend_count++];
            *e = FriendEntry{};
            wstr_format(e->name, IDENTITY_NAME_CAPACITY, L"Arkada\u015f %d", i + 1);
            wstr_format(e->tag, USER_TAG_CAPACITY, L"Arkadas%d#%d", i + 1, 5000 + i);
            wstr_copy(e->status_text, L"\u00c7evrimd\u0131\u015f\u0131");
        }
    }

    void add_requests(int count) {
        for (int i = 0; i < count; i++) {
            PendingEntry* p = &g_friends.pending[g_friends.pending_count++];
            wstr_format(p->name, IDENTITY_NAME_CAPACITY, L"\u0130stek %d", i + 1);
            wstr_format(p->tag, USER_TAG_CAPACITY, L"Istek%d#%d", i + 1, 7000 + i);
        }
    }

    // The panel opened by a click on the header's friends button, settled.
    void open_panel() {
        real_click(window, g_hit.element[ELEMENT_FRIENDS]);
        ASSERT_TRUE(pump_until([] { return g_app.sidebar_open && g_app.sidebar_mode == 1 && !g_app.animating; }, 3000));
        pump(60);
    }

    // What the screen shows beyond the painted frame lies inside field and holds text;
    // with field null the screen is exactly the painted frame.
    void expect_text_only_in(const RECT* field, const char* where, bool search_box = false) {
        ScreenDifference d = screen_against_painter(window, search_box);
        if (!field) {
            EXPECT_EQ(d.count, 0) << where << ": the screen differs from the frame at " << rect_text(d.box);
            return;
        }
        EXPECT_GT(d.bright, 8) << where << ": the typed text is not on the screen";
        EXPECT_TRUE(rect_inside(d.box, *field)) << where << ": shown at " << rect_text(d.box) << ", field "
                                                << rect_text(*field);
    }
};

TEST_F(FriendsInputTest, TheTagBoxShowsWhatIsTypedHoweverItIsReached) {
    open_at(680, 720);
    add_friends(3);
    add_requests(2);
    open_panel();

    // The tab, then a click into the field, as a person does.
    real_click(window, g_hit.element[ELEMENT_TAB_ADD]);
    RECT field = g_hit.tag_box_frame;
    ASSERT_TRUE(rect_has_area(&field));
    real_click(window, field);
    real_type(L"Ali#1234");
    expect_text_only_in(&field, "after the tab");

    // Back to the list: nothing of the box is left over the first friend's row.
    real_click(window, g_hit.element[ELEMENT_TAB_FRIENDS]);
    expect_text_only_in(nullptr, "on the list");
    real_type(L"x");

    // Accepting a request switches to the list too.
    real_click(window, g_hit.element[ELEMENT_TAB_ADD]);
    real_click(window, g_hit.element[ELEMENT_TAB_REQUESTS]);
    {
        MessageBoxAnswer yes(VK_RETURN);
        real_click(window, g_hit.request_accept[0]);
        ASSERT_TRUE(pump_until([] { return pending_count() == 1; }, 3000));
    }
    EXPECT_EQ(g_app.friends_tab, 0);
    expect_text_only_in(nullptr, "after accepting");
    real_click(window, g_hit.element[ELEMENT_TAB_ADD]);
    real_click(window, g_hit.tag_box_frame);
    real_type(L"5");
    expect_text_only_in(&g_hit.tag_box_frame, "after accepting and coming back");
    wchar_t typed[64];
    GetWindowTextW(g_app.tag_box, typed, 64);
    EXPECT_STREQ(typed, L"Ali#12345") << "the keystrokes on the list went nowhere";

    // Closed and opened again, then a bigger window and a higher DPI.
    real_click(window, g_hit.element[ELEMENT_FRIENDS]);
    ASSERT_TRUE(pump_until([] { return !g_app.animating; }, 3000));
    expect_text_only_in(nullptr, "closed");
    open_panel();
    real_click(window, g_hit.tag_box_frame);
    real_type(L"6");
    expect_text_only_in(&g_hit.tag_box_frame, "reopened");
    resize(900, 800);
    real_click(window, g_hit.tag_box_frame);
    real_type(L"7");
    expect_text_only_in(&g_hit.tag_box_frame, "resized");
    RECT w;
    GetWindowRect(window, &w);
    RECT suggested = {w.left, w.top, w.left + 1020, w.top + 960};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
    pump(100);
    real_click(window, g_hit.tag_box_frame);
    real_type(L"8");
    expect_text_only_in(&g_hit.tag_box_frame, "at 144 dpi");
    GetWindowTextW(g_app.tag_box, typed, 64);
    EXPECT_STREQ(typed, L"Ali#12345678");
    g_friends = FriendStore{};
}

TEST_F(FriendsInputTest, ATypedTagIsCheckedThenLookedUpUntilNobodyAnswers) {
    open_at(680, 720);
    add_friends(1);
    ASSERT_TRUE(g_identity.tag[0]);
    open_panel();
    real_click(window, g_hit.element[ELEMENT_TAB_ADD]);
    real_click(window, g_hit.tag_box_frame);
    struct Row {
        std::wstring typed;
        const wchar_t* notice;
    } refused[] = {
        {L" @ \t", L"L\u00fctfen bir kullan\u0131c\u0131 etiketi yaz\u0131n."},
        {L"Ornek12", L"Etiket '#' ve numara i\u00e7ermelidir (\u00d6rn: Ornek#8421)"},
        {g_identity.tag, L"Kendinize istek g\u00f6nderemezsiniz."},
        {L"@baska#5000", L"Bu kullan\u0131c\u0131 zaten arkada\u015f listenizde."},
    };
    for (const Row& r : refused) {
        real_retype(r.typed);
        real_key(VK_RETURN);
        EXPECT_STREQ(g_app.friend_notice, r.notice) << "typed: " << (int)r.typed.size();
        EXPECT_FALSE(g_app.friend_search_active);
    }
    // Sent with the button this time; the typed blanks and "@" go.
    real_retype(L" @Ali#1234\t");
    real_click(window, g_hit.element[ELEMENT_SEND_REQUEST]);
    EXPECT_TRUE(g_app.friend_search_active);
    EXPECT_STREQ(g_app.friend_search_tag, L"Ali#1234");
    EXPECT_STREQ(g_app.friend_notice, L"Kullan\u0131c\u0131 aran\u0131yor...");
    EXPECT_EQ(g_app.tick_period, 200);
    ASSERT_TRUE(pump_until([] { return !g_app.friend_search_active; }, 6000));
    EXPECT_GE(GetTickCount() - g_app.friend_search_tick, 3600u);
    EXPECT_STREQ(g_app.friend_notice, L"B\u00f6yle bir kullan\u0131c\u0131 bulunamad\u0131!");
    g_friends = FriendStore{};
}

TEST_F(FriendsInputTest, TheNameAndSearchBoxesShowWhatIsTypedWhereTheyAreDrawn) {
    open_at(680, 720);
    add_friends(2);
    open_panel();
    wchar_t old_name[64];
    wstr_copy(old_name, g_identity.name);

    // Editing the name: the box takes the card's field, with the name selected to be typed over.
    real_click(window, g_hit.element[ELEMENT_PANEL_EDIT_NAME]);
    ASSERT_TRUE(g_app.name_editing);
    RECT field = g_hit.name_box_frame;
    ASSERT_TRUE(rect_has_area(&field));
    real_type(L"Yeni Ad");
    expect_text_only_in(&field, "editing the name");
    // "Geri" while editing: the menu shows, and no box over it.
    real_click(window, g_hit.element[ELEMENT_PANEL_BACK]);
    EXPECT_EQ(g_app.sidebar_mode, 0);
    EXPECT_FALSE(g_app.name_editing);
    expect_text_only_in(nullptr, "the menu after Geri");
    EXPECT_STREQ(g_identity.name, old_name) << "going back does not rename";

    // Editing again from a reopened panel, then Enter saves the typed name.
    real_click(window, g_hit.element[ELEMENT_MENU]);
    open_panel();
    real_click(window, g_hit.element[ELEMENT_PANEL_EDIT_NAME]);
    real_type(L"Deniz");
    expect_text_only_in(&g_hit.name_box_frame, "editing after reopening");
    real_key(VK_RETURN);
    EXPECT_STREQ(g_identity.name, L"Deniz");
    expect_text_only_in(nullptr, "after saving the name");

    // The search box, wide and narrow: typed text filters and shows in the pill only.
    real_click(window, g_hit.element[ELEMENT_FRIENDS]);
    ASSERT_TRUE(pump_until([] { return !g_app.animating; }, 3000));
    real_click(window, g_hit.search_box);
    real_type(L"abc");
    EXPECT_STREQ(g_app.filter.text, L"abc");
    expect_text_only_in(&g_hit.search_box, "the search box", true);
    resize(520, 600);
    real_click(window, g_hit.search_box);
    real_type(L"d");
    EXPECT_STREQ(g_app.filter.text, L"abcd");
    expect_text_only_in(&g_hit.search_box, "the narrow search box", true);
}

TEST_F(FriendsInputTest, LongListsScrollAndTheirButtonsActOnTheirRows) {
    open_at(680, 720);
    add_friends(20);
    add_requests(12);
    open_panel();
    EXPECT_FALSE(rect_has_area(&g_hit.friend_remove[19])) << "the last friend is below the panel";
    RECT list = g_hit.panel_list;
    ASSERT_TRUE(rect_has_area(&list));
    for (int i = 0; i < 10; i++) real_wheel(window, 140, 400, 1);
    ASSERT_TRUE(pump_until([] { return !g_app.animating; }, 3000));
    pump(60);
    RECT remove = g_hit.friend_remove[19];
    ASSERT_TRUE(rect_has_area(&remove)) << "scrolled to the end";
    EXPECT_TRUE(rect_inside(remove, list));
    EXPECT_FALSE(rect_has_area(&g_hit.friend_remove[0])) << "the first rows went up out of the list";
    {
        MessageBoxAnswer yes(VK_RETURN);
        real_click(window, remove);
        ASSERT_TRUE(pump_until([] { return friend_count() == 19; }, 3000));
    }
    EXPECT_STREQ(friend_at(18)->name, L"Arkada\u015f 19") << "the row clicked is the row removed";
    expect_text_only_in(nullptr, "the list scrolled");

    // The requests keep their own place; the twelfth is accepted from the bottom.
    real_click(window, g_hit.element[ELEMENT_TAB_REQUESTS]);
    EXPECT_FALSE(rect_has_area(&g_hit.request_accept[11]));
    for (int i = 0; i < 6; i++) real_wheel(window, 140, 400, 1);
    ASSERT_TRUE(pump_until([] { return !g_app.animating; }, 3000));
    pump(60);
    ASSERT_TRUE(rect_has_area(&g_hit.request_accept[11]));
    {
        MessageBoxAnswer yes(VK_RETURN);
        real_click(window, g_hit.request_accept[11]);
        ASSERT_TRUE(pump_until([] { return pending_count() == 11; }, 3000));
    }
    EXPECT_STREQ(friend_at(19)->name, L"\u0130stek 12");
    g_friends = FriendStore{};
}

TEST_F(FriendsInputTest, AVerifiedFriendsKeyCardShowsBothCodesAndKeepsTheCheck) {
    open_at(680, 720);
    add_friends(2);
    FriendEntry* verified = friend_at(0);
    memset(verified->key, 'A', 86);  // a pinned key: 64 zero bytes
    wchar_t code[40];
    trust_fingerprint(verified->key, code, 40);
    ASSERT_TRUE(code[0]) << "the test's key has a code";
    open_panel();
    RECT row = g_hit.friend_row[0], invite = g_hit.friend_invite[0];
    ASSERT_TRUE(rect_has_area(&row));
    // The row's name line, where the mark follows the name.
    RECT name_line = {row.left + 40, row.top + 6, invite.left - 4, row.top + 28};
    int w = 0, h = 0;
    std::vector<unsigned> before = screen_of(window, &w, &h);
    auto shown = [&](int x, int y) {
        std::vector<unsigned> now = screen_of(window, &w, &h);
        return now[(size_t)y * w + x];
    };
    auto name_line_changed = [&]() {
        std::vector<unsigned> now = screen_of(window, &w, &h);
        for (int y = name_line.top; y < name_line.bottom; y++)
            for (int x = name_line.left; x < name_line.right; x++)
                if (now[(size_t)y * w + x] != before[(size_t)y * w + x]) return true;
        return false;
    };

    // A click on the row, away from its buttons, opens the card over the list.
    real_click(window, (row.left + invite.left) / 2, (row.top + row.bottom) / 2);
    RECT card = g_hit.friend_card, check = g_hit.friend_card_check;
    ASSERT_TRUE(rect_has_area(&card)) << "no card";
    expect_text_only_in(nullptr, "the card");
    int middle = (card.top + card.bottom) / 2;
    EXPECT_EQ(shown(card.left + 6, middle), 0x140E18u) << "the card's own fill, on the screen";
    EXPECT_EQ(shown(check.left + 6, (check.top + check.bottom) / 2), 0xFF925Cu) << "\"Kontrol et\" in orange";
    int bright = 0;
    std::vector<unsigned> now = screen_of(window, &w, &h);
    for (int y = card.top; y < check.top; y++)
        for (int x = card.left; x < card.right; x++) bright += (now[(size_t)y * w + x] & 0xFFFFFFu) == 0xFFFFFFu;
    EXPECT_GT(bright, 300) << "the name and the two codes are written in white";
    save_back_buffer(L"friends-key-card");

    // The button sets the mark, which friends.json keeps; a click elsewhere on the card leaves it open.
    real_click(window, check);
    EXPECT_EQ(friend_at(0)->key_checked, 1);
    friends_save_flush();
    EXPECT_NE(read_file(work.file(L"friends.json")).find("\"key_checked\": \"1\""), std::string::npos);
    EXPECT_EQ(shown(check.left + 6, (check.top + check.bottom) / 2), 0x2A142Cu) << "\"Kontrol edildi\"";
    save_back_buffer(L"friends-key-checked");
    real_click(window, card.left + 20, middle);
    EXPECT_TRUE(rect_has_area(&g_hit.friend_card)) << "a click on the card itself";

    // Esc closes it; the row now shows the checked key.
    real_key(VK_ESCAPE);
    pump(60);
    EXPECT_FALSE(rect_has_area(&g_hit.friend_card));
    EXPECT_TRUE(g_app.sidebar_open) << "Esc closed the card, not the panel";
    EXPECT_TRUE(name_line_changed()) << "the mark after the name did not change";
    expect_text_only_in(nullptr, "the card closed");

    // A friend whose key is not pinned has no card.
    real_click(window, (g_hit.friend_row[1].left + g_hit.friend_invite[1].left) / 2, g_hit.friend_row[1].top + 10);
    EXPECT_FALSE(rect_has_area(&g_hit.friend_card));

    // A click on a tab closes the card and acts; the invite button invites, opening nothing.
    real_click(window, (row.left + invite.left) / 2, row.top + 10);
    ASSERT_TRUE(rect_has_area(&g_hit.friend_card));
    real_click(window, g_hit.element[ELEMENT_TAB_REQUESTS]);
    EXPECT_EQ(g_app.friends_tab, 1);
    real_click(window, g_hit.element[ELEMENT_TAB_FRIENDS]);
    EXPECT_FALSE(rect_has_area(&g_hit.friend_card));
    real_click(window, g_hit.friend_invite[0]);
    EXPECT_EQ(jam_state(), JAM_INVITING);
    EXPECT_FALSE(rect_has_area(&g_hit.friend_card));
    g_friends = FriendStore{};
}

}  // namespace

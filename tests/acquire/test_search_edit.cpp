// The search window's edit box: the clipboard, its shortcuts and its context menu.
#include <windows.h>

#include <string>

#include "search_window_fixture.h"


static bool put_on_clipboard(HWND owner, const wchar_t* text) {
    for (int i = 0; i < 50; i++) {
        if (OpenClipboard(owner)) {
            EmptyClipboard();
            bool ok = true;
            if (text) {
                size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
                HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
                memcpy(GlobalLock(mem), text, bytes);
                GlobalUnlock(mem);
                ok = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
            }
            CloseClipboard();
            return ok;
        }
        Sleep(10);
    }
    return false;
}

static std::wstring clipboard_text(HWND owner) {
    std::wstring text;
    for (int i = 0; i < 50; i++) {
        if (OpenClipboard(owner)) {
            HANDLE h = GetClipboardData(CF_UNICODETEXT);
            if (h) {
                text = (const wchar_t*)GlobalLock(h);
                GlobalUnlock(h);
            }
            CloseClipboard();
            break;
        }
        Sleep(10);
    }
    return text;
}

// A key pressed with Ctrl held, as the edit box sees it.
static void ctrl_key(HWND edit, WPARAM key) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(edit, WM_KEYDOWN, key, 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

TEST_F(SearchWindowTest, PasteWithLineBreaksGivesOneLineThatCanBeUndone) {
    open_search();
    HWND edit = g_search.edit;
    SetWindowTextW(edit, L"ab");
    SendMessageW(edit, EM_SETSEL, 1, 1);
    ASSERT_TRUE(put_on_clipboard(edit, L"x\r\ny\nz"));
    ctrl_key(edit, 'V');
    EXPECT_EQ(text_of(edit), L"ax  y zb");
    SendMessageW(edit, EM_UNDO, 0, 0);
    EXPECT_EQ(text_of(edit), L"ab");

    // The menu's Paste and a pasting message do the same.
    search_edit_command(edit, EDIT_MENU_PASTE);
    EXPECT_EQ(text_of(edit), L"ax  y zb");
    SetWindowTextW(edit, L"");
    SendMessageW(edit, WM_PASTE, 0, 0);
    EXPECT_EQ(text_of(edit), L"x  y z");

    // The control character Ctrl+V types afterwards must not paste a second time.
    SendMessageW(edit, WM_CHAR, 0x16, 0);
    SendMessageW(edit, WM_CHAR, 0x01, 0);
    EXPECT_EQ(text_of(edit), L"x  y z");
}

TEST_F(SearchWindowTest, ShortcutsSelectCopyAndCut) {
    open_search();
    HWND edit = g_search.edit;
    SetWindowTextW(edit, L"Sezen Aksu");
    SendMessageW(edit, EM_SETSEL, 0, 0);
    ctrl_key(edit, 'A');
    DWORD start = 1, end = 0;
    SendMessageW(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 10u);
    ctrl_key(edit, 'C');
    EXPECT_EQ(clipboard_text(edit), L"Sezen Aksu");
    SendMessageW(edit, EM_SETSEL, 0, 6);
    ctrl_key(edit, 'X');
    EXPECT_EQ(clipboard_text(edit), L"Sezen ");
    EXPECT_EQ(text_of(edit), L"Aksu");
}

TEST_F(SearchWindowTest, ContextMenuGreysWhatCannotBeDone) {
    open_search();
    HWND edit = g_search.edit;
    SetWindowTextW(edit, L"Tarkan");
    SendMessageW(edit, EM_SETSEL, 2, 2);
    ASSERT_TRUE(put_on_clipboard(edit, nullptr));
    HMENU menu = search_edit_menu(edit);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 5);
    wchar_t label[64];
    const wchar_t* labels[] = {L"Kes\tCtrl+X", L"Kopyala\tCtrl+C", L"Yap\u0131\u015ft\u0131r\tCtrl+V", nullptr,
                               L"T\u00fcm\u00fcn\u00fc Se\u00e7\tCtrl+A"};
    UINT ids[] = {EDIT_MENU_CUT, EDIT_MENU_COPY, EDIT_MENU_PASTE, 0, EDIT_MENU_SELECT_ALL};
    for (int i = 0; i < 5; i++) {
        if (!labels[i]) {
            EXPECT_TRUE(GetMenuState(menu, (UINT)i, MF_BYPOSITION) & MF_SEPARATOR);
            continue;
        }
        GetMenuStringW(menu, (UINT)i, label, 64, MF_BYPOSITION);
        EXPECT_STREQ(label, labels[i]);
        EXPECT_EQ(GetMenuItemID(menu, i), ids[i]);
    }
    EXPECT_TRUE(GetMenuState(menu, EDIT_MENU_CUT, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(menu, EDIT_MENU_COPY, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(menu, EDIT_MENU_PASTE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(menu, EDIT_MENU_SELECT_ALL, MF_BYCOMMAND) & MF_GRAYED);
    DestroyMenu(menu);

    SendMessageW(edit, EM_SETSEL, 0, 3);
    ASSERT_TRUE(put_on_clipboard(edit, L"metin"));
    menu = search_edit_menu(edit);
    EXPECT_FALSE(GetMenuState(menu, EDIT_MENU_CUT, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(menu, EDIT_MENU_COPY, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(menu, EDIT_MENU_PASTE, MF_BYCOMMAND) & MF_GRAYED);
    DestroyMenu(menu);

    // Opened from the keyboard, the menu comes up and goes without doing anything.
    MenuCloser closer;
    SendMessageW(edit, WM_CONTEXTMENU, (WPARAM)edit, (LPARAM)-1);
    EXPECT_EQ(text_of(edit), L"Tarkan");
}

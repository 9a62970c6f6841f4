#include <gtest/gtest.h>

#include "base/wstr.h"

TEST(Wstr, CopyCutsAndTerminates) {
    wchar_t buf[5];
    wmemset(buf, L'#', 5);
    EXPECT_EQ(wstr_copy(buf, L"abcdefgh"), 4);
    EXPECT_STREQ(buf, L"abcd");
    EXPECT_EQ(wstr_copy(buf, L"ab"), 2);
    EXPECT_STREQ(buf, L"ab");
    EXPECT_EQ(wstr_copy(buf, nullptr), 0);
    EXPECT_STREQ(buf, L"");
    buf[0] = L'x';
    EXPECT_EQ(wstr_copy(buf, 1, L"abc"), 0);
    EXPECT_EQ(buf[0], 0);
    buf[0] = L'x';
    EXPECT_EQ(wstr_copy(buf, 0, L"abc"), 0);
    EXPECT_EQ(buf[0], L'x');
    EXPECT_EQ(wstr_copy_n(buf, 5, L"abcdef", 2), 2);
    EXPECT_STREQ(buf, L"ab");

    wchar_t path[260];
    std::wstring long_text(400, L'\u015f');
    EXPECT_EQ(wstr_copy(path, long_text.c_str()), 259);
    EXPECT_EQ(wcslen(path), 259u);

    // A cut never ends between the halves of a surrogate pair: the half is dropped.
    wchar_t small[3];
    EXPECT_EQ(wstr_copy(small, L"a\U0001F3B5"), 1);
    EXPECT_STREQ(small, L"a");
    EXPECT_EQ(wstr_copy(small, L"\U0001F3B5"), 2);
    EXPECT_STREQ(small, L"\U0001F3B5");
    EXPECT_EQ(wstr_copy_n(buf, 5, L"a\U0001F3B5b", 2), 1);
    EXPECT_STREQ(buf, L"a");
    EXPECT_EQ(wstr_copy_n(buf, 5, L"a\U0001F3B5b", 3), 3);
    EXPECT_STREQ(buf, L"a\U0001F3B5");
}

TEST(Wstr, AppendAndFormat) {
    wchar_t buf[8] = L"ab";
    EXPECT_EQ(wstr_append(buf, 8, L"cdefghij"), 7);
    EXPECT_STREQ(buf, L"abcdefg");
    EXPECT_EQ(wstr_format(buf, 8, L"%ls-%d", L"x", 42), 4);
    EXPECT_STREQ(buf, L"x-42");
    EXPECT_EQ(wstr_format(buf, 8, L"%ls", L"0123456789"), 7);
    EXPECT_STREQ(buf, L"0123456");
    EXPECT_EQ(wstr_format(buf, 8, L"%ls", L"012345\U0001F3B5"), 6);
    EXPECT_STREQ(buf, L"012345");
    wstr_copy(buf, L"abcde");
    EXPECT_EQ(wstr_append(buf, 8, L"f\U0001F3B5"), 6);
    EXPECT_STREQ(buf, L"abcdef");
    // Received text travels as an argument; its percent signs are not read as a format.
    wchar_t out[64];
    wstr_format(out, 64, L"[%ls]", L"%s%n%ls%d");
    EXPECT_STREQ(out, L"[%s%n%ls%d]");
}

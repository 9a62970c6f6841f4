#include <gtest/gtest.h>

#include "library/text_case.h"

TEST(TextCase, TurkishLower) {
    struct Case {
        wchar_t in, out;
    } cases[] = {
        {L'A', L'a'},       {L'H', L'h'},       {L'I', 0x0131},     {L'J', L'j'},       {L'Z', L'z'},
        {0x0130, L'i'},     {0x00C7, 0x00E7},   {0x00D6, 0x00F6},   {0x00DC, 0x00FC},   {0x011E, 0x011F},
        {0x015E, 0x015F},   {L'a', L'a'},       {L'i', L'i'},       {L'0', L'0'},       {L'[', L'['},
        {L'@', L'@'},       {0x0131, 0x0131},   {0x00C9, 0x00E9},   {0x0416, 0x0436},   {0x0394, 0x03B4},
        {0x00E7, 0x00E7},   {0x4E2D, 0x4E2D},   {0xFF21, 0xFF41},
    };
    for (const Case& c : cases) {
        EXPECT_EQ((unsigned)turkish_lower_char(c.in), (unsigned)c.out) << "U+" << std::hex << (unsigned)c.in;
    }
}

TEST(TextCase, TurkishUpper) {
    struct Case {
        wchar_t in, out;
    } cases[] = {
        {L'a', L'A'},       {L'h', L'H'},       {L'i', 0x0130},     {L'j', L'J'},       {L'z', L'Z'},
        {0x0131, L'I'},     {0x00E7, 0x00C7},   {0x00F6, 0x00D6},   {0x00FC, 0x00DC},   {0x011F, 0x011E},
        {0x015F, 0x015E},   {L'A', L'A'},       {L'5', L'5'},       {L'-', L'-'},       {0x00E9, 0x00C9},
        {0x0436, 0x0416},   {0x4E2D, 0x4E2D},   {0xFF41, 0xFF21},
    };
    for (const Case& c : cases) {
        EXPECT_EQ((unsigned)turkish_upper_char(c.in), (unsigned)c.out) << "U+" << std::hex << (unsigned)c.in;
    }
}

TEST(TextCase, LetterClasses) {
    EXPECT_TRUE(char_is_upper_letter(0x0130));
    EXPECT_TRUE(char_is_upper_letter(0x00C9));
    EXPECT_TRUE(char_is_upper_letter(0x0416));
    EXPECT_FALSE(char_is_upper_letter(0x0131));
    EXPECT_TRUE(char_is_lower_letter(0x0131));
    EXPECT_TRUE(char_is_lower_letter(0x00E9));
    EXPECT_FALSE(char_is_lower_letter(L'1'));
    EXPECT_TRUE(char_is_letter(0x015F));
    EXPECT_TRUE(char_is_letter(0x4E2D));
    EXPECT_FALSE(char_is_letter(L'7'));
    EXPECT_FALSE(char_is_letter(0x00D7));  // multiplication sign
    EXPECT_TRUE(char_is_space(0x00A0));
    EXPECT_TRUE(char_is_space(L'\t'));
    EXPECT_FALSE(char_is_space(L'_'));
}

#include <gtest/gtest.h>

#include <string>

#include "library/video_id.h"

static std::wstring id_of(const wchar_t* path) {
    wchar_t out[16] = L"garbage";
    video_id_from_file_name(path, out, 16);
    return out;
}

TEST(VideoId, FromFileNames) {
    struct Case {
        const wchar_t* path;
        const wchar_t* id;
    } cases[] = {
        {L"Song [Xk2Lm9Pq0Rs].m4a", L"Xk2Lm9Pq0Rs"},
        {L"Song (abcdefghijk).mp3", L""},
        {L"Song [abcdefghijk].mp3", L""},
        {L"Song [abcdefghij1].mp3", L"abcdefghij1"},
        {L"Song [_Xk2Lm9Pq0Rs_].m4a", L"Xk2Lm9Pq0Rs"},
        {L"Song [abcdefGhijk].mp3", L"abcdefGhijk"},
        {L"Song [ABCDEFGHIJK].mp3", L""},
        {L"Song [a-b_c-d_e-f].mp3", L"a-b_c-d_e-f"},
        // Round brackets need both a mark and mixed case.
        {L"Song (aB3dE5fG7hJ).mp3", L"aB3dE5fG7hJ"},
        {L"Song (abcdefghij1).mp3", L""},
        {L"Song (abcdeFghijk).mp3", L""},
        // The first passing group wins; failing groups are skipped.
        {L"Song (Acoustic1) [Remix] [Xk2Lm9Pq0Rs] [aB3dE5fG7hJ].webm", L"Xk2Lm9Pq0Rs"},
        {L"Song [Xk2Lm9Pq0R!].mp3", L""},
        {L"Song [Xk2Lm9Pq0Rss].mp3", L""},
        {L"Song [Xk2Lm9Pq0Rs.mp3", L""},
        {L"Song [[Xk2Lm9Pq0Rs].mp3", L"Xk2Lm9Pq0Rs"},
        // Only the file name counts, not the folders above it.
        {L"C:\\Music [Xk2Lm9Pq0Rs]\\Song.mp3", L""},
        {L"C:\\Music\\Song [Xk2Lm9Pq0Rs].mp3", L"Xk2Lm9Pq0Rs"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(id_of(c.path), c.id) << "path index " << (&c - cases);
    }
}

TEST(VideoId, SmallOutputGetsNothing) {
    wchar_t out[11] = L"untouched";
    video_id_from_file_name(L"Song [Xk2Lm9Pq0Rs].m4a", out, 11);
    EXPECT_STREQ(out, L"");
    wchar_t exact[12];
    video_id_from_file_name(L"Song [Xk2Lm9Pq0Rs].m4a", exact, 12);
    EXPECT_STREQ(exact, L"Xk2Lm9Pq0Rs");
    video_id_from_file_name(nullptr, exact, 12);
    EXPECT_STREQ(exact, L"");
}

TEST(VideoId, GroupRules) {
    EXPECT_TRUE(is_video_id_group(L"_Xk2Lm9Pq0Rs_", 13, L'('));
    EXPECT_TRUE(is_video_id_group(L"_abcdefghijk_", 13, L'['));
    EXPECT_FALSE(is_video_id_group(L"-abcdefghijk-", 13, L'['));
    EXPECT_FALSE(is_video_id_group(L"_abcdefgh!jk_", 13, L'['));
    EXPECT_TRUE(is_video_id_group(L"abcdefghij_", 11, L'['));
    EXPECT_FALSE(is_video_id_group(L"abcdefghij_", 11, L'('));
    EXPECT_FALSE(is_video_id_group(L"abcdefghij_", 11, L'{'));
    EXPECT_FALSE(is_video_id_group(L"abcdefghij", 10, L'['));
    EXPECT_FALSE(is_video_id_group(L"\u00e7bcdefghij1", 11, L'['));
}

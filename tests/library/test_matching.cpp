#include <gtest/gtest.h>

#include <string>

#include "library/matching.h"

namespace {

struct Split {
    std::wstring artist, title;
};

// Both buffers start full of junk, so a result that is not written is seen.
Split split(const wchar_t* text, int artist_capacity = 128, int title_capacity = 160) {
    wchar_t artist[256], title[256];
    wmemset(artist, L'Z', 255), artist[255] = 0;
    wmemset(title, L'Z', 255), title[255] = 0;
    split_artist_title(text, artist, artist_capacity, title, title_capacity);
    return Split{artist, title};
}

std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? (char)c : '?';
    return out;
}

}  // namespace

TEST(SplitArtistTitle, SplitsAtTheFirstSpacedDash) {
    struct Case {
        const wchar_t *text, *artist, *title;
    } cases[] = {
        {L"Tarkan - Kuzu Kuzu", L"Tarkan", L"Kuzu Kuzu"},
        {L"a - b", L"a", L"b"},
        {L"A - B - C", L"A", L"B - C"},
        {L"Müslüm Gürses - İtirazım Var", L"Müslüm Gürses", L"İtirazım Var"},
        {L"  Tarkan \t - \tKuzu Kuzu\t ", L"Tarkan", L"Kuzu Kuzu"},
        {L"x  - y", L"x", L"y"},
        {L" a - b", L"a", L"b"},
        // A blank is a character too: the split happens and the title trims to nothing.
        {L"A -   ", L"A", L""},
        // At the very start the dash does not split.
        {L" - x", L"", L"- x"},
        // Nothing after the dash.
        {L"a - ", L"", L"a -"},
        // Not a spaced dash.
        {L"Tarkan-Kuzu", L"", L"Tarkan-Kuzu"},
        {L"Tarkan -Kuzu", L"", L"Tarkan -Kuzu"},
        {L"Tarkan- Kuzu", L"", L"Tarkan- Kuzu"},
        {L"Tarkan\t-\tKuzu", L"", L"Tarkan\t-\tKuzu"},
        {L"Tarkan – Kuzu", L"", L"Tarkan – Kuzu"},  // an en dash
        {L"", L"", L""},
        {L" \t ", L"", L""},
    };
    for (const Case& c : cases) {
        Split s = split(c.text);
        EXPECT_EQ(s.artist, c.artist) << "text \"" << narrow(c.text) << "\"";
        EXPECT_EQ(s.title, c.title) << "text \"" << narrow(c.text) << "\"";
    }
}

TEST(SplitArtistTitle, CutsToCapacityBeforeTrimming) {
    struct Case {
        const wchar_t* text;
        int artist_capacity, title_capacity;
        const wchar_t *artist, *title;
    } cases[] = {
        {L"Tarkan - Kuzu Kuzu", 4, 160, L"Tar", L"Kuzu Kuzu"},
        {L"Ab  cd - x", 4, 160, L"Ab", L"x"},        // "Ab " then trimmed
        {L"   Tarkan - x", 5, 160, L"T", L"x"},      // "   T", not "Tark"
        {L"A - Kuzu Kuzu", 128, 6, L"A", L"Kuzu"},   // "Kuzu " then trimmed
        {L"x -    Kuzu", 128, 4, L"x", L""},         // "   " then trimmed
        {L"Kuzu Kuzu", 128, 4, L"", L"Kuz"},
        {L"  Kuzu", 128, 4, L"", L"K"},
        {L"Tarkan - Kuzu", 1, 1, L"", L""},
    };
    for (const Case& c : cases) {
        Split s = split(c.text, c.artist_capacity, c.title_capacity);
        EXPECT_EQ(s.artist, c.artist) << "text \"" << narrow(c.text) << "\" capacities " << c.artist_capacity << "/"
                                      << c.title_capacity;
        EXPECT_EQ(s.title, c.title) << "text \"" << narrow(c.text) << "\" capacities " << c.artist_capacity << "/"
                                    << c.title_capacity;
    }

    // Nothing is written past the capacity.
    wchar_t artist[8], title[8];
    wmemset(artist, L'Z', 8), wmemset(title, L'Z', 8);
    split_artist_title(L"Barış Manço - Gülpembe", artist, 4, title, 5);
    EXPECT_EQ(std::wstring(artist), L"Bar");
    EXPECT_EQ(std::wstring(title), L"Gülp");
    for (int i = 4; i < 8; i++) EXPECT_EQ(artist[i], L'Z') << "artist slot " << i;
    for (int i = 5; i < 8; i++) EXPECT_EQ(title[i], L'Z') << "title slot " << i;
}

TEST(SplitArtistTitle, MissingInputsAreSafe) {
    Split s = split(nullptr);
    EXPECT_EQ(s.artist, L"") << "both outputs start empty";
    EXPECT_EQ(s.title, L"");

    wchar_t artist[4] = {L'Z', L'Z', L'Z', 0}, title[16];
    wmemset(title, L'Z', 15), title[15] = 0;
    split_artist_title(L"A - B", artist, 0, title, 16);
    EXPECT_EQ(artist[0], L'Z') << "a zero capacity writes nothing";
    title[0] = L'Z';
    split_artist_title(L"A - B", artist, 4, title, 0);
    EXPECT_EQ(title[0], L'Z') << "a zero capacity writes nothing";

    // Without somewhere to put the artist the call must still return with a terminated title.
    wmemset(title, L'Z', 15), title[15] = 0;
    split_artist_title(L"A - B", nullptr, 0, title, 16);
    EXPECT_LT(wcsnlen(title, 16), (size_t)16);
    split_artist_title(L"A - B", artist, 4, nullptr, 0);
    EXPECT_LT(wcsnlen(artist, 4), (size_t)4);
}

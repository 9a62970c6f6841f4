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

//~ Keys, words and the search for a local track

#include "library/track_list.h"

namespace {

std::wstring key(const wchar_t* text, int capacity = 256) {
    wchar_t out[256];
    make_compare_key(text, out, capacity);
    return out;
}

// A library of files whose names become the titles under test.
struct Library {
    Library(std::initializer_list<const wchar_t*> names) {
        track_list_clear();
        for (const wchar_t* n : names) {
            std::wstring path = std::wstring(L"C:\\m\\") + n + L".mp3";
            track_list_add(path.c_str(), 0);
        }
    }
    ~Library() { track_list_clear(); }
};

}  // namespace

TEST(Matching, CompareKeysFoldTurkishAndPunctuation) {
    EXPECT_EQ(key(L"\u00c7a\u011fr\u0131'n\u0131n \u015eark\u0131s\u0131!"), L"cagri nin sarkisi");
    EXPECT_EQ(key(L"\u0130STANBUL \u0131\u015f\u0131k"), L"istanbul isik");
    EXPECT_EQ(key(L"I\u0307stanbul"), L"istanbul") << "a decomposed dotted capital I";
    EXPECT_EQ(key(L"  --Duman--  (Live)  "), L"duman live");
    EXPECT_EQ(key(L"Se\u00f1or \u00c5ngel"), L"se or ngel") << "letters outside the table separate words";
    EXPECT_EQ(key(L"!!!"), L"");
    EXPECT_EQ(key(L"abcdef", 4), L"abc");
    EXPECT_EQ(key(L"ab cd", 4), L"ab") << "no trailing blank after a cut";
    EXPECT_EQ(key(nullptr), L"");
}

TEST(Matching, TitlesAndArtistsCompareByWords) {
    EXPECT_TRUE(titles_match(L"song", L"song live"));
    EXPECT_TRUE(titles_match(L"kuzu kuzu", L"kuzu kuzu"));
    EXPECT_FALSE(titles_match(L"song", L"song live acoustic version"));
    EXPECT_FALSE(titles_match(L"", L"song"));
    EXPECT_FALSE(titles_match(L"feat", L"song")) << "filler words alone are no title";
    EXPECT_TRUE(artists_overlap(L"artist feat other", L"artist ft other"));
    EXPECT_FALSE(artists_overlap(L"dj x", L"dj y")) << "two-letter words do not count";
    EXPECT_TRUE(artists_overlap(L"sezen aksu", L"aksu"));
    EXPECT_FALSE(artists_overlap(L"", L"aksu"));
    wchar_t tokens[16][TOKEN_CAPACITY];
    EXPECT_EQ(name_tokens(L"tarkan ve sezen ile ft feat x", tokens, 16), 3);
    EXPECT_STREQ(tokens[2], L"x");
    std::wstring many;
    for (int i = 0; i < 30; i++) many += L"w" + std::to_wstring(i) + L" ";
    EXPECT_EQ(name_tokens(many.c_str(), tokens, 16), 16);
}

TEST(Matching, FindsByIdThenTitleThenKeyThenScore) {
    Library lib({L"Tarkan - Kuzu Kuzu [dQw4w9WgXcQ]", L"Artist - Song (Live)", L"Duman - Bu Ak\u015fam",
                 L"Manga - Cevaps\u0131z Sorular", L"Sezen Aksu - Gidiyorum", L"Artist - Song Live"});
    EXPECT_EQ(find_matching_track(L"anything", L"dQw4w9WgXcQ"), 0) << "the id wins over the title";
    EXPECT_EQ(find_matching_track(L"", L"dQw4w9WgXcQ"), 0);
    EXPECT_EQ(find_matching_track(L"duman - bu ak\u015fam", L""), 2) << "the same title without regard to case";
    EXPECT_EQ(find_matching_track(L"MANGA  CEVAPSIZ SORULAR", L""), 3) << "the same key";
    EXPECT_EQ(find_matching_track(L"Artist - Song", L""), 1) << "880: both score, the earlier one wins";
    EXPECT_EQ(find_matching_track(L"Gidiyorum - Sezen Aksu", L""), 4) << "written the other way round: 870";
    EXPECT_EQ(find_matching_track(L"Gidiyorum", L""), 4) << "no artist on one side: 820 for a long title";
    EXPECT_EQ(find_matching_track(L"Song", L""), -1) << "a title part of 4 letters is not enough alone";
    EXPECT_EQ(find_matching_track(L"?!", L"dQw4w9WgXcZ"), -1) << "punctuation only and an unknown id";
    EXPECT_EQ(find_matching_track(L"Teoman - Papatya", L""), -1);
    EXPECT_EQ(find_matching_track(nullptr, nullptr), -1);
}

TEST(Matching, RealisticPairsAcrossCleanUps) {
    Library lib({L"Mor ve Otesi - Bir Derdim Var", L"Tarkan feat. Sezen Aksu - Simarik", L"Gripin - Aci Veriyor",
                 L"Athena - Holigan (Canli)"});
    EXPECT_EQ(find_matching_track(L"Mor ve \u00d6tesi - Bir Derdim Var", L""), 0) << "Turkish letters against ASCII";
    EXPECT_EQ(find_matching_track(L"Tarkan ft Sezen Aksu - \u015e\u0131mar\u0131k", L""), 1);
    EXPECT_EQ(find_matching_track(L"GR\u0130P\u0130N - ACI VER\u0130YOR", L""), 2);
    EXPECT_EQ(find_matching_track(L"Athena - Holigan", L""), 3) << "a live version of the same song";
    EXPECT_EQ(find_matching_track(L"Athena - Arsiz Gonul", L""), -1) << "same artist, another song";
}

TEST(Matching, WantedAndFilterChecks) {
    Library lib({L"\u015eark\u0131 - Ezhel", L"Duman - Senden Daha G\u00fczel [Xk2Lm9Pq0Rs]", L"Tarkan - Dudu"});
    EXPECT_TRUE(track_matches_wanted(1, L"", L"Xk2Lm9Pq0Rs"));
    EXPECT_FALSE(track_matches_wanted(0, L"", L"Xk2Lm9Pq0Rs"));
    EXPECT_TRUE(track_matches_wanted(2, L"tarkan - dudu", L""));
    EXPECT_TRUE(track_matches_wanted(2, L"Tarkan - D\u00fcd\u00fc", L"")) << "equal keys";
    EXPECT_FALSE(track_matches_wanted(0, L"Tarkan - Dudu", L""));
    EXPECT_FALSE(track_matches_wanted(7, L"Tarkan - Dudu", L""));
    EXPECT_TRUE(track_matches_filter(0, L"sarki")) << "found through the keys";
    EXPECT_TRUE(track_matches_filter(1, L"DAHA"));
    EXPECT_TRUE(track_matches_filter(2, L""));
    EXPECT_FALSE(track_matches_filter(2, L"ezhel"));
    EXPECT_FALSE(track_matches_filter(2, L"..."));
    EXPECT_FALSE(track_matches_filter(-1, L"a"));
}

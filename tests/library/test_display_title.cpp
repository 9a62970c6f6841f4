#include <gtest/gtest.h>

#include <string>

#include "library/display_title.h"

namespace {

struct TitleCase {
    const wchar_t* input;
    const wchar_t* expected;
    bool path = false;  // the input is a file's path rather than a name
};

std::wstring title_of(const wchar_t* input, int capacity = 260, bool path = false) {
    wchar_t out[600];
    wmemset(out, L'#', 600);
    out[599] = 0;
    if (path) make_path_display_title(input, out, capacity);
    else make_display_title(input, out, capacity);
    return out;
}

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) {
        if (c < 128) s += (char)c;
        else {
            char buf[12];
            snprintf(buf, sizeof buf, "\\u%04X", (unsigned)c);
            s += buf;
        }
    }
    return s;
}

void expect_titles(const TitleCase* cases, size_t n) {
    for (size_t i = 0; i < n; i++) {
        EXPECT_EQ(narrow(title_of(cases[i].input, 260, cases[i].path)), narrow(cases[i].expected))
            << "input: " << narrow(cases[i].input);
    }
}

#define EXPECT_TITLES(table) expect_titles(table, sizeof(table) / sizeof(table[0]))

}  // namespace

TEST(DisplayTitle, PathAndExtension) {
    static const TitleCase cases[] = {
        {L"C:\\M\u00fczik\\Artist - Song.mp3", L"Artist - Song", true},
        {L"D:/music/Artist - Song.M4A", L"Artist - Song", true},
        {L"C:Artist - Song.mp3", L"Artist - Song", true},
        {L"Artist - Song.Flac", L"Artist - Song"},
        {L"Artist - Song.opus", L"Artist - Song"},
        {L"Artist - Song.webm", L"Artist - Song"},
        // Only the last extension, and only an audio one, goes.
        {L"Artist - Song.mp3.txt", L"Artist - Song.mp3.txt"},
        {L"notes.txt", L"Notes.txt"},
        {L"Vol. 2 Intro", L"Vol. 2 Intro"},
        // A bare title is not a path: its slashes and colons are part of it.
        {L"Artist/Band - Song", L"Artist/Band - Song"},
        {L"AC/DC - Thunderstruck", L"AC/DC - Thunderstruck"},
        {L"Artist: Song", L"Artist: Song"},
        {L"C:\\m\\AC\uFF0FDC - Thunderstruck.mp3", L"AC/DC - Thunderstruck", true},
        {L"(Official Video).mp3", L""},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, CharacterRepair) {
    static const TitleCase cases[] = {
        {L"I\u0307stanbul - Gece", L"\u0130stanbul - Gece"},
        {L"Gu\u0308l - bi\u0307r", L"Gu\u0308l - bir"},
        // Look-alike slashes come back as slashes after the path split, so they stay.
        {L"AC\uFF0FDC - Thunderstruck", L"AC/DC - Thunderstruck"},
        {L"AC\u29F8DC - Thunderstruck", L"AC/DC - Thunderstruck"},
        {L"Artist - Song \uFF5C Live at Harbiye", L"Artist - Song"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, SitePrefixes) {
    static const TitleCase cases[] = {
        {L"mp3indirdur-name-song-title.mp3", L"Name Song - Title"},
        {L"MP3INDIRDUR-Artist-Song.mp3", L"Artist - Song"},
        {L"tubidy-Sezen Aksu - Gidiyorum.mp3", L"Sezen Aksu - Gidiyorum"},
        {L"trendmp3- Duman - Bu Aksam.mp3", L"Duman - Bu Aksam"},
        // Only the first matching prefix is removed.
        {L"indir-indir-Song Name.mp3", L"indir-Song Name"},
        {L"mp3semti-mp3semti-x y.mp3", L"Mp3semti-X Y"},
        // A prefix in the middle of the name is part of the title.
        {L"Artist - mp3indir-song.mp3", L"Artist - mp3indir-song"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, VideoIdsAndJunkGroups) {
    static const TitleCase cases[] = {
        {L"Artist - Song (Official Video) [Xk2Lm9Pq0Rs]", L"Artist - Song"},
        {L"Artist - Song (Official Video) [Xk2Lm9Pq0Rs].wav", L"Artist - Song"},
        {L"Artist - Song [_Xk2Lm9Pq0Rs_].m4a", L"Artist - Song"},
        {L"Artist - Song (aB3dE5fG7hJ)", L"Artist - Song"},
        // Eleven letters in round brackets are a word, not an id.
        {L"Artist - Song (Acousticals)", L"Artist - Song (Acousticals)"},
        {L"Artist - Song (abcdefghij1)", L"Artist - Song (abcdefghij1)"},
        {L"Artist - Song [abcdefghij1]", L"Artist - Song"},
        {L"Artist - Song (Official Video)(Lyrics)", L"Artist - Song"},
        {L"Artist - Song [4K] [Lyric Video]", L"Artist - Song"},
        {L"Artist - Song (OFFICIAL VIDEO 4K)", L"Artist - Song"},
        // Capitals are found as well: "I" is not taken for the Turkish dotless capital.
        {L"Artist - Song (OFFICIAL VIDEO)", L"Artist - Song"},
        {L"Artist - Song (LYRICS)", L"Artist - Song"},
        {L"Artist - Song [AUDIO]", L"Artist - Song"},
        {L"Artist - Song (KL\u0130P)", L"Artist - Song"},
        // A group that only the phrase removal empties goes with it.
        {L"Artist - Song (- Seyhan M\u00fczik)", L"Artist - Song"},
        {L"Mabel Matiz - Boyal\u0131 Da Sa\u00e7lar\u0131n (NetD M\u00fczik)",
         L"Mabel Matiz - Boyal\u0131 Da Sa\u00e7lar\u0131n"},
        {L"Artist - Song (Klip 1080p)", L"Artist - Song"},
        {L"Artist - Song (Orijinal Kay\u0131t)", L"Artist - Song"},
        {L"Artist - Song (Live)", L"Artist - Song (Live)"},
        {L"Artist - Song ()", L"Artist - Song ()"},
        {L"Artist - Song (Official", L"Artist - Song (Official"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, HandlesHashtagsBarsAndPhrases) {
    static const TitleCase cases[] = {
        {L"Artist - Song #shorts #music", L"Artist - Song"},
        {L"#TBT Artist - Song", L"Artist - Song"},
        {L"Artist - Song | Live", L"Artist - Song"},
        {L"Song Name _ Lyrics Channel", L"Song Name"},
        {L"Ceza - Holocaust prod.@nazar", L"Ceza - Holocaust"},
        {L"Ceza - Holocaust PROD.@Nazar (Remix)", L"Ceza - Holocaust (Remix)"},
        // A handle in brackets takes its brackets along instead of leaving a lone "(".
        {L"Ezhel - Geceler (prod.@Bugy) [Official Video].mp3", L"Ezhel - Geceler"},
        {L"Ezhel - Geceler [ prod.@Bugy ]", L"Ezhel - Geceler"},
        {L"Ezhel - Geceler (Remix prod.@Bugy)", L"Ezhel - Geceler (Remix)"},
        {L"Ezhel - Geceler prod.@Bugy-Beats", L"Ezhel - Geceler -Beats"},
        // In brackets the handle runs to the closer, hyphens and all.
        {L"Ezhel - Geceler (prod.@x-ray)", L"Ezhel - Geceler"},
        {L"Ezhel - Geceler (Remix prod.@x-ray) [Live]", L"Ezhel - Geceler (Remix) [Live]"},
        {L"Artist - Song Official Music Video", L"Artist - Song"},
        {L"Artist - Song official audio", L"Artist - Song"},
        {L"Artist - Song Video Klip", L"Artist - Song"},
        {L"Sezen Aksu - Ka\u00e7\u0131n Kuras\u0131 - Netd M\u00fczik", L"Sezen Aksu - Ka\u00e7\u0131n Kuras\u0131"},
        {L"Artist - Song Lyrics", L"Artist - Song"},
        {L"Artist - Song LYRICS.mp3", L"Artist - Song"},
        {L"Lyrics", L"Lyrics"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, HyphenJoinedNames) {
    static const TitleCase cases[] = {
        {L"artist-song", L"Artist - Song"},
        {L"song-title-words-2023", L"Song Title - Words"},
        {L"song-title-7", L"Song - Title"},
        {L"artist-2023", L"Artist - 2023"},
        {L"mp3indirdur-tarkan-kuzu-kuzu.mp3", L"Tarkan - Kuzu Kuzu"},
        {L"tarkan-simarik-1997.mp3", L"Tarkan - Simarik"},
        {L"ezhel-geceler-remix-2021.mp3", L"Ezhel - Geceler Remix"},
        {L"blok3-ben-yokum.mp3", L"Blok3 - Ben Yokum"},
        {L"TARKAN-Dudu.mp3", L"TARKAN - Dudu"},
        {L"mor-ve-otesi-bir-derdim-var.mp3", L"Mor Ve Otesi - Bir Derdim Var"},
        // Three tokens alone never make a three-word artist.
        {L"mor-ve-otesi.mp3", L"Mor Ve - Otesi"},
        {L"buyuk-ev-ablukada-full-hd-2019.mp3", L"Buyuk Ev Ablukada - Full Hd"},
        {L"muslum-gurses-itirazim-var.mp3", L"Muslum Gurses - \u0130tirazim Var"},
        {L"artist--song---name", L"Artist Song - Name"},
        // However many words there are, none is lost.
        {L"a-b-c-d-e-f-g-h-i-j-k-l-m-n-o-p-q-r-s", L"A B - C D E F G H \u0130 J K L M N O P Q R S"},
        // A name with a blank is not a hyphen-joined run.
        {L"Artist Name-Song", L"Artist Name-Song"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, Spacing) {
    static const TitleCase cases[] = {
        {L"Song(Live)Version", L"Song(Live) Version"},
        {L"Song ( Live )", L"Song (Live)"},
        {L"Artist   -   Song", L"Artist - Song"},
        {L"Artist\t-\tSong", L"Artist - Song"},
        {L"Song [ Remix ]\u00c7ok", L"Song [Remix] \u00c7ok"},
        {L"  - Artist - Song -  ", L"Artist - Song"},
        {L"__Artist - Song__", L"Artist - Song"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, TurkishTitleCase) {
    static const TitleCase cases[] = {
        {L"\u0131\u015f\u0131k - istanbul", L"I\u015f\u0131k - \u0130stanbul"},
        {L"\u015earg\u0131 - ADI", L"\u015earg\u0131 - ADI"},
        {L"\u00e7ocuklar - \u00f6zg\u00fcr d\u00fcnya", L"\u00c7ocuklar - \u00d6zg\u00fcr D\u00fcnya"},
        {L"\u015fark\u0131 (canl\u0131) [akustik]", L"\u015eark\u0131 (Canl\u0131) [Akustik]"},
        {L"4ever young", L"4ever Young"},
        {L"'quoted' song", L"'Quoted' Song"},
        {L"12 34", L"12 34"},
        {L"\u00e9dith piaf - la vie", L"\u00c9dith Piaf - La Vie"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, Realistic) {
    static const TitleCase cases[] = {
        {L"C:\\Users\\ali\\M\u00fczikler\\Sezen Aksu - Gidiyorum (Official Audio) [aB3dE5fG7hJ].m4a",
         L"Sezen Aksu - Gidiyorum", true},
        {L"Duman - Senden Daha G\u00fczel (Official Video) [4K] #duman [dQw4w9WgXcQ].webm",
         L"Duman - Senden Daha G\u00fczel"},
        {L"mp3indirdur-gripin-aci-veriyor.mp3", L"Gripin - Aci Veriyor"},
        {L"sarkiindir-sertab-erener-everyway-that-i-can.mp3", L"Sertab Erener - Everyway That \u0130 Can"},
        {L"Manga - We Could Be The Same | Eurovision 2010 Turkey", L"Manga - We Could Be The Same"},
        {L"Teoman - Paramparça (Lyric Video) _ Teoman Resmi", L"Teoman - Paramparça"},
    };
    EXPECT_TITLES(cases);
}

TEST(DisplayTitle, Capacity) {
    EXPECT_EQ(title_of(L"Artist - Song", 7), L"Artist");
    EXPECT_EQ(title_of(L"Artist - Song", 1), L"");
    // A cut never ends between the halves of a surrogate pair.
    EXPECT_EQ(title_of(L"A\U0001F3B5", 3), L"A");
    EXPECT_EQ(title_of(L"A\U0001F3B5", 4), L"A\U0001F3B5");
    // Nothing is written at all for absent input or no room.
    wchar_t out[8] = L"keep";
    make_display_title(nullptr, out, 8);
    EXPECT_STREQ(out, L"keep");
    make_display_title(L"", out, 8);
    EXPECT_STREQ(out, L"keep");
    make_display_title(L"x", out, 0);
    EXPECT_STREQ(out, L"keep");
    make_display_title(L"x", nullptr, 8);

    // A long name is cut to 511 characters in the work and 259 in a track's title.
    std::wstring long_name(700, L'a');
    long_name = L"Artist - " + long_name + L" [Xk2Lm9Pq0Rs].mp3";
    std::wstring t = title_of(long_name.c_str(), 260);
    EXPECT_EQ(t.size(), 259u);
    EXPECT_EQ(t.substr(0, 9), L"Artist - ");
}

TEST(RemoveJunkGroups, InPlace) {
    wchar_t text[300] = L"A (Lyrics)(Official) B (keep) (klip";
    remove_junk_groups(text, L'(', L')');
    EXPECT_STREQ(text, L"A  B (keep) (klip");

    wchar_t square[] = L"[Xk2Lm9Pq0Rs]Song [audio]";
    remove_junk_groups(square, L'[', L']');
    EXPECT_STREQ(square, L"Song ");

    // Round brackets are not looked at in a square pass.
    wchar_t mixed[] = L"(video) [video]";
    remove_junk_groups(mixed, L'[', L']');
    EXPECT_STREQ(mixed, L"(video) ");

    // Over 254 characters inside, a group is kept whatever it holds.
    std::wstring big = L"(" + std::wstring(255, L'x') + L"official)";
    std::wstring copy = big;
    remove_junk_groups(&copy[0], L'(', L')');
    EXPECT_EQ(copy, big);
    big = L"(" + std::wstring(245, L'x') + L"official)";
    copy = big;
    remove_junk_groups(&copy[0], L'(', L')');
    EXPECT_STREQ(copy.c_str(), L"");
}

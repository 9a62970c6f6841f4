// The search window's pure decisions: one listing line into a row, the listing command,
// the cover addresses, the texts and the layout.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <limits.h>

#include <string>

#include "acquire/search_results.h"
#include "acquire/search_window.h"
#include "ui/fonts.h"

static SearchResult parse(const std::string& line, int* ok) {
    SearchResult r;
    memset(&r, 0x5a, sizeof r);
    *ok = search_parse_line(line.data(), (int)line.size(), &r);
    return r;
}

TEST(SearchParse, FullLineGivesEveryField) {
    int ok = 0;
    SearchResult r = parse(
        "Xk2Lm9Pq0Rs\tTarkan - \xc5\x9e\xc4\xb1mar\xc4\xb1k (Official Video)\t215.9\tTarkan\thttps://www.youtube.com/"
        "watch?v=Xk2Lm9Pq0Rs",
        &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_STREQ(r.video_id, L"Xk2Lm9Pq0Rs");
    EXPECT_STREQ(r.raw_title, L"Tarkan - \u015e\u0131mar\u0131k (Official Video)");
    EXPECT_STREQ(r.title, L"Tarkan - \u015e\u0131mar\u0131k");
    EXPECT_STREQ(r.uploader, L"Tarkan");
    EXPECT_STREQ(r.webpage_url, L"https://www.youtube.com/watch?v=Xk2Lm9Pq0Rs");
    EXPECT_STREQ(r.source, L"YouTube");
    EXPECT_EQ(r.duration, 215);
    EXPECT_EQ(r.thumbnail, nullptr);
}

TEST(SearchParse, LinesWithFewerThanThreeTabsAreSkipped) {
    const char* lines[] = {"", "just text", "id\ttitle", "id\ttitle\t", "\t\t"};
    for (const char* line : lines) {
        int ok = 1;
        parse(line, &ok);
        EXPECT_EQ(ok, 0) << "line: " << line;
    }
    int ok = 0;
    parse("\t\t\t", &ok);
    EXPECT_EQ(ok, 1) << "three tabs make a row, however empty";
}

TEST(SearchParse, MissingOrUnknownAddressBecomesTheWatchAddress) {
    const char* lines[] = {
        "abcDEF12345\tSong\t100\tKanal",
        "abcDEF12345\tSong\t100\tKanal\t",
        "abcDEF12345\tSong\t100\tKanal\tNA",
    };
    for (const char* line : lines) {
        int ok = 0;
        SearchResult r = parse(line, &ok);
        ASSERT_EQ(ok, 1) << line;
        EXPECT_STREQ(r.webpage_url, L"https://www.youtube.com/watch?v=abcDEF12345") << line;
        EXPECT_STREQ(r.uploader, L"Kanal") << line;
    }
    int ok = 0;
    SearchResult r = parse("abcDEF12345\tSong\t100\tKanal\thttps://youtu.be/abcDEF12345\textra", &ok);
    EXPECT_STREQ(r.webpage_url, L"https://youtu.be/abcDEF12345") << "a sixth field is not part of the address";
}

TEST(SearchParse, DurationIsWholeSecondsOrZero) {
    struct {
        const char* text;
        int seconds;
    } rows[] = {
        {"215.9", 215}, {"60", 60}, {"0.99", 0}, {"NA", 0}, {"", 0}, {"abc", 0}, {"-5", 0},
        {" 12", 0},     {"12abc", 12}, {"99999999999999", INT_MAX},
    };
    for (auto& row : rows) {
        EXPECT_EQ(search_parse_duration(row.text, (int)strlen(row.text)), row.seconds) << "text: " << row.text;
        int ok = 0;
        SearchResult r = parse(std::string("id\ttitle\t") + row.text + "\tup", &ok);
        EXPECT_EQ(r.duration, row.seconds) << "line with: " << row.text;
    }
}

TEST(SearchParse, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    int ok = 0;
    SearchResult r = parse("id1\tA\xff\xfe" "B\xc3(\tNA\tK\xe2\x82", &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(r.raw_title[0], L'A');
    EXPECT_NE(wcschr(r.raw_title, 0xFFFD), nullptr);
    EXPECT_NE(wcschr(r.raw_title, L'B'), nullptr);
    EXPECT_EQ(r.uploader[0], L'K');
    EXPECT_EQ(r.duration, 0);
}

TEST(SearchParse, LongFieldsAreCutToTheirBuffers) {
    // A line of 2047 bytes, the longest the reader hands over.
    std::string id(100, 'i'), title(900, 't'), uploader(300, 'u'), address = "https://example.com/" + std::string(700, 'a');
    std::string line = id + "\t" + title + "\t12\t" + uploader + "\t" + address;
    line += std::string(2047 - line.size(), 'z');
    ASSERT_EQ(line.size(), 2047u);
    int ok = 0;
    SearchResult r = parse(line, &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(wcslen(r.video_id), 63u);
    EXPECT_EQ(wcslen(r.raw_title), 255u);
    EXPECT_EQ(wcslen(r.title), 255u);
    EXPECT_EQ(wcslen(r.uploader), 127u);
    EXPECT_EQ(wcslen(r.webpage_url), 511u);
    EXPECT_EQ(r.duration, 12);
}

TEST(SearchParse, CutNeverLeavesHalfASurrogatePair) {
    // 254 letters and then an emoji (two UTF-16 units) that does not fit in 255.
    std::string title = std::string(254, 'a') + "\xf0\x9f\x8e\xb5" + "tail";
    int ok = 0;
    SearchResult r = parse("id\t" + title + "\t1\tup", &ok);
    ASSERT_EQ(ok, 1);
    size_t n = wcslen(r.raw_title);
    ASSERT_GT(n, 0u);
    wchar_t last = r.raw_title[n - 1];
    EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF);
}

TEST(SearchParse, TitleThatTheCleanUpEmptiesIsShownRaw) {
    int ok = 0;
    SearchResult r = parse("id\t(Official Video)\t1\tup", &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_STREQ(r.title, L"(Official Video)");
    EXPECT_STREQ(r.raw_title, L"(Official Video)");
}

static std::wstring argument_list(const wchar_t* line, int* count) {
    wchar_t** argv = CommandLineToArgvW(line, count);
    std::wstring last = (argv && *count > 0) ? argv[*count - 1] : L"";
    LocalFree(argv);
    return last;
}

TEST(SearchCommand, FixedPartsAndTheQueryAsOneArgument) {
    wchar_t line[SEARCH_COMMAND_CAPACITY];
    ASSERT_EQ(search_command_line(L"sezen aksu", line, SEARCH_COMMAND_CAPACITY), 1);
    EXPECT_STREQ(line,
                 L"yt-dlp.exe --encoding utf-8 --no-warnings --flat-playlist --print "
                 L"\"%(id)s\t%(title)s\t%(duration)s\t%(uploader)s\t%(webpage_url)s\" \"ytsearch10:sezen aksu\"");

    struct {
        const wchar_t* text;
        const wchar_t* argument;
    } rows[] = {
        {L"a \"quoted\" word", L"ytsearch10:a \"quoted\" word"},
        {L"back\\slash\\", L"ytsearch10:back\\slash\\"},
        {L"two\\\\\" x", L"ytsearch10:two\\\\\" x"},
        {L"line\r\nbreak\ttab\x01" L"bell\x7f\x85\u2028end", L"ytsearch10:linebreaktabbellend"},
        {L"--exec calc", L"ytsearch10:--exec calc"},
    };
    for (auto& row : rows) {
        ASSERT_EQ(search_command_line(row.text, line, SEARCH_COMMAND_CAPACITY), 1);
        int count = 0;
        std::wstring last = argument_list(line, &count);
        EXPECT_EQ(count, 8) << line;
        EXPECT_EQ(last, row.argument) << line;
    }

    // The longest text the window reads, every character needing an escape, still fits.
    std::wstring quotes(SEARCH_TEXT_CAPACITY - 1, L'"');
    EXPECT_EQ(search_command_line(quotes.c_str(), line, SEARCH_COMMAND_CAPACITY), 1);
    EXPECT_EQ(search_command_line(L"x", line, 40), 0) << "a line that does not fit is refused";
}

TEST(SearchCovers, AddressesOfBothSizes) {
    wchar_t out[SEARCH_ADDRESS_CAPACITY];
    ASSERT_EQ(thumbnail_address(L"https://" THUMBNAIL_HOST, L"Xk2Lm9Pq0Rs", 1, out, SEARCH_ADDRESS_CAPACITY), 1);
    EXPECT_STREQ(out, L"https://i.ytimg.com/vi/Xk2Lm9Pq0Rs/mqdefault.jpg");
    ASSERT_EQ(thumbnail_address(L"http://127.0.0.1:8080", L"Xk2Lm9Pq0Rs", 0, out, SEARCH_ADDRESS_CAPACITY), 1);
    EXPECT_STREQ(out, L"http://127.0.0.1:8080/vi/Xk2Lm9Pq0Rs/default.jpg");
    EXPECT_EQ(thumbnail_address(L"https://i.ytimg.com", L"Xk2Lm9Pq0Rs", 1, out, 20), 0);
    EXPECT_STREQ(out, L"");
}

TEST(SearchTexts, StatusAndLabels) {
    wchar_t out[256];
    search_status_text(10, out, 256);
    EXPECT_STREQ(out, L"10 sonu\u00e7 bulundu \u2022 \u00c7ift t\u0131klayarak hemen indirebilirsiniz");
    search_status_text(0, out, 256);
    EXPECT_STREQ(out, L"Sonu\u00e7 bulunamad\u0131.");
    download_status_text(0, L"Duman - Bu Ak\u015fam", out, 256);
    EXPECT_STREQ(out, L"\u0130ndiriliyor (%0): Duman - Bu Ak\u015fam");
    download_status_text(37, L"50% off", out, 256);
    EXPECT_STREQ(out, L"\u0130ndiriliyor (%37): 50% off") << "a title's percent sign is not a format";
    download_button_text(1, -1, out, 256);
    EXPECT_STREQ(out, L"\u0130ndiriliyor \u2022 %0");
    download_button_text(1, 64, out, 256);
    EXPECT_STREQ(out, L"\u0130ndiriliyor \u2022 %64");
    download_button_text(0, 64, out, 256);
    EXPECT_STREQ(out, L"\u0130ndir ve Listeye Ekle");
    percent_label_text(-1, out, 256);
    EXPECT_STREQ(out, L"%0");
    percent_label_text(100, out, 256);
    EXPECT_STREQ(out, L"%100");
    duration_text(3725, L"YouTube", out, 256);
    EXPECT_STREQ(out, L"62:05  \u2022  YouTube");
    duration_text(59, nullptr, out, 256);
    EXPECT_STREQ(out, L"00:59");
}

TEST(SearchTexts, StatusPanelShowsWhileDownloadingOrWithAPercent) {
    EXPECT_FALSE(status_panel_visible(0, -1));
    EXPECT_TRUE(status_panel_visible(1, -1));
    EXPECT_TRUE(status_panel_visible(0, 0));
    EXPECT_TRUE(status_panel_visible(0, 100));
}

TEST(SearchTexts, LineBreaksBecomeBlanks) {
    wchar_t text[] = L"a\r\nb\nc\rd\te";
    replace_line_breaks(text);
    EXPECT_STREQ(text, L"a  b c d\te");
}

static int width(RECT r) { return r.right - r.left; }
static int height(RECT r) { return r.bottom - r.top; }
static bool inside(RECT inner, RECT outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

TEST(SearchLayoutTest, NumbersAt96And144Dpi) {
    // Worked out by hand from the window's design for one client size at each DPI.
    SearchLayout a = search_layout(804, 491, 96);
    EXPECT_EQ(a.right_width, 280);
    EXPECT_EQ(a.right_left, 508);
    EXPECT_EQ(a.left_width, 478);
    EXPECT_EQ(a.edit.left, 26);
    EXPECT_EQ(width(a.edit), 358);
    EXPECT_EQ(a.search_button.left, 402);
    EXPECT_EQ(width(a.search_button), 84);
    EXPECT_EQ(a.folder_button.left, 382);
    EXPECT_EQ(width(a.folder_label), 358);
    EXPECT_EQ(height(a.list), 491 - 142);
    EXPECT_EQ(a.status_label.top, 453);
    EXPECT_EQ(a.download_button.left, 522);
    EXPECT_EQ(a.download_button.top, 417);
    EXPECT_EQ(width(a.download_button), 252);
    EXPECT_EQ(height(a.preview), 252 * 9 / 16);
    EXPECT_EQ(a.search_field.right, 16 + 478 - 100);
    EXPECT_EQ(a.status_panel.bottom, 407);
    EXPECT_EQ(height(a.status_panel), 46);

    SearchLayout b = search_layout(1206, 736, 144);
    EXPECT_EQ(b.right_width, 420);
    EXPECT_EQ(b.right_left, 1206 - 24 - 420);
    EXPECT_EQ(b.left_width, 1206 - 24 - 420 - 21 - 24);
    EXPECT_EQ(height(b.edit), 33);
    EXPECT_EQ(width(b.search_button), 126);
    EXPECT_EQ(height(b.download_button), 66);
    EXPECT_EQ(b.list.top, 144);
}

TEST(SearchLayoutTest, PanelWidthLimitsAndMinimumSize) {
    struct {
        int w, h, dpi, right, left;
    } rows[] = {
        {1600, 900, 96, 280, 1600 - 16 - 280 - 14 - 16},  // wide: the panel keeps 280
        {500, 460, 96, 250, 260},                          // half the width, left column at its floor
        {400, 460, 96, 240, 260},                          // never below 240
        {600, 690, 144, 360, 390},                         // the floors scale too
    };
    for (auto& row : rows) {
        SearchLayout l = search_layout(row.w, row.h, row.dpi);
        EXPECT_EQ(l.right_width, row.right) << row.w << "x" << row.h << " at " << row.dpi;
        EXPECT_EQ(l.left_width, row.left) << row.w << "x" << row.h << " at " << row.dpi;
    }
    SIZE s96 = search_min_track_size(96), s144 = search_min_track_size(144);
    EXPECT_EQ(s96.cx, 680);
    EXPECT_EQ(s96.cy, 460);
    EXPECT_EQ(s144.cx, 1020);
    EXPECT_EQ(s144.cy, 690);
}

TEST(SearchLayoutTest, NothingOverlapsAtTheSmallestClientSizes) {
    int dpis[] = {96, 120, 144, 192};
    for (int dpi : dpis) {
        // The smallest window leaves about this client area (frame and caption removed).
        int w = scale_at(680 - 16, dpi), h = scale_at(460 - 39, dpi);
        SearchLayout l = search_layout(w, h, dpi);
        EXPECT_TRUE(inside(l.edit, l.search_field)) << dpi;
        EXPECT_LT(l.search_field.right, l.search_button.left) << dpi;
        EXPECT_LT(l.folder_label.right, l.folder_button.left) << dpi;
        EXPECT_TRUE(inside(l.list, l.list_panel)) << dpi;
        EXPECT_LE(l.list_panel.bottom, l.status_label.top) << dpi;
        EXPECT_LE(l.list_panel.bottom, l.open_folder_button.top) << dpi;
        EXPECT_LT(l.status_label_short.right, l.open_folder_button.left) << dpi;
        EXPECT_LT(l.search_button.right, l.right_panel.left) << dpi;
        EXPECT_TRUE(inside(l.preview, l.right_panel)) << dpi;
        EXPECT_TRUE(inside(l.download_button, l.right_panel)) << dpi;
        EXPECT_TRUE(inside(l.status_panel, l.right_panel)) << dpi;
        EXPECT_GT(height(l.list), scale_at(120, dpi)) << dpi;
    }
}

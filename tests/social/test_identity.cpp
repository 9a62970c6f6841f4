// The user's identity, the friends store and their two files, on real files in temporary
// folders standing in for the executable's folder, the current folder and APPDATA.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "base/wstr.h"
#include "social/identity.h"
#include "test_support.h"

static std::string utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s((size_t)n, 0);
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

//~ Tags and names

TEST(Tags, NumberSlugAndSameUser) {
    struct { const wchar_t* tag; const wchar_t* number; const char* slug; } rows[] = {
        {L"Ornek#8421", L"8421", "ornek_8421"},
        {L"Ay\u015fe G\u00fcl#0042", L"0042", "ayse_gul_0042"},
        {L"\u00c7\u011e\u0130\u00d6\u015e\u00dc\u00e7\u011f\u0131\u00f6\u015f\u00fc#1", L"1", "cgiosucgiosu_1"},
        {L"Zed-9#x12y34", L"12", "zed-9_x12y34"},   // digits after other characters, first run only
        {L"12ab#", L"", "12ab_"},                   // after the '#' there are none
        {L"8421", L"8421", "8421"},                 // no '#': from the start
        {L"\u00c4\U0001F600.#7", L"7", "____7"},     // one '_' per character, a pair is one
        {L"", L"", ""},
    };
    for (const auto& r : rows) {
        wchar_t number[16];
        char slug[64];
        tag_number(r.tag, number, 16);
        tag_slug(r.tag, slug, 64);
        EXPECT_STREQ(number, r.number) << utf8(r.tag);
        EXPECT_STREQ(slug, r.slug) << utf8(r.tag);
    }
    wchar_t cut[4];
    tag_number(L"a#123456", cut, 4);
    EXPECT_STREQ(cut, L"123");
    char slug_cut[4];
    tag_slug(L"Ornek", slug_cut, 4);
    EXPECT_STREQ(slug_cut, "orn");

    struct { const wchar_t* a; const wchar_t* b; int same; } pairs[] = {
        {L"a#12", L"A#12", 1},          {L"x#8421", L"y#8421", 1},  {L"x#12", L"y#12", 0},
        {L"x#8421", L"x#8422", 0},      {L"Ali#8421", L"8421", 1},  {L"x#842", L"x#8421", 0},
        {L"\u00e7a#5", L"\u00c7A#5", 1}, {L"", L"", 0},              {L"a#8421", L"", 0},
        {L"x#1234567890123456", L"y#1234567890123457", 1},  // only 15 digits are compared
    };
    for (const auto& p : pairs) {
        EXPECT_EQ(same_user(p.a, p.b), p.same) << utf8(p.a) << " / " << utf8(p.b);
        EXPECT_EQ(same_user(p.b, p.a), p.same) << utf8(p.b) << " / " << utf8(p.a);
    }
    EXPECT_FALSE(same_user(nullptr, L"a#1234"));
}

TEST(Names, DisplayAndReceivedTextCleaning) {
    struct { const wchar_t* in; const wchar_t* display; const wchar_t* received; } names[] = {
        {L"  Ali|Veli  ", L"AliVeli", L"AliVeli"},
        {L"A\"B#C\\D\tE", L"ABCDE", L"ABCDE"},
        {L"  \x01 Ay\u015fe G\u00fcl ", L"Ay\u015fe G\u00fcl", L"Ay\u015fe G\u00fcl"},
        {L"ABCDEFGHIJKLMNOPQRSTUVWXYZ", L"ABCDEFGHIJKLMNOPQRSTUVWX", L"ABCDEFGHIJKLMNOPQRSTUVWX"},
        {L"ABCDEFGHIJKLMNOPQRSTUVW   Z", L"ABCDEFGHIJKLMNOPQRSTUVW", L"ABCDEFGHIJKLMNOPQRSTUVW"},
        {L"||##", L"", L""},
        // Marks that reverse or hide what follows go from received names, and count not.
        {L"Ali\u202eVeli", L"Ali\u202eVeli", L"AliVeli"},
        {L"\u2066\u200f \u200eX\u2069\u202a\u202b\u202c\u202d\u2067\u2068", L"\u2066\u200f \u200eX\u2069\u202a\u202b\u202c\u202d\u2067\u2068", L"X"},
        {L"\u202eABCDEFGHIJKLMNOPQRSTUVWX", L"\u202eABCDEFGHIJKLMNOPQRSTUVW", L"ABCDEFGHIJKLMNOPQRSTUVWX"},
        {L"ABCDEFGHIJKLMNOPQRSTUVW\U0001F600", L"ABCDEFGHIJKLMNOPQRSTUVW", L"ABCDEFGHIJKLMNOPQRSTUVW"},  // no half pair
        {L"A\x7f\x85Z", L"A\x7f\x85Z", L"AZ"},
        // Characters that draw nothing would let "Ve\u200Bli" pass for "Veli".
        {L"Ve\u200Bl\u200C\u200D\u2060\u2061\u2062\u2063\u2064i\u061C\uFEFF\u00AD", L"Ve\u200Bl\u200C\u200D\u2060\u2061\u2062\u2063\u2064i\u061C\uFEFF\u00AD", L"Veli"},
    };
    for (const auto& r : names) {
        wchar_t out[64];
        clean_display_name(r.in, out, 64);
        EXPECT_STREQ(out, r.display) << utf8(r.in);
        clean_received_name(r.in, out, 64);
        EXPECT_STREQ(out, r.received) << utf8(r.in);
    }

    struct { const wchar_t* in; const wchar_t* tag; } tags[] = {
        {L"Ornek#8421", L"Ornek#8421"},
        {L"  Ali\u202e|#0042", L"Ali#0042"},
        {L"#8421", L"#8421"},
        {L"ABCDEFGHIJKLMNOPQRSTUVWXYZ#1234", L"ABCDEFGHIJKLMNOPQRSTUVWX#1234"},
        {L"Ornek", L""}, {L"Ornek#", L""}, {L"Ornek#84a1", L""}, {L"Ornek#8421 ", L""}, {L"A#1#2", L""},
        {L"Ornek#\u0661\u0662\u0663", L""},               // digits, but not ASCII ones
        {L"Ornek#1234567890123456", L""},                 // more digits than a number holds
        {L"ABCDEFGHIJKLMNOPQRSTUVWX#12345678", L""},     // does not fit whole
    };
    for (const auto& r : tags) {
        wchar_t out[USER_TAG_CAPACITY] = L"junk";
        int n = clean_received_tag(r.in, out, USER_TAG_CAPACITY);
        EXPECT_STREQ(out, r.tag) << utf8(r.in);
        EXPECT_EQ(n, (int)wcslen(r.tag)) << utf8(r.in);
    }

    wchar_t status[STATUS_TEXT_CAPACITY];
    clean_received_status(L"\u015eark\u0131\u202e - \u0130sim\r\n\x1b[0m", status, STATUS_TEXT_CAPACITY);
    EXPECT_STREQ(status, L"\u015eark\u0131 - \u0130sim[0m");
    std::wstring long_status(300, L'x');
    EXPECT_EQ(clean_received_status(long_status.c_str(), status, STATUS_TEXT_CAPACITY), 127);
}

TEST(Identity, NumberNameAndDecisions) {
    struct { uint32_t serial; const wchar_t* computer; const wchar_t* number; } machines[] = {
        {1, L"A", L"1096"},               // 1 * 31 + 65 = 96
        {0, L"", L"9736"},                // a serial of 0 counts as 0x5E1100
        {0x5E1100, L"", L"9736"},
        {0xFFFFFFFF, L"PC", L"2586"},     // unsigned 32-bit wrap-around
        {0, L"\u0130STANBUL-PC", nullptr},
    };
    for (const auto& m : machines) {
        wchar_t number[16];
        identity_number_from_machine(m.serial, m.computer, number, 16);
        if (m.number) {
            EXPECT_STREQ(number, m.number) << utf8(m.computer);
        }
        EXPECT_EQ(wcslen(number), 4u);
        EXPECT_TRUE(number[0] >= L'1' && number[0] <= L'9');
    }
    struct { const wchar_t* user; const wchar_t* name; } users[] = {
        {L"  Ali|Veli  ", L"AliVeli"}, {nullptr, L"Kullanici"}, {L"", L"Kullanici"}, {L"|#\"", L"Kullanici"},
    };
    for (const auto& u : users) {
        wchar_t name[64];
        identity_name_from_user(u.user, name, 64);
        EXPECT_STREQ(name, u.name) << (u.user ? utf8(u.user) : "null");
    }

    // identity.tag: only two lines count, the first must begin with a digit.
    IdentityTagFile valid, invalid, long_name;
    const char valid_text[] = "1234\r\n  Ay\xc5\x9f" "e|\r\nIgnored#9999\n";
    identity_tag_parse(valid_text, (int)sizeof(valid_text) - 1, &valid);
    EXPECT_TRUE(valid.valid);
    EXPECT_STREQ(valid.number, L"1234");
    EXPECT_STREQ(valid.name, L"  Ay\u015fe|");
    identity_tag_parse("x1234\nAli\n", 10, &invalid);
    EXPECT_FALSE(invalid.valid);
    std::string many = "5678\nx";
    for (int i = 0; i < 60; i++) many += "\xe2\x82\xac";  // the 126-byte room ends inside the 42nd
    identity_tag_parse(many.c_str(), (int)many.size(), &long_name);
    EXPECT_EQ(std::wstring(long_name.name), L"x" + std::wstring(41, L'\u20ac'));

    struct {
        const char* case_name;
        IdentityTagFile tag_file;
        bool has_friends_file;
        Identity friends_file;
        const wchar_t* number;
        const wchar_t* name;
    } decisions[] = {
        {"no files", {}, false, {}, L"", L""},
        {"friends.json number wins", {1, L"1234", L"Other"}, true, {L"", L"Ornek", L"Ornek#8421"}, L"8421", L"Ornek"},
        {"identity.tag fills a missing number and name", {1, L"1234", L" Ay\u015fe|"}, true, {L"", L"", L"Ornek#"},
         L"1234", L"Ay\u015fe"},
        {"name from the tag", {}, true, {L"", L"", L" Or|nek#8421"}, L"8421", L"Ornek"},
        {"a damaged name is cleaned", {}, true, {L"", L"  A\"|B\\CDEFGHIJKLMNOPQRSTUVWXYZ", L"x#8421"}, L"8421",
         L"ABCDEFGHIJKLMNOPQRSTUVWX"},
        {"invalid identity.tag ignored", {0, L"1234", L"Other"}, true, {L"", L"", L""}, L"", L""},
        {"identity.tag alone", {1, L"1234", L"  A#li "}, false, {}, L"1234", L"Ali"},
    };
    for (const auto& d : decisions) {
        Identity out;
        identity_decide(&d.tag_file, d.has_friends_file ? &d.friends_file : nullptr, &out);
        EXPECT_STREQ(out.number, d.number) << d.case_name;
        EXPECT_STREQ(out.name, d.name) << d.case_name;
    }
}

//~ The store on disk

// Fresh folders for the executable, the current folder and APPDATA, and an empty store.
struct StoreTest : ::testing::Test {
    TempDir root;
    std::wstring program, current, roaming;
    wchar_t old_dir[MAX_PATH];

    void SetUp() override {
        program = root.file(L"program");
        current = root.file(L"current");
        roaming = root.file(L"roaming");
        for (const std::wstring* d : {&program, &current, &roaming}) CreateDirectoryW(d->c_str(), nullptr);
        GetCurrentDirectoryW(MAX_PATH, old_dir);
        ASSERT_TRUE(SetCurrentDirectoryW(current.c_str()));
        SetEnvironmentVariableW(L"APPDATA", roaming.c_str());
        identity_set_program_folder(program.c_str());
    }
    void TearDown() override {
        friends_save_flush();
        identity_set_program_folder(nullptr);
        SetCurrentDirectoryW(old_dir);
    }
    std::wstring beside() const { return program + L"\\friends.json"; }
    std::wstring mirror() const { return roaming + L"\\Nelvo\\friends.json"; }
    std::wstring identity_file() const { return roaming + L"\\Nelvo\\identity.tag"; }
};

static std::string entry(const std::string& tag, const std::string& name, bool last) {
    return "    { \"tag\": \"" + tag + "\", \"name\": \"" + name + "\" }" + (last ? "\n" : ",\n");
}

// The file as the first installations wrote it: values as they were, no mark.
static std::string friends_text(const std::string& tag, const std::string& name, const std::string& friends,
                                const std::string& pending) {
    return "{\n  \"my_tag\": \"" + tag + "\",\n  \"my_name\": \"" + name + "\",\n  \"friends\": [\n" + friends +
           "  ],\n  \"pending\": [\n" + pending + "  ]\n}\n";
}

// The same lines as written now: the mark that values are escaped comes last.
static std::string saved_text(const std::string& tag, const std::string& name, const std::string& friends,
                              const std::string& pending) {
    std::string text = friends_text(tag, name, friends, pending);
    return text.substr(0, text.size() - 3) + ",\n  \"format\": 2\n}\n";
}

TEST_F(StoreTest, FirstStartMakesAMachineIdentityAndWritesBothFiles) {
    identity_load();
    friends_save_flush();
    std::wstring number = g_identity.number;
    ASSERT_EQ(number.size(), 4u);
    EXPECT_GE(_wtoi(number.c_str()), 1000);
    EXPECT_FALSE(std::wstring(g_identity.name).empty());
    EXPECT_EQ(std::wstring(g_identity.tag), std::wstring(g_identity.name) + L"#" + number);
    std::string tag = utf8(g_identity.tag), name = utf8(g_identity.name);
    EXPECT_EQ(read_file(beside()), saved_text(tag, name, "", ""));
    EXPECT_EQ(read_file(mirror()), read_file(beside()));
    EXPECT_EQ(read_file(identity_file()), utf8(number) + "\n" + name + "\n" + tag + "\n");

    // The same machine always gets the same number, whichever file is left.
    DeleteFileW(beside().c_str());
    DeleteFileW(mirror().c_str());
    identity_load();
    EXPECT_EQ(std::wstring(g_identity.number), number);
    DeleteFileW(identity_file().c_str());
    identity_load();
    EXPECT_EQ(std::wstring(g_identity.number), number);
}

TEST_F(StoreTest, ReadsAndWritesTheFileEarlierInstallationsRead) {
    std::string text = friends_text("Ornek#8421", "Ornek", entry("Veli#1234", "Veli", false) + entry("Su#77", "", true),
                                    entry("Ayse#4321", "Ay\xc5\x9f" "e", true));
    ASSERT_TRUE(write_file(beside(), text));
    identity_load();
    EXPECT_STREQ(g_identity.tag, L"Ornek#8421");
    ASSERT_EQ(friend_count(), 2);
    EXPECT_STREQ(friend_at(1)->name, L"Su#77");  // an empty name shows the tag
    EXPECT_STREQ(friend_at(0)->status_text, L"\u00c7evrimd\u0131\u015f\u0131");
    EXPECT_EQ(friend_at(0)->online, 0);
    EXPECT_EQ(friend_at(2), nullptr);
    EXPECT_EQ(friend_at(-1), nullptr);
    ASSERT_EQ(pending_count(), 1);
    EXPECT_STREQ(pending_at(0)->name, L"Ay\u015fe");
    EXPECT_EQ(pending_at(1), nullptr);
    EXPECT_EQ(read_file(beside()), text) << "loading does not rewrite friends.json";
    EXPECT_EQ(read_file(identity_file()), "8421\nOrnek\nOrnek#8421\n");

    ASSERT_TRUE(friends_save());
    friends_save_flush();
    std::string written = saved_text("Ornek#8421", "Ornek", entry("Veli#1234", "Veli", false) + entry("Su#77", "Su#77", true),
                                     entry("Ayse#4321", "Ay\xc5\x9f" "e", true));
    EXPECT_EQ(read_file(beside()), written);
    EXPECT_EQ(read_file(mirror()), written);

    // Removing by tag finds a friend whose name part changed; the file follows.
    EXPECT_TRUE(friend_remove(L"VeliYeni#1234"));
    EXPECT_FALSE(friend_remove(L"Veli#1234"));
    EXPECT_TRUE(pending_remove(L"Ayse#4321"));
    friends_save_flush();
    EXPECT_EQ(read_file(beside()), saved_text("Ornek#8421", "Ornek", entry("Su#77", "Su#77", true), ""));
    wchar_t tag[8], name[64];
    get_my_tag(tag, 8);
    get_my_name(name, 64);
    EXPECT_STREQ(tag, L"Ornek#8");
    EXPECT_STREQ(name, L"Ornek");
}

TEST_F(StoreTest, FileLimitsLookupOrderAndMirror) {
    std::string friends, pending;
    for (int i = 0; i < 33; i++) friends += entry("F#" + std::to_string(1000 + i), "F", i == 32);
    for (int i = 0; i < 17; i++) pending += entry("P#" + std::to_string(2000 + i), "P", i == 16);
    std::string skipped = entry("", "No tag", false);
    ASSERT_TRUE(CreateDirectoryW((roaming + L"\\Nelvo").c_str(), nullptr));
    // Found only in the per-user folder: read from there and put beside the executable. What
    // does not fit is kept in a copy beside the file read, before a save can drop it.
    std::string overfull = friends_text("Ornek#8421", "Ornek", skipped + friends, pending);
    ASSERT_TRUE(write_file(mirror(), overfull));
    identity_load();
    EXPECT_EQ(friend_count(), 32);
    EXPECT_STREQ(friend_at(0)->tag, L"F#1000");
    EXPECT_STREQ(friend_at(31)->tag, L"F#1031");
    EXPECT_EQ(pending_count(), 16);
    EXPECT_STREQ(pending_at(15)->tag, L"P#2015");
    EXPECT_EQ(read_file(beside()), overfull);
    EXPECT_EQ(read_file(mirror() + L".bak"), overfull);
    EXPECT_EQ(std::wstring(friends_kept_aside()), mirror() + L".bak");

    // The current folder comes before the per-user folder.
    DeleteFileW(beside().c_str());
    ASSERT_TRUE(write_file(current + L"\\friends.json", friends_text("Cur#5555", "Cur", "", "")));
    identity_load();
    EXPECT_STREQ(g_identity.tag, L"Cur#5555");
    EXPECT_EQ(friend_count(), 0);

    // Beside the executable comes first; one over 64 KiB counts as none and is replaced, once
    // a copy of it is kept.
    std::string big = friends_text("Big#6666", "Big", entry("Veli#1234", "Veli", true), "");
    big.insert(big.size() - 2, std::string(FRIENDS_FILE_MAX_BYTES + 1 - big.size(), ' '));
    ASSERT_EQ(big.size(), 65537u);
    ASSERT_TRUE(write_file(beside(), big));
    ASSERT_TRUE(write_file(identity_file(), "7777\nKayitli\n" + std::string(10000, 'z')));  // a long third line
    identity_load();
    friends_save_flush();
    EXPECT_STREQ(g_identity.tag, L"Kayitli#7777");
    EXPECT_EQ(read_file(beside()), saved_text("Kayitli#7777", "Kayitli", "", ""));
    EXPECT_EQ(read_file(beside() + L".bak"), big);
}

// Files of the first installations, which wrote values as they came: a backslash is an
// ordinary character, and quotes and braces may stand inside names.
TEST_F(StoreTest, OldFilesKeepEveryEntryThroughASave) {
    struct Row {
        const char *tag, *name, *saved_name;  // saved_name: as the file holds it after a save
        const wchar_t* wide_name;
    } rows[] = {
        {"x#1111", "x\\", "x\\\\", L"x\\"},
        {"Ali#1112", "C:\\dir\\", "C:\\\\dir\\\\", L"C:\\dir\\"},
        {"a{b}c#1113", "a{b}c", "a{b}c", L"a{b}c"},
        {"[DJ]#1114", "[DJ]", "[DJ]", L"[DJ]"},
        {"Ece#1115", "say \"hi\"", "say \\\"hi\\\"", L"say \"hi\""},
        {"Su#1116", "\xc5\x9eu", "\xc5\x9eu", L"\u015eu"},
    };
    const int n = (int)(sizeof(rows) / sizeof(rows[0]));
    std::string old_lines, saved_lines;
    for (int i = 0; i < n; i++) {
        old_lines += entry(rows[i].tag, rows[i].name, i == n - 1);
        saved_lines += entry(rows[i].tag, rows[i].saved_name, i == n - 1);
    }
    auto expect_rows = [&](const char* when) {
        ASSERT_EQ(friend_count(), n) << when;
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(utf8(friend_at(i)->tag), rows[i].tag) << when << " " << i;
            EXPECT_STREQ(friend_at(i)->name, rows[i].wide_name) << when << " " << i;
        }
        ASSERT_EQ(pending_count(), 1) << when;
        EXPECT_STREQ(pending_at(0)->tag, L"Yol\\#2222") << when;
        EXPECT_STREQ(pending_at(0)->name, L"Bekle\\") << when;
    };
    ASSERT_TRUE(write_file(beside(), friends_text("Ornek#8421", "Ornek", old_lines, entry("Yol\\#2222", "Bekle\\", true))));
    identity_load();
    expect_rows("read");
    EXPECT_STREQ(friends_kept_aside(), L"");

    // Saved, every line stays as it was but for the escapes, and the mark comes last.
    ASSERT_TRUE(friends_save());
    friends_save_flush();
    EXPECT_EQ(read_file(beside()),
              saved_text("Ornek#8421", "Ornek", saved_lines, entry("Yol\\\\#2222", "Bekle\\\\", true)));
    identity_load();
    expect_rows("read back");

    // Whatever a name holds comes back, control characters included.
    wstr_copy(g_identity.name, L"Ben {x}]");
    wstr_copy(friend_at(0)->name, L"a\": \"b\" }, {\t\\");
    ASSERT_TRUE(friends_save());
    friends_save_flush();
    EXPECT_NE(read_file(beside()).find("\"name\": \"a\\\": \\\"b\\\" }, {\\u0009\\\\\""), std::string::npos);
    identity_load();
    EXPECT_STREQ(g_identity.name, L"Ben {x}]");
    ASSERT_EQ(friend_count(), n);
    EXPECT_STREQ(friend_at(0)->name, L"a\": \"b\" }, {\t\\");
    EXPECT_STREQ(friend_at(1)->name, rows[1].wide_name);

    // A marked file is read as JSON, with the escapes any JSON writer may use.
    ASSERT_TRUE(write_file(beside(), saved_text("Ornek#8421", "Ornek", entry("Ek#1117", "\\u00c7\\/\\ud83d\\ude00\\n", true), "")));
    identity_load();
    ASSERT_EQ(friend_count(), 1);
    EXPECT_STREQ(friend_at(0)->name, L"\u00c7/\U0001F600\n");
}

// A file that did not read whole is copied aside before a save can replace it, never over
// an earlier copy; with no name left for a copy, nothing is saved at all.
TEST_F(StoreTest, DamagedFilesAreKeptAsideBeforeAnySave) {
    std::string text = friends_text("Ornek#8421", "Ornek", entry("Veli#1234", "Veli", false) + entry("Ali#1235", "Ali", true),
                                    entry("Nur#2222", "Nur", true));
    std::string cut = text.substr(0, text.find("Ali#1235") + 3);  // as a crash in mid-write leaves it
    ASSERT_TRUE(write_file(beside(), cut));
    identity_load();
    ASSERT_EQ(friend_count(), 1);
    EXPECT_STREQ(friend_at(0)->tag, L"Veli#1234");
    EXPECT_EQ(std::wstring(friends_kept_aside()), beside() + L".bak");
    EXPECT_FALSE(friends_save_refused());
    ASSERT_TRUE(friends_save());
    friends_save_flush();
    EXPECT_EQ(read_file(beside()), saved_text("Ornek#8421", "Ornek", entry("Veli#1234", "Veli", true), ""));
    EXPECT_EQ(read_file(beside() + L".bak"), cut);

    ASSERT_TRUE(write_file(beside(), cut));
    identity_load();
    EXPECT_EQ(std::wstring(friends_kept_aside()), beside() + L".bak2");
    EXPECT_EQ(read_file(beside() + L".bak"), cut);
    EXPECT_EQ(read_file(beside() + L".bak2"), cut);

    for (int i = 3; i <= 9; i++) ASSERT_TRUE(write_file(beside() + L".bak" + std::to_wstring(i), "kept"));
    std::string mirrored = read_file(mirror());
    ASSERT_TRUE(write_file(beside(), cut));
    identity_load();
    EXPECT_TRUE(friends_save_refused());
    EXPECT_STREQ(friends_kept_aside(), L"");
    EXPECT_FALSE(friends_save());
    friends_save_flush();
    EXPECT_EQ(read_file(beside()), cut);
    EXPECT_EQ(read_file(mirror()), mirrored);
    EXPECT_EQ(read_file(beside() + L".bak9"), "kept");

    // The largest file that is read at all, padded with a key nobody reads: whole.
    std::string full = text;
    full.insert(2, "  \"note\": \"" + std::string(FRIENDS_FILE_MAX_BYTES - text.size() - 14, '-') + "\",\n");
    ASSERT_EQ(full.size(), 65536u);
    ASSERT_TRUE(write_file(beside(), full));
    identity_load();
    EXPECT_EQ(friend_count(), 2);
    EXPECT_EQ(pending_count(), 1);
    EXPECT_STREQ(friends_kept_aside(), L"");
    EXPECT_FALSE(friends_save_refused());
}

// A friend whose name changes at every message costs one write a second at most, and the
// last name is what stays on disk.
TEST_F(StoreTest, AFloodOfChangesIsWrittenAtMostOnceASecond) {
    identity_load();
    friends_save_flush();
    g_friends.friend_count = 1;
    FriendEntry* f = &g_friends.friends[0];
    wstr_copy(f->tag, L"Veli#4444");
    int before = friends_save_writes();
    DWORD start = GetTickCount();
    for (int i = 0; i < 200; i++) {
        wstr_format(f->name, IDENTITY_NAME_CAPACITY, L"Veli %d", i);
        ASSERT_TRUE(friends_save());
        Sleep(2);  // time for a write between changes, were there no interval
    }
    int seconds = (int)((GetTickCount() - start) / 1000);
    friends_save_flush();
    EXPECT_LE(friends_save_writes() - before, 2 + seconds);
    EXPECT_NE(read_file(beside()).find("\"Veli 199\""), std::string::npos);
    EXPECT_EQ(read_file(mirror()), read_file(beside()));

    // Nothing changed: nothing written.
    int written = friends_save_writes();
    EXPECT_TRUE(friends_save());
    friends_save_flush();
    EXPECT_EQ(friends_save_writes(), written);
}

TEST_F(StoreTest, SentRequestsPersistWhereEarlierReadersDoNotLook) {
    ASSERT_TRUE(write_file(beside(), friends_text("Ornek#8421", "Ornek", "", entry("Ayse#4321", "Ayse", true))));
    identity_load();
    EXPECT_FALSE(sent_request_has(L"Veli#5555"));
    EXPECT_TRUE(sent_request_add(L"Veli#5555"));
    EXPECT_TRUE(sent_request_add(L"Kisa#12"));
    EXPECT_TRUE(sent_request_add(L"VeliYeni#5555"));  // the same user: kept once
    friends_save_flush();
    std::string text = read_file(beside());
    EXPECT_EQ(text, "{\n  \"my_tag\": \"Ornek#8421\",\n  \"my_name\": \"Ornek\",\n  \"friends\": [\n  ],\n"
                    "  \"pending\": [\n" + entry("Ayse#4321", "Ayse", true) +
                    "  ],\n  \"sent\": [ \"5555\", \"Kisa#12\" ],\n  \"format\": 2\n}\n");

    identity_load();
    EXPECT_EQ(pending_count(), 1);
    EXPECT_TRUE(sent_request_has(L"Baska#5555"));
    EXPECT_TRUE(sent_request_has(L"KISA#12"));
    EXPECT_FALSE(sent_request_has(L"Baska#12"));
    EXPECT_FALSE(sent_request_has(L"Veli#5556"));
    EXPECT_TRUE(sent_request_remove(L"Veli#5555"));
    EXPECT_FALSE(sent_request_remove(L"Veli#5555"));
    identity_load();
    EXPECT_FALSE(sent_request_has(L"Veli#5555"));
    EXPECT_TRUE(sent_request_has(L"kisa#12"));

    // A removed friend's old request goes with it: no answer to it makes them a friend again.
    g_friends.friend_count = 1;
    wstr_copy(g_friends.friends[0].tag, L"Kisa#12");
    EXPECT_TRUE(friend_remove(L"kisa#12"));
    EXPECT_FALSE(sent_request_has(L"Kisa#12"));

    // A full list lets the oldest request go.
    sent_request_add(L"Kisa#12");
    for (int i = 0; i < SENT_REQUESTS_MAX; i++) sent_request_add((L"N#" + std::to_wstring(3000 + i)).c_str());
    EXPECT_EQ(g_friends.sent_count, SENT_REQUESTS_MAX);
    EXPECT_FALSE(sent_request_has(L"Kisa#12"));
    EXPECT_TRUE(sent_request_has(L"N#3000"));
    EXPECT_TRUE(sent_request_has(L"N#3031"));
}

// A pinned key, the user's mark that it was checked and the last send times taken live
// inside their friend's braces, where earlier readers skip them; a value that is no key is
// not kept, and the file then counts as not read whole.
TEST_F(StoreTest, PinnedKeysStayInsideTheirEntries) {
    std::string key(86, 'A');
    std::string with_key = "    { \"tag\": \"Ayse#4321\", \"name\": \"Ayse\", \"key\": \"" + key +
                           "\", \"key_checked\": \"1\", \"signed_at\": \"1765000000123\", \"room_signed_at\": \"1765000000456\" },\n";
    std::string text = friends_text("Ornek#8421", "Ornek", with_key + entry("Veli#5555", "Veli", true), "");
    Identity id;
    FriendStore store;
    EXPECT_TRUE(friends_json_parse(text.data(), (int)text.size(), &id, &store));
    EXPECT_EQ(std::string(store.friends[0].key), key);
    EXPECT_EQ(store.friends[0].key_checked, 1);
    EXPECT_EQ(store.friends[0].last_signed_ms, 1765000000123LL);
    EXPECT_EQ(store.friends[0].last_room_signed_ms, 1765000000456LL);
    EXPECT_STREQ(store.friends[1].key, "");
    char out[4096];
    int n = friends_json_format(&id, &store, out, sizeof out);
    ASSERT_GT(n, 0);
    EXPECT_NE(std::string(out, n).find(with_key), std::string::npos);
    EXPECT_NE(std::string(out, n).find(entry("Veli#5555", "Veli", true)), std::string::npos);
    for (std::string bad : {key.substr(1), key + "A", std::string(85, 'A') + "+"}) {
        std::string t = friends_text("Ornek#8421", "Ornek", "    { \"tag\": \"Ayse#4321\", \"key\": \"" + bad + "\" }\n", "");
        EXPECT_FALSE(friends_json_parse(t.data(), (int)t.size(), &id, &store)) << bad;
        EXPECT_STREQ(store.friends[0].key, "") << bad;
    }
}

TEST_F(StoreTest, AFileThatCannotBeReplacedIsLeftWhole) {
    identity_load();
    friends_save_flush();
    std::string before = read_file(beside());
    ASSERT_FALSE(before.empty());
    FriendEntry* f = &g_friends.friends[0];
    wstr_copy(f->tag, L"Yeni#1234");
    wstr_copy(f->name, L"Yeni");
    g_friends.friend_count = 1;

    // Locked by another program: the old file stays whole, the current folder gets the list.
    HANDLE lock = CreateFileW(beside().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(friends_save());
    friends_save_flush();
    CloseHandle(lock);
    EXPECT_EQ(read_file(beside()), before);
    EXPECT_FALSE(file_exists(beside() + L".tmp"));
    EXPECT_NE(read_file(current + L"\\friends.json").find("Yeni#1234"), std::string::npos);
    EXPECT_NE(read_file(mirror()).find("Yeni#1234"), std::string::npos);

    // Read-only, and no other place to go: nothing is cut, nothing left behind.
    ASSERT_TRUE(SetFileAttributesW(beside().c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetCurrentDirectoryW(program.c_str()));
    wstr_copy(f->name, L"Yeni Ad");
    EXPECT_TRUE(friends_save());
    friends_save_flush();
    EXPECT_EQ(read_file(beside()), before);
    EXPECT_FALSE(file_exists(beside() + L".tmp"));
    SetFileAttributesW(beside().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(StoreTest, HostileFilesStayWithinLimits) {
    std::string big(10240, 'A');
    std::string braces;
    for (int i = 0; i < 2000; i++) braces += "{\"tag\":\"T#" + std::to_string(i) + "\"}";
    const std::string files[] = {
        friends_text(big, big, entry(big, big, false) + entry("x#1", big, true), entry(big, "", true)),
        friends_text("\xff\xfe\xc3#12\xe2\x82", "\xc3(\xa0\xa1", entry("\xed\xa0\x80#5", "\xf4\x90\x80\x80", true), ""),
        "{\n  \"my_tag\": \"Ornek#8421,\n  \"my_name: Ornek\",\n  \"friends\": [\n    { \"tag\": \"A#1, \"name\": }\n",
        "{ \"friends\": [ " + braces + " ], \"pending\": [ " + braces + " ], \"sent\": [ " + big + " \"" + big + "\" ] }",
        "\"my_tag\"", "\"friends\":[{", "\"sent\":[\"\\", std::string("{\0\"my_tag\": \"\0\"}", 16),
    };
    CreateDirectoryW((roaming + L"\\Nelvo").c_str(), nullptr);
    for (size_t i = 0; i < sizeof(files) / sizeof(files[0]); i++) {
        Identity id;
        FriendStore* store = new FriendStore();
        friends_json_parse(files[i].data(), (int)files[i].size(), &id, store);
        EXPECT_LE(store->friend_count, FRIENDS_MAX) << i;
        EXPECT_LE(store->pending_count, PENDING_MAX) << i;
        EXPECT_LE(store->sent_count, SENT_REQUESTS_MAX) << i;
        EXPECT_LT(wcsnlen(id.tag, USER_TAG_CAPACITY), (size_t)USER_TAG_CAPACITY) << i;
        EXPECT_LT(wcsnlen(id.name, IDENTITY_NAME_CAPACITY), (size_t)IDENTITY_NAME_CAPACITY) << i;
        for (int k = 0; k < store->friend_count; k++) {
            EXPECT_LT(wcsnlen(store->friends[k].tag, USER_TAG_CAPACITY), (size_t)USER_TAG_CAPACITY) << i;
            EXPECT_LT(wcsnlen(store->friends[k].name, IDENTITY_NAME_CAPACITY), (size_t)IDENTITY_NAME_CAPACITY) << i;
        }
        delete store;

        // Through the real start-up too: a usable identity comes out whatever the file held.
        ASSERT_TRUE(write_file(beside(), files[i]));
        ASSERT_TRUE(write_file(identity_file(), i % 2 ? std::string(5000, '9') + "\n" + big : "\xff\n" + big));
        identity_load();
        EXPECT_TRUE(g_identity.number[0]) << i;
        EXPECT_TRUE(g_identity.name[0]) << i;
        wchar_t number[16];
        tag_number(g_identity.tag, number, 16);
        if (i % 2 == 0) {
            EXPECT_STREQ(number, g_identity.number) << i;
        }
        EXPECT_LE(friend_count(), FRIENDS_MAX) << i;
        EXPECT_TRUE(friends_save()) << i;
        friends_save_flush();
    }
    // The first file's friends keep their place even though the values are cut.
    std::string first = files[0];
    FriendStore* store = new FriendStore();
    Identity id;
    friends_json_parse(first.data(), (int)first.size(), &id, store);
    EXPECT_EQ(store->friend_count, 2);
    EXPECT_STREQ(store->friends[1].tag, L"x#1");
    EXPECT_EQ(store->pending_count, 1);
    delete store;
}

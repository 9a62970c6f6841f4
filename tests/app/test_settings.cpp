#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app/music_folder.h"
#include "app/settings.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "test_support.h"

namespace {

// Each test works in its own current directory with its own APPDATA.
struct SettingsTest : ::testing::Test {
    TempDir work;
    wchar_t old_dir[MAX_PATH];
    std::wstring appdata;

    void SetUp() override {
        GetCurrentDirectoryW(MAX_PATH, old_dir);
        ASSERT_TRUE(SetCurrentDirectoryW(work.path.c_str()));
        appdata = work.file(L"roaming");
        CreateDirectoryW(appdata.c_str(), nullptr);
        SetEnvironmentVariableW(L"APPDATA", appdata.c_str());
    }
    void TearDown() override { SetCurrentDirectoryW(old_dir); }

    Settings load_text(const std::string& text) {
        EXPECT_TRUE(write_file(work.file(L"config.json"), text));
        Settings s;
        load_settings(&s, CONFIG_FILE_NAME);
        return s;
    }
};

void expect_defaults(const Settings& s) {
    EXPECT_STREQ(s.last_folder, L"");
    EXPECT_EQ(s.volume, 80);
    EXPECT_EQ(s.shuffle, 0);
    EXPECT_EQ(s.repeat, 0);
    EXPECT_EQ(s.jam_keep_downloads, 1);
}

}  // namespace

TEST(SettingsFormat, ExactSevenLines) {
    Settings s;
    settings_defaults(&s);
    wcscpy(s.last_folder, L"C:\\\u015eark\u0131lar\\Yeni");
    s.volume = 35;
    s.shuffle = 1;
    s.repeat = 2;
    s.jam_keep_downloads = 0;
    char out[2048];
    int n = settings_format(&s, out, sizeof out);
    EXPECT_STREQ(out,
                 "{\n  \"last_folder\": \"C:\\\\\xc5\x9e" "ark\xc4\xb1lar\\\\Yeni\",\n  \"volume\": 35,\n"
                 "  \"shuffle\": 1,\n  \"repeat\": 2,\n  \"jam_keep_downloads\": 0\n}\n");
    EXPECT_EQ(n, (int)strlen(out));
    EXPECT_EQ(settings_format(&s, out, 20), -1);

    // Where to resume: new keys after the old ones, only when there is somewhere.
    wcscpy(s.resume_path, L"C:\\M\u00fczik\\Bir.mp3");
    s.resume_ms = 61250;
    s.resume_length_ms = 200000;
    settings_format(&s, out, sizeof out);
    EXPECT_NE(strstr(out, "\"jam_keep_downloads\": 0,\n  \"resume_path\": \"C:\\\\M\xc3\xbczik\\\\Bir.mp3\",\n  "
                          "\"resume_ms\": 61250,\n  \"resume_length_ms\": 200000\n}\n"),
              nullptr)
        << out;
    Settings back;
    settings_defaults(&back);
    settings_parse(out, &back);
    EXPECT_STREQ(back.resume_path, s.resume_path);
    EXPECT_STREQ(back.last_folder, s.last_folder);
    EXPECT_EQ(back.resume_ms, 61250);
    EXPECT_EQ(back.resume_length_ms, 200000);

    // The window's place, once it had one: last, and on one line.
    s.window = SavedWindow{1, -8, 20, 1020, 752, 1};
    settings_format(&s, out, sizeof out);
    EXPECT_NE(strstr(out, "\"resume_length_ms\": 200000,\n  \"window\": {\"x\": -8, \"y\": 20, \"width\": 1020, "
                          "\"height\": 752, \"maximized\": 1}\n}\n"),
              nullptr)
        << out;
    settings_parse(out, &back);
    EXPECT_EQ(memcmp(&back.window, &s.window, sizeof s.window), 0);
}

// Read between its braces, all four numbers or no place at all; the keys around it read as
// before, as they do for an older version that knows nothing of it.
TEST(SettingsParse, WindowPlace) {
    struct Case {
        const char* text;
        SavedWindow window;
    } cases[] = {
        {"\"window\": {\"x\": 5, \"y\": -6, \"width\": 700, \"height\": 800, \"maximized\": 1}", {1, 5, -6, 700, 800, 1}},
        {"\"window\":{\"height\":800,\"width\":700,\"y\":0,\"x\":-1920}", {1, -1920, 0, 700, 800, 0}},
        {"\"window\": {\"x\": 5, \"y\": 6, \"width\": 700}", {}},
        {"\"window\": {\"x\": 5, \"y\": 6, \"width\": 0, \"height\": 800}", {}},
        {"\"window\": {\"x\": 12345678, \"y\": 6, \"width\": 700, \"height\": 800}", {}},
        {"\"window\": {\"x\": abc, \"y\": 6, \"width\": 700, \"height\": 800}", {}},
        {"\"window\": [5, 6, 700, 800]", {}},
        {"\"window\": {\"width\": 700, \"height\": 800}, \"x\": 5, \"y\": 6", {}},
    };
    for (const Case& c : cases) {
        Settings s;
        settings_defaults(&s);
        std::string text = std::string("{\"volume\": 42, ") + c.text + ", \"repeat\": 2}";
        settings_parse(text.c_str(), &s);
        EXPECT_EQ(memcmp(&s.window, &c.window, sizeof s.window), 0) << c.text;
        EXPECT_TRUE(s.volume == 42 && s.repeat == 2) << c.text;
    }
}

TEST(SettingsParse, TolerantKeySearch) {
    struct Case {
        const char* text;
        int volume, shuffle, repeat, keep;
    } cases[] = {
        {"{\"volume\": 150}", 80, 0, 0, 1},
        {"{\"volume\": 0}", 0, 0, 0, 1},
        {"{\"volume\": -1}", 80, 0, 0, 1},
        {"{\"volume\": 100}", 100, 0, 0, 1},
        {"{\"jam_keep_downloads\":0,\"repeat\":5,\"shuffle\":1,\"volume\":42}", 42, 1, 5, 0},
        {"{\n\"other\": 9,\n  \"repeat\":   2,\n\"extra\": \"x\"\n}", 80, 0, 2, 1},
        // The first occurrence wins; a key with no colon after it keeps its default.
        {"\"volume\": 10, \"volume\": 20", 10, 0, 0, 1},
        {"\"shuffle\"", 80, 0, 0, 1},
        // The number is read as atoi reads it; huge numbers saturate instead of overflowing.
        {"\"repeat\": +7x, \"shuffle\": 99999999999999999999", 80, 2147483647, 7, 1},
        {"\"repeat\": -3", 80, 0, -3, 1},
        {"\"volume\": abc", 0, 0, 0, 1},
        {"", 80, 0, 0, 1},
    };
    for (const Case& c : cases) {
        Settings s;
        settings_defaults(&s);
        settings_parse(c.text, &s);
        EXPECT_EQ(s.volume, c.volume) << c.text;
        EXPECT_EQ(s.shuffle, c.shuffle) << c.text;
        EXPECT_EQ(s.repeat, c.repeat) << c.text;
        EXPECT_EQ(s.jam_keep_downloads, c.keep) << c.text;
    }
}

TEST(SettingsParse, Folder) {
    struct Case {
        const char* text;
        const wchar_t* folder;
    } cases[] = {
        {"\"last_folder\": \"C:\\\\M\xc3\xbczik\\\\Yeni\"", L"C:\\M\u00fczik\\Yeni"},
        {"\"last_folder\":\"D:\\\\a\"", L"D:\\a"},
        {"\"last_folder\": \"C:\\x\"", L"C:\\x"},
        {"\"last_folder\": \"unterminated", L""},
        {"\"last_folder\" \"no colon\"", L""},
        {"\"last_folder\": 12", L""},
    };
    for (const Case& c : cases) {
        Settings s;
        settings_defaults(&s);
        settings_parse(c.text, &s);
        EXPECT_STREQ(s.last_folder, c.folder) << c.text;
    }
    // A value longer than a path is cut, never overrun.
    std::string big = "\"last_folder\": \"" + std::string(2000, 'a') + "\"";
    Settings s;
    settings_defaults(&s);
    settings_parse(big.c_str(), &s);
    EXPECT_EQ(wcslen(s.last_folder), 259u);
}

TEST_F(SettingsTest, SaveLoadRoundTripWithMirror) {
    Settings s;
    settings_defaults(&s);
    wcscpy(s.last_folder, L"C:\\\u015eark\u0131lar\\Yeni");
    s.volume = 12;
    s.repeat = 5;
    // Past 2038, so that no 32-bit number could hold it.
    s.downloader_checked = 4102444800LL;
    save_settings(&s, CONFIG_FILE_NAME);
    std::string working = read_file(work.file(L"config.json"));
    EXPECT_NE(working.find("C:\\\\\xc5\x9e"), std::string::npos);
    EXPECT_NE(working.find("\"jam_keep_downloads\": 1,\n  \"downloader_checked\": 4102444800\n}"), std::string::npos)
        << working;
    EXPECT_EQ(read_file(appdata + L"\\Nelvo\\config.json"), working);
    EXPECT_FALSE(file_exists(work.file(L"config.json.tmp")));

    Settings back;
    load_settings(&back, CONFIG_FILE_NAME);
    EXPECT_STREQ(back.last_folder, s.last_folder);
    EXPECT_EQ(back.volume, 12);
    EXPECT_EQ(back.repeat, 5);
    EXPECT_EQ(back.downloader_checked, 4102444800LL);
    // A file from before the key, or with a damaged value, never updated the downloader.
    EXPECT_EQ(load_text("{\"volume\": 12}").downloader_checked, 0);
    EXPECT_EQ(load_text("{\"downloader_checked\": -5}").downloader_checked, 0);

    // Without a working copy the mirror is read and copied back.
    DeleteFileW(work.file(L"config.json").c_str());
    Settings restored;
    load_settings(&restored, CONFIG_FILE_NAME);
    EXPECT_EQ(restored.volume, 12);
    EXPECT_EQ(read_file(work.file(L"config.json")), working);
}

TEST_F(SettingsTest, MissingOrDamagedFilesGiveDefaults) {
    Settings s;
    load_settings(&s, CONFIG_FILE_NAME);
    expect_defaults(s);
    SetEnvironmentVariableW(L"APPDATA", nullptr);
    load_settings(&s, CONFIG_FILE_NAME);
    expect_defaults(s);

    expect_defaults(load_text(""));
    expect_defaults(load_text(std::string("\x00\xff\xfe\"volume\x00: 3", 12)));
    expect_defaults(load_text("\"volume\" \"shuffle\" \"repeat\""));
    std::string garbage;
    for (int i = 0; i < 5000; i++) garbage += (char)(i * 7919 % 251);
    Settings g = load_text(garbage);
    EXPECT_GE(g.volume, 0);
    EXPECT_LE(g.volume, 100);
}

TEST_F(SettingsTest, SizeLimit) {
    std::string body = "{\"volume\": 7}";
    std::string exact = body + std::string(65536 - body.size(), ' ');
    EXPECT_EQ(load_text(exact).volume, 7);
    EXPECT_EQ(load_text(exact + " ").volume, 80);
}

TEST_F(SettingsTest, InterruptedSaveNeverCutsTheWorkingCopy) {
    Settings s;
    settings_defaults(&s);
    s.volume = 33;
    save_settings(&s, CONFIG_FILE_NAME);
    std::string first = read_file(work.file(L"config.json"));

    // A temporary file left behind by a save that died half-way.
    ASSERT_TRUE(write_file(work.file(L"config.json.tmp"), "{\n  \"last_fol"));
    Settings back;
    load_settings(&back, CONFIG_FILE_NAME);
    EXPECT_EQ(back.volume, 33);
    s.volume = 44;
    save_settings(&s, CONFIG_FILE_NAME);
    load_settings(&back, CONFIG_FILE_NAME);
    EXPECT_EQ(back.volume, 44);
    EXPECT_FALSE(file_exists(work.file(L"config.json.tmp")));

    // The working copy held open by someone who shares nothing: the save cannot happen,
    // and the old content stays whole.
    std::string second = read_file(work.file(L"config.json"));
    HANDLE held = CreateFileW(work.file(L"config.json").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    s.volume = 55;
    save_settings(&s, CONFIG_FILE_NAME);
    CloseHandle(held);
    EXPECT_EQ(read_file(work.file(L"config.json")), second);
    EXPECT_FALSE(file_exists(work.file(L"config.json.tmp")));
    EXPECT_EQ(read_file(appdata + L"\\Nelvo\\config.json"), second);
}

TEST(ResolveMusicFolder, ConfiguredOrDefaultBesideTheProgram) {
    TempDir work;
    wchar_t old_dir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old_dir);
    ASSERT_TRUE(SetCurrentDirectoryW(work.path.c_str()));
    SetEnvironmentVariableW(L"APPDATA", work.file(L"appdata").c_str());
    CreateDirectoryW(work.file(L"appdata").c_str(), nullptr);

    wchar_t exe_folder[260];
    program_folder(exe_folder, 260);
    std::wstring default_folder = std::wstring(exe_folder) + L"\\M\u00fczikler";
    int existed = folder_exists(default_folder.c_str());

    wchar_t buf[260];
    settings_defaults(&g_settings);
    wstr_copy(g_settings.last_folder, work.path.c_str());
    resolve_music_folder(buf);
    EXPECT_EQ(std::wstring(buf), work.path);
    EXPECT_FALSE(file_exists(work.file(L"config.json")));

    wstr_copy(g_settings.last_folder, work.file(L"gone").c_str());
    resolve_music_folder(buf);
    EXPECT_EQ(std::wstring(buf), default_folder);
    EXPECT_TRUE(folder_exists(buf));
    EXPECT_EQ(std::wstring(g_settings.last_folder), default_folder);
    Settings saved;
    load_settings(&saved, CONFIG_FILE_NAME);
    EXPECT_EQ(std::wstring(saved.last_folder), default_folder);
    EXPECT_TRUE(file_exists(work.file(L"appdata\\Nelvo\\config.json")));

    if (!existed) RemoveDirectoryW(default_folder.c_str());
    SetCurrentDirectoryW(old_dir);
}

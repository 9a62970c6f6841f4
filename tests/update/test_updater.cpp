// The updater: the version file and the prompts, the check and the download against an HTTP
// server on loopback, the swap on real files with a real program (update_marker), and a
// manual check from the menu of the test build that replaces and restarts it.
#include "http_server.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "base/messages.h"
#include "base/wstr.h"
#include "peer_driver.h"
#include "test_support.h"
#include "update/http_fetch.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"
#include "update/updater.h"
#include "other_update_key.h"
#include "test_update_key.h"

static std::wstring beside_tests(const wchar_t* name) {
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(nullptr, here, MAX_PATH);
    std::wstring p = here;
    return p.substr(0, p.find_last_of(L'\\') + 1) + name;
}

static std::wstring prompt_of(const UpdateInfo& info) {
    wchar_t text[2048];
    const wchar_t* caption = L"";
    UINT flags = 0;
    if (!update_prompt(&info, text, 2048, &caption, &flags)) return L"";
    return std::wstring(caption) + L"|" + text;
}

TEST(VersionFile, FormatComparisonAndTheAddressTrusted) {
    UpdateInfo info = {};
    const char file[] = "\xEF\xBB\xBF\r\n  1.4.10 \t\r\n\r\n https://example.com/Nelvo.exe \nBirinci not\r\n  ikinci not\n";
    version_file_parse(file, sizeof file - 1, &info);
    EXPECT_STREQ(info.version, L"1.4.10") << "the byte-order mark and empty lines are skipped";
    EXPECT_STREQ(info.url, L"https://example.com/Nelvo.exe");
    EXPECT_STREQ(info.notes, L"Birinci not\n  ikinci not\n") << "only line 2 is trimmed";
    version_file_parse("1.5\nYeni \xc3\xb6zellikler\n", 21, &info);
    EXPECT_STREQ(info.url, L"");
    EXPECT_STREQ(info.notes, L"Yeni \u00f6zellikler\n");
    std::string many = "2.0.0\n";
    for (int i = 0; i < 40; i++) many += std::string(40, 'a' + i % 26) + "\n";
    version_file_parse(many.c_str(), (int)many.size(), &info);
    EXPECT_LT(wcslen(info.notes), 1020u);

    EXPECT_GT(version_compare(L"1.4.10", L"1.4.3"), 0) << "numbers, not text";
    EXPECT_EQ(version_compare(L"1.5", L"1.5.0"), 0);
    EXPECT_GT(version_compare(L"2", L"1.9.9"), 0);
    EXPECT_EQ(version_compare(L"yeni", L"0.0.0"), 0);
    EXPECT_EQ(version_compare(L"1.4.3", L"1.4.3"), 0);

    wchar_t url[1024];
    const wchar_t* base = L"http://127.0.0.1:8123";
    update_download_url(L"https://cdn.example.com/v2/Nelvo.exe", base, url, 1024);
    EXPECT_STREQ(url, L"https://cdn.example.com/v2/Nelvo.exe");
    update_download_url(L"http://evil.example.com/Nelvo.exe", base, url, 1024);
    EXPECT_STREQ(url, L"http://127.0.0.1:8123/Nelvo.exe") << "never a program over plain HTTP from elsewhere";
    update_download_url(L"http://127.0.0.1:8123/builds/Nelvo.exe", base, url, 1024);
    EXPECT_STREQ(url, L"http://127.0.0.1:8123/builds/Nelvo.exe") << "the update server's own address";
    update_download_url(L"http://127.0.0.1:81234/x.exe", base, url, 1024);
    EXPECT_STREQ(url, L"http://127.0.0.1:8123/Nelvo.exe") << "another port is another server";
    update_download_url(L"https://example.com/Nelvo.apk", base, url, 1024);
    EXPECT_STREQ(url, L"http://127.0.0.1:8123/Nelvo.exe");

    // The new program's one argument after an update.
    struct {
        const wchar_t* line;
        DWORD id;
    } handovers[] = {
        {L"\"C:\\Program Files\\Nelvo\\Nelvo.exe\" --nelvo-replaces=1234", 1234},
        {L"Nelvo.exe --nelvo-replaces=77 ", 77},
        {L"Nelvo.exe", 0},
        {L"Nelvo.exe --nelvo-replaces=", 0},
        {L"Nelvo.exe --nelvo-replaces=12x", 0},
        {L"Nelvo.exe song.mp3 --nelvo-replaces=12", 0},
        {L"Nelvo.exe --nelvo-replaces=99999999999", 0},
        {L"\"Nelvo.exe --nelvo-replaces=5", 0},
    };
    for (const auto& h : handovers) {
        DWORD id = 0;
        EXPECT_EQ(update_handover_parse(h.line, &id), h.id != 0) << h.line;
        EXPECT_EQ(id, h.id) << h.line;
    }
    wchar_t argument[64], line[128];
    update_handover_argument(4000000000u, argument, 64);
    wstr_format(line, 128, L"x.exe %ls", argument);
    DWORD id = 0;
    EXPECT_TRUE(update_handover_parse(line, &id) && id == 4000000000u);

    // The texts the window shows.
    UpdateInfo newer = {1, 0, 1, L"1.5.0", L"", L"Daha h\u0131zl\u0131\n", 0, L""};
    EXPECT_EQ(prompt_of(newer),
              L"G\u00fcncelleme Mevcut|NELVO i\u00e7in yeni bir g\u00fcncelleme mevcut!\n\nMevcut S\u00fcr\u00fcm: v1.4.3\n"
              L"Yeni S\u00fcr\u00fcm: v1.5.0\n\nYenilikler:\nDaha h\u0131zl\u0131\n\n\n\u015eimdi otomatik olarak indirip "
              L"g\u00fcncellemek istiyor musunuz?");
    UpdateInfo same = {0, 1, 1, L"1.4.3", L"", L"", 0, L""};
    EXPECT_EQ(prompt_of(same),
              L"G\u00fcncelleme Kontrol\u00fc|Zaten en g\u00fcncel s\u00fcr\u00fcm\u00fc kullan\u0131yorsunuz.\n(Mevcut "
              L"S\u00fcr\u00fcm: v1.4.3)");
    same.manual = 0;
    EXPECT_EQ(prompt_of(same), L"") << "an automatic check that finds nothing says nothing";
    UpdateInfo unreachable = {0, 1, 0, L"", L"", L"", 0, L""};
    EXPECT_EQ(prompt_of(unreachable).rfind(L"G\u00fcncelleme Kontrol\u00fc|G\u00fcncelleme sunucusuna ula\u015f\u0131lamad\u0131.", 0), 0u)
        << "no answer is not reported as up to date";
}

TEST(ProgramCheck, OnlyAWholeX64Program) {
    TempDir dir;
    std::string marker = read_file(beside_tests(L"update_marker.exe"));
    ASSERT_GT(marker.size(), 50000u);
    write_file(dir.file(L"whole.exe"), marker);
    EXPECT_TRUE(update_file_is_program(dir.file(L"whole.exe").c_str()));
    write_file(dir.file(L"cut.exe"), marker.substr(0, marker.size() / 2));
    EXPECT_FALSE(update_file_is_program(dir.file(L"cut.exe").c_str())) << "cut short of its sections";
    write_file(dir.file(L"page.html"), "<html>" + std::string(60000, ' ') + "</html>");
    EXPECT_FALSE(update_file_is_program(dir.file(L"page.html").c_str()));
    std::string x86 = marker;
    unsigned pe = (unsigned char)x86[0x3C] | ((unsigned char)x86[0x3D] << 8);
    x86[pe + 4] = 0x4C;  // IMAGE_FILE_MACHINE_I386
    x86[pe + 5] = 0x01;
    write_file(dir.file(L"x86.exe"), x86);
    EXPECT_FALSE(update_file_is_program(dir.file(L"x86.exe").c_str()));
    EXPECT_EQ(update_progress_percent(160000, 0), 47) << "no length: 95 per 320000 bytes";
    EXPECT_EQ(update_progress_percent(10000000, 0), 99);
    EXPECT_EQ(update_progress_percent(3000000000LL, 4000000000LL), 74) << "in 64 bits";
}

TEST(Signature, KeysAndSignaturesAsOpensslWritesThem) {
    unsigned char key[UPDATE_KEY_BYTES];
    std::string pem = NELVO_TEST_UPDATE_KEY_PEM;
    struct {
        const char* name;
        std::string text;
        bool taken;
    } keys[] = {
        {"the tests' key", pem, true},
        {"with Windows line ends", "-----BEGIN PUBLIC KEY-----\r\n" + pem.substr(27, 64) + "\r\n" + pem.substr(92), true},
        {"compressed point",
         "-----BEGIN PUBLIC KEY-----\nMDkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDIgADOdsCo7w7Lb9rBC25mHCelj4UkOEP\nd/xFV/5gO2Zvq0o=\n"
         "-----END PUBLIC KEY-----\n",
         false},
        {"another curve (P-384), cut",
         "-----BEGIN PUBLIC KEY-----\nMHYwEAYHKoZIzj0CAQYFK4EEACIDYgAEXZbWRiYbm3W/8aJNPhfuC/p7RlL+bKqu\n-----END PUBLIC KEY-----\n", false},
        {"no end line", pem.substr(0, 60), false},
        {"a stray character", pem.substr(0, 40) + "*" + pem.substr(41), false},
        {"empty", "", false},
    };
    for (const auto& k : keys) EXPECT_EQ(update_key_from_pem(k.text.c_str(), key) == 1, k.taken) << k.name;

    // r with its sign byte, s short of 32 bytes: both come out as 32 bytes.
    std::string r(32, '\x91'), s(31, '\x22');
    std::string der = "\x30\x44\x02\x21" + std::string(1, '\0') + r + "\x02\x1f" + s;
    struct {
        const char* name;
        std::string bytes;
        bool taken;
    } sigs[] = {
        {"DER", der, true},
        {"r||s", r + std::string(1, '\0') + s, true},
        {"63 bytes", (r + s), false},
        {"DER and a byte more", der + "x", false},
        {"DER, sequence length wrong", "\x30\x45" + der.substr(2), false},
        {"negative r", "\x30\x43\x02\x20" + r + "\x02\x1f" + s, false},
        {"a zero byte r does not need", "\x30\x45\x02\x21" + std::string(1, '\0') + "\x11" + r.substr(1) + "\x02\x1f" + s, false},
    };
    unsigned char rs[UPDATE_SIGNATURE_BYTES];
    for (const auto& g : sigs) {
        int taken = update_signature_decode((const unsigned char*)g.bytes.data(), (int)g.bytes.size(), rs);
        EXPECT_EQ(taken == 1, g.taken) << g.name;
        if (taken) {
            EXPECT_EQ(std::string((char*)rs, 64), r + std::string(1, '\0') + s) << g.name;
        }
    }
}

TEST(Manifest, OnlyTheFormReleasesWriteIsRead) {
    // As the build wrote it for update_marker with the tests' key, the way scripts/release does.
    std::string whole = read_file(beside_tests(L"update_marker.exe.newer.manifest"));
    auto parses = [](const std::string& text) {
        UpdateManifest m;
        return update_manifest_parse(text.data(), (int)text.size(), &m) == 1;
    };
    UpdateManifest m;
    ASSERT_TRUE(update_manifest_parse(whole.data(), (int)whole.size(), &m)) << whole;
    EXPECT_STREQ(m.version, L"9.0.0");
    EXPECT_EQ(m.expires, update_utc_seconds("2999-01-01T00:00:00Z", 20));
    unsigned char digest[UPDATE_DIGEST_BYTES], key[UPDATE_KEY_BYTES];
    ASSERT_TRUE(update_file_sha256(beside_tests(L"update_marker.exe").c_str(), digest));
    EXPECT_EQ(memcmp(digest, m.sha256, UPDATE_DIGEST_BYTES), 0) << "the program's SHA-256";
    ASSERT_TRUE(update_key_from_pem(NELVO_TEST_UPDATE_KEY_PEM, key));
    EXPECT_TRUE(update_signature_verify_bytes(key, whole.data(), m.signed_length, m.rs)) << "openssl's signature";
    std::string altered = whole;
    altered[altered.find("9.0.0")] = '8';
    ASSERT_TRUE(update_manifest_parse(altered.data(), (int)altered.size(), &m));
    EXPECT_FALSE(update_signature_verify_bytes(key, altered.data(), m.signed_length, m.rs)) << "a version changed";

    // Every cut of it is no manifest, except the one that drops only its last line end.
    for (size_t n = 0; n + 1 < whole.size(); n++) EXPECT_FALSE(parses(whole.substr(0, n))) << "cut at " << n;
    EXPECT_TRUE(parses(whole.substr(0, whole.size() - 1)));

    size_t signature = whole.find("signature ");
    auto with = [&](const std::string& from, const std::string& to) {
        std::string t = whole;
        return t.replace(t.find(from), from.size(), to);
    };
    auto before_signature = [&](const std::string& line) {
        return whole.substr(0, signature) + line + whole.substr(signature);
    };
    std::string hash = whole.substr(whole.find("sha256 ") + 7, 2 * UPDATE_DIGEST_BYTES);
    std::string crlf;
    for (char c : whole) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string padded = whole;
    while (padded.size() <= UPDATE_MANIFEST_MAX) padded = padded.substr(0, padded.find("signature ")) +
                                                         "note " + std::string(90, 'x') + "\n" + whole.substr(signature);
    struct {
        const char* name;
        std::string text;
        bool taken;
    } rows[] = {
        {"a field later versions may add", before_signature("channel stable\n"), true},
        {"CR LF line ends", crlf, false},
        {"another format", with("manifest 1", "manifest 2"), false},
        {"no version", with("version 9.0.0\n", ""), false},
        {"the version twice", before_signature("version 9.0.0\n"), false},
        {"a version of two parts", with("9.0.0", "9.0"), false},
        {"a version part of ten digits", with("9.0.0", "9.0.1234567890"), false},
        {"a hash a digit short", with(hash, hash.substr(1)), false},
        {"no such day", with("2999-01-01", "2999-02-29"), false},
        {"a line after the signature", whole + "version 9.9.9\n", false},
        {"a line longer than any field", before_signature("note " + std::string(300, 'x') + "\n"), false},
        {"longer than a manifest may be", padded, false},
        {"a signature that is not base64", with("signature ", "signature *"), false},
    };
    for (const auto& r : rows) EXPECT_EQ(parses(r.text), r.taken) << r.name;
    EXPECT_GT(update_utc_seconds("2024-02-29T23:59:59Z", 20), 0) << "a leap day";
    EXPECT_EQ(update_utc_seconds("2023-02-29T00:00:00Z", 20), -1);
}

//~ Against the server

struct Loopback : ::testing::Test {
    HttpServer server;
    HWND window = nullptr;
    std::vector<MSG> posted;
    TempDir dir;

    static LRESULT CALLBACK keep(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
    void SetUp() override {
        ASSERT_TRUE(server.start());
        update_set_server(server.base().c_str());
        WNDCLASSW wc = {};
        wc.lpfnWndProc = keep;
        wc.lpszClassName = L"UpdateTestSink";
        RegisterClassW(&wc);
        window = CreateWindowW(L"UpdateTestSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        update_set_program_path(dir.file(L"Nelvo.exe").c_str());
    }
    void TearDown() override {
        update_set_server(nullptr);
        update_set_program_path(nullptr);
        DestroyWindow(window);
    }
    // Collects what the updater posts for up to ms, until one of until arrives.
    bool collect(int ms, UINT until) {
        DWORD start = GetTickCount();
        while ((int)(GetTickCount() - start) < ms) {
            MSG m;
            while (PeekMessageW(&m, window, WM_APP, WM_APP + 999, PM_REMOVE)) {
                posted.push_back(m);
                if (m.message == until) return true;
            }
            Sleep(10);
        }
        return false;
    }
    UpdateInfo* checked(int manual, int ms = 6000) {
        posted.clear();
        start_update_check(window, manual);
        if (!collect(ms, MSG_UPDATE_CHECKED)) return nullptr;
        return (UpdateInfo*)posted.back().lParam;
    }
};

TEST_F(Loopback, TheGetFailsOnAnythingButAnAnswerWith200) {
    server.route("/ok", {200, "merhaba"});
    server.route("/silent", {200, "late", true, 4000});
    HINTERNET internet, connection;
    HINTERNET request = http_get((server.base() + L"/ok").c_str(), &internet, &connection);
    ASSERT_NE(request, nullptr);
    char body[16] = {};
    DWORD got = 0;
    EXPECT_TRUE(WinHttpReadData(request, body, 15, &got));
    EXPECT_STREQ(body, "merhaba");
    http_close(request, connection, internet);
    EXPECT_EQ(http_get((server.base() + L"/missing").c_str(), &internet, &connection), nullptr);
    EXPECT_EQ(internet, nullptr);
    EXPECT_EQ(http_get(L"bir adres de\u011fil", &internet, &connection), nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(http_get((server.base() + L"/silent").c_str(), &internet, &connection), nullptr);
    EXPECT_LT(GetTickCount() - start, 3900u) << "a server that says nothing is given up after 3 s";
}

TEST_F(Loopback, ChecksPostWhatTheWindowMustShow) {
    server.route("/version.txt", {200, "1.4.3\n"});
    UpdateInfo* info = checked(1);
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(info->available);
    EXPECT_TRUE(info->reached);
    update_record_release((LPARAM)info);
    EXPECT_EQ(server.last_request().rfind("/version.txt?t=", 0), 0u) << "a cache-breaking query";
    EXPECT_EQ(checked(0, 1500), nullptr) << "an automatic check without news posts nothing";

    server.route("/version.txt", {200, "\xEF\xBB\xBF" "1.4.10\r\nhttp://evil.example.com/Nelvo.exe\r\nHatalar giderildi\r\n", false});
    info = checked(0);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->available);
    EXPECT_STREQ(info->version, L"1.4.10");
    EXPECT_EQ(std::wstring(info->url), server.base() + L"/Nelvo.exe");
    EXPECT_STREQ(info->notes, L"Hatalar giderildi\n");
    update_record_release((LPARAM)info);

    server.route("/version.txt", {404, "yok"});
    info = checked(1);
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(info->reached);
    update_record_release((LPARAM)info);

    // A build without an update server asks nobody.
    size_t asked = server.request_count();
    update_set_server(L"");
    EXPECT_EQ(checked(0, 500), nullptr);
    info = checked(1);
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(info->reached);
    update_record_release((LPARAM)info);
    EXPECT_EQ(server.request_count(), asked);
}

TEST_F(Loopback, ADownloadThatIsNoProgramLeavesEverythingAsItWas) {
    write_file(dir.file(L"Nelvo.exe"), "the running program");
    write_file(dir.file(L"Nelvo_new.tmp"), "an interrupted download");
    server.route("/page", {200, "<html>" + std::string(400000, ' ') + "</html>", false, 300});
    EXPECT_TRUE(start_update_download(window, (server.base() + L"/page").c_str()));
    EXPECT_FALSE(start_update_download(window, (server.base() + L"/page").c_str())) << "Yes twice: one download";
    ASSERT_TRUE(collect(20000, MSG_UPDATE_RESULT));
    EXPECT_EQ(posted.back().wParam, 0u);
    EXPECT_EQ(posted.back().lParam, 2) << "not a program for this machine";
    EXPECT_EQ(read_file(dir.file(L"Nelvo.exe")), "the running program");
    EXPECT_FALSE(file_exists(dir.file(L"Nelvo_new.tmp")));
    // Progress without a length rises by 95 per 320000 bytes, holds at 99, then ends at 100.
    std::vector<int> progress;
    for (const MSG& m : posted)
        if (m.message == MSG_UPDATE_PROGRESS) progress.push_back((int)m.wParam);
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), 2);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(progress[progress.size() - 2], 99);
    for (size_t i = 1; i < progress.size(); i++) EXPECT_GT(progress[i], progress[i - 1]);

    // A body cut short of its length, or broken off, is a failed download, not a short one.
    std::string marker = read_file(beside_tests(L"update_marker.exe"));
    struct Broken {
        const char* name;
        HttpRoute route;
    } broken[] = {
        {"shorter than its length", {200, marker, true, 0, (int)marker.size() / 2}},
        {"dropped mid-body", {200, marker, true, 0, (int)marker.size() / 2, true}},
    };
    for (const Broken& b : broken) {
        server.route("/cut", b.route);
        posted.clear();
        ASSERT_TRUE(start_update_download(window, (server.base() + L"/cut").c_str())) << b.name;
        ASSERT_TRUE(collect(20000, MSG_UPDATE_RESULT)) << b.name;
        EXPECT_EQ(posted.back().lParam, 1) << b.name;
        EXPECT_EQ(read_file(dir.file(L"Nelvo.exe")), "the running program") << b.name;
    }
    EXPECT_TRUE(update_body_whole(5, 0));
    EXPECT_FALSE(update_body_whole(0, 0)) << "nothing came";
    EXPECT_FALSE(update_body_whole(4, 5));
    EXPECT_FALSE(update_body_whole(6, 5));
    EXPECT_FALSE(update_body_within(0, UPDATE_MAX_BYTES + 1LL)) << "announced too large: not started";
    EXPECT_FALSE(update_body_within(UPDATE_MAX_BYTES + 1LL, 0));

    // With a key, only a program signed with it: here nothing is, and each says why.
    std::string signature = read_file(beside_tests(L"update_marker.exe.sig"));
    std::string peer = read_file(beside_tests(L"nelvo_peer.exe"));
    unsigned char key[UPDATE_KEY_BYTES], rs[UPDATE_SIGNATURE_BYTES];
    ASSERT_TRUE(update_key_from_pem(NELVO_TEST_UPDATE_KEY_PEM, key));
    std::string peer_signature = read_file(beside_tests(L"nelvo_peer.exe.sig"));
    ASSERT_TRUE(update_signature_decode((const unsigned char*)peer_signature.data(), (int)peer_signature.size(), rs));
    for (const char* when : {"first (system library loaded)", "again"}) {
        LARGE_INTEGER frequency, before, after;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&before);
        EXPECT_TRUE(update_signature_verify_file(key, beside_tests(L"nelvo_peer.exe").c_str(), rs));
        QueryPerformanceCounter(&after);
        printf("verifying the test build (%zu bytes), %s: %.1f ms\n", peer.size(), when,
               (after.QuadPart - before.QuadPart) * 1000.0 / frequency.QuadPart);
    }
    std::string changed = signature;
    changed[changed.size() - 1] ^= 1;
    struct Unsigned {
        const char* name;
        HttpRoute sig;
        const char* key;
    } unsigned_cases[] = {
        {"another file's signature", {200, read_file(beside_tests(L"nelvo_peer.exe.sig"))}, NELVO_TEST_UPDATE_KEY_PEM},
        {"one byte changed", {200, changed}, NELVO_TEST_UPDATE_KEY_PEM},
        {"no signature", {404, ""}, NELVO_TEST_UPDATE_KEY_PEM},
        {"another key's build", {200, signature}, NELVO_OTHER_UPDATE_KEY_PEM},
    };
    server.route("/signed/Nelvo.exe", {200, marker});
    for (const Unsigned& u : unsigned_cases) {
        ASSERT_TRUE(update_set_public_key(u.key));
        server.route("/signed/Nelvo.exe.sig", u.sig);
        posted.clear();
        ASSERT_TRUE(start_update_download(window, (server.base() + L"/signed/Nelvo.exe").c_str())) << u.name;
        ASSERT_TRUE(collect(20000, MSG_UPDATE_RESULT)) << u.name;
        EXPECT_EQ(posted.back().lParam, 2) << u.name << ": could not be verified";
        EXPECT_EQ(read_file(dir.file(L"Nelvo.exe")), "the running program") << u.name;
        EXPECT_FALSE(file_exists(dir.file(L"Nelvo_new.tmp"))) << u.name;
    }
    update_set_public_key("");
    ASSERT_TRUE(update_signature_decode((const unsigned char*)signature.data(), (int)signature.size(), rs));
    EXPECT_TRUE(update_signature_verify_file(key, beside_tests(L"update_marker.exe").c_str(), rs))
        << "the same signature holds for the file it was made of";

    server.route("/gone", {404, ""});
    EXPECT_TRUE(start_update_download(window, (server.base() + L"/gone").c_str())) << "the flag was cleared";
    posted.clear();
    ASSERT_TRUE(collect(10000, MSG_UPDATE_RESULT));
    EXPECT_EQ(posted.back().lParam, 1);
}

// Whoever controls the update server offers what he likes under any version number; only
// the signed manifest says which program is which version, and until when that holds.
TEST_F(Loopback, ASignedBuildInstallsOnlyANewerProgramItsSignedManifestNames) {
    write_file(dir.file(L"Nelvo.exe"), "the running program");
    std::string newer = read_file(beside_tests(L"update_marker.exe.newer.manifest"));
    std::string altered = newer;
    altered.replace(altered.find("9.0.0"), 5, "9.9.9");
    ASSERT_TRUE(update_set_public_key(NELVO_TEST_UPDATE_KEY_PEM));
    // An older release of ours, genuinely signed: the program, its signature, its manifest.
    server.route("/Nelvo.exe", {200, read_file(beside_tests(L"update_marker.exe"))});
    server.route("/Nelvo.exe.sig", {200, read_file(beside_tests(L"update_marker.exe.sig"))});
    struct Attack {
        const char* name;
        const char* version_file;
        HttpRoute manifest;
        int check_refuses;         // what the automatic check says (0: it offers an update)
        const wchar_t* check_says;
        int download_refuses;      // and a download started all the same
    } attacks[] = {
        {"the older release offered as 9.9.9, its own manifest replayed", "9.9.9\n",
         {200, read_file(beside_tests(L"update_marker.exe.older.manifest"))}, UPDATE_NOT_NEWER,
         L"Sunucu v9.9.9 s\u00fcr\u00fcm\u00fcn\u00fc duyuruyor, ancak imzal\u0131 g\u00fcncelleme bilgisi v1.0.0 diyor",
         UPDATE_NOT_NEWER},
        {"the older release under a newer release's manifest", "9.9.9\n",
         {200, read_file(beside_tests(L"nelvo_peer.exe.newer.manifest"))}, 0, L"Yeni S\u00fcr\u00fcm: v9.0.0",
         UPDATE_UNVERIFIED},
        {"a manifest with its version raised", "9.9.9\n", {200, altered}, UPDATE_UNVERIFIED,
         L"G\u00fcncelleme do\u011frulanamad\u0131", UPDATE_UNVERIFIED},
        {"no manifest", "9.9.9\n", {404, ""}, UPDATE_UNVERIFIED, L"G\u00fcncelleme do\u011frulanamad\u0131",
         UPDATE_UNVERIFIED},
        {"\"current\" forever, over a manifest past its expiry", "1.4.3\n",
         {200, read_file(beside_tests(L"update_marker.exe.expired.manifest"))}, UPDATE_STALE,
         L"G\u00fcncelleme bilgisi eskimi\u015f", UPDATE_STALE},
    };
    // Held as a running program is: a download let through fails to move it aside (code 3)
    // instead of swapping and ending this process.
    HANDLE running = CreateFileW(dir.file(L"Nelvo.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 0, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    for (const Attack& a : attacks) {
        server.route("/version.txt", {200, a.version_file});
        server.route("/version.txt.sig", a.manifest);
        UpdateInfo* info = checked(0);
        ASSERT_NE(info, nullptr) << a.name << ": the check said nothing";
        EXPECT_EQ(info->refused, a.check_refuses) << a.name;
        EXPECT_EQ(info->available, a.check_refuses == 0) << a.name;
        EXPECT_NE(prompt_of(*info).find(a.check_says), std::wstring::npos) << a.name << ": " << prompt_of(*info);
        update_record_release((LPARAM)info);

        posted.clear();
        ASSERT_TRUE(start_update_download(window, (server.base() + L"/Nelvo.exe").c_str())) << a.name;
        ASSERT_TRUE(collect(20000, MSG_UPDATE_RESULT)) << a.name;
        EXPECT_EQ(posted.back().lParam, a.download_refuses) << a.name;
        EXPECT_EQ(read_file(dir.file(L"Nelvo.exe")), "the running program") << a.name;
        EXPECT_FALSE(file_exists(dir.file(L"Nelvo_new.tmp"))) << a.name;
    }
    CloseHandle(running);
    wchar_t text[512];
    update_failure_text(UPDATE_NOT_NEWER, text, 512);
    EXPECT_NE(wcsstr(text, L"bu s\u00fcr\u00fcmden yeni de\u011fil"), nullptr) << text;
    update_failure_text(UPDATE_STALE, text, 512);
    EXPECT_NE(wcsstr(text, L"eskimi\u015f"), nullptr) << text;

    // Nothing newer, and the signed manifest agrees: a manual check says so, and no more.
    server.route("/version.txt", {200, "1.4.3\n"});
    server.route("/version.txt.sig", {200, read_file(beside_tests(L"update_marker.exe.older.manifest"))});
    UpdateInfo* info = checked(1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(prompt_of(*info).find(L"G\u00fcncelleme Kontrol\u00fc|Zaten en g\u00fcncel"), 0u) << prompt_of(*info);
    update_record_release((LPARAM)info);
    update_set_public_key("");
}

TEST(Swap, EveryFailureLeavesTheOldProgramInPlace) {
    TempDir dir;
    std::string marker = read_file(beside_tests(L"update_marker.exe"));
    std::wstring exe = dir.file(L"Nelvo.exe"), fresh = dir.file(L"Nelvo_new.tmp"), old = dir.file(L"Nelvo_old.tmp");
    auto reset = [&] {
        write_file(exe, "old program");
        write_file(fresh, marker);
        DeleteFileW(old.c_str());
    };
    reset();
    write_file(fresh, "<html>" + std::string(60000, ' '));
    EXPECT_EQ(update_install(exe.c_str(), fresh.c_str(), old.c_str()), 2);
    EXPECT_EQ(read_file(exe), "old program");

    reset();
    HANDLE held = CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(update_install(exe.c_str(), fresh.c_str(), old.c_str()), 3) << "the running file cannot be moved";
    CloseHandle(held);
    EXPECT_EQ(read_file(exe), "old program");
    EXPECT_FALSE(file_exists(fresh));

    reset();
    held = CreateFileW(fresh.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(update_install(exe.c_str(), fresh.c_str(), old.c_str()), 4);
    CloseHandle(held);
    EXPECT_EQ(read_file(exe), "old program") << "moved back";

    // Swapped in, but it ends at once without a word: the old program goes back.
    write_file(exe, marker);
    write_file(old, "old program");
    write_file(dir.file(L"quiet.txt"), "");
    DeleteFileW(fresh.c_str());
    EXPECT_EQ(update_restart(exe.c_str(), fresh.c_str(), old.c_str()), UPDATE_FAILED_START);
    EXPECT_TRUE(file_exists(dir.file(L"started.txt"))) << "it did start";
    EXPECT_TRUE(read_file(exe) == "old program");
    EXPECT_FALSE(file_exists(old));

    // The same when the old program cannot be renamed back: what is at stake is that a
    // program stays at Nelvo.exe, and that the user is told where the old one is.
    update_set_program_path(exe.c_str());
    struct Held {
        const char* name;
        DWORD share;  // how the old program's file is held open meanwhile
        int code;
        const char* at_exe;
    } helds[] = {
        {"renaming refused, copying allowed", FILE_SHARE_READ, UPDATE_FAILED_START, "old program"},
        {"neither", 0, UPDATE_UNDO_FAILED, "new"},
    };
    for (const Held& h : helds) {
        write_file(exe, marker);
        write_file(old, "old program");
        DeleteFileW(fresh.c_str());
        held = CreateFileW(old.c_str(), GENERIC_READ, h.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << h.name;
        EXPECT_EQ(update_restart(exe.c_str(), fresh.c_str(), old.c_str()), h.code) << h.name;
        CloseHandle(held);
        ASSERT_TRUE(file_exists(exe)) << h.name << ": no Nelvo.exe left";
        EXPECT_TRUE(read_file(exe) == (strcmp(h.at_exe, "new") ? std::string(h.at_exe) : marker)) << h.name;
        EXPECT_EQ(read_file(old), "old program") << h.name << ": the old program is kept";
        wchar_t text[512];
        update_failure_text(h.code, text, 512);
        std::wstring where = h.code == UPDATE_UNDO_FAILED ? old : exe;
        EXPECT_NE(wcsstr(text, where.c_str()), nullptr) << h.name << ": " << text;
    }
    DeleteFileW(dir.file(L"quiet.txt").c_str());
    std::string broken = marker;
    unsigned pe = (unsigned char)broken[0x3C] | ((unsigned char)broken[0x3D] << 8);
    broken[pe + 24] = 0;  // the optional header's magic: no loader takes it
    broken[pe + 25] = 0;
    write_file(fresh, broken);
    EXPECT_FALSE(update_file_is_program(fresh.c_str())) << "nor would a download like it be swapped in";

    // It starts, reports, gets as far as its clean-up and ends at once: the old program is
    // kept through that first start, and through a start that dies before its clean-up;
    // the next clean start removes it.
    reset();
    write_file(dir.file(L"Nelvo_started.tmp"), "");  // left by an earlier update's first start
    ASSERT_EQ(update_install(exe.c_str(), fresh.c_str(), old.c_str()), 0);
    EXPECT_TRUE(read_file(exe) == marker);
    EXPECT_FALSE(file_exists(dir.file(L"Nelvo_started.tmp"))) << "it spoke of another program";
    EXPECT_EQ(update_restart(exe.c_str(), fresh.c_str(), old.c_str()), 0) << "it started and reported";
    DWORD wait = GetTickCount();
    while (!file_exists(dir.file(L"Nelvo_started.tmp")) && GetTickCount() - wait < 10000) Sleep(20);
    EXPECT_TRUE(file_exists(dir.file(L"Nelvo_started.tmp"))) << "its first start went through its clean-up";
    EXPECT_EQ(read_file(old), "old program") << "kept through the new one's first start";
    auto start_again = [&] {
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::wstring command = L"\"" + exe + L"\"";
        if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, dir.path.c_str(), &si, &pi))
            return false;
        bool ended = WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return ended;
    };
    write_file(dir.file(L"quiet.txt"), "");
    ASSERT_TRUE(start_again());
    EXPECT_EQ(read_file(old), "old program") << "a start that died first is no clean start";
    DeleteFileW(dir.file(L"quiet.txt").c_str());
    write_file(dir.file(L"Zembrafold_old.tmp"), "x");
    ASSERT_TRUE(start_again());
    EXPECT_FALSE(file_exists(old)) << "its second clean start removes it";
    EXPECT_FALSE(file_exists(dir.file(L"Nelvo_started.tmp")));
    EXPECT_FALSE(file_exists(dir.file(L"Zembrafold_old.tmp")));
    EXPECT_TRUE(file_exists(exe));
    update_set_program_path(nullptr);
}

// The main windows open now, and the process of one of them.
static int main_windows(DWORD* process_id) {
    struct Count {
        int n;
        DWORD* process_id;
    } count = {0, process_id};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t cls[64] = L"";
            if (GetClassNameW(w, cls, 64) && !wcscmp(cls, MAIN_WINDOW_CLASS)) {
                Count* c = (Count*)p;
                c->n++;
                GetWindowThreadProcessId(w, c->process_id);
            }
            return TRUE;
        },
        (LPARAM)&count);
    return count.n;
}

TEST(Swap, AManualCheckFromTheMenuReplacesTheTestBuildWithASignedTestBuild) {
    HttpServer server;
    ASSERT_TRUE(server.start());
    std::string peer = read_file(beside_tests(L"nelvo_peer.exe"));
    server.route("/version.txt", {200, "1.4.3\n"});  // nothing new at start-up
    server.route("/Nelvo.exe", {200, peer});
    server.route("/Nelvo.exe.sig", {200, read_file(beside_tests(L"nelvo_peer.exe.sig"))});
    TempDir dir;
    PeerInstallation program;
    std::wstring command_server = server.base();
    ASSERT_TRUE(program.start(dir.path, beside_tests(L"nelvo_peer.exe"), peer_friends_json("Ben#1111", "Ben"), 1, 1,
                              command_server));
    ASSERT_TRUE(program.state_shows("tag=", 20000));
    DWORD wait = GetTickCount();
    while (server.request_count() == 0 && GetTickCount() - wait < 10000) Sleep(20);
    ASSERT_GT(server.request_count(), 0u) << "the check at start-up";
    Sleep(300);
    server.route("/version.txt", {200, "9.0.0\nYeni s\xc3\xbcr\xc3\xbcm\n"});
    server.route("/version.txt.sig", {200, read_file(beside_tests(L"nelvo_peer.exe.newer.manifest"))});
    DWORD yes = GetTickCount();
    EXPECT_EQ(program.ask("menu 6 yes"), "OK");
    // It ends only once the new one has reported its window.
    EXPECT_EQ(WaitForSingleObject(program.process.hProcess, 30000), WAIT_OBJECT_0) << "it ends to restart";
    DWORD replaced = GetTickCount() - yes;
    DWORD running = 0;
    EXPECT_EQ(main_windows(&running), 1) << "the new program's window, and no other";
    EXPECT_NE(running, program.process.dwProcessId);
    printf("from Yes to the old program's end (the new window up): %lu ms\n", (unsigned long)replaced);
    DWORD start = GetTickCount();
    while (!file_exists(dir.file(L"Nelvo_started.tmp")) && GetTickCount() - start < 20000) Sleep(50);
    EXPECT_TRUE(file_exists(dir.file(L"Nelvo_started.tmp"))) << "the new program's first start went through";
    EXPECT_TRUE(file_exists(dir.file(L"Nelvo_old.tmp"))) << "the old program stays until its next start";
    EXPECT_FALSE(file_exists(dir.file(L"Nelvo_new.tmp")));
    HANDLE process = running ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, running) : nullptr;
    if (process) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

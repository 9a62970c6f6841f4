// The search window on the (virtual) display, with the downloader's stand-in as a real
// child process, covers from a loopback HTTP server and the real main window as its owner.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "acquire/search_window.h"
#include "app/window_fixture.h"
#include "base/messages.h"
#include "library/track_list.h"
#include "search_window_fixture.h"
#include "ui/fonts.h"

//~ A loopback server for the cover pictures

// A one-colour bitmap file: the picture loader reads it whatever the address's extension.
static std::string bmp_bytes(COLORREF color, int w = 32, int h = 18) {
    int row = (w * 3 + 3) & ~3;
    int image = row * h;
    std::string s;
    auto u32 = [&](unsigned v) { for (int i = 0; i < 4; i++) s += (char)((v >> (8 * i)) & 255); };
    auto u16 = [&](unsigned v) { s += (char)(v & 255); s += (char)((v >> 8) & 255); };
    s += "BM"; u32(54 + image); u32(0); u32(54);
    u32(40); u32((unsigned)w); u32((unsigned)h); u16(1); u16(24); u32(0); u32((unsigned)image); u32(2835); u32(2835);
    u32(0); u32(0);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            s += (char)GetBValue(color);
            s += (char)GetGValue(color);
            s += (char)GetRValue(color);
        }
        s += std::string(row - w * 3, '\0');
    }
    return s;
}

// Serves registered paths; any other path gets 404. Paths can be held back until released.
struct CoverServer {
    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    HANDLE thread = nullptr;
    HANDLE release = nullptr;  // manual-reset: held answers go out once it is set
    std::mutex lock;
    std::map<std::string, std::string> files;
    std::map<std::string, int> held;
    std::vector<std::string> requests;
    std::atomic<int> answered{0};

    CoverServer() {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, (sockaddr*)&a, sizeof a);
        int len = sizeof a;
        getsockname(listener, (sockaddr*)&a, &len);
        port = ntohs(a.sin_port);
        listen(listener, 64);
        thread = CreateThread(nullptr, 0, accept_loop, this, 0, nullptr);
    }
    ~CoverServer() {
        SetEvent(release);
        closesocket(listener);
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
        // Connections still being answered hold a pointer to us: give them their time.
        for (int i = 0; i < 100 && busy.load() > 0; i++) Sleep(20);
        CloseHandle(release);
    }
    std::wstring base() const { return L"http://127.0.0.1:" + std::to_wstring(port); }
    void serve(const std::string& path, const std::string& body, int hold = 0) {
        std::lock_guard<std::mutex> g(lock);
        files[path] = body;
        if (hold) held[path] = 1;
    }
    int request_count() {
        std::lock_guard<std::mutex> g(lock);
        return (int)requests.size();
    }
    int requested(const std::string& path) {
        std::lock_guard<std::mutex> g(lock);
        int n = 0;
        for (auto& r : requests) n += r == path;
        return n;
    }

    std::atomic<int> busy{0};
    struct Connection {
        CoverServer* server;
        SOCKET socket;
    };
    static DWORD WINAPI accept_loop(void* arg) {
        CoverServer* self = (CoverServer*)arg;
        for (;;) {
            SOCKET s = accept(self->listener, nullptr, nullptr);
            if (s == INVALID_SOCKET) return 0;
            self->busy.fetch_add(1);
            HANDLE t = CreateThread(nullptr, 0, answer, new Connection{self, s}, 0, nullptr);
            if (t) CloseHandle(t);
        }
    }
    static DWORD WINAPI answer(void* arg) {
        Connection* c = (Connection*)arg;
        CoverServer* self = c->server;
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos) {
            int got = recv(c->socket, buf, sizeof buf, 0);
            if (got <= 0) break;
            request.append(buf, got);
        }
        std::string path;
        size_t sp = request.find(' ');
        if (sp != std::string::npos) path = request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
        std::string body;
        int found = 0, hold = 0;
        {
            std::lock_guard<std::mutex> g(self->lock);
            self->requests.push_back(path);
            auto f = self->files.find(path);
            if (f != self->files.end()) {
                found = 1;
                body = f->second;
                hold = self->held.count(path) != 0;
            }
        }
        if (hold) WaitForSingleObject(self->release, 30000);
        std::string head = found ? "HTTP/1.1 200 OK\r\nContent-Type: image/bmp\r\n"
                                 : "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n";
        head += "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n";
        std::string all = head + body;
        send(c->socket, all.data(), (int)all.size(), 0);
        shutdown(c->socket, SD_SEND);
        closesocket(c->socket);
        self->answered.fetch_add(1);
        self->busy.fetch_sub(1);
        delete c;
        return 0;
    }
};

static std::string narrow(const wchar_t* text) {
    char buf[256];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    return buf;
}

// The colour at the centre of a cover the window keeps.
static COLORREF centre_of(HBITMAP bitmap) {
    DIBSECTION dib;
    if (!bitmap || GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib || !dib.dsBm.bmBits) return CLR_INVALID;
    int w = dib.dsBm.bmWidth, h = dib.dsBm.bmHeight;
    unsigned px = ((unsigned*)dib.dsBm.bmBits)[(h / 2) * (dib.dsBm.bmWidthBytes / 4) + w / 2];
    return RGB((px >> 16) & 255, (px >> 8) & 255, px & 255);
}

//~ Fixture


static const wchar_t HINT[] = L"\u015eark\u0131 veya sanat\u00e7\u0131 ad\u0131 yaz\u0131p Enter'a bas\u0131n.";
static const wchar_t NOTHING_FOUND[] = L"Sonu\u00e7 bulunamad\u0131.";
static const wchar_t DONE[] = L"\u2713 Tamamland\u0131 (%100)! \u015eark\u0131 listenin en \u00fcst\u00fcne eklendi.";
static const wchar_t FAILED[] = L"\u0130ndirme ba\u015far\u0131s\u0131z oldu. Tekrar deneyin.";
static const wchar_t MISSING[] = L"yt-dlp.exe bulunamad\u0131 \u2022 Nelvo.exe'nin yan\u0131na ya da PATH'e koyun";

//~ Opening

TEST_F(SearchWindowTest, OpensOnceWithItsControlsBesideTheOwner) {
    HWND search = open_search();
    ASSERT_NE(search, nullptr);
    wchar_t cls[64], title[128];
    GetClassNameW(search, cls, 64);
    GetWindowTextW(search, title, 128);
    EXPECT_STREQ(cls, L"NelvoSearchWindow");
    EXPECT_STREQ(title, L"NELVO \u2022 M\u00fczik Ara ve \u0130ndir");
    EXPECT_EQ(GetWindow(search, GW_OWNER), window);

    struct {
        int id;
        const wchar_t* cls;
        HWND handle;
    } controls[] = {
        {2001, L"Edit", g_search.edit},           {2002, L"Button", g_search.search_button},
        {2003, L"Static", g_search.folder_label}, {2004, L"Button", g_search.folder_button},
        {2005, L"ListBox", g_search.list},        {2006, L"Button", g_search.download_button},
        {2007, L"Static", g_search.status_label},
    };
    for (auto& c : controls) {
        HWND child = GetDlgItem(search, c.id);
        ASSERT_NE(child, nullptr) << c.id;
        EXPECT_EQ(child, c.handle) << c.id;
        GetClassNameW(child, cls, 64);
        EXPECT_EQ(_wcsicmp(cls, c.cls), 0) << c.id << " is a " << narrow(cls);
    }
    EXPECT_FALSE(IsWindowEnabled(g_search.download_button));
    EXPECT_TRUE(IsWindowEnabled(g_search.search_button));
    EXPECT_EQ(status(), HINT);
    EXPECT_EQ(text_of(g_search.folder_label), L"Klas\u00f6r: " + music);
    EXPECT_EQ(GetFocus(), g_search.edit);

    RECT owner_rect, rect;
    GetWindowRect(window, &owner_rect);
    GetWindowRect(search, &rect);
    int dpi = g_search.dpi;
    EXPECT_EQ(rect.left - owner_rect.left, scale_at(24, dpi));
    EXPECT_EQ(rect.top - owner_rect.top, scale_at(24, dpi));
    EXPECT_EQ(rect.right - rect.left, scale_at(820, dpi));
    EXPECT_EQ(rect.bottom - rect.top, scale_at(530, dpi));
    RECT edit_rect;
    GetWindowRect(g_search.edit, &edit_rect);
    MapWindowPoints(nullptr, search, (POINT*)&edit_rect, 2);
    RECT client;
    GetClientRect(search, &client);
    SearchLayout l = search_layout(client.right, client.bottom, dpi);
    EXPECT_EQ(edit_rect.left, l.edit.left);
    EXPECT_EQ(edit_rect.right, l.edit.right);

    // Asked again, the same window comes back, restored when it was minimized.
    ShowWindow(search, SW_MINIMIZE);
    pump(20);
    open_search_window(window, L"C:\\elsewhere");
    pump(20);
    EXPECT_EQ(g_search.window.load(), search);
    EXPECT_FALSE(IsIconic(search));
    EXPECT_EQ(text_of(g_search.folder_label), L"Klas\u00f6r: " + music);

    // The window cannot be made smaller than its minimum.
    SetWindowPos(search, nullptr, 0, 0, 100, 100, SWP_NOZORDER | SWP_NOMOVE);
    GetWindowRect(search, &rect);
    EXPECT_GE(rect.right - rect.left, search_min_track_size(dpi).cx);
    EXPECT_GE(rect.bottom - rect.top, search_min_track_size(dpi).cy);

    DestroyWindow(search);
    EXPECT_EQ(g_search.window.load(), nullptr);
    EXPECT_EQ(g_search.results, nullptr);

    // With the downloader's self-update never tried, opening tries it in the background and
    // the idle status line tells the outcome; opened again within the week, nothing runs.
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_UPDATE", L"updated");
    long long checked = 0;
    EXPECT_EQ(open_search_window(window, music.c_str(), &checked), 1);
    EXPECT_GT(checked, 0);
    bool told = pump_until([] { return status() == L"yt-dlp g\u00fcncellendi: 2024.10.07"; }, 30000);
    SetEnvironmentVariableW(L"YTDLP_DOUBLE_UPDATE", nullptr);
    ASSERT_TRUE(told) << narrow(status().c_str());
    DestroyWindow(g_search.window.load());
    long long first = checked;
    EXPECT_EQ(open_search_window(window, music.c_str(), &checked), 0);
    EXPECT_EQ(checked, first);
    EXPECT_EQ(g_search.updating.load(), 0);
    EXPECT_EQ(status(), HINT);
    auto starts = logged_starts();
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(starts[0].size(), 2u);
    EXPECT_EQ(starts[0][1], "-U");
}

TEST_F(SearchWindowTest, WithoutAMusicFolderDownloadsGoToTheCurrentFolder) {
    open_search_window(window, L"");
    ASSERT_NE(g_search.window.load(), nullptr);
    wchar_t folder[260];
    search_window_copy_download_folder(folder, 260);
    EXPECT_EQ(_wcsicmp(folder, work.path.c_str()), 0) << narrow(folder);
}

//~ Searching

TEST_F(SearchWindowTest, EnterListsCleanedTitlesWithTheirDetails) {
    open_search();
    ASSERT_TRUE(search_for(L"fewer tarkan"));
    EXPECT_EQ(status(), L"3 sonu\u00e7 bulundu \u2022 \u00c7ift t\u0131klayarak hemen indirebilirsiniz");
    ASSERT_EQ(list_count(), 3);
    ASSERT_EQ(g_search.result_count, 3);
    // The stand-in adds "(Official Video)", "[Lyrics]" and " - Live" to the words.
    EXPECT_EQ(list_item(0), L"Fewer Tarkan");
    EXPECT_EQ(std::wstring(g_search.results[0].raw_title), L"fewer tarkan (Official Video)");
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(list_item(i), g_search.results[i].title) << i;
        EXPECT_EQ(wcsstr(g_search.results[i].title, L"Official"), nullptr) << i;
        EXPECT_EQ(wcsstr(g_search.results[i].title, L"Lyrics"), nullptr) << i;
        EXPECT_EQ(g_search.results[i].duration, 150 + i * 17) << i;
        EXPECT_EQ(std::wstring(g_search.results[i].uploader), L"Kanal " + std::to_wstring(i + 1));
        EXPECT_EQ(std::wstring(g_search.results[i].webpage_url),
                  std::wstring(L"https://www.youtube.com/watch?v=") + g_search.results[i].video_id);
    }
    EXPECT_EQ(SendMessageW(g_search.list, LB_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(IsWindowEnabled(g_search.download_button));
    EXPECT_TRUE(IsWindowEnabled(g_search.search_button));

    auto starts = logged_starts();
    ASSERT_EQ(starts.size(), 1u);
    std::vector<std::string> expected = {"yt-dlp.exe", "--encoding", "utf-8", "--no-warnings", "--flat-playlist",
                                         "--print", "%(id)s\t%(title)s\t%(duration)s\t%(uploader)s\t%(webpage_url)s",
                                         "ytsearch10:fewer tarkan"};
    ASSERT_EQ(starts[0].size(), expected.size());
    for (size_t i = 1; i < expected.size(); i++) EXPECT_EQ(starts[0][i], expected[i]) << i;
}

TEST_F(SearchWindowTest, ButtonSearchesAndNothingFoundSaysSo) {
    open_search();
    ASSERT_TRUE(search_for(L"fewer first"));
    ASSERT_EQ(list_count(), 3);
    SetWindowTextW(g_search.edit, L"nothing at all");
    SendMessageW(g_search.search_button, BM_CLICK, 0, 0);
    EXPECT_EQ(status(), L"YouTube taran\u0131yor...");
    EXPECT_EQ(list_count(), 0) << "the old rows go at once";
    ASSERT_TRUE(wait_search());
    EXPECT_EQ(status(), NOTHING_FOUND);
    EXPECT_EQ(list_count(), 0);
    EXPECT_EQ(g_search.result_count, 0);
    EXPECT_FALSE(IsWindowEnabled(g_search.download_button));
    EXPECT_FALSE(IsWindowVisible(g_search.open_folder_button));

    // A downloader that cannot be started is no empty result: the line says what is missing
    // and where it goes, beside the way to that folder.
    {
        MissingDownloader missing;
        ASSERT_TRUE(search_for(L"fewer again"));
        EXPECT_EQ(status(), MISSING);
        SearchLayout l = layout();
        EXPECT_TRUE(shown_at(g_search.open_folder_button, l.open_folder_button));
        EXPECT_TRUE(shown_at(g_search.status_label, l.status_label_short));
    }
    ASSERT_TRUE(search_for(L"fewer again"));
    EXPECT_EQ(list_count(), 3);
    EXPECT_FALSE(IsWindowVisible(g_search.open_folder_button));
}

TEST_F(SearchWindowTest, WhileSearchingTheButtonsWaitAndEnterIsIgnored) {
    open_search();
    SetWindowTextW(g_search.edit, L"slowsearch fewer");
    press_enter();
    EXPECT_EQ(g_search.searching.load(), 1);
    EXPECT_EQ(status(), L"YouTube taran\u0131yor...");
    EXPECT_FALSE(IsWindowEnabled(g_search.search_button));
    EXPECT_FALSE(IsWindowEnabled(g_search.download_button));
    press_enter();
    ASSERT_TRUE(wait_search());
    EXPECT_EQ(list_count(), 3);
    EXPECT_EQ(logged_starts().size(), 1u) << "the second Enter started nothing";
}

TEST_F(SearchWindowTest, AHungListingEndsAtItsLimitAndClosingTheWindowStopsIt) {
    open_search();
    // The stand-in prints two rows, then hangs.
    search_set_time_limit(1500);
    bool ended = search_for(L"hangsearch");
    search_set_time_limit(0);
    ASSERT_TRUE(ended);
    EXPECT_EQ(g_search.result_count, 2) << "the rows printed before the limit";
    EXPECT_EQ(status(), L"2 sonu\u00e7 bulundu \u2022 \u00c7ift t\u0131klayarak hemen indirebilirsiniz");
    EXPECT_TRUE(pump_until([] { return running_doubles() == 0; }, 5000));

    SetWindowTextW(g_search.edit, L"hangsearch again");
    press_enter();
    ASSERT_EQ(g_search.searching.load(), 1);
    pump(300);
    DestroyWindow(g_search.window.load());
    ASSERT_TRUE(pump_until([] { return g_search.searching.load() == 0; }, 10000)) << "long before the limit";
    EXPECT_TRUE(pump_until([] { return running_doubles() == 0; }, 5000));
    // A window opened afterwards searches at once.
    open_search();
    ASSERT_TRUE(search_for(L"fewer next"));
    EXPECT_EQ(g_search.result_count, 3);
}

TEST_F(SearchWindowTest, EnterInAnEmptyBoxDoesNothing) {
    open_search();
    press_enter();
    pump(200);
    EXPECT_EQ(g_search.searching.load(), 0);
    EXPECT_EQ(status(), HINT);
    EXPECT_EQ(logged_starts().size(), 0u);
}

TEST_F(SearchWindowTest, ThousandsOfLinesFillAtMostThirtyRows) {
    open_search();
    ASSERT_TRUE(search_for(L"thousands"));
    EXPECT_EQ(g_search.result_count, SEARCH_MAX_ROWS);
    EXPECT_EQ(list_count(), SEARCH_MAX_ROWS);
    EXPECT_EQ(status(), L"30 sonu\u00e7 bulundu \u2022 \u00c7ift t\u0131klayarak hemen indirebilirsiniz");
}

TEST_F(SearchWindowTest, BrokenLinesAreSkippedOrFilledIn) {
    open_search();
    // Of ten lines, four have too few fields and three lack the address and the duration.
    ASSERT_TRUE(search_for(L"missing"));
    ASSERT_EQ(g_search.result_count, 6);
    int built = 0;
    for (int i = 0; i < 6; i++) {
        const SearchResult& r = g_search.results[i];
        if (r.duration == 0) {
            EXPECT_EQ(std::wstring(r.webpage_url), std::wstring(L"https://www.youtube.com/watch?v=") + r.video_id);
            built++;
        }
    }
    EXPECT_EQ(built, 3);

    ASSERT_TRUE(search_for(L"fewer badutf8"));
    ASSERT_EQ(g_search.result_count, 3);
    EXPECT_NE(wcschr(g_search.results[0].raw_title, 0xFFFD), nullptr);
    EXPECT_EQ(g_search.results[0].duration, 150);

    // Lines longer than the reader keeps lose their later fields and are skipped.
    ASSERT_TRUE(search_for(L"fewer longline"));
    EXPECT_EQ(g_search.result_count, 0);
    EXPECT_EQ(status(), NOTHING_FOUND);
}

TEST_F(SearchWindowTest, HostileQueryReachesTheDownloaderAsOneArgument) {
    open_search();
    const wchar_t* hostile = L"fewer \"a\\\" b\\\\\tc\x01" L"d\x1b[31m --exec calc\\";
    SetWindowTextW(g_search.edit, hostile);
    ASSERT_EQ(text_of(g_search.edit), hostile) << "the edit box keeps the text as given";
    press_enter();
    ASSERT_TRUE(wait_search());
    EXPECT_EQ(g_search.result_count, 3);
    auto starts = logged_starts();
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(starts[0].size(), 8u) << "one argument for the whole query, and no CRT-DIFFERS";
    EXPECT_EQ(starts[0][7], "ytsearch10:fewer \"a\\\" b\\\\cd[31m --exec calc\\");
}

TEST_F(SearchWindowTest, AQueryFromTheJamNoticeSearchesAtOnce) {
    // Line breaks cannot reach the command line even when the caller's text carries them.
    open_search_window_with_query(window, music.c_str(), L"fewer Duman\r\nBu Ak\u015fam");
    ASSERT_NE(g_search.window.load(), nullptr);
    ASSERT_TRUE(pump_until([] { return g_search.result_count > 0 || status() == NOTHING_FOUND; }, 30000));
    ASSERT_TRUE(wait_search());
    auto starts = logged_starts();
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(starts[0].size(), 8u);
    std::string query = starts[0][7];
    EXPECT_EQ(query.find('\r'), std::string::npos);
    EXPECT_EQ(query.find('\n'), std::string::npos);
    EXPECT_EQ(query.rfind("ytsearch10:fewer Duman", 0), 0u) << query;
    EXPECT_NE(query.find("Bu Ak\xc5\x9f" "am"), std::string::npos) << query;
}

//~ Covers

TEST_F(SearchWindowTest, CoversComeFromEitherAddressOrNotAtAll) {
    CoverServer server;
    search_set_thumbnail_base(server.base().c_str());
    open_search();
    // A first search only learns the ids: nothing is served yet.
    ASSERT_TRUE(search_for(L"fewer covers"));
    ASSERT_EQ(g_search.result_count, 3);
    ASSERT_TRUE(wait_covers());
    EXPECT_GT(server.answered.load(), 0) << "the covers were asked for";
    for (int i = 0; i < 3; i++) EXPECT_EQ(g_search.results[i].thumbnail, nullptr) << "nothing served yet, " << i;

    std::string id0 = narrow(g_search.results[0].video_id), id1 = narrow(g_search.results[1].video_id),
                id2 = narrow(g_search.results[2].video_id);
    server.serve("/vi/" + id0 + "/mqdefault.jpg", bmp_bytes(RGB(0, 0, 255)));
    server.serve("/vi/" + id0 + "/default.jpg", bmp_bytes(RGB(255, 0, 0)));
    server.serve("/vi/" + id1 + "/default.jpg", bmp_bytes(RGB(0, 255, 0)));
    // Same words, same ids: a second search asks again.
    ASSERT_TRUE(search_for(L"fewer covers"));
    ASSERT_TRUE(wait_covers());
    EXPECT_EQ(centre_of(g_search.results[0].thumbnail), RGB(0, 0, 255)) << "the larger picture first";
    EXPECT_EQ(centre_of(g_search.results[1].thumbnail), RGB(0, 255, 0)) << "the smaller one when the larger is missing";
    EXPECT_EQ(g_search.results[2].thumbnail, nullptr);
    EXPECT_EQ(server.requested("/vi/" + id0 + "/default.jpg"), 1) << "asked once, before it was served";
    EXPECT_EQ(server.requested("/vi/" + id2 + "/mqdefault.jpg"), 2);
    EXPECT_EQ(server.requested("/vi/" + id2 + "/default.jpg"), 2);
}

TEST_F(SearchWindowTest, ANewSearchShowsNoneOfTheOldCovers) {
    CoverServer server;
    search_set_thumbnail_base(server.base().c_str());
    open_search();
    // Learn both searches' ids first (covers fail: nothing is served yet).
    ASSERT_TRUE(search_for(L"fewer old"));
    ASSERT_EQ(g_search.result_count, 3);
    std::vector<std::string> old_ids;
    for (int i = 0; i < 3; i++) old_ids.push_back(narrow(g_search.results[i].video_id));
    ASSERT_TRUE(search_for(L"fewer new"));
    ASSERT_EQ(g_search.result_count, 3);
    std::vector<std::string> new_ids;
    for (int i = 0; i < 3; i++) new_ids.push_back(narrow(g_search.results[i].video_id));
    ASSERT_TRUE(wait_covers());

    // The old covers are held back until the new search has started.
    for (auto& id : old_ids) server.serve("/vi/" + id + "/mqdefault.jpg", bmp_bytes(RGB(255, 0, 0)), 1);
    for (auto& id : new_ids) server.serve("/vi/" + id + "/mqdefault.jpg", bmp_bytes(RGB(0, 255, 0)));
    int before = server.answered.load();
    ASSERT_TRUE(search_for(L"fewer old"));
    ASSERT_TRUE(pump_until([&] { return server.request_count() >= before + 3; }, 30000));
    ASSERT_TRUE(search_for(L"fewer new"));
    ASSERT_TRUE(pump_until([&] { return server.answered.load() >= before + 3; }, 30000)) << "new covers served";
    SetEvent(server.release);
    ASSERT_TRUE(wait_covers());
    EXPECT_EQ(server.answered.load(), before + 6);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(narrow(g_search.results[i].video_id), new_ids[i]);
        EXPECT_EQ(centre_of(g_search.results[i].thumbnail), RGB(0, 255, 0)) << "row " << i;
    }
    // The preview draws the selected row's cover.
    HWND search = g_search.window.load();
    InvalidateRect(search, nullptr, FALSE);
    UpdateWindow(search);
    RECT client;
    GetClientRect(search, &client);
    SearchLayout l = search_layout(client.right, client.bottom, g_search.dpi);
    COLORREF preview = GetPixel(g_search.paint_dc, (l.preview.left + l.preview.right) / 2,
                                (l.preview.top + l.preview.bottom) / 2);
    EXPECT_EQ(preview, RGB(0, 255, 0));
}

//~ Downloading

static bool top_track_has(const wchar_t* id) {
    return track_list_count() > 0 && wcsstr(track_list_at(0)->path, id) != nullptr;
}

TEST_F(SearchWindowTest, DownloadOfTheSelectedRowGoesToTheTopOfTheMainList) {
    write_file(music + L"\\Duman - Bu Ak\u015fam.mp3", "x");
    write_file(music + L"\\Sezen Aksu - Gidiyorum.mp3", "x");
    rescan_music_folder();
    int before = track_list_count();
    ASSERT_EQ(before, 2);

    open_search();
    ASSERT_TRUE(search_for(L"fewer indir"));
    click_row(1);
    ASSERT_EQ(SendMessageW(g_search.list, LB_GETCURSEL, 0, 0), 1);
    std::wstring id = g_search.results[1].video_id;
    std::wstring title = g_search.results[1].title;
    SendMessageW(g_search.download_button, BM_CLICK, 0, 0);
    EXPECT_EQ(g_search.downloading.load(), 1);
    EXPECT_EQ(status(), L"\u0130ndiriliyor (%0): " + title);
    EXPECT_FALSE(IsWindowEnabled(g_search.download_button));
    EXPECT_FALSE(IsWindowEnabled(g_search.search_button));
    wchar_t shown[256];
    search_window_copy_download_title(shown, 256);
    EXPECT_EQ(shown, title);

    // Enter during the download starts no search.
    SetWindowTextW(g_search.edit, L"fewer other");
    press_enter();
    ASSERT_TRUE(pump_until([] { return status() == DONE; }, 30000)) << narrow(status().c_str());
    EXPECT_EQ(logged_starts().size(), 2u) << "the listing and the download, nothing else";
    EXPECT_EQ(g_search.last_percent.load(), 100);
    EXPECT_TRUE(IsWindowEnabled(g_search.download_button));
    EXPECT_TRUE(IsWindowEnabled(g_search.search_button));

    std::wstring file = music + L"\\Video " + id + L" [" + id + L"].wav";
    EXPECT_TRUE(file_exists(file));
    ASSERT_TRUE(pump_until([&] { return top_track_has(id.c_str()); }, 10000));
    EXPECT_EQ(track_list_count(), before + 1);
    EXPECT_EQ(g_app.selected_index, 0);
    EXPECT_EQ(g_app.banner.state, BANNER_DOWNLOAD);
}

TEST_F(SearchWindowTest, DoubleClickDownloadsIntoTheChosenFolderWhichBecomesTheMusicFolder) {
    TempDir other;
    open_search();
    // What the folder chooser does with the user's choice.
    wstr_copy(g_search.download_folder, other.path.c_str());
    ASSERT_TRUE(search_for(L"fewer klasor"));
    click_row(2, true);
    EXPECT_EQ(g_search.downloading.load(), 1);
    std::wstring id = g_search.results[2].video_id;
    ASSERT_TRUE(pump_until([] { return status() == DONE; }, 30000)) << narrow(status().c_str());
    EXPECT_TRUE(file_exists(other.file(L"Video " + id + L" [" + id + L"].wav")));
    ASSERT_TRUE(pump_until([&] { return top_track_has(id.c_str()); }, 10000));
    EXPECT_EQ(_wcsicmp(g_settings.last_folder, other.path.c_str()), 0);
}

TEST_F(SearchWindowTest, AFailedDownloadSaysSoAndHidesThePanel) {
    open_search();
    ASSERT_TRUE(search_for(L"carry fail fewer"));
    int before = track_list_count();
    SendMessageW(g_search.download_button, BM_CLICK, 0, 0);
    ASSERT_EQ(g_search.downloading.load(), 1);
    ASSERT_TRUE(pump_until([] { return status() == FAILED; }, 30000)) << narrow(status().c_str());
    EXPECT_EQ(g_search.last_percent.load(), -1);
    EXPECT_TRUE(IsWindowEnabled(g_search.download_button));
    EXPECT_TRUE(IsWindowEnabled(g_search.search_button));
    pump(100);
    EXPECT_EQ(track_list_count(), before);
    EXPECT_NE(g_app.banner.state, BANNER_DOWNLOAD) << "the main window's banner went away";

    // A downloader gone since the search is told apart from a failed download too.
    MissingDownloader missing;
    SendMessageW(g_search.download_button, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until([] { return status() == MISSING; }, 30000)) << narrow(status().c_str());
    EXPECT_TRUE(IsWindowVisible(g_search.open_folder_button));
    EXPECT_TRUE(IsWindowEnabled(g_search.download_button));
}

TEST_F(SearchWindowTest, ClosingDuringADownloadStillAddsTheTrack) {
    TempDir other;
    open_search();
    wstr_copy(g_search.download_folder, other.path.c_str());
    ASSERT_TRUE(search_for(L"carry gate fewer"));
    std::wstring id = g_search.results[0].video_id;
    SendMessageW(g_search.download_button, BM_CLICK, 0, 0);
    // Halfway, the stand-in waits for the gate file.
    ASSERT_TRUE(pump_until([] { return g_search.last_percent.load() >= 40; }, 30000));
    EXPECT_NE(status().find(L"\u0130ndiriliyor (%"), std::wstring::npos);
    ASSERT_EQ(g_search.downloading.load(), 1);
    DestroyWindow(g_search.window.load());
    EXPECT_EQ(g_search.window.load(), nullptr);
    // Reopened from the main window (with its music folder) while the download runs, the
    // window still shows where the download goes; a folder picked now is for later ones.
    open_search();
    EXPECT_EQ(text_of(g_search.folder_label), L"Klas\u00f6r: " + other.path);
    wstr_copy(g_search.download_folder, music.c_str());
    DestroyWindow(g_search.window.load());
    EXPECT_FALSE(top_track_has(id.c_str()));
    write_file(other.file(L"gate.txt"), "");
    ASSERT_TRUE(pump_until([&] { return top_track_has(id.c_str()); }, 30000));
    EXPECT_EQ(_wcsicmp(g_settings.last_folder, other.path.c_str()), 0);
    wchar_t title[256];
    search_window_copy_download_title(title, 256);
    EXPECT_GT(wcslen(title), 0u) << "the banner's title outlives the window";
}

TEST_F(SearchWindowTest, StatusPanelShowsTheFinishedDownload) {
    open_search();
    HWND search = g_search.window.load();
    RECT client;
    GetClientRect(search, &client);
    SearchLayout l = search_layout(client.right, client.bottom, g_search.dpi);
    // A point inside the panel, clear of its texts and its track.
    int x = (l.status_panel.left + l.status_panel.right) / 2, y = l.status_panel.top + scale_at(4, g_search.dpi);
    auto pixel = [&] {
        InvalidateRect(search, nullptr, FALSE);
        UpdateWindow(search);
        return GetPixel(g_search.paint_dc, x, y);
    };
    EXPECT_EQ(pixel(), RGB(16, 16, 16)) << "no panel before any download";
    ASSERT_TRUE(search_for(L"fewer panel"));
    SendMessageW(g_search.download_button, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until([] { return status() == DONE; }, 30000));
    EXPECT_EQ(pixel(), RGB(22, 16, 26));
    // A new selection hides it again.
    click_row(1);
    EXPECT_EQ(g_search.last_percent.load(), -1);
    EXPECT_EQ(pixel(), RGB(16, 16, 16));
}

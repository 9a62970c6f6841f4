// Two installations of the program, each a real process with its own folders, finding each
// other through two real brokers on loopback: the whole friendship and presence cycle,
// driven through their windows.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "net/net_support.h"
#include "test_support.h"

namespace {

// One installation: the test build of the program copied into a folder of its own, with
// its per-user folder and working folder inside it, talked to through its standard streams.
struct Installation {
    TempDir folder;
    PROCESS_INFORMATION process = {};
    HANDLE to_peer = nullptr, from_peer = nullptr;
    std::string pending;

    bool start(const char* tag, const char* name, int port0, int port1) {
        wchar_t here[MAX_PATH];
        GetModuleFileNameW(nullptr, here, MAX_PATH);
        std::wstring source = here;
        source = source.substr(0, source.find_last_of(L'\\')) + L"\\nelvo_peer.exe";
        std::wstring exe = folder.file(L"nelvo_peer.exe");
        if (!CopyFileW(source.c_str(), exe.c_str(), FALSE)) return false;
        CreateDirectoryW(folder.file(L"roaming").c_str(), nullptr);
        CreateDirectoryW(folder.file(L"music").c_str(), nullptr);
        // One machine gives both installations the same number: each is seeded with its own.
        write_file(folder.file(L"friends.json"), std::string("{\n  \"my_tag\": \"") + tag + "\",\n  \"my_name\": \"" +
                                                     name + "\",\n  \"friends\": [\n  ],\n  \"pending\": [\n  ]\n}\n");

        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE child_in = nullptr, child_out = nullptr;
        if (!CreatePipe(&child_in, &to_peer, &inherit, 0) || !CreatePipe(&from_peer, &child_out, &inherit, 0)) return false;
        SetHandleInformation(to_peer, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(from_peer, HANDLE_FLAG_INHERIT, 0);
        // The installation's own per-user folder; the rest of the environment (and with it
        // where the sound goes) is this process's.
        wchar_t old_appdata[MAX_PATH] = L"";
        GetEnvironmentVariableW(L"APPDATA", old_appdata, MAX_PATH);
        SetEnvironmentVariableW(L"APPDATA", folder.file(L"roaming").c_str());
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = child_in;
        si.hStdOutput = child_out;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = L"\"" + exe + L"\" " + std::to_wstring(port0) + L" " + std::to_wstring(port1);
        BOOL ok = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, folder.path.c_str(), &si,
                                 &process);
        SetEnvironmentVariableW(L"APPDATA", old_appdata[0] ? old_appdata : nullptr);
        CloseHandle(child_in);
        CloseHandle(child_out);
        return ok != 0;
    }

    // The next line the installation writes, or "" after ms.
    std::string line(int ms) {
        DWORD start = GetTickCount();
        for (;;) {
            size_t end = pending.find('\n');
            if (end != std::string::npos) {
                std::string l = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!l.empty() && l.back() == '\r') l.pop_back();  // a console stream's line end
                return l;
            }
            DWORD available = 0;
            if (PeekNamedPipe(from_peer, nullptr, 0, nullptr, &available, nullptr) && available) {
                char buf[4096];
                DWORD got = 0;
                if (ReadFile(from_peer, buf, available < sizeof buf ? available : sizeof buf, &got, nullptr))
                    pending.append(buf, got);
                continue;
            }
            if ((int)(GetTickCount() - start) > ms) return "";
            Sleep(20);
        }
    }

    std::string ask(const std::string& command) {
        std::string l = command + "\n";
        DWORD written;
        WriteFile(to_peer, l.data(), (DWORD)l.size(), &written, nullptr);
        return line(5000);
    }

    // Asks for the state until it contains what is expected.
    bool state_shows(const std::string& expected, int ms) {
        DWORD start = GetTickCount();
        while ((int)(GetTickCount() - start) < ms) {
            if (ask("state").find(expected) != std::string::npos) return true;
            Sleep(200);
        }
        return false;
    }

    ~Installation() {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        if (to_peer) CloseHandle(to_peer);
        if (from_peer) CloseHandle(from_peer);
    }
};

}  // namespace

TEST(TwoInstallations, BecomeFriendsAndSeeEachOther) {
    winsock_up();
    Broker b0, b1;
    ASSERT_TRUE(b0.start());
    ASSERT_TRUE(b1.start());
    Installation a, b;
    ASSERT_TRUE(a.start("Ayse#1111", "Ayse", b0.port, b1.port));
    ASSERT_TRUE(b.start("Burak#2222", "Burak", b0.port, b1.port));
    ASSERT_TRUE(a.state_shows("online=1", 20000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("online=1", 20000)) << b.ask("state");
    EXPECT_EQ(a.ask("friends"), "OK");
    EXPECT_EQ(b.ask("friends"), "OK");

    // A finds B by tag and asks; B sees the request and accepts it.
    EXPECT_EQ(a.ask("request Burak#2222"), "OK");
    ASSERT_TRUE(b.state_shows("pending=1", 20000)) << b.ask("state") << " / " << a.ask("notice");
    EXPECT_EQ(a.ask("notice"), "NOTICE \xe2\x9c\x93 \xc4\xb0stek g\xc3\xb6nderildi!");
    EXPECT_EQ(b.ask("accept 0"), "OK");
    ASSERT_TRUE(a.state_shows("friends=Burak:1:", 20000)) << a.ask("state");
    ASSERT_TRUE(b.state_shows("friends=Ayse:1:", 20000)) << b.ask("state");
    EXPECT_TRUE(b.state_shows("pending=0", 5000));

    // A's new name follows in B's list.
    EXPECT_EQ(a.ask("rename Ayca"), "OK");
    EXPECT_TRUE(a.state_shows("tag=Ayca#1111", 5000)) << a.ask("state");
    EXPECT_TRUE(b.state_shows("friends=Ayca:1:", 20000)) << b.ask("state");

    // A leaves: B shows it offline.
    EXPECT_EQ(a.ask("quit"), "OK");
    EXPECT_EQ(WaitForSingleObject(a.process.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(b.state_shows("friends=Ayca:0:\xc3\x87" "evrimd\xc4\xb1\xc5\x9f\xc4\xb1", 10000)) << b.ask("state");
    EXPECT_EQ(b.ask("quit"), "OK");
}

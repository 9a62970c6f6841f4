#pragma once
// Drives one installation of the test build tools/nelvo_peer.cpp: a copy of it in a folder
// of its own (which is also its working folder and, in "roaming", its per-user folder), with
// a friends.json that gives it its identity, talked to through its standard streams. Used by
// the two-installation tests and the friends benchmark.
#include <windows.h>

#include <stdio.h>

#include <string>

struct PeerInstallation {
    std::wstring folder;
    PROCESS_INFORMATION process = {};
    HANDLE to_peer = nullptr, from_peer = nullptr;
    std::string pending;

    // Copies peer_exe into folder, writes friends_json beside it and starts it on the two
    // loopback broker ports.
    bool start(const std::wstring& folder_path, const std::wstring& peer_exe, const std::string& friends_json, int port0,
               int port1, const std::wstring& update_server = L"") {
        folder = folder_path;
        std::wstring exe = folder + L"\\nelvo_peer.exe";
        if (!CopyFileW(peer_exe.c_str(), exe.c_str(), FALSE)) return failed("copying the program");
        CreateDirectoryW((folder + L"\\roaming").c_str(), nullptr);
        HANDLE f = CreateFileW((folder + L"\\friends.json").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return failed("writing friends.json");
        DWORD written;
        WriteFile(f, friends_json.data(), (DWORD)friends_json.size(), &written, nullptr);
        CloseHandle(f);

        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE child_in = nullptr, child_out = nullptr;
        if (!CreatePipe(&child_in, &to_peer, &inherit, 0) || !CreatePipe(&from_peer, &child_out, &inherit, 0))
            return failed("making its pipes");
        SetHandleInformation(to_peer, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(from_peer, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = child_in;
        si.hStdOutput = child_out;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        // Its own per-user folder; the rest of the environment is this process's. (Under Wine
        // a child keeps its parent's Unix environment whatever is set here, so both
        // installations share the sound device the tests point ALSA at.)
        wchar_t old_appdata[MAX_PATH] = L"";
        GetEnvironmentVariableW(L"APPDATA", old_appdata, MAX_PATH);
        SetEnvironmentVariableW(L"APPDATA", (folder + L"\\roaming").c_str());
        std::wstring command = L"\"" + exe + L"\" " + std::to_wstring(port0) + L" " + std::to_wstring(port1) +
                               (update_server.empty() ? L"" : L" " + update_server);
        BOOL ok = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si,
                                 &process);
        SetEnvironmentVariableW(L"APPDATA", old_appdata[0] ? old_appdata : nullptr);
        CloseHandle(child_in);
        CloseHandle(child_out);
        return ok ? true : failed("starting it");
    }

    // Says on the error stream which step of start failed, for a failure's report.
    static bool failed(const char* step) {
        fprintf(stderr, "installation: %s failed (error %lu)\n", step, GetLastError());
        return false;
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
            Sleep(2);
        }
    }

    std::string ask(const std::string& command) {
        std::string l = command + "\n";
        DWORD written;
        WriteFile(to_peer, l.data(), (DWORD)l.size(), &written, nullptr);
        return line(5000);
    }

    // Asks for the state until it contains expected; false after ms.
    bool state_shows(const std::string& expected, int ms, int poll_ms = 200) {
        DWORD start = GetTickCount();
        while ((int)(GetTickCount() - start) < ms) {
            if (ask("state").find(expected) != std::string::npos) return true;
            Sleep(poll_ms);
        }
        return false;
    }

    void stop() {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
            process = {};
        }
        if (to_peer) CloseHandle(to_peer);
        if (from_peer) CloseHandle(from_peer);
        to_peer = from_peer = nullptr;
    }

    ~PeerInstallation() { stop(); }
};

// A friends.json that gives an installation its tag and name, with friends given as
// ready-made entry lines.
inline std::string peer_friends_json(const std::string& tag, const std::string& name,
                                     const std::string& friend_entries = "") {
    return "{\n  \"my_tag\": \"" + tag + "\",\n  \"my_name\": \"" + name + "\",\n  \"friends\": [\n" + friend_entries +
           "  ],\n  \"pending\": [\n  ]\n}\n";
}

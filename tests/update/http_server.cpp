#include "http_server.h"

#include <stdio.h>

bool HttpServer::start() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (sockaddr*)&a, sizeof a) != 0 || listen(listener, 8) != 0) return false;
    int size = sizeof a;
    getsockname(listener, (sockaddr*)&a, &size);
    port = ntohs(a.sin_port);
    thread = std::thread([this] {
        for (;;) {
            SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET || stopping) {
                if (client != INVALID_SOCKET) closesocket(client);
                return;
            }
            std::thread([this, client] { serve(client); }).detach();
        }
    });
    return true;
}

void HttpServer::stop() {
    if (listener == INVALID_SOCKET) return;
    stopping = true;
    closesocket(listener);
    listener = INVALID_SOCKET;
    if (thread.joinable()) thread.join();
}

std::wstring HttpServer::base() { return L"http://127.0.0.1:" + std::to_wstring(port); }

void HttpServer::serve(SOCKET client) {
    std::string request;
    char buf[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
        int n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, n);
    }
    size_t sp = request.find(' '), sp2 = request.find(' ', sp + 1);
    std::string target = sp == std::string::npos ? "" : request.substr(sp + 1, sp2 - sp - 1);
    std::string path = target.substr(0, target.find('?'));
    HttpRoute r;
    bool known;
    {
        std::lock_guard<std::mutex> g(lock);
        requests.push_back(target);
        known = routes.count(path) != 0;
        if (known) r = routes[path];
    }
    if (!known) {
        r.status = 404;
        r.body = "not here";
    }
    if (r.silent_ms) Sleep(r.silent_ms);
    char head[256];
    snprintf(head, sizeof head, "HTTP/1.1 %d %s\r\nConnection: close\r\n", r.status, r.status == 200 ? "OK" : "Error");
    std::string out = head;
    if (r.length) out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    out += "\r\n" + (r.cut >= 0 ? r.body.substr(0, r.cut) : r.body);
    for (size_t at = 0; at < out.size();) {
        int n = send(client, out.data() + at, (int)(out.size() - at), 0);
        if (n <= 0) break;
        at += n;
    }
    if (r.reset) {
        linger abort = {1, 0};  // closing now sends a reset
        setsockopt(client, SOL_SOCKET, SO_LINGER, (const char*)&abort, sizeof abort);
    } else {
        shutdown(client, SD_SEND);
    }
    closesocket(client);
}

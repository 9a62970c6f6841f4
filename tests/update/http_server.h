#pragma once
// A small HTTP server on loopback for the updater's tests, in a thread of the test process:
// each path answers with its status and body, with or without a Content-Length, stays
// silent for a while after accepting, or breaks off part-way through the body.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpRoute {
    int status = 200;
    std::string body;
    bool length = true;  // send Content-Length
    int silent_ms = 0;   // accept, then say nothing for this long
    int cut = -1;        // when >= 0: only this many bytes of the body go out, then the end
    bool reset = false;  // the end after a cut is a reset, not an orderly close
};

struct HttpServer {
    int port = 0;
    std::map<std::string, HttpRoute> routes;  // by path, without the query
    std::vector<std::string> requests;        // every request target, query included
    std::mutex lock;

    bool start();
    void stop();
    std::wstring base();  // "http://127.0.0.1:<port>"
    void route(const std::string& path, const HttpRoute& r) {
        std::lock_guard<std::mutex> g(lock);
        routes[path] = r;
    }
    size_t request_count() {
        std::lock_guard<std::mutex> g(lock);
        return requests.size();
    }
    std::string last_request() {
        std::lock_guard<std::mutex> g(lock);
        return requests.empty() ? "" : requests.back();
    }
    ~HttpServer() { stop(); }

private:
    SOCKET listener = INVALID_SOCKET;
    std::thread thread;
    std::atomic<bool> stopping{false};
    void serve(SOCKET client);
};

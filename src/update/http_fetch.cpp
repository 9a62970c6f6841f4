#include "update/http_fetch.h"

#include "update/update_info.h"

void http_close(HINTERNET request, HINTERNET connection, HINTERNET internet) {
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (internet) WinHttpCloseHandle(internet);
}

HINTERNET http_get(const wchar_t* url, HINTERNET* internet, HINTERNET* connection) {
    *internet = nullptr;
    *connection = nullptr;
    wchar_t host[256], path[1024];
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 1024;
    if (!url || !WinHttpCrackUrl(url, 0, 0, &parts)) return nullptr;
    HINTERNET session = WinHttpOpen(L"Nelvo/" NELVO_VERSION, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return nullptr;
    WinHttpSetTimeouts(session, 2000, 2000, 2000, 3000);
    HINTERNET connect = WinHttpConnect(session, host, parts.nPort, 0);
    HINTERNET request = nullptr;
    if (connect) {
        DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        request = WinHttpOpenRequest(connect, L"GET", path, nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     flags);
    }
    // The headers too must come within the receive time-out (WinHTTP waits 90 s for them
    // otherwise).
    DWORD wait_ms = 3000;
    if (request) WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait_ms, sizeof wait_ms);
    DWORD status = 0, size = sizeof status;
    if (request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(request, nullptr) &&
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                            &status, &size, WINHTTP_NO_HEADER_INDEX) &&
        status == 200) {
        *internet = session;
        *connection = connect;
        return request;
    }
    http_close(request, connect, session);
    return nullptr;
}

#pragma once
// One GET through WinHTTP, answered with status 200: the request handle to read the body
// from, with the session and connection it needs. Worker threads only; no state.
#include <windows.h>
#include <winhttp.h>

// The request, or nullptr (with nothing left open). On success *internet and *connection
// are set, and the caller closes request, connection and internet, in that order.
HINTERNET http_get(const wchar_t* url, HINTERNET* internet, HINTERNET* connection);
// Closes what http_get handed out.
void http_close(HINTERNET request, HINTERNET connection, HINTERNET internet);

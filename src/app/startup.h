#pragma once
#include <windows.h>

// The process entry: process settings, the main window, the message loop. Returns the
// exit code: 0 at once when the installation already runs and took the files of
// command_line, 1 when the window cannot be created, else the quit message's wParam.
int app_run(HINSTANCE instance, const wchar_t* command_line, int show);

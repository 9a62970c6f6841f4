#pragma once
#include <windows.h>

#define MAIN_WINDOW_CLASS L"NelvoNativeClass"

// Creates the main window, fills the list from the music folder and runs the message
// loop until the window is closed. Returns the process exit code.
int app_run(HINSTANCE instance, const wchar_t* command_line, int show);

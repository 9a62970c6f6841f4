// The process entry: everything else lives in the nelvo library, so that tests can create
// the real main window in their own process.
#include <windows.h>

#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    return app_run(instance, GetCommandLineW(), show);
}

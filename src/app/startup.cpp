#include "app/startup.h"

#include "app/app_state.h"
#include "app/main_window.h"

int app_run(HINSTANCE instance, const wchar_t* command_line, int show) {
    app_process_setup();
    app_state_init(&g_app);
    HWND window = main_window_create(instance, show, command_line);
    if (!window) {
        OleUninitialize();
        return 1;
    }
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        // Paints are the moments memory grows; give it back unless something is moving.
        if (msg.message == WM_PAINT && !something_moving()) trim_working_set();
    }
    OleUninitialize();
    return (int)msg.wParam;
}

#include "app/startup.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/single_instance.h"

int app_run(HINSTANCE instance, const wchar_t* command_line, int show) {
    // A second start of this installation hands its files to the running window and ends.
    if (single_instance_start(command_line) == INSTANCE_HANDED_OVER) return 0;
    app_process_setup();
    app_state_init(&g_app);
    HWND window = main_window_create(instance, show, command_line);
    if (!window) {
        single_instance_end();
        OleUninitialize();
        return 1;
    }
    single_instance_publish(window);
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        // Paints are the moments memory grows; give it back unless something is moving.
        if (msg.message == WM_PAINT && !something_moving()) trim_working_set();
    }
    single_instance_end();
    OleUninitialize();
    return (int)msg.wParam;
}

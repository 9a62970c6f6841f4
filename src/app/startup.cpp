#include "app/startup.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/single_instance.h"
#include "update/updater.h"

int app_run(HINSTANCE instance, const wchar_t* command_line, int show) {
    // Started by the program it replaces after an update: that one still holds the names
    // and its window, and waits for ours before it ends.
    DWORD replaced = 0;
    HANDLE old = nullptr;
    if (update_handover_parse(command_line, &replaced)) {
        old = OpenProcess(SYNCHRONIZE, FALSE, replaced);
        command_line = L"";  // the argument is no file to open
    } else if (single_instance_start(command_line) == INSTANCE_HANDED_OVER) {
        // A second start of this installation hands its files to the running window and ends.
        return 0;
    }
    app_process_setup();
    app_state_init(&g_app);
    HWND window = main_window_create(instance, show, command_line);
    if (!window) {
        if (old) CloseHandle(old);
        single_instance_end();
        OleUninitialize();
        return 1;
    }
    if (replaced) {
        update_report_ready(replaced);
        // It ends as soon as it hears; one that does not is ended by nobody, and this one
        // then runs beside it.
        if (old) WaitForSingleObject(old, UPDATE_READY_MS);
        if (old) CloseHandle(old);
        single_instance_take();
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

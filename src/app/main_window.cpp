#include "app/main_window.h"

#include <windows.h>
#include <commctrl.h>
#include <dwmapi.h>
#include <shellapi.h>
#include <windowsx.h>

#include "app/app_state.h"
#include "app/file_deletion.h"
#include "app/given_files.h"
#include "app/library_scan.h"
#include "app/library_watch.h"
#include "app/media_keys.h"
#include "app/media_overlay.h"
#include "app/play_queue.h"
#include "app/resume.h"
#include "app/taskbar.h"
#include "app/settings.h"
#include "app/track_actions.h"
#include "app/window_place.h"
#include "base/messages.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/folder_scan.h"
#include "library/track_list.h"
#include "net/mqtt.h"
#include "playback/player.h"
#include "social/friends.h"
#include "social/jam.h"
#include "social/trust.h"
#include "ui/back_buffer.h"
#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/list_geometry.h"
#include "ui/main_paint.h"
#include "update/updater.h"

static const wchar_t* g_command_line;  // read once by the second stage

//~ Process and window creation

typedef HRESULT(WINAPI* SetAppIdFn)(PCWSTR);
typedef BOOL(WINAPI* SetDpiContextFn)(HANDLE);

void app_process_setup(void) {
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (shell) {
        SetAppIdFn set_app_id = (SetAppIdFn)(void*)GetProcAddress(shell, "SetCurrentProcessExplicitAppUserModelID");
        if (set_app_id) set_app_id(APP_USER_MODEL_ID);
    }
    HMODULE user = GetModuleHandleW(L"user32.dll");
    SetDpiContextFn set_dpi = user ? (SetDpiContextFn)(void*)GetProcAddress(user, "SetProcessDpiAwarenessContext") : nullptr;
    if (!set_dpi || !set_dpi((HANDLE)(LONG_PTR)-4)) SetProcessDPIAware();
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0x40FF};
    InitCommonControlsEx(&icc);
}

HWND main_window_create(HINSTANCE instance, int show, const wchar_t* command_line) {
    g_command_line = command_line;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = main_window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hIconSm = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                   GetSystemMetrics(SM_CYSMICON), 0);
    if (!wc.hIconSm) wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    RegisterClassExW(&wc);  // a second window in the same process finds it registered

    // The settings are read before the window exists: they say where it opens, and a window
    // created there starts at that monitor's DPI.
    load_settings(&g_settings, CONFIG_FILE_NAME);
    int maximized = 0;
    RECT at = window_place_at_start(&g_settings, &maximized);
    HWND window = CreateWindowExW(WS_EX_ACCEPTFILES, MAIN_WINDOW_CLASS, L"NELVO", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  at.left, at.top, at.right - at.left, at.bottom - at.top, nullptr, nullptr, instance,
                                  nullptr);
    if (!window) return nullptr;
    if (wc.hIcon) SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)wc.hIcon);
    if (wc.hIconSm) SendMessageW(window, WM_SETICON, ICON_SMALL, (LPARAM)wc.hIconSm);
    // Maximized as it was closed, unless the start asks for something else (minimized).
    int plain = show == 0 || show == SW_SHOWNORMAL || show == SW_SHOWDEFAULT;
    ShowWindow(window, maximized && plain ? SW_SHOWMAXIMIZED : (show ? show : SW_SHOWNORMAL));
    g_app.window_placed = 1;
    UpdateWindow(window);
    return window;
}

//~ Start and stop

static void on_create(HWND window) {
    g_app.main_window = window;
    // Once per process, and never deleted: a worker of an earlier window may still be
    // leaving it (the tests make many windows; the program makes one).
    static int lock_made;
    if (!lock_made) InitializeCriticalSection(&g_shared_queue.lock);
    lock_made = 1;
    g_app.shared_queue_lock_ready = 1;

    BOOL on = TRUE;
    DwmSetWindowAttribute(window, 20, &on, sizeof(on));
    DwmSetWindowAttribute(window, 19, &on, sizeof(on));
    int round_corners = 2;
    DwmSetWindowAttribute(window, 33, &round_corners, sizeof(round_corners));

    g_app.dpi = rebuild_fonts(window_dpi(window));
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrW(window, GWLP_HINSTANCE);
    g_app.window_icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, scale(36), scale(36), 0);
    g_app.edit_brush = CreateSolidBrush(RGB(24, 24, 24));
    g_app.search_box = create_edit_control(window, ID_SEARCH_BOX, WS_VISIBLE);
    g_app.tag_box = create_edit_control(window, ID_TAG_BOX, 0);
    g_app.name_box = create_edit_control(window, ID_NAME_BOX, 0);

    player_init(window);
    track_list_init();
    jam_reset();
    // The overlay brings the media keys itself; without it they are taken as hot keys.
    if (!media_overlay_start(window)) media_keys_register(window);
    player_set_volume(g_settings.volume);
    if (g_settings.volume > 0) g_app.last_volume = g_settings.volume;
    DragAcceptFiles(window, TRUE);
    PostMessageW(window, MSG_DEFERRED_START, 0, 0);
}

// The first existing one of "Müzikler" and "Muzikler" beside the executable.
static int default_music_folder(wchar_t* buf, int capacity) {
    wchar_t exe_folder[260];
    program_folder(exe_folder, 260);
    wstr_format(buf, capacity, L"%ls\\%ls", exe_folder, DEFAULT_MUSIC_FOLDER_NAME);
    if (folder_exists(buf)) return 1;
    wstr_format(buf, capacity, L"%ls\\Muzikler", exe_folder);
    return folder_exists(buf);
}

static void open_command_line_files(const wchar_t* command_line) {
    if (!command_line || !command_line[0]) return;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(command_line, &argc);
    if (!argv) return;
    given_files_open((const wchar_t* const*)argv + 1, argc - 1, 0);
    LocalFree(argv);
}

// A friends.json that did not read whole was kept aside before anything replaced it, or, with
// no copy made, is never replaced: the user hears which, since friends may seem missing.
static void tell_friends_file_state(void) {
    const wchar_t* kept = friends_kept_aside();
    if (!kept[0] && !friends_save_refused()) return;
    wchar_t subtitle[BANNER_SUBTITLE_CAPACITY];
    if (kept[0]) {
        const wchar_t* name = wcsrchr(kept, L'\\');
        wstr_format(subtitle, BANNER_SUBTITLE_CAPACITY, L"Eski dosya sakland\u0131: %ls", name ? name + 1 : kept);
    } else {
        wstr_copy(subtitle, L"Liste kaydedilmeyecek");
    }
    banner_show(BANNER_DOWNLOAD, 0, L"Arkada\u015f listesi tam okunamad\u0131", subtitle, 8000);
}

// Without its own key the installation can sign nothing: its verified friends and their
// rooms would hear nothing from it, and nothing else would say why.
static void tell_key_problem(void) {
    if (!trust_key_problem()) return;
    banner_show(BANNER_DOWNLOAD, 0, L"\u0130mza anahtar\u0131n\u0131z a\u00e7\u0131lamad\u0131",
                L"Do\u011frulanm\u0131\u015f arkada\u015flar\u0131n\u0131za mesaj gitmiyor \u2022 "
                L"%APPDATA%\\Nelvo\\signing.key dosyas\u0131n\u0131 silip Nelvo'yu yeniden ba\u015flat\u0131n; "
                L"arkada\u015flar\u0131n\u0131z sizi silip yeniden eklemeli",
                15000);
}

void on_deferred_start(HWND window, const wchar_t* command_line) {
    identity_load();
    trust_start();
    tell_friends_file_state();
    tell_key_problem();
    update_set_before_restart(friends_save_flush);
    ensure_transport_started();
    // The library fills in from the scan worker; the files given and the track to resume
    // wait for it, so that they follow the library and find it whole.
    if (g_settings.last_folder[0] && folder_exists(g_settings.last_folder)) {
        library_scan_folder(g_settings.last_folder);
    } else {
        wchar_t folder[260];
        if (default_music_folder(folder, 260)) {
            wstr_copy(g_settings.last_folder, folder);
            save_settings(&g_settings, CONFIG_FILE_NAME);
            library_scan_folder(folder);
        }
    }
    library_watch_follow(g_settings.last_folder);
    open_command_line_files(command_line);
    apply_filter();
    library_scan_then_resume();
    choose_tick_period();
    InvalidateRect(window, nullptr, FALSE);
    remove_update_leftovers();
    start_update_check(window, 0);
    SetTimer(window, TIMER_IDLE_TRIM, 1200, nullptr);
}

static void hide_update_banner(void) {
    g_app.banner.state = BANNER_HIDDEN;
    g_app.banner.hide_at = 0;
    taskbar_show_progress(-1);
    start_animation();
}

// A finished update check: the question when a newer version is offered, the answer to a
// manual check otherwise; on Yes the download starts with its banner.
static void on_update_checked(HWND window, LPARAM record) {
    const UpdateInfo* info = (const UpdateInfo*)record;
    wchar_t text[2048];
    const wchar_t* caption = L"";
    UINT flags = 0;
    if (update_prompt(info, text, 2048, &caption, &flags)) {
        int answer = MessageBoxW(window, text, caption, flags);
        if (info->available && answer == IDYES) {
            banner_show(BANNER_UPDATE, 0, L"NELVO G\u00dcNCELLEN\u0130YOR",
                        L"Yeni s\u00fcr\u00fcm paketi indiriliyor...", 0);
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            // One already running, or no thread: nothing will ever end this banner.
            if (!start_update_download(window, info->url)) hide_update_banner();
        }
    }
    update_record_release(record);
    trim_working_set();
}

static void on_destroy(HWND window) {
    KillTimer(window, TIMER_TICK);
    g_app.tick_period = 0;
    if (g_app.animating) KillTimer(window, TIMER_ANIMATION);
    g_app.animating = 0;
    window_place_note(window);
    resume_remember();  // saves the settings, the place with them
    media_keys_release(window);
    media_overlay_stop();
    taskbar_release();
    g_shared_queue.stop.exchange(1);
    g_jam_fetch.stop.exchange(1);
    jam_leave();
    if (!g_settings.jam_keep_downloads) delete_jam_downloads();
    friends_say_bye();
    trust_stop();
    // The last second of changes may still wait for the store's writer thread.
    friends_save_flush();
    mqtt_stop();
    player_shutdown();
    KillTimer(window, TIMER_DELETE_RETRY);
    // Files the player held a moment ago get a last short chance; exit waits no longer.
    finish_pending_deletions(300);
    library_watch_shutdown();
    library_scan_shutdown();
    track_list_free();
    release_back_buffer(&g_app.back_buffer);
    free(g_app.filter.filtered_indices);
    g_app.filter.filtered_indices = nullptr;
    g_app.filter.filtered_count = 0;
    g_app.filter.filtered_capacity = 0;
    delete_fonts();
    if (g_app.edit_brush) DeleteObject(g_app.edit_brush);
    g_app.edit_brush = nullptr;
    if (g_app.cover_bitmap) DeleteObject(g_app.cover_bitmap);
    g_app.cover_bitmap = nullptr;
    if (g_app.window_icon) DestroyIcon(g_app.window_icon);
    g_app.window_icon = nullptr;
    g_app.main_window = nullptr;
    PostQuitMessage(0);
}

//~ Size, activation and painting

void trim_working_set(void) {
    SetProcessWorkingSetSize(GetCurrentProcess(), (SIZE_T)-1, (SIZE_T)-1);
}

int something_moving(void) {
    return g_app.animating || g_app.seek_dragging || g_app.volume_dragging || g_app.row_dragging ||
           g_app.sidebar_dragging || g_app.scroll_dragging || GetKeyState(VK_LBUTTON) < 0;
}

void clamp_scroll_to_list(void) {
    if (!g_app.main_window) return;
    RECT client;
    GetClientRect(g_app.main_window, &client);
    int top = current_list_top();
    int rows = g_app.filter.active ? g_app.filter.filtered_count : track_list_count();
    float limit = (float)max_scroll(rows, top, list_bottom(client.bottom, g_app.dpi), g_app.dpi);
    if (g_app.scroll_target > limit) g_app.scroll_target = limit;
    if (g_app.scroll_target < 0) g_app.scroll_target = 0;
    if (g_app.scroll_offset.value > limit) g_app.scroll_offset.value = limit;
    if (g_app.scroll_offset.value < 0) g_app.scroll_offset.value = 0;
}

static void on_size(HWND window, WPARAM kind) {
    if (kind == SIZE_MINIMIZED) {
        g_app.window_minimized = 1;
        choose_tick_period();
        release_back_buffer(&g_app.back_buffer);
        SetTimer(window, TIMER_IDLE_TRIM, 250, nullptr);
        trim_working_set();
        return;
    }
    g_app.window_minimized = 0;
    window_place_follow(window);
    choose_tick_period();
    clamp_scroll_to_list();
    layout_search_box();
    InvalidateRect(window, nullptr, FALSE);
}

static void on_activate(HWND window, WPARAM wparam) {
    g_app.window_active = LOWORD(wparam) != 0;
    choose_tick_period();
    if (g_app.window_active) {
        SetTimer(window, TIMER_IDLE_TRIM, 1200, nullptr);
    } else {
        release_back_buffer(&g_app.back_buffer);
        trim_working_set();
    }
}

// Without a back buffer the painter writes to the DC itself and the shapes are left out.
static void paint_without_buffer(HDC dc, RECT client) {
    Canvas kept = g_canvas;
    g_canvas.bits = nullptr;
    paint_main_window(dc, client, client);
    g_canvas = kept;
}

static void on_paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    if (IsRectEmpty(&client)) {
        EndPaint(window, &ps);
        return;
    }
    int made = ensure_back_buffer(&g_app.back_buffer, dc, client.right, client.bottom);
    if (g_app.back_buffer.dc) {
        RECT damage = ps.rcPaint;
        if (made || IsRectEmpty(&damage)) damage = client;
        IntersectRect(&damage, &damage, &client);
        paint_into_back_buffer(&g_app.back_buffer, client, damage);
        BitBlt(dc, damage.left, damage.top, damage.right - damage.left, damage.bottom - damage.top,
               g_app.back_buffer.dc, damage.left, damage.top, SRCCOPY);
    } else {
        paint_without_buffer(dc, client);
    }
    EndPaint(window, &ps);
    place_edit_controls();
    GdiFlush();
    if (!something_moving()) trim_working_set();
    if (!g_app.window_active || g_app.window_minimized) SetTimer(window, TIMER_IDLE_TRIM, 250, nullptr);
}

static void on_print_client(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    if (!IsRectEmpty(&client)) {
        ensure_back_buffer(&g_app.back_buffer, dc, client.right, client.bottom);
        if (g_app.back_buffer.dc) {
            paint_into_back_buffer(&g_app.back_buffer, client, client);
            BitBlt(dc, 0, 0, client.right, client.bottom, g_app.back_buffer.dc, 0, 0, SRCCOPY);
        } else {
            paint_without_buffer(dc, client);
        }
    }
    if (g_app.window_minimized || !g_app.window_active) {
        release_back_buffer(&g_app.back_buffer);
        trim_working_set();
    }
}

static void on_dpi_changed(HWND window, WPARAM wparam, const RECT* suggested) {
    g_app.dpi = rebuild_fonts(HIWORD(wparam));
    HWND edits[] = {g_app.search_box, g_app.tag_box, g_app.name_box};
    for (HWND edit : edits)
        if (edit) SendMessageW(edit, WM_SETFONT, (WPARAM)g_fonts.body, TRUE);
    release_back_buffer(&g_app.back_buffer);
    if (suggested)
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Repainted at the new scale even when the size stays, and the boxes follow the paint.
    InvalidateRect(window, nullptr, FALSE);
}

//~ Dispatch

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE: on_create(window); return 0;
    case MSG_SCAN_BATCH: on_scan_batch(wparam, lparam); return 0;
    case MSG_WATCH_BATCH: on_watch_batch(wparam, lparam); return 0;
    case MSG_DEFERRED_START: on_deferred_start(window, g_command_line); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY: on_destroy(window); return 0;
    case WM_SIZE: on_size(window, wparam); return 0;
    case WM_ACTIVATE: on_activate(window, wparam); return 0;
    case WM_PAINT: on_paint(window); return 0;
    case WM_PRINTCLIENT: on_print_client(window, (HDC)wparam); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_GETMINMAXINFO: window_place_min_track(window, (MINMAXINFO*)lparam); return 0;
    case WM_MOVE: window_place_follow(window); return 0;
    case WM_EXITSIZEMOVE: window_place_save(window); return 0;
    case WM_DPICHANGED: on_dpi_changed(window, wparam, (const RECT*)lparam); return 0;
    case WM_TIMER: on_timer(window, wparam); return 0;
    case WM_CTLCOLOREDIT: return on_edit_color((HDC)wparam);
    case WM_COMMAND:
        if (on_thumb_button(wparam)) return 0;
        if (LOWORD(wparam) == ID_SEARCH_BOX && HIWORD(wparam) == EN_CHANGE) on_search_changed();
        else if (HIWORD(wparam) == 0) on_context_command(window, LOWORD(wparam));
        return 0;
    case WM_LBUTTONDOWN: on_left_button_down(window, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)); return 0;
    case WM_LBUTTONDBLCLK: on_left_button_double(window, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)); return 0;
    case WM_CAPTURECHANGED: on_capture_changed(window, (HWND)lparam); return 0;
    case WM_LBUTTONUP: on_left_button_up(window, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)); return 0;
    case WM_RBUTTONUP: on_right_button_up(window, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)); return 0;
    case WM_MOUSEMOVE: on_mouse_move(window, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), wparam); return 0;
    case WM_MOUSELEAVE: on_mouse_leave(window); return 0;
    case WM_MOUSEWHEEL:
        on_mouse_wheel(window, GET_WHEEL_DELTA_WPARAM(wparam), GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
        return 0;
    case WM_KEYDOWN: on_key_down(window, wparam); return 0;
    case MSG_SMTC_BUTTON: on_media_overlay_button(wparam); return 0;
    case WM_HOTKEY:
        if (on_hotkey(wparam)) return 0;
        break;
    case WM_APPCOMMAND:
        if (on_app_command(lparam)) return TRUE;
        break;
    case WM_DROPFILES: on_drop_files(window, (HDROP)wparam); return 0;
    case WM_COPYDATA: return on_copy_data(window, (const COPYDATASTRUCT*)lparam);
    case MSG_TRACK_ENDED:
        if (player_event_is_current(wparam)) on_track_ended();
        return 0;
    case MSG_TRACK_ADVANCED: on_track_advanced(wparam); return 0;
    case MSG_TRACK_NEAR_END: on_track_near_end(wparam); return 0;
    case MSG_TRACK_FAILED:
        if (player_event_is_current(wparam)) on_track_failed();
        return 0;
    case MSG_DOWNLOAD_PROGRESS: on_download_progress((int)(INT_PTR)wparam); return 0;
    case MSG_DOWNLOAD_DONE: on_download_done(); return 0;
    case MSG_SHARED_PROGRESS: on_shared_progress((int)wparam, lparam); return 0;
    case MSG_SHARED_ITEM_DONE: on_shared_item_done((int)wparam, (wchar_t*)lparam); return 0;
    case MSG_SHARED_FINISHED: on_shared_finished((int)wparam, (int)lparam); return 0;
    case MSG_AUTOFETCH_PROGRESS: on_autofetch_progress((int)wparam); return 0;
    case MSG_AUTOFETCH_DONE: on_autofetch_done((int)wparam, lparam); return 0;
    case MSG_UPDATE_CHECKED: on_update_checked(window, lparam); return 0;
    case MSG_UPDATE_PROGRESS: {
        int percent = (int)wparam < 0 ? 0 : ((int)wparam > 100 ? 100 : (int)wparam);
        banner_show(BANNER_UPDATE, percent, L"NELVO G\u00dcNCELLEN\u0130YOR",
                    L"Yeni s\u00fcr\u00fcm paketi indiriliyor, l\u00fctfen bekleyin...", 0);
        return 0;
    }
    case MSG_UPDATE_RESULT:
        if (wparam == 0) {
            hide_update_banner();
            wchar_t text[512];
            update_failure_text((int)lparam, text, 512);
            MessageBoxW(window, text, L"G\u00fcncelleme Hatas\u0131", MB_OK | MB_ICONERROR);
        }
        return 0;
    case MSG_MQTT_EVENT:
        on_mqtt_event(window, wparam);
        return 0;
    }
    UINT taskbar_created = taskbar_created_message();
    if (taskbar_created && message == taskbar_created) {
        on_taskbar_created(window);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

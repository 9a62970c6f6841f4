// A test build of the program for the tests and benchmarks that need two installations:
// the real program, with its two broker links on loopback ports given on the command line
// (never the public hosts), its executable folder where the copy lies and its per-user folder
// from APPDATA as the program has them. It is driven through its window by lines on
// standard input, each acted out on the window's thread the way a user would (clicks at the
// rectangles the last frame recorded, text typed into the boxes, keys), and it answers
// "state" with one line on standard output.
//   nelvo_peer.exe PORT0 PORT1 [UPDATE_SERVER] [-- FILE...]
// The files after "--" are the program's own arguments, as Explorer gives them to Nelvo.exe.
// (or, started by an update of itself, with the hand-over argument alone).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/startup.h"
#include "base/shared_queue.h"
#include "base/ticks.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "net/mqtt.h"
#include "playback/player.h"
#include "social/identity.h"
#include "social/jam.h"
#include "social/peer_delay.h"
#include "social/trust.h"
#include "update/updater.h"
#include "test_update_key.h"
#include "ui/hit_rects.h"
#include "ui/hit_test.h"

#define MSG_PEER_COMMAND (WM_APP + 900)  // lParam: a malloc'ed UTF-8 line, freed here

static HWND g_peer_window;


static void reply(const char* text) {
    fputs(text, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

static void utf8_of(const wchar_t* text, char* out, int capacity) {
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, nullptr, nullptr) <= 0) out[0] = 0;
}

static void repaint(void) {
    RedrawWindow(g_app.main_window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

// A user's click first brings the window to the front, which is what keeps its timers going.
static void bring_to_front(void) {
    SetForegroundWindow(g_app.main_window);
    SendMessageW(g_app.main_window, WM_ACTIVATE, WA_CLICKACTIVE, 0);
}

static void click_at(RECT r) {
    if (r.right <= r.left) return;
    if (GetForegroundWindow() != g_app.main_window) bring_to_front();
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(g_app.main_window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(g_app.main_window, WM_LBUTTONUP, 0, at);
    repaint();
}

static void click_element(int id) {
    repaint();
    click_at(g_hit.element[id]);
}

// Answers the message box with this caption, as the user would, once it shows.
static void answer_box_later(const wchar_t* caption, int button) {
    struct Answer {
        const wchar_t* caption;
        int button;
    };
    Answer* a = (Answer*)malloc(sizeof(Answer));
    if (!a) return;
    *a = Answer{caption, button};
    HANDLE t = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            Answer* a = (Answer*)p;
            for (int i = 0; i < 400; i++) {
                HWND box = FindWindowW(L"#32770", a->caption);
                if (box) {
                    PostMessageW(box, WM_COMMAND, MAKEWPARAM(a->button, BN_CLICKED), 0);
                    break;
                }
                Sleep(25);
            }
            free(a);
            return 0;
        },
        a, 0, nullptr);
    if (t) CloseHandle(t);
    else free(a);
}

static void type_into(HWND box, const char* utf8) {
    wchar_t text[256];
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, 256) <= 0) text[0] = 0;
    SetWindowTextW(box, text);
}

// "state": own tag, whether online, the requests, the tracks, whether one plays, the banner
// title, then every friend as name:online:status:v<verified>.
static void report_state(void) {
    char line[8192], part[512], a[256], b[256];
    utf8_of(g_identity.tag, a, sizeof a);
    utf8_of(g_app.banner.title, b, sizeof b);
    const Track* current = track_list_at(g_app.current_index);
    char title[256], notice_text[256];
    wchar_t full[TRACK_TEXT_CAPACITY];
    track_full_title(current, full, TRACK_TEXT_CAPACITY);  // as friends know the track
    utf8_of(full, title, sizeof title);
    wchar_t notice[128];
    jam_notice_text(notice, 128);
    utf8_of(notice, notice_text, sizeof notice_text);
    snprintf(line, sizeof line,
             "STATE tag=%s online=%d pending=%d tracks=%d playing=%d banner=%s jam=%d members=%d invited=%d "
             "fetching=%d position=%d current=%s notice=%s checks=%d friends=",
             a, mqtt_is_online() ? 1 : 0, pending_count(), track_list_count(), g_app.now_playing, b, jam_state(),
             jam_member_count(), jam_invitation_pending(), g_jam_fetch.running.load(), player_position_ms(), title,
             notice_text, trust_verified_count());
    for (int i = 0; i < friend_count(); i++) {
        const FriendEntry* e = friend_at(i);
        utf8_of(e->name, a, sizeof a);
        utf8_of(e->status_text, b, sizeof b);
        // Last: v0 not verified, v1 key pinned, v2 the published key changed.
        snprintf(part, sizeof part, "%s%s:%d:%s:v%d", i ? ";" : "", a, e->online, b, e->key[0] ? 1 + (e->key_changed != 0) : 0);
        strncat(line, part, sizeof line - strlen(line) - 1);
    }
    reply(line);
}

// "busy": the time the main window spent in its messages since the last "busy", and the
// longest single message; the first one starts the count.
static WNDPROC g_main_proc;
static double g_busy_ms, g_slowest_ms;

static LRESULT CALLBACK timing_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    LRESULT r = CallWindowProcW(g_main_proc, w, m, wp, lp);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    double ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    g_busy_ms += ms;
    if (ms > g_slowest_ms) g_slowest_ms = ms;
    return r;
}

static void report_busy(void) {
    if (!g_main_proc) g_main_proc = (WNDPROC)SetWindowLongPtrW(g_app.main_window, GWLP_WNDPROC, (LONG_PTR)timing_proc);
    char line[128];
    snprintf(line, sizeof line, "BUSY total=%.1f slowest=%.2f", g_busy_ms, g_slowest_ms);
    g_busy_ms = g_slowest_ms = 0;
    reply(line);
}

static void run_command(char* line) {
    char* arg = strchr(line, ' ');
    if (arg) *arg++ = 0;
    else arg = line + strlen(line);
    if (!strcmp(line, "friends")) {  // opens the panel, or looks at it again
        bring_to_front();
        if (!(g_app.sidebar_open && g_app.sidebar_mode == 1)) click_element(ELEMENT_FRIENDS);
        g_app.sidebar_progress = {1, 0};  // no animation to wait for
        repaint();
    } else if (!strcmp(line, "close")) {  // the sidebar, as a press right of it does
        if (g_app.sidebar_open) click_element(ELEMENT_MENU);
        g_app.sidebar_progress = {0, 0};
        repaint();
    } else if (!strcmp(line, "tab")) {
        static const int TABS[3] = {ELEMENT_TAB_FRIENDS, ELEMENT_TAB_REQUESTS, ELEMENT_TAB_ADD};
        click_element(TABS[atoi(arg) % 3]);
    } else if (!strcmp(line, "request")) {  // types a tag into the add form and sends it
        click_element(ELEMENT_TAB_ADD);
        type_into(g_app.tag_box, arg);
        click_element(ELEMENT_SEND_REQUEST);
    } else if (!strcmp(line, "accept")) {  // "accept N keep" keeps a Jam's downloads
        click_element(ELEMENT_TAB_REQUESTS);
        answer_box_later(L"Nelvo - Jam M\u00fczik Tercihi", strstr(arg, "keep") ? IDYES : IDNO);
        click_at(g_hit.request_accept[atoi(arg) % REQUEST_ROWS_MAX]);
    } else if (!strcmp(line, "invite")) {  // a friend row's Jam button
        click_element(ELEMENT_TAB_FRIENDS);
        click_at(g_hit.friend_invite[atoi(arg) % FRIEND_ROWS_MAX]);
    } else if (!strcmp(line, "join")) {  // the invitation notice's "Katıl"
        click_element(ELEMENT_INVITE_JOIN);
    } else if (!strcmp(line, "menu")) {  // "menu N": the menu's row N; "menu 6 yes" answers the update question
        if (!(g_app.sidebar_open && g_app.sidebar_mode == 0)) click_element(ELEMENT_MENU);
        g_app.sidebar_progress = {1, 0};
        repaint();
        if (strstr(arg, "yes")) answer_box_later(L"G\u00fcncelleme Mevcut", IDYES);
        int row = atoi(arg);
        click_at(RECT{20, 74 + row * 52 + 10, 200, 74 + row * 52 + 42});
    } else if (!strcmp(line, "decline")) {  // the invitation notice's close button
        click_element(ELEMENT_INVITE_CLOSE);
    } else if (!strcmp(line, "pos")) {  // the player's position alone, quickly
        char out[32];
        snprintf(out, sizeof out, "POS %d", player_position_ms());
        reply(out);
        return;
    } else if (!strcmp(line, "allowances")) {  // "allowances fixed": as older versions sync
        jam_use_fixed_allowances(!strcmp(arg, "fixed"));
    } else if (!strcmp(line, "delay")) {  // the delay measured from the first member, or -1
        char out[32];
        snprintf(out, sizeof out, "DELAY %d", g_jam.member_count ? peer_delay_of(g_jam.members[0].tag, tick_fine()) : -1);
        reply(out);
        return;
    } else if (!strcmp(line, "leave")) {  // the Jam bar's "Ayrıl"
        g_app.jam_bar_progress = {1, 0};  // no animation to wait for
        click_element(ELEMENT_JAM_LEAVE);
    } else if (!strcmp(line, "seek")) {
        seek_to(atoi(arg));
    } else if (!strcmp(line, "next")) {
        play_next();
    } else if (!strcmp(line, "rename")) {
        click_element(ELEMENT_PANEL_EDIT_NAME);
        type_into(g_app.name_box, arg);
        SendMessageW(g_app.name_box, WM_KEYDOWN, VK_RETURN, 0);
    } else if (!strcmp(line, "play")) {  // by index, or by display title
        int index = atoi(arg);
        char* at = strstr(arg, " at ");  // "play N at MS": from a position
        int start_ms = at ? atoi(at + 4) : 0;
        if (at) *at = 0;
        if (arg[0] < '0' || arg[0] > '9') {
            wchar_t title[256];
            if (MultiByteToWideChar(CP_UTF8, 0, arg, -1, title, 256) <= 0) title[0] = 0;
            index = -1;
            for (int i = 0; i < track_list_count() && index < 0; i++) {
                wchar_t full[TRACK_TEXT_CAPACITY];
                track_full_title(track_list_at(i), full, TRACK_TEXT_CAPACITY);
                if (!wcscmp(track_list_at(i)->title, title) || !wcscmp(full, title)) index = i;
            }
        }
        if (track_list_at(index)) play_track(index, start_ms, 0, 0);
    } else if (!strcmp(line, "pause")) {
        toggle_play();
    } else if (!strcmp(line, "rescan")) {  // the music folder, as after a download
        rescan_music_folder();
    } else if (!strcmp(line, "key")) {  // "key N": the key with virtual-key code N
        bring_to_front();
        SendMessageW(g_app.main_window, WM_KEYDOWN, (WPARAM)atoi(arg), 0);
        SendMessageW(g_app.main_window, WM_KEYUP, (WPARAM)atoi(arg), 0);
    } else if (!strcmp(line, "stop")) {  // the Stop media key
        SendMessageW(g_app.main_window, WM_APPCOMMAND, (WPARAM)g_app.main_window,
                     MAKELPARAM(0, FAPPCOMMAND_KEY | APPCOMMAND_MEDIA_STOP));
    } else if (!strcmp(line, "notice")) {
        char text[512];
        utf8_of(g_app.friend_notice, text, sizeof text);
        char out[600];
        snprintf(out, sizeof out, "NOTICE %s", text);
        reply(out);
        return;
    } else if (!strcmp(line, "state")) {
        report_state();
        return;
    } else if (!strcmp(line, "busy")) {
        report_busy();
        return;
    } else if (!strcmp(line, "quit")) {
        reply("OK");
        PostMessageW(g_app.main_window, WM_CLOSE, 0, 0);
        return;
    }
    reply("OK");
}

static LRESULT CALLBACK peer_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m != MSG_PEER_COMMAND) return DefWindowProcW(w, m, wp, lp);
    char* line = (char*)lp;
    if (g_app.main_window) run_command(line);
    else reply("NOT READY");
    free(line);
    return 0;
}

// Standard input, a line at a time, handed to the window's thread.
static DWORD WINAPI read_commands(void*) {
    char line[1024];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        char* copy = _strdup(line);
        if (copy && !PostMessageW(g_peer_window, MSG_PEER_COMMAND, 0, (LPARAM)copy)) free(copy);
    }
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    // Started by an update of itself: no ports, no commands; the program's own start.
    DWORD replaced = 0;
    if (update_handover_parse(GetCommandLineW(), &replaced)) {
        for (int i = 0; i < MQTT_LINK_COUNT; i++) mqtt_set_broker(i, "127.0.0.1", 1);
        update_set_server(L"");
        return app_run(GetModuleHandleW(nullptr), GetCommandLineW(), SW_SHOWNORMAL);
    }
    if (argc < 3) {
        fputs("usage: nelvo_peer PORT0 PORT1\n", stderr);
        return 2;
    }
    mqtt_set_broker(0, "127.0.0.1", (unsigned short)_wtoi(argv[1]));
    mqtt_set_broker(1, "127.0.0.1", (unsigned short)_wtoi(argv[2]));
    // The update server too, when given, never the built-in one.
    update_set_server(argc > 3 && wcscmp(argv[3], L"--") ? argv[3] : L"");
    // Signed updates only, as a release build takes them: signed with the tests' key.
    update_set_public_key(NELVO_TEST_UPDATE_KEY_PEM);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = peer_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NelvoPeerCommands";
    RegisterClassW(&wc);
    g_peer_window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    HANDLE reader = CreateThread(nullptr, 0, read_commands, nullptr, 0, nullptr);
    if (reader) CloseHandle(reader);
    // The ports are the test build's own arguments, not the program's; its files are.
    static wchar_t program_line[32768];
    const wchar_t* files = wcsstr(GetCommandLineW(), L" -- ");
    wstr_format(program_line, 32768, L"nelvo_peer.exe%ls", files ? files + 3 : L"");
    return app_run(GetModuleHandleW(nullptr), program_line, SW_SHOWNORMAL);
}

// The three timers of the main window: housekeeping, animation frames and the idle trim.
#include <windows.h>

#include "app/app_state.h"
#include "app/file_deletion.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/tick_period.h"
#include "base/messages.h"
#include "base/ticks.h"
#include "base/wstr.h"
#include "playback/player.h"
#include "social/friends.h"
#include "social/jam.h"
#include "social/trust.h"
#include "ui/back_buffer.h"
#include "ui/fonts.h"
#include "ui/hit_rects.h"
#include "ui/list_geometry.h"

int friends_panel_open(void) {
    return g_app.sidebar_open && g_app.sidebar_mode == 1;
}

static void snap_springs(void) {
    g_app.sidebar_progress = {g_app.sidebar_open ? 1.0f : 0.0f, 0};
    g_app.jam_bar_progress = {jam_is_active() ? 1.0f : 0.0f, 0};
    g_app.banner_progress = {g_app.banner.state != BANNER_HIDDEN ? 1.0f : 0.0f, 0};
    g_app.scroll_offset = {g_app.scroll_target, 0};
    for (int i = 0; i < 2; i++) g_app.panel_scroll[i] = {g_app.panel_scroll_target[i], 0};
}

void choose_tick_period(void) {
    HWND window = g_app.main_window;
    if (!window) return;
    if (!g_app.window_active || g_app.window_minimized) {
        if (g_app.animating) KillTimer(window, TIMER_ANIMATION);
        g_app.animating = 0;
        snap_springs();
    }
    TickInputs in = {g_app.window_active, g_app.window_minimized, g_app.friend_search_active, player_is_playing(),
                     jam_is_active(), g_app.banner.hide_at != 0, friends_panel_open(), trust_needs_tick()};
    int period = tick_period_for(&in);
    if (period == g_app.tick_period) return;
    if (period == TICK_STOPPED) KillTimer(window, TIMER_TICK);
    else SetTimer(window, TIMER_TICK, (UINT)period, nullptr);
    g_app.tick_period = period;
}

void start_animation(void) {
    if (g_app.animating || !g_app.window_active || g_app.window_minimized || !g_app.main_window) return;
    g_app.last_frame_tick = tick_now();
    SetTimer(g_app.main_window, TIMER_ANIMATION, 10, nullptr);
    g_app.animating = 1;
}

// Steps a slide fraction toward 0 or 1; reaching either end settles it.
static int step_fraction(Spring* s, int open, float k, float eps, float dt) {
    float target = open ? 1.0f : 0.0f;
    int moving = spring_step(s, target, k, dt, eps);
    if (s->value >= 1.0f) {
        s->value = 1.0f;
        if (open) {
            s->velocity = 0;
            moving = 0;
        }
    } else if (s->value <= 0.0f) {
        s->value = 0.0f;
        if (!open) {
            s->velocity = 0;
            moving = 0;
        }
    }
    return moving;
}

static void on_animation_frame(HWND window) {
    DWORD now = tick_now();
    float dt = (float)ticks_since(g_app.last_frame_tick, now) / 1000.0f;
    if (dt <= 0 || dt > 0.05f) dt = 0.012f;
    g_app.last_frame_tick = now;
    int moving = spring_step(&g_app.scroll_offset, g_app.scroll_target, 26, dt, 0.25f);
    for (int i = 0; i < 2; i++) moving |= spring_step(&g_app.panel_scroll[i], g_app.panel_scroll_target[i], 26, dt, 0.25f);
    if (!g_app.sidebar_dragging)
        moving |= step_fraction(&g_app.sidebar_progress, g_app.sidebar_open, 34, 0.003f, dt);
    moving |= step_fraction(&g_app.jam_bar_progress, jam_is_active(), 28, 0.002f, dt);
    moving |= step_fraction(&g_app.banner_progress, g_app.banner.state != BANNER_HIDDEN, 28, 0.002f, dt);
    RECT client;
    GetClientRect(window, &client);
    client.top = scale(HEADER_HEIGHT);
    InvalidateRect(window, &client, FALSE);
    if (moving || g_app.sidebar_dragging) return;
    KillTimer(window, TIMER_ANIMATION);
    g_app.animating = 0;
    UpdateWindow(window);
    GdiFlush();
    trim_working_set();
    SetTimer(window, TIMER_IDLE_TRIM, 250, nullptr);
}

static void end_friend_search(HWND window, const wchar_t* notice) {
    wstr_copy(g_app.friend_notice, notice);
    g_app.friend_search_active = 0;
    choose_tick_period();
    InvalidateRect(window, nullptr, FALSE);
}

// A typed tag is looked up before the request goes out: sent once the user is found, given
// up after 3.6 s, with one more lookup on the way.
static void advance_friend_search(HWND window) {
    DWORD waited = ticks_since(g_app.friend_search_tick, tick_now());
    if (friend_lookup_found(g_app.friend_search_tag)) {
        friend_request_send(g_app.friend_search_tag);
        if (g_app.tag_box) SetWindowTextW(g_app.tag_box, L"");
        end_friend_search(window, L"\u2713 \u0130stek g\u00f6nderildi!");
    } else if (waited > 3600) {
        friend_lookup_cancel();
        end_friend_search(window, L"B\u00f6yle bir kullan\u0131c\u0131 bulunamad\u0131!");
    } else if (waited >= 1400 && waited < 1650) {
        friend_lookup_start(g_app.friend_search_tag);
    }
}

static void on_tick(HWND window) {
    g_app.tick_count++;
    // The tick ran for trust's deferred work too: once that is done it may slow down.
    if (trust_needs_tick()) {
        trust_tick();
        if (!trust_needs_tick()) choose_tick_period();
    }
    prepare_following_track();
    if (g_app.window_minimized) {
        release_back_buffer(&g_app.back_buffer);
        trim_working_set();
        return;
    }
    if (g_app.friend_search_active) advance_friend_search(window);
    if (g_app.banner.hide_at && tick_reached(g_app.banner.hide_at, tick_now())) {
        g_app.banner.hide_at = 0;
        g_app.banner.state = BANNER_HIDDEN;
        start_animation();
        choose_tick_period();
    }
    if (friends_panel_open() || jam_is_active()) {
        jam_tick();
        presence_expire();
        if (ticks_since(g_app.last_ping_tick, tick_now()) >= 4000) {
            presence_ping_all();
            g_app.last_ping_tick = tick_now();
        }
        if (!jam_is_active() && g_app.jam_bar_progress.value > 0.01f) start_animation();
        if (g_app.window_active) InvalidateRect(window, nullptr, FALSE);
    } else if (jam_invitation_pending() && g_app.window_active) {
        InvalidateRect(window, nullptr, FALSE);
    }
    // The time and the progress run once a second wherever the focus is: a window left in
    // view beside another one is still looked at. The tick is 500 ms in front and 200 ms
    // behind, so the second is counted in time rather than in ticks.
    if (player_is_playing() && !g_app.seek_dragging && IsWindowVisible(window) && rect_has_area(&g_hit.control_bar) &&
        ticks_since(g_app.clock_painted_at, tick_now()) >= 900) {
        g_app.clock_painted_at = tick_now();
        InvalidateRect(window, &g_hit.control_bar, FALSE);
        UpdateWindow(window);
    }
    if (!something_moving()) {
        GdiFlush();
        trim_working_set();
    }
}

static void on_idle_trim(HWND window) {
    if (something_moving()) return;
    if (g_app.window_active && ticks_since(g_app.last_input_tick, tick_now()) < 200) return;
    KillTimer(window, TIMER_IDLE_TRIM);
    if (!g_app.window_active || g_app.window_minimized) release_back_buffer(&g_app.back_buffer);
    GdiFlush();
    trim_working_set();
}

void on_timer(HWND window, UINT_PTR id) {
    switch (id) {
    case TIMER_TICK: on_tick(window); break;
    case TIMER_ANIMATION: on_animation_frame(window); break;
    case TIMER_IDLE_TRIM: on_idle_trim(window); break;
    case TIMER_DELETE_RETRY: retry_pending_deletions(window); break;
    }
}

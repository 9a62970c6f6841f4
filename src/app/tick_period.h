#pragma once
// How often the housekeeping timer must wake: never when nothing needs it, so an idle
// window costs no CPU at all.

struct TickInputs {
    int active;
    int minimized;
    int friend_search_pending;
    int playing;
    int jam_active;
    int banner_hide_pending;  // the banner has a hide_at
    int friends_panel_open;
    int trust_pending;  // deferred work of the friend trust layer (social/trust.h)
};

enum { TICK_STOPPED = 0, TICK_FAST = 200, TICK_NORMAL = 500, TICK_SLOW = 1500 };

// The period of TIMER_TICK in ms, or TICK_STOPPED.
int tick_period_for(const TickInputs* in);

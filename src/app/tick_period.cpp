#include "app/tick_period.h"

int tick_period_for(const TickInputs* in) {
    if (!in->active || in->minimized) {
        // In the background only what must go on in time keeps the timer, and it runs fast
        // so that pings and banner expiry are not late when the user comes back.
        if (in->friend_search_pending || in->playing || in->jam_active || in->banner_hide_pending) return TICK_FAST;
        return in->trust_pending ? TICK_SLOW : TICK_STOPPED;
    }
    if (in->friend_search_pending) return TICK_FAST;
    if (in->playing || in->banner_hide_pending) return TICK_NORMAL;
    if (in->jam_active || in->friends_panel_open || in->trust_pending) return TICK_SLOW;
    return TICK_STOPPED;
}

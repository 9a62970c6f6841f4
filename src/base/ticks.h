#pragma once
// Time is the system's 32-bit millisecond tick count. It wraps after 49.7 days, so two
// ticks are only ever compared through their unsigned difference, never by < or >.
#include <windows.h>

inline DWORD tick_now(void) {
    return GetTickCount();
}

// Milliseconds from then to now, correct across one wrap.
inline DWORD ticks_since(DWORD then, DWORD now) {
    return now - then;
}

// Whether now is at or past deadline (deadlines lie less than 24.8 days ahead).
inline int tick_reached(DWORD deadline, DWORD now) {
    return (int)(now - deadline) >= 0;
}

// Where ticks stands within a repeating animation of period milliseconds, 0..period-1.
// Taken in integers: the tick count itself, turned into a float, loses whole milliseconds
// after a few hours of uptime and whole steps of the animation after a week or more.
inline unsigned tick_phase(DWORD ticks, unsigned period) {
    return period ? (unsigned)(ticks % period) : 0;
}

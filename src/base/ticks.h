#pragma once
// Time is the system's 32-bit millisecond tick count. It wraps after 49.7 days, so two
// ticks are only ever compared through their unsigned difference, never by < or >.
#include <windows.h>

inline DWORD tick_now(void) {
    return GetTickCount();
}

// Milliseconds on the performance counter, wrapping like the tick count. The tick count
// moves in steps of 10 to 16 ms on Windows, as coarse as the network delays the Jam sync
// corrects for; this clock is exact to the millisecond. Its values are compared only with
// each other (the transport's arrival stamps, round trips, the age of a sync), never with
// tick_now's. Any thread.
inline DWORD tick_fine(void) {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1000LL;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (DWORD)((t.QuadPart / frequency) * 1000 + (t.QuadPart % frequency) * 1000 / frequency);
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

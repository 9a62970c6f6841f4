#pragma once
// The wanted tracks of an imported playlist waiting for the shared-playlist worker. The
// main thread enqueues, the worker takes; entries, queued and taken are guarded by lock.
#include <windows.h>

#include <atomic>

#include "library/wanted_track.h"

enum { SHARED_QUEUE_CAPACITY = 256 };

struct SharedQueue {
    WantedTrack entries[SHARED_QUEUE_CAPACITY];  // guarded by lock
    int queued;                                  // guarded by lock: entries written
    int taken;                                   // guarded by lock: the worker takes this one next
    int total;                                   // main thread: denominator shown in the banner
    int done;                                    // main thread: tracks fetched so far
    std::atomic<int> running;                    // the worker thread runs
    std::atomic<int> stop;                       // asks the worker to stop
    CRITICAL_SECTION lock;
};

extern SharedQueue g_shared_queue;

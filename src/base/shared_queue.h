#pragma once
// What the main thread shares with the two fetch workers: the wanted tracks of an imported
// playlist waiting for the shared-playlist worker, and the flags of the Jam fetch.
#include <windows.h>

#include <atomic>

#include "base/wanted_track.h"

enum { SHARED_QUEUE_CAPACITY = 256 };

// The main thread enqueues, the worker takes; entries, queued and taken are guarded by lock.
// Whether a worker runs is decided under the lock as well: the worker clears running in
// the same hold in which it finds nothing more to take (or the stop), and a new worker is
// claimed in a hold that finds entries waiting and none running, so that no entry waits
// with no worker to come.
struct SharedQueue {
    WantedTrack entries[SHARED_QUEUE_CAPACITY];  // guarded by lock
    int queued;                                  // guarded by lock: entries written
    int taken;                                   // guarded by lock: the worker takes this one next
    int queued_during_stop;                      // guarded by lock: entries wait for the next worker
    int total;                                   // main thread: denominator shown in the banner
    int done;                                    // main thread: tracks fetched so far
    std::atomic<int> running;                    // the worker thread runs; changed under lock
    std::atomic<int> stop;                       // asks the worker to stop
    CRITICAL_SECTION lock;
};

extern SharedQueue g_shared_queue;

// The Jam fetch: one download at a time, claimed by compare-and-exchange on running.
struct JamFetchFlags {
    std::atomic<int> running;
    std::atomic<int> stop;     // asks the fetch to stop; its result then counts as failed
    std::atomic<int> percent;  // written by the fetch thread before it posts the progress
};

extern JamFetchFlags g_jam_fetch;

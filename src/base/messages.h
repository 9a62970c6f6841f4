#pragma once
// Every private message of the main window, with what travels in wParam and lParam and who
// frees it. All are posted with PostMessageW; a sender first checks IsWindow and frees its
// own allocation when the window is gone.
#include <windows.h>

// The media player: a track played to its end. wParam the player's open generation of that
// track (an end that arrives after another track was opened is stale), lParam 0.
#define MSG_TRACK_ENDED (WM_APP + 101)
// The media player: the track could not be opened or played. wParam its open generation,
// lParam 0.
#define MSG_TRACK_FAILED (WM_APP + 104)
// The media player: the track prepared to follow is now heard, the one before having ended.
// wParam the player's new generation (stale when another track was opened meanwhile),
// lParam 0.
#define MSG_TRACK_ADVANCED (WM_APP + 105)
// The media player: the track's end is near (or the track is short), time to prepare what
// follows. wParam the player's generation of the track, lParam 0.
#define MSG_TRACK_NEAR_END (WM_APP + 106)
// The search window's download finished. wParam 0, lParam 0.
#define MSG_DOWNLOAD_DONE (WM_APP + 102)
// The search window's download: wParam percent 0..100, or -1 when it ended without success.
#define MSG_DOWNLOAD_PROGRESS (WM_APP + 103)
// The search window's search thread ended: lParam its SearchBatch of rows (which also says
// whether the downloader could not be started), allocated by the thread, freed by the
// handler (or by the thread when posting fails). Posted to the search window.
#define MSG_SEARCH_DONE (WM_APP + 201)
// The search window's download thread ended: wParam 1 success, 0 failure, or
// DOWNLOADER_MISSING (-1, as an INT_PTR) when the downloader could not be started.
#define MSG_SEARCH_DL_DONE (WM_APP + 202)
// A cover picture arrived: wParam the row, lParam its ThumbnailDelivery, allocated by the
// thumbnail thread, freed by the handler (or by the thread when posting fails).
#define MSG_SEARCH_THUMB (WM_APP + 203)
// The search window's download: wParam percent.
#define MSG_SEARCH_DL_PROGRESS (WM_APP + 204)
// The downloader's self-update ended: lParam its DownloaderUpdateReport, allocated by the
// update thread, freed by the handler (or by the thread when posting fails). Posted to the
// search window open at that time. Keep it the last of the search window's messages: the
// window settles 201 up to this one when it goes.
#define MSG_SEARCH_UPDATE_DONE (WM_APP + 205)
// The update check: lParam the update record, allocated by the sender, freed by the handler.
// A button of the system media overlay: wParam the button (0 play, 1 pause, 2 stop, 6 next,
// 7 previous). Posted from the system's thread.
#define MSG_SMTC_BUTTON (WM_APP + 310)
#define MSG_UPDATE_CHECKED (WM_APP + 301)
// The update download: wParam percent.
#define MSG_UPDATE_PROGRESS (WM_APP + 302)
// The update download ended: wParam 0 failure, non-zero success; lParam the result code
// (1..6, listed in update/updater.h).
#define MSG_UPDATE_RESULT (WM_APP + 303)
// A transport thread: wParam the MqttEvent record, allocated by the sender, freed by the handler.
#define MSG_MQTT_EVENT (WM_APP + 400)
// The main window to itself at the end of WM_CREATE: the second stage of start-up.
#define MSG_DEFERRED_START (WM_APP + 440)
// The Jam fetch ended: wParam 0 when stopped, else the downloader result (1 success, 0
// failure, DOWNLOADER_MISSING as an INT_PTR); lParam the fetch request, freed by the handler.
#define MSG_AUTOFETCH_DONE (WM_APP + 450)
// The Jam fetch: wParam percent.
#define MSG_AUTOFETCH_PROGRESS (WM_APP + 451)
// The shared-playlist worker: wParam percent; lParam 0 or a WantedTrack copy freed by the handler.
#define MSG_SHARED_PROGRESS (WM_APP + 460)
// The shared-playlist worker finished one track: wParam the downloader result, 0 failed;
// lParam 0 or the file the downloader named (260 characters), freed by the handler.
#define MSG_SHARED_ITEM_DONE (WM_APP + 461)
// The shared-playlist worker ended: wParam tracks fetched; lParam SHARED_END_STOPPED when
// stopped by request, SHARED_END_MISSING when the downloader could not be started (the
// entries not fetched wait in the queue), else 0.
#define MSG_SHARED_FINISHED (WM_APP + 462)

// The scan worker: wParam its scan's generation, lParam a ScanBatch of tracks, allocated by
// the worker, freed by the handler (or by the worker when posting fails).
#define MSG_SCAN_BATCH (WM_APP + 470)
// The music folder's watch: wParam its generation, lParam a WatchBatch of changes, allocated
// by the watch thread, freed by the handler (or by the thread when posting fails).
#define MSG_WATCH_BATCH (WM_APP + 471)

enum { SHARED_END_STOPPED = 1, SHARED_END_MISSING = 2 };

enum { TIMER_TICK = 1001, TIMER_ANIMATION = 1002, TIMER_IDLE_TRIM = 1003, TIMER_DELETE_RETRY = 1004 };

// Child controls of the main window.
enum { ID_SEARCH_BOX = 1010, ID_TAG_BOX = 1020, ID_NAME_BOX = 1025 };

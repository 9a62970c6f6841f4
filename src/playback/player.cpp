#include "playback/player.h"

#include <objbase.h>

#include "base/messages.h"
#include "base/wstr.h"
#include "playback/audio_decoder.h"
#include "playback/audio_output.h"

MediaPlayer g_player = {nullptr, {0}, {0}, {-1}, {0}, {0}, {0}, {0}, {0}, {80}, {0}};

enum { OPEN_END_MARGIN_MS = 250, SEEK_END_MARGIN_MS = 200, CLAMP_MIN_DURATION_MS = 500 };
// An opening that has not produced its media by then never will: some broken files leave
// the platform's resolver without an answer at all.
enum { OPEN_TIMEOUT_MS = 15000 };
// How long a close waits for the player's thread to let go of the file.
enum { RELEASE_WAIT_MS = 5000, QUIT_WAIT_MS = 5000 };

// What the main thread asks of the player's thread. Each kind is a slot the latest request
// overwrites, stamped with the generation it was made under; serials tell the thread which
// slots are new. Under the lock.
struct PlayerMail {
    unsigned open_serial, open_generation;
    int open_start_ms;
    wchar_t open_path[260];
    unsigned stop_serial, stop_generation;
    unsigned seek_serial, seek_generation;
    int seek_ms;
    unsigned prepare_serial, prepare_generation;
    wchar_t prepare_path[260];
    int quit;
};

struct ThreadTrack {
    AudioDecoder decoder;
    unsigned generation;
    int start_ms;       // where it starts once opened
    int written_all;    // decoded to its end and handed to the stream
    int end_reported;
    int near_end_told;
    wchar_t path[260];
};

static struct {
    CRITICAL_SECTION lock;
    int lock_made;
    HANDLE thread;
    HANDLE wake;      // the main thread left mail
    HANDLE done;      // the device returned a buffer
    HANDLE released;  // the thread let go of everything a stop asked for
    PlayerMail mail;
    AudioOutput out;  // written by the thread; read under the lock
    // The main thread's side.
    unsigned opened_generation;  // of the last open or stop: the stream's older parts are past
    unsigned prepared_generation;
    wchar_t prepared_path[260];
    // The thread's side.
    PlayerMail seen;
    ThreadTrack cur, next;
    unsigned heard;  // the generation whose part of the stream was last heard
    int switch_after_drain;  // the prepared track needs a stream of another format
    unsigned released_serial;
    unsigned prepare_done_serial;
} g_engine;

static int newer(unsigned a, unsigned b) {
    return (int)(a - b) > 0;
}

int player_clamp_open_position(int position_ms, int duration_ms) {
    if (position_ms < 0) return -1;
    if (duration_ms > CLAMP_MIN_DURATION_MS && position_ms > duration_ms - OPEN_END_MARGIN_MS)
        return duration_ms - OPEN_END_MARGIN_MS;
    return position_ms;
}

int player_clamp_seek_position(int position_ms, int duration_ms) {
    if (duration_ms >= CLAMP_MIN_DURATION_MS + 1 && position_ms >= duration_ms - SEEK_END_MARGIN_MS)
        return duration_ms - SEEK_END_MARGIN_MS;
    return position_ms;
}

//~ The player's thread

static void post_to_window(UINT message, unsigned generation) {
    if (g_player.main_window) PostMessageW(g_player.main_window, message, (WPARAM)generation, 0);
}

static void forget_track(ThreadTrack* t) {
    audio_decoder_close(&t->decoder);
    t->generation = 0;
    t->start_ms = 0;
    t->written_all = 0;
    t->end_reported = 0;
    t->near_end_told = 0;
    t->path[0] = 0;
}

static void close_stream(void) {
    EnterCriticalSection(&g_engine.lock);
    audio_output_close(&g_engine.out);
    LeaveCriticalSection(&g_engine.lock);
    g_engine.switch_after_drain = 0;
}

// The track of generation cannot be played: the player no longer means to play it.
static void report_failure(unsigned generation) {
    int current = 0;
    EnterCriticalSection(&g_engine.lock);
    if (g_player.generation.load() == generation) {
        current = 1;
        g_player.active = 0;
        g_player.paused = 0;
        g_player.media_ready = 0;
        g_player.pending_start_ms = -1;
    }
    LeaveCriticalSection(&g_engine.lock);
    if (current) post_to_window(MSG_TRACK_FAILED, generation);
}

static void begin_track(unsigned generation, const wchar_t* path, int start_ms) {
    forget_track(&g_engine.next);
    forget_track(&g_engine.cur);
    close_stream();  // every track asked for starts a stream of its own
    g_engine.cur.generation = generation;
    g_engine.cur.start_ms = start_ms;
    wstr_copy(g_engine.cur.path, path);
    g_engine.heard = generation;
    if (!audio_decoder_begin(&g_engine.cur.decoder, path, g_engine.wake)) report_failure(generation);
}

// The frame of the track that the next bytes handed on belong to.
static long long decoder_frame(const AudioDecoder* d) {
    if (d->chunk_offset < d->chunk_length) return d->chunk_frame + d->chunk_offset / d->format.block;
    if (d->next_frame >= 0) return d->next_frame > d->skip_to_frame ? d->next_frame : d->skip_to_frame;
    return d->skip_to_frame;
}

// A position asked for is applied: the main thread stops showing it as pending unless it
// asked for another meanwhile.
static void settle_position(unsigned generation, int position_ms) {
    EnterCriticalSection(&g_engine.lock);
    if (g_player.generation.load() == generation) {
        g_player.held_ms = position_ms;
        if (g_engine.mail.seek_serial == g_engine.seen.seek_serial) g_player.pending_start_ms = -1;
    }
    LeaveCriticalSection(&g_engine.lock);
}

static void seek_current(int position_ms) {
    ThreadTrack* t = &g_engine.cur;
    if (!audio_decoder_ready(&t->decoder)) {
        t->start_ms = position_ms;
        return;
    }
    // What was prepared stays prepared: it still follows this track.
    audio_decoder_seek(&t->decoder, position_ms);
    t->written_all = 0;
    t->end_reported = 0;
    if (g_engine.switch_after_drain) close_stream();
    EnterCriticalSection(&g_engine.lock);
    if (audio_output_is_open(&g_engine.out)) {
        audio_output_reset(&g_engine.out);
        audio_output_mark(&g_engine.out, t->generation, decoder_frame(&t->decoder), t->decoder.duration_ms);
    }
    LeaveCriticalSection(&g_engine.lock);
    g_engine.heard = t->generation;
    settle_position(t->generation, position_ms);
}

static void prepare(const wchar_t* path) {
    ThreadTrack* n = &g_engine.next;
    if (path[0] && n->generation && !wcscmp(n->path, path)) return;
    forget_track(n);
    if (!path[0]) return;
    wstr_copy(n->path, path);
    n->generation = g_engine.cur.generation;  // the track it follows
    audio_decoder_begin(&n->decoder, path, g_engine.wake);
}

// Reads the mail; 0 when the thread is to end.
static int take_mail(void) {
    EnterCriticalSection(&g_engine.lock);
    PlayerMail m = g_engine.mail;
    LeaveCriticalSection(&g_engine.lock);
    if (m.quit) return 0;
    int open_new = m.open_serial != g_engine.seen.open_serial;
    int stop_new = m.stop_serial != g_engine.seen.stop_serial;
    int seek_new = m.seek_serial != g_engine.seen.seek_serial;
    int prepare_new = m.prepare_serial != g_engine.seen.prepare_serial;
    g_engine.seen = m;
    // An open and a stop both new: whichever was made last wins.
    int stop_last = stop_new && (!open_new || newer(m.stop_generation, m.open_generation));
    if (open_new && !stop_last) begin_track(m.open_generation, m.open_path, m.open_start_ms);
    if (stop_new) {
        if (stop_last) {
            forget_track(&g_engine.next);
            forget_track(&g_engine.cur);
            close_stream();
        }
        g_engine.released_serial = m.stop_serial;
        SetEvent(g_engine.released);
    }
    if (seek_new && m.seek_generation == g_engine.cur.generation && g_engine.cur.generation) seek_current(m.seek_ms);
    if (prepare_new && m.prepare_generation == g_engine.cur.generation && g_engine.cur.generation) prepare(m.prepare_path);
    if (prepare_new) {
        g_engine.prepare_done_serial = m.prepare_serial;
        SetEvent(g_engine.released);
    }
    return 1;
}

static void on_current_ready(void) {
    ThreadTrack* t = &g_engine.cur;
    int duration = t->decoder.duration_ms;
    int start = t->start_ms >= 1 ? player_clamp_open_position(t->start_ms, duration) : 0;
    if (start > 0) audio_decoder_seek(&t->decoder, start);
    EnterCriticalSection(&g_engine.lock);
    if (g_player.generation.load() == t->generation) {
        g_player.duration_ms = duration;
        g_player.duration_s = duration / 1000;
        g_player.media_ready = 1;
    }
    LeaveCriticalSection(&g_engine.lock);
    settle_position(t->generation, start);
    if (g_player.main_window) InvalidateRect(g_player.main_window, nullptr, FALSE);
}

static void poll_openings(void) {
    ThreadTrack* t = &g_engine.cur;
    if (t->decoder.resolving) {
        int state = audio_decoder_poll(&t->decoder, OPEN_TIMEOUT_MS);
        if (state > 0) {
            on_current_ready();
        } else if (state < 0) {
            unsigned generation = t->generation;
            forget_track(t);
            forget_track(&g_engine.next);
            report_failure(generation);
        }
    }
    // A prepared track that cannot be opened is simply not prepared: the end of the current
    // one then opens it the ordinary way, which reports the failure.
    if (g_engine.next.decoder.resolving && audio_decoder_poll(&g_engine.next.decoder, OPEN_TIMEOUT_MS) < 0)
        forget_track(&g_engine.next);
}

static int open_stream_for_current(void) {
    ThreadTrack* t = &g_engine.cur;
    EnterCriticalSection(&g_engine.lock);
    int opened = audio_output_open(&g_engine.out, &t->decoder.format, g_engine.done, g_player.volume);
    if (opened) audio_output_mark(&g_engine.out, t->generation, decoder_frame(&t->decoder), t->decoder.duration_ms);
    LeaveCriticalSection(&g_engine.lock);
    return opened;
}

// The current track's decoder reached its end: the prepared track takes its place in the
// same stream when the main thread has not asked for something else meanwhile.
static int move_to_prepared(void) {
    ThreadTrack* n = &g_engine.next;
    if (!n->generation || n->generation != g_engine.cur.generation || !audio_decoder_ready(&n->decoder)) return 0;
    unsigned expected = g_engine.cur.generation;
    if (!g_player.generation.compare_exchange_strong(expected, expected + 1)) return 0;
    unsigned generation = expected + 1;
    int same_format = pcm_format_equal(&n->decoder.format, &g_engine.out.format);
    forget_track(&g_engine.cur);
    g_engine.cur = *n;
    g_engine.cur.generation = generation;
    g_engine.cur.start_ms = 0;
    memset(n, 0, sizeof *n);
    if (same_format) {
        EnterCriticalSection(&g_engine.lock);
        audio_output_mark(&g_engine.out, generation, decoder_frame(&g_engine.cur.decoder), g_engine.cur.decoder.duration_ms);
        LeaveCriticalSection(&g_engine.lock);
    } else {
        // What was written plays out first; the new stream opens after it.
        EnterCriticalSection(&g_engine.lock);
        audio_output_flush(&g_engine.out);
        LeaveCriticalSection(&g_engine.lock);
        g_engine.switch_after_drain = 1;
    }
    return 1;
}

// Asks the main window for the track to follow once the decoding is that close to the end:
// counted in the track's own time, so that the preparation is in time however fast the
// device takes the sound.
static void tell_near_end(void) {
    ThreadTrack* t = &g_engine.cur;
    if (t->near_end_told || t->decoder.duration_ms <= 0) return;
    long long left_ms = t->decoder.duration_ms - decoder_frame(&t->decoder) * 1000 / t->decoder.format.rate;
    if (left_ms > PLAYER_NEAR_END_MS) return;
    t->near_end_told = 1;
    if (g_player.generation.load() == t->generation) post_to_window(MSG_TRACK_NEAR_END, t->generation);
}

// Hands decoded sound to the stream while it has room.
static void feed(void) {
    ThreadTrack* t = &g_engine.cur;
    if (!t->generation || !audio_decoder_ready(&t->decoder)) return;
    int playing = g_player.active && !g_player.paused;
    EnterCriticalSection(&g_engine.lock);
    audio_output_pause(&g_engine.out, !playing);
    LeaveCriticalSection(&g_engine.lock);
    if (!playing || g_engine.switch_after_drain) return;
    // A track prepared late still follows in the same stream while the last of the one
    // before is being played.
    if (t->written_all && (!move_to_prepared() || g_engine.switch_after_drain)) return;
    if (!audio_output_is_open(&g_engine.out) && !open_stream_for_current()) {
        unsigned generation = t->generation;
        forget_track(t);
        report_failure(generation);
        return;
    }
    for (;;) {
        AudioDecoder* d = &g_engine.cur.decoder;
        tell_near_end();
        if (d->chunk_offset < d->chunk_length) {
            EnterCriticalSection(&g_engine.lock);
            int taken = audio_output_write(&g_engine.out, d->chunk + d->chunk_offset, d->chunk_length - d->chunk_offset);
            LeaveCriticalSection(&g_engine.lock);
            d->chunk_offset += taken;
            if (d->chunk_offset < d->chunk_length) return;  // the stream is full
            continue;
        }
        int state = audio_decoder_fill(d);
        if (state > 0) continue;
        if (state < 0 && d->frames_decoded == 0) {
            // Opened but not decodable: it fails instead of playing.
            unsigned generation = g_engine.cur.generation;
            forget_track(&g_engine.cur);
            close_stream();
            report_failure(generation);
            return;
        }
        if (move_to_prepared()) {
            if (g_engine.switch_after_drain) return;
            continue;
        }
        EnterCriticalSection(&g_engine.lock);
        audio_output_flush(&g_engine.out);
        LeaveCriticalSection(&g_engine.lock);
        g_engine.cur.written_all = 1;
        return;
    }
}

// The stream played out what was written: the prepared track of another format starts its
// stream, or the track has ended.
static void after_drain(void) {
    ThreadTrack* t = &g_engine.cur;
    if (!t->generation || !(t->written_all || g_engine.switch_after_drain) || !audio_output_is_open(&g_engine.out))
        return;
    EnterCriticalSection(&g_engine.lock);
    int drained = audio_output_drained(&g_engine.out);
    LeaveCriticalSection(&g_engine.lock);
    if (!drained) return;
    if (g_engine.switch_after_drain) {
        close_stream();
        feed();
        return;
    }
    close_stream();  // a stream left open would keep the device busy with silence
    if (t->end_reported) return;
    t->end_reported = 1;
    settle_position(t->generation, t->decoder.duration_ms);
    if (g_player.generation.load() == t->generation) post_to_window(MSG_TRACK_ENDED, t->generation);
}

// Tells the main window when the part of the stream heard now belongs to another track.
static void check_heard(void) {
    OutputMark heard;
    EnterCriticalSection(&g_engine.lock);
    int have = audio_output_now(&g_engine.out, &heard);
    int current = 0;
    if (have && heard.track != g_engine.heard && g_player.generation.load() == heard.track) {
        current = 1;
        g_player.duration_ms = heard.duration_ms;
        g_player.duration_s = heard.duration_ms / 1000;
        g_player.held_ms = 0;
    }
    LeaveCriticalSection(&g_engine.lock);
    if (!have || heard.track == g_engine.heard) return;
    g_engine.heard = heard.track;
    if (current) post_to_window(MSG_TRACK_ADVANCED, heard.track);
}

static void wait_for_work(void) {
    HANDLE handles[2] = {g_engine.wake, g_engine.done};  // resolvers signal wake too
    DWORD count = 2;
    DWORD timeout = INFINITE;
    if (g_engine.cur.decoder.resolving || g_engine.next.decoder.resolving) timeout = 500;
    EnterCriticalSection(&g_engine.lock);
    int to_mark = audio_output_ms_to_next_mark(&g_engine.out);
    LeaveCriticalSection(&g_engine.lock);
    // The change of track is told within a few milliseconds of being heard.
    if (to_mark >= 0 && (DWORD)to_mark + 1 < timeout) timeout = (DWORD)to_mark + 1;
    WaitForMultipleObjects(count, handles, FALSE, timeout);
}

static DWORD WINAPI player_thread(void*) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (take_mail()) {
        poll_openings();
        feed();
        after_drain();
        check_heard();
        wait_for_work();
    }
    forget_track(&g_engine.next);
    forget_track(&g_engine.cur);
    close_stream();
    audio_media_stop();
    CoUninitialize();
    return 0;
}

//~ The main thread's side

static void send_mail(void) {
    if (g_engine.wake) SetEvent(g_engine.wake);
}

int player_init(HWND main_window) {
    g_player.main_window = main_window;
    if (!g_engine.lock_made) {
        InitializeCriticalSection(&g_engine.lock);
        g_engine.lock_made = 1;
    }
    if (g_engine.thread) return 1;
    g_engine.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_engine.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_engine.released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_engine.out.done_event = g_engine.done;
    g_engine.out.filling = -1;
    memset(&g_engine.mail, 0, sizeof g_engine.mail);
    memset(&g_engine.seen, 0, sizeof g_engine.seen);
    if (g_engine.wake && g_engine.done && g_engine.released)
        g_engine.thread = CreateThread(nullptr, 0, player_thread, nullptr, 0, nullptr);
    return g_engine.thread != nullptr;
}

int player_open(const wchar_t* path, int start_ms, int start_paused) {
    if (!path || !path[0] || !g_engine.thread) return 0;
    wstr_copy(g_player.path, path);
    EnterCriticalSection(&g_engine.lock);
    unsigned generation = ++g_player.generation;
    g_engine.opened_generation = generation;
    g_player.media_ready = 0;
    g_player.pending_start_ms = start_ms < 1 ? -1 : start_ms;
    g_player.held_ms = 0;
    g_player.duration_ms = 0;
    g_player.duration_s = 0;
    g_player.active = 1;
    g_player.paused = start_paused ? 1 : 0;
    PlayerMail* m = &g_engine.mail;
    m->open_serial++;
    m->open_generation = generation;
    m->open_start_ms = start_ms < 1 ? 0 : start_ms;
    wstr_copy(m->open_path, path);
    LeaveCriticalSection(&g_engine.lock);
    send_mail();
    return 1;
}

void player_play(void) {
    if (!g_engine.thread || !g_player.generation.load()) return;
    g_player.active = 1;
    g_player.paused = 0;
    send_mail();
}

void player_toggle_pause(void) {
    if (!g_engine.thread) return;
    if (g_player.active && !g_player.paused) {
        g_player.paused = 1;
    } else if (g_player.paused) {
        g_player.paused = 0;
    }
    send_mail();
}

// Waits (a bounded time) until the thread has handled the request of serial, which it
// records in *done.
static void wait_for_thread(const unsigned* done, unsigned serial) {
    DWORD started = GetTickCount();
    while (GetTickCount() - started < RELEASE_WAIT_MS) {
        EnterCriticalSection(&g_engine.lock);
        int handled = !newer(serial, *done);
        LeaveCriticalSection(&g_engine.lock);
        if (handled) return;
        WaitForSingleObject(g_engine.released, 50);
    }
}

static unsigned stop_request(void) {
    EnterCriticalSection(&g_engine.lock);
    unsigned generation = ++g_player.generation;
    g_engine.opened_generation = generation;
    g_player.media_ready = 0;
    g_player.pending_start_ms = -1;
    g_player.held_ms = 0;
    g_player.active = 0;
    g_player.paused = 0;
    g_player.duration_ms = 0;
    g_player.duration_s = 0;
    PlayerMail* m = &g_engine.mail;
    unsigned serial = ++m->stop_serial;
    m->stop_generation = generation;
    ResetEvent(g_engine.released);
    LeaveCriticalSection(&g_engine.lock);
    send_mail();
    return serial;
}

void player_stop(void) {
    if (!g_engine.lock_made) return;
    stop_request();
}

void player_close(void) {
    if (!g_engine.lock_made) return;
    unsigned serial = stop_request();
    if (!g_engine.thread) return;
    // The caller is about to change or delete the file: wait until the thread has let go.
    wait_for_thread(&g_engine.released_serial, serial);
}

int player_is_playing(void) {
    return g_player.active && !g_player.paused;
}

int player_has_track(void) {
    return g_player.active != 0;
}

int player_event_is_current(WPARAM generation) {
    return (unsigned)generation == g_player.generation.load();
}

int player_position_ms(void) {
    int pending = g_player.pending_start_ms;
    if (pending >= 0) return pending;
    if (!g_player.active || !g_engine.lock_made) return g_player.held_ms;
    OutputMark heard;
    int position = g_player.held_ms;
    EnterCriticalSection(&g_engine.lock);
    // Parts of the stream from before the last open or stop are no longer what plays.
    if (audio_output_now(&g_engine.out, &heard) && !newer(g_engine.opened_generation, heard.track))
        position = (int)(heard.track_frame * 1000 / g_engine.out.format.rate);
    LeaveCriticalSection(&g_engine.lock);
    return position;
}

int player_position_seconds(void) {
    return player_position_ms() / 1000;
}

int player_duration_ms(void) {
    return g_player.duration_ms;
}

int player_duration_seconds(void) {
    return g_player.duration_s;
}

void player_seek_ms(int position_ms) {
    if (!g_engine.thread || position_ms < 0 || !g_player.active) return;
    int target = g_player.media_ready ? player_clamp_seek_position(position_ms, g_player.duration_ms) : position_ms;
    EnterCriticalSection(&g_engine.lock);
    g_player.pending_start_ms = target;
    PlayerMail* m = &g_engine.mail;
    m->seek_serial++;
    m->seek_generation = g_player.generation.load();
    m->seek_ms = target;
    LeaveCriticalSection(&g_engine.lock);
    send_mail();
}

void player_set_volume(int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    g_player.volume = percent;
    if (!g_engine.lock_made) return;
    EnterCriticalSection(&g_engine.lock);
    audio_output_set_volume(&g_engine.out, percent);
    LeaveCriticalSection(&g_engine.lock);
}

int player_get_volume(void) {
    return g_player.volume;
}

void player_prepare_next(const wchar_t* path) {
    if (!g_engine.thread) return;
    if (!path) path = L"";
    unsigned generation = g_player.generation.load();
    if (g_engine.prepared_generation == generation && !wcscmp(g_engine.prepared_path, path)) return;
    g_engine.prepared_generation = generation;
    wstr_copy(g_engine.prepared_path, path);
    EnterCriticalSection(&g_engine.lock);
    PlayerMail* m = &g_engine.mail;
    m->prepare_serial++;
    m->prepare_generation = generation;
    wstr_copy(m->prepare_path, path);
    LeaveCriticalSection(&g_engine.lock);
    send_mail();
}

void player_forget_prepared(void) {
    if (!g_engine.thread || !player_prepared_path()[0]) return;
    player_prepare_next(nullptr);
    EnterCriticalSection(&g_engine.lock);
    unsigned serial = g_engine.mail.prepare_serial;
    ResetEvent(g_engine.released);
    LeaveCriticalSection(&g_engine.lock);
    wait_for_thread(&g_engine.prepare_done_serial, serial);
}

const wchar_t* player_prepared_path(void) {
    return g_engine.prepared_generation == g_player.generation.load() ? g_engine.prepared_path : L"";
}

int player_take_advance(WPARAM generation) {
    if (!player_event_is_current(generation)) return 0;
    // The thread moved on only from the generation the preparation was made under.
    if ((unsigned)generation == g_engine.prepared_generation + 1) wstr_copy(g_player.path, g_engine.prepared_path);
    g_engine.prepared_generation = 0;
    g_engine.prepared_path[0] = 0;
    EnterCriticalSection(&g_engine.lock);
    g_engine.opened_generation = (unsigned)generation;
    LeaveCriticalSection(&g_engine.lock);
    return 1;
}

void player_shutdown(void) {
    if (!g_engine.lock_made) return;
    EnterCriticalSection(&g_engine.lock);
    ++g_player.generation;
    g_engine.mail.quit = 1;
    LeaveCriticalSection(&g_engine.lock);
    if (g_engine.thread) {
        send_mail();
        WaitForSingleObject(g_engine.thread, QUIT_WAIT_MS);
        CloseHandle(g_engine.thread);
        g_engine.thread = nullptr;
    }
    if (g_engine.wake) CloseHandle(g_engine.wake);
    if (g_engine.done) CloseHandle(g_engine.done);
    if (g_engine.released) CloseHandle(g_engine.released);
    g_engine.wake = g_engine.done = g_engine.released = nullptr;
    g_engine.prepared_generation = 0;
    g_engine.prepared_path[0] = 0;
    g_player.active = 0;
    g_player.paused = 0;
    g_player.media_ready = 0;
    g_player.pending_start_ms = -1;
    g_player.held_ms = 0;
    g_player.duration_ms = 0;
    g_player.duration_s = 0;
}

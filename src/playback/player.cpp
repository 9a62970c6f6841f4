#include "playback/player.h"

#include <mfplay.h>
#include <propidl.h>

#include <new>

#include "base/messages.h"
#include "base/wstr.h"
#include "playback/offset_source.h"

MediaPlayer g_player = {nullptr, nullptr, nullptr, nullptr, nullptr, {0}, {0}, {-1}, 0, 0, 0, 0, 80, 0, 0, {0}};

// Position values are in 100-ns units; the position type for that is the null GUID.
static const GUID POSITION_TYPE_100NS = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
static const IID IID_MEDIA_PLAYER_CALLBACK = {
    0x766C8FFB, 0x5D7D, 0x41BE, {0x9E, 0x50, 0x58, 0x3E, 0xAA, 0xB4, 0xF6, 0x69}};

enum { OPEN_END_MARGIN_MS = 250, SEEK_END_MARGIN_MS = 200, CLAMP_MIN_DURATION_MS = 500 };
// An opening that has not produced its media by then never will: some broken files leave
// the platform's resolver without an answer at all.
enum { OPEN_TIMEOUT_MS = 15000 };

//~ Callback object

// The platform holds its own reference; the object lives until both sides let go, so a
// late event after shutdown never lands in freed memory.
struct PlayerCallback final : IMFPMediaPlayerCallback {
    std::atomic<LONG> refs{1};
    virtual ~PlayerCallback() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_MEDIA_PLAYER_CALLBACK)) {
            *out = static_cast<IMFPMediaPlayerCallback*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = --refs;
        if (left == 0) delete this;
        return (ULONG)left;
    }
    void STDMETHODCALLTYPE OnMediaPlayerEvent(MFP_EVENT_HEADER* header) override;
};

static void set_player_volume(void) {
    if (g_player.player) g_player.player->SetVolume((float)g_player.volume / 100.0f);
}

// Returns 0 when the platform player cannot change the position at all.
static int set_player_position(int position_ms) {
    PROPVARIANT var;
    PropVariantInit(&var);
    var.vt = VT_I8;
    var.hVal.QuadPart = (LONGLONG)position_ms * 10000;
    if (g_player.player->SetPosition(POSITION_TYPE_100NS, &var) != E_NOTIMPL) return 1;
    g_player.seek_unsupported = 1;
    return 0;
}

static int open_request(int start_ms, int start_paused, int seek);

// The thread timer watching the current opening, and the opening it watches.
static UINT_PTR g_watch_timer;
static unsigned g_watch_generation;

static void stop_watch(void) {
    if (g_watch_timer) KillTimer(nullptr, g_watch_timer);
    g_watch_timer = 0;
}

// Tells the main window that the request of generation failed; the player no longer means to
// play it.
static void report_failure(unsigned generation) {
    if (generation != g_player.generation.load()) return;
    g_player.active = 0;
    g_player.paused = 0;
    g_player.media_ready = 0;
    g_player.pending_start_ms = -1;
    if (g_player.main_window) PostMessageW(g_player.main_window, MSG_TRACK_FAILED, (WPARAM)generation, 0);
}

// A start position the player could not apply is applied by opening the file again through
// a source that starts there. Done from a timer, not from inside the player's own event; the
// request it belongs to must still be the current one, and a seek made meanwhile wins.
static unsigned g_reopen_generation;

static void CALLBACK open_watchdog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (id != g_watch_timer) return;
    g_watch_timer = 0;
    if (g_player.active && !g_player.media_ready) report_failure(g_watch_generation);
}

static void CALLBACK reopen_timer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (g_reopen_generation != g_player.generation.load() || !g_player.active) return;
    int at = g_player.pending_start_ms;
    open_request(at > 0 ? at : 0, g_player.paused, 0);
}

// Fills the duration caches from the player; a failed query leaves them.
static void read_duration(void) {
    PROPVARIANT var;
    PropVariantInit(&var);
    if (SUCCEEDED(g_player.player->GetDuration(POSITION_TYPE_100NS, &var)) &&
        (var.vt == VT_I8 || var.vt == VT_UI8)) {
        g_player.duration_ms = (int)(var.hVal.QuadPart / 10000);
        g_player.duration_s = (int)(var.hVal.QuadPart / 10000000);
    }
    PropVariantClear(&var);
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

void PlayerCallback::OnMediaPlayerEvent(MFP_EVENT_HEADER* header) {
    // Events of a player already replaced by the next open belong to nobody.
    if (!header || !g_player.player || header->pMediaPlayer != g_player.player) return;
    unsigned generation = g_player.generation.load();
    switch (header->eEventType) {
    case MFP_EVENT_TYPE_MEDIAITEM_CREATED: {
        MFP_MEDIAITEM_CREATED_EVENT* e = MFP_GET_MEDIAITEM_CREATED_EVENT(header);
        // An item of an older request (another track was picked meanwhile) is dropped.
        if (e->dwUserData != (DWORD_PTR)generation) break;
        if (e->pMediaItem && SUCCEEDED(header->hrEvent)) {
            if (FAILED(g_player.player->SetMediaItem(e->pMediaItem))) report_failure(generation);
        } else {
            report_failure(generation);
        }
        break;
    }
    case MFP_EVENT_TYPE_MEDIAITEM_SET:
        if (FAILED(header->hrEvent)) {
            report_failure(generation);
        } else {
            read_duration();
            int start = g_player.pending_start_ms.exchange(-1);
            if (start >= 0 && !set_player_position(player_clamp_open_position(start, g_player.duration_ms))) {
                // Not ready after all: the file is opened again at the start position, and
                // until then the position reads as that start.
                g_player.pending_start_ms = start;
                g_reopen_generation = g_player.generation.load();
                SetTimer(nullptr, 0, 0, reopen_timer);
            } else {
                g_player.media_ready = 1;
                set_player_volume();
                if (g_player.active && !g_player.paused) g_player.player->Play();
            }
        }
        if (g_player.main_window) InvalidateRect(g_player.main_window, nullptr, FALSE);
        break;
    case MFP_EVENT_TYPE_PLAYBACK_ENDED:
        if (g_player.main_window) PostMessageW(g_player.main_window, MSG_TRACK_ENDED, (WPARAM)generation, 0);
        break;
    case MFP_EVENT_TYPE_ERROR:
        // A file that opened but cannot be decoded ends here instead of playing.
        if (g_player.active) report_failure(generation);
        break;
    default:
        break;
    }
}

//~ Operations

int player_init(HWND main_window) {
    g_player.main_window = main_window;
    if (!g_player.callback) g_player.callback = new (std::nothrow) PlayerCallback();
    return g_player.callback != nullptr;
}

static void release_player(void) {
    if (!g_player.player) return;
    g_player.player->Stop();
    g_player.player->ClearMediaItem();
    g_player.player->Shutdown();
    g_player.player->Release();
    g_player.player = nullptr;
}

static int create_player(void) {
    if (!g_player.callback) return 0;
    if (!g_player.library) {
        g_player.library = LoadLibraryW(L"mfplay.dll");
        if (!g_player.library) return 0;
    }
    if (!g_player.create_fn) {
        g_player.create_fn = (MfpCreateMediaPlayerFn)(void*)GetProcAddress(g_player.library, "MFPCreateMediaPlayer");
        if (!g_player.create_fn) return 0;
    }
    IMFPMediaPlayer* player = nullptr;
    HRESULT hr = g_player.create_fn(nullptr, FALSE, 0, static_cast<IMFPMediaPlayerCallback*>(g_player.callback),
                                    nullptr, &player);
    if (FAILED(hr) || !player) return 0;
    g_player.player = player;
    set_player_volume();
    return 1;
}

int player_open(const wchar_t* path, int start_ms, int start_paused) {
    if (!path || !path[0]) return 0;
    wstr_copy(g_player.path, path);
    return open_request(start_ms, start_paused, 0);
}

static int open_request(int start_ms, int start_paused, int seek) {
    // A fresh platform player for every file: a player whose item has played to its end
    // does not start the next item on every platform version (Wine's, at least), and a
    // player costs little next to opening the file.
    release_player();
    unsigned request = ++g_player.generation;
    if (!create_player()) {
        report_failure(request);
        return 0;
    }
    g_player.media_ready = 0;
    g_player.pending_start_ms = start_ms < 1 ? -1 : start_ms;
    g_player.position_offset_ms = 0;
    if (!seek) {
        // Reopened for a seek, it is the same file: the length shown meanwhile stays.
        g_player.duration_ms = 0;
        g_player.duration_s = 0;
    }
    g_player.active = 1;
    g_player.paused = start_paused ? 1 : 0;
    HRESULT hr = E_FAIL;
    IMFMediaSource* source = nullptr;
    int start_used = 0;
    if (start_ms >= 1 && g_player.seek_unsupported &&
        offset_source_create(g_player.path, start_ms, seek, &source, &start_used)) {
        // Some versions write the item pointer even in asynchronous mode; it is not needed.
        IMFPMediaItem* item = nullptr;
        hr = g_player.player->CreateMediaItemFromObject(source, FALSE, (DWORD_PTR)request, &item);
        if (item) item->Release();
        source->Release();
        if (SUCCEEDED(hr)) {
            g_player.pending_start_ms = -1;
            g_player.position_offset_ms = start_used;
        }
    }
    if (FAILED(hr)) {
        g_player.position_offset_ms = 0;
        hr = g_player.player->CreateMediaItemFromURL(g_player.path, FALSE, (DWORD_PTR)request, nullptr);
    }
    if (FAILED(hr)) {
        report_failure(request);
        return 0;
    }
    stop_watch();
    g_watch_generation = request;
    g_watch_timer = SetTimer(nullptr, 0, OPEN_TIMEOUT_MS, open_watchdog);
    return 1;
}

void player_play(void) {
    if (!g_player.player) return;
    g_player.active = 1;
    g_player.paused = 0;
    if (g_player.media_ready) g_player.player->Play();
}

void player_toggle_pause(void) {
    if (!g_player.player) return;
    if (g_player.active && !g_player.paused) {
        if (g_player.media_ready) g_player.player->Pause();
        g_player.paused = 1;
    } else if (g_player.paused) {
        g_player.paused = 0;
        if (g_player.media_ready) g_player.player->Play();
    }
}

void player_stop(void) {
    ++g_player.generation;
    g_player.media_ready = 0;
    g_player.pending_start_ms = -1;
    g_player.position_offset_ms = 0;
    if (g_player.player) g_player.player->Stop();
    g_player.active = 0;
    g_player.paused = 0;
    g_player.duration_ms = 0;
    g_player.duration_s = 0;
}

int player_is_playing(void) {
    return g_player.active && !g_player.paused;
}

int player_has_track(void) {
    return g_player.player && g_player.active;
}

int player_event_is_current(WPARAM generation) {
    return (unsigned)generation == g_player.generation.load();
}

int player_position_ms(void) {
    if (!g_player.player || !g_player.media_ready) {
        int pending = g_player.pending_start_ms;
        return pending >= 0 ? pending : g_player.position_offset_ms;
    }
    PROPVARIANT var;
    PropVariantInit(&var);
    int ms = g_player.position_offset_ms;
    if (SUCCEEDED(g_player.player->GetPosition(POSITION_TYPE_100NS, &var)) && (var.vt == VT_I8 || var.vt == VT_UI8))
        ms += (int)(var.hVal.QuadPart / 10000);
    PropVariantClear(&var);
    return ms;
}

int player_position_seconds(void) {
    return player_position_ms() / 1000;
}

int player_duration_ms(void) {
    if (!g_player.player || !g_player.media_ready) return g_player.duration_ms;
    if (g_player.duration_ms < 1) read_duration();
    return g_player.duration_ms;
}

int player_duration_seconds(void) {
    if (!g_player.player || !g_player.media_ready) return g_player.duration_s;
    if (g_player.duration_ms < 1) read_duration();
    return g_player.duration_ms > 0 ? g_player.duration_ms / 1000 : g_player.duration_s;
}

void player_seek_ms(int position_ms) {
    if (!g_player.player || position_ms < 0) return;
    if (!g_player.media_ready) {
        g_player.pending_start_ms = position_ms;
        return;
    }
    int target = player_clamp_seek_position(position_ms, player_duration_ms());
    if (!g_player.seek_unsupported && set_player_position(target)) return;
    if (g_player.active) open_request(target, g_player.paused, 1);
}

void player_close(void) {
    player_stop();
    release_player();
}

void player_set_volume(int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    g_player.volume = percent;
    set_player_volume();
}

int player_get_volume(void) {
    return g_player.volume;
}

void player_shutdown(void) {
    ++g_player.generation;
    stop_watch();
    release_player();
    g_player.position_offset_ms = 0;
    g_player.active = 0;
    g_player.paused = 0;
    g_player.media_ready = 0;
    g_player.duration_ms = 0;
    g_player.duration_s = 0;
    if (g_player.callback) {
        g_player.callback->Release();
        g_player.callback = nullptr;
    }
    // mfplay.dll stays loaded: a player that was just shut down can still have messages
    // queued for its hidden window, and dispatching one into unloaded code crashes. The
    // library is loaded once per process and the system frees it at exit.
}

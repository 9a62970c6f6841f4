#include "app/media_overlay.h"

#include <inspectable.h>
#include <eventtoken.h>
#include <hstring.h>
#include <shlwapi.h>

#include <atomic>
#include <new>

#include "app/play_queue.h"
#include "base/messages.h"
#include "library/matching.h"
#include "playback/player.h"

// The interfaces as the Windows SDK declares them (windows.media.h and
// systemmediatransportcontrolsinterop.h), in their slot order; only what is used is named.
namespace {

const IID IID_OVERLAY_INTEROP = {0xddb0472d, 0xc911, 0x4a1f, {0x86, 0xd9, 0xdc, 0x3d, 0x71, 0xa9, 0x5f, 0x5a}};
const IID IID_CONTROLS = {0x99fa3ff4, 0x1742, 0x42a6, {0x90, 0x2e, 0x08, 0x7d, 0x41, 0xf9, 0x65, 0xec}};
const IID IID_BUTTON_HANDLER = {0x0557e996, 0x7b23, 0x5bae, {0xaa, 0x81, 0xea, 0x0d, 0x67, 0x11, 0x43, 0xa4}};
const IID IID_MUSIC_PROPERTIES = {0x6bbf0c59, 0xd0a0, 0x4d26, {0x92, 0xa0, 0xf9, 0x78, 0xe1, 0xd1, 0x8e, 0x7b}};
const IID IID_AGILE = {0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
const IID IID_RANDOM_ACCESS_STREAM = {0x905a0fe1, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
const IID IID_STREAM_REFERENCE_STATICS = {0x857309dc, 0x3fbf, 0x4e7d, {0x98, 0x6f, 0xef, 0x3b, 0x1a, 0x07, 0xa9, 0x64}};

enum { STATUS_STOPPED = 2, STATUS_PLAYING = 3, STATUS_PAUSED = 4, TYPE_MUSIC = 1 };

struct IOverlayInterop : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetForWindow(HWND window, REFIID riid, void** controls) = 0;
};

struct IMusicProperties : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Title(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Title(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AlbumArtist(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AlbumArtist(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Artist(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Artist(HSTRING value) = 0;
};

struct IDisplayUpdater : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Type(int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Type(int value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AppMediaId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AppMediaId(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Thumbnail(IUnknown** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Thumbnail(IUnknown* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MusicProperties(IMusicProperties** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoProperties(IUnknown** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ImageProperties(IUnknown** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyFromFileAsync(int type, IUnknown* source, IUnknown** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearAll(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE Update(void) = 0;
};

// Windows.Storage.Streams.RandomAccessStreamReference's statics: the thumbnail is a
// reference to a stream.
struct IStreamReferenceStatics : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateFromFile(IUnknown* file, IUnknown** reference) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFromUri(IUnknown* uri, IUnknown** reference) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFromStream(IUnknown* stream, IUnknown** reference) = 0;
};

struct IButtonPressedArgs : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Button(int* value) = 0;
};

struct IControls : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_PlaybackStatus(int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_PlaybackStatus(int value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DisplayUpdater(IDisplayUpdater** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SoundLevel(int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPlayEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsPlayEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsStopEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsStopEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPauseEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsPauseEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRecordEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsRecordEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsFastForwardEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsFastForwardEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRewindEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsRewindEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPreviousEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsPreviousEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsNextEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsNextEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsChannelUpEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsChannelUpEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsChannelDownEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsChannelDownEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_ButtonPressed(IUnknown* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_ButtonPressed(EventRegistrationToken token) = 0;
};

typedef HRESULT(WINAPI* RoGetActivationFactoryFn)(HSTRING, REFIID, void**);
typedef HRESULT(WINAPI* WindowsCreateStringFn)(const WCHAR*, UINT32, HSTRING*);
typedef HRESULT(WINAPI* WindowsDeleteStringFn)(HSTRING);
// shcore.dll's, not declared by mingw's headers; options 0 is BSOS_DEFAULT.
typedef HRESULT(WINAPI* StreamOverStreamFn)(IStream*, int options, REFIID, void**);

// The handler the overlay calls, on a thread of its own, when one of its buttons is pressed.
struct ButtonHandler final : IUnknown {
    std::atomic<ULONG> references{1};
    HWND window = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_AGILE) || IsEqualIID(riid, IID_BUTTON_HANDLER)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references;
        if (left == 0) delete this;
        return left;
    }
    // The delegate's one method, after IUnknown's three.
    virtual HRESULT STDMETHODCALLTYPE Invoke(IInspectable*, IButtonPressedArgs* args) {
        int button = -1;
        if (args && SUCCEEDED(args->get_Button(&button)) && button >= 0)
            PostMessageW(window, MSG_SMTC_BUTTON, (WPARAM)button, 0);
        return S_OK;
    }
};

}  // namespace

static struct {
    HMODULE combase;
    RoGetActivationFactoryFn get_factory;
    WindowsCreateStringFn create_string;
    WindowsDeleteStringFn delete_string;
    IControls* controls;
    ButtonHandler* handler;
    EventRegistrationToken token;
} g_overlay;

int media_overlay_start(HWND window) {
    if (g_overlay.controls) return 1;
    if (!g_overlay.combase) g_overlay.combase = LoadLibraryW(L"combase.dll");
    if (!g_overlay.combase) return 0;
    auto get_factory = (RoGetActivationFactoryFn)(void*)GetProcAddress(g_overlay.combase, "RoGetActivationFactory");
    g_overlay.get_factory = get_factory;
    g_overlay.create_string = (WindowsCreateStringFn)(void*)GetProcAddress(g_overlay.combase, "WindowsCreateString");
    g_overlay.delete_string = (WindowsDeleteStringFn)(void*)GetProcAddress(g_overlay.combase, "WindowsDeleteString");
    if (!get_factory || !g_overlay.create_string || !g_overlay.delete_string) return 0;
    static const wchar_t CLASS_NAME[] = L"Windows.Media.SystemMediaTransportControls";
    HSTRING name = nullptr;
    if (FAILED(g_overlay.create_string(CLASS_NAME, (UINT32)(sizeof CLASS_NAME / sizeof CLASS_NAME[0] - 1), &name)))
        return 0;
    IOverlayInterop* interop = nullptr;
    HRESULT hr = get_factory(name, IID_OVERLAY_INTEROP, (void**)&interop);  // REGDB_E_CLASSNOTREG under Wine
    g_overlay.delete_string(name);
    if (FAILED(hr) || !interop) return 0;
    IControls* controls = nullptr;
    hr = interop->GetForWindow(window, IID_CONTROLS, (void**)&controls);
    interop->Release();
    if (FAILED(hr) || !controls) return 0;
    controls->put_IsEnabled(TRUE);
    controls->put_IsPlayEnabled(TRUE);
    controls->put_IsPauseEnabled(TRUE);
    controls->put_IsStopEnabled(TRUE);
    controls->put_IsNextEnabled(TRUE);
    controls->put_IsPreviousEnabled(TRUE);
    ButtonHandler* handler = new (std::nothrow) ButtonHandler();
    if (!handler) {
        controls->Release();
        return 0;
    }
    handler->window = window;
    if (FAILED(controls->add_ButtonPressed(handler, &g_overlay.token))) {
        handler->Release();
        controls->Release();
        return 0;
    }
    g_overlay.controls = controls;
    g_overlay.handler = handler;
    return 1;
}

int media_overlay_active(void) { return g_overlay.controls != nullptr; }

static HSTRING make_string(const wchar_t* text) {
    HSTRING s = nullptr;
    if (FAILED(g_overlay.create_string(text, (UINT32)wcslen(text), &s))) return nullptr;
    return s;
}

void media_overlay_show(const wchar_t* display_title, int playing, int has_track) {
    if (!g_overlay.controls) return;
    g_overlay.controls->put_PlaybackStatus(playing ? STATUS_PLAYING : has_track ? STATUS_PAUSED : STATUS_STOPPED);
    IDisplayUpdater* updater = nullptr;
    if (FAILED(g_overlay.controls->get_DisplayUpdater(&updater)) || !updater) return;
    if (!has_track) {
        updater->ClearAll();
    } else {
        updater->put_Type(TYPE_MUSIC);
        IMusicProperties* music = nullptr;
        if (SUCCEEDED(updater->get_MusicProperties(&music)) && music) {
            // Split as the list shows it: "Artist - Title".
            wchar_t artist[128], title[256];
            split_artist_title(display_title ? display_title : L"", artist, 128, title, 256);
            HSTRING t = make_string(title), a = make_string(artist);
            music->put_Title(t);
            music->put_Artist(a);
            if (t) g_overlay.delete_string(t);
            if (a) g_overlay.delete_string(a);
            music->Release();
        }
    }
    updater->Update();
    updater->Release();
}

// A stream reference over a copy of the bytes, or null where the system lacks a piece of it.
static IUnknown* make_thumbnail(const void* bytes, int length) {
    static StreamOverStreamFn over_stream = nullptr;
    if (!over_stream) {
        HMODULE shcore = LoadLibraryW(L"shcore.dll");
        if (shcore) over_stream = (StreamOverStreamFn)(void*)GetProcAddress(shcore, "CreateRandomAccessStreamOverStream");
    }
    if (!over_stream || !g_overlay.get_factory) return nullptr;
    IUnknown* reference = nullptr;
    IUnknown* random = nullptr;
    IStreamReferenceStatics* statics = nullptr;
    HSTRING name = nullptr;
    IStream* stream = SHCreateMemStream((const BYTE*)bytes, (UINT)length);
    if (!stream) return nullptr;
    if (SUCCEEDED(over_stream(stream, 0, IID_RANDOM_ACCESS_STREAM, (void**)&random)) && random &&
        (name = make_string(L"Windows.Storage.Streams.RandomAccessStreamReference")) != nullptr &&
        SUCCEEDED(g_overlay.get_factory(name, IID_STREAM_REFERENCE_STATICS, (void**)&statics)) && statics) {
        if (FAILED(statics->CreateFromStream(random, &reference))) reference = nullptr;
    }
    if (statics) statics->Release();
    if (name) g_overlay.delete_string(name);
    if (random) random->Release();
    stream->Release();
    return reference;
}

void media_overlay_set_cover(const void* bytes, int length) {
    if (!g_overlay.controls) return;
    IDisplayUpdater* updater = nullptr;
    if (FAILED(g_overlay.controls->get_DisplayUpdater(&updater)) || !updater) return;
    IUnknown* thumbnail = bytes && length > 0 ? make_thumbnail(bytes, length) : nullptr;
    updater->put_Thumbnail(thumbnail);  // null takes the last track's picture away
    if (thumbnail) thumbnail->Release();
    updater->Release();
}

void media_overlay_stop(void) {
    if (!g_overlay.controls) return;
    g_overlay.controls->remove_ButtonPressed(g_overlay.token);
    g_overlay.controls->put_IsEnabled(FALSE);
    g_overlay.controls->Release();
    g_overlay.controls = nullptr;
    if (g_overlay.handler) g_overlay.handler->Release();
    g_overlay.handler = nullptr;
}

int on_media_overlay_button(WPARAM button) {
    switch (button) {
    case 0:  // play
        if (!player_is_playing()) toggle_play();
        return 1;
    case 1:  // pause
        if (player_is_playing()) toggle_play();
        return 1;
    case 2: stop_playback(); return 1;
    case 6: play_next(); return 1;
    case 7: play_previous(); return 1;
    }
    return 0;
}

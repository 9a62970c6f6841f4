#include "playback/offset_source.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <atomic>
#include <new>

#include "playback/player.h"

// mfplat.dll is loaded when a file first needs this source (only where the player cannot
// set a position), not at program start: it brings a crowd of other libraries with it.
typedef HRESULT(WINAPI* MFStartupFn)(ULONG, DWORD);
typedef HRESULT(WINAPI* MFCreateSourceResolverFn)(IMFSourceResolver**);
typedef HRESULT(WINAPI* MFCreateMediaEventFn)(MediaEventType, REFGUID, HRESULT, const PROPVARIANT*, IMFMediaEvent**);

static struct {
    int tried;
    MFCreateSourceResolverFn create_resolver;
    MFCreateMediaEventFn create_event;
} g_mf;

static int load_mfplat(void) {
    if (g_mf.tried) return g_mf.create_resolver != nullptr;
    g_mf.tried = 1;
    HMODULE mfplat = LoadLibraryW(L"mfplat.dll");
    if (!mfplat) return 0;
    MFStartupFn startup = (MFStartupFn)(void*)GetProcAddress(mfplat, "MFStartup");
    MFCreateSourceResolverFn resolver = (MFCreateSourceResolverFn)(void*)GetProcAddress(mfplat, "MFCreateSourceResolver");
    g_mf.create_event = (MFCreateMediaEventFn)(void*)GetProcAddress(mfplat, "MFCreateMediaEvent");
    if (!startup || !resolver || !g_mf.create_event || FAILED(startup(MF_VERSION, MFSTARTUP_LITE))) return 0;
    g_mf.create_resolver = resolver;
    return 1;
}

// What both wrappers share: a reference count, identity for their own interface, and the
// inner object's event queue.
template <class Interface, const IID* INTERFACE_ID>
struct EventForwarder : Interface {
    std::atomic<LONG> refs{1};
    Interface* inner = nullptr;

    virtual ~EventForwarder() {
        if (inner) inner->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFMediaEventGenerator) ||
            IsEqualIID(riid, *INTERFACE_ID)) {
            *out = static_cast<Interface*>(this);
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
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override {
        return inner->GetEvent(flags, event);
    }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
        return inner->BeginGetEvent(callback, state);
    }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        return inner->EndGetEvent(result, event);
    }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                                         const PROPVARIANT* value) override {
        return inner->QueueEvent(type, extended, status, value);
    }
};


// The session finds a stream's source by asking the stream; the inner source's streams are
// wrapped so that they answer with the wrapping source.
struct OffsetStream final : EventForwarder<IMFMediaStream, &IID_IMFMediaStream> {
    IMFMediaSource* source = nullptr;  // not owned: the source owns its streams' wrappers and
                                       // clears this when it goes

    HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** out) override {
        if (!out) return E_POINTER;
        *out = source;
        if (!source) return MF_E_SHUTDOWN;
        source->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** out) override {
        return inner->GetStreamDescriptor(out);
    }
    HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* token) override { return inner->RequestSample(token); }
};

// Passes everything to the inner source, except that the first start "from the current
// position" (what the player asks for) becomes a start at the chosen position. Later starts
// (resuming after a pause) are passed on as they are.
struct OffsetSource final : EventForwarder<IMFMediaSource, &IID_IMFMediaSource> {
    LONGLONG start_100ns = 0;
    bool first_start = true;
    OffsetStream* streams[8] = {};
    int stream_count = 0;

    ~OffsetSource() override {
        for (int i = 0; i < stream_count; i++) {
            streams[i]->source = nullptr;
            streams[i]->Release();
        }
    }

    // The wrapper of an inner stream, made on first sight and kept for later events.
    OffsetStream* wrap(IMFMediaStream* stream) {
        for (int i = 0; i < stream_count; i++)
            if (streams[i]->inner == stream) return streams[i];
        if (stream_count == 8) return nullptr;
        OffsetStream* w = new (std::nothrow) OffsetStream();
        if (!w) return nullptr;
        w->inner = stream;
        stream->AddRef();
        w->source = this;
        streams[stream_count++] = w;
        return w;
    }

    // New and updated streams are announced with the inner stream; the event is remade
    // with its wrapper.
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        HRESULT hr = inner->EndGetEvent(result, event);
        if (FAILED(hr) || !event || !*event) return hr;
        MediaEventType type = MEUnknown;
        (*event)->GetType(&type);
        if (type != MENewStream && type != MEUpdatedStream) return hr;
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED((*event)->GetValue(&value)) || value.vt != VT_UNKNOWN || !value.punkVal) {
            PropVariantClear(&value);
            return hr;
        }
        IMFMediaStream* stream = nullptr;
        value.punkVal->QueryInterface(IID_IMFMediaStream, (void**)&stream);
        PropVariantClear(&value);
        OffsetStream* w = stream ? wrap(stream) : nullptr;
        if (stream) stream->Release();
        if (!w) return hr;
        HRESULT status = S_OK;
        (*event)->GetStatus(&status);
        PROPVARIANT wrapped;
        PropVariantInit(&wrapped);
        wrapped.vt = VT_UNKNOWN;
        wrapped.punkVal = static_cast<IMFMediaStream*>(w);
        IMFMediaEvent* remade = nullptr;
        if (SUCCEEDED(g_mf.create_event(type, GUID_NULL, status, &wrapped, &remade))) {
            (*event)->Release();
            *event = remade;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override {
        return inner->GetCharacteristics(characteristics);
    }
    HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override {
        return inner->CreatePresentationDescriptor(descriptor);
    }
    HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* descriptor, const GUID* format,
                                    const PROPVARIANT* position) override {
        if (first_start && start_100ns > 0 && (!position || position->vt == VT_EMPTY)) {
            first_start = false;
            PROPVARIANT at;
            PropVariantInit(&at);
            at.vt = VT_I8;
            at.hVal.QuadPart = start_100ns;
            return inner->Start(descriptor, format, &at);
        }
        first_start = false;
        return inner->Start(descriptor, format, position);
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return inner->Stop(); }
    HRESULT STDMETHODCALLTYPE Pause() override { return inner->Pause(); }
    HRESULT STDMETHODCALLTYPE Shutdown() override { return inner->Shutdown(); }
};

int offset_source_create(const wchar_t* path, int start_ms, int seek, IMFMediaSource** out, int* start_used_ms) {
    *out = nullptr;
    *start_used_ms = 0;
    if (!load_mfplat()) return 0;
    IMFSourceResolver* resolver = nullptr;
    IUnknown* object = nullptr;
    IMFMediaSource* inner = nullptr;
    IMFPresentationDescriptor* descriptor = nullptr;
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    OffsetSource* source = nullptr;
    UINT64 duration = 0;
    int ok = 0;
    if (FAILED(g_mf.create_resolver(&resolver))) goto done;
    if (FAILED(resolver->CreateObjectFromURL(path, MF_RESOLUTION_MEDIASOURCE, nullptr, &type, &object))) goto done;
    if (FAILED(object->QueryInterface(IID_IMFMediaSource, (void**)&inner))) goto done;
    if (SUCCEEDED(inner->CreatePresentationDescriptor(&descriptor)))
        descriptor->GetUINT64(MF_PD_DURATION, &duration);
    source = new (std::nothrow) OffsetSource();
    if (!source) goto done;
    *start_used_ms = seek ? player_clamp_seek_position(start_ms, (int)(duration / 10000))
                          : player_clamp_open_position(start_ms, (int)(duration / 10000));
    if (*start_used_ms < 0) *start_used_ms = 0;
    source->start_100ns = (LONGLONG)*start_used_ms * 10000;
    source->inner = inner;
    inner = nullptr;
    *out = source;
    ok = 1;
done:
    if (descriptor) descriptor->Release();
    if (inner) {
        inner->Shutdown();
        inner->Release();
    }
    if (object) object->Release();
    if (resolver) resolver->Release();
    return ok;
}

#include "playback/audio_decoder.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <atomic>
#include <new>
#include <stdlib.h>
#include <string.h>

//~ The libraries

typedef HRESULT(WINAPI* MfStartupFn)(ULONG, DWORD);
typedef HRESULT(WINAPI* MfShutdownFn)(void);
typedef HRESULT(WINAPI* MfCreateSourceResolverFn)(IMFSourceResolver**);
typedef HRESULT(WINAPI* MfCreateMediaTypeFn)(IMFMediaType**);
typedef HRESULT(WINAPI* MfCreateReaderFn)(IMFMediaSource*, IMFAttributes*, IMFSourceReader**);

static struct {
    HMODULE platform, readwrite;
    MfStartupFn startup;
    MfShutdownFn shutdown;
    MfCreateSourceResolverFn create_resolver;
    MfCreateMediaTypeFn create_media_type;
    MfCreateReaderFn create_reader;
    int started;
} g_mf;

// Loaded once and kept: the platform's work queues may still run code of these libraries
// after the last object is released.
static int load_media_libraries(void) {
    if (g_mf.create_reader) return 1;
    if (!g_mf.platform) g_mf.platform = LoadLibraryW(L"mfplat.dll");
    if (!g_mf.readwrite) g_mf.readwrite = LoadLibraryW(L"mfreadwrite.dll");
    if (!g_mf.platform || !g_mf.readwrite) return 0;
    g_mf.startup = (MfStartupFn)(void*)GetProcAddress(g_mf.platform, "MFStartup");
    g_mf.shutdown = (MfShutdownFn)(void*)GetProcAddress(g_mf.platform, "MFShutdown");
    g_mf.create_resolver = (MfCreateSourceResolverFn)(void*)GetProcAddress(g_mf.platform, "MFCreateSourceResolver");
    g_mf.create_media_type = (MfCreateMediaTypeFn)(void*)GetProcAddress(g_mf.platform, "MFCreateMediaType");
    MfCreateReaderFn reader = (MfCreateReaderFn)(void*)GetProcAddress(g_mf.readwrite, "MFCreateSourceReaderFromMediaSource");
    if (!g_mf.startup || !g_mf.shutdown || !g_mf.create_resolver || !g_mf.create_media_type || !reader) return 0;
    g_mf.create_reader = reader;
    return 1;
}

int audio_media_start(void) {
    if (g_mf.started) return 1;
    if (!load_media_libraries() || FAILED(g_mf.startup(MF_VERSION, MFSTARTUP_FULL))) return 0;
    g_mf.started = 1;
    return 1;
}

void audio_media_stop(void) {
    if (!g_mf.started) return;
    g_mf.shutdown();
    g_mf.started = 0;
}

int pcm_format_equal(const PcmFormat* a, const PcmFormat* b) {
    return a->rate == b->rate && a->channels == b->channels && a->bits == b->bits && a->block == b->block &&
           a->channel_mask == b->channel_mask;
}

//~ Resolving a file

// The resolver's callback. It is shared by the waiting decoder and the platform; whoever
// lets go last frees it, and a source that arrives after the decoder gave up is shut down.
// It owns no kernel object: Wine's resolver never lets go of it, and a handle in it would be
// lost with every opening. The event it signals is the waiter's, and is not touched once the
// waiter has given up.
struct ResolveRequest final : IMFAsyncCallback {
    std::atomic<LONG> refs{1};
    IMFSourceResolver* resolver = nullptr;
    IUnknown* cancel = nullptr;
    HANDLE notify = nullptr;
    SRWLOCK lock = SRWLOCK_INIT;
    IMFMediaSource* source = nullptr;
    HRESULT result = E_PENDING;
    int abandoned = 0;

    virtual ~ResolveRequest() {
        if (source) {
            source->Shutdown();
            source->Release();
        }
        if (cancel) cancel->Release();
        if (resolver) resolver->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFAsyncCallback)) {
            *out = static_cast<IMFAsyncCallback*>(this);
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
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* async) override {
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        IUnknown* object = nullptr;
        HRESULT hr = resolver->EndCreateObjectFromURL(async, &type, &object);
        IMFMediaSource* found = nullptr;
        if (SUCCEEDED(hr) && object && FAILED(object->QueryInterface(IID_IMFMediaSource, (void**)&found))) hr = E_NOINTERFACE;
        if (object) object->Release();
        if (SUCCEEDED(hr) && !found) hr = E_POINTER;
        AcquireSRWLockExclusive(&lock);
        // The resolver keeps what it answered for, this callback included, as long as it
        // lives: let go of it now, or the two keep each other alive.
        resolver->Release();
        resolver = nullptr;
        if (abandoned && found) {
            found->Shutdown();
            found->Release();
            found = nullptr;
        }
        source = found;
        result = hr;
        if (!abandoned && notify) SetEvent(notify);
        ReleaseSRWLockExclusive(&lock);
        return S_OK;
    }
};

static void abandon_resolving(AudioDecoder* d) {
    ResolveRequest* r = d->resolving;
    if (!r) return;
    d->resolving = nullptr;
    AcquireSRWLockExclusive(&r->lock);
    r->abandoned = 1;
    IUnknown* cancel = r->cancel;
    r->cancel = nullptr;
    IMFSourceResolver* resolver = r->resolver;
    if (resolver) resolver->AddRef();  // still resolving
    ReleaseSRWLockExclusive(&r->lock);
    if (resolver) {
        if (cancel) resolver->CancelObjectCreation(cancel);
        resolver->Release();
    }
    if (cancel) cancel->Release();
    r->Release();
}

int audio_decoder_begin(AudioDecoder* d, const wchar_t* path, HANDLE notify) {
    audio_decoder_close(d);
    if (!path || !path[0] || !audio_media_start()) return 0;
    ResolveRequest* r = new (std::nothrow) ResolveRequest();
    if (!r) return 0;
    r->notify = notify;
    if (FAILED(g_mf.create_resolver(&r->resolver))) {
        r->Release();
        return 0;
    }
    IUnknown* cancel = nullptr;
    HRESULT hr = r->resolver->BeginCreateObjectFromURL(path, MF_RESOLUTION_MEDIASOURCE | MF_RESOLUTION_READ, nullptr,
                                                       &cancel, static_cast<IMFAsyncCallback*>(r), nullptr);
    if (FAILED(hr)) {
        if (cancel) cancel->Release();
        r->Release();
        return 0;
    }
    r->cancel = cancel;
    d->resolving = r;
    d->resolve_started = GetTickCount();
    return 1;
}

int audio_decoder_ready(const AudioDecoder* d) {
    return d->reader != nullptr;
}

//~ The reader

static int read_format(IMFSourceReader* reader, PcmFormat* format) {
    IMFMediaType* type = nullptr;
    if (FAILED(reader->GetCurrentMediaType((DWORD)MF_SOURCE_READER_FIRST_AUDIO_STREAM, &type))) return 0;
    UINT32 rate = 0, channels = 0, bits = 0, block = 0, mask = 0;
    type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
    type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
    type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits);
    if (FAILED(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &block))) block = channels * (bits / 8);
    if (FAILED(type->GetUINT32(MF_MT_AUDIO_CHANNEL_MASK, &mask))) mask = 0;
    type->Release();
    if (rate < 1000 || rate > 768000 || channels < 1 || channels > 8 || bits != 16 || block != (UINT32)(channels * 2))
        return 0;
    format->rate = (int)rate;
    format->channels = (int)channels;
    format->bits = (int)bits;
    format->block = (int)block;
    format->channel_mask = mask;
    return 1;
}

// A reader of 16-bit PCM over the first audio stream; the source's other streams are off.
static int make_reader(AudioDecoder* d) {
    IMFSourceReader* reader = nullptr;
    if (FAILED(g_mf.create_reader(d->source, nullptr, &reader)) || !reader) return 0;
    reader->SetStreamSelection((DWORD)MF_SOURCE_READER_ALL_STREAMS, FALSE);
    reader->SetStreamSelection((DWORD)MF_SOURCE_READER_FIRST_AUDIO_STREAM, TRUE);
    IMFMediaType* pcm = nullptr;
    HRESULT hr = g_mf.create_media_type(&pcm);
    if (SUCCEEDED(hr)) {
        pcm->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
        pcm->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
        pcm->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
        hr = reader->SetCurrentMediaType((DWORD)MF_SOURCE_READER_FIRST_AUDIO_STREAM, nullptr, pcm);
        pcm->Release();
    }
    if (FAILED(hr) || !read_format(reader, &d->format)) {
        reader->Release();
        return 0;
    }
    PROPVARIANT var;
    PropVariantInit(&var);
    d->duration_ms = 0;
    if (SUCCEEDED(reader->GetPresentationAttribute((DWORD)MF_SOURCE_READER_MEDIASOURCE, MF_PD_DURATION, &var)) &&
        var.vt == VT_UI8)
        d->duration_ms = (int)(var.uhVal.QuadPart / 10000);
    PropVariantClear(&var);
    d->reader = reader;
    d->next_frame = -1;
    d->skip_to_frame = 0;
    d->seek_pending_ms = -1;
    return 1;
}

int audio_decoder_poll(AudioDecoder* d, DWORD timeout_ms) {
    if (d->reader) return 1;
    ResolveRequest* r = d->resolving;
    if (!r) return -1;
    AcquireSRWLockExclusive(&r->lock);
    HRESULT result = r->result;
    IMFMediaSource* source = r->source;
    r->source = nullptr;
    ReleaseSRWLockExclusive(&r->lock);
    if (result == E_PENDING) {
        if (GetTickCount() - d->resolve_started < timeout_ms) return 0;
        abandon_resolving(d);  // some broken files leave the resolver without an answer at all
        return -1;
    }
    abandon_resolving(d);
    if (FAILED(result) || !source) return -1;
    d->source = source;
    if (!make_reader(d)) {
        audio_decoder_close(d);
        return -1;
    }
    return 1;
}

int audio_decoder_seek(AudioDecoder* d, int ms) {
    if (!d->reader) return 0;
    if (ms < 0) ms = 0;
    d->seek_pending_ms = ms;
    d->chunk_length = d->chunk_offset = 0;
    d->next_frame = -1;
    d->ended = 0;
    d->skip_to_frame = (long long)ms * d->format.rate / 1000;
    return 1;
}

static int apply_seek(AudioDecoder* d) {
    int ms = d->seek_pending_ms;
    d->seek_pending_ms = -1;
    PROPVARIANT var;
    PropVariantInit(&var);
    var.vt = VT_I8;
    var.hVal.QuadPart = (LONGLONG)ms * 10000;
    return SUCCEEDED(d->reader->SetCurrentPosition(GUID{}, var));  // the null format: 100-ns units
}

static int keep_bytes(AudioDecoder* d, const BYTE* bytes, DWORD length) {
    if ((int)length > d->chunk_capacity) {
        unsigned char* bigger = (unsigned char*)realloc(d->chunk, length);
        if (!bigger) return 0;
        d->chunk = bigger;
        d->chunk_capacity = (int)length;
    }
    memcpy(d->chunk, bytes, length);
    d->chunk_length = (int)length;
    d->chunk_offset = 0;
    return 1;
}

int audio_decoder_fill(AudioDecoder* d) {
    if (!d->reader) return -1;
    // A decoder that gives nothing but empty samples is treated as ended, not waited on.
    for (int empty = 0; empty < 64;) {
        if (d->chunk_offset < d->chunk_length) return 1;
        if (d->ended) return 0;
        if (d->seek_pending_ms >= 0 && !apply_seek(d)) return -1;
        DWORD flags = 0;
        LONGLONG time = 0;
        IMFSample* sample = nullptr;
        HRESULT hr =
            d->reader->ReadSample((DWORD)MF_SOURCE_READER_FIRST_AUDIO_STREAM, 0, nullptr, &flags, &time, &sample);
        if (FAILED(hr) || (flags & MF_SOURCE_READERF_ERROR)) {
            if (sample) sample->Release();
            return -1;
        }
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) d->ended = 1;
        if (!sample) {
            empty++;
            continue;
        }
        IMFMediaBuffer* buffer = nullptr;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        int kept = 0;
        if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) && SUCCEEDED(buffer->Lock(&bytes, nullptr, &length))) {
            length -= length % (DWORD)d->format.block;
            kept = keep_bytes(d, bytes, length);
            buffer->Unlock();
        }
        if (buffer) buffer->Release();
        sample->Release();
        if (!kept) return -1;
        // The first sample after an opening or a seek says where the track is; after that the
        // frames are counted, which no rounding of time stamps can make drift.
        if (d->next_frame < 0) d->next_frame = time > 0 ? (long long)((time * d->format.rate + 5000000) / 10000000) : 0;
        d->chunk_frame = d->next_frame;
        long long frames = d->chunk_length / d->format.block;
        d->next_frame += frames;
        d->frames_decoded += frames;
        // Decoders seek to the frame boundary before the position; what lies before it is
        // not heard.
        if (d->chunk_frame < d->skip_to_frame) {
            long long drop = d->skip_to_frame - d->chunk_frame;
            if (drop >= frames) {
                d->chunk_offset = d->chunk_length;
            } else {
                d->chunk_offset = (int)(drop * d->format.block);
                d->chunk_frame = d->skip_to_frame;
            }
        }
        if (d->chunk_length == 0) empty++;
    }
    return 0;
}

void audio_decoder_close(AudioDecoder* d) {
    abandon_resolving(d);
    if (d->reader) d->reader->Release();
    if (d->source) {
        d->source->Shutdown();
        d->source->Release();
    }
    free(d->chunk);
    memset(d, 0, sizeof *d);
}

#pragma once
// A local audio file decoded to PCM by Media Foundation's source reader. The file is resolved
// asynchronously, so that a file the platform never answers for cannot stall whoever waits,
// and the libraries are loaded at first use: a Windows without its media features still
// starts the program. Used by the player's thread only.
#include <windows.h>

struct IMFMediaSource;
struct IMFSourceReader;
struct ResolveRequest;

struct PcmFormat {
    int rate;
    int channels;
    int bits;
    int block;  // bytes of one frame (a sample of every channel)
    DWORD channel_mask;  // 0 when the media does not say
};

int pcm_format_equal(const PcmFormat* a, const PcmFormat* b);

struct AudioDecoder {
    ResolveRequest* resolving;  // the resolver's answer is awaited
    DWORD resolve_started;
    IMFMediaSource* source;
    IMFSourceReader* reader;
    PcmFormat format;
    int duration_ms;
    // Decoded bytes not yet handed on: chunk[offset..length), whose first frame is frame
    // (counted from the start of the track).
    unsigned char* chunk;
    int chunk_capacity;
    int chunk_length;
    int chunk_offset;
    long long chunk_frame;
    long long next_frame;     // the frame after the last one decoded; -1 until the first sample
    long long skip_to_frame;  // after a seek, frames before this are dropped
    long long frames_decoded;
    int ended;
    int seek_pending_ms;  // a seek made just before the next read; -1 none
};

// Media Foundation for the calling thread's lifetime of the player (1 on success).
int audio_media_start(void);
void audio_media_stop(void);

// Starts opening path; 0 when it cannot even begin. notify is signalled when the resolver
// has answered, unless the decoder was closed before.
int audio_decoder_begin(AudioDecoder* d, const wchar_t* path, HANDLE notify);
// 1 once the decoder is ready, 0 while the file is still being resolved, -1 when it cannot be
// played (a resolver that has not answered within timeout_ms counts as failed).
int audio_decoder_poll(AudioDecoder* d, DWORD timeout_ms);
int audio_decoder_ready(const AudioDecoder* d);
// Moves to position ms; the next bytes handed on begin exactly there. The reader is moved
// only when the next bytes are read: Wine's decoders crash when a reader is let go while a
// seek it was given is still under way.
int audio_decoder_seek(AudioDecoder* d, int ms);
// Makes more PCM available in chunk: 1 when there is some, 0 at the end of the track, -1 on
// a decoding error.
int audio_decoder_fill(AudioDecoder* d);
void audio_decoder_close(AudioDecoder* d);

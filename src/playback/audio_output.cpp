#include "playback/audio_output.h"

#include <ks.h>
#include <ksmedia.h>
#include <mmreg.h>

#include <stdlib.h>
#include <string.h>

static const GUID SUBTYPE_PCM = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

int audio_output_is_open(const AudioOutput* out) {
    return out->device != nullptr;
}

void audio_output_set_volume(AudioOutput* out, int volume) {
    if (!out->device) return;
    DWORD level = (DWORD)(volume < 0 ? 0 : volume > 100 ? 100 : volume) * 0xFFFF / 100;
    waveOutSetVolume(out->device, level | (level << 16));
}

// Nothing queued, nothing played, no part marked: a new or reset stream.
static void forget_queue(AudioOutput* out) {
    out->filling = -1;
    out->fill_length = 0;
    out->frames_queued = 0;
    out->played = 0;
    out->last_position = 0;
    out->mark_count = 0;
}

int audio_output_open(AudioOutput* out, const PcmFormat* format, HANDLE done_event, int volume) {
    audio_output_close(out);
    WAVEFORMATEXTENSIBLE wave;
    memset(&wave, 0, sizeof wave);
    wave.Format.wFormatTag = WAVE_FORMAT_PCM;
    wave.Format.nChannels = (WORD)format->channels;
    wave.Format.nSamplesPerSec = (DWORD)format->rate;
    wave.Format.wBitsPerSample = (WORD)format->bits;
    wave.Format.nBlockAlign = (WORD)format->block;
    wave.Format.nAvgBytesPerSec = (DWORD)(format->rate * format->block);
    if (format->channels > 2) {
        // More than two channels need their layout said.
        wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        wave.Format.cbSize = sizeof wave - sizeof wave.Format;
        wave.Samples.wValidBitsPerSample = (WORD)format->bits;
        wave.dwChannelMask = format->channel_mask;
        wave.SubFormat = SUBTYPE_PCM;
    }
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &wave.Format, (DWORD_PTR)done_event, 0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
        return 0;
    int bytes = format->rate * OUTPUT_BUFFER_MS / 1000 * format->block;
    for (int i = 0; i < OUTPUT_BUFFER_COUNT; i++) {
        out->data[i] = (unsigned char*)malloc((size_t)bytes);
        memset(&out->headers[i], 0, sizeof out->headers[i]);
        out->headers[i].lpData = (LPSTR)out->data[i];
        out->headers[i].dwBufferLength = (DWORD)bytes;
        if (!out->data[i] || waveOutPrepareHeader(device, &out->headers[i], sizeof out->headers[i]) != MMSYSERR_NOERROR) {
            out->device = device;
            audio_output_close(out);
            return 0;
        }
        out->headers[i].dwFlags |= WHDR_DONE;  // free until written
    }
    out->device = device;
    out->done_event = done_event;
    out->format = *format;
    out->buffer_bytes = bytes;
    forget_queue(out);
    out->paused = 0;
    audio_output_set_volume(out, volume);
    return 1;
}

void audio_output_close(AudioOutput* out) {
    if (out->device) {
        waveOutReset(out->device);
        for (int i = 0; i < OUTPUT_BUFFER_COUNT; i++)
            if (out->headers[i].dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(out->device, &out->headers[i], sizeof out->headers[i]);
        waveOutClose(out->device);
    }
    for (int i = 0; i < OUTPUT_BUFFER_COUNT; i++) free(out->data[i]);
    HANDLE done = out->done_event;
    memset(out, 0, sizeof *out);
    out->done_event = done;
    out->filling = -1;
}

// Frames the device has played, read from its 32-bit counter.
static long long played_frames(AudioOutput* out) {
    if (!out->device) return out->played;
    MMTIME time;
    time.wType = TIME_SAMPLES;
    if (waveOutGetPosition(out->device, &time, sizeof time) == MMSYSERR_NOERROR && time.wType == TIME_SAMPLES) {
        out->played += (DWORD)(time.u.sample - out->last_position);
        out->last_position = time.u.sample;
    }
    if (out->played > out->frames_queued) out->played = out->frames_queued;
    return out->played;
}

void audio_output_mark(AudioOutput* out, unsigned track, long long track_frame, int duration_ms) {
    long long at = out->frames_queued + out->fill_length / out->format.block;
    // The part now heard stays; the oldest parts already passed make room.
    if (out->mark_count == OUTPUT_MARK_COUNT) {
        memmove(&out->marks[0], &out->marks[1], sizeof out->marks[0] * (OUTPUT_MARK_COUNT - 1));
        out->mark_count--;
    }
    if (out->mark_count > 0 && out->marks[out->mark_count - 1].device_frame == at) out->mark_count--;
    OutputMark* m = &out->marks[out->mark_count++];
    m->device_frame = at;
    m->track = track;
    m->track_frame = track_frame;
    m->duration_ms = duration_ms;
    m->anchor_device = at;
    m->anchor_track = track_frame;
    m->anchor_clock = 0;
}

static void send_buffer(AudioOutput* out) {
    if (out->filling < 0 || out->fill_length <= 0) return;
    WAVEHDR* h = &out->headers[out->filling];
    h->dwBufferLength = (DWORD)out->fill_length;
    h->dwFlags &= ~WHDR_DONE;
    if (waveOutWrite(out->device, h, sizeof *h) == MMSYSERR_NOERROR) {
        out->frames_queued += out->fill_length / out->format.block;
    } else {
        h->dwFlags |= WHDR_DONE;
    }
    out->filling = -1;
    out->fill_length = 0;
}

static int free_buffer(const AudioOutput* out) {
    for (int i = 0; i < OUTPUT_BUFFER_COUNT; i++)
        if ((out->headers[i].dwFlags & WHDR_DONE) && !(out->headers[i].dwFlags & WHDR_INQUEUE)) return i;
    return -1;
}

int audio_output_write(AudioOutput* out, const unsigned char* bytes, int length) {
    if (!out->device) return 0;
    int taken = 0;
    while (taken < length) {
        if (out->filling < 0) {
            out->filling = free_buffer(out);
            if (out->filling < 0) break;
            out->headers[out->filling].dwFlags &= ~WHDR_DONE;  // taken for filling
            out->fill_length = 0;
        }
        int room = out->buffer_bytes - out->fill_length;
        int part = length - taken < room ? length - taken : room;
        memcpy(out->data[out->filling] + out->fill_length, bytes + taken, (size_t)part);
        out->fill_length += part;
        taken += part;
        if (out->fill_length == out->buffer_bytes) send_buffer(out);
    }
    return taken;
}

void audio_output_flush(AudioOutput* out) {
    if (out->device) send_buffer(out);
}

int audio_output_drained(AudioOutput* out) {
    if (!out->device) return 1;
    if (out->fill_length > 0) return 0;
    for (int i = 0; i < OUTPUT_BUFFER_COUNT; i++)
        if (out->headers[i].dwFlags & WHDR_INQUEUE) return 0;
    return 1;
}

void audio_output_reset(AudioOutput* out) {
    if (!out->device) return;
    waveOutReset(out->device);
    for (int i = 0; i < OUTPUT_BUFFER_COUNT; i++) out->headers[i].dwFlags |= WHDR_DONE;
    forget_queue(out);
    // A reset device keeps a pause it had.
    if (out->paused) waveOutPause(out->device);
}

static long long clock_now(void) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

static long long clock_rate(void) {
    static long long rate;
    if (!rate) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        rate = f.QuadPart > 0 ? f.QuadPart : 1;
    }
    return rate;
}

// The mark heard at played frames, its clock started the first time it is heard.
static OutputMark* heard_mark(AudioOutput* out, long long played) {
    int k = 0;
    while (k + 1 < out->mark_count && out->marks[k + 1].device_frame <= played) k++;
    OutputMark* m = &out->marks[k];
    if (!m->anchor_clock) {
        // Found late by at most a few milliseconds on a device that keeps time; more than that
        // is a device running ahead, and is not counted.
        long long late = played - m->anchor_device;
        long long most = out->format.rate / 20;
        late = late < 0 ? 0 : late > most ? most : late;
        m->anchor_clock = clock_now() - late * clock_rate() / out->format.rate;
    }
    return m;
}

static long long mark_position(const AudioOutput* out, const OutputMark* m, long long played) {
    long long by_device = played - m->anchor_device;
    if (by_device < 0) by_device = 0;
    if (out->paused) return m->anchor_track;
    long long by_clock = (clock_now() - m->anchor_clock) * out->format.rate / clock_rate();
    return m->anchor_track + (by_clock < by_device ? by_clock : by_device);
}

void audio_output_pause(AudioOutput* out, int paused) {
    if (!out->device || out->paused == paused) return;
    long long played = played_frames(out);
    if (out->mark_count > 0) {
        // The part heard is counted again from here when the stream goes on.
        OutputMark* m = heard_mark(out, played);
        m->anchor_track = mark_position(out, m, played);
        m->anchor_device = played;
        m->anchor_clock = clock_now();
    }
    if (paused)
        waveOutPause(out->device);
    else
        waveOutRestart(out->device);
    out->paused = paused;
}

int audio_output_now(AudioOutput* out, OutputMark* heard) {
    if (!out->device || out->mark_count == 0) return 0;
    long long played = played_frames(out);
    OutputMark* m = heard_mark(out, played);
    *heard = *m;
    heard->track_frame = mark_position(out, m, played);
    return 1;
}

int audio_output_ms_to_next_mark(AudioOutput* out) {
    if (!out->device) return -1;
    long long played = played_frames(out);
    for (int k = 0; k < out->mark_count; k++)
        if (out->marks[k].device_frame > played)
            return (int)((out->marks[k].device_frame - played) * 1000 / out->format.rate);
    return -1;
}

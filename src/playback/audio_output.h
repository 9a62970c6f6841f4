#pragma once
// One sound stream on the default device (waveOut, which every Windows has and which mixes
// and converts through the system's audio engine). Tracks of the same format follow each
// other in one stream without a gap; a mark at the first frame of each part of the stream
// says which track that is and where in it, so that the position heard is known exactly.
// Written by the player's thread; the position is also read by the main thread, under the
// player's lock.
#include <windows.h>

#include <mmsystem.h>

#include "playback/audio_decoder.h"

enum { OUTPUT_BUFFER_COUNT = 10, OUTPUT_BUFFER_MS = 100, OUTPUT_MARK_COUNT = 8 };

struct OutputMark {
    long long device_frame;  // the stream's frame where this part begins
    unsigned track;          // the player's generation of the track
    long long track_frame;   // the track's own frame there
    int duration_ms;         // the track's length
    // Where the position was last known: the part is counted from there by the device's
    // frames, but never faster than the clock (a device that takes sound faster than it
    // plays it, as a file or a busy driver can, does not make the time run ahead).
    long long anchor_device, anchor_track, anchor_clock;  // clock 0: not heard yet
};

struct AudioOutput {
    HWAVEOUT device;
    HANDLE done_event;  // signalled by the device when it returns a buffer
    PcmFormat format;
    WAVEHDR headers[OUTPUT_BUFFER_COUNT];
    unsigned char* data[OUTPUT_BUFFER_COUNT];
    int buffer_bytes;
    int filling;      // the buffer being filled, -1 none
    int fill_length;  // bytes in it
    long long frames_queued;  // frames handed to the device since the stream began or was reset
    DWORD last_position;      // the device's 32-bit count, widened into played
    long long played;
    OutputMark marks[OUTPUT_MARK_COUNT];
    int mark_count;
    int paused;
};

// Opens a stream of format at volume (0..100); 1 on success.
int audio_output_open(AudioOutput* out, const PcmFormat* format, HANDLE done_event, int volume);
void audio_output_close(AudioOutput* out);
int audio_output_is_open(const AudioOutput* out);
// The next frame written begins a part: track at track_frame.
void audio_output_mark(AudioOutput* out, unsigned track, long long track_frame, int duration_ms);
// Copies as much of bytes as the free buffers take; returns the bytes taken.
int audio_output_write(AudioOutput* out, const unsigned char* bytes, int length);
// Hands a partly filled buffer to the device (the end of what will be written).
void audio_output_flush(AudioOutput* out);
// Every frame written has been played.
int audio_output_drained(AudioOutput* out);
// Drops what is queued, as a seek does; marks start again.
void audio_output_reset(AudioOutput* out);
void audio_output_pause(AudioOutput* out, int paused);
void audio_output_set_volume(AudioOutput* out, int volume);
// The mark of the part being heard, with the track's frame now (in track_frame); 0 when
// nothing is.
int audio_output_now(AudioOutput* out, OutputMark* heard);
// The milliseconds until the next mark is reached, or -1 when there is none.
int audio_output_ms_to_next_mark(AudioOutput* out);

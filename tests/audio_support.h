#pragma once
// Real audio for the tests: tone files to play, and a reading of what the sound device
// (ALSA pointed at a raw sample file by the test environment) received.
#include <string>
#include <vector>

struct ToneSegment {
    double frequency;  // 0 for silence
    int ms;
};

// A mono 16-bit PCM WAV file of the given segments (44.1 kHz unless said).
int write_tone_wav(const std::wstring& path, const std::vector<ToneSegment>& segments, int rate = 44100);

// The captured output: path from NELVO_TEST_AUDIO_OUT; empty when the environment has none.
std::wstring audio_capture_path(void);
// Removes the capture files: the next sound stream the player opens starts anew.
void audio_capture_reset(void);
// Bytes in the capture file now (a mark to measure later output from).
long long audio_capture_size(void);

struct SoundReport {
    int sound_ms;           // 10 ms blocks above the silence threshold
    double frequency;       // dominant frequency of the loud blocks, by zero crossings
    int first_sound_block;  // index of the first loud block, -1 when silent
};

// What was written to the capture since mark (from the start if the file was rewritten).
SoundReport audio_capture_since(long long mark);

// Each sound stream since the last reset on its own (every stream writes a file of its
// own): which process played what, when several share the device.
std::vector<SoundReport> audio_capture_streams(void);

// Frequencies of successive stretches of sound: lets a test see which tone came first.
std::vector<double> audio_capture_tones_since(long long mark, int stretch_ms);

// In each sound stream since the last reset, the longest run of silence between its first and
// its last sound, in milliseconds of samples: what a listener hears between two tracks that
// share one stream.
std::vector<double> audio_capture_silences_inside(void);

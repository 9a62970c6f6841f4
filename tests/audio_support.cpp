#include "audio_support.h"

#include <windows.h>

#include <math.h>
#include <stdlib.h>
#include <algorithm>
#include <string.h>

#include "sound_capture.h"
#include "test_support.h"

int write_tone_wav(const std::wstring& path, const std::vector<ToneSegment>& segments, int rate) {
    std::string pcm;
    double phase = 0;
    for (const ToneSegment& s : segments) {
        int n = (int)((long long)rate * s.ms / 1000);  // past 48 s the product overflows an int
        for (int i = 0; i < n; i++) {
            short v = 0;
            if (s.frequency > 0) {
                phase += 2 * 3.14159265358979323846 * s.frequency / rate;
                v = (short)(12000 * sin(phase));
            }
            pcm.append((const char*)&v, 2);
        }
    }
    std::string wav = "RIFF";
    auto u32 = [&](unsigned v) { wav.append((const char*)&v, 4); };
    auto u16 = [&](unsigned short v) { wav.append((const char*)&v, 2); };
    u32(36 + (unsigned)pcm.size());
    wav += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    wav += "data";
    u32((unsigned)pcm.size());
    wav += pcm;
    return write_file(path, wav);
}

std::wstring audio_capture_path(void) {
    wchar_t buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"NELVO_TEST_AUDIO_OUT", buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return buf;
}

static std::vector<std::wstring> capture_files(void) { return sound_capture_files(audio_capture_path()); }

void audio_capture_reset(void) {
    for (const std::wstring& f : capture_files()) DeleteFileW(f.c_str());
}

static std::string capture_bytes(void) {
    std::string all;
    for (const std::wstring& f : capture_files()) all += read_file(f);
    return all;
}

long long audio_capture_size(void) {
    return (long long)capture_bytes().size();
}

// Left-channel samples of the capture (every sound stream's file, in order) since mark.
static std::vector<short> samples_of(const std::string& bytes, long long mark) {
    return sound_capture_left(bytes, (long long)bytes.size() >= mark ? (size_t)mark : 0);
}

enum { BLOCK = SOUND_CAPTURE_RATE / 100 };

static bool block_is_loud(const short* s) {
    double sum = 0;
    for (int i = 0; i < BLOCK; i++) sum += (double)s[i] * s[i];
    return sqrt(sum / BLOCK) > 1000;
}

// Counts sign changes from the sample before the block on, so none is lost at block edges.
static int block_crossings(const short* s) {
    int n = 0;
    for (int i = 0; i < BLOCK; i++)
        if ((s[i - 1] < 0) != (s[i] < 0)) n++;
    return n;
}

static std::vector<short> capture_samples(long long mark) { return samples_of(capture_bytes(), mark); }

static SoundReport report_of(const std::vector<short>& left) {
    SoundReport r = {0, 0, -1};
    long long crossings = 0;
    int loud = 0;
    for (size_t b = 0; (b + 1) * BLOCK <= left.size(); b++) {
        const short* s = &left[b * BLOCK];
        if (b == 0 || !block_is_loud(s)) continue;
        if (r.first_sound_block < 0) r.first_sound_block = (int)b;
        loud++;
        crossings += block_crossings(s);
    }
    r.sound_ms = loud * 10;
    r.frequency = loud ? crossings / 2.0 / (loud * 0.01) : 0;
    return r;
}

SoundReport audio_capture_since(long long mark) { return report_of(capture_samples(mark)); }

std::vector<SoundReport> audio_capture_streams(void) {
    std::vector<SoundReport> streams;
    for (const std::wstring& f : capture_files()) streams.push_back(report_of(samples_of(read_file(f), 0)));
    return streams;
}

std::vector<double> audio_capture_tones_since(long long mark, int stretch_ms) {
    std::vector<short> left = capture_samples(mark);
    std::vector<double> tones;
    int per_stretch = stretch_ms / 10, loud = 0;
    long long crossings = 0;
    for (size_t b = 0; (b + 1) * BLOCK <= left.size(); b++) {
        const short* s = &left[b * BLOCK];
        if (b == 0 || !block_is_loud(s)) continue;
        crossings += block_crossings(s);
        if (++loud == per_stretch) {
            tones.push_back(crossings / 2.0 / (loud * 0.01));
            loud = 0;
            crossings = 0;
        }
    }
    return tones;
}

std::vector<double> audio_capture_silences_inside(void) {
    std::vector<double> silences;
    for (const std::wstring& f : capture_files()) silences.push_back(sound_silence_inside_ms(samples_of(read_file(f), 0)));
    return silences;
}

// An evening of playing, in figures:
//   bench_playback CAPTURE_FILE
// - threads, handles and working set of the process before and after 1,000 openings (a mix of
//   opens, seeks and tracks played to their end), against a floor of the count at the start;
// - how long an opening takes until the track is ready (what a listener heard as silence at
//   every change when the next track was opened only after the end);
// - the silence inside the sound stream where one track follows another, read from the
//   capture file the sound device writes (ALSA pointed at CAPTURE_FILE, as the tests do).
#include <windows.h>
#include <psapi.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include "base/messages.h"
#include "bench_common.h"
#include "playback/player.h"
#include "process_counts.h"
#include "program_home.h"
#include "sound_capture.h"

static double working_set_mb(void) {
    PROCESS_MEMORY_COUNTERS pmc;
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.WorkingSetSize / 1048576.0;
}

// A 44.1 kHz stereo 16-bit tone.
static bool write_tone(const std::wstring& path, double frequency, int ms) {
    int frames = 44100 * ms / 1000;
    std::string data((size_t)frames * 4, '\0');
    for (int i = 0; i < frames; i++) {
        short v = (short)(9000 * sin(2 * 3.14159265358979 * frequency * i / 44100.0));
        memcpy(&data[(size_t)i * 4], &v, 2);
        memcpy(&data[(size_t)i * 4 + 2], &v, 2);
    }
    unsigned size = (unsigned)data.size();
    unsigned char header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                                0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    unsigned riff = size + 36;
    memcpy(header + 4, &riff, 4);
    memcpy(header + 40, &size, 4);
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(f, header, 44, &written, nullptr) && WriteFile(f, data.data(), size, &written, nullptr);
    CloseHandle(f);
    return ok;
}

// The floor for an opening: the platform alone resolves the file, makes a reader, reads one
// block and lets both go, as the documentation asks.
static void bare_openings(const std::wstring& path, int count) {
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    for (int i = 0; i < count; i++) {
        IMFSourceResolver* resolver = nullptr;
        IUnknown* object = nullptr;
        MF_OBJECT_TYPE type;
        IMFMediaSource* source = nullptr;
        IMFSourceReader* reader = nullptr;
        if (FAILED(MFCreateSourceResolver(&resolver))) break;
        if (SUCCEEDED(resolver->CreateObjectFromURL(path.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type, &object)))
            object->QueryInterface(IID_IMFMediaSource, (void**)&source);
        if (object) object->Release();
        resolver->Release();
        if (source && SUCCEEDED(MFCreateSourceReaderFromMediaSource(source, nullptr, &reader))) {
            DWORD flags = 0;
            LONGLONG time = 0;
            IMFSample* sample = nullptr;
            reader->ReadSample((DWORD)MF_SOURCE_READER_FIRST_AUDIO_STREAM, 0, nullptr, &flags, &time, &sample);
            if (sample) sample->Release();
            reader->Release();
        }
        if (source) {
            source->Shutdown();
            source->Release();
        }
    }
    MFShutdown();
}

static int g_ended, g_advanced;
static std::wstring g_follow;  // what is prepared when the end is near

static LRESULT CALLBACK receiver_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == MSG_TRACK_ENDED && player_event_is_current(wp)) g_ended++;
    if (m == MSG_TRACK_NEAR_END && player_event_is_current(wp) && !g_follow.empty()) {
        player_prepare_next(g_follow.c_str());
        g_follow.clear();  // one change: the second track ends the run
    }
    if (m == MSG_TRACK_ADVANCED && player_take_advance(wp)) g_advanced++;
    return DefWindowProcW(w, m, wp, lp);
}

static bool wait_ready(void) {
    return pump_until([] { return g_player.media_ready.load() != 0; }, 15000);
}

// The silence inside a capture file, read whole.
static double silence_inside(const std::wstring& file) {
    HANDLE f = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return -1;
    DWORD got = 0;
    std::vector<char> block(1 << 16);
    std::string all;
    while (ReadFile(f, block.data(), (DWORD)block.size(), &got, nullptr) && got > 0) all.append(block.data(), got);
    CloseHandle(f);
    return sound_silence_inside_ms(sound_capture_left(all, 0));
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fputs("usage: bench_playback CAPTURE_FILE\n", stderr);
        return 2;
    }
    program_home_enter(L"bench-playback");
    std::wstring folder = program_home_path();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = receiver_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NelvoBenchPlayback";
    RegisterClassW(&wc);
    HWND receiver = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    player_init(receiver);
    std::wstring a = folder + L"\\a440.wav", b = folder + L"\\b660.wav", c = folder + L"\\c550.wav";
    write_tone(a, 440, 5000);
    write_tone(b, 660, 5000);
    write_tone(c, 550, 400);
    std::wstring capture = argv[1];

    {
        bare_openings(a, 20);
        double start = working_set_mb();
        int bare_threads = process_thread_count(), bare_handles = process_handle_count();
        bare_openings(a, 1000);
        printf("bare_platform_1000_openings: threads %d -> %d, handles %d -> %d, working set %.1f -> %.1f MB\n", bare_threads,
               process_thread_count(), bare_handles, process_handle_count(), start, working_set_mb());
    }
    // The platform's pools come into being with the first opening.
    player_open(a.c_str(), 0, 1);
    wait_ready();
    int threads = process_thread_count(), handles = process_handle_count();
    double memory = working_set_mb();
    std::vector<double> open_ms;
    const std::wstring* files[] = {&a, &b, &c};
    for (int i = 0; i < 1000; i++) {
        int play = i % 100 == 3;
        DWORD started = GetTickCount();
        player_open(files[play ? 2 : i % 2]->c_str(), i % 3 * 150, !play);
        if (!wait_ready()) {
            printf("opening %d never became ready\n", i);
            return 1;
        }
        open_ms.push_back((double)(GetTickCount() - started));
        if (i % 4 == 1) player_seek_ms(100 + i % 7 * 40);
        if (play) {
            int ended = g_ended;
            pump_until([ended] { return g_ended > ended; }, 15000);
            for (const std::wstring& f : sound_capture_files(capture)) DeleteFileW(f.c_str());
        }
    }
    pump_for(500);
    printf("threads_after_1000_openings %d (at the start %d; floor: the start)\n", process_thread_count(), threads);
    printf("handles_after_1000_openings %d (at the start %d; floor: the start)\n", process_handle_count(), handles);
    printf("working_set_after_1000_openings %.1f MB (at the start %.1f MB)\n", working_set_mb(), memory);
    std::sort(open_ms.begin(), open_ms.end());
    printf("opening_until_ready_ms median %.0f, 90th percentile %.0f (the silence of a change when the next track opens only after the end)\n",
           open_ms[open_ms.size() / 2], open_ms[open_ms.size() * 9 / 10]);

    // Two tracks, the second prepared when the first is near its end.
    for (const std::wstring& f : sound_capture_files(capture)) DeleteFileW(f.c_str());
    g_follow = b;
    g_ended = g_advanced = 0;
    player_open(a.c_str(), 0, 0);
    pump_until([] { return g_ended > 0; }, 30000);
    std::vector<std::wstring> streams = sound_capture_files(capture);
    double silence = streams.empty() ? -1 : silence_inside(streams[0]);
    printf("track_change_silence_ms %.2f (%d stream(s), moved to the prepared track %d time(s); aim: 20 ms)\n", silence,
           (int)streams.size(), g_advanced);
    for (const std::wstring& f : streams) DeleteFileW(f.c_str());
    player_shutdown();
    DestroyWindow(receiver);
    program_home_leave();
    return 0;
}

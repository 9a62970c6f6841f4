#include <gtest/gtest.h>

#include "library/audio_files.h"

TEST(AudioFiles, LastExtensionDecides) {
    const wchar_t* audio[] = {L"a.mp3", L"a.MP3", L"a.m4a", L"a.Wav", L"a.flac", L"a.OGG", L"a.wma",
                              L"a.aac", L"a.opus", L"a.WebM", L"C:\\x.y\\song.mp3", L".mp3"};
    for (const wchar_t* name : audio) EXPECT_TRUE(has_audio_extension(name)) << (&name - audio);
    const wchar_t* other[] = {L"a.mp3.txt", L"a.mp4", L"a.mp", L"a.mp33", L"mp3", L"a.", L"",
                              L"C:\\x.mp3\\song", L"a.m4a ", L"a.fla"};
    for (const wchar_t* name : other) EXPECT_FALSE(has_audio_extension(name)) << (&name - other);
    EXPECT_FALSE(has_audio_extension(nullptr));
}

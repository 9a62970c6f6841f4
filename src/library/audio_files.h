#pragma once
// The audio file types the player lists: ".mp3", ".m4a", ".wav", ".flac", ".ogg", ".wma",
// ".aac", ".opus", ".webm", compared without regard to case.
#include <wchar.h>

// The last extension of the file-name part of name ("." included), or nullptr when it has none.
const wchar_t* last_extension(const wchar_t* name);
// Whether ext (with its dot) is one of the audio extensions.
int is_audio_extension(const wchar_t* ext);
// Whether the last extension of name is an audio extension.
int has_audio_extension(const wchar_t* name);

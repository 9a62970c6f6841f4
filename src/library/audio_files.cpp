#include "library/audio_files.h"

static const wchar_t* const AUDIO_EXTENSIONS[] = {
    L".mp3", L".m4a", L".wav", L".flac", L".ogg", L".wma", L".aac", L".opus", L".webm",
};

const wchar_t* last_extension(const wchar_t* name) {
    if (!name) return nullptr;
    const wchar_t* dot = nullptr;
    for (const wchar_t* p = name; *p; p++) {
        if (*p == L'.') dot = p;
        else if (*p == L'\\' || *p == L'/') dot = nullptr;
    }
    return dot;
}

static wchar_t ascii_lower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? (wchar_t)(c + 32) : c;
}

int is_audio_extension(const wchar_t* ext) {
    if (!ext || ext[0] != L'.') return 0;
    for (const wchar_t* known : AUDIO_EXTENSIONS) {
        int i = 0;
        while (known[i] && ascii_lower(ext[i]) == known[i]) i++;
        if (!known[i] && !ext[i]) return 1;
    }
    return 0;
}

int has_audio_extension(const wchar_t* name) {
    return is_audio_extension(last_extension(name));
}

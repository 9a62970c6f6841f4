#include "library/video_id.h"

#include <windows.h>
#include <shlwapi.h>

int is_video_id_char(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
           c == L'-' || c == L'_';
}

int is_video_id(const wchar_t* text) {
    if (!text) return 0;
    for (int i = 0; i < VIDEO_ID_LENGTH; i++)
        if (!is_video_id_char(text[i])) return 0;
    return text[VIDEO_ID_LENGTH] == 0;
}

int is_video_id_group(const wchar_t* text, int length, wchar_t opener) {
    if (!text) return 0;
    if (length == VIDEO_ID_LENGTH + 2) {
        if (text[0] != L'_' || text[length - 1] != L'_') return 0;
        for (int i = 1; i < length - 1; i++)
            if (!is_video_id_char(text[i])) return 0;
        return 1;
    }
    if (length != VIDEO_ID_LENGTH) return 0;
    int has_mark = 0, has_upper = 0, has_lower = 0;  // mark: a digit, "-" or "_"
    for (int i = 0; i < length; i++) {
        wchar_t c = text[i];
        if (!is_video_id_char(c)) return 0;
        if (c >= L'A' && c <= L'Z') has_upper = 1;
        else if (c >= L'a' && c <= L'z') has_lower = 1;
        else has_mark = 1;
    }
    int mixed_case = has_upper && has_lower;
    if (opener == L'[') return has_mark || mixed_case;
    if (opener == L'(') return has_mark && mixed_case;
    return 0;
}

void video_id_from_file_name(const wchar_t* path, wchar_t* out, int out_capacity) {
    if (!out || out_capacity <= 0) return;
    out[0] = 0;
    if (out_capacity < VIDEO_ID_LENGTH + 1 || !path || !path[0]) return;
    const wchar_t* name = PathFindFileNameW(path);
    for (const wchar_t* p = name; *p; p++) {
        wchar_t closer;
        if (*p == L'(') closer = L')';
        else if (*p == L'[') closer = L']';
        else continue;
        const wchar_t* end = wcschr(p + 1, closer);
        if (!end) continue;
        int length = (int)(end - (p + 1));
        if (!is_video_id_group(p + 1, length, *p)) continue;
        const wchar_t* id = length == VIDEO_ID_LENGTH ? p + 1 : p + 2;
        for (int i = 0; i < VIDEO_ID_LENGTH; i++) out[i] = id[i];
        out[VIDEO_ID_LENGTH] = 0;
        return;
    }
}

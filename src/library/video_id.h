#pragma once
// Video ids as the downloader writes them into file names: "Title [Xk2Lm9Pq0Rs].m4a".
#include <wchar.h>

enum { VIDEO_ID_LENGTH = 11, VIDEO_ID_CAPACITY = 16 };

int is_video_id_char(wchar_t c);

// Exactly 11 id characters. Ids travel on to the downloader's command line, so only the
// id alphabet gets through.
int is_video_id(const wchar_t* text);

// Whether the text inside a bracket pair is a video id: 11 id characters that look
// generated rather than like a word, or the same wrapped in "_" (13 characters). Round
// brackets hold ordinary words more often, so they need stronger evidence.
int is_video_id_group(const wchar_t* text, int length, wchar_t opener);

// Writes the first video id found in the file-name part of path, or an empty string.
// out must hold at least 12 characters; a smaller buffer gets nothing.
void video_id_from_file_name(const wchar_t* path, wchar_t* out, int out_capacity);

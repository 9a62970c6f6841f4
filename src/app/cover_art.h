#pragma once
// The playing track's picture: where it may come from, reading it, and decoding it with the
// Windows Imaging Component into the small bitmap the player card paints. Main thread (the
// decoder is a COM object; the program's start initialises COM there).
#include <windows.h>

enum {
    COVER_SOURCE_CAPACITY = 12,
    // The card shows the picture at 56 px a side (84 at 144 dpi); this keeps it sharp at
    // high dpi without holding a camera-sized bitmap.
    COVER_SIDE_MAX = 256,
    // Real covers are well below this; a larger one is refused rather than read whole.
    COVER_BYTES_MAX = 16 * 1024 * 1024,
};

enum CoverSourceKind { COVER_FROM_FILE, COVER_FROM_TAG };

struct CoverSource {
    int kind;
    wchar_t path[MAX_PATH];  // the picture file, or the track itself for the picture in its tag
};

// Where a track's picture is looked for, best first: a picture named after the track
// (song.jpg for song.mp3), the names a folder's picture usually has (folder, cover, front),
// then the picture inside the track's own tag. Names that would not fit are left out.
// Returns how many were written. Looks at no file.
int cover_art_sources(const wchar_t* track_path, CoverSource* out, int capacity);

// An encoded picture, read whole; data is malloc'd.
struct CoverBytes {
    unsigned char* data;
    int length;
};

// The source's encoded bytes into out: 1 when there are some, at most COVER_BYTES_MAX.
int cover_art_read(const CoverSource* source, CoverBytes* out);
void cover_bytes_free(CoverBytes* bytes);

// Decodes a picture in any format the system reads (JPEG, PNG, GIF, BMP...) to its central
// square, scaled down to at most max_side, as a top-down 32-bit premultiplied BGRA DIB
// section whose side goes to *side. Null when the bytes are no picture it can read.
HBITMAP cover_art_decode(const void* bytes, int length, int max_side, int* side);

// The first of the track's sources that decodes, as cover_art_decode makes it; null when
// none does. With encoded, its bytes stay there for the caller (to free), else it is empty.
HBITMAP cover_art_load(const wchar_t* track_path, int* side, CoverBytes* encoded);

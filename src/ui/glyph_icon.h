#pragma once
// Small icons made from the program's own glyph shapes (the taskbar's thumbnail buttons), so
// that no icon font is needed. Main thread only.
#include <windows.h>

// The glyph drawn white on transparent into size x size premultiplied 0xAARRGGBB pixels.
void glyph_icon_pixels(wchar_t glyph, int size, unsigned* out);
// The same as an icon; nullptr when it cannot be made. The caller destroys it.
HICON make_glyph_icon(wchar_t glyph, int size);

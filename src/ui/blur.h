#pragma once
// The frosted glass behind the sidebar: darkening and a running-sum box blur, straight on
// the back buffer's pixels.
#include <windows.h>

#include "ui/draw.h"

enum { BLUR_RADIUS = 10, BLUR_MAX_SIDE = 2048 };

// Multiplies every channel of the pixels of area (within the clip) by (256 - amount) / 256.
void dim_pixels(Canvas* c, RECT area, int amount);

// A 21-tap box blur of area, across each row then down each column; pixels beyond the
// area's edges count as copies of the edge pixel. Areas under 3 or over 2048 pixels on a
// side are left alone.
void box_blur(Canvas* c, RECT area);

#pragma once
// The off-screen 32-bit picture every frame is drawn into before one copy to the window.
#include "app/app_state.h"

// Makes sure the buffer exists at width x height; returns 1 when it was (re)created now
// (the canvas then covers it whole), 0 when it already fitted or could not be made.
int ensure_back_buffer(BackBuffer* b, HDC reference, int width, int height);
void release_back_buffer(BackBuffer* b);

// One pass of the painter into the buffer, confined to damage (GDI and pixel clip alike).
void paint_into_back_buffer(BackBuffer* b, RECT client, RECT damage);

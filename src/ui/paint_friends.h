#pragma once
// The friends panel of the sidebar.
#include "ui/paint_common.h"

// The panel's contents between x0 and x1 (the sidebar's edges), below the header.
void paint_friends_panel(const PaintFrame* f, int x0, int x1);

// The letter on an avatar: the first character of the name (or of the tag when the name is
// empty) that is visible and not an opening bracket, in capitals the Turkish way ("i" gives
// "İ", "ı" gives "I"); a music note when there is none. A character outside the basic plane
// (an emoji) is written whole, as its two UTF-16 units. out gets the letter and a
// terminator; returns its length in units.
int avatar_letter(const wchar_t* name, const wchar_t* tag, wchar_t out[3]);
// The avatar colour of a name: 32-bit FNV-1a over its UTF-16 units, each OR-ed with 0x20,
// modulo the palette's six entries; entry 1 for an empty name.
int avatar_palette_index(const wchar_t* name);

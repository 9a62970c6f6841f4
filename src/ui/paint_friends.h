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

struct FriendEntry;
// What follows a friend's name in his row: nothing while his key is not pinned (or he now
// publishes another), one check for a pinned key, two once the user compared its code.
const wchar_t* friend_key_mark(const FriendEntry* e);
// A key's code (six groups of four digits) as two lines of three groups, which two friends
// read to each other line by line; an empty code gives a dash.
void fingerprint_lines(const wchar_t* fingerprint, wchar_t* first, wchar_t* second, int capacity);
// A friend's round avatar, radius 15, centred on (cx, cy).
void paint_friend_avatar(const PaintFrame* f, int cx, int cy, const wchar_t* name, const wchar_t* tag);
// The key card of the friend g_app.friend_card_tag names, over the list whose contents start
// at yc; nothing when he is no longer a friend or his key is not pinned.
void paint_friend_card(const PaintFrame* f, int x0, int x1, int yc);

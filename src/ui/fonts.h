#pragma once
// Device-independent lengths, the window's DPI and the ten fonts the main window draws with.
#include <windows.h>

struct FontSet {
    HFONT title;        // 15 pt 700, the letter-spaced logo
    HFONT heading;      // 12 pt 600
    HFONT label_bold;   // 10 pt 600
    HFONT body;         // 10 pt 400, the edit controls
    HFONT small;        // 9 pt 400
    HFONT small_bold;   // 9 pt 600
    HFONT caption;      // 8 pt 600
    HFONT icon_small;   // 10 pt icon face
    HFONT icon;         // 12 pt icon face
    HFONT icon_large;   // 15 pt icon face
};

// Families that newer Windows versions carry; probed once per process.
struct FontAvailability {
    int variable_text;
    int variable_display;
    int bahnschrift;
    int fluent_icons;
    int probed;
    int mdl2_assets;  // Windows 10 and later; with neither icon face the glyphs are drawn as shapes
};

extern FontSet g_fonts;
extern FontAvailability g_font_availability;
extern unsigned g_font_generation;  // counts font sets; a new set may reuse old handle values

// n DIPs in device pixels at dpi (MulDiv rounding); scale() uses the dpi of the fonts.
int scale_at(int n, int dpi);
int scale(int n);
// Points to a pixel height at dpi.
int font_pixel_height(int points, int dpi);

// The faces the slots use, given what the probe found.
const wchar_t* text_face(const FontAvailability* a);
const wchar_t* icon_face(const FontAvailability* a);
const wchar_t* title_face(const FontAvailability* a);
const wchar_t* heading_face(const FontAvailability* a);

// Replaces every font for dpi (non-positive means 96), which scale() then uses; returns
// that dpi.
int rebuild_fonts(int dpi);
void delete_fonts(void);

// GetDpiForWindow when the system has it (looked up at run time), else 96.
int window_dpi(HWND window);
// The screen's dpi (LOGPIXELSY), 96 when it cannot be read.
int screen_dpi(void);

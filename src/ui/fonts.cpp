#include "ui/fonts.h"

FontSet g_fonts;
FontAvailability g_font_availability;
unsigned g_font_generation;
static int g_font_dpi = 96;  // the dpi the current set was made for

int scale_at(int n, int dpi) {
    return MulDiv(n, dpi, 96);
}

int scale(int n) {
    return scale_at(n, g_font_dpi);
}

int font_pixel_height(int points, int dpi) {
    return MulDiv(points, dpi, 72);
}

const wchar_t* text_face(const FontAvailability* a) {
    return a->variable_text ? L"Segoe UI Variable Text" : L"Segoe UI";
}

const wchar_t* icon_face(const FontAvailability* a) {
    return a->fluent_icons ? L"Segoe Fluent Icons" : L"Segoe MDL2 Assets";
}

const wchar_t* title_face(const FontAvailability* a) {
    if (a->bahnschrift) return L"Bahnschrift";
    if (a->variable_display) return L"Segoe UI Variable Display";
    return text_face(a);
}

const wchar_t* heading_face(const FontAvailability* a) {
    return a->variable_display ? L"Segoe UI Variable Display" : text_face(a);
}

static int CALLBACK mark_found(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM flag) {
    *(int*)flag = 1;
    return 0;
}

static void probe_families(void) {
    g_font_availability.probed = 1;  // never retried, even when the screen DC is missing
    HDC dc = GetDC(nullptr);
    if (!dc) return;
    struct {
        const wchar_t* name;
        int* flag;
    } families[] = {
        {L"Segoe UI Variable Text", &g_font_availability.variable_text},
        {L"Segoe UI Variable Display", &g_font_availability.variable_display},
        {L"Bahnschrift", &g_font_availability.bahnschrift},
        {L"Segoe Fluent Icons", &g_font_availability.fluent_icons},
        {L"Segoe MDL2 Assets", &g_font_availability.mdl2_assets},
    };
    for (auto& f : families) {
        LOGFONTW lf = {};
        lf.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(lf.lfFaceName, f.name, LF_FACESIZE);
        EnumFontFamiliesExW(dc, &lf, mark_found, (LPARAM)f.flag, 0);
    }
    ReleaseDC(nullptr, dc);
}

static HFONT make_font(int points, int weight, const wchar_t* face, int dpi) {
    return CreateFontW(-font_pixel_height(points, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

void delete_fonts(void) {
    HFONT* slots = (HFONT*)&g_fonts;
    for (size_t i = 0; i < sizeof(FontSet) / sizeof(HFONT); i++) {
        if (slots[i]) DeleteObject(slots[i]);
        slots[i] = nullptr;
    }
}

int rebuild_fonts(int dpi) {
    if (dpi <= 0) dpi = 96;
    g_font_dpi = dpi;
    delete_fonts();
    g_font_generation++;
    if (!g_font_availability.probed) probe_families();
    const FontAvailability* a = &g_font_availability;
    const wchar_t* text = text_face(a);
    const wchar_t* icons = icon_face(a);
    g_fonts.title = make_font(15, 700, title_face(a), dpi);
    g_fonts.heading = make_font(12, 600, heading_face(a), dpi);
    g_fonts.label_bold = make_font(10, 600, text, dpi);
    g_fonts.body = make_font(10, 400, text, dpi);
    g_fonts.small = make_font(9, 400, text, dpi);
    g_fonts.small_bold = make_font(9, 600, text, dpi);
    g_fonts.caption = make_font(8, 600, text, dpi);
    g_fonts.icon_small = make_font(10, 400, icons, dpi);
    g_fonts.icon = make_font(12, 400, icons, dpi);
    g_fonts.icon_large = make_font(15, 400, icons, dpi);
    return dpi;
}

typedef UINT(WINAPI* GetDpiForWindowFn)(HWND);

int screen_dpi(void) {
    int dpi = 96;
    HDC screen = GetDC(nullptr);
    if (screen) {
        int y = GetDeviceCaps(screen, LOGPIXELSY);
        if (y > 0) dpi = y;
        ReleaseDC(nullptr, screen);
    }
    return dpi;
}

int window_dpi(HWND window) {
    static GetDpiForWindowFn get_dpi =
        (GetDpiForWindowFn)(void*)GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    if (!get_dpi) return 96;
    int dpi = (int)get_dpi(window);
    return dpi < 1 ? 96 : dpi;
}

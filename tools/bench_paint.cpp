// How long the main window takes to paint into its back buffer, without showing a window:
// a full repaint next to the cost of filling the same buffer with one colour, one frame of
// the banner sliding in, and where a full frame's time goes.
//   bench_paint
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "app/app_state.h"
#include "app/settings.h"
#include "base/shared_queue.h"
#include "base/wstr.h"
#include "library/track_list.h"
#include "playback/player.h"
#include "ui/back_buffer.h"
#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/hit_test.h"
#include "ui/list_geometry.h"
#include "ui/main_paint.h"
#include "program_home.h"

enum { WARM_UP_FRAMES = 20, TIMED_FRAMES = 200, TRACKS = 200 };
static const double ANIMATION_PERIOD_MS = 10.0;

static LARGE_INTEGER g_freq;

static double now_ms(void) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)g_freq.QuadPart;
}

// The machine may be busy with other work: the median and the best frame say more than the
// mean, which a single preempted frame can double.
struct Figures {
    double median, mean, best;
};

static Figures summarise(std::vector<double> samples) {
    Figures f = {0, 0, 0};
    if (samples.empty()) return f;
    for (double s : samples) f.mean += s;
    f.mean /= (double)samples.size();
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    f.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    f.best = samples[0];
    return f;
}

//~ The library on screen

static const wchar_t* const SONGS[][2] = {
    {L"Tarkan", L"Kuzu Kuzu"},
    {L"Sezen Aksu", L"Gidiyorum"},
    {L"Duman", L"Senden Daha G\u00fczel"},
    {L"Bar\u0131\u015f Man\u00e7o", L"Da\u011flar Da\u011flar"},
    {L"Sertab Erener", L"Everyway That I Can"},
    {L"maNga", L"We Could Be The Same"},
    {L"Teoman", L"\u0130stanbul'da Sonbahar"},
    {L"Ajda Pekkan", L"Bambaya\u015fka"},
    {L"M\u00fcsl\u00fcm G\u00fcrses", L"Nilf\u00fcfer"},
    {L"Mor ve \u00d6tesi", L"Bir Derdim Var"},
    {L"Sezen Aksu", L"Firuze"},
    {L"Athena", L"Holigan"},
    {L"Cem Karaca", L"Resimdeki G\u00f6zya\u015flar\u0131"},
    {L"Ezhel", L"Geceler"},
    {L"Zeki M\u00fcren", L"Gitme Sana Muhtac\u0131m"},
    {L"Kenan Do\u011fulu", L"\u015eimdi Uzaklarda"},
    {L"Daft Punk", L"Get Lucky (feat. Pharrell Williams)"},
    {L"Radiohead", L"Everything In Its Right Place"},
    {L"Fleetwood Mac", L"Dreams (2004 Remaster)"},
    {L"Massive Attack", L"Teardrop"},
    {L"Portishead", L"Glory Box"},
    {L"Nina Simone", L"Feeling Good"},
    {L"Queen", L"Bohemian Rhapsody (Remastered 2011)"},
    {L"Pink Floyd", L"Shine On You Crazy Diamond, Pts. 1-5"},
    {L"Bj\u00f6rk", L"J\u00f3ga"},
};

// Paths need not exist: the title is made from the file name alone.
static void fill_track_list(void) {
    track_list_init();
    int songs = (int)(sizeof(SONGS) / sizeof(SONGS[0]));
    for (int i = 0; i < TRACKS; i++) {
        wchar_t path[TRACK_TEXT_CAPACITY];
        const wchar_t* artist = SONGS[i % songs][0];
        const wchar_t* title = SONGS[i % songs][1];
        if (i < songs) wstr_format(path, TRACK_TEXT_CAPACITY, L"C:\\M\u00fczik\\%ls - %ls.mp3", artist, title);
        else wstr_format(path, TRACK_TEXT_CAPACITY, L"C:\\M\u00fczik\\%ls - %ls (Canl\u0131 %d).mp3", artist, title, i);
        track_list_add(path, 0);
    }
}

// The state a user looking at a playing library sees: one track playing, one row under the
// pointer, one selected, a position on the seek bar.
static void set_up_scene(void) {
    settings_defaults(&g_settings);
    app_state_init(&g_app);
    rebuild_fonts(96);
    // The program's own icon is a resource of Nelvo.exe; a stock icon of the same size stands
    // in for it in the header.
    g_app.window_icon = (HICON)LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, scale(36), scale(36), LR_SHARED);
    fill_track_list();
    g_app.window_active = 1;
    g_app.current_index = 2;
    g_app.hover_row = 5;
    g_app.selected_index = 7;
    g_app.hover_id = ELEMENT_NONE;  // the pointer is over a row, not a button
    g_app.pressed_id = ELEMENT_NONE;
    g_player.active = 1;  // no media is opened; the painter only reads these fields
    g_player.paused = 0;
    g_player.duration_s = 254;
    g_player.held_ms = 97000;
}

static void show_banner(float progress) {
    StatusBanner* b = &g_app.banner;
    b->state = BANNER_SHARED;
    b->percent = 42;
    wstr_copy(b->title, L"PAYLA\u015eILAN L\u0130STE \u0130ND\u0130R\u0130L\u0130YOR");
    wstr_copy(b->subtitle, L"Sezen Aksu - Gidiyorum (5 / 12)");
    b->hide_at = 0;
    g_shared_queue.running = 1;  // the cancel button shows while the worker would run
    g_app.banner_progress.value = progress;
}

static void hide_banner(void) {
    g_app.banner.state = BANNER_HIDDEN;
    g_app.banner_progress.value = 0;
    g_shared_queue.running = 0;
}

static int visible_rows(int height) {
    int first = list_top(0, 0, 96) + scale(FIRST_ROW_OFFSET);
    int clip_bottom = height - scale(CONTROL_BAR_HEIGHT) - scale(4);
    int pitch = scale(ROW_HEIGHT);
    int rows = clip_bottom > first ? (clip_bottom - first + pitch - 1) / pitch : 0;
    return rows < TRACKS ? rows : TRACKS;
}

//~ One frame, as the window's paint handler draws it

static void paint_frame(RECT client, RECT damage) {
    paint_into_back_buffer(&g_app.back_buffer, client, damage);
}

static std::vector<double> time_frames(RECT client, RECT damage) {
    for (int i = 0; i < WARM_UP_FRAMES; i++) paint_frame(client, damage);
    std::vector<double> samples;
    samples.reserve(TIMED_FRAMES);
    for (int i = 0; i < TIMED_FRAMES; i++) {
        double start = now_ms();
        paint_frame(client, damage);
        samples.push_back(now_ms() - start);
    }
    return samples;
}

// The floor a frame cannot go below: every pixel of the buffer stored once.
static void __attribute__((noinline)) store_words(unsigned* p, size_t n, unsigned word) {
    for (size_t i = 0; i < n; i++) p[i] = word;
}

static std::vector<double> time_plain_fill(void) {
    size_t n = (size_t)g_canvas.width * (size_t)g_canvas.height;
    std::vector<double> samples;
    for (int i = 0; i < WARM_UP_FRAMES + TIMED_FRAMES; i++) {
        double start = now_ms();
        store_words(g_canvas.bits, n, 0xFF050505u + (unsigned)(i & 1));
        if (i >= WARM_UP_FRAMES) samples.push_back(now_ms() - start);
    }
    return samples;
}

static std::vector<double> time_rect_fill(void) {
    RECT all = {0, 0, g_canvas.width, g_canvas.height};
    g_canvas.clip = all;
    std::vector<double> samples;
    for (int i = 0; i < WARM_UP_FRAMES + TIMED_FRAMES; i++) {
        double start = now_ms();
        fill_round_rect(&g_canvas, all, 0, RGB(5, 5, 5 + (i & 1)), 255, 0, 0);
        if (i >= WARM_UP_FRAMES) samples.push_back(now_ms() - start);
    }
    return samples;
}

//~ Where a frame's time goes: the GDI calls the painter makes, timed through the import table

struct CallTime {
    double ms;
    long calls;
};

static CallTime g_text_time, g_flush_time, g_icon_time, g_state_time;
static int g_skip_text;

static int(WINAPI* real_draw_text)(HDC, LPCWSTR, int, LPRECT, UINT);
static BOOL(WINAPI* real_gdi_flush)(void);
static BOOL(WINAPI* real_draw_icon_ex)(HDC, int, int, HICON, int, int, UINT, HBRUSH, UINT);
static int(WINAPI* real_save_dc)(HDC);
static BOOL(WINAPI* real_restore_dc)(HDC, int);
static int(WINAPI* real_intersect_clip_rect)(HDC, int, int, int, int);
static HGDIOBJ(WINAPI* real_select_object)(HDC, HGDIOBJ);
static COLORREF(WINAPI* real_set_text_color)(HDC, COLORREF);

static int WINAPI timed_draw_text(HDC dc, LPCWSTR text, int n, LPRECT r, UINT format) {
    double start = now_ms();
    int result = g_skip_text ? 1 : real_draw_text(dc, text, n, r, format);
    g_text_time.ms += now_ms() - start;
    g_text_time.calls++;
    return result;
}

static BOOL WINAPI timed_gdi_flush(void) {
    double start = now_ms();
    BOOL result = real_gdi_flush();
    g_flush_time.ms += now_ms() - start;
    g_flush_time.calls++;
    return result;
}

static BOOL WINAPI timed_draw_icon_ex(HDC dc, int x, int y, HICON icon, int w, int h, UINT step, HBRUSH brush,
                                      UINT flags) {
    double start = now_ms();
    BOOL result = real_draw_icon_ex(dc, x, y, icon, w, h, step, brush, flags);
    g_icon_time.ms += now_ms() - start;
    g_icon_time.calls++;
    return result;
}

static int WINAPI timed_save_dc(HDC dc) {
    double start = now_ms();
    int result = real_save_dc(dc);
    g_state_time.ms += now_ms() - start;
    g_state_time.calls++;
    return result;
}

static BOOL WINAPI timed_restore_dc(HDC dc, int saved) {
    double start = now_ms();
    BOOL result = real_restore_dc(dc, saved);
    g_state_time.ms += now_ms() - start;
    g_state_time.calls++;
    return result;
}

static int WINAPI timed_intersect_clip_rect(HDC dc, int l, int t, int r, int b) {
    double start = now_ms();
    int result = real_intersect_clip_rect(dc, l, t, r, b);
    g_state_time.ms += now_ms() - start;
    g_state_time.calls++;
    return result;
}

static HGDIOBJ WINAPI timed_select_object(HDC dc, HGDIOBJ object) {
    double start = now_ms();
    HGDIOBJ result = real_select_object(dc, object);
    g_state_time.ms += now_ms() - start;
    g_state_time.calls++;
    return result;
}

static COLORREF WINAPI timed_set_text_color(HDC dc, COLORREF color) {
    double start = now_ms();
    COLORREF result = real_set_text_color(dc, color);
    g_state_time.ms += now_ms() - start;
    g_state_time.calls++;
    return result;
}

// The slot in this program's import table through which every call to dll!name goes (the
// painter is linked into this executable, so patching the slot reroutes its calls too).
static void** import_slot(const char* dll, const char* name) {
    BYTE* base = (BYTE*)GetModuleHandleW(nullptr);
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return nullptr;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; d++) {
        if (lstrcmpiA((const char*)(base + d->Name), dll) || !d->OriginalFirstThunk) continue;
        IMAGE_THUNK_DATA* names = (IMAGE_THUNK_DATA*)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            IMAGE_IMPORT_BY_NAME* by_name = (IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (!strcmp((const char*)by_name->Name, name)) return (void**)&slots->u1.Function;
        }
    }
    return nullptr;
}

// Puts replacement in the slot and returns what was there (null when the slot is missing).
static void* swap_import(const char* dll, const char* name, void* replacement) {
    void** slot = import_slot(dll, name);
    if (!slot) return nullptr;
    DWORD old;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old);
    void* previous = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof(void*), old, &old);
    return previous;
}

template <typename Fn>
static void route(const char* dll, const char* name, Fn* real, Fn timed) {
    *real = (Fn)swap_import(dll, name, (void*)timed);
}

static int time_gdi_calls(void) {
    route("user32.dll", "DrawTextW", &real_draw_text, timed_draw_text);
    route("gdi32.dll", "GdiFlush", &real_gdi_flush, timed_gdi_flush);
    route("user32.dll", "DrawIconEx", &real_draw_icon_ex, timed_draw_icon_ex);
    route("gdi32.dll", "SaveDC", &real_save_dc, timed_save_dc);
    route("gdi32.dll", "RestoreDC", &real_restore_dc, timed_restore_dc);
    route("gdi32.dll", "IntersectClipRect", &real_intersect_clip_rect, timed_intersect_clip_rect);
    route("gdi32.dll", "SelectObject", &real_select_object, timed_select_object);
    route("gdi32.dll", "SetTextColor", &real_set_text_color, timed_set_text_color);
    return real_draw_text && real_gdi_flush && real_draw_icon_ex && real_save_dc && real_restore_dc &&
           real_intersect_clip_rect && real_select_object && real_set_text_color;
}

static void reset_call_times(void) {
    g_text_time = g_flush_time = g_icon_time = g_state_time = CallTime{0, 0};
}

static void print_call(const char* what, CallTime t, int frames) {
    printf("    %-44s %7.3f ms  (%ld calls)\n", what, t.ms / frames, t.calls / frames);
}

//~ The figures

static int make_buffer(int width, int height) {
    HDC screen = GetDC(nullptr);
    ensure_back_buffer(&g_app.back_buffer, screen, width, height);
    ReleaseDC(nullptr, screen);
    return g_app.back_buffer.dc != nullptr;
}

static void print_figures(const char* what, Figures f) {
    printf("  %-26s median %7.3f ms  mean %7.3f ms  best %7.3f ms\n", what, f.median, f.mean, f.best);
}

static void full_repaint(int width, int height) {
    if (!make_buffer(width, height)) {
        printf("%d x %d: no back buffer\n", width, height);
        return;
    }
    RECT client = {0, 0, width, height};
    hide_banner();
    Figures frame = summarise(time_frames(client, client));
    Figures plain = summarise(time_plain_fill());
    Figures rect = summarise(time_rect_fill());
    printf("== full repaint %d x %d (%d tracks, %d rows visible)\n", width, height, TRACKS, visible_rows(height));
    print_figures("frame", frame);
    print_figures("fill, one store per pixel", plain);
    print_figures("fill, fill_round_rect", rect);
    printf("  ratio frame / plain fill:  %.1f by medians, %.1f by best (goal <= 8)\n", frame.median / plain.median,
           frame.best / plain.best);
    printf("  ratio frame / rect fill:   %.1f by medians, %.1f by best\n", frame.median / rect.median,
           frame.best / rect.best);
}

static void banner_frame(int width, int height) {
    if (!make_buffer(width, height)) return;
    RECT client = {0, 0, width, height};
    show_banner(0.5f);
    int top = scale(HEADER_HEIGHT);
    int band = banner_height(g_app.banner_progress.value, g_app.dpi);
    paint_frame(client, client);  // the frame before the slide step
    Figures below = summarise(time_frames(client, RECT{0, top, width, height}));
    Figures only = summarise(time_frames(client, RECT{0, top, width, top + band}));
    printf("== banner sliding in, %d x %d (progress 0.5, band %d px high)\n", width, height, band);
    printf("  below the header, y %d..%d:\n", top, height);
    print_figures("", below);
    printf("    = %.1f%% of the %.0f ms animation period by the median\n", 100 * below.median / ANIMATION_PERIOD_MS,
           ANIMATION_PERIOD_MS);
    printf("  the banner band only, y %d..%d:\n", top, top + band);
    print_figures("", only);
    printf("    = %.1f%% of the %.0f ms animation period by the median\n", 100 * only.median / ANIMATION_PERIOD_MS,
           ANIMATION_PERIOD_MS);
    hide_banner();
}

// Splits a full frame by the regions of the window it repaints.
static void bands(int width, int height) {
    if (!make_buffer(width, height)) return;
    RECT client = {0, 0, width, height};
    hide_banner();
    int header = scale(HEADER_HEIGHT);
    int card = height - scale(CONTROL_BAR_HEIGHT) - scale(4);
    struct Band {
        const char* name;
        RECT damage;
    } parts[] = {
        {"header", RECT{0, 0, width, header}},
        {"list (column header and rows)", RECT{0, header, width, card}},
        {"player card", RECT{0, card, width, height}},
    };
    printf("== one region repainted, %d x %d\n", width, height);
    for (const Band& b : parts) {
        Figures f = summarise(time_frames(client, b.damage));
        printf("  %-32s median %7.3f ms  best %7.3f ms\n", b.name, f.median, f.best);
    }
}

// Splits a full frame by the GDI calls made in it; the rest of the time is the program's
// own pixel routines and bookkeeping. Runs with the calls rerouted through timing wrappers.
static void gdi_calls(int width, int height) {
    if (!make_buffer(width, height)) return;
    RECT client = {0, 0, width, height};
    hide_banner();
    reset_call_times();
    double start = now_ms();
    for (int i = 0; i < TIMED_FRAMES; i++) paint_frame(client, client);
    double wrapped = (now_ms() - start) / TIMED_FRAMES;
    int frames = TIMED_FRAMES;
    printf("== GDI calls in a full frame, %d x %d (means; each call timed adds two clock reads)\n", width, height);
    printf("  whole frame with the wrappers                  %7.3f ms, of which:\n", wrapped);
    print_call("DrawTextW", g_text_time, frames);
    print_call("DrawIconEx", g_icon_time, frames);
    print_call("GdiFlush", g_flush_time, frames);
    print_call("SaveDC/RestoreDC/IntersectClipRect/Select/Color", g_state_time, frames);
    double gdi = (g_text_time.ms + g_icon_time.ms + g_flush_time.ms + g_state_time.ms) / frames;
    printf("    %-44s %7.3f ms\n", "the rest: own pixel routines and logic", wrapped - gdi);
    Figures with_text = summarise(time_frames(client, client));
    g_skip_text = 1;
    Figures no_text = summarise(time_frames(client, client));
    g_skip_text = 0;
    printf("  with the wrappers, text drawn:     median %7.3f ms  best %7.3f ms\n", with_text.median, with_text.best);
    printf("  with the wrappers, text skipped:   median %7.3f ms  best %7.3f ms\n", no_text.median, no_text.best);
}

// The painter selects a font twice per text and RestoreDC selects one again; what that costs
// depends on the system (under Wine it is an order of magnitude dearer with an X display than
// without), so the figure is printed beside the frame times.
static void font_select_cost(void) {
    if (!make_buffer(680, 720)) return;
    HDC dc = g_app.back_buffer.dc;
    const int n = 2000;
    double start = now_ms();
    for (int i = 0; i < n; i++) {
        HGDIOBJ old = SelectObject(dc, g_fonts.small);
        SelectObject(dc, old);
    }
    double select_us = (now_ms() - start) * 1000 / (2 * n);
    start = now_ms();
    for (int i = 0; i < n; i++) RestoreDC(dc, SaveDC(dc));
    double save_us = (now_ms() - start) * 1000 / n;
    printf("on this system: SelectObject(font) %.2f us, SaveDC + RestoreDC %.2f us\n", select_us, save_us);
}

int wmain(int argc, wchar_t** argv) {
    program_home_enter(L"bench-paint");
    (void)argc;
    (void)argv;
    QueryPerformanceFrequency(&g_freq);
    set_up_scene();
    printf("times per frame into the back buffer, %d frames after %d warm-up frames; 96 dpi\n", TIMED_FRAMES,
           WARM_UP_FRAMES);
    font_select_cost();
    const int sizes[][2] = {{680, 720}, {1920, 1080}};
    for (auto& s : sizes) full_repaint(s[0], s[1]);
    for (auto& s : sizes) banner_frame(s[0], s[1]);
    for (auto& s : sizes) bands(s[0], s[1]);
    if (time_gdi_calls()) {
        for (auto& s : sizes) gdi_calls(s[0], s[1]);
    } else {
        printf("(the GDI calls could not be rerouted; no breakdown)\n");
    }
    release_back_buffer(&g_app.back_buffer);
    delete_fonts();
    track_list_free();
    return 0;
}

#include "ui/list_geometry.h"

#include <math.h>

#include "ui/fonts.h"

int jam_bar_height(float progress, int progress_notice, int dpi) {
    int full = scale_at(progress_notice ? JAM_BAR_PROGRESS_HEIGHT : JAM_BAR_HEIGHT, dpi);
    return (int)lroundf(full * progress);
}

int banner_height(float progress, int dpi) {
    return (int)lroundf(scale_at(BANNER_HEIGHT, dpi) * progress);
}

int list_top(int jam_bar_h, int banner_h, int dpi) {
    return scale_at(HEADER_HEIGHT, dpi) + jam_bar_h + banner_h + scale_at(LIST_GAP_ABOVE, dpi);
}

int list_bottom(int client_bottom, int dpi) {
    return client_bottom - scale_at(CONTROL_BAR_HEIGHT, dpi);
}

float wheel_scroll_target(float target, int delta, float step, float limit) {
    float t = target < 0 ? 0 : (target > limit ? limit : target);
    t += ((float)delta / -120.0f) * step;
    return t < 0 ? 0 : (t > limit ? limit : t);
}

int max_scroll(int rows, int top, int bottom, int dpi) {
    int visible = bottom - top;
    if (visible < 0) visible = 0;
    int content = scale_at(12, dpi) + rows * scale_at(ROW_HEIGHT, dpi);
    return content > visible ? content - visible : 0;
}

PixelRect search_pill_rect(int client_width, int dpi) {
    int width = scale_at(client_width < scale_at(560, dpi) ? 148 : 190, dpi);
    int height = scale_at(34, dpi);
    PixelRect r;
    r.right = client_width - scale_at(12, dpi);
    r.left = r.right - width;
    r.top = (scale_at(HEADER_HEIGHT, dpi) - height) / 2;
    r.bottom = r.top + height;
    return r;
}

PixelRect search_edit_rect(int client_width, int dpi, int has_text) {
    int box = scale_at(client_width < scale_at(560, dpi) ? 148 : 190, dpi);
    PixelRect r;
    r.left = client_width - box + scale_at(16, dpi);
    r.top = scale_at(20, dpi);
    r.right = r.left + box - scale_at(28, dpi) - scale_at(has_text ? 30 : 12, dpi);
    r.bottom = r.top + scale_at(20, dpi);
    return r;
}

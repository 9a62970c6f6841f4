#include "ui/hit_test.h"

#include <math.h>

#include "ui/fonts.h"
#include "ui/list_geometry.h"

static int hit(const RECT* rects, int id, POINT p) {
    const RECT* r = &rects[id];
    return r->left < r->right && r->top < r->bottom && PtInRect(r, p);
}

int element_hit_test(const RECT* rects, POINT p, const HitState* s) {
    if (s->invitation_pending) {
        if (hit(rects, ELEMENT_INVITE_JOIN, p)) return ELEMENT_INVITE_JOIN;
        if (hit(rects, ELEMENT_INVITE_CLOSE, p)) return ELEMENT_INVITE_CLOSE;
    }
    if (hit(rects, ELEMENT_MENU, p)) return ELEMENT_MENU;
    if (hit(rects, ELEMENT_FRIENDS, p)) return ELEMENT_FRIENDS;
    if (s->filter_has_text && hit(rects, ELEMENT_SEARCH_CLEAR, p)) return ELEMENT_SEARCH_CLEAR;
    if (hit(rects, ELEMENT_DOWNLOAD, p)) return ELEMENT_DOWNLOAD;
    // Inside the open sidebar only its own elements count.
    if (s->sidebar_width > 12 && p.x < s->sidebar_width && p.y >= s->header_height) {
        if (!s->friends_mode) return ELEMENT_NONE;
        static const int PANEL_ORDER[] = {ELEMENT_PANEL_BACK,   ELEMENT_PANEL_REFRESH, ELEMENT_PANEL_EDIT_NAME,
                                          ELEMENT_PANEL_COPY_TAG, ELEMENT_TAB_FRIENDS, ELEMENT_TAB_REQUESTS,
                                          ELEMENT_TAB_ADD};
        for (int id : PANEL_ORDER)
            if (hit(rects, id, p)) return id;
        if (s->friends_tab == 2 && hit(rects, ELEMENT_SEND_REQUEST, p)) return ELEMENT_SEND_REQUEST;
        return ELEMENT_NONE;
    }
    // Right of an open sidebar the rest of the window is covered.
    if (s->sidebar_width > 12 && p.y >= s->header_height && (s->sidebar_open || s->sidebar_progress > 0.25f))
        return ELEMENT_NONE;
    if (s->jam_active) {
        if (hit(rects, ELEMENT_JAM_LEAVE, p)) return ELEMENT_JAM_LEAVE;
        if (hit(rects, ELEMENT_JAM_DOWNLOAD, p)) return ELEMENT_JAM_DOWNLOAD;
    }
    if ((s->banner_shown || s->banner_progress > 0.1f) && hit(rects, ELEMENT_BANNER_CANCEL, p))
        return ELEMENT_BANNER_CANCEL;
    static const int CONTROL_ORDER[] = {ELEMENT_PLAY,   ELEMENT_PREVIOUS, ELEMENT_NEXT, ELEMENT_SHUFFLE,
                                        ELEMENT_REPEAT, ELEMENT_MUTE,     ELEMENT_SEEK, ELEMENT_VOLUME,
                                        ELEMENT_SORT};
    for (int id : CONTROL_ORDER)
        if (hit(rects, id, p)) return id;
    return ELEMENT_NONE;
}

int row_at_point(const RowGeometry* g, int x, int y, const int* filtered, int filtered_count, int filter_active,
                 int track_count) {
    if (y < g->list_top || y >= g->list_bottom) return -1;
    if (x < scale_at(12, g->dpi) || x > g->client_right - scale_at(18, g->dpi)) return -1;
    // The 6 px above the first row still belong to it (the division truncates toward zero).
    // The offset is rounded as the painter rounds it, so a click lands on the row drawn there.
    int offset = y - g->list_top - scale_at(FIRST_ROW_OFFSET, g->dpi) + (int)lroundf(g->scroll_offset);
    int row = offset / scale_at(ROW_HEIGHT, g->dpi);
    if (filter_active) return row < filtered_count ? filtered[row] : -1;
    return row < track_count ? row : -1;
}

// Where everything of the search window goes, as a function of its client size and DPI.
// Lengths are device-independent and scaled where they are used.
#include "acquire/search_window.h"
#include "ui/fonts.h"

static RECT rect_at(int x, int y, int width, int height) {
    RECT r = {x, y, x + width, y + height};
    return r;
}

SearchLayout search_layout(int w, int h, int dpi) {
    auto s = [dpi](int n) { return scale_at(n, dpi); };
    SearchLayout l = {};
    int r = w / 2 < s(280) ? w / 2 : s(280);
    if (r < s(240)) r = s(240);
    l.right_width = r;
    l.right_left = w - s(16) - r;
    int left = w - s(16) - r - s(14) - s(16);
    if (left < s(260)) left = s(260);
    l.left_width = left;

    l.search_field = {s(16), s(16), s(16) + left - s(100), s(52)};
    l.edit = rect_at(s(26), s(24), left - s(92) - s(8) - s(20), s(22));
    l.search_button = rect_at(left + s(16) - s(92), s(16), s(84), s(36));
    l.folder_label = rect_at(s(18), s(64), left - s(108) - s(8) - s(4), s(24));
    l.folder_button = rect_at(left + s(16) - s(112), s(60), s(104), s(28));
    l.list = rect_at(s(16), s(96), left, h - s(16) - s(22) - s(96) - s(8));
    l.list_panel = {s(15), s(95), left + s(17), h - s(16) - s(30) + s(1)};
    l.status_label = rect_at(s(18), h - s(16) - s(22), left - s(4), s(22));
    // Flush with the list panel's edge; the status line gives way to it, and its text
    // (what is missing and where it goes) must still fit at the default size.
    l.open_folder_button = rect_at(left + s(16) - s(76), h - s(16) - s(24), s(76), s(24));
    l.status_label_short = l.status_label;
    l.status_label_short.right = l.open_folder_button.left - s(6);

    int x = l.right_left;
    l.right_panel = {x, s(16), w - s(16), h - s(16)};
    l.download_button = rect_at(x + s(14), h - s(16) - s(14) - s(44), r - s(28), s(44));
    int preview_width = r - s(28);
    l.preview = rect_at(x + s(14), s(16) + s(14), preview_width, preview_width * 9 / 16);
    l.status_panel = {l.download_button.left, l.download_button.top - s(10) - s(46), l.download_button.right,
                      l.download_button.top - s(10)};
    return l;
}

SIZE search_min_track_size(int dpi) {
    SIZE size = {scale_at(680, dpi), scale_at(460, dpi)};
    return size;
}

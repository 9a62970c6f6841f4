#include "app/app_state.h"

#include <new>

AppState g_app;
Settings g_settings;

void app_state_init(AppState* app) {
    // Everything starts at zero (a window created again in the same process, as tests do,
    // must not see the last one's filter or marks); then the few non-zero starts.
    app->~AppState();
    new (app) AppState();
    app->dpi = 96;
    app->current_index = -1;
    app->selected_index = -1;
    app->hover_row = -1;
    app->hover_menu_item = -1;
    app->press_row = -1;
    app->drag_row = -1;
    app->drop_row = -1;
    app->pressed_menu_item = -1;
    app->last_volume = 80;
}

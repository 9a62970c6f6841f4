#include "app/app_state.h"

#include "app/shared_queue.h"

AppState g_app;
SharedQueue g_shared_queue;

void app_state_init(AppState* app) {
    app->dpi = 96;
    app->current_index = -1;
    app->selected_index = -1;
    app->hover_row = -1;
    app->hover_menu_item = -1;
    app->press_row = -1;
    app->drag_row = -1;
    app->drop_row = -1;
    app->last_volume = 80;
}

#include "app/pending_subsystems.h"

int transport_start(HWND) { return 0; }
void transport_stop(void) {}
void send_friend_request_from_input(void) {}
int ask_keep_downloads(HWND) { return 0; }

void update_remove_leftovers(void) {}
void update_check_start(int) {}
void update_record_release(LPARAM) {}

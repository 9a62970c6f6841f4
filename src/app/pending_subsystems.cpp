#include "app/pending_subsystems.h"

void jam_message_received(const char*, const char*) {}
int ask_keep_downloads(HWND) { return 0; }

void update_remove_leftovers(void) {}
void update_check_start(int) {}
void update_record_release(LPARAM) {}

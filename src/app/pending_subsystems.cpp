#include "app/pending_subsystems.h"

void update_remove_leftovers(void) {}
void update_check_start(int) {}
void update_record_release(LPARAM) {}

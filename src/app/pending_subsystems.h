#pragma once
// The shell's calls into what is not built yet: the updater. Each does nothing (and reports
// "none" or "not started") until its part lands and replaces it; none pretends that work
// was done. Only the shell includes this.
#include <windows.h>

void update_remove_leftovers(void);
void update_check_start(int silent);
void update_record_release(LPARAM record);

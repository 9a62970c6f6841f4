#pragma once
// The shell's calls into what is not built yet: starting the messaging transport, the
// keep-downloads question of a Jam, the friends panel's send button and the updater. Each
// does nothing (and reports "no", "none" or "not started") until its part lands and
// replaces it; none pretends that work was done. Only the shell includes this.
#include <windows.h>

int transport_start(HWND receiver);  // 0: no transport
void transport_stop(void);
void send_friend_request_from_input(void);
// Asks whether tracks downloaded for a Jam stay after it; 1 keep.
int ask_keep_downloads(HWND owner);

// The updater.
void update_remove_leftovers(void);
void update_check_start(int silent);
void update_record_release(LPARAM record);

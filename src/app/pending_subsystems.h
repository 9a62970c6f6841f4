#pragma once
// The shell's calls into what is not built yet: the Jam room's messages, the keep-downloads
// question of a Jam and the updater. Each
// does nothing (and reports "no", "none" or "not started") until its part lands and
// replaces it; none pretends that work was done. Only the shell includes this.
#include <windows.h>

// A transport message that the friend protocol has seen, offered to the Jam room.
void jam_message_received(const char* topic, const char* payload);
// Asks whether tracks downloaded for a Jam stay after it; 1 keep.
int ask_keep_downloads(HWND owner);

// The updater.
void update_remove_leftovers(void);
void update_check_start(int silent);
void update_record_release(LPARAM record);

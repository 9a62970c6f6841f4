#include "app/pending_subsystems.h"

void identity_load(void) {}
int transport_start(HWND) { return 0; }
void transport_stop(void) {}
void friends_say_bye(void) {}
void presence_set_playing(int, const wchar_t*) {}
void presence_expire(void) {}
void presence_ping_all(void) {}
int friend_lookup_found(const wchar_t*) { return 0; }
void friend_lookup_start(const wchar_t*) {}
void friend_lookup_cancel(void) {}
void friend_request_send(const wchar_t*) {}
void mqtt_event_release(WPARAM) {}

void jam_reset(void) {}
int jam_is_active(void) { return 0; }
int jam_in_room(void) { return 0; }
int jam_is_host(void) { return 0; }
int jam_invitation_pending(void) { return 0; }
int jam_notice_is_progress(void) { return 0; }
void jam_leave(void) {}
void jam_set_notice(const wchar_t*, int, const wchar_t*) {}
void jam_send_state(int, const wchar_t*, const wchar_t*, int) {}
void jam_send_pos(int, int) {}
void jam_tick(void) {}
void jam_on_download_done(void) {}
void jam_on_autofetch_done(int, LPARAM request) { autofetch_request_release(request); }

int import_playlist(const wchar_t*) { return 0; }
void remove_selected_or_marked(void) {}
void delete_jam_downloads(void) {}
void autofetch_request_release(LPARAM) {}

const wchar_t* search_window_download_title(void) { return L""; }
const wchar_t* search_window_download_folder(void) { return L""; }

void update_remove_leftovers(void) {}
void update_check_start(int) {}
void update_record_release(LPARAM) {}

// The shell's side of a Jam room: what an incoming room message leads to here (answers to
// members who asked, the received state or position carried out on the player), and the
// keep-downloads question.
#include <windows.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/play_queue.h"
#include "app/track_actions.h"
#include "base/shared_queue.h"
#include "base/ticks.h"
#include "base/wstr.h"
#include "library/matching.h"
#include "library/track_list.h"
#include "library/video_id.h"
#include "playback/player.h"
#include "social/jam.h"
#include "social/presence.h"

static void answer_askers(void) {
    wchar_t tag[JAM_TAG_CAPACITY];
    while (jam_next_asker(tag, JAM_TAG_CAPACITY)) {
        const Track* t = track_list_at(g_app.current_index);
        if (!t || !jam_in_room()) continue;
        wchar_t id[VIDEO_ID_CAPACITY];
        video_id_from_file_name(t->path, id, VIDEO_ID_CAPACITY);
        wchar_t title[TRACK_TEXT_CAPACITY];
        track_full_title(t, title, TRACK_TEXT_CAPACITY);
        jam_send_state_to(tag, player_is_playing(), title, id, player_position_ms());
    }
}

// The time the last seek or opening of a sync took in the player call itself.
static int g_player_call_ms;

static void note_player_call(DWORD started) {
    DWORD took = ticks_since(started, tick_fine());
    g_player_call_ms = took > 1000 ? 1000 : (int)took;
}

void jam_apply_sync(const JamSync* record) {
    JamLocal local = {};
    local.has_current = track_list_at(g_app.current_index) != nullptr;
    local.current_index = g_app.current_index;
    local.loaded = player_has_track();
    local.position_ms = player_position_ms();
    local.playing = player_is_playing();
    local.fetch_running = g_jam_fetch.running.load() != 0;
    local.found_index = -1;
    if (!record->is_position && (record->title[0] || record->video_id[0])) {
        local.current_matches =
            local.has_current && track_matches_wanted(g_app.current_index, record->title, record->video_id);
        if (!local.current_matches) local.found_index = find_matching_track(record->title, record->video_id);
    }
    local.player_call_ms = g_player_call_ms;
    // Taken last: the time spent here since the message arrived counts too.
    local.now = tick_fine();
    JamSyncPlan plan;
    if (!jam_plan_sync(record, &local, &g_jam_wanted, &plan)) return;

    int was_applying = g_app.applying_sync;
    g_app.applying_sync = 1;
    if (plan.ask_state) jam_ask_state();
    if (plan.stop_player) {
        player_stop();
        g_app.current_index = -1;
    }
    if (plan.seek_ms >= 0) {
        DWORD started = tick_fine();
        player_seek_ms(plan.seek_ms);
        note_player_call(started);
    }
    if (plan.pause && player_is_playing()) player_toggle_pause();
    if (plan.resume && !player_is_playing()) player_play();
    if (plan.play_index >= 0) {
        g_jam_fetch.stop.store(1);
        DWORD started = tick_fine();
        play_track(plan.play_index, plan.play_at_ms, plan.play_paused, 1);
        note_player_call(started);
        scroll_into_view(plan.play_index);
    } else if (plan.stop_fetch) {
        g_jam_fetch.stop.store(1);
    }
    if (plan.start_fetch) start_jam_fetch();
    if (plan.notice) jam_set_notice(plan.notice, 0, nullptr);
    if (plan.refresh_presence) refresh_now_playing();
    g_app.applying_sync = was_applying;
    invalidate_control_bar();
    choose_tick_period();
}

void jam_message_received(const char* topic, const char* payload, const JamWireMessage* m, DWORD arrived_at) {
    int was_active = jam_is_active();
    jam_protocol_take(topic, payload, m, arrived_at);
    answer_askers();
    JamSync record;
    if (jam_take_sync(&record)) jam_apply_sync(&record);
    if (was_active && !jam_is_active()) {
        // The room ended with this message: its track is no longer wanted.
        jam_wanted_clear();
        g_jam_fetch.stop.store(1);
    }
}

void leave_jam_room(void) {
    jam_wanted_clear();
    g_jam_fetch.stop.exchange(1);
    jam_leave();
    delete_jam_downloads();
}

int ask_keep_downloads(HWND owner) {
    int answer = MessageBoxW(owner,
                             L"Bu arkada\u015f\u0131n\u0131zla ortak Jam odas\u0131ndayken indirilen m\u00fczikler "
                             L"cihaz\u0131n\u0131zda kals\u0131n m\u0131?\n\n[EVET]: M\u00fczikler cihazda kals\u0131n "
                             L"(listenin en alt\u0131na eklenir)\n[HAYIR]: Yaln\u0131zca Jam s\u0131ras\u0131nda "
                             L"dinlensin (ayr\u0131l\u0131nca temizlensin)",
                             L"Nelvo - Jam M\u00fczik Tercihi", MB_YESNO | MB_ICONQUESTION);
    return answer == IDYES;
}

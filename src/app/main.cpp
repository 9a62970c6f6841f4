// The process entry: everything else lives in the nelvo library, so that tests can create
// the real main window in their own process.
#include <windows.h>

#include "app/startup.h"
#ifdef NELVO_LOOPBACK_BROKERS
#include "net/mqtt.h"
#include "update/updater.h"
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
#ifdef NELVO_LOOPBACK_BROKERS
    // The copy the tests start: both links go to a loopback port where no broker listens, so
    // that a test never talks to the public brokers, and the update check goes nowhere.
    for (int i = 0; i < MQTT_LINK_COUNT; i++) mqtt_set_broker(i, "127.0.0.1", 1);
    update_set_server(L"");  // nor the update server
#endif
    return app_run(instance, GetCommandLineW(), show);
}

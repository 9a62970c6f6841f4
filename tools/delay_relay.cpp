// A slow network between an installation and a loopback broker, by hand:
//   delay_relay.exe TARGET_PORT DELAY_MS JITTER_MS [LISTEN_PORT]
// relays 127.0.0.1:LISTEN_PORT (a free port when not given; printed as "PORT n") to the
// broker at 127.0.0.1:TARGET_PORT, holding each direction DELAY_MS ± JITTER_MS. It runs until
// its standard input ends (Ctrl+D, or the parent closing the pipe).
#include <stdio.h>
#include <stdlib.h>

#include "delay_relay.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        fputs("usage: delay_relay TARGET_PORT DELAY_MS JITTER_MS [LISTEN_PORT]\n", stderr);
        return 2;
    }
    DelayRelay relay;
    if (!relay.start(_wtoi(argv[1]), _wtoi(argv[2]), _wtoi(argv[3]), argc > 4 ? _wtoi(argv[4]) : 0)) {
        fputs("cannot listen\n", stderr);
        return 1;
    }
    printf("PORT %d\n", relay.port);
    fflush(stdout);
    while (getchar() != EOF) {
    }
    relay.stop();
    return 0;
}

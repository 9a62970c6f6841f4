#include "base/shared_queue.h"

SharedQueue g_shared_queue;
JamFetchFlags g_jam_fetch;

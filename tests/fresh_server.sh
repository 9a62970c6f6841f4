#!/usr/bin/env bash
# Runs a test executable on a Wine server of its own. The installation tests start dozens of
# Wine processes and connections; after the earlier executables of a run have come and gone
# on the same server, sockets in the test process sometimes stopped being made midway
# (seen only in whole runs, never in a run of this executable alone).
#   fresh_server.sh COMMAND [ARGS...]
wineserver -k >/dev/null 2>&1 || true
exec "$@"

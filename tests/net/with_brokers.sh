#!/usr/bin/env bash
# Runs the network tests and afterwards stops every broker they started, even when a test
# crashed before stopping its own: each broker the tests start leaves its process id in a
# folder of this run.
#   with_brokers.sh EMULATOR EXE [ARGS...]
dir=$(mktemp -d /tmp/nelvo-brokers.XXXXXX)
cleanup() {
  for f in "$dir"/*.pid; do
    [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null
  done
  rm -rf "$dir"
}
trap cleanup EXIT
export NELVO_TEST_BROKER_DIR="Z:${dir//\//\\}"
"$@"

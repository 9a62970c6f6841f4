#!/usr/bin/env bash
# Runs a test command on a screen of its own: a virtual 1280 x 800 display whose lowest 48
# pixels a taskbar holds (the work area a desktop's panel announces to the X server, which
# Wine takes), and a Wine prefix of its own at 144 dpi (150 %, the LogPixels value of
# HKCU\Control Panel\Desktop). Wine takes the DPI from the prefix's registry when a process
# starts, and the screen and its work area when the prefix's desktop starts, so neither can
# change for one test inside the suite's own prefix and display. The prefix is made once per
# build folder (build/wine-144dpi, a few seconds) and kept.
#   at_144dpi.sh BUILD_DIR COMMAND [ARGS...]
set -u
build=$1
shift
if [ -z "${NELVO_144DPI_DISPLAY:-}" ]; then
  export NELVO_144DPI_DISPLAY=1
  # -noreset: the root window's work area must outlive the moment no client is connected.
  exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$build" "$@"
fi
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEPREFIX="$build/wine-144dpi" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" NELVO_TEST_144DPI=1
xprop -root -format _NET_WORKAREA 32c -set _NET_WORKAREA 0,0,1280,752
# One server for the run: without it each Wine process pays seconds to start one.
wineserver -p >/dev/null 2>&1 </dev/null &
settings=$(mktemp --suffix=.reg)
trap 'rm -f "$settings"; wineserver -k >/dev/null 2>&1' EXIT
made=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 </dev/null || true
  made=1
fi
# No window manager runs here: the program's and the tests' windows go unmanaged, so that
# closing one does not wait for a manager (see scripts/env.sh).
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:00000090\n' >"$settings"
for exe in Nelvo.exe shell_tests.exe; do
  printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\X11 Driver]\n"Managed"="N"\n' "$exe" >>"$settings"
done
"$wine" regedit /S "Z:${settings//\//\\}" >/dev/null 2>&1 </dev/null
if [ -n "$made" ]; then
  # The prefix's desktop started while it was made, at 96 dpi; it starts again at 144.
  wineserver -k >/dev/null 2>&1
  wineserver -w
  wineserver -p >/dev/null 2>&1 </dev/null &
  # The first process starts the prefix's services, which keep its output: started with
  # nothing attached, they cannot hold the test's output open.
  "$wine" cmd.exe /c exit >/dev/null 2>&1 </dev/null
fi
"$@"

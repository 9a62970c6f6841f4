# Shared by scripts/run, scripts/test and scripts/bench: installs what is missing on a
# Debian machine, configures and builds, and prepares the Wine prefix of the build folder.
# Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
BUILD="$ROOT/build"

PACKAGES="cmake make g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth x11-utils
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good mosquitto imagemagick googletest python3 openssl
  ffmpeg lame flac vorbis-tools opus-tools python3-mutagen"

ensure_packages() {
  local missing=() p
  for p in $PACKAGES; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_all() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$BUILD" -j"$(nproc)"
}

# One prefix per build folder and one wineserver kept alive while we work: without it every
# Wine process pays 2-3 s to start a server of its own.
start_wine() {
  export WINEPREFIX="$BUILD/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix (once per build folder)"
    wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 </dev/null &
  # The first Wine process starts the prefix's services, which inherit its output; started
  # here with nothing attached, they cannot hold a test's output pipe open (CTest would wait
  # for it forever).
  "$WINE" cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  # No window manager runs on the virtual display, yet Wine hands captioned windows to one
  # and waits two seconds for it whenever such a window closes. The window tests open and
  # close a window per case, so their windows go unmanaged. Wine reads this when a process
  # starts, hence here and not in the tests.
  local exe
  for exe in acquire_tests.exe shell_tests.exe nelvo_peer.exe; do
    "$WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\X11 Driver" /v Managed /d N /f \
      >/dev/null 2>&1 </dev/null || true
  done
}

stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
}

# What build/Nelvo.exe finds when it starts: the files beside it (not the build's own), its
# default music folders, and its per-user folder in the Wine prefix. One line per file, with
# its checksum, so that two of these can be compared. The tests and benchmarks keep their
# files elsewhere; scripts/test and scripts/bench prove it with this.
program_files_fingerprint() {
  local users="$BUILD/wine/drive_c/users"
  {
    find "$BUILD" -maxdepth 1 -type f ! -name '*.a' ! -name '*.cmake' ! -name CMakeCache.txt \
      ! -name Makefile ! -name bench.log ! -name screenshot.png \( ! -name '*.exe' -o -name 'Nelvo*' \)
    for d in "$BUILD/Müzikler" "$BUILD/Muzikler" "$users"/*/AppData/Roaming/Nelvo; do
      if [ -d "$d" ]; then find "$d" -type f; fi
    done
  } 2>/dev/null | LC_ALL=C sort | while IFS= read -r f; do
    printf '%s  %s\n' "$(sha256sum "$f" | cut -d' ' -f1)" "${f#"$BUILD"/}"
  done
}

# Fails when the fingerprint taken before ($1, a file) differs from the one now.
check_program_files() {
  local now
  now=$(mktemp)
  program_files_fingerprint >"$now"
  if ! diff -u "$1" "$now" >&2; then
    echo "the files build/Nelvo.exe finds changed (above: - before, + after)" >&2
    rm -f "$now"
    return 1
  fi
  rm -f "$now"
}

#!/usr/bin/env bash
# The overview window and the error message box of histrel.exe under Wine on
# a virtual screen (Xvfb, no window manager): each is found by its title,
# photographed into the build directory and closed with Enter; the program
# must then end with its status (0 after the overview, 1 after a failure).
# Usage: tests/windows/windows_gui.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$build/gui"
rm -rf "$work"
mkdir -p "$work"
cp "$build/histrel.exe" "$work/"

# Wine's desktop belongs to the wineserver that runs: a fresh one is started
# on the virtual screen, and stopped before the screen goes.
stop_wine() { WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true; }
stop_wine
WINEPREFIX="$build/wineprefix" wineserver -w 2>/dev/null || true

# Xvfb picks a free display and says which on descriptor 3.
exec 3> >(cat >"$work/display")
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'stop_wine; kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

failed=0
# Shows a window of histrel.exe by running it with arguments, waits for the
# window titled title, saves it as picture, presses Enter in it and checks
# the exit status.
show() {
  local title="$1" picture="$2" status="$3"
  shift 3
  # Standard output to a character device, as a console is: windows, not text.
  (cd "$work" && exec "$build/wine-run" histrel.exe "$@" >/dev/null 2>"$work/stderr") &
  local program=$!
  local window
  if ! window="$(timeout 60 xdotool search --sync --name "^$title\$" | head -n1)"; then
    echo "FAIL no window titled \"$title\""
    kill "$program" 2>/dev/null || true
    failed=1
    return
  fi
  # The window may be mapped before it is drawn.
  sleep 1
  import -window "$window" "$build/$picture"
  xdotool windowfocus --sync "$window" key Return
  local got=0
  wait "$program" || got=$?
  if [ "$got" -ne "$status" ] || [ ! -s "$build/$picture" ]; then
    echo "FAIL \"$title\": status $got (expected $status), picture $build/$picture"
    failed=1
  else
    echo "ok   \"$title\" shown, saved as $build/$picture, closed with Enter (status $got)"
  fi
}

show "List of registered switches" overview.png 0 "/?"
# A directory in the INI file's place: WRITEINI fails, and says so in the box.
mkdir "$work/histrel.ini"
show "Error" error-box.png 1 "/WRITEINI=all"
exit "$failed"

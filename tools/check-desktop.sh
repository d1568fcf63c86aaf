#!/usr/bin/env bash
# Checks the program on the desktops people use: under a real Wayland
# compositor (headless Weston) with nothing but WAYLAND_DISPLAY, with Qt's
# Wayland plugin unloadable (as root, in a private mount namespace), and its
# window placement on two X monitors and on a large X screen (Xvfb, xrandr,
# xdotool).
# Usage: tools/check-desktop.sh [BUILD_DIR]   (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
exe=$(realpath "${1:-build}/punchlet")
work=$(mktemp -d)
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "check-desktop: $*" >&2
  exit 1
}
# Runs a command and prints its exit status, whatever it is.
status_of() {
  local status=0
  "$@" || status=$?
  echo "$status"
}

export XDG_CONFIG_HOME="$work/config"
mkdir -m 0700 "$work/runtime"
mkdir "$work/in"
cp samples/dune-landscape.jpg samples/friends-portrait.bmp "$work/in/"
single="$work/in/dune-landscape.jpg"
batch=("$single" "$work/in/friends-portrait.bmp")
outputs() { find "$work/in" -name '加工済*' | wc -l; }

echo "== Wayland: headless Weston, only WAYLAND_DISPLAY set"
socket=punchlet-check-$$
XDG_RUNTIME_DIR="$work/runtime" weston --backend=headless-backend.so --socket="$socket" \
  --idle-time=0 >"$work/weston.log" 2>&1 &
servers+=($!)
timeout 10 bash -c "until [ -S '$work/runtime/$socket' ]; do sleep 0.1; done" ||
  fail "Weston did not start: $(tail -n 5 "$work/weston.log")"
on_wayland() {
  env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY="$socket" "$@"
}
# A window that waits for a person is still there when timeout stops it (124).
[ "$(status_of on_wayland timeout 4 "$exe")" = 124 ] || fail "the settings window did not stay open"
[ "$(status_of on_wayland timeout 4 "$exe" "$single")" = 124 ] || fail "the preview did not stay open"
[ "$(outputs)" = 0 ] || fail "the preview saved without OK"
on_wayland timeout 60 "$exe" "${batch[@]}" || fail "the batch failed under Wayland"
[ "$(outputs)" = 2 ] || fail "the batch wrote $(outputs) pictures, not 2"

echo "== Wayland with the Wayland plugin unloadable"
plugins=$(find /usr/lib -path '*/qt6/plugins/platforms/libqwayland-*.so' 2>/dev/null | tr '\n' ' ')
if [ "$(id -u)" != 0 ] || [ -z "$plugins" ] || ! unshare -m true 2>/dev/null; then
  echo "skipped: needs root, unshare and the installed plugin"
else
  without_plugin() {
    PLUGINS="$plugins" unshare -m bash -c \
      'for file in $PLUGINS; do mount --bind /dev/null "$file"; done; exec "$@"' - "$@"
  }
  without_plugin env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work/runtime" \
    WAYLAND_DISPLAY="$socket" timeout 60 "$exe" "${batch[@]}" || fail "the batch failed without the plugin"
  [ "$(outputs)" = 4 ] || fail "the batch without the plugin wrote nothing"
  status=$(status_of without_plugin env -u DISPLAY -u QT_QPA_PLATFORM \
    XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY="$socket" timeout 20 "$exe" "$single" \
    2>"$work/stderr")
  [ "$status" = 2 ] || fail "one picture without the plugin ended with $status, not 2"
  grep -q '^punchlet: .*qt6-wayland' "$work/stderr" || fail "no word of qt6-wayland: $(cat "$work/stderr")"
fi

# Starts an X server on a free display with the given screen size; sets DISPLAY.
start_x() {
  Xvfb -displayfd 3 -noreset -screen 0 "$1" 3>"$work/display" >/dev/null 2>&1 &
  servers+=($!)
  timeout 10 bash -c "until [ -s '$work/display' ]; do sleep 0.1; done" || fail "Xvfb did not start"
  export DISPLAY=":$(cat "$work/display")"
  rm "$work/display"
}
# Starts the program with the pointer at x, y; prints the geometry of its
# window once it has stopped moving, as "X Y WIDTH HEIGHT".
window_at() {
  local x=$1 y=$2
  shift 2
  xdotool mousemove "$x" "$y"
  timeout 10 "$exe" "$@" >/dev/null 2>&1 &
  local program=$! window="" before="" now=""
  for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --classname punchlet 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no window appeared for $*"
  for _ in $(seq 50); do
    sleep 0.2
    now=$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=' | cut -d= -f2 | xargs)
    [ "$now" = "$before" ] && break
    before=$now
  done
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  echo "$now"
}
# Checks that a preview came to rest centred on the monitor given as x y w h:
# exactly on one axis, within one slide step on the other.
expect_centred() {
  local geometry=($1) mx=$2 my=$3 mw=$4 mh=$5
  local dx=$((geometry[0] - (mx + (mw - geometry[2]) / 2)))
  local dy=$((geometry[1] - (my + (mh - geometry[3]) / 2)))
  ((dx * dx < 32 * 32 && dy * dy < 32 * 32 && (dx == 0 || dy == 0))) ||
    fail "preview at ${geometry[*]}, not centred on the monitor $mx,$my ${mw}x$mh"
}

echo "== X: two 1280 x 1024 monitors side by side"
start_x 2560x1024x24
xrandr --setmonitor punchlet-left 1280/338x1024/270+0+0 screen >/dev/null
xrandr --setmonitor punchlet-right 1280/338x1024/270+1280+0 none >/dev/null
[ "$(window_at 1680 300)" = "1685 240 270 320" ] || fail "the bubble is not beside the pointer"
[ "$(window_at 2550 1000)" = "2290 704 270 320" ] || fail "the bubble is not kept on its monitor"
[ "$(window_at 300 500)" = "305 440 270 320" ] || fail "the bubble is not beside the pointer"
expect_centred "$(window_at 1680 300 "$single")" 1280 0 1280 1024
expect_centred "$(window_at 300 500 "$single")" 0 0 1280 1024
# The keyboard reaches the settings window as soon as it is shown.
xdotool mousemove 600 500
timeout 10 "$exe" >/dev/null 2>&1 &
program=$!
timeout 10 xdotool search --sync --onlyvisible --classname punchlet >/dev/null
sleep 1
xdotool type Q
xdotool key Return
status=0
wait "$program" || status=$?
[ "$status" = 0 ] || fail "Enter did not close the settings window ($status)"
grep -q '^"B5_03"=".*Q"' "$XDG_CONFIG_HOME/Tessaly/Punchlet.reg" || fail "the typed text was not stored"

echo "== X: one 2560 x 1440 screen, sliding in from each edge"
start_x 2560x1440x24
# The edge follows the clock's minute in quarters: shifting the time zone by
# 0, 15, 30 and 45 minutes gives each edge once.
for shift in 00 15 30 45; do
  expect_centred "$(TZ="PLT-0:$shift" window_at 2000 700 "$single")" 0 0 2560 1440
done
echo "desktop check: passed"

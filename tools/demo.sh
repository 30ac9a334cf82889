#!/bin/bash
# Runs the player on a demo operator: installs what is missing, builds, generates the
# demo media, starts the operator test server with a demo operator and the player
# pointed at it. With no X display (or with --screenshots) it runs under a private
# Xvfb, waits until a channel plays, saves the screenshots normal.png,
# controls-hidden.png and fullscreen.png into the folder it names, and ends.
#
#   tools/demo.sh [--screenshots DIR] [--timeout S] [--playlist]
#
# --playlist: the channels come from the demo's M3U list and XMLTV guide (the same
# channels and guide) instead of the operator's configuration.
#
# NOVALINE_DEMO_DIR: working folder (default out/demo); the player runs with its own
# HOME/XDG folders under it (fresh for each run: the server's port changes, and a last
# channel that is no longer in the list would leave the player idle), so the demo
# leaves the user's own settings, cache and registrations alone. NOVALINE_DEMO_BUILD: build folder (default build).
# NOVALINE_DEMO_PLAYER: an executable already built; skips the set-up and the build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
shots=""
timeout=120
playlist=""
while [ $# -gt 0 ]; do
  case "$1" in
    --playlist) playlist=1; shift ;;
    --screenshots) shots="$2"; shift 2 ;;
    --timeout) timeout="$2"; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "demo: unknown argument $1" >&2; exit 2 ;;
  esac
done

log() { echo "demo: $*"; }

if [ -n "${NOVALINE_DEMO_PLAYER:-}" ]; then
  player=$NOVALINE_DEMO_PLAYER
else
  tools/setup-deps.sh
  build=${NOVALINE_DEMO_BUILD:-$root/build}
  # The same configuration as tools/test-all.sh, so both share one build folder.
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target novaline-iptv
  player="$build/bin/novaline-iptv"
fi

demo=${NOVALINE_DEMO_DIR:-$root/out/demo}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
op="$demo/operator"
mkdir -p "$op"
log "generating the demo media in $op"
tools/make-media --duration 20 --only live,sd,clip-720p "$op"
tools/demo/make-demo-operator.py "$op" --patterns live.ts,sd.ts,clip-720p.ts

pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -f "$demo/port"
tools/operator-server --root "$op" --port 0 --port-file "$demo/port" --quiet >"$demo/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 150); do [ -s "$demo/port" ] && break; sleep 0.1; done
[ -s "$demo/port" ] || { echo "demo: the operator server did not start (see $demo/server.log)" >&2; exit 1; }
port=$(cat "$demo/port")
log "demo operator at http://127.0.0.1:$port (log $demo/server.log)"
log "video portal link: iptvvideo://127.0.0.1:$port/portal.php?id=1"

export NOVALINE_CONFIG_SERVER="http://127.0.0.1:$port"
home="$demo/home"
rm -rf "$home"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
       XDG_DATA_HOME="$home/.local/share" XDG_STATE_HOME="$home/.local/state"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME"
if [ -n "$playlist" ]; then
  mkdir -p "$XDG_CONFIG_HOME/Novaline"
  printf '[General]\nchannelSource=playlist\nplaylistUrl=http://127.0.0.1:%s/media/playlist.m3u\n' "$port" \
    >"$XDG_CONFIG_HOME/Novaline/IPTV.conf"
  log "channels from the M3U list http://127.0.0.1:$port/media/playlist.m3u"
fi

if [ -n "${DISPLAY:-}" ] && [ -z "$shots" ]; then
  log "starting the player (log $XDG_CACHE_HOME/Novaline/IPTV/log.txt)"
  set +e
  "$player"
  exit $?
fi

# No display, or screenshots asked for: a private X server and session bus.
shots=${shots:-$root/out/screenshots}
mkdir -p "$shots"
shots=$(cd "$shots" && pwd)
n=77
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$demo/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "demo: Xvfb did not start (see $demo/xvfb.log)" >&2; exit 1; }
if command -v dbus-daemon >/dev/null; then
  bus=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>/dev/null || true)
  if [ -n "$bus" ]; then
    export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p)
    pids+=("$(echo "$bus" | sed -n 2p)")
  fi
fi

# The pointer starts outside the window's place; the window shows the overlays at first.
xdotool mousemove 1279 799 2>/dev/null || true
log "starting the player on $DISPLAY"
rm -f "$XDG_CACHE_HOME/Novaline/IPTV/log.txt"
"$player" >"$demo/player.log" 2>&1 &
ppid=$!
pids+=($ppid)

win() { xdotool search --onlyvisible --name '^Novaline TV$' 2>/dev/null | head -1 || true; }
w=""
for _ in $(seq $((timeout * 10))); do
  kill -0 "$ppid" 2>/dev/null || { echo "demo: the player ended early (see $demo/player.log)" >&2; exit 1; }
  w=$(win)
  [ -n "$w" ] && break
  sleep 0.1
done
[ -n "$w" ] || { echo "demo: no player window after $timeout s" >&2; exit 1; }
log "waiting for the picture"
if ! tools/demo/testpattern.py "$w" --timeout "$timeout" --left-half; then
  import -window root "$shots/no-picture.png"
  echo "demo: no picture after $timeout s (see $demo/player.log, $shots/no-picture.png)" >&2
  exit 1
fi

geometry() { eval "$(xdotool getwindowgeometry --shell "$w")"; }
shot() { # name window
  import -window "$2" "$shots/$1.png"
  log "screenshot $shots/$1.png ($(identify -format '%wx%h' "$shots/$1.png"))"
}
settle() { sleep "${1:-0.6}"; }  # lets the 100 ms overlay animations finish

# Normal: the pointer over the picture shows the control bar and the playlist.
geometry
xdotool mousemove --window "$w" $((WIDTH / 2)) $((HEIGHT / 3))
settle
xdotool mousemove --window "$w" $((WIDTH / 2 + 5)) $((HEIGHT / 3 + 5))
settle
shot normal "$w"

# Controls hidden: the pointer leaves the window.
xdotool mousemove $((X + WIDTH + 40)) $((Y + HEIGHT + 40))
settle
shot controls-hidden "$w"

# Full screen: F on the picture; the controls show while the pointer moves.
xdotool mousemove --window "$w" $((WIDTH / 2)) $((HEIGHT / 3))
xdotool windowfocus "$w" 2>/dev/null || true
xdotool key f
screen_w=$(xdpyinfo | sed -n 's/.*dimensions: *\([0-9]*\)x.*/\1/p')
for _ in $(seq 50); do geometry; [ "$WIDTH" = "$screen_w" ] && break; sleep 0.1; done
if [ "$WIDTH" != "$screen_w" ]; then
  # A bare X server has no window manager to honour the full-screen request: do its part.
  screen_h=$(xdpyinfo | sed -n 's/.*dimensions: *[0-9]*x\([0-9]*\) .*/\1/p')
  log "no window manager: sizing the full-screen window to ${screen_w}x$screen_h"
  xdotool windowmove "$w" 0 0 windowsize "$w" "$screen_w" "$screen_h"
  for _ in $(seq 50); do geometry; [ "$WIDTH" = "$screen_w" ] && break; sleep 0.1; done
fi
for i in 1 2 3; do
  xdotool mousemove --window "$w" $((WIDTH / 2 + i * 5)) $((HEIGHT / 3 + i * 5))
  settle 0.3
done
shot fullscreen root

kill -TERM "$ppid" 2>/dev/null || true
status=0
wait "$ppid" || status=$?
log "player ended with status $status; its log: $XDG_CACHE_HOME/Novaline/IPTV/log.txt"
log "screenshots in $shots"

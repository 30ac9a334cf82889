#!/bin/bash
# Runs the player on a demo operator: installs what is missing, builds, generates the
# demo media, starts the operator test server with a demo operator and the player
# pointed at it. With no X display it runs under Xvfb, takes screenshots (normal,
# controls hidden, full screen) into the folder it names, and ends.
#
#   tools/demo.sh [--screenshots DIR] [--seconds N]
#
# The player runs with its own HOME/XDG folders under out/demo/home, so the demo
# leaves the user's own settings, cache and registrations alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
shots=""
seconds=""
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshots) shots="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "demo: unknown argument $1" >&2; exit 2 ;;
  esac
done

tools/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target novaline-iptv

demo=${NOVALINE_DEMO_DIR:-$root/out/demo}
op="$demo/operator"
mkdir -p "$op" "$demo/home"
tools/make-media --duration 20 --only live,sd,clip-720p "$op"
tools/demo/make-demo-operator.py "$op" --patterns live.ts,sd.ts,clip-720p.ts

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

rm -f "$demo/port"
tools/operator-server --root "$op" --port 0 --port-file "$demo/port" --quiet >"$demo/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.1; done
port=$(cat "$demo/port")
echo "demo operator at http://127.0.0.1:$port (log $demo/server.log)"
echo "video portal link: iptvvideo://127.0.0.1:$port/portal.php?id=1"

export NOVALINE_CONFIG_SERVER="http://127.0.0.1:$port"
export HOME="$demo/home" XDG_CONFIG_HOME="$demo/home/.config" XDG_CACHE_HOME="$demo/home/.cache" \
       XDG_DATA_HOME="$demo/home/.local/share"
player="$root/build/bin/novaline-iptv"

if [ -n "${DISPLAY:-}" ] && [ -z "$shots" ]; then
  "$player" "$@"
  exit $?
fi

# No display (or screenshots asked for): a private Xvfb, screenshots, then stop.
shots=${shots:-$root/out/screenshots}
mkdir -p "$shots"
if [ -z "${DISPLAY:-}" ] || [ -n "${NOVALINE_DEMO_OWN_X:-1}" ]; then
  n=77; while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
"$player" >"$demo/player.log" 2>&1 &
ppid=$!
pids+=($ppid)
shot() { import -window root "$shots/$1.png"; echo "screenshot: $shots/$1.png"; }
win() { xdotool search --name '^Novaline TV$' 2>/dev/null | head -1; }
for _ in $(seq 100); do [ -n "$(win)" ] && break; sleep 0.1; done
sleep "${seconds:-6}"
w=$(win)
if [ -n "$w" ]; then
  eval "$(xdotool getwindowgeometry --shell "$w")"
  xdotool mousemove --window "$w" $((WIDTH / 2)) $((HEIGHT / 2)) 2>/dev/null || true
  sleep 0.5
fi
shot normal
if [ -n "$w" ]; then
  xdotool mousemove 0 0 2>/dev/null || true    # pointer leaves the video: controls hide
fi
sleep 3
shot controls-hidden
[ -n "$w" ] && xdotool key --window "$w" f 2>/dev/null || true
sleep 3
shot fullscreen
kill "$ppid" 2>/dev/null || true
echo "player log: $demo/player.log; screenshots in $shots"

#!/bin/sh
# Runs ctest for a build folder on a private X server (Xvfb, no window manager) and a
# private D-Bus session bus. Extra arguments go to ctest (for example -L nongui).
set -eu
build=${1:-build}; shift || true
run_ctest() {
  exec dbus-run-session -- ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 "$@"
}
if [ -n "${NOVALINE_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then
  run_ctest "$@"
fi
exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
  dbus-run-session -- ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 "$@"

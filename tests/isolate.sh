#!/bin/sh
# Runs one test in a private world: fresh HOME, XDG folders and TMPDIR (which also
# separates Qt's shared-memory keys and local-socket paths), removed afterwards.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/novaline-test.XXXXXX") || exit 1
export HOME="$root/home"
export XDG_CONFIG_HOME="$root/config"
export XDG_CACHE_HOME="$root/cache"
export XDG_DATA_HOME="$root/data"
export XDG_STATE_HOME="$root/state"
export XDG_RUNTIME_DIR="$root/runtime"
export TMPDIR="$root/tmp"
export NOVALINE_TEST_ROOT="$root"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
"$@"
rc=$?
if [ -z "${NOVALINE_KEEP_TEST_ROOT:-}" ]; then rm -rf "$root"; else echo "test root kept: $root" >&2; fi
exit $rc

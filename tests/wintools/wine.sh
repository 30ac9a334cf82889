#!/bin/sh
# Runs the Windows tests of the helper library under Wine with one shared prefix in the
# build folder.
#   wine.sh setup <prefix>              create the prefix once, start its server
#   wine.sh run <prefix> <exe> [args]   run a Windows program in it
#   wine.sh stop <prefix>               end the server and every Wine process of it
# Wine's server and helper processes outlive the program they were started for; they get
# /dev/null or a log file as output, never the caller's pipes, which ctest waits on.
set -u
cmd=$1
prefix=$2
shift 2
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
# Debian's Wine keeps the server's socket folder in TMPDIR, which every test gets fresh:
# one fixed folder beside the prefix lets all tests find the one server.
test_tmp=${TMPDIR:-/tmp}
export TMPDIR="$prefix-tmp"
mkdir -p "$TMPDIR"

start_server() {
    # Exits at once when a server for the prefix runs already. It stays two minutes
    # after its last program, so an interrupted run leaves nothing behind for long.
    setsid wineserver -p120 </dev/null >/dev/null 2>&1 &
    sleep 0.2
}

case $cmd in
setup)
    if [ ! -f "$prefix/.novaline-ready" ]; then
        rm -rf "$prefix"
        # The prefix links Desktop, Documents... to HOME: a scratch one beside it.
        home="$prefix-home"
        mkdir -p "$home"
        log="$prefix-setup.log"
        (
            export HOME="$home"
            wineserver -k 2>/dev/null
            start_server
            wineboot -i &&
            # A crash must end the program, not wait in a dialog.
            wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
            wineserver -k && wineserver -w
        ) </dev/null >"$log" 2>&1
        if ! grep -q '"ShowCrashDialog"=dword:00000000' "$prefix/user.reg" 2>/dev/null; then
            echo "wine prefix setup failed:" >&2
            cat "$log" >&2
            exit 1
        fi
        touch "$prefix/.novaline-ready"
    fi
    start_server
    # Start the prefix's services now, with no pipes of ours.
    wine cmd /c exit </dev/null >/dev/null 2>&1
    echo "wine prefix ready: $prefix"
    ;;
run)
    exe=$1
    shift
    [ -f "$prefix/.novaline-ready" ] || { echo "no wine prefix at $prefix (run the setup test)" >&2; exit 1; }
    start_server
    log=$(mktemp "$test_tmp/wine-run.XXXXXX")
    wine "$exe" "$@" </dev/null >"$log" 2>&1
    rc=$?
    cat "$log"
    rm -f "$log"
    exit $rc
    ;;
stop)
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    exit 0
    ;;
*)
    echo "usage: $0 setup|run|stop <prefix> ..." >&2
    exit 2
    ;;
esac

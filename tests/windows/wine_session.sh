#!/usr/bin/env bash
# Starts or stops the Wine session that the Windows tests share, in the Wine
# prefix named by WINEPREFIX (made on first use).
#
#   wine_session.sh start|stop
#
# Wine's server and its system processes (services.exe and the rest) start
# with the first Windows program and inherit its standard output and error;
# a test that reads a program's output through a pipe then waits for them to
# exit, seconds after the program itself, and pays that again with every
# program once the server has gone. So the session's server is started here
# first, persistent for ten idle minutes, and the system processes with their
# output elsewhere: every test's program then finds them running. (Debian's
# wineserver starts with -p0, so a server that Wine or wineboot start on their
# own exits with the last program; one of those is replaced here.)
set -u
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"
log=$WINEPREFIX.log
fail() {
    echo "wine_session: $1; $log says:"
    cat "$log"
    exit 1
}
case "${1:-}" in
start)
    : >"$log"
    mkdir -p "$WINEPREFIX"
    wineserver -k </dev/null >>"$log" 2>&1
    wineserver -w </dev/null >>"$log" 2>&1
    wineserver -p600 </dev/null >>"$log" 2>&1 || fail "cannot start the Wine server"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i </dev/null >>"$log" 2>&1 || fail "cannot make the Wine prefix"
    fi
    wine cmd /c exit </dev/null >>"$log" 2>&1 || fail "cannot run a Windows program"
    ;;
stop)
    wineserver -k </dev/null >>"$log" 2>&1
    wineserver -w </dev/null >>"$log" 2>&1
    exit 0
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# Starts or stops the Wine session that the Windows tests share, in the Wine
# prefix named by WINEPREFIX (made on first use).
#
#   wine_session.sh start|stop
#
# Wine's server and its system processes (services.exe and the rest) start
# with the first Windows program and inherit its standard output and error;
# a test that reads a program's output through a pipe would then wait for
# them to exit, seconds after the program itself. Started here with their
# output elsewhere, and kept for a minute after the last program, they are
# already running when the tests start their programs.
set -u
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"
log=$WINEPREFIX.log
case "${1:-}" in
start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i </dev/null >"$log" 2>&1 || { cat "$log"; exit 1; }
    fi
    wineserver -p60 </dev/null >>"$log" 2>&1
    wine cmd /c exit </dev/null >>"$log" 2>&1 || { cat "$log"; exit 1; }
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

#!/usr/bin/env bash
# The Wine server of a private prefix, for a run of Windows tests:
#   wine-server.sh start|stop PREFIX LOADER
# start creates the prefix when it is missing, starts a persistent server and its services and
# returns; stop ends them. Everything started here writes to /dev/null: a server that held the
# test runner's output open would keep the runner waiting after the tests (and a test that
# started the server itself would hold it for ever). LOADER is wine or wine64.
set -euo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all
loader=$3
server=$(dirname "$(command -v "$loader")")/wineserver
[ -x "$server" ] || server=wineserver
case $action in
    start)
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$loader" wineboot -i </dev/null >/dev/null 2>&1
            "$server" -w
        fi
        "$server" -p </dev/null >/dev/null 2>&1 || true   # already running: fine
        "$loader" cmd /c exit </dev/null >/dev/null 2>&1
        ;;
    stop)
        "$server" -k 2>/dev/null || true
        "$server" -w 2>/dev/null || true
        ;;
    *) echo "usage: wine-server.sh start|stop PREFIX LOADER" >&2; exit 2 ;;
esac

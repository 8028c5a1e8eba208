#!/usr/bin/env bash
# Starts or ends the Wine session of a prefix:
#   wine-session.sh start PREFIX   creates the prefix when missing, then keeps
#                                  one wineserver and the helper processes up
#   wine-session.sh stop PREFIX    ends the session and flushes the registry
# Every Wine process started here has its output on /dev/null, so no helper
# process (services.exe, rpcss.exe, ...) holds a caller's pipe open.
set -eu
action=$1
export WINEPREFIX=$2
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

quiet() { "$@" </dev/null >/dev/null 2>&1; }

case $action in
start)
  quiet wineserver -k || true
  quiet wineserver -w || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    quiet wine wineboot --init
    quiet wineserver -w
  fi
  # Keep the server for an hour after its last client; "stop" ends it.
  quiet wineserver -p3600
  quiet wine wineboot --init
  ;;
stop)
  quiet wineserver -k || true
  quiet wineserver -w || true
  ;;
*)
  echo "usage: wine-session.sh start|stop PREFIX" >&2
  exit 2
  ;;
esac

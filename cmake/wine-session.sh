#!/usr/bin/env bash
# Starts or ends the Wine session of a prefix:
#   wine-session.sh start PREFIX   creates the prefix when missing (a copy of
#                                  PREFIX-template, which is booted once), then
#                                  keeps one wineserver and its helpers up
#   wine-session.sh stop PREFIX    ends the session and flushes the registry
# Every Wine process started here has its output on /dev/null, so no helper
# process (services.exe, rpcss.exe, ...) holds a caller's pipe open.
set -eu
action=$1
prefix=$2
template=$prefix-template
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

quiet() { "$@" </dev/null >/dev/null 2>&1; }

case $action in
start)
  if [ ! -f "$template/system.reg" ]; then
    rm -rf "$template"
    mkdir -p "$(dirname "$template")"
    WINEPREFIX=$template quiet wine wineboot --init
    # Wine's service manager gives a starting service 10 s to report in;
    # under CPU emulation on a loaded machine that is too short for tests.
    WINEPREFIX=$template quiet wine reg add 'HKLM\System\CurrentControlSet\Control' \
      /v ServicesPipeTimeout /t REG_SZ /d 60000 /f
    WINEPREFIX=$template quiet wineserver -w
  fi
  export WINEPREFIX=$prefix
  quiet wineserver -k || true
  quiet wineserver -w || true
  if [ ! -f "$prefix/system.reg" ]; then
    rm -rf "$prefix"
    cp -a "$template" "$prefix"
  fi
  # Keep the server for an hour after its last client; "stop" ends it. The
  # first program of the session boots it; "wineboot --init" on top would
  # start a second service manager answering in turn with the first.
  quiet wineserver -p3600
  quiet wine cmd /c exit
  ;;
stop)
  export WINEPREFIX=$prefix
  quiet wineserver -k || true
  quiet wineserver -w || true
  ;;
*)
  echo "usage: wine-session.sh start|stop PREFIX" >&2
  exit 2
  ;;
esac

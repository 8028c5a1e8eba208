#!/usr/bin/env bash
# Starts or ends the Wine session of a prefix:
#   wine-session.sh start PREFIX   creates the prefix when missing (a copy of
#                                  PREFIX-template, which is booted once), then
#                                  keeps one wineserver and its helpers up
#   wine-session.sh stop PREFIX    ends the session and flushes the registry
#   wine-session.sh template DIR [win32|win64]
#                                  boots a template prefix of that width
#                                  (default win32) when DIR has none yet
# Every Wine process started here has its output on /dev/null, so no helper
# process (services.exe, rpcss.exe, ...) holds a caller's pipe open.
set -eu
action=$1
prefix=$2
template=$prefix-template
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

quiet() { "$@" </dev/null >/dev/null 2>&1; }

# boot_template DIR ARCH
boot_template() {
  if [ -f "$1/system.reg" ]; then
    return
  fi
  rm -rf "$1"
  mkdir -p "$(dirname "$1")"
  WINEARCH=$2 WINEPREFIX=$1 quiet wine wineboot --init
  # Wine's service manager gives a starting service 10 s to report in;
  # under CPU emulation on a loaded machine that is too short for tests.
  WINEARCH=$2 WINEPREFIX=$1 quiet wine reg add 'HKLM\System\CurrentControlSet\Control' \
    /v ServicesPipeTimeout /t REG_SZ /d 60000 /f
  WINEARCH=$2 WINEPREFIX=$1 quiet wineserver -w
}

case $action in
template)
  boot_template "$prefix" "${3:-win32}"
  ;;
start)
  boot_template "$template" win32
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
  echo "usage: wine-session.sh start|stop PREFIX | template DIR [win32|win64]" >&2
  exit 2
  ;;
esac

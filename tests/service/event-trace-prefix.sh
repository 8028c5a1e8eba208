#!/usr/bin/env bash
# Runs one Windows program in a throw-away Wine prefix whose session was
# started with the event-log trace on (used for every process-level test of
# the service host, which all need exactly one SCM in their session):
#   event-trace-prefix.sh TEMPLATE PROGRAM [ARGS...]
# The event log cannot be read back inside Wine; its messages appear on the
# standard error of the session's first process, which the Service Control
# Manager and so every service inherit. That goes to a file whose Unix path
# the program finds in KESTOR_EVENT_TRACE. Otherwise as scratch-prefix.sh.
set -u
template=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../cmake/wine-run.sh

scratch=$(mktemp -d "$(dirname "$template")/scratch.XXXXXX")
cp -a "$template/." "$scratch/"
export WINEPREFIX=$scratch WINEARCH=win32
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export KESTOR_EVENT_TRACE=$scratch/eventlog.trace

finish() {
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  if [ "${KESTOR_KEEP_SCRATCH:-0}" = 1 ]; then
    echo "scratch prefix kept: $scratch"
  else
    rm -rf "$scratch"
  fi
}
trap finish EXIT

# The session's helpers must not inherit CTest's pipes. The session is booted
# by the start of a trivial first process: running "wineboot --init" as that
# process boots it twice over, leaving two SCM processes that answer
# alternate calls.
wineserver -p120 </dev/null >/dev/null 2>&1
WINEDEBUG=-all,+eventlog wine cmd /c exit </dev/null >/dev/null 2>"$KESTOR_EVENT_TRACE"

WINEDEBUG=-all "$run" "$scratch" "$@"

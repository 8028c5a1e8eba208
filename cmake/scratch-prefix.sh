#!/usr/bin/env bash
# Runs one Windows program in a throw-away Wine prefix of its own:
#   scratch-prefix.sh TEMPLATE PROGRAM [ARGS...]
# The prefix is a copy of TEMPLATE (a booted prefix, 32- or 64-bit) with its
# own session, so the program may install services, register classes or kill
# servers without touching anything else. The session is ended and the prefix
# removed afterwards; the exit code is the program's (low byte).
# The event log cannot be read back inside Wine: its messages appear on the
# standard error of the session's first process, which the service manager
# and so every service inherit. That goes to the file whose Unix path the
# program finds in KESTOR_EVENT_TRACE.
# KESTOR_SESSION_DEBUG replaces the session's debug channels (default
# -all,+eventlog); the same file then holds their trace.
# KESTOR_KEEP_SCRATCH=1 keeps the prefix for a look afterwards.
set -u
template=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)

scratch=$(mktemp -d "$(dirname "$template")/scratch.XXXXXX")
cp -a "$template/." "$scratch/"
# The copy has the template's width, 32- or 64-bit.
export WINEPREFIX=$scratch WINEARCH=win32
if grep -qm1 '^#arch=win64' "$scratch/system.reg"; then
  WINEARCH=win64
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
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

# The session's helpers must not inherit CTest's pipes. The first program of
# a session boots it (services.exe and the automatic services); an explicit
# "wineboot --init" on top would start a second services.exe, and the two
# would then answer service requests in turn, each from its own list.
wineserver -p120 </dev/null >/dev/null 2>&1
WINEDEBUG=${KESTOR_SESSION_DEBUG:--all,+eventlog} wine cmd /c exit </dev/null >/dev/null 2>"$KESTOR_EVENT_TRACE"

"$here/wine-run.sh" "$scratch" "$@"

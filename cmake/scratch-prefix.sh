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
# The system folders' program images are nine tenths of a prefix (1.2 GB of
# the 64-bit one) and no test writes them: the copy's are hard links to the
# template's, and the end of the session checks that none was written.
# Everything else is copied: Wine rewrites a registry file that has other
# links in place, and a program may write an .ini or a text file there.
images='.*\.\(dll\|exe\|nls\|sys\|drv\|ocx\|cpl\|acm\|tlb\|vxd\|com\|ax\|mod\)'
shared=()
for folder in drive_c/windows/system32 drive_c/windows/syswow64; do
  [ -d "$template/$folder" ] && shared+=("$folder")
done
tar -C "$template" "${shared[@]/#/--exclude=./}" -cf - . | tar -C "$scratch" -xf -
for folder in "${shared[@]}"; do
  cp -al "$template/$folder" "$scratch/$folder"
  (cd "$template" && find "$folder" -type f ! -iregex "$images" -print0) |
    while IFS= read -r -d '' file; do
      cp -p --remove-destination "$template/$file" "$scratch/$file"
    done
done
touch "$scratch/.copied"
# The copy has the template's width, 32- or 64-bit.
export WINEPREFIX=$scratch WINEARCH=win32
if grep -qm1 '^#arch=win64' "$scratch/system.reg"; then
  WINEARCH=win64
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
export KESTOR_EVENT_TRACE=$scratch/eventlog.trace

finish() {
  local status=$?
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  if [ ${#shared[@]} -gt 0 ]; then
    written=$(cd "$template" && find "${shared[@]}" -type f -newer "$scratch/.copied")
    if [ -n "$written" ]; then
      echo "scratch-prefix.sh: the session wrote files it shares with the template" \
           "$template, which is no longer as booted:" $written >&2
      status=1
    fi
  fi
  if [ "${KESTOR_KEEP_SCRATCH:-0}" = 1 ]; then
    echo "scratch prefix kept: $scratch"
  else
    rm -rf "$scratch"
  fi
  exit $status
}
trap finish EXIT

# The session's helpers must not inherit CTest's pipes. The first program of
# a session boots it (services.exe and the automatic services); an explicit
# "wineboot --init" on top would start a second services.exe, and the two
# would then answer service requests in turn, each from its own list.
wineserver -p120 </dev/null >/dev/null 2>&1
WINEDEBUG=${KESTOR_SESSION_DEBUG:--all,+eventlog} wine cmd /c exit </dev/null >/dev/null 2>"$KESTOR_EVENT_TRACE"

"$here/wine-run.sh" "$scratch" "$@"

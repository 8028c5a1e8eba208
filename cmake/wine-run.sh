#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is private to the build tree; the Mono and Gecko installers are
# skipped and Wine's own debug output is off unless WINEDEBUG is set. A new
# prefix is 32-bit; an existing one keeps the width it was made with.
set -eu
prefix=$1
shift
export WINEPREFIX=$prefix
if [ -f "$prefix/system.reg" ] && grep -qm1 '^#arch=win64' "$prefix/system.reg"; then
  export WINEARCH=win64
else
  export WINEARCH=win32
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
exec wine "$@"

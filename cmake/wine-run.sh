#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is private to the build tree; the Mono and Gecko installers are
# skipped and Wine's own debug output is off unless WINEDEBUG is set.
set -eu
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"

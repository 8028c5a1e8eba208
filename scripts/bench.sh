#!/usr/bin/env bash
# Builds the project and runs the benchmark under Wine in a throw-away copy
# of the booted prefix, printing its figures and ratios, then compares a
# 64-bit client with a 32-bit one in a copy of the 64-bit prefix:
#   bash scripts/bench.sh [N]        N keys for the small interpreter script
# BUILD_DIR picks the build tree (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

# Ninja for a new build tree; one made with another generator is kept.
generator=(-G Ninja)
[ -f "$build/CMakeCache.txt" ] && generator=()
cmake -S . -B "$build" "${generator[@]}" >/dev/null
cmake --build "$build"

template=$(cd "$build" && pwd)/wineprefix-template
if [ ! -f "$template/system.reg" ]; then
  echo "booting the Wine prefix template (once)"
  rm -rf "$template"
  WINEPREFIX=$template WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
    wine wineboot --init </dev/null >/dev/null 2>&1
  WINEPREFIX=$template wineserver -w </dev/null >/dev/null 2>&1
fi

# The service manager and every service it starts trace their start-up with
# time stamps; the benchmark reads that trace to split a service's cold
# activation into its phases.
KESTOR_SESSION_DEBUG=-all,+timestamp,+pid,+service,+loaddll \
  cmake/scratch-prefix.sh "$template" "$build/bin/KestorBench.exe" "$@"

template64=$(cd "$build" && pwd)/wineprefix64-template
if [ ! -f "$template64/system.reg" ]; then
  echo "booting the 64-bit Wine prefix template (once)"
fi
cmake/wine-session.sh template "$template64" win64
exec cmake/scratch-prefix.sh "$template64" "$build/bin/KestorBench.exe" --client-widths

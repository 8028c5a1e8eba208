#!/usr/bin/env bash
# Builds the project and runs the benchmark under Wine in a throw-away copy
# of the booted prefix, printing its figures and ratios:
#   bash scripts/bench.sh [N]        N keys for the small interpreter script
# BUILD_DIR picks the build tree (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja >/dev/null
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
export KESTOR_SESSION_DEBUG=-all,+timestamp,+pid,+service,+loaddll
exec cmake/scratch-prefix.sh "$template" "$build/bin/KestorBench.exe" "$@"

#!/usr/bin/env bash
# The broker end to end, on a fresh Debian 12 machine (run as root from the
# checkout): installs what is missing, builds, installs the build into a
# folder, installs the broker from that folder into a throw-away Wine prefix
# with install.cmd, writes a value through kestor-set, shows the value and the
# service, checks the installation with kestor-check, uninstalls with
# uninstall.cmd and shows that nothing is left.
#
#   bash scripts/demo.sh
#
# KESTOR_BUILD_DIR (default build) and KESTOR_INSTALL_DIR (default
# out/kestor) choose where the build and the install folder go. The install
# folder is emptied first, so it has to be new, empty or one that an earlier
# run of the demo made (scripts/demo-folder.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo-folder.sh
build=${KESTOR_BUILD_DIR:-build}
install_dir=${KESTOR_INSTALL_DIR:-out/kestor}
# Checked before anything is installed or built: a wrong folder ends the
# demo at once.
fresh_demo_folder "$install_dir" || exit 1

step_number=0
step() {
  step_number=$((step_number + 1))
  printf '\n== %d. %s\n' "$step_number" "$1"
  shift
  local line
  for line in "$@"; do
    printf '   %s\n' "$line"
  done
}
# Wine's programs end their lines with CR LF.
show() { "$@" 2>&1 | tr -d '\r' | sed 's/^/   | /'; return "${PIPESTATUS[0]}"; }
quiet() { "$@" </dev/null >/dev/null 2>&1; }

step "Installing what is missing" \
  "The MinGW-w64 cross compilers, Wine, CMake, Ninja, GoogleTest."
bash scripts/install-deps.sh

step "Building ZovKestor.exe, KestorPr.dll, kestor-set.exe and kestor-check.exe into $build/" \
  "32-bit Windows programs, cross-compiled on Debian, and x64/KestorPr.dll" \
  "for 64-bit clients."
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build"

step "Installing the build into $install_dir/" \
  "This folder is what an administrator copies to a Windows machine."
fresh_demo_folder "$install_dir"
cmake --install "$build" --prefix "$install_dir" >/dev/null
(cd "$install_dir" && find . -type f ! -name "$demo_folder_mark" | sort | sed 's/^\.\//   | /')

step "Making a throw-away Wine prefix (a private Windows installation)"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kestor-demo.XXXXXX")
export WINEPREFIX
finish() {
  quiet wineserver -k || true
  quiet wineserver -w || true
  rm -rf "$WINEPREFIX"
}
trap finish EXIT
if [ -f "$build/wineprefix-template/system.reg" ]; then
  cp -a "$build/wineprefix-template/." "$WINEPREFIX/"
  echo "   copied from $build/wineprefix-template to $WINEPREFIX"
else
  echo "   booting a new prefix in $WINEPREFIX (about 20 s)"
  quiet wine wineboot --init
  quiet wineserver -w
fi

step "Starting a Wine session" \
  "One wineserver with its service manager for the rest of the demo."
# Helper processes of the session must hold no terminal or pipe of ours.
# The first program boots the session; a "wineboot --init" on top would start
# a second service manager.
quiet wineserver -p
quiet wine cmd /c exit

bin_windows=$(winepath -w "$(cd "$install_dir/bin" && pwd)" | tr -d '\r')

step "Installing the broker with install.cmd" \
  "It registers the proxy/stub library KestorPr.dll with regsvr32, then runs" \
  "'ZovKestor.exe -Service': COM classes, AppID, type library and the" \
  "Windows service ZovKestor (not started yet: COM starts it on demand)."
show wine cmd /c "$bin_windows\\install.cmd"
show wine sc query ZovKestor

step "Writing a value through the broker: kestor-set Greeting \"Hello from Kestor\"" \
  "kestor-set asks COM for KestorObj; COM starts the service, loads KestorPr.dll" \
  "into both processes and carries the call; the service writes the value."
show wine "$install_dir/bin/kestor-set.exe" Greeting "Hello from Kestor"

step "Reading it back from HKEY_CLASSES_ROOT\\GPI\\Settings"
show wine reg query 'HKCR\GPI\Settings'

step "The service's state: running since the first client asked for it"
show wine sc query ZovKestor

step "A request the broker refuses: kestor-set --type 2 Greeting x" \
  "Only string values (type 1) are accepted; the exit code is the HRESULT."
status=0
show wine "$install_dir/bin/kestor-set.exe" --type 2 Greeting x || status=$?
echo "   exit code (low byte, as the shell sees it): $status"

step "Checking the installation: kestor-check" \
  "Eight checks that change nothing, from the class registration to a refused" \
  "call end to end; one line each, exit code 0 when all pass."
status=0
show wine "$install_dir/bin/kestor-check.exe" || status=$?
echo "   exit code: $status"

step "Uninstalling with uninstall.cmd" \
  "It stops the service, runs 'ZovKestor.exe -UnregServer' (service entry and" \
  "COM registration) and unregisters KestorPr.dll."
show wine cmd /c "$bin_windows\\uninstall.cmd"

step "Checking that nothing of the broker is left"
left=0
check_gone() {
  local what=$1
  shift
  if "$@" </dev/null >/dev/null 2>&1; then
    echo "   still there: $what"
    left=1
  else
    echo "   gone: $what"
  fi
}
check_gone "service ZovKestor" wine sc query ZovKestor
check_gone "class KestorObj" \
  wine reg query "HKCR\\CLSID\\{2D564390-2E15-400B-BFB5-644C86EBEFD0}"
check_gone "AppID of ZovKestor" \
  wine reg query "HKCR\\AppID\\{48110F26-A676-4995-8522-C747FFF94074}"
check_gone "ProgID ZovKestor.KestorObj" wine reg query "HKCR\\ZovKestor.KestorObj"
check_gone "interface IKestor and its proxy/stub" \
  wine reg query "HKCR\\Interface\\{EA74EC34-38E4-4FFB-A7B0-BBC9A9DE3970}"
check_gone "type library" \
  wine reg query "HKCR\\TypeLib\\{A5F3A260-CB89-4B7C-AC3A-37EDBBE5459B}"
status=0
show wine "$install_dir/bin/kestor-set.exe" Greeting again || status=$?
echo "   (kestor-set now fails: the class is no longer registered)"
echo "   The value written stays: it is a setting, not part of the installation."

step "Ending the Wine session and removing the throw-away prefix"
trap - EXIT
finish
if [ "$left" -ne 0 ]; then
  echo "demo: the uninstall left something behind" >&2
  exit 1
fi
echo "   done"

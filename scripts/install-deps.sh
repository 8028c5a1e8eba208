#!/usr/bin/env bash
# Installs the cross toolchains, Wine (32- and 64-bit), the Windows Installer
# tools and the build tools on Debian 12, and makes sure this kernel can run
# 32-bit Wine. Idempotent; needs root only when something is missing.
set -Eeuo pipefail

me=install-deps
fail() {
  echo "$me: $*" >&2
  exit 1
}
trap 'fail "\"$BASH_COMMAND\" failed (exit $?, line $LINENO); fix that and run scripts/install-deps.sh again"' ERR

packages=(
  g++-mingw-w64-i686-posix
  binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64
  mingw-w64-tools
  wine
  wine32:i386
  wine64
  libwine-dev
  wixl
  msitools
  cmake
  ninja-build
  googletest
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    fail "missing ${missing[*]}; run this script as root"
  fi
  echo "$me: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || fail "dpkg --add-architecture i386 failed"
  fi
  apt-get update -q || fail "apt-get update failed; check the network and apt's sources"
  apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    fail "apt-get install failed; check the network and apt's sources, then run again"
fi

bash "$(dirname "$0")/enable-i386-exec.sh"

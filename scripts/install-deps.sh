#!/usr/bin/env bash
# Installs the cross toolchain, 32-bit Wine and the build tools on Debian 12
# and makes sure this kernel can run 32-bit Wine. Idempotent; needs root only
# when something is missing.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix
  binutils-mingw-w64-i686
  mingw-w64-tools
  wine
  wine32:i386
  libwine-dev
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
    echo "install-deps: missing ${missing[*]}; run this script as root" >&2
    exit 1
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

bash "$(dirname "$0")/enable-i386-exec.sh"

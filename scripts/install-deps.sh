#!/usr/bin/env bash
# Installs the cross toolchains, Wine (32- and 64-bit), the Windows Installer
# tools and the build tools on Debian 12, generates the Japanese locale the
# code page 932 tests run Wine in, and makes sure this kernel can run 32-bit
# Wine. Idempotent; needs root only when something is missing.
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
  locales
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

# Wine spells Unix file names in the locale's character set: the tests that
# run in code page 932 (LC_ALL=ja_JP.UTF-8) need that locale to exist.
# locale-gen rebuilds every locale named in /etc/locale.gen, so it is named
# there rather than made on the side, where the next locale-gen would drop it.
if ! grep -qix 'ja_JP\.utf-\?8' <<<"$(locale -a 2>/dev/null || true)"; then
  if [ "$(id -u)" -ne 0 ]; then
    fail "the ja_JP.UTF-8 locale is missing; run this script as root"
  fi
  echo "$me: generating the ja_JP.UTF-8 locale"
  if ! grep -q '^ja_JP\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen ||
      fail "could not name ja_JP.UTF-8 in /etc/locale.gen"
  fi
  locale-gen >/dev/null || fail "locale-gen could not generate ja_JP.UTF-8"
fi

bash "$(dirname "$0")/enable-i386-exec.sh"

#!/usr/bin/env bash
# Installs the cross toolchains, Wine (32- and 64-bit), the Windows Installer
# and signing tools and the build tools on Debian 12, generates the Japanese
# locale the code page 932 tests run Wine in, and makes sure this kernel can
# run 32-bit Wine. Idempotent; needs root only when something is missing.
#
#   install-deps.sh [--dry-run]
#
# --dry-run prints what is missing and what would be done ("would: ...") and
# changes nothing; it needs no root. It looks at the machine through
# dpkg-query, dpkg and locale as found on PATH, and hands --dry-run on to
# enable-i386-exec.sh.
me=install-deps
source "$(dirname "$0")/setup-common.sh" "$@"

need_root() {
  if [ $dry_run = 0 ] && [ "$(id -u)" -ne 0 ]; then
    fail "$1; run this script as root"
  fi
}

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
  osslsigncode
  openssl
  cmake
  ninja-build
  googletest
  locales
  python3
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  need_root "missing ${missing[*]}"
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    act dpkg --add-architecture i386 || fail "dpkg --add-architecture i386 failed"
  fi
  # A mirror caught mid-sync serves an index that does not match its
  # release file ("File has unexpected size") for a while: try again, then
  # install from the lists apt has.
  updated=0
  for attempt in 1 2 3; do
    if act apt-get update -q; then
      updated=1
      break
    fi
    [ $attempt = 3 ] || sleep 15
  done
  install=(apt-get install -y -q --no-install-recommends "${missing[@]}")
  if ! act "${install[@]}"; then
    # With the i386 index of the security updates missing, the i386 halves of
    # libraries that both widths need exist only in older versions than the
    # amd64 ones, and apt gives up; the release's own versions fit together.
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ $updated = 0 ] && [ -n "$release" ] ||
      fail "apt-get install failed; check the network and apt's sources, then run again"
    say "some package lists could not be read; installing the versions of $release itself"
    act "${install[@]}" -t "$release" ||
      fail "apt-get install failed; check the network and apt's sources, then run again"
  fi
fi

# Wine spells Unix file names in the locale's character set: the tests that
# run in code page 932 (LC_ALL=ja_JP.UTF-8) need that locale to exist.
# locale-gen rebuilds every locale named in /etc/locale.gen, so it is named
# there rather than made on the side, where the next locale-gen would drop it.
locale_gen=${KESTOR_LOCALE_GEN:-/etc/locale.gen}
if ! grep -qix 'ja_JP\.utf-\?8' <<<"$(locale -a 2>/dev/null || true)"; then
  need_root "the ja_JP.UTF-8 locale is missing"
  say "generating the ja_JP.UTF-8 locale"
  if ! grep -q '^ja_JP\.UTF-8 UTF-8' "$locale_gen" 2>/dev/null; then
    if [ $dry_run = 1 ]; then
      say "would: add 'ja_JP.UTF-8 UTF-8' to $locale_gen"
    else
      echo 'ja_JP.UTF-8 UTF-8' >>"$locale_gen" || fail "could not name ja_JP.UTF-8 in $locale_gen"
    fi
  fi
  act locale-gen || fail "locale-gen could not generate ja_JP.UTF-8"
fi

bash "$(dirname "$0")/enable-i386-exec.sh" "$@"

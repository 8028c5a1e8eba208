#!/usr/bin/env bash
# Runs the set-up (scripts/install-deps.sh and enable-i386-exec.sh) with
# --dry-run against made-up machines and checks what it decides for each: no
# root needed, nothing changed.
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0

# machine NAME PROBE_RUNS(0|1) QEMU_VERSION(none|N) BINFMT(none|mounted|registered) [PACKAGES(none|all)]
# PACKAGES: what dpkg, dpkg-query and locale report; without it they are not
# asked (only enable-i386-exec.sh runs).
machine() {
  local dir=$root/$1
  mkdir -p "$dir/bin" "$dir/apt" "$dir/binfmt" "$dir/path"
  if [ "${5:-}" = all ]; then
    printf '#!/bin/sh\nprintf "install ok installed"\n' >"$dir/path/dpkg-query"
    printf '#!/bin/sh\necho i386\n' >"$dir/path/dpkg"
    printf '#!/bin/sh\nprintf "C\\nja_JP.utf8\\n"\n' >"$dir/path/locale"
  elif [ "${5:-}" = none ]; then
    printf '#!/bin/sh\nexit 1\n' >"$dir/path/dpkg-query"
    printf '#!/bin/sh\nexit 0\n' >"$dir/path/dpkg"
    printf '#!/bin/sh\nprintf "C\\nPOSIX\\n"\n' >"$dir/path/locale"
  fi
  chmod +x "$dir/path/"* 2>/dev/null
  printf '#!/bin/sh\nexit %s\n' "$([ "$2" = 1 ] && echo 0 || echo 1)" >"$dir/probe"
  chmod +x "$dir/probe"
  if [ "$3" != none ]; then
    printf '#!/bin/sh\necho "qemu-i386 version %s.0.2 (Debian)"\n' "$3" >"$dir/bin/qemu"
    chmod +x "$dir/bin/qemu"
  fi
  if [ "$4" != none ]; then
    : >"$dir/binfmt/register"
  fi
  if [ "$4" = registered ]; then
    for t in 2 3; do
      printf 'enabled\ninterpreter %s\nflags: F\n' "$dir/bin/qemu" >"$dir/binfmt/kestor-i386-$t"
    done
  fi
}

# expect NAME SCRIPT EXIT_CODE PATTERN... ; a pattern starting with ! must not appear
expect() {
  local name=$1 script=$scripts/$2 want=$3 dir=$root/$1 out code
  shift 3
  out=$(PATH=$dir/path:$PATH KESTOR_LOCALE_GEN=$dir/locale.gen \
        KESTOR_I386_PROBE=$dir/probe KESTOR_QEMU=$dir/bin/qemu KESTOR_BINFMT=$dir/binfmt \
        KESTOR_APT_SOURCES=$dir/apt bash "$script" --dry-run 2>&1)
  code=$?
  local ok=1
  [ "$code" = "$want" ] || ok=0
  for p in "$@"; do
    if [ "${p#!}" != "$p" ]; then
      grep -q -- "${p#!}" <<<"$out" && ok=0
    else
      grep -q -- "$p" <<<"$out" || ok=0
    fi
  done
  if [ $ok = 1 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name (exit $code, wanted $want):"
    sed 's/^/     /' <<<"$out"
    failures=$((failures + 1))
  fi
}

machine native 1 none none
expect native enable-i386-exec.sh 0 'run natively' '!would:'

# A fresh machine: nothing there at all.
machine bare 0 none none none
expect bare install-deps.sh 0 'would: dpkg --add-architecture i386' \
  'would: apt-get install .* wine32:i386 .*wine64 .*wixl msitools osslsigncode openssl .*python3 clang-format' \
  "would: add 'ja_JP.UTF-8 UTF-8'" 'would: locale-gen' \
  'no emulator' 'no emulator' 'would: write .deb http://deb.debian.org/debian bookworm-backports main' \
  'would: apt-get install .* -t bookworm-backports qemu-user-static' \
  'would: mount -t binfmt_misc' ':kestor-i386-2:M::.*/register$' ':kestor-i386-3:M::.*/register$'

# Debian's own qemu 7.2, registered earlier: replaced, and registered anew so
# the kernel stops running the old binary it holds open.
machine old 0 7 registered
expect old enable-i386-exec.sh 0 'qemu 7 .* too slow' 'would: apt-get install' "would: write '-1' to .*kestor-i386-2" \
  ':kestor-i386-3:M::.*/register$' '!would: mount'

machine ready 0 10 registered all
expect ready install-deps.sh 0 'kestor-i386-2 already runs' 'kestor-i386-3 already runs' '!would:'

machine unmounted 0 10 none
expect unmounted enable-i386-exec.sh 0 'would: mount' ':kestor-i386-2:M::.*/register$' '!apt-get'

machine noloader 0 10 mounted
rm "$root/noloader/probe"
expect noloader enable-i386-exec.sh 1 'no i386 loader at .*; install libc6:i386'

[ $failures = 0 ] || { echo "$failures case(s) failed"; exit 1; }

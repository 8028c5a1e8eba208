#!/usr/bin/env bash
# 32-bit Wine needs the kernel to run i386 Linux programs. Some kernels are
# built without that; there qemu's user-mode emulator runs them, registered
# with binfmt_misc. Does nothing where i386 programs already run.
#
#   enable-i386-exec.sh [--dry-run]
#
# --dry-run prints each decision and what would be done ("would: ...") and
# changes nothing; it needs no root. The machine it looks at comes from:
#   KESTOR_I386_PROBE   an i386 program that runs with --version
#                       (default /lib/ld-linux.so.2, from libc6:i386)
#   KESTOR_QEMU         the emulator (default /usr/bin/qemu-i386-static)
#   KESTOR_BINFMT       the binfmt_misc mount (default /proc/sys/fs/binfmt_misc)
#   KESTOR_APT_SOURCES  apt's source lists (default /etc/apt/sources.list.d)
me=enable-i386-exec
source "$(dirname "$0")/setup-common.sh" "$@"

probe=${KESTOR_I386_PROBE:-/lib/ld-linux.so.2}
qemu=${KESTOR_QEMU:-/usr/bin/qemu-i386-static}
binfmt=${KESTOR_BINFMT:-/proc/sys/fs/binfmt_misc}
backports=${KESTOR_APT_SOURCES:-/etc/apt/sources.list.d}/kestor-bookworm-backports.list

# Writes one line to a file (binfmt registrations, apt sources).
write_line() {
  if [ $dry_run = 1 ]; then
    say "would: write '$2' to $1"
  else
    echo "$2" >"$1"
  fi
}
# Sets major to the emulator's major version, 0 when there is none.
read_qemu_major() {
  major=0
  [ -x "$qemu" ] || return 0
  major=$("$qemu" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p' || true)
  major=${major:-0}
}

if [ ! -e "$probe" ]; then
  fail "no i386 loader at $probe; install libc6:i386 (scripts/install-deps.sh installs it with wine32:i386)"
fi
if "$probe" --version >/dev/null 2>&1; then
  say "i386 programs run natively"
  exit 0
fi
say "this kernel cannot run i386 programs; they will run through $qemu"

if [ $dry_run = 0 ] && [ "$(id -u)" -ne 0 ]; then
  fail "registering $qemu for i386 programs needs root; run scripts/install-deps.sh as root"
fi

# qemu 7.2 of Debian 12 runs Wine, but every Wine process then spends about
# a minute reserving its address space; the backported qemu does it at once.
installed=0
read_qemu_major
if [ "$major" -lt 8 ]; then
  if [ "$major" = 0 ]; then
    say "no emulator at $qemu: installing qemu-user-static from bookworm-backports"
  else
    say "qemu $major at $qemu is too slow for Wine: installing qemu-user-static from bookworm-backports"
  fi
  if [ ! -e "$backports" ]; then
    write_line "$backports" 'deb http://deb.debian.org/debian bookworm-backports main'
  fi
  export DEBIAN_FRONTEND=noninteractive
  act apt-get update -q || fail "apt-get update failed; check the network and the sources in $(dirname "$backports")"
  act apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user-static ||
    fail "installing qemu-user-static from bookworm-backports failed; check the network and apt's sources"
  if [ $dry_run = 0 ]; then
    read_qemu_major
    [ "$major" -ge 8 ] || fail "$qemu is missing or older than 8 after the install; install qemu-user-static >= 8 by hand"
  fi
  installed=1
else
  say "qemu $major at $qemu will do"
fi

if [ ! -e "$binfmt/register" ]; then
  act mount -t binfmt_misc binfmt_misc "$binfmt" ||
    fail "cannot mount binfmt_misc on $binfmt; load the module (modprobe binfmt_misc) or run on a kernel that has it"
fi

# ELF32, little endian, i386; executables (type 2) and position-independent
# ones (type 3). The kernel decodes the \x escapes itself. F: the emulator is
# opened now, so it works in any mount namespace, and so a registration made
# before the emulator was replaced still runs the old one: register again.
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff'
for type in 2 3; do
  name=kestor-i386-$type
  entry=$binfmt/$name
  if [ -e "$entry" ]; then
    if [ $installed = 0 ] && grep -qx "interpreter $qemu" "$entry"; then
      say "$name already runs $qemu"
      continue
    fi
    write_line "$entry" -1
  fi
  magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x0'$type'\x00\x03\x00'
  write_line "$binfmt/register" ":$name:M::$magic:$mask:$qemu:F"
done

if [ $dry_run = 0 ]; then
  "$probe" --version >/dev/null 2>&1 ||
    fail "i386 programs still do not run through $qemu; check $binfmt/kestor-i386-2"
fi
say "i386 programs run through $qemu"

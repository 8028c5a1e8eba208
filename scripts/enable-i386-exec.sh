#!/usr/bin/env bash
# 32-bit Wine needs the kernel to run i386 Linux programs. Some kernels are
# built without that; there qemu's user-mode emulator runs them, registered
# with binfmt_misc. Does nothing where i386 programs already run.
set -euo pipefail

probe=/lib/ld-linux.so.2
if [ ! -e "$probe" ] || "$probe" --version >/dev/null 2>&1; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "enable-i386-exec: this kernel cannot run i386 programs; run as root to register qemu-i386" >&2
  exit 1
fi

# qemu 7.2 of Debian 12 runs Wine, but every Wine process then spends about
# a minute reserving its address space; the backported qemu does it at once.
qemu=/usr/bin/qemu-i386-static
qemu_major=$("$qemu" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p')
if [ "${qemu_major:-0}" -lt 8 ]; then
  backports=/etc/apt/sources.list.d/kestor-bookworm-backports.list
  if [ ! -e "$backports" ]; then
    echo 'deb http://deb.debian.org/debian bookworm-backports main' >"$backports"
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user-static
fi

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt"
fi

# ELF32, little endian, i386; executables (type 2) and position-independent
# ones (type 3). The kernel decodes the \x escapes itself. F: the emulator is
# opened now, so it works in any mount namespace.
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff'
for type in 2 3; do
  name=kestor-i386-$type
  [ -e "$binfmt/$name" ] && continue
  magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x0'$type'\x00\x03\x00'
  echo ":$name:M::$magic:$mask:$qemu:F" >"$binfmt/register"
done

"$probe" --version >/dev/null
echo "enable-i386-exec: i386 programs run through $qemu"

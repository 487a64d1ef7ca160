#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmarks need on a
# fresh Debian 12 machine: the packages of scripts/packages.txt, Debian's 32-bit
# wine where the kernel runs 32-bit programs, and the LZMA SDK's sources. Run as
# root. Safe to run again: it skips what is already there.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
deps="$here/third_party"

# The packages of scripts/packages.txt; the 32-bit ones only where they can run (below).
listed() { sed 's/#.*//' "$here/scripts/packages.txt" | awk -v want="$1" 'NF >= 2 && ($3 == "32bit") == want { print $2 }' | sort -u; }
mapfile -t packages < <(listed 0)
mapfile -t packages32 < <(listed 1)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# The LZMA SDK's C sources come from Debian's 7zip source package, which needs a
# deb-src entry for the archive this machine already uses.
need_src=0
[ -f "$deps/lzma/C/7zDec.c" ] || need_src=1

if [ "${#missing[@]}" -gt 0 ] || [ "$need_src" = 1 ]; then
  if [ "$need_src" = 1 ] && ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        > /etc/apt/sources.list.d/debian-src.sources
    else
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/debian-src.list
    fi
  fi
  apt-get update -qq
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The shipped program is 32-bit. Debian's 32-bit wine runs it where the kernel
# runs 32-bit programs at all; a tiny 32-bit Linux program, made with binutils
# alone, tells without wine.
runs_32bit() {
  local dir
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' > "$dir/p.s"
  as --32 -o "$dir/p.o" "$dir/p.s" && ld -m elf_i386 -o "$dir/p" "$dir/p.o" >/dev/null 2>&1
  local rc=0
  "$dir/p" 2>/dev/null || rc=$?
  rm -rf "$dir"
  [ "$rc" = 42 ]
}
missing32=()
for p in "${packages32[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing32+=("$p")
done
if [ "${#missing32[@]}" = 0 ]; then
  :
elif runs_32bit; then
  echo "setup: this kernel runs 32-bit programs: installing ${missing32[*]}"
  dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing32[@]}" >/dev/null
else
  echo "setup: this kernel does not run 32-bit programs: the 32-bit build can't be tested here"
fi

if [ "$need_src" = 1 ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source -qq --download-only 7zip >/dev/null && dpkg-source -x --skip-patches ./7zip_*.dsc src >/dev/null)
  rm -rf "$deps/lzma"
  mkdir -p "$deps"
  mv "$tmp/src" "$deps/lzma"
  rm -rf "$tmp"
  echo "setup: LZMA SDK sources in $deps/lzma"
fi

echo "setup: ready"

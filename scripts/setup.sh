#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmarks need on a
# fresh Debian 12 machine: the packages of the list below, Debian's 32-bit
# wine where the kernel runs 32-bit programs, and the LZMA SDK's sources. Run as
# root. Safe to run again: it skips what is already there.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
deps="$here/third_party"

# Every program and installed path that the build, the tests, the demo and the
# benchmarks use, with the Debian package that provides it: the one list of
# what this script installs. scripts/check-packages.py (run by scripts/test.sh
# before anything is built) reads it and fails when the project runs a program
# that is neither here nor part of every Debian system. "32bit": only where the
# kernel runs 32-bit programs.
read -r -d '' PACKAGES <<'PACKAGES' || true
x86_64-w64-mingw32-gcc-posix                     g++-mingw-w64-x86-64-posix
x86_64-w64-mingw32-g++-posix                     g++-mingw-w64-x86-64-posix
x86_64-w64-mingw32-g++-win32                     g++-mingw-w64-x86-64-win32
i686-w64-mingw32-gcc-posix                       g++-mingw-w64-i686-posix
i686-w64-mingw32-g++-posix                       g++-mingw-w64-i686-posix
i686-w64-mingw32-gcc-win32                       g++-mingw-w64-i686-win32
i686-w64-mingw32-g++-win32                       g++-mingw-w64-i686-win32
x86_64-w64-mingw32-windres                       binutils-mingw-w64-x86-64
i686-w64-mingw32-windres                         binutils-mingw-w64-i686
i686-w64-mingw32-objdump                         binutils-mingw-w64-i686
/usr/x86_64-w64-mingw32                          binutils-mingw-w64-x86-64
/usr/i686-w64-mingw32                            binutils-mingw-w64-i686
as                                               binutils
ld                                               binutils
cmake                                            cmake
ctest                                            cmake
ninja                                            ninja-build
/usr/src/googletest                              googletest
python3                                          python3
dpkg-source                                      dpkg-dev
/usr/lib/wine/wine64                             wine64
/usr/lib/wine/wineserver64                       wine64
/usr/lib/x86_64-linux-gnu/wine/x86_64-windows    wine64
/usr/lib/wine/wine                               wine32:i386  32bit
/usr/lib/wine/wineserver32                       wine32:i386  32bit
/usr/share/wine/fonts                            fonts-wine
/usr/share/fonts/truetype/wqy/wqy-microhei.ttc   fonts-wqy-microhei
/usr/share/fonts                                 fonts-wqy-microhei
Xvfb                                             xvfb
xdotool                                          xdotool
import                                           imagemagick
compare                                          imagemagick
convert                                          imagemagick
/usr/share/icons                                 imagemagick
7zz                                              7zip
7z                                               p7zip-full
openssl                                          openssl
osslsigncode                                     osslsigncode
curl                                             curl
/usr/bin/time                                    time
debootstrap                                      debootstrap
nginx                                            nginx-light
squid                                            squid
git                                              git
PACKAGES

# Its packages; the 32-bit ones only where they can run (below).
listed() { echo "$PACKAGES" | awk -v want="$1" 'NF >= 2 && ($3 == "32bit") == want { print $2 }' | sort -u; }
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

#!/usr/bin/env bash
# Proves that the README's test command needs nothing but a fresh Debian 12: makes
# a minimal Debian root with debootstrap (variant minbase, Debian's own packages),
# copies the repository's tracked files into it, and there runs scripts/test.sh,
# which installs what it needs, checks that, builds both programs and the test
# trees and runs the tests. With --build-only it stops after scripts/setup.sh and
# the build of both programs and the win64 test tree.
# Run as root; takes about a quarter of an hour and 4 GB of disk.
#   tools/clean-root-test.sh [--build-only] [FOLDER]      (FOLDER: /var/tmp/vnk-clean-root)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_only=false
if [ "${1:-}" = --build-only ]; then build_only=true; shift; fi
dir=${1:-/var/tmp/vnk-clean-root}
mirror=http://deb.debian.org/debian
started=$(date +%s)

mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT

echo "clean-root: a minimal Debian 12 in $dir"
# A run that was killed may have left the host's /proc, /sys and /dev mounted
# inside: those go first, and removing never crosses into another file system.
{ grep -o " $dir/[^ ]*" /proc/mounts || true; } | sort -r | while read -r m; do umount -l "$m"; done
rm -rf --one-file-system "$dir"
debootstrap --variant=minbase bookworm "$dir" "$mirror" >"$dir.debootstrap.log" 2>&1 \
  || { tail -20 "$dir.debootstrap.log"; exit 1; }
# The suites of an installed Debian 12, as a fresh machine has them.
cat >"$dir/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp /etc/resolv.conf "$dir/etc/resolv.conf"
for fs in proc sys dev dev/pts; do
  mount --bind "/$fs" "$dir/$fs"
  mounted+=("$dir/$fs")
done
mount -t tmpfs tmpfs "$dir/dev/shm" && mounted+=("$dir/dev/shm")

mkdir -p "$dir/src"
git -C "$here" ls-files -z | (cd "$here" && tar --null -T - -c) | tar -x -C "$dir/src"
echo "clean-root: the repository's $(git -C "$here" ls-files | wc -l) tracked files in $dir/src"

in_root() { chroot "$dir" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 bash -c "$1"; }
if $build_only; then
  in_root 'cd /src && scripts/setup.sh && python3 scripts/check-packages.py && . scripts/build-env.sh &&
           vnk_pick_port && vnk_configure_tests win64 && cmake --preset win32 -DVNK_UNSIGNED=ON >/dev/null &&
           cmake --build --preset win32 && cmake --build --preset win64 &&
           ls -l build/win32/LumoraRepair.exe build/win64/LumoraRepair.exe'
else
  in_root 'cd /src && scripts/test.sh'
fi
echo "clean-root: passed in $(( $(date +%s) - started )) s"

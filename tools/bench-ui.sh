#!/usr/bin/env bash
# Benchmark of the window under load: a ~300 MB download from the loopback server
# (tens of thousands of DownloadProgress events) into the real status line and
# progress bar, on a private Xvfb. Prints redraws per second and the lag.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
size_mb=${1:-300}
. tools/bench-env.sh
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target bench_ui >/dev/null

vnk_bench_folders ui
vnk_wine_prefix "$root/build/win64/wineprefix"
port=$(vnk_free_port)
cleanup() { tests/support/server-ctl.sh stop "$port" "$work/www"; vnk_wine_stop; rm -rf "$work" "$out"; }
trap cleanup EXIT
vnk_xvfb_start
vnk_wineserver_start
mkdir -p "$work/www"
size=$((size_mb * 1024 * 1024))
head -c "$size" /dev/urandom > "$work/www/package.bin"
tests/support/server-ctl.sh start "$port" "$work/www"
"$VNK_WINE" build/win64/tools/bench_ui.exe "http://127.0.0.1:$port/package.bin" "$size" | tr -d '\r'

#!/usr/bin/env bash
# Benchmark: fetch a ~200 MB file from the loopback server once with DownloadFile
# (bench_download.exe under wine64) and once with curl; print both times and the ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
size_mb=${1:-200}
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target bench_download >/dev/null

work=$(mktemp -d /tmp/vnk-bench-download.XXXXXX)
. scripts/wine-env.sh
vnk_wine_prefix "$root/build/win64/wineprefix"
port=$(python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])")
cleanup() { tests/support/server-ctl.sh stop "$port" "$work/www"; vnk_wine_stop; rm -rf "$work"; }
trap cleanup EXIT
vnk_wineserver_start

mkdir -p "$work/www"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/www/package.bin"
tests/support/server-ctl.sh start "$port" "$work/www"
url="http://127.0.0.1:$port/package.bin"

ours=$("$VNK_WINE" build/win64/tools/bench_download.exe "$url" "Z:${work//\//\\}\\ours.bin" | tr -d '\r')
echo "$ours"
cmp -s "$work/www/package.bin" "$work/ours.bin" || { echo "downloaded file differs" >&2; exit 1; }
ours_s=$(echo "$ours" | sed -n 's/^download_seconds: //p')

curl_s=$(curl -s -o "$work/curl.bin" -w '%{time_total}' "$url")
echo "curl_seconds: $curl_s"
python3 -c "print('size_mb: $size_mb'); print('ratio_vs_curl: %.2f' % ($ours_s / $curl_s))"

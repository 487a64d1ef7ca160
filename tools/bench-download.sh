#!/usr/bin/env bash
# Benchmark: fetch a ~200 MB file from the loopback server with DownloadFile
# (bench_download.exe), with a bare WinINet loop reading 1 MiB at a time
# (bench_download_floor.exe, the floor under this wine) and with curl; prints
# the times and the ratios, for the
# win64 build under wine64 and the shipped 32-bit build under 32-bit wine. Then
# the same file with the connection cut at half its size: DownloadFile's time
# and the bytes the server sent in all, resumed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
size_mb=${1:-200}
. tools/bench-env.sh
vnk_bench_build bench_download bench_download_floor

vnk_bench_folders download
port=$(vnk_free_port)
cleanup() { tests/support/server-ctl.sh stop "$port" "$work/www"; vnk_wine_stop; rm -rf "$work" "$out"; }
trap cleanup EXIT

mkdir -p "$work/www"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/www/package.bin"
tests/support/server-ctl.sh start "$port" "$work/www"
url="http://127.0.0.1:$port/package.bin"

curl_s=$(curl -s -o "$work/curl.bin" -w '%{time_total}' "$url")
rm -f "$work/curl.bin"

bench() {  # arch build-dir prefix
  vnk_wine_prefix "$3" "$1"
  vnk_wineserver_start
  echo "== $1 build"
  ours=$("$VNK_WINE" "$2/tools/bench_download.exe" "$url" "Z:${work//\//\\}\\ours.bin" | tr -d '\r')
  echo "$ours"
  cmp -s "$work/www/package.bin" "$work/ours.bin" || { echo "downloaded file differs" >&2; exit 1; }
  rm -f "$work/ours.bin"
  ours_s=$(echo "$ours" | sed -n 's/^download_seconds: //p')
  floor=$("$VNK_WINE" "$2/tools/bench_download_floor.exe" "$url" "Z:${work//\//\\}\\floor.bin" | tr -d '\r')
  echo "$floor"
  cmp -s "$work/www/package.bin" "$work/floor.bin" || { echo "the floor's file differs" >&2; exit 1; }
  rm -f "$work/floor.bin"
  floor_s=$(echo "$floor" | sed -n 's/^floor_seconds: //p')
  echo "curl_seconds: $curl_s"
  python3 -c "print('size_mb: $size_mb'); print('ratio_vs_floor: %.2f' % ($ours_s / $floor_s)); print('ratio_vs_curl: %.2f' % ($ours_s / $curl_s))"
  local query="cutonce=$((size_mb * 1024 * 1024 / 2))&arch=$1"
  cut=$("$VNK_WINE" "$2/tools/bench_download.exe" "$url?$query" "Z:${work//\//\\}\\ours.bin" | tr -d '\r')
  cmp -s "$work/www/package.bin" "$work/ours.bin" || { echo "downloaded file differs after the cut" >&2; exit 1; }
  rm -f "$work/ours.bin"
  echo "cut_at_half_seconds: $(echo "$cut" | sed -n 's/^download_seconds: //p') (with the 1 s wait before the retry)"
  echo "cut_at_half_bytes_sent: $(grep "^sent /package.bin?$query " "$work/www/requests.log" | awk '{ s += $3 } END { print s }')" \
       "of $((size_mb * 1024 * 1024))"
  vnk_wineserver_stop
}

vnk_bench_both_builds bench-download

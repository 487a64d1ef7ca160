#!/usr/bin/env bash
# Benchmark: the time the checks of a program built with a key add to a repair
# of a ~100 MB package: the configuration's signature (2048 and 4096-bit keys,
# made by openssl) and the package's SHA-256 with its size, by
# bench_signature.exe; for the win64 build under wine64 and the shipped 32-bit
# build under 32-bit wine. `sha256sum` of the same file is printed for scale.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
size_mb=${1:-100}
. tools/bench-env.sh
vnk_bench_build bench_signature

vnk_bench_folders signature
cleanup() { vnk_wine_stop; rm -rf "$work" "$out"; }
trap cleanup EXIT

head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/package.7z"
printf '[General]\r\nurl=http://example.org/cross.7z\r\nfilesize=%d\r\nversion=1\r\n' \
  "$((size_mb * 1024 * 1024))" > "$work/config.ini"
for bits in 2048 4096; do
  openssl genrsa -out "$work/key$bits.pem" "$bits" 2>/dev/null
  openssl rsa -in "$work/key$bits.pem" -pubout -out "$work/key$bits.pub.pem" 2>/dev/null
  openssl dgst -sha256 -sign "$work/key$bits.pem" "$work/config.ini" | base64 -w0 > "$work/key$bits.sig"
done
sha_s=$( { /usr/bin/time -f %e sha256sum "$work/package.7z" >/dev/null; } 2>&1 )
win() { echo "Z:${1//\//\\}"; }

bench() {  # arch build-dir prefix
  vnk_wine_prefix "$3" "$1"
  vnk_wineserver_start
  echo "== $1 build, $size_mb MB"
  for bits in 2048 4096; do
    echo "-- $bits-bit key"
    "$VNK_WINE" "$2/tools/bench_signature.exe" "$(win "$work/package.7z")" "$(win "$work/config.ini")" \
      "$(win "$work/key$bits.sig")" "$(win "$work/key$bits.pub.pem")" | tr -d '\r'
  done
  echo "sha256sum_seconds: $sha_s"
  vnk_wineserver_stop
}

vnk_bench_both_builds bench-signature

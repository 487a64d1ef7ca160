#!/usr/bin/env bash
# Benchmark of extraction: a ~200 MB LZMA2 package of mixed content, as one solid
# block and with small blocks, unpacked by ExtractArchive (bench_extract.exe), by
# the LZMA SDK's own example extractor (both under wine) and by `7z x -mmt1`; for
# the win64 build under wine64 and the shipped 32-bit build under 32-bit wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
size_mb=${1:-200}
. scripts/wine-env.sh
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target bench_extract sdk_7zdec >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 --target bench_extract sdk_7zdec >/dev/null

work=$(mktemp -d /tmp/vnk-bench-extract.XXXXXX)
cleanup() { vnk_wine_stop; rm -rf "$work"; }
trap cleanup EXIT

# Mixed content: text-like files that compress well and random ones that don't.
python3 - "$work/src/Cross" "$size_mb" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1024 * 1024
rng = random.Random(7)
words = [b"varnok", b"cross", b"lumora", b"repair", b"qelvan", b"game", b"\n", b" "]
pool = b" ".join(rng.choice(words) for _ in range(200_000))
i = written = 0
while written < total:
    folder = os.path.join(root, "pack%02d" % (i % 20))
    os.makedirs(folder, exist_ok=True)
    size = min(rng.randint(200_000, 3_000_000), total - written)
    if i % 3 == 0:
        data = os.urandom(size)
    else:
        data = (pool * (size // len(pool) + 1))[rng.randint(0, 9999):][:size]
    open(os.path.join(folder, "f%04d.dat" % i), "wb").write(data)
    written += len(data); i += 1
PY

now() { date +%s.%N; }
run() {  # archive (with VNK_WINE and build set)
  local archive=$1 out t0
  rm -rf "$work/ours" "$work/sdk" "$work/7z"
  # All three are timed from outside, process start included, so they compare alike.
  t0=$(now)
  # Peak memory is the Linux process's maximum resident set: wine's own
  # accounting of a process's private bytes is not reliable.
  out=$(/usr/bin/time -f 'max_rss_kb: %M' "$VNK_WINE" "$build/tools/bench_extract.exe" \
        "Z:${archive//\//\\}" "Z:${work//\//\\}\\ours" 2>&1 | tr -d '\r')
  ours=$(python3 -c "print('%.3f' % ($(now) - $t0))")
  inside=$(echo "$out" | sed -n 's/^extract_seconds: //p')
  peak=$(echo "$out" | sed -n 's/^max_rss_kb: //p')
  mkdir -p "$work/sdk"; t0=$(now)
  sdk_out=$(cd "$work/sdk" && /usr/bin/time -f 'max_rss_kb: %M' \
            "$VNK_WINE" "$root/$build/tools/sdk_7zdec.exe" x "Z:${archive//\//\\}" 2>&1 >/dev/null)
  sdk=$(python3 -c "print('%.3f' % ($(now) - $t0))")
  sdk_peak=$(echo "$sdk_out" | sed -n 's/^max_rss_kb: //p')
  t0=$(now)
  7z x -mmt1 -bd -y -o"$work/7z" "$archive" >/dev/null
  sz=$(python3 -c "print('%.3f' % ($(now) - $t0))")
  diff -rq "$work/ours" "$work/7z" >/dev/null || { echo "our output differs from 7z's" >&2; exit 1; }
  echo "ours_seconds: $ours (of which ExtractArchive itself: $inside)"
  echo "ours_peak_mb: $((peak / 1024))"
  echo "sdk_example_seconds: $sdk"
  echo "sdk_example_peak_mb: $((sdk_peak / 1024))"
  echo "7z_mmt1_seconds: $sz"
  python3 -c "print('ratio_vs_sdk_example: %.2f' % ($ours / $sdk)); print('ratio_vs_7z: %.2f' % ($ours / $sz))"
}

(cd "$work/src" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 -mx=5 -mmt1 -ms=on "$work/solid.7z" Cross)
(cd "$work/src" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 -mx=5 -mmt1 -ms=4m "$work/blocks.7z" Cross)
bench() {  # arch build-dir prefix
  build=$2
  vnk_wine_prefix "$3" "$1"
  vnk_wineserver_start
  echo "== $1 build: one solid block ($(7zz l -slt "$work/solid.7z" | sed -n 's/^Blocks = //p') block, $(du -m "$work/solid.7z" | cut -f1) MB packed)"
  run "$work/solid.7z"
  echo "== $1 build: small blocks ($(7zz l -slt "$work/blocks.7z" | sed -n 's/^Blocks = //p') blocks of at most 4 MB)"
  run "$work/blocks.7z"
  vnk_wineserver_stop
}

bench win64 build/win64 "$root/build/win64/wineprefix"
if vnk_wine32_available; then
  bench win32 build/win32 "$root/build/win32/wineprefix"
else
  echo "bench-extract: SKIPPED the 32-bit build: this kernel does not run 32-bit programs"
fi

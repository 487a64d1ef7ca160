#!/usr/bin/env bash
# Benchmark of extraction, three cases of about 200 MB:
#   mixed-solid   repeated text and random bytes, one solid block
#   mixed-blocks  the same in blocks of at most 4 MB
#   real          a game-like folder of many files (tools/bench_corpus.py: Windows
#                 DLLs, fonts and icons from installed Debian packages), LZMA2 -mx5
#   real-published  the same, packed as tools/publish-package packs it (-mx9, blocks
#                 of at most 16 MB)
# Each is unpacked by ExtractArchive (bench_extract.exe), into an empty folder and
# over one that holds the same files already (the usual repair), and by the LZMA SDK's own
# example extractor, both under wine, and by `7z x` natively with one thread and
# with its default threads; and its files
# are written plainly by bench_file_floor.exe (the same names, sizes and order,
# CreateFileW/WriteFile/CloseHandle only, no decoding): the floor of any
# extraction on the same platform. For the win64 build under wine64 and the
# shipped 32-bit build under 32-bit wine. Every time is the best of RUNS (3) and
# includes process start; the outputs go to a tmpfs where there is one, so that
# the disk's write-back doesn't swamp the per-file costs. Last, the largest solid
# block the 32-bit program can unpack, measured.
#   tools/bench-extract.sh [SIZE_MB] [RUNS]
#   tools/bench-extract.sh --solid-limit      (the last measurement only)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
only_limit=false
if [ "${1:-}" = --solid-limit ]; then only_limit=true; shift; fi
size_mb=${1:-200}
runs=${2:-3}
. tools/bench-env.sh
vnk_bench_build bench_extract bench_file_floor sdk_7zdec

vnk_bench_folders extract
cleanup() { vnk_wine_stop; rm -rf "$work" "$out"; }
trap cleanup EXIT
win() { echo "Z:${1//\//\\}"; }

# The largest solid block the 32-bit program unpacks: one file of zeros in one
# block, growing by 256 MB until ExtractArchive can't have the memory for it,
# then narrowed down to 16 MB.
unpacks() {  # MB: true when a block of MB megabytes unpacks; prints what happened
  local mb=$1 output result
  rm -rf "$work/limit" "$out/run" && mkdir -p "$work/limit/Cross" "$out/run"
  truncate -s "${mb}M" "$work/limit/Cross/zeros.bin"
  (cd "$work/limit" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 -mx=1 -ms=on "$work/limit.7z" Cross)
  output=$( { /usr/bin/time -f 'max_rss_kb: %M' "$VNK_WINE" build/win32/tools/bench_extract.exe \
              "$(win "$work/limit.7z")" "$(win "$out/run")" 2>&1 || true; } | tr -d '\r')
  result=$(echo "$output" | sed -n 's/^extract_result: //p')
  rm -rf "$work/limit.7z" "$work/limit" "$out/run"
  if [ "$result" != 0 ]; then
    echo "solid_block_${mb}_mb: result ${result:-none} (2 is the decoder's out-of-memory)"
    return 1
  fi
  echo "solid_block_${mb}_mb: unpacked, peak $(( $(echo "$output" | sed -n 's/^max_rss_kb: //p') / 1024 )) MB"
}

solid_limit() {
  vnk_wine_prefix "$root/build/win32/wineprefix" win32
  vnk_wineserver_start
  local mb ok=0 failed=0
  for mb in 256 512 768 1024 1280 1536 1792 2048; do
    if ! unpacks "$mb"; then failed=$mb; break; fi
    ok=$mb
  done
  while [ "$failed" -gt 0 ] && [ $((failed - ok)) -gt 16 ]; do
    mb=$(( (ok + failed) / 32 * 16 ))
    if unpacks "$mb"; then ok=$mb; else failed=$mb; fi
  done
  echo "largest_solid_block_mb_win32: $ok"
  vnk_wineserver_stop
}

if $only_limit; then
  if vnk_wine32_available; then solid_limit; else echo "bench-extract: no 32-bit wine here"; fi
  exit 0
fi

# Mixed content: text-like files that compress well and random ones that don't.
python3 - "$work/mixed/Cross" "$size_mb" <<'PY'
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
python3 tools/bench_corpus.py "$work/real" "$size_mb"

(cd "$work/mixed" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 -mx=5 -mmt1 -ms=on "$work/mixed-solid.7z" Cross)
(cd "$work/mixed" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 -mx=5 -mmt1 -ms=4m "$work/mixed-blocks.7z" Cross)
(cd "$work/real" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 -mx=5 -mmt1 -ms=on "$work/real.7z" Cross)
(cd "$work/real" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 -mx=9 -ms=16m "$work/real-published.7z" Cross)

# The entries of an archive in archive order, for the file floor.
manifest() {
  7zz l -slt "$1" | python3 -c '
import sys
entries, cur, started = [], None, False
for line in sys.stdin.read().splitlines():
    if line.startswith("----------"):
        started = True
    elif started and line.startswith("Path = "):
        cur = {"path": line[7:], "size": "0", "folder": False}
        entries.append(cur)
    elif cur and line.startswith("Size = ") and line[7:]:
        cur["size"] = line[7:]
    elif cur and line.startswith("Attributes = ") and line[13:].startswith("D"):
        cur["folder"] = True
for e in entries:
    print("D\t%s" % e["path"] if e["folder"] else "F\t%s\t%s" % (e["size"], e["path"]))
' > "$2"
}

now() { date +%s.%N; }
# best TIME_VAR COMMAND...: the shortest wall time of `runs` runs of COMMAND,
# each into a fresh $out/run (holding a copy of $prefill when that is set, not
# timed); the output of that fastest run is kept in $last.
prefill=
best() {
  local var=$1 t0 t b="" output
  shift
  for _ in $(seq "$runs"); do
    rm -rf "$out/run"; mkdir -p "$out/run"
    if [ -n "$prefill" ]; then cp -a "$prefill/." "$out/run/"; fi
    t0=$(now)
    output=$("$@" 2>&1 | tr -d '\r')
    t=$(python3 -c "print('%.3f' % ($(now) - $t0))")
    if [ -z "$b" ] || python3 -c "import sys; sys.exit(0 if $t < $b else 1)"; then
      b=$t
      last=$output
    fi
  done
  printf -v "$var" '%s' "$b"
}

run() {  # archive
  local archive=$1 ours sdk floor sz peak inside
  manifest "$archive" "$work/manifest.txt"
  # Peak memory is the Linux process's maximum resident set: wine's own
  # accounting of a process's private bytes is not reliable.
  best ours /usr/bin/time -f 'max_rss_kb: %M' "$VNK_WINE" "$build/tools/bench_extract.exe" \
       "$(win "$archive")" "$(win "$out/run")"
  inside=$(echo "$last" | sed -n 's/^extract_seconds: //p')
  peak=$(echo "$last" | sed -n 's/^max_rss_kb: //p')
  mkdir -p "$work/7z"; rm -rf "$work/7z"/*
  7z x -mmt1 -bd -y -o"$work/7z" "$archive" >/dev/null
  diff -rq "$out/run" "$work/7z" >/dev/null || { echo "our output differs from 7z's" >&2; exit 1; }
  best sdk sh -c "cd '$out/run' && exec /usr/bin/time -f 'max_rss_kb: %M' '$VNK_WINE' '$root/$build/tools/sdk_7zdec.exe' x '$(win "$archive")' >/dev/null"
  sdk_peak=$(echo "$last" | sed -n 's/^max_rss_kb: //p')
  # The usual repair: over a folder that holds the same files already.
  prefill=$work/7z
  best over /usr/bin/time -f 'max_rss_kb: %M' "$VNK_WINE" "$build/tools/bench_extract.exe" \
       "$(win "$archive")" "$(win "$out/run")"
  prefill=
  best floor "$VNK_WINE" "$build/tools/bench_file_floor.exe" "$(win "$work/manifest.txt")" "$(win "$out/run")"
  best sz 7z x -mmt1 -bd -y -o"$out/run" "$archive"
  best szmt 7z x -bd -y -o"$out/run" "$archive"
  echo "entries: $(wc -l < "$work/manifest.txt")"
  echo "ours_seconds: $ours (of which ExtractArchive itself: $inside)"
  echo "ours_peak_mb: $((peak / 1024))"
  echo "ours_over_the_same_files_seconds: $over"
  echo "sdk_example_seconds: $sdk"
  echo "sdk_example_peak_mb: $((sdk_peak / 1024))"
  echo "7z_mmt1_seconds: $sz"
  echo "7z_default_threads_seconds: $szmt"
  echo "file_floor_seconds: $floor"
  python3 -c "print('ratio_vs_sdk_example: %.2f' % ($ours / $sdk)); print('ratio_vs_7z_mmt1: %.2f' % ($ours / $sz)); print('ratio_vs_7z_default_threads: %.2f' % ($ours / $szmt)); print('ratio_vs_file_floor: %.2f' % ($ours / $floor))"
}

describe() {  # archive
  echo "$(7zz l -slt "$1" | sed -n 's/^Blocks = //p') block(s), $(du -m "$1" | cut -f1) MB packed"
}

bench() {  # arch build-dir prefix
  build=$2
  vnk_wine_prefix "$3" "$1"
  vnk_wineserver_start
  echo "== $1 build: mixed, one solid block ($(describe "$work/mixed-solid.7z"))"
  run "$work/mixed-solid.7z"
  echo "== $1 build: mixed, blocks of at most 4 MB ($(describe "$work/mixed-blocks.7z"))"
  run "$work/mixed-blocks.7z"
  echo "== $1 build: real, many files ($(describe "$work/real.7z"))"
  run "$work/real.7z"
  echo "== $1 build: real, as published ($(describe "$work/real-published.7z"))"
  run "$work/real-published.7z"
  vnk_wineserver_stop
}

vnk_bench_both_builds bench-extract
if vnk_wine32_available; then solid_limit; fi

#!/usr/bin/env bash
# Benchmark of the repair of what is broken only, on the realistic corpus of the
# extraction benchmark (tools/bench_corpus.py, ~183 MB of DLLs, fonts and
# icons) published by tools/publish-package and served by Debian's nginx on
# loopback: the package bytes fetched and the time of the whole repair
# (bench_partial.exe: manifest, scan, ranges, extraction, commit) for
#   one-damaged   a folder holding the package's files, one DLL of about 1 MB damaged
#   healthy       the same folder, undamaged
#   empty         an empty Cross folder: the full repair
#   whole-over    the whole package unpacked over the same files (bench_extract.exe),
#                 what every repair cost before the manifest
# and the scan of the healthy folder against merely reading its files. For the
# win64 build under wine64 and the shipped 32-bit build under 32-bit wine.
# Every time is the best of RUNS (3).
#   tools/bench-partial.sh [SIZE_MB] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
size_mb=${1:-200}
runs=${2:-3}
. tools/bench-env.sh
vnk_bench_build bench_partial bench_extract

vnk_bench_folders partial
nginx_pid=
cleanup() {
  vnk_wine_stop
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
  rm -rf "$work" "$out"
}
trap cleanup EXIT
win() { echo "Z:${1//\//\\}"; }

python3 tools/bench_corpus.py "$work/source" "$size_mb"
port=$(vnk_free_port)
mkdir -p "$work/www" "$work/nginx"
cat > "$work/nginx/nginx.conf" <<EOF
daemon off; master_process off; worker_processes 1; pid $work/nginx/pid;
events { worker_connections 64; }
http {
  client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi; uwsgi_temp_path $work/nginx/uwsgi; scgi_temp_path $work/nginx/scgi;
  log_format bench '\$request_uri \$status \$body_bytes_sent';
  access_log $work/nginx/access.log bench;
  server { listen 127.0.0.1:$port; root $work/www; }
}
EOF
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
published=$(python3 tools/publish-package "$work/source" "$work/www" --url "http://127.0.0.1:$port/cross.7z")
echo "$published" | head -1
package_bytes=$(stat -c %s "$work/www/cross.7z")
echo "package: $package_bytes bytes, $(grep -c '^block' "$work/www/cross.7z.manifest") blocks of at most 16 MB"

# The DLL closest to 1 MB is the one damaged.
damaged=$(cd "$work/source" && find Cross/bin -type f -printf '%s %p\n' | \
          awk '{d = $1 - 1048576; if (d < 0) d = -d; print d, $2}' | sort -n | head -1 | cut -d' ' -f2)
echo "damaged file: $damaged ($(stat -c %s "$work/source/$damaged") bytes)"

prepare() {  # CASE: the game folder as that case starts
  rm -rf "$out/game" && mkdir -p "$out/game/Cross"
  case "$1" in
    empty) ;;
    *) cp -a "$work/source/Cross/." "$out/game/Cross/" ;;
  esac
  if [ "$1" = one-damaged ]; then printf 'damaged' | dd of="$out/game/$damaged" bs=1 seek=1000 conv=notrunc 2>/dev/null; fi
}

# best CASE COMMAND...: the fastest of `runs` runs, each from a freshly prepared folder; its output in $last.
best() {
  local case=$1 b="" output t
  shift
  for _ in $(seq "$runs"); do
    prepare "$case"
    : > "$work/nginx/access.log"
    output=$("$@" | tr -d '\r')
    t=$(echo "$output" | sed -n 's/^[a-z]*_seconds: //p' | head -1)
    if [ -z "$b" ] || python3 -c "import sys; sys.exit(0 if $t < $b else 1)"; then
      b=$t; last=$output
      fetched=$(awk '$1 == "/cross.7z" {s += $3} END {print s + 0}' "$work/nginx/access.log")
    fi
  done
  best_seconds=$b
}

bench() {  # arch build-dir prefix
  vnk_wine_prefix "$3" "$1"
  vnk_wineserver_start
  echo "== $1 build"
  local exe="$2/tools/bench_partial.exe"
  for case in one-damaged healthy empty; do
    best "$case" "$VNK_WINE" "$exe" repair "$(win "$work/www/vnk_cross_repair.ini")" "$(win "$out/game")"
    echo "$case: $(echo "$last" | sed -n 's/^closing_event: //p') (108 is repaired), ${best_seconds} s," \
         "$fetched package bytes fetched ($(python3 -c "print('%.1f' % ($fetched * 100 / $package_bytes))")%)"
  done
  best whole-over "$VNK_WINE" "$2/tools/bench_extract.exe" "$(win "$work/www/cross.7z")" "$(win "$out/game")"
  echo "whole-over: ${best_seconds} s (the whole package unpacked over the same files)"
  best healthy "$VNK_WINE" "$exe" read "$(win "$work/www/cross.7z.manifest")" "$(win "$out/game")"
  local read_s=$best_seconds
  best healthy "$VNK_WINE" "$exe" scan "$(win "$work/www/cross.7z.manifest")" "$(win "$out/game")"
  echo "scan: ${best_seconds} s against ${read_s} s merely reading the same files" \
       "($(python3 -c "print('%.2f' % ($best_seconds / $read_s))")x)"
  vnk_wineserver_stop
}

vnk_bench_both_builds bench-partial

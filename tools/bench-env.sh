# Sourced by the benchmarks (bench-*.sh) from the project root: wine, and the
# steps they share.
. scripts/wine-env.sh

# Builds the benchmark programs TARGET... in the win64 build and in the shipped
# 32-bit one.
vnk_bench_build() {
  local preset
  for preset in win64 win32; do
    cmake --preset "$preset" -DVNK_UNSIGNED=ON >/dev/null
    cmake --build --preset "$preset" --target "$@" >/dev/null
  done
}

# Runs the benchmark's own `bench ARCH BUILD-DIR PREFIX` for the win64 build
# under wine64 and, where 32-bit wine runs, for the shipped 32-bit build; where
# it can't, says so in one line. vnk_bench_both_builds NAME
vnk_bench_both_builds() {
  bench win64 build/win64 "$root/build/win64/wineprefix"
  if vnk_wine32_available; then
    bench win32 build/win32 "$root/build/win32/wineprefix"
  else
    echo "$1: SKIPPED the 32-bit build: this kernel does not run 32-bit programs"
  fi
}

# A throw-away folder for the benchmark NAME's files, in $work; and where
# /dev/shm can hold them, one in memory for what it writes, in $out (else
# $work/out). vnk_bench_folders NAME
vnk_bench_folders() {
  work=$(mktemp -d "/tmp/vnk-bench-$1.XXXXXX")
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d "/dev/shm/vnk-bench-$1-out.XXXXXX"); else out=$work/out; fi
}

# A free TCP port on loopback.
vnk_free_port() {
  python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])"
}

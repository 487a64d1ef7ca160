#!/usr/bin/env bash
# Builds both programs and runs every test of the win64 build under wine64, in a
# throw-away wine prefix inside the build folder, with a private Xvfb and wineserver.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. scripts/build-env.sh
vnk_setup
vnk_configure_win64
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --build --preset win64
echo "built build/win32/LumoraRepair.exe (shipped, 32-bit) and build/win64/LumoraRepair.exe"

. scripts/wine-env.sh
vnk_wine_prefix "$root/build/win64/wineprefix"
trap vnk_wine_stop EXIT
vnk_xvfb_start
vnk_wineserver_start

ctest --preset win64 "$@"

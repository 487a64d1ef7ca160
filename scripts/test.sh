#!/usr/bin/env bash
# Builds both programs, checks that the shipped one can start on Windows XP, and
# runs every test twice: the win64 build under wine64 and the 32-bit build under
# Debian's 32-bit wine, each in its own throw-away prefix inside its build
# folder, with a private Xvfb and wineserver. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. scripts/build-env.sh
. scripts/wine-env.sh
vnk_setup
# Everything the project runs must come from what setup installs.
python3 scripts/check-packages.py
vnk_pick_port
vnk_configure_tests win64
vnk_configure_tests win32-test
# Unsigned: this build is for the import check; a release build names its key.
cmake --preset win32 -DVNK_UNSIGNED=ON >/dev/null
cmake --build --preset win32
cmake --build --preset win64
cmake --build --preset win32-test
echo "built build/win32/LumoraRepair.exe (shipped, 32-bit) and the win64 and win32 test builds"

# The shipped program must only import what Windows XP SP3 has.
python3 tools/check-xp-imports.py build/win32/LumoraRepair.exe

trap vnk_wine_stop EXIT
vnk_xvfb_start
status=0

vnk_wine_prefix "$root/build/win64/wineprefix" win64
vnk_wineserver_start
echo "== win64 build under wine64"
ctest --preset win64 "$@" || status=1
vnk_wineserver_stop

if vnk_wine32_available; then
  vnk_wine_prefix "$root/build/win32-test/wineprefix" win32
  vnk_wineserver_start
  echo "== 32-bit build under 32-bit wine"
  ctest --preset win32-test "$@" || status=1
  vnk_wineserver_stop
else
  echo "test.sh: SKIPPED the 32-bit run: this kernel does not run 32-bit programs, so Debian's 32-bit wine is not installed (see scripts/setup.sh); only the win64 build was tested"
fi
exit $status

#!/usr/bin/env bash
# Builds both programs and runs every test of the win64 build under wine64, in a
# throw-away wine prefix inside the build folder, with a private Xvfb and wineserver.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; else sudo bash scripts/setup.sh; fi

# The tests' loopback server listens on the port this build's addresses name.
port=18641
port_free() { python3 -c "import socket,sys; s=socket.socket(); sys.exit(0 if s.connect_ex(('127.0.0.1',$1)) else 1)"; }
tests/support/server-ctl.sh stop "$port" build/win64/test-www >/dev/null 2>&1 || true
if ! port_free "$port"; then
  port=$(python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])")
fi

cmake --preset win64 -DVNK_CONFIG_URL="http://127.0.0.1:$port/images/js/vy/cross/vnk_cross_repair.ini" \
  -DVNK_REPORT_HOST="127.0.0.1:$port" >/dev/null
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

#!/usr/bin/env bash
# The tool's main job on this machine: a sample game folder, a loopback server
# with a sample configuration and package, and the real LumoraRepair.exe under
# wine. On your display when there is one (press 修复 yourself); otherwise on
# a private Xvfb, where the demo presses 修复 itself and saves screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. scripts/build-env.sh
vnk_setup
vnk_configure_win64
cmake --build --preset win64 --target LumoraRepair >/dev/null
echo "built build/win64/LumoraRepair.exe"

demo="$root/build/demo"
rm -rf "$demo/Varnok" "$demo/www"
mkdir -p "$demo/Varnok/Cross" "$demo/www/images/js/vy/cross" "$demo/www/packages" "$demo/screenshots"
echo "old community component" > "$demo/Varnok/Cross/version.txt"

# A sample package: a new Cross folder, made with Debian's 7-Zip.
python3 - "$demo/package-src/Cross" <<'PY'
import os, sys
root = sys.argv[1]
os.makedirs(os.path.join(root, "res", "ui"), exist_ok=True)
open(os.path.join(root, "version.txt"), "w").write("26.12.7\n")
open(os.path.join(root, "CrossApp.dll"), "wb").write(os.urandom(3 * 1024 * 1024))
open(os.path.join(root, "res", "ui", "说明.txt"), "w", encoding="utf-8").write("Varnok 社区组件\n" * 200)
PY
rm -f "$demo/www/packages/cross.7z"
(cd "$demo/package-src" && 7zz a -bd -bso0 -bsp0 -m0=LZMA2 "$demo/www/packages/cross.7z" Cross)
rm -rf "$demo/package-src"
size=$(stat -c %s "$demo/www/packages/cross.7z")
printf '[General]\r\nurl=http://127.0.0.1:%s/packages/cross.7z?chunk=65536&delay=60\r\nfilesize=%s\r\n' \
  "$VNK_PORT" "$size" > "$demo/www/images/js/vy/cross/vnk_cross_repair.ini"

. scripts/wine-env.sh
vnk_wine_prefix "$demo/wineprefix"
headless=0
if [ -z "${DISPLAY:-}" ] || ! xdotool getmouselocation >/dev/null 2>&1; then
  headless=1
  vnk_xvfb_start
fi
cleanup() { tests/support/server-ctl.sh stop "$VNK_PORT" "$demo/www"; vnk_wine_stop; }
trap cleanup EXIT
vnk_wineserver_start
tests/support/server-ctl.sh start "$VNK_PORT" "$demo/www"
"$VNK_WINE" reg add 'HKCU\Software\Qelvan\VNK' /v InstallPath /t REG_SZ \
  /d "Z:${demo//\//\\}\\Varnok" /f >/dev/null 2>&1

echo "game folder: $demo/Varnok"
if [ "$headless" = 0 ]; then
  echo "LumoraRepair is open on $DISPLAY: press 修复, then close the window."
  "$VNK_WINE" build/win64/LumoraRepair.exe >/dev/null 2>&1 || true
else
  python3 scripts/demo_drive.py "$root/build/win64/LumoraRepair.exe" "$demo/screenshots"
fi
echo "game folder now holds: $(cd "$demo/Varnok" && find . -type f | sort | tr '\n' ' ')"
echo "usage reports received: $(grep -o 'data=[0-9]*' "$demo/www/requests.log" | tr '\n' ' ')"

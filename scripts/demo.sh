#!/usr/bin/env bash
# The demo of the tool's main job. Until the skinned window arrives, it installs
# what is needed, builds both programs and says where they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; else sudo bash scripts/setup.sh; fi
cmake --preset win32 >/dev/null && cmake --build --preset win32
cmake --preset win64 >/dev/null && cmake --build --preset win64
echo
echo "Built build/win32/LumoraRepair.exe (the shipped 32-bit program) and build/win64/LumoraRepair.exe."
echo "The repair engine is complete and tested (scripts/test.sh); the window that drives it is not built yet,"
echo "so there is no interactive demo to open."

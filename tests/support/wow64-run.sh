#!/usr/bin/env bash
# Runs a 32-bit test program as a 32-bit process on 64-bit Windows (WoW64): under
# the 32-bit wine loader in a 64-bit prefix of its own, with its own wineserver.
# wow64-run.sh PREFIX PROGRAM ARGS...
set -u
prefix=$1
shift
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/wine-env.sh"
vnk_wine_prefix "$prefix" win64 || exit 2
"$here/tests/support/wine-run.sh" /usr/lib/wine/wine "$@"
rc=$?
"$VNK_WINESERVER" -k 2>/dev/null
exit $rc

#!/usr/bin/env bash
# How ctest runs a test program: wine-run.sh LOADER PROGRAM ARGS..., where LOADER
# is wine64 or the 32-bit wine, in the prefix that scripts/test.sh prepared
# (WINEPREFIX), on its Xvfb (DISPLAY).
. "$(dirname "$0")/../../scripts/wine-env.sh"
vnk_wine_settings
loader=$1
shift
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: WINEPREFIX is not set; run the tests through scripts/test.sh" >&2
  exit 2
fi
# Wine helper processes that the program starts (services, explorer...) inherit its
# output and live as long as the wineserver; writing to a file instead of ctest's
# pipe keeps ctest from waiting for them.
out=$(mktemp)
"$loader" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc

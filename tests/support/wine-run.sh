#!/usr/bin/env bash
# How ctest runs a test program of the win64 build: under wine64, in the prefix
# that scripts/test.sh prepared (WINEPREFIX), on its Xvfb (DISPLAY).
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: WINEPREFIX is not set; run the tests through scripts/test.sh" >&2
  exit 2
fi
exec /usr/lib/wine/wine64 "$@"

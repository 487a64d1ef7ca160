#!/usr/bin/env bash
# Makes the 7z archives of the tests with Debian's 7-Zip: make_archives.sh OUTDIR
exec python3 "$(dirname "$0")/make_archives.py" "$@"

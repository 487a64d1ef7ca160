#!/usr/bin/env bash
# Makes the test data: the 7z archives (Debian's 7-Zip), then the signing keys
# and signatures (openssl): make_archives.sh OUTDIR
set -e
here=$(dirname "$0")
python3 "$here/make_archives.py" "$@"
python3 "$here/make_keys.py" "$@"

#!/usr/bin/env python3
"""Whether a signed program is an unsigned build plus its Authenticode signature.

    python3 tools/compare-signed.py SIGNED.exe UNSIGNED.exe

The signature (osslsigncode remove-signature takes it out again) is all that
signing adds, with two things that go with it: the PE header's checksum,
which the signer sets, and the zero bytes that bring the file to the 8-byte
boundary the signature starts at. Both are set aside here; any other
difference fails (exit 1). Anyone can so check a release against a build of
its commit (see the README's "Making a release").
"""
import os
import struct
import subprocess
import sys
import tempfile


def without_checksum(data):
    data = bytearray(data)
    header = struct.unpack_from("<I", data, 0x3C)[0]
    checksum = header + 4 + 20 + 64  # PE signature, file header, then CheckSum in the optional header
    data[checksum:checksum + 4] = b"\0\0\0\0"
    return bytes(data)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    signed, unsigned = sys.argv[1:]
    with tempfile.TemporaryDirectory() as scratch:
        removed = os.path.join(scratch, "removed.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", removed], check=True,
                       capture_output=True)
        with open(removed, "rb") as f:
            without = f.read()
    with open(unsigned, "rb") as f:
        original = f.read()
    padding = without[len(original):]
    same = without_checksum(without[:len(original)]) == without_checksum(original) and \
        len(padding) < 8 and padding == b"\0" * len(padding)
    print("%s: %s" % (signed, "the unsigned build and its signature, nothing else" if same else
                      "NOT the unsigned build: they differ beyond the signature"))
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())

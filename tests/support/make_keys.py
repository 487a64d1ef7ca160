#!/usr/bin/env python3
"""Makes the signing keys and signatures of the tests with openssl: make_keys.py OUTDIR

OUTDIR/keys gets RSA key pairs of 2048 and 4096 bits and a second 2048-bit pair
("other"), a sample file and its SHA-256, and base64 signatures of the sample and of
OUTDIR/package.7z as `openssl dgst -sha256 -sign` makes them. Nothing here is
kept in the repository; every run makes new keys.
"""
import base64
import hashlib
import os
import subprocess
import sys

OUT = os.path.join(os.path.abspath(sys.argv[1]), "keys")


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=True).stdout


def make_pair(name, bits):
    private = os.path.join(OUT, name + ".pem")
    openssl("genrsa", "-out", private, str(bits))
    openssl("rsa", "-in", private, "-pubout", "-out", os.path.join(OUT, name + ".pub.pem"))
    return private


def sign(private, path, signature):
    raw = openssl("dgst", "-sha256", "-sign", private, path)
    with open(signature, "w") as f:
        f.write(base64.b64encode(raw).decode("ascii"))


def main():
    os.makedirs(OUT, exist_ok=True)
    keys = {"rsa2048": make_pair("rsa2048", 2048), "rsa4096": make_pair("rsa4096", 4096),
            "other": make_pair("other", 2048)}
    sample = os.path.join(OUT, "sample.bin")
    with open(sample, "wb") as f:
        f.write(os.urandom(300000))
    with open(sample, "rb") as f, open(os.path.join(OUT, "sample.sha256"), "w") as out:
        out.write(hashlib.sha256(f.read()).hexdigest())
    package = os.path.join(os.path.dirname(OUT), "package.7z")
    for name, private in keys.items():
        sign(private, sample, os.path.join(OUT, "sample.%s.sig" % name))
        sign(private, package, os.path.join(OUT, "package.%s.sig" % name))
    return 0


if __name__ == "__main__":
    sys.exit(main())

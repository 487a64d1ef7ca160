#!/usr/bin/env python3
"""Tests of tools/release, without network: a throw-away CA and code-signing
certificate made here; the release built in a second folder must be byte for
byte the shipped build the test command made (a reproducible build), signed
twice, accepted against that CA and refused once one byte of it changed.

    python3 release_test.py SHIPPED_BUILD_DIR
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "support"))
import codesign  # noqa: E402

SHIPPED = None


class ReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="vnk-release-")
        cls.identity = codesign.make_signing_identity(os.path.join(cls.scratch, "ca"))
        cls.dist = os.path.join(cls.scratch, "dist")
        # The shipped build's own settings (unsigned, as the test command builds
        # it), in a folder of its own: a second build of the same commit.
        cls.result = subprocess.run(
            [os.path.join(ROOT, "tools", "release"), "--pkcs12", cls.identity["p12"], "--password-file",
             cls.identity["password"], "--no-package-key", "--ca", cls.identity["ca"], "--build-dir",
             os.path.join(ROOT, "build", "win32-again"), "--out", cls.dist, "--compare-with",
             os.path.join(SHIPPED, "LumoraRepair.exe")],
            cwd=ROOT, capture_output=True, text=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def test_the_release_is_reproducible_signed_twice_and_verified(self):
        self.assertEqual(self.result.returncode, 0, self.result.stdout + self.result.stderr)
        self.assertIn("reproducible:", self.result.stdout)
        signed = os.path.join(self.dist, "LumoraRepair.exe")
        code, out = codesign.verify(self.identity, signed)
        self.assertEqual(code, 0, out)
        # XP SP3 checks the SHA-1 signature, Windows 7 to 11 the nested SHA-256 one.
        self.assertIn("sha1", out.lower())
        self.assertIn("sha256", out.lower())
        self.assertEqual(out.count("Signature verification: ok"), 2, out)
        with open(os.path.join(self.dist, "SHA256SUMS")) as sums:
            for line in sums:
                digest, name = line.split()
                with open(os.path.join(self.dist, name), "rb") as f:
                    self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)

    def test_one_changed_byte_fails_the_signature(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        changed = os.path.join(self.scratch, "changed.exe")
        with open(os.path.join(self.dist, "LumoraRepair.exe"), "rb") as f:
            data = bytearray(f.read())
        data[len(data) // 3] ^= 0x01  # inside the code, far from the signature
        with open(changed, "wb") as f:
            f.write(data)
        code, out = codesign.verify(self.identity, changed)
        self.assertNotEqual(code, 0, out)

    def test_the_signed_program_passes_the_import_guard(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        guard = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "check-xp-imports.py"),
                                os.path.join(self.dist, "LumoraRepair.exe")], capture_output=True, text=True)
        self.assertEqual(guard.returncode, 0, guard.stdout + guard.stderr)

    def test_pem_files_sign_as_a_pkcs12_file_does(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        dist = os.path.join(self.scratch, "dist-pem")
        result = subprocess.run(
            [os.path.join(ROOT, "tools", "release"), "--cert", self.identity["cert"], "--key", self.identity["key"],
             "--no-package-key", "--ca", self.identity["ca"], "--build-dir",
             os.path.join(ROOT, "build", "win32-again"), "--out", dist], cwd=ROOT, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(codesign.verify(self.identity, os.path.join(dist, "LumoraRepair.exe"))[0], 0)
        compared = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "compare-signed.py"),
                                   os.path.join(dist, "LumoraRepair.exe"),
                                   os.path.join(self.dist, "LumoraRepair-unsigned.exe")], capture_output=True, text=True)
        self.assertEqual(compared.returncode, 0, compared.stdout)

    def test_a_release_without_a_certificate_or_package_key_is_refused(self):
        for args, says in [([], "no certificate"), (["--pkcs12", self.identity["p12"]], "no --package-key")]:
            with self.subTest(says):
                result = subprocess.run([os.path.join(ROOT, "tools", "release")] + args, cwd=ROOT,
                                        capture_output=True, text=True)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(says, result.stderr)


if __name__ == "__main__":
    SHIPPED = sys.argv.pop(1)
    unittest.main()

"""tools/publish-package: what it publishes, and what it refuses.

python3 publish_package_test.py   (needs 7zz and openssl)"""
import base64
import hashlib
import lzma
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "publish-package")


def ini_values(path):
    with open(path, "rb") as f:
        raw = f.read()
    assert raw.startswith(b"\xff\xfe"), "UTF-16 with its byte-order mark"
    lines = raw[2:].decode("utf-16-le").split("\r\n")
    assert lines[0] == "[General]"
    return dict(line.split("=", 1) for line in lines[1:] if line)


class PublishPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="vnk-publish-keys-")
        for name, bits in (("key", 2048), ("small", 1024)):
            subprocess.run(["openssl", "genrsa", "-out", os.path.join(cls.keys, name + ".pem"), str(bits)],
                           check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vnk-publish-")
        self.source = os.path.join(self.work, "source")
        self.output = os.path.join(self.work, "out")
        self.write("Cross/CrossApp.dll", os.urandom(5000))
        self.write("Cross/res/说明.txt", "社区组件".encode("utf-8"))
        os.makedirs(os.path.join(self.source, "Cross", "logs"))

    def tearDown(self):
        shutil.rmtree(self.work)

    def write(self, relative, data=b"x"):
        path = os.path.join(self.source, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def publish(self, *options):
        return subprocess.run([sys.executable, TOOL, self.source, self.output, "--url",
                               "http://127.0.0.1:8080/packages/cross.7z", *options], capture_output=True, text=True)

    def assert_refused(self, naming, *options):
        result = self.publish(*options)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(naming, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.output, "cross.7z")), "nothing is published")

    def check_manifest(self, data, manifest):
        """Every range's digest is that of the package's bytes, and the blocks lie one after the other."""
        lines = [line.split("\t") for line in manifest.decode("utf-8").splitlines()]
        self.assertEqual(lines[:2], [["LumoraRepair manifest 1"], ["package", str(len(data))]])
        sha = lambda *parts: hashlib.sha256(b"".join(parts)).hexdigest()  # noqa: E731
        end = 32
        for kind, at, size, digest in (l for l in lines if l[0] in ("header", "block")):
            at, size = int(at), int(size)
            if kind == "block":
                self.assertEqual(at, end)
                end = at + size
            self.assertEqual(digest, sha(data[:32], data[at:at + size]) if kind == "header" else sha(data[at:at + size]))
        return lines

    def test_cuts_blocks_that_make_too_large_a_share_of_the_package(self):
        # 3 MB that compress well and 8 × 400 KB that don't: the random files
        # would make one block of 99 %; cut, two of them share a 1 MB block.
        self.write("Cross/text/a.txt", b"the same line again\n" * 150000)
        for i in range(8):
            self.write("Cross/bin/r%d.dll" % i, os.urandom(400 * 1024))
        self.assertEqual(self.publish().returncode, 0)
        package = os.path.join(self.output, "cross.7z")
        with open(package, "rb") as f:
            data = f.read()
        with open(package + ".manifest", "rb") as f:
            lines = self.check_manifest(data, f.read())
        random_per_block = {}
        for line in (l for l in lines if l[0] == "file" and l[1].startswith("Cross/bin/r")):
            random_per_block[line[4]] = random_per_block.get(line[4], 0) + 1
        self.assertEqual(sorted(random_per_block.values()), [2, 2, 2, 2])
        subprocess.run(["7zz", "t", package], check=True, capture_output=True)

    def test_publishes_a_package_and_the_configuration_that_announces_it(self):
        result = self.publish("--tips", "服务器维护中", "--process", "Varnok.exe", "--process", "Lobby.exe",
                              "--version", "202612081200", "--keep", "Cross/res/*")
        self.assertEqual(result.returncode, 0, result.stderr)
        package = os.path.join(self.output, "cross.7z")
        values = ini_values(os.path.join(self.output, "vnk_cross_repair.ini"))
        with open(package, "rb") as f:
            data = f.read()
        with open(package + ".manifest", "rb") as f:
            manifest = f.read()
        with open(package + ".manifest.lzma", "rb") as f:
            compact = f.read()
        self.assertEqual(lzma.decompress(compact, format=lzma.FORMAT_ALONE), manifest, "the same text, compressed")
        self.assertEqual(values, {"url": "http://127.0.0.1:8080/packages/cross.7z",
                                  "filesize": str(len(data)), "sha256": hashlib.sha256(data).hexdigest(),
                                  "version": "202612081200", "tips": "服务器维护中",
                                  "manifest": "http://127.0.0.1:8080/packages/cross.7z.manifest",
                                  "manifestsize": str(len(manifest)), "manifestsha256": hashlib.sha256(manifest).hexdigest(),
                                  "compactmanifest": "http://127.0.0.1:8080/packages/cross.7z.manifest.lzma",
                                  "compactmanifestsize": str(len(compact)),
                                  "compactmanifestsha256": hashlib.sha256(compact).hexdigest(),
                                  "processcount": "2", "process_0": "Varnok.exe", "process_1": "Lobby.exe"})
        lines = self.check_manifest(data, manifest)
        sha = lambda *parts: hashlib.sha256(b"".join(parts)).hexdigest()  # noqa: E731
        files = {l[1]: l[2:] for l in lines if l[0] == "file"}
        crossapp = open(os.path.join(self.source, "Cross", "CrossApp.dll"), "rb").read()
        self.assertEqual(files["Cross/CrossApp.dll"], [str(len(crossapp)), sha(crossapp), "0", "restore"])
        self.assertEqual(files["Cross/res/说明.txt"][3], "keep")
        self.assertEqual(sorted(l[1] for l in lines if l[0] == "folder"), ["Cross", "Cross/logs", "Cross/res"])
        self.assertFalse(os.path.exists(os.path.join(self.output, "vnk_cross_repair.ini.sig")), "no key, no .sig")
        # Without --version, the UTC time: every publication raises it.
        self.assertEqual(self.publish().returncode, 0)
        version = ini_values(os.path.join(self.output, "vnk_cross_repair.ini"))["version"]
        self.assertRegex(version, r"^20\d{10}$")
        listing = subprocess.run(["7zz", "l", "-slt", package], capture_output=True, text=True, check=True).stdout
        paths = sorted(line[7:] for line in listing.splitlines() if line.startswith("Path = Cross"))
        self.assertEqual(paths, ["Cross", "Cross/CrossApp.dll", "Cross/logs", "Cross/res", "Cross/res/说明.txt"])
        self.assertIn("LZMA2", listing)

    def test_names_the_package_after_its_content_under_a_folder_and_its_mirrors(self):
        result = subprocess.run([sys.executable, TOOL, self.source, self.output, "--url", "http://a.example/p/",
                                 "--mirror", "http://b.example/q", "--mirror", "https://c.example/r/"],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        values = ini_values(os.path.join(self.output, "vnk_cross_repair.ini"))
        stem = "cross-" + values["sha256"][:16]
        self.assertEqual(sorted(os.listdir(self.output)), sorted([stem + ".7z", stem + ".manifest",
                                                                  stem + ".manifest.lzma", "vnk_cross_repair.ini"]))
        with open(os.path.join(self.output, stem + ".7z"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), values["sha256"])
        self.assertEqual(values["url"], "http://a.example/p/%s.7z" % stem)
        self.assertEqual(values["manifest"], "http://a.example/p/%s.manifest" % stem)
        self.assertEqual(values["compactmanifest"], "http://a.example/p/%s.manifest.lzma" % stem)
        self.assertEqual((values["mirrorcount"], values["mirror_0"], values["mirror_1"]),
                         ("2", "http://b.example/q/%s.7z" % stem, "https://c.example/r/%s.7z" % stem))
        # Another content, another name: no address is ever reused.
        self.write("Cross/new.txt", b"more")
        self.assertEqual(subprocess.run([sys.executable, TOOL, self.source, self.output, "--url", "http://a.example/p"],
                                        capture_output=True).returncode, 0)
        self.assertNotEqual(ini_values(os.path.join(self.output, "vnk_cross_repair.ini"))["url"], values["url"])
        self.assertNotIn("mirrorcount", ini_values(os.path.join(self.output, "vnk_cross_repair.ini")))

    def test_a_private_key_signs_the_configuration_and_the_package_as_openssl_checks_them(self):
        key = os.path.join(self.keys, "key.pem")
        self.assertEqual(self.publish("--private-key", key).returncode, 0)
        signature = os.path.join(self.work, "signature")
        with open(signature, "wb") as f:
            f.write(base64.b64decode(ini_values(os.path.join(self.output, "vnk_cross_repair.ini"))["signature"]))
        public = os.path.join(self.work, "public.pem")
        subprocess.run(["openssl", "rsa", "-in", key, "-pubout", "-out", public], check=True, capture_output=True)
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public, "-signature", signature,
                                os.path.join(self.output, "cross.7z")], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        # The configuration's own signature, over its exact bytes.
        with open(os.path.join(self.output, "vnk_cross_repair.ini.sig")) as f, open(signature, "wb") as raw:
            raw.write(base64.b64decode(f.read().strip()))
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public, "-signature", signature,
                                os.path.join(self.output, "vnk_cross_repair.ini")], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_refuses_names_the_program_refuses_or_windows_cannot_hold(self):
        for name, naming in (("Cross/a:b.txt", "a:b.txt"), ("Cross/.../x", "..."), ("Cross/CON.txt", "CON.txt"),
                             ("Cross/com\u00b9.log", "com\u00b9.log"), ("Cross/sub/CONIN$", "CONIN$"),
                             ("Cross/lpt3", "lpt3"), ("Cross/COM0.txt", "COM0.txt"), ("Cross/trailing.", "trailing."),
                             ("Cross/back\\slash", "back\\slash"), ("Cross/q?.txt", "q?.txt")):
            with self.subTest(name=name):
                self.write(name)
                self.assert_refused(naming)
                top = os.path.join(self.source, "Cross", name.split("/")[1])
                shutil.rmtree(top) if os.path.isdir(top) else os.remove(top)

    def test_refuses_names_that_are_one_file_to_windows(self):
        for first, second in (("Cross/a.txt", "Cross/A.TXT"), ("Cross/é.txt", "Cross/É.txt"),
                              ("Cross/Sub/x", "Cross/sub/y")):
            with self.subTest(first=first, second=second):
                self.write(first)
                self.write(second)
                self.assert_refused("the same file to Windows as")
                shutil.rmtree(os.path.join(self.source, "Cross"))
        self.write("Cross/straße.txt")
        self.write("Cross/STRASSE.TXT")
        self.assertEqual(self.publish().returncode, 0, "ß is no SS to Windows")

    def test_refuses_links_long_paths_and_a_source_without_cross(self):
        os.symlink("/etc/hostname", os.path.join(self.source, "Cross", "link"))
        self.assert_refused("Cross/link: a symbolic link")
        os.remove(os.path.join(self.source, "Cross", "link"))
        deep = "Cross/" + "/".join(["d" * 40] * 4)
        self.write(deep)
        self.assert_refused("characters")
        self.assertEqual(self.publish("--max-game-folder", "60").returncode, 0, "fits a shorter game folder")
        shutil.rmtree(os.path.join(self.source, "Cross"))
        os.remove(os.path.join(self.output, "cross.7z"))
        self.assert_refused("no Cross folder")

    def test_refuses_values_the_configuration_cannot_carry_and_unfit_keys(self):
        self.assert_refused("--tips", "--tips", "two\nlines")
        self.assert_refused("--process", "--process", "Bin\\Game.exe")
        self.assert_refused("1024 bits", "--private-key", os.path.join(self.keys, "small.pem"))
        self.assert_refused("--version", "--version", "0")
        result = subprocess.run([sys.executable, TOOL, self.source, self.output, "--url", "ftp://x/y.7z"],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("--url", result.stderr)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])

"""A repair that fetches and rewrites only what is broken, against Debian's
nginx: the package published with its manifest in small blocks, the game
folder scanned, only the blocks of damaged files fetched as byte ranges, and
only those files written; whole-package fallbacks where ranges can't serve."""
import http.server
import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time

import base
from base import AppTest, CONFIG, serve, served, ui

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from nginx import Nginx  # noqa: E402
from squid import Squid  # noqa: E402

rand = random.Random(29)
TREE = {  # each DLL is a block of its own: incompressible, and over the 256 KB cap
    "Cross/bin/%s.dll" % name: rand.randbytes(300000) for name in ("a", "b", "c", "d", "e")
}
TREE.update({
    "Cross/res/说明.txt": "社区组件".encode("utf-8") * 300,
    "Cross/config/settings.ini": b"[Cross]\r\nvolume=5\r\n",
    "Cross/config/window.ini": b"[Window]\r\nx=10\r\n",
})
KEEP = "Cross/config/*.ini"


def ini_text(data):
    """The text of a configuration file as the publishing tool writes it (UTF-16 with its mark, or UTF-8)."""
    return data.decode("utf-16") if data.startswith(b"\xff\xfe") else data.decode("utf-8")


class LoginProxy:
    """A proxy that answers every request with 407, as one that wants a login does."""

    def __init__(self):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(407)
                self.send_header("Proxy-Authenticate", 'Basic realm="school"')
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.address = "127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class PartialRepairTest(AppTest):
    def setUp(self):
        super().setUp()
        self.www = self.game + "-www"
        if getattr(self, "nginx", None):
            self.nginx.stop()
        self.nginx = None

    def tearDown(self):
        super().tearDown()
        if self.nginx:
            self.nginx.stop()

    def publish(self, max_ranges=None, expires=None, url=None, tree=TREE, www=None, folder=False,
                mirror_nginx=False):
        """Publishes `tree` with its manifest into `www` (nginx's root, nginx started anew unless `www` is
        given), at `url` (nginx's cross.7z, or its folder for names after the content, by default), nginx's
        folder a mirror when `mirror_nginx`; serves the configuration. Returns the configuration's values."""
        if www is None:
            if self.nginx:
                self.nginx.stop()
            shutil.rmtree(self.www, ignore_errors=True)
            self.nginx = Nginx(self.www, max_ranges, expires).start()
            www = self.www
        source = self.game + "-source"
        shutil.rmtree(source, ignore_errors=True)
        ui.write_tree(tree, source)
        os.makedirs(os.path.join(source, "Cross", "logs"))
        url = url or self.nginx.url + ("/" if folder else "/cross.7z")
        mirrors = ["--mirror", self.nginx.url + "/"] if mirror_nginx else []
        subprocess.run([sys.executable, base.PUBLISH, source, www, "--url", url, "--keep", KEEP,
                        "--solid-block", "256k", *mirrors], check=True, capture_output=True)
        with open(os.path.join(www, "vnk_cross_repair.ini"), "rb") as f:
            ini = f.read()
        serve(CONFIG, ini)
        return dict(line.split("=", 1) for line in ini_text(ini).splitlines() if "=" in line)

    def install_healthy(self):
        ui.write_tree(TREE, self.game)
        os.makedirs(self.in_game("Cross", "logs"))
        with open(self.in_game("Cross", "mine.txt"), "wb") as f:
            f.write(b"the player's own")

    def identities(self):
        """Each file of the game folder: (inode, modification time); a rewritten file gets a new one."""
        found = {}
        for parent, _, files in os.walk(self.game):
            for name in files:
                info = os.stat(os.path.join(parent, name))
                found[os.path.relpath(os.path.join(parent, name), self.game)] = (info.st_ino, info.st_mtime_ns)
        return found

    def repair(self):
        self.app.start()
        self.repair_once()
        self.app.close()
        return self.new_reports()

    def package_requests(self):
        return [r for r in self.nginx.requests() if r["uri"] == "/cross.7z"]

    def test_the_damage_decides_what_is_fetched_and_written(self):
        damage = {  # what -> (how the healthy folder is damaged, the files that must be written anew)
            "one damaged file": (lambda: self.write("Cross/bin/c.dll", b"broken"), {"Cross/bin/c.dll"}),
            "missing files and an empty folder": (lambda: (
                os.remove(self.in_game("Cross", "bin", "a.dll")), os.remove(self.in_game("Cross", "res", "说明.txt")),
                os.rmdir(self.in_game("Cross", "logs"))), {"Cross/bin/a.dll", "Cross/res/说明.txt"}),
            "a kept file changed, another missing": (lambda: (
                self.write("Cross/config/settings.ini", b"[Cross]\r\nvolume=9\r\n"),
                os.remove(self.in_game("Cross", "config", "window.ini"))), {"Cross/config/window.ini"}),
            "a healthy folder": (lambda: None, set()),
        }
        for what, (prepare, rewritten) in damage.items():
            with self.subTest(what):
                self.setUp()
                package = os.path.join(self.www, "cross.7z")
                self.publish()
                self.install_healthy()
                prepare()
                before = self.identities()
                log = ui.LogReader()
                self.assertEqual(self.repair(), [8])
                after = self.identities()
                for name, data in TREE.items():
                    expected = b"[Cross]\r\nvolume=9\r\n" if what.startswith("a kept") and "settings" in name else data
                    with open(self.in_game(*name.split("/")), "rb") as f:
                        self.assertEqual(f.read(), expected, name)
                self.assertTrue(os.path.isdir(self.in_game("Cross", "logs")))
                unchanged = {n: i for n, i in before.items() if n.replace(os.sep, "/") not in rewritten}
                self.assertEqual({n: after[n] for n in unchanged}, unchanged, "no intact file was written")
                self.assertEqual(sorted(os.listdir(self.game)), ["Cross"], "no package, journal or backup left")
                fetched = sum(int(r["sent"]) for r in self.package_requests())
                ranges = [r for r in self.package_requests() if r["status"] == "206"]
                self.assertEqual(len(ranges), len(self.package_requests()), "only ranges of the package")
                if not rewritten:
                    self.assertEqual(fetched, 0, "a healthy folder fetches no package bytes")
                    self.assert_logged(log, [("worker", r"nothing to repair: all 8 files of the package are intact$")])
                else:
                    self.assertLess(fetched, os.path.getsize(package) * 0.6)
                    self.assertEqual(len({r["connection"] for r in ranges}), 1, "one kept-alive connection")
                    self.assert_logged(log, [
                        ("worker", r"scan of .*: 8 files checked in \d+ ms \(\d+ bytes read\): \d+ damaged or missing"),
                        ("worker", r"fetching \d+ bytes \(\d+% of the package\): \d+ of its \d+ blocks and its header"),
                        ("worker", r".*/cross.7z: bytes=\d+-\d+: HTTP 206, Content-Range bytes \d+-\d+/\d+$"),
                    ])

    def test_a_healthy_folder_repaired_again_fetches_the_configuration_alone(self):
        self.publish()
        self.install_healthy()
        self.app.start()
        self.repair_once()
        self.assertEqual([r["uri"] for r in self.nginx.requests()], ["/cross.7z.manifest.lzma"],
                         "the first repair fetches the compact manifest, and nothing of the package")
        with open(served("requests.log"), encoding="utf-8") as f:
            asked_before = len(f.read().splitlines())
        log = ui.LogReader()
        self.repair_once()
        self.app.close()
        self.assertEqual(len(self.nginx.requests()), 1, "nothing more asked of the package's host")
        with open(served("requests.log"), encoding="utf-8") as f:
            asked = [line for line in f.read().splitlines()[asked_before:]
                     if line.startswith("/") and not line.startswith("/lua/")]  # the usage report at exit
        self.assertIn("/" + CONFIG, asked)
        self.assertLessEqual(set(asked), {"/" + CONFIG, "/" + CONFIG + ".sig"}, "the configuration alone")
        self.assertEqual(self.new_reports(), [8])
        self.assert_logged(log, [("worker", r"the manifest kept from an earlier repair is the one the configuration "
                                            r"names: nothing to fetch for it$"),
                                 ("worker", r"nothing to repair: all 8 files of the package are intact$")])

    def test_a_server_without_ranges_serves_the_whole_package(self):
        self.publish(max_ranges=0)
        self.install_healthy()
        self.write("Cross/bin/c.dll", b"broken")
        before = self.identities()
        self.assertEqual(self.repair(), [8])
        with open(self.in_game("Cross", "bin", "c.dll"), "rb") as f:
            self.assertEqual(f.read(), TREE["Cross/bin/c.dll"])
        self.assertEqual([r["status"] for r in self.package_requests()], ["200"],
                         "a range answered with the whole package, which is the download: fetched once")
        after = self.identities()
        self.assertEqual(after[os.path.join("Cross", "bin", "a.dll")], before[os.path.join("Cross", "bin", "a.dll")],
                         "still only the damaged file is written")

    def test_a_package_altered_on_the_server_after_publishing_changes_nothing(self):
        self.publish()
        package = os.path.join(self.www, "cross.7z")
        self.install_healthy()
        self.write("Cross/bin/c.dll", b"broken")
        # A byte inside the damaged file's block, the package's size unchanged.
        with open(package + ".manifest", encoding="utf-8") as f:
            lines = [line.split("\t") for line in f.read().splitlines()]
        block = int(next(l for l in lines if l[0] == "file" and l[1] == "Cross/bin/c.dll")[4])
        offset = int([l for l in lines if l[0] == "block"][block][1])
        with open(package, "r+b") as f:
            f.seek(offset + 100)
            byte = f.read(1)
            f.seek(offset + 100)
            f.write(bytes([byte[0] ^ 0xFF]))
        before = ui.tree_of(self.game)
        log = ui.LogReader()
        self.assertEqual(self.repair(), [7], "fetched again after 1, 2 and 4 s, then refused")
        self.assertEqual(ui.tree_of(self.game), before)
        self.assert_logged(log, [("worker", r".*/cross.7z: bytes \d+-\d+ failed: the bytes at \d+ have SHA-256 "
                                            r"[0-9a-f]{64}, where the manifest says [0-9a-f]{64} \(attempt 4 of 4\)$")])

    def test_a_scanner_holding_what_the_repair_writes(self):
        damaged = ["Cross/bin/a.dll", "Cross/bin/c.dll", "Cross/bin/e.dll", "Cross/res/说明.txt"]
        limit = base.HOLD_SECONDS
        cases = {  # what -> (ranges served, seconds each new file is held, only files named so, status)
            "a partial repair, every new file held 1.5 s": (None, 1.5, None, 8),
            "a whole-package repair, every new file held 1.5 s": (0, 1.5, None, 8),
            # A damaged file the scanner holds from before the repair until
            # well past the commit: moving it aside gives up after the limit.
            "a file held longer than the limit": (None, limit + 20, "Cross\\bin\\c.dll", 7),
        }
        for what, (max_ranges, hold, only, status) in cases.items():
            with self.subTest(what):
                self.setUp()
                self.publish(max_ranges)
                self.install_healthy()
                for name in damaged:
                    self.write(name, b"broken")
                before = ui.tree_of(self.game)
                scanner = subprocess.Popen([ui.WINE, os.path.join(base.TESTS, "vnk_scanner.exe"),
                                            ui.windows_path(self.game), str(int(hold * 1000))] + ([only] if only else []),
                                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                self.helpers.append(scanner)
                early = []  # a file it holds from the start comes first
                for line in iter(scanner.stdout.readline, ""):
                    if line.startswith("watching"):
                        break
                    early.append(line.rstrip("\n"))
                log = ui.LogReader()
                started = time.time()
                self.app.start()
                self.repair_once(dialog_timeout=60 + 3 * limit)
                self.app.close()
                scanner.kill()
                scanner.wait()
                held = early + scanner.stdout.read().splitlines()
                scanner.stdout.close()
                self.assertEqual(self.new_reports(), [status])
                self.assertEqual(sorted(os.listdir(self.game)), ["Cross"], "no package or journal left")
                left = [n for n in ui.tree_of(self.game) if n.endswith((".part", ".old"))]
                self.assertEqual(left, [], "no staging file or backup left")
                if status == 8:
                    for name in damaged:
                        with open(self.in_game(*name.split("/")), "rb") as f:
                            self.assertEqual(f.read(), TREE[name], name)
                    # Whether an act meets a hold depends on the scanner's timing; that it
                    # held what the repair wrote, and no act gave up, does not.
                    self.assertTrue(any(line.endswith((".part", "cross_new.zip", "cross_new.zip.tmp"))
                                        for line in held), "the scanner held what the repair wrote:\n%s"
                                    % "\n".join(held))
                    self.assertFalse([line for line in log.lines() if "was still held" in line])
                else:
                    self.assertEqual(ui.tree_of(self.game), before, "rolled back byte for byte")
                    self.assertGreater(time.time() - started, limit, "the hold was waited out first")
                    self.assert_logged(log, [
                        ("worker", r".*\\c\.dll is held by another program.*; waiting for it to let go$"),
                        ("worker", r".*\\c\.dll was still held after \d+ ms$"),
                        ("UI", r"the run ended because another program held .*\\c\.dll$")])

    def test_caches_dead_hosts_and_proxies_between_the_player_and_the_files(self):
        cases = {  # what -> publishes, installs the player's folder and damages it; the tree expected after
            "a new publication over a cached one, fixed names": lambda: self.over_a_cached_publication(False),
            "a new publication over a cached one, named after its content": (
                lambda: self.over_a_cached_publication(True)),
            "the configuration's host down, a mirror up": self.with_a_dead_host_and_a_mirror,
            "a cache's range from an earlier, block-aligned offset": self.from_an_aligned_cache,
            "a proxy that asks for a login": self.through_a_proxy_that_asks_for_a_login,
        }
        for what, prepare in cases.items():
            with self.subTest(what):
                self.setUp()
                self.undo = [lambda: self.proxy(None)]  # each case's proxy and cache end with it
                try:
                    self.check_case(what, prepare)
                finally:
                    for undo in reversed(self.undo):
                        undo()

    def check_case(self, what, prepare):
        log = ui.LogReader()
        expected = prepare()
        self.reports_before = len(base.reports())
        started = time.time()
        reports = self.repair()
        if expected is None:
            self.assertEqual(reports, [], "not even the report gets past such a proxy")
            self.assert_logged(log, [("worker", r"the proxy server asks for a login \(HTTP 407\): this "
                                                r"program can't give one$"),
                                     ("UI", r"outcome: status 3, .*$")])
            return
        self.assertEqual(reports, [8])
        for name, data in expected.items():
            with open(self.in_game(*name.split("/")), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertEqual(sorted(os.listdir(self.game)), ["Cross"])
        if "fixed names" in what:
            # The cached manifest is refused by its digest, or already by its length where the new one
            # is shorter (the compact form's length varies with the content): either way it is asked again.
            self.assert_logged(log, [("worker", r".*/cross.7z.manifest(\.lzma)?: (not the manifest the configuration "
                                                r"names .*: )?asked for once more, past any cache$")])
        if "aligned" in what:
            answers = [re.search(r"bytes=(\d+)-\d+: HTTP 206, Content-Range bytes (\d+)-", line)
                       for line in log.lines()]
            self.assertTrue(any(a and int(a.group(2)) < int(a.group(1)) for a in answers),
                            "a range answered from an earlier offset was used")
        if "mirror" in what:
            self.assertLess(time.time() - started, 30, "the dead host is given up once")
            self.assert_logged(log, [("worker", r"http://127.0.0.1:9/.*manifest(\.lzma)?: the package's manifest "
                                                r"can't be had there$"),
                                     ("worker", r".*/cross-[0-9a-f]{16}.7z: bytes \d+-\d+ are in$")])

    def damaged_install(self):
        self.install_healthy()
        for name in ("Cross/bin/a.dll", "Cross/bin/c.dll"):
            self.write(name, b"broken")

    def proxy(self, address):
        """The player's system proxy (None: none), as Internet Explorer's settings give it."""
        key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
        for value, kind, data in (("ProxyEnable", "REG_DWORD", "1" if address else "0"),
                                  ("ProxyServer", "REG_SZ", address or ""), ("ProxyOverride", "REG_SZ", "")):
            ui.reg_add(key, value, kind, data)

    def over_a_cached_publication(self, named_after_content):
        # Every file may be kept an hour, as CDNs commonly allow; the player's
        # squid keeps the first publication whole, as an empty folder's repair
        # fetches it, and then the maker publishes anew.
        squid = Squid(self.game + "-squid").start()
        self.undo.append(squid.stop)
        self.publish(expires="1h", folder=named_after_content)
        self.proxy(squid.address)
        os.makedirs(self.in_game("Cross"), exist_ok=True)
        self.assertEqual(self.repair(), [8])
        newer = dict(TREE, **{"Cross/bin/c.dll": rand.randbytes(300000)})
        self.publish(tree=newer, folder=named_after_content, www=self.www)
        self.damaged_install()
        return newer

    def with_a_dead_host_and_a_mirror(self):
        self.publish(url="http://127.0.0.1:9/packages/", mirror_nginx=True)
        self.damaged_install()
        return TREE

    def from_an_aligned_cache(self):
        # The loopback server answers each range from the 64 KiB boundary before it.
        values = self.publish(url="http://127.0.0.1:%d/aligned/cross.7z" % base.PORT, www=served("aligned"))
        with open(served(CONFIG), "rb") as f:
            ini = ini_text(f.read())
        serve(CONFIG, ini.replace("url=" + values["url"], "url=" + values["url"] + "?align=65536").encode("utf-16"))
        self.damaged_install()
        return TREE

    def through_a_proxy_that_asks_for_a_login(self):
        proxy = LoginProxy()
        self.undo.append(proxy.close)
        self.proxy(proxy.address)
        self.publish()
        self.damaged_install()
        return None

    def write(self, name, data):
        with open(self.in_game(*name.split("/")), "wb") as f:
            f.write(data)

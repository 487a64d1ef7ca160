"""What the end-to-end tests share: the settings run.py gives them, the
loopback server's files and reports, and AppTest, the fixture of one test:
a game folder, the sample package served, the program ready to start."""
import base64
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import app_driver as ui  # noqa: E402

BUILD = WWW = PORT = TESTS = SHOTS = None  # set by run.py
PUBLISH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "publish-package")
SIGNING_KEY = os.environ.get("VNK_TEST_SIGNING_KEY")  # the private halves of LumoraRepairSigned's two keys
SECOND_KEY = os.environ.get("VNK_TEST_SECOND_KEY")
STALL_SECONDS = None  # the build's stall time-out (VNK_STALL_TIMEOUT_MS)
HOLD_SECONDS = None  # how long an act waits for a file another program holds (VNK_HOLD_LIMIT_MS)
RETRIED_STALL_SECONDS = None
CONFIG = "images/js/vy/cross/vnk_cross_repair.ini"
PACKAGE = {
    "Cross/CrossApp.dll": os.urandom(200000),
    "Cross/config/settings.ini": b"[Cross]\r\nversion=26.12\r\n",
    "Cross/res/说明.txt": "社区组件".encode("utf-8") * 50,
}


def served(relative):
    return os.path.join(WWW, relative)


def serve(relative, data):
    path = served(relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def reports():
    """The outcome codes of the usage reports the server received, in order."""
    try:
        with open(served("requests.log"), encoding="utf-8") as log:
            lines = log.read().splitlines()
    except FileNotFoundError:
        return []
    return [int(line.rsplit("data=", 1)[1]) for line in lines if line.startswith("/lua/common/data_report_to_appsvr")]


class AppTest(unittest.TestCase):
    def setUp(self):
        self.game = os.path.join(BUILD, "e2e-game", self.id().rsplit(".", 1)[1])
        shutil.rmtree(self.game, ignore_errors=True)
        os.makedirs(os.path.join(self.game, "Cross"))
        with open(os.path.join(self.game, "Cross", "old.txt"), "w") as f:
            f.write("old")
        ui.set_install_path(self.game)
        self.size = ui.make_package(PACKAGE, served("packages/cross.7z"))
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z\r\nfilesize=%d\r\n" % (PORT, self.size))
        self.reports_before = len(reports())
        # Each test starts without the manifest an earlier one left for the next repair.
        kept = os.path.join(os.path.dirname(ui.program_log()), "vnk_cross_repaire.ini.manifest")
        if os.path.exists(kept):
            os.remove(kept)
        self.app = ui.App(os.path.join(BUILD, "LumoraRepair.exe"))
        self.helpers = []

    def tearDown(self):
        self.app.kill()
        for helper in self.helpers:
            helper.kill()
            helper.wait()

    def configure(self, body):
        serve(CONFIG, "[General]\r\n" + body)

    def new_reports(self):
        time.sleep(0.3)
        return reports()[self.reports_before:]

    def shot(self, name):
        if SHOTS:
            self.app.screenshot(os.path.join(SHOTS, name))

    def in_game(self, *parts):
        return os.path.join(self.game, *parts)

    def snapshot(self, name):
        """A screenshot of the main window, kept beside the test's game folder."""
        path = "%s-%s.png" % (self.game, name)
        self.app.screenshot(path)
        return path

    def assert_shows(self, reference, name):
        """The screen shows the window as in `reference` (the edit field's caret may blink)."""
        time.sleep(0.5)  # a few repaint ticks
        self.assertLess(ui.differing_pixels(reference, self.snapshot(name)), 50, name)

    def hang(self, relative):
        """Makes the loopback server hang on `relative` for the rest of the test."""
        serve(relative + ".hang", "")
        self.addCleanup(os.remove, served(relative + ".hang"))

    def repair_once(self, dialog_timeout=60):
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK, timeout=dialog_timeout)

    def assert_logged(self, log, expected):
        lines = log.lines()
        missing = ui.find_in_order(lines, expected)
        self.assertIsNone(missing, "not in the log, in this order: %s\n%s" % (missing, "\n".join(lines)))


def build_seconds(build, setting):
    """A time the program under test was built with (VNK_STALL_TIMEOUT_MS, VNK_HOLD_LIMIT_MS), in seconds."""
    with open(os.path.join(build, "generated", "BuildSettings.h"), encoding="utf-8") as header:
        for line in header:
            if line.startswith("#define %s " % setting):
                return int(line.split()[2]) / 1000.0
    raise RuntimeError("no %s in the build settings" % setting)

"""End-to-end tests of the real program:
python3 test_app.py PROGRAM_DIR WWW_DIR PORT TESTS_DIR [SCREENSHOT_DIR]

PROGRAM_DIR holds LumoraRepair.exe, TESTS_DIR the helper vnk_sleeper.exe. Arguments
after "--" choose tests, e.g. -- -k drops."""
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

BUILD = WWW = TESTS = SHOTS = None
PUBLISH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "publish-package")
SIGNING_KEY = os.environ.get("VNK_TEST_SIGNING_KEY")  # the private halves of LumoraRepairSigned's two keys
SECOND_KEY = os.environ.get("VNK_TEST_SECOND_KEY")
STALL_SECONDS = None  # the build's stall time-out (VNK_STALL_TIMEOUT_MS)
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

    def test_closing_before_a_repair_sends_nothing(self):
        self.app.start()
        self.assertEqual(self.app.close(ui.CLOSE_GLYPH), 0)
        self.assertEqual(self.new_reports(), [])

    def test_full_repair(self):
        self.app.start()
        self.shot("main-idle.png")
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        with open(self.in_game("Cross", "res", "说明.txt"), "rb") as f:
            self.assertEqual(f.read(), PACKAGE["Cross/res/说明.txt"])
        self.assertTrue(os.path.exists(self.in_game("Cross", "old.txt")))
        self.assertFalse(os.path.exists(self.in_game("cross_new.zip")), "the archive is deleted")
        self.assertFalse(any(n.endswith(".tmp") for n in os.listdir(self.game)))
        self.assertEqual(self.app.close(), 0)
        self.assertEqual(self.new_reports(), [8])

    def test_rejected_folder(self):
        shutil.rmtree(self.in_game("Cross"))
        self.app.start()
        self.app.click(ui.REPAIR)  # the field is empty: nothing was found
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close(ui.CLOSE_GLYPH)
        self.assertEqual(self.new_reports(), [2])

    def test_configuration_that_cannot_be_downloaded(self):
        os.remove(served(CONFIG))
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        self.assertEqual(self.new_reports(), [3])

    def test_configuration_that_does_not_validate(self):
        self.configure("url=http://127.0.0.1/x.7z\r\n")
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        self.assertEqual(self.new_reports(), [4])

    def test_notice_instead_of_a_repair(self):
        serve(CONFIG, b"\xff\xfe" + "[General]\r\ntips=服务器维护中，请稍后再试\r\nurl=http://127.0.0.1:1/x.7z\r\n"
              .encode("utf-16-le"))
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.assertFalse(os.path.exists(self.in_game("cross_new.zip")))
        self.app.close()
        self.assertEqual(self.new_reports(), [1])

    def start_listed_program(self):
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z\r\nfilesize=%d\r\nprocesscount=1\r\n"
                       "process_0=VnkGame.exe\r\n" % (PORT, self.size))
        program = self.in_game("Bin", "VnkGame.exe")
        os.makedirs(os.path.dirname(program))
        shutil.copy(os.path.join(TESTS, "vnk_sleeper.exe"), program)
        helper = subprocess.Popen([ui.WINE, program], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.helpers.append(helper)
        time.sleep(1.0)
        return helper

    def test_listed_program_then_cancel(self):
        self.start_listed_program()
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_CANCEL)
        self.assertFalse(os.path.exists(self.in_game("cross_new.zip")))
        self.app.close()
        self.assertEqual(self.new_reports(), [5])

    def test_listed_program_retry_after_it_ended(self):
        helper = self.start_listed_program()
        self.app.start()
        self.app.click(ui.REPAIR)
        self.assertTrue(self.app.wait_for_dialog())
        time.sleep(0.5)
        if SHOTS:
            self.app.screenshot(os.path.join(SHOTS, "process-dialog.png"))
        helper.kill()
        helper.wait()
        time.sleep(0.5)
        self.app.click(ui.DIALOG_RETRY, ui.DIALOG)
        self.app.wait_dialog_closed()
        self.app.answer_dialog(ui.DIALOG_OK)  # 修复完成
        self.assertTrue(os.path.exists(self.in_game("Cross", "CrossApp.dll")))
        self.app.close()
        self.assertEqual(self.new_reports(), [8])

    def test_package_that_cannot_be_downloaded(self):
        path = "/packages/missing.7z?t=%d" % time.time()
        self.configure("url=http://127.0.0.1:%d%s\r\nfilesize=100\r\n" % (PORT, path))
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        self.assertEqual(self.new_reports(), [6])
        with open(served("requests.log"), encoding="utf-8") as log:
            asked = [l for l in log.read().splitlines() if l == path]
        self.assertEqual(len(asked), 1, "a 404 is asked for once only")

    def test_damaged_package(self):
        with open(served("packages/cross.7z"), "r+b") as f:
            f.truncate(self.size // 2)
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.assertFalse(os.path.exists(self.in_game("cross_new.zip")))
        self.app.close()
        self.assertEqual(self.new_reports(), [7])

    def test_close_during_a_slow_download(self):
        self.configure("url=http://127.0.0.1:%d/slow/400000?chunk=8192&delay=300\r\nfilesize=400000\r\n" % PORT)
        self.app.start()
        self.app.click(ui.REPAIR)
        time.sleep(3.0)
        self.shot("main-downloading.png")
        started = time.time()
        self.app.click(ui.CLOSE_BUTTON)
        self.assertTrue(ui.wait_until(self.app.window_gone, 1.0, 0.02), "the window disappears at once")
        self.assertLess(time.time() - started, 1.0)
        self.app.wait_exit()
        time.sleep(1.0)  # the worker stops at its next chunk
        self.assertEqual([n for n in os.listdir(self.game) if n != "Cross"], [])
        self.assertEqual(self.new_reports(), [1])

    def test_emptying_the_folder_field_disables_repair(self):
        self.app.start()
        self.app.click(ui.FOLDER_FIELD)
        self.app.key("End", "shift+Home", "BackSpace")  # the classic EDIT has no Ctrl+A
        self.app.click(ui.REPAIR)
        time.sleep(0.8)
        self.assertEqual(self.app.visible_windows(), self.app.baseline, "a disabled 修复 does nothing")
        self.app.type_text("x")
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)  # "x" is no game folder
        self.app.close()
        self.assertEqual(self.new_reports(), [2])

    def test_a_dialog_that_comes_while_minimised_is_there_after_restoring(self):
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z?chunk=8192&delay=150\r\nfilesize=%d\r\n"
                       % (PORT, self.size))
        self.app.start()
        self.app.click(ui.REPAIR)
        time.sleep(1.0)
        self.app.click(ui.MINIMIZE_GLYPH)
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 1, 10), "minimised")
        # The repair ends while the window is minimised: its dialog comes up.
        self.assertTrue(ui.wait_until(lambda: len(ui.window_tool("windows")) > 1, 30), "no dialog")
        ui.window_tool("restore")  # as the taskbar does
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 0, 10), "restored")
        main, dialog = ui.window_tool("windows")[:2]
        self.assertEqual((dialog[0] - main[0], dialog[1] - main[1]), ui.DIALOG, "centred on the main window")
        self.shot("dialog-after-restore.png")
        self.app.answer_dialog(ui.DIALOG_OK)  # 修复完成
        self.assertTrue(os.path.exists(self.in_game("Cross", "CrossApp.dll")))
        self.assertEqual(self.app.close(), 0)
        self.assertEqual(self.new_reports(), [8])

    def test_maximise_and_restore_show_the_whole_window(self):
        self.app.start()
        self.app.click((300, 60))  # the background: the window has the keyboard
        idle = self.snapshot("idle")
        before = ui.window_tool("windows")[0]
        self.app.key("alt+space")  # the window menu
        self.app.key("x")          # Maximise
        self.assertEqual(ui.window_tool("windows")[0], before, "the skinned window keeps its size")
        self.assert_shows(idle, "after-maximise")
        # Minimised and restored twice: by the window menu and a system command
        # that carries the low bits the system may set, then as the taskbar does.
        self.app.key("alt+space")
        self.app.key("n")          # Minimise
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 1, 10), "minimised")
        ui.window_tool("syscommand", "F122")
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 0, 10), "restored")
        self.assert_shows(idle, "after-restore")
        self.app.click(ui.MINIMIZE_GLYPH)
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 1, 10), "minimised")
        ui.window_tool("restore")
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 0, 10), "restored")
        self.assert_shows(idle, "after-taskbar-restore")
        self.assertEqual(self.app.close(ui.CLOSE_GLYPH), 0)

    def test_a_window_thread_that_stalls_during_a_fast_download_still_ends_with_the_right_dialog(self):
        package = dict(PACKAGE)
        package["Cross/big.bin"] = os.urandom(24 << 20)
        size = ui.make_package(package, served("packages/big.7z"), method="Copy")
        # About 3 s for the 3,000 chunks of 8 KiB, while the window's thread is stopped for 3 s.
        self.configure("url=http://127.0.0.1:%d/packages/big.7z?chunk=65536&delay=8\r\nfilesize=%d\r\n"
                       % (PORT, size))
        self.app.start()
        self.app.click(ui.REPAIR)
        self.assertEqual(ui.window_tool("freeze", 3000), 0)
        self.app.answer_dialog(ui.DIALOG_OK)  # 修复完成
        self.assertEqual(os.path.getsize(self.in_game("Cross", "big.bin")), 24 << 20)
        self.assertEqual(self.app.close(), 0)
        self.assertEqual(self.new_reports(), [8])

    def test_a_configuration_server_that_never_answers(self):
        self.hang(CONFIG)
        self.app.start()
        started = time.time()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK, timeout=RETRIED_STALL_SECONDS)
        self.assertGreater(time.time() - started, 4 * STALL_SECONDS + 7 - 0.5, "four attempts")
        self.app.close()
        self.assertEqual(self.new_reports(), [3])

    def test_a_package_server_that_stops_sending(self):
        self.configure("url=http://127.0.0.1:%d/stall/400000?after=100000\r\nfilesize=400000\r\n" % PORT)
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK, timeout=RETRIED_STALL_SECONDS)
        self.assertEqual(sorted(os.listdir(self.game)), ["Cross"], "no package and no partial file")
        self.app.close()
        self.assertEqual(self.new_reports(), [6])

    def test_a_statistics_server_that_never_answers_holds_the_exit_five_seconds_at_most(self):
        self.hang("lua/common/data_report_to_appsvr")
        shutil.rmtree(self.in_game("Cross"))
        self.app.start()
        self.app.click(ui.REPAIR)  # no game folder: an outcome to report
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.click(ui.CLOSE_BUTTON)
        self.assertTrue(ui.wait_until(self.app.window_gone, 5, 0.05))
        gone = time.time()
        self.assertEqual(self.app.wait_exit(), 0)
        self.assertLess(time.time() - gone, 7.0, "the report gives up after 5 s")
        self.assertEqual(self.new_reports(), [2], "the report was sent")

    def test_text_fits_its_boxes_at_120_and_144_dpi(self):
        self.app.start()
        self.app.click((300, 60))
        reference = self.snapshot("96dpi")
        self.app.close(ui.CLOSE_GLYPH)
        self.addCleanup(ui.set_dpi, 96)
        for dpi in (120, 144):
            ui.set_dpi(dpi)
            self.app = ui.App(os.path.join(BUILD, "LumoraRepair.exe")).start()
            self.app.click((300, 60))
            self.assert_shows(reference, "%ddpi" % dpi)
            self.app.close(ui.CLOSE_GLYPH)

    # Downloads that survive a dropped connection: retried up to 4 times after
    # 1, 2 and 4 s, resumed with Range/If-Range where the first answer allows.
    def serve_package_with(self, query, filesize=None):
        self.package_query = query
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z?%s\r\nfilesize=%d\r\n"
                       % (PORT, query, filesize or self.size))

    def served(self):
        """(answers, ranges asked, bytes sent) for the package since the test began."""
        path = "/packages/cross.7z?" + self.package_query
        with open(served("requests.log"), encoding="utf-8") as log:
            lines = log.read().splitlines()
        return (lines.count(path), [l.split()[2] for l in lines if l.startswith("range " + path + " ")],
                sum(int(l.rsplit(" ", 1)[1]) for l in lines if l.startswith("sent " + path + " ")))

    def repair_once(self, dialog_timeout=60):
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK, timeout=dialog_timeout)

    def assert_installed(self, package):
        for name, data in package.items():
            with open(self.in_game(*name.split("/")), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertEqual(sorted(os.listdir(self.game)), ["Cross"], "no package and no partial file")

    def test_a_connection_that_drops_halfway_is_resumed_without_a_second_click(self):
        self.serve_package_with("cutonce=%d&t=%d" % (self.size // 2, time.time()))
        self.app.start()
        self.repair_once()
        answers, ranges, sent = self.served()
        self.assertEqual((answers, ranges), (2, ["bytes=%d-" % (self.size // 2)]))
        self.assertLessEqual(sent, 1.1 * self.size)
        self.assert_installed(PACKAGE)
        self.app.close()
        self.assertEqual(self.new_reports(), [8])

    def test_a_connection_that_drops_every_time_resumes_on_the_next_repair(self):
        # Each answer ends after 15 % of the package: four attempts bring 60 %.
        self.serve_package_with("cut=%d&t=%d" % (self.size * 15 // 100, time.time()))
        self.app.start()
        self.repair_once()
        self.assertEqual(self.served()[0], 4, "four attempts, then 下载安装包失败")
        self.assertEqual(os.path.getsize(self.in_game("cross_new.zip.tmp")), 4 * (self.size * 15 // 100),
                         "the partial package is kept")
        self.repair_once()
        answers, _, sent = self.served()
        self.assertEqual(answers, 7)
        self.assertLessEqual(sent, 1.1 * self.size)
        self.assert_installed(PACKAGE)
        self.app.close()
        self.assertEqual(self.new_reports(), [8])

    def test_closing_the_window_ends_a_wait_between_attempts_at_once(self):
        self.serve_package_with("cut=%d&t=%d" % (self.size // 10, time.time()))
        self.app.start()
        self.app.click(ui.REPAIR)
        time.sleep(2.0)  # attempt 2 has failed: a wait of 2 s has begun
        started = time.time()
        self.app.click(ui.CLOSE_BUTTON)
        self.app.wait_exit()
        self.assertLess(time.time() - started, 2.0, "the wait ended with the window")
        self.assertEqual(self.served()[0], 2)
        self.assertEqual(sorted(os.listdir(self.game)), ["Cross"], "no package and no partial file")

    def test_resumed_downloads_never_append_what_is_not_the_rest_of_the_same_file(self):
        changed = dict(PACKAGE, **{"Cross/CrossApp.dll": os.urandom(150000), "Cross/new.txt": b"new"})
        ui.make_package(changed, served("packages/changed.7z"))
        cases = {  # query -> (package installed, ranges the program may ask for)
            "norange=1": (PACKAGE, 1),                        # the server sends the whole file again
            "then=packages/changed.7z": (changed, 1),         # a new ETag: If-Range brings the new file whole
            "novalidator=1&then=packages/changed.7z": (changed, 0),  # nothing to resume by: never a Range
        }
        for query, (package, ranges) in cases.items():
            with self.subTest(query):
                self.setUp()
                self.serve_package_with("cutonce=%d&%s&t=%d" % (self.size // 2, query, time.time()))
                self.app.start()
                self.repair_once()
                self.assertEqual(len(self.served()[1]), ranges)
                self.assert_installed(package)
                self.app.close()

    def test_a_busy_server_is_asked_again(self):
        serve(CONFIG + ".busy", "")
        self.serve_package_with("statusonce=503&t=%d" % time.time())
        log = ui.LogReader()
        self.app.start()
        self.repair_once()
        self.assertEqual(self.served()[0], 2)
        self.assert_installed(PACKAGE)
        self.app.close()
        self.assertEqual(self.new_reports(), [8])
        self.assert_logged(log, [
            ("worker", r".*vnk_cross_repair.ini: HTTP 503, .*"),
            ("worker", r".*vnk_cross_repair.ini: attempt 1 failed: HTTP 503; attempt 2 of 4 in 1000 ms, from byte 0$"),
            ("worker", r".*cross.7z\?statusonce=503.*: attempt 1 failed: HTTP 503; attempt 2 of 4 in 1000 ms"),
        ])

    def test_a_body_without_end_fails_at_the_announced_size(self):
        filesize = 1 << 20
        self.configure("url=http://127.0.0.1:%d/endless\r\nfilesize=%d\r\n" % (PORT, filesize))
        self.app.start()
        self.app.click(ui.REPAIR)
        largest = 0
        temporary = self.in_game("cross_new.zip.tmp")
        while not self.app.visible_windows() > self.app.baseline:
            if os.path.exists(temporary):
                largest = max(largest, os.path.getsize(temporary))
            time.sleep(0.005)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.assertLessEqual(largest, filesize + 8192)
        self.assertEqual(sorted(os.listdir(self.game)), ["Cross"], "nothing left")
        self.app.close()
        with open(served("requests.log"), encoding="utf-8") as log:
            self.assertEqual(log.read().splitlines().count("/endless"), 1, "not retried")
        self.assertEqual(self.new_reports(), [6])

    # A repair is all or nothing: whatever fails, the game folder stays as it was.
    def repair_fails_and_leaves_the_folder_as_it_was(self, package, prepare=None, program="LumoraRepair.exe"):
        """Serves `package`, repairs, expects 释放安装包失败 and the game folder unchanged."""
        size = ui.make_package(*package) if isinstance(package, tuple) else package
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z?t=%d\r\nfilesize=%d\r\n" % (PORT, time.time(), size))
        if prepare:
            prepare()
        before = ui.tree_of(self.game)
        self.app.kill()
        self.app = ui.App(os.path.join(BUILD, program)).start()
        self.repair_once()
        self.assertEqual(ui.tree_of(self.game), before)
        self.app.close()
        return self.new_reports()

    def game_with_old_files(self, names):
        for name in names:
            with open(self.in_game("Cross", name), "wb") as f:
                f.write(b"old " + name.encode())

    def test_a_file_held_open_by_another_program_leaves_every_file_as_it_was(self):
        files = {"Cross/%s.txt" % n: n.encode() * 5000 for n in "abcde"}
        self.game_with_old_files(["a.txt", "c.txt"])
        holder = subprocess.Popen([ui.WINE, os.path.join(TESTS, "vnk_sleeper.exe"),
                                   ui.windows_path(self.in_game("Cross", "c.txt"))],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.helpers.append(holder)
        time.sleep(1.0)
        self.assertIsNone(holder.poll(), "the helper holds the file")
        self.assertEqual(self.repair_fails_and_leaves_the_folder_as_it_was(
            (files, served("packages/cross.7z"))), [7])

    def test_a_damaged_last_block_leaves_every_file_as_it_was(self):
        files = {"Cross/f%d.bin" % i: os.urandom(100000) for i in range(6)}
        package = served("packages/cross.7z")
        ui.make_package(files, package, "LZMA2", "-ms=2f")  # three solid blocks
        with open(package, "r+b") as f:
            data = bytearray(f.read())
            end_of_blocks = 32 + int.from_bytes(data[12:20], "little")
            data[end_of_blocks - 50] ^= 0xFF  # inside the last block
            f.seek(0)
            f.write(data)
        self.game_with_old_files(["f0.bin", "f5.bin"])
        self.assertEqual(self.repair_fails_and_leaves_the_folder_as_it_was(len(data)), [7])

    def test_a_drive_that_fills_up_leaves_every_file_as_it_was(self):
        # A small tmpfs as the game folder: one that runs out of files half-way,
        # and one too small for the package, which is refused before any write.
        files = {"Cross/f%02d.txt" % i: b"x" * 10000 for i in range(40)}
        log = ui.LogReader()
        for options in ("size=64m,nr_inodes=25", "size=300k"):
            with self.subTest(options):
                self.setUp()
                mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", self.game],
                                         capture_output=True, text=True)
                if mounted.returncode != 0:
                    self.skipTest("SKIPPED: a tmpfs can't be mounted here (%s)" % mounted.stderr.strip())
                self.addCleanup(subprocess.run, ["umount", "-l", self.game], capture_output=True)
                os.makedirs(self.in_game("Cross"))
                self.game_with_old_files(["f00.txt", "f30.txt"])
                self.repair_fails_and_leaves_the_folder_as_it_was((files, served("packages/cross.7z")))
                subprocess.run(["umount", self.game], check=True)
        self.assert_logged(log, [("worker", r"not enough room in .*: the package needs \d+ bytes, \d+ are free$")])

    def test_a_commit_cut_short_is_rolled_back_at_the_next_start(self):
        os.makedirs(self.in_game("Cross", "config"))
        self.game_with_old_files(["CrossApp.dll", os.path.join("config", "settings.ini")])
        before = ui.tree_of(self.game)
        log = ui.LogReader()
        os.environ["VNK_TEST_STOP_COMMIT_AFTER"] = "1"
        try:
            self.app.start()
        finally:
            del os.environ["VNK_TEST_STOP_COMMIT_AFTER"]
        self.repair_once()
        self.app.close()
        self.assertTrue(os.path.exists(self.in_game("LumoraRepair.journal")), "as a crash would leave it")
        self.assertNotEqual(ui.tree_of(self.game), before)
        self.app = ui.App(os.path.join(BUILD, "LumoraRepair.exe")).start()
        self.assertEqual(ui.tree_of(self.game), before, "rolled back as the program started")
        self.app.close(ui.CLOSE_GLYPH)
        self.assert_logged(log, [
            ("worker", r"commit stopped after 1 of 2 replacements, as a crash would stop it$"),
            ("UI", r"an earlier repair of .* was cut short and is rolled back: 1 files restored, 0 new files "
                   r"removed, 2 staging files deleted, 1 folders removed$"),
        ])

    # Signed configurations: LumoraRepairSigned.exe is built with the public
    # halves of SIGNING_KEY and SECOND_KEY; packages are published with
    # tools/publish-package.
    def publish(self, tree, *options, serve=True):
        """Publishes `tree`; serves the package, its configuration file and that file's signature (if
        any) unless told not to."""
        source, output = self.game + "-source", self.game + ("-published" if serve else "-aside")
        shutil.rmtree(output, ignore_errors=True)
        ui.write_tree(tree, source)
        subprocess.run([sys.executable, PUBLISH, source, output, "--url",
                        "http://127.0.0.1:%d/packages/published.7z" % PORT, *options], check=True,
                       capture_output=True)
        if serve:
            shutil.copy(os.path.join(output, "cross.7z"), served("packages/published.7z"))
            shutil.copy(os.path.join(output, "vnk_cross_repair.ini"), served(CONFIG))
            signature = os.path.join(output, "vnk_cross_repair.ini.sig")
            if os.path.exists(signature):
                shutil.copy(signature, served(CONFIG + ".sig"))
            elif os.path.exists(served(CONFIG + ".sig")):
                os.remove(served(CONFIG + ".sig"))
        return os.path.join(output, "cross.7z")

    def edit_served_config(self, change):
        """Rewrites the served configuration's text (UTF-16 with its mark) with `change`."""
        with open(served(CONFIG), "rb") as f:
            text = f.read()[2:].decode("utf-16-le")
        with open(served(CONFIG), "wb") as f:
            f.write(b"\xff\xfe" + change(text).encode("utf-16-le"))

    def sign_served_config(self, key):
        signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, served(CONFIG)], check=True,
                                   capture_output=True).stdout
        serve(CONFIG + ".sig", base64.b64encode(signature).decode("ascii") + "\n")

    def repair_with(self, program):
        """Runs one repair with `program` and answers its closing dialog; returns the reports."""
        self.app.kill()
        self.app = ui.App(os.path.join(BUILD, program)).start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        return self.new_reports()

    def assert_game_folder_untouched(self):
        self.assertEqual(os.listdir(self.game), ["Cross"], "no package and no partial file")
        self.assertEqual(os.listdir(self.in_game("Cross")), ["old.txt"])

    def forget_accepted_versions(self):
        subprocess.run([ui.WINE, "reg", "delete", r"HKCU\Software\Lumora\LumoraRepair", "/f"], capture_output=True)

    def test_a_configuration_signed_with_either_built_in_key_repairs(self):
        self.forget_accepted_versions()
        for key in (SIGNING_KEY, SECOND_KEY):
            with self.subTest(key):
                self.setUp()
                self.publish(PACKAGE, "--private-key", key)
                self.assertEqual(self.repair_with("LumoraRepairSigned.exe"), [8])
                with open(self.in_game("Cross", "res", "说明.txt"), "rb") as f:
                    self.assertEqual(f.read(), PACKAGE["Cross/res/说明.txt"])
                self.assertEqual(sorted(os.listdir(self.game)), ["Cross"])

    def test_what_nobody_on_the_way_can_make_the_signed_program_do(self):
        evil = {"Cross/CrossApp.dll": b"MZ not the real one", "Cross/evil.txt": b"evil"}
        other_key = os.path.join(os.path.dirname(self.game), "other-key.pem")
        subprocess.run(["openssl", "genrsa", "-out", other_key, "2048"], check=True, capture_output=True)
        signed = ("--private-key", SIGNING_KEY)
        endless = "http://127.0.0.1:%d/endless" % PORT

        def another_package_of_the_same_size():
            self.publish(PACKAGE, *signed)
            with open(served("packages/published.7z"), "r+b") as f:
                f.seek(100)
                f.write(b"\0" * 16)

        cases = {  # what -> (how, the outcome)
            "a notice added to a signed configuration": (lambda: (
                self.publish(PACKAGE, *signed),
                self.edit_served_config(lambda t: t + "tips=请从 http://evil.example 下载修复\r\n")), 4),
            "no signature": (lambda: self.publish(evil), 4),
            "signed by another key": (lambda: self.publish(evil, "--private-key", other_key), 4),
            "an older version than one accepted": (lambda: (
                self.publish(PACKAGE, "--version", "300", *signed), self.repair_with("LumoraRepairSigned.exe"),
                self.setUp(), self.publish(evil, "--version", "299", *signed)), 4),
            "no version": (lambda: (
                self.publish(evil, *signed),
                self.edit_served_config(lambda t: re.sub(r"version=\d+\r\n", "", t)),
                self.sign_served_config(SIGNING_KEY)), 4),
            "another package of the same size": (another_package_of_the_same_size, 7),
            "a package body without end": (lambda: (
                self.publish(PACKAGE, *signed),
                self.edit_served_config(lambda t: t.replace("http://127.0.0.1:%d/packages/published.7z" % PORT,
                                                            endless)),
                self.sign_served_config(SIGNING_KEY)), 6),
        }
        for what, (prepare, outcome) in cases.items():
            with self.subTest(what):
                self.setUp()
                self.forget_accepted_versions()
                log = ui.LogReader()
                prepare()
                self.reports_before = len(reports())
                self.assertEqual(self.repair_with("LumoraRepairSigned.exe"), [outcome])
                self.assert_game_folder_untouched()
                lines = log.lines()
                self.assertFalse([l for l in lines if "notice is shown" in l], "no notice was shown")
                if what == "an older version than one accepted":
                    self.assertTrue([l for l in lines if "version 299 is older than version 300" in l])

    def test_a_program_without_a_key_repairs_an_unsigned_published_package(self):
        self.publish(PACKAGE)
        self.assertEqual(self.repair_with("LumoraRepair.exe"), [8])
        self.assertTrue(os.path.exists(self.in_game("Cross", "CrossApp.dll")))

    # The diagnostics log tells support what happened, line by line.
    def assert_logged(self, log, expected):
        lines = log.lines()
        missing = ui.find_in_order(lines, expected)
        self.assertIsNone(missing, "not in the log, in this order: %s\n%s" % (missing, "\n".join(lines)))

    def test_a_full_repair_leaves_its_story_in_the_log(self):
        log = ui.LogReader()
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        base = re.escape("http://127.0.0.1:%d" % PORT)
        folder = re.escape(ui.windows_path(self.game))
        self.assert_logged(log, [
            ("UI", r"LumoraRepair \d+\.\d+\.\d+, win(32|64) build, Windows \d+\.\d+\.\d+"),
            ("UI", r"game folder from the registry value InstallPath: " + folder + "$"),
            ("UI", r"repair started for " + folder + "$"),
            ("worker", r"GET " + base + "/images/js/vy/cross/vnk_cross_repair.ini$"),
            ("worker", r".*vnk_cross_repair.ini: HTTP 200, Content-Length \d+$"),
            ("worker", r".*vnk_cross_repair.ini: \d+ bytes in \d+ ms \(\d+ KB/s\)$"),
            ("worker", r"configuration: url " + base + "/packages/cross.7z, filesize %d, notice no, programs: none, "
                       r"version none, sha256 no$" % self.size),
            ("UI", r"process check: no programs listed$"),
            ("worker", r"repairing " + folder + "$"),
            ("worker", r"GET " + base + "/packages/cross.7z$"),
            ("worker", r".*/packages/cross.7z: HTTP 200, Content-Length %d$" % self.size),
            ("worker", r".*/packages/cross.7z: %d bytes in \d+ ms \(\d+ KB/s\)$" % self.size),
            ("worker", r"extracting 6 entries of .*cross_new.zip into " + folder + "$"),
            ("worker", r"extracted 6 entries in \d+ ms$"),
            ("UI", r"outcome: status 8, repair complete$"),
            ("UI", r"exit with status 8$"),
            ("worker", r"usage report sent: .*data=8, HTTP 200$"),
        ])

    def test_a_failed_repair_leaves_its_cause_in_the_log(self):
        self.configure("url=http://127.0.0.1:%d/packages/missing.7z\r\nfilesize=100\r\n" % PORT)
        log = ui.LogReader()
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        self.assert_logged(log, [
            ("worker", r".*/packages/missing.7z: HTTP 404, Content-Length \d+$"),
            ("worker", r".*/packages/missing.7z: failed: HTTP 404, nothing saved$"),
            ("UI", r"outcome: status 6, the package could not be downloaded$"),
            ("UI", r"exit with status 6$"),
        ])


def stall_seconds(build):
    """The stall time-out the program under test was built with."""
    with open(os.path.join(build, "generated", "BuildSettings.h"), encoding="utf-8") as header:
        for line in header:
            if line.startswith("#define VNK_STALL_TIMEOUT_MS"):
                return int(line.split()[2]) / 1000.0
    raise RuntimeError("no VNK_STALL_TIMEOUT_MS in the build settings")


if __name__ == "__main__":
    # Arguments after "--" choose tests (unittest's names or -k PATTERN).
    chosen = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    sys.argv = sys.argv[:sys.argv.index("--")] if "--" in sys.argv else sys.argv
    BUILD, WWW = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    PORT = int(sys.argv[3])
    TESTS = os.path.abspath(sys.argv[4])
    ui.TOOL = os.path.join(TESTS, "vnk_window.exe")
    STALL_SECONDS = stall_seconds(BUILD)
    # Four stalled attempts and the waits of 1, 2 and 4 s between them, with room.
    RETRIED_STALL_SECONDS = 4 * STALL_SECONDS + 7 + 15
    SHOTS = sys.argv[5] if len(sys.argv) > 5 else None
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0], "-v"] + chosen)

"""A repair is all or nothing: whatever fails, and after a crash at the next
start, the game folder is byte for byte as it was."""
import os
import subprocess
import time

import base
from base import AppTest, served, ui


class AllOrNothingTest(AppTest):
    def repair_fails_and_leaves_the_folder_as_it_was(self, package, prepare=None, program="LumoraRepair.exe"):
        """Serves `package`, repairs, expects 释放安装包失败 and the game folder unchanged."""
        size = ui.make_package(*package) if isinstance(package, tuple) else package
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z?t=%d\r\nfilesize=%d\r\n" % (base.PORT, time.time(), size))
        if prepare:
            prepare()
        before = ui.tree_of(self.game)
        self.app.kill()
        self.app = ui.App(os.path.join(base.BUILD, program)).start()
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
        holder = subprocess.Popen([ui.WINE, os.path.join(base.TESTS, "vnk_sleeper.exe"),
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
        self.app = ui.App(os.path.join(base.BUILD, "LumoraRepair.exe")).start()
        self.assertTrue(ui.wait_until(lambda: ui.tree_of(self.game) == before, 10), "rolled back as the program started")
        time.sleep(0.5)  # the window shows it
        shot = self.snapshot("recovered")
        self.shot("main-recovered.png")
        self.assertIsNotNone(ui.colour_bounds(shot, (0, 168, 548, 28), "rgb(255,255,0)"), "the yellow status line")
        self.app.close(ui.CLOSE_GLYPH)
        self.assert_logged(log, [
            ("worker", r"commit stopped after 1 of 2 replacements, as a crash would stop it$"),
            ("worker", r"an earlier repair of .* was cut short and is rolled back: 1 files restored, 0 new files "
                       r"removed, 2 staging files deleted, 1 folders removed$"),
        ])

    def test_a_worker_that_runs_out_of_memory_leaves_every_file_as_it_was(self):
        # After the first entry is written, one allocation of the repair's worker fails.
        self.game_with_old_files(["CrossApp.dll", "old.txt"])
        before = ui.tree_of(self.game)
        log = ui.LogReader()
        os.environ.update(VNK_TEST_FAIL_ALLOCATION="worker", VNK_TEST_PROCESSORS="1")
        try:
            self.app.start()
        finally:
            del os.environ["VNK_TEST_FAIL_ALLOCATION"], os.environ["VNK_TEST_PROCESSORS"]
        self.repair_once()
        self.app.close()
        self.assertEqual(self.new_reports(), [7])
        self.assertEqual(ui.tree_of(self.game), before, "rolled back, and the package is gone")
        self.assert_logged(log, [("worker", r"repair rolled back: .*$"),
                                 ("worker", r"the repair's worker failed: out of memory$")])

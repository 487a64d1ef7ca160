"""The window as the player handles it: closing during a download, the folder
field, minimising, maximising, a stalled window thread, other DPI settings."""
import os
import time

import base
from base import AppTest, PACKAGE, served, ui


class WindowTest(AppTest):
    def test_close_during_a_slow_download(self):
        self.configure("url=http://127.0.0.1:%d/slow/400000?chunk=8192&delay=300\r\nfilesize=400000\r\n" % base.PORT)
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

    def test_the_download_line_fits_the_window_at_96_and_120_dpi(self):
        # A long line: sizes of tens of megabytes and a time left.
        size = 20 << 20
        self.configure("url=http://127.0.0.1:%d/slow/%d?chunk=65536&delay=50\r\nfilesize=%d\r\n"
                       % (base.PORT, size, size))
        self.addCleanup(ui.set_dpi, 96)
        for dpi in (96, 120):
            with self.subTest(dpi=dpi):
                ui.set_dpi(dpi)
                self.app = ui.App(os.path.join(base.BUILD, "LumoraRepair.exe")).start()
                self.app.click(ui.REPAIR)
                time.sleep(4.0)  # a rate, and so a time left
                shot = self.snapshot("downloading-%ddpi" % dpi)
                self.shot("main-downloading-%ddpi.png" % dpi)
                bounds = ui.colour_bounds(shot, (0, 168, 548, 28), "rgb(0,255,255)")  # the cyan status line
                self.assertIsNotNone(bounds)
                left, width = bounds
                self.assertGreater(width, 200, "the line with sizes and a time left")
                self.assertGreaterEqual(left, 4, "not cut at the left")
                self.assertLessEqual(left + width, 548 - 4, "not cut at the right")
                self.app.click(ui.CLOSE_BUTTON)
                self.app.wait_exit()

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
                       % (base.PORT, self.size))
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
                       % (base.PORT, size))
        self.app.start()
        self.app.click(ui.REPAIR)
        self.assertEqual(ui.window_tool("freeze", 3000), 0)
        self.app.answer_dialog(ui.DIALOG_OK)  # 修复完成
        self.assertEqual(os.path.getsize(self.in_game("Cross", "big.bin")), 24 << 20)
        self.assertEqual(self.app.close(), 0)
        self.assertEqual(self.new_reports(), [8])

    def test_text_fits_its_boxes_at_120_and_144_dpi(self):
        self.app.start()
        self.app.click((300, 60))
        reference = self.snapshot("96dpi")
        self.app.close(ui.CLOSE_GLYPH)
        self.addCleanup(ui.set_dpi, 96)
        for dpi in (120, 144):
            ui.set_dpi(dpi)
            self.app = ui.App(os.path.join(base.BUILD, "LumoraRepair.exe")).start()
            self.app.click((300, 60))
            self.assert_shows(reference, "%ddpi" % dpi)
            self.app.close(ui.CLOSE_GLYPH)

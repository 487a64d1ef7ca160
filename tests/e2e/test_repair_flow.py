"""A repair from the player's click to its outcome and the usage report: each
outcome code once, with its dialog."""
import os
import shutil
import subprocess
import time

import base
from base import AppTest, CONFIG, PACKAGE, serve, served, ui


class RepairFlowTest(AppTest):
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
                       "process_0=VnkGame.exe\r\n" % (base.PORT, self.size))
        program = self.in_game("Bin", "VnkGame.exe")
        os.makedirs(os.path.dirname(program))
        shutil.copy(os.path.join(base.TESTS, "vnk_sleeper.exe"), program)
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
        if base.SHOTS:
            self.app.screenshot(os.path.join(base.SHOTS, "process-dialog.png"))
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
        self.configure("url=http://127.0.0.1:%d%s\r\nfilesize=100\r\n" % (base.PORT, path))
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

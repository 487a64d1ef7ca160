"""The window as a player drives it from the keyboard (xdotool key), and one
copy of the program per player."""
import os
import shutil
import subprocess
import time

import base
from base import AppTest, ui


class KeyboardTest(AppTest):
    def start_listed_program(self):
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z\r\nfilesize=%d\r\nprocesscount=1\r\n"
                       "process_0=VnkGame.exe\r\n" % (base.PORT, self.size))
        program = self.in_game("Bin", "VnkGame.exe")
        os.makedirs(os.path.dirname(program), exist_ok=True)
        shutil.copy(os.path.join(base.TESTS, "vnk_sleeper.exe"), program)
        self.helpers.append(subprocess.Popen([ui.WINE, program], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(1.0)

    def press_when_a_dialog_shows(self, keys, another_follows=False):
        self.assertTrue(self.app.wait_for_dialog(), "a dialog shows")
        time.sleep(0.4)
        self.app.key(keys)
        # The next dialog may show before the poll sees this one gone.
        closed = self.app.wait_dialog_closed(timeout=2 if another_follows else 10)
        self.assertTrue(closed or another_follows, "the keys closed it")

    def test_keys_do_what_the_buttons_do(self):
        stalled = "url=http://127.0.0.1:%d/stall/400000?after=100000\r\nfilesize=400000\r\n" % base.PORT
        cases = {  # what -> (preparation, the player's steps, the reports)
            "Enter on the completion dialog": (None, [ui.REPAIR, ("dialog", "Return")], [8]),
            "Esc on the completion dialog": (None, [ui.REPAIR, ("dialog", "Escape")], [8]),
            "Enter on the process dialog retries": (
                self.start_listed_program, [ui.REPAIR, ("wait_for_dialog",), ("end the program",),
                                            ("dialog, another follows", "Return"), ("dialog", "Return")], [8]),
            "Esc on the process dialog cancels": (self.start_listed_program, [ui.REPAIR, ("dialog", "Escape")], [5]),
            # The field has the focus at the start; Tab goes on to 浏览, then 修复.
            "Tab to 修复 and Space": (None, [("keys", "Tab", "Tab", "space"), ("dialog", "Return")], [8]),
            "Enter in the folder field": (None, [ui.FOLDER_FIELD, ("keys", "Return"), ("dialog", "Return")], [8]),
            "Alt+F4 during a download": (lambda: self.configure(stalled), [ui.REPAIR, ("wait", 1.5),
                                                                         ("keys", "alt+F4")], [1]),
        }
        for what, (prepare, steps, report) in cases.items():
            with self.subTest(what):
                self.setUp()
                try:
                    self.play(prepare, steps, what.startswith("Alt+F4"))
                    self.assertEqual(self.new_reports(), report)
                finally:
                    self.tearDown()  # a copy left running would make the next start a second copy

    def play(self, prepare, steps, ends_by_itself):
        if prepare:
            prepare()
        self.app.start()
        for step in steps:
            if isinstance(step[0], int):
                self.app.click(step)  # a point of the main window
            elif step[0].startswith("dialog"):
                self.press_when_a_dialog_shows(step[1], step[0] != "dialog")
            elif step[0] == "keys":
                self.app.key(*step[1:])
            elif step[0] == "wait":
                time.sleep(step[1])
            elif step[0] == "wait_for_dialog":
                self.assertTrue(self.app.wait_for_dialog(), "a dialog shows")
            elif step[0] == "end the program":
                for helper in self.helpers:
                    helper.kill()
                    helper.wait()
                time.sleep(1.0)
        if ends_by_itself:
            self.assertEqual(self.app.wait_exit(10), 0, "closed as 关闭 closes")
        else:
            self.app.close()

    def test_a_second_start_shows_the_first_copy_and_ends(self):
        self.app.start()
        ui.window_tool("syscommand", "F020")  # SC_MINIMIZE
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 1, 5), "minimised")
        log = ui.LogReader()
        started = time.time()
        second = subprocess.run([ui.WINE, os.path.join(base.BUILD, "LumoraRepair.exe")], capture_output=True,
                                timeout=30)
        self.assertEqual(second.returncode, 0)
        self.assertLess(time.time() - started, 5.0)
        self.assertTrue(ui.wait_until(lambda: ui.window_tool("windows")[0][5] == 0, 5), "restored")
        self.assertEqual(len(ui.xdotool("search", "--onlyvisible", "--name", "^%s$" % ui.TITLE).split()), 1)
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        self.assertEqual(self.new_reports(), [8], "one usage report in all")
        self.assert_logged(log, [("UI", r"another copy runs already: its window is brought to the front; this one "
                                        r"ends$")])

    def test_a_name_taken_by_another_program_does_not_lock_the_player_out(self):
        holder = subprocess.Popen([ui.WINE, os.path.join(base.TESTS, "vnk_sleeper.exe"), "--mutex",
                                   "Local\\Lumora.LumoraRepair.OneCopy"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.helpers.append(holder)
        time.sleep(1.0)
        self.assertIsNone(holder.poll(), "the helper holds the name")
        log = ui.LogReader()
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        self.assertEqual(self.new_reports(), [8])
        self.assert_logged(log, [("UI", r"the name of this program's one copy is taken, but no window of this program "
                                        r"answered: this copy runs$")])

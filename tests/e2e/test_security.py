"""The program runs as administrator in a game folder that ordinary users can
write. Whatever they put there - a journal, a link (a Unix symbolic link,
which wine shows as a reparse point, plays the junction), a hard link - never
makes it act outside that folder, or on anything it did not write itself."""
import os
import shutil
import subprocess
import sys
import time

import base
from base import AppTest, PACKAGE, served, ui


class SecurityTest(AppTest):
    def outside(self, files):
        """A folder beside the game folder, as the rest of the machine; its files."""
        folder = self.game + "-outside"
        ui.write_tree(files, folder)
        return folder

    def plant_journal(self, lines):
        with open(self.in_game("LumoraRepair.journal"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in lines))

    def test_a_journal_the_program_did_not_write_changes_nothing(self):
        fake_mac = "\t" + "0" * 64
        cases = {  # what -> the journal's lines
            "a commit through a link": ["LumoraRepair journal 2" + fake_mac, "commit" + fake_mac,
                                        "file\tmine\\x.part\tj\\hosts.txt\tmine\\payload.txt" + fake_mac],
            "a done line through a link": ["LumoraRepair journal 1", "commit", "file\ta\tj\\hosts.txt\tj\\hosts.txt",
                                           "done"],
            "a commit without a link": ["LumoraRepair journal 1", "commit",
                                        "file\tmine\\x.part\tCross\\old.txt\tmine\\payload.txt"],
        }
        for what, lines in cases.items():
            with self.subTest(what):
                self.setUp()
                outside = self.outside({"hosts.txt": b"127.0.0.1 localhost\n"})
                os.symlink(outside, self.in_game("j"))
                ui.write_tree({"payload.txt": b"planted"}, self.in_game("mine"))
                self.plant_journal(lines)
                before, before_outside = ui.tree_of(self.game), ui.tree_of(outside)
                log = ui.LogReader()
                self.app.start()  # a journal is recovered as the program starts
                shot = self.snapshot("journal-refused")
                self.assertIsNotNone(ui.colour_bounds(shot, (0, 168, 548, 28), "rgb(255,0,0)"),
                                     "the red status line: the journal can't be read")
                self.repair_once()  # and the folder is held: 释放安装包失败
                self.app.close()
                self.assertEqual(ui.tree_of(outside), before_outside, "nothing outside changed")
                self.assertEqual(ui.tree_of(self.game), before, "nothing inside changed")
                self.assertEqual(self.new_reports(), [7])
                self.assert_logged(log, [
                    # Where an earlier test's folder had this one's file id and left a repair
                    # under way, the journal is checked against that repair's key, and fails.
                    ("worker", r".*LumoraRepair.journal: (no repair of this program is under way in this folder: "
                               r"the journal is not one of ours|the line at byte 0 was not written by this program "
                               r"for this folder)$"),
                    ("worker", r"an earlier repair's journal in .* can't be read: it is left alone, and so is the "
                               r"folder$"),
                ])

    def test_a_link_below_the_game_folder_refuses_the_repair(self):
        cases = {  # what -> the link below the game folder, published with a manifest
            # The package writes Cross/res/说明.txt: its folder is a link to a
            # folder elsewhere, which holds a file of that name.
            "a folder the package writes into": ("res", False),
            # Cross is a link to intact copies of the package's files elsewhere:
            # the scan must not read them as the game's and call the folder healthy.
            "the folder the scan reads": ("", True),
        }
        for what, (linked, manifest) in cases.items():
            with self.subTest(what):
                self.setUp()
                if manifest:
                    self.publish_with_manifest()
                    shutil.rmtree(self.in_game("Cross"))
                    outside = self.outside({name[len("Cross/"):]: data for name, data in PACKAGE.items()})
                    os.symlink(outside, self.in_game("Cross"))
                    link = r"\\Cross"
                else:
                    outside = self.outside({"说明.txt": b"not the game's", "other.txt": b"other"})
                    os.symlink(outside, self.in_game("Cross", linked))
                    link = r"\\Cross\\res"
                before, before_outside = ui.tree_of(self.game), ui.tree_of(outside)
                log = ui.LogReader()
                self.app.start()
                self.repair_once()
                self.app.close()
                self.assertEqual(self.new_reports(), [7])
                self.assertEqual(ui.tree_of(outside), before_outside, "the link's target is untouched")
                self.assertEqual(ui.tree_of(self.game), before, "nothing changed in the game folder")
                self.assert_logged(log, [("worker", r"refused: .*%s is a link \(a junction, symbolic link or mount "
                                                    r"point\) below the folder .*$" % link)])

    def publish_with_manifest(self):
        """Publishes PACKAGE with its manifest where the configuration points."""
        source = self.game + "-source"
        ui.write_tree(PACKAGE, source)
        subprocess.run([sys.executable, base.PUBLISH, source, served("packages"), "--url",
                        "http://127.0.0.1:%d/packages/cross.7z" % base.PORT], check=True, capture_output=True)
        with open(served("packages/vnk_cross_repair.ini"), "rb") as f:
            base.serve(base.CONFIG, f.read())

    def test_a_kept_partial_package_that_became_a_hard_link_is_never_written_through(self):
        # Every answer ends after 15 % of the package: a repair keeps 60 % to resume.
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z?cut=%d&t=%d\r\nfilesize=%d\r\n"
                       % (base.PORT, self.size * 15 // 100, time.time(), self.size))
        self.app.start()
        self.repair_once()
        partial = self.in_game("cross_new.zip.tmp")
        self.assertTrue(os.path.exists(partial), "a partial package is kept to resume")
        # Replaced by another name of a file elsewhere, holding what a resume would append to.
        with open(partial, "rb") as f:
            outside = self.outside({"system.dll": f.read()})
        os.remove(partial)
        os.link(os.path.join(outside, "system.dll"), partial)
        before_outside = ui.tree_of(outside)
        log = ui.LogReader()
        self.repair_once()  # starts over from byte 0, so it fails again at 60 %
        self.app.close()
        self.assertEqual(ui.tree_of(outside), before_outside, "nothing was appended to the file elsewhere")
        self.assertEqual(os.stat(os.path.join(outside, "system.dll")).st_nlink, 1, "its other name is gone")
        self.assertEqual(self.new_reports(), [6])
        self.assert_logged(log, [("worker", r".*cross_new.zip.tmp was not the file kept from before \(a link, or a "
                                            r"file with another name\): from byte 0$")])

    def test_a_game_folder_renamed_away_during_the_repair_changes_nothing_elsewhere(self):
        # The package comes slowly; meanwhile the game folder is renamed away and
        # a link to a folder elsewhere, holding files of the names the repair
        # writes, renames and deletes, is put under its name.
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z?chunk=%d&delay=200&t=%d\r\nfilesize=%d\r\n"
                       % (base.PORT, max(1, self.size // 15), time.time(), self.size))
        names = {name[len("Cross/"):]: b"outside's" for name in PACKAGE}
        names.update({"old.txt": b"outside's", "old.txt.old": b"outside's"})
        outside = self.outside({"Cross/" + name: data for name, data in names.items()})
        ui.write_tree({"cross_new.zip": b"outside's", "cross_new.zip.tmp": b"outside's"}, outside)
        moved = self.game + "-moved"
        shutil.rmtree(moved, ignore_errors=True)
        self.addCleanup(lambda: os.path.islink(self.game) and os.remove(self.game))
        before_outside = ui.tree_of(outside)
        log = ui.LogReader()
        self.app.start()
        self.app.click(ui.REPAIR)
        self.assertTrue(ui.wait_until(lambda: os.path.exists(self.in_game("cross_new.zip.tmp")), 30),
                        "the download started")
        os.rename(self.game, moved)
        os.symlink(outside, self.game)
        self.app.answer_dialog(ui.DIALOG_OK, timeout=60)
        self.app.close()
        self.assertEqual(ui.tree_of(outside), before_outside, "nothing outside changed")
        reports = self.new_reports()
        if reports == [7]:
            self.assert_logged(log, [("worker", r"refused: the folder .* is no longer where its path leads \(renamed "
                                                r"away, or a link put in its place\): nothing more is done in it$")])
            self.assertEqual(ui.tree_of(os.path.join(moved, "Cross")), {"old.txt": b"old"}, "nothing was repaired")
        else:  # finished in the folder it held
            self.assertEqual(reports, [8])
            self.assertEqual(ui.tree_of(moved), dict(PACKAGE, **{"Cross/old.txt": b"old"}))

    def test_a_repair_event_posted_by_another_program_is_ignored(self):
        log = ui.LogReader()
        self.app.start()
        # ConfigLoaded, as if a configuration had been accepted: it would start a download.
        self.assertEqual(ui.window_tool("post", 0x0400 + 1, 103, 0), 0)
        self.assertFalse(self.app.wait_for_dialog(3), "no dialog: nothing was started")
        self.app.close()
        self.assertEqual(self.new_reports(), [], "nothing happened to report")
        self.assert_logged(log, [("UI", r"ignored a repair event \(103\) that the repair under way did not post$")])

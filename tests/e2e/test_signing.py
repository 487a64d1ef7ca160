"""Signed configurations: what a program built with keys accepts, and what
nobody on the way can make it do. LumoraRepairSigned.exe is built with the
public halves of base.SIGNING_KEY and base.SECOND_KEY; packages are published
with tools/publish-package."""
import base64
import os
import re
import shutil
import subprocess
import sys
import time

import base
from base import AppTest, CONFIG, PACKAGE, reports, serve, served, ui


class SigningTest(AppTest):
    def publish(self, tree, *options, serve=True):
        """Publishes `tree`; serves the package, its configuration file and that file's signature (if
        any) unless told not to."""
        source, output = self.game + "-source", self.game + ("-published" if serve else "-aside")
        shutil.rmtree(output, ignore_errors=True)
        ui.write_tree(tree, source)
        subprocess.run([sys.executable, base.PUBLISH, source, output, "--url",
                        "http://127.0.0.1:%d/packages/published.7z" % base.PORT, *options], check=True,
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
        self.app = ui.App(os.path.join(base.BUILD, program)).start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        return self.new_reports()

    def assert_game_folder_untouched(self):
        self.assertEqual(os.listdir(self.game), ["Cross"], "no package and no partial file")
        self.assertEqual(os.listdir(self.in_game("Cross")), ["old.txt"])

    def forget_accepted_versions(self):
        subprocess.run([ui.WINE, "reg", "delete", r"HKLM\Software\Lumora\LumoraRepair", "/v", "ConfigVersion", "/f"],
                       capture_output=True)

    def test_a_configuration_signed_with_either_built_in_key_repairs(self):
        self.forget_accepted_versions()
        for key in (base.SIGNING_KEY, base.SECOND_KEY):
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
        signed = ("--private-key", base.SIGNING_KEY)
        endless = "http://127.0.0.1:%d/endless" % base.PORT

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
            # The highest version accepted is kept where only administrators write:
            # what the player's own programs can delete changes nothing.
            "an older version than one accepted": (lambda: (
                self.publish(PACKAGE, "--version", "300", *signed), self.repair_with("LumoraRepairSigned.exe"),
                subprocess.run([ui.WINE, "reg", "delete", r"HKCU\Software\Lumora", "/f"], capture_output=True),
                self.setUp(), self.publish(evil, "--version", "299", *signed)), 4),
            "no version": (lambda: (
                self.publish(evil, *signed),
                self.edit_served_config(lambda t: re.sub(r"version=\d+\r\n", "", t)),
                self.sign_served_config(base.SIGNING_KEY)), 4),
            "another package of the same size": (another_package_of_the_same_size, 7),
            "a package body without end": (lambda: (
                self.publish(PACKAGE, *signed),
                self.edit_served_config(lambda t: t.replace("http://127.0.0.1:%d/packages/published.7z" % base.PORT,
                                                            endless)),
                self.sign_served_config(base.SIGNING_KEY)), 6),
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

    def test_a_configuration_rewritten_after_it_was_read_is_never_used(self):
        self.forget_accepted_versions()
        self.publish(PACKAGE, "--private-key", base.SIGNING_KEY)
        serve("packages/evil.7z", b"not the package")
        local = os.path.join(os.path.dirname(ui.program_log()), "vnk_cross_repaire.ini")
        self.app.kill()
        self.app = ui.App(os.path.join(base.BUILD, "LumoraRepairSigned.exe"))
        os.environ["VNK_TEST_CONFIG_PAUSE_MS"] = "3000"  # between reading the file and acting on it
        try:
            self.app.start()
        finally:
            del os.environ["VNK_TEST_CONFIG_PAUSE_MS"]
        self.app.click(ui.REPAIR)
        self.assertTrue(ui.wait_until(lambda: os.path.exists(local), 10))
        time.sleep(1.0)
        with open(local, "rb") as f:
            text = f.read()[2:].decode("utf-16-le")
        with open(local, "wb") as f:
            f.write(b"\xff\xfe" + text.replace("packages/published.7z", "packages/evil.7z").encode("utf-16-le"))
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        self.assertEqual(self.new_reports(), [8])
        with open(self.in_game("Cross", "CrossApp.dll"), "rb") as f:
            self.assertEqual(f.read(), PACKAGE["Cross/CrossApp.dll"])
        with open(served("requests.log"), encoding="utf-8") as requests:
            self.assertNotIn("/packages/evil.7z", requests.read())

    def test_a_program_without_a_key_repairs_an_unsigned_published_package(self):
        self.publish(PACKAGE)
        self.assertEqual(self.repair_with("LumoraRepair.exe"), [8])
        self.assertTrue(os.path.exists(self.in_game("Cross", "CrossApp.dll")))


class AuthenticodeTest(AppTest):
    def test_a_program_signed_as_a_release_is_signed_still_starts(self):
        # Signed as tools/release signs (SHA-1, then a nested SHA-256), with a
        # throw-away CA: the signature changes nothing of how it starts.
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
        import codesign
        folder = self.game + "-signed"
        shutil.rmtree(folder, ignore_errors=True)
        identity = codesign.make_signing_identity(os.path.join(folder, "ca"))
        signed = os.path.join(folder, "LumoraRepair.exe")
        codesign.sign(identity, os.path.join(base.BUILD, "LumoraRepair.exe"), signed)
        self.assertEqual(codesign.verify(identity, signed)[0], 0)
        self.app = ui.App(signed)
        self.app.start()
        self.assertEqual(self.app.close(), 0)

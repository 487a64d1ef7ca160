"""The diagnostics log tells support what happened, line by line."""
import re

import base
from base import AppTest, ui


class LogTest(AppTest):
    def test_a_full_repair_leaves_its_story_in_the_log(self):
        log = ui.LogReader()
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK)
        self.app.close()
        server = re.escape("http://127.0.0.1:%d" % base.PORT)
        folder = re.escape(ui.windows_path(self.game))
        self.assert_logged(log, [
            ("UI", r"LumoraRepair \d+\.\d+\.\d+, win(32|64) build, Windows \d+\.\d+\.\d+"),
            ("UI", r"game folder from the registry value InstallPath: " + folder + "$"),
            ("UI", r"repair started for " + folder + "$"),
            ("worker", r"GET " + server + "/images/js/vy/cross/vnk_cross_repair.ini$"),
            ("worker", r".*vnk_cross_repair.ini: HTTP 200, Content-Length \d+$"),
            ("worker", r".*vnk_cross_repair.ini: \d+ bytes in \d+ ms \(\d+ KB/s\)$"),
            ("worker", r"configuration: url " + server + "/packages/cross.7z, filesize %d, notice no, programs: none, "
                       r"version none, sha256 no$" % self.size),
            ("UI", r"process check: no programs listed$"),
            ("worker", r"repairing " + folder + "$"),
            ("worker", r"GET " + server + "/packages/cross.7z$"),
            ("worker", r".*/packages/cross.7z: HTTP 200, Content-Length %d$" % self.size),
            ("worker", r".*/packages/cross.7z: %d bytes in \d+ ms \(\d+ KB/s\)$" % self.size),
            ("worker", r"extracting 6 entries of .*cross_new.zip into " + folder + "$"),
            ("worker", r"extracted 6 entries in \d+ ms$"),
            ("UI", r"outcome: status 8, repair complete$"),
            ("UI", r"exit with status 8$"),
            ("worker", r"usage report sent: .*data=8, HTTP 200$"),
        ])

    def test_a_failed_repair_leaves_its_cause_in_the_log(self):
        self.configure("url=http://127.0.0.1:%d/packages/missing.7z\r\nfilesize=100\r\n" % base.PORT)
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

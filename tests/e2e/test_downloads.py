"""Downloads against servers that stall, drop the connection, change the file,
are busy or never stop sending: retried, resumed, bounded."""
import os
import shutil
import time

import base
from base import AppTest, CONFIG, PACKAGE, serve, served, ui


class DownloadTest(AppTest):
    def test_a_configuration_server_that_never_answers(self):
        self.hang(CONFIG)
        self.app.start()
        started = time.time()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK, timeout=base.RETRIED_STALL_SECONDS)
        self.assertGreater(time.time() - started, 4 * base.STALL_SECONDS + 7 - 0.5, "four attempts")
        self.app.close()
        self.assertEqual(self.new_reports(), [3])

    def test_a_package_server_that_stops_sending(self):
        self.configure("url=http://127.0.0.1:%d/stall/400000?after=100000\r\nfilesize=400000\r\n" % base.PORT)
        self.app.start()
        self.app.click(ui.REPAIR)
        self.app.answer_dialog(ui.DIALOG_OK, timeout=base.RETRIED_STALL_SECONDS)
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

    # Downloads that survive a dropped connection: retried up to 4 times after
    # 1, 2 and 4 s, resumed with Range/If-Range where the first answer allows.
    def serve_package_with(self, query, filesize=None):
        self.package_query = query
        self.configure("url=http://127.0.0.1:%d/packages/cross.7z?%s\r\nfilesize=%d\r\n"
                       % (base.PORT, query, filesize or self.size))

    def served(self):
        """(answers, ranges asked, bytes sent) for the package since the test began."""
        path = "/packages/cross.7z?" + self.package_query
        with open(served("requests.log"), encoding="utf-8") as log:
            lines = log.read().splitlines()
        return (lines.count(path), [l.split()[2] for l in lines if l.startswith("range " + path + " ")],
                sum(int(l.rsplit(" ", 1)[1]) for l in lines if l.startswith("sent " + path + " ")))

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
        self.configure("url=http://127.0.0.1:%d/endless\r\nfilesize=%d\r\n" % (base.PORT, filesize))
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
            self.assertEqual(log.read().splitlines().count("/endless"), 2,
                             "asked for once more, past any cache, and no more")
        self.assertEqual(self.new_reports(), [6])

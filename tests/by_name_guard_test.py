#!/usr/bin/env python3
"""Tests of the guard that keeps acts on the game folder in HeldFolder
(tools/check-by-name-acts.py): the tree passes, and a copy of it with one
by-name call put back where the repair acts fails, naming it."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
GUARD = os.path.join(ROOT, "tools", "check-by-name-acts.py")


def run(root):
    result = subprocess.run([sys.executable, GUARD, root], capture_output=True, text=True)
    return result.returncode, result.stdout


class GuardTest(unittest.TestCase):
    def test_the_tree_passes(self):
        code, out = run(ROOT)
        self.assertEqual(code, 0, out)

    def test_a_by_name_call_where_the_repair_acts_fails(self):
        cases = [
            ("engine/repair/StagedRepair.cpp", "DeleteFileW(path.c_str());"),
            ("engine/PackageWorker.cpp", "::CreateFileW(p, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);"),
            ("engine/download/DownloadFile.cpp", "DeleteItself(temporary);"),
            ("engine/archive/ExtractArchive.cpp", "OpenOwnFile(p, 0, 0, false, kept);"),
            ("app/RepairController.cpp", "MoveFileExW(a, b, 0);"),
        ]
        for relative, call in cases:
            with self.subTest(relative), tempfile.TemporaryDirectory() as scratch:
                for room in ("app", "engine", "ui"):
                    shutil.copytree(os.path.join(ROOT, room), os.path.join(scratch, room))
                with open(os.path.join(scratch, relative), "a", encoding="utf-8") as source:
                    source.write("\nvoid Planted() { " + call + " }\n// DeleteFileW(in a comment) is no call\n")
                code, out = run(scratch)
                self.assertEqual(code, 1, out)
                self.assertIn(relative + ":", out)
                self.assertEqual(out.count("outside HeldFolder"), 1, out)

    def test_a_method_of_the_layer_is_no_by_name_call(self):
        with tempfile.TemporaryDirectory() as scratch:
            for room in ("app", "engine", "ui"):
                shutil.copytree(os.path.join(ROOT, room), os.path.join(scratch, room))
            with open(os.path.join(scratch, "engine/PackageWorker.cpp"), "a", encoding="utf-8") as source:
                source.write("\nvoid Fine() { folder->OpenOwnFile(p, 0, 0, false, kept); folder.Delete(p); }\n")
            code, out = run(scratch)
            self.assertEqual(code, 0, out)


if __name__ == "__main__":
    unittest.main()

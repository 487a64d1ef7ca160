"""Runs the end-to-end tests of the real program, theme by theme:
python3 run.py PROGRAM_DIR WWW_DIR PORT TESTS_DIR [SCREENSHOT_DIR] [-- TESTS]

PROGRAM_DIR holds LumoraRepair.exe, TESTS_DIR the helper vnk_sleeper.exe. Arguments
after "--" choose tests (unittest's names or -k PATTERN), e.g. -- -k drops."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import base  # noqa: E402

THEMES = ["test_repair_flow", "test_window", "test_downloads", "test_all_or_nothing", "test_signing", "test_security",
          "test_partial_repair", "test_keyboard", "test_log"]


def main():
    chosen = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    args = sys.argv[1:sys.argv.index("--")] if "--" in sys.argv else sys.argv[1:]
    base.BUILD, base.WWW = os.path.abspath(args[0]), os.path.abspath(args[1])
    base.PORT = int(args[2])
    base.TESTS = os.path.abspath(args[3])
    base.ui.TOOL = os.path.join(base.TESTS, "vnk_window.exe")
    base.STALL_SECONDS = base.build_seconds(base.BUILD, "VNK_STALL_TIMEOUT_MS")
    base.HOLD_SECONDS = base.build_seconds(base.BUILD, "VNK_HOLD_LIMIT_MS")
    # Four stalled attempts and the waits of 1, 2 and 4 s between them, with room.
    base.RETRIED_STALL_SECONDS = 4 * base.STALL_SECONDS + 7 + 15
    base.SHOTS = args[4] if len(args) > 4 else None
    if base.SHOTS:
        os.makedirs(base.SHOTS, exist_ok=True)
    names = [c for c in chosen if not c.startswith("-") and (chosen.index(c) == 0 or chosen[chosen.index(c) - 1] != "-k")]
    unittest.main(module=None, argv=[sys.argv[0], "-v"] + chosen + ([] if names else THEMES))


if __name__ == "__main__":
    main()

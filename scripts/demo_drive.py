#!/usr/bin/env python3
"""The headless part of the demo: presses 修复 in the real window, saves screenshots."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
import app_driver as ui  # noqa: E402


def main():
    exe, shots = sys.argv[1], sys.argv[2]
    app = ui.App(exe).start()
    paths = []

    def shot(name):
        path = os.path.join(shots, name)
        app.screenshot(path)
        paths.append(path)

    shot("1-idle.png")
    app.click(ui.REPAIR)
    time.sleep(2.5)
    shot("2-downloading.png")
    if not app.wait_for_dialog(60):
        print("the repair did not finish within a minute", file=sys.stderr)
        app.kill()
        return 1
    time.sleep(0.5)
    shot("3-complete.png")
    app.click(ui.DIALOG_OK, ui.DIALOG)
    app.wait_dialog_closed()
    time.sleep(0.3)
    shot("4-after.png")
    app.close()
    print("screenshots:")
    for path in paths:
        print("  " + path)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Drives the real LumoraRepair.exe under wine and Xvfb as a user would.

The environment (WINEPREFIX, DISPLAY, a running wineserver, and VNK_WINE, the
loader of the prefix: wine64 or the 32-bit wine) comes from scripts/test.sh or
scripts/demo.sh; the loopback server serves WWW.
"""
import glob
import os
import re
import shutil
import subprocess
import time

WINE = os.environ.get("VNK_WINE", "/usr/lib/wine/wine64")
TOOL = None  # tests/support/WindowTool.cpp, built as vnk_window.exe; set by the runner
TITLE = "Lumora修复工具"

# Client coordinates of the main window and of the dialogs over it.
REPAIR = (224, 233)
CLOSE_BUTTON = (324, 233)
CLOSE_GLYPH = (527, 20)
MINIMIZE_GLYPH = (501, 20)
FOLDER_FIELD = (200, 127)
DIALOG = (101, 46)                  # a dialog's offset from the main window
DIALOG_OK = (173, 157)              # 确定
DIALOG_RETRY = (123, 157)           # 重试
DIALOG_CANCEL = (223, 157)          # 取消


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def xdotool(*args):
    result = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True)
    return result.stdout.strip()


def wait_until(predicate, timeout, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def window_tool(*args):
    """Runs vnk_window.exe; for "windows", a list of (x, y, width, height, visible, iconic), main window first."""
    result = subprocess.run([WINE, TOOL, *map(str, args)], capture_output=True, text=True, timeout=60)
    if args[0] != "windows":
        return result.returncode
    return [tuple(int(v) for v in line.split()) for line in result.stdout.splitlines() if line.strip()]


def differing_pixels(first, second):
    """How many pixels two screenshots of the same size differ in (ImageMagick's compare)."""
    result = subprocess.run(["compare", "-metric", "AE", first, second, "null:"], capture_output=True, text=True)
    return int(float(result.stderr.split()[0]))


def colour_bounds(path, box, colour):
    """Where pixels of `colour` ("rgb(0,255,255)", give or take a little) lie inside `box` (x, y, width,
    height) of a screenshot: (left, width) relative to the box, or None where there are none."""
    x, y, width, height = box
    result = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                             "-fuzz", "25%", "-fill", "black", "+opaque", colour, "-trim", "info:"],
                            capture_output=True, text=True, check=True)
    # "PNG 212x14 548x28+168+7 ...": the trimmed size, then the page and the offset.
    fields = result.stdout.split()
    trimmed, page = fields[2], fields[3]
    if trimmed == "1x1":
        return None
    return int(page.split("+")[1]), int(trimmed.split("x")[0])


def set_dpi(dpi):
    """The prefix's DPI, for programs started from now on."""
    for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
        reg_add(key, "LogPixels", "REG_DWORD", str(dpi))


def program_log():
    """Where the program writes its diagnostics log: the temporary folder of the prefix's user."""
    prefix = os.environ["WINEPREFIX"]
    folders = (glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local", "Temp")) +
               glob.glob(os.path.join(prefix, "drive_c", "users", "*", "Temp")))
    folders = [f for f in folders if os.path.basename(os.path.dirname(f)) != "Public"
               and "Public" not in f.split(os.sep)]
    return os.path.join(folders[0], "LumoraRepair.log")


class LogReader:
    """The lines the program adds to its log from now on."""

    def __init__(self):
        self.path = program_log()
        self.start = os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def lines(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            text = f.read()
        if len(text) < self.start:
            # The log rolled over at its size limit since: its start went to ".1".
            with open(self.path + ".1", "rb") as f:
                text = f.read() + text
        return text[self.start:].decode("utf-8").splitlines()


def find_in_order(lines, expected):
    """Matches each (thread, pattern) of `expected` against later and later lines; returns what is missing."""
    at = 0
    for thread, pattern in expected:
        regex = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[%s\] %s" % (thread, pattern))
        while at < len(lines) and not regex.search(lines[at]):
            at += 1
        if at == len(lines):
            return "[%s] %s" % (thread, pattern)
        at += 1
    return None


def reg_add(key, value, kind, data):
    """Sets a value in the prefix's registry with wine's reg. It has been seen to end with 1 once,
    on a loaded machine: it is tried three times, and what it printed last goes with a failure."""
    command = [WINE, "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f"]
    for _ in range(3):
        result = subprocess.run(command, capture_output=True, text=True, errors="replace")
        if result.returncode == 0:
            return
        time.sleep(1)
    raise RuntimeError("%s ended with %d:\n%s%s" % (" ".join(command), result.returncode, result.stdout,
                                                      result.stderr))


def set_install_path(folder):
    reg_add(r"HKCU\Software\Qelvan\VNK", "InstallPath", "REG_SZ", windows_path(folder))


class App:
    """One run of the program: start, click, read the screen, wait for its end."""

    def __init__(self, exe):
        self.exe = exe
        self.window_class = os.path.basename(exe).lower()  # wine names X window classes after the program
        self.process = None
        self.window = None
        self.origin = (0, 0)

    def start(self):
        log = LogReader()
        self.process = subprocess.Popen([WINE, self.exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = wait_until(lambda: xdotool("search", "--onlyvisible", "--name", "^%s$" % TITLE), 30)
        if not self.window:
            raise RuntimeError("the main window did not appear")
        # The controls stay locked while a repair a crash cut short is looked for.
        wait_until(lambda: any("earlier repair" in line or "no game folder found" in line for line in log.lines()),
                   10)
        self.window = self.window.split()[0]
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", self.window).split())
        self.origin = (int(geometry["X"]), int(geometry["Y"]))
        self.baseline = self.visible_windows()
        time.sleep(0.5)
        return self

    def visible_windows(self):
        return len(xdotool("search", "--onlyvisible", "--class", self.window_class).split())

    def click(self, point, offset=(0, 0)):
        x = self.origin[0] + offset[0] + point[0]
        y = self.origin[1] + offset[1] + point[1]
        xdotool("mousemove", x, y, "click", "1")
        time.sleep(0.3)

    def wait_for_dialog(self, timeout=30):
        return wait_until(lambda: self.visible_windows() > self.baseline, timeout)

    def wait_dialog_closed(self, timeout=10):
        return wait_until(lambda: self.visible_windows() <= self.baseline, timeout)

    def answer_dialog(self, button, timeout=30):
        if not self.wait_for_dialog(timeout):
            raise RuntimeError("no dialog appeared")
        time.sleep(0.4)  # let it draw its first frame
        self.click(button, DIALOG)
        if not self.wait_dialog_closed():
            raise RuntimeError("the dialog did not close")

    def screenshot(self, path):
        x, y = self.origin
        subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-crop",
                        "548x300+%d+%d" % (x, y), "+repage", path], check=True)

    def type_text(self, text):
        xdotool("type", "--delay", "40", text)
        time.sleep(0.3)

    def key(self, *keys):
        xdotool("key", *keys)
        time.sleep(0.3)

    def close(self, point=CLOSE_BUTTON):
        self.click(point)
        return self.wait_exit()

    def wait_exit(self, timeout=30):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise

    def window_gone(self):
        return not xdotool("search", "--onlyvisible", "--name", "^%s$" % TITLE)

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def write_tree(tree, folder):
    """Writes `tree` (a dict of relative path -> bytes) into `folder`, made anew."""
    shutil.rmtree(folder, ignore_errors=True)
    for relative, data in tree.items():
        path = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def make_package(source_tree, archive, method="LZMA2", *switches):
    """A 7z package of `source_tree` (a dict of relative path -> bytes), made by Debian's 7-Zip."""
    work = archive + ".src"
    write_tree(source_tree, work)
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run(["7zz", "a", "-bd", "-bso0", "-bsp0", "-m0=" + method, *switches, os.path.abspath(archive), "."],
                   cwd=work, check=True)
    shutil.rmtree(work)
    return os.path.getsize(archive)


def tree_of(folder):
    """Everything under `folder`: relative path -> contents (None for a folder) and whether it is read-only."""
    tree = {}
    for parent, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(parent, name)
            relative = os.path.relpath(path, folder)
            if os.path.isdir(path):
                tree[relative] = None
            else:
                with open(path, "rb") as f:
                    tree[relative] = f.read()
    return tree

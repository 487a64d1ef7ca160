#!/usr/bin/env python3
"""Tests of the XP import guard (tools/check-xp-imports.py) against real PE files.

    python3 xp_guard_test.py SHIPPED_PROGRAM

The shipped program must pass; small probe programs built here with Debian's
mingw-w64 must each fail for the reason they were built to show.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
GUARD = os.path.join(HERE, "..", "tools", "check-xp-imports.py")
SHIPPED = None

PROBE = r"""
#include <windows.h>
ULONGLONG WINAPI GetTickCount64(void);
DWORD WINAPI GetModuleFileNameExW(HANDLE, HMODULE, LPWSTR, DWORD);
int WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d)
{
    (void)a; (void)b; (void)c; (void)d;
#if defined(VISTA_IMPORT)
    return (int)GetTickCount64();
#elif defined(PSAPI_IMPORT)
    return (int)GetModuleFileNameExW(0, 0, 0, 0);
#else
    return (int)GetTickCount();
#endif
}
"""


def guard(program):
    result = subprocess.run([sys.executable, GUARD, program], capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


class GuardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vnk-xp-guard-")
        with open(os.path.join(cls.work, "probe.c"), "w") as f:
            f.write(PROBE)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def build(self, name, *flags, compiler="i686-w64-mingw32-gcc-win32"):
        out = os.path.join(self.work, name + ".exe")
        subprocess.run([compiler, "-O1", "-o", out, os.path.join(self.work, "probe.c")] + list(flags),
                       check=True, capture_output=True)
        return out

    def test_the_shipped_program_passes(self):
        self.assertTrue(os.path.isfile(SHIPPED), "build the win32 preset first: %s" % SHIPPED)
        code, text = guard(SHIPPED)
        self.assertEqual(code, 0, text)

    def test_a_vista_only_import_fails(self):
        code, text = guard(self.build("vista", "-mwindows", "-DVISTA_IMPORT"))
        self.assertEqual(code, 1, text)
        self.assertIn("KERNEL32.dll!GetTickCount64", text)

    def test_a_dll_that_is_not_known_everywhere_fails(self):
        # psapi's function is one XP has: what is wrong is where the DLL would be looked for.
        code, text = guard(self.build("psapi", "-mwindows", "-DPSAPI_IMPORT", "-lpsapi"))
        self.assertEqual(code, 1, text)
        self.assertIn("imports PSAPI.DLL, which is not a KnownDLL everywhere", text)

    def test_a_console_program_fails(self):
        code, text = guard(self.build("console", "-mconsole"))
        self.assertEqual(code, 1, text)
        self.assertIn("subsystem is 3", text)

    def test_a_64_bit_program_fails(self):
        code, text = guard(self.build("x64", "-mwindows", compiler="x86_64-w64-mingw32-gcc-win32"))
        self.assertEqual(code, 1, text)
        self.assertIn("not i386", text)

    def test_a_subsystem_version_above_xp_fails(self):
        code, text = guard(self.build("nt6", "-mwindows", "-Wl,--major-subsystem-version,6",
                                      "-Wl,--minor-subsystem-version,0"))
        self.assertEqual(code, 1, text)
        self.assertIn("subsystem version 6.0", text)

    def test_an_api_set_import_fails(self):
        program = self.build("apiset", "-mwindows")
        with open(program, "rb") as f:
            data = f.read()
        # Same length, so the import table stays intact.
        self.assertIn(b"msvcrt.dll\0", data)
        with open(program, "wb") as f:
            f.write(data.replace(b"msvcrt.dll\0", b"api-ms-win\0"))
        code, text = guard(program)
        self.assertEqual(code, 1, text)
        self.assertIn("API set api-ms-win", text)

    def test_a_file_that_is_no_program_is_bad_input(self):
        path = os.path.join(self.work, "junk.exe")
        with open(path, "wb") as f:
            f.write(b"<html>404</html>")
        code, text = guard(path)
        self.assertEqual(code, 2, text)


if __name__ == "__main__":
    SHIPPED = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"])

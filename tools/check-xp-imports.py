#!/usr/bin/env python3
"""Checks that a 32-bit Windows program can start on Windows XP SP3, and loads
no DLL from beside itself.

    check-xp-imports.py PROGRAM.exe [--list tools/xp-imports.txt]
                        [--known-dlls tools/known-dlls.txt] [--print]

Windows refuses to start a program that imports a function its system DLLs
don't export (by that name or ordinal), before any of the program's code runs.
So every import of PROGRAM must be on the reviewed list: one DLL!Function or
DLL!#ordinal a line, put there only after the function's documentation gave
Windows XP SP3 or earlier as its minimum client. The PE header must say: i386,
GUI subsystem, subsystem version 5.1 or lower; and no api-ms-win-* / ext-ms-*
DLL may appear (API sets came with Windows 7). And every DLL it imports (or
delay-imports) must be on the KnownDLLs list of every Windows (known-dlls.txt):
any other is looked for in the program's folder first.

--print lists the program's imports (DLL by DLL) instead of checking them.
Exit code 0 when the program passes, 1 when it doesn't, 2 on bad input.
"""
import argparse
import os
import struct
import sys

MACHINE_I386 = 0x014C
PE32_MAGIC = 0x010B
SUBSYSTEM_GUI = 2
MAX_SUBSYSTEM_VERSION = (5, 1)
IMPORT_DIRECTORY = 1
DELAY_IMPORT_DIRECTORY = 13


class PeError(Exception):
    pass


class PeFile:
    """The few parts of a PE32 image that the check needs."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("not a Windows program (no MZ header)")
        pe = self._u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("not a PE image")
        coff = pe + 4
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic != PE32_MAGIC:
            # A PE32+ (64-bit) image: only its header is examined.
            self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
            self.subsystem_version = struct.unpack_from("<HH", data, optional + 48)
            self.sections = []
            self.directories = []
            return
        self.subsystem_version = struct.unpack_from("<HH", data, optional + 48)
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        count = self._u32(optional + 92)
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            _, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rsize), raw))

    def _u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise PeError("address 0x%x is in no section" % rva)

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii", "replace")

    def imports(self):
        """[(dll, [name or '#ordinal', ...])] of the import and delay-import tables."""
        result = []
        for index, size_of_descriptor, name_at, thunks_at in ((IMPORT_DIRECTORY, 20, 12, (0, 16)),
                                                             (DELAY_IMPORT_DIRECTORY, 32, 4, (16, 12))):
            if len(self.directories) <= index or self.directories[index][0] == 0:
                continue
            at = self.offset(self.directories[index][0])
            while True:
                descriptor = self.data[at:at + size_of_descriptor]
                if len(descriptor) < size_of_descriptor or not any(descriptor):
                    break
                dll = self.string(struct.unpack_from("<I", descriptor, name_at)[0])
                lookup = struct.unpack_from("<I", descriptor, thunks_at[0])[0] or \
                    struct.unpack_from("<I", descriptor, thunks_at[1])[0]
                names = []
                entry = self.offset(lookup)
                while True:
                    value = self._u32(entry)
                    if value == 0:
                        break
                    if value & 0x80000000:
                        names.append("#%d" % (value & 0xFFFF))
                    else:
                        names.append(self.string(value + 2))  # after the 2-byte hint
                    entry += 4
                result.append((dll, names))
                at += size_of_descriptor
        return result


def read_list(path):
    """The reviewed entries, as lower-case DLL!Function keys (functions keep their case)."""
    allowed = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            entry = line.split()[0]
            dll, _, function = entry.partition("!")
            if not function:
                raise PeError("%s: not DLL!Function: %s" % (path, line))
            allowed.add(dll.lower() + "!" + function)
    return allowed


def read_dlls(path):
    """The DLLs of the known-DLL list, lower-cased."""
    with open(path, encoding="utf-8") as f:
        return {line.strip().lower() for line in f if line.strip() and not line.startswith("#")}


def problems_of(pe, allowed, known_dlls=None):
    problems = []
    if pe.machine != MACHINE_I386:
        problems.append("machine is 0x%04x, not i386 (0x014c)" % pe.machine)
    if pe.magic != PE32_MAGIC:
        problems.append("not a PE32 image (optional header magic 0x%04x)" % pe.magic)
    if pe.subsystem != SUBSYSTEM_GUI:
        problems.append("subsystem is %d, not Windows GUI (2)" % pe.subsystem)
    if tuple(pe.subsystem_version) > MAX_SUBSYSTEM_VERSION:
        problems.append("subsystem version %d.%d is above 5.1: Windows XP refuses to start it"
                        % tuple(pe.subsystem_version))
    for dll, names in pe.imports():
        if dll.lower().startswith(("api-ms-win", "ext-ms-win")):
            problems.append("imports from the API set %s (Windows 7 and later)" % dll)
            continue
        if known_dlls is not None and dll.lower() not in known_dlls:
            problems.append("imports %s, which is not a KnownDLL everywhere: Windows looks for it beside the "
                            "program first (load it from the system folder at run time)" % dll)
        for name in names:
            if dll.lower() + "!" + name not in allowed:
                problems.append("imports %s!%s, which is not on the reviewed list" % (dll, name))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program")
    parser.add_argument("--list", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp-imports.txt"))
    parser.add_argument("--known-dlls", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "known-dlls.txt"))
    parser.add_argument("--print", action="store_true", help="list the imports instead of checking them")
    args = parser.parse_args()
    try:
        with open(args.program, "rb") as f:
            pe = PeFile(f.read())
        if args.print:
            for dll, names in pe.imports():
                print("%s (%d)" % (dll, len(names)))
                for name in names:
                    print("  " + name)
            return 0
        problems = problems_of(pe, read_list(args.list), read_dlls(args.known_dlls))
    except (OSError, PeError, struct.error, ValueError) as error:
        print("check-xp-imports: %s: %s" % (args.program, error), file=sys.stderr)
        return 2
    if problems:
        print("check-xp-imports: %s can't start on Windows XP SP3:" % args.program, file=sys.stderr)
        for problem in problems:
            print("  " + problem, file=sys.stderr)
        return 1
    count = sum(len(names) for _, names in pe.imports())
    print("check-xp-imports: %s imports %d functions, all on the reviewed list" % (args.program, count))
    return 0


if __name__ == "__main__":
    sys.exit(main())

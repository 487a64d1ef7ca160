#!/usr/bin/env python3
"""The guard of the game folder's handle layer.

    python3 tools/check-by-name-acts.py [SOURCE_ROOT]

Every act on the game folder goes through HeldFolder (engine/common), which
opens the folder once and reaches everything below it through handles. A
call that acts on a file by its path (CreateFileW, DeleteFileW, the
program's own by-name helpers, ...) anywhere else in app/, engine/ or ui/ could be
sent elsewhere by a link put on that path meanwhile. Such calls are allowed
only in the files listed below, each for a reason that keeps it away from the
game folder. Exits 1, naming each call found elsewhere.
"""
import os
import re
import sys

# Win32 calls that resolve a path at every call, and the program's own
# helpers that do (win/FileLinks.h, win/FolderListing.h, win/SmallFile.h).
BY_NAME = [
    "CreateFileW", "CreateFileA", "CreateFile", "DeleteFileW", "DeleteFile", "MoveFileW", "MoveFileExW",
    "MoveFile", "MoveFileEx", "CopyFileW", "CopyFileExW", "ReplaceFileW", "CreateDirectoryW", "CreateDirectory",
    "RemoveDirectoryW", "RemoveDirectory", "SetFileAttributesW", "GetFileAttributesW", "GetFileAttributesExW",
    "FindFirstFileW", "FindFirstFileExW", "GetDiskFreeSpaceExW", "PathFileExistsW", "_wfopen", "_wopen",
    "CreateHardLinkW", "CreateSymbolicLinkW", "DeleteItself", "IsLink", "ListFolder", "ReadSmallFile",
    "FileDigest",
]
# A helper's name after "." or "->" is a method (HeldFolder's own), not the helper.
CALL = re.compile(r"(?<![\w.>:])(?:::)?(" + "|".join(map(re.escape, BY_NAME)) + r")\s*\(")
OWN_FILE = re.compile(r"(?<![\w.>])OpenOwnFile\s*\(")

# file -> why it may act by name.
ALLOWED = {
    "engine/common/HeldFolder.cpp": "the layer itself: the folder's own path is resolved once, when it is opened",
    "engine/common/HeldFolder.h": "declares the layer's own OpenOwnFile",
    "engine/config/Signature.cpp": "FileDigest: files the caller names, outside the game folder",
    "engine/config/Signature.h": "declares FileDigest",
    "engine/RepairEngine.cpp": "LoadConfig and the configuration worker read the configuration in the temporary "
                               "folder",
    "engine/SignedConfig.cpp": "the configuration's signature in the temporary folder",
    "engine/repair/RepairPlan.cpp": "ReadSmallFile: the manifest fetched into the temporary folder",
    "engine/game/InstallFolder.cpp": "looks for the game folder, before any repair opens it",
}


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


def offending(root):
    found = []
    for room in ("app", "engine", "ui"):
        for folder, _, names in os.walk(os.path.join(root, room)):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, root).replace(os.sep, "/")
                if relative in ALLOWED:
                    continue
                with open(path, encoding="utf-8") as source:
                    lines = strip_comments(source.read()).split("\n")
                for number, line in enumerate(lines, 1):
                    for match in list(CALL.finditer(line)) + list(OWN_FILE.finditer(line)):
                        found.append("%s:%d: %s" % (relative, number, match.group(0).rstrip("( ")))
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = offending(root)
    for line in found:
        print(line + ": acts on a file by its path outside HeldFolder")
    if found:
        print("%d by-name file call(s) outside the reviewed files; act through HeldFolder, or add the file to "
              "ALLOWED with the reason it never reaches the game folder" % len(found))
        return 1
    print("by-name file calls: only in the %d reviewed files" % len(ALLOWED))
    return 0


if __name__ == "__main__":
    sys.exit(main())

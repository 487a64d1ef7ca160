#!/usr/bin/env python3
"""Builds the realistic corpus of the extraction benchmark: bench_corpus.py DEST [MB]

DEST/Cross gets what a game's component folder looks like: real Windows PE DLLs
(Debian's wine64 package, /usr/lib/x86_64-linux-gnu/wine/x86_64-windows) up to
three quarters of MB (200 by default), then Debian's fonts and icons
(/usr/share/fonts, /usr/share/icons). Files are taken in sorted order, so the
same installed packages give the same corpus. Links and names Windows can't
hold are left out. Nothing of it is kept in the repository.
"""
import os
import shutil
import sys

DLLS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
SHARED = [("fonts", "/usr/share/fonts"), ("icons", "/usr/share/icons")]
BAD = set('<>:"|?*\\')


def usable(relative):
    parts = relative.split(os.sep)
    return (len(relative) < 180 and all(p and p[-1] not in ". " and not (set(p) & BAD) for p in parts)
            and all(ord(c) >= 32 for c in relative))


def files_under(root):
    for folder, folders, names in os.walk(root):
        folders.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                yield path, os.path.relpath(path, root)


def copy_in(path, target):
    """Copies one file into the corpus; returns its size."""
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(path, target)
    return os.path.getsize(path)


def main():
    dest = os.path.join(sys.argv[1], "Cross")
    total_mb = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    shutil.rmtree(dest, ignore_errors=True)
    budget, count, size = total_mb * 3 // 4 * 1024 * 1024, 0, 0
    for path, relative in files_under(DLLS):
        if size >= budget:
            break
        size += copy_in(path, os.path.join(dest, "bin", relative))
        count += 1
    for name, root in SHARED:
        for path, relative in files_under(root):
            if usable(os.path.join(name, relative)):
                size += copy_in(path, os.path.join(dest, name, relative))
                count += 1
    print("corpus: %d files, %d MB" % (count, size // (1024 * 1024)))


if __name__ == "__main__":
    main()

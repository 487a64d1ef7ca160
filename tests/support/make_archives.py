#!/usr/bin/env python3
"""Makes the tests' 7z archives with Debian's 7-Zip (7zz) from generated content.

Hostile entry names, which 7-Zip refuses to store, are made by storing harmless
names of the same length with an uncompressed header and rewriting them there
(with the header's CRCs recomputed).
"""
import lzma
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import zlib

OUT = os.path.abspath(sys.argv[1])
WORK = os.path.join(OUT, "src")


def pattern(n, seed=0):
    return bytes(((i * 7 + 3 + seed) % 251) for i in range(n))


def text(n, seed=0):
    words = [b"varnok ", b"cross ", b"lumora ", b"repair ", b"qelvan ", b"\n"]
    out = bytearray()
    i = seed
    while len(out) < n:
        out += words[(i * 5 + i // 7) % len(words)]
        i += 1
    return bytes(out[:n])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def tree(name, files, empty_dirs=()):
    root = os.path.join(WORK, name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    for rel, data in files.items():
        write(os.path.join(root, rel), data)
    for rel in empty_dirs:
        os.makedirs(os.path.join(root, rel), exist_ok=True)
    return root


def seven_zip(archive, root, *switches, entries=None):
    path = os.path.join(OUT, archive)
    if os.path.exists(path):
        os.remove(path)
    cmd = ["7zz", "a", "-bd", "-bso0", "-bsp0", path] + list(switches) + (entries or ["."])
    subprocess.run(cmd, cwd=root, check=True)
    return path


def rewrite_names(archive, renames):
    """Replaces entry names in an archive whose header is stored uncompressed."""
    path = os.path.join(OUT, archive)
    data = bytearray(open(path, "rb").read())
    offset, size = struct.unpack_from("<QQ", data, 12)
    start = 32 + offset
    header = bytes(data[start:start + size])
    for old, new in renames.items():
        assert len(old) == len(new), (old, new)
        old_b, new_b = (name.encode("utf-16-le", "surrogatepass") + b"\0\0" for name in (old, new))
        assert header.count(old_b) == 1, old
        header = header.replace(old_b, new_b)
    data[start:start + size] = header
    struct.pack_into("<I", data, 28, zlib.crc32(header))
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))
    open(path, "wb").write(data)


def number(value):
    """A 7z number: the first byte's leading one bits count the bytes that follow."""
    for extra in range(8):
        if value < 1 << (7 * (extra + 1)):
            high = value >> (8 * extra)
            first = (0xFF00 >> extra) & 0xFF | high
            return bytes([first]) + value.to_bytes(8, "little")[:extra]
    return b"\xff" + value.to_bytes(8, "little")


def encode_header(archive, encoded, claimed=None):
    """Copies an archive whose header is stored plain into `encoded`, where the
    same header is a packed stream (Copy coder) behind an encoded header, the
    other form a reader meets; `claimed`, the unpacked size it claims instead."""
    data = bytearray(open(os.path.join(OUT, archive), "rb").read())
    offset, size = struct.unpack_from("<QQ", data, 12)
    header = bytes(data[32 + offset:32 + offset + size])
    streams = (b"\x06" + number(offset) + number(1) + b"\x09" + number(size) + b"\x00" +   # pack info
               b"\x07\x0b" + number(1) + b"\x00" + b"\x01\x01\x00" +                     # one folder: Copy
               b"\x0c" + number(claimed or size) + b"\x0a\x01" + struct.pack("<I", zlib.crc32(header)) + b"\x00" +
               b"\x00")
    next_header = b"\x17" + streams
    out = data[:32 + offset + size] + next_header
    struct.pack_into("<QQI", out, 12, offset + size, len(next_header), zlib.crc32(next_header))
    struct.pack_into("<I", out, 8, zlib.crc32(bytes(out[12:32])))
    open(os.path.join(OUT, encoded), "wb").write(out)


def fix_header_crcs(path):
    """Recomputes the CRCs of a plain header and of the start header after the header was changed."""
    data = bytearray(open(path, "rb").read())
    offset, size = struct.unpack_from("<QQ", data, 12)
    struct.pack_into("<I", data, 28, zlib.crc32(bytes(data[32 + offset:32 + offset + size])))
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))
    open(path, "wb").write(data)


def inflate_unpack_size(path, old, new):
    """Rewrites a block's unpack size (7z number after kCodersUnpackSize) as a 9-byte number."""
    data = bytearray(open(path, "rb").read())
    offset, size = struct.unpack_from("<QQ", data, 12)
    start = 32 + offset
    header = bytes(data[start:start + size])
    assert old < 0x4000
    old_b = bytes([0x0C, 0x80 | (old >> 8), old & 0xFF])
    assert header.count(old_b) == 1
    header = header.replace(old_b, b"\x0c\xff" + struct.pack("<Q", new))
    data = data[:start] + header
    struct.pack_into("<QQI", data, 12, offset, len(header), zlib.crc32(header))
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))
    open(path, "wb").write(data)


def two_blocks(archive, root, first, second, switches):
    """An archive of two blocks, the second appended by a second run of 7-Zip with other coder properties."""
    path = seven_zip(archive, root, switches[0], "-mhc=off", entries=[first])
    subprocess.run(["7zz", "a", "-bd", "-bso0", "-bsp0", path, switches[1], "-mhc=off", second], cwd=root, check=True)
    return path


def damage_second_coder(path, coder, damaged):
    """Gives the second block's coder, found by the bytes `coder` (flags, id, properties' size), the
    properties `damaged` instead of its own: an archive of plain header whose later block 7-Zip refuses."""
    data = bytearray(open(path, "rb").read())
    first = data.index(coder)
    at = data.index(coder, first + 1) + len(coder)
    data[at:at + len(damaged)] = damaged
    open(path, "wb").write(data)
    fix_header_crcs(path)


def main():
    os.makedirs(OUT, exist_ok=True)
    shutil.rmtree(WORK, ignore_errors=True)

    # The package of a repair: the Cross folder with text, binaries and nested folders.
    package = {
        "Cross/CrossApp.dll": pattern(300000, 1),
        "Cross/config/settings.ini": text(4000, 2),
        "Cross/res/ui/skin.dat": pattern(150000, 3),
        "Cross/res/ui/readme.txt": text(20000, 4),
        "Cross/version.txt": b"26.12.7\n",
    }
    root = tree("package", package, empty_dirs=["Cross/logs"])
    seven_zip("package.7z", root, "-m0=LZMA2", "-mf=BCJ", "-ms=on")

    mixed = {
        "Cross/a.txt": text(50000, 5),
        "Cross/b.bin": pattern(70000, 6),
        "Cross/sub/c.txt": text(3000, 7),
        "Cross/empty.txt": b"",
        "Cross/资源/说明.txt": "中文内容".encode("utf-8") * 100,
    }
    root = tree("mixed", mixed, empty_dirs=["Cross/空文件夹", "Cross/logs"])
    for name, switches in {
        "lzma.7z": ["-m0=LZMA"],
        "lzma2.7z": ["-m0=LZMA2"],
        "bcj.7z": ["-m0=LZMA2", "-mf=BCJ"],
        "bcj2.7z": ["-m0=LZMA", "-mf=BCJ2"],
        "bcj2-blocks.7z": ["-m0=LZMA", "-mf=BCJ2", "-ms=1f"],  # blocks decoded whole, side by side
        "arm64.7z": ["-m0=LZMA2", "-mf=ARM64"],
        "arm.7z": ["-m0=LZMA2", "-mf=ARM"],
        "delta.7z": ["-m0=LZMA2", "-mf=Delta:4"],
        "solid.7z": ["-m0=LZMA2", "-ms=on"],
        "nonsolid.7z": ["-m0=LZMA2", "-ms=off"],
        "copy.7z": ["-m0=Copy"],
        "ppmd.7z": ["-m0=PPMd"],
        "encrypted.7z": ["-m0=LZMA2", "-psecret", "-mhe=off"],
        "encrypted-header.7z": ["-m0=LZMA2", "-psecret", "-mhe=on"],
    }.items():
        seven_zip(name, root, *switches)

    # Blocks with coder properties of their own: a later block needs a larger
    # dictionary (its repeats lie 256 KB apart; 7-Zip writes a small dictionary
    # for a small block), or other lc/lp/pb, than the first.
    far = random.Random(13).randbytes(256 << 10)
    root = tree("blocks", {"Cross/small.txt": text(3000, 13), "Cross/big.dll": far + far})
    two_blocks("two-dictionaries.7z", root, "Cross/small.txt", "Cross/big.dll", ["-m0=LZMA2:d=64k", "-m0=LZMA2:d=8m"])
    two_blocks("two-lclppb.7z", root, "Cross/small.txt", "Cross/big.dll", ["-m0=LZMA:lc=0:lp=2", "-m0=LZMA"])
    # The same, where the later block's properties are impossible: an LZMA2
    # dictionary byte past 40, lc/lp/pb past 8/4/4.
    shutil.copy(os.path.join(OUT, "two-dictionaries.7z"), os.path.join(OUT, "bad-lzma2-property.7z"))
    damage_second_coder(os.path.join(OUT, "bad-lzma2-property.7z"), b"\x21\x21\x01", b"\x29")
    shutil.copy(os.path.join(OUT, "two-lclppb.7z"), os.path.join(OUT, "bad-lzma-properties.7z"))
    damage_second_coder(os.path.join(OUT, "bad-lzma-properties.7z"), b"\x23\x03\x01\x01\x05", b"\xe1")

    # Blocks that cross the decoders' 2 MiB buffers several times: x86-like
    # bytes with calls the BCJ filter converts, one of them straddling each
    # buffer boundary. The unpacked files are compared with crossing.bin.
    rng = random.Random(21)
    code = bytearray()
    while len(code) < 7 << 20:
        code += b"\xe8" + struct.pack("<i", rng.randint(-0x8000, 0x8000)) if rng.random() < 0.2 \
            else rng.randbytes(rng.randint(1, 12))
    code = code[:7 << 20]
    for boundary in range(2 << 20, len(code), 2 << 20):
        code[boundary - 2:boundary + 3] = b"\xe8\x00\x10\x00\x00"
    write(os.path.join(OUT, "crossing.bin"), bytes(code))
    root = tree("crossing", {"Cross/code.dll": bytes(code), "Cross/more.dll": bytes(code[::-1])})
    seven_zip("crossing.7z", root, "-m0=LZMA2", "-mf=BCJ", "-ms=on")            # one block, streamed
    seven_zip("crossing-blocks.7z", root, "-m0=LZMA2", "-mf=BCJ", "-ms=1f")     # two, side by side

    # Stored attributes: read-only and hidden files, as a Unix-side 7-Zip records them.
    root = tree("attrib", {"Cross/readonly.txt": b"read only\n", "Cross/normal.txt": b"normal\n"})
    os.chmod(os.path.join(root, "Cross/readonly.txt"), stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    seven_zip("attrib.7z", root, "-m0=LZMA2")

    # Damaged archives.
    root = tree("damage", {"Cross/one.bin": pattern(40000, 8), "Cross/two.bin": pattern(40000, 9)})
    copy = seven_zip("crc-damaged.7z", root, "-m0=Copy", "-ms=off", "-mhc=off")
    data = bytearray(open(copy, "rb").read())
    data[32 + 50000] ^= 0xFF            # inside the second file's stored bytes
    open(copy, "wb").write(data)
    whole = open(seven_zip("truncated.7z", root, "-m0=LZMA2"), "rb").read()
    open(os.path.join(OUT, "truncated.7z"), "wb").write(whole[: len(whole) // 2])
    write(os.path.join(OUT, "not-an-archive.7z"), b"<html><body>404 Not Found</body></html>\n")

    # A block that asks for a dictionary of 4 GB for 3 GB of data: more than
    # the program can hold, refused before anything is allocated.
    huge = seven_zip("huge-dictionary.7z", tree("huge-dictionary", {"Cross/big.bin": pattern(1000, 10)}),
                     "-m0=LZMA:d=64k", "-mhc=off")
    data = bytearray(open(huge, "rb").read())
    props = b"\x03\x01\x01\x05\x5d"  # the LZMA coder's id and its 5 property bytes: lc/lp/pb, then the dictionary
    at = data.index(props) + len(props)
    assert data.count(props) == 1
    data[at:at + 4] = b"\xff\xff\xff\xff"
    open(huge, "wb").write(data)
    fix_header_crcs(huge)
    inflate_unpack_size(huge, 1000, 3 << 30)

    # A block claiming 2^50 unpacked bytes: no drive has room for it.
    huge = seven_zip("huge-block.7z", tree("huge", {"Cross/big.bin": pattern(1000, 10)}), "-m0=Copy",
                     "-mhc=off")
    inflate_unpack_size(huge, 1000, 1 << 50)

    # An archive without entries: only the signature header, next header empty.
    start = struct.pack("<QQI", 0, 0, 0)
    write(os.path.join(OUT, "empty.7z"),
          b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<I", zlib.crc32(start)) + start)

    # Many entries, for cancelling an extraction in the middle.
    many = {"Cross/many/f%04d.txt" % i: text(2000, i) for i in range(1500)}
    seven_zip("many.7z", tree("many", many), "-m0=LZMA2", "-ms=off")

    # A package large enough that its download takes thousands of chunks.
    seven_zip("big.7z", tree("big", {"Cross/big.bin": os.urandom(24 << 20)}), "-m0=Copy")

    # A path longer than the 260-character buffer once joined to a game folder.
    deep = "Cross/" + "/".join(["d" * 60] * 4) + "/file.txt"
    seven_zip("long-path.7z", tree("long", {"Cross/first.txt": b"first\n", deep: b"deep\n"}), "-m0=Copy")

    # A file name of 150 characters: its path just fits 259 characters in a
    # folder of 102, where "<name>.part" would not.
    seven_zip("long-name.7z", tree("long-name", {"Cross/" + "n" * 146 + ".txt": b"fits\n"}), "-m0=Copy")

    # An encoded header that claims to unpack to 3 GiB (a size the 32-bit program could still ask for).
    seven_zip("plain-header.7z", tree("plain-header", {"Cross/a.txt": b"a\n"}), "-m0=Copy", "-mhc=off")
    encode_header("plain-header.7z", "header-claims-too-much.7z", claimed=3 << 30)

    # Names that meet: rewritten in the header, since 7-Zip won't store them
    # so. One name twice in two blocks; two names one to Windows ("é", "É");
    # X beside X.part; a folder entry with a "/" at its end, one with "\"
    # inside, and one whose name wine can't give a Unix name (a lone surrogate).
    names = {
        "dup-blocks.7z": ({"Cross/dupA.txt": b"earlier\n", "Cross/dupB.txt": b"the later entry\n"},
                          {"Cross/dupB.txt": "Cross/dupA.txt"}, ["-ms=1f"]),
        "case-blocks.7z": ({"Cross/e.txt": b"lower case\n", "Cross/f.txt": b"the later entry\n"},
                           {"Cross/e.txt": "Cross/\u00e9.txt", "Cross/f.txt": "Cross/\u00c9.txt"}, ["-ms=1f"]),
        "part-beside.7z": ({"Cross/X": b"new X\n", "Cross/X.part": b"new X.part\n"}, {}, []),
        "folder-slash.7z": ({"Cross/a.txt": b"a\n", "Cross/NewDirX/": None}, {"Cross/NewDirX": "Cross/NewDir/"}, []),
        "folder-backslash.7z": ({"Cross/New_Sub/": None}, {"Cross/New_Sub": "Cross\\New\\Sub"}, []),
        "folder-unfit.7z": ({"Cross/a.txt": b"a\n", "Cross/dd/": None}, {"Cross/dd": "Cross/d\ud800"}, []),
    }
    for archive, (files, renames, switches) in names.items():
        stem = archive[:-len(".7z")]
        root = tree(stem, {k: v for k, v in files.items() if v is not None},
                    empty_dirs=[k for k, v in files.items() if v is None])
        seven_zip(archive, root, "-m0=LZMA2", "-mhc=off", *switches)
        if renames:
            rewrite_names(archive, renames)

    # Names that hold ".." without being "..": legal, and journaled like any other.
    seven_zip("dots.7z", tree("dots", {"Cross/a..b.txt": b"new a..b\n", "Cross/v1..2/x.txt": b"new x\n",
                                       "Cross/..cfg": b"new cfg\n"}), "-m0=LZMA2")

    # Small seeds for the fuzz test, most with an uncompressed header so that
    # mutations reach the header parser.
    seed = {"Cross/a.txt": text(300, 11), "Cross/sub/b.bin": pattern(200, 12), "Cross/empty.txt": b""}
    root = tree("fuzz", seed, empty_dirs=["Cross/logs"])
    for name, switches in {
        "fuzz-lzma2.7z": ["-m0=LZMA2", "-mhc=off"],
        "fuzz-lzma-packed-header.7z": ["-m0=LZMA"],
        "fuzz-bcj.7z": ["-m0=LZMA", "-mf=BCJ", "-mhc=off"],
        "fuzz-lzma2-blocks.7z": ["-m0=LZMA2", "-ms=1f", "-mhc=off"],
        "fuzz-copy.7z": ["-m0=Copy", "-ms=off", "-mhc=off"],
        "fuzz-bcj2.7z": ["-m0=LZMA", "-mf=BCJ2", "-ms=1f", "-mhc=off"],
        "fuzz-delta.7z": ["-m0=LZMA2", "-mf=Delta:2", "-mhc=off"],
        "fuzz-ppmd.7z": ["-m0=PPMd", "-mhc=off"],
    }.items():
        seven_zip(name, root, *switches)
    near = random.Random(14).randbytes(80 << 10)
    write(os.path.join(root, "Cross/far.bin"), near + near)
    two_blocks("fuzz-two-dictionaries.7z", root, "Cross/a.txt", "Cross/far.bin", ["-m0=LZMA2:d=64k", "-m0=LZMA2:d=1m"])

    # Hostile names: a harmless first entry, then the rewritten one, each with
    # its header stored plain and encoded.
    hostile = {
        "parent": "../evil.txt",
        "parent-inner": "Cross/../../evil.txt",
        "slash": "/evil.txt",
        "backslash": "\\evil.txt",
        "drive": "C:evil.txt",
        "stream": "Cross/a.txt:evil",
        "device": "Cross/CON.txt",
        "device-bare": "Cross/nul",
        "com": "Cross/com1.log",
        "com-superscript": "Cross/COM\u00b9.txt",
        "lpt-superscript": "Cross/lpt\u00b3",
        "com-zero": "Cross/COM0",
        "lpt-zero": "Cross/lpt0.txt",
        "conin": "Cross/CONIN$",
        "conout": "Cross/conout$.log",
        "backslash-parent": "Cross\\..\\..\\evil.txt",
        "trailing-dot": "Cross/a.txt.",
        "trailing-blank": "Cross/a.txt ",
        "dots": "Cross/x...",
        "blanks": "Cross/   ",
        "dot-folder": "Cross/sub./a.txt",
        "line-break": "Cross/a\nb",
        "control": "Cross/a\x01b",
        "less": "Cross/a<b",
        "greater": "Cross/a>b",
        "quote": "Cross/a\"b",
        "bar": "Cross/a|b",
        "question": "Cross/a?b",
        "star": "Cross/a*b",
    }
    for name, bad in hostile.items():
        placeholder = "Q" * len(bad)
        files = {"Cross/first.txt": b"first\n", placeholder: b"evil\n"}
        seven_zip("hostile-%s.7z" % name, tree("hostile-" + name, files), "-m0=LZMA2", "-mhc=off",
                  entries=["Cross/first.txt", placeholder])
        rewrite_names("hostile-%s.7z" % name, {placeholder: bad})
        encode_header("hostile-%s.7z" % name, "hostile-%s-encoded-header.7z" % name)
    with open(os.path.join(OUT, "hostile-names.txt"), "w", encoding="utf-8") as listing:
        listing.write("".join("hostile-%s.7z\nhostile-%s-encoded-header.7z\n" % (n, n) for n in hostile))

    compact_manifests()
    shutil.rmtree(WORK, ignore_errors=True)
    return 0


def compact_manifests():
    """A package published with tools/publish-package (both manifests, in
    published/), and compact manifests that must be refused."""
    source = tree("published-source", {"Cross/CrossApp.dll": pattern(300000, 1), "Cross/res/说明.txt": text(40000),
                                       "Cross/config/settings.ini": b"[Cross]\r\nversion=1\r\n"},
                  empty_dirs=["Cross/logs"])
    published = os.path.join(OUT, "published")
    shutil.rmtree(published, ignore_errors=True)
    tool = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "publish-package")
    subprocess.run([sys.executable, tool, source, published, "--url", "http://127.0.0.1:1/packages/cross.7z",
                    "--largest-block", "40"], check=True, capture_output=True)
    with open(os.path.join(published, "cross.7z.manifest"), "rb") as f:
        plain = f.read()
    with open(os.path.join(published, "cross.7z.manifest.lzma"), "rb") as f:
        compact = f.read()
    sized = compact[:5] + struct.pack("<Q", len(plain)) + compact[13:]
    wrong_size = compact[:5] + struct.pack("<Q", len(plain) - 1) + compact[13:]
    damaged = bytearray(compact)
    damaged[len(damaged) // 2] ^= 0x55
    big_dictionary = compact[:1] + struct.pack("<I", 1 << 30) + compact[5:]
    bomb = lzma.compress(b"file\t" * (14 << 20), format=lzma.FORMAT_ALONE,
                         filters=[{"id": lzma.FILTER_LZMA1, "preset": 0, "dict_size": 1 << 20}])
    for name, data in [("sized", sized), ("wrong-size", wrong_size), ("cut", compact[:len(compact) // 2]),
                       ("trailing", compact + b"x"), ("damaged", bytes(damaged)), ("big-dictionary", big_dictionary),
                       ("bomb", bomb), ("short", compact[:9])]:
        write(os.path.join(OUT, "compact-manifests", name + ".lzma"), data)


if __name__ == "__main__":
    sys.exit(main())

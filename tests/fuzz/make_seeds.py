#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz corpora (small valid and
nearly valid archives, and pack tree descriptions). The committed corpora are
these seeds merged with what fuzzing found (scripts/fuzz.sh --merge)."""
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SIG = b"GEEK\x00\x01\x00\x00"


def archive(entries, count=None, dir_end=None, reserved=0):
    """entries: (name bytes, data, offset delta, size override or None)."""
    n = len(entries)
    out = bytearray(SIG)
    out += struct.pack("<iii", 20 + 136 * n if dir_end is None else dir_end, reserved,
                       n if count is None else count)
    offset = 20 + 136 * n
    body = b""
    for name, data, delta, size in entries:
        field = name[:128].ljust(128, b"\0")
        out += struct.pack("<ii", offset + delta, len(data) if size is None else size) + field
        offset += len(data)
        body += data
    return bytes(out + body)


def e(name, data=b"", delta=0, size=None):
    if isinstance(name, str):
        name = name.encode("cp1251")
    return (name, data, delta, size)


ARCHIVES = {
    "empty": archive([]),
    "one": archive([e("Version\\Data\\a.txt", b"hello")]),
    "three": archive([e("Version\\Data\\b.dat", b"\x00\x01\x02" * 10),
                      e("Version\\a.txt", b"text\r\n"), e("Version\\c", b"")]),
    "cyrillic": archive([e("Version\\Data\\файл игры.dat", "данные".encode("cp1251"))]),
    "long-name": archive([e(b"Version\\" + b"n" * 120, b"x")]),
    "zero-size": archive([e("Version\\empty", b""), e("Version\\Data\\z", b"")]),
    "subfolders": archive([e("Version\\Sub\\deep\\x.bin", b"deep"), e("Version/Data/y", b"y")]),
    "traversal": archive([e("..\\evil", b"1"), e("\\abs", b"2"), e("C:\\x", b"3"),
                          e("Version\\..\\..\\evil", b"4"), e("/etc/x", b"5"),
                          e("Version\\\\x", b"6"), e("Version\\.\\x", b"7"),
                          e("Version\\ctl\x01", b"8"), e("Version\\ok", b"ok")]),
    "planted-links": archive([e("out\\x", b"1"), e("up\\x", b"2"), e("Version\\abs\\x", b"3"),
                              e("Version\\Data\\sentinel", b"4"), e("Version\\sentinel", b"5"),
                              e("out", b"6")]),
    "bounds": archive([e("Version\\past", b"abc", 1000), e("Version\\neg", b"abc", 0, -1),
                       e("Version\\big", b"abc", 0, 0x7fffffff),
                       e("Version\\negoff", b"abc", -10**6)]),
    "duplicates": archive([e("Version\\a", b"first"), e("Version\\A", b"second"),
                           e("Version\\a", b"third")]),
    "file-then-folder": archive([e("Version\\a", b"file"), e("Version\\a\\b", b"under"),
                                 e("Version\\c\\d", b"dir"), e("Version\\c", b"over"),
                                 e("Version", b"root")]),
    "overlap": archive([e("Version\\a", b"abcdef"), e("Version\\b", b"", -6, 4)]),
    "count-huge": archive([e("Version\\a", b"x")], count=0x7fffffff),
    "count-negative": archive([], count=-1, dir_end=20),
    "dir-end-wrong": archive([e("Version\\a", b"x")], dir_end=21),
    "no-nul-name": archive([(b"V" * 128, b"full", 0, None)]),
    "bad-signature": b"geek\x00\x01\x00\x00" + struct.pack("<iii", 20, 0, 0),
    "short": SIG + b"\x14\x00",
}


def pack_tree(items):
    """items: (kind, name bytes, data); kind 0 Data file, 1 Version file,
    2 link, 3 subfolder, 4 FIFO; kind | 0x80 makes data length x257."""
    out = b""
    for kind, name, data in items:
        if isinstance(name, str):
            name = name.encode()
        big = kind & 0x80
        n = len(data) // 257 if big else len(data)
        out += bytes([kind, len(name), n]) + name + data[: n * 257 if big else n]
    return out


TREES = {
    "simple": pack_tree([(0, "b.dat", b"\x01\x02\x03"), (1, "a.txt", b"hello")]),
    "mixed-case": pack_tree([(0, "B", b"b"), (0, "a", b"a"), (0, "C", b"c"), (1, "z", b"z"),
                             (1, "Y", b"y")]),
    "cyrillic": pack_tree([(0, "файл.dat", b"data"), (1, ".hidden", b"h")]),
    "links-folders-fifos": pack_tree([(0, "target", b"linked"), (2, "link", b""),
                                      (3, "sub", b"inner"), (4, "fifo", b""), (1, "x", b"")]),
    "big": pack_tree([(0x80, "big.bin", bytes(range(256)) * 4 + b"\x00" * 3)]),
    "refused": pack_tree([(1, "back\\slash", b"1"), (0, "€uro ok", b"2"),
                          (0, "中文", b"3"), (1, "n" * 130, b"4"), (1, "ctl\x01", b"5")]),
    "control-character": pack_tree([(1, "tab\there", b"t"), (0, "ok", b"ok")]),
}


def edits(entries, changes):
    """A rewrite description: entries as (name pick, size), then edits as
    ("replace", index + 1, size), ("remove", index + 1) or ("add", name pick,
    size). Name picks index the target's pool; sizes are in bytes (< 256)."""
    out = bytes([len(entries)])
    for pick, size in entries:
        out += bytes([pick, size, 0])
    for change in changes:
        kind = {"replace": 0, "remove": 1, "add": 2}[change[0]]
        out += bytes([kind]) + bytes(change[1:2])
        if kind != 1:
            out += bytes([change[2], 0])
    return out


EDITS = {
    "replace-middle": edits([(0, 3), (2, 5), (4, 1)], [("replace", 2, 40)]),
    "remove-and-add": edits([(0, 3), (2, 5)], [("remove", 1), ("add", 1, 7)]),
    "add-case-twin": edits([(0, 3)], [("add", 1, 2)]),
    "add-folder-clash": edits([(5, 3)], [("add", 4, 2)]),
    "add-required-folder": edits([(0, 1)], [("add", 3, 2)]),
    "unsafe-names": edits([(7, 1), (8, 1)], [("replace", 1, 9), ("add", 9, 1)]),
    "cyrillic-slashes": edits([(10, 2)], [("add", 6, 3), ("remove", 1)]),
    "bad-indexes": edits([(0, 1)], [("remove", 0), ("replace", 9, 1)]),
    "twice": edits([(0, 1), (2, 2)], [("remove", 2), ("replace", 2, 4)]),
    "everything-removed": edits([(0, 1), (2, 2)], [("remove", 1), ("remove", 2)]),
}


def write(folder, items):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for data in items:
        name = hashlib.sha1(data).hexdigest()
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    which = sys.argv[1:] or ["load", "extract", "pack", "rewrite"]
    seeds = {"pack": TREES, "rewrite": EDITS}
    for folder in which:
        write(folder, seeds.get(folder, ARCHIVES).values())

#!/usr/bin/env python3
"""Reads the mod data the way the game does, written from the format
description alone: "zqr_mods.txt" names each patched file list with its
archive and the archive's size; a member whose position lies at or past the
archive's end is read from the extension file "<archive>.zqrext", whose data
continue the archive after its 16-byte header.

  game_reader.py AMBER_DATA MODS OUT   writes every member of every patched
                                       list to OUT/<path with "/" as "__">
                                       and prints "member POSITION PATH"

Exits 1 with a message on standard error when something does not hold.
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from filelist_peer import fail, read  # noqa: E402


def member(archive, ext, base, position, unpacked, stored):
    start = position * 2048
    if start < base:
        if start + stored > base:
            fail("a member runs past the archive's end")
        data = archive[start:start + stored]
    else:
        at = 16 + start - base
        if at + stored > len(ext):
            fail("a member runs past the extension file's end")
        data = ext[at:at + stored]
    if stored != unpacked:
        data = zlib.decompress(data)
    if len(data) != unpacked:
        fail("a member is %d bytes, its line says %d" % (len(data), unpacked))
    return data


def main(amber, mods, out):
    for line in open(os.path.join(mods, "zqr_mods.txt")).read().splitlines():
        list_rel, archive_rel, base = line.split(" ")
        base = int(base)
        archive = open(os.path.join(amber, archive_rel), "rb").read()
        if len(archive) != base:
            fail("%s is %d bytes, the index says %d" % (archive_rel, len(archive), base))
        ext = open(os.path.join(mods, archive_rel + ".zqrext"), "rb").read()
        if ext[:8] != b"ZQREXT01" or struct.unpack_from("<Q", ext, 8)[0] != base:
            fail("%s.zqrext has another header" % archive_rel)
        for _value, _chunk, _offset, text in read(os.path.join(mods, list_rel))["entries"]:
            position, unpacked, stored, path = text.split(":", 3)
            position, unpacked, stored = int(position, 16), int(unpacked, 16), int(stored, 16)
            data = member(archive, ext, base, position, unpacked, stored)
            open(os.path.join(out, path.replace("/", "__")), "wb").write(data)
            print("member %d %s" % (position, path))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        fail(__doc__)
    main(*sys.argv[1:])

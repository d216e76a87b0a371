#!/usr/bin/env python3
"""An independent reader and maker of the game's file lists, written from
the format description alone, and a checker of zlib streams.

  filelist_peer.py read LIST            prints "entry VALUE CHUNK OFFSET TEXT"
                                        lines, then "tail HEX"
  filelist_peer.py make DESC.json LIST  writes a list from a JSON description
  filelist_peer.py inflate DIR          every DIR/N.z must inflate to DIR/N.raw

Exits 1 with a message on standard error when something does not hold.
"""
import json
import os
import struct
import sys
import zlib


def fail(message):
    sys.stderr.write(message + "\n")
    sys.exit(1)


def read(path):
    data = open(path, "rb").read()
    if len(data) < 12:
        fail("shorter than its header")
    table, chunk_data, count = struct.unpack_from("<III", data, 0)
    if table < 12 + 8 * count or chunk_data < table or (chunk_data - table) % 12 or chunk_data > len(data):
        fail("header does not hold together")
    chunks, sizes, end = [], [], chunk_data
    for i in range((chunk_data - table) // 12):
        unpacked, packed, offset = struct.unpack_from("<III", data, table + 12 * i)
        start = chunk_data + offset
        if start + packed > len(data):
            fail("chunk %d runs past the end" % i)
        text = zlib.decompress(data[start:start + packed])
        if len(text) != unpacked:
            fail("chunk %d inflates to %d bytes, its record says %d" % (i, len(text), unpacked))
        chunks.append(text)
        sizes.append(unpacked)
        end = max(end, start + packed)
    entries = []
    for j in range(count):
        value, chunk, offset = struct.unpack_from("<IHH", data, 12 + 8 * j)
        if chunk >= len(chunks) or offset >= len(chunks[chunk]):
            fail("entry %d points outside its chunk" % j)
        line = chunks[chunk][offset:].split(b"\0", 1)[0]
        entries.append([value, chunk, offset, line.decode("latin-1")])
    return {"entries": entries, "sizes": sizes, "tail": data[end:].hex(), "table": table, "data": chunk_data}


def make(desc_path, out_path):
    desc = json.load(open(desc_path))
    chunks = [b"".join(line.encode("latin-1") + b"\0" for line in lines) for lines in desc["chunks"]]
    packed = [zlib.compress(c, 9) for c in chunks]
    # Chunks stored back to front, to show that offsets are followed.
    order = list(range(len(packed)))[::-1]
    offsets, blob = {}, b""
    for i in order:
        offsets[i] = len(blob)
        blob += packed[i]
    gap = desc.get("gap", 0)
    table = 12 + 8 * len(desc["entries"]) + gap
    chunk_data = table + 12 * len(chunks)
    out = struct.pack("<III", table, chunk_data, len(desc["entries"]))
    for value, chunk, line in desc["entries"]:
        offset = sum(len(l.encode("latin-1")) + 1 for l in desc["chunks"][chunk][:line])
        out += struct.pack("<IHH", value, chunk, offset)
    out += b"\0" * gap
    for i, c in enumerate(chunks):
        out += struct.pack("<III", len(c), len(packed[i]), offsets[i])
    out += blob + bytes.fromhex(desc.get("tail", ""))
    open(out_path, "wb").write(out)


def inflate(folder):
    names = sorted(n[:-2] for n in os.listdir(folder) if n.endswith(".z"))
    if not names:
        fail("no streams in " + folder)
    for n in names:
        stream = open(os.path.join(folder, n + ".z"), "rb").read()
        raw = open(os.path.join(folder, n + ".raw"), "rb").read()
        d = zlib.decompressobj()
        got = d.decompress(stream)
        if not d.eof or d.unused_data or got != raw:
            fail("%s: the stream does not inflate to its input" % n)
    print("%d streams inflate" % len(names))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "read":
        listing = read(sys.argv[2])
        for value, chunk, offset, text in listing["entries"]:
            print("entry %d %d %d %s" % (value, chunk, offset, text))
        print("tail " + listing["tail"])
    elif len(sys.argv) == 4 and sys.argv[1] == "make":
        make(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "inflate":
        inflate(sys.argv[2])
    else:
        fail(__doc__)

#!/usr/bin/env python3
"""Writes the ZIP reader's fixtures into the folder given: archives made by
Python's zipfile, Info-ZIP's zip (streamed, with data descriptors), bsdtar
and a small ZIP64 writer of our own, each with

  <archive>.list          one line per member as Python's infolist() sees it:
                          name, method, packed, unpacked, header offset, CRC-32
                          (tab-separated; "\\" in names made "/")
  <archive>.expected/<i>  member i's bytes as `unzip -p` gives them
"""
import os, shutil, struct, subprocess, sys, zipfile, zlib

out = sys.argv[1]
shutil.rmtree(out, ignore_errors=True)
os.makedirs(out)
src = os.path.join(out, "src")
os.makedirs(os.path.join(src, "dir"))

def pattern(n, seed):
    # Compressible but not trivial: a counter in text with a varying step.
    parts, size, i = [], 0, 0
    while size < n:
        parts.append(b"%d:%d;" % (i, (i * seed) % 9973))
        size += len(parts[-1])
        i += 1
    return b"".join(parts)[:n]

files = {
    "a.txt": b"hello, ember\n",
    "dir/b.bin": bytes((i * 131 + (i >> 7)) & 0xFF for i in range(300000)),
    "empty.txt": b"",
    "big.txt": pattern(4 * 1024 * 1024 + 123, 7),   # more than one 4 MiB piece
}
for name, data in files.items():
    with open(os.path.join(src, name), "wb") as f:
        f.write(data)

def py_zip(name, method, members, level=None):
    path = os.path.join(out, name)
    with zipfile.ZipFile(path, "w", compression=method, compresslevel=level) as z:
        for member, data in members:
            z.writestr(zipfile.ZipInfo(member, (2024, 1, 2, 3, 4, 6)), data, compress_type=method)
    return path

archives = []
members = [(n, d) for n, d in files.items()] + [("dir\\back.txt", b"stored with a backslash\n")]
archives.append(py_zip("py_stored.zip", zipfile.ZIP_STORED, members))
archives.append(py_zip("py_deflated.zip", zipfile.ZIP_DEFLATED, members, 9))
archives.append(py_zip("py_bzip2.zip", zipfile.ZIP_BZIP2, [("a.txt", files["a.txt"])]))
archives.append(py_zip("py_lzma.zip", zipfile.ZIP_LZMA, [("a.txt", files["a.txt"])]))
many = py_zip("py_many.zip", zipfile.ZIP_STORED, [("f%05d" % i, b"") for i in range(65536)])

def run(cmd, stdout=None):
    subprocess.run(cmd, cwd=src, check=True, stdout=stdout)

# Info-ZIP zip writing to a pipe: every member carries a data descriptor.
with open(os.path.join(out, "zip_streamed.zip"), "wb") as f:
    run(["zip", "-q", "-X", "-", "a.txt", "dir/b.bin", "big.txt", "empty.txt"], stdout=f)
archives.append(os.path.join(out, "zip_streamed.zip"))
run(["bsdtar", "--format", "zip", "-cf", os.path.join(out, "bsdtar.zip"), "a.txt", "dir", "big.txt"])
archives.append(os.path.join(out, "bsdtar.zip"))
# zip -y keeps a symbolic link as a member whose data is the link's target.
os.symlink("/etc/hostname", os.path.join(src, "link"))
run(["zip", "-q", "-X", "-y", os.path.join(out, "links.zip"), "link"])

def zip64_ours(path, members):
    """Every size and offset of the central directory in the ZIP64 extra
    field (the 32-bit fields 0xFFFFFFFF), a ZIP64 end record and locator, and
    an end record whose values are all 0xFFFF / 0xFFFFFFFF."""
    body, central = bytearray(), bytearray()
    for name, data, method in members:
        packed = data if method == 0 else zlib.compress(data, 9)[2:-4]
        crc = zlib.crc32(data)
        nb = name.encode()
        offset = len(body)
        local_extra = struct.pack("<HHQQ", 1, 16, len(data), len(packed))
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, method, 0, 0, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                            len(nb), len(local_extra)) + nb + local_extra + packed
        extra = struct.pack("<HH", 0x5455, 5) + b"\x01\x00\x00\x00\x00"   # a record before ours
        extra += struct.pack("<HHQQQ", 1, 24, len(data), len(packed), offset)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, method, 0, 0, crc,
                               0xFFFFFFFF, 0xFFFFFFFF, len(nb), len(extra), 0, 0, 0, 0, 0xFFFFFFFF) + nb + extra
    dir_at = len(body)
    end64_at = dir_at + len(central)
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, len(members), len(members),
                        len(central), dir_at)
    locator = struct.pack("<IIQI", 0x07064B50, 0, end64_at, 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    with open(path, "wb") as f:
        f.write(bytes(body + central + end64 + locator + end))

z64 = os.path.join(out, "zip64_ours.zip")
zip64_ours(z64, [("a.txt", files["a.txt"], 0), ("dir/b.bin", files["dir/b.bin"], 8), ("big.txt", files["big.txt"], 8)])
archives.append(z64)

for path in archives + [many]:
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
    with open(path + ".list", "w") as f:
        for i in infos:
            f.write("%s\t%d\t%d\t%d\t%d\t%d\n" % (i.filename.replace("\\", "/"), i.compress_type, i.compress_size,
                                                 i.file_size, i.header_offset, i.CRC))
    if path == many or "bzip2" in path or "lzma" in path:
        continue
    exp = path + ".expected"
    os.makedirs(exp)
    for n, i in enumerate(infos):
        if i.filename.endswith("/"):
            continue
        if "\\" in i.filename:   # unzip takes the name as a pattern: read it the zipfile way
            with zipfile.ZipFile(path) as z:
                data = z.read(i)
        else:
            data = subprocess.run(["unzip", "-p", path, i.filename], check=True, stdout=subprocess.PIPE).stdout
        with open(os.path.join(exp, str(n)), "wb") as f:
            f.write(data)
shutil.rmtree(src)

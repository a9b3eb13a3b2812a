#!/usr/bin/env python3
"""Makes the 7z reader's test archives with 7zz.

    make_test_archives.py 7ZZ OUT_DIR EXE SUB_EXE

OUT_DIR gets:
  package_src/     what the package holds: EXE as setup.exe, SUB_EXE as
                   bin/helper.exe, random data, a text file, an empty folder
  package.exe      a 600 KiB executable stub (EXE, padded) + the package
                   made with the BCJ2 filter
  beyond_mib.exe   the small archive behind 1 MiB + 4 KiB of stub
  straddle.7z      the small archive whose signature spans the first two
                   1024-byte reads
  small.7z         two files (a.txt, sub/b.txt) and the folder sub
  unsafe_N.7z      a safe file, then an entry with the Nth unsafe name;
                   unsafe_names.txt holds them one a line as the log shows
                   them (control characters escaped)
  nested.7z        the single file a/b/c.txt, without folder entries
  no_time.7z       the single file a.txt, stored without its time
  many_src/        40 files of up to a few MiB in part0..part3
  many.7z          many_src in one solid LZMA2 block; many_bcj.7z the same
                   with LZMA behind the x86 branch filter
  damaged_*.7z     broken in one way each; damaged_many.7z has a byte of
                   the middle of many.7z's packed block changed; damaged_second_stream.7z holds
                   the folders "first" and "second", one stored stream per
                   file, first/one.txt whole and second/two.txt with damaged
                   bytes, so that its check fails after one.txt was written
  write_fails/     a folder whose a.txt leads to /dev/full (under Wine every
                   write to it fails: the disk is full)

Names that 7zz cannot store are written into an archive made with plain
headers: its file list is rewritten and the header checksums fixed.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import lzma
import zlib

SIGNATURE = b"7z\xbc\xaf\x27\x1c"
# A fixed time for every packed file: 2021-03-04 05:06:07 UTC.
MTIME = 1614834367

UNSAFE_NAMES = [
    "../../evil.txt",
    "C:\\kavor_lzma_abs.txt",
    "\\\\srv\\s\\x",
    "\\\\?\\C:\\kavor_lzma_q.txt",
    "a/../../x.txt",
    "x.txt:ads",
    "/rooted.txt",
    "sub/./c.txt",
    "..",
    "nul.txt",
    "esc\x1b[2Jhidden.txt",
    "tab\tand\nline.txt",
    "\u202e/../../x.txt",
    "conout$",
    "sub/CONOUT$.txt",
]


def logged(name):
    """|name| as the reader's log line shows it."""
    out = ""
    for c in name:
        code = ord(c)
        if (code < 0x20 or 0x7F <= code <= 0x9F or code in (0x200E, 0x200F) or
                0x202A <= code <= 0x202E or 0x2066 <= code <= 0x2069):
            out += ("\\x%02X" if code < 0x100 else "\\u%04X") % code
        else:
            out += c
    return out


def number(value):
    """A 7z header number."""
    for extra in range(8):
        if value < 1 << (8 * extra + 7 - extra):
            prefix = (0xFF << (8 - extra)) & 0xFF
            return (bytes([prefix | (value >> (8 * extra))]) +
                    (value & ((1 << (8 * extra)) - 1)).to_bytes(extra, "little"))
    return b"\xff" + value.to_bytes(8, "little")


def read_number(data, pos):
    first = data[pos]
    pos += 1
    mask = 0x80
    value = 0
    for i in range(8):
        if first & mask == 0:
            high = first & (mask - 1)
            return value | (high << (8 * i)), pos
        value |= data[pos] << (8 * i)
        pos += 1
        mask >>= 1
    return value, pos


class Archive:
    """A 7z archive with a plain (not packed) header."""

    def __init__(self, data, packed_header=False):
        assert data[:6] == SIGNATURE
        offset, size, _ = struct.unpack("<QQI", data[12:32])
        self.body = data[32:32 + offset]
        self.header = bytearray(data[32 + offset:32 + offset + size])
        assert self.header[0] == (0x17 if packed_header else 0x01)

    def bytes(self, pack_header=False):
        header = bytes(self.header)
        body = self.body
        if pack_header:
            # The header LZMA-packed behind the body, described by a
            # header that says where it is and how to unpack it.
            packed = lzma.compress(header, format=lzma.FORMAT_RAW, filters=[
                {"id": lzma.FILTER_LZMA1, "dict_size": 1 << 20,
                 "lc": 3, "lp": 0, "pb": 2}])
            props = bytes([(2 * 5 + 0) * 9 + 3]) + (1 << 20).to_bytes(4, "little")
            encoded = (b"\x17" +
                       b"\x06" + number(len(body)) + number(1) +
                       b"\x09" + number(len(packed)) + b"\x00" +
                       b"\x07\x0b" + number(1) + b"\x00" +
                       number(1) + b"\x23\x03\x01\x01" + number(len(props)) +
                       props +
                       b"\x0c" + number(len(header)) +
                       b"\x0a\x01" + struct.pack("<I", zlib.crc32(header)) +
                       b"\x00\x00")
            body += packed
            header = encoded
        tail = struct.pack("<QQI", len(body), len(header),
                           zlib.crc32(header))
        return (SIGNATURE + b"\x00\x04" + struct.pack("<I", zlib.crc32(tail)) +
                tail + body + header)

    def files_info(self):
        """(start, count, [(id, data)]) of the file list."""
        starts = []
        for pos in range(1, len(self.header) - 2):
            if self.header[pos - 1] == 0 and self.header[pos] == 0x05:
                count, after = read_number(self.header, pos + 1)
                if 0 < count < 1000 and self.header[after] in (
                        0x0E, 0x0F, 0x11, 0x14, 0x15, 0x19):
                    starts.append((pos, count, after))
        assert len(starts) == 1, starts
        start, count, pos = starts[0]
        props = []
        while True:
            prop, pos = read_number(self.header, pos)
            if prop == 0:
                break
            size, pos = read_number(self.header, pos)
            props.append((prop, bytes(self.header[pos:pos + size])))
            pos += size
        assert bytes(self.header[pos:]) == b"\x00", "header ends oddly"
        return start, count, props

    def names(self):
        _, _, props = self.files_info()
        data = dict(props)[0x11]
        assert data[0] == 0
        return data[1:].decode("utf-16-le").split("\0")[:-1]

    def rewrite_files(self, names=None, count=None):
        start, old_count, props = self.files_info()
        out = bytearray(self.header[:start])
        out += b"\x05" + number(old_count if count is None else count)
        for prop, data in props:
            if prop == 0x11 and names is not None:
                data = b"\x00" + "".join(n + "\0" for n in names).encode(
                    "utf-16-le")
            out += number(prop) + number(len(data)) + data
        out += b"\x00\x00"
        self.header = out

    def set_packed_header_size(self, new):
        """The unpacked size the packed header claims."""
        at = self.header.index(b"\x0c", self.header.index(b"\x0b"))
        old, end = read_number(self.header, at + 1)
        assert old < 10000 and self.header[end] in (0x0A, 0x00), old
        self.header[at + 1:end] = number(new)

    def set_folder_size(self, old, new):
        """The unpacked size of the folder whose size is |old|."""
        pattern = b"\x0c" + number(old)
        assert self.header.count(pattern) == 1, "size not found once"
        at = self.header.index(pattern)
        self.header[at:at + len(pattern)] = b"\x0c" + number(new)


def run_7zz(tool, archive, sources, options, cwd):
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run([tool, "a", "-bd", "-bso0", "-bsp0"] + options +
                   [archive] + sources, cwd=cwd, check=True)
    with open(archive, "rb") as f:
        return f.read()


def write(path, data, mtime=MTIME):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (mtime, mtime))


def main():
    tool, out, exe, sub_exe = sys.argv[1:5]
    rnd = random.Random(7)
    work = os.path.join(out, "work")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(work)

    # The package.
    src = os.path.join(out, "package_src")
    with open(exe, "rb") as f:
        exe_bytes = f.read()
    with open(sub_exe, "rb") as f:
        write(os.path.join(src, "bin", "helper.exe"), f.read())
    write(os.path.join(src, "setup.exe"), exe_bytes)
    write(os.path.join(src, "data", "random.bin"), rnd.randbytes(300 * 1024))
    write(os.path.join(src, "readme.txt"),
          b"".join(b"Line %d of the package's text.\r\n" % i
                   for i in range(2000)))
    os.makedirs(os.path.join(src, "empty"))
    for folder in ("bin", "data", "empty"):
        os.utime(os.path.join(src, folder), (MTIME, MTIME))
    package = run_7zz(tool, os.path.join(work, "package.7z"),
                      ["setup.exe", "bin", "data", "readme.txt", "empty"],
                      ["-mf=BCJ2"], src)
    stub = exe_bytes[:600 * 1024]
    stub += bytes(rnd.randrange(1, 256) for _ in range(600 * 1024 - len(stub)))
    assert SIGNATURE not in stub
    with open(os.path.join(out, "package.exe"), "wb") as f:
        f.write(stub + package)

    # The small archive and what is made of it.
    small_src = os.path.join(work, "small")
    write(os.path.join(small_src, "a.txt"), b"first file\n" * 50)
    write(os.path.join(small_src, "sub", "b.txt"), b"second file\n" * 50)
    small = run_7zz(tool, os.path.join(work, "small.7z"), ["a.txt", "sub"],
                    ["-mhc=off"], small_src)
    outputs = {"small.7z": small,
               "beyond_mib.exe": b"\x01" * (1024 * 1024 + 4096) + small,
               "straddle.7z": b"\x02" * 1020 + small}

    # Two files with data only: no empty entries, so the name list is the
    # first thing read of the file list.
    write(os.path.join(small_src, "z.txt"), b"unsafe entry\n")
    pair = run_7zz(tool, os.path.join(work, "pair.7z"), ["a.txt", "z.txt"],
                   ["-mhc=off"], small_src)
    assert Archive(pair).names() == ["a.txt", "z.txt"]
    for i, name in enumerate(UNSAFE_NAMES):
        archive = Archive(pair)
        archive.rewrite_files(names=["a.txt", name])
        outputs["unsafe_%d.7z" % i] = archive.bytes()

    # One file, stored: its folder's size is the file's.
    write(os.path.join(small_src, "stored.bin"), rnd.randbytes(4000))
    stored = run_7zz(tool, os.path.join(work, "stored.7z"), ["stored.bin"],
                     ["-mhc=off", "-m0=Copy"], small_src)

    damaged = {}
    damaged["truncated"] = small[:len(small) * 3 // 5]
    damaged["random_after_signature"] = SIGNATURE + rnd.randbytes(200)
    header_start = len(small) - struct.unpack("<Q", small[20:28])[0]
    damaged["header"] = (small[:header_start + 5] +
                         bytes([small[header_start + 5] ^ 0x40]) +
                         small[header_start + 6:])
    damaged["stream"] = small[:40] + bytes([small[40] ^ 0x55]) + small[41:]
    archive = Archive(pair)
    archive.rewrite_files(count=50 * 1000 * 1000)
    damaged["millions_of_entries"] = archive.bytes()
    archive = Archive(pair)
    archive.rewrite_files(names=["a.txt", "n" * 10000])
    damaged["long_name"] = archive.bytes()
    # 20,000 folders deep, in a header of a few KiB.
    archive = Archive(pair)
    archive.rewrite_files(names=["a.txt", "a/" * 20000 + "x.txt"])
    damaged["deep_name"] = archive.bytes(pack_header=True)
    assert len(damaged["deep_name"]) < 10000
    archive = Archive(stored)
    archive.set_folder_size(4000, 1 << 60)
    damaged["huge_block"] = archive.bytes()
    archive = Archive(run_7zz(tool, os.path.join(work, "packed.7z"),
                              ["a.txt", "sub"], [], small_src), True)
    archive.set_packed_header_size(3 << 30)
    damaged["huge_packed_header"] = archive.bytes()
    write(os.path.join(small_src, "a", "b", "c.txt"), b"nested file\n")
    outputs["nested.7z"] = run_7zz(
        tool, os.path.join(work, "nested.7z"), ["a/b/c.txt"], ["-mhc=off"],
        small_src)
    assert Archive(outputs["nested.7z"]).names() == ["a/b/c.txt"]
    outputs["no_time.7z"] = run_7zz(tool, os.path.join(work, "no_time.7z"),
                                    ["a.txt"], ["-mtm=off"], small_src)
    # Stored streams hold the files' bytes as they are, so the second one is
    # found and damaged; the archive's own header stays sound.
    two_src = os.path.join(work, "two_streams")
    second = b"second file " * 50
    write(os.path.join(two_src, "first", "one.txt"), b"first file " * 50)
    write(os.path.join(two_src, "second", "two.txt"), second)
    two = bytearray(run_7zz(tool, os.path.join(work, "two_streams.7z"),
                            ["first", "second"], ["-ms=off", "-m0=Copy"],
                            two_src))
    at = two.find(second)
    assert at >= 0, "the second stream is not in the archive"
    two[at + 100:at + 110] = b"#" * 10
    damaged["second_stream"] = bytes(two)
    # Many entries in one solid block of several MiB, as a package holds
    # them, so that writing overlaps decoding: LZMA2 alone, and LZMA behind
    # the x86 branch filter over executable bytes. A byte changed in the
    # middle of the packed stream damages the block after its first entries.
    many_src = os.path.join(out, "many_src")
    for i in range(40):
        if i % 4 == 0:
            data = rnd.randbytes(rnd.randrange(1, 200 * 1024))
        elif i % 4 == 1:
            data = exe_bytes[:rnd.randrange(1, len(exe_bytes))]
        else:
            data = b"".join(b"Entry %d, line %d.\r\n" % (i, n)
                            for n in range(rnd.randrange(1, 40000)))
        write(os.path.join(many_src, "part%d" % (i % 4), "file%02d.bin" % i),
              data)
    for i in range(4):
        os.utime(os.path.join(many_src, "part%d" % i), (MTIME, MTIME))
    parts = ["part%d" % i for i in range(4)]
    many = run_7zz(tool, os.path.join(work, "many.7z"), parts,
                   ["-mhc=off", "-ms=on", "-m0=LZMA2"], many_src)
    outputs["many.7z"] = many
    outputs["many_bcj.7z"] = run_7zz(
        tool, os.path.join(work, "many_bcj.7z"), parts,
        ["-mhc=off", "-ms=on", "-mf=off", "-m0=BCJ", "-m1=LZMA"], many_src)
    header_start = len(many) - struct.unpack("<Q", many[20:28])[0]
    middle = 32 + (header_start - 32) // 2
    damaged["many"] = (many[:middle] + bytes([many[middle] ^ 0x55]) +
                       many[middle + 1:])
    for name, data in damaged.items():
        outputs["damaged_%s.7z" % name] = data

    for name, data in outputs.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "unsafe_names.txt"), "w",
              encoding="utf-8") as f:
        f.write("".join(logged(n) + "\n" for n in UNSAFE_NAMES))
    os.makedirs(os.path.join(out, "write_fails"))
    os.symlink("/dev/full", os.path.join(out, "write_fails", "a.txt"))
    shutil.rmtree(work)


if __name__ == "__main__":
    main()

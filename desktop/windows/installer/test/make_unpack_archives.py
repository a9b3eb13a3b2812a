#!/usr/bin/env python3
"""Makes the 7z archive of the unpacking tests that breaks halfway.

  make_unpack_archives.py 7ZZ OUT_DIR

OUT_DIR gets archive_road_damaged.7z: one stream per file, stored, holding
the folders "first" and "second", first/one.txt whole and second/two.txt
with damaged bytes, so that its check fails after one.txt was written.
(The reader's own test archives, lzma_util/test, serve for the rest.)
"""
import os
import shutil
import subprocess
import sys


def main():
    seven_zip, out = sys.argv[1], os.path.abspath(sys.argv[2])
    work = os.path.join(out, "archive_road_damaged.src")
    archive = os.path.join(out, "archive_road_damaged.7z")
    shutil.rmtree(work, ignore_errors=True)
    second = b"second file " * 50
    for name, data in (("first/one.txt", b"first file " * 50),
                       ("second/two.txt", second)):
        os.makedirs(os.path.join(work, os.path.dirname(name)))
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    if os.path.exists(archive):
        os.remove(archive)
    # Stored streams hold the files' bytes as they are, so the second one is
    # found and damaged; the archive's own header stays sound.
    subprocess.run([seven_zip, "a", "-bd", "-bso0", "-bsp0", "-ms=off",
                    "-m0=Copy", archive, "first", "second"],
                   cwd=work, check=True)
    with open(archive, "rb") as f:
        data = bytearray(f.read())
    at = data.find(second)
    if at < 0:
        sys.exit("the second stream is not in " + archive)
    data[at + 100:at + 110] = b"#" * 10
    with open(archive, "wb") as f:
        f.write(data)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()

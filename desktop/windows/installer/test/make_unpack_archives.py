#!/usr/bin/env python3
"""Makes the 7z archives of the unpacking tests with 7zz.

  make_unpack_archives.py 7ZZ OUT_DIR

OUT_DIR gets
  archive_road_tree.7z     a solid archive of folders (one of them empty) and
                           files, the first 300 KB; archive_road_tree/ holds
                           the same files, to compare with
  archive_road_damaged.7z  one stream per file, stored: the folders "first"
                           and "second", first/one.txt whole and
                           second/two.txt with damaged bytes, so that its
                           check fails after one.txt was written
"""
import os
import random
import shutil
import subprocess
import sys


def run_7zz(seven_zip, cwd, archive, options, names):
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run([seven_zip, "a", "-bd", "-bso0", "-bsp0"] + options +
                   [archive] + names, cwd=cwd, check=True)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_tree(seven_zip, out):
    tree = os.path.join(out, "archive_road_tree")
    shutil.rmtree(tree, ignore_errors=True)
    rng = random.Random(4127)
    write(os.path.join(tree, "kavor.exe"),
          bytes(rng.randrange(256) for _ in range(300 * 1024)))
    write(os.path.join(tree, "files_list"), b"kavor.exe\r\nresources\\a.pak\r\n")
    write(os.path.join(tree, "resources", "a.pak"), b"resource a\n" * 500)
    write(os.path.join(tree, "resources", "locales", "ru.pak"), b"")
    os.makedirs(os.path.join(tree, "empty"))
    run_7zz(seven_zip, tree, os.path.join(out, "archive_road_tree.7z"),
            ["-mx=7"], ["."])


def make_damaged(seven_zip, out):
    work = os.path.join(out, "archive_road_damaged.src")
    shutil.rmtree(work, ignore_errors=True)
    write(os.path.join(work, "first", "one.txt"), b"first file " * 50)
    second = b"second file " * 50
    write(os.path.join(work, "second", "two.txt"), second)
    archive = os.path.join(out, "archive_road_damaged.7z")
    # Stored streams hold the files' bytes as they are, so the second one is
    # found and damaged; the archive's own header stays sound.
    run_7zz(seven_zip, work, archive, ["-ms=off", "-m0=Copy"],
            ["first", "second"])
    with open(archive, "rb") as f:
        data = bytearray(f.read())
    at = data.find(second)
    assert at > 0, "second stream not found"
    data[at + 100:at + 110] = b"#" * 10
    with open(archive, "wb") as f:
        f.write(data)
    shutil.rmtree(work)


def main():
    seven_zip, out = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    make_tree(seven_zip, out)
    make_damaged(seven_zip, out)


if __name__ == "__main__":
    main()

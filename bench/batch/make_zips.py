#!/usr/bin/env python3
"""Makes COUNT small zip archives in FOLDER (a%04d.zip), each with FILES deflated text files of a
few kilobytes. Usage: make_zips.py FOLDER COUNT [FILES]"""
import os
import random
import sys
import zipfile


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    files = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(19)
    words = [("w%d" % i).encode() for i in range(500)]
    for n in range(count):
        with zipfile.ZipFile(os.path.join(folder, "a%04d.zip" % n), "w", zipfile.ZIP_DEFLATED) as z:
            for f in range(files):
                size = rng.randint(500, 8000)
                body = b" ".join(rng.choice(words) for _ in range(size // 4))[:size]
                z.writestr("dir%d/file%d.txt" % (f % 3, f), body)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Builds the benchmark trees.

  make_corpus.py mixed DIR   about 200 MB: text-like, random and already-compressed-like files of
                             many sizes (200 bytes to 24 MB) in nested folders
  make_corpus.py many DIR    50,000 small files in 500 folders

Deterministic (fixed seeds), so runs compare like with like.
"""
import array
import os
import random
import sys
import zlib


def vocabulary(rng, n=6000):
    letters = "etaoinshrdlcumwfgypbvkjxqz"
    weights = [12.7, 9.1, 8.2, 7.5, 7.0, 6.7, 6.3, 6.1, 6.0, 4.3, 4.0, 2.8, 2.8, 2.4, 2.4, 2.2, 2.0, 2.0, 1.9,
               1.5, 1.0, 0.8, 0.2, 0.2, 0.1, 0.1]
    words = set()
    while len(words) < n:
        words.add("".join(rng.choices(letters, weights, k=rng.randint(2, 10))))
    words = sorted(words)
    zipf = [1.0 / (i + 1) for i in range(len(words))]
    return words, zipf


class TextSource:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.words, self.zipf = vocabulary(self.rng)

    def text(self, size):
        out = []
        total = 0
        while total < size:
            n = self.rng.randint(6, 18)
            line = " ".join(self.rng.choices(self.words, self.zipf, k=n))
            if self.rng.random() < 0.15:
                line = "    " + line.replace(" ", "_", 2) + "(" + str(self.rng.randint(0, 99999)) + ");"
            out.append(line.capitalize() + ".\n")
            total += len(out[-1])
        return "".join(out).encode()[:size]


def structured(rng, size):
    """Binary records: a growing counter, a random byte and padding (tables, object files)."""
    n = size // 8 + 1
    base = rng.randint(0, 1 << 20)
    step = rng.randint(1, 40)
    counters = array.array("I", range(base, base + n * step, step)).tobytes()
    rec = bytearray(n * 8)
    for k in range(4):
        rec[k::8] = counters[k::4]
    rec[4::8] = rng.randbytes(n)
    return bytes(rec[:size])


def slices(rng, pool, size):
    """`size` bytes taken from random places of `pool`."""
    parts, total = [], 0
    while total < size:
        at = rng.randint(0, len(pool) - 1)
        part = pool[at:at + min(size - total, 1 << 20)]
        parts.append(part)
        total += len(part)
    return b"".join(parts)


def log_size(rng, lo, hi):
    return int(round(2 ** rng.uniform(lo.bit_length() - 1, hi.bit_length() - 1)))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def mixed(root):
    rng = random.Random(200)
    text = TextSource(201)
    budget = {"text": 90 << 20, "random": 40 << 20, "packed": 40 << 20, "struct": 30 << 20}
    ext = {"text": [".txt", ".c", ".html", ".log", ".csv"], "random": [".bin", ".dat"],
           "packed": [".jpg", ".gz", ".zip", ".mp3"], "struct": [".db", ".so", ".obj"]}
    folders = ["docs", "src/core", "src/ui", "media/photos", "media/music", "data/tables", "build/obj",
               "logs/2024", "logs/2025", "misc"]
    pool = text.text(16 << 20)
    n = 0
    for kind in ["text", "random", "packed", "struct"]:
        left = budget[kind]
        # One big file per kind, the rest of many sizes.
        sizes = [min(24 << 20, left // 4)]
        left -= sizes[0]
        while left > 0:
            s = min(left, log_size(rng, 200, 6 << 20))
            sizes.append(s)
            left -= s
        for s in sizes:
            if kind == "text":
                data = slices(rng, pool, s)
            elif kind == "random":
                data = rng.randbytes(s)
            elif kind == "packed":
                data = zlib.compress(slices(rng, pool, s * 3), 1)[:s]
                if len(data) < s:
                    data += rng.randbytes(s - len(data))
            else:
                data = structured(rng, s)
            folder = rng.choice(folders)
            write(os.path.join(root, folder, "%s_%04d%s" % (kind, n, rng.choice(ext[kind]))), data)
            n += 1
    return n


def many(root):
    rng = random.Random(50)
    text = TextSource(51)
    pool = text.text(8 << 20)
    for i in range(50000):
        s = log_size(rng, 40, 16 << 10)
        if rng.random() < 0.2:
            data = rng.randbytes(s)
        else:
            at = rng.randint(0, len(pool) - s - 1)
            data = pool[at:at + s]
        write(os.path.join(root, "d%03d" % (i % 500), "f%05d.txt" % i), data)
    return 50000


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("mixed", "many"):
        sys.exit(__doc__)
    count = (mixed if sys.argv[1] == "mixed" else many)(sys.argv[2])
    print("%s: %d files in %s" % (sys.argv[1], count, sys.argv[2]))

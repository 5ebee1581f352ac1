#!/usr/bin/env python3
"""Builds the extraction benchmark inputs: a mixed tree, one large file, a tree of many small files.

make_corpus.py mixed DIR MEGABYTES | big FILE MEGABYTES | many DIR COUNT
"""
import os
import random
import sys

WORDS = ("the of and to in is that for it as was with be by on not he this are or his from at which but have an "
         "they you were her she there been one all we their if has will would can more when who about out other "
         "these so some what only its into them could time than like then now very may way just over such two "
         "archive extract folder entry compress inflate buffer thread stream header record length offset").split()


def text_block(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))) + "\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def source_block(rng, size):
    out = []
    n = 0
    while n < size:
        name = rng.choice(WORDS) + "_" + rng.choice(WORDS)
        line = "    %s = compute(%s, %d);  // %s\n" % (name, rng.choice(WORDS), rng.randint(0, 99999), rng.choice(WORDS))
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def binary_block(rng, size):
    return rng.randbytes(size)


def mixed_block(rng, size):
    # Half-compressible data, like executables or office documents.
    parts = []
    n = 0
    while n < size:
        k = rng.randint(512, 8192)
        parts.append(rng.randbytes(k // 2) + text_block(rng, k - k // 2))
        n += k
    return b"".join(parts)[:size]


KINDS = [(text_block, 4), (source_block, 3), (binary_block, 2), (mixed_block, 3)]


def pick_kind(rng):
    total = sum(w for _, w in KINDS)
    r = rng.uniform(0, total)
    for k, w in KINDS:
        r -= w
        if r <= 0:
            return k
    return KINDS[0][0]


def mixed(dest, megabytes):
    rng = random.Random(1)
    budget = megabytes * 1000000
    written = 0
    i = 0
    while written < budget:
        d = os.path.join(dest, "dir%02d" % (i % 37), "sub%d" % (i % 5))
        os.makedirs(d, exist_ok=True)
        r = rng.random()
        size = rng.randint(100, 20000) if r < 0.6 else rng.randint(20000, 400000) if r < 0.95 else rng.randint(1000000, 8000000)
        size = min(size, budget - written) or 1
        kind = pick_kind(rng)
        with open(os.path.join(d, "f%05d.%s" % (i, kind.__name__[:3])), "wb") as f:
            f.write(kind(rng, size))
        written += size
        i += 1


def big(path, megabytes):
    rng = random.Random(2)
    chunk = b"".join(pick_kind(rng)(rng, 1 << 20) for _ in range(16))
    with open(path, "wb") as f:
        left = megabytes * 1000000
        while left > 0:
            n = min(left, len(chunk))
            f.write(chunk[:n])
            left -= n


def many(dest, count):
    rng = random.Random(3)
    for i in range(count):
        d = os.path.join(dest, "d%03d" % (i % 500), "e%d" % (i % 3))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "file%05d.txt" % i), "wb") as f:
            f.write(pick_kind(rng)(rng, rng.randint(50, 4000)))


if __name__ == "__main__":
    what, target, amount = sys.argv[1], sys.argv[2], int(sys.argv[3])
    {"mixed": mixed, "big": big, "many": many}[what](target, amount)

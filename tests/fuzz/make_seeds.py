#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus: one plausible warp per format and
kernel, in the byte layout fuzz_case.cpp decodes, with source samples that
are sensible for each sample type. Run from the repository to rewrite
tests/fuzz/corpus/seed-*."""
import os
import random
import struct

MODELS = ["Y'", "Y'A", "R'G'B'", "R'G'B'A", "Y", "YA", "RGB", "RGBA"]
CHANNELS = [1, 2, 3, 4, 1, 2, 3, 4]
TYPES = [("u8", 1), ("u16", 2), ("u32", 4), ("half", 2), ("float", 4),
         ("double", 8)]


def i8(v):
    return struct.pack("<b", v)


def sample(rng, kind):
    if kind == "u8":
        return bytes([rng.randrange(256)])
    if kind == "u16":
        return struct.pack("<H", rng.randrange(65536))
    if kind == "u32":
        return struct.pack("<I", rng.randrange(1 << 32))
    v = rng.uniform(-0.1, 1.2)
    return struct.pack({"half": "<e", "float": "<f", "double": "<d"}[kind], v)


def quad(base, step, corners):
    # Near the anchor: mode 0, base in quarter pixels, step exponent + 6.
    out = bytes([0]) + i8(base[0]) + i8(base[1]) + bytes([step + 6])
    for x, y in corners:
        out += i8(x) + i8(y)
    return out


def main():
    rng = random.Random(20261208)
    out_dir = os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(out_dir, exist_ok=True)
    n = 0
    for t, (kind, size) in enumerate(TYPES):
        for m in range(len(MODELS)):
            for kernel in range(4):
                flags = (n % 2) | ((n % 3) << 2)  # anti-aliasing, threads
                head = bytes([t * 8 + m, kernel + 1, flags, 15, 11]) + i8(3) + i8(-5)
                spin = rng.choice([1, -1])
                src = [(1, 2), (14, 1), (15, 13), (2, 14)][::spin]
                dst = [(0, 0), (30, 3), (28, 25), (-2, 27)]
                dst = [(x + rng.randrange(-3, 4), y + rng.randrange(-3, 4))
                       for x, y in dst]
                body = quad((0, 0), 0, src) + quad((-20, 8), -1, dst)
                body += bytes([0])  # no special corners
                pixels = b"".join(sample(rng, kind)
                                  for _ in range(7 * CHANNELS[m]))
                with open(os.path.join(out_dir, "seed-%03d" % n), "wb") as f:
                    f.write(head + body + pixels)
                n += 1
    # The perspective mapping (the kernel byte's sixes pick it): convex
    # quadrangles, 8-bit RGBA and float RGBA, each kernel, a strong
    # foreshortening toward one side.
    for t, m in ((0, 3), (4, 7)):
        kind = TYPES[t][0]
        for kernel in range(4):
            flags = (kernel % 2) | ((kernel % 3) << 2)
            head = bytes([t * 8 + m, kernel + 1 + 6, flags, 15, 11]) + i8(3) + i8(-5)
            src = [(1, 2), (14, 1), (15, 13), (2, 14)]
            dst = [(0, 0), (30, 8), (30, 20), (0, 27 + kernel)]
            body = quad((0, 0), 0, src) + quad((-20, 8), -1, dst) + bytes([0])
            pixels = b"".join(sample(rng, kind) for _ in range(7 * CHANNELS[m]))
            with open(os.path.join(out_dir, "seed-p%d" % (t * 4 + kernel)),
                      "wb") as f:
                f.write(head + body + pixels)


main()

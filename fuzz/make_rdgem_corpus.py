#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdgem/: small GEM IMG files, valid and
broken, each probing one policy of the reader. Run from anywhere:
    python3 fuzz/make_rdgem_corpus.py
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import random
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "rdgem")


def header(width, lines, pattern_length=2, version=1, header_words=8, planes=1):
    return struct.pack(">8H", version, header_words, planes, pattern_length, 85, 85, width, lines)


def solid(black, count):
    return bytes([(0x80 if black else 0x00) | count])


def literal(data):
    return bytes([0x80, len(data)]) + bytes(data)


def pattern(times, data):
    return bytes([0x00, times]) + bytes(data)


def replicate(count):
    return bytes([0x00, 0x00, 0xFF, count])


def encode_rows(rows):
    out = b""
    y = 0
    while y < len(rows):
        copies = 1
        while y + copies < len(rows) and copies < 255 and rows[y + copies] == rows[y]:
            copies += 1
        if copies > 1:
            out += replicate(copies)
        out += literal(rows[y])
        y += copies
    return out


def seeds():
    rng = random.Random(1)
    # Valid: 0x87 lines on 56 pixels (seven black bytes each).
    yield "gem-bw-1-solid.img", header(56, 4) + solid(True, 7) * 4
    # Valid: pattern runs (pattern length 2), white and black runs between.
    yield "gem-bw-1-pattern.img", header(64, 3) + (pattern(3, [0xF0, 0x0F]) + solid(False, 1) + solid(True, 1)) * 3
    # Valid: vertical replications longer than most read blocks (carry-over).
    rows = [[rng.randrange(256) for _ in range(5)] for _ in range(4)]
    picture = [rows[0]] * 20 + [rows[1]] + [rows[2]] * 9 + [rows[3]] * 3
    yield "gem-bw-1-replicated.img", header(40, len(picture)) + encode_rows(picture)
    # Valid: noise, odd width (padding bits in the last byte).
    noise = [[rng.randrange(256) for _ in range(2)] for _ in range(30)]
    yield "gem-bw-1-odd-width.img", header(13, 30) + encode_rows(noise)
    # Data end in the middle of a line: an early-end failure after the good rows.
    yield "gem-bw-1-truncated.img", (header(40, len(picture)) + encode_rows(picture))[:40]
    # Items running past the line end: cut at the line end, fully consumed.
    yield "gem-bw-1-overrun.img", header(16, 3) + solid(True, 100) + literal([1, 2, 3, 4, 5]) + pattern(50, [7, 8])
    # A replication that runs past the last row of the image.
    yield "gem-bw-1-replication-past-end.img", header(8, 3) + replicate(200) + literal([0x55])
    # Pattern length 0: pattern runs add nothing; the line never fills.
    yield "gem-bw-1-zero-pattern.img", header(8, 2, pattern_length=0) + pattern(9, []) * 6
    # A huge pattern length: each pattern run consumes more than the file holds.
    yield "gem-bw-1-huge-pattern.img", header(24, 2, pattern_length=65535) + pattern(2, [1, 2, 3])
    # Absurd size from a tiny file: 65535 x 65535, a few bytes of data.
    yield "gem-bw-1-huge.img", header(65535, 65535) + replicate(255) + solid(True, 127) * 8
    # Refused headers: version 2, header length 9, 4 planes, width 0.
    yield "gem-bw-1-version2.img", header(8, 1, version=2) + literal([0])
    yield "gem-bw-1-header9.img", header(8, 1, header_words=9) + literal([0])
    yield "gem-bw-1-planes4.img", header(8, 1, planes=4) + literal([0])
    yield "gem-bw-1-width0.img", header(0, 5)
    # Shorter than a header.
    yield "gem-bw-1-short-header.img", header(8, 1)[:9]


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdtga/: small Targa files, valid and
broken, each probing one policy of the reader. Run from anywhere:
    python3 fuzz/make_rdtga_corpus.py
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import random
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "rdtga")


def header(width, height, depth, image_type, top_down=False, id_field=b"", map_type=0,
           first=0, map_length=0, entry_bits=0, right_to_left=False):
    descriptor = (0x20 if top_down else 0) | (0x10 if right_to_left else 0)
    return struct.pack("<BBBHHBHHHHBB", len(id_field), map_type, image_type, first, map_length,
                       entry_bits, 0, 0, width, height, depth, descriptor) + id_field


def rle_row(pixels, size):
    out = b""
    x = 0
    while x < len(pixels):
        run = 1
        while x + run < len(pixels) and run < 128 and pixels[x + run] == pixels[x]:
            run += 1
        if run > 1:
            out += bytes([0x80 | (run - 1)]) + pixels[x]
        else:
            out += bytes([0]) + pixels[x]
        x += run
    return out


def footer(body, table_offsets=None):
    table = 0
    out = body
    if table_offsets is not None:
        table = len(out)
        out += b"".join(struct.pack("<I", o) for o in table_offsets)
    extension = len(out)
    area = bytearray(495)
    area[0:2] = struct.pack("<H", 495)
    area[490:494] = struct.pack("<I", table)
    out += bytes(area)
    return out + struct.pack("<II", extension, 0) + b"TRUEVISION-XFILE.\0"


def picture(rng, width, height, size):
    rows = []
    for _ in range(height):
        row, pixel = [], bytes(rng.randrange(256) for _ in range(size))
        for _ in range(width):
            if rng.randrange(3) == 0:
                pixel = bytes(rng.randrange(256) for _ in range(size))
            row.append(pixel)
        rows.append(row)
    return rows


def seeds():
    rng = random.Random(2)
    for depth, kind in ((8, 3), (16, 2), (24, 2), (32, 2)):
        size = (depth + 7) // 8
        rows = picture(rng, 13, 9, size)
        raw = b"".join(b"".join(r) for r in rows)
        yield f"tga-rgb-{depth}.tga", header(13, 9, depth, kind) + raw
        body = header(13, 9, depth, kind + 8)
        offsets = []
        for r in rows:
            offsets.append(len(body))
            body += rle_row(r, size)
        yield f"tga-rgb-{depth}-rle.tga", body
        yield f"tga-rgb-{depth}-rle-table.tga", footer(body, offsets)
    # Colour-mapped, with an ID field and a 16-bit map beginning at index 250.
    cmap = bytes(rng.randrange(256) for _ in range(2 * 20))
    yield "tga-cmap-8.tga", header(7, 5, 8, 1, id_field=b"seed", map_type=1, first=250, map_length=20,
                                   entry_bits=16) + cmap + bytes(rng.randrange(256) for _ in range(35))
    # Top-down storage, 1-bit grey, width not a multiple of 8.
    yield "tga-grey-1-topdown.tga", header(11, 4, 1, 3, top_down=True) + bytes(range(8))
    # Packets longer than the row, literal and repeat.
    yield "tga-grey-8-rle-overrun.tga", header(3, 3, 8, 11) + bytes([0x89, 7, 0x04, 1, 2, 3, 4, 5, 0x7F])
    # 16-bit grey (a grey byte and an alpha byte), both encodings.
    grey16 = picture(rng, 9, 5, 2)
    yield "tga-grey-16.tga", header(9, 5, 16, 3) + b"".join(b"".join(r) for r in grey16)
    yield "tga-grey-16-rle.tga", header(9, 5, 16, 11) + b"".join(rle_row(r, 2) for r in grey16)
    # Rows stored right to left, uncompressed and run-length, 1-bit too.
    rgb = picture(rng, 10, 4, 3)
    yield "tga-rgb-24-right-to-left.tga", header(10, 4, 24, 2, right_to_left=True) + \
        b"".join(b"".join(r) for r in rgb)
    yield "tga-rgb-24-rle-right-to-left.tga", header(10, 4, 24, 10, top_down=True, right_to_left=True) + \
        b"".join(rle_row(r, 3) for r in rgb)
    yield "tga-grey-1-right-to-left.tga", header(11, 4, 1, 3, right_to_left=True) + bytes(range(9, 17))
    # Packets that run on across rows (old writers): one repeat packet over
    # three rows, literal packets split between rows.
    yield "tga-grey-8-rle-crossing.tga", header(5, 4, 8, 11) + bytes(
        [0x8B, 9, 0x05, 1, 2, 3, 4, 5, 6, 0x01, 7, 8])
    # Truncated pixel data, both encodings.
    yield "tga-rgb-24-truncated.tga", header(40, 40, 24, 2) + bytes(100)
    yield "tga-rgb-24-rle-truncated.tga", header(40, 40, 24, 10) + bytes([0xFF, 1, 2])
    # A scan-line table pointing everywhere, and a footer whose offsets are absurd.
    body = header(4, 3, 24, 10) + rle_row([b"abc"] * 4, 3) * 3
    yield "tga-rgb-24-rle-bad-table.tga", footer(body, [0xFFFFFFF0, 2, len(body) - 1])
    yield "tga-rgb-24-bad-footer.tga", body + struct.pack("<II", 0x7FFFFFFF, 0) + b"TRUEVISION-XFILE.\0"
    # Huge claims from a tiny file; unsupported depth and type.
    yield "tga-rgb-24-huge.tga", header(65535, 65535, 24, 10) + bytes([0xFF, 1, 2, 3])
    yield "tga-rgb-12.tga", header(4, 4, 12, 2) + bytes(32)
    yield "tga-type-12.tga", header(4, 4, 24, 12) + bytes(48)
    yield "tga-short-header.tga", header(4, 4, 24, 2)[:11]


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

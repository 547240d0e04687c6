#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdpng/: small PNG files, valid and
broken, each probing one policy of the reader. Run from anywhere:
    python3 fuzz/make_rdpng_corpus.py
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import random
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "rdpng")
SIGNATURE = b"\x89PNG\r\n\x1a\n"
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ADAM7 = [(0, 0, 8, 8), (0, 4, 8, 8), (4, 0, 8, 4), (0, 2, 4, 4), (2, 0, 4, 2), (0, 1, 2, 2), (1, 0, 2, 1)]


def chunk(kind, data=b""):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def ihdr(width, height, depth, colour, interlace=0, compression=0, filtering=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, compression, filtering, interlace))


def row_bytes(pixels, depth, colour):
    return (pixels * depth * CHANNELS[colour] + 7) // 8


def raw_data(rng, width, height, depth, colour, interlace, filters=(0, 1, 2, 3, 4)):
    """Random filtered rows (the filter bytes cycle; the samples are noise)."""
    out = b""
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    k = 0
    for row0, col0, row_step, col_step in passes:
        pixels = max(0, (width - col0 + col_step - 1) // col_step)
        rows = max(0, (height - row0 + row_step - 1) // row_step)
        if pixels == 0:
            continue
        for _ in range(rows):
            out += bytes([filters[k % len(filters)]]) + bytes(rng.randrange(256) for _ in range(row_bytes(pixels, depth, colour)))
            k += 1
    return out


def png(width, height, depth, colour, interlace=0, extra=b"", piece=1 << 20, rng=None, data=None, end=True):
    rng = rng or random.Random(width * 31 + height)
    if data is None:
        data = zlib.compress(raw_data(rng, width, height, depth, colour, interlace))
    out = SIGNATURE + ihdr(width, height, depth, colour, interlace)
    if colour == 3:
        out += chunk(b"PLTE", bytes(rng.randrange(256) for _ in range(3 * (1 << depth))))
    out += extra
    for at in range(0, len(data), piece):
        out += chunk(b"IDAT", data[at:at + piece])
    return out + (chunk(b"IEND") if end else b"")


def seeds():
    rng = random.Random(1)
    # Valid: every colour type and depth, plain and interlaced, with sizes
    # below the Adam7 pattern (empty passes) and odd sizes.
    for colour, depths in ((0, (1, 2, 4, 8, 16)), (2, (8, 16)), (3, (1, 2, 4, 8)), (4, (8, 16)), (6, (8, 16))):
        for depth in depths:
            for interlace in (0, 1):
                size = (13, 7) if interlace == 0 else (5, 3)
                yield "png-c%d-%d%s.png" % (colour, depth, "-adam7" if interlace else ""), png(*size, depth, colour, interlace, rng=rng)
    yield "png-grey-8-1x1-adam7.png", png(1, 1, 8, 0, 1)
    yield "png-rgb-8-many-idat.png", png(20, 9, 8, 2, piece=3)
    # pHYs in metres, and ancillary chunks before and after IHDR.
    yield "png-rgb-8-phys.png", png(6, 6, 8, 2, extra=chunk(b"pHYs", struct.pack(">IIB", 3780, 3780, 1)) + chunk(b"tEXt", b"k\0v"))
    # A non-IDAT chunk between IDAT chunks ends the data.
    data = zlib.compress(raw_data(rng, 16, 16, 8, 0, 0))
    yield "png-grey-8-split-idat.png", png(16, 16, 8, 0, extra=b"", data=data[:20]) [:-12] + chunk(b"tEXt", b"a\0b") + chunk(b"IDAT", data[20:]) + chunk(b"IEND")
    # No IEND; truncated data; corrupt deflate; a filter type above 4.
    yield "png-grey-8-no-iend.png", png(8, 8, 8, 0, end=False)
    yield "png-rgb-8-truncated.png", png(30, 30, 8, 2, data=zlib.compress(raw_data(rng, 30, 30, 8, 2, 0))[:200])
    yield "png-rgb-8-corrupt.png", png(10, 10, 8, 2, data=b"\x78\x9c" + bytes(rng.randrange(256) for _ in range(80)))
    yield "png-grey-8-filter-9.png", png(10, 4, 8, 0, data=zlib.compress(raw_data(rng, 10, 4, 8, 0, 0, filters=(9,))))
    # Headers that do not fit together, or claim much from little.
    yield "png-grey-3.png", png(4, 4, 8, 0)[:8] + ihdr(4, 4, 3, 0) + chunk(b"IEND")
    yield "png-huge-rgba.png", SIGNATURE + ihdr(60000, 60000, 16, 6, 1) + chunk(b"IDAT", zlib.compress(b"\0" * 100)) + chunk(b"IEND")
    yield "png-tall-adam7.png", SIGNATURE + ihdr(1, 0x7FFFFFFF, 1, 0, 1) + chunk(b"IDAT", zlib.compress(b"\0" * 100)) + chunk(b"IEND")
    yield "png-long-plte.png", SIGNATURE + ihdr(4, 4, 8, 3) + chunk(b"PLTE", bytes(900)) + chunk(b"IDAT", zlib.compress(raw_data(rng, 4, 4, 8, 3, 0))) + chunk(b"IEND")
    yield "png-negative-length.png", SIGNATURE + ihdr(4, 4, 8, 0) + b"\x80\0\0\0IDAT" + bytes(20)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

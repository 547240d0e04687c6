#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdpcx/: small PCX and DCX files, valid
and broken, each probing one policy of the reader. Run from anywhere:
    python3 fuzz/make_rdpcx_corpus.py
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import random
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "rdpcx")
DCX_MAGIC = 987654321


def header(width, height, planes=1, bits=8, version=5, bpl=None, manufacturer=10, palette=None):
    if bpl is None:
        bpl = (width * bits + 15) // 16 * 2
    pal = bytes(palette) if palette else bytes((i * 5) & 0xFF for i in range(48))
    head = struct.pack("<BBBBHHHHHH", manufacturer, version, 1, bits, 0, 0, width - 1, height - 1, 96, 96)
    head += pal + bytes([0, planes]) + struct.pack("<HH", bpl, 1)
    return head + bytes(128 - len(head))


def rle(line):
    out = bytearray()
    i = 0
    while i < len(line):
        run = 1
        while i + run < len(line) and run < 63 and line[i + run] == line[i]:
            run += 1
        if run == 1 and line[i] < 0xC0:
            out.append(line[i])
        else:
            out += bytes([0xC0 | run, line[i]])
        i += run
    return bytes(out)


def image(width, height, planes=1, bits=8, rng=None, vga=False, **kw):
    rng = rng or random.Random(width * 31 + height)
    bpl = kw.get("bpl") or (width * bits + 15) // 16 * 2
    data = b"".join(rle(bytes(rng.choice([0, 0, 0x55, 0xC7, rng.randrange(256)]) for _ in range(bpl * planes)))
                    for _ in range(height))
    out = header(width, height, planes, bits, **kw) + data
    if vga:
        out += bytes([12]) + bytes(rng.randrange(256) for _ in range(768))
    return out


def dcx(pages, compact=False):
    slots = len(pages) + 1 if compact else 1024
    table_end = 4 + 4 * slots
    offsets, body = [], b""
    for page in pages:
        offsets.append(table_end + len(body))
        body += page
    table = struct.pack("<I", DCX_MAGIC) + b"".join(struct.pack("<I", o) for o in offsets)
    return table + bytes(table_end - len(table)) + body


def seeds():
    rng = random.Random(7)
    # Valid: every layout the reader delivers.
    yield "pcx-bw-1.pcx", image(45, 9, 1, 1, rng)
    yield "pcx-cga-2.pcx", image(21, 7, 1, 2, rng)
    yield "pcx-ega-4-packed.pcx", image(13, 5, 1, 4, rng)
    yield "pcx-ega-4-planar.pcx", image(37, 8, 4, 1, rng, version=3)
    yield "pcx-colour-3-planar.pcx", image(19, 6, 3, 1, rng, version=2)
    yield "pcx-grey-2-planar.pcx", image(9, 6, 2, 1, rng)
    yield "pcx-palette-8-vga.pcx", image(31, 12, 1, 8, rng, vga=True)
    yield "pcx-palette-8-nomarker.pcx", image(31, 4, 1, 8, rng)
    yield "pcx-rgb-24.pcx", image(17, 5, 3, 8, rng)
    yield "pcx-rgba-32.pcx", image(6, 5, 4, 8, rng)
    # DCX: three pages, the second wider; a compact table; a table cut short.
    pages = [image(10, 3, 1, 8, rng, vga=True), image(300, 2, 3, 8, rng), image(9, 4, 1, 1, rng)]
    yield "dcx-mixed-3.dcx", dcx(pages)
    yield "dcx-compact-2.dcx", dcx(pages[:2], compact=True)
    yield "dcx-table-cut.dcx", dcx(pages)[:600]
    # DCX whose offsets go backwards, repeat, or lie beyond the file.
    good = image(8, 2, 1, 8, rng)
    yield "dcx-backwards.dcx", struct.pack("<IIII", DCX_MAGIC, 20, 16, 0) + bytes(4) + good
    yield "dcx-far-page.dcx", struct.pack("<IIII", DCX_MAGIC, 20, 0x7FFFFFF0, 0) + bytes(4) + good
    yield "dcx-empty.dcx", struct.pack("<II", DCX_MAGIC, 0)
    # Runs crossing line ends, zero-length runs, bytes per line below the width.
    yield "pcx-runs-cross.pcx", header(4, 3) + bytes([0xC6, 0x11, 0xC0, 0x22, 0xC3, 0x33, 0x44, 0xFF, 0x01])
    yield "pcx-short-bpl.pcx", header(40, 3, bpl=6) + bytes(range(1, 19))
    yield "pcx-zero-bpl.pcx", header(40, 3, bpl=0)
    yield "pcx-huge-bpl.pcx", header(2, 2, planes=4, bits=1, bpl=65535) + bytes([0xFF, 0x00]) * 40
    # Truncated data; a run value missing at the end.
    yield "pcx-truncated.pcx", image(20, 10, 1, 8, rng)[:200]
    yield "pcx-run-cut.pcx", header(16, 1) + bytes([0xC5])
    # Huge claims from tiny files.
    yield "pcx-huge.pcx", header(65535, 65535, 3, 8, bpl=65534) + bytes([0xFF, 0x00]) * 8
    # Refused: layouts without a DIB form, versions, manufacturer, extent.
    yield "pcx-planes-2x2.pcx", header(8, 2, 2, 2) + bytes(16)
    yield "pcx-planes-2x8.pcx", header(8, 2, 2, 8) + bytes(64)
    yield "pcx-version1.pcx", header(8, 2, version=1) + bytes(16)
    yield "pcx-version6.pcx", header(8, 2, version=6) + bytes(16)
    yield "pcx-manufacturer.pcx", header(8, 2, manufacturer=9) + bytes(16)
    backwards = bytearray(header(8, 2))
    backwards[4:6] = struct.pack("<H", 50)
    yield "pcx-extent-backwards.pcx", bytes(backwards)
    yield "pcx-short-header.pcx", header(8, 2)[:70]


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

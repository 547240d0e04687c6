#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdtiff/: small TIFF files, valid and
broken, each probing one rule of the reader. Run from anywhere:
    python3 fuzz/make_rdtiff_corpus.py
CCITT seeds are made by libtiff's tiffcp when it is installed (else skipped).
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import shutil
import struct
import subprocess
import tempfile

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "rdtiff")

SHORT, LONG, RATIONAL = 3, 4, 5


def tiff(pages, big=False, links=None, first_zero=False):
    """pages: list of (entries, strips); entries: list of (tag, type, values).
    Strips are laid out first, then out-of-line values, then the directory.
    StripOffsets (273) with values None are filled in."""
    e = ">" if big else "<"
    out = bytearray(b"MM\x00\x2a\x00\x00\x00\x00" if big else b"II\x2a\x00\x00\x00\x00\x00")
    ifds, link_fields = [], []
    for entries, strips in pages:
        offsets = []
        for s in strips:
            offsets.append(len(out))
            out += s
        entries = [(t, ty, offsets if v is None else v) for (t, ty, v) in entries]
        entries.sort(key=lambda x: x[0])
        placed = []
        for tag, typ, values in entries:
            size = {SHORT: 2, LONG: 4, RATIONAL: 4}.get(typ, 1)
            fmt = {SHORT: "H", LONG: "I", RATIONAL: "I"}.get(typ, "B")
            data = b"".join(struct.pack(e + fmt, v) for v in values)
            count = len(values) // 2 if typ == RATIONAL else len(values)
            if len(data) > 4:
                if len(out) % 2:
                    out += b"\0"
                placed.append((tag, typ, count, struct.pack(e + "I", len(out))))
                out += data
            else:
                placed.append((tag, typ, count, data.ljust(4, b"\0")))
        if len(out) % 2:
            out += b"\0"
        ifds.append(len(out))
        out += struct.pack(e + "H", len(placed))
        for tag, typ, count, field in placed:
            out += struct.pack(e + "HHI", tag, typ, count) + field
        link_fields.append(len(out))
        out += b"\0\0\0\0"
    if not first_zero:
        out[4:8] = struct.pack(e + "I", ifds[0])
    for i, at in enumerate(link_fields):
        link = (links or {}).get(i, -1)
        target = (ifds[i + 1] if i + 1 < len(ifds) else 0) if link == -1 else (
            ifds[link] if link < 1000 else link)
        out[at:at + 4] = struct.pack(e + "I", target)
    return bytes(out)


def page(width, height, bits, samples, photometric, compression, rows_per_strip, strips, extra=()):
    entries = [(256, LONG, [width]), (257, LONG, [height]), (258, SHORT, [bits] * samples),
               (259, SHORT, [compression]), (262, SHORT, [photometric]), (273, LONG, None),
               (277, SHORT, [samples]), (278, LONG, [rows_per_strip]),
               (279, LONG, [len(s) for s in strips]),
               (282, RATIONAL, [300, 1]), (283, RATIONAL, [4294967295, 36364130])]
    return (entries + list(extra), strips)


def rows_to_strips(rows, per):
    return [b"".join(rows[i:i + per]) for i in range(0, len(rows), per)]


def packbits(row):
    out, i = bytearray(), 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run > 1:
            out += bytes([257 - run, row[i]])
            i += run
        else:
            j = i
            while j < len(row) and j - i < 128 and not (j + 1 < len(row) and row[j + 1] == row[j]):
                j += 1
            out += bytes([j - i - 1]) + row[i:j]
            i = j
    return bytes(out)


def seeds():
    grey = [bytes((x * 9 + y * 5) & 0xFF for x in range(13)) for y in range(9)]
    rgb = [bytes((x * 3 + c * 70 + y) & 0xFF for x in range(7) for c in range(3)) for y in range(6)]
    mono = [bytes([0x0F ^ y, 0xA5, 0x80 >> (y % 8)]) for y in range(10)]
    two = [bytes([0x1B, 0xE4 ^ y]) for y in range(4)]
    cmap = [i * 0x1111 for i in range(16)] + [0x8000] * 16 + [0xFFFF - i * 0x1000 for i in range(16)]
    yield "grey8-le", tiff([page(13, 9, 8, 1, 1, 1, 4, rows_to_strips(grey, 4))])
    yield "grey8-be", tiff([page(13, 9, 8, 1, 1, 1, 4, rows_to_strips(grey, 4))], big=True)
    yield "grey8-packbits", tiff([page(13, 9, 8, 1, 0, 32773, 3,
                                       rows_to_strips([packbits(r) for r in grey], 3))])
    yield "rgb24-le", tiff([page(7, 6, 8, 3, 2, 1, 6, rows_to_strips(rgb, 6))])
    yield "rgb24-packbits-be", tiff([page(7, 6, 8, 3, 2, 32773, 2,
                                          rows_to_strips([packbits(r) for r in rgb], 2))], big=True)
    planes = [b"".join(r[c::3] for r in rgb) for c in range(3)]
    yield "rgb24-planar", tiff([page(7, 6, 8, 3, 2, 1, 6, planes, [(284, SHORT, [2])])])
    yield "mono1-wiz", tiff([page(24, 10, 1, 1, 0, 1, 10, rows_to_strips(mono, 10),
                                  [(266, SHORT, [2])])])
    yield "grey2", tiff([page(8, 4, 2, 1, 1, 1, 2, rows_to_strips(two, 2))])
    yield "pal4", tiff([page(4, 4, 4, 1, 3, 1, 4, rows_to_strips(two, 4), [(320, SHORT, cmap)])])
    pages = [page(13, 9, 8, 1, 1, 1, 9, rows_to_strips(grey, 9)),
             page(7, 6, 8, 3, 2, 32773, 1, [packbits(r) for r in rgb]),
             page(24, 10, 1, 1, 1, 1, 10, rows_to_strips(mono, 10))]
    yield "pages-3", tiff(pages)
    yield "pages-loop", tiff(pages, links={2: 0})
    yield "pages-self-loop", tiff(pages, links={1: 1})
    yield "pages-past-end", tiff(pages, links={1: 0x7FFFFFF0})
    yield "no-directory", tiff(pages[:1], first_zero=True)
    yield "lzw-refused", tiff([page(13, 9, 8, 1, 1, 5, 9, rows_to_strips(grey, 9))])
    yield "g3-2d-refused", tiff([page(24, 10, 1, 1, 0, 3, 10, [b"\0\1" * 10], [(292, LONG, [1])])])
    # Samples that are not unsigned integers (SampleFormat 2, 3; one value per sample).
    yield "grey8-signed", tiff([page(13, 9, 8, 1, 1, 1, 4, rows_to_strips(grey, 4), [(339, SHORT, [2])])])
    yield "rgb24-float-blue", tiff([page(7, 6, 8, 3, 2, 1, 6, rows_to_strips(rgb, 6),
                                         [(339, SHORT, [1, 1, 3])])])
    # A directory without StripOffsets: nothing to read rows from.
    no_strips = page(13, 9, 8, 1, 1, 1, 9, rows_to_strips(grey, 9))
    no_strips = ([e for e in no_strips[0] if e[0] != 273], no_strips[1])
    yield "grey8-no-strip-offsets", tiff([no_strips])


def ccitt_seeds(work):
    """Group 3 and Group 4 strips made by libtiff from a small bilevel picture."""
    if shutil.which("tiffcp") is None or shutil.which("pnmtotiff") is None:
        return
    width, height = 67, 19
    rows = []
    for y in range(height):
        bits = [1 if ((x // (1 + y % 4)) % 3 == 0) != (x > 40 and y > 8) else 0 for x in range(width)]
        rows.append(bytes(sum(bits[x + k] << (7 - k) for k in range(8) if x + k < width)
                          for x in range(0, width, 8)))
    pbm = os.path.join(work, "src.pbm")
    with open(pbm, "wb") as f:
        f.write(b"P4\n%d %d\n" % (width, height) + b"".join(rows))
    src = os.path.join(work, "src.tif")
    with open(src, "wb") as f:
        subprocess.run(["pnmtotiff", "-miniswhite", "-none", pbm], stdout=f, check=True,
                       stderr=subprocess.DEVNULL)
    for name, options in [("g3-1d", ["-c", "g3:1d", "-r", "7"]), ("g3-fill", ["-c", "g3:fill"]),
                          ("g4", ["-c", "g4", "-r", "8"]), ("g4-lsb-be", ["-c", "g4", "-f", "lsb2msb", "-B"]),
                          ("g3-1d-be", ["-c", "g3:1d:fill", "-B"])]:
        out = os.path.join(work, name + ".tif")
        subprocess.run(["tiffcp"] + options + [src, out], check=True)
        with open(out, "rb") as f:
            yield "mono1-" + name, f.read()


def tiled_seeds(work):
    """Tiled pages written by libtiff's tiffcp (refused: rows come from strips only)."""
    if shutil.which("tiffcp") is None or shutil.which("pnmtotiff") is None:
        return
    width, height = 37, 21
    ppm = os.path.join(work, "src.ppm")
    with open(ppm, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height) +
                bytes((x * 7 + c * 80 + y * 3) & 0xFF for y in range(height) for x in range(width)
                      for c in range(3)))
    src = os.path.join(work, "src-rgb.tif")
    with open(src, "wb") as f:
        subprocess.run(["pnmtotiff", "-truecolor", "-none", ppm], stdout=f, check=True,
                       stderr=subprocess.DEVNULL)
    for name, options in [("rgb24-tiled", ["-t", "-w", "16", "-l", "16"]),
                          ("rgb24-tiled-planar", ["-t", "-w", "16", "-l", "16", "-p", "separate"])]:
        out = os.path.join(work, name + ".tif")
        subprocess.run(["tiffcp"] + options + [src, out], check=True)
        with open(out, "rb") as f:
            yield name, f.read()


def main():
    os.makedirs(OUT, exist_ok=True)
    for name in os.listdir(OUT):
        if not name.startswith("crash-"):
            os.remove(os.path.join(OUT, name))
    with tempfile.TemporaryDirectory() as work:
        for name, data in list(seeds()) + list(ccitt_seeds(work)) + list(tiled_seeds(work)):
            with open(os.path.join(OUT, name + ".tif"), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()

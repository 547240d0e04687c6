#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdfax/: small fax files ("FF"
container, little-endian TIFF layout, T.4 one-dimensional rows), valid and
broken, each probing one policy of the reader. The run-length codes are read
from plugins/shared/include/plugin/t4_codes.h. Run from anywhere:
    python3 fuzz/make_rdfax_corpus.py
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import random
import re
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "fuzz", "corpus", "rdfax")
CODES = os.path.join(ROOT, "plugins", "shared", "include", "plugin", "t4_codes.h")


def load_tables():
    text = open(CODES).read()

    def table(name):
        body = re.search(r"%s\[[^\]]*\] = \{(.*?)\n\};" % name, text, re.S).group(1)
        return [b for b, _ in re.findall(r"\{0b([01]+), (\d+)\}", body)]

    return {name: table(name) for name in ("kWhiteTerminating", "kWhiteMakeUp",
                                             "kBlackTerminating", "kBlackMakeUp", "kExtendedMakeUp")}


T = load_tables()
EOL = "000000000001"


def run_bits(run, black):
    term = T["kBlackTerminating" if black else "kWhiteTerminating"]
    makeup = T["kBlackMakeUp" if black else "kWhiteMakeUp"]
    out = ""
    while run >= 2624:
        out += T["kExtendedMakeUp"][-1]
        run -= 2560
    if run >= 64:
        units = run // 64
        out += makeup[units - 1] if units <= 27 else T["kExtendedMakeUp"][units - 28]
        run -= units * 64
    return out + term[run]


def row_bits(pixels, eol=True, fill=True, used=0):
    """pixels: list of 0/1 (1 = black); used: bits already in the current byte."""
    out = ""
    if eol:
        if fill:
            out += "0" * ((8 - (used + 12) % 8) % 8)
        out += EOL
    x, colour = 0, 0
    while x < len(pixels):
        end = x
        while end < len(pixels) and pixels[end] == colour:
            end += 1
        out += run_bits(end - x, colour == 1)
        x, colour = end, 1 - colour
    return out


def to_bytes(bits, reverse=False):
    bits += "0" * (-len(bits) % 8)
    data = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
    if reverse:
        data = bytes(int("{:08b}".format(b)[::-1], 2) for b in data)
    return data


def picture(width, height, seed):
    rnd = random.Random(seed)
    rows = []
    for y in range(height):
        kind = y % 4
        if kind == 0:
            rows.append([0] * width)
        elif kind == 1:
            rows.append([1 if width // 4 <= x < width // 2 else 0 for x in range(width)])
        elif kind == 2:
            rows.append([rnd.randrange(2) for _ in range(width)])
        else:
            rows.append([1] * width)
    return rows


def strips_of(rows, per_strip, eol=True, fill=True, reverse=False):
    strips = []
    for first in range(0, len(rows), per_strip):
        bits = ""
        for row in rows[first:first + per_strip]:
            bits += row_bits(row, eol, fill, len(bits) % 8)
        strips.append(to_bytes(bits, reverse))
    return strips


def page(width, height, strips, per_strip, compression=3, fill_order=1, bits=1, byte_counts=True,
         photometric=0, strip_offsets=True):
    entries = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits]), (259, 3, [compression]),
               (262, 3, [photometric]), (266, 3, [fill_order]), (277, 3, [1]), (278, 4, [per_strip]),
               (282, 5, [204, 1]), (283, 5, [196, 1]), (296, 3, [2])]
    return {"entries": entries, "strips": strips, "byte_counts": byte_counts,
            "strip_offsets": strip_offsets}


def build(pages, links=None, mark=b"FF"):
    """Header, then per page: strips, value arrays, directory. links[i]: page index or None."""
    out = bytearray(mark + b"\x2a\x00" + b"\0\0\0\0")
    ifds = []
    patches = []
    for p in pages:
        offsets = []
        for s in p["strips"]:
            offsets.append(len(out))
            out += s
        entries = list(p["entries"])
        if p["strip_offsets"]:
            entries.append((273, 4, offsets))
        if p["byte_counts"]:
            entries.append((279, 4, [len(s) for s in p["strips"]]))
        entries.sort()
        blobs = {}
        for tag, typ, values in entries:
            size = 2 if typ == 3 else 4
            count = len(values) // 2 if typ == 5 else len(values)
            if typ == 5 or count * size > 4:
                blobs[tag] = len(out)
                out += b"".join(struct.pack("<H" if typ == 3 else "<I", v) for v in values)
        if len(out) % 2:
            out += b"\0"
        ifds.append(len(out))
        out += struct.pack("<H", len(entries))
        for tag, typ, values in entries:
            count = len(values) // 2 if typ == 5 else len(values)
            out += struct.pack("<HHI", tag, typ, count)
            if tag in blobs:
                out += struct.pack("<I", blobs[tag])
            elif typ == 3:
                out += b"".join(struct.pack("<H", v) for v in values).ljust(4, b"\0")
            else:
                out += struct.pack("<I", values[0])
        patches.append(len(out))
        out += b"\0\0\0\0"
    struct.pack_into("<I", out, 4, ifds[0] if ifds else 0)
    for i, at in enumerate(patches):
        target = (links[i] if links else None)
        if target is None:
            target = i + 1 if i + 1 < len(ifds) else None
        struct.pack_into("<I", out, at, ifds[target] if target is not None else 0)
    return bytes(out)


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {}
    rows = picture(64, 12, 1)
    seeds["fax-mono-1-two-strips"] = build([page(64, 12, strips_of(rows, 6), 6)])
    seeds["fax-mono-1-no-eol"] = build([page(64, 12, strips_of(rows, 12, eol=False), 12)])
    seeds["fax-mono-1-fillorder2"] = build([page(64, 12, strips_of(rows, 4, reverse=True), 4,
                                                 fill_order=2)])
    seeds["fax-mono-1-compression1"] = build([page(64, 12, strips_of(rows, 12), 12, compression=1)])
    seeds["fax-mono-1-photometric1"] = build([page(64, 12, strips_of(rows, 12), 12, photometric=1)])
    wide = picture(2700, 4, 2)
    seeds["fax-mono-1-long-runs"] = build([page(2700, 4, strips_of(wide, 2), 2)])
    other = picture(40, 5, 3)
    seeds["fax-mono-1-two-pages"] = build([page(64, 12, strips_of(rows, 6), 6),
                                           page(40, 5, strips_of(other, 5), 5)])
    seeds["fax-mono-1-page-loop"] = build([page(64, 12, strips_of(rows, 6), 6),
                                           page(40, 5, strips_of(other, 5), 5)], links=[1, 0])
    seeds["fax-mono-1-no-bytecounts"] = build([page(64, 12, strips_of(rows, 12), 12,
                                                    byte_counts=False)])
    seeds["fax-grey-8-refused"] = build([page(8, 2, [b"\0" * 16], 2, bits=8)])
    seeds["fax-mono-1-tiff-mark"] = build([page(64, 12, strips_of(rows, 12), 12)], mark=b"II")
    full = seeds["fax-mono-1-two-strips"]
    seeds["fax-mono-1-truncated"] = full[:len(full) // 3]
    seeds["fax-mono-1-header-only"] = full[:8]
    seeds["fax-mono-1-no-strip-offsets"] = build([page(64, 12, strips_of(rows, 12), 12,
                                                       strip_offsets=False)])
    seeds["fax-mono-1-zero-data"] = build([page(500, 30, [b"\0" * 40], 30)])
    for name, data in seeds.items():
        with open(os.path.join(OUT, name + ".vlf"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

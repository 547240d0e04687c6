#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdgif/: small GIF files, valid and
broken, each probing one policy of the reader. Run from anywhere:
    python3 fuzz/make_rdgif_corpus.py
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import random
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "rdgif")


def lzw(indices, code_size, deferred=False):
    """Codes (value, width) of a plain LZW encoder: clear first, end last."""
    clear = 1 << code_size
    width, nxt, table = code_size + 1, clear + 2, {}
    codes = [(clear, width)]
    cur = indices[0]
    for p in indices[1:]:
        if (cur, p) in table:
            cur = table[(cur, p)]
            continue
        codes.append((cur, width))
        if nxt < 4096:
            table[(cur, p)] = nxt
            nxt += 1
            if nxt > (1 << width) and width < 12:
                width += 1
        if nxt == 4096 and not deferred:
            codes.append((clear, width))
            width, nxt, table = code_size + 1, clear + 2, {}
        cur = p
    codes.append((cur, width))
    if nxt < 4096:
        nxt += 1
        if nxt > (1 << width) and width < 12:
            width += 1
    codes.append((clear + 1, width))
    return codes


def pack(codes):
    value, bits, stream = 0, 0, bytearray()
    for code, width in codes:
        value |= code << bits
        bits += width
        while bits >= 8:
            stream.append(value & 0xFF)
            value >>= 8
            bits -= 8
    if bits:
        stream.append(value)
    out = bytearray()
    for at in range(0, len(stream), 255):
        chunk = stream[at:at + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out) + b"\0"


def gif(width, height, code_size, data, interlaced=False, table_bits=None, before=b"", local=False):
    bits = table_bits if table_bits is not None else code_size
    packed = 0x70 | ((0x80 | (bits - 1)) if bits and not local else 0)
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, packed, 0, 0)
    table = bytes((i * 37 + c) & 0xFF for i in range(1 << max(bits, 1)) for c in range(3))
    if bits and not local:
        out += table
    out += before + b"," + struct.pack("<HHHH", 0, 0, width, height)
    flags = (0x40 if interlaced else 0) | ((0x80 | (bits - 1)) if local else 0)
    out += bytes([flags]) + (table if local else b"") + bytes([code_size])
    return out + data + b";"


def interlace(pixels, width, height):
    rows = [pixels[y * width:(y + 1) * width] for y in range(height)]
    order = []
    for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)):
        order += rows[start::step]
    return [p for r in order for p in r]


def seeds():
    rng = random.Random(3)
    for code_size in (1, 2, 4, 8):
        w, h = 19, 13
        pixels = [rng.randrange(1 << code_size) if rng.randrange(3) == 0 else 0 for _ in range(w * h)]
        yield f"gif-pal-{code_size}.gif", gif(w, h, code_size, pack(lzw(pixels, code_size)))
        yield f"gif-pal-{code_size}-interlaced.gif", gif(w, h, code_size,
                                                        pack(lzw(interlace(pixels, w, h), code_size)), True)
    # A full table without clear codes (long flat areas).
    flat = [(i // 700) % 4 for i in range(60 * 300)]
    yield "gif-pal-8-deferred-clear.gif", gif(60, 300, 8, pack(lzw(flat, 8, deferred=True)))
    # Comment and graphic control extensions full of 0x2C; a local table.
    ext = b"\x21\xfe\x03,,,\x00\x21\xf9\x04\x01,\x00,\x00"
    pixels = [rng.randrange(4) for _ in range(64)]
    yield "gif-pal-2-extensions.gif", gif(8, 8, 2, pack(lzw(pixels, 2)), before=ext, local=True)
    # No colour table at all.
    yield "gif-pal-2-no-table.gif", gif(8, 8, 2, pack(lzw(pixels, 2)), table_bits=0)
    # Early end code, corrupt codes, truncated data, invalid code sizes.
    yield "gif-pal-2-early-end.gif", gif(8, 8, 2, pack([(4, 3), (1, 3), (2, 3), (5, 3)]))
    yield "gif-pal-3-corrupt.gif", gif(8, 8, 3, pack([(8, 4), (1, 4), (12, 4), (15, 4)]))
    yield "gif-pal-8-truncated.gif", gif(40, 40, 8, pack(lzw([rng.randrange(256) for _ in range(1600)], 8)))[:200]
    yield "gif-pal-8-code-size-12.gif", gif(8, 8, 12, pack([(0, 13)] * 8))
    yield "gif-pal-8-code-size-0.gif", gif(8, 8, 0, pack([(1, 1)] * 8))
    # Huge claims from a tiny file, interlaced and not.
    yield "gif-pal-8-huge.gif", gif(65535, 65535, 8, pack([(256, 9), (1, 9), (257, 9)]))
    yield "gif-pal-8-huge-interlaced.gif", gif(20000, 20000, 8, pack([(256, 9), (1, 9), (257, 9)]), True)
    # Broken headers.
    yield "gif-bad-signature.gif", b"GIX89a" + bytes(20)
    yield "gif-no-image.gif", gif(8, 8, 2, b"")[:13 + 12]
    yield "gif-short.gif", b"GIF8"


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed files of fuzz/corpus/rdjpeg/: small baseline JPEG files made
by libjpeg-turbo's cjpeg (every sampling layout, grey, restarts, optimised
tables) and edited copies, each probing one policy of the reader. Needs cjpeg
on PATH. Run from anywhere:
    python3 fuzz/make_rdjpeg_corpus.py
Files that once crashed the reader are kept beside these seeds (crash-*)."""
import os
import random
import shutil
import struct
import subprocess
import tempfile

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "rdjpeg")


def picture(width, height, seed):
    rng = random.Random(seed)
    data = bytearray()
    for y in range(height):
        for x in range(width):
            check = (x // 6 + y // 5) % 2
            data += bytes([(x * 255) // max(1, width - 1), (y * 37) & 255,
                           200 - rng.randrange(60) if check else rng.randrange(60)])
    return b"P6 %d %d 255\n" % (width, height) + bytes(data)


def cjpeg(options, width=24, height=18, seed=1):
    with tempfile.NamedTemporaryFile(suffix=".ppm") as src:
        src.write(picture(width, height, seed))
        src.flush()
        return subprocess.run(["cjpeg"] + options + [src.name], check=True, capture_output=True).stdout


def segments(jpeg):
    """(code, body) up to SOS, and the bytes after the SOS segment."""
    out, at = [], 2
    while at + 4 <= len(jpeg):
        code = jpeg[at + 1]
        length = struct.unpack(">H", jpeg[at + 2:at + 4])[0]
        out.append([code, bytearray(jpeg[at + 4:at + 2 + length])])
        at += 2 + length
        if code == 0xDA:
            break
    return out, jpeg[at:]


def join(segs, rest):
    data = b"\xff\xd8"
    for code, body in segs:
        data += bytes([0xFF, code]) + struct.pack(">H", len(body) + 2) + bytes(body)
    return data + rest


def edited(jpeg, edit):
    segs, rest = segments(jpeg)
    rest = edit(segs, rest) or rest
    return join(segs, rest)


def first(segs, code):
    return next(s for s in segs if s[0] == code)


def seeds():
    yield "jpeg-ycc-8-420.jpg", cjpeg(["-sample", "2x2"])
    yield "jpeg-ycc-8-422.jpg", cjpeg(["-sample", "2x1"], 33, 9)
    yield "jpeg-ycc-8-444.jpg", cjpeg(["-sample", "1x1"], 9, 9)
    yield "jpeg-ycc-8-440.jpg", cjpeg(["-sample", "1x2"], 17, 30)
    yield "jpeg-ycc-8-411.jpg", cjpeg(["-sample", "4x1"], 40, 8)
    yield "jpeg-grey-8.jpg", cjpeg(["-grayscale"], 20, 20)
    yield "jpeg-grey-8-sampled-2x2.jpg", cjpeg(["-grayscale", "-sample", "2x2"], 20, 20)
    yield "jpeg-ycc-8-restart-1.jpg", cjpeg(["-restart", "1B", "-sample", "2x2"])
    yield "jpeg-ycc-8-optimized-q98.jpg", cjpeg(["-optimize", "-quality", "98"], 16, 16)
    yield "jpeg-ycc-8-q5.jpg", cjpeg(["-quality", "5", "-baseline"], 16, 16)
    base = cjpeg(["-sample", "2x2"], 16, 16)
    # Policies of the marker walk.
    yield "jpeg-progressive.jpg", cjpeg(["-progressive"], 16, 16)
    yield "jpeg-app0-not-jfif.jpg", edited(base, lambda s, r: first(s, 0xE0)[1].__setitem__(0, ord("X")))
    yield "jpeg-no-app0.jpg", edited(base, lambda s, r: s.remove(first(s, 0xE0)))
    yield "jpeg-eoi-before-sos.jpg", join(segments(base)[0][:2], b"\xff\xd9")
    yield "jpeg-huffman-id-2.jpg", edited(base, lambda s, r: first(s, 0xC4)[1].__setitem__(0, 2))
    yield "jpeg-overfull-huffman.jpg", edited(base, lambda s, r: first(s, 0xC4)[1].__setitem__(slice(1, 4), b"\x03\x00\x03"))
    yield "jpeg-sampling-3x1.jpg", edited(base, lambda s, r: first(s, 0xC0)[1].__setitem__(7, 0x31))
    yield "jpeg-huge-frame.jpg", edited(base, lambda s, r: first(s, 0xC0)[1].__setitem__(slice(1, 5), b"\xff\xff\xff\xff"))
    yield "jpeg-one-scan-component.jpg", edited(base, lambda s, r: first(s, 0xDA)[1].__setitem__(0, 1))
    # Entropy data: cut short, flooded with FF, restart markers in odd places.
    yield "jpeg-truncated-scan.jpg", base[:len(base) * 2 // 3]
    segs, rest = segments(base)
    yield "jpeg-scan-all-ff.jpg", join(segs, b"\xff" * 300)
    yield "jpeg-scan-markers.jpg", join(segs, b"\xff\xd0\x12\xff\xd1\xff\x00\xff\xd9" * 20)
    rst = cjpeg(["-restart", "1B"], 16, 16)
    yield "jpeg-restart-no-markers.jpg", rst.replace(b"\xff\xd0", b"\x12\x34")
    yield "jpeg-zero-length.jpg", base[:4] + b"\x00\x00" + base[6:]
    # Four components (refused): ImageMagick's CMYK output is YCCK (Adobe transform 2);
    # the same stream marked plain CMYK (transform 0).
    if shutil.which("convert") is not None:
        ycck = subprocess.run(["convert", "ppm:-", "-colorspace", "CMYK", "jpg:-"],
                              input=picture(16, 16, 3), check=True, capture_output=True).stdout
        yield "jpeg-ycck-8.jpg", ycck
        yield "jpeg-cmyk-8.jpg", edited(ycck, lambda s, r: first(s, 0xEE)[1].__setitem__(11, 0))


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpus of the Photo CD library fuzz harness into corpus/.

Each input is 13 parameter bytes (rectangle, stride, file length) and a seed
that the harness repeats to the file length (see pcdlib_fuzz.cpp). The
seeds probe: a whole Image Pac read whole and in part, each display turn,
truncation inside the header and inside the Base image, an overview pack,
and rectangles the library must refuse.
"""
import os
import struct

BASE_END = 96 * 2048 + 768 * 512 * 3 // 2


def pac_seed(turns=0, signature=b"PCD_IPI", luma=100):
    seed = bytearray(signature + bytes([luma]) * (2048 - len(signature)))
    seed[0x0E02 - 2048] = turns  # byte 0x0E02 of the file: the seed repeats every 2048 bytes
    return bytes(seed)


def entry(rect, stride, length, seed):
    return struct.pack("<4HH", *rect, stride) + struct.pack("<I", length)[:3] + seed


CASES = {
    "whole-base": entry((0, 0, 512, 767), 2304, BASE_END, pac_seed()),
    "part-offset": entry((100, 10, 140, 200), 600, BASE_END + 2048, pac_seed(luma=188)),
    "turn-1": entry((0, 0, 768, 511), 1536, BASE_END, pac_seed(1)),
    "turn-2": entry((511, 700, 512, 0xFFFF), 300, BASE_END, pac_seed(2)),
    "turn-3": entry((700, 0, 768, 0xFFFF), 1536, BASE_END, pac_seed(3)),
    "cut-in-header": entry((0, 0, 1, 767), 2304, 5000, pac_seed()),
    "cut-in-base": entry((0, 0, 1, 767), 2304, BASE_END - 1, pac_seed()),
    "overview": entry((0, 0, 1, 767), 2304, BASE_END, pac_seed(signature=b"PCD_OPA")),
    "rows-past-end": entry((500, 0, 600, 767), 2304, BASE_END, pac_seed()),
    "stride-too-small": entry((0, 0, 2, 767), 2303, BASE_END, pac_seed()),
    "end-before-start": entry((9, 0, 3, 767), 2304, BASE_END, pac_seed()),
    "empty-seed": entry((0, 0, 1, 767), 2304, BASE_END, b""),
}

if __name__ == "__main__":
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in CASES.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)

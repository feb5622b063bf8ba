#!/usr/bin/env python3
"""Writes tiny GIFs that announce a huge frame: a 30000 x 30000 logical screen and an image
descriptor of zero size (so the frame takes the screen's size) whose data ends at once.
Usage: make_giants.py DIR"""
import os
import struct
import sys

W = H = 30000
# Codes of 3 bits, low bits first: clear (4), the literal 1, end (5).
DATA = bytes([2, 2, 0x4C, 0x01, 0])


def giant(interlaced=False, local=False, frames=1):
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", W, H, 0x00 if local else 0x80, 0, 0)
    if not local:
        out += bytes([0, 0, 0, 255, 255, 255])
    for _ in range(frames):
        packed = (0x40 if interlaced else 0) | (0x80 if local else 0)
        out += b"," + struct.pack("<HHHHB", 0, 0, 0, 0, packed)
        if local:
            out += bytes([0, 0, 0, 255, 255, 255])
        out += DATA
    out += b";"
    return bytes(out)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    files = {
        "plain": giant(),
        "interlaced": giant(interlaced=True),
        "local": giant(local=True),
        "two": giant(frames=2),
    }
    for name, data in files.items():
        with open(os.path.join(folder, f"giant-{name}.gif"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

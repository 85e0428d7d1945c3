"""Writes the seeds of the PICT fuzz target (tests/fuzz/corpus/pict): ImageMagick's palette,
bilevel, true-colour and alpha pictures, and hand-made version 1 and 16-bit pictures with
the opcodes ImageMagick never writes (patterns, regions, comments, reserved opcodes).

    /usr/bin/python3 tests/fuzz/make_pict_seeds.py tests/fuzz/corpus
"""
import os
import struct
import subprocess
import sys
import tempfile

out = os.path.join(sys.argv[1], "pict")
os.makedirs(out, exist_ok=True)


def be16(*v):
    return struct.pack(">%dH" % len(v), *v)


def rect(w, h):
    return be16(0, 0, h, w)


def pixmap(pixel_size, cmp_count):
    return (be16(0, 4) + bytes(4) + struct.pack(">II", 0x480000, 0x480000) +
            be16(16 if pixel_size > 8 else 0, pixel_size, cmp_count, 8) + bytes(12))


def start(version):
    head = bytes(512) + be16(0) + rect(8, 4)
    if version == 1:
        return head + bytes([0, 0x11, 1])
    return head + bytes([0, 0x11, 2, 0xFF]) + be16(0x0C00) + bytes(24)


# Version 1: clip, a pen size, a comment, then a one-bit BitsRgn with unpacked rows.
v1 = (start(1) + bytes([0x01]) + be16(10) + rect(8, 4) + bytes([0x07]) + be16(1, 1) +
      bytes([0xA0]) + be16(5) + bytes([0x91]) + be16(2) + rect(12, 3) + rect(12, 3) +
      rect(12, 3) + be16(0) + be16(10) + rect(12, 3) + bytes([0xAA, 0x50, 0xF0, 0x0F, 0, 0xFF]) +
      bytes([0xFF]))
# Version 2: reserved opcodes, a type-1 pixel pattern, a polygon, then 16-bit direct pixels.
pattern = (be16(0x12, 1) + bytes(8) + be16(0x8008) + rect(8, 1) + pixmap(8, 1) +
           bytes(4) + be16(0, 1) + be16(0, 0xFFFF, 0, 0) + be16(1, 0, 0, 0xFFFF) +
           bytes([2, 0xF9, 1]))
v2 = (start(2) + be16(0xA5, 2, 0) + be16(0xB0) + be16(0x0200) + bytes(4) + pattern +
      bytes(1) + be16(0x70, 12) + bytes(10) + be16(0xA1, 100, 2, 0) + be16(0x9A) +
      bytes([0, 0, 0, 0xFF]) + be16(0x8010) + rect(8, 2) + pixmap(16, 3) + rect(8, 2) +
      rect(8, 2) + be16(0) + bytes([10, 0xFC, 0x7C, 0x00, 2, 0x03, 0xE0, 0x00, 0x1F, 0x7F, 0xFF]) +
      bytes([3, 0xF9, 0x03, 0xE0]) + bytes(1) + be16(0xFF))
open(os.path.join(out, "v1_bitsrgn.pict"), "wb").write(v1)
open(os.path.join(out, "v2_direct16.pict"), "wb").write(v2)

with tempfile.TemporaryDirectory() as tmp:
    src = os.path.join(tmp, "s.ppm")
    subprocess.run(["/usr/bin/convert", "-size", "24x6", "gradient:red-blue", src], check=True)
    for name, options in [("im_palette", ["-type", "Palette"]),
                          ("im_bilevel", ["-type", "Bilevel"]),
                          ("im_truecolour", ["-type", "TrueColor"]),
                          ("im_alpha", ["-alpha", "set", "-channel", "A", "-fx", "i/w",
                                        "-type", "TrueColorAlpha"])]:
        subprocess.run(["/usr/bin/convert", src] + options +
                       [os.path.join(out, name + ".pict")], check=True)

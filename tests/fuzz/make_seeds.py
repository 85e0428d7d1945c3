"""Writes the small valid files that seed the decoder fuzz targets (tests/fuzz/corpus).

Run with a Python that has Pillow, and ImageMagick's convert on the path:
    /usr/bin/python3 tests/fuzz/make_seeds.py tests/fuzz/corpus
"""
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image

out = sys.argv[1]


def path(fmt, name):
    os.makedirs(os.path.join(out, fmt), exist_ok=True)
    return os.path.join(out, fmt, name)


def picture(w=9, h=6, alpha=False):
    im = Image.new("RGBA" if alpha else "RGB", (w, h))
    for y in range(h):
        for x in range(w):
            c = (200, 30, 90) if x < 4 else (x * 28, y * 40, (x + y) * 15)
            im.putpixel((x, y), c + ((x * 30) % 256,) if alpha else c)
    return im


rgb = picture()
rgba = picture(alpha=True)
pal16 = rgb.convert("P", palette=Image.ADAPTIVE, colors=16)
pal = rgb.convert("P", palette=Image.ADAPTIVE, colors=8)

# BMP: Pillow's uncompressed depths, ImageMagick's RLE8, a hand-made RLE4 and top-down file.
for mode, im in [("1", rgb.convert("1")), ("p", pal), ("rgb", rgb), ("rgba", rgba)]:
    im.save(path("bmp", f"pil_{mode}.bmp"))
with tempfile.TemporaryDirectory() as tmp:
    src = os.path.join(tmp, "s.png")
    rgb.save(src)
    subprocess.run(["convert", src, "-colors", "8", "-type", "palette", "-compress", "RLE",
                    "BMP3:" + path("bmp", "im_rle8.bmp")], check=True)
    subprocess.run(["convert", src, "-compress", "RLE", path("tga", "im_rle24.tga")], check=True)
    subprocess.run(["convert", src, "-colors", "16", "-type", "palette",
                    path("pcx", "im_pal16.pcx")], check=True)
    subprocess.run(["convert", src, "-monochrome", path("pcx", "im_mono.pcx")], check=True)


def bmp(width, height, bpp, compression, palette, data):
    offset = 54 + 4 * len(palette)
    head = b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset)
    head += struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression, len(data),
                        0, 0, len(palette), 0)
    return head + b"".join(struct.pack("<I", c) for c in palette) + data


palette16 = [0x000000, 0xFF0000, 0x00FF00, 0x0000FF] + [0x101010 * i for i in range(12)]
rle4 = bytes([4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 2, 0x77, 0, 1])
open(path("bmp", "rle4.bmp"), "wb").write(bmp(6, 3, 4, 2, palette16, rle4))
open(path("bmp", "topdown4.bmp"), "wb").write(
    bmp(5, -2, 4, 0, palette16, bytes([0x01, 0x23, 0x40, 0, 0x56, 0x78, 0x90, 0])))

# TGA: Pillow's modes, raw and run-length, both origins; a 16-bit file; a colour map at 16.
for mode, im in [("l", rgb.convert("L")), ("p", pal), ("rgb", rgb), ("rgba", rgba)]:
    for rle in (False, True):
        kwargs = {"orientation": 1 if rle else -1}
        if rle:
            kwargs["compression"] = "tga_rle"
        im.save(path("tga", f"pil_{mode}_{'rle' if rle else 'raw'}.tga"), **kwargs)


def tga(image_type, width, height, bits, descriptor, data, cmap=b"", first=0, length=0,
        entry=0):
    head = struct.pack("<BBBHHBHHHHBB", 0, 1 if cmap else 0, image_type, first, length, entry,
                       0, 0, width, height, bits, descriptor)
    return head + cmap + data


open(path("tga", "rgb16_rle.tga"), "wb").write(
    tga(10, 4, 2, 16, 0x20, bytes([0x82, 0x00, 0x80, 0x04, 0xFF, 0x7F, 0x1F, 0x00,
                                    0x00, 0x7C, 0xE0, 0x83, 0x10, 0x42])))
open(path("tga", "cmap16.tga"), "wb").write(
    tga(9, 3, 2, 8, 0, bytes([0x85, 17]), cmap=bytes(range(48)), first=16, length=16,
        entry=24))

# PCX: Pillow's grey, palette and RGB files; a 1-bit 4-plane file by hand.
for mode, im in [("l", rgb.convert("L")), ("p", pal), ("rgb", rgb)]:
    im.save(path("pcx", f"pil_{mode}.pcx"))
head = struct.pack("<BBBBHHHHHH", 10, 5, 1, 1, 0, 0, 7, 1, 72, 72)
head += bytes(range(48)) + bytes([0, 4]) + struct.pack("<H", 2)
head += bytes(128 - len(head))
open(path("pcx", "planes4.pcx"), "wb").write(
    head + bytes([0xAA, 0, 0x0F, 0, 0xC2, 0xF0, 0x55, 0, 0x33, 0, 0xC3, 0x81, 0x01, 0]))

# The detection target sees one of each.
for fmt in ("bmp", "tga", "pcx"):
    first = sorted(os.listdir(os.path.join(out, fmt)))[0]
    data = open(os.path.join(out, fmt, first), "rb").read()
    open(path("any", f"{fmt}_{first}"), "wb").write(data)

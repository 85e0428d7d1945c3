"""Writes GIF, PNG, TIFF and JPEG files with Pillow and ImageMagick, each next to Pillow's
own decode of it, for the decoder tests to compare against.

Usage: make_lib_samples.py OUTDIR

OUTDIR/manifest.txt gets one line per file: "NAME TOLERANCE". NAME.rgba holds the
reference: width and height (32-bit little-endian) followed by width x height RGBA pixels.
TOLERANCE is the largest difference allowed per channel (lossy formats only).
"""

import os
import random
import subprocess
import sys

from PIL import Image

CONVERT = "/usr/bin/convert"  # ImageMagick itself
OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)
manifest = []


def noise_rgb(w, h, seed, smooth=False):
    rnd = random.Random(seed)
    if not smooth:
        return Image.frombytes("RGB", (w, h), bytes(rnd.randrange(256) for _ in range(w * h * 3)))
    data = bytearray()
    for y in range(h):
        for x in range(w):
            data += bytes(((x * 255) // max(1, w - 1), (y * 255) // max(1, h - 1),
                           (x * y + rnd.randrange(24)) & 255))
    return Image.frombytes("RGB", (w, h), bytes(data))


def reference(im):
    """Pillow's decode as RGBA, 16-bit grey cut to its high byte as 8-bit readers do."""
    if im.mode in ("I;16", "I;16B", "I;16L"):
        raw = im.tobytes()
        high = raw[1::2] if im.mode in ("I;16", "I;16L") else raw[0::2]
        im = Image.frombytes("L", im.size, bytes(high))
    elif im.mode == "I":
        im = Image.frombytes("L", im.size, bytes(v >> 8 for v in im.getdata()))
    return im.convert("RGBA")


def record(name, tolerance=0):
    path = os.path.join(OUT, name)
    with Image.open(path) as im:
        im.load()
        ref = reference(im)
    with open(path + ".rgba", "wb") as f:
        f.write(ref.width.to_bytes(4, "little") + ref.height.to_bytes(4, "little"))
        f.write(ref.tobytes())
    manifest.append(f"{name} {tolerance}")


def pillow(name, im, tolerance=0, **options):
    im.save(os.path.join(OUT, name), **options)
    record(name, tolerance)


def magick(name, source, *args, tolerance=0, prefix=""):
    src = os.path.join(OUT, "_src.png")
    source.save(src)
    subprocess.run([CONVERT, src, *args, prefix + os.path.join(OUT, name)], check=True)
    record(name, tolerance)


rgb = noise_rgb(37, 23, 1)
photo = noise_rgb(64, 48, 2, smooth=True)
big = noise_rgb(300, 200, 3)  # enough codes to reach 12 bits and force clears
rgba = rgb.copy()
rgba.putalpha(Image.frombytes("L", rgb.size, bytes((i * 7) & 255 for i in range(37 * 23))))
grey = photo.convert("L")
palette = rgb.quantize(colors=200)
bilevel = grey.point(lambda v: 255 if v > 128 else 0).convert("1")
grey16 = Image.frombytes("I;16", (19, 11), bytes(random.Random(4).randrange(256) for _ in range(19 * 11 * 2)))
four = rgb.quantize(colors=4)

# GIF
pillow("gif_plain.gif", palette, interlace=False)
pillow("gif_interlaced.gif", palette, interlace=True)
pillow("gif_interlaced_short.gif", rgb.crop((0, 0, 9, 5)).quantize(colors=16), interlace=True)
pillow("gif_two_colours.gif", bilevel.convert("P"), interlace=False)
pillow("gif_big_noise.gif", big.quantize(colors=256), interlace=False)
pillow("gif_grey.gif", grey, interlace=False)
magick("gif_magick.gif", photo, "-colors", "64")
magick("gif_magick_interlaced.gif", rgb, "-colors", "128", "-interlace", "GIF")

# PNG
pillow("png_grey.png", grey)
pillow("png_grey_alpha.png", Image.merge("LA", (grey, grey.point(lambda v: 255 - v))))
pillow("png_palette.png", palette)
pillow("png_palette_2bit.png", four, bits=2)
pillow("png_rgb.png", rgb)
pillow("png_rgba.png", rgba)
pillow("png_grey16.png", grey16)
pillow("png_bilevel.png", bilevel)
magick("png_magick_rgb48.png", photo, prefix="PNG48:")
magick("png_magick_interlaced.png", rgb, "-interlace", "PNG")
magick("png_magick_grey2.png", grey, "-colorspace", "gray", "-depth", "2")
magick("png_magick_rgba64.png", rgba, "-depth", "16")

# TIFF
for compression in ("raw", "tiff_lzw", "tiff_deflate", "packbits"):
    pillow(f"tiff_rgb_{compression}.tif", rgb, compression=compression)
    pillow(f"tiff_grey_{compression}.tif", grey, compression=compression)
pillow("tiff_rgb_jpeg.tif", photo, tolerance=6, compression="jpeg")
pillow("tiff_rgba_lzw.tif", rgba, compression="tiff_lzw")
pillow("tiff_palette_lzw.tif", palette, compression="tiff_lzw")
pillow("tiff_bilevel_raw.tif", bilevel, compression="raw")
pillow("tiff_bilevel_group4.tif", bilevel, compression="group4")
pillow("tiff_bilevel_group3.tif", bilevel, compression="group3")
pillow("tiff_grey16.tif", grey16, compression="raw")
magick("tiff_magick_miniswhite.tif", bilevel, "-depth", "1",
       "-define", "quantum:polarity=min-is-white", "-compress", "none")
magick("tiff_magick_miniswhite_g4.tif", bilevel, "-depth", "1",
       "-define", "quantum:polarity=min-is-white", "-compress", "group4")
magick("tiff_magick_tiled.tif", rgb, "-define", "tiff:tile-geometry=16x16")
magick("tiff_magick_planar.tif", rgb, "-interlace", "plane")
magick("tiff_magick_msb.tif", rgb, "-endian", "MSB")
magick("tiff_magick_grey4.tif", grey, "-colorspace", "gray", "-depth", "4")
magick("tiff_magick_grey2.tif", grey, "-colorspace", "gray", "-depth", "2")
magick("tiff_magick_palette2.tif", four, "-type", "Palette", "-depth", "2")
magick("tiff_magick_palette4.tif", palette, "-colors", "16", "-type", "Palette", "-depth", "4")
magick("tiff_magick_rgb16.tif", photo, "-depth", "16")

# JPEG (our decoder uses the floating-point IDCT, Pillow the integer one)
pillow("jpeg_colour.jpg", photo, tolerance=4, quality=90)
pillow("jpeg_colour_444.jpg", photo, tolerance=4, quality=90, subsampling=0)
pillow("jpeg_colour_422.jpg", photo, tolerance=4, quality=75, subsampling=1)
pillow("jpeg_progressive.jpg", photo, tolerance=4, quality=85, progressive=True)
pillow("jpeg_grey.jpg", grey, tolerance=4, quality=90)
pillow("jpeg_odd_size.jpg", rgb, tolerance=4, quality=95)
magick("jpeg_magick.jpg", photo, "-quality", "80", tolerance=4)
magick("jpeg_magick_progressive_grey.jpg", grey, "-interlace", "JPEG", tolerance=4)

# Files the decoders refuse or treat specially; not compared.
photo.convert("CMYK").save(os.path.join(OUT, "extra_cmyk.jpg"), quality=90)

os.remove(os.path.join(OUT, "_src.png"))
with open(os.path.join(OUT, "manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")

"""Writes the small valid GIF, PNG, TIFF and JPEG files that seed their fuzz targets
(tests/fuzz/corpus/{gif,png,tiff,jpeg}).

    /usr/bin/python3 tests/fuzz/make_lib_seeds.py tests/fuzz/corpus
"""
import os
import sys

from PIL import Image

out = sys.argv[1]


def path(fmt, name):
    os.makedirs(os.path.join(out, fmt), exist_ok=True)
    return os.path.join(out, fmt, name)


rgb = Image.new("RGB", (11, 7))
for y in range(7):
    for x in range(11):
        rgb.putpixel((x, y), ((x * 23) & 255, (y * 37) & 255, ((x ^ y) * 29) & 255))
rgba = rgb.copy()
rgba.putalpha(Image.frombytes("L", rgb.size, bytes((i * 13) & 255 for i in range(77))))
grey = rgb.convert("L")
pal = rgb.quantize(colors=16)
bilevel = grey.point(lambda v: 255 if v > 100 else 0).convert("1")

pal.save(path("gif", "plain.gif"), interlace=False)
pal.save(path("gif", "interlaced.gif"), interlace=True)
bilevel.convert("P").save(path("gif", "two_colours.gif"))

grey.save(path("png", "grey.png"))
pal.save(path("png", "palette.png"))
rgb.quantize(colors=4).save(path("png", "palette_2bit.png"), bits=2)
rgb.save(path("png", "rgb.png"))
rgba.save(path("png", "rgba.png"))
Image.merge("LA", (grey, grey)).save(path("png", "grey_alpha.png"))
Image.frombytes("I;16", (5, 3), bytes(range(30))).save(path("png", "grey16.png"))
bilevel.save(path("png", "bilevel.png"))

for c in ("raw", "tiff_lzw", "packbits", "tiff_deflate"):
    rgb.save(path("tiff", f"rgb_{c}.tif"), compression=c)
grey.save(path("tiff", "grey_lzw.tif"), compression="tiff_lzw")
pal.save(path("tiff", "palette.tif"))
rgba.save(path("tiff", "rgba.tif"))
bilevel.save(path("tiff", "bilevel_g4.tif"), compression="group4")
bilevel.save(path("tiff", "bilevel_raw.tif"))
rgb.save(path("tiff", "rgb_jpeg.tif"), compression="jpeg")

rgb.save(path("jpeg", "colour.jpg"), quality=80)
rgb.save(path("jpeg", "colour_444.jpg"), quality=80, subsampling=0)
rgb.save(path("jpeg", "progressive.jpg"), quality=80, progressive=True)
grey.save(path("jpeg", "grey.jpg"), quality=80)
rgb.save(path("jpeg", "restart.jpg"), quality=80, restart_marker_blocks=1)

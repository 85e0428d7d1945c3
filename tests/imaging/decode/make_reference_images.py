"""Writes BMP, TGA and PCX files with Pillow and ImageMagick, plus each file's pixels as
decoded by an independent decoder, for decode_reference_test.

Usage: make_reference_images.py OUTDIR [BMPSUITE_DIR]
Writes OUTDIR/manifest.txt, one line per file: NAME WIDTH HEIGHT CHANNELS REFERENCE, where
NAME.rgba holds the reference decode as RGBA bytes, top row first, and CHANNELS is "rgba"
when alpha must match too, else "rgb".
"""
import os
import struct
import subprocess
import sys

from PIL import Image

out = sys.argv[1]
suite = sys.argv[2] if len(sys.argv) > 2 else None
os.makedirs(out, exist_ok=True)
manifest = []


def picture(w, h, alpha=False):
    """A gradient with a few flat areas, so run-length encoders find runs and literals."""
    im = Image.new("RGBA" if alpha else "RGB", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            if (x // 7 + y // 5) % 3 == 0:
                c = (200, 30, 90)
            else:
                c = ((x * 11 + y * 3) % 256, (y * 13) % 256, (x * y) % 256)
            px[x, y] = c + (((x * 29 + y * 7) % 256),) if alpha else c
    return im


def pillow_reference(path):
    with Image.open(path) as im:
        return im.size, im.convert("RGBA").tobytes()


def magick_reference(path):
    size = subprocess.run(["identify", "-format", "%w %h", path + "[0]"],
                          check=True, capture_output=True, text=True).stdout.split()
    data = subprocess.run(["convert", path + "[0]", "-depth", "8", "rgba:-"],
                          check=True, capture_output=True).stdout
    return (int(size[0]), int(size[1])), data


def record(name, channels, reference):
    path = os.path.join(out, name)
    (w, h), data = (pillow_reference if reference == "pillow" else magick_reference)(path)
    with open(path + ".rgba", "wb") as f:
        f.write(data)
    manifest.append(f"{name} {w} {h} {channels} {reference}")


base = picture(61, 37)
alpha = picture(61, 37, alpha=True)
grey = base.convert("L")
pal = base.convert("P", palette=Image.ADAPTIVE, colors=200)
pal16 = base.convert("P", palette=Image.ADAPTIVE, colors=16)
mono = base.convert("1")

# Pillow writers.
for mode, im in [("1", mono), ("L", grey), ("P", pal), ("RGB", base), ("RGBA", alpha)]:
    name = f"pil_{mode.lower()}.bmp"
    im.save(os.path.join(out, name))
    record(name, "rgb", "pillow")
for mode, im in [("L", grey), ("P", pal), ("RGB", base), ("RGBA", alpha)]:
    for rle in (False, True):
        for orientation in (1, -1):
            name = f"pil_{mode.lower()}_{'rle' if rle else 'raw'}_{'top' if orientation > 0 else 'bottom'}.tga"
            kwargs = {"orientation": orientation}
            if rle:
                kwargs["compression"] = "tga_rle"
            im.save(os.path.join(out, name), **kwargs)
            record(name, "rgba" if mode == "RGBA" else "rgb", "pillow")
for mode, im in [("L", grey), ("P", pal), ("RGB", base)]:
    name = f"pil_{mode.lower()}.pcx"
    im.save(os.path.join(out, name))
    record(name, "rgb", "pillow")

# ImageMagick writers (decoded by ImageMagick).
src = os.path.join(out, "source.png")
base.save(src)
alpha_src = os.path.join(out, "source_alpha.png")
alpha.save(alpha_src)
for name, args in [
    ("im_rle8.bmp", ["-colors", "200", "-type", "palette", "-compress", "RLE", "BMP3:"]),
    ("im_pal4.bmp", ["-colors", "16", "-type", "palette", "BMP3:"]),
    ("im_rgb24.bmp", ["-type", "truecolor", "BMP3:"]),
    ("im_rle24.tga", ["-compress", "RLE", ""]),
    ("im_rle32.tga", ["-compress", "RLE", ""]),
    ("im_raw24.tga", ["-compress", "None", ""]),
    ("im_rgb.pcx", ["-type", "truecolor", ""]),
    ("im_pal16.pcx", ["-colors", "16", "-type", "palette", ""]),
    ("im_pal256.pcx", ["-colors", "200", "-type", "palette", ""]),
    ("im_mono.pcx", ["-monochrome", ""]),
]:
    prefix = args[-1]
    source = alpha_src if "32" in name else src
    subprocess.run(["convert", source] + args[:-1] + [prefix + os.path.join(out, name)],
                   check=True)
    # ImageMagick 6 leaves its TGA rows in stored order when dumping raw pixels, whatever the
    # origin bit says; Pillow applies the bit, so it is the reference for those.
    record(name, "rgba" if "32" in name else "rgb", "pillow" if name.endswith(".tga") else "magick")

# BMP Suite files with the 40-byte header and a depth and compression we read.
if suite:
    for folder in ("g", "q"):
        d = os.path.join(suite, folder)
        for f in sorted(os.listdir(d)):
            data = open(os.path.join(d, f), "rb").read()
            if len(data) < 54 or struct.unpack("<I", data[14:18])[0] != 40:
                continue
            bpp, comp = struct.unpack("<HI", data[28:34])
            if bpp not in (1, 4, 8, 24, 32) or comp not in (0, 1, 2):
                continue
            if folder == "q" and f not in ("pal8offs.bmp", "pal8os2v2-40sz.bmp",
                                           "rgb32fakealpha.bmp", "pal1p1.bmp"):
                continue
            name = f"suite_{folder}_{f}"
            with open(os.path.join(out, name), "wb") as o:
                o.write(data)
            try:
                # Pillow 9 misreads RLE4 encoded runs; ImageMagick reads them as the suite's
                # reference pictures show.
                record(name, "rgb", "magick" if comp == 2 else "pillow")
            except Exception:
                os.remove(os.path.join(out, name))

with open(os.path.join(out, "manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")

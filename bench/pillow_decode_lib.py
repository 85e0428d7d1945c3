"""Pillow's side of the GIF / TIFF / JPEG / PNG decoder benchmark.

  pillow_decode_lib.py make DIR WIDTH HEIGHT [PHOTO]
      writes DIR/photo.jpg (quality 90), photo.png (RGB), photo.gif (256 colours),
      photo_raw.tif and photo_lzw.tif (RGB) of PHOTO's centre (scaled up first if it is
      smaller), or of a generated picture; prints "photo NAME" or "generated".
  pillow_decode_lib.py time CALLS FILE...
      times Image.open(f).load() per file, CALLS times after one untimed call; prints
      "FILE wall cpu" per call (seconds).
"""
import os
import sys
import time

from PIL import Image


def picture(width, height, photo):
    if photo and os.path.exists(photo):
        with Image.open(photo) as im:
            im = im.convert("RGB")
            scale = max(width / im.width, height / im.height, 1.0)
            if scale > 1.0:
                im = im.resize((round(im.width * scale), round(im.height * scale)), Image.LANCZOS)
            left, top = (im.width - width) // 2, (im.height - height) // 2
            return im.crop((left, top, left + width, top + height)), "photo " + os.path.basename(photo)
    # Smooth colour fields with fine noise: compresses like a photograph, not like a test card.
    r = Image.linear_gradient("L").resize((width, height))
    g = Image.radial_gradient("L").resize((width, height))
    b = Image.effect_noise((width, height), 40)
    return Image.merge("RGB", (r, g, b)), "generated"


def make(out, width, height, photo=None):
    os.makedirs(out, exist_ok=True)
    im, label = picture(width, height, photo)
    im.save(os.path.join(out, "photo.jpg"), quality=90)
    im.save(os.path.join(out, "photo.png"))
    im.quantize(256).save(os.path.join(out, "photo.gif"))
    im.save(os.path.join(out, "photo_raw.tif"))
    im.save(os.path.join(out, "photo_lzw.tif"), compression="tiff_lzw")
    print(label)


def timing(calls, files):
    for path in files:
        with Image.open(path) as im:
            im.load()
        for _ in range(calls):
            wall, cpu = time.perf_counter(), time.thread_time()
            with Image.open(path) as im:
                im.load()
            print(f"{path} {time.perf_counter() - wall:.6f} {time.thread_time() - cpu:.6f}", flush=True)


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] if len(sys.argv) > 5 else None)
    else:
        timing(int(sys.argv[2]), sys.argv[3:])

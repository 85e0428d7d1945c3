"""Pillow's side of the encoder benchmark.

  pillow_encode.py picture OUT.rgb WIDTH HEIGHT [PHOTO]
      writes the benchmark picture as raw RGB: PHOTO (a JPEG) scaled to cover WIDTH x HEIGHT
      and cropped to its centre, or a generated photograph-like picture when PHOTO is
      missing; prints "photo NAME" or "generated".
  pillow_encode.py time RAW.rgb WIDTH HEIGHT CALLS FORMAT...
      times Image.save of that picture into memory, CALLS times per format after one untimed
      call, with settings comparable to ours; prints "FORMAT wall cpu" per call (seconds).
"""
import io
import math
import os
import sys
import time

from PIL import Image

# Settings comparable to lumora's encoders: JPEG quality 75 (4:2:0), PNG level 6, TGA
# run-length coded, TIFF uncompressed; GIF from the same true-colour picture, so Pillow
# quantises too.
SAVE = {
    "bmp": ("BMP", {}),
    "jpg": ("JPEG", {"quality": 75}),
    "png": ("PNG", {"compress_level": 6}),
    "tif": ("TIFF", {}),
    "tga": ("TGA", {"rle": True}),
    "pcx": ("PCX", {}),
    "gif": ("GIF", {}),
}


def generated(width, height):
    data = bytearray(width * height * 3)
    seed = 12345
    for y in range(height):
        for x in range(width):
            seed = (seed * 1664525 + 1013904223) & 0xFFFFFFFF
            noise = (seed >> 28) - 8
            fx, fy = x / width, y / height
            texture = 20.0 * math.sin(x * 0.21 + math.sin(y * 0.13) * 3.0)
            if fy > 0.55 + 0.1 * math.sin(fx * 9.0):
                r, g, b = 90 + 60 * fx + texture, 110 + 50 * (1 - fy) + texture * 0.8, 40 + 30 * fy + texture * 0.5
            else:
                r, g, b = 60 + 120 * fy, 120 + 90 * fy, 200 + 40 * fy - 30 * fx
            i = 3 * (y * width + x)
            data[i:i + 3] = bytes(max(0, min(255, int(v) + noise)) for v in (r, g, b))
    return Image.frombytes("RGB", (width, height), bytes(data))


def picture(out, width, height, photo=None):
    if photo and os.path.exists(photo):
        with Image.open(photo) as im:
            im = im.convert("RGB")
            scale = max(width / im.width, height / im.height)
            im = im.resize((max(width, round(im.width * scale)), max(height, round(im.height * scale))),
                           Image.LANCZOS)
            left, top = (im.width - width) // 2, (im.height - height) // 2
            im = im.crop((left, top, left + width, top + height))
        print("photo", os.path.basename(photo))
    else:
        im = generated(width, height)
        print("generated")
    with open(out, "wb") as f:
        f.write(im.tobytes())


def timing(raw, width, height, calls, formats):
    with open(raw, "rb") as f:
        image = Image.frombytes("RGB", (width, height), f.read())
    for fmt in formats:
        name, options = SAVE[fmt]
        image.save(io.BytesIO(), name, **options)
        for _ in range(calls):
            buffer = io.BytesIO()
            wall, cpu = time.perf_counter(), time.thread_time()
            image.save(buffer, name, **options)
            print(f"{fmt} {time.perf_counter() - wall:.6f} {time.thread_time() - cpu:.6f}", flush=True)


def main():
    if sys.argv[1] == "picture":
        picture(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] if len(sys.argv) > 5 else None)
    else:
        timing(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6:])


if __name__ == "__main__":
    main()

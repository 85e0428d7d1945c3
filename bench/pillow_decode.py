"""Pillow's side of the BMP / TGA / PCX decoder benchmark.

  pillow_decode.py make DIR WIDTH HEIGHT [PHOTO]
      writes DIR/photo24.bmp, photo_rle8.bmp (256 colours, ImageMagick's RLE8 writer),
      photo_rle24.tga and photo24.pcx of the same picture as pillow_decode_lib.py makes;
      prints its label.
  pillow_decode.py time CALLS FILE...
      as pillow_decode_lib.py time.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pillow_decode_lib import picture, timing  # noqa: E402


def make(out, width, height, photo=None):
    os.makedirs(out, exist_ok=True)
    im, label = picture(width, height, photo)
    im.save(os.path.join(out, "photo24.bmp"))
    im.save(os.path.join(out, "photo_rle24.tga"), compression="tga_rle")
    im.save(os.path.join(out, "photo24.pcx"))
    with tempfile.TemporaryDirectory() as tmp:
        paletted = os.path.join(tmp, "p.png")
        im.quantize(256).save(paletted)
        subprocess.run(["convert", paletted, "-type", "palette", "-compress", "RLE",
                        "BMP3:" + os.path.join(out, "photo_rle8.bmp")], check=True)
    print(label)


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] if len(sys.argv) > 5 else None)
    else:
        timing(int(sys.argv[2]), sys.argv[3:])

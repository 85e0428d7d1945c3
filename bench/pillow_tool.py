"""Pillow's side of the lumora-image benchmark: one whole process per call, like the tool.

  pillow_tool.py make DIR WIDTH HEIGHT [PHOTO]
      writes DIR/in.ppm and DIR/in.EXT for the seven formats (the same picture as
      pillow_decode_lib.py makes); prints its label.
  pillow_tool.py encode IN.ppm OUT.EXT      Image.open(IN).save(OUT) with the settings below
  pillow_tool.py convert IN.EXT OUT.EXT     the same from any readable file
  pillow_tool.py decode IN.EXT OUT.pam      Image.open(IN) written as an RGB_ALPHA PAM, as
                                            lumora-image decode writes it
"""
import os
import sys

from PIL import Image

# Settings comparable to lumora-image's defaults: JPEG quality 75 (4:2:0), PNG level 6,
# run-length TGA, uncompressed TIFF, PCX, GIF quantised from true colour.
SAVE = {
    ".bmp": {},
    ".jpg": {"quality": 75},
    ".png": {"compress_level": 6},
    ".tif": {},
    ".tga": {"rle": True},
    ".pcx": {},
    ".gif": {},
}


def save(im, out):
    im.save(out, **SAVE[os.path.splitext(out)[1]])


def make(out, width, height, photo=None):
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from pillow_decode_lib import picture
    os.makedirs(out, exist_ok=True)
    im, label = picture(width, height, photo)
    im.save(os.path.join(out, "in.ppm"))
    for ext in SAVE:
        save(im, os.path.join(out, "in" + ext))
    print(label)


def decode(path, out):
    with Image.open(path) as im:
        rgba = im.convert("RGBA")
    header = (f"P7\nWIDTH {rgba.width}\nHEIGHT {rgba.height}\nDEPTH 4\nMAXVAL 255\n"
              "TUPLTYPE RGB_ALPHA\nENDHDR\n").encode()
    with open(out, "wb") as f:
        f.write(header)
        f.write(rgba.tobytes())


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "make":
        make(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] if len(sys.argv) > 5 else None)
    elif command == "decode":
        decode(sys.argv[2], sys.argv[3])
    else:
        with Image.open(sys.argv[2]) as im:
            save(im, sys.argv[3])

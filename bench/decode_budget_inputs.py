"""Small files that ask a decoder for a lot: the inputs of the decode-budget benchmark and
seeds of the PICT and metafile fuzz targets.

    /usr/bin/python3 bench/decode_budget_inputs.py DIR          all inputs, full size
    /usr/bin/python3 bench/decode_budget_inputs.py DIR --seeds  fuzz seeds (small variants)

Full size:
  wmf_declared_16384.wmf   placeable WMF whose box is 16384 x 16384 pixels, no records (40 B)
  wmf_rle_brushes.wmf      16 DIB pattern brushes, each an RLE8 bitmap of 16384 x 16384
                           pixels that ends at once (920 B)
  wmf_palettes.wmf         one million CreatePalette records and nothing else (6 MB)
  pict_empty_rows.pict     16384 x 16384 direct pixels, every packed row empty (33 KB)
"""
import os
import struct
import sys


def le16(*v):
    return struct.pack("<%dH" % len(v), *v)


def le32(*v):
    return struct.pack("<%dI" % len(v), *v)


def be16(*v):
    return struct.pack(">%dH" % len(v), *v)


def wmf(records, objects=0, placeable_box=None):
    """A classic metafile: optional placeable header (box at 96 units per inch), header,
    the records (bytes, whole words), end record."""
    head = b""
    if placeable_box is not None:
        w, h = placeable_box
        head = le32(0x9AC6CDD7) + le16(0, 0, 0, w, h, 96) + le32(0) + le16(0)
    words = 9 + len(records) // 2 + 3
    head += le16(1, 9, 0x0300) + le32(words) + le16(objects) + le32(64) + le16(0)
    return head + records + le32(3) + le16(0)


def record(function, params=b""):
    assert len(params) % 2 == 0
    return le32(3 + len(params) // 2) + le16(function) + params


def rle8_brush(side):
    """DibCreatePatternBrush with an RLE8 DIB of side x side whose data is only the
    end-of-bitmap escape: the decoder still has to make the whole bitmap."""
    dib = le32(40, side, side) + le16(1, 8) + le32(1, 2, 0, 0, 1, 0)  # RLE8, 1 colour
    dib += le32(0x00FF0000) + bytes([0, 1])
    return record(0x0142, le16(5, 0) + dib)  # BS_DIBPATTERN, DIB_RGB_COLORS


def pict_empty_rows(side):
    """Version 2 PICT: 0x9A direct pixels of side x side, 32 bits, 3 components; each
    row is a zero length word."""
    head = bytes(512) + be16(0) + be16(0, 0, 16, 16)
    head += bytes([0, 0x11, 2, 0xFF]) + be16(0x0C00) + bytes(24)
    body = be16(0x009A) + struct.pack(">I", 0xFF) + be16(0x8000 | (4 * side & 0x3FFF))
    body += be16(0, 0, side, side)                       # bounds
    body += be16(0, 4) + bytes(4) + struct.pack(">II", 0x480000, 0x480000)
    body += be16(16, 32, 3, 8) + bytes(12)               # pixel type, size, components
    body += be16(0, 0, side, side) * 2 + be16(0)         # source, destination, mode
    return head + body + be16(0) * side + be16(0x00FF)


def inputs(seeds):
    side = 256 if seeds else 16384
    palettes = 1000 if seeds else 1000000
    return {
        "wmf_declared_16384.wmf": wmf(b"", placeable_box=(16384, 16384)),
        "wmf_rle_brushes.wmf": wmf(b"".join(rle8_brush(16384) for _ in range(16))),
        "wmf_palettes.wmf": wmf(record(0x00F7) * palettes),
        "pict_empty_rows.pict": pict_empty_rows(side),
    }


def main():
    out = sys.argv[1]
    seeds = "--seeds" in sys.argv[2:]
    for name, data in inputs(seeds).items():
        folder = out
        if seeds:
            folder = os.path.join(out, "pict" if name.endswith(".pict") else "wemf")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, ("budget_" if seeds else "") + name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

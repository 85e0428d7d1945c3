"""Metafiles of simple drawings, written record by record, in both kinds.

Each drawing is one function of a painter; WmfPainter writes it as a placeable classic
metafile (1440 units per inch, 15 units per pixel), EmfPainter as an enhanced metafile whose
reference device has 96 pixels per inch (one logical unit per pixel). Either way the picture
is WIDTH x HEIGHT pixels at 96 pixels per inch.

    python3 tests/tools/metafile_drawings.py OUTDIR           # every drawing in both kinds
    python3 tests/tools/metafile_drawings.py --seeds OUTDIR   # and files for the fuzzer

Used by compare_metafiles_libreoffice.py and to write the fuzz seeds (tests/fuzz/corpus/wemf).
"""
import os
import struct
import sys

WIDTH, HEIGHT = 384, 288


def rgb(r, g, b):
    return r | g << 8 | b << 16


def dib24(w, h, pixel):
    """A bottom-up 24-bit DIB (header and rows); pixel(x, y) gives (r, g, b), y from the top."""
    stride = (3 * w + 3) & ~3
    rows = b""
    for y in reversed(range(h)):
        row = b"".join(bytes((b, g, r)) for r, g, b in (pixel(x, y) for x in range(w)))
        rows += row + bytes(stride - 3 * w)
    head = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 0, 0, 0, 0)
    return head, rows


class WmfPainter:
    S = 15  # logical units per pixel

    def __init__(self):
        self.records = []
        self.objects = 0
        # As drawing programs write them: the window is the placeable box.
        self._rec(0x020B, (0, 0))
        self._rec(0x020C, (HEIGHT * self.S, WIDTH * self.S))

    def _rec(self, function, params=(), raw=b""):
        body = b"".join(struct.pack("<H", p & 0xFFFF) for p in params) + raw
        if len(body) % 2:
            body += b"\0"
        self.records.append(struct.pack("<IH", 3 + len(body) // 2, function) + body)

    def _new(self):
        self.objects += 1
        return self.objects - 1

    def pen(self, style, width, colour):
        self._rec(0x02FA, (style, width * self.S, 0, colour & 0xFFFF, colour >> 16))
        return self._new()

    def brush(self, style, colour, hatch=0):
        self._rec(0x02FC, (style, colour & 0xFFFF, colour >> 16, hatch))
        return self._new()

    def font(self, height, weight=400, italic=False, face="DejaVu Sans"):
        raw = struct.pack("<hhhhhBBBBBBBB", -height * self.S, 0, 0, 0, weight, italic, 0, 0,
                          0, 0, 0, 0, 0) + face.encode("latin-1").ljust(32, b"\0")
        self._rec(0x02FB, raw=raw)
        return self._new()

    def select(self, handle):
        self._rec(0x012D, (handle,))

    def text_colour(self, colour):
        self._rec(0x0209, (colour & 0xFFFF, colour >> 16))

    def bk_mode(self, mode):
        self._rec(0x0102, (mode,))

    def bk_colour(self, colour):
        self._rec(0x0201, (colour & 0xFFFF, colour >> 16))

    def text_align(self, align):
        self._rec(0x012E, (align,))

    def fill_mode(self, mode):
        self._rec(0x0106, (mode,))

    def rectangle(self, l, t, r, b):
        s = self.S
        self._rec(0x041B, (b * s, r * s, t * s, l * s))

    def round_rect(self, l, t, r, b, w, h):
        s = self.S
        self._rec(0x061C, (h * s, w * s, b * s, r * s, t * s, l * s))

    def ellipse(self, l, t, r, b):
        s = self.S
        self._rec(0x0418, (b * s, r * s, t * s, l * s))

    def arc(self, kind, l, t, r, b, start, end):
        s = self.S
        function = {"arc": 0x0817, "pie": 0x081A, "chord": 0x0830}[kind]
        self._rec(function, (end[1] * s, end[0] * s, start[1] * s, start[0] * s,
                             b * s, r * s, t * s, l * s))

    def polygon(self, points):
        self._rec(0x0324, [len(points)] + [v * self.S for p in points for v in p])

    def polyline(self, points):
        self._rec(0x0325, [len(points)] + [v * self.S for p in points for v in p])

    def move_to(self, x, y):
        self._rec(0x0214, (y * self.S, x * self.S))

    def line_to(self, x, y):
        self._rec(0x0213, (y * self.S, x * self.S))

    def text(self, x, y, string):
        data = string.encode("latin-1")
        raw = struct.pack("<hhHH", y * self.S, x * self.S, len(data), 0) + data
        if len(data) % 2:
            raw += b"\0"
        self._rec(0x0A32, raw=raw)

    def bitmap(self, x, y, w, h, dib):
        head, rows = dib
        sw, sh = struct.unpack_from("<ii", head, 4)
        s = self.S
        params = struct.pack("<IHhhhhhhhh", 0x00CC0020, 0, sh, sw, 0, 0, h * s, w * s,
                             y * s, x * s)
        self._rec(0x0F43, raw=params + head + rows)

    def file(self):
        body = b"".join(self.records) + struct.pack("<IH", 3, 0)
        words = 9 + len(body) // 2
        largest = max([3] + [struct.unpack_from("<I", r)[0] for r in self.records])
        header = struct.pack("<HHHIHIH", 1, 9, 0x0300, words, max(self.objects, 1), largest, 0)
        box = (0, 0, WIDTH * self.S, HEIGHT * self.S)
        place = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, *box, 1440, 0)
        checksum = 0
        for (word,) in struct.iter_unpack("<H", place):
            checksum ^= word
        return place + struct.pack("<H", checksum) + header + body


class EmfPainter:
    DEVICE = (1920, 1440)  # pixels, on
    MM = (508, 381)        # millimetres: 96 pixels per inch

    def __init__(self):
        self.records = []
        self.handles = 1

    def _rec(self, rtype, params=(), raw=b""):
        body = b"".join(struct.pack("<i", p) for p in params) + raw
        body += bytes(-len(body) % 4)
        self.records.append(struct.pack("<II", rtype, 8 + len(body)) + body)

    def _new(self):
        self.handles += 1
        return self.handles - 1

    def pen(self, style, width, colour):
        h = self._new()
        self._rec(38, (h, style, width, 0, colour))
        return h

    def brush(self, style, colour, hatch=0):
        h = self._new()
        self._rec(39, (h, style, colour, hatch))
        return h

    def font(self, height, weight=400, italic=False, face="DejaVu Sans"):
        h = self._new()
        raw = struct.pack("<iiiiiBBBBBBBB", -height, 0, 0, 0, weight, italic, 0, 0, 0, 0, 0,
                          0, 0) + face.encode("utf-16-le").ljust(64, b"\0")
        self._rec(82, (h,), raw)
        return h

    def select(self, handle):
        self._rec(37, (handle,))

    def text_colour(self, colour):
        self._rec(24, (colour,))

    def bk_mode(self, mode):
        self._rec(18, (mode,))

    def bk_colour(self, colour):
        self._rec(25, (colour,))

    def text_align(self, align):
        self._rec(22, (align,))

    def fill_mode(self, mode):
        self._rec(19, (mode,))

    def rectangle(self, l, t, r, b):
        self._rec(43, (l, t, r, b))

    def round_rect(self, l, t, r, b, w, h):
        self._rec(44, (l, t, r, b, w, h))

    def ellipse(self, l, t, r, b):
        self._rec(42, (l, t, r, b))

    def arc(self, kind, l, t, r, b, start, end):
        self._rec({"arc": 45, "chord": 46, "pie": 47}[kind], (l, t, r, b) + start + end)

    def polygon(self, points):
        self._rec(3, (0, 0, WIDTH, HEIGHT, len(points)) + tuple(v for p in points for v in p))

    def polyline(self, points):
        self._rec(4, (0, 0, WIDTH, HEIGHT, len(points)) + tuple(v for p in points for v in p))

    def move_to(self, x, y):
        self._rec(27, (x, y))

    def line_to(self, x, y):
        self._rec(54, (x, y))

    def text(self, x, y, string):
        data = string.encode("utf-16-le")
        # bounds, graphics mode, scales, then the text record: reference, count, string
        # offset, options, rectangle, advances offset (none).
        raw = struct.pack("<iiiiIff", 0, 0, -1, -1, 1, 0, 0)
        raw += struct.pack("<iiIIIiiiiI", x, y, len(string), 76, 0, 0, 0, -1, -1, 0) + data
        self._rec(84, raw=raw)

    def bitmap(self, x, y, w, h, dib):
        head, rows = dib
        sw, sh = struct.unpack_from("<ii", head, 4)
        raw = struct.pack("<iiiiiiiiiiIIIIIIii", 0, 0, x + w, y + h, x, y, 0, 0, sw, sh,
                          80, len(head), 80 + len(head), len(rows), 0, 0x00CC0020, w, h)
        self._rec(81, raw=raw + head + rows)

    def file(self):
        eof = struct.pack("<IIIII", 14, 20, 0, 16, 20)
        body = b"".join(self.records) + eof
        frame = (0, 0, WIDTH * 2540 // 96, HEIGHT * 2540 // 96)
        size = 108 + len(body)
        header = struct.pack("<II", 1, 108) + struct.pack("<iiii", 0, 0, WIDTH - 1, HEIGHT - 1)
        header += struct.pack("<iiii", *frame)
        header += struct.pack("<IIIIHHIIIiiii", 0x464D4520, 0x10000, size,
                              len(self.records) + 2, self.handles, 0, 0, 0, 0,
                              *self.DEVICE, *self.MM)
        header += struct.pack("<IIIii", 0, 0, 0, self.MM[0] * 1000, self.MM[1] * 1000)
        return header + body


# ---- the drawings ------------------------------------------------------------------------

def shapes(p):
    black = p.pen(0, 1, rgb(0, 0, 0))
    thick = p.pen(0, 4, rgb(0, 0, 128))
    p.select(black)
    p.select(p.brush(0, rgb(40, 90, 220)))
    p.rectangle(20, 20, 140, 110)
    p.select(thick)
    p.select(p.brush(0, rgb(220, 40, 40)))
    p.ellipse(160, 20, 300, 130)
    p.select(black)
    p.select(p.brush(0, rgb(40, 180, 60)))
    p.round_rect(20, 140, 150, 260, 40, 30)
    p.select(p.brush(0, rgb(240, 220, 30)))
    p.fill_mode(2)
    p.polygon([(230, 150), (260, 260), (175, 195), (285, 195), (200, 260)])
    p.select(p.brush(0, rgb(30, 200, 220)))
    p.arc("pie", 300, 150, 370, 220, (370, 185), (335, 150))
    p.select(p.brush(0, rgb(200, 40, 200)))
    p.arc("chord", 300, 220, 370, 280, (300, 250), (370, 250))


def lines(p):
    p.select(p.pen(0, 1, rgb(0, 0, 0)))
    p.polyline([(10 + 20 * i, 20 + (i % 2) * 40) for i in range(18)])
    for i, colour in enumerate([rgb(200, 0, 0), rgb(0, 150, 0), rgb(0, 0, 200)]):
        p.select(p.pen(0, 3 + 3 * i, colour))
        p.move_to(20, 100 + 40 * i)
        p.line_to(360, 90 + 50 * i)
    p.select(p.pen(0, 2, rgb(120, 60, 0)))
    p.arc("arc", 40, 200, 340, 280, (340, 240), (40, 240))


def text(p):
    p.bk_mode(1)
    p.select(p.font(20))
    p.text_colour(rgb(0, 0, 0))
    p.text(10, 10, "Metafile text 20 px")
    p.select(p.font(32, 700))
    p.text_colour(rgb(200, 0, 0))
    p.text(10, 60, "Bold red 32")
    p.select(p.font(48))
    p.text_colour(rgb(0, 0, 180))
    p.text(10, 130, "Large 48")
    p.bk_mode(2)
    p.bk_colour(rgb(255, 255, 0))
    p.select(p.font(24))
    p.text_colour(rgb(0, 0, 0))
    p.text(10, 220, "On yellow")


def bitmap(p):
    # A smooth picture, drawn twice its size: scalers that smooth and scalers that repeat
    # pixels agree on it.
    pixels = dib24(160, 120, lambda x, y: (x * 255 // 159, y * 255 // 119,
                                           255 - (x + y) * 255 // 278))
    p.bitmap(32, 24, 320, 240, pixels)
    p.select(p.pen(0, 2, rgb(0, 0, 0)))
    p.select(p.brush(1, 0))
    p.rectangle(30, 22, 354, 266)


def hatches(p):
    p.select(p.pen(0, 1, rgb(0, 0, 0)))
    p.bk_mode(1)
    for i in range(6):
        p.select(p.brush(2, rgb(0, 0, 160), i))
        x, y = 20 + (i % 3) * 120, 20 + (i // 3) * 130
        p.rectangle(x, y, x + 100, y + 110)


def records_only_fuzzers_need():
    """Files reaching the records the drawings above leave out (paths, transforms, clips,
    pattern brushes, palettes), for the fuzz seeds."""
    head, rows = dib24(8, 8, lambda x, y: (255 * ((x + y) % 2), 128, 0))
    w = WmfPainter()
    w._rec(0x0142, (5, 0), head + rows)  # DIB pattern brush
    w.select(0)
    w._rec(0x001E)                        # save
    w._rec(0x0416, (200, 200, 10, 10))    # clip
    w.ellipse(0, 0, 300, 250)
    w._rec(0x0127, (-1,))                 # restore
    w._rec(0x061D, (0x0021, 0x00F0, 40, 40, 5, 5))  # pattern fill
    w._rec(0x0538, (2, 3, 3, 0, 0, 100, 0, 50, 90, 10, 10, 90, 10, 50, 80))
    e = EmfPainter()
    e._rec(94, (e._new(), 0, 32, len(head), 32 + len(head), len(rows)), head + rows)
    e.select(e.handles - 1)
    e._rec(36, raw=struct.pack("<ffffffi", 0.9, 0.2, -0.2, 0.9, 30, 10, 4))
    e._rec(17, (8,))
    e._rec(9, (100, 100))
    e._rec(11, (WIDTH, HEIGHT))
    e._rec(59)
    e._rec(27, (10, 10))
    e._rec(54, (90, 20))
    e._rec(5, (0, 0, 0, 0, 3, 90, 90, 50, 100, 10, 90))
    e._rec(61)
    e._rec(60)
    e._rec(63, (0, 0, 100, 100))
    e._rec(33)
    e._rec(30, (20, 20, 80, 80))
    e._rec(86, (0, 0, 0, 0, 3) , struct.pack("<hhhhhh", 0, 0, 100, 0, 50, 100))
    e._rec(34, (-1,))
    e._rec(76, (0, 0, 0, 0, 5, 5, 20, 20, 0x00F00021))
    eof = e.file()
    # Put a 16-entry palette into the end record and count it in the header.
    palette = b"".join(bytes((16 * i, 255 - 16 * i, 128, 0)) for i in range(16))
    end = eof.rindex(struct.pack("<IIIII", 14, 20, 0, 16, 20))
    eof = eof[:end] + struct.pack("<IIII", 14, 20 + len(palette), 16, 16) + palette + \
        struct.pack("<I", 20 + len(palette))
    eof = eof[:48] + struct.pack("<I", len(eof)) + eof[52:68] + struct.pack("<I", 16) + eof[72:]
    return {"records.wmf": w.file(), "records.emf": eof}


DRAWINGS = {"shapes": shapes, "lines": lines, "text": text, "bitmap": bitmap,
            "hatches": hatches}


def write_all(out):
    os.makedirs(out, exist_ok=True)
    paths = []
    for name, draw in DRAWINGS.items():
        for painter, ext in ((WmfPainter(), "wmf"), (EmfPainter(), "emf")):
            draw(painter)
            path = os.path.join(out, f"{name}.{ext}")
            with open(path, "wb") as f:
                f.write(painter.file())
            paths.append(path)
    return paths


def write_seeds(out):
    paths = write_all(out)
    for name, data in records_only_fuzzers_need().items():
        path = os.path.join(out, name)
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    return paths


if __name__ == "__main__":
    if sys.argv[1] == "--seeds":
        written = write_seeds(sys.argv[2])
    else:
        written = write_all(sys.argv[1])
    print("\n".join(written))

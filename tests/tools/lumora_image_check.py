#!/usr/bin/python3
"""Independent check of `lumora-image encode`.

Pictures of several kinds and sizes go through the tool into all seven formats; each file is
opened with Pillow and with ImageMagick and its pixels compared with what the options ask for:
identical for the lossless formats (for 8-bit output: the colours of the 8-bit bitmap, which
our 8-bit BMP shows uncompressed), PSNR of at least 38 dB for JPEG at quality 90. Exit status,
messages and the safe-save behaviour of the tool are checked too.

usage: lumora_image_check.py PATH-TO-lumora-image
"""
import math
import os
import subprocess
import sys
import tempfile

from PIL import Image

MAGICK = "/usr/bin/convert"
FORMATS = ["bmp", "jpg", "png", "tif", "tga", "pcx", "gif"]
LOSSLESS = [f for f in FORMATS if f != "jpg"]

failures = []
checks = 0


def check(condition, message):
    global checks
    checks += 1
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)
    return condition


# ---- pictures -----------------------------------------------------------------------------

def photo(width, height):
    """A photograph-like picture: smooth gradients and shading with a soft-edged disc."""
    pixels = []
    cx, cy, radius = width * 0.6, height * 0.4, max(2.0, min(width, height) * 0.3)
    for y in range(height):
        for x in range(width):
            r = 30 + 190 * x / max(1, width - 1)
            g = 40 + 170 * y / max(1, height - 1)
            b = 128 + 60 * math.sin((x + 2 * y) / 23.0)
            # The disc blends in over a few pixels, as edges do in a photograph.
            inside = min(1.0, max(0.0, (radius - math.hypot(x - cx, y - cy)) / 4.0))
            r = r + (200 - r) * inside * 0.5
            g = g + (150 - g) * inside * 0.5
            b = b + (60 - b) * inside * 0.5
            pixels.append((int(r), int(g), int(b)))
    return pixels


def write_pam(path, width, height, tupltype, data):
    depth = {"GRAYSCALE": 1, "RGB": 3, "RGB_ALPHA": 4}[tupltype]
    with open(path, "wb") as f:
        f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n"
                % (width, height, depth, tupltype.encode()))
        f.write(bytes(data))


def make_input(directory, kind, width, height):
    """Writes the input file; returns (path, expected RGB bytes of the picture)."""
    rgb = photo(width, height)
    grey = [(r * 299 + g * 587 + b * 114) // 1000 for r, g, b in rgb]
    path = os.path.join(directory, "%s-%dx%d" % (kind, width, height))
    if kind == "ppm":
        im = Image.new("RGB", (width, height))
        im.putdata(rgb)
        im.save(path + ".ppm")
        return path + ".ppm", bytes(c for p in rgb for c in p)
    if kind == "pgm":
        im = Image.new("L", (width, height))
        im.putdata(grey)
        im.save(path + ".pgm")
        return path + ".pgm", bytes(v for v in grey for _ in range(3))
    if kind == "pam-rgb":
        write_pam(path + ".pam", width, height, "RGB", [c for p in rgb for c in p])
        return path + ".pam", bytes(c for p in rgb for c in p)
    if kind == "pam-rgba":  # alpha is dropped
        write_pam(path + ".pam", width, height, "RGB_ALPHA",
                  [c for i, p in enumerate(rgb) for c in p + ((i * 37) % 256,)])
        return path + ".pam", bytes(c for p in rgb for c in p)
    if kind == "pam-grey":
        write_pam(path + ".pam", width, height, "GRAYSCALE", grey)
        return path + ".pam", bytes(v for v in grey for _ in range(3))
    raise ValueError(kind)


# ---- decoding with the two peers ------------------------------------------------------------

def pillow_rgb(path):
    with Image.open(path) as im:
        return im.size, im.convert("RGB").tobytes()


def magick_rgb(path):
    size = subprocess.run(["/usr/bin/identify", "-format", "%w %h\n", path], check=True,
                          capture_output=True, text=True).stdout.split("\n")[0].split()
    # ImageMagick keeps a bottom-up TGA's rows as stored and only notes the orientation.
    data = subprocess.run([MAGICK, path, "-auto-orient", "-depth", "8", "rgb:-"], check=True,
                          capture_output=True).stdout
    return (int(size[0]), int(size[1])), data


def psnr(a, b):
    if len(a) != len(b):
        return -1.0
    mse = sum((x - y) ** 2 for x, y in zip(a, b)) / max(1, len(a))
    return float("inf") if mse == 0 else 10 * math.log10(255 * 255 / mse)


def pillow_jpeg_psnr(size, expected, quality=90):
    """PSNR of Pillow's own JPEG of the same picture: what 4:2:0 JPEG can do on it."""
    import io
    im = Image.frombytes("RGB", size, expected)
    buffer = io.BytesIO()
    im.save(buffer, "JPEG", quality=quality)
    buffer.seek(0)
    with Image.open(buffer) as back:
        return psnr(back.convert("RGB").tobytes(), expected)


def jpeg_bound(size, expected, target):
    """The PSNR required of our JPEG: the target, unless the picture is one where JPEG
    itself cannot reach it (a few pixels with colour jumps, posterised 8-bit colours); then
    within 1 dB of Pillow's JPEG of the same picture at the same quality."""
    return min(target, pillow_jpeg_psnr(size, expected) - 1.0)


def scales_colour_map(path):
    if not path.endswith(".tif"):
        return False
    with Image.open(path) as im:
        return im.mode == "P"


def compare(path, size, expected, what, min_psnr=None):
    for peer, decode in (("Pillow", pillow_rgb), ("ImageMagick", magick_rgb)):
        try:
            got_size, got = decode(path)
        except Exception as error:  # a peer that cannot open the file is a failure
            check(False, "%s: %s cannot open it: %s" % (what, peer, error))
            continue
        if not check(got_size == size, "%s: %s size %s, expected %s" % (what, peer, got_size, size)):
            continue
        if min_psnr is None:
            if peer == "ImageMagick" and scales_colour_map(path):
                # The colour map holds each value shifted left by 8 (255 is 65280); ImageMagick
                # scales that to 8 bits and reads one lower, other readers take the high byte.
                got = bytes(g + 1 if e - g == 1 else g for g, e in zip(got, expected))
            if not check(got == expected, "%s: %s pixels differ" % (what, peer)):
                first = next(i for i in range(len(got)) if got[i] != expected[i])
                print("   first difference at pixel %d: got %s expected %s" % (
                    first // 3, tuple(got[first // 3 * 3:first // 3 * 3 + 3]),
                    tuple(expected[first // 3 * 3:first // 3 * 3 + 3])))
        else:
            value = psnr(got, expected)
            check(value >= min_psnr, "%s: %s PSNR %.1f dB below %.1f" % (what, peer, value, min_psnr))


# ---- the tool -------------------------------------------------------------------------------

def run_tool(tool, *args):
    return subprocess.run([tool, *args], capture_output=True, text=True)


def encode(tool, source, out, options):
    result = run_tool(tool, "encode", source, out, *options)
    return result


def one_bit(rgb):
    out = bytearray()
    for i in range(0, len(rgb), 3):
        black = rgb[i] < 128 and rgb[i + 1] < 128 and rgb[i + 2] < 128
        out += b"\0\0\0" if black else b"\xff\xff\xff"
    return bytes(out)


def grey_of(rgb):
    out = bytearray()
    for i in range(0, len(rgb), 3):
        # 0.299 R + 0.587 G + 0.114 B, truncated: exact in thousandths.
        v = (299 * rgb[i] + 587 * rgb[i + 1] + 114 * rgb[i + 2]) // 1000
        out += bytes((v, v, v))
    return bytes(out)


def check_pictures(tool, directory):
    sizes = [(1, 1), (7, 5), (2, 3), (64, 4), (333, 211)]
    kinds = ["ppm", "pgm", "pam-rgb", "pam-rgba", "pam-grey"]
    for kind in kinds:
        for width, height in sizes:
            if kind in ("pam-rgba", "pam-grey", "pgm") and (width, height) not in ((7, 5), (333, 211)):
                continue
            source, picture = make_input(directory, kind, width, height)
            colour = kind in ("ppm", "pam-rgb", "pam-rgba")
            option_sets = [[], ["--depth", "8"], ["--depth", "1"], ["--grey"], ["--interlace"]]
            if not colour:
                option_sets = [[], ["--depth", "8"], ["--interlace"]]
            for options in option_sets:
                tag = "%s %dx%d %s" % (kind, width, height, " ".join(options) or "(defaults)")
                base = os.path.join(directory, "out")
                # What the saved bitmap holds, from the options.
                eight_bit_reference = None
                if colour and "--grey" not in options and "--depth" in options and options[1] == "8" \
                        or colour and options in ([], ["--interlace"]):
                    # 8-bit output (or GIF, which quantises): our 8-bit BMP shows the colours.
                    ref = base + "-ref.bmp"
                    result = encode(tool, source, ref, ["--depth", "8"])
                    if not check(result.returncode == 0, "%s: 8-bit BMP reference failed: %s" % (tag, result.stderr)):
                        continue
                    with open(ref, "rb") as f:
                        head = f.read(30)
                    check(head[28] == 8, "%s: reference BMP is not 8-bit" % tag)
                    size, eight_bit_reference = pillow_rgb(ref)
                    compare(ref, (width, height), eight_bit_reference, tag + " reference bmp")
                    # The palette must be a fair picture of the input, not just any colours.
                    check(psnr(eight_bit_reference, picture) >= 20,
                          "%s: 8-bit colours far from the input (%.1f dB)" % (tag, psnr(eight_bit_reference, picture)))
                for fmt in FORMATS:
                    out = "%s.%s" % (base, fmt)
                    if os.path.exists(out):
                        os.remove(out)
                    quality = ["--quality", "90"] if fmt == "jpg" else []
                    result = encode(tool, source, out, options + quality)
                    what = "%s -> %s" % (tag, fmt)
                    if "--depth" in options and options[1] == "1" and fmt in ("png", "tga", "pcx"):
                        check(result.returncode == 1, "%s: 1-bit accepted (exit %d)" % (what, result.returncode))
                        check(result.stderr.startswith("lumora-image: error 6: Encoder error: Sorry,only support"),
                              "%s: message %r" % (what, result.stderr))
                        check(not os.path.exists(out), "%s: a failed save left a file" % what)
                        continue
                    if not check(result.returncode == 0, "%s: exit %d: %s" % (what, result.returncode, result.stderr)):
                        continue
                    if not colour:
                        expected = picture
                    elif "--grey" in options:
                        expected = grey_of(picture)
                    elif "--depth" in options and options[1] == "1":
                        expected = one_bit(picture)
                    elif eight_bit_reference is not None and ("--depth" in options or fmt == "gif"):
                        expected = eight_bit_reference
                    else:
                        expected = picture
                    if fmt == "jpg":
                        bilevel = "--depth" in options and options[1] == "1"
                        bound = jpeg_bound((width, height), expected, 30 if bilevel else 38)
                        if width * height >= 64 * 64 and not bilevel and expected is picture:
                            check(bound == 38, "%s: test picture is not photographic enough" % what)
                        compare(out, (width, height), expected, what, min_psnr=bound)
                    else:
                        compare(out, (width, height), expected, what)
                    if fmt == "gif":
                        with open(out, "rb") as f:
                            data = f.read()
                        check(data[:6] == b"GIF87a", "%s: not GIF87a" % what)
                        descriptor = 13 + 768 + 9
                        check((data[descriptor] == 0x40) == ("--interlace" in options),
                              "%s: interlace flag %#x" % (what, data[descriptor]))


def check_options_bytes(tool, directory):
    source, _ = make_input(directory, "ppm", 7, 5)
    out = os.path.join(directory, "opt.gif")
    for options, background in (([], 0), (["--background", "9"], 9),
                                (["--background", "9", "--transparent"], 0)):
        result = encode(tool, source, out, options)
        if check(result.returncode == 0, "gif %s: %s" % (options, result.stderr)):
            with open(out, "rb") as f:
                check(f.read()[11] == background, "gif %s: background byte" % options)
    out = os.path.join(directory, "opt.tga")
    for options, image_type in (([], 10), (["--no-compress"], 2), (["--depth", "8"], 9),
                                (["--depth", "8", "--no-compress"], 1)):
        result = encode(tool, source, out, options)
        if check(result.returncode == 0, "tga %s: %s" % (options, result.stderr)):
            with open(out, "rb") as f:
                check(f.read()[2] == image_type, "tga %s: image type" % options)


def dc_step(jpeg):
    """First luminance quantisation step: 16 at quality 50, 8 at 75, 3 at 90."""
    at = jpeg.index(b"\xff\xdb")
    return jpeg[at + 5]


def check_jpeg_quality(tool, directory):
    source, _ = make_input(directory, "ppm", 7, 5)
    out = os.path.join(directory, "q.jpg")
    for options, step in (([], 8), (["--quality", "50"], 16), (["--quality", "90"], 3)):
        result = encode(tool, source, out, options)
        if check(result.returncode == 0, "jpg %s: %s" % (options, result.stderr)):
            with open(out, "rb") as f:
                check(dc_step(f.read()) == step, "jpg %s: quantisation step" % options)


def check_bad_inputs(tool, directory):
    cases = [
        (b"P6\n4 4\n255\n" + bytes(47), 11),  # one byte short
        (b"P6\n4 4\n65535\n" + bytes(96), 6),
        (b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n\0\0", 6),
        (b"P3\n1 1\n255\n0 0 0\n", 1),
        (b"P6\n0 4\n255\n", 2),
        (b"", 13),
    ]
    for index, (data, code) in enumerate(cases):
        path = os.path.join(directory, "bad%d.ppm" % index)
        with open(path, "wb") as f:
            f.write(data)
        out = os.path.join(directory, "bad%d.bmp" % index)
        result = run_tool(tool, "encode", path, out)
        check(result.returncode == 1 and result.stderr.startswith("lumora-image: error %d: " % code),
              "bad input %d: %d %r" % (index, result.returncode, result.stderr))
        check(not os.path.exists(out), "bad input %d wrote a file" % index)


def check_usage_and_errors(tool, directory):
    source, _ = make_input(directory, "ppm", 7, 5)
    # A usage error says what was wrong first, then gives the usage.
    for args, problem in (([], "missing command"), (["encode"], "missing input file"),
                          (["encode", source], "missing output file"),
                          (["encode", source, "x.bmp", "--depth", "3"], "--depth must be 1, 8 or 24"),
                          (["encode", source, "x.bmp", "--quality", "0"], "--quality needs a number from 1 to 100"),
                          (["encode", source, "x.bmp", "--bogus"], "unknown option '--bogus'"),
                          (["frobnicate"], "unknown command 'frobnicate'"), (["--bogus"], "unknown option '--bogus'"),
                          (["encode", source, "x.bmp", "extra"], "unexpected argument 'extra'")):
        result = run_tool(tool, *args)
        check(result.returncode == 2, "usage %s: exit %d" % (args, result.returncode))
        check(result.stderr.startswith("lumora-image: %s\nusage:\n" % problem) and
              "lumora-image encode IN OUT" in result.stderr, "usage %s: %r" % (args, result.stderr[:80]))

    result = run_tool(tool, "encode", os.path.join(directory, "missing.ppm"), os.path.join(directory, "x.bmp"))
    check(result.returncode == 1 and result.stderr.startswith("lumora-image: error 4: "),
          "missing input: %d %r" % (result.returncode, result.stderr))
    result = run_tool(tool, "encode", source, os.path.join(directory, "x.xyz"))
    check(result.returncode == 1 and result.stderr == "lumora-image: error 8: Encoder error: Unknown file type.\n",
          "unknown type: %r" % result.stderr)
    result = run_tool(tool, "encode", source, os.path.join(directory, "x.jpeg"))
    check(result.returncode == 1 and result.stderr == "lumora-image: error 14: Encoder error: This file's name is invalid.\n",
          "bad name: %r" % result.stderr)

    # A failed save leaves the old target as it was and no temporary file.
    box = os.path.join(directory, "box")
    os.mkdir(box)
    target = os.path.join(box, "keep.png")
    with open(target, "wb") as f:
        f.write(b"old picture")
    result = run_tool(tool, "encode", source, target, "--depth", "1")
    check(result.returncode == 1, "failed save: exit %d" % result.returncode)
    with open(target, "rb") as f:
        check(f.read() == b"old picture", "failed save changed the target")
    check(os.listdir(box) == ["keep.png"], "failed save left %s" % os.listdir(box))
    result = run_tool(tool, "encode", source, target)
    check(result.returncode == 0 and os.listdir(box) == ["keep.png"], "replacing save: %s" % os.listdir(box))
    check(pillow_rgb(target)[0] == (7, 5), "replaced target is the new picture")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="lumora-image-check-") as directory:
        check_usage_and_errors(tool, directory)
        check_options_bytes(tool, directory)
        check_jpeg_quality(tool, directory)
        check_bad_inputs(tool, directory)
        check_pictures(tool, directory)
    print("%d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""lumora-image info/decode/convert against Pillow's reading of the same files.

Usage: decode_commands_check.py PATH_TO_LUMORA_IMAGE
"""
import os
import random
import re
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import metafile_drawings  # noqa: E402

tool = sys.argv[1]
failures = []


def run(*args):
    return subprocess.run([tool, *args], capture_output=True, text=True)


def check(cond, what):
    if not cond:
        failures.append(what)


def read_pam(path):
    data = open(path, "rb").read()
    end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
    fields = dict(line.split(b" ", 1) for line in data[:end].split(b"\n")[1:-2])
    check(data.startswith(b"P7\n"), f"{path}: not P7")
    check(fields[b"TUPLTYPE"] == b"RGB_ALPHA" and fields[b"MAXVAL"] == b"255"
          and fields[b"DEPTH"] == b"4", f"{path}: header {fields}")
    w, h = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"])
    return (w, h), data[end:]


def picture(w, h):
    im = Image.new("RGBA", (w, h))
    for y in range(h):
        for x in range(w):
            im.putpixel((x, y), ((x * 9) % 256, (y * 17) % 256, ((x + y) * 5) % 256,
                                 (x * 31 + y) % 256))
    return im


def mean_error(a, b):
    """Mean absolute difference per colour channel of two RGBA byte strings."""
    diffs = [abs(a[i + c] - b[i + c]) for i in range(0, len(a), 4) for c in range(3)]
    return sum(diffs) / len(diffs)


with tempfile.TemporaryDirectory() as tmp:
    base = picture(23, 11)
    palette = base.convert("RGB").convert("P", palette=Image.ADAPTIVE)
    files = {
        # name: (image to save, save options, FORMAT, bpp at depth 0, alpha flag, tolerance)
        "p.bmp": (palette, {}, "BMP", 8, 0, 0),
        "rgb.bmp": (base.convert("RGB"), {}, "BMP", 32, 0, 0),
        "l.tga": (base.convert("L"), {"compression": "tga_rle"}, "TGA", 8, 0, 0),
        "rgba.tga": (base, {"compression": "tga_rle"}, "TGA", 32, 1, 0),
        "rgb.pcx": (base.convert("RGB"), {}, "PCX", 32, 0, 0),
        "p.pcx": (palette, {}, "PCX", 32, 0, 0),
        "p.gif": (palette, {}, "GIF", 8, 0, 0),
        "p.png": (palette, {}, "PNG", 8, 0, 0),
        "l.png": (base.convert("L"), {}, "PNG", 8, 0, 0),
        "rgb.png": (base.convert("RGB"), {}, "PNG", 32, 0, 0),
        "rgba.png": (base, {}, "PNG", 32, 1, 0),
        "p.tif": (palette, {}, "TIFF", 8, 0, 0),
        "rgb.tif": (base.convert("RGB"), {"compression": "tiff_lzw"}, "TIFF", 32, 0, 0),
        # Two libjpeg builds may round the inverse transform differently by a step.
        "rgb.jpg": (base.convert("RGB"), {"quality": 90}, "JPEG", 32, 0, 2),
        "l.jpg": (base.convert("L"), {"quality": 90}, "JPEG", 8, 0, 2),
    }
    # 256 colours scattered over the cube: a true-colour quantiser cannot keep them all.
    rng = random.Random(5)
    scattered = Image.new("P", (32, 8))
    scattered.putpalette([rng.randrange(256) for _ in range(768)])
    scattered.putdata([i % 256 for i in range(256)])
    files["p256.gif"] = (scattered, {}, "GIF", 8, 0, 0)
    for name, (im, opts, fmt, bpp, alpha, tolerance) in files.items():
        path = os.path.join(tmp, name)
        im.save(path, **opts)
        r = run("info", path)
        want = f"{fmt} {im.width}x{im.height} {bpp}bpp alpha={alpha}\n"
        check(r.returncode == 0 and r.stdout == want, f"info {name}: {r.stdout!r} {r.stderr!r}")

        reference = Image.open(path).convert("RGBA").tobytes()
        for depth in (None, "32", "8"):
            pam = os.path.join(tmp, f"{name}.{depth}.pam")
            r = run("decode", path, pam, *(["--depth", depth] if depth else []))
            if depth == "8" and fmt in ("BMP", "TGA") and bpp == 32:
                # Their row decoders make 8 bits only from files of 8 bits or less.
                check(r.returncode == 1 and r.stderr.startswith("lumora-image: error 6: ")
                      and not os.path.exists(pam), f"decode {name} depth 8: {r.stderr!r}")
                continue
            check(r.returncode == 0, f"decode {name} depth {depth}: {r.stderr}")
            if r.returncode != 0:
                continue
            size, pixels = read_pam(pam)
            check(size == im.size, f"decode {name}: size {size}")
            if depth == "8" and bpp == 32:
                # 8 bits from true colour goes through the quantizer: near, not equal; and
                # an 8-bit picture carries no alpha of its own.
                error = mean_error(pixels, reference)
                check(error < 2 + tolerance, f"decode {name} depth 8: mean error {error:.2f}")
                continue
            same = all(all(abs(pixels[i + c] - reference[i + c]) <= tolerance for c in range(3))
                       and pixels[i + 3] == (reference[i + 3] if alpha else 255)
                       for i in range(0, len(reference), 4))
            check(same, f"decode {name} depth {depth}: pixels differ from Pillow")

        for target in ("png", "bmp", "tga"):
            out = os.path.join(tmp, f"{name}.{target}")
            r = run("convert", path, out)
            check(r.returncode == 0, f"convert {name} -> {target}: {r.stderr}")
            if r.returncode == 0:
                got = Image.open(out).convert("RGB").tobytes()
                want_rgb = Image.open(path).convert("RGB").tobytes()
                check(all(abs(g - w) <= tolerance for g, w in zip(got, want_rgb)) and
                      len(got) == len(want_rgb), f"convert {name} -> {target}: pixels differ")

        # A palette picture stays a palette picture: every format takes its indices as they
        # are (GIF would otherwise quantise it again); --depth 24 still widens it.
        if bpp == 8:
            want_rgb = Image.open(path).convert("RGB").tobytes()
            for target in ("gif", "png", "bmp", "tga", "pcx", "tif"):
                out = os.path.join(tmp, f"{name}.8.{target}")
                r = run("convert", path, out)
                mode, got = r.stderr, b""
                if r.returncode == 0:
                    with Image.open(out) as back:
                        mode, got = back.mode, back.convert("RGB").tobytes()
                check(mode in ("P", "L") and len(got) == len(want_rgb) and
                      all(abs(g - w) <= tolerance for g, w in zip(got, want_rgb)),
                      f"convert {name} -> {target} kept 8 bits: {mode!r}")
            out = os.path.join(tmp, f"{name}.24.png")
            r = run("convert", path, out, "--depth", "24")
            check(r.returncode == 0 and " 32bpp " in run("info", out).stdout,
                  f"convert {name} --depth 24: {r.stderr!r}")

    # PICT, written by ImageMagick (Pillow does not write it): true colour and palette.
    rgb = os.path.join(tmp, "rgb.ppm")
    base.convert("RGB").save(rgb)
    for name, kind, bpp in (("rgb.pct", "TrueColor", 32), ("p.pct", "Palette", 8)):
        path = os.path.join(tmp, name)
        subprocess.run(["/usr/bin/convert", rgb, "-type", kind, path], check=True)
        r = run("info", path)
        check(r.stdout == f"PICT 23x11 {bpp}bpp alpha=0\n", f"info {name}: {r.stdout!r}")
        pam = os.path.join(tmp, name + ".pam")
        r = run("decode", path, pam, "--depth", "32")
        check(r.returncode == 0, f"decode {name}: {r.stderr}")
        size, pixels = read_pam(pam)
        want = Image.open(rgb).convert("RGBA").tobytes()
        check(size == (23, 11) and pixels == want, f"decode {name}: pixels differ")
    # Metafiles (no independent reader here): size, depth and colours the drawing fixes.
    for path in metafile_drawings.write_all(os.path.join(tmp, "metafiles")):
        if not path.endswith(os.sep + "shapes.wmf") and not path.endswith(os.sep + "shapes.emf"):
            continue
        kind = path[-3:].upper()
        r = run("info", path)
        check(r.returncode == 0 and r.stdout == f"{kind} 384x288 32bpp alpha=0\n",
              f"info {path}: {r.stdout!r} {r.stderr!r}")
        pam = path + ".pam"
        r = run("decode", path, pam)
        size, pixels = read_pam(pam)
        at = lambda x, y: tuple(pixels[4 * (y * size[0] + x):4 * (y * size[0] + x) + 4])
        check(size == (384, 288) and at(80, 60) == (40, 90, 220, 255) and
              at(5, 5) == (255, 255, 255, 255), f"decode {path}: {size} {at(80, 60)}")

    # Failures: code and text on standard error, status 1; bad usage, status 2.
    junk = os.path.join(tmp, "junk.bin")
    open(junk, "wb").write(b"\x01\x02\x03\x04" * 10)
    empty = os.path.join(tmp, "empty.bmp")
    open(empty, "wb").close()
    # A placeable metafile header with nothing behind it: recognised, refused by the player.
    wmf = os.path.join(tmp, "drawing.wmf")
    open(wmf, "wb").write(b"\xd7\xcd\xc6\x9a" + bytes(60))
    not_played = "Decoder error: Windows Metafile functions failed to load this image."
    for args, code, text in [
        (["info", junk], 8, "Decoder error: Unknown file type."),
        (["info", os.path.join(tmp, "missing.bmp")], 4, None),
        (["info", empty], 13, None),
        (["decode", os.path.join(tmp, "missing.bmp"), os.path.join(tmp, "x.pam")], 4, None),
        (["info", wmf], 6, not_played),
        (["decode", wmf, os.path.join(tmp, "x.pam")], 6, not_played),
        (["convert", junk, os.path.join(tmp, "x.png")], 8, None),
    ]:
        r = run(*args)
        check(r.returncode == 1 and r.stderr.startswith(f"lumora-image: error {code}: "),
              f"{args[0]} failure: {r.returncode} {r.stderr!r}")
        if text:
            check(r.stderr == f"lumora-image: error {code}: {text}\n", f"text: {r.stderr!r}")
    check(not os.path.exists(os.path.join(tmp, "x.pam")), "failed decode left an output file")
    for args in (["info"], ["decode", "a"], ["decode", "a", "b", "--depth", "16"],
                 ["info", junk, "--max-pixels"], ["info", junk, "--max-memory", "12X"]):
        check(run(*args).returncode == 2, f"usage {args}")

    # --help and --version answer on standard output; a file that cannot be opened says why.
    r = run("--help")
    check(r.returncode == 0 and r.stdout.startswith("usage:\n") and r.stderr == "" and
          "lumora-image decode IN OUT.pam" in r.stdout, f"--help: {r.returncode} {r.stderr!r}")
    r = run("--version")
    check(r.returncode == 0 and re.fullmatch(r"lumora-image \d+(\.\d+)+\n", r.stdout),
          f"--version: {r.returncode} {r.stdout!r}")
    missing = os.path.join(tmp, "x.png")
    r = run("info", missing)
    check(r.stderr == f"lumora-image: error 4: Decoder error: Opening {missing} failed: "
          "No such file or directory\n", f"missing file: {r.stderr!r}")
    r = run("info", empty)
    check(r.stderr.endswith(f"Opening {empty} failed: file is empty\n"), f"empty: {r.stderr!r}")

    # The limits refuse with code 10, naming the limit and the value that passed it.
    p_bmp = os.path.join(tmp, "p.bmp")
    r = run("info", p_bmp, "--max-pixels", "100")
    check(r.returncode == 1 and r.stderr.startswith("lumora-image: error 10: ") and
          "23 x 11 = 253 pixels is over the pixel limit of 100." in r.stderr,
          f"--max-pixels: {r.stderr!r}")
    check(run("info", p_bmp, "--max-pixels", "1K").returncode == 0, "--max-pixels 1K")
    # An 8-bit picture of a metafile is drawn at 32 bits first: 384 x 288 x 7 bytes with the
    # palette computed from it, and a MiB for the nearest-entry search.
    shapes = os.path.join(tmp, "metafiles", "shapes.wmf")
    r = run("decode", shapes, os.path.join(tmp, "x.pam"), "--depth", "8", "--max-memory", "64K")
    check(r.returncode == 1 and r.stderr.startswith("lumora-image: error 10: ") and
          "of 1822720 bytes is over the memory limit of 65536 bytes" in r.stderr,
          f"--max-memory: {r.stderr!r}")
    check(run("decode", shapes, os.path.join(tmp, "x.pam"), "--depth", "8").returncode == 0,
          "8-bit metafile within the default limits")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")

#!/usr/bin/python3
"""`lumora-image encode` and `decode` replacing files as an ordinary user.

A read-only target is refused with the reason and stays; a link's file receives the picture
and the link stays a link; a writable file in a folder the user cannot write is written in
place; a full disk (a tmpfs of 64 KiB in a mount namespace of its own) is reported, beside the
file and in place. Each time: the old file whole or replaced whole, its mode kept, nothing left
beside it. Run as root, the tool runs as the user nobody; otherwise as the caller, and the
full-disk cases are skipped (mounting needs root, and a confined container may refuse it).

usage: lumora_image_replace_check.py PATH-TO-lumora-image
"""
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

NOBODY = 65534
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)


def as_user(args):
    if os.geteuid() != 0:
        return args
    return ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups",
            "--inh-caps=-all", "--bounding-set=-all"] + args


def put(path, mode, data=b"old"):
    with open(path, "wb") as f:
        f.write(data)
    if os.geteuid() == 0:
        os.chown(path, NOBODY, NOBODY)
    os.chmod(path, mode)


def state(path, folder):
    with open(path, "rb") as f:
        data = f.read()
    return data, os.stat(path).st_mode & 0o7777, sorted(os.listdir(folder))


def check_replacements(tool, home, source):
    """Cases on an ordinary folder: (command, target, file written, old mode, error text)."""
    os.mkdir(os.path.join(home, "ro"))
    put(os.path.join(home, "ro.bmp"), 0o444)
    put(os.path.join(home, "target.bmp"), 0o640)
    os.symlink("target.bmp", os.path.join(home, "link.bmp"))
    put(os.path.join(home, "ro", "in.bmp"), 0o664)
    put(os.path.join(home, "ro", "in.pam"), 0o664)
    os.chmod(os.path.join(home, "ro"), 0o555)
    cases = [
        ("encode", "ro.bmp", "ro.bmp", "Encoder error: Opening %s failed: Permission denied"),
        ("encode", "link.bmp", "target.bmp", None),
        ("encode", "ro/in.bmp", "ro/in.bmp", None),
        ("decode", "ro/in.pam", "ro/in.pam", None),
    ]
    for command, name, written, error in cases:
        target, written = os.path.join(home, name), os.path.join(home, written)
        before = state(written, os.path.dirname(written))
        picture = source if command == "encode" else source[:-3] + "bmp"
        result = subprocess.run(as_user([tool, command, picture, target]), capture_output=True, text=True)
        data, mode, entries = state(written, os.path.dirname(written))
        what = "%s %s" % (command, name)
        if error:
            check(result.returncode == 1 and result.stderr == "lumora-image: error -1: %s\n" % (error % target),
                  "%s: %d %r" % (what, result.returncode, result.stderr))
            check(data == before[0], "%s: the old file changed" % what)
        else:
            check(result.returncode == 0, "%s: %d %r" % (what, result.returncode, result.stderr))
            check(data.startswith(b"P7\nWIDTH 7\nHEIGHT 5\n" if command == "decode" else b"BM"),
                  "%s: wrote %r" % (what, data[:20]))
        check(mode == before[1] and entries == before[2], "%s: mode %o, entries %s" % (what, mode, entries))
    check(os.path.islink(os.path.join(home, "link.bmp")), "the link became a file")
    os.chmod(os.path.join(home, "ro"), 0o755)


FULL_DISK = r"""
set -e
mount -t tmpfs -o size=64k,mode=0755 lumora-full "$1"
cd "$1"
mkdir ro
printf old > full.bmp
printf old > ro/full.bmp
chown %(id)d:%(id)d full.bmp ro/full.bmp .
chmod 640 full.bmp ro/full.bmp
chmod 555 ro
for f in full.bmp ro/full.bmp; do
  if %(run)s "$2" encode "$3" "$1/$f"; then echo "$f saved"; fi
  echo "$f $(cat $f) $(stat -c %%a $f) $(ls -A $(dirname $f) | tr '\n' ' ')"
done
"""


def check_full_disk(tool, home, big):
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("full-disk cases skipped: mounting a small tmpfs needs root and unshare")
        return
    mount = os.path.join(home, "full")
    os.mkdir(mount)
    run = " ".join(as_user([]))
    script = FULL_DISK % {"id": NOBODY, "run": run}
    result = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh",
                             mount, tool, big], capture_output=True, text=True)
    if not result.stdout:  # the namespace or the mount was refused (a confined container)
        print("full-disk cases skipped: no small tmpfs: %s" % result.stderr.strip())
        return
    reasons = [line for line in result.stderr.splitlines() if line.startswith("lumora-image:")]
    check(result.stdout.splitlines() == ["full.bmp old 640 full.bmp ro ", "ro/full.bmp old 640 full.bmp "],
          "full disk: %r %r" % (result.stdout, result.stderr))
    check(len(reasons) == 2 and all(r.endswith(" failed: No space left on device") and "Writing " in r
                                    for r in reasons), "full disk messages: %r" % reasons)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    tool = os.path.abspath(sys.argv[1])
    home = tempfile.mkdtemp(prefix="lumora-image-replace-")
    try:
        os.chmod(home, 0o755)
        if os.geteuid() == 0:
            os.chown(home, NOBODY, NOBODY)
        source, big = os.path.join(home, "small.ppm"), os.path.join(home, "big.ppm")
        Image.new("RGB", (7, 5), (10, 200, 30)).save(source)
        Image.new("RGB", (7, 5), (10, 200, 30)).save(source[:-3] + "bmp")
        Image.effect_noise((200, 200), 60).convert("RGB").save(big)
        check_replacements(tool, home, source)
        check_full_disk(tool, home, big)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    print("%d failed" % len(failures) if failures else "ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""Writes the seeds of the capture-file fuzz target (tests/fuzz/corpus/capture_file): the
shapes a capture file takes when a capture is killed in a reserved file. The AVI seeds
(tests/fuzz/corpus/avi) are copied alongside.
    python3 tests/fuzz/make_capture_file_seeds.py tests/fuzz/corpus/capture_file
"""
import os
import shutil
import struct
import sys

out = sys.argv[1]
here = os.path.dirname(os.path.abspath(__file__))
os.makedirs(out, exist_ok=True)
for name in os.listdir(os.path.join(here, "corpus", "avi")):
    shutil.copy(os.path.join(here, "corpus", "avi", name), os.path.join(out, "avi_" + name))


def chunk(fcc, body):
    return fcc + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def lst(kind, body):
    return b"LIST" + struct.pack("<I", len(body) + 4) + kind + body


def avi(sizes, finished, strl=True):
    n = len(sizes) if finished else 0
    avih = struct.pack("<14I", 33333, 0, 0, 0x10 if finished else 0, n, 0, 1, 0, 16, 8, 0, 0, 0, 0)
    strh = b"vids" + b"MJPG" + bytes(12) + struct.pack("<4I", 1, 30, 0, n) + bytes(20)
    strf = struct.pack("<3IHH", 40, 16, 8, 1, 24) + b"MJPG" + bytes(20)
    streams = lst(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)) if strl else b""
    hdrl = lst(b"hdrl", chunk(b"avih", avih) + streams + lst(b"odml", chunk(b"dmlh", struct.pack("<I", n))))
    frames = b"".join(chunk(b"00dc", bytes((i + k) & 0xFF for k in range(s))) for i, s in enumerate(sizes))
    if finished:
        idx, pos = b"", 4
        for s in sizes:
            idx += b"00dc" + struct.pack("<3I", 0x10, pos, s)
            pos += 8 + s + (s & 1)
        body = b"AVI " + hdrl + lst(b"movi", frames) + chunk(b"idx1", idx)
        return b"RIFF" + struct.pack("<I", len(body)) + body
    head = b"AVI " + hdrl + b"LIST" + struct.pack("<I", 4) + b"movi"
    return b"RIFF" + struct.pack("<I", len(head)) + head + frames


def save(name, data, last=0):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data + bytes([last]))


older = avi([60] * 8, True)
killed = avi([60] * 3, False)
save("finished_reserved", older + bytes(2048), 10)
save("killed_cleared", killed + bytes(1024), 3)
save("killed_over_older", killed + older[len(killed):], 200)
save("riff_size_zero", killed[:4] + bytes(4) + killed[8:] + bytes(512), 0)
movi = killed.index(b"movi") - 8
save("movi_size_zero", killed[:movi + 4] + bytes(4) + killed[movi + 8:] + bytes(300), 128)
save("half_written", killed[:-30] + bytes(30 + 400), 50)
strl = killed.index(b"strl") - 8
save("no_stream_list", killed[:4] + bytes(4) + killed[8:strl] + b"JUNK" + killed[strl + 4:], 20)
save("not_avi", b"RIFF" + struct.pack("<I", 20) + b"WAVE" + bytes(20), 255)

"""Writes the seeds of the AVI fuzz target (tests/fuzz/corpus/avi): tiny clips from
GStreamer's AVI muxer, the ways a capture is left unfinished, and a hand-made OpenDML file
with "RIFF AVIX" extensions and standard indexes.

Needs gst-launch-1.0 with videotestsrc, jpegenc and avimux:
    python3 tests/fuzz/make_avi_seeds.py tests/fuzz/corpus/avi
"""
import os
import struct
import subprocess
import sys
import tempfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def muxed(encoder):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "clip.avi")
        subprocess.run(["gst-launch-1.0", "-q", "videotestsrc", "num-buffers=3", "!",
                        "video/x-raw,format=I420,width=16,height=16,framerate=30/1", "!", *encoder,
                        "avimux", "!", "filesink", "location=" + path], check=True)
        return open(path, "rb").read()


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def frames_of(avi):
    """(offset, id, payload) of each chunk in the first movi list, read through idx1."""
    movi = avi.index(b"movi") - 8
    pos, found = movi + 12, []
    while avi[pos:pos + 2] == b"00":
        size = struct.unpack("<I", avi[pos + 4:pos + 8])[0]
        found.append((pos, avi[pos:pos + 4], avi[pos + 8:pos + 8 + size]))
        pos += 8 + size + (size & 1)
    return movi, found, pos


def chunk(fcc, body):
    return fcc + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def opendml(avi):
    """The clip's frames split one per RIFF, with ix00 in each movi and indx in the header."""
    movi, frames, _ = frames_of(avi)
    hdrl = bytearray(avi[12:movi])
    riffs, ix_at = [], []
    offset = movi
    for i, (_, fcc, payload) in enumerate(frames):
        base = 0 if i == 0 else offset
        head = 12 if i else 0
        data_at = offset + head + 12 + 8
        ix = struct.pack("<HBBI4sQI", 2, 0, 1, 1, fcc, base, 0) + struct.pack("<II", data_at - base, len(payload))
        body = b"movi" + chunk(fcc, payload)
        ix_at.append(offset + head + 8 + len(body))
        body += chunk(b"ix00", ix)
        riffs.append(b"LIST" + struct.pack("<I", len(body)) + body)
        offset += head + len(riffs[-1]) + (24 if i == 0 else 0)  # the first RIFF's idx1
    indx = struct.pack("<HBBI4s12x", 4, 0, 0, len(frames), b"00db")
    for at in ix_at:
        indx += struct.pack("<QII", at, 8 + 32, 1)
    # The muxer reserves a JUNK chunk in the stream list for the super-index.
    junk = hdrl.index(b"JUNK")
    reserved = struct.unpack("<I", hdrl[junk + 4:junk + 8])[0]
    hdrl = (bytes(hdrl[:junk]) + chunk(b"indx", indx) + chunk(b"JUNK", bytes(reserved - len(indx) - 8)) +
            bytes(hdrl[junk + 8 + reserved:]))
    first = b"AVI " + hdrl + riffs[0] + chunk(b"idx1", struct.pack("<4sIII", b"00db", 0x10, 4, len(frames[0][2])))
    data = b"RIFF" + struct.pack("<I", len(first)) + first
    for r in riffs[1:]:
        data += b"RIFF" + struct.pack("<I", len(r) + 4) + b"AVIX" + r
    return data


raw = muxed([])
jpeg = muxed(["jpegenc", "!"])
save("raw.avi", raw)
save("jpeg.avi", jpeg)
movi, frames, index_at = frames_of(raw)
unfinished = bytearray(raw[:index_at])
struct.pack_into("<I", unfinished, 4, movi + 12 - 8)   # the sizes a muxer writes first
struct.pack_into("<I", unfinished, movi + 4, 4)
save("killed.avi", bytes(unfinished) + bytes(64))       # then reserved zeros
save("riff_size_zero.avi", b"RIFF\0\0\0\0" + jpeg[8:])
save("cut_in_frame.avi", jpeg[:frames_of(jpeg)[1][2][0] + 20])
save("opendml.avi", opendml(raw))

#!/usr/bin/env python3
"""Figures of an AVI file for the end-to-end capture check.

riff_length.py FILE           length of the consecutive RIFF chunks (the AVI's real length)
riff_length.py --frames FILE  whole video frames in the movi lists, walked chunk by chunk
                              (works on a file whose headers were never finished)
"""
import struct
import sys


def riff_chunks(data):
    pos = 0
    while pos + 12 <= len(data) and data[pos:pos + 4] == b"RIFF":
        size = struct.unpack_from("<I", data, pos + 4)[0]
        yield pos, size, data[pos + 8:pos + 12]
        pos += 8 + size + (size & 1)


def riff_length(data):
    end = 0
    for pos, size, _ in riff_chunks(data):
        end = pos + 8 + size + (size & 1)
    return end


def whole_frames(data):
    """Counts ##dc / ##db chunks that lie wholly in the file, in every movi list."""
    frames = 0
    pos = 0
    while pos + 12 <= len(data) and data[pos:pos + 4] == b"RIFF":
        riff_size = struct.unpack_from("<I", data, pos + 4)[0]
        riff_end = pos + 8 + riff_size if riff_size else len(data)
        p = pos + 12
        while p + 8 <= min(riff_end, len(data)):
            fourcc, size = data[p:p + 4], struct.unpack_from("<I", data, p + 4)[0]
            if fourcc == b"LIST" and data[p + 8:p + 12] == b"movi":
                q = p + 12
                while q + 8 <= len(data):
                    cc, n = data[q:q + 4], struct.unpack_from("<I", data, q + 4)[0]
                    if q + 8 + n > len(data) or cc == b"\0\0\0\0":
                        break
                    if cc[2:] in (b"dc", b"db"):
                        frames += 1
                    if cc in (b"idx1", b"RIFF"):
                        break
                    q += 8 + n + (n & 1)
                break
            p += 8 + size + (size & 1)
        if not riff_size:
            break
        pos = riff_end + (riff_size & 1)
    return frames


def main():
    args = sys.argv[1:]
    frames = args and args[0] == "--frames"
    with open(args[-1], "rb") as f:
        data = f.read()
    print(whole_frames(data) if frames else riff_length(data))


if __name__ == "__main__":
    main()

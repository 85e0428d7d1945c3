"""Times Pillow's Image.quantize(256) on a raw RGB picture, the baseline for the 32-to-8-bit
conversion benchmark. Usage: pillow_quantize.py RAW_RGB_FILE WIDTH HEIGHT CALLS
Prints one line per call (after one untimed warm-up call): its wall time and the CPU time of
the calling thread, in seconds. On a busy machine the CPU time is the fairer figure."""
import sys
import time

from PIL import Image


def main():
    path, width, height, calls = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    with open(path, "rb") as f:
        image = Image.frombytes("RGB", (width, height), f.read())
    image.quantize(256)
    for _ in range(calls):
        wall, cpu = time.perf_counter(), time.thread_time()
        image.quantize(256)
        print(f"{time.perf_counter() - wall:.6f} {time.thread_time() - cpu:.6f}")


if __name__ == "__main__":
    main()

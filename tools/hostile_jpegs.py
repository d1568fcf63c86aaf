#!/usr/bin/env python3
"""Writes the JPEG files that must be punched or refused quickly into a folder.

Valid, very compressible photos (a lens-cap shot, a blank scanned page) that a
size-per-byte rule would refuse, and crafted 16000 x 16000 progressive files
with 499 and 501 scans, padded with zeros after their end marker.
Needs cjpeg and jpegtran (libjpeg-turbo-progs).
"""
import subprocess
import sys
from pathlib import Path


def raw(width, height, colour):
    """A PPM (3 samples) or PGM (1 sample) frame of one colour, as a stream."""
    grey = len(colour) == 1
    head = b"P%d\n%d %d\n255\n" % (5 if grey else 6, width, height)
    row = bytes(colour) * width

    def write(pipe):
        pipe.write(head)
        for _ in range(height):
            pipe.write(row)
        pipe.close()

    return write


def cjpeg(out, width, height, colour, *options):
    with open(out, "wb") as sink:
        proc = subprocess.Popen(["cjpeg", *options], stdin=subprocess.PIPE, stdout=sink)
        raw(width, height, colour)(proc.stdin)
        if proc.wait() != 0:
            sys.exit(f"cjpeg failed for {out}")


def jpegtran(source, out, *options):
    with open(out, "wb") as sink:
        subprocess.run(["jpegtran", *options, str(source)], stdout=sink, check=True)


def with_scans(progressive, count, size):
    """Repeats the file's last scan until it has `count` scans, then pads it."""
    data = progressive[:-2]
    last = data.rindex(b"\xff\xda")
    scan = data[last:]
    scans = data.count(b"\xff\xda")  # no stuffed 0xFFDA in a black frame
    data += scan * (count - scans) + b"\xff\xd9"
    return data + bytes(max(0, size - len(data)))


def main(folder):
    out = Path(folder)
    out.mkdir(parents=True, exist_ok=True)
    cjpeg(out / "black-q95.jpg", 6000, 4000, [0, 0, 0], "-quality", "95")
    jpegtran(out / "black-q95.jpg", out / "black-6000x4000-optimised.jpg", "-optimize")
    jpegtran(out / "black-q95.jpg", out / "black-6000x4000-progressive.jpg", "-optimize",
             "-progressive")
    (out / "black-q95.jpg").unlink()
    cjpeg(out / "grey-6000x4000-optimised.jpg", 6000, 4000, [128], "-quality", "95",
          "-optimize")
    cjpeg(out / "black-8064x6048-progressive.jpg", 8064, 6048, [0, 0, 0], "-quality", "95",
          "-optimize", "-progressive")
    cjpeg(out / "blank-a4-600dpi.jpg", 4960, 7016, [255, 255, 255], "-quality", "85",
          "-optimize")
    grey = out / "grey-16000.jpg"
    cjpeg(grey, 16000, 16000, [0], "-grayscale", "-progressive")
    data = grey.read_bytes()
    grey.unlink()
    for count in (499, 501):
        (out / f"crafted-16000-{count}-scans.jpg").write_bytes(with_scans(data, count, 3 << 20))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")

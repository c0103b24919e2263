#!/usr/bin/env python3
"""Writes the program's icon: one 32x32 image, 24 bits per pixel (3,262 bytes).
A gold shield with a dark V on a deep blue tile; the same bytes on every build."""
import struct
import sys

SIZE = 32


def colour(x, y):
    cx, cy = x - 15.5, y - 15.5
    # Shield: straight top, sides narrowing to a point at the bottom.
    half_width = 12 if y < 18 else 12 - (y - 18) * 0.9
    inside = 3 <= y <= 30 and abs(cx) <= half_width
    if not inside:
        shade = 60 + int(40 * (1 - (cx * cx + cy * cy) / 512))
        return (20, 30, max(shade, 60) + 40)  # blue tile
    border = abs(cx) > half_width - 2 or y < 5
    if border:
        return (140, 100, 20)
    # The V: two strokes meeting at the bottom centre.
    t = (y - 7) / 17.0
    if 0 <= t <= 1:
        stroke = 9 * (1 - t)
        if abs(abs(cx) - stroke) < 2.2:
            return (30, 20, 60)
    return (235, 190, 60 + y * 2)


def main(out):
    xor = bytearray()
    for y in range(SIZE - 1, -1, -1):  # bottom-up rows
        for x in range(SIZE):
            r, g, b = colour(x, y)
            xor += bytes((b, g, r))
    and_mask = bytes(4 * SIZE)  # every pixel opaque
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + bytes(xor) + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    data = icondir + entry + image
    assert len(data) == 3262, len(data)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])

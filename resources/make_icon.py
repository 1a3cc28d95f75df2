#!/usr/bin/env python3
"""Draws the program's icon, a touchpad with an update arrow, and writes it as resources/fwupdate.ico.

Usage: resources/make_icon.py [OUTPUT]

The picture is described by shapes in a unit square and rendered at every size the icon holds
with supersampling, so small sizes stay smooth. Sizes up to 64 are stored as 32-bit bitmaps (what
every Windows version reads), 256 as PNG (what Windows expects there). Only the standard library
is used.
"""

import math
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def vertical_gradient(top, bottom, y0, y1):
    def color(_x, y):
        t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
        return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
    return color


def solid(rgb):
    return lambda _x, _y: rgb


# Back to front: the pad, its touch surface and two buttons, then a round badge with an arrow.
BADGE_X, BADGE_Y, BADGE_R = 0.735, 0.715, 0.245
ARROW = [(0.735, 0.535), (0.865, 0.685), (0.782, 0.685), (0.782, 0.865),
         (0.688, 0.865), (0.688, 0.685), (0.605, 0.685)]
LAYERS = [
    (rounded_rect(0.04, 0.12, 0.90, 0.84, 0.12),
     vertical_gradient((84, 96, 116), (45, 53, 68), 0.12, 0.84)),
    (rounded_rect(0.10, 0.18, 0.84, 0.56, 0.07),
     vertical_gradient((190, 200, 214), (150, 162, 180), 0.18, 0.56)),
    (rounded_rect(0.10, 0.61, 0.46, 0.78, 0.045), solid((160, 172, 190))),
    (rounded_rect(0.48, 0.61, 0.84, 0.78, 0.045), solid((160, 172, 190))),
    (circle(BADGE_X, BADGE_Y, BADGE_R), solid((255, 255, 255))),
    (circle(BADGE_X, BADGE_Y, BADGE_R - 0.035),
     vertical_gradient((64, 180, 90), (30, 130, 56), BADGE_Y - BADGE_R, BADGE_Y + BADGE_R)),
    (polygon(ARROW), solid((255, 255, 255))),
]


def render(size):
    """Rows of (r, g, b, a) tuples, top row first."""
    samples = 4 if size >= 128 else 8
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(samples):
                y = (py + (sy + 0.5) / samples) / size
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    for inside, color in reversed(LAYERS):
                        if inside(x, y):
                            cr, cg, cb = color(x, y)
                            r, g, b, a = r + cr, g + cg, b + cb, a + 1
                            break
            count = samples * samples
            alpha = a / count
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(alpha * 255)))
        rows.append(row)
    return rows


def bitmap_entry(size, rows):
    """A 32-bit BGRA DIB with its AND mask, bottom row first, as an icon directory stores it."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_r, _g, _b, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def png_entry(size, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def icon_file(images):
    """The .ico container: header, one directory entry per image, then the images."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dimension = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _size, data in images:
        out += data
    return bytes(out)


def main():
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("fwupdate.ico")
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_entry(size, rows) if size >= 256 else bitmap_entry(size, rows)))
    output.write_bytes(icon_file(images))
    print(f"{output}: {', '.join(str(s) for s in SIZES)} px")


if __name__ == "__main__":
    main()

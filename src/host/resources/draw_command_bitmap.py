#!/usr/bin/env python3
"""Draws the command's toolbar picture: a 72 x 72, 16-colour (4 bits per
pixel) BMP of exactly 2,710 bytes. A sheet of text lines, a capital T, and a
graded bar of grades from "excluded" (dark) to "excellent" (bright) beneath a
membership curve.

Usage: draw_command_bitmap.py OUTPUT.bmp
"""
import struct
import sys

W = H = 72
# The standard 16-colour palette, index -> (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# pixels[y][x], y = 0 at the top.
px = [[SILVER] * W for _ in range(H)]


def rect(x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            px[y][x] = c


def frame(x0, y0, x1, y1, c):
    for x in range(x0, x1 + 1):
        px[y0][x] = px[y1][x] = c
    for y in range(y0, y1 + 1):
        px[y][x0] = px[y][x1] = c


def line(x0, y0, x1, y1, c):
    n = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(n + 1):
        px[round(y0 + (y1 - y0) * i / n)][round(x0 + (x1 - x0) * i / n)] = c


def polyline(points, c):
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        line(x0, y0, x1, y1, c)


# The sheet, with a shadow and a folded corner.
rect(10, 6, 61, 65, GRAY)
rect(8, 4, 59, 63, WHITE)
frame(8, 4, 59, 63, BLACK)
for i in range(10):
    line(50 + i, 4, 59, 13 - i, SILVER)
polyline(((59, 13), (50, 4), (50, 13), (59, 13)), BLACK)

# A capital T and lines of text beside it.
rect(13, 9, 27, 11, NAVY)
rect(19, 12, 21, 25, NAVY)
for y, x1 in ((10, 46), (15, 54), (20, 50), (25, 54)):
    rect(31 if y < 26 else 13, y, x1, y, GRAY)
rect(13, 30, 54, 30, GRAY)

# A trapezoidal membership curve over the grade bar.
polyline(((13, 52), (24, 36), (42, 36), (54, 52)), BLUE)
# Its flanks drawn twice as thick.
line(13, 53, 24, 37, BLUE)
line(42, 37, 54, 53, BLUE)

# The grade bar: seven cells, dark to bright.
for i, c in enumerate((MAROON, RED, OLIVE, YELLOW, GREEN, LIME, AQUA)):
    x0 = 13 + i * 6
    rect(x0, 55, x0 + 5, 60, c)
    frame(x0, 55, x0 + 5, 60, BLACK)

row_bytes = W // 2  # 36: already a multiple of 4
pixels = bytearray()
for y in reversed(range(H)):  # bottom-up
    row = px[y]
    for x in range(0, W, 2):
        pixels.append((row[x] << 4) | row[x + 1])
palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
offset = 14 + 40 + len(palette)
size = offset + len(pixels)
header = struct.pack("<2sIHHI", b"BM", size, 0, 0, offset)
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(pixels), 3780, 3780, 16, 16)
data = header + info + palette + bytes(pixels)
assert len(data) == 2710, len(data)
with open(sys.argv[1], "wb") as f:
    f.write(data)

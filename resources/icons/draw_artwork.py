#!/usr/bin/env python3
"""Draws the program's icon (128), its 128-pixel desktop icon and the main-window
picture (151) as PNG files.

Plain Python, no image library: each pixel is the average of 4x4 samples of a
few shapes, which is enough for flat artwork. Run it from anywhere:
    python3 resources/icons/draw_artwork.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(4):
                for sx in range(4):
                    r, g, b, a = pixel(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / 16
            if acc[3] > 0:
                rgb = [int(round(c / acc[3])) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            rows += bytes(rgb + [int(round(alpha * 255))])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def in_round_rect(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and left <= x <= right and top <= y <= bottom


def box_and_signal(x, y, size, background):
    """A set-top box with a green lamp, and signal arcs above it; coordinates in 0..size."""
    u = size / 64.0
    # Signal arcs: three rings centred above the box.
    cx, cy = 32 * u, 30 * u
    d = math.hypot(x - cx, y - cy)
    angle = math.degrees(math.atan2(cy - y, x - cx))
    if 50 <= angle <= 130:
        for radius in (10, 18, 26):
            if abs(d - radius * u) <= 2.2 * u:
                return (255, 196, 40, 1.0)
    # The box body.
    if in_round_rect(x, y, 6 * u, 34 * u, 58 * u, 54 * u, 4 * u):
        if (x - 48 * u) ** 2 + (y - 44 * u) ** 2 <= (3 * u) ** 2:
            return (80, 230, 90, 1.0)
        if 12 * u <= x <= 36 * u and 42 * u <= y <= 46 * u:
            return (30, 110, 200, 1.0)
        shade = 60 + int(40 * (54 * u - y) / (20 * u))
        return (shade, shade, shade + 10, 1.0)
    # Feet.
    if (10 * u <= x <= 16 * u or 48 * u <= x <= 54 * u) and 54 * u < y <= 57 * u:
        return (40, 40, 48, 1.0)
    return background


def icon_pixel(x, y):
    return box_and_signal(x, y, 64, (0, 0, 0, 0.0))


def banner_pixel(x, y):
    width, height = 320, 64
    t = x / width
    background = (int(14 + 30 * t), int(40 + 50 * t), int(96 + 80 * t), 1.0)
    if x < 64:
        return box_and_signal(x, y, 64, background)
    # A row of data blocks travelling towards the box.
    block = (x - 80) % 28
    if x >= 80 and block < 16 and 26 <= y <= 38:
        fade = 0.35 + 0.65 * (1 - (x - 80) / (width - 80))
        return (int(255 * fade + background[0] * (1 - fade)),
                int(196 * fade + background[1] * (1 - fade)),
                int(40 * fade + background[2] * (1 - fade)), 1.0)
    return background


write_png(os.path.join(HERE, "icon128.png"), 64, 64, icon_pixel)
# The desktop's 128x128 icon: the same drawing at twice the size, not scaled up.
write_png(os.path.join(HERE, "updatetool-128.png"), 128, 128,
          lambda x, y: box_and_signal(x, y, 128, (0, 0, 0, 0.0)))
write_png(os.path.join(HERE, "..", "bitmaps", "bitmap151.png"), 320, 64, banner_pixel)

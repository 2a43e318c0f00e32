#!/usr/bin/env python3
"""Draws the two panel pictures of QvLink Setup as 24-bit BMP files (run once, files are kept)."""
import math
import struct


def write_bmp(path, w, h, pixel):
    row = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - w * 3)
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def radio(x, y):
    # A mast with three arcs of signal on a light background.
    cx, cy = 24, 40
    d = math.hypot(x - cx, y - cy)
    ang = math.degrees(math.atan2(cy - y, x - cx))
    if abs(x - cx) <= 1 and 20 <= y <= 46:
        return (40, 40, 60)
    if 45 <= ang <= 135 and any(abs(d - r) < 1.6 for r in (10, 17, 24)):
        return (0, 110, 200)
    return (240, 244, 250)


def adapter(x, y):
    # The adapter box with a status lamp and a cable.
    if 8 <= x <= 40 and 14 <= y <= 34:
        if 32 <= x <= 36 and 18 <= y <= 22:
            return (30, 200, 60)
        if x in (8, 40) or y in (14, 34):
            return (30, 30, 40)
        return (70, 80, 95)
    if 22 <= x <= 26 and 35 <= y <= 46:
        return (30, 30, 40)
    return (240, 244, 250)


write_bmp("radio.bmp", 48, 48, radio)
write_bmp("adapter.bmp", 48, 48, adapter)

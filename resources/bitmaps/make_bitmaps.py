#!/usr/bin/python3
"""Draws the plug-in's two pictures as 24-bit BMP files (no other art):

  about.bmp  the product mark of the about box (resource 1020): a blue
             rounded square, a white sound wave across it and the wave's
             orange front dot;
  tip.bmp    the tip-of-the-day panel's picture (library bitmap 2): a light
             bulb on the magenta key colour, which the panel replaces by its
             own column colour.

Run: make_bitmaps.py OUT_DIR  (the checked-in files are its output)."""
import math
import struct
import sys


def write_bmp(path, width, height, pixel):
    """pixel(x, y) -> (r, g, b), y = 0 at the top."""
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += bytes(row - len(line))
        data += line
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def about_pixel(x, y, size=64):
    white = (255, 255, 255)
    cx = x + 0.5
    cy = y + 0.5
    # Rounded square with a soft edge: distance outside the inner rectangle.
    radius, margin = 12.0, 2.0
    inner = (margin + radius, size - margin - radius)
    dx = max(inner[0] - cx, 0.0, cx - inner[1])
    dy = max(inner[0] - cy, 0.0, cy - inner[1])
    edge = math.hypot(dx, dy) - radius
    top, bottom = (40, 110, 200), (16, 52, 120)
    body = mix(top, bottom, cy / size)
    colour = mix(body, white, edge + 0.5)
    if edge > 0.5:
        return white
    # The wave: a sine whose amplitude swells to the right, drawn 3 px thick.
    if 10 <= cx <= 50:
        t = (cx - 10) / 40
        amp = 4 + 12 * t
        wy = size / 2 - amp * math.sin(2 * math.pi * 1.75 * t)
        slope = abs(-amp * math.cos(2 * math.pi * 1.75 * t) * 2 * math.pi * 1.75 / 40)
        dist = abs(cy - wy) / math.sqrt(1 + slope * slope)
        colour = mix(white, colour, dist - 1.0)
    # The front dot.
    d = math.hypot(cx - 53, cy - (size / 2 - 16 * math.sin(2 * math.pi * 1.75)))
    colour = mix((255, 150, 30), colour, d - 3.5)
    return colour


def tip_pixel(x, y):
    key = (255, 0, 255)
    cx, cy = x + 0.5, y + 0.5
    # Glass: a circle, then a neck narrowing to the base.
    glass = math.hypot(cx - 16, cy - 15) <= 11
    neck = 22 <= cy <= 30 and abs(cx - 16) <= 7 - (cy - 22) * 0.25
    if glass or neck:
        shine = math.hypot(cx - 12, cy - 11) <= 3
        return (255, 250, 220) if shine else (255, 214, 40)
    # The screw base: grey bands.
    if 30 < cy <= 38 and abs(cx - 16) <= 5:
        return (120, 120, 128) if int(cy) % 3 == 0 else (180, 180, 188)
    if 38 < cy <= 40 and abs(cx - 16) <= 2:
        return (90, 90, 96)
    return key


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else '.'
    write_bmp(out + '/about.bmp', 64, 64, about_pixel)
    write_bmp(out + '/tip.bmp', 32, 44, tip_pixel)


if __name__ == '__main__':
    main()

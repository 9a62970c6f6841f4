#!/usr/bin/env python3
"""Draws the Nelvo icon (a beamed pair of notes on a violet-to-pink rounded square) and
writes assets/nelvo.ico with 16, 24, 32, 48 and 256 px images. Standard library only."""
import math
import os
import struct
import sys
import zlib

TOP_LEFT = (0x8B, 0x5C, 0xF6)
BOTTOM_RIGHT = (0xEC, 0x48, 0x99)


def rounded_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return math.hypot(x - cx, y - cy) <= r


def ellipse(x, y, cx, cy, rx, ry, angle):
    c, s = math.cos(angle), math.sin(angle)
    dx, dy = x - cx, y - cy
    u, v = dx * c + dy * s, -dx * s + dy * c
    return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0


def in_note(x, y):
    heads = ((0.35, 0.72), (0.69, 0.64))
    for hx, hy in heads:
        if ellipse(x, y, hx, hy, 0.115, 0.085, -0.35):
            return True
    stem_w = 0.055
    for hx, hy in heads:
        sx = hx + 0.105 - stem_w
        if sx <= x <= sx + stem_w and 0.24 + (0.0 if hx < 0.5 else -0.08) <= y <= hy:
            return True
    # Beam from the top of the left stem to the top of the right stem.
    x0, x1 = heads[0][0] + 0.105 - stem_w, heads[1][0] + 0.105
    if x0 <= x <= x1:
        t = (x - x0) / (x1 - x0)
        top = 0.24 + (0.16 - 0.24) * t
        if top <= y <= top + 0.10:
            return True
    return False


def render(size):
    ss = 4 if size >= 64 else 8
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            bg = note = 0
            for sy in range(ss):
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss) / size
                    y = (py + (sy + 0.5) / ss) / size
                    if rounded_rect(x, y, 0.03, 0.03, 0.97, 0.97, 0.22):
                        bg += 1
                        if in_note(x, y):
                            note += 1
            n = ss * ss
            a = bg / n
            t = ((px + 0.5) / size + (py + 0.5) / size) / 2
            base = [TOP_LEFT[i] + (BOTTOM_RIGHT[i] - TOP_LEFT[i]) * t for i in range(3)]
            w = note / bg if bg else 0
            rgb = [round(base[i] * (1 - w) + 255 * w) for i in range(3)]
            row.append((rgb[0], rgb[1], rgb[2], round(a * 255)))
        pixels.append(row)
    return pixels


def bmp_entry(pixels):
    size = len(pixels)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = b''.join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # alpha decides; the AND mask stays clear
    return header + body + mask


def png_entry(pixels):
    size = len(pixels)
    raw = b''.join(b'\x00' + b''.join(bytes(p) for p in row) for row in pixels)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'assets', 'nelvo.ico')
    sizes = (16, 24, 32, 48, 256)
    images = [png_entry(render(s)) if s == 256 else bmp_entry(render(s)) for s in sizes]
    data = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        data += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b''.join(images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()

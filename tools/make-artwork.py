#!/usr/bin/env python3
"""Draws the product's own artwork: the splash picture (PNG, 512 x 197, 8-bit RGB, no alpha) and the
application icon (16, 24, 32, 48 and 256 pixels). Deterministic: the same script gives the same bytes.
With --marks OUT.png it writes only the splash picture, with 8 x 8 squares in its corners (red, green, blue,
yellow from the top left), for the test that checks how the product's picture stands on the screen."""
import math
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

FONT = {  # 5 x 7 capitals, one string per row
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'C': ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'V': ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    ' ': ["00000"] * 7,
}


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def filtered(rows, bpp, kind):
    """The image's rows with one PNG filter type for all of them, each behind its filter byte."""
    out, prev = bytearray(), bytes(len(rows[0]))
    for row in rows:
        out.append(kind)
        for i, x in enumerate(row):
            a, b, c = (row[i - bpp], prev[i], prev[i - bpp]) if i >= bpp else (0, prev[i], 0)
            out.append((x - (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 255)
        prev = row
    return bytes(out)


def deflate(raw):
    """zlib data: zopfli's when it is installed (a third smaller than zlib's here), else zlib's best."""
    if shutil.which('zopfli'):
        with tempfile.NamedTemporaryFile() as f:
            f.write(raw)
            f.flush()
            return subprocess.run(['zopfli', '--zlib', '-c', f.name], check=True, capture_output=True).stdout
    return zlib.compress(raw, 9)


def png(width, height, rows, alpha=False):
    """The smallest of the five single-filter encodings: the pictures are gradients, which one filter suits."""
    bpp = 4 if alpha else 3
    raw = min((filtered([bytes(r) for r in rows], bpp, k) for k in range(5)), key=lambda d: len(zlib.compress(d, 9)))
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    ihdr = struct.pack('>IIBBBBB', width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', deflate(raw)) + chunk(b'IEND', b'')


def mark(u, v):
    """Coverage 0..1 of the emblem (a stylised wing in a ring) at unit coordinates u, v in [-1, 1]."""
    r = math.hypot(u, v)
    ring = max(0.0, 1.0 - abs(r - 0.86) / 0.07)
    wing = 0.0
    for k in range(4):
        cx, cy, rad = -0.15 + 0.12 * k, 0.25 - 0.2 * k, 0.55 - 0.1 * k
        d = math.hypot(u - cx, v - cy)
        if d < rad and v < cy + 0.05 and u > -0.55:
            wing = max(wing, min(1.0, (rad - d) / 0.06))
    return min(1.0, ring + wing)


def splash(marks=False):
    w, h = 512, 197
    rows = []
    text1, text2 = "CORVANE", "SKARNVELD"
    for y in range(h):
        row = []
        for x in range(w):
            t = x / (w - 1)
            base = (int(18 + 20 * t), int(34 + 60 * t), int(64 + 70 * (1 - t)))
            c = mark((x - 98) / 70.0, (y - 98) / 70.0)
            pix = tuple(int(b * (1 - c) + 236 * c) for b in base)
            row.extend(pix)
        rows.append(row)

    def draw(text, x0, y0, scale, colour):
        for i, ch in enumerate(text):
            glyph = FONT[ch]
            for gy in range(7):
                for gx in range(5):
                    if glyph[gy][gx] == '1':
                        for yy in range(scale):
                            for xx in range(scale):
                                px, py = x0 + (i * 6 + gx) * scale + xx, y0 + gy * scale + yy
                                rows[py][px * 3:px * 3 + 3] = list(colour)

    draw(text1, 196, 62, 6, (245, 245, 240))
    draw(text2, 198, 124, 3, (170, 200, 225))
    for (cx, cy, col) in ((0, 0, (255, 0, 0)), (w - 8, 0, (0, 255, 0)), (0, h - 8, (0, 0, 255)),
                          (w - 8, h - 8, (255, 255, 0))) if marks else ():
        for y in range(cy, cy + 8):
            for x in range(cx, cx + 8):
                rows[y][x * 3:x * 3 + 3] = list(col)
    return png(w, h, rows)


def icon_pixels(size):
    px = []
    for y in range(size):
        for x in range(size):
            u, v = (x + 0.5) / size * 2 - 1, (y + 0.5) / size * 2 - 1
            inside = math.hypot(u, v) < 0.97
            c = mark(u * 1.05, v * 1.05)
            if not inside:
                px.append((0, 0, 0, 0))
                continue
            base = (30, 70, 120)
            px.append(tuple(int(b * (1 - c) + 240 * c) for b in base) + (255,))
    return px


def ico():
    sizes = [16, 24, 32, 48, 256]
    images = []
    for s in sizes:
        px = icon_pixels(s)
        if s == 256:
            rows = [[ch for p in px[y * s:(y + 1) * s] for ch in p] for y in range(s)]
            images.append(png(s, s, rows, alpha=True))
            continue
        header = struct.pack('<IiiHHIIiiII', 40, s, s * 2, 1, 32, 0, s * s * 4, 0, 0, 0, 0)
        xor = b''.join(bytes((p[2], p[1], p[0], p[3])) for y in reversed(range(s)) for p in px[y * s:(y + 1) * s])
        mask_stride = ((s + 31) // 32) * 4
        mask = bytearray()
        for y in reversed(range(s)):
            bits = bytearray(mask_stride)
            for x in range(s):
                if px[y * s + x][3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        images.append(header + xor + bytes(mask))
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


if __name__ == '__main__':
    if sys.argv[1:2] == ['--marks']:
        open(sys.argv[2], 'wb').write(splash(marks=True))
        sys.exit(0)
    folder = sys.argv[1] if len(sys.argv) > 1 else 'resources'
    open(f'{folder}/splash.png', 'wb').write(splash())
    open(f'{folder}/corvane.ico', 'wb').write(ico())

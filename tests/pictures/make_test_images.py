#!/usr/bin/env python3
"""Writes the splash tests' pictures into the folder given (default: the current one). Deterministic.

Every picture is 512 x 197, the size of the product's splash. The colours are repeated in
tests/e2e/splash_tests.cpp, which checks them on the screen.
  quadrants.png  RGB, four solid quadrants (top-left, top-right, bottom-left, bottom-right)
  alpha.png      RGBA, four vertical bands of alpha 255, 192, 64, 0; top and bottom halves differ
  frames.gif     two frames: the quadrant colours first, other colours second
  frames.tif     two pages, as frames.gif
  garbage.bin    text that no picture decoder recognises
  truncated.tif  a valid TIFF header whose pixel strip is cut short: decoding fails when pixels are read
"""
import struct
import sys
import zlib

W, H = 512, 197
SPLIT_X, SPLIT_Y = 256, 98  # first column and first row of the right and bottom quadrants
QUADRANTS = [(220, 40, 40), (40, 200, 60), (50, 60, 210), (230, 210, 40)]
SECOND_FRAME = [(10, 230, 230), (240, 20, 240), (250, 250, 250), (0, 0, 0)]
ALPHA_BANDS = [255, 192, 64, 0]  # each 128 columns wide
ALPHA_TOP, ALPHA_BOTTOM = (240, 120, 20), (20, 100, 240)


def quadrant(x, y):
    return (1 if x >= SPLIT_X else 0) + (2 if y >= SPLIT_Y else 0)


def png(width, height, rows, alpha):
    raw = b''.join(b'\0' + bytes(r) for r in rows)
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    ihdr = struct.pack('>IIBBBBB', width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def quadrants_png():
    rows = [[c for x in range(W) for c in QUADRANTS[quadrant(x, y)]] for y in range(H)]
    return png(W, H, rows, False)


def alpha_png():
    rows = []
    for y in range(H):
        colour = ALPHA_TOP if y < SPLIT_Y else ALPHA_BOTTOM
        rows.append([c for x in range(W) for c in colour + (ALPHA_BANDS[x // 128],)])
    return png(W, H, rows, True)


def gif_lzw(indices, min_code_size):
    """LZW data that never grows the code width: a clear code after every four literals, which any
    decoder reads the same way whether it widens codes early or late."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    width = min_code_size + 1
    codes = []
    for i, index in enumerate(indices):
        if i % 4 == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(end)
    bits, nbits, out = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    blocks = b''.join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes([min_code_size]) + blocks + b'\0'


def frames_gif():
    palette = b''.join(bytes(c) for c in QUADRANTS + SECOND_FRAME)  # eight colours: 0-3 first, 4-7 second
    out = b'GIF89a' + struct.pack('<HHBBB', W, H, 0xF2, 0, 0) + palette
    out += b'\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00'  # loop for ever, as animations do
    for base in (0, 4):
        out += b'\x21\xf9\x04' + struct.pack('<BHBB', 0x04, 50, 0, 0)  # no transparency, 0.5 s
        out += b'\x2c' + struct.pack('<HHHHB', 0, 0, W, H, 0)
        out += gif_lzw([base + quadrant(x, y) for y in range(H) for x in range(W)], 3)
    return out + b'\x3b'


def tiff(pages):
    """Uncompressed RGB pages, one strip each."""
    out = bytearray(b'II*\0' + struct.pack('<I', 0))
    ifd_links = [4]
    for pixels in pages:
        strip_offset = len(out)
        out += pixels
        bits_offset = len(out)
        out += struct.pack('<HHH', 8, 8, 8)
        if len(out) % 2:
            out += b'\0'
        entries = [(256, 4, 1, W), (257, 4, 1, H), (258, 3, 3, bits_offset), (259, 3, 1, 1), (262, 3, 1, 2),
                   (273, 4, 1, strip_offset), (277, 3, 1, 3), (278, 4, 1, H), (279, 4, 1, len(pixels)),
                   (284, 3, 1, 1)]
        ifd_offset = len(out)
        struct.pack_into('<I', out, ifd_links[-1], ifd_offset)
        out += struct.pack('<H', len(entries))
        for tag, kind, count, value in entries:
            packed = struct.pack('<H', value) + b'\0\0' if kind == 3 and count == 1 else struct.pack('<I', value)
            out += struct.pack('<HHI', tag, kind, count) + packed
        ifd_links.append(len(out))
        out += struct.pack('<I', 0)
    return bytes(out)


def page(colours):
    return bytes(c for y in range(H) for x in range(W) for c in colours[quadrant(x, y)])


def truncated_tiff():
    # The header and directory come first, then a strip that claims every row but holds only 16 bytes.
    out = bytearray(b'II*\0' + struct.pack('<I', 8))
    entries = [(256, 4, 1, W), (257, 4, 1, H), (258, 3, 3, 0), (259, 3, 1, 1), (262, 3, 1, 2), (273, 4, 1, 0),
               (277, 3, 1, 3), (278, 4, 1, H), (279, 4, 1, W * H * 3), (284, 3, 1, 1)]
    ifd_size = 2 + 12 * len(entries) + 4
    bits_offset = 8 + ifd_size
    strip_offset = bits_offset + 6
    out += struct.pack('<H', len(entries))
    for tag, kind, count, value in entries:
        value = bits_offset if tag == 258 else strip_offset if tag == 273 else value
        packed = struct.pack('<H', value) + b'\0\0' if kind == 3 and count == 1 else struct.pack('<I', value)
        out += struct.pack('<HHI', tag, kind, count) + packed
    out += struct.pack('<I', 0) + struct.pack('<HHH', 8, 8, 8) + bytes(16)
    return bytes(out)


if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else '.'
    files = {
        'quadrants.png': quadrants_png(),
        'alpha.png': alpha_png(),
        'frames.gif': frames_gif(),
        'frames.tif': tiff([page(QUADRANTS), page(SECOND_FRAME)]),
        'garbage.bin': b'This is not a picture. ' * 40,
        'truncated.tif': truncated_tiff(),
    }
    for name, data in files.items():
        with open(f'{folder}/{name}', 'wb') as f:
            f.write(data)

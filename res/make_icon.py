#!/usr/bin/env python3
"""Draws the updater's icon and writes res/updater.ico.

Four images: 256x256 stored as PNG, and 48, 32 and 16 pixels as 4-bit
bitmaps with a transparency mask. The drawing is flat shapes in a 16-colour
palette (a blue tile, a white arrow pointing down into a tray, a green bar),
so the PNG stays small and the bitmaps need no more than 4 bits. Standard
library only; the output is the same on every run.

Usage: make_icon.py [output.ico]
"""
import struct
import sys
import zlib

# Palette index 0 is transparent in the PNG and masked in the bitmaps.
PALETTE = [
    (0, 0, 0),        # 0 transparent
    (22, 52, 112),    # 1 tile border, dark blue
    (40, 96, 186),    # 2 tile, blue
    (70, 134, 220),   # 3 tile highlight, light blue
    (255, 255, 255),  # 4 arrow, white
    (46, 168, 82),    # 5 bar, green
    (200, 214, 232),  # 6 tray, pale grey-blue
]
PALETTE += [(0, 0, 0)] * (16 - len(PALETTE))


def inside_rounded(x, y, x0, y0, x1, y1, r):
    """True when (x, y) lies in the rectangle with rounded corners of radius r."""
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(u, v):
    """Palette index of the point (u, v) of the unit square, y downwards."""
    if not inside_rounded(u, v, 0.04, 0.04, 0.96, 0.96, 0.16):
        return 0
    if not inside_rounded(u, v, 0.09, 0.09, 0.91, 0.91, 0.12):
        return 1
    # Progress bar along the bottom: two thirds done.
    if 0.74 <= v <= 0.84 and 0.18 <= u <= 0.82:
        return 5 if u <= 0.61 else 6
    # Arrow: a shaft and a head pointing down.
    if 0.42 <= u <= 0.58 and 0.16 <= v <= 0.46:
        return 4
    if 0.40 <= v <= 0.66 and abs(u - 0.5) <= (0.66 - v) * 1.05:
        return 4
    if v < 0.5 and u + v < 0.62:
        return 3
    return 2


def render(size):
    """Rows of palette indexes, top row first, sampled at pixel centres."""
    return [[colour_at((x + 0.5) / size, (y + 0.5) / size) for x in range(size)]
            for y in range(size)]


def png(size):
    rows = render(size)
    raw = b"".join(b"\x00" + bytes(row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    used = 7
    plte = b"".join(bytes(c) for c in PALETTE[:used])
    trns = b"\x00" + b"\xff" * (used - 1)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0))
            + chunk(b"PLTE", plte) + chunk(b"tRNS", trns)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap(size):
    """A 4-bit DIB as icons store it: header of double height, colour rows and
    mask rows bottom-up, each row padded to 4 bytes."""
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = b""
    mask = b""
    for row in reversed(rows):
        line = bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
        xor += line + b"\x00" * (-len(line) % 4)
        bits = 0
        line = b""
        for x, c in enumerate(row):
            bits = bits << 1 | (1 if c == 0 else 0)
            if x % 8 == 7:
                line += bytes([bits])
                bits = 0
        mask += line + b"\x00" * (-len(line) % 4)
    return header + colours + xor + mask


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "updater.ico"
    images = [(256, png(256), 32), (48, bitmap(48), 4), (32, bitmap(32), 4), (16, bitmap(16), 4)]
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    directory = b""
    for size, data, bits in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0 if bits == 32 else 16, 0,
                                 1, bits, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(head + directory + b"".join(data for _, data, _ in images))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the two tray icons (closed envelope; the new-mail one with a green flap) and writes
them as 16-colour .ico files with 16x16 and 32x32 images. Run it after changing the drawing;
the generated files are committed so that no build needs Python."""

import struct
import sys
from pathlib import Path

# The standard 16-colour palette (RGB); the images use black, white and bright green.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREEN, WHITE = 0, 10, 15
CLEAR = None  # transparent

# Per size: first and last row of the envelope and the outline width.
LAYOUT = {16: (2, 12, 1), 32: (4, 26, 2)}


def flap_line_row(x, size, top, meet):
    """Row of the left/right flap line at column x: from the upper corners to the meeting point."""
    half = (size - 1) / 2.0
    distance = x if x <= half else (size - 1) - x
    return top + (meet - top) * distance / half


def draw(size, flap_colour):
    top, bottom, outline = LAYOUT[size]
    meet = (top + bottom) // 2 + size // 16  # a little below the centre
    pixels = [[CLEAR] * size for _ in range(size)]
    for y in range(top, bottom + 1):
        for x in range(size):
            pixels[y][x] = WHITE
    # The flap: the triangle between the upper edge and the two flap lines.
    for x in range(size):
        line = flap_line_row(x, size, top, meet)
        for y in range(top, bottom + 1):
            if y < line:
                pixels[y][x] = flap_colour
            if abs(y - line) < outline * 0.75:
                pixels[y][x] = BLACK
    # Shorter lines from the lower corners towards the meeting point.
    half = (size - 1) / 2.0
    reach = half * 0.6
    for x in range(size):
        distance = x if x <= half else (size - 1) - x
        if distance > reach:
            continue
        line = bottom + (meet - bottom) * distance / half
        for y in range(top, bottom + 1):
            if abs(y - line) < outline * 0.75:
                pixels[y][x] = BLACK
    # Outline, then the corners cut off by one transparent pixel.
    for y in range(top, bottom + 1):
        for x in range(size):
            if x < outline or x >= size - outline or y < top + outline or y > bottom - outline:
                pixels[y][x] = BLACK
    for y, x in ((top, 0), (top, size - 1), (bottom, 0), (bottom, size - 1)):
        pixels[y][x] = CLEAR
    return pixels


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def bitmap(pixels):
    """BITMAPINFOHEADER, palette, 4-bit colour rows and 1-bit mask rows, bottom-up."""
    size = len(pixels)
    colour_stride, mask_stride = row_bytes(size * 4), row_bytes(size)
    colours, mask = bytearray(), bytearray()
    for row in reversed(pixels):
        packed = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, value in enumerate(row):
            index = BLACK if value is CLEAR else value
            packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if value is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += packed
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(images):
    count = len(images)
    directory = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    data = b""
    for size, image in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
        data += image
    return directory + data


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent / "icons"
    out.mkdir(parents=True, exist_ok=True)
    for name, flap in (("no_mail.ico", WHITE), ("new_mail.ico", GREEN)):
        images = [(size, bitmap(draw(size, flap))) for size in (16, 32)]
        (out / name).write_bytes(icon_file(images))


if __name__ == "__main__":
    main()

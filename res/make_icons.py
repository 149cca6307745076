#!/usr/bin/env python3
"""Draws the two tray icons and writes them as .ico files, each with a 16x16 and a 32x32
image in 16 colours with a transparency mask.

no_mail.ico is a closed envelope seen from the front: white body, black outline with the
corners cut off, a flap from the upper corners to a point a little below the centre and short
lines from the lower corners towards that point. new_mail.ico is the same envelope with the
flap filled in pure green. Run this after changing the drawing; the generated files are
committed so that no build needs Python.

    python3 make_icons.py [output folder]      (default: the icons folder beside this script)
"""

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
CLEAR = None  # transparent: mask bit set

# Per image size: first and last row of the envelope, outline width, and the row where the
# flap lines meet (a little below the envelope's centre). The envelope fills the full width.
LAYOUT = {
    16: {"top": 2, "bottom": 12, "outline": 1, "meet": 8},
    32: {"top": 4, "bottom": 26, "outline": 2, "meet": 17},
}
# How far the lower lines reach from their corner towards the meeting point.
LOWER_LINE_REACH = 0.45


def line_points(x0, y0, x1, y1):
    """Bresenham: the pixels of the line from (x0, y0) to (x1, y1), both ends included."""
    points = []
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    step_x = 1 if x0 < x1 else -1
    step_y = 1 if y0 < y1 else -1
    error = dx + dy
    while True:
        points.append((x0, y0))
        if (x0, y0) == (x1, y1):
            return points
        doubled = 2 * error
        if doubled >= dy:
            error += dy
            x0 += step_x
        if doubled <= dx:
            error += dx
            y0 += step_y


def left_half_lines(size):
    """The flap line and the lower line of the left half, inside the outline, as (start, end)."""
    layout = LAYOUT[size]
    inner_left = layout["outline"]
    inner_top = layout["top"] + layout["outline"]
    inner_bottom = layout["bottom"] - layout["outline"]
    meet = (size // 2 - 1, layout["meet"])
    flap = ((inner_left, inner_top), meet)
    reach_x = round(inner_left + (meet[0] - inner_left) * LOWER_LINE_REACH)
    reach_y = round(inner_bottom + (meet[1] - inner_bottom) * LOWER_LINE_REACH)
    lower = ((inner_left, inner_bottom), (reach_x, reach_y))
    return flap, lower


def thick_line(size, start, end, towards_centre):
    """The line's pixels, thickened vertically (towards the envelope's middle) to the outline
    width, together with their mirror images in the right half."""
    thickness = LAYOUT[size]["outline"]
    points = set()
    for x, y in line_points(*start, *end):
        for extra in range(thickness):
            points.add((x, y + extra * towards_centre))
    return points | {(size - 1 - x, y) for x, y in points}


def draw(size, flap_colour):
    layout = LAYOUT[size]
    top, bottom, outline = layout["top"], layout["bottom"], layout["outline"]
    pixels = [[CLEAR] * size for _ in range(size)]
    for y in range(top, bottom + 1):
        for x in range(size):
            pixels[y][x] = WHITE

    flap_line, lower_line = left_half_lines(size)
    flap = thick_line(size, *flap_line, towards_centre=1)
    lower = thick_line(size, *lower_line, towards_centre=-1)
    # The flap: everything between the upper edge and the flap lines.
    for x in range(outline, size - outline):
        line_top = min(y for px, y in flap if px == x)
        for y in range(top + outline, line_top):
            pixels[y][x] = flap_colour
    for x, y in flap | lower:
        pixels[y][x] = BLACK
    for y in range(top, bottom + 1):
        for x in range(size):
            if x < outline or x >= size - outline or y < top + outline or y > bottom - outline:
                pixels[y][x] = BLACK
    for x, y in ((0, top), (size - 1, top), (0, bottom), (size - 1, bottom)):
        pixels[y][x] = CLEAR
    return pixels


def row_bytes(bits_per_row):
    """Bitmap rows are padded to whole 32-bit words."""
    return (bits_per_row + 31) // 32 * 4


def bitmap(pixels):
    """An icon image: BITMAPINFOHEADER (double height: colours, then mask), palette, 4-bit
    colour rows and 1-bit mask rows, both bottom-up. Transparent pixels are black under a set
    mask bit, so that drawing leaves the background unchanged."""
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
                         len(colours) + len(mask), 0, 0, len(PALETTE), 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(images):
    """ICONDIR, one ICONDIRENTRY per image, then the images."""
    count = len(images)
    directory = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    data = b""
    for size, image in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, len(PALETTE), 0, 1, 4,
                                 len(image), offset)
        offset += len(image)
        data += image
    return directory + data


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent / "icons"
    out.mkdir(parents=True, exist_ok=True)
    for name, flap in (("no_mail.ico", WHITE), ("new_mail.ico", GREEN)):
        images = [(size, bitmap(draw(size, flap))) for size in sorted(LAYOUT)]
        (out / name).write_bytes(icon_file(images))


if __name__ == "__main__":
    main()

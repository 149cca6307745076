#!/usr/bin/env python3
"""Draws the tray icons and writes them as .ico files, each with images of 16, 20, 24,
32, 40, 48, 64 and 256 pixels (100% to 400% scaling, and the large shell views) in 32-bit
colour with an alpha channel; the 256-pixel image is stored as PNG, the others as bitmaps.

no_mail.ico is a closed envelope seen from the front: white body, black outline with the
corners cut off, a flap from the upper corners to a point a little below the centre and short
lines from the lower corners towards that point. new_mail.ico is the same envelope with the
flap filled in pure green. Every size is drawn on whole pixels from the same layout, so that
no size is a blurred copy of another.

These two are drawn for a light taskbar. no_mail_dark_taskbar.ico and new_mail_dark_taskbar.ico
are the same envelopes for a dark taskbar: black body, white outline and lines, the same green
flap. Run this after changing the drawing; the generated
files are committed so that no build needs Python.

    python3 make_icons.py [output folder]      (default: the icons folder beside this script)
"""

import struct
import sys
import zlib
from pathlib import Path

BLACK, GREEN, WHITE = (0, 0, 0), (0, 255, 0), (255, 255, 255)
CLEAR = None  # transparent: alpha 0, mask bit set

# Per image size: first and last row of the envelope, outline width, and the row where the
# flap lines meet (a little below the envelope's centre). The envelope fills the full width.
LAYOUT = {
    16: {"top": 2, "bottom": 12, "outline": 1, "meet": 8},
    20: {"top": 3, "bottom": 16, "outline": 1, "meet": 10},
    24: {"top": 3, "bottom": 19, "outline": 1, "meet": 12},
    32: {"top": 4, "bottom": 26, "outline": 2, "meet": 17},
    40: {"top": 5, "bottom": 33, "outline": 2, "meet": 21},
    48: {"top": 6, "bottom": 39, "outline": 3, "meet": 25},
    64: {"top": 8, "bottom": 52, "outline": 4, "meet": 34},
    256: {"top": 32, "bottom": 208, "outline": 16, "meet": 136},
}
# Sizes stored compressed: a 256-pixel bitmap would weigh 256 KB.
PNG_SIZES = {256}
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


def draw(size, flap_colour, body=WHITE, lines=BLACK):
    layout = LAYOUT[size]
    top, bottom, outline = layout["top"], layout["bottom"], layout["outline"]
    pixels = [[CLEAR] * size for _ in range(size)]
    for y in range(top, bottom + 1):
        for x in range(size):
            pixels[y][x] = body

    flap_line, lower_line = left_half_lines(size)
    flap = thick_line(size, *flap_line, towards_centre=1)
    lower = thick_line(size, *lower_line, towards_centre=-1)
    # The flap: everything between the upper edge and the flap lines.
    for x in range(outline, size - outline):
        line_top = min(y for px, y in flap if px == x)
        for y in range(top + outline, line_top):
            pixels[y][x] = flap_colour
    for x, y in flap | lower:
        pixels[y][x] = lines
    for y in range(top, bottom + 1):
        for x in range(size):
            if x < outline or x >= size - outline or y < top + outline or y > bottom - outline:
                pixels[y][x] = lines
    # The cut corners grow with the outline, but stay one pixel up to 32 pixels.
    cut = max(1, outline // 2)
    for corner_x, corner_y, step_x, step_y in ((0, top, 1, 1), (size - 1, top, -1, 1),
                                               (0, bottom, 1, -1), (size - 1, bottom, -1, -1)):
        for dy in range(cut):
            for dx in range(cut - dy):
                pixels[corner_y + dy * step_y][corner_x + dx * step_x] = CLEAR
    return pixels


def row_bytes(bits_per_row):
    """Bitmap rows are padded to whole 32-bit words."""
    return (bits_per_row + 31) // 32 * 4


def bitmap(pixels):
    """An icon image: BITMAPINFOHEADER (double height: colours, then mask), 32-bit BGRA rows
    and 1-bit mask rows, both bottom-up. Transparent pixels have alpha 0 and a set mask bit,
    so that shells which ignore the alpha channel still leave the background unchanged."""
    size = len(pixels)
    mask_stride = row_bytes(size)
    colours, mask = bytearray(), bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, value in enumerate(row):
            if value is CLEAR:
                colours += bytes((0, 0, 0, 0))
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                red, green, blue = value
                colours += bytes((blue, green, red, 255))
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    return header + bytes(colours) + bytes(mask)


def png(pixels):
    """The image as an RGBA PNG, top row first."""
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for value in row:
            raw += bytes((0, 0, 0, 0)) if value is CLEAR else bytes(value) + b"\xff"

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def icon_file(images):
    """ICONDIR, one ICONDIRENTRY per image (a size of 256 is written as 0), then the images."""
    count = len(images)
    directory = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    data = b""
    for size, image in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                                 len(image), offset)
        offset += len(image)
        data += image
    return directory + data


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent / "icons"
    out.mkdir(parents=True, exist_ok=True)
    icons = (("no_mail.ico", WHITE, WHITE, BLACK), ("new_mail.ico", GREEN, WHITE, BLACK),
             ("no_mail_dark_taskbar.ico", BLACK, BLACK, WHITE),
             ("new_mail_dark_taskbar.ico", GREEN, BLACK, WHITE))
    for name, flap, body, lines in icons:
        images = [(size, (png if size in PNG_SIZES else bitmap)(draw(size, flap, body, lines)))
                  for size in sorted(LAYOUT)]
        (out / name).write_bytes(icon_file(images))


if __name__ == "__main__":
    main()

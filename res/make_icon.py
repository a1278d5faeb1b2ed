#!/usr/bin/python3
"""Draws the uninstaller's icon and writes res/uninstall.ico.

The artwork is an application window with a red "remove" badge: a white X on a red disc
over its lower-right corner. Shapes are given on a 16-unit grid, so the window's edges fall
on whole pixels at 16, 32 and 48 pixels. Each pixel is sampled 8 x 8 times; the 8-bit images
average the samples, the 4-bit images take the most common colour and map it to the 16
standard colours. No image library is needed, and the output is the same on every run.

    /usr/bin/python3 res/make_icon.py [output.ico [SIZE/BITS ...]]

SIZE/BITS pairs such as 48/8 32/8 16/4 draw other images than the program's own; the tests
use such an icon as an author's.
"""

import os
import struct
import sys

# The 16 colours that every 4-bit icon palette holds, in the standard order.
VGA = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Each colour as drawn at 8 bits and its index among the 16 colours at 4 bits.
OUTLINE = ((0x30, 0x30, 0x38), 0)
TITLE_LEFT = ((0x0A, 0x24, 0x6A), 4)
TITLE_RIGHT = ((0x3A, 0x6E, 0xC5), 4)
BODY = ((0xFF, 0xFF, 0xFF), 15)
LINES = ((0xA8, 0xB0, 0xBC), 7)
HALO = ((0xFF, 0xFF, 0xFF), 15)
DISC = ((0xDC, 0x28, 0x1E), 9)
RIM = ((0x8C, 0x10, 0x10), 1)
CROSS = ((0xFF, 0xFF, 0xFF), 15)

# Images in the order of the icon group: (size, bits per pixel). The shell picks the one that
# fits the view and the display's colours; nothing is scaled from another size. The 8-bit
# images keep the whole 256-entry colour table: an icon image's table has as many entries as
# its bits allow (the icon format leaves biClrUsed 0), and a shorter one is not read the same
# way everywhere. An author who wants other art gives an icon in the manifest.
IMAGES = [(16, 4), (16, 8), (32, 4), (32, 8), (48, 8)]

SAMPLES = 8

# How a 4-bit pixel whose samples are split evenly between two colours is decided.
TIE_ORDER = {BODY[1]: 2, RIM[1]: 1}

# The badge at 16 pixels, drawn by hand: its top-left pixel is at 6, 6, and what falls
# outside the image is cut. "o" is the white halo, drawn only over the window so that the
# badge does not grow; "r" the rim, "R" the disc, "W" the cross; "." leaves what lies below.
BADGE_16 = [
    "...ooooo...",
    "..orrrrro..",
    ".orRRRRRro.",
    "orRWRRRWRro",
    "orRRWRWRRro",
    "orRRRWRRRro",
    "orRRWRWRRro",
    "orRWRRRWRro",
    ".orRRRRRro.",
    "..orrrrro..",
    "...ooooo...",
]
BADGE_COLOURS = {"o": HALO, "r": RIM, "R": DISC, "W": CROSS}


def sample(u, v, size):
    """Colour (rgb, vga index) at unit position u, v (0 to 16), or None for transparent."""
    pixel = 16.0 / size  # one pixel in units
    colour = None

    # The window: outline of one pixel (two at 48), title bar, body with lines of text.
    border = pixel * (2 if size >= 48 else 1)
    if 1 <= u < 15 and 2 <= v < 13:
        if u < 1 + border or u >= 15 - border or v < 2 + border or v >= 13 - border:
            colour = OUTLINE
        elif v < 5:
            t = (u - 1) / 14.0
            left, right = TITLE_LEFT[0], TITLE_RIGHT[0]
            rgb = tuple(round(a + (b - a) * t) for a, b in zip(left, right))
            colour = (rgb, TITLE_LEFT[1])
        elif v >= 5 and v < 5 + border:
            colour = OUTLINE
        else:
            colour = BODY
            if size >= 32:
                for top, right in ((6.5, 11.5), (8.5, 9.0), (10.5, 7.0)):
                    if 2.5 <= u < right and top <= v < top + pixel * (2 if size >= 48 else 1):
                        colour = LINES

    # The badge: a white halo, a red disc with a darker rim, and a white X. At 16 pixels
    # the drawing below replaces it, since sampled diagonals blur at that size.
    if size <= 16:
        return colour
    cx, cy, radius = 11.25, 11.25, 4.0
    du, dv = u - cx, v - cy
    distance = (du * du + dv * dv) ** 0.5
    if distance < radius + 0.7:
        colour = HALO
    if distance < radius:
        colour = RIM if distance > radius - max(pixel, 0.45) else DISC
        arm = 1.9
        half_width = 0.62 if size <= 16 else 0.55
        if abs(du) <= arm + half_width and abs(dv) <= arm + half_width:
            # Distance to each diagonal, limited to the arms' length.
            for a, b in ((du, dv), (du, -dv)):
                across = abs(a - b) / 2 ** 0.5
                along = abs(a + b) / 2 ** 0.5
                if across <= half_width and along <= arm * 2 ** 0.5:
                    colour = CROSS
    return colour


def render(size, bits):
    """Rows of (rgb, vga index) or None, top row first."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            found = []
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    u = (x + (sx + 0.5) / SAMPLES) * 16.0 / size
                    v = (y + (sy + 0.5) / SAMPLES) * 16.0 / size
                    found.append(sample(u, v, size))
            opaque = [c for c in found if c is not None]
            if len(opaque) * 2 < len(found):
                row.append(None)
            elif bits == 4:
                counts = {}
                for c in opaque:
                    counts[c[1]] = counts.get(c[1], 0) + 1
                # A tie goes to white, then to the rim, then to the later colour: the disc's
                # rim stays one unbroken ring, without lone pixels where it only touches.
                best = max(counts, key=lambda k: (counts[k], TIE_ORDER.get(k, 0), k))
                row.append((VGA[best], best))
            else:
                rgb = tuple(round(sum(c[0][i] for c in opaque) / len(opaque)) for i in range(3))
                row.append((rgb, None))
        rows.append(row)
    if size == 16:
        for dy, line in enumerate(BADGE_16):
            for dx, mark in enumerate(line):
                x, y = 6 + dx, 6 + dy
                if x >= 16 or y >= 16 or mark == "." or (mark == "o" and rows[y][x] is None):
                    continue
                rgb, index = BADGE_COLOURS[mark]
                rows[y][x] = (VGA[index], index) if bits == 4 else (rgb, None)
    return rows


def palette_of(rows):
    """A sorted palette of at most 256 colours, and the pixels mapped to it."""
    step = 1
    while True:
        def snap(rgb):
            return tuple(min(255, round(c / step) * step) for c in rgb)
        colours = sorted({snap(p[0]) for row in rows for p in row if p is not None})
        # Index 0 stays black for the transparent pixels.
        if (0, 0, 0) not in colours:
            colours = [(0, 0, 0)] + colours
        if len(colours) <= 256:
            index = {c: i for i, c in enumerate(colours)}
            return colours, [[index[snap(p[0])] if p else 0 for p in row] for row in rows]
        step += 1


def bitmap(size, bits, rows):
    """One icon image: header, palette, colour bits and mask, rows bottom-up."""
    if bits == 4:
        colours = VGA
        pixels = [[p[1] if p else 0 for p in row] for row in rows]
    else:
        colours, pixels = palette_of(rows)
    entries = 1 << bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    palette += b"\0" * (4 * (entries - len(colours)))

    colour_stride = ((size * bits + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colour_bits = b""
    mask_bits = b""
    for y in range(size - 1, -1, -1):
        line = bytearray(colour_stride)
        mask = bytearray(mask_stride)
        for x in range(size):
            value = pixels[y][x]
            if bits == 8:
                line[x] = value
            else:
                line[x // 2] |= value << (4 if x % 2 == 0 else 0)
            if rows[y][x] is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        colour_bits += bytes(line)
        mask_bits += bytes(mask)

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(colour_bits) + len(mask_bits), 0, 0, 0, 0)
    return header + palette + colour_bits + mask_bits


def write_icon(path, sizes=IMAGES):
    images = [(size, bits, bitmap(size, bits, render(size, bits))) for size, bits in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, bits, data in images:
        colour_count = 16 if bits == 4 else 0
        directory += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bits,
                                 len(data), offset + len(body))
        body += data
    with open(path, "wb") as out:
        out.write(directory + body)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    sizes = [tuple(int(n) for n in pair.split("/")) for pair in sys.argv[2:]] or IMAGES
    write_icon(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "uninstall.ico"), sizes)

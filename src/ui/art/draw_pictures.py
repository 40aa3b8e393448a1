#!/usr/bin/env python3
"""Draws the applicator's two pictures in the standard 16-colour palette and writes them
as the files the resource script includes: wizard.bmp (the wizard picture, 122 x 262, a
labelled floppy disk on a dithered teal ground in a grey frame) and ambrel32.ico (the
program icon, 32 x 32, a matching disk). Standard library only; run it again after a change:

    python3 src/ui/art/draw_pictures.py
"""
import os
import struct

# The standard 16-colour palette, in its usual order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# 4 x 4 ordered dither thresholds (0..15).
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]

# A 5 x 7 pixel font for the label texts.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01111", "10000", "10000", "10111", "10001", "10001", "01111"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    " ": ["00000"] * 7,
}


class Canvas:
    """A grid of palette indices; None is transparent (used by the icon only)."""

    def __init__(self, width, height, fill=None):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle from (x0, y0) to (x1, y1), both corners included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        self.rect(x0, y0, x1, y0, colour)
        self.rect(x0, y1, x1, y1, colour)
        self.rect(x0, y0, x0, y1, colour)
        self.rect(x1, y0, x1, y1, colour)

    def text(self, x, y, words, colour, scale=1):
        for ch in words:
            for row, bits in enumerate(GLYPHS[ch]):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col * scale, y + row * scale,
                                  x + col * scale + scale - 1, y + row * scale + scale - 1, colour)
            x += 6 * scale


def text_width(words, scale=1):
    return len(words) * 6 * scale - scale


def dithered_ground(canvas, x0, y0, x1, y1):
    """Teal mixed with aqua at the top, with navy further down, in an ordered dither."""
    for y in range(y0, y1 + 1):
        level = (y - y0) / max(1, y1 - y0)  # 0 at the top, 1 at the bottom
        for x in range(x0, x1 + 1):
            threshold = (BAYER[y % 4][x % 4] + 0.5) / 16
            if level < 0.5:
                share = (0.5 - level) * 1.2  # how much aqua
                colour = AQUA if threshold < share else TEAL
            else:
                share = (level - 0.5) * 1.1  # how much navy
                colour = NAVY if threshold < share else TEAL
            canvas.put(x, y, colour)


def floppy(canvas, x, y, size, label_lines, body=NAVY):
    """A 3.5-inch disk with its top-left corner at (x, y), `size` pixels square: body with a
    bevelled top-right corner and a drop shadow, metal shutter with its slot, write-protect
    hole and a paper label with a coloured band and the given lines ("" draws a ruled line)."""
    s = size
    right, bottom = x + s - 1, y + s - 1
    cut = max(2, s // 12)

    def inside(px, py, dx=0, dy=0):  # within the body outline shifted by (dx, dy)
        return px - dx <= right - cut + (py - dy - y)

    for py in range(y + 3, bottom + 4):  # drop shadow, 3 pixels right and down
        for px in range(x + 3, right + 4):
            if inside(px, py, 3, 3):
                canvas.put(px, py, BLACK)
    for py in range(y, bottom + 1):
        for px in range(x, right + 1):
            if not inside(px, py):
                continue
            edge = px in (x, right) or py in (y, bottom) or not inside(px + 1, py - 1)
            canvas.put(px, py, BLACK if edge else body)
    # Shutter: silver, open at the top, with the slot that shows the disk inside.
    sx0, sx1 = x + s * 3 // 10, x + s * 7 // 10
    sy1 = y + s * 3 // 10
    canvas.rect(sx0, y + 1, sx1, sy1, SILVER)
    canvas.rect(sx0, sy1, sx1, sy1, GREY)
    canvas.rect(sx1, y + 1, sx1, sy1, GREY)
    slot_x = sx0 + (sx1 - sx0) * 5 // 8
    canvas.rect(slot_x, y + max(2, s // 20), slot_x + max(1, s // 14), sy1 - max(2, s // 20), BLACK)
    hole = max(1, s // 16)  # write-protect hole, bottom left
    canvas.rect(x + 2 + hole, bottom - 2 - 2 * hole, x + 2 + 2 * hole, bottom - 2 - hole, BLACK)
    lx0, lx1 = x + s // 8, right - s // 8
    ly0, ly1 = y + s * 4 // 10, bottom - 2
    canvas.rect(lx0, ly0, lx1, ly1, WHITE)
    canvas.frame(lx0, ly0, lx1, ly1, SILVER)
    canvas.rect(lx0 + 1, ly0 + 1, lx1 - 1, ly0 + max(1, s // 20), RED)
    line_y = ly0 + max(3, s // 10)
    for words, colour in label_lines:
        if words and text_width(words) <= lx1 - lx0 - 4:
            canvas.text(lx0 + (lx1 - lx0 + 1 - text_width(words)) // 2, line_y, words, colour)
            line_y += 10
        elif not words:
            canvas.rect(lx0 + 4, line_y + 3, lx1 - 4, line_y + 3, SILVER)
            line_y += 6


def wizard_picture():
    w, h = 122, 262
    c = Canvas(w, h, TEAL)
    # Grey frame: dark outer line, silver band, dark inner line.
    c.frame(0, 0, w - 1, h - 1, GREY)
    c.frame(1, 1, w - 2, h - 2, SILVER)
    c.frame(2, 2, w - 3, h - 3, SILVER)
    c.frame(3, 3, w - 4, h - 4, WHITE)
    c.frame(4, 4, w - 5, h - 5, GREY)
    dithered_ground(c, 5, 5, w - 6, h - 6)
    # Two disks, the second one behind and lower, both labelled.
    floppy(c, 24, 132, 80, [("DISK 2", NAVY), ("", None), ("", None)], body=BLACK)
    floppy(c, 14, 34, 88, [("AMBREL", NAVY), ("UPGRADE", BLUE), ("", None), ("2.5", MAROON)])
    # An upward arrow between the title and the first disk: the upgrade.
    for i in range(9):
        c.rect(61 - i, 12 + i, 61 + i, 12 + i, YELLOW)
    c.rect(57, 21, 65, 27, YELLOW)
    return c


def icon_picture():
    c = Canvas(32, 32, None)
    floppy(c, 1, 1, 27, [("", None), ("", None)])
    return c


def bmp_rows(canvas, transparent_as=BLACK):
    """Packs the rows bottom-up, two pixels per byte, each row padded to 4 bytes."""
    data = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray()
        for x in range(0, canvas.width, 2):
            a = canvas.pixels[y][x]
            b = canvas.pixels[y][x + 1] if x + 1 < canvas.width else 0
            a = transparent_as if a is None else a
            b = transparent_as if b is None else b
            row.append((a << 4) | b)
        while len(row) % 4:
            row.append(0)
        data += row
    return bytes(data)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 2835, 2835, 16, 16)


def write_bmp(path, canvas):
    pixels = bmp_rows(canvas)
    header_size = 14 + 40 + 64
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
    with open(path, "wb") as f:
        f.write(file_header + info_header(canvas.width, canvas.height, len(pixels)) + palette_bytes() + pixels)


def write_ico(path, canvas):
    """One 32 x 32 16-colour image: colour rows plus the 1-bit mask (1 = transparent)."""
    colours = bmp_rows(canvas)
    mask = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        bits = 0
        for x in range(canvas.width):
            bits = (bits << 1) | (1 if canvas.pixels[y][x] is None else 0)
        row = bits.to_bytes(canvas.width // 8, "big")
        mask += row + b"\0" * ((4 - len(row) % 4) % 4)
    image = info_header(canvas.width, canvas.height * 2, len(colours) + len(mask)) + palette_bytes() + colours + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", canvas.width, canvas.height, 16, 0, 1, 4,
                                                          len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + image)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(here, "wizard.bmp"), wizard_picture())
    write_ico(os.path.join(here, "ambrel32.ico"), icon_picture())


if __name__ == "__main__":
    main()

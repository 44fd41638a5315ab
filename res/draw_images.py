#!/usr/bin/python3
"""Draws Notelia's icons and bitmaps into images/ (standard library only).

    /usr/bin/python3 res/draw_images.py [output directory]

Every picture uses the 16-colour VGA palette. The icons carry frames from 16 x 16 to 48 x 48
(the small and large sizes at 100, 125, 150 and 200 %), each with its transparency mask; the
bitmaps are plain 4-bit BMP files, drawn for 100 % and enlarged for 150 and 200 %.
"""

import math
import os
import struct
import sys

# The 16 colours of the standard VGA palette, in their usual order, with the letters the
# pictures below are written in. "." is transparent (icons only).
PALETTE = [
    ("K", (0, 0, 0)),        # black
    ("r", (128, 0, 0)),      # dark red
    ("g", (0, 128, 0)),      # dark green
    ("o", (128, 128, 0)),    # olive
    ("n", (0, 0, 128)),      # navy
    ("p", (128, 0, 128)),    # purple
    ("t", (0, 128, 128)),    # teal
    ("s", (192, 192, 192)),  # light grey (the toolbar maps it to the button face)
    ("d", (128, 128, 128)),  # dark grey
    ("R", (255, 0, 0)),      # red
    ("G", (0, 255, 0)),      # green
    ("Y", (255, 255, 0)),    # yellow
    ("B", (0, 0, 255)),      # blue
    ("M", (255, 0, 255)),    # magenta (the selector's mask colour)
    ("C", (0, 255, 255)),    # cyan
    ("W", (255, 255, 255)),  # white
]
INDEX = {letter: i for i, (letter, _) in enumerate(PALETTE)}
CLEAR = "."


class Canvas:
    """A grid of palette letters; "." is transparent."""

    def __init__(self, width, height, fill=CLEAR):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def get(self, x, y):
        if 0 <= x < self.width and 0 <= y < self.height:
            return self.pixels[y][x]
        return CLEAR

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def paint(self, inside, fill, outline=None):
        """Fills the pixels whose centres `inside(x, y)` accepts (in units of 1/32 of the
        picture); with an outline colour, the shape's border pixels get that colour."""
        scale = 32.0 / self.width
        mask = [[inside((x + 0.5) * scale, (y + 0.5) * scale) for x in range(self.width)]
                for y in range(self.height)]

        def covered(x, y):
            return 0 <= x < self.width and 0 <= y < self.height and mask[y][x]

        for y in range(self.height):
            for x in range(self.width):
                if not mask[y][x]:
                    continue
                edge = outline and not all(covered(x + dx, y + dy)
                                           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                self.pixels[y][x] = outline if edge else fill

    def blit(self, rows, left, top):
        """Copies a picture written as rows of letters; "." leaves the pixel as it is."""
        for dy, row in enumerate(rows):
            for dx, colour in enumerate(row):
                if colour != CLEAR:
                    self.set(left + dx, top + dy, colour)


# Shapes, in units of 1/32 of the picture.

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def arch(left, top, radius, bottom):
    """A door shape: a rectangle under a half circle."""
    cx, cy = left + radius, top + radius

    def inside(x, y):
        if y > bottom or x < left or x > left + 2 * radius:
            return False
        return y >= cy or (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def swept(shape, dx, dy, steps=64):
    """The solid that `shape` covers while it moves by (dx, dy)."""
    return lambda x, y: any(shape(x - dx * i / steps, y - dy * i / steps) for i in range(steps + 1))


def band(x0, y0, x1, y1, half_width):
    """A straight stroke from (x0, y0) to (x1, y1)."""
    length = math.hypot(x1 - x0, y1 - y0)

    def inside(x, y):
        t = ((x - x0) * (x1 - x0) + (y - y0) * (y1 - y0)) / (length * length)
        t = min(1.0, max(0.0, t))
        px, py = x0 + t * (x1 - x0), y0 + t * (y1 - y0)
        return math.hypot(x - px, y - py) <= half_width
    return inside


# The mailbox, seen from the front left: its arched door faces the viewer, the body runs back
# to the right, the flag is on the near side and the box stands on a post.
DOOR = dict(left=2, top=9, radius=6, bottom=22)
DEPTH = (15, -4)


def draw_mailbox(c):
    door = arch(**DOOR)
    c.paint(rect(16, 15, 20, 32), "d", "K")                      # post
    c.paint(swept(door, *DEPTH), "B", "n")                       # body
    c.paint(swept(arch(DOOR["left"] + 1, DOOR["top"] + 1.5, DOOR["radius"] - 1, DOOR["top"] + 4),
                  *DEPTH), "C")                                  # light on the round top
    c.paint(door, "t", "n")                                      # door
    c.paint(rect(7, 15, 9, 17), "Y")                             # handle


def draw_flag_up(c):
    c.paint(rect(23.5, 2, 25.5, 17), "d", "K")                   # staff
    c.paint(rect(25, 2, 31, 8), "R", "r")


def draw_flag_down(c):
    c.paint(rect(12, 16, 26, 18), "K")                           # staff lying along the body
    c.paint(rect(9, 14, 15, 19), "R", "r")


def draw_letter(c):
    # A yellow letter pushed into the door, sticking out towards the viewer.
    c.paint(rect(0, 16, 13, 24), "Y", "o")
    c.paint(band(0.5, 16.5, 6.5, 20.5, 0.6), "o")                # flap
    c.paint(band(6.5, 20.5, 12.5, 16.5, 0.6), "o")


def draw_cross(c):
    strokes = ((3, 3, 29, 29), (29, 3, 3, 29))
    for x0, y0, x1, y1 in strokes:
        c.paint(band(x0, y0, x1, y1, 2.6), "r")
    for x0, y0, x1, y1 in strokes:
        c.paint(band(x0, y0, x1, y1, 1.6), "R")


# At 16 x 16 the shapes above lose too much: the small frames are drawn pixel by pixel.
MAILBOX_16 = [
    "................",
    "................",
    "..nnnn..........",
    ".nttttnnnnnnnn..",
    ".nttttnCCCCCCCn.",
    ".nttttnBBBBBBBn.",
    ".nttttnBBBBBBBn.",
    ".ntYttnBBBBBBBn.",
    ".nttttnBBBBBBBn.",
    ".nttttnBBBBBBBn.",
    ".nttttnnnnnnnnn.",
    ".nnnnnn..dK.....",
    ".........dK.....",
    ".........dK.....",
    ".........dK.....",
    ".........dK.....",
]
FLAG_UP_16 = [
    "............KRRR",
    "............KRRR",
    "............Krrr",
    "............K",
    "............K",
    "............K",
    "............K",
    "............K",
    "............K",
]
FLAG_DOWN_16 = [
    "", "", "", "", "", "", "",
    "........RRR",
    "........RRRKKK",
    "........rrr",
]
LETTER_16 = [
    "", "", "", "", "", "", "", "", "",
    "oooooooo",
    "ooYYYYoo",
    "oYooooYo",
    "oYYYYYYo",
    "oYYYYYYo",
    "oooooooo",
]
CROSS_16 = [
    "RR............RR",
    "RRR..........RRR",
    ".RRR........RRR.",
    "..RRR......RRR..",
    "...RRR....RRR...",
    "....RRR..RRR....",
    ".....RRRRRR.....",
    "......RRRR......",
    "......RRRR......",
    ".....RRRRRR.....",
    "....RRR..RRR....",
    "...RRR....RRR...",
    "..RRR......RRR..",
    ".RRR........RRR.",
    "RRR..........RRR",
    "RR............RR",
]

ICONS = {
    "icon128.ico": ([draw_mailbox, draw_flag_up], [MAILBOX_16, FLAG_UP_16]),  # the program's own
    "icon130.ico": ([draw_mailbox, draw_flag_up, draw_letter],                 # "Hay mensajes!"
                    [MAILBOX_16, FLAG_UP_16, LETTER_16]),
    "icon131.ico": ([draw_mailbox, draw_flag_down, draw_cross],                # "No hay conexión."
                    [MAILBOX_16, FLAG_DOWN_16, CROSS_16]),
    "icon132.ico": ([draw_mailbox, draw_flag_down], [MAILBOX_16, FLAG_DOWN_16]),  # "No hay mensajes."
}


def draw_small_icon(layers):
    c = Canvas(16, 16)
    for layer in layers:
        c.blit(layer, 0, 0)
    return c


def draw_icon(steps, size):
    c = Canvas(size, size)
    for step in steps:
        step(c)
    return c


# Toolbar bitmap 134: two 16 x 15 images on the light grey that the toolbar maps to the button
# face. Image 0: a letter with an envelope (send). Image 1: a page with two green circular
# arrows (fetch).
LETTER_AND_ENVELOPE = [
    "ssssssssssssssss",
    "ssssdddddddsssss",
    "ssssdWWWWWdsssss",
    "ssssdWnnnWdsssss",
    "ssssdWWWWWdsssss",
    "ssssdWnnnWdsssss",
    "sKKKKKKKKKKKKKss",
    "sKdWWWWWWWWWdKss",
    "sKWddWWWWWddWKss",
    "sKWWWddWddWWWKss",
    "sKWWWWWdWWWWWKss",
    "sKWWWWWWWWWWWKss",
    "sKWWWWWWWWWWWKss",
    "sKKKKKKKKKKKKKss",
    "ssssssssssssssss",
]
PAGE_WITH_ARROWS = [
    "ssdddddddddsssss",
    "ssdWWWWWWWdKssss",
    "ssdWWWWWWWdWKsss",
    "ssdWWWWWWWddddss",
    "ssdWWWggggWWWdss",
    "ssdWWgGGGGgWWdss",
    "ssdWgGWWWWGgWdss",
    "ssdWgGWWWWggggss",
    "ssdWWWWWWWWggdss",
    "ssdggWWWWWWWWdss",
    "ssggggWWWWGgWdss",
    "ssdWgGWWWWGgWdss",
    "ssdWWgGGGGgWWdss",
    "ssdWWWggggWWWdss",
    "ssddddddddddddss",
]


def toolbar():
    return side_by_side(LETTER_AND_ENVELOPE, PAGE_WITH_ARROWS)


# Selector bitmap 156: two 16 x 16 images on magenta. Image 0: a closed envelope with a yellow
# letter (unseen news). Image 1: an open, empty envelope (news seen).
CLOSED_ENVELOPE = [
    "MMMMMMMMMMMMMMMM",
    "MMMMooooooooMMMM",
    "MMMMoYYYYYYoMMMM",
    "MMMMoYooooYoMMMM",
    "MMMMoYYYYYYoMMMM",
    "MMMMoYooooYoMMMM",
    "MKKKKKKKKKKKKKKM",
    "MKdWWWWWWWWWWdKM",
    "MKWdWWWWWWWWdWKM",
    "MKWWdWWWWWWdWWKM",
    "MKWWWdWWWWdWWWKM",
    "MKWWWWddddWWWWKM",
    "MKWWWWWWWWWWWWKM",
    "MKWWWWWWWWWWWWKM",
    "MKKKKKKKKKKKKKKM",
    "MMMMMMMMMMMMMMMM",
]
OPEN_ENVELOPE = [
    "MMMMMMMMMMMMMMMM",
    "MMMMMMMKKMMMMMMM",
    "MMMMMMKssKMMMMMM",
    "MMMMMKssssKMMMMM",
    "MMMMKssssssKMMMM",
    "MMMKssssssssKMMM",
    "MMKssssssssssKMM",
    "MKKKKKKKKKKKKKKM",
    "MKWWWWWWWWWWWWKM",
    "MKWWWWWddWWWWWKM",
    "MKWWWWdWWdWWWWKM",
    "MKWWWdWWWWdWWWKM",
    "MKWWdWWWWWWdWWKM",
    "MKWdWWWWWWWWdWKM",
    "MKKKKKKKKKKKKKKM",
    "MMMMMMMMMMMMMMMM",
]


def side_by_side(*images):
    for image in images:
        assert all(len(row) == 16 for row in image) and len(image) == len(images[0]), "ragged picture"
    return ["".join(rows) for rows in zip(*images)]


# Icon frames drawn from the shapes above; 16 x 16 is drawn pixel by pixel.
ICON_SIZES = (20, 24, 32, 40, 48)
# The bitmaps' scales beside 100 %, as (percent, file suffix).
BITMAP_SCALES = ((150, "_150"), (200, "_200"))


def enlarged(rows, percent):
    """Each picture of 16-pixel-wide tiles enlarged to `percent`, nearest pixel first: the
    sizes are the ones the program asks for (a 16 x 15 image becomes 24 x 23 at 150 %)."""
    tiles = len(rows[0]) // 16
    side = lambda n: (n * percent + 50) // 100
    width, height = side(16), side(len(rows))
    out = []
    for y in range(height):
        sy = min(len(rows) - 1, y * 100 // percent)
        line = ""
        for tile in range(tiles):
            line += "".join(rows[sy][tile * 16 + min(15, x * 100 // percent)] for x in range(width))
        out.append(line)
    return out


def pack_4bit(rows, width):
    """Bottom-up rows of 4-bit palette indices, each padded to a multiple of 4 bytes."""
    stride = ((width + 7) // 8) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, width, 2):
            line.append(INDEX[row[x]] << 4 | INDEX[row[x + 1]])
        out += line + bytes(stride - len(line))
    return bytes(out)


def pack_mask(rows, width):
    """The AND mask: bit set where the pixel is transparent."""
    stride = ((width + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, colour in enumerate(row):
            if colour == CLEAR:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def palette_bytes():
    return b"".join(bytes((b, g, r, 0)) for _, (r, g, b) in PALETTE)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 0)


def icon_file(canvases):
    images = []
    for c in canvases:
        # The XOR image keeps black under transparent pixels, so the mask alone decides.
        rows = ["".join("K" if p == CLEAR else p for p in row) for row in c.pixels]
        xor = pack_4bit(rows, c.width)
        mask = pack_mask(c.pixels, c.width)
        images.append(info_header(c.width, 2 * c.height, len(xor) + len(mask))
                      + palette_bytes() + xor + mask)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width, c.height, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def bitmap_file(rows):
    width, height = len(rows[0]), len(rows)
    assert all(len(row) == width for row in rows), "ragged picture"
    pixels = pack_4bit(rows, width)
    header_size = 14 + 40 + 64
    return (struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
            + info_header(width, height, len(pixels)) + palette_bytes() + pixels)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")
    os.makedirs(out, exist_ok=True)
    files = {name: icon_file([draw_small_icon(layers)] + [draw_icon(steps, size) for size in ICON_SIZES])
             for name, (steps, layers) in ICONS.items()}
    bitmaps = {"toolbar134": toolbar(), "selector156": side_by_side(CLOSED_ENVELOPE, OPEN_ENVELOPE)}
    for name, rows in bitmaps.items():
        files[name + ".bmp"] = bitmap_file(rows)
        for percent, suffix in BITMAP_SCALES:
            files[name + suffix + ".bmp"] = bitmap_file(enlarged(rows, percent))
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

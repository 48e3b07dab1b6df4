"""The six notice pictures used on real firmware, and the screens they make.

Each picture is a BMP in one of the depths the driver converts (1, 4, 8 and
24 bits per pixel), with widths that leave row padding, and a pattern that
makes any shift, flip or colour-map mistake show. `make_pictures` returns the
BMP bytes together with the pixels they hold, so the expected screen never
depends on a BMP reader of our own.
"""

import struct

SCREEN_BLACK = (0, 0, 0)

# mode -> (bits per pixel, width, height)
PICTURE_SHAPES = {
    1: (8, 201, 121),
    2: (4, 203, 133),
    3: (1, 210, 100),
    4: (24, 241, 161),
    5: (24, 199, 150),
    6: (8, 101, 81),
}


class Picture:
    def __init__(self, mode, bits, width, height, rows, palette=None, indices=None):
        self.mode = mode
        self.bits = bits
        self.width = width
        self.height = height
        self.rows = rows  # top row first, each a bytes of R,G,B triples
        self.palette = palette  # list of (r, g, b) for 1, 4 and 8 bits
        self.indices = indices  # top row first, colour-map index per pixel
        self.bmp = encode_bmp(self)


def _palette(mode, bits):
    count = 1 << bits
    if bits == 1:
        return [(0, 0, 128), (255, 224, 0)]
    return [((i * 37 + mode * 11) & 255, (255 - i * 13) & 255, (i * 7 + 90) & 255) for i in range(count)]


def _index(mode, bits, x, y):
    if bits == 1:
        return ((x // 4) ^ (y // 4)) & 1
    if bits == 4:
        return ((x // 5) + (y // 5) * 3 + mode) & 15
    return (x + 2 * y + mode * 17) & 255


def _true_colour(mode, width, height, x, y):
    return ((x * 255) // (width - 1), (y * 255) // (height - 1), (mode * 50 + x) & 255)


def make_picture(mode):
    bits, width, height = PICTURE_SHAPES[mode]
    if bits == 24:
        rows = [bytes(c for x in range(width) for c in _true_colour(mode, width, height, x, y)) for y in range(height)]
        return Picture(mode, bits, width, height, rows)
    palette = _palette(mode, bits)
    indices = [[_index(mode, bits, x, y) for x in range(width)] for y in range(height)]
    rows = [bytes(c for i in row for c in palette[i]) for row in indices]
    return Picture(mode, bits, width, height, rows, palette, indices)


def make_pictures():
    return {mode: make_picture(mode) for mode in PICTURE_SHAPES}


def _pack_row(picture, y):
    if picture.bits == 24:
        rgb = picture.rows[y]
        out = bytearray()
        for x in range(picture.width):
            r, g, b = rgb[3 * x : 3 * x + 3]
            out += bytes((b, g, r))
        return bytes(out)
    per_byte = 8 // picture.bits
    out = bytearray()
    row = picture.indices[y]
    for start in range(0, picture.width, per_byte):
        byte = 0
        for k in range(per_byte):
            value = row[start + k] if start + k < picture.width else 0
            byte |= value << (8 - picture.bits * (k + 1))
        out.append(byte)
    return bytes(out)


def encode_bmp(picture):
    """An uncompressed BMP with the 40-byte information header, rows bottom first."""
    row_size = ((picture.width * picture.bits + 31) // 32) * 4
    colour_map = b""
    if picture.palette:
        colour_map = b"".join(bytes((b, g, r, 0)) for r, g, b in picture.palette)
    offset = 54 + len(colour_map)
    pixels = b"".join(_pack_row(picture, y).ljust(row_size, b"\0") for y in reversed(range(picture.height)))
    size = offset + len(pixels)
    header = b"BM" + struct.pack("<IHHI", size, 0, 0, offset)
    info = struct.pack(
        "<IiiHHIIiiII",
        40,
        picture.width,
        picture.height,
        1,
        picture.bits,
        0,
        len(pixels),
        2835,
        2835,
        len(picture.palette or ()),
        0,
    )
    return header + info + colour_map + pixels


def picture_position(screen_width, screen_height, picture):
    """Where the driver puts a picture: centred, 10 pixels to the left."""
    return (screen_width - picture.width) // 2 - 10, (screen_height - picture.height) // 2


def expected_screen(screen_width, screen_height, picture=None):
    """The whole screen as R,G,B bytes: black, with the picture (if any) placed."""
    frame = bytearray(screen_width * screen_height * 3)
    if picture is None:
        return bytes(frame)
    left, top = picture_position(screen_width, screen_height, picture)
    for y, row in enumerate(picture.rows):
        start = ((top + y) * screen_width + left) * 3
        frame[start : start + len(row)] = row
    return bytes(frame)


def write_pictures(directory):
    """Writes PICTURE1.BMP ... PICTURE6.BMP into directory; returns {mode: path}."""
    import os

    os.makedirs(directory, exist_ok=True)
    paths = {}
    for mode, picture in make_pictures().items():
        paths[mode] = os.path.join(directory, "PICTURE%d.BMP" % mode)
        with open(paths[mode], "wb") as f:
            f.write(picture.bmp)
    return paths


if __name__ == "__main__":
    import sys

    if len(sys.argv) != 2:
        sys.exit("usage: pictures.py DIR   (writes the six test pictures as DIR/PICTURE<mode>.BMP)")
    for mode, path in sorted(write_pictures(sys.argv[1]).items()):
        print("notice %d: %s" % (mode, path))

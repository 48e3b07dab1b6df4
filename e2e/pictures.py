"""The notice pictures used on real firmware, and the screens they make.

The six test pictures are BMPs in each depth the driver converts (1, 4, 8 and
24 bits per pixel), with widths that leave row padding, and a pattern that
makes any shift, flip or colour-map mistake show. `make_pictures` returns the
BMP bytes together with the pixels they hold, so the expected screen never
depends on a BMP reader of our own.

Picture sets replace the mode-5 picture where a case tries the driver's edges
on real firmware (a picture just fitting, one just too wide, one taller than
the screen) or its hostile inputs (a width whose row size wraps, width 0 with
height 0x7FFFFFFF). A variant says how a set is stored: all of it, one
picture left out, one cut short after its headers, or one LZMA-compressed.
Where a picture should land is never worked out here: notice-sim, given the
same bytes, says that.
"""

import os
import re
import shutil
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


HOSTILE_WRAPPING_WIDTH = 0xAAAAAAAB  # x 24 bits + 31 wraps 32 bits: the row size comes out as 4 bytes
HOSTILE_TALL_HEIGHT = 0x7FFFFFFF
# A malformed picture keeps its file and info headers and loses the rest:
# it still starts with "BM" and declares its full size and pixel data.
MALFORMED_KEEP_BYTES = 54
VARIANT = re.compile(r"^(full|missing-([1-6])|malformed-([1-6])|compressed-([1-6]))$")


class RawPicture:
    """BMP bytes whose pixels are not known here (never looked for on the screen)."""

    def __init__(self, mode, bmp):
        self.mode = mode
        self.bmp = bmp
        self.rows = None


def solid_picture(mode, width, height):
    """A 24-bit picture with no black pixel, so its outline shows on a black screen."""
    rows = [
        bytes(c for x in range(width) for c in (1 + (x * 7) % 255, 1 + (y * 5) % 255, 1 + ((x ^ y) & 127)))
        for y in range(height)
    ]
    return Picture(mode, 24, width, height, rows)


def raw_bmp(width, height, bits, pixel_bytes):
    """A BMP whose header says width x height whatever the pixel bytes hold."""
    size = 54 + len(pixel_bytes)
    return (
        b"BM"
        + struct.pack("<IHHI", size, 0, 0, 54)
        + struct.pack(
            "<IIIHHIIiiII", 40, width & 0xFFFFFFFF, height & 0xFFFFFFFF, 1, bits, 0, len(pixel_bytes), 2835, 2835, 0, 0
        )
        + pixel_bytes
    )


def read_pictures(directory):
    """mode -> RawPicture of DIR/notice<mode>.bmp, for each one there."""
    found = {}
    for mode in PICTURE_SHAPES:
        path = os.path.join(directory, "notice%d.bmp" % mode)
        if os.path.exists(path):
            with open(path, "rb") as f:
                found[mode] = RawPicture(mode, f.read())
    return found


def picture_set(name, screen_width=None, screen_height=None, pictures_dir=None):
    """mode -> picture (.bmp bytes, .rows top row first or None) of a named set. The edge sets are sized
    from the screen; with pictures_dir its notice<N>.bmp files stand in for the test pictures."""
    if name == "second-volume-5":  # only notice 5, unlike any test picture
        return {5: solid_picture(5, 180, 120)}
    if name == "none":
        return {}
    chosen = read_pictures(pictures_dir) if pictures_dir else make_pictures()
    if name == "test":
        return chosen
    if name == "fits-exactly":  # 20 pixels narrower than the screen
        chosen[5] = solid_picture(5, screen_width - 20, 40)
    elif name == "too-wide":  # 19 pixels narrower than the screen
        chosen[5] = solid_picture(5, screen_width - 19, 40)
    elif name == "taller-than-screen":
        chosen[5] = solid_picture(5, 100, screen_height + 1)
    elif name == "wrapping-row-size":
        chosen[5] = RawPicture(5, raw_bmp(HOSTILE_WRAPPING_WIDTH, 1, 24, bytes(4)))
    elif name == "zero-width-tall":
        chosen[5] = RawPicture(5, raw_bmp(0, HOSTILE_TALL_HEIGHT, 24, b""))
    else:
        raise ValueError("unknown picture set %r" % name)
    return chosen


PICTURE_SETS = ("test", "none", "second-volume-5", "fits-exactly", "too-wide", "taller-than-screen")
PICTURE_SETS += ("wrapping-row-size", "zero-width-tall")


def stored(variant, chosen):
    """The pictures as a variant stores them: one may be left out or cut short (compressed ones are
    the same pictures; notice-pack compresses them, see pack_options)."""
    match = VARIANT.match(variant)
    if not match:
        raise ValueError("variant must be full, missing-N, malformed-N or compressed-N (N 1-6), not %r" % variant)
    result = dict(chosen)
    if match.group(2):
        result.pop(int(match.group(2)), None)
    if match.group(3) and int(match.group(3)) in result:
        mode = int(match.group(3))
        result[mode] = RawPicture(mode, result[mode].bmp[:MALFORMED_KEEP_BYTES])
    return result


def pack_options(variant):
    """The notice-pack options a variant needs beyond the files themselves."""
    match = VARIANT.match(variant)
    if match.group(3):
        return ("--allow-invalid",)
    if match.group(4):
        return ("--compress", match.group(4))
    return ()


def write_bmps(directory, chosen, name="notice%d.bmp"):
    """Writes each picture (mode -> Picture or BMP bytes) into a fresh directory; returns {mode: path}."""
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    paths = {}
    for mode, picture in sorted(chosen.items()):
        paths[mode] = os.path.join(directory, name % mode)
        with open(paths[mode], "wb") as f:
            f.write(getattr(picture, "bmp", picture))
    return paths


if __name__ == "__main__":
    import sys

    if len(sys.argv) != 2:
        sys.exit("usage: pictures.py DIR   (writes the six test pictures as DIR/PICTURE<mode>.BMP)")
    for mode, path in write_bmps(sys.argv[1], make_pictures(), "PICTURE%d.BMP").items():
        print("notice %d: %s" % (mode, path))

"""Picture sets for the compatibility matrix: the six test pictures, with the
mode-5 picture replaced where a cell tries the driver's edges on real
firmware (a picture just fitting, one just too wide, one taller than the
screen) or its hostile inputs (a width whose row size wraps, a picture of
width 0 and height 0x7FFFFFFF).

Every set maps a mode to a picture: its BMP bytes and, where it is meant to
be seen, its pixels (so the runner can tell which picture is on the screen). The matrix never works out here where a
picture should land: notice-sim, given the same bytes, says that.
"""

import struct

import pictures

HOSTILE_WRAPPING_WIDTH = 0xAAAAAAAB  # x 24 bits + 31 wraps 32 bits: the row size comes out as 4 bytes
HOSTILE_TALL_HEIGHT = 0x7FFFFFFF


def solid_picture(mode, width, height):
    """A 24-bit picture with no black pixel, so its outline shows on a black screen."""
    rows = [
        bytes(c for x in range(width) for c in (1 + (x * 7) % 255, 1 + (y * 5) % 255, 1 + ((x ^ y) & 127)))
        for y in range(height)
    ]
    return pictures.Picture(mode, 24, width, height, rows)


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


class RawPicture:
    """BMP bytes whose pixels are not meant to be seen (the decoder must refuse or draw nothing)."""

    def __init__(self, mode, bmp):
        self.mode = mode
        self.bmp = bmp
        self.rows = None


def picture_set(name, screen_width=None, screen_height=None):
    """mode -> picture (.bmp bytes, .rows top row first or None) for a named set.
    The edge sets are sized from the screen."""
    if name == "second-volume-5":  # only notice 5, unlike any test picture
        return {5: solid_picture(5, 180, 120)}
    if name == "none":
        return {}
    chosen = pictures.make_pictures()
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


PICTURE_SETS = (
    "test",
    "none",
    "second-volume-5",
    "fits-exactly",
    "too-wide",
    "taller-than-screen",
    "wrapping-row-size",
    "zero-width-tall",
)

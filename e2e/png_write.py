"""Writes 8-bit RGB PNG files (standard library only)."""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_rgb(width, height, pixels):
    """The PNG file of `pixels`: R,G,B bytes, top row first; every row is stored unfiltered."""
    stride = width * 3
    if len(pixels) != stride * height:
        raise ValueError("%d bytes for a %dx%d picture" % (len(pixels), width, height))
    raw = b"".join(b"\0" + pixels[y * stride : (y + 1) * stride] for y in range(height))
    return (
        SIGNATURE
        + _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
        + _chunk(b"IDAT", zlib.compress(raw, 9))
        + _chunk(b"IEND", b"")
    )


def write_png_rgb(path, width, height, pixels):
    with open(path, "wb") as f:
        f.write(png_rgb(width, height, pixels))

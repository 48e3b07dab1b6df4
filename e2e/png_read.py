"""Reads the 8-bit RGB and RGBA PNG files the simulator writes (standard library only)."""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def _unfilter(data, width, height, channels):
    stride = width * channels
    rows = []
    previous = bytearray(stride)
    pos = 0
    for _ in range(height):
        kind = data[pos]
        row = bytearray(data[pos + 1 : pos + 1 + stride])
        pos += 1 + stride
        if kind == 1:
            for i in range(channels, stride):
                row[i] = (row[i] + row[i - channels]) & 255
        elif kind == 2:
            for i in range(stride):
                row[i] = (row[i] + previous[i]) & 255
        elif kind == 3:
            for i in range(stride):
                left = row[i - channels] if i >= channels else 0
                row[i] = (row[i] + ((left + previous[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                left = row[i - channels] if i >= channels else 0
                up_left = previous[i - channels] if i >= channels else 0
                row[i] = (row[i] + _paeth(left, previous[i], up_left)) & 255
        elif kind != 0:
            raise ValueError("PNG row filter %d" % kind)
        rows.append(bytes(row))
        previous = row
    return rows


def read_png_rgb(path):
    """Returns (width, height, R,G,B bytes) of an 8-bit RGB or RGBA PNG, alpha dropped."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(SIGNATURE):
        raise ValueError("%s: not a PNG file" % path)
    pos = len(SIGNATURE)
    header = None
    compressed = bytearray()
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError("%s: no IHDR chunk" % path)
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError("%s: only 8-bit RGB/RGBA non-interlaced PNG is read" % path)
    channels = 3 if colour == 2 else 4
    rows = _unfilter(zlib.decompress(bytes(compressed)), width, height, channels)
    if channels == 3:
        return width, height, b"".join(rows)
    rgb = bytearray()
    for row in rows:
        for i in range(0, len(row), 4):
            rgb += row[i : i + 3]
    return width, height, bytes(rgb)

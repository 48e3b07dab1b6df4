"""The LZMA "alone" data of a GUID-defined section: read with bounded memory,
and written again with the settings its header names.

What is supported, and why:

- lc, lp and pb with lc + lp at most 4: what liblzma's LZMA1 coder takes.
- Any dictionary size the header names, written back exactly. The encoder
  never needs a dictionary larger than the data it compresses, nor one
  larger than the header's (a decoder with a dictionary at least as large as
  the encoder's reads the data the same), so it uses the smallest of the
  header's size, the data's size and ENCODER_DICTIONARY_LIMIT; the decoder
  likewise gets a dictionary no larger than the data. Memory follows the
  data, not the header.
- An uncompressed size given in the header (firmware decoders read it), at
  most MAX_CONTENT_SIZE, and equal to what the data gives.

The header's byte layout: properties ((pb * 5 + lp) * 9 + lc), dictionary
size (32 bits), uncompressed size (64 bits), little-endian.
"""

import dataclasses
import lzma
import struct

from firmware_volume import FirmwareFormatError, UnsupportedImage

HEADER_SIZE = 13
MAX_CONTENT_SIZE = 32 << 20  # OVMF's is 13.5 MB
ENCODER_DICTIONARY_LIMIT = 16 << 20  # OVMF's own: about 190 MB to compress with
MIN_DICTIONARY = 4096  # liblzma's least; every decoder reads a smaller header value as this
UNKNOWN_SIZE = (1 << 64) - 1
MAX_LC_LP = 4
FEED_PIECE = 1 << 20  # input handed to the encoder at a time (no copy of the whole)
FAST_DICTIONARY = 1 << 20  # for the estimate of what each new file costs


@dataclasses.dataclass(frozen=True)
class LzmaHeader:
    lc: int
    lp: int
    pb: int
    dictionary_size: int
    uncompressed_size: int
    raw: bytes

    def describe(self):
        return "lc=%d lp=%d pb=%d, dictionary 0x%x" % (self.lc, self.lp, self.pb, self.dictionary_size)


def read_header(data):
    """The checked header of LZMA "alone" `data`; refuses what cannot be read back or written again."""
    if len(data) < HEADER_SIZE:
        raise FirmwareFormatError("LZMA data of %d bytes is shorter than its 13-byte header" % len(data))
    properties, dictionary_size, uncompressed_size = struct.unpack_from("<BIQ", data)
    if properties >= 9 * 5 * 5:
        raise FirmwareFormatError("LZMA properties byte 0x%02x is out of range (at most 0xe0)" % properties)
    lc, lp, pb = properties % 9, properties // 9 % 5, properties // 45
    if lc + lp > MAX_LC_LP:
        raise UnsupportedImage(
            "LZMA settings lc=%d lp=%d pb=%d: supported are lc+lp at most 4 (what liblzma reads and writes)"
            % (lc, lp, pb)
        )
    if uncompressed_size == UNKNOWN_SIZE:
        raise UnsupportedImage("LZMA header leaves the size unknown; supported is data that gives its size")
    if uncompressed_size > MAX_CONTENT_SIZE:
        raise UnsupportedImage(
            "LZMA header gives {:,} bytes uncompressed; supported are at most {:,}".format(
                uncompressed_size, MAX_CONTENT_SIZE
            )
        )
    return LzmaHeader(lc, lp, pb, dictionary_size, uncompressed_size, bytes(data[:HEADER_SIZE]))


def _lzma1_filter(header, dictionary_size):
    return {"id": lzma.FILTER_LZMA1, "dict_size": dictionary_size, "lc": header.lc, "lp": header.lp, "pb": header.pb}


def _working_dictionary(header, content_size, limit):
    return max(MIN_DICTIONARY, min(header.dictionary_size, content_size, limit))


def decompress(data):
    """(header, content) of LZMA "alone" `data`, in memory bounded by the size the header gives."""
    header = read_header(data)
    dictionary = _working_dictionary(header, header.uncompressed_size, MAX_CONTENT_SIZE)
    decoder = lzma.LZMADecompressor(format=lzma.FORMAT_RAW, filters=[_lzma1_filter(header, dictionary)])
    try:
        content = decoder.decompress(bytes(data[HEADER_SIZE:]), max_length=header.uncompressed_size)
    except lzma.LZMAError as error:
        if "allocate memory" in str(error):
            raise MemoryError() from None
        raise FirmwareFormatError("LZMA data is damaged (liblzma: %s)" % error) from None
    if len(content) != header.uncompressed_size:
        raise FirmwareFormatError(
            "LZMA data gives 0x%x bytes, its header says 0x%x" % (len(content), header.uncompressed_size)
        )
    return header, bytearray(content)


def compress_like(content, header):
    """LZMA "alone" data of `content` whose header is `header` but for the uncompressed size."""
    if len(content) > MAX_CONTENT_SIZE:
        raise UnsupportedImage(
            "the DXE content would be {:,} bytes; supported are at most {:,}".format(len(content), MAX_CONTENT_SIZE)
        )
    dictionary = _working_dictionary(header, len(content), ENCODER_DICTIONARY_LIMIT)
    encoder = lzma.LZMACompressor(format=lzma.FORMAT_RAW, filters=[_lzma1_filter(header, dictionary)])
    out = [header.raw[:5], struct.pack("<Q", len(content))]
    view = memoryview(content)
    try:
        for at in range(0, len(content), FEED_PIECE):
            out.append(encoder.compress(view[at : at + FEED_PIECE]))
        out.append(encoder.flush())
    except lzma.LZMAError as error:
        if "allocate memory" in str(error):
            raise MemoryError() from None
        raise
    return b"".join(out)


def shares(total, blocks, header):
    """`total` compressed bytes split among `blocks` (bytes each) in proportion
    to what each compresses to alone with liblzma's fast settings: roughly what
    each costs in the whole, at a fraction of the time of compressing it well."""
    alone = []
    for block in blocks:
        dictionary = _working_dictionary(header, len(block), FAST_DICTIONARY)
        fast = dict(_lzma1_filter(header, dictionary), mode=lzma.MODE_FAST, mf=lzma.MF_HC4, nice_len=32)
        alone.append(len(lzma.compress(bytes(block), format=lzma.FORMAT_RAW, filters=[fast])))
    if total <= 0 or not sum(alone):
        return alone
    return [round(total * size / sum(alone)) for size in alone]

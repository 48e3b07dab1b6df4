#!/usr/bin/env python3
"""Packs the headers of a PE32+ image in place: the PE header moves to right
after the 64-byte DOS header (dropping the DOS program lld-link puts between
them), and the headers end at the first file-alignment boundary after the
last section header (lld-link reserves room for one more section header, for
a base-relocation section it later drops when the image needs none).

Every section's bytes, addresses and protections stay as linked; only the
file offsets of the section data move. Run once on a freshly linked image;
an image whose headers are already packed is left as it is.

    pack-image-headers.py notice.efi
"""

import struct
import sys

DOS_HEADER_SIZE = 64
PE_SIGNATURE = b"PE\0\0"
COFF_HEADER_SIZE = 20
SECTION_HEADER_SIZE = 40
PE32_PLUS_MAGIC = 0x20B
# Offsets inside the optional header.
FILE_ALIGNMENT = 36
SIZE_OF_HEADERS = 60
NUMBER_OF_RVA_AND_SIZES = 108
DATA_DIRECTORIES = 112
CERTIFICATE_TABLE = 4
# Offsets inside a section header.
SIZE_OF_RAW_DATA = 16
POINTER_TO_RAW_DATA = 20


class ImageError(Exception):
    pass


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def pack(image):
    """Returns the image with packed headers (the same bytes when already packed)."""
    if image[:2] != b"MZ" or len(image) < DOS_HEADER_SIZE:
        raise ImageError("no DOS header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe : pe + 4] != PE_SIGNATURE:
        raise ImageError("no PE signature")
    coff = pe + 4
    sections, optional_size = (
        struct.unpack_from("<H", image, coff + 2)[0],
        struct.unpack_from("<H", image, coff + 16)[0],
    )
    optional = coff + COFF_HEADER_SIZE
    if struct.unpack_from("<H", image, optional)[0] != PE32_PLUS_MAGIC:
        raise ImageError("not a PE32+ image")
    file_alignment = struct.unpack_from("<I", image, optional + FILE_ALIGNMENT)[0]
    old_headers = struct.unpack_from("<I", image, optional + SIZE_OF_HEADERS)[0]
    directories = struct.unpack_from("<I", image, optional + NUMBER_OF_RVA_AND_SIZES)[0]
    if directories > CERTIFICATE_TABLE:
        certificate = struct.unpack_from("<II", image, optional + DATA_DIRECTORIES + 8 * CERTIFICATE_TABLE)
        if certificate != (0, 0):
            raise ImageError("the image is signed; pack it before signing")

    header_bytes = 4 + COFF_HEADER_SIZE + optional_size + SECTION_HEADER_SIZE * sections
    new_headers = align_up(DOS_HEADER_SIZE + header_bytes, file_alignment)
    if new_headers >= old_headers:
        return bytes(image)
    shift = old_headers - new_headers

    packed = bytearray(image[:DOS_HEADER_SIZE])
    struct.pack_into("<I", packed, 0x3C, DOS_HEADER_SIZE)
    packed += image[pe : pe + header_bytes]
    new_optional = DOS_HEADER_SIZE + 4 + COFF_HEADER_SIZE
    struct.pack_into("<I", packed, new_optional + SIZE_OF_HEADERS, new_headers)
    first_section = new_optional + optional_size
    for index in range(sections):
        at = first_section + SECTION_HEADER_SIZE * index
        raw_size, raw_offset = struct.unpack_from("<II", packed, at + SIZE_OF_RAW_DATA)
        if raw_size == 0:
            continue
        if raw_offset < old_headers:
            raise ImageError("section data starts inside the headers")
        struct.pack_into("<I", packed, at + POINTER_TO_RAW_DATA, raw_offset - shift)
    packed += bytes(new_headers - len(packed))
    packed += image[old_headers:]
    return bytes(packed)


def main(argv):
    if len(argv) != 2:
        print("usage: pack-image-headers.py IMAGE.efi", file=sys.stderr)
        return 2
    path = argv[1]
    try:
        with open(path, "rb") as f:
            image = f.read()
        packed = pack(image)
    except (OSError, ImageError, struct.error) as error:
        print(f"pack-image-headers: {path}: {error}", file=sys.stderr)
        return 1
    if packed != image:
        with open(path, "wb") as f:
            f.write(packed)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

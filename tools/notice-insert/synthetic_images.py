"""Small firmware images shaped like real ones, for notice-insert's tests:
volumes, FFS files and sections built field by field, so a test can damage
any one of them.
"""

import lzma
import struct
import uuid

import firmware_volume as ffs

DICTIONARY_SIZE = 1 << 20
LZMA_HEADER = bytes([0x5D]) + struct.pack("<I", DICTIONARY_SIZE)


def section(section_type, body):
    return struct.pack("<I", 4 + len(body))[:3] + bytes([section_type]) + body


def ffs_file(name, file_type, sections, attributes=0):
    body = b""
    for s in sections:
        body += b"\0" * (ffs.align_up(len(body), 4) - len(body)) + s
    header = bytearray(
        name.bytes_le + bytes([0, 0, file_type, attributes]) + struct.pack("<I", 24 + len(body))[:3] + b"\0"
    )
    header[16] = (0x100 - ffs.sum8(header)) & 0xFF
    header[17] = 0xAA
    header[23] = 0xF8
    data = bytearray(bytes(header) + body)
    if attributes & ffs.FILE_ATTRIB_CHECKSUM:
        data[17] = (0x100 - ffs.sum8(body)) & 0xFF
    return bytes(data)


def volume(files, length, block_size=0x200):
    body = b""
    for f in files:
        body += b"\xff" * (ffs.align_up(0x48 + len(body), 8) - 0x48 - len(body)) + f
    header = (
        bytearray(16)
        + uuid.UUID(str(ffs.FFS2_GUID)).bytes_le
        + struct.pack("<Q", length)
        + b"_FVH"
        + struct.pack("<IHHHBB", 0x0004FEFF, 0x48, 0, 0, 0, 2)
        + struct.pack("<IIII", length // block_size, block_size, 0, 0)
    )
    struct.pack_into("<H", header, 50, (0x10000 - ffs.sum16(header)) & 0xFFFF)
    image = bytes(header) + body
    assert len(image) <= length
    return image + b"\xff" * (length - len(image))


def lzma_data(content, dictionary_size=DICTIONARY_SIZE, properties=(3, 0, 2)):
    """LZMA "alone" data with the real size in its header. The header names
    `dictionary_size` whatever the encoder used (at most 1 MiB): a decoder
    with a larger dictionary reads it the same."""
    lc, lp, pb = properties
    used = max(4096, min(dictionary_size, DICTIONARY_SIZE))
    lzma_filter = {"id": lzma.FILTER_LZMA1, "dict_size": used, "lc": lc, "lp": lp, "pb": pb}
    packed = bytearray(lzma.compress(content, format=lzma.FORMAT_ALONE, filters=[lzma_filter]))
    struct.pack_into("<IQ", packed, 1, dictionary_size, len(content))
    return bytes(packed)


def lzma_section(content, **lzma_options):
    guided = ffs.LZMA_SECTION_GUID.bytes_le + struct.pack("<HH", 24, 1) + lzma_data(content, **lzma_options)
    return section(ffs.SECTION_GUID_DEFINED, guided)


DXE_CORE = ffs_file(
    uuid.UUID("D6A2CB7F-6A18-4E2F-B43B-9920A733700A"), ffs.FILE_TYPE_DXE_CORE, [section(0x10, b"MZ" + bytes(30))]
)
EXISTING = ffs_file(uuid.UUID("11111111-2222-3333-4444-555555555555"), 0x07, [section(0x10, b"MZ" + bytes(40))])
DRIVER = ffs_file(uuid.UUID("1E16495C-074B-42D0-884C-5729229B3EEB"), 0x07, [section(0x10, b"MZ" + bytes(61))])
PICTURE = ffs_file(uuid.UUID("2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6"), 0x02, [section(0x19, b"BM" + bytes(13))])
NEW_PICTURE = ffs_file(uuid.UUID("2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6"), 0x02, [section(0x19, b"BM" + bytes(300))])
OUTER_FILE_NAME = uuid.UUID("9E21FD93-9C72-4C15-8C4B-E77F1DB2D792")


def dxe_content(dxe_files=(), dxe_filler=b""):
    """What OVMF's volume-image file compresses: a small pad volume and the (larger) DXE volume."""
    small = volume([], 0x200)
    dxe = volume([DXE_CORE, *dxe_files], 0x4000)
    return (
        section(ffs.SECTION_VOLUME_IMAGE, small)
        + section(ffs.SECTION_RAW, dxe_filler)
        + section(ffs.SECTION_VOLUME_IMAGE, dxe)
    )


def firmware(dxe_files=(), outer_length=0x10000, trailing_files=(), dxe_filler=b"", content=None, **lzma_options):
    """An image shaped like OVMF's: a first volume holding a volume-image file
    whose LZMA section holds a small pad volume and the DXE volume."""
    if content is None:
        content = dxe_content(dxe_files, dxe_filler)
    outer = ffs_file(OUTER_FILE_NAME, ffs.FILE_TYPE_VOLUME_IMAGE, [lzma_section(content, **lzma_options)])
    return volume([outer, *trailing_files], outer_length)


def nested_firmware(dxe_files=()):
    """A volume-image file holding the DXE volume in a plain FV-image section."""
    outer = ffs_file(
        uuid.uuid4(),
        ffs.FILE_TYPE_VOLUME_IMAGE,
        [section(ffs.SECTION_VOLUME_IMAGE, volume([DXE_CORE, *dxe_files], 0x2000))],
        attributes=ffs.FILE_ATTRIB_CHECKSUM,
    )
    return volume([outer], 0x4000)


def top_level_firmware(dxe_files=()):
    """The DXE volume as the image's first volume, another volume after it."""
    return volume([DXE_CORE, *dxe_files], 0x2000) + volume([], 0x1000)


def file_name(data):
    return uuid.UUID(bytes_le=bytes(data[:16]))


def reseal_volume_header(image, offset=0):
    """Recomputes the header checksum of the volume at `offset` (after a test changed a field)."""
    (header_length,) = struct.unpack_from("<H", image, offset + 48)
    struct.pack_into("<H", image, offset + 50, 0)
    struct.pack_into("<H", image, offset + 50, (0x10000 - ffs.sum16(image[offset : offset + header_length])) & 0xFFFF)


def reseal_file_header(data, offset=0):
    """Recomputes the header checksum of the file at `offset` (after a test changed a field)."""
    header = bytearray(data[offset : offset + 24])
    header[16] = header[17] = header[23] = 0
    data[offset + 16] = (0x100 - ffs.sum8(header)) & 0xFF

"""Reading and mending firmware volumes, FFS2 files and sections in place.

Pure functions over bytes/bytearray with bounds checks; every malformed
structure raises FirmwareFormatError instead of reading past its end.
"""

import dataclasses
import struct
import uuid

FFS2_GUID = uuid.UUID("8C8CE578-8A3D-4F1C-9935-896185C32DD3")
LZMA_SECTION_GUID = uuid.UUID("EE4E5898-3914-4259-9D6E-DC7BD79403CF")

FV_SIGNATURE = b"_FVH"
FV_SIGNATURE_OFFSET = 40
FV_ERASE_POLARITY = 0x800

FILE_HEADER_SIZE = 24
FILE_ALIGNMENT = 8
FILE_TYPE_DXE_CORE = 0x05
FILE_TYPE_VOLUME_IMAGE = 0x0B
FILE_ATTRIB_LARGE = 0x01
FILE_ATTRIB_DATA_ALIGNMENT = 0x38
FILE_ATTRIB_CHECKSUM = 0x40
FILE_CHECKSUM_NOT_USED = 0xAA
# What the three data-alignment attribute bits ask for, in bytes.
DATA_ALIGNMENTS = (1, 16, 128, 512, 1024, 4 * 1024, 32 * 1024, 64 * 1024)

SECTION_ALIGNMENT = 4
SECTION_GUID_DEFINED = 0x02
SECTION_PE32 = 0x10
SECTION_USER_INTERFACE = 0x15
SECTION_VOLUME_IMAGE = 0x17
SECTION_RAW = 0x19

MAX_SIZE24 = 0xFFFFFF
ERASED = 0xFF


class FirmwareFormatError(Exception):
    """A volume, file or section that cannot be read or patched safely."""


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def sum8(data):
    return sum(data) & 0xFF


def sum16(data):
    return sum(struct.unpack_from("<%dH" % (len(data) // 2), data)) & 0xFFFF


def _need(buf, offset, length, what):
    if offset < 0 or length < 0 or offset + length > len(buf):
        raise FirmwareFormatError("%s at 0x%x (0x%x bytes) runs past the end (0x%x)" % (what, offset, length, len(buf)))


def _u24(buf, offset):
    return buf[offset] | buf[offset + 1] << 8 | buf[offset + 2] << 16


def _put_u24(buf, offset, value):
    if value > MAX_SIZE24:
        raise FirmwareFormatError("size 0x%x does not fit a 24-bit size field" % value)
    buf[offset : offset + 3] = bytes((value & 0xFF, value >> 8 & 0xFF, value >> 16))


@dataclasses.dataclass
class Volume:
    offset: int  # within the buffer it was read from
    length: int
    header_length: int
    attributes: int
    checksum_valid: bool

    @property
    def end(self):
        return self.offset + self.length

    @property
    def erased_byte(self):
        return ERASED if self.attributes & FV_ERASE_POLARITY else 0x00


def read_volume(buf, offset=0):
    _need(buf, offset, 56, "volume header")
    if bytes(buf[offset + FV_SIGNATURE_OFFSET : offset + 44]) != FV_SIGNATURE:
        raise FirmwareFormatError("no volume signature at 0x%x" % offset)
    guid = uuid.UUID(bytes_le=bytes(buf[offset + 16 : offset + 32]))
    if guid != FFS2_GUID:
        raise FirmwareFormatError("volume at 0x%x has file system %s, not FFS2" % (offset, guid))
    (length,) = struct.unpack_from("<Q", buf, offset + 32)
    attributes, header_length = struct.unpack_from("<IH", buf, offset + 44)
    _need(buf, offset, length, "volume")
    if header_length < 56 or header_length > length or header_length % 2:
        raise FirmwareFormatError("volume at 0x%x has header length 0x%x" % (offset, header_length))
    checksum_valid = sum16(buf[offset : offset + header_length]) == 0
    return Volume(offset, length, header_length, attributes, checksum_valid)


def find_volumes(image):
    """Volumes laid one after another from the start of a flash image."""
    volumes = []
    offset = 0
    while offset + 56 <= len(image):
        volume = read_volume(image, offset)
        volumes.append(volume)
        offset = volume.end
    return volumes


@dataclasses.dataclass
class FfsFile:
    offset: int  # within the buffer
    name: uuid.UUID
    type: int
    attributes: int
    size: int  # header included, trailing gap excluded
    state: int

    @property
    def end(self):
        return self.offset + self.size

    @property
    def data_offset(self):
        return self.offset + FILE_HEADER_SIZE

    @property
    def data_alignment(self):
        return DATA_ALIGNMENTS[(self.attributes & FILE_ATTRIB_DATA_ALIGNMENT) >> 3]


def read_file(buf, offset, limit):
    _need(buf, offset, FILE_HEADER_SIZE, "file header")
    name = uuid.UUID(bytes_le=bytes(buf[offset : offset + 16]))
    file_type, attributes = buf[offset + 18], buf[offset + 19]
    size = _u24(buf, offset + 20)
    if attributes & FILE_ATTRIB_LARGE:
        raise FirmwareFormatError("file %s at 0x%x uses the large-file header" % (name, offset))
    if size < FILE_HEADER_SIZE or offset + size > limit:
        raise FirmwareFormatError("file %s at 0x%x has size 0x%x beyond 0x%x" % (name, offset, size, limit))
    return FfsFile(offset, name, file_type, attributes, size, buf[offset + 23])


def is_erased(buf, start, end, erased=ERASED):
    return buf[start:end].count(erased) == end - start


def read_files(buf, volume):
    """Files of a volume, in order, up to its free space; the free space
    starts at the returned offset and must be erased to the volume's end.
    An extended volume header lives inside the first (pad) file, so files
    start right after the header."""
    files = []
    offset = volume.offset + volume.header_length
    while offset + FILE_HEADER_SIZE <= volume.end:
        if is_erased(buf, offset, offset + FILE_HEADER_SIZE, volume.erased_byte):
            break
        ffs = read_file(buf, offset, volume.end)
        files.append(ffs)
        offset = volume.offset + align_up(ffs.end - volume.offset, FILE_ALIGNMENT)
    free = min(offset, volume.end)
    if not is_erased(buf, free, volume.end, volume.erased_byte):
        raise FirmwareFormatError(
            "volume at 0x%x has data after its last file (free space from 0x%x)" % (volume.offset, free)
        )
    return files, free


@dataclasses.dataclass
class Section:
    offset: int  # within the buffer
    type: int
    size: int  # header included
    header_size: int

    @property
    def end(self):
        return self.offset + self.size

    @property
    def body_offset(self):
        return self.offset + self.header_size


def read_sections(buf, start, end):
    """Sections between start and end, each on a 4-byte boundary counted
    from `start` (start itself being 4-aligned in its file)."""
    sections = []
    offset = start
    while offset + 4 <= end:
        size, section_type = _u24(buf, offset), buf[offset + 3]
        header_size = 4
        if size == MAX_SIZE24:
            _need(buf, offset, 8, "extended section header")
            (size,) = struct.unpack_from("<I", buf, offset + 4)
            header_size = 8
        if size < header_size or offset + size > end:
            raise FirmwareFormatError("section at 0x%x has size 0x%x beyond 0x%x" % (offset, size, end))
        sections.append(Section(offset, section_type, size, header_size))
        offset = start + align_up(offset + size - start, SECTION_ALIGNMENT)
    return sections


def file_sections(buf, ffs):
    return read_sections(buf, ffs.data_offset, ffs.end)


def header_checksum_ok(buf, ffs):
    header = bytearray(buf[ffs.offset : ffs.offset + FILE_HEADER_SIZE])
    header[17] = header[23] = 0
    return sum8(header) == 0


def seal_file(buf, ffs):
    """Recomputes a file's header checksum and, when the file carries the
    checksum attribute, its data checksum."""
    if ffs.attributes & FILE_ATTRIB_CHECKSUM:
        buf[ffs.offset + 17] = (0x100 - sum8(buf[ffs.data_offset : ffs.end])) & 0xFF
    else:
        buf[ffs.offset + 17] = FILE_CHECKSUM_NOT_USED
    header = bytearray(buf[ffs.offset : ffs.offset + FILE_HEADER_SIZE])
    header[16] = header[17] = header[23] = 0
    buf[ffs.offset + 16] = (0x100 - sum8(header)) & 0xFF


def set_file_size(buf, ffs, size):
    _put_u24(buf, ffs.offset + 20, size)
    ffs.size = size


def set_section_size(buf, section, size):
    if section.header_size != 4:
        raise FirmwareFormatError("section at 0x%x uses the extended size header" % section.offset)
    _put_u24(buf, section.offset, size)
    section.size = size


@dataclasses.dataclass
class GuidedSection:
    section: Section
    guid: uuid.UUID
    data_offset: int  # from the section start
    attributes: int


def read_guided_section(buf, section):
    if section.type != SECTION_GUID_DEFINED:
        raise FirmwareFormatError("section at 0x%x is not GUID-defined" % section.offset)
    at = section.body_offset
    _need(buf, at, 20, "GUID-defined section header")
    guid = uuid.UUID(bytes_le=bytes(buf[at : at + 16]))
    data_offset, attributes = struct.unpack_from("<HH", buf, at + 16)
    if data_offset < section.header_size + 20 or data_offset > section.size:
        raise FirmwareFormatError("GUID-defined section at 0x%x has data offset 0x%x" % (section.offset, data_offset))
    return GuidedSection(section, guid, data_offset, attributes)

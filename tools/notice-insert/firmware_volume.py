"""Reading and mending firmware volumes, FFS2 files and sections in place.

Pure functions over bytes/bytearray. Every reader checks what it reads
against the PI specification's rules (volume header, block map and
checksum; file header checksum, state and data checksum; section sizes
tiling their container) and raises FirmwareFormatError naming what is wrong
and where, never reading past the end of its container.
"""

import dataclasses
import struct
import uuid

FFS2_GUID = uuid.UUID("8C8CE578-8A3D-4F1C-9935-896185C32DD3")
FFS3_GUID = uuid.UUID("5473C07A-3DCB-4DCA-BD6F-1E9689E7349A")
LZMA_SECTION_GUID = uuid.UUID("EE4E5898-3914-4259-9D6E-DC7BD79403CF")

FV_HEADER_SIZE = 56  # up to the block map
FV_SIGNATURE = b"_FVH"
FV_SIGNATURE_OFFSET = 40
FV_REVISION = 2
FV_ERASE_POLARITY = 0x800
FV_EXT_HEADER_SIZE = 20
BLOCK_MAP_ENTRY = 8

FILE_HEADER_SIZE = 24
FILE_ALIGNMENT = 8
FILE_TYPE_RAW = 0x01
FILE_TYPE_DXE_CORE = 0x05
FILE_TYPE_VOLUME_IMAGE = 0x0B
FILE_TYPE_PAD = 0xF0
# File types whose data is a list of sections (the others hold raw bytes).
SECTIONED_FILE_TYPES = range(0x02, 0x10)
FILE_ATTRIB_LARGE = 0x01
FILE_ATTRIB_DATA_ALIGNMENT_2 = 0x02  # with the three bits below: 128 KiB to 16 MiB
FILE_ATTRIB_DATA_ALIGNMENT = 0x38
FILE_ATTRIB_CHECKSUM = 0x40
FILE_CHECKSUM_NOT_USED = 0xAA
# A complete file: header and data valid, nothing later (deleted, marked for update).
FILE_STATE_COMPLETE = 0x07
# What the three data-alignment attribute bits ask for, in bytes.
DATA_ALIGNMENTS = (1, 16, 128, 512, 1024, 4 * 1024, 32 * 1024, 64 * 1024)
DATA_ALIGNMENTS_2 = tuple(128 * 1024 << n for n in range(8))
FV_ALIGNMENT_SHIFT, FV_ALIGNMENT_MASK = 16, 0x1F  # the volume's alignment is 2 to that power

SECTION_HEADER_SIZE = 4
SECTION_ALIGNMENT = 4
SECTION_GUID_DEFINED = 0x02
SECTION_PE32 = 0x10
SECTION_USER_INTERFACE = 0x15
SECTION_VOLUME_IMAGE = 0x17
SECTION_RAW = 0x19
# Every section type the PI specification defines: compression, GUID-defined,
# disposable; PE32 to MM dependency (0x1A is unassigned).
SECTION_TYPES = frozenset([0x01, 0x02, 0x03] + [t for t in range(0x10, 0x1D) if t != 0x1A])
GUIDED_HEADER_SIZE = 20  # after the common section header

MAX_SIZE24 = 0xFFFFFF
ERASED = 0xFF


class FirmwareFormatError(Exception):
    """A volume, file or section that breaks the format: damaged, or not what it claims to be."""


class UnsupportedImage(FirmwareFormatError):
    """A sound image laid out in a way notice-insert does not patch."""


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def sum8(data):
    return sum(data) & 0xFF


def sum16(data):
    return sum(struct.unpack_from("<%dH" % (len(data) // 2), data)) & 0xFFFF


def _need(limit, offset, length, what):
    if offset < 0 or length < 0 or offset + length > limit:
        raise FirmwareFormatError("%s at 0x%x (0x%x bytes) runs past the end (0x%x)" % (what, offset, length, limit))


def _u24(buf, offset):
    return buf[offset] | buf[offset + 1] << 8 | buf[offset + 2] << 16


def _put_u24(buf, offset, value):
    if value > MAX_SIZE24:
        raise FirmwareFormatError("size 0x%x does not fit a 24-bit size field" % value)
    buf[offset : offset + 3] = bytes((value & 0xFF, value >> 8 & 0xFF, value >> 16))


def guid_text(guid):
    return str(guid).upper()


@dataclasses.dataclass
class Volume:
    offset: int  # within the buffer it was read from
    length: int
    header_length: int
    attributes: int
    ext_header: tuple = (0, 0)  # the extended header's span (start, end) in the buffer, if it has one

    @property
    def end(self):
        return self.offset + self.length

    @property
    def erased_byte(self):
        return ERASED if self.attributes & FV_ERASE_POLARITY else 0x00

    @property
    def alignment(self):
        return 1 << ((self.attributes >> FV_ALIGNMENT_SHIFT) & FV_ALIGNMENT_MASK)


def has_volume_signature(buf, offset):
    return bytes(buf[offset + FV_SIGNATURE_OFFSET : offset + FV_SIGNATURE_OFFSET + 4]) == FV_SIGNATURE


def read_volume(buf, offset=0, limit=None):
    """The volume whose header is at `offset`, which must end by `limit` (the buffer's end by default)."""
    limit = len(buf) if limit is None else limit
    _need(limit, offset, FV_HEADER_SIZE, "volume header")
    where = "volume at 0x%x" % offset
    if not has_volume_signature(buf, offset):
        raise FirmwareFormatError("no volume signature at 0x%x" % offset)
    guid = uuid.UUID(bytes_le=bytes(buf[offset + 16 : offset + 32]))
    if guid != FFS2_GUID:
        kind = "FFS3" if guid == FFS3_GUID else guid_text(guid)
        raise UnsupportedImage("%s has file system %s, not FFS2; notice-insert handles FFS2 volumes" % (where, kind))
    (length,) = struct.unpack_from("<Q", buf, offset + 32)
    attributes, header_length, _, ext_offset, _, revision = struct.unpack_from("<IHHHBB", buf, offset + 44)
    _need(limit, offset, length, "volume")
    if header_length < FV_HEADER_SIZE + BLOCK_MAP_ENTRY or header_length > length or header_length % 2:
        raise FirmwareFormatError("%s: header length 0x%x" % (where, header_length))
    if revision != FV_REVISION:
        raise FirmwareFormatError("%s: header revision 0x%02x, want 0x%02x" % (where, revision, FV_REVISION))
    header = buf[offset : offset + header_length]
    if sum16(header):
        raise FirmwareFormatError(
            "%s: header checksum is wrong (the header sums to 0x%04x, not 0)" % (where, sum16(header))
        )
    covered = _block_map_length(header, where)
    if covered != length:
        raise FirmwareFormatError(
            "%s: block map covers 0x%x bytes, the header's length is 0x%x" % (where, covered, length)
        )
    ext_header = (0, 0)
    if ext_offset:
        ext_size = _check_ext_header(buf, offset, length, header_length, ext_offset, where)
        ext_header = (offset + ext_offset, offset + ext_offset + ext_size)
    return Volume(offset, length, header_length, attributes, ext_header)


def _block_map_length(header, where):
    covered = 0
    for at in range(FV_HEADER_SIZE, len(header) - BLOCK_MAP_ENTRY + 1, BLOCK_MAP_ENTRY):
        blocks, block_length = struct.unpack_from("<II", header, at)
        if blocks == 0 and block_length == 0:
            return covered
        if blocks == 0 or block_length == 0:
            raise FirmwareFormatError(
                "%s: block map entry at +0x%x is %d blocks of 0x%x" % (where, at, blocks, block_length)
            )
        covered += blocks * block_length
    raise FirmwareFormatError("%s: block map has no end entry within its 0x%x-byte header" % (where, len(header)))


def _check_ext_header(buf, offset, length, header_length, ext_offset, where):
    if ext_offset < header_length or ext_offset + FV_EXT_HEADER_SIZE > length:
        raise FirmwareFormatError("%s: extended header offset 0x%x is outside the volume" % (where, ext_offset))
    (ext_size,) = struct.unpack_from("<I", buf, offset + ext_offset + 16)
    if ext_size < FV_EXT_HEADER_SIZE or ext_offset + ext_size > length:
        raise FirmwareFormatError("%s: extended header at +0x%x has size 0x%x" % (where, ext_offset, ext_size))
    return ext_size


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
        table = DATA_ALIGNMENTS_2 if self.attributes & FILE_ATTRIB_DATA_ALIGNMENT_2 else DATA_ALIGNMENTS
        return table[(self.attributes & FILE_ATTRIB_DATA_ALIGNMENT) >> 3]

    def describe(self):
        return "file %s at 0x%x" % (guid_text(self.name), self.offset)


def read_file_header(buf, offset, limit, where=None):
    """The header of the file at `offset`: its size field must keep it before
    `limit`. Refusals start with `where` (by default the file's name and offset)."""
    _need(limit, offset, FILE_HEADER_SIZE, "file header")
    name = uuid.UUID(bytes_le=bytes(buf[offset : offset + 16]))
    file_type, attributes = buf[offset + 18], buf[offset + 19]
    size = _u24(buf, offset + 20)
    ffs = FfsFile(offset, name, file_type, attributes, size, buf[offset + 23])
    where = where or ffs.describe()
    if attributes & FILE_ATTRIB_LARGE:
        raise UnsupportedImage("%s: the large-file header, which notice-insert does not read" % where)
    if size < FILE_HEADER_SIZE or offset + size > limit:
        raise FirmwareFormatError("%s: size 0x%x, room to 0x%x" % (where, size, limit))
    return ffs


def header_sum(buf, offset):
    """What a file header sums to with its state and data checksum taken as 0: 0 when its checksum is right."""
    header = bytearray(buf[offset : offset + FILE_HEADER_SIZE])
    header[17] = header[23] = 0
    return sum8(header)


def header_checksum_ok(buf, ffs):
    return header_sum(buf, ffs.offset) == 0


def check_file(buf, ffs, erased=ERASED, where=None):
    """A file's header checksum, its state (complete, for the volume's erase
    polarity) and its data checksum, or the 0xAA that stands for none."""
    where = where or ffs.describe()
    if header_sum(buf, ffs.offset):
        raise FirmwareFormatError(
            "%s: header checksum is wrong (the header sums to 0x%02x)" % (where, header_sum(buf, ffs.offset))
        )
    complete = FILE_STATE_COMPLETE ^ (0xFF if erased == ERASED else 0x00)
    if ffs.state != complete:
        raise FirmwareFormatError("%s: state 0x%02x, want 0x%02x (a complete file)" % (where, ffs.state, complete))
    file_checksum = buf[ffs.offset + 17]
    if ffs.attributes & FILE_ATTRIB_CHECKSUM:
        if (sum8(buf[ffs.data_offset : ffs.end]) + file_checksum) & 0xFF:
            raise FirmwareFormatError("%s: data checksum is wrong" % where)
    elif file_checksum != FILE_CHECKSUM_NOT_USED:
        raise FirmwareFormatError(
            "%s: data checksum field 0x%02x, want 0xaa (the file has no data checksum)" % (where, file_checksum)
        )


def read_file(buf, offset, limit, erased=ERASED, where=None):
    """A checked file; its sections are checked too when its type has them."""
    ffs = read_file_header(buf, offset, limit, where)
    check_file(buf, ffs, erased, where)
    if ffs.type in SECTIONED_FILE_TYPES:
        file_sections(buf, ffs, where)
    return ffs


def is_erased(buf, start, end, erased=ERASED):
    return buf[start:end].count(erased) == end - start


def check_file_alignment(ffs, volume):
    """A file's data sits on the boundary its attributes ask for, counted from
    the volume's start, and the volume itself is aligned at least as much."""
    wanted = ffs.data_alignment
    if wanted > volume.alignment:
        raise FirmwareFormatError(
            "%s: asks for its data aligned to 0x%x bytes, more than its volume's 0x%x"
            % (ffs.describe(), wanted, volume.alignment)
        )
    if (ffs.data_offset - volume.offset) % wanted:
        raise FirmwareFormatError(
            "%s: its data is not on the 0x%x-byte boundary its attributes ask for" % (ffs.describe(), wanted)
        )


def check_pad_file(buf, ffs, volume):
    """A pad file holds nothing but erased bytes, or the volume's extended header."""
    ext_start, ext_end = volume.ext_header
    spans = [(ffs.data_offset, ffs.end)]
    if ffs.data_offset <= ext_start < ffs.end:
        spans = [(ffs.data_offset, ext_start), (min(ext_end, ffs.end), ffs.end)]
    for start, end in spans:
        if not is_erased(buf, start, end, volume.erased_byte):
            raise FirmwareFormatError(
                "%s: a pad file holding data other than its volume's extended header" % ffs.describe()
            )


def read_files(buf, volume):
    """The checked files of a volume, in order, up to its free space; the free
    space starts at the returned offset and must be erased to the volume's
    end. An extended volume header lives inside the first (pad) file, so
    files start right after the header."""
    files = []
    offset = volume.offset + align_up(volume.header_length, FILE_ALIGNMENT)
    while offset + FILE_HEADER_SIZE <= volume.end:
        if is_erased(buf, offset, offset + FILE_HEADER_SIZE, volume.erased_byte):
            break
        ffs = read_file(buf, offset, volume.end, volume.erased_byte)
        check_file_alignment(ffs, volume)
        if ffs.type == FILE_TYPE_PAD:
            check_pad_file(buf, ffs, volume)
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
    """The sections that fill start..end exactly, each on a 4-byte boundary
    counted from `start` (start itself being 4-aligned in its file)."""
    sections = []
    offset = start
    while offset < end:
        _need(end, offset, SECTION_HEADER_SIZE, "section header")
        size, section_type = _u24(buf, offset), buf[offset + 3]
        header_size = SECTION_HEADER_SIZE
        if size == MAX_SIZE24:
            _need(end, offset, 8, "extended section header")
            (size,) = struct.unpack_from("<I", buf, offset + 4)
            header_size = 8
        if size < header_size or offset + size > end:
            raise FirmwareFormatError("section at 0x%x: size 0x%x, room to 0x%x" % (offset, size, end))
        if section_type not in SECTION_TYPES:
            raise FirmwareFormatError("section at 0x%x: type 0x%02x, which is no section type" % (offset, section_type))
        sections.append(Section(offset, section_type, size, header_size))
        offset = start + align_up(offset + size - start, SECTION_ALIGNMENT)
    if sections and sections[-1].end != end:
        raise FirmwareFormatError(
            "section at 0x%x ends at 0x%x, short of the end of what holds it (0x%x)"
            % (sections[-1].offset, sections[-1].end, end)
        )
    return sections


def file_sections(buf, ffs, where=None):
    try:
        return read_sections(buf, ffs.data_offset, ffs.end)
    except FirmwareFormatError as error:
        raise FirmwareFormatError("%s: %s" % (where or ffs.describe(), error)) from None


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
    if section.header_size != SECTION_HEADER_SIZE:
        raise UnsupportedImage("section at 0x%x uses the extended size header" % section.offset)
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
    _need(section.end, at, GUIDED_HEADER_SIZE, "GUID-defined section header")
    guid = uuid.UUID(bytes_le=bytes(buf[at : at + 16]))
    data_offset, attributes = struct.unpack_from("<HH", buf, at + 16)
    if data_offset < section.header_size + GUIDED_HEADER_SIZE or data_offset > section.size:
        raise FirmwareFormatError("GUID-defined section at 0x%x: data offset 0x%x" % (section.offset, data_offset))
    return GuidedSection(section, guid, data_offset, attributes)

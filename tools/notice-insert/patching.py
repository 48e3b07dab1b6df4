"""Putting FFS files into the DXE volume of an image and reading the result
back. Pure functions over bytes: the command (notice_insert.py) does the I/O.

The files go into the DXE volume's free space on 8-byte boundaries; with
`replace` a file of the same name is taken out first (the files after it
move up). A compressed volume is compressed again with the original LZMA
settings; every size and checksum that covers a changed byte is mended, and
the image keeps its size. Everything that can be checked without
compressing (the image, the files, the DXE volume's free space) is checked
before compressing.
"""

import dataclasses

import dxe_volume
import firmware_volume as fv
import lzma_codec


class DoesNotFit(fv.FirmwareFormatError):
    """The files, or the recompressed volume-image file, need more room than there is."""

    def __init__(self, limit, need, room, costs=(), dxe_free=None, counting_replaced=False):
        super().__init__("%s: need %d bytes, room for %d" % (limit, need, room))
        self.limit = limit  # DXE_FREE_SPACE or OUTER_ROOM
        self.need = need
        self.room = room
        self.costs = list(costs)  # roughly the compressed bytes each new file adds (OUTER_ROOM only)
        self.dxe_free = dxe_free  # what the DXE volume would still have free (OUTER_ROOM only)
        self.counting_replaced = counting_replaced  # the room counts the files replaced and those after them
        self.dxe = None  # the DXE volume (set by patch_image)


DXE_FREE_SPACE = "the DXE volume's free space"
OUTER_ROOM = "the room for the compressed volume-image file in its volume"


@dataclasses.dataclass
class Placement:
    replaced: list  # names of the files taken out
    spans: list  # (start, end) of each new file in the DXE volume's buffer
    free: int  # bytes free in the DXE volume afterwards


@dataclasses.dataclass
class Patched:
    image: bytearray
    dxe: dxe_volume.DxeVolume
    placement: Placement
    room_left: int  # in the limit that binds
    binding: str  # DXE_FREE_SPACE or OUTER_ROOM
    kept_files: list  # (name, bytes) of the DXE volume's files that must come through unchanged
    span: tuple  # (start, end) of the part of the image a patch may change


def check_new_file(data):
    """A complete FFS file we can place. Messages name no file: the caller knows which it is."""
    if len(data) < fv.FILE_HEADER_SIZE:
        raise fv.FirmwareFormatError("%d bytes, less than a file header (24)" % len(data))
    if fv.header_sum(data, 0):
        raise fv.FirmwareFormatError(
            "its header checksum is wrong (the header sums to 0x%02x)" % fv.header_sum(data, 0)
        )
    if data[19] & fv.FILE_ATTRIB_LARGE:
        raise fv.UnsupportedImage("uses the large-file header (FFS3), which notice-insert does not write")
    ffs_file = fv.read_file_header(data, 0, fv.MAX_SIZE24 + 1, where="its header")
    if ffs_file.size != len(data):
        raise fv.FirmwareFormatError("its header gives size 0x%x, the file has 0x%x bytes" % (ffs_file.size, len(data)))
    fv.read_file(data, 0, len(data), where="its header")
    if ffs_file.attributes & (fv.FILE_ATTRIB_DATA_ALIGNMENT | fv.FILE_ATTRIB_DATA_ALIGNMENT_2):
        raise fv.UnsupportedImage(
            "asks for its data aligned to %d bytes; notice-insert places files on 8-byte boundaries only"
            % ffs_file.data_alignment
        )
    return ffs_file


def layout_size(start, sizes):
    """Bytes from `start` to the end of the last of files of `sizes`, each on an 8-byte boundary."""
    at = start
    for size in sizes:
        at = fv.align_up(at, fv.FILE_ALIGNMENT) + size
    return at - start


def place_files(buf, volume, new_files, replace=False):
    """Writes `new_files` (checked FFS files, bytes each) into `volume` within
    `buf`: after its last file, or, with `replace`, in place of the files
    they replace (the files after those move up)."""
    if volume.erased_byte != fv.ERASED:
        raise fv.UnsupportedImage("the DXE volume has erase polarity 0; notice-insert writes files for polarity 1")
    existing, free = fv.read_files(buf, volume)
    names = [check_new_file(data).name for data in new_files]
    twice = [n for n in names if names.count(n) > 1]
    if twice:
        raise fv.FirmwareFormatError("file %s is given twice" % fv.guid_text(twice[0]))
    present = [f for f in existing if f.name in names]
    if present and not replace:
        raise fv.UnsupportedImage(
            "the DXE volume already holds file %s (give --replace to swap it)" % fv.guid_text(present[0].name)
        )
    start = present[0].offset if present else free
    moved = [f for f in existing if f.offset > start and f.name not in names]
    blocks = [bytes(buf[f.offset : f.end]) for f in moved] + [bytes(d) for d in new_files]
    need = layout_size(start - volume.offset, [len(b) for b in blocks])
    room = volume.end - start
    if need > room:
        raise DoesNotFit(DXE_FREE_SPACE, need, room, counting_replaced=bool(present))
    at = start
    spans = []
    for block, old in zip(blocks, moved + [None] * len(new_files)):
        aligned = volume.offset + fv.align_up(at - volume.offset, fv.FILE_ALIGNMENT)
        if old is not None and old.data_alignment > fv.FILE_ALIGNMENT and (aligned - old.offset) % old.data_alignment:
            raise fv.UnsupportedImage(
                "replacing would move file %s, whose data must stay aligned to %d bytes; "
                "not supported" % (fv.guid_text(old.name), old.data_alignment)
            )
        buf[at : aligned + len(block)] = b"\xff" * (aligned - at) + block  # the gap before a file is erased
        at = aligned + len(block)
        if old is None:
            spans.append((aligned, at))
    buf[at : volume.end] = b"\xff" * (volume.end - at)
    _, free_after = fv.read_files(buf, volume)
    return Placement([f.name for f in present], spans, volume.end - free_after)


def rebuild_outer_file(image, dxe, packed):
    """The volume-image file with the new compressed data in its GUID-defined
    section; the file's other sections are kept as they were."""
    old = dxe.outer_file
    new = bytearray(image[old.offset : old.data_offset])
    for section in fv.file_sections(image, old):
        new += b"\x00" * (fv.align_up(len(new), fv.SECTION_ALIGNMENT) - len(new))
        if section.offset != dxe.section.offset:
            new += image[section.offset : section.end]
            continue
        at = len(new)
        new += image[section.offset : section.offset + dxe.guided.data_offset] + packed
        rebased = fv.Section(at, section.type, section.size, section.header_size)
        fv.set_section_size(new, rebased, dxe.guided.data_offset + len(packed))
    rebased = fv.FfsFile(0, old.name, old.type, old.attributes, old.size, old.state)
    fv.set_file_size(new, rebased, len(new))
    fv.seal_file(new, rebased)
    return new


def check_outer_file_is_last(image, dxe):
    """The volume-image file may grow only into erased space: no file may follow it."""
    outer = dxe.outer_volume
    _, free = fv.read_files(image, outer)
    old_end = outer.offset + fv.align_up(dxe.outer_file.end - outer.offset, fv.FILE_ALIGNMENT)
    if free > old_end:
        raise fv.UnsupportedImage(
            "files follow the volume-image file %s in its volume; they would have to "
            "move, which notice-insert does not do" % fv.guid_text(dxe.outer_file.name)
        )


def write_back_compressed(image, dxe, new_files):
    """Puts the recompressed DXE volume back into its volume-image file; returns the room left after it."""
    packed = lzma_codec.compress_like(dxe.buffer, dxe.lzma_header)
    outer = dxe.outer_volume
    start = dxe.outer_file.offset
    room = outer.end - start
    # Whatever else the file holds, it holds the compressed data (and a size field cannot say more than 16 MiB).
    new_file = rebuild_outer_file(image, dxe, packed) if len(packed) < min(room, fv.MAX_SIZE24) else packed
    if len(new_file) > room:
        _, free = fv.read_files(dxe.buffer, dxe.volume)
        growth = len(packed) - (dxe.section.size - dxe.guided.data_offset)
        costs = lzma_codec.shares(growth, new_files, dxe.lzma_header)
        raise DoesNotFit(OUTER_ROOM, len(new_file), room, costs, dxe.volume.end - free)
    image[start : start + len(new_file)] = new_file
    image[start + len(new_file) : outer.end] = bytes([outer.erased_byte]) * (room - len(new_file))
    return room - len(new_file)


def patch_image(image, new_files, replace=False):
    """A copy of `image` whose DXE volume also holds `new_files` (checked FFS files)."""
    image = bytearray(image)
    dxe = dxe_volume.find_dxe_volume(image)
    if dxe.kind == dxe_volume.COMPRESSED:
        check_outer_file_is_last(image, dxe)
    new_names = {fv.read_file_header(data, 0, len(data)).name for data in new_files}
    kept_files = [(name, data) for name, data in dxe_files(dxe) if name not in new_names]
    if dxe.kind == dxe_volume.TOP_LEVEL:
        span = (dxe.volume.offset, dxe.volume.end)
    else:
        span = (dxe.outer_file.offset, dxe.outer_volume.end)
    try:
        placement = place_files(dxe.buffer, dxe.volume, new_files, replace)
        room_left, binding = placement.free, DXE_FREE_SPACE
        if dxe.kind == dxe_volume.COMPRESSED:
            outer_left = write_back_compressed(image, dxe, new_files)
            if outer_left < placement.free:
                room_left, binding = outer_left, OUTER_ROOM
    except DoesNotFit as error:
        error.dxe = dxe
        raise
    if dxe.kind == dxe_volume.NESTED:
        fv.seal_file(image, dxe.outer_file)
    return Patched(image, dxe, placement, room_left, binding, kept_files, span)


class ReadBackFailed(fv.FirmwareFormatError):
    """The patched image does not read back as written: a fault of notice-insert's, not of its input."""


def dxe_files(dxe):
    """(name, bytes) of every file of the DXE volume, in order."""
    return [(f.name, bytes(dxe.buffer[f.offset : f.end])) for f in fv.read_files(dxe.buffer, dxe.volume)[0]]


def verify_patched(image, new_files, base=None, kept_files=(), span=(0, 0)):
    """Reads `image` back with the same checks as any input: every new file
    is in the DXE volume byte for byte, and so is each of `kept_files`; with
    `base`, the bytes outside `span` (the part a patch may change) are the
    base's. Returns the DXE volume found."""
    try:
        dxe = dxe_volume.find_dxe_volume(image)
    except fv.FirmwareFormatError as error:
        raise ReadBackFailed("the patched image does not read back: %s" % error) from None
    found = dict(dxe_files(dxe))
    for data in new_files:
        name = fv.read_file_header(data, 0, len(data)).name
        if found.get(name) != bytes(data):
            raise ReadBackFailed("file %s is not in the patched DXE volume as written" % fv.guid_text(name))
    for name, data in kept_files:
        if found.get(name) != data:
            raise ReadBackFailed("file %s of the DXE volume changed in patching" % fv.guid_text(name))
    start, end = span
    image_view, base_view = memoryview(image), memoryview(base or b"")
    if base is not None and (
        len(image) != len(base) or image_view[:start] != base_view[:start] or image_view[end:] != base_view[end:]
    ):
        raise ReadBackFailed("bytes outside 0x%x..0x%x changed in patching" % (start, end))
    return dxe

"""Finding the DXE volume of a firmware image: the FFS2 volume that holds the
DXE core file. It may be one of the image's own volumes, sit uncompressed in
a volume-image file, or sit LZMA-compressed (a GUID-defined section in the
"alone" format) in a volume-image file, as in OVMF's code images.

Every layout this module does not handle raises UnsupportedImage naming what
it found and where.
"""

import dataclasses
import lzma
import struct

import firmware_volume as fv

LZMA_HEADER_SIZE = 13
TOP_LEVEL, NESTED, COMPRESSED = (
    "one of the image's volumes",
    "inside volume-image file",
    "LZMA-compressed inside volume-image file",
)


class UnsupportedImage(fv.FirmwareFormatError):
    """The image is sound as far as read, but laid out in a way we do not patch."""


@dataclasses.dataclass
class DxeVolume:
    """Where the DXE volume lives. `buffer` holds its bytes: the image itself,
    or for a compressed one the decompressed section content."""

    kind: str
    buffer: bytearray
    volume: fv.Volume
    outer_volume: fv.Volume = None  # the image's volume holding the volume-image file
    outer_file: fv.FfsFile = None  # the volume-image file (nested and compressed kinds)
    section: fv.Section = None  # the GUID-defined section (compressed kind)
    guided: fv.GuidedSection = None
    lzma_header: bytes = b""

    def describe(self):
        if self.outer_file is None:
            return "%s, at 0x%x" % (self.kind, self.volume.offset)
        return "%s %s at 0x%x" % (self.kind, str(self.outer_file.name).upper(), self.outer_file.offset)


def decode_lzma_header(header):
    """(lc, lp, pb, dictionary size, uncompressed size) of a 13-byte "alone" header."""
    properties, dictionary_size, uncompressed_size = struct.unpack("<BIQ", header)
    if properties >= 9 * 5 * 5:
        raise fv.FirmwareFormatError("bad LZMA properties byte 0x%02x" % properties)
    return properties % 9, properties // 9 % 5, properties // 45, dictionary_size, uncompressed_size


def decompress_section(image, section, guided):
    data = bytes(image[section.offset + guided.data_offset : section.end])
    if len(data) < LZMA_HEADER_SIZE:
        raise fv.FirmwareFormatError("LZMA section at 0x%x is shorter than its header" % section.offset)
    *_, expected_size = decode_lzma_header(data[:LZMA_HEADER_SIZE])
    content = bytearray(lzma.decompress(data, format=lzma.FORMAT_ALONE))
    if len(content) != expected_size:
        raise fv.FirmwareFormatError(
            "LZMA data at 0x%x gives 0x%x bytes, its header says 0x%x" % (section.offset, len(content), expected_size)
        )
    return data[:LZMA_HEADER_SIZE], content


def holds_dxe_core(buf, volume):
    files, _ = fv.read_files(buf, volume)
    return any(f.type == fv.FILE_TYPE_DXE_CORE for f in files)


def inner_volumes(buf, start, end):
    """The volumes in the FV-image sections between start and end."""
    return [
        fv.read_volume(buf, s.body_offset)
        for s in fv.read_sections(buf, start, end)
        if s.type == fv.SECTION_VOLUME_IMAGE
    ]


def top_level_volumes(image):
    if bytes(image[fv.FV_SIGNATURE_OFFSET : fv.FV_SIGNATURE_OFFSET + 4]) != fv.FV_SIGNATURE:
        raise UnsupportedImage(
            "no firmware volume at offset 0. notice-insert reads images made of firmware volumes "
            "laid end to end from offset 0 (like OVMF's code images); a whole flash image with a "
            "descriptor or other regions is not supported: give it the BIOS region alone"
        )
    try:
        return fv.find_volumes(image)
    except fv.FirmwareFormatError as error:
        raise UnsupportedImage("%s; notice-insert handles FFS2 volumes laid end to end" % error) from None


def find_dxe_volume(image):
    """The DXE volume of `image` (a bytearray); raises UnsupportedImage when none is found."""
    skipped = []
    volumes = top_level_volumes(image)
    for volume in volumes:
        if holds_dxe_core(image, volume):
            return DxeVolume(TOP_LEVEL, image, volume)
    for volume in volumes:
        files, _ = fv.read_files(image, volume)
        for outer_file in files:
            if outer_file.type != fv.FILE_TYPE_VOLUME_IMAGE:
                continue
            sections = fv.file_sections(image, outer_file)
            for inner in inner_volumes(image, outer_file.data_offset, outer_file.end):
                if holds_dxe_core(image, inner):
                    return DxeVolume(NESTED, image, inner, volume, outer_file)
            for section in sections:
                if section.type != fv.SECTION_GUID_DEFINED:
                    continue
                guided = fv.read_guided_section(image, section)
                if guided.guid != fv.LZMA_SECTION_GUID:
                    skipped.append(
                        "file %s holds a GUID-defined section %s (a method other than LZMA)"
                        % (outer_file.name, guided.guid)
                    )
                    continue
                header, content = decompress_section(image, section, guided)
                for inner in inner_volumes(content, 0, len(content)):
                    if holds_dxe_core(content, inner):
                        return DxeVolume(COMPRESSED, content, inner, volume, outer_file, section, guided, header)
    raise UnsupportedImage(
        "no volume holding the DXE core file (type 0x05) found among %d volume(s) of the "
        "image and their volume-image files%s"
        % (len(volumes), "; not opened: " + "; ".join(skipped) if skipped else "")
    )

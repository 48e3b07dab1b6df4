"""Finding the DXE volume of a firmware image: the FFS2 volume that holds the
DXE core file. It may be one of the image's own volumes, sit uncompressed in
a volume-image file, or sit LZMA-compressed (a GUID-defined section in the
"alone" format) in a volume-image file, as in OVMF's code images.

Everything on the way is checked as it is read (firmware_volume.py): the
image's volumes and files, the volume-image file's sections, the LZMA data
and the volumes inside it. Damage raises FirmwareFormatError, a layout this
module does not handle UnsupportedImage, each naming what it found and where.
"""

import dataclasses
import struct

import firmware_volume as fv
import lzma_codec

TOP_LEVEL, NESTED, COMPRESSED = (
    "one of the image's volumes",
    "inside volume-image file",
    "LZMA-compressed inside volume-image file",
)
# A flash descriptor's signature, 16 bytes into a whole flash image.
FLASH_DESCRIPTOR_SIGNATURE = struct.pack("<I", 0x0FF0A55A)
FLASH_DESCRIPTOR_OFFSET = 16


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
    lzma_header: lzma_codec.LzmaHeader = None

    def describe(self):
        if self.outer_file is None:
            return "%s, at 0x%x" % (self.kind, self.volume.offset)
        return "%s %s at 0x%x" % (self.kind, fv.guid_text(self.outer_file.name), self.outer_file.offset)


def decompress_section(image, section, guided):
    data = image[section.offset + guided.data_offset : section.end]
    try:
        return lzma_codec.decompress(data)
    except fv.FirmwareFormatError as error:
        raise type(error)("LZMA section at 0x%x: %s" % (section.offset, error)) from None


def holds_dxe_core(buf, volume):
    files, _ = fv.read_files(buf, volume)
    return any(f.type == fv.FILE_TYPE_DXE_CORE for f in files)


def inner_volumes(buf, start, end):
    """The volumes in the FV-image sections between start and end, each within its section."""
    return [
        fv.read_volume(buf, s.body_offset, s.end)
        for s in fv.read_sections(buf, start, end)
        if s.type == fv.SECTION_VOLUME_IMAGE
    ]


def no_volume_at_start(image):
    """Why an image without a volume at offset 0 is refused, in the words that fit what it holds."""
    if image[FLASH_DESCRIPTOR_OFFSET : FLASH_DESCRIPTOR_OFFSET + 4] == FLASH_DESCRIPTOR_SIGNATURE:
        return fv.UnsupportedImage(
            "a whole flash image (it starts with a flash descriptor); notice-insert reads images made of "
            "firmware volumes laid end to end from offset 0, like OVMF's code images: give it the BIOS region alone"
        )
    at = image.find(fv.FV_SIGNATURE, fv.FV_SIGNATURE_OFFSET)
    while at >= 0 and (at - fv.FV_SIGNATURE_OFFSET) % 8:
        at = image.find(fv.FV_SIGNATURE, at + 1)
    if at < 0:
        return fv.UnsupportedImage(
            "holds no firmware volume (no volume signature anywhere); give a firmware image such as OVMF_CODE_4M.fd"
        )
    return fv.UnsupportedImage(
        "its first firmware volume is at 0x%x, not at 0; notice-insert reads images made of volumes laid end "
        "to end from offset 0: give it the part from that volume on" % (at - fv.FV_SIGNATURE_OFFSET)
    )


def top_level_volumes(image):
    """The image's volumes, laid end to end from offset 0 to its end."""
    if len(image) < fv.FV_HEADER_SIZE or not fv.has_volume_signature(image, 0):
        raise no_volume_at_start(image)
    volumes = []
    offset = 0
    while offset < len(image):
        if not fv.has_volume_signature(image, offset):
            raise fv.UnsupportedImage(
                "no volume at 0x%x, after the volume at 0x%x; notice-insert handles volumes laid end to end "
                "to the image's end" % (offset, volumes[-1].offset)
            )
        (length,) = struct.unpack_from("<Q", image, offset + 32) if offset + 40 <= len(image) else (0,)
        if offset + length > len(image):
            raise fv.FirmwareFormatError(
                "the image is cut short: it ends at 0x%x, inside the volume at 0x%x of 0x%x bytes"
                % (len(image), offset, length)
            )
        volumes.append(fv.read_volume(image, offset))
        offset = volumes[-1].end
    return volumes


def find_dxe_volume(image):
    """The DXE volume of `image` (a bytearray), every header on the way checked."""
    skipped = []
    volumes = top_level_volumes(image)
    volume_files = [(volume, fv.read_files(image, volume)[0]) for volume in volumes]
    for volume, files in volume_files:
        if any(f.type == fv.FILE_TYPE_DXE_CORE for f in files):
            return DxeVolume(TOP_LEVEL, image, volume)
    for volume, files in volume_files:
        for outer_file in files:
            if outer_file.type != fv.FILE_TYPE_VOLUME_IMAGE:
                continue
            found = dxe_volume_in_file(image, volume, outer_file, skipped)
            if found is not None:
                return found
    raise fv.UnsupportedImage(
        "no volume holding the DXE core file (type 0x05) found among %d volume(s) of the "
        "image and their volume-image files%s"
        % (len(volumes), "; not opened: " + "; ".join(skipped) if skipped else "")
    )


def dxe_volume_in_file(image, volume, outer_file, skipped):
    """The DXE volume inside volume-image file `outer_file`, or None (noting in `skipped` what was not opened)."""
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
                % (fv.guid_text(outer_file.name), guided.guid)
            )
            continue
        header, content = decompress_section(image, section, guided)
        try:
            for inner in inner_volumes(content, 0, len(content)):
                if holds_dxe_core(content, inner):
                    return DxeVolume(COMPRESSED, content, inner, volume, outer_file, section, guided, header)
        except fv.FirmwareFormatError as error:
            raise type(error)(
                "in the LZMA-compressed data of %s (offsets from its start): %s" % (outer_file.describe(), error)
            ) from None
    return None

#!/usr/bin/env python3
"""Builds a test firmware image: a copy of an OVMF code image whose DXE volume
also holds the given FFS files (the notice driver and pictures written by
notice-pack --ffs-out).

The DXE volume sits LZMA-compressed inside a FIRMWARE_VOLUME_IMAGE file of the
image's first volume. The builder decompresses it, appends the files to the
DXE volume's free space, recompresses with the original LZMA properties and
dictionary, and puts the file back in place, sizes and checksums mended. The
image keeps its size; the space the new file does not use is erased.

    build_image.py --base /usr/share/OVMF/OVMF_CODE_4M.fd --ffs-dir FFS --out OVMF_CODE_notice.fd
"""

import argparse
import dataclasses
import lzma
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ffs  # noqa: E402

LZMA_HEADER_SIZE = 13


@dataclasses.dataclass
class CompressedDxe:
    """Where the compressed DXE volume lives in an image, and its content."""
    outer_volume: ffs.Volume
    outer_file: ffs.FfsFile
    guided: ffs.GuidedSection
    lzma_header: bytes
    content: bytearray                  # decompressed: FV image sections and padding
    dxe_volume: ffs.Volume              # within `content`


def _decode_lzma_header(header):
    properties, dictionary_size, uncompressed_size = struct.unpack("<BIQ", header)
    if properties >= 9 * 5 * 5:
        raise ffs.FirmwareFormatError("bad LZMA properties byte 0x%02x" % properties)
    lc = properties % 9
    lp = properties // 9 % 5
    pb = properties // 45
    return lc, lp, pb, dictionary_size, uncompressed_size


def find_compressed_dxe(image):
    """The first volume-image file whose first section is LZMA GUID-defined
    and holds FV image sections; its largest inner volume is the DXE volume."""
    for volume in ffs.find_volumes(image):
        files, _ = ffs.read_files(image, volume)
        for outer_file in files:
            if outer_file.type != ffs.FILE_TYPE_VOLUME_IMAGE:
                continue
            sections = ffs.file_sections(image, outer_file)
            if not sections or sections[0].type != ffs.SECTION_GUID_DEFINED:
                continue
            guided = ffs.read_guided_section(image, sections[0])
            if guided.guid != ffs.LZMA_SECTION_GUID:
                continue
            data = bytes(image[sections[0].offset + guided.data_offset:sections[0].end])
            if len(data) < LZMA_HEADER_SIZE:
                raise ffs.FirmwareFormatError("LZMA section too short")
            *_, expected_size = _decode_lzma_header(data[:LZMA_HEADER_SIZE])
            content = bytearray(lzma.decompress(data, format=lzma.FORMAT_ALONE))
            if len(content) != expected_size:
                raise ffs.FirmwareFormatError("LZMA data gives 0x%x bytes, header says 0x%x"
                                              % (len(content), expected_size))
            inner = [s for s in ffs.read_sections(content, 0, len(content)) if s.type == ffs.SECTION_VOLUME_IMAGE]
            if not inner:
                continue
            largest = max(inner, key=lambda s: s.size)
            dxe_volume = ffs.read_volume(content, largest.body_offset)
            if dxe_volume.end > largest.end:
                raise ffs.FirmwareFormatError("DXE volume overruns its section")
            return CompressedDxe(volume, outer_file, guided, data[:LZMA_HEADER_SIZE], content, dxe_volume)
    raise ffs.FirmwareFormatError("no LZMA-compressed volume image file found")


def check_ffs_file(data):
    """A complete FFS file we can place: sound header, 8-byte placement is enough."""
    ffs_file = ffs.read_file(data, 0, len(data))
    if ffs_file.size != len(data):
        raise ffs.FirmwareFormatError("FFS file %s: size field 0x%x, file 0x%x bytes"
                                      % (ffs_file.name, ffs_file.size, len(data)))
    if not ffs.header_checksum_ok(data, ffs_file):
        raise ffs.FirmwareFormatError("FFS file %s: bad header checksum" % ffs_file.name)
    if ffs_file.attributes & ffs.FILE_ATTRIB_DATA_ALIGNMENT:
        raise ffs.FirmwareFormatError("FFS file %s asks for data alignment above 8 bytes; not supported"
                                      % ffs_file.name)
    if data[23] != 0xF8:
        raise ffs.FirmwareFormatError("FFS file %s: state 0x%02x, want 0xF8 (complete, erase polarity 1)"
                                      % (ffs_file.name, data[23]))
    return ffs_file


def append_files(buf, volume, new_files):
    """Writes `new_files` (bytes each) into the free space of `volume`, each
    on an 8-byte boundary of the volume. Returns the offsets used."""
    if volume.erased_byte != ffs.ERASED:
        raise ffs.FirmwareFormatError("the DXE volume has erase polarity 0; the files are written for 1")
    existing, free = ffs.read_files(buf, volume)
    names = {f.name for f in existing}
    offsets = []
    for data in new_files:
        ffs_file = check_ffs_file(data)
        if ffs_file.name in names:
            raise ffs.FirmwareFormatError("the DXE volume already holds a file %s" % ffs_file.name)
        names.add(ffs_file.name)
        at = volume.offset + ffs.align_up(free - volume.offset, ffs.FILE_ALIGNMENT)
        if at + len(data) > volume.end:
            raise ffs.FirmwareFormatError("the DXE volume has no room for file %s" % ffs_file.name)
        buf[at:at + len(data)] = data
        offsets.append(at)
        free = at + len(data)
    return offsets


def compress_like(content, lzma_header):
    """LZMA "alone" data with the original lc/lp/pb and dictionary, and the
    real uncompressed size in its header (the encoder writes "unknown")."""
    lc, lp, pb, dictionary_size, _ = _decode_lzma_header(lzma_header)
    lzma_filter = {"id": lzma.FILTER_LZMA1, "dict_size": dictionary_size, "lc": lc, "lp": lp, "pb": pb}
    packed = bytearray(lzma.compress(bytes(content), format=lzma.FORMAT_ALONE, filters=[lzma_filter]))
    if packed[:5] != lzma_header[:5]:
        raise ffs.FirmwareFormatError("encoder wrote properties %s, want %s" % (packed[:5].hex(), lzma_header[:5].hex()))
    packed[5:13] = struct.pack("<Q", len(content))
    return packed


def rebuild_outer_file(image, dxe, packed):
    """The volume-image file with the new compressed data: same header and
    GUID-section header, any sections after the GUID section kept."""
    old = dxe.outer_file
    guided_section = dxe.guided.section
    new = bytearray(image[old.offset:guided_section.offset + dxe.guided.data_offset])
    new += packed
    for section in ffs.file_sections(image, old)[1:]:
        new += b"\x00" * (ffs.align_up(len(new), ffs.SECTION_ALIGNMENT) - len(new))
        new += image[section.offset:section.end]
    rebased = ffs.FfsFile(0, old.name, old.type, old.attributes, old.size, old.state)
    ffs.set_file_size(new, rebased, len(new))
    section = ffs.Section(guided_section.offset - old.offset, guided_section.type, guided_section.size,
                          guided_section.header_size)
    ffs.set_section_size(new, section, dxe.guided.data_offset + len(packed))
    ffs.seal_file(new, rebased)
    return new


def patch_image(image, new_files):
    """A copy of `image` whose DXE volume also holds `new_files`."""
    image = bytearray(image)
    dxe = find_compressed_dxe(image)
    append_files(dxe.content, dxe.dxe_volume, new_files)
    if not ffs.read_volume(dxe.content, dxe.dxe_volume.offset).checksum_valid:
        raise ffs.FirmwareFormatError("DXE volume header checksum is not valid")
    new_file = rebuild_outer_file(image, dxe, compress_like(dxe.content, dxe.lzma_header))

    outer = dxe.outer_volume
    _, free = ffs.read_files(image, outer)
    old_end = outer.offset + ffs.align_up(dxe.outer_file.end - outer.offset, ffs.FILE_ALIGNMENT)
    if free > old_end:
        raise ffs.FirmwareFormatError("files follow the volume-image file; they would move")
    start = dxe.outer_file.offset
    if start + len(new_file) > outer.end:
        raise ffs.FirmwareFormatError("the recompressed file (0x%x bytes) does not fit its volume (0x%x bytes free)"
                                      % (len(new_file), outer.end - start))
    image[start:outer.end] = new_file + bytes([outer.erased_byte]) * (outer.end - start - len(new_file))
    return image


def verify_patched(image, new_files):
    """Reads the patched image back: the outer file checks, and every new
    file is in the DXE volume byte for byte."""
    dxe = find_compressed_dxe(image)
    if not ffs.header_checksum_ok(image, dxe.outer_file):
        raise ffs.FirmwareFormatError("volume-image file header checksum is not valid")
    files, _ = ffs.read_files(dxe.content, dxe.dxe_volume)
    by_name = {f.name: f for f in files}
    for data in new_files:
        name = ffs.read_file(data, 0, len(data)).name
        found = by_name.get(name)
        if found is None or bytes(dxe.content[found.offset:found.end]) != bytes(data):
            raise ffs.FirmwareFormatError("file %s is not in the patched DXE volume as written" % name)
    return dxe


def read_ffs_inputs(ffs_dir, ffs_paths):
    paths = list(ffs_paths)
    if ffs_dir:
        paths += sorted(os.path.join(ffs_dir, n) for n in os.listdir(ffs_dir) if n.endswith(".ffs"))
    if not paths:
        raise ffs.FirmwareFormatError("no FFS files given")
    files = []
    for path in paths:
        with open(path, "rb") as f:
            files.append(f.read())
    return files


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--base", required=True, help="OVMF code image, e.g. /usr/share/OVMF/OVMF_CODE_4M.fd")
    parser.add_argument("--ffs-dir", help="directory of .ffs files (notice-pack --ffs-out)")
    parser.add_argument("--ffs", action="append", default=[], help="one FFS file (repeatable)")
    parser.add_argument("--out", required=True, help="patched image to write")
    args = parser.parse_args(argv)

    started = time.monotonic()
    try:
        new_files = read_ffs_inputs(args.ffs_dir, args.ffs)
        with open(args.base, "rb") as f:
            base = f.read()
        patched = patch_image(base, new_files)
        dxe = verify_patched(patched, new_files)
    except (ffs.FirmwareFormatError, OSError, lzma.LZMAError) as error:
        print("build_image: %s" % error, file=sys.stderr)
        return 1
    with open(args.out, "wb") as f:
        f.write(patched)
    files, free = ffs.read_files(dxe.content, dxe.dxe_volume)
    print("build_image: %s: %d files added, DXE volume now %d files, 0x%x bytes free; "
          "compressed file 0x%x bytes; %.1f s"
          % (args.out, len(new_files), len(files), dxe.dxe_volume.end - free, dxe.outer_file.size,
             time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())

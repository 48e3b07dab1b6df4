#!/usr/bin/env python3
"""notice-insert: puts FFS files (the notice driver and pictures that
notice-pack --ffs-out writes) into the DXE volume of an existing firmware
image, so the firmware's DXE core dispatches the driver and serves the
pictures.

    notice-insert --base OVMF_CODE_4M.fd --out OVMF_CODE_4M.notice.fd [--replace] FILE.ffs... | --ffs-dir DIR

The DXE volume is the volume that holds the DXE core file: one of the image's
own volumes, or one inside a volume-image file, uncompressed or LZMA-
compressed (OVMF's layout). The files go into its free space on 8-byte
boundaries; with --replace a file of the same name is taken out first (the
files after it move up). A compressed volume is compressed again with the
original LZMA settings; every size and checksum that covers a changed byte is
mended, and the image keeps its size. When the files do not fit, nothing is
written and the sizes are printed.

Exit status: 0 written, 1 refused (does not fit, unsupported image, unreadable
file), 2 bad usage.
"""

import argparse
import lzma
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dxe_volume  # noqa: E402
import firmware_volume as fv  # noqa: E402


class DoesNotFit(fv.FirmwareFormatError):
    """The files, or the recompressed volume, need more room than there is."""


class InputError(Exception):
    """A file or directory given on the command line cannot be read."""


def check_ffs_file(data):
    """A complete FFS file we can place: sound header, 8-byte placement is enough."""
    ffs_file = fv.read_file(data, 0, len(data))
    if ffs_file.size != len(data):
        raise fv.FirmwareFormatError(
            "FFS file %s: size field 0x%x, file 0x%x bytes" % (ffs_file.name, ffs_file.size, len(data))
        )
    if not fv.header_checksum_ok(data, ffs_file):
        raise fv.FirmwareFormatError("FFS file %s: bad header checksum" % ffs_file.name)
    if ffs_file.attributes & fv.FILE_ATTRIB_DATA_ALIGNMENT:
        raise fv.FirmwareFormatError("FFS file %s asks for data alignment above 8 bytes; not supported" % ffs_file.name)
    if data[23] != 0xF8:
        raise fv.FirmwareFormatError(
            "FFS file %s: state 0x%02x, want 0xF8 (complete, erase polarity 1)" % (ffs_file.name, data[23])
        )
    return ffs_file


def layout_size(start, sizes):
    """Bytes from `start` to the end of the last of files of `sizes`, each on an 8-byte boundary."""
    at = start
    for size in sizes:
        at = fv.align_up(at, fv.FILE_ALIGNMENT) + size
    return at - start


def place_files(buf, volume, new_files, replace=False):
    """Writes `new_files` (bytes each) into `volume` within `buf`: after its
    last file, or, with `replace`, in place of the files they replace (the
    files after those move up). Returns the names replaced."""
    if volume.erased_byte != fv.ERASED:
        raise fv.FirmwareFormatError("the DXE volume has erase polarity 0; the files are written for 1")
    existing, free = fv.read_files(buf, volume)
    names = [check_ffs_file(data).name for data in new_files]
    if len(set(names)) != len(names):
        raise fv.FirmwareFormatError(
            "file %s is given twice" % str(next(n for n in names if names.count(n) > 1)).upper()
        )
    present = [f for f in existing if f.name in names]
    if present and not replace:
        raise fv.FirmwareFormatError(
            "the DXE volume already holds file %s (give --replace to swap it)" % str(present[0].name).upper()
        )
    start = present[0].offset if present else free
    moved = [f for f in existing if f.offset > start and f.name not in names]
    blocks = [bytes(buf[f.offset : f.end]) for f in moved] + [bytes(d) for d in new_files]
    need = layout_size(start - volume.offset, [len(b) for b in blocks])
    room = volume.end - start
    if need > room:
        raise DoesNotFit(
            "the DXE volume has %d bytes free%s; the files need %d bytes (%d bytes too many)"
            % (room, " counting the files replaced and those after them" if present else "", need, need - room)
        )
    at = start
    for block, old in zip(blocks, moved + [None] * len(new_files)):
        aligned = volume.offset + fv.align_up(at - volume.offset, fv.FILE_ALIGNMENT)
        if old is not None and old.data_alignment > fv.FILE_ALIGNMENT and (aligned - old.offset) % old.data_alignment:
            raise fv.FirmwareFormatError(
                "replacing would move file %s, whose data must stay aligned to %d bytes; "
                "not supported" % (str(old.name).upper(), old.data_alignment)
            )
        buf[at : aligned + len(block)] = b"\xff" * (aligned - at) + block  # the gap before a file is erased
        at = aligned + len(block)
    buf[at : volume.end] = b"\xff" * (volume.end - at)
    return [f.name for f in present]


def compress_like(content, lzma_header):
    """LZMA "alone" data with the original lc/lp/pb and dictionary, and the
    real uncompressed size in its header (the encoder writes "unknown")."""
    lc, lp, pb, dictionary_size, _ = dxe_volume.decode_lzma_header(lzma_header)
    lzma_filter = {"id": lzma.FILTER_LZMA1, "dict_size": dictionary_size, "lc": lc, "lp": lp, "pb": pb}
    packed = bytearray(lzma.compress(bytes(content), format=lzma.FORMAT_ALONE, filters=[lzma_filter]))
    if packed[:5] != lzma_header[:5]:
        raise fv.FirmwareFormatError("encoder wrote properties %s, want %s" % (packed[:5].hex(), lzma_header[:5].hex()))
    packed[5:13] = struct.pack("<Q", len(content))
    return packed


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


def write_back_compressed(image, dxe):
    """Puts the recompressed DXE volume back into its volume-image file."""
    if not fv.read_volume(dxe.buffer, dxe.volume.offset).checksum_valid:
        raise fv.FirmwareFormatError("DXE volume header checksum is not valid")
    new_file = rebuild_outer_file(image, dxe, compress_like(dxe.buffer, dxe.lzma_header))
    outer = dxe.outer_volume
    _, free = fv.read_files(image, outer)
    old_end = outer.offset + fv.align_up(dxe.outer_file.end - outer.offset, fv.FILE_ALIGNMENT)
    if free > old_end:
        raise dxe_volume.UnsupportedImage(
            "files follow the volume-image file %s in its volume; they would have to "
            "move, which notice-insert does not do" % dxe.outer_file.name
        )
    start = dxe.outer_file.offset
    room = outer.end - start
    if len(new_file) > room:
        raise DoesNotFit(
            "the recompressed volume-image file is %d bytes; its volume has %d bytes from the file's "
            "start (%d bytes too many)" % (len(new_file), room, len(new_file) - room)
        )
    image[start : outer.end] = new_file + bytes([outer.erased_byte]) * (room - len(new_file))


def patch_image(image, new_files, replace=False):
    """A copy of `image` whose DXE volume also holds `new_files`; returns (image, names replaced)."""
    image = bytearray(image)
    dxe = dxe_volume.find_dxe_volume(image)
    replaced = place_files(dxe.buffer, dxe.volume, new_files, replace)
    if dxe.kind == dxe_volume.COMPRESSED:
        write_back_compressed(image, dxe)
    elif dxe.kind == dxe_volume.NESTED:
        fv.seal_file(image, dxe.outer_file)
    return image, replaced


def verify_patched(image, new_files):
    """Reads the patched image back: the enclosing file checks, and every new
    file is in the DXE volume byte for byte. Returns the DXE volume found."""
    dxe = dxe_volume.find_dxe_volume(bytearray(image))
    if dxe.outer_file is not None and not fv.header_checksum_ok(image, dxe.outer_file):
        raise fv.FirmwareFormatError("volume-image file header checksum is not valid")
    files, _ = fv.read_files(dxe.buffer, dxe.volume)
    by_name = {f.name: f for f in files}
    for data in new_files:
        name = fv.read_file(data, 0, len(data)).name
        found = by_name.get(name)
        if found is None or bytes(dxe.buffer[found.offset : found.end]) != bytes(data):
            raise fv.FirmwareFormatError("file %s is not in the patched DXE volume as written" % name)
    return dxe


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise InputError("cannot read %s: %s" % (path, error.strerror)) from None


def read_ffs_inputs(ffs_dir, ffs_paths):
    paths = list(ffs_paths)
    if ffs_dir:
        try:
            names = os.listdir(ffs_dir)
        except OSError as error:
            raise InputError("cannot read %s: %s" % (ffs_dir, error.strerror)) from None
        paths += sorted(os.path.join(ffs_dir, n) for n in names if n.endswith(".ffs"))
        if not any(n.endswith(".ffs") for n in names):
            raise InputError("%s holds no .ffs file" % ffs_dir)
    return [read_file(path) for path in paths]


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(2, "notice-insert: %s (see --help)\n" % message)


def parse_arguments(argv):
    parser = Parser(
        prog="notice-insert",
        description=__doc__.split("\n\n")[0],
        epilog="Exit status: 0 written, 1 refused, 2 bad usage.",
    )
    parser.add_argument("--base", required=True, help="the firmware image to start from (read only)")
    parser.add_argument("--out", required=True, help="the image to write (same size as --base)")
    parser.add_argument(
        "--replace",
        action="store_true",
        help="replace files of the same name already in the DXE volume (otherwise refused)",
    )
    parser.add_argument("--ffs-dir", help="every .ffs file of this directory (notice-pack --ffs-out)")
    parser.add_argument("ffs", nargs="*", metavar="FILE.ffs", help="FFS files to put in")
    args = parser.parse_args(argv)
    if not args.ffs and not args.ffs_dir:
        parser.error("no FFS files given: name them or give --ffs-dir")
    return args


def main(argv=None):
    args = parse_arguments(argv)
    started = time.monotonic()
    try:
        new_files = read_ffs_inputs(args.ffs_dir, args.ffs)
        base = read_file(args.base)
        patched, replaced = patch_image(base, new_files, args.replace)
        dxe = verify_patched(patched, new_files)
    except InputError as error:
        print("notice-insert: %s" % error, file=sys.stderr)
        return 1
    except DoesNotFit as error:
        print(
            "notice-insert: %s: nothing written. Use smaller pictures (fewer colours, smaller size) or a "
            "firmware build with a larger DXE volume." % error,
            file=sys.stderr,
        )
        return 1
    except (fv.FirmwareFormatError, lzma.LZMAError) as error:
        print("notice-insert: %s: %s: nothing written" % (args.base, error), file=sys.stderr)
        return 1
    try:
        with open(args.out, "wb") as f:
            f.write(patched)
    except OSError as error:
        print("notice-insert: cannot write %s: %s" % (args.out, error.strerror), file=sys.stderr)
        return 1
    files, free = fv.read_files(dxe.buffer, dxe.volume)
    print(
        "notice-insert: %s: %d file%s put (%d replaced) in the DXE volume (%s); it now holds %d files, "
        "%d bytes free (%.1f s)"
        % (
            args.out,
            len(new_files),
            "" if len(new_files) == 1 else "s",
            len(replaced),
            dxe.describe(),
            len(files),
            dxe.volume.end - free,
            time.monotonic() - started,
        )
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())

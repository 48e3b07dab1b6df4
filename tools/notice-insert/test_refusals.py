#!/usr/bin/env python3
"""What notice-insert refuses, run as a user runs it: damaged images (each
header on the path it reads and edits), files that are not what they claim,
hostile paths and command lines. Every refusal is one line starting with the
tool's name, exit status 1 (2 for a usage error), no traceback, and no file
it was given or told to write is changed.

    python3 -m unittest discover -s tools/notice-insert -p 'test_*.py'
"""

import os
import shutil
import struct
import sys
import unittest
import zlib
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import firmware_volume as ffs  # noqa: E402
import lzma_codec  # noqa: E402
import tool_run  # noqa: E402
from synthetic_images import (  # noqa: E402
    DRIVER,
    DXE_CORE,
    EXISTING,
    PICTURE,
    dxe_content,
    ffs_file,
    firmware,
    nested_firmware,
    reseal_file_header,
    reseal_volume_header,
    top_level_firmware,
    volume,
)

OUTER_FILE = 0x48  # the volume-image file, right after the first volume's header
GUIDED_SECTION = OUTER_FILE + 24
LZMA_DATA = GUIDED_SECTION + 24
# In the DXE content: the pad volume's section, the raw filler, then the DXE volume's section.
DXE_VOLUME = 4 + 0x200 + 4 + 4
DXE_FIRST_FILE = DXE_VOLUME + 0x48
DXE_SECOND_FILE = DXE_FIRST_FILE + ffs.align_up(len(DXE_CORE), 8)


def changed(data, *edits):
    """`data` with each edit applied: (offset, new bytes), or a callable on the bytearray."""
    data = bytearray(data)
    for edit in edits:
        if callable(edit):
            edit(data)
        else:
            offset, new = edit
            data[offset : offset + len(new)] = new
    return bytes(data)


def xor(offset, mask=0x01):
    def apply(data):
        data[offset] ^= mask

    return apply


def resealed_volume(offset=0):
    return lambda data: reseal_volume_header(data, offset)


def resealed_file(offset):
    return lambda data: reseal_file_header(data, offset)


def with_damaged_dxe_volume(*edits):
    """A whole image whose compressed DXE content carries `edits`."""
    return firmware(content=changed(dxe_content([EXISTING]), *edits))


def damaged_images():
    """label -> (image, what the refusal must name)."""
    good = firmware([EXISTING])
    nested = nested_firmware([EXISTING])
    checksummed_data = 0x48 + 24 + 4 + 0x48  # the first byte of the DXE core file in the nested image
    return {
        "volume header checksum": (changed(good, xor(50)), r"volume at 0x0: header checksum"),
        "volume revision 0x52": (changed(good, (0x37, b"\x52")), r"volume at 0x0: .*revision 0x52"),
        "volume revision 0x52, checksum mended": (
            changed(good, (0x37, b"\x52"), resealed_volume()),
            r"volume at 0x0: .*revision 0x52",
        ),
        "block map shorter than the volume": (
            changed(good, (56, struct.pack("<I", 0x7F)), resealed_volume()),
            r"volume at 0x0: block map covers 0xfe00 bytes.*0x10000",
        ),
        "block map without its end": (
            changed(good, (64, struct.pack("<II", 1, 0x200)), resealed_volume()),
            r"volume at 0x0: .*block map",
        ),
        "volume-image file header checksum": (changed(good, xor(OUTER_FILE + 16)), r"file .* at 0x48: header checksum"),
        "volume-image file state": (changed(good, (OUTER_FILE + 23, b"\xfc")), r"file .* at 0x48: state 0xfc"),
        "volume-image file data checksum not 0xAA": (
            changed(good, (OUTER_FILE + 17, b"\x00")),
            r"file .* at 0x48: .*0xaa",
        ),
        "volume-image file data checksum": (
            changed(nested, xor(checksummed_data, 0x10)),
            r"file .* at 0x48: data checksum",
        ),
        "volume-image file longer than its volume": (
            changed(good, (OUTER_FILE + 20, b"\xff\xff\x00"), resealed_file(OUTER_FILE)),
            r"file .* at 0x48: size 0xffff",
        ),
        "section past its file": (
            changed(good, (GUIDED_SECTION, b"\xff\xff\x00")),
            r"section at 0x60: size 0xffff",
        ),
        "LZMA data damaged": (changed(good, xor(LZMA_DATA + 40, 0x55)), r"LZMA"),
        "LZMA size one short": (
            changed(
                good,
                lambda d: struct.pack_into("<Q", d, LZMA_DATA + 5, struct.unpack_from("<Q", d, LZMA_DATA + 5)[0] - 1),
            ),
            r"LZMA",
        ),
        "image cut short": (good[:-0x100], r"cut short: it ends at 0xff00, inside the volume at 0x0 of 0x10000"),
        "DXE volume header checksum": (
            with_damaged_dxe_volume(xor(DXE_VOLUME + 50)),
            r"volume at 0x20c: header checksum",
        ),
        "DXE volume revision 0x52": (
            with_damaged_dxe_volume((DXE_VOLUME + 0x37, b"\x52"), resealed_volume(DXE_VOLUME)),
            r"volume at 0x20c: .*revision 0x52",
        ),
        "DXE volume longer than its section": (
            with_damaged_dxe_volume(
                (DXE_VOLUME + 32, struct.pack("<Q", 0x4200)),
                (DXE_VOLUME + 56, struct.pack("<I", 0x21)),
                resealed_volume(DXE_VOLUME),
            ),
            r"volume at 0x20c .*runs past",
        ),
        "DXE file header checksum": (
            with_damaged_dxe_volume(xor(DXE_SECOND_FILE + 16)),
            r"file 11111111-2222-3333-4444-555555555555 at 0x%x: header checksum" % DXE_SECOND_FILE,
        ),
        "DXE file state": (
            with_damaged_dxe_volume((DXE_SECOND_FILE + 23, b"\xfe")),
            r"file 11111111-.* state 0xfe",
        ),
        "DXE file section past its end": (
            with_damaged_dxe_volume((DXE_SECOND_FILE + 24, b"\x40")),
            r"section at 0x%x: size 0x40" % (DXE_SECOND_FILE + 24),
        ),
        "DXE file's last section one byte short": (
            with_damaged_dxe_volume((DXE_SECOND_FILE + 24, b"\x2d")),
            r"section at 0x%x ends at 0x%x, short of" % (DXE_SECOND_FILE + 24, DXE_SECOND_FILE + 24 + 0x2D),
        ),
        "DXE file section of no known type": (
            with_damaged_dxe_volume((DXE_SECOND_FILE + 27, b"\x1d")),
            r"section at 0x%x: type 0x1d, which is no section type" % (DXE_SECOND_FILE + 24),
        ),
        "DXE file aligned beyond its volume": (
            with_damaged_dxe_volume((DXE_SECOND_FILE + 19, b"\x02"), resealed_file(DXE_SECOND_FILE)),
            r"file 11111111-.*: asks for its data aligned to 0x20000 bytes, more than its volume's 0x10",
        ),
        "DXE volume free space written": (
            with_damaged_dxe_volume((DXE_VOLUME + 0x3000, b"\x00")),
            r"data after its last file",
        ),
        "top-level DXE volume header checksum": (changed(top_level_firmware([EXISTING]), xor(51)), r"header checksum"),
    }


class FileAlignment(unittest.TestCase):
    def test_a_file_off_the_boundary_it_asks_for_is_refused(self):
        volume = ffs.Volume(offset=0x1000, length=0x10000, header_length=0x48, attributes=0x0004FEFF)
        for offset, sound in ((0x1048, True), (0x1050, False), (0x1058, True)):
            with self.subTest(offset=hex(offset)):
                aligned_16 = ffs.FfsFile(offset, ffs.FFS2_GUID, 2, 0x08, 0x40, 0xF8)
                if sound:
                    ffs.check_file_alignment(aligned_16, volume)
                else:
                    with self.assertRaisesRegex(ffs.FirmwareFormatError, "not on the 0x10-byte boundary"):
                        ffs.check_file_alignment(aligned_16, volume)


class PadFiles(unittest.TestCase):
    def test_a_pad_file_holds_only_erased_bytes(self):
        for body, sound in ((b"\xff" * 16, True), (b"\xff" * 15 + b"\x00", False)):
            with self.subTest(sound=sound):
                pad = bytearray(ffs_file(ffs.FFS2_GUID, ffs.FILE_TYPE_PAD, []) + body)
                pad[20:23] = len(pad).to_bytes(3, "little")
                reseal_file_header(pad, 0)
                buf = volume([DXE_CORE, bytes(pad)], 0x1000)
                if sound:
                    ffs.read_files(buf, ffs.read_volume(buf))
                else:
                    with self.assertRaisesRegex(ffs.FirmwareFormatError, "a pad file holding data"):
                        ffs.read_files(buf, ffs.read_volume(buf))


class Work(tool_run.WorkFolder):
    def assert_refused(self, args, message, status=1, watched=(), child=False):
        """Runs notice-insert (in a child process with `child`): refused with
        `message` (a pattern), every watched file unchanged, nothing new left."""
        before = tool_run.fingerprint(watched)
        listing = tool_run.folder_listing(self.work)
        result = tool_run.run(args, timeout=20) if child else tool_run.run_here(args)
        self.assertEqual(tool_run.fingerprint(watched), before, result)
        self.assertEqual(tool_run.folder_listing(self.work), listing, result)
        self.assertEqual(tool_run.refusal_faults(result, (status,)), [], result)
        self.assertRegex(result.stderr, message)
        return result


class DamagedImages(Work):
    def test_each_damaged_header_is_refused_with_where_it_is(self):
        driver = self.file("driver.ffs", DRIVER)
        out = os.path.join(self.work, "out.fd")
        for label, (image, message) in damaged_images().items():
            with self.subTest(label):
                base = self.file("base.fd", image)
                self.assert_refused(["--base", base, "--out", out, driver], message, watched=[base, driver, out])

    def test_the_undamaged_images_are_taken(self):
        # The damaged images above differ from these in the one field named.
        driver = self.file("driver.ffs", DRIVER)
        out = os.path.join(self.work, "out.fd")
        for label, image in {
            "compressed": firmware([EXISTING]),
            "nested": nested_firmware([EXISTING]),
            "top level": top_level_firmware([EXISTING]),
        }.items():
            with self.subTest(label):
                result = tool_run.run_here(["--base", self.file("base.fd", image), "--out", out, driver])
                self.assertEqual(result.status, 0, result.stderr)


class ReadBack(Work):
    def test_a_patch_that_does_not_read_back_is_not_written(self):
        """A fault in patching (here the compressor loses a byte of a new file) is caught by the read-back."""
        real_compress = lzma_codec.compress_like

        def losing_a_byte(content, header):
            at = bytes(content).index(PICTURE[:16]) + 30
            damaged = bytearray(content)
            damaged[at] ^= 0xFF
            return real_compress(damaged, header)

        base = self.file("base.fd", firmware([EXISTING]))
        picture = self.file("picture.ffs", PICTURE)
        out = os.path.join(self.work, "out.fd")
        with mock.patch.object(lzma_codec, "compress_like", losing_a_byte):
            self.assert_refused(
                ["--base", base, "--out", out, picture],
                r"file 2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6 is not in the patched DXE volume as written.*fault",
                watched=[base, picture, out],
            )


class FfsInputs(Work):
    def test_a_file_that_is_not_an_ffs_file_is_named_not_the_base(self):
        base = self.file("base.fd", firmware([EXISTING]))
        out = os.path.join(self.work, "out.fd")
        png = b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)
        png += struct.pack(">I", zlib.crc32(png[12:]))
        longer = bytearray(PICTURE)
        longer[20] += 8
        reseal_file_header(longer)
        shorter = bytearray(PICTURE)
        shorter[20] -= 4
        reseal_file_header(shorter)
        bad_section = bytearray(PICTURE)
        bad_section[24] = 0x30  # the raw section claims more than the file holds
        cases = {
            "a PNG": (png, r"picture.ffs is not an FFS file"),
            "empty": (b"", r"picture.ffs is empty"),
            "size field larger than the file": (bytes(longer), r"picture.ffs is not an FFS file: .*size"),
            "size field smaller than the file": (bytes(shorter), r"picture.ffs is not an FFS file: .*size"),
            "section past the file's end": (bytes(bad_section), r"picture.ffs .*section"),
            "header only": (PICTURE[:24], r"picture.ffs is not an FFS file"),
        }
        for label, (data, message) in cases.items():
            with self.subTest(label):
                picture = self.file("picture.ffs", data)
                result = self.assert_refused(["--base", base, "--out", out, picture], message, watched=[base, out])
                self.assertNotIn("base.fd", result.stderr)

    def test_the_same_file_twice_is_refused(self):
        base = self.file("base.fd", firmware([EXISTING]))
        out = os.path.join(self.work, "out.fd")
        picture = self.file("picture.ffs", PICTURE)
        again = self.file("again.ffs", PICTURE)
        folder = os.path.join(self.work, "ffs")
        os.mkdir(folder)
        shutil.copy(picture, folder)
        for label, args in {
            "one path twice": [picture, picture],
            "two files of one name": [picture, again],
            "a file and the folder holding it": [os.path.join(folder, "picture.ffs"), "--ffs-dir", folder],
        }.items():
            with self.subTest(label):
                self.assert_refused(
                    ["--base", base, "--out", out, *args], r"2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6 is given twice"
                )


class HostilePaths(Work):
    def test_what_is_not_a_regular_file_is_refused_without_reading_it(self):
        image = self.file("base.fd", firmware([EXISTING]))
        picture = self.file("picture.ffs", PICTURE)
        out = os.path.join(self.work, "out.fd")
        fifo = os.path.join(self.work, "fifo")
        os.mkfifo(fifo)
        sparse = os.path.join(self.work, "sparse.fd")
        with open(sparse, "wb") as f:
            f.truncate(4 << 30)
        cases = {
            "base /dev/zero": (["--base", "/dev/zero", picture], r"/dev/zero is not a regular file"),
            "base a folder": (["--base", self.work, picture], r"is a folder"),
            "base a FIFO": (["--base", fifo, picture], r"fifo is not a regular file"),
            "base 4 GiB": (["--base", sparse, picture], r"sparse.fd is 4,294,967,296 bytes; .*at most"),
            "base missing": (["--base", os.path.join(self.work, "none.fd"), picture], r"none.fd: No such file"),
            "FFS /dev/zero": (["--base", image, "/dev/zero"], r"/dev/zero is not a regular file"),
            "FFS a FIFO": (["--base", image, fifo], r"fifo is not a regular file"),
            "FFS a folder": (["--base", image, self.work], r"is a folder"),
            "FFS 4 GiB": (["--base", image, sparse], r"sparse.fd is 4,294,967,296 bytes; .*at most"),
            "--ffs-dir without FFS files": (["--base", image, "--ffs-dir", os.path.dirname(fifo) + "/none"], r"none"),
        }
        for label, (args, message) in cases.items():
            with self.subTest(label):
                self.assert_refused(["--out", out, *args], message, watched=[image, picture, out], child=True)

    def test_a_base_without_a_volume_says_so(self):
        picture = self.file("picture.ffs", PICTURE)
        out = os.path.join(self.work, "out.fd")
        descriptor = bytearray(0x2000)
        descriptor[16:20] = struct.pack("<I", 0x0FF0A55A)
        later = bytes(0x1000) + top_level_firmware()
        cases = {
            "random bytes": (os.urandom(0x3000), r"holds no firmware volume"),
            "zeros": (bytes(0x3000), r"holds no firmware volume"),
            "a flash descriptor": (bytes(descriptor), r"flash descriptor.*BIOS region"),
            "a volume further in": (later, r"first firmware volume is at 0x1000.*not at 0"),
            "shorter than a volume header": (b"_FVH", r"holds no firmware volume"),
        }
        for label, (data, message) in cases.items():
            with self.subTest(label):
                base = self.file("base.fd", data)
                self.assert_refused(["--base", base, "--out", out, picture], message, watched=[base, out])


class Usage(Work):
    def test_usage_errors_exit_2_with_one_line(self):
        base = self.file("base.fd", firmware([EXISTING]))
        picture = self.file("picture.ffs", PICTURE)
        out = os.path.join(self.work, "out.fd")
        cases = {
            "unknown option": (["--bogus"], r"unknown option --bogus"),
            "unknown option with the rest": (["--base", base, "--out", out, "--bogus", picture], r"unknown option"),
            "no --base": (["--out", out, picture], r"--base"),
            "no --out": (["--base", base, picture], r"--out"),
            "no files": (["--base", base, "--out", out], r"no FFS files"),
            "--replace twice": (
                ["--base", base, "--out", out, "--replace", "--replace", picture],
                r"--replace .*twice",
            ),
            "--base twice": (["--base", base, "--base", base, "--out", out, picture], r"--base .*twice"),
            "--base without a value": (["--out", out, picture, "--base"], r"--base needs a value"),
            "--out an FFS input": (["--base", base, "--out", picture, picture], r"is one of the files given to read"),
            "--out a file of --ffs-dir": (
                ["--base", base, "--out", picture, "--ffs-dir", self.work],
                r"is one of the files given to read",
            ),
        }
        for label, (args, message) in cases.items():
            with self.subTest(label):
                self.assert_refused(args, message, status=2, watched=[base, picture, out])

    def test_help_exits_0(self):
        result = tool_run.run(["--help"])  # in a child: the command itself, as a user starts it
        self.assertEqual(result.status, 0)
        self.assertIn("--check", result.stdout)


if __name__ == "__main__":
    unittest.main()

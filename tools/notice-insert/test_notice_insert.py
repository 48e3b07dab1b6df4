#!/usr/bin/env python3
"""Tests of notice-insert on small synthetic images shaped like real ones.

    python3 -m unittest discover -s tools/notice-insert -p 'test_*.py'
"""

import os
import random
import struct
import subprocess
import sys
import tempfile
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dxe_volume  # noqa: E402
import patching  # noqa: E402
import firmware_volume as ffs  # noqa: E402
from synthetic_images import (  # noqa: E402
    DRIVER,
    DXE_CORE,
    EXISTING,
    LZMA_HEADER,
    NEW_PICTURE,
    PICTURE,
    firmware,
    ffs_file,
    nested_firmware,
    section,
    volume,
)

HERE = os.path.dirname(os.path.abspath(__file__))
COMMAND = os.path.join(HERE, "notice-insert")


def patch_image(base, files, replace=False):
    """(patched image, names replaced)."""
    patched = patching.patch_image(base, files, replace)
    return patched.image, patched.placement.replaced


class AppendFiles(unittest.TestCase):
    def test_files_go_on_eight_byte_boundaries_after_the_last_file(self):
        buf = bytearray(volume([EXISTING], 0x1000))
        fv = ffs.read_volume(buf)
        self.assertEqual(patching.place_files(buf, fv, [DRIVER, PICTURE]).replaced, [])
        offsets = [f.offset for f in ffs.read_files(buf, fv)[0][1:]]
        self.assertEqual(offsets[0], ffs.align_up(0x48 + len(EXISTING), 8))
        self.assertEqual(offsets[1], ffs.align_up(offsets[0] + len(DRIVER), 8))
        self.assertEqual(bytes(buf[offsets[1] : offsets[1] + len(PICTURE)]), PICTURE)
        gap = buf[offsets[0] + len(DRIVER) : offsets[1]]
        self.assertTrue(len(gap) > 0 and all(b == 0xFF for b in gap))
        files, free = ffs.read_files(buf, fv)
        self.assertEqual(
            [f.name for f in files][1:], [uuid.UUID(bytes_le=DRIVER[:16]), uuid.UUID(bytes_le=PICTURE[:16])]
        )
        self.assertTrue(ffs.is_erased(buf, free, fv.end))

    def test_refuses_what_would_break_the_volume(self):
        bad_checksum = bytearray(PICTURE)
        bad_checksum[16] ^= 1
        aligned = bytearray(PICTURE)
        aligned[19] = 0x08
        aligned[16] = (aligned[16] - 0x08) & 0xFF
        not_complete = bytearray(PICTURE)
        not_complete[23] = 0xFC
        cases = {
            "same name twice": (volume([EXISTING], 0x1000), [PICTURE, PICTURE]),
            "name already in the volume": (volume([EXISTING], 0x1000), [EXISTING]),
            "no room": (
                volume([EXISTING], 0x200),
                [DRIVER, PICTURE, bytes(ffs_file(uuid.uuid4(), 2, [section(0x19, bytes(0x100))]))],
            ),
            "bad header checksum": (volume([], 0x1000), [bytes(bad_checksum)]),
            "alignment attribute": (volume([], 0x1000), [bytes(aligned)]),
            "state not complete": (volume([], 0x1000), [bytes(not_complete)]),
            "size field disagrees": (volume([], 0x1000), [PICTURE + b"\0" * 8]),
        }
        for label, (image, files) in cases.items():
            with self.subTest(label):
                buf = bytearray(image)
                with self.assertRaises(ffs.FirmwareFormatError):
                    patching.place_files(buf, ffs.read_volume(buf), files)

    def test_refuses_a_volume_with_data_in_its_free_space(self):
        buf = bytearray(volume([EXISTING], 0x1000))
        buf[0xF00] = 0x00
        with self.assertRaises(ffs.FirmwareFormatError):
            patching.place_files(buf, ffs.read_volume(buf), [PICTURE])


class PatchImage(unittest.TestCase):
    def test_patched_image_holds_the_files_and_stays_consistent(self):
        base = firmware([EXISTING])
        patched, replaced = patch_image(base, [DRIVER, PICTURE])
        self.assertEqual(replaced, [])
        self.assertEqual(len(patched), len(base))
        dxe = patching.verify_patched(patched, [DRIVER, PICTURE])
        ffs.check_file(patched, dxe.outer_file)  # raises when a checksum is wrong
        self.assertEqual(patched[dxe.outer_file.offset + 17], 0xAA)
        self.assertEqual(patched[dxe.outer_file.offset + 23], 0xF8)
        # The section and file sizes describe the new compressed data exactly.
        guided = dxe.section
        self.assertEqual(guided.end, dxe.outer_file.end)
        lzma_data = bytes(patched[guided.offset + 24 : guided.end])
        self.assertEqual(lzma_data[:5], LZMA_HEADER)
        self.assertEqual(struct.unpack_from("<Q", lzma_data, 5)[0], len(dxe.buffer))
        # The DXE volume is the larger inner one and keeps its header checksum.
        self.assertEqual(dxe.kind, dxe_volume.COMPRESSED)
        self.assertEqual(dxe.volume.length, 0x4000)
        ffs.read_volume(dxe.buffer, dxe.volume.offset)  # raises when its checksum is wrong
        outer = ffs.read_volume(patched)
        _, free = ffs.read_files(patched, outer)
        self.assertTrue(ffs.is_erased(patched, free, outer.end))

    def test_patching_twice_is_refused(self):
        patched, _ = patch_image(firmware([EXISTING]), [DRIVER])
        with self.assertRaises(ffs.FirmwareFormatError):
            patch_image(patched, [DRIVER])

    def test_refuses_to_move_files_that_follow_the_volume_image_file(self):
        base = firmware([EXISTING], trailing_files=[EXISTING])
        with self.assertRaises(ffs.FirmwareFormatError):
            patch_image(base, [PICTURE])

    def test_refuses_when_the_recompressed_file_outgrows_its_volume(self):
        noise = random.Random(7).randbytes(0x700)
        base = firmware([EXISTING], outer_length=0x1000, dxe_filler=noise)
        incompressible = ffs_file(uuid.uuid4(), 2, [section(0x19, random.Random(8).randbytes(0x900))])
        with self.assertRaises(ffs.FirmwareFormatError):
            patch_image(base, [incompressible])

    def test_refuses_an_image_without_a_compressed_volume(self):
        with self.assertRaises(ffs.FirmwareFormatError):
            patch_image(volume([EXISTING], 0x1000), [PICTURE])


def dxe_files(image):
    """(name, bytes) of every file in the image's DXE volume, in order."""
    dxe = dxe_volume.find_dxe_volume(bytearray(image))
    return [(f.name, bytes(dxe.buffer[f.offset : f.end])) for f in ffs.read_files(dxe.buffer, dxe.volume)[0]]


class Layouts(unittest.TestCase):
    """The DXE volume is found and patched wherever it sits; the rest of the image is unchanged."""

    def test_every_supported_layout_takes_the_files(self):
        layouts = {
            dxe_volume.COMPRESSED: firmware([EXISTING]),
            dxe_volume.NESTED: nested_firmware([EXISTING]),
            dxe_volume.TOP_LEVEL: volume([DXE_CORE, EXISTING], 0x2000) + volume([], 0x1000),
        }
        for kind, base in layouts.items():
            with self.subTest(kind):
                patched, _ = patch_image(base, [DRIVER, PICTURE])
                self.assertEqual(len(patched), len(base))
                dxe = patching.verify_patched(patched, [DRIVER, PICTURE])
                self.assertEqual(dxe.kind, kind)
                self.assertEqual([data for _, data in dxe_files(patched)], [DXE_CORE, EXISTING, DRIVER, PICTURE])
                if dxe.outer_file is not None:
                    # The enclosing file's checksums cover the new bytes.
                    ffs.check_file(patched, dxe.outer_file)  # raises when a checksum is wrong
                    if dxe.outer_file.attributes & ffs.FILE_ATTRIB_CHECKSUM:
                        self.assertEqual(
                            ffs.sum8(
                                patched[dxe.outer_file.data_offset : dxe.outer_file.end]
                                + patched[dxe.outer_file.offset + 17 : dxe.outer_file.offset + 18]
                            ),
                            0,
                        )
                if kind == dxe_volume.TOP_LEVEL:
                    self.assertEqual(patched[0x2000:], base[0x2000:])


class Replace(unittest.TestCase):
    def test_replace_swaps_the_file_and_moves_the_later_ones_up(self):
        first, _ = patch_image(firmware([EXISTING]), [PICTURE, DRIVER])
        second, replaced = patch_image(first, [NEW_PICTURE], replace=True)
        self.assertEqual(replaced, [uuid.UUID(bytes_le=PICTURE[:16])])
        self.assertEqual([data for _, data in dxe_files(second)], [DXE_CORE, EXISTING, DRIVER, NEW_PICTURE])
        patching.verify_patched(second, [NEW_PICTURE, DRIVER])

    def test_replace_of_a_file_not_there_adds_it(self):
        patched, replaced = patch_image(firmware([EXISTING]), [DRIVER], replace=True)
        self.assertEqual(replaced, [])
        self.assertEqual([data for _, data in dxe_files(patched)], [DXE_CORE, EXISTING, DRIVER])

    def test_a_later_file_that_needs_alignment_is_not_moved(self):
        # A 40-byte filler puts the aligned file's data on a 16-byte boundary; the replaced
        # file's 40-byte slot becomes PICTURE's 48, which would move it off that boundary.
        filler = ffs_file(uuid.uuid4(), 0x02, [section(0x19, bytes(8))])
        old = ffs_file(uuid.UUID(bytes_le=PICTURE[:16]), 0x02, [section(0x19, bytes(8))])  # 36 bytes: a 40-byte slot
        aligned = bytearray(ffs_file(uuid.uuid4(), 0x02, [section(0x19, bytes(8))]))
        aligned[19] = 0x08  # data aligned to 16 bytes
        aligned[16] = 0
        aligned[16] = (0x100 - ffs.sum8(aligned[:17] + aligned[18:23])) & 0xFF
        buf = bytearray(volume([DXE_CORE, filler, old, bytes(aligned)], 0x1000))
        with self.assertRaisesRegex(ffs.FirmwareFormatError, "aligned to 16 bytes; not supported"):
            patching.place_files(buf, ffs.read_volume(buf), [PICTURE], replace=True)


class Refusals(unittest.TestCase):
    def test_too_big_names_the_sizes(self):
        base = volume([DXE_CORE], 0x200)
        free = 0x200 - ffs.align_up(0x48 + len(DXE_CORE), 8)
        big = ffs_file(uuid.uuid4(), 2, [section(0x19, bytes(free))])  # header and section header too many
        with self.assertRaises(patching.DoesNotFit) as caught:
            patch_image(base, [big])
        error = caught.exception
        self.assertEqual((error.limit, error.room, error.need), (patching.DXE_FREE_SPACE, free, len(big)))

    def test_recompressed_file_too_big_names_the_sizes(self):
        noise = random.Random(7).randbytes(0x700)
        base = firmware([EXISTING], outer_length=0x1000, dxe_filler=noise)
        incompressible = ffs_file(uuid.uuid4(), 2, [section(0x19, random.Random(8).randbytes(0x900))])
        with self.assertRaises(patching.DoesNotFit) as caught:
            patch_image(base, [incompressible])
        error = caught.exception
        self.assertEqual((error.limit, error.room), (patching.OUTER_ROOM, 0x1000 - 0x48))
        self.assertGreater(error.need, error.room)
        # The new file is about 0x900 bytes of noise: it costs at least that much compressed.
        self.assertEqual(len(error.costs), 1)
        self.assertGreater(error.costs[0], 0x800)

    def test_unsupported_images_say_what_they_are(self):
        other_method = bytearray(firmware([EXISTING]))
        at = bytes(other_method).index(ffs.LZMA_SECTION_GUID.bytes_le)
        other_method[at : at + 16] = uuid.UUID("A31280AD-481E-41B6-95E8-127F4C984779").bytes_le
        cases = {
            "leading data": (bytes(0x1000) + firmware([EXISTING]), "first firmware volume is at 0x1000, not at 0"),
            "not FFS2": (
                bytes(volume([EXISTING], 0x1000)).replace(ffs.FFS2_GUID.bytes_le, bytes(16)),
                "not FFS2; notice-insert handles FFS2 volumes",
            ),
            "no DXE core": (volume([EXISTING], 0x1000), r"no volume holding the DXE core file \(type 0x05\)"),
            "other compression": (
                bytes(other_method),
                "a31280ad-481e-41b6-95e8-127f4c984779 \\(a method other " "than LZMA\\)",
            ),
        }
        for label, (image, message) in cases.items():
            with self.subTest(label):
                with self.assertRaisesRegex(ffs.UnsupportedImage, message):
                    patch_image(image, [PICTURE])


class CommandLine(unittest.TestCase):
    def run_command(self, *args):
        return subprocess.run([sys.executable, COMMAND, *args], capture_output=True, text=True)

    def test_exit_statuses_and_messages(self):
        with tempfile.TemporaryDirectory() as work:
            base = os.path.join(work, "base.fd")
            with open(base, "wb") as f:
                f.write(firmware([EXISTING]))
            ffs_dir = os.path.join(work, "ffs")
            os.makedirs(ffs_dir)
            for name, data in (("d.ffs", DRIVER), ("p.ffs", PICTURE)):
                with open(os.path.join(ffs_dir, name), "wb") as f:
                    f.write(data)
            out = os.path.join(work, "out.fd")
            done = self.run_command("--base", base, "--out", out, "--ffs-dir", ffs_dir)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertRegex(
                done.stdout, r"2 files put \(0 replaced\) in the DXE volume \(LZMA-compressed inside volume-image file"
            )
            again = self.run_command("--base", out, "--out", out, "--ffs-dir", ffs_dir)
            self.assertEqual(again.returncode, 1)
            self.assertIn("give --replace", again.stderr)
            replaced = self.run_command("--base", out, "--out", out, "--replace", os.path.join(ffs_dir, "p.ffs"))
            self.assertEqual(replaced.returncode, 0, replaced.stderr)
            self.assertIn("(1 replaced)", replaced.stdout)
            missing = self.run_command("--base", os.path.join(work, "nope.fd"), "--out", out, "--ffs-dir", ffs_dir)
            self.assertEqual(missing.returncode, 1)
            self.assertIn("No such file or directory", missing.stderr)
            for usage in (["--out", out, "--ffs-dir", ffs_dir], ["--base", base, "--out", out], ["--bogus"]):
                with self.subTest(usage=usage):
                    self.assertEqual(self.run_command(*usage).returncode, 2)


class SourceFiles(unittest.TestCase):
    def test_the_listed_sources_are_the_modules_the_command_loads(self):
        # Callers that keep notice-insert's output key it on these files: none may be missing.
        probe = (
            "import sys, os; sys.path.insert(0, %r); import notice_insert; "
            "print('\\n'.join(sorted(m.__file__ for m in list(sys.modules.values()) "
            "if os.path.dirname(getattr(m, '__file__', None) or '') == %r)))" % (HERE, HERE)
        )
        loaded = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, check=True)
        import notice_insert

        self.assertEqual(loaded.stdout.split(), sorted(notice_insert.SOURCE_FILES))


class Sections(unittest.TestCase):
    def test_sizes_that_run_past_their_container_are_refused(self):
        for label, data in {
            "section longer than the file": section(0x19, b"abc")[:-1],
            "section size below its header": b"\x02\x00\x00\x19",
        }.items():
            with self.subTest(label):
                with self.assertRaises(ffs.FirmwareFormatError):
                    ffs.read_sections(data, 0, len(data))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Unit tests of the image builder on small synthetic images.

    python3 -m unittest discover -s e2e/firmware -p 'test_*.py'
"""

import lzma
import os
import random
import struct
import sys
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import build_image  # noqa: E402
import ffs  # noqa: E402

LZMA_HEADER = bytes([0x5D]) + struct.pack("<I", 1 << 20)


def section(section_type, body):
    return struct.pack("<I", 4 + len(body))[:3] + bytes([section_type]) + body


def ffs_file(name, file_type, sections, attributes=0):
    body = b""
    for s in sections:
        body += b"\0" * (ffs.align_up(len(body), 4) - len(body)) + s
    header = bytearray(name.bytes_le + bytes([0, 0, file_type, attributes]) + struct.pack("<I", 24 + len(body))[:3]
                       + b"\0")
    header[16] = (0x100 - ffs.sum8(header)) & 0xFF
    header[17] = 0xAA
    header[23] = 0xF8
    return bytes(header) + body


def volume(files, length):
    body = b""
    for f in files:
        body += b"\xff" * (ffs.align_up(0x48 + len(body), 8) - 0x48 - len(body)) + f
    header = bytearray(16) + uuid.UUID(str(ffs.FFS2_GUID)).bytes_le + struct.pack("<Q", length) + b"_FVH" + \
        struct.pack("<IHHHBB", 0x0004FEFF, 0x48, 0, 0, 0, 2) + struct.pack("<IIII", length // 0x200, 0x200, 0, 0)
    struct.pack_into("<H", header, 50, (0x10000 - ffs.sum16(header)) & 0xFFFF)
    image = bytes(header) + body
    assert len(image) <= length
    return image + b"\xff" * (length - len(image))


def lzma_section(content):
    packed = bytearray(lzma.compress(content, format=lzma.FORMAT_ALONE,
                                     filters=[{"id": lzma.FILTER_LZMA1, "dict_size": 1 << 20}]))
    packed[5:13] = struct.pack("<Q", len(content))
    guided = ffs.LZMA_SECTION_GUID.bytes_le + struct.pack("<HH", 24, 1) + bytes(packed)
    return section(ffs.SECTION_GUID_DEFINED, guided)


def firmware(dxe_files=(), outer_length=0x10000, trailing_files=(), dxe_filler=b""):
    """An image shaped like OVMF's: a first volume holding a volume-image file
    whose LZMA section holds a small pad volume and the (larger) DXE volume."""
    small = volume([], 0x200)
    dxe = volume(list(dxe_files), 0x4000)
    content = section(ffs.SECTION_VOLUME_IMAGE, small) + section(ffs.SECTION_RAW, dxe_filler) + \
        section(ffs.SECTION_VOLUME_IMAGE, dxe)
    outer = ffs_file(uuid.uuid4(), ffs.FILE_TYPE_VOLUME_IMAGE, [lzma_section(content)])
    return volume([outer, *trailing_files], outer_length)


EXISTING = ffs_file(uuid.UUID("11111111-2222-3333-4444-555555555555"), 0x07, [section(0x10, b"MZ" + bytes(40))])
DRIVER = ffs_file(uuid.UUID("1E16495C-074B-42D0-884C-5729229B3EEB"), 0x07, [section(0x10, b"MZ" + bytes(61))])
PICTURE = ffs_file(uuid.UUID("2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6"), 0x02, [section(0x19, b"BM" + bytes(13))])


class AppendFiles(unittest.TestCase):
    def test_files_go_on_eight_byte_boundaries_after_the_last_file(self):
        buf = bytearray(volume([EXISTING], 0x1000))
        fv = ffs.read_volume(buf)
        offsets = build_image.append_files(buf, fv, [DRIVER, PICTURE])
        self.assertEqual(offsets[0], ffs.align_up(0x48 + len(EXISTING), 8))
        self.assertEqual(offsets[1], ffs.align_up(offsets[0] + len(DRIVER), 8))
        self.assertEqual(bytes(buf[offsets[1]:offsets[1] + len(PICTURE)]), PICTURE)
        gap = buf[offsets[0] + len(DRIVER):offsets[1]]
        self.assertTrue(len(gap) > 0 and all(b == 0xFF for b in gap))
        files, free = ffs.read_files(buf, fv)
        self.assertEqual([f.name for f in files][1:], [uuid.UUID(bytes_le=DRIVER[:16]), uuid.UUID(bytes_le=PICTURE[:16])])
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
            "no room": (volume([EXISTING], 0x200), [DRIVER, PICTURE, bytes(ffs_file(uuid.uuid4(), 2, [section(0x19, bytes(0x100))]))]),
            "bad header checksum": (volume([], 0x1000), [bytes(bad_checksum)]),
            "alignment attribute": (volume([], 0x1000), [bytes(aligned)]),
            "state not complete": (volume([], 0x1000), [bytes(not_complete)]),
            "size field disagrees": (volume([], 0x1000), [PICTURE + b"\0" * 8]),
        }
        for label, (image, files) in cases.items():
            with self.subTest(label):
                buf = bytearray(image)
                with self.assertRaises(ffs.FirmwareFormatError):
                    build_image.append_files(buf, ffs.read_volume(buf), files)

    def test_refuses_a_volume_with_data_in_its_free_space(self):
        buf = bytearray(volume([EXISTING], 0x1000))
        buf[0xF00] = 0x00
        with self.assertRaises(ffs.FirmwareFormatError):
            build_image.append_files(buf, ffs.read_volume(buf), [PICTURE])


class PatchImage(unittest.TestCase):
    def test_patched_image_holds_the_files_and_stays_consistent(self):
        base = firmware([EXISTING])
        patched = build_image.patch_image(base, [DRIVER, PICTURE])
        self.assertEqual(len(patched), len(base))
        dxe = build_image.verify_patched(patched, [DRIVER, PICTURE])
        self.assertTrue(ffs.header_checksum_ok(patched, dxe.outer_file))
        self.assertEqual(patched[dxe.outer_file.offset + 17], 0xAA)
        self.assertEqual(patched[dxe.outer_file.offset + 23], 0xF8)
        # The section and file sizes describe the new compressed data exactly.
        guided = dxe.guided.section
        self.assertEqual(guided.end, dxe.outer_file.end)
        lzma_data = bytes(patched[guided.offset + 24:guided.end])
        self.assertEqual(lzma_data[:5], LZMA_HEADER)
        self.assertEqual(struct.unpack_from("<Q", lzma_data, 5)[0], len(dxe.content))
        # The DXE volume is the larger inner one and keeps its header checksum.
        self.assertEqual(dxe.dxe_volume.length, 0x4000)
        self.assertTrue(ffs.read_volume(dxe.content, dxe.dxe_volume.offset).checksum_valid)
        outer = ffs.read_volume(patched)
        _, free = ffs.read_files(patched, outer)
        self.assertTrue(ffs.is_erased(patched, free, outer.end))

    def test_patching_twice_is_refused(self):
        patched = build_image.patch_image(firmware([EXISTING]), [DRIVER])
        with self.assertRaises(ffs.FirmwareFormatError):
            build_image.patch_image(patched, [DRIVER])

    def test_refuses_to_move_files_that_follow_the_volume_image_file(self):
        base = firmware([EXISTING], trailing_files=[EXISTING])
        with self.assertRaises(ffs.FirmwareFormatError):
            build_image.patch_image(base, [PICTURE])

    def test_refuses_when_the_recompressed_file_outgrows_its_volume(self):
        noise = random.Random(7).randbytes(0x700)
        base = firmware([EXISTING], outer_length=0x1000, dxe_filler=noise)
        incompressible = ffs_file(uuid.uuid4(), 2, [section(0x19, random.Random(8).randbytes(0x900))])
        with self.assertRaises(ffs.FirmwareFormatError):
            build_image.patch_image(base, [incompressible])

    def test_refuses_an_image_without_a_compressed_volume(self):
        with self.assertRaises(ffs.FirmwareFormatError):
            build_image.patch_image(volume([EXISTING], 0x1000), [PICTURE])


class Sections(unittest.TestCase):
    def test_sizes_that_run_past_their_container_are_refused(self):
        for label, data in {"section longer than the file": section(0x19, b"abc")[:-1],
                            "section size below its header": b"\x02\x00\x00\x19"}.items():
            with self.subTest(label):
                with self.assertRaises(ffs.FirmwareFormatError):
                    ffs.read_sections(data, 0, len(data))


if __name__ == "__main__":
    unittest.main()

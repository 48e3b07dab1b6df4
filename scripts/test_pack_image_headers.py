#!/usr/bin/env python3
"""Checks scripts/pack-image-headers.py on the built (packed) image: packing
again changes nothing, an image with lld-link's DOS program and spare header
slot put back packs to exactly the built bytes, and a signed image is refused.

    python3 scripts/test_pack_image_headers.py build/image/notice.efi
"""

import importlib.util
import os
import struct
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("pack_image_headers", os.path.join(HERE, "pack-image-headers.py"))
packer = importlib.util.module_from_spec(spec)
spec.loader.exec_module(packer)

IMAGE = os.environ.get("NOTICE_IMAGE", "build/image/notice.efi")


def optional_header(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    return pe, pe + 24


def unpacked(image, stub, spare):
    """The image as a linker that put Stub bytes after the DOS header and
    Spare zero bytes after the section headers would have written it."""
    pe, optional = optional_header(image)
    old_headers = struct.unpack_from("<I", image, optional + 60)[0]
    count = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    header_bytes = 24 + optional_size + 40 * count
    alignment = struct.unpack_from("<I", image, optional + 36)[0]
    new_pe = 64 + stub
    new_headers = packer.align_up(new_pe + header_bytes + spare, alignment)
    result = bytearray(image[:64]) + bytes([0x0E] * stub) + image[pe : pe + header_bytes]
    struct.pack_into("<I", result, 0x3C, new_pe)
    struct.pack_into("<I", result, new_pe + 24 + 60, new_headers)
    for index in range(count):
        at = new_pe + 24 + optional_size + 40 * index
        size, offset = struct.unpack_from("<II", result, at + 16)
        if size:
            struct.pack_into("<I", result, at + 20, offset + new_headers - old_headers)
    result += bytes(new_headers - len(result))
    return bytes(result + image[old_headers:])


class PackImageHeadersTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(IMAGE):
            self.skipTest(f"{IMAGE} is not built (make image)")
        with open(IMAGE, "rb") as f:
            self.image = f.read()

    def test_the_built_image_is_packed(self):
        self.assertEqual(packer.pack(self.image), self.image)
        self.assertEqual(struct.unpack_from("<I", self.image, 0x3C)[0], 64)

    def test_stub_and_spare_slot_are_removed_and_nothing_else_changes(self):
        for stub, spare in [(56, 40), (56, 0), (0, 40), (200, 80)]:
            with self.subTest(stub=stub, spare=spare):
                loose = unpacked(self.image, stub, spare)
                self.assertEqual(packer.pack(loose), self.image)

    def test_a_signed_image_is_refused(self):
        signed = bytearray(unpacked(self.image, 56, 40))
        _, optional = optional_header(signed)
        struct.pack_into("<II", signed, optional + 112 + 8 * 4, len(signed), 8)
        with self.assertRaises(packer.ImageError):
            packer.pack(bytes(signed))

    def test_not_an_image_is_refused(self):
        with self.assertRaises(packer.ImageError):
            packer.pack(b"MZ" + bytes(100))


if __name__ == "__main__":
    if len(sys.argv) > 1:
        IMAGE = sys.argv.pop(1)
    unittest.main()

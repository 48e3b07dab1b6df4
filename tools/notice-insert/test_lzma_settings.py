#!/usr/bin/env python3
"""The LZMA settings notice-insert takes and those it refuses. Any dictionary
size a header names is kept exactly, within 512 MiB of address space; the
settings liblzma cannot write, and sizes that would cost too much, are
refused in one line before any decompression.

    python3 -m unittest discover -s tools/notice-insert -p 'test_*.py'
"""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tool_run  # noqa: E402
from synthetic_images import DRIVER, EXISTING, firmware  # noqa: E402

LZMA_DATA = 0x48 + 24 + 24  # the volume, file and GUID-defined section headers before it


def lzma_header(image):
    return image[LZMA_DATA : LZMA_DATA + 13]


class Work(tool_run.WorkFolder):
    def setUp(self):
        super().setUp()
        self.driver = self.file("driver.ffs", DRIVER)
        self.out = os.path.join(self.work, "out.fd")

    def insert(self, image, child=False):
        """notice-insert on `image`: with `child`, in a child process with 512 MiB of address space."""
        args = ["--base", self.file("base.fd", image), "--out", self.out, self.driver]
        return tool_run.run(args) if child else tool_run.run_here(args)


class Dictionaries(Work):
    def test_any_dictionary_size_is_written_back_as_it_was(self):
        for size in (1 << 30, 0x01400000, 0x01800000, 0xFFFFFFFF, 4096, 4095, 1, 0):
            with self.subTest("0x%x" % size):
                base = firmware([EXISTING], dictionary_size=size)
                result = self.insert(base, child=True)
                self.assertEqual(result.status, 0, result.stderr)
                with open(self.out, "rb") as f:
                    patched = f.read()
                self.assertEqual(lzma_header(patched)[:5], lzma_header(base)[:5])
                self.assertNotEqual(patched, base)

    def test_other_literal_and_position_settings_are_kept(self):
        for properties in ((0, 0, 0), (4, 0, 2), (0, 4, 4), (1, 2, 1)):
            with self.subTest("lc=%d lp=%d pb=%d" % properties):
                base = firmware([EXISTING], properties=properties)
                result = self.insert(base)
                self.assertEqual(result.status, 0, result.stderr)
                with open(self.out, "rb") as f:
                    self.assertEqual(lzma_header(f.read())[:5], lzma_header(base)[:5])


class Refused(Work):
    def test_settings_and_sizes_out_of_reach_are_refused_in_one_line(self):
        good = firmware([EXISTING])

        def with_header(**fields):
            image = bytearray(good)
            if "properties" in fields:
                image[LZMA_DATA] = fields["properties"]
            if "size" in fields:
                struct.pack_into("<Q", image, LZMA_DATA + 5, fields["size"])
            return bytes(image)

        cases = {
            "lc+lp above 4": (with_header(properties=(2 * 5 + 1) * 9 + 4), r"lc=4 lp=1 pb=2.*lc\+lp at most 4"),
            "properties byte out of range": (with_header(properties=225), r"properties byte 0xe1"),
            "1 GiB uncompressed": (with_header(size=1 << 30), r"1,073,741,824 bytes.*at most"),
            "size unknown": (with_header(size=(1 << 64) - 1), r"size unknown"),
        }
        for label, (image, message) in cases.items():
            with self.subTest(label):
                result = self.insert(image)
                self.assertEqual(tool_run.refusal_faults(result, (1,)), [], result)
                self.assertRegex(result.stderr, message)
                self.assertFalse(os.path.exists(self.out))


if __name__ == "__main__":
    unittest.main()

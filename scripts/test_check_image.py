#!/usr/bin/env python3
"""Checks that scripts/check-image.sh catches each fault it is there for, on
copies of the built image with one header field or instruction changed.

    python3 scripts/test_check_image.py build/image/notice.efi
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check-image.sh")
IMAGE = os.environ.get("NOTICE_IMAGE", "build/image/notice.efi")

SCN_EXECUTE = 0x20000000
SCN_WRITE = 0x80000000


def sections(image):
    """(header offset, name, virtual address, raw data offset) of every section."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    first = pe + 24 + optional_size
    result = []
    for i in range(count):
        at = first + 40 * i
        name = image[at : at + 8].rstrip(b"\0").decode()
        (address,) = struct.unpack_from("<I", image, at + 12)
        (raw,) = struct.unpack_from("<I", image, at + 20)
        result.append((at, name, address, raw))
    return result


def section(image, wanted):
    return next(s for s in sections(image) if s[1] == wanted)


class CheckImageTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(IMAGE):
            self.skipTest(f"{IMAGE} is not built (make image)")
        with open(IMAGE, "rb") as f:
            self.image = bytearray(f.read())

    def run_check(self, image):
        with tempfile.NamedTemporaryFile(suffix=".efi") as f:
            f.write(image)
            f.flush()
            return subprocess.run(["bash", CHECK, f.name], capture_output=True, text=True)

    def assert_refused(self, image, reason):
        result = self.run_check(image)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(reason, result.stderr)

    def test_the_built_image_passes(self):
        result = self.run_check(self.image)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("LZMA-compressed", result.stdout)

    def test_an_sse_instruction_is_refused(self):
        _, _, _, raw = section(self.image, ".text")
        self.image[raw : raw + 3] = bytes([0x0F, 0x57, 0xC0])  # xorps %xmm0, %xmm0
        self.assert_refused(self.image, "vector registers")

    def test_writable_code_is_refused(self):
        at, _, _, _ = section(self.image, ".text")
        (flags,) = struct.unpack_from("<I", self.image, at + 36)
        struct.pack_into("<I", self.image, at + 36, flags | SCN_WRITE)
        self.assert_refused(self.image, "both writable and executable")

    def test_executable_read_only_data_is_refused(self):
        at, _, _, _ = section(self.image, ".rdata")
        (flags,) = struct.unpack_from("<I", self.image, at + 36)
        struct.pack_into("<I", self.image, at + 36, flags | SCN_EXECUTE)
        self.assert_refused(self.image, "read-only data is executable")

    def test_read_only_data_without_its_own_section_is_refused(self):
        at, _, _, _ = section(self.image, ".rdata")
        self.image[at : at + 8] = b".text\0\0\0"
        self.assert_refused(self.image, "no separate read-only data section")

    def test_sub_page_section_alignment_is_refused(self):
        pe = struct.unpack_from("<I", self.image, 0x3C)[0]
        struct.pack_into("<I", self.image, pe + 24 + 32, 32)  # SectionAlignment
        self.assert_refused(self.image, "section alignment is 32")

    def test_an_image_above_the_budget_is_refused(self):
        self.assertLessEqual(len(self.image), 8192)
        self.image += bytes(8193 - len(self.image))
        self.assert_refused(self.image, "above the 8192-byte budget")

    def test_a_section_off_its_page_is_refused(self):
        at, _, address, _ = section(self.image, ".data")
        struct.pack_into("<I", self.image, at + 12, address + 0x20)
        self.assert_refused(self.image, "not on a page boundary")


class CheckImageUsageTest(unittest.TestCase):
    """The command line: --help is an answer, not a file name; every other misuse is one line, status 2."""

    def test_usage(self):
        missing = os.path.join(tempfile.gettempdir(), "no-such-notice.efi")
        for args, status, stream, words in (
            (["--help"], 0, "stdout", "usage: check-image.sh IMAGE.efi"),
            (["-h"], 0, "stdout", "usage: check-image.sh IMAGE.efi"),
            ([], 2, "stderr", "no image given: usage"),
            (["--bogus"], 2, "stderr", "--bogus: usage"),
            ([missing, missing], 2, "stderr", "one image at a time"),
            ([missing], 2, "stderr", "no such file; build it with 'make image'"),
        ):
            with self.subTest(args=args):
                result = subprocess.run([CHECK] + args, capture_output=True, text=True)
                self.assertEqual(result.returncode, status)
                text = getattr(result, stream)
                self.assertIn(words, text)
                self.assertEqual(len(text.splitlines()), 1, text)
                self.assertEqual(getattr(result, "stderr" if stream == "stdout" else "stdout"), "")


if __name__ == "__main__":
    if len(sys.argv) > 1:
        IMAGE = sys.argv.pop(1)
    unittest.main()

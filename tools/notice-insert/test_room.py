#!/usr/bin/env python3
"""How notice-insert tells a user about room: which limit binds when the
files do not fit (the DXE volume's free space, or the room the compressed
volume-image file has in its volume), what each file costs, the room left
after a success, and --check, which answers all of that and writes nothing.

    python3 -m unittest discover -s tools/notice-insert -p 'test_*.py'
"""

import os
import random
import re
import sys
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import firmware_volume as ffs  # noqa: E402
import tool_run  # noqa: E402
from synthetic_images import DRIVER, EXISTING, PICTURE, ffs_file, firmware, section  # noqa: E402


def number(text, pattern):
    """The number (digits and thousands commas) that `pattern`'s group matches in `text`."""
    match = re.search(pattern, text)
    if match is None:
        raise AssertionError("%r not found in %r" % (pattern, text))
    return int(match.group(1).replace(",", ""))


NUMBER = r"([0-9][0-9,]*)"


class Work(tool_run.WorkFolder):
    def setUp(self):
        super().setUp()
        self.out = os.path.join(self.work, "out.fd")


class DoesNotFit(Work):
    def test_the_compressed_file_outgrowing_its_volume_names_both_limits_and_each_file(self):
        noise = random.Random(7).randbytes(0x700)
        base = self.file("base.fd", firmware([EXISTING], outer_length=0x1000, dxe_filler=noise))
        big = self.file("big.ffs", ffs_file(uuid.uuid4(), 2, [section(0x19, random.Random(8).randbytes(0x900))]))
        driver = self.file("driver.ffs", DRIVER)
        for check in ([], ["--check"]):
            with self.subTest(check=check):
                result = tool_run.run_here(["--base", base, "--out", self.out, *check, driver, big])
                self.assertEqual(tool_run.refusal_faults(result, (1,)), [], result)
                line = result.stderr
                self.assertIn("base.fd", line)
                self.assertRegex(line, r"volume-image file 9E21FD93-9C72-4C15-8C4B-E77F1DB2D792 at 0x48")
                need = number(line, r"would be %s bytes" % NUMBER)
                room = number(line, r"volume at 0x0 has %s bytes" % NUMBER)
                self.assertEqual(room, 0x1000 - 0x48)
                self.assertEqual(number(line, r"\(%s too many\)" % NUMBER), need - room)
                # Each file's size inside the DXE volume, and roughly what it adds compressed.
                self.assertEqual(number(line, r"big.ffs %s bytes" % NUMBER), 24 + 4 + 0x900)
                self.assertGreater(number(line, r"big.ffs [0-9,]+ bytes, ~%s compressed" % NUMBER), 0x800)
                self.assertEqual(number(line, r"driver.ffs %s bytes" % NUMBER), len(DRIVER))
                self.assertFalse(os.path.exists(self.out))

    def test_the_dxe_volume_too_small_names_its_free_space_and_each_file(self):
        base = self.file("base.fd", firmware([EXISTING]))
        big = self.file("big.ffs", ffs_file(uuid.uuid4(), 2, [section(0x19, bytes(0x4000))]))
        result = tool_run.run_here(["--base", base, "--out", self.out, big])
        self.assertEqual(tool_run.refusal_faults(result, (1,)), [], result)
        free = number(result.stderr, r"the DXE volume .* has %s bytes free" % NUMBER)
        self.assertEqual(free, 0x4000 - 0x48 - 64 - ffs.align_up(len(EXISTING), 8))
        self.assertEqual(number(result.stderr, r"big.ffs %s bytes" % NUMBER), 24 + 4 + 0x4000)
        self.assertFalse(os.path.exists(self.out))


class Success(Work):
    def test_a_success_names_the_room_that_binds(self):
        base = self.file("base.fd", firmware([EXISTING], outer_length=0x2000))
        picture = self.file("picture.ffs", PICTURE)
        result = tool_run.run_here(["--base", base, "--out", self.out, picture])
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        with open(self.out, "rb") as f:
            patched = bytearray(f.read())
        outer = ffs.read_volume(patched)
        files, free = ffs.read_files(patched, outer)
        left = number(result.stdout, r"room left: %s bytes" % NUMBER)
        self.assertEqual(left, outer.end - files[-1].end)
        self.assertIn("for the compressed volume-image file", result.stdout)
        self.assertEqual(len(result.stdout.splitlines()), 1)

    def test_check_says_it_would_fit_and_writes_nothing(self):
        base = self.file("base.fd", firmware([EXISTING]))
        picture = self.file("picture.ffs", PICTURE)
        before = tool_run.fingerprint([base])
        for args in (["--check"], ["--check", "--out", self.out]):
            with self.subTest(args=args):
                result = tool_run.run_here(["--base", base, *args, picture])
                self.assertEqual(result.status, 0, result.stderr)
                self.assertRegex(
                    result.stdout, r"^notice-insert: .*base.fd: 1 file would fit .*room left: [0-9,]+ bytes"
                )
                self.assertEqual(tool_run.folder_listing(self.work), ["base.fd", "picture.ffs"])
                self.assertEqual(tool_run.fingerprint([base]), before)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Tests of what make run does with a user's picture folder and options.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import argparse
import os
import shutil
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import make_run  # noqa: E402
import png_write  # noqa: E402
import user_pictures  # noqa: E402


NOTICE_PACK = os.environ.get(
    "NOTICE_PACK", os.path.join(ROOT, "build", "host-gcc", "tools", "notice-pack", "notice-pack")
)


def bmp24(width, height, pixel_bytes):
    """A bottom-up 24-bit BMP with a 40-byte header; pixel_bytes are blue, green, red, rows padded."""
    row = (width * 3 + 3) & ~3
    data = b"".join(pixel_bytes[y * width * 3 : (y + 1) * width * 3].ljust(row, b"\0") for y in range(height))
    header = struct.pack(
        "<2sIHHIIIIHHIIIIII", b"BM", 54 + len(data), 0, 0, 54, 40, width, height, 1, 24, 0, 0, 0, 0, 0, 0
    )
    return header + data


@unittest.skipUnless(os.path.exists(NOTICE_PACK), "notice-pack not built (make host-tools)")
class UserPictures(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        self.demo = self.folder("demo", {"notice%d.bmp" % m: b"demo%d" % m for m in range(1, 7)})
        self.host_build = os.path.dirname(os.path.dirname(os.path.dirname(NOTICE_PACK)))

    def folder(self, name, files):
        path = os.path.join(self.work, name)
        os.makedirs(path)
        for file_name, data in files.items():
            with open(os.path.join(path, file_name), "wb") as f:
                f.write(data)
        return path

    def prepare(self, mine):
        return user_pictures.prepare(mine, self.demo, os.path.join(self.work, "out"), self.host_build)

    def read_out(self, name):
        with open(os.path.join(self.work, "out", name), "rb") as f:
            return f.read()

    def test_own_pictures_are_converted_and_replace_the_demo_ones_by_number(self):
        # Two colours, so the smallest accepted picture is 1 bit per pixel.
        two_colours = bmp24(3, 2, bytes([255, 0, 0, 0, 0, 0, 255, 0, 0] * 2))
        mine = self.folder("mine", {"notice2.bmp": two_colours, "readme.txt": b"x"})
        png_write.write_png_rgb(os.path.join(mine, "notice5.png"), 2, 1, bytes([0, 0, 255, 9, 9, 9]))
        self.assertEqual(self.prepare(mine), ([2, 5], [1, 3, 4, 6]))
        bits_per_pixel = lambda bmp: struct.unpack_from("<H", bmp, 28)[0]  # noqa: E731
        self.assertEqual(self.read_out("notice2.bmp")[:2], b"BM")
        self.assertEqual(bits_per_pixel(self.read_out("notice2.bmp")), 1)
        self.assertEqual(bits_per_pixel(self.read_out("notice5.bmp")), 1)
        self.assertEqual(self.read_out("notice1.bmp"), b"demo1")
        self.assertEqual(sorted(os.listdir(os.path.join(self.work, "out"))), ["notice%d.bmp" % m for m in range(1, 7)])

    def test_unusable_folders_are_refused_with_the_reason(self):
        cases = {
            "no folder": (os.path.join(self.work, "none"), "is not a directory"),
            "no notice files": (self.folder("empty", {"logo.bmp": b"x"}), "holds none of notice1.bmp"),
            "both kinds": (self.folder("both", {"notice1.bmp": b"x", "notice1.png": b"y"}), "keep one"),
            "not a picture": (self.folder("junk", {"notice3.png": b"junk"}), "neither a PNG nor a BMP"),
        }
        for label, (folder, message) in cases.items():
            with self.subTest(label), self.assertRaisesRegex(user_pictures.PictureError, message):
                self.prepare(folder)


class Options(unittest.TestCase):
    def test_screen_sizes(self):
        self.assertEqual(make_run.screen_size("1024x768"), (1024, 768))
        for bad in ("1024", "1024x", "x768", "1024*768", "10x10"):
            with self.subTest(bad), self.assertRaises(argparse.ArgumentTypeError):
                make_run.screen_size(bad)

    def test_every_scenario_runs_in_the_firmware_but_the_unsigned_driver_from_disk(self):
        for scenario in cases.SCENARIOS:
            with self.subTest(scenario.name):
                config = make_run.parse_arguments(
                    ["--build-dir", "b", "--host-build", "h", "--scenario", scenario.name]
                )
                case = make_run.case_of(config)
                self.assertEqual(case.in_firmware(), scenario.sign_driver)
                self.assertIsNone(case.skip_reason())
                self.assertEqual(case.display_args(), ["-vga", "std"])
                settings = make_run.settings_of(config, "pack", "sim", "pictures", "work")
                self.assertEqual((settings.pictures_dir, settings.firmware.name), ("pictures", "ovmf-2022.11"))

    def test_a_screen_size_and_a_firmware_are_the_users_choice(self):
        config = make_run.parse_arguments(
            ["--build-dir", "b", "--host-build", "h", "--screen", "1024x768", "--firmware", "ovmf-2025.02"]
        )
        self.assertEqual(make_run.case_of(config).display_args(), ["-device", "VGA,xres=1024,yres=768"])
        self.assertEqual(make_run.settings_of(config, "p", "s", "d", "w").firmware.name, "ovmf-2025.02")


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Tests of what make run does with a user's picture folder and options.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import argparse
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_run  # noqa: E402
import qemu  # noqa: E402
import run  # noqa: E402
import user_pictures  # noqa: E402


class UserPictures(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        self.demo = self.folder("demo", {"notice%d.bmp" % m: b"demo%d" % m for m in range(1, 7)})

    def folder(self, name, files):
        path = os.path.join(self.work, name)
        os.makedirs(path)
        for file_name, data in files.items():
            with open(os.path.join(path, file_name), "wb") as f:
                f.write(data)
        return path

    def prepare(self, mine):
        return user_pictures.prepare(mine, self.demo, os.path.join(self.work, "out"), "build/host-gcc")

    def test_own_pictures_replace_the_demo_ones_by_number(self):
        mine = self.folder("mine", {"notice2.bmp": b"mine2", "notice5.bmp": b"mine5", "readme.txt": b"x"})
        self.assertEqual(self.prepare(mine), ([2, 5], [1, 3, 4, 6]))
        out = os.path.join(self.work, "out")
        with open(os.path.join(out, "notice5.bmp"), "rb") as f:
            self.assertEqual(f.read(), b"mine5")
        with open(os.path.join(out, "notice1.bmp"), "rb") as f:
            self.assertEqual(f.read(), b"demo1")
        self.assertEqual(sorted(os.listdir(out)), ["notice%d.bmp" % m for m in range(1, 7)])

    def test_unusable_folders_are_refused_with_the_reason(self):
        cases = {
            "no folder": (os.path.join(self.work, "none"), "is not a directory"),
            "no notice files": (self.folder("empty", {"logo.bmp": b"x"}), "holds none of notice1.bmp"),
            "both kinds": (self.folder("both", {"notice1.bmp": b"x", "notice1.png": b"y"}), "keep one"),
            "a PNG before the converter is wired": (self.folder("png", {"notice3.png": b"\x89PNG"}),
                                                    "no PNG converter yet: give notice<N>.bmp"),
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

    def test_every_scenario_runs_and_only_the_unsigned_driver_from_disk(self):
        args = argparse.Namespace(build_dir="b", timeout=1.0, screen=(1024, 768))
        for scenario in run.SCENARIOS:
            with self.subTest(scenario.name):
                settings = make_run.run_arguments(args, scenario, "pack", "sim", "pictures", "work")
                self.assertEqual(settings.driver_in_firmware, scenario.sign_driver)
                self.assertEqual(settings.screen, "1024x768")
                self.assertEqual(settings.demo_pictures, "pictures" if scenario.sign_driver else None)


class Display(unittest.TestCase):
    def test_a_screen_size_replaces_the_standard_vga(self):
        with tempfile.TemporaryDirectory() as work:
            vars_template = os.path.join(work, "vars.in")
            open(vars_template, "wb").close()
            for screen, wanted, unwanted in (("", ["-vga", "std"], "VGA,xres"),
                                             ("1024x768", ["-device", "VGA,xres=1024,yres=768"], "-vga")):
                with self.subTest(screen=screen):
                    line = qemu.Machine(qemu.MachineConfig(vars_template=vars_template, screen=screen),
                                        work).command_line()
                    at = line.index(wanted[0])
                    self.assertEqual(line[at:at + 2], wanted)
                    self.assertFalse([arg for arg in line if arg.startswith(unwanted)])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Tests of what make run does with a user's picture folder and options.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import argparse
import contextlib
import io
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import checks  # noqa: E402
import make_run  # noqa: E402
import png_write  # noqa: E402
import test_checks  # noqa: E402
import user_pictures  # noqa: E402
from simulator import SimulatorRecord  # noqa: E402


NOTICE_PACK = os.environ.get(
    "NOTICE_PACK", os.path.join(ROOT, "build", "host-gcc", "tools", "notice-pack", "notice-pack")
)
DRIVER = os.path.join(ROOT, "build", "image", "notice.efi")
BLT_FAILURE = "GraphicsOutput->Blt failure..."
TOO_TALL = "1,000 pixels tall on a screen 800 high: ...; make it at most 800 tall"


def png(path, width, height, pixels, colour_type, depth=8):
    """A PNG of RGB (2) or RGBA (6) samples of `depth` bits, each sample an int, rows unfiltered."""
    size = depth // 8
    channels = {2: 3, 6: 4}[colour_type]
    stride = width * channels
    rows = [pixels[y * stride : (y + 1) * stride] for y in range(height)]
    raw = b"".join(b"\0" + b"".join(v.to_bytes(size, "big") for v in row) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(png_write.SIGNATURE + png_write._chunk(b"IHDR", header))
        f.write(png_write._chunk(b"IDAT", zlib.compress(raw)) + png_write._chunk(b"IEND", b""))


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
        prepared = self.prepare(mine)
        self.assertEqual(
            (prepared.own, prepared.demo, prepared.changes),
            ({2: os.path.join(mine, "notice2.bmp"), 5: os.path.join(mine, "notice5.png")}, [1, 3, 4, 6], {}),
        )
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

    def test_what_converting_changed_is_kept_for_the_user(self):
        mine = self.folder("mine", {})
        # notice1: an opaque 8-bit picture; notice2: one pixel of four transparent; notice3: 16-bit channels.
        png(os.path.join(mine, "notice1.png"), 2, 2, [9, 9, 9, 255] * 4, 6)
        png(os.path.join(mine, "notice2.png"), 2, 2, [9, 9, 9, 255] * 3 + [9, 9, 9, 0], 6)
        png(os.path.join(mine, "notice3.png"), 2, 1, [0x1234, 0x5678, 0x9ABC, 0xFFFF, 0, 0x0101], 2, 16)
        changes = self.prepare(mine).changes
        self.assertEqual(sorted(changes), [2, 3])
        self.assertEqual(len(changes[2]), 1)
        self.assertRegex(changes[2][0], r"1 of (the )?4 pixels.*transparent")
        self.assertRegex(changes[3][0], r"^16 bits per channel are rounded to 8: 1 of 2 pixels")
        lines = make_run.change_lines("make_run", make_run.Chosen("out", "", self.prepare(mine).own, changes))
        self.assertEqual(len(lines), 2)
        self.assertTrue(lines[0].startswith("make_run: picture 2 (%s) was changed" % os.path.join(mine, "notice2.png")))
        self.assertNotIn("notice-pack convert: warning", " ".join(lines))


@unittest.skipUnless(os.path.exists(NOTICE_PACK) and os.path.exists(DRIVER), "needs notice-pack and notice.efi")
class FlashRoom(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)

    def bmp(self, mode, width, height, data):
        path = os.path.join(self.work, "notice%d.bmp" % mode)
        with open(path, "wb") as f:
            f.write(bmp24(width, height, data))
        return path

    def refusal(self, files, own, image="/usr/share/OVMF/OVMF_CODE_4M.fd"):
        return user_pictures.flash_refusal(NOTICE_PACK, DRIVER, files, own, image, os.path.join(self.work, "check"))

    def test_a_set_too_large_for_the_image_booted_is_refused_by_picture(self):
        # Noise does not compress: 2.1 MB of it outgrow the room the compressed DXE volume has.
        noise = random.Random(1).randbytes(1000 * 700 * 3)
        files = {5: self.bmp(5, 1000, 700, noise), 1: self.bmp(1, 4, 2, bytes(24))}
        refusal = self.refusal(files, {5: "art/notice5.png"})
        self.assertRegex(refusal, r"^the pictures do not fit the firmware image: OVMF_CODE_4M\.fd has room for [\d,]+ ")
        self.assertNotIn("secboot", refusal)  # only the image booted
        self.assertRegex(refusal, r"picture 5 \(art/notice5\.png\) 2,\d{3},\d{3}")
        self.assertRegex(refusal, r"picture 1 \(demo\) \d+, ")
        self.assertIn("the driver ", refusal)
        self.assertEqual(len(refusal.splitlines()), 1)

    def test_a_set_that_fits_is_not_refused(self):
        self.assertIsNone(self.refusal({5: self.bmp(5, 300, 200, bytes(300 * 200 * 3))}, {}))
        self.assertIsNone(self.refusal({5: self.bmp(5, 300, 200, bytes(300 * 200 * 3))}, {}, "/x/OVMF_CODE_4M.ms.fd"))


@unittest.skipUnless(os.path.exists(NOTICE_PACK) and os.path.exists(DRIVER), "needs notice-pack and notice.efi")
class ImageBuild(unittest.TestCase):
    """notice-insert's words reach make run: the room that binds on success, its refusal as the error."""

    def test_the_room_that_binds_is_kept_and_a_refusal_is_notice_inserts_line(self):
        sys.path.insert(0, os.path.join(ROOT, "tools", "notice-insert"))
        import synthetic_images

        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        base = os.path.join(work, "base.fd")
        with open(base, "wb") as f:
            f.write(synthetic_images.firmware())  # a DXE volume of 16 KiB: the driver fits, little else
        small, large = bmp24(2, 2, bytes(12)), bmp24(60, 60, bytes(60 * 60 * 3))
        with contextlib.redirect_stdout(io.StringIO()):
            image = make_run.pipeline.make_images.build(NOTICE_PACK, DRIVER, base, {5: small}, work + "/a", "x.fd")
        with open(os.path.join(work, "a", make_run.pipeline.make_images.INSERT_REPORT)) as f:
            self.assertRegex(f.read(), r"^notice-insert: wrote .*; room left: [\d,]+ bytes free in the DXE volume")
        report = checks.Report(cases.named("plain"))
        report.code_image = image
        self.assertRegex(make_run.room_line(report), r"^room left: [\d,]+ bytes free in the DXE volume$")
        with self.assertRaisesRegex(
            make_run.pipeline.make_images.InsertRefused, r"^notice-insert: .*base\.fd: the files do not fit"
        ):
            make_run.pipeline.make_images.build(NOTICE_PACK, DRIVER, base, {5: large}, work + "/b", "x.fd")
        self.assertFalse(os.path.exists(os.path.join(work, "b", "x.fd")))


class InsertRefusal(unittest.TestCase):
    def test_notice_inserts_refusal_names_each_file_by_what_it_holds(self):
        folder = "/b/firmware-images/demo/ovmf-2025.02/20d0/ffs/"
        text = (
            "the files do not fit: ...; each file, inside and compressed: %s1E16495C-074B-42D0-884C-5729229B3EEB.ffs "
            "8,244 bytes, ~5,593 compressed; %sC6E37D95-A12F-4321-AB6C-A0EB9708100A.ffs 6,220,882 bytes, ~6,304,053 "
            "compressed; %s2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6.ffs 15,290 bytes, ~336 compressed; "
            "%s00000000-0000-0000-0000-000000000000.ffs 1 bytes" % (folder, folder, folder, folder)
        )
        chosen = make_run.Chosen("out", "", {5: "art/notice5.png"})
        self.assertEqual(
            make_run.by_picture(text, chosen),
            "the files do not fit: ...; each file, inside and compressed: the driver 8,244 bytes, ~5,593 compressed; "
            "picture 5 (art/notice5.png) 6,220,882 bytes, ~6,304,053 compressed; picture 1 (demo) 15,290 bytes, "
            "~336 compressed; %s00000000-0000-0000-0000-000000000000.ffs 1 bytes" % folder,
        )


def make(*args):
    """`make -s ARGS` in the repository, without the caller's make flags."""
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    return subprocess.run(["make", "-s", "-C", ROOT] + list(args), capture_output=True, text=True, env=env)


@unittest.skipUnless(shutil.which("make"), "needs make")
class MakeTargets(unittest.TestCase):
    def test_make_sign_without_a_key_says_its_usage_before_building_anything(self):
        for args in ((), ("KEY=k.pem",), ("CERT=c.pem",)):
            with self.subTest(args):
                dry = make("-n", "sign", "KEY=", "CERT=", *args)
                self.assertNotIn("cmake", dry.stdout)
                result = make("sign", "KEY=", "CERT=", *args)
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage: make sign KEY=key.pem CERT=cert.pem", result.stderr)
                self.assertEqual(result.stdout, "")

    def test_make_run_hands_each_value_on_as_option_equals_value(self):
        # A value starting with "-" must reach make_run's own check, not be taken for an option.
        dry = make("-n", "run", "SCREEN=-5x600", "PICTURES=-art", "CODE=-my.fd", "SCENARIO=plain")
        line = [text for text in dry.stdout.splitlines() if "make_run.py" in text]
        self.assertEqual(len(line), 1, dry.stdout)
        for option in ("--screen=-5x600", "--pictures=-art", "--code=-my.fd", "--scenario=plain"):
            self.assertIn(" " + option, line[0])


def usage_error(argv):
    """(exit status, standard error) of parsing make_run's command line."""
    error = io.StringIO()
    with contextlib.redirect_stderr(error), contextlib.redirect_stdout(io.StringIO()):
        try:
            make_run.parse_arguments(["--build-dir", "b", "--host-build", "h"] + argv, "make_run")
        except SystemExit as stop:
            return stop.code, error.getvalue()
    return 0, error.getvalue()


class Options(unittest.TestCase):
    def test_screens_the_firmware_starts_in(self):
        # Each as measured with QEMU's standard VGA and OVMF: started as asked.
        for good in ("1024x768", "1280x800", "2560x1600", "2048x2048", "4088x1024", "1024x4095", "640x480"):
            with self.subTest(good):
                width, height = (int(n) for n in good.split("x"))
                self.assertEqual(make_run.screen_size(good), (width, height))

    def test_screens_it_does_not_start_in_are_refused_with_the_rule(self):
        # (asked, the fault named): each started in another mode, showed other columns, or is no size at all.
        for bad, fault in (
            ("99999x99999", "not a multiple of 8"),
            ("8000x8000", "frame buffer takes 256,000,000 bytes"),
            ("3840x2160", "frame buffer takes 33,177,600 bytes"),
            ("2560x1640", "frame buffer takes 16,793,600 bytes"),
            ("4096x1024", "a side is longer than 4095"),
            ("1024x4096", "a side is longer than 4095"),
            ("632x480", "smaller than 640x480"),
            ("640x472", "smaller than 640x480"),
            ("16x16", "smaller than 640x480"),
            ("0x0", "smaller than 640x480"),
            ("1366x768", "the width 1366 is not a multiple of 8"),
            ("-5x600", "is not WIDTHxHEIGHT"),
            ("1024", "is not WIDTHxHEIGHT"),
            ("1024*768", "is not WIDTHxHEIGHT"),
        ):
            with self.subTest(bad), self.assertRaisesRegex(argparse.ArgumentTypeError, fault) as caught:
                make_run.screen_size(bad)
            if "WIDTHxHEIGHT" not in fault:
                self.assertIn(make_run.SCREEN_RULE, str(caught.exception))
        self.assertIn("a multiple of 8 from 640 to 4088, a height from 480 to 4095", make_run.SCREEN_RULE)

    def test_the_flash_check_is_made_only_where_notice_pack_knows_the_room(self):
        def gate(argv, scenario="plain"):
            build = os.path.dirname(DRIVER)
            config = make_run.parse_arguments(
                ["--build-dir", build, "--host-build", "h", "--scenario", scenario] + argv
            )
            case = make_run.case_of(config)
            return make_run.flash_refusal(config, case, "/no/notice-pack", {5: "x.bmp"}, make_run.Chosen("d", ""), "w")

        # Each returns before running the (absent) notice-pack: another firmware build, the user's own
        # image, a driver loaded from disk.
        for label, argv, scenario in (
            ("Debian 13's OVMF", ["--firmware", "ovmf-2025.02"], "plain"),
            ("own image", ["--code", __file__], "plain"),
            ("from disk", [], "secure-unsigned-driver"),
        ):
            with self.subTest(label):
                self.assertIsNone(gate(argv, scenario))
        if os.path.exists(DRIVER):  # the default firmware with the driver built: notice-pack is asked
            with self.assertRaises(FileNotFoundError):
                gate([])

    def test_a_firmware_that_starts_in_another_mode_is_caught(self):
        for screen, facts, started in (
            ((1024, 768), {"GopWidth": 1024, "GopHeight": 768}, None),
            ((16, 16), {"GopWidth": 1280, "GopHeight": 800}, "1280x800"),
            (None, {"GopWidth": 1280, "GopHeight": 800}, None),  # the default screen: whatever it starts in
            ((1024, 768), {}, None),  # no graphics output: no mode to compare
        ):
            with self.subTest(screen=screen, facts=facts):
                self.assertEqual(make_run.other_mode(screen, facts), started)

    def test_usage_errors_are_one_line_with_exit_status_2(self):
        for argv, words in (
            (["--screen=-5x600"], "make_run: SCREEN=-5x600 is not WIDTHxHEIGHT"),
            (["--screen=8000x8000"], "make_run: SCREEN=8000x8000: OVMF on QEMU's standard VGA would not show"),
            (["--code=" + __file__, "--pictures=art"], "boots the pictures inside that image: leave PICTURES= out"),
            (["--code=" + __file__, "--scenario=secure-no-ec"], "boots with Secure Boot off: choose a scenario"),
            (["--code=/no/such.fd"], "CODE=/no/such.fd: no such file"),
            (["--scenario=nope"], "invalid choice"),
        ):
            with self.subTest(argv):
                status, error = usage_error(argv)
                self.assertEqual(status, 2)
                self.assertIn(words, error)
                self.assertEqual(len(error.splitlines()), 1, error)
                self.assertNotIn("usage:", error)

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

    def test_an_own_code_image_boots_with_its_own_pictures_and_the_chosen_builds_variables(self):
        config = make_run.parse_arguments(["--build-dir", "b", "--host-build", "h", "--code", __file__])
        case = make_run.case_of(config)
        settings = make_run.settings_of(config, "p", "s", "demo", "w")
        self.assertTrue(case.in_firmware())
        self.assertTrue(settings.firmware.given)
        self.assertEqual(settings.firmware.code, os.path.abspath(__file__))
        self.assertIsNone(settings.pictures_dir)  # the image's own pictures, not the demo ones


class OwnCodeImage(unittest.TestCase):
    def test_an_image_without_the_driver_is_refused_before_booting(self):
        sys.path.insert(0, os.path.join(ROOT, "tools", "notice-insert"))
        import synthetic_images

        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        for label, image, words in (
            ("with the driver", synthetic_images.firmware([synthetic_images.DRIVER, synthetic_images.PICTURE]), None),
            ("stock", synthetic_images.firmware([synthetic_images.PICTURE]), "holds no driver file (1E16495C-"),
            ("not firmware", b"\xff" * 4096, "cannot be read: holds no firmware volume"),
            ("larger than any flash", None, "is 67,108,865 bytes, more than the 67,108,864"),
        ):
            with self.subTest(label):
                path = os.path.join(work, label + ".fd")
                with open(path, "wb") as f:
                    f.write(image) if image is not None else f.truncate(make_run.pipeline.MAX_CODE_IMAGE_BYTES + 1)
                if words is None:
                    make_run.refuse_code_without_driver(path)
                    continue
                with self.assertRaisesRegex(RuntimeError, "^CODE=%s %s" % (re.escape(path), re.escape(words))):
                    make_run.refuse_code_without_driver(path)


def sim_record(modes=(5,), blts=({"x": 310},), reasons=("",), console=()):
    return SimulatorRecord("sim", modes=list(modes), blts=list(blts), reasons=list(reasons), console=list(console))


class Outcome(unittest.TestCase):
    def test_what_each_notification_showed_in_notice_sims_words(self):
        for label, sim, words in (
            ("drawn", sim_record(), "notice 5 (Secure Boot is off) appeared"),
            (
                "too tall",
                sim_record(blts=(None,), reasons=(TOO_TALL,)),
                "notice 5 (Secure Boot is off) was due, but nothing was drawn: " + TOO_TALL,
            ),
            ("nothing due", sim_record(modes=(0,), blts=(None,)), "no notice was due"),
            (
                "two triggers",
                sim_record(modes=(2, 2), blts=({"x": 0}, None), reasons=("", "why")),
                "notice 2 (the embedded controller's flag bit) appeared; then notice 2 (the embedded controller's "
                "flag bit) was due, but nothing was drawn: why",
            ),
            ("no notification", sim_record(modes=(), blts=(), reasons=()), "the driver was not notified"),
        ):
            with self.subTest(label):
                self.assertEqual(make_run.outcome(sim), words)

    def test_the_screen_comparison_in_words(self):
        report = checks.Report(cases.named("plain"))
        for note, words in (
            ("notice-sim's screen: identical", "the screen equals notice-sim's pixel for pixel"),
            (
                "notice-sim's screen: 829 pixels differ, all inside the console's text cells (x 240-479, y 105-123)",
                "the screen equals notice-sim's but for the console text OVMF draws (at x 240-479, y 105-123)",
            ),
            ("no graphics output: no screen to compare", "no screen to compare (no graphics output)"),
        ):
            with self.subTest(note):
                report.notes = ["firmware offers: GopModes 1", note]
                self.assertEqual(make_run.screen_words(report), words)

    def test_a_picture_notice_sim_does_not_draw_passes_when_the_firmware_agrees(self):
        plain = cases.named("plain", driver_in_firmware=True)
        sim = test_checks.simulated(console=[BLT_FAILURE], blts=[None])
        record = test_checks.good_record(plain)
        record.serial_text += BLT_FAILURE + "\n"
        # The scenario's own pictures are drawn without a line: judged by them, a too-tall picture fails.
        self.assertEqual(len(test_checks.judge(plain, record, sim).problems), 2)
        foreseen = make_run.expecting(plain, sim)
        self.assertEqual((foreseen.console, foreseen.drawn), ((BLT_FAILURE,), False))
        self.assertEqual(test_checks.judge(foreseen, record, sim).problems, [])
        # A firmware that does not do what notice-sim foresaw still fails.
        silent = test_checks.good_record(plain)
        self.assertIn("driver printed [], expected", " ".join(test_checks.judge(foreseen, silent, sim).problems))


class ConsoleLog(unittest.TestCase):
    def test_the_console_a_user_reads_holds_the_firmwares_lines_only(self):
        serial = (
            b"\x1b[2J\x1b[01;01HBdsDxe: starting Boot0002\r\n\r\nE2E Begin\r\n"
            b"\r\nE2E ReadPicture1 0x800000000000000E\r\n"
            b"\x1b[2J\x1b[01;01HGraphicsOutput->Blt failure...\r\n\x1b[0m\x1b[01;01H\r\n\r\nE2E ResetSystem\r\n"
        )
        self.assertEqual(make_run.console_text(serial), b"BdsDxe: starting Boot0002\nGraphicsOutput->Blt failure...\n")


if __name__ == "__main__":
    unittest.main()

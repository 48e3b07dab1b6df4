#!/usr/bin/env python3
"""Unit tests of the pictures the runs use (the test pictures, the edge and
hostile sets, the variants that store them) and of the files the runner
reads: screenshots, notice-sim's PNG screen, its event log and summary.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import json
import os
import struct
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures  # noqa: E402
import png_read  # noqa: E402
import png_write  # noqa: E402
import qemu  # noqa: E402
import simulator  # noqa: E402


def bmp_fields(bmp):
    size, _, _, offset, info, width, height, planes, bits, compression = struct.unpack("<IHHIIIIHHI", bmp[2:34])
    return dict(size=size, offset=offset, info=info, width=width, height=height, bits=bits, compression=compression)


def row_size(width, bits):
    """The decoder's row size: formed in 32 bits."""
    return (((width * bits + 31) & 0xFFFFFFFF) // 8) & ~3


class PictureFilesTest(unittest.TestCase):
    def setUp(self):
        self.all = pictures.make_pictures()

    def test_headers_describe_the_stored_bytes(self):
        for mode, p in self.all.items():
            with self.subTest(mode=mode):
                f = bmp_fields(p.bmp)
                self.assertEqual(p.bmp[:2], b"BM")
                self.assertEqual(f["size"], len(p.bmp))
                self.assertEqual((f["info"], f["compression"], f["bits"]), (40, 0, p.bits))
                row = ((p.width * p.bits + 31) // 32) * 4
                self.assertEqual(f["size"] - f["offset"], row * p.height)
                self.assertEqual(f["offset"], 54 + (4 << p.bits if p.bits != 24 else 0))

    def test_every_picture_has_row_padding(self):
        for mode, p in self.all.items():
            with self.subTest(mode=mode):
                self.assertNotEqual((p.width * p.bits) % 32, 0)

    def test_rows_are_stored_bottom_first(self):
        p = self.all[4]  # 24 bits
        f = bmp_fields(p.bmp)
        r, g, b = p.rows[-1][0:3]
        self.assertEqual(p.bmp[f["offset"] : f["offset"] + 3], bytes((b, g, r)))
        r, g, b = p.rows[0][0:3]
        top = f["offset"] + (p.height - 1) * (((p.width * 24 + 31) // 32) * 4)
        self.assertEqual(p.bmp[top : top + 3], bytes((b, g, r)))

    def test_packed_pixels_are_high_bits_first(self):
        for mode in (2, 3):  # 4 and 1 bits per pixel
            p = self.all[mode]
            with self.subTest(mode=mode):
                f = bmp_fields(p.bmp)
                first_byte = p.bmp[f["offset"]]
                bottom = p.indices[-1]
                if p.bits == 4:
                    self.assertEqual(first_byte, (bottom[0] << 4) | bottom[1])
                else:
                    expected = 0
                    for x in range(8):
                        expected |= bottom[x] << (7 - x)
                    self.assertEqual(first_byte, expected)

    def test_colour_map_entries_are_blue_green_red_reserved(self):
        p = self.all[1]
        r, g, b = p.palette[5]
        self.assertEqual(p.bmp[54 + 4 * 5 : 54 + 4 * 6], bytes((b, g, r, 0)))

    def test_pictures_differ_from_each_other_and_from_black(self):
        screens = {mode: pictures.expected_screen(1280, 800, p) for mode, p in self.all.items()}
        screens[0] = pictures.expected_screen(1280, 800)
        self.assertEqual(len(set(screens.values())), len(screens))


class ScreenTest(unittest.TestCase):
    def test_position_is_centred_ten_pixels_left(self):
        p = pictures.make_picture(1)
        p.width, p.height = 400, 300
        self.assertEqual(pictures.picture_position(1024, 768, p), (302, 234))
        p.width, p.height = 1005, 1
        self.assertEqual(pictures.picture_position(1024, 768, p), (-1, 383))

    def test_expected_screen_places_the_picture(self):
        p = pictures.make_picture(6)
        screen = pictures.expected_screen(1280, 800, p)
        left, top = pictures.picture_position(1280, 800, p)
        corner = ((top * 1280) + left) * 3
        self.assertEqual(screen[corner : corner + 3], p.rows[0][0:3])
        last = (((top + p.height - 1) * 1280) + left + p.width - 1) * 3
        self.assertEqual(screen[last : last + 3], p.rows[-1][-3:])
        self.assertEqual(screen[corner - 3 : corner], b"\0\0\0")
        self.assertEqual(screen[last + 3 : last + 6], b"\0\0\0")
        self.assertEqual(len(screen), 1280 * 800 * 3)


def encode_png(width, height, rgb, filters, channels=3):
    """A PNG whose row y uses filter filters[y % len(filters)]."""
    stride = width * channels
    raw = bytearray()
    previous = bytes(stride)
    for y in range(height):
        row = rgb[y * stride : (y + 1) * stride]
        kind = filters[y % len(filters)]
        out = bytearray()
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            up_left = previous[i - channels] if i >= channels else 0
            predictor = [0, left, up, (left + up) >> 1, png_read._paeth(left, up, up_left)][kind]
            out.append((row[i] - predictor) & 255)
        raw += bytes([kind]) + out
        previous = row

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    colour = 2 if channels == 3 else 6
    return (
        png_read.SIGNATURE
        + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(bytes(raw)))
        + chunk(b"IEND", b"")
    )


class FileReaderTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_png_every_row_filter(self):
        width, height = 7, 10
        rgb = bytes((x * 31 + y * 17 + c * 5) & 255 for y in range(height) for x in range(width) for c in range(3))
        for kind in range(5):
            with self.subTest(filter=kind):
                path = self.write("f%d.png" % kind, encode_png(width, height, rgb, [kind, 0, kind]))
                self.assertEqual(png_read.read_png_rgb(path), (width, height, rgb))

    def test_png_alpha_is_dropped(self):
        rgba = bytes([1, 2, 3, 255, 4, 5, 6, 0])
        path = self.write("a.png", encode_png(2, 1, rgba, [1], channels=4))
        self.assertEqual(png_read.read_png_rgb(path), (2, 1, bytes([1, 2, 3, 4, 5, 6])))

    def test_png_rejects_other_files(self):
        with self.assertRaises(ValueError):
            png_read.read_png_rgb(self.write("x.png", b"P6 1 1 255\n\0\0\0"))

    def test_ppm_with_comment(self):
        path = self.write("s.ppm", b"P6\n# made by a test\n2 1\n255\n" + bytes(range(6)))
        self.assertEqual(qemu.read_ppm(path), (2, 1, bytes(range(6))))

    def test_ppm_truncated(self):
        with self.assertRaises(ValueError):
            qemu.read_ppm(self.write("t.ppm", b"P6 2 2 255\n" + bytes(5)))


class EdgePicturesTest(unittest.TestCase):
    def test_the_edge_pictures_are_sized_from_the_screen(self):
        cases = [("fits-exactly", 780, 40), ("too-wide", 781, 40), ("taller-than-screen", 100, 601)]
        for name, width, height in cases:
            with self.subTest(name=name):
                picture = pictures.picture_set(name, 800, 600)[5]
                h = bmp_fields(picture.bmp)
                self.assertEqual((h["width"], h["height"], h["size"]), (width, height, len(picture.bmp)))
                self.assertEqual(h["size"] - h["offset"], row_size(width, 24) * height)
                self.assertNotIn(b"\0\0\0", b"".join(picture.rows))  # no black pixel

    def test_the_hostile_pictures_pass_the_size_checks_they_aim_past(self):
        for name in ("wrapping-row-size", "zero-width-tall"):
            with self.subTest(name=name):
                bmp = pictures.picture_set(name)[5].bmp
                h = bmp_fields(bmp)
                self.assertEqual(h["size"], len(bmp))
                self.assertEqual(h["size"] - h["offset"], row_size(h["width"], h["bits"]) * h["height"])
        wrapping = bmp_fields(pictures.picture_set("wrapping-row-size")[5].bmp)
        self.assertLess(row_size(wrapping["width"], 24), wrapping["width"] * 3)  # the row size wrapped
        tall = bmp_fields(pictures.picture_set("zero-width-tall")[5].bmp)
        self.assertEqual((tall["width"], tall["height"]), (0, 0x7FFFFFFF))

    def test_other_modes_keep_the_test_pictures(self):
        test = pictures.make_pictures()
        chosen = pictures.picture_set("too-wide", 800, 600)
        self.assertEqual({m: p.bmp for m, p in chosen.items() if m != 5}, {m: p.bmp for m, p in test.items() if m != 5})
        with self.assertRaises(ValueError):
            pictures.picture_set("no-such-set")

    def test_a_folder_of_pictures_stands_in_for_the_test_pictures(self):
        with tempfile.TemporaryDirectory() as d:
            pictures.write_bmps(d, {2: b"BM two", 5: b"BM five"})
            chosen = pictures.picture_set("test", pictures_dir=d)
        self.assertEqual({m: p.bmp for m, p in chosen.items()}, {2: b"BM two", 5: b"BM five"})
        self.assertIsNone(chosen[5].rows)


class VariantTest(unittest.TestCase):
    PICTURES = {mode: pictures.RawPicture(mode, b"BM" + bytes([mode]) * 200) for mode in range(1, 7)}

    def bmps(self, variant):
        return {m: p.bmp for m, p in pictures.stored(variant, self.PICTURES).items()}

    def test_variants(self):
        full = self.bmps("full")
        self.assertEqual(full, {m: p.bmp for m, p in self.PICTURES.items()})
        self.assertEqual(sorted(self.bmps("missing-3")), [1, 2, 4, 5, 6])
        malformed = self.bmps("malformed-5")
        self.assertEqual(malformed[5], full[5][: pictures.MALFORMED_KEEP_BYTES])
        self.assertEqual({m: d for m, d in malformed.items() if m != 5}, {m: d for m, d in full.items() if m != 5})
        self.assertEqual(self.bmps("compressed-3"), full)

    def test_variant_options(self):
        self.assertEqual(pictures.pack_options("malformed-5"), ("--allow-invalid",))
        self.assertEqual(pictures.pack_options("compressed-3"), ("--compress", "3"))
        self.assertEqual(pictures.pack_options("missing-2"), ())

    def test_bad_variant_names_are_refused(self):
        for name in ("missing-7", "missing-", "broken-1", "full-1", "compressed-0", ""):
            with self.subTest(name=name), self.assertRaises(ValueError):
                pictures.stored(name, self.PICTURES)


class SimulatorOutputTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def write(self, name, text):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write(text)

    def test_what_notice_sim_recorded(self):
        events = [
            {"kind": "port_write", "port": "0x72", "value": "0x30"},
            {"kind": "port_read", "port": "0x66", "value": "0x1"},
            {"kind": "port_write", "port": "0x66", "value": "0x80"},
            {"kind": "port_write", "port": "0x73", "value": "0x0"},
            {"kind": "call", "name": "Stall"},
            {"kind": "port_write", "port": "0x72", "value": "0x30"},
            {"kind": "port_write", "port": "0x73", "value": "0xAA"},
        ]
        self.write("events.jsonl", "".join(json.dumps(e) + "\n" for e in events))
        summary = {
            "connected": ["nvme0"],
            "notifications": [
                {"notice_mode": 5, "blt": False, "console": ["GetBitMapFromFV failure...\r\n"]},
                {"notice_mode": 5, "blt": True, "console": ["\r\n", "ConvertBmpToGopBltofTarvex failure...\r\n"]},
            ],
        }
        self.write("summary.json", json.dumps(summary))
        record = simulator.read_record(self.dir, "notice-sim: notice 5\nthe last line\n\n", want_screen=False)
        self.assertEqual(record.port_writes, {0x72: b"\x30\x30", 0x73: b"\x00\xAA", 0x66: b"\x80"})
        self.assertEqual(record.console, ["GetBitMapFromFV failure...", "ConvertBmpToGopBltofTarvex failure..."])
        self.assertEqual(record.last_console, ["ConvertBmpToGopBltofTarvex failure..."])
        self.assertEqual((record.modes, record.blts, record.connected), ([5, 5], [False, True], ["nvme0"]))
        self.assertEqual(record.sentence, "the last line")

    def test_png_written_reads_back(self):
        pixels = bytes((x * 7 + y * 3) & 255 for y in range(5) for x in range(3 * 4))
        path = os.path.join(self.dir, "s.png")
        png_write.write_png_rgb(path, 4, 5, pixels)
        self.assertEqual(png_read.read_png_rgb(path), (4, 5, pixels))


if __name__ == "__main__":
    unittest.main()

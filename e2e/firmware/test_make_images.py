#!/usr/bin/env python3
"""Tests of the picture variants and the input-hash cache of make_images.py.

    python3 -m unittest discover -s e2e/firmware -p 'test_*.py'
"""

import os
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_images  # noqa: E402

PICTURES = {mode: b"BM" + bytes([mode]) * 200 for mode in range(1, 7)}


class VariantTest(unittest.TestCase):
    def test_variants(self):
        full = make_images.variant_pictures("full", PICTURES)
        self.assertEqual(full, PICTURES)
        missing = make_images.variant_pictures("missing-3", PICTURES)
        self.assertEqual(sorted(missing), [1, 2, 4, 5, 6])
        malformed = make_images.variant_pictures("malformed-5", PICTURES)
        self.assertEqual(malformed[5], PICTURES[5][: make_images.MALFORMED_KEEP_BYTES])
        self.assertEqual({m: d for m, d in malformed.items() if m != 5}, {m: d for m, d in PICTURES.items() if m != 5})

    def test_variant_options(self):
        self.assertEqual(make_images.variant_pack_args("malformed-5"), ["--allow-invalid"])
        self.assertEqual(make_images.variant_pack_args("compressed-3"), ["--compress", "3"])
        self.assertEqual(make_images.variant_pack_args("missing-2"), [])
        self.assertEqual(make_images.variant_pictures("compressed-3", PICTURES), PICTURES)

    def test_bad_variant_names_are_refused(self):
        for name in ("missing-7", "missing-", "broken-1", "full-1", "compressed-0", ""):
            with self.subTest(name=name), self.assertRaises(Exception):
                make_images.check_variant(name)


class CacheTest(unittest.TestCase):
    """An image is rebuilt exactly when one of its inputs changed."""

    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.pack = self.file("notice-pack", b"pack v1")
        self.driver = self.file("notice.efi", b"MZ driver v1")
        self.base = self.file("base.fd", b"base image")
        self.builds = []
        patcher = mock.patch.dict(make_images.BASE_IMAGES, {make_images.PLAIN_IMAGE: self.base}, clear=True)
        patcher.start()
        self.addCleanup(patcher.stop)

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def build(self, pictures=PICTURES):
        def fake_pack(notice_pack, driver, picture_paths, ffs_dir, volume, pack_args=()):
            os.makedirs(ffs_dir, exist_ok=True)

        def fake_image(argv):
            out = argv[argv.index("--out") + 1]
            self.builds.append(out)
            with open(out, "wb") as f:
                f.write(b"image")
            return 0

        with mock.patch.object(make_images, "run_notice_pack", fake_pack), mock.patch.object(
            make_images.notice_insert, "main", fake_image
        ):
            return make_images.build_variant(
                self.pack, self.driver, pictures, os.path.join(self.dir, "out"), [make_images.PLAIN_IMAGE]
            )

    def test_rebuilt_only_when_an_input_changes(self):
        self.assertEqual(self.build(), 0)
        self.assertEqual(self.build(), 0)
        self.assertEqual(len(self.builds), 1)
        changes = {
            "driver": lambda: self.file("notice.efi", b"MZ driver v2"),
            "notice-pack": lambda: self.file("notice-pack", b"pack v2"),
            "base image": lambda: self.file("base.fd", b"base image 2"),
        }
        for name, change in changes.items():
            with self.subTest(changed=name):
                before = len(self.builds)
                change()
                self.build()
                self.assertEqual(len(self.builds), before + 1)
        before = len(self.builds)
        self.build(make_images.variant_pictures("malformed-2", PICTURES))
        self.assertEqual(len(self.builds), before + 1)

    def test_a_removed_image_is_rebuilt(self):
        self.build()
        os.unlink(os.path.join(self.dir, "out", make_images.PLAIN_IMAGE))
        self.build()
        self.assertEqual(len(self.builds), 2)


if __name__ == "__main__":
    unittest.main()

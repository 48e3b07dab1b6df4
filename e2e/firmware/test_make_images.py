#!/usr/bin/env python3
"""Tests of make_images.py's input-hash cache: an image is built again exactly
when one of its inputs changed.

    python3 -m unittest discover -s e2e/firmware -p 'test_*.py'
"""

import os
import shutil
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_images  # noqa: E402

PICTURES = {mode: b"BM" + bytes([mode]) * 200 for mode in range(1, 7)}


class CacheTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.pack = self.file("notice-pack", b"pack v1")
        self.driver = self.file("notice.efi", b"MZ driver v1")
        self.base = self.file("base.fd", b"base image")
        self.builds = []
        self.packed = []

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def build(self, pictures=PICTURES, pack_args=(), inner=None):
        def fake_pack(args):
            self.packed.append(args)
            out = args[args.index("--ffs-out") + 1] if "--ffs-out" in args else None
            if out:
                os.makedirs(out, exist_ok=True)
            else:
                open(args[args.index("--fv-out") + 1], "wb").close()

        def fake_insert(argv):
            out = argv[argv.index("--out") + 1]
            self.builds.append(argv)
            with open(out, "wb") as f:
                f.write(b"image")
            return 0

        with mock.patch.object(make_images, "run_tool", fake_pack), mock.patch.object(
            make_images.notice_insert, "main", fake_insert
        ):
            return make_images.ensure_image(
                self.pack, self.driver, self.base, pictures, os.path.join(self.dir, "cache"), pack_args, inner
            )

    def test_built_again_only_when_an_input_changes(self):
        first = self.build()
        self.assertEqual(self.build(), first)
        self.assertEqual(len(self.builds), 1)
        self.assertTrue(os.path.exists(os.path.join(first, make_images.CACHED_IMAGE)))
        with open(os.path.join(first, "pictures", "notice5.bmp"), "rb") as f:
            self.assertEqual(f.read(), PICTURES[5])
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
        for label, kwargs in (
            ("a picture", dict(pictures={**PICTURES, 2: b"BM"})),
            ("the options", dict(pack_args=("--compress", "5"))),
            ("an inner volume", dict(inner={5: b"BM inner"})),
        ):
            with self.subTest(changed=label):
                before = len(self.builds)
                self.build(**kwargs)
                self.assertEqual(len(self.builds), before + 1)

    def test_an_image_missing_from_its_folder_is_built_again(self):
        folder = self.build()
        os.unlink(os.path.join(folder, make_images.CACHED_IMAGE))
        self.build()
        self.assertEqual(len(self.builds), 2)

    def test_an_inner_volume_is_packed_and_inserted_beside_the_files(self):
        folder = self.build(pack_args=("--allow-invalid",), inner={5: b"BM inner"})
        self.assertEqual(self.packed[0][-1], "--allow-invalid")
        self.assertIn("5=" + os.path.join(folder, "inner", "notice5.bmp"), self.packed[1])
        self.assertEqual(self.builds[0][-1], os.path.join(folder, "inner", "inner.ffs"))


if __name__ == "__main__":
    unittest.main()

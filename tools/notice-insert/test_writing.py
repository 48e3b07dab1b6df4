#!/usr/bin/env python3
"""notice-insert's output: written whole or not at all. A write that fails
(a file-size limit in the child), an --out it may not or cannot write and an
--out that names one of its inputs leave every file as it was.

    python3 -m unittest discover -s tools/notice-insert -p 'test_*.py'
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tool_run  # noqa: E402
from synthetic_images import DRIVER, EXISTING, PICTURE, firmware  # noqa: E402


class Work(tool_run.WorkFolder):
    """Folder and files readable by all: a child may run as nobody."""

    def setUp(self):
        super().setUp()
        os.chmod(self.work, 0o755)
        self.base = self.file("base.fd", firmware([EXISTING], outer_length=0x40000))
        self.driver = self.file("driver.ffs", DRIVER)
        self.picture = self.file("picture.ffs", PICTURE)

    def file(self, name, data, folder=None):
        path = super().file(name, data, folder)
        os.chmod(path, 0o644)
        return path

    def assert_refused_and_unchanged(self, result, watched, folders, message):
        before = {path: digest for path, digest in self.before.items() if path in watched}
        self.assertEqual(tool_run.fingerprint(watched), before, result)
        for folder, listing in folders.items():
            self.assertEqual(tool_run.folder_listing(folder), listing, "a file was left in %s" % folder)
        self.assertEqual(tool_run.refusal_faults(result), [], result)
        self.assertRegex(result.stderr, message)


class FailedWrite(Work):
    def test_a_write_cut_short_leaves_the_image_as_it_was(self):
        # The image is 256 KiB; the child may write files of 64 KiB at most.
        for label, out in {"--out is --base": self.base, "a new --out": os.path.join(self.work, "new.fd")}.items():
            with self.subTest(label):
                self.base = self.file("base.fd", firmware([EXISTING], outer_length=0x40000))
                self.before = tool_run.fingerprint([self.base, out])
                listing = tool_run.folder_listing(self.work)
                result = tool_run.run(
                    ["--base", self.base, "--out", out, self.driver, self.picture], file_size_limit=64 << 10
                )
                self.assert_refused_and_unchanged(
                    result, [self.base, out], {self.work: listing}, r"cannot write .*File too large; nothing written"
                )

    def test_the_written_image_keeps_the_mode_of_the_file_it_replaces(self):
        out = self.file("out.fd", b"old image")
        os.chmod(out, 0o640)
        result = tool_run.run(["--base", self.base, "--out", out, self.driver])
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(os.stat(out).st_mode & 0o777, 0o640)
        self.assertEqual(os.path.getsize(out), os.path.getsize(self.base))
        self.assertEqual(tool_run.folder_listing(self.work), ["base.fd", "driver.ffs", "out.fd", "picture.ffs"])


class OutThatCannotBeWritten(Work):
    def test_refused_before_any_work_and_nothing_changes(self):
        missing = os.path.join(self.work, "no-such-folder", "out.fd")
        read_only = os.path.join(self.work, "read-only")
        os.mkdir(read_only)
        kept = self.file("kept.fd", b"kept", read_only)
        os.chmod(kept, 0o444)
        os.chmod(read_only, 0o555)
        self.user = tool_run.unprivileged_user()
        self.addCleanup(os.chmod, read_only, 0o755)
        cases = {
            "folder missing": (missing, 1, "folder .*no-such-folder does not exist"),
            "folder read-only": (os.path.join(read_only, "out.fd"), 1, "cannot write .*read-only.*Permission denied"),
            "file read-only": (kept, 1, "cannot write .*kept.fd.*Permission denied"),
            "a folder": (read_only, 1, "read-only is a folder"),
            "an FFS input": (self.picture, 2, "--out .*picture.ffs is one of the files given to read"),
        }
        for label, (out, status, message) in cases.items():
            with self.subTest(label):
                watched = [self.base, self.driver, self.picture, kept]
                self.before = tool_run.fingerprint(watched)
                folders = {self.work: tool_run.folder_listing(self.work), read_only: ["kept.fd"]}
                result = self.run_unprivileged(["--base", self.base, "--out", out, self.driver, self.picture])
                self.assert_refused_and_unchanged(result, watched, folders, message)
                self.assertEqual(result.status, status)

    def run_unprivileged(self, args):
        """As root every folder is writable: the child runs as nobody then."""
        if os.geteuid() == 0 and self.user is None:
            self.skipTest("root, and nobody cannot run the tool here")
        return tool_run.run(args, user=self.user)


if __name__ == "__main__":
    unittest.main()

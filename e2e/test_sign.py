#!/usr/bin/env python3
"""sign.sh writes OUT whole or not at all: the signed image is made beside
OUT, verified and renamed over it, keeping the mode of the file it replaces;
a failure (here a file-size limit that cuts sbsign's output short) leaves OUT
as it was and no temporary file behind; an OUT that cannot be written is
refused before signing.

    python3 -m unittest discover -s e2e -p 'test_*.py'

Needs sbsigntool, openssl, the ovmf package's snakeoil key, and a driver
image to sign: $NOTICE_EFI or build/image/notice.efi (make image).
"""

import os
import resource
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SIGN = os.path.join(HERE, "sign.sh")
KEY = "/usr/share/ovmf/PkKek-1-snakeoil.key"
CERT = "/usr/share/ovmf/PkKek-1-snakeoil.pem"
PASSPHRASE = "snakeoil"
IMAGE = os.environ.get("NOTICE_EFI", os.path.join(os.path.dirname(HERE), "build", "image", "notice.efi"))


@unittest.skipUnless(
    shutil.which("sbsign") and shutil.which("openssl") and os.path.exists(KEY) and os.path.exists(IMAGE),
    "needs sbsigntool, openssl, the ovmf package's snakeoil key and a built notice.efi (make image)",
)
class SignedImageWrittenWhole(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work, True)
        self.out = os.path.join(self.work, "notice.signed.efi")
        with open(self.out, "wb") as f:
            f.write(b"the image signed last time")
        os.chmod(self.out, 0o640)

    def sign(self, out=None, file_size_limit=None):
        def limit():
            if file_size_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))

        return subprocess.run(
            [SIGN, KEY, CERT, IMAGE, out or self.out],
            capture_output=True,
            text=True,
            env=dict(os.environ, SIGN_KEY_PASS=PASSPHRASE),
            preexec_fn=limit,
        )

    def old_out(self):
        with open(self.out, "rb") as f:
            return f.read()

    def test_a_signed_image_replaces_out_keeping_its_mode(self):
        result = self.sign()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreater(os.path.getsize(self.out), os.path.getsize(IMAGE))
        self.assertEqual(os.stat(self.out).st_mode & 0o777, 0o640)
        self.assertEqual(os.listdir(self.work), ["notice.signed.efi"])
        verified = subprocess.run(["sbverify", "--cert", CERT, self.out], capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)

    def test_a_write_cut_short_leaves_out_as_it_was(self):
        # The signed image is larger than the image: a limit at the image's size stops sbsign's write.
        result = self.sign(file_size_limit=os.path.getsize(IMAGE))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("is as it was", result.stderr.splitlines()[-1])
        self.assertEqual(self.old_out(), b"the image signed last time")
        self.assertEqual(os.listdir(self.work), ["notice.signed.efi"])

    def test_an_out_that_cannot_be_written_is_refused_before_signing(self):
        cases = {
            "folder missing": (os.path.join(self.work, "none", "out.efi"), 2, "the folder .*none does not exist"),
            "a folder": (self.work, 2, ".* is a folder"),
        }
        for label, (out, status, message) in cases.items():
            with self.subTest(label):
                result = self.sign(out)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertRegex(result.stderr, "^sign.sh: " + message)
                self.assertEqual(sorted(os.listdir(self.work)), ["notice.signed.efi"])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""What the command-line tools tell a user who gets something wrong: sign.sh
with a DER certificate, a DER key, a wrong passphrase or a key of another
certificate; notice-pack's exit statuses, file errors and stale files.

    python3 -m unittest discover -s e2e -p 'test_*.py'

notice-pack is taken from $NOTICE_PACK or build/host-gcc (the Makefile's host
build); sign.sh needs openssl and sbsigntool.
"""

import os
import shutil
import struct
import subprocess
import tempfile
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import firmwares  # noqa: E402

ROOT = os.path.dirname(HERE)
SIGN = os.path.join(HERE, "sign.sh")
KEY = firmwares.by_name(firmwares.DEFAULT).key
CERT = firmwares.by_name(firmwares.DEFAULT).cert
PASSPHRASE = firmwares.SNAKEOIL_PASSPHRASE
NOTICE_PACK = os.environ.get(
    "NOTICE_PACK", os.path.join(ROOT, "build", "host-gcc", "tools", "notice-pack", "notice-pack")
)


def run(args, env=None):
    return subprocess.run(args, capture_output=True, text=True, env=dict(os.environ, **(env or {})))


@unittest.skipUnless(
    shutil.which("sbsign") and shutil.which("openssl") and os.path.exists(KEY),
    "needs sbsigntool, openssl and the ovmf package's snakeoil key",
)
class SignMessages(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        self.image = os.path.join(self.work, "in.efi")
        with open(self.image, "wb") as f:
            f.write(b"MZ")  # never reached: every case is refused before signing

    def path(self, name):
        return os.path.join(self.work, name)

    def test_each_mistake_is_named_with_what_to_do(self):
        subprocess.run(["openssl", "x509", "-in", CERT, "-outform", "DER", "-out", self.path("cert.der")], check=True)
        der_key = ["openssl", "pkey", "-in", KEY, "-passin", "pass:" + PASSPHRASE, "-outform", "DER"]
        subprocess.run(der_key + ["-out", self.path("key.der")], check=True)
        other = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=other -days 1".split()
        subprocess.run(
            other + ["-keyout", self.path("other.key"), "-out", self.path("other.pem")], check=True, capture_output=True
        )
        cases = {
            "DER certificate": (KEY, self.path("cert.der"), PASSPHRASE, "is a DER certificate; convert it to PEM"),
            "DER key": (self.path("key.der"), CERT, PASSPHRASE, "is a DER key; convert it to PEM"),
            "wrong passphrase": (KEY, CERT, "wrong", "the passphrase in SIGN_KEY_PASS does not open"),
            "no passphrase": (KEY, CERT, "", "is protected by a passphrase: set SIGN_KEY_PASS"),
            "another key": (self.path("other.key"), CERT, "", "is not the private key of"),
        }
        for label, (key, cert, passphrase, message) in cases.items():
            with self.subTest(label):
                result = run([SIGN, key, cert, self.image, self.path("out.efi")], {"SIGN_KEY_PASS": passphrase})
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertNotIn("error:", result.stderr)  # no raw openssl error stack
                self.assertFalse(os.path.exists(self.path("out.efi")))


@unittest.skipUnless(os.path.exists(NOTICE_PACK), "notice-pack not built (make host-tools)")
class NoticePackMessages(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        self.picture = os.path.join(self.work, "p.bmp")
        with open(self.picture, "wb") as f:
            # An empty picture the driver accepts: the 54-byte header alone, 24 bits per pixel.
            f.write(b"BM" + struct.pack("<IIIIIIHHIIIIII", 54, 0, 54, 40, 0, 0, 1, 24, 0, 0, 0, 0, 0, 0))

    def test_usage_errors_exit_2_and_name_the_option(self):
        for args, message in (
            (["--bogus"], "unknown option '--bogus'"),
            (["--picture", "1=x.bmp", "--ffs-out"], "option '--ffs-out' needs a value"),
            ([], "nothing to pack"),
        ):
            with self.subTest(args=args):
                result = run([NOTICE_PACK, *args])
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)

    def test_file_errors_carry_the_reason(self):
        result = run([NOTICE_PACK, "--picture", "1=" + os.path.join(self.work, "none.bmp"), "--ffs-out", self.work])
        self.assertEqual(result.returncode, 1)
        self.assertIn("none.bmp: No such file or directory", result.stderr)

    def test_success_is_summarised_and_stale_files_are_removed_by_name(self):
        out = os.path.join(self.work, "ffs")
        os.makedirs(out)
        for name in ("OLD.ffs", "notes.txt"):
            open(os.path.join(out, name), "w").close()
        result = run([NOTICE_PACK, "--picture", "2=" + self.picture, "--ffs-out", out])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("1 FFS file (1 picture)", result.stdout)
        self.assertIn("removed OLD.ffs left from an earlier run", result.stdout)
        self.assertEqual(sorted(os.listdir(out)), ["D667348E-1827-4DF0-8D56-847211257F85.ffs", "notes.txt"])


if __name__ == "__main__":
    unittest.main()

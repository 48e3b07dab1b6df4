#!/usr/bin/env python3
"""Checks notice-pack's flash-room warning against notice-insert on Debian's
OVMF 4 MiB images, so that the room notice-pack assumes cannot drift from what
notice-insert finds (a new OVMF package, a change to either tool).

notice-pack knows, for each image, how many LZMA-compressed bytes its DXE
volume still takes. This check reads those numbers from notice-pack's own
warning, then for each image packs the driver with a picture of random bytes
(which LZMA cannot shrink) costing a little less than the room, and one
costing a little more, and asks notice-insert to put each set into the image:
the first must fit and the second must not, as notice-pack says.

    check_flash_room.py --notice-pack BUILD/tools/notice-pack/notice-pack --driver IMAGE_BUILD/notice.efi

Exit status 0 when notice-pack and notice-insert agree on every image.
"""

import argparse
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
NOTICE_INSERT = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "notice-insert", "notice-insert")
OVMF_DIR = "/usr/share/OVMF"
# How close to the room the two picture sets come, in LZMA bytes. notice-pack
# adds up each file compressed alone; notice-insert compresses the whole
# volume again. For random bytes the two differ by a few hundred bytes.
MARGIN = 1024
DOES_NOT_FIT = "the files will not fit Debian's OVMF 4 MiB image"
ROOM = re.compile(r"(OVMF_CODE_4M[.\w]*\.fd) has room for ([\d,]+) LZMA bytes")
BMP_HEADER_SIZE = 54
ROW_BYTES = 192  # 64 pixels at 24 bits


def random_bmp(size, seed):
    """A 24-bit BMP of about `size` bytes whose pixels are random bytes."""
    rows = max(1, (size - BMP_HEADER_SIZE) // ROW_BYTES)
    pixels = random.Random(seed).randbytes(rows * ROW_BYTES)
    header = b"BM" + struct.pack("<IHHI", BMP_HEADER_SIZE + len(pixels), 0, 0, BMP_HEADER_SIZE)
    header += struct.pack("<IiiHHIIiiII", 40, ROW_BYTES // 3, rows, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + pixels


def pack(notice_pack, driver, picture, ffs_dir):
    """notice-pack's run: (its LZMA total, its stdout and stderr)."""
    result = subprocess.run(
        [notice_pack, "--driver", driver, "--picture", "5=" + picture, "--ffs-out", ffs_dir],
        capture_output=True,
        text=True,
        check=False,
    )
    if result.returncode != 0:
        raise SystemExit("check_flash_room: notice-pack failed: %s" % result.stderr.strip())
    total = next(line for line in result.stdout.splitlines() if line.startswith("total "))
    return int(total.split()[-1].replace(",", "")), result.stdout + result.stderr


def set_costing(notice_pack, driver, work, lzma_bytes, seed):
    """Packs the driver and a random picture whose set costs about `lzma_bytes`."""
    picture = os.path.join(work, "notice5.bmp")
    ffs_dir = os.path.join(work, "ffs")
    size = lzma_bytes
    for _ in range(4):
        with open(picture, "wb") as f:
            f.write(random_bmp(size, seed))
        cost, output = pack(notice_pack, driver, picture, ffs_dir)
        if abs(cost - lzma_bytes) <= MARGIN // 4:
            return ffs_dir, cost, output
        size += lzma_bytes - cost
    raise SystemExit("check_flash_room: could not size a picture set to %d LZMA bytes" % lzma_bytes)


def inserts(image, ffs_dir, work):
    out = os.path.join(work, "patched.fd")
    result = subprocess.run(
        [NOTICE_INSERT, "--base", image, "--out", out, "--ffs-dir", ffs_dir], capture_output=True, text=True
    )
    if os.path.exists(out):
        os.remove(out)
    return result.returncode, (result.stdout + result.stderr).strip()


def rooms(notice_pack, driver, work):
    """image name -> LZMA room, as notice-pack's warning states them."""
    ffs_dir, _, output = set_costing(notice_pack, driver, work, 2_100_000, 1)
    found = {name: int(room.replace(",", "")) for name, room in ROOM.findall(output)}
    if DOES_NOT_FIT not in output or not found:
        raise SystemExit("check_flash_room: notice-pack gave no room warning for 2.1 MB of LZMA data:\n" + output)
    return found


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--notice-pack", required=True)
    parser.add_argument("--driver", required=True, help="notice.efi")
    parser.add_argument("--ovmf-dir", default=OVMF_DIR)
    args = parser.parse_args(argv)
    failures = []
    with tempfile.TemporaryDirectory() as work:
        for image, room in sorted(rooms(args.notice_pack, args.driver, work).items()):
            path = os.path.join(args.ovmf_dir, image)
            for target, should_fit in ((room - MARGIN, True), (room + MARGIN, False)):
                ffs_dir, cost, output = set_costing(args.notice_pack, args.driver, work, target, room)
                warned = DOES_NOT_FIT in output and image + " has room" in output
                status, said = inserts(path, ffs_dir, work)
                verdict = "fits" if status == 0 else "does not fit"
                print(
                    "check_flash_room: %s, room %d: a set of %d LZMA bytes %s (notice-insert exit %d); notice-pack %s"
                    % (image, room, cost, verdict, status, "warns" if warned else "does not warn")
                )
                if (status == 0) != should_fit or warned == should_fit or status not in (0, 1):
                    failures.append(
                        "%s: %d LZMA bytes against a room of %d: notice-insert: %s" % (image, cost, room, said)
                    )
    for failure in failures:
        print("check_flash_room: FAIL: " + failure, file=sys.stderr)
    if failures:
        print(
            "check_flash_room: update kOvmf4MiBImages in tools/notice-pack/ovmf_room.h to what notice-insert measures",
            file=sys.stderr,
        )
        return 1
    print("check_flash_room: notice-pack's room agrees with notice-insert on every image (margin %d bytes)" % MARGIN)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Makes every firmware artefact the QEMU runs use, in one directory:

    OUT/pictures/notice<N>.bmp        the six test pictures (e2e/pictures.py)
    OUT/ffs/<GUID>.ffs                driver and picture files (notice-pack --ffs-out)
    OUT/notice.fv                     one volume holding them (notice-pack --fv-out)
    OUT/OVMF_CODE_4M.notice.fd        plain OVMF code with the files in its DXE volume
    OUT/OVMF_CODE_4M.secboot.notice.fd  the same for the Secure Boot build

    make_images.py --notice-pack BUILD/tools/notice-pack/notice-pack --driver IMAGE_BUILD/notice.efi --out OUT
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))
import build_image  # noqa: E402
import pictures  # noqa: E402

OVMF_DIR = "/usr/share/OVMF"
BASE_IMAGES = {
    "OVMF_CODE_4M.notice.fd": os.path.join(OVMF_DIR, "OVMF_CODE_4M.fd"),
    "OVMF_CODE_4M.secboot.notice.fd": os.path.join(OVMF_DIR, "OVMF_CODE_4M.secboot.fd"),
}
DRIVER_NAME = "NoticeDxe"


def write_pictures(directory):
    os.makedirs(directory, exist_ok=True)
    paths = {}
    for mode, picture in sorted(pictures.make_pictures().items()):
        paths[mode] = os.path.join(directory, "notice%d.bmp" % mode)
        with open(paths[mode], "wb") as f:
            f.write(picture.bmp)
    return paths


def run_notice_pack(notice_pack, driver, picture_paths, ffs_dir, volume):
    shutil.rmtree(ffs_dir, ignore_errors=True)
    args = [notice_pack, "--driver", driver, "--name", DRIVER_NAME, "--ffs-out", ffs_dir, "--fv-out", volume]
    for mode, path in sorted(picture_paths.items()):
        args += ["--picture", "%d=%s" % (mode, path)]
    subprocess.run(args, check=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--notice-pack", required=True, help="the notice-pack program")
    parser.add_argument("--driver", required=True, help="notice.efi")
    parser.add_argument("--out", required=True, help="output directory")
    args = parser.parse_args(argv)

    started = time.monotonic()
    os.makedirs(args.out, exist_ok=True)
    picture_paths = write_pictures(os.path.join(args.out, "pictures"))
    ffs_dir = os.path.join(args.out, "ffs")
    try:
        run_notice_pack(args.notice_pack, args.driver, picture_paths, ffs_dir, os.path.join(args.out, "notice.fv"))
    except (subprocess.CalledProcessError, OSError) as error:
        print("make_images: notice-pack failed: %s" % error, file=sys.stderr)
        return 1
    for name, base in BASE_IMAGES.items():
        if build_image.main(["--base", base, "--ffs-dir", ffs_dir, "--out", os.path.join(args.out, name)]) != 0:
            return 1
    print("make_images: done in %.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())

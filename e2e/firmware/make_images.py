#!/usr/bin/env python3
"""Makes the firmware images the QEMU runs boot: an OVMF code image with the
driver and pictures in its DXE volume, and, where asked, a volume of further
pictures inside it (a FIRMWARE_VOLUME_IMAGE file, which the DXE core exposes
as a firmware-volume handle of its own).

Each image's folder holds:

    pictures/notice<N>.bmp   the pictures that went into the DXE volume
    ffs/<GUID>.ffs           driver and picture files (notice-pack --ffs-out)
    notice.fv                one volume holding them (notice-pack --fv-out)
    inner/notice<N>.bmp      the inner volume's pictures, inner.fv and inner.ffs (when there is one)
    IMAGE                    the base code image with the files inserted (notice-insert)

The runner keeps its images in a cache, one folder per set of inputs (driver,
pictures, base image, notice-pack, these scripts): an image whose inputs hash
as before is not built again. From the command line, the driver and the test
pictures (or notice1.bmp ... notice6.bmp from --pictures DIR) go into the
plain and the Secure Boot code image of a firmware, in OUT:

    make_images.py --notice-pack BUILD/tools/notice-pack/notice-pack --driver IMAGE_BUILD/notice.efi --out OUT
        [--pictures DIR] [--firmware NAME]
"""

import argparse
import contextlib
import hashlib
import io
import os
import shutil
import struct
import sys
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
INSERT_DIR = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "notice-insert")
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, INSERT_DIR)
import firmware_volume as ffs  # noqa: E402
import firmwares  # noqa: E402
from boot_disks import run_tool  # noqa: E402
import notice_insert  # noqa: E402
import pictures  # noqa: E402

DRIVER_NAME = "NoticeDxe"
CACHED_IMAGE = "code.fd"
# The names the command line gives its two images.
IMAGE_NAMES = {False: "OVMF_CODE_4M.notice.fd", True: "OVMF_CODE_4M.secboot.notice.fd"}
SCRIPTS = (
    os.path.join(HERE, "make_images.py"),
    *notice_insert.SOURCE_FILES,
)
INNER_FILE_NAME = uuid.UUID("5B1E6C1A-93D0-4E7E-A6B5-3C0F2D7E9A41")  # the file carrying the inner volume
FILE_STATE_COMPLETE = 0xF8  # header and data valid, stored inverted (erase polarity 1)
INSERT_REPORT = "notice-insert.txt"  # what notice-insert said when it built the image (the room that binds)


class InsertRefused(RuntimeError):
    """notice-insert refused the files (they do not fit, say); the message is its own line."""


def volume_image_file(volume, name=INNER_FILE_NAME):
    """An FFS FIRMWARE_VOLUME_IMAGE file (type 0x0B) with one FV image section (0x17) holding `volume`."""
    section_size = 4 + len(volume)
    size = ffs.FILE_HEADER_SIZE + section_size
    if size > ffs.MAX_SIZE24:
        raise ffs.FirmwareFormatError("the inner volume is too large for a 24-bit file size")
    header = bytearray(
        name.bytes_le
        + bytes((0, ffs.FILE_CHECKSUM_NOT_USED, ffs.FILE_TYPE_VOLUME_IMAGE, 0))
        + struct.pack("<I", size)[:3]
        + bytes((FILE_STATE_COMPLETE,))
    )
    # The header's 8-bit sum, with the state and the file checksum taken as 0, must be 0.
    checked = bytearray(header)
    checked[17] = checked[23] = 0
    header[16] = (-sum(checked)) & 0xFF
    section = struct.pack("<I", section_size)[:3] + bytes((ffs.SECTION_VOLUME_IMAGE,))
    return bytes(header) + section + volume


def inputs_digest(notice_pack, driver, base, chosen, pack_args=(), inner=None):
    """What an image is built from: the tools, the driver, the base image and every picture's bytes."""
    digest = hashlib.sha256(("notice-pack options %s\0" % " ".join(pack_args)).encode())
    for label, path in (("notice-pack", notice_pack), ("driver", driver), ("base", base)) + tuple(
        (os.path.basename(s), s) for s in SCRIPTS
    ):
        with open(path, "rb") as f:
            digest.update(label.encode() + b"\0" + hashlib.sha256(f.read()).digest())
    for label, volume in (("picture", chosen), ("inner", inner or {})):
        for mode, data in sorted(volume.items()):
            digest.update(b"%s%d\0" % (label.encode(), mode) + hashlib.sha256(data).digest())
    return digest.hexdigest()


def picture_options(paths):
    return [option for mode, path in sorted(paths.items()) for option in ("--picture", "%d=%s" % (mode, path))]


def base_images(firmware):
    """The command line's image name -> the base code image it is built from."""
    return {IMAGE_NAMES[secure]: firmware.code_image(secure) for secure in (False, True)}


def build(notice_pack, driver, base, chosen, out, image_name, pack_args=(), inner=None):
    """Builds `out`/`image_name` from the base code image, the driver and the pictures (mode -> BMP
    bytes), with an inner volume of `inner` pictures when given. Returns the image path."""
    paths = pictures.write_bmps(os.path.join(out, "pictures"), chosen)
    ffs_dir = os.path.join(out, "ffs")
    shutil.rmtree(ffs_dir, ignore_errors=True)
    run_tool(
        [notice_pack, "--driver", driver, "--name", DRIVER_NAME, "--ffs-out", ffs_dir]
        + ["--fv-out", os.path.join(out, "notice.fv")]
        + picture_options(paths)
        + list(pack_args)
    )
    files = sorted(os.path.join(ffs_dir, name) for name in os.listdir(ffs_dir))
    if inner:
        inner_dir = os.path.join(out, "inner")
        inner_paths = pictures.write_bmps(inner_dir, inner)
        run_tool([notice_pack, "--fv-out", os.path.join(inner_dir, "inner.fv")] + picture_options(inner_paths))
        with open(os.path.join(inner_dir, "inner.fv"), "rb") as f:
            wrapped = volume_image_file(f.read())
        files.append(os.path.join(inner_dir, "inner.ffs"))
        with open(files[-1], "wb") as f:
            f.write(wrapped)
    image = os.path.join(out, image_name)
    partial = image + ".partial"
    said = io.StringIO()
    with contextlib.redirect_stdout(said), contextlib.redirect_stderr(said):
        status = notice_insert.main(["--base", base, "--out", partial, *files])
    if status != 0:
        raise InsertRefused(said.getvalue().strip() or "notice-insert could not put the files into %s" % base)
    print(said.getvalue(), end="")
    with open(os.path.join(out, INSERT_REPORT), "w") as f:
        f.write(said.getvalue())
    os.replace(partial, image)
    return image


def ensure_image(notice_pack, driver, base, chosen, cache, pack_args=(), inner=None):
    """The folder of an image built from these inputs: found in the cache, or built there."""
    out = os.path.join(cache, inputs_digest(notice_pack, driver, base, chosen, pack_args, inner)[:20])
    if os.path.exists(os.path.join(out, CACHED_IMAGE)):
        return out
    shutil.rmtree(out, ignore_errors=True)
    build(notice_pack, driver, base, chosen, out, CACHED_IMAGE, pack_args, inner)
    return out


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--notice-pack", required=True, help="the notice-pack program")
    parser.add_argument("--driver", required=True, help="notice.efi")
    parser.add_argument("--out", required=True, help="output directory")
    parser.add_argument("--pictures", help="directory holding notice1.bmp ... notice6.bmp (default: test pictures)")
    parser.add_argument("--firmware", default=firmwares.DEFAULT, choices=firmwares.NAMES[:-1], help="base firmware")
    args = parser.parse_args(argv)

    started = time.monotonic()
    firmware = firmwares.by_name(args.firmware)
    try:
        chosen = {m: p.bmp for m, p in pictures.picture_set("test", pictures_dir=args.pictures).items()}
        for name, base in base_images(firmware).items():
            build(args.notice_pack, args.driver, base, chosen, args.out, name)
    except (OSError, RuntimeError, ffs.FirmwareFormatError) as error:
        print("make_images: %s" % error, file=sys.stderr)
        return 1
    print("make_images: done in %.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Firmware images whose pictures sit in two firmware volumes: OVMF's DXE
volume holds the driver and some pictures (a make_images.py variant), and a
FIRMWARE_VOLUME_IMAGE file inside it holds a volume of further pictures,
which the DXE core exposes as a firmware-volume handle of its own.

    OUT/<key>/nested.fv        the inner volume (notice-pack --fv-out, pictures only)
    OUT/<key>/nested.ffs       it, wrapped as a FIRMWARE_VOLUME_IMAGE file
    OUT/<key>/pictures/        the inner volume's pictures, notice<N>.bmp
    OUT/<key>/OVMF_CODE_4M.notice.fd

The image is built by notice-insert from the variant's FFS files plus
nested.ffs, and kept while its inputs hash the same.
"""

import hashlib
import os
import struct
import subprocess
import sys
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
INSERT_DIR = os.path.join(os.path.dirname(HERE), "tools", "notice-insert")
sys.path.insert(0, os.path.join(HERE, "firmware"))
sys.path.insert(0, INSERT_DIR)
import firmware_volume as ffs  # noqa: E402
import make_images  # noqa: E402
import notice_insert  # noqa: E402

# The name of the file carrying the inner volume.
NESTED_FILE_NAME = uuid.UUID("5B1E6C1A-93D0-4E7E-A6B5-3C0F2D7E9A41")
FILE_STATE_COMPLETE = 0xF8  # header and data valid, stored inverted (erase polarity 1)


def volume_image_file(volume, name=NESTED_FILE_NAME):
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


def _digest(paths, extra):
    digest = hashlib.sha256()
    for path in paths:
        with open(path, "rb") as f:
            digest.update(hashlib.sha256(f.read()).digest())
    for data in extra:
        digest.update(hashlib.sha256(data).digest())
    return digest.hexdigest()


def ensure_nested_image(notice_pack, variant_dir, nested_pictures, cache):
    """The plain OVMF image of a make_images.py variant plus an inner volume of `nested_pictures`
    (mode -> BMP bytes). Returns (image path, {mode: inner picture file})."""
    ffs_dir = os.path.join(variant_dir, "ffs")
    variant_files = sorted(os.path.join(ffs_dir, name) for name in os.listdir(ffs_dir))
    scripts = [
        os.path.abspath(__file__),
        *notice_insert.SOURCE_FILES,
        notice_pack,
        make_images.BASE_IMAGES[make_images.PLAIN_IMAGE],
    ]
    key = _digest(variant_files + scripts, [nested_pictures[m] for m in sorted(nested_pictures)])
    out = os.path.join(cache, "nested-" + key[:16])
    image = os.path.join(out, make_images.PLAIN_IMAGE)
    pictures = {mode: os.path.join(out, "pictures", "notice%d.bmp" % mode) for mode in nested_pictures}
    if os.path.exists(image) and all(os.path.exists(p) for p in pictures.values()):
        return image, pictures
    os.makedirs(os.path.join(out, "pictures"), exist_ok=True)
    for mode, path in pictures.items():
        with open(path, "wb") as f:
            f.write(nested_pictures[mode])
    volume = os.path.join(out, "nested.fv")
    args = [notice_pack, "--fv-out", volume]
    for mode, path in sorted(pictures.items()):
        args += ["--picture", "%d=%s" % (mode, path)]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    with open(volume, "rb") as f:
        nested = volume_image_file(f.read())
    nested_ffs = os.path.join(out, "nested.ffs")
    with open(nested_ffs, "wb") as f:
        f.write(nested)
    partial = image + ".partial"
    if (
        notice_insert.main(
            ["--base", make_images.BASE_IMAGES[make_images.PLAIN_IMAGE], "--out", partial, *variant_files, nested_ffs]
        )
        != 0
    ):
        raise RuntimeError("notice-insert could not add the inner volume")
    os.replace(partial, image)
    return image, pictures

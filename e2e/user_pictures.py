"""The pictures `make run PICTURES=DIR` puts into the firmware: DIR/notice1.bmp
... DIR/notice6.bmp (or .png), each turned by `notice-pack convert` into the
smallest BMP the driver accepts holding the picture exactly (checked with the
driver's own decoder), each one that DIR lacks taken from the demo pictures."""

import os
import shutil
import subprocess

MODES = range(1, 7)


class PictureError(Exception):
    """The picture directory cannot be used; the message says why and what to do."""


def convert_picture(source_path, bmp_path, host_build):
    """Writes `bmp_path` from `source_path`, or raises PictureError with notice-pack's reason."""
    result = subprocess.run(
        [os.path.join(host_build, "tools", "notice-pack", "notice-pack"), "convert", source_path, bmp_path],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    if result.returncode != 0:
        raise PictureError(
            result.stderr.strip() or "notice-pack convert failed with exit status %d" % result.returncode
        )


def prepare(pictures_dir, demo_dir, out_dir, host_build):
    """Fills out_dir with notice1.bmp ... notice6.bmp; returns (modes from DIR, modes from the demo set)."""
    if not os.path.isdir(pictures_dir):
        raise PictureError(
            "%s is not a directory: give PICTURES=DIR holding notice1.bmp ... notice6.bmp" % pictures_dir
        )
    names = set(os.listdir(pictures_dir))
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    own, demo = [], []
    for mode in MODES:
        bmp, png = "notice%d.bmp" % mode, "notice%d.png" % mode
        target = os.path.join(out_dir, bmp)
        if bmp in names and png in names:
            raise PictureError("%s holds both %s and %s: keep one" % (pictures_dir, bmp, png))
        if bmp in names or png in names:
            convert_picture(os.path.join(pictures_dir, bmp if bmp in names else png), target, host_build)
            own.append(mode)
        else:
            shutil.copyfile(os.path.join(demo_dir, bmp), target)
            demo.append(mode)
    if not own:
        raise PictureError(
            "%s holds none of notice1.bmp ... notice6.bmp (nor .png): name each picture after "
            "its notice" % pictures_dir
        )
    return own, demo

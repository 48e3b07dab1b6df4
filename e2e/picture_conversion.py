"""The one place where `make run PICTURES=DIR` turns the user's artwork (PNG
or any BMP) into the BMP the driver reads: `notice-pack convert` writes the
smallest accepted BMP holding the picture exactly and checks it with the
driver's own decoder."""

import os
import subprocess


class ConversionFailed(Exception):
    """The artwork could not be converted; the message is notice-pack's reason."""


def notice_pack_path(host_build):
    return os.path.join(host_build, "tools", "notice-pack", "notice-pack")


def convert_picture(source_path, bmp_path, host_build):
    """Writes `bmp_path` from `source_path`; returns notice-pack's one-line summary or raises ConversionFailed."""
    result = subprocess.run(
        [notice_pack_path(host_build), "convert", source_path, bmp_path],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        check=False,
    )
    if result.returncode != 0:
        raise ConversionFailed(
            (result.stderr.strip() or "notice-pack convert failed with exit status %d" % result.returncode)
        )
    return result.stdout.strip()

"""The pictures `make run PICTURES=DIR` puts into the firmware: DIR/notice1.bmp
... DIR/notice6.bmp (or .png), each turned by `notice-pack convert` into the
smallest BMP the driver accepts (checked with the driver's own decoder), each
one that DIR lacks taken from the demo pictures. What the conversion changed
(transparency laid over black, 16-bit channels rounded) is kept for the user.

Whether they fit the firmware image is notice-pack's to say (its flash report
holds the room of Debian's OVMF images); flash_refusal words its verdict for
the image make run boots, by picture.
"""

import dataclasses
import os
import re
import shutil
import subprocess

MODES = range(1, 7)
CONVERT_WARNING = "notice-pack convert: warning: "
DOES_NOT_FIT = "the files will not fit Debian's OVMF 4 MiB image: "  # notice-pack's kDoesNotFitWarning
# A row of notice-pack's flash-cost table: file, GUID, kind, raw, FFS and LZMA bytes.
COST_ROW = re.compile(r"^(notice\d\.bmp|notice\.efi)\s+[0-9A-F-]{36}\s.*\s([\d,]+)\s+([\d,]+)\s+([\d,]+)$", re.M)


class PictureError(Exception):
    """The picture directory cannot be used; the message says why and what to do."""


@dataclasses.dataclass
class Prepared:
    own: dict  # mode -> the user's file it came from
    demo: list  # modes taken from the demo pictures
    changes: dict  # mode -> what converting the user's file changed, one line a change


def convert_picture(source_path, bmp_path, host_build):
    """Writes `bmp_path` from `source_path`; returns what the conversion changed (notice-pack's warning
    lines without their prefix), or raises PictureError with notice-pack's reason."""
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
    prefix = CONVERT_WARNING + source_path + ": "
    return [
        line[len(prefix) :] if line.startswith(prefix) else line[len(CONVERT_WARNING) :]
        for line in result.stderr.splitlines()
        if line.startswith(CONVERT_WARNING)
    ]


def prepare(pictures_dir, demo_dir, out_dir, host_build):
    """Fills out_dir with notice1.bmp ... notice6.bmp; returns what came from DIR and from the demo set."""
    if not os.path.isdir(pictures_dir):
        raise PictureError(
            "%s is not a directory: give PICTURES=DIR holding notice1.bmp ... notice6.bmp" % pictures_dir
        )
    names = set(os.listdir(pictures_dir))
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    own, demo, changes = {}, [], {}
    for mode in MODES:
        bmp, png = "notice%d.bmp" % mode, "notice%d.png" % mode
        target = os.path.join(out_dir, bmp)
        if bmp in names and png in names:
            raise PictureError("%s holds both %s and %s: keep one" % (pictures_dir, bmp, png))
        if bmp in names or png in names:
            own[mode] = os.path.join(pictures_dir, bmp if bmp in names else png)
            changed = convert_picture(own[mode], target, host_build)
            if changed:
                changes[mode] = changed
        else:
            shutil.copyfile(os.path.join(demo_dir, bmp), target)
            demo.append(mode)
    if not own:
        raise PictureError(
            "%s holds none of notice1.bmp ... notice6.bmp (nor .png): name each picture after "
            "its notice" % pictures_dir
        )
    return Prepared(own, demo, changes)


def flash_refusal(notice_pack, driver, files, own, base_image, workdir):
    """Why the driver and the pictures (mode -> BMP) will not fit `base_image`, one of Debian's OVMF 4 MiB
    code images, in notice-pack's words with what each file takes; None when they fit."""
    shutil.rmtree(workdir, ignore_errors=True)
    command = [notice_pack, "--driver", driver, "--ffs-out", os.path.join(workdir, "ffs")]
    command += [option for mode, path in sorted(files.items()) for option in ("--picture", "%d=%s" % (mode, path))]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        return result.stderr.strip() or "notice-pack failed with exit status %d" % result.returncode
    warning = next((line for line in result.stderr.splitlines() if DOES_NOT_FIT in line), None)
    if warning is None:
        return None
    bounds = warning.split(DOES_NOT_FIT, 1)[1].split("; notice-insert")[0].split("; ")
    image = os.path.basename(base_image)
    binding = [bound for bound in bounds if bound.startswith(image + " has room")]
    if not binding:
        return None
    compressed = "LZMA bytes" in binding[0]
    costs = []
    for name, _raw, ffs, lzma in COST_ROW.findall(result.stdout):
        mode = int(name[6]) if name != "notice.efi" else None
        label = "the driver" if mode is None else "picture %d (%s)" % (mode, own.get(mode, "demo"))
        costs.append("%s %s" % (label, lzma if compressed else ffs))
    return (
        "the pictures do not fit the firmware image: %s; each file takes (%s): %s; make the large pictures "
        "smaller, or give them at most 256 colours (8 bits per pixel)"
        % (
            "; ".join(binding),
            "LZMA-compressed bytes" if compressed else "bytes in the volume",
            ", ".join(costs),
        )
    )

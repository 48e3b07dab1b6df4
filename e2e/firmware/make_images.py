#!/usr/bin/env python3
"""Makes the firmware images the QEMU runs boot, one directory per picture variant.

Each directory holds:

    OUT/<variant>/pictures/notice<N>.bmp          the pictures that went in
    OUT/<variant>/ffs/<GUID>.ffs                  driver and picture files (notice-pack --ffs-out)
    OUT/<variant>/notice.fv                       one volume holding them (notice-pack --fv-out)
    OUT/<variant>/OVMF_CODE_4M.notice.fd          plain OVMF code with the files in its DXE volume
    OUT/<variant>/OVMF_CODE_4M.secboot.notice.fd  the same for the Secure Boot build
    OUT/<variant>/<image>.sha256                  what each image was built from

Variants: `full` (the driver and all six pictures), `missing-N` (picture N
left out), `malformed-N` (picture N cut short after its headers, so it
cannot be decoded; packed with --allow-invalid) and `compressed-N` (all six
pictures, picture N's RAW section stored LZMA-compressed in a GUID-defined
section, notice-pack --compress). Without --variant the `full` files go straight into OUT.

An image whose inputs (driver, pictures, its base image, notice-pack
program, these scripts) hash the same as when it was last built is not
rebuilt. --plain-only skips the Secure Boot image.

    make_images.py --notice-pack BUILD/tools/notice-pack/notice-pack --driver IMAGE_BUILD/notice.efi --out OUT
        [--pictures DIR] [--variant full --variant missing-5 ...]

The pictures are e2e/pictures.py's test pictures, or notice1.bmp ...
notice6.bmp from --pictures DIR (the demo pictures).
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
INSERT_DIR = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "notice-insert")
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, INSERT_DIR)
import notice_insert  # noqa: E402
import pictures  # noqa: E402

OVMF_DIR = "/usr/share/OVMF"
BASE_IMAGES = {
    "OVMF_CODE_4M.notice.fd": os.path.join(OVMF_DIR, "OVMF_CODE_4M.fd"),
    "OVMF_CODE_4M.secboot.notice.fd": os.path.join(OVMF_DIR, "OVMF_CODE_4M.secboot.fd"),
}
PLAIN_IMAGE, SECURE_IMAGE = BASE_IMAGES
DRIVER_NAME = "NoticeDxe"
VARIANT = re.compile(r"^(full|missing-([1-6])|malformed-([1-6])|compressed-([1-6]))$")
# A malformed picture keeps its file and info headers and loses the rest:
# it still starts with "BM" and declares its full size and pixel data.
MALFORMED_KEEP_BYTES = 54
SCRIPTS = (
    os.path.join(HERE, "make_images.py"),
    *notice_insert.SOURCE_FILES,
)


def check_variant(name):
    if not VARIANT.match(name):
        raise argparse.ArgumentTypeError(
            "variant must be full, missing-N, malformed-N or compressed-N (N 1-6), " "not %r" % name
        )
    return name


def source_pictures(pictures_dir):
    """mode -> BMP bytes: the demo pictures from a directory, or the test pictures."""
    if pictures_dir:
        result = {}
        for mode in range(1, 7):
            with open(os.path.join(pictures_dir, "notice%d.bmp" % mode), "rb") as f:
                result[mode] = f.read()
        return result
    return {mode: picture.bmp for mode, picture in pictures.make_pictures().items()}


def variant_pictures(variant, all_pictures):
    """The pictures a variant carries: one may be left out or cut short."""
    match = VARIANT.match(variant)
    chosen = dict(all_pictures)
    if match.group(2):
        del chosen[int(match.group(2))]
    if match.group(3):
        mode = int(match.group(3))
        chosen[mode] = chosen[mode][:MALFORMED_KEEP_BYTES]
    return chosen


def variant_pack_args(variant):
    """The notice-pack options a variant needs beyond the files themselves."""
    match = VARIANT.match(variant)
    if match.group(3):
        return ["--allow-invalid"]
    if match.group(4):
        return ["--compress", match.group(4)]
    return []


def inputs_digest(notice_pack, driver, base, chosen, pack_args=()):
    digest = hashlib.sha256()
    digest.update(("notice-pack options %s\0" % " ".join(pack_args)).encode())

    def add_file(label, path):
        digest.update(label.encode() + b"\0")
        with open(path, "rb") as f:
            digest.update(hashlib.sha256(f.read()).digest())

    add_file("notice-pack", notice_pack)
    add_file("driver", driver)
    add_file("base", base)
    for script in SCRIPTS:
        add_file(os.path.basename(script), script)
    for mode, data in sorted(chosen.items()):
        digest.update(b"picture%d\0" % mode + hashlib.sha256(data).digest())
    return digest.hexdigest()


def write_pictures(directory, chosen):
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    paths = {}
    for mode, data in sorted(chosen.items()):
        paths[mode] = os.path.join(directory, "notice%d.bmp" % mode)
        with open(paths[mode], "wb") as f:
            f.write(data)
    return paths


def run_notice_pack(notice_pack, driver, picture_paths, ffs_dir, volume, pack_args=()):
    shutil.rmtree(ffs_dir, ignore_errors=True)
    args = [notice_pack, "--driver", driver, "--name", DRIVER_NAME, "--ffs-out", ffs_dir, "--fv-out", volume]
    args += list(pack_args)
    for mode, path in sorted(picture_paths.items()):
        args += ["--picture", "%d=%s" % (mode, path)]
    # Its summary would only repeat what the caller reports; its complaints come with the failure.
    subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def up_to_date(path, digest):
    stamp = path + ".sha256"
    if not (os.path.exists(stamp) and os.path.exists(path)):
        return False
    with open(stamp) as f:
        return f.read().strip() == digest


def build_variant(notice_pack, driver, chosen, out, image_names, pack_args=()):
    """Builds the named images of one variant into `out`, each unless its
    recorded inputs are the same. Returns 0 on success."""
    digests = {name: inputs_digest(notice_pack, driver, BASE_IMAGES[name], chosen, pack_args) for name in image_names}
    stale = [name for name in image_names if not up_to_date(os.path.join(out, name), digests[name])]
    if not stale:
        print("make_images: %s is up to date" % out)
        return 0
    os.makedirs(out, exist_ok=True)
    for name in stale:
        if os.path.exists(os.path.join(out, name + ".sha256")):
            os.unlink(os.path.join(out, name + ".sha256"))
    picture_paths = write_pictures(os.path.join(out, "pictures"), chosen)
    ffs_dir = os.path.join(out, "ffs")
    try:
        run_notice_pack(notice_pack, driver, picture_paths, ffs_dir, os.path.join(out, "notice.fv"), pack_args)
    except subprocess.CalledProcessError as error:
        print(
            "make_images: notice-pack failed (exit status %d): %s" % (error.returncode, error.output.strip()),
            file=sys.stderr,
        )
        return 1
    except OSError as error:
        print("make_images: notice-pack failed: %s" % error, file=sys.stderr)
        return 1
    for name in stale:
        path = os.path.join(out, name)
        if notice_insert.main(["--base", BASE_IMAGES[name], "--ffs-dir", ffs_dir, "--out", path]) != 0:
            return 1
        with open(path + ".sha256", "w") as f:
            f.write(digests[name] + "\n")
    return 0


def ensure_variants(notice_pack, driver, out, variants, pictures_dir=None, flat=False):
    """Builds (or finds up to date) each variant; returns {variant: directory} or None on failure.
    `variants` maps each variant to the image names it needs (a list of names alone means all)."""
    all_pictures = source_pictures(pictures_dir)
    if not isinstance(variants, dict):
        variants = {variant: list(BASE_IMAGES) for variant in variants}
    directories = {}
    for variant, image_names in variants.items():
        directory = out if flat else os.path.join(out, variant)
        if (
            build_variant(
                notice_pack,
                driver,
                variant_pictures(variant, all_pictures),
                directory,
                image_names,
                variant_pack_args(variant),
            )
            != 0
        ):
            return None
        directories[variant] = directory
    return directories


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--notice-pack", required=True, help="the notice-pack program")
    parser.add_argument("--driver", required=True, help="notice.efi")
    parser.add_argument("--out", required=True, help="output directory")
    parser.add_argument("--pictures", help="directory holding notice1.bmp ... notice6.bmp (default: test pictures)")
    parser.add_argument(
        "--variant",
        action="append",
        type=check_variant,
        help="full, missing-N, malformed-N or compressed-N (repeatable; each in OUT/<variant>)",
    )
    parser.add_argument("--plain-only", action="store_true", help="build only the image without Secure Boot")
    args = parser.parse_args(argv)

    started = time.monotonic()
    try:
        images = [PLAIN_IMAGE] if args.plain_only else list(BASE_IMAGES)
        built = ensure_variants(
            args.notice_pack,
            args.driver,
            args.out,
            {variant: images for variant in args.variant or ["full"]},
            args.pictures,
            flat=not args.variant,
        )
    except OSError as error:
        print("make_images: %s" % error, file=sys.stderr)
        return 1
    if built is None:
        return 1
    print("make_images: done in %.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())

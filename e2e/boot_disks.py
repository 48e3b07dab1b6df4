"""The disks a run needs: a FAT volume with the test application, the driver
and pictures, signed with the key the firmware's Secure Boot variables trust
(on an MBR-partitioned disk for U-Boot), and a blank NVMe disk."""

import os
import shutil
import struct
import subprocess

from firmwares import SNAKEOIL_PASSPHRASE

MBR_PARTITION_START = 2048  # sectors
SIGN_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sign.sh")


def find_tool(name):
    """A program from PATH, or from the system folders a user's PATH may lack (mkfs.vfat)."""
    found = shutil.which(name) or shutil.which(name, path="/usr/sbin:/sbin")
    if not found:
        raise RuntimeError("%s not found: install qemu-system-x86 ovmf mtools dosfstools sbsigntool openssl" % name)
    return found


def run_tool(args, env=None):
    args = [find_tool(args[0])] + list(args[1:])
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (args[0], result.stdout.decode(errors="replace").strip()))


def sign(path, workdir, firmware):
    """A copy of the image signed with the key the firmware's enrolled variables trust (e2e/sign.sh)."""
    signed = os.path.join(workdir, os.path.basename(path) + ".signed")
    run_tool(
        [SIGN_SCRIPT, firmware.key, firmware.cert, path, signed], dict(os.environ, SIGN_KEY_PASS=SNAKEOIL_PASSPHRASE)
    )
    return signed


def fat_volume(path, kib, files, folders=()):
    """A FAT volume of `kib` KiB at `path` holding `files` (its path -> host file) and empty `folders`."""
    if os.path.exists(path):
        os.unlink(path)
    run_tool(["mkfs.vfat", "-C", path, str(kib)])
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    needed = {}  # parents before their children, in the order the files name them
    for name in list(files) + ["%s/" % folder for folder in folders]:
        parts = name.split("/")[:-1]
        needed.update(("/".join(parts[: i + 1]), None) for i in range(len(parts)))
    if needed:
        run_tool(["mmd", "-i", path] + ["::/" + folder for folder in needed], env)
    for name, source in files.items():
        run_tool(["mcopy", "-i", path, source, "::/" + name], env)
    return path


def build_esp(workdir, app, driver, picture_files):
    """A 16 MiB FAT volume: the app as the default boot file, the driver and pictures beside it."""
    files = {"EFI/BOOT/BOOTX64.EFI": app, **({"EFI/BOOT/notice.efi": driver} if driver else {})}
    files.update(("E2E/" + name, path) for name, path in picture_files.items())
    return fat_volume(os.path.join(workdir, "esp.img"), 16384, files, folders=("E2E",))


def with_partition_table(fat_image, disk_image):
    """An MBR disk with one EFI system partition (type 0xEF) holding the FAT image: U-Boot scans
    only partitioned disks."""
    with open(fat_image, "rb") as f:
        fat = f.read()
    mbr = bytearray(512)
    mbr[446:462] = struct.pack(
        "<B3sB3sII", 0, b"\xff\xff\xfe", 0xEF, b"\xff\xff\xfe", MBR_PARTITION_START, len(fat) // 512
    )
    mbr[510:512] = b"\x55\xaa"
    with open(disk_image, "wb") as f:
        f.write(bytes(mbr) + bytes((MBR_PARTITION_START - 1) * 512) + fat)
    return disk_image


def blank_disk(path, size=1 << 20):
    """An empty disk image (an added storage controller's)."""
    with open(path, "wb") as f:
        f.truncate(size)
    return path

"""The boot disk a run needs: a FAT volume with the test application, the
driver and pictures, signed with the key the Secure Boot variables trust."""

import os
import shutil
import subprocess

SNAKEOIL_KEY = "/usr/share/ovmf/PkKek-1-snakeoil.key"
SNAKEOIL_CERT = "/usr/share/ovmf/PkKek-1-snakeoil.pem"
SNAKEOIL_PASSPHRASE = "snakeoil"
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


def sign(path, workdir):
    """A copy of the image signed with the key the snakeoil variables trust (e2e/sign.sh)."""
    signed = os.path.join(workdir, os.path.basename(path) + ".signed")
    run_tool(
        [SIGN_SCRIPT, SNAKEOIL_KEY, SNAKEOIL_CERT, path, signed], dict(os.environ, SIGN_KEY_PASS=SNAKEOIL_PASSPHRASE)
    )
    return signed


def build_esp(workdir, app, driver, picture_files):
    """A 16 MiB FAT volume: the app as the default boot file, the driver and pictures beside it."""
    esp = os.path.join(workdir, "esp.img")
    if os.path.exists(esp):
        os.unlink(esp)
    run_tool(["mkfs.vfat", "-C", esp, "16384"])
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    run_tool(["mmd", "-i", esp, "::/EFI", "::/EFI/BOOT", "::/E2E"], env)
    run_tool(["mcopy", "-i", esp, app, "::/EFI/BOOT/BOOTX64.EFI"], env)
    if driver:
        run_tool(["mcopy", "-i", esp, driver, "::/EFI/BOOT/notice.efi"], env)
    for name, path in picture_files.items():
        run_tool(["mcopy", "-i", esp, path, "::/E2E/" + name], env)
    return esp


def blank_disk(path, size=1 << 20):
    """An empty disk image (the NVMe controller's)."""
    with open(path, "wb") as f:
        f.truncate(size)
    return path

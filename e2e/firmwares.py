"""The firmware a case boots, as a named choice: each has its code images
(plain and Secure Boot), its variable stores (plain and with our key
enrolled) and the key and certificate the enrolled store trusts. A code
image a user gives is a firmware too: it gets the variable store of its
size from the firmware it is based on.

    ovmf-2022.11           Debian 12's OVMF (/usr/share/OVMF, package ovmf)
    ovmf-2025.02           Debian 13's OVMF, unpacked by scripts/fetch-newer-ovmf.sh
    ovmf-2025.02-strictnx  the same, with the strict-NX build for Secure Boot
    u-boot                 Debian 12's U-Boot for QEMU (package u-boot-qemu)
"""

import dataclasses
import os

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEBIAN_13 = os.path.join(REPOSITORY, "build", "debian-firmware", "ovmf-2025.02", "usr", "share")
DEFAULT = "ovmf-2022.11"
FLASH_SIZES = (1 << 20, 2 << 20, 4 << 20)  # OVMF's code and variables fill one flash device together
SNAKEOIL_PASSPHRASE = "snakeoil"


class FirmwareError(Exception):
    """The firmware cannot be booted as asked; the message says why and what to do."""


@dataclasses.dataclass(frozen=True)
class Firmware:
    name: str
    kind: str  # "ovmf": code and variables in flash; "u-boot": the code as -bios, no variable store
    code: str  # booted with Secure Boot off
    secure_code: str = ""  # booted with Secure Boot on
    # Variable stores, the firmware's own first; a code image a user gives takes the one of its size.
    plain_vars: tuple = ()
    secure_vars: tuple = ()  # the key below enrolled
    key: str = ""  # what the enrolled store trusts: sign boot files with it
    cert: str = ""
    install: str = ""  # how to get the files when they are missing
    given: bool = False  # code images a user gave (carrying the driver and their own pictures)

    @property
    def ending(self):
        """How a run on this firmware ends. U-Boot neither powers off nor returns from
        ResetSystem(EfiResetShutdown) on QEMU's x86 machines: the host ends QEMU."""
        return "host-qmp-quit" if self.kind == "u-boot" else "guest-shutdown"

    @property
    def memory_mb(self):
        return 512 if self.kind == "u-boot" else 256

    @property
    def boot_index(self):
        """Whether its boot manager honours boot indexes (U-Boot scans the IDE disks itself)."""
        return self.kind == "ovmf"

    def code_image(self, secure_boot):
        return self.secure_code if secure_boot else self.code

    def variables(self, secure_boot):
        """The variable store to copy for a run: the first of the right size for the code image."""
        if self.kind != "ovmf":
            return ""
        code = self.code_image(secure_boot)
        stores = self.secure_vars if secure_boot else self.plain_vars
        sizes = {path: os.path.getsize(path) for path in stores if os.path.isfile(path)}
        return pair_variables(code, os.path.getsize(code), sizes)

    def missing(self, secure_boot):
        """What a run needs that is not there, as one line, or None."""
        if secure_boot and not self.secure_code:
            return "%s has no Secure Boot code image (give --secure-code)" % self.name
        needed = [self.code_image(secure_boot)]
        if self.kind == "ovmf":
            needed.append((self.secure_vars if secure_boot else self.plain_vars)[0])
        if secure_boot:
            needed += [self.key, self.cert]
        absent = [path for path in needed if not os.path.isfile(path)]
        return "%s not found (%s)" % (", ".join(absent), self.install) if absent else None


def pair_variables(code, code_size, stores):
    """The first variable store (path -> size, in order) that fills one flash device with the
    code image; a refusal naming both sizes when none does."""
    for path, size in stores.items():
        if code_size + size in FLASH_SIZES:
            return path
    offered = ", ".join("%s (%d bytes)" % (os.path.basename(p), s) for p, s in stores.items()) or "none"
    raise FirmwareError(
        "%s is %d bytes; no variable store makes a 1, 2 or 4 MiB flash with it (offered: %s): give a code "
        "image of the size of the firmware's own (--firmware names it)" % (code, code_size, offered)
    )


def _ovmf(name, share, secure_code, install):
    """An OVMF build as Debian lays it out: images and stores in SHARE/OVMF, the key in SHARE/ovmf."""
    folder, keys = os.path.join(share, "OVMF"), os.path.join(share, "ovmf")
    return Firmware(
        name,
        "ovmf",
        code=os.path.join(folder, "OVMF_CODE_4M.fd"),
        secure_code=os.path.join(folder, secure_code),
        plain_vars=tuple(os.path.join(folder, n) for n in ("OVMF_VARS_4M.fd", "OVMF_VARS.fd")),
        secure_vars=(os.path.join(folder, "OVMF_VARS_4M.snakeoil.fd"),),
        key=os.path.join(keys, "PkKek-1-snakeoil.key"),
        cert=os.path.join(keys, "PkKek-1-snakeoil.pem"),
        install=install,
    )


FETCH = "run scripts/fetch-newer-ovmf.sh (make deps does)"
FIRMWARES = {
    f.name: f
    for f in (
        _ovmf(DEFAULT, "/usr/share", "OVMF_CODE_4M.secboot.fd", "install the ovmf package"),
        _ovmf("ovmf-2025.02", DEBIAN_13, "OVMF_CODE_4M.secboot.fd", FETCH),
        _ovmf("ovmf-2025.02-strictnx", DEBIAN_13, "OVMF_CODE_4M.secboot.strictnx.fd", FETCH),
        Firmware("u-boot", "u-boot", code="/usr/lib/u-boot/qemu-x86_64/u-boot.rom", install="install u-boot-qemu"),
    )
}
NAMES = list(FIRMWARES)


def by_name(name):
    if name not in FIRMWARES:
        raise FirmwareError("no firmware %r: choose one of %s" % (name, ", ".join(NAMES)))
    return FIRMWARES[name]


def given(code, secure_code, base):
    """A firmware a user gives as code images (carrying the driver, say), with the base firmware's
    variable stores and key. Without a Secure Boot image it boots only with Secure Boot off."""
    if base.kind != "ovmf":
        raise FirmwareError("--code wants an OVMF firmware to take the variable stores from, not %s" % base.name)
    for path in filter(None, (code, secure_code)):
        if not os.path.isfile(path):
            raise FirmwareError("%s not found" % path)
    return dataclasses.replace(
        base,
        name="%s (given)" % base.name,
        code=os.path.abspath(code),
        secure_code=os.path.abspath(secure_code) if secure_code else "",
        install="give the code image's path",
        given=True,
    )

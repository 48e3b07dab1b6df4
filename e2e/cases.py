"""Every real-firmware run as a case: which firmware, which machine (display,
resolution, storage layout, machine type, embedded controller, Secure Boot),
where the driver and the pictures are, how many triggers, and what the case
is built to give. The scenarios and the compatibility matrix's cells are rows
of the tables below; `named_set` gives the sets the runner knows.

What the driver's decision asks of the embedded controller, what it draws
and where, is not written here: notice-sim runs the driver's own code on the
machine the firmware reports, and every run is checked against it.
"""

import dataclasses

import firmwares
import pictures

EC_DATA, EC_COMMAND, CMOS_INDEX, CMOS_DATA = 0x62, 0x66, 0x72, 0x73
EC_ABSENT = 0xFF  # what an absent controller's ports read
EC_ANSWERS_AT_ONCE = 0x01  # status: output buffer full, input buffer empty
NOT_FOUND = 0x800000000000000E
ACCESS_DENIED = 0x800000000000000F
UBOOT = "u-boot"

# QEMU options of each display, and whether it takes a resolution. A
# resolution goes to the display's xres/yres: QEMU offers it to the firmware
# as the display's preferred mode (in the EDID block of the std VGA and
# bochs-display, in virtio-gpu's display information), and OVMF starts in
# that mode. With the EDID block off the same properties change nothing:
# OVMF keeps its own 1280x800. "std" is QEMU's machine default, -vga std.
DISPLAYS = {
    "std": (("-vga", "std"), False),
    "std-vga": (("-device", "VGA"), True),
    "std-vga-no-edid": (("-device", "VGA,edid=off"), True),
    "virtio-gpu": (("-device", "virtio-gpu-pci"), True),
    "ramfb": (("-device", "ramfb"), False),
    "bochs-display": (("-device", "bochs-display"), True),
    "cirrus-vga": (("-device", "cirrus-vga"), False),
    "virtio-vga": (("-device", "virtio-vga"), True),
    "qxl-vga": (("-device", "qxl-vga"), True),
    "vmware-svga": (("-device", "vmware-svga"), False),
    "ati-vga": (("-device", "ati-vga"), False),
}
SECOND_DISPLAY_ID = "display1"  # QEMU's id of a second display, to take its screenshot by


@dataclasses.dataclass(frozen=True)
class Controller:
    """A storage controller added to the machine: the name notice-sim knows it by, its PCI class code
    (CC.SS.PI, as notice-sim takes it) and the QEMU devices that make it, in order; "{drive}" in a
    device stands for the controller's disk (a blank image, one per controller)."""

    name: str
    class_code: str
    devices: tuple

    def qemu_args(self, disk):
        drive = self.name + "-disk"
        args = ["-drive", "file=%s,if=none,id=%s,format=raw" % (disk, drive)]
        for device in self.devices:
            args += ["-device", device.format(drive=drive)]
        return args


NVME = Controller("nvme0", "01.08.02", ("nvme,serial=n0,drive={drive}",))
SECOND_NVME = Controller("nvme1", "01.08.02", ("nvme,serial=n1,drive={drive}",))
# NVMe as a laptop has it: on a PCIe root port, its own bus behind the host bridge (q35 only).
NVME_ON_ROOT_PORT = Controller(
    "nvme0", "01.08.02", ("pcie-root-port,id=rp0,chassis=1,slot=1", "nvme,serial=n0,drive={drive},bus=rp0")
)
SECOND_AHCI = Controller("sata1", "01.06.01", ("ahci,id=ahci1", "ide-hd,drive={drive},bus=ahci1.0"))
# The class a laptop's storage shows in RAID mode (01/04), a SCSI host adapter (01/00) and USB mass
# storage (the xHCI controller is 0C/03/30; the disk is a USB device, not a PCI function).
RAID = Controller("raid0", "01.04.00", ("megasas,id=raid0", "scsi-hd,drive={drive},bus=raid0.0"))
SCSI = Controller("scsi0", "01.00.00", ("lsi53c895a,id=scsi0", "scsi-hd,drive={drive},bus=scsi0.0"))
USB_STORAGE = Controller("xhci0", "0C.03.30", ("qemu-xhci,id=xhci0", "usb-storage,drive={drive},bus=xhci0.0"))


@dataclasses.dataclass(frozen=True)
class Storage:
    """A storage layout: the machine type, how the boot disk is attached and the controllers added.
    notice-sim gets the PCI functions with their class codes; the probe counts NVMe (01/08) and
    SATA (01/06) only. q35 always has its AHCI controller (01/06/01); the i440FX machine (`pc`)
    always has its PIIX IDE controller (01/01/80)."""

    machine: str
    boot_disk: str  # "virtio" (virtio-blk, 01/00) or "ide"
    controllers: tuple = ()


STORAGE = {
    "nvme+ahci": Storage("q35", "virtio", (NVME,)),
    "ahci": Storage("q35", "virtio"),
    "nvme": Storage("pc", "ide", (NVME,)),
    "ide": Storage("pc", "ide"),
    "virtio-blk": Storage("pc", "virtio"),
    # Shapes of real platforms.
    "nvme-on-root-port+ahci": Storage("q35", "virtio", (NVME_ON_ROOT_PORT,)),
    "2nvme+ahci": Storage("q35", "virtio", (NVME, SECOND_NVME)),
    "2ahci": Storage("q35", "virtio", (SECOND_AHCI,)),
    "raid": Storage("pc", "ide", (RAID,)),
    "scsi+usb": Storage("pc", "ide", (SCSI, USB_STORAGE)),
}


@dataclasses.dataclass(frozen=True)
class Case:
    name: str
    about: str
    notice: int  # the notice the machine is built to give at each trigger, 0 for none
    firmware: str = firmwares.DEFAULT
    # The machine.
    display: str = "std"
    resolution: tuple = None  # (width, height) for the display's xres/yres, None: its default
    second_display: str = None  # a second display at once, QEMU device SECOND_DISPLAY_ID
    second_resolution: tuple = None  # its xres/yres
    storage: str = "nvme+ahci"
    boot_disk_only: bool = False  # the boot disk alone has a boot index: the boot manager connects only it
    secure_boot: bool = False
    ec_byte: int = EC_ABSENT  # what every EC register reads
    # The driver: loaded from the boot disk by the application, or inside the firmware image.
    driver: str = "disk"
    placements: tuple = ("disk", "firmware")  # where a scenario's driver may be; a cell has one
    sign_driver: bool = True  # with Secure Boot on: an unsigned driver must be refused
    shipped_driver: bool = False  # U-Boot with the shipped notice.efi, not the runner's --uboot-driver
    # The pictures: a set stored as a variant in the driver's volume (the boot disk's, or the
    # firmware's DXE volume), and with the driver in the firmware image the application's
    # volume and a volume inside the DXE volume.
    pictures: str = "test"
    variant: str = "full"
    second_volume: str = "none"
    inner_volume: str = "none"
    triggers: int = 1
    # What else the case is built to give.
    console: tuple = ()  # the driver's console lines, in order
    drawn: bool = True  # whether a picture lands on the screen
    left: int = None  # the drawn picture's left edge, when the case is about it
    why: str = ""  # what the firmware lacks, when that decides the outcome
    matrix: bool = False  # a cell of the compatibility matrix (its table row), not a scenario

    def in_firmware(self):
        return self.driver == "firmware"

    def driver_runs(self):
        return self.sign_driver or not self.secure_boot

    def machine_type(self):
        return STORAGE[self.storage].machine

    def boot_disk(self):
        return STORAGE[self.storage].boot_disk

    def controllers(self):
        return STORAGE[self.storage].controllers

    def pci_functions(self):
        """The machine's PCI storage functions as notice-sim names them (name=CC.SS.PI): the chipset's
        and the boot disk's, then the added controllers in the order QEMU is given them."""
        functions = ["virtio=01.00.00"] if self.boot_disk() == "virtio" else []
        if self.machine_type() == "pc":
            functions.insert(0, "ide=01.01.80")
        else:
            functions.append("sata=01.06.01")
        return functions + ["%s=%s" % (c.name, c.class_code) for c in self.controllers()]

    def display_args(self):
        """QEMU's options of the display (first, QEMU's primary one) and of the second display."""
        args = self._one_display(self.display, self.resolution)
        if self.second_display:
            second = self._one_display(self.second_display, self.second_resolution)
            if second[0] != "-device":
                raise ValueError("%s: a second display is a device, not %s" % (self.name, " ".join(second)))
            args += [second[0], second[1] + ",id=" + SECOND_DISPLAY_ID]
        return args

    def _one_display(self, display, resolution):
        args, sized = DISPLAYS[display]
        if resolution and not sized:
            raise ValueError("%s: the %s display has no xres/yres" % (self.name, display))
        if resolution:
            return [args[0], args[1] + ",xres=%d,yres=%d" % resolution]
        return list(args)

    def port_answers(self):
        """What each port stand-in answers: a present controller answers every command at once."""
        status = EC_ABSENT if self.ec_byte == EC_ABSENT else EC_ANSWERS_AT_ONCE
        return {EC_DATA: self.ec_byte, EC_COMMAND: status, CMOS_INDEX: 0xFF, CMOS_DATA: 0xFF}

    def volumes(self, pictures_dir=None):
        """The picture volumes in the order the firmware lists them before the application installs
        its own, each (label, mode -> picture), then the application's volume."""
        width, height = self.resolution or (None, None)
        own = pictures.stored(self.variant, pictures.picture_set(self.pictures, width, height, pictures_dir))
        if not self.in_firmware():
            return [], ("application's volume", own)
        firmware = [("DXE volume", own)]
        if self.inner_volume != "none":
            firmware.append(("inner volume", pictures.picture_set(self.inner_volume)))
        return firmware, ("application's volume", pictures.picture_set(self.second_volume))

    def pictures_label(self):
        """Which pictures sit in which volume."""
        if not self.in_firmware():
            return self.pictures
        labels = ["DXE volume: %s" % (self.variant if self.pictures == "test" else self.pictures)]
        if self.inner_volume != "none":
            labels.append("inner volume: %s" % self.inner_volume)
        if self.second_volume != "none":
            labels.append("application's volume: %s" % self.second_volume)
        return "; ".join(labels)

    def skip_reason(self):
        if self.driver not in self.placements:
            return {
                "disk": "only a firmware image carries compressed sections",
                "firmware": "needs the driver loaded from disk",
            }[self.driver]
        return None


def cell(name, about, notice, **fields):
    """A cell of the compatibility matrix: a standard VGA unless said, the boot disk alone in the boot
    order, so what is bound after end of DXE is the driver's doing."""
    defaults = dict(display="std-vga", boot_disk_only=True, placements=(fields.get("driver", "disk"),), matrix=True)
    fields = dict(defaults, **fields)
    return Case(name, about, notice, **fields)


MISSING = ("GetBitMapFromFV failure...", "ConvertBmpToGopBltofTarvex failure...")
# The scenarios: the machines make run boots (QEMU's default display, no boot index), each with the
# driver on disk and in the firmware image where it means something.
SCENARIOS = [
    Case("plain", "Secure Boot off, NVMe and SATA present, no EC", 5),
    Case("no-storage", "i440FX machine without NVMe or SATA controller, boot disk on IDE", 4, storage="ide"),
    Case("secure-no-ec", "Secure Boot on, no EC (reads 0xFF: register 0x0D bit 1)", 2, secure_boot=True),
    Case("secure-ec-state1", "Secure Boot on, EC state code 1", 1, secure_boot=True, ec_byte=0x01),
    Case(
        "secure-ec-critical",
        "Secure Boot on, EC code 2 with level 2 twice, then register 0x0D bit 1",
        2,
        secure_boot=True,
        ec_byte=0x02,
    ),
    Case("secure-ec-idle", "Secure Boot on, EC reads 0: nothing to show", 0, secure_boot=True, ec_byte=0x00),
    Case(
        "secure-unsigned-driver",
        "Secure Boot on, the driver left unsigned: the firmware refuses it",
        0,
        secure_boot=True,
        ec_byte=0x01,
        sign_driver=False,
        placements=("disk",),
    ),
    Case(
        "missing-picture",
        "Secure Boot off, the mode-5 picture file absent",
        5,
        variant="missing-5",
        console=MISSING,
        drawn=False,
    ),
    # Only a firmware image carries compressed sections (from disk the test
    # application serves plain RAW sections), so it runs only in firmware mode.
    Case(
        "compressed-picture",
        "Secure Boot off, the mode-5 picture stored LZMA-compressed in a GUID-defined "
        "section: the same screen as the raw one",
        5,
        variant="compressed-5",
        placements=("firmware",),
    ),
    Case(
        "malformed-picture",
        "Secure Boot off, the mode-5 picture cut short after its headers",
        5,
        variant="malformed-5",
        console=MISSING[1:],
        drawn=False,
    ),
    # The boot manager connects only the devices with a boot index (the boot
    # disk) and the consoles, so the NVMe controller is bound when the
    # application starts only if the driver connected it at end of DXE. With
    # the driver loaded from disk (after end of DXE) it must not be.
    Case(
        "end-of-dxe-probe",
        "Secure Boot off, NVMe without a boot index: bound only by the driver at end of DXE",
        5,
        boot_disk_only=True,
    ),
]

NO_GOP_LINE, BLT_LINE = ("Locate gop protocol failure...",), ("GraphicsOutput->Blt failure...",)
NO_PCI_IO = (
    "U-Boot offers no PCI I/O protocol: the probe finds no controller whatever the machine holds, "
    "so notice 4 is shown"
)
NO_GOP = (
    "U-Boot drives no QEMU display: its only video driver (VESA) needs the display's option ROM and reads "
    "the ROM's signature one byte off ('Incorrect expansion ROM header signature 4eaa' for the standard VGA, "
    "4daa for cirrus-vga, whose ROMs start 55 AA 4E and 55 AA 4D), and tries no other display; without a "
    "graphics output nothing is drawn"
)
IN_FIRMWARE = dict(driver="firmware")
UBOOT_CELL = dict(
    firmware=UBOOT, storage="ide", boot_disk_only=False, drawn=False, console=NO_GOP_LINE, why=NO_PCI_IO + "; " + NO_GOP
)

CELLS = [
    # OVMF: every display it drives, at its default mode.
    cell("ovmf-std-vga", "standard VGA", 5),
    *(
        cell("ovmf-" + display, about, 5, display=display)
        for display, about in (
            ("virtio-gpu", "virtio-gpu-pci"),
            ("ramfb", "ramfb"),
            ("bochs-display", "bochs-display"),
            ("cirrus-vga", "cirrus-vga"),
            ("virtio-vga", "virtio-vga"),
            ("qxl-vga", "qxl-vga"),
            ("vmware-svga", "vmware-svga"),
        )
    ),
    cell(
        "ovmf-ati-vga",
        "ati-vga: OVMF has no driver for it",
        5,
        display="ati-vga",
        drawn=False,
        console=NO_GOP_LINE,
        why="OVMF binds no graphics output to the ATI display: the driver prints its line, nothing is drawn",
    ),
    # Two displays at once, each at its own resolution.
    cell(
        "ovmf-two-displays",
        "standard VGA at 1024x768 and virtio-gpu at 800x600 at once",
        5,
        resolution=(1024, 768),
        second_display="virtio-gpu",
        second_resolution=(800, 600),
    ),
    # Resolutions, chosen through the display's xres/yres.
    cell("ovmf-std-vga-800x600", "standard VGA at 800x600", 5, resolution=(800, 600)),
    cell("ovmf-std-vga-1024x768", "standard VGA at 1024x768", 5, resolution=(1024, 768)),
    cell("ovmf-std-vga-1920x1080", "standard VGA at 1920x1080", 5, resolution=(1920, 1080)),
    cell("ovmf-virtio-gpu-1920x1080", "virtio-gpu-pci at 1920x1080", 5, display="virtio-gpu", resolution=(1920, 1080)),
    cell(
        "ovmf-bochs-display-1024x768", "bochs-display at 1024x768", 5, display="bochs-display", resolution=(1024, 768)
    ),
    # Without its EDID block the display's xres/yres reach OVMF no more: it stays at 1280x800.
    cell(
        "ovmf-std-vga-1024x768-no-edid",
        "standard VGA, xres/yres 1024x768 but no EDID: OVMF's own 1280x800",
        5,
        display="std-vga-no-edid",
        resolution=(1024, 768),
    ),
    # The picture's edges on a real screen.
    *(
        cell(
            "ovmf-" + name, about, 5, resolution=(800, 600), pictures=name, drawn=left == 0, console=console, left=left
        )
        for name, about, console, left in (
            ("fits-exactly", "a picture 20 pixels narrower than the screen: drawn at x = 0", (), 0),
            ("too-wide", "a picture 19 pixels narrower than the screen: not drawn, no line", (), None),
            ("taller-than-screen", "a picture taller than the screen: the Blt is refused", BLT_LINE, None),
            ("wrapping-row-size", "a width whose row size wraps 32 bits", MISSING[1:], None),
            ("zero-width-tall", "width 0, height 0x7FFFFFFF", BLT_LINE, None),
        )
    ),
    # Storage layouts.
    cell("ovmf-ahci-only", "q35 without NVMe: the AHCI controller counts", 5, storage="ahci"),
    cell("ovmf-nvme-only", "i440FX with an NVMe disk: PIIX IDE does not count, NVMe does", 5, storage="nvme"),
    cell("ovmf-ide-only", "i440FX, IDE only: no controller counts", 4, storage="ide"),
    cell(
        "ovmf-virtio-blk-only",
        "i440FX whose only disk is virtio-blk (01/00): no controller counts",
        4,
        storage="virtio-blk",
    ),
    # Storage controllers as real platforms have them. The probe takes every NVMe controller, and the
    # SATA ones only when there is none; a RAID-class controller (01/04, how a laptop's storage shows in
    # RAID mode), SCSI (01/00) and USB mass storage are none of these.
    cell(
        "ovmf-nvme-on-root-port",
        "q35, NVMe behind a PCIe root port: found and connected",
        5,
        storage="nvme-on-root-port+ahci",
    ),
    cell("ovmf-two-nvme", "q35, two NVMe controllers and AHCI: both NVMe connected, AHCI not", 5, storage="2nvme+ahci"),
    cell("ovmf-two-ahci", "q35, two AHCI controllers, no NVMe: both connected", 5, storage="2ahci"),
    cell(
        "ovmf-raid-class",
        "i440FX with a RAID-class controller (megasas, 01/04) and a disk on it: no controller counts",
        4,
        storage="raid",
    ),
    cell(
        "ovmf-scsi-and-usb",
        "i440FX with a SCSI controller (lsi53c895a, 01/00) and USB mass storage: no controller counts",
        4,
        storage="scsi+usb",
    ),
    # Pictures in two firmware volumes: the firmware's own DXE volume (first in
    # handle order) and the application's (installed later), or one inside it.
    cell(
        "ovmf-second-volume-only",
        "the firmware's volume lacks picture 5, the second volume has it: found there",
        5,
        **dict(IN_FIRMWARE, variant="missing-5", second_volume="second-volume-5"),
    ),
    cell(
        "ovmf-both-volumes",
        "picture 5 in both volumes, different: the first volume's is drawn",
        5,
        **dict(IN_FIRMWARE, second_volume="second-volume-5"),
    ),
    cell(
        "ovmf-inner-volume-only",
        "picture 5 only in a volume inside the DXE volume: found there",
        5,
        **dict(IN_FIRMWARE, variant="missing-5", inner_volume="second-volume-5"),
    ),
    cell(
        "ovmf-inner-volume-both",
        "picture 5 in the DXE volume and, different, in the inner volume: the DXE volume's is drawn",
        5,
        **dict(IN_FIRMWARE, inner_volume="second-volume-5"),
    ),
    # Two trigger installations in one boot.
    cell("ovmf-two-triggers", "the trigger installed twice: the second repeats the first's notice", 5, triggers=2),
    # U-Boot: the driver loaded from disk by the application.
    cell("u-boot-std-vga", "U-Boot, standard VGA", 4, **UBOOT_CELL),
    cell(
        "u-boot-shipped-driver",
        "U-Boot with the shipped notice.efi",
        4,
        **dict(
            UBOOT_CELL,
            why="U-Boot leaves CR4.OSFXSR clear, so while notice.efi holds SSE instructions StartImage dies at "
            "the first one (the cell then checks the logged invalid-opcode exception: its CR4 and the "
            "instruction at that offset of the image); with an image built for general-purpose registers only "
            "the cell runs like u-boot-std-vga",
        ),
        shipped_driver=True,
    ),
    cell("u-boot-nvme", "U-Boot with an NVMe disk besides the IDE boot disk", 4, **dict(UBOOT_CELL, storage="nvme")),
    # U-Boot drives none of these displays: the same cell on each.
    *(
        cell("u-boot-" + display, "U-Boot, " + about, 4, **UBOOT_CELL, display=display)
        for display, about in (
            ("virtio-gpu", "virtio-gpu-pci"),
            ("bochs-display", "bochs-display"),
            ("ramfb", "ramfb"),
            ("cirrus-vga", "cirrus-vga"),
        )
    ),
]

OVMF_2025, STRICT_NX = "ovmf-2025.02", "ovmf-2025.02-strictnx"


def scenarios(firmware, driver, which=lambda scenario: True):
    return [dataclasses.replace(s, firmware=firmware, driver=driver) for s in SCENARIOS if which(s)]


def secure(scenario):
    return scenario.secure_boot


# On Debian 13's OVMF: every display (at its default mode and at the resolutions) and every storage
# layout but ovmf-ide-only, whose machine is no-storage's there but for the boot index, which no check
# of an IDE machine looks at (nothing is connected either way). ovmf-std-vga's machine is
# end-of-dxe-probe's (the same VGA device): the runner boots it once for both (pipeline.run_key).
COVERED_BY_SCENARIOS = ("ovmf-ide-only",)
FIRMWARE_ROWS = [
    c
    for c in CELLS
    if c.firmware == firmwares.DEFAULT
    and c.name not in COVERED_BY_SCENARIOS
    and c.pictures == "test"
    and c.triggers == 1
    and not c.in_firmware()
]
CELLS_2025 = [dataclasses.replace(c, firmware=OVMF_2025) for c in FIRMWARE_ROWS]

# The strict-NX build differs from the plain 2025.02 one in its Secure Boot image only, so only the
# scenarios with Secure Boot on boot it.
SETS = {
    "scenarios": scenarios(firmwares.DEFAULT, "disk"),
    "scenarios-in-firmware": scenarios(firmwares.DEFAULT, "firmware"),
    "scenarios-2025": scenarios(OVMF_2025, "disk") + scenarios(OVMF_2025, "firmware"),
    "secure-strictnx": scenarios(STRICT_NX, "disk", secure) + scenarios(STRICT_NX, "firmware", secure),
    "matrix": CELLS + CELLS_2025,
}
NAMES = [s.name for s in SCENARIOS] + [c.name for c in CELLS]
DEFAULT_CASES = ["plain"]


def named(name, driver_in_firmware=False):
    """A scenario (its driver on disk, or in the firmware image) or a cell, by name."""
    for case in SCENARIOS:
        if case.name == name:
            return dataclasses.replace(case, driver="firmware" if driver_in_firmware else "disk")
    for case in CELLS:
        if case.name == name:
            return case
    raise KeyError(name)


def expected_app_steps(case, disk_pictures):
    """The application's reports in order, (step, status or None): `disk_pictures` are the modes its
    boot disk holds."""
    head = [("Begin", None), ("SetWatchdogTimer", 0), ("OpenBootVolume", 0)]
    if case.in_firmware():
        steps = [("DriverInFirmware", None)]
    elif not case.driver_runs():
        return head + [("ReadDriver", 0), ("LoadImage", ACCESS_DENIED), ("ResetSystem", None)]
    else:
        steps = [("ReadDriver", 0), ("LoadImage", 0), ("StartImage", 0), ("CreateEndOfDxe", 0), ("SignalEndOfDxe", 0)]
    steps += [("ReadPicture%d" % m, 0 if m in disk_pictures else NOT_FOUND) for m in range(1, 7)]
    return (
        head
        + steps
        + [("InstallPictureVolume", 0), ("CheckPictureVolume", 0)]
        + [("InstallTrigger", 0)] * case.triggers
        + [("TakePicture", None), ("HostAck", 0), ("ResetSystem", None)]
    )


def expected_cmos_marks(case):
    """The bytes the driver writes to the CMOS marker at each trigger: cleared on entry, 0xAA once a
    notice was shown."""
    if not case.driver_runs():
        return b""
    return bytes([0x00, 0xAA] if case.notice else [0x00]) * case.triggers

"""The compatibility matrix's cells: which firmware, display, resolution,
storage layout, picture set and trigger count each run uses, and how each is
put to QEMU. Expectations here are only what a cell is about (the notice the
machine is built to give, and for a firmware limit, why); every result is
explained by notice-sim run on the machine state the firmware reports.
"""

import dataclasses

import qemu

OVMF, UBOOT = "ovmf", "u-boot"

# QEMU options of each display. A resolution goes to the display's xres/yres
# properties: QEMU offers it to the firmware as the display's preferred mode
# (in the EDID block of the std VGA and bochs-display, in virtio-gpu's
# display information), and OVMF starts in that mode. With the EDID block off
# the same properties change nothing: OVMF keeps its own 1280x800.
DISPLAYS = {
    "std-vga": ("VGA", True),
    "std-vga-no-edid": ("VGA,edid=off", True),
    "virtio-gpu": ("virtio-gpu-pci", True),
    "ramfb": ("ramfb", False),
    "bochs-display": ("bochs-display", True),
    "cirrus-vga": ("cirrus-vga", False),
    "virtio-vga": ("virtio-vga", True),
    "qxl-vga": ("qxl-vga", True),
    "vmware-svga": ("vmware-svga", False),
    "ati-vga": ("ati-vga", False),
}

# Storage layouts: the machine type, the PCI storage controllers that hold a
# disk, and how the boot disk is attached. notice-sim gets the PCI functions
# with their class codes; the probe counts NVMe (01/08) and SATA (01/06)
# only. q35 always has its AHCI controller (01/06/01); the i440FX machine
# (`pc`) always has its PIIX IDE controller (01/01/80).
STORAGE = {
    # name: (machine, NVMe disk, boot disk on, boot disk has the only boot index)
    "nvme+ahci": ("q35", True, "virtio", True),
    "ahci": ("q35", False, "virtio", True),
    "nvme": ("pc", True, "ide", True),
    "ide": ("pc", False, "ide", True),
    "virtio-blk": ("pc", False, "virtio", True),
}


@dataclasses.dataclass(frozen=True)
class Cell:
    name: str
    about: str
    expect_notice: int  # the notice this machine is built to give
    firmware: str = OVMF
    display: str = "std-vga"
    resolution: tuple = None  # (width, height) for the display's xres/yres, None: its default
    storage: str = "nvme+ahci"
    pictures: str = "test"  # matrix_pictures.PICTURE_SETS
    triggers: int = 1
    expect_drawn: bool = True  # whether a picture lands on the screen
    expect_left: int = None  # the drawn picture's left edge, when the cell is about it
    why: str = ""  # what the firmware lacks, when that decides the outcome
    # The firmware image carries the driver and this make_images.py variant's
    # pictures in its DXE volume ("" for the stock image, the driver loaded
    # from disk); the application's volume then serves only `pictures`.
    firmware_image: str = ""
    # U-Boot with the shipped notice.efi rather than --uboot-driver: while the
    # image holds SSE instructions the cell expects StartImage to die.
    shipped_driver: bool = False
    # A picture set for a volume inside the firmware image's DXE volume (a
    # FIRMWARE_VOLUME_IMAGE file), exposed by the DXE core as a volume of its own.
    nested_pictures: str = ""

    def machine_type(self):
        return STORAGE[self.storage][0]

    def has_nvme(self):
        return STORAGE[self.storage][1]

    def boot_disk(self):
        return STORAGE[self.storage][2]

    def boot_disk_only(self):
        # A boot index is for OVMF's boot manager; U-Boot scans the IDE disks itself.
        return self.firmware == OVMF and STORAGE[self.storage][3]

    def pci_functions(self):
        """The machine's PCI storage functions as notice-sim names them (name=CC.SS.PI), in bus order."""
        functions = []
        if self.boot_disk() == "virtio":
            functions.append("virtio=01.00.00")
        if self.machine_type() == "pc":
            functions.insert(0, "ide=01.01.80")
        else:
            functions.append("sata=01.06.01")
        if self.has_nvme():
            functions.append("nvme0=01.08.02")
        return functions

    def display_args(self):
        device, sized = DISPLAYS[self.display]
        if self.resolution and not sized:
            raise ValueError("%s: the %s display has no xres/yres" % (self.name, self.display))
        if self.resolution:
            device += ",xres=%d,yres=%d" % self.resolution
        return ["-device", device]

    def pictures_label(self):
        """Which pictures sit in which volume."""
        if not self.firmware_image:
            return self.pictures
        volumes = ["DXE volume: %s" % self.firmware_image]
        if self.nested_pictures:
            volumes.append("inner volume: %s" % self.nested_pictures)
        if self.pictures != "none":
            volumes.append("application's volume: %s" % self.pictures)
        return "; ".join(volumes)

    def resolution_label(self):
        return "%dx%d" % self.resolution if self.resolution else "default"


INTERRUPT_LOG = "interrupts.log"


def machine_config(cell, esp, nvme, uboot_rom, timeout_s, ovmf_code=qemu.PLAIN_CODE):
    # The shipped driver's cell logs every exception (about 16 MB): an invalid
    # opcode shows where it happened and with which CR4.
    extra = ["-d", "int", "-D", INTERRUPT_LOG] if cell.shipped_driver else []
    return qemu.MachineConfig(
        extra_args=extra,
        firmware=cell.firmware,
        code=uboot_rom if cell.firmware == UBOOT else ovmf_code,
        machine=cell.machine_type(),
        esp_image=esp,
        esp_interface=cell.boot_disk(),
        esp_bootindex=0 if cell.boot_disk_only() else None,
        nvme_image=nvme,
        display=cell.display_args(),
        memory_mb=512 if cell.firmware == UBOOT else 256,
        port_standins={0x62: 0xFF, 0x66: 0xFF, 0x72: 0xFF, 0x73: 0xFF},
        timeout_s=timeout_s,
    )


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

CELLS = [
    # OVMF: every display it drives, at its default mode.
    Cell("ovmf-std-vga", "standard VGA", 5),
    Cell("ovmf-virtio-gpu", "virtio-gpu-pci", 5, display="virtio-gpu"),
    Cell("ovmf-ramfb", "ramfb", 5, display="ramfb"),
    Cell("ovmf-bochs-display", "bochs-display", 5, display="bochs-display"),
    Cell("ovmf-cirrus-vga", "cirrus-vga", 5, display="cirrus-vga"),
    Cell("ovmf-virtio-vga", "virtio-vga", 5, display="virtio-vga"),
    Cell("ovmf-qxl-vga", "qxl-vga", 5, display="qxl-vga"),
    Cell("ovmf-vmware-svga", "vmware-svga", 5, display="vmware-svga"),
    Cell(
        "ovmf-ati-vga",
        "ati-vga: OVMF has no driver for it",
        5,
        display="ati-vga",
        expect_drawn=False,
        why="OVMF binds no graphics output to the ATI display: the driver prints its line, nothing is drawn",
    ),
    # Resolutions, chosen through the display's xres/yres.
    Cell("ovmf-std-vga-800x600", "standard VGA at 800x600", 5, resolution=(800, 600)),
    Cell("ovmf-std-vga-1024x768", "standard VGA at 1024x768", 5, resolution=(1024, 768)),
    Cell("ovmf-std-vga-1920x1080", "standard VGA at 1920x1080", 5, resolution=(1920, 1080)),
    Cell("ovmf-virtio-gpu-1920x1080", "virtio-gpu-pci at 1920x1080", 5, display="virtio-gpu", resolution=(1920, 1080)),
    Cell(
        "ovmf-bochs-display-1024x768", "bochs-display at 1024x768", 5, display="bochs-display", resolution=(1024, 768)
    ),
    # Without its EDID block the display's xres/yres reach OVMF no more: it stays at 1280x800.
    Cell(
        "ovmf-std-vga-1024x768-no-edid",
        "standard VGA, xres/yres 1024x768 but no EDID: OVMF's own 1280x800",
        5,
        display="std-vga-no-edid",
        resolution=(1024, 768),
    ),
    # The picture's edges on a real screen.
    Cell(
        "ovmf-fits-exactly",
        "a picture 20 pixels narrower than the screen: drawn at x = 0",
        5,
        resolution=(800, 600),
        pictures="fits-exactly",
        expect_left=0,
    ),
    Cell(
        "ovmf-too-wide",
        "a picture 19 pixels narrower than the screen: not drawn, no line",
        5,
        resolution=(800, 600),
        pictures="too-wide",
        expect_drawn=False,
    ),
    Cell(
        "ovmf-taller-than-screen",
        "a picture taller than the screen: the Blt is refused",
        5,
        resolution=(800, 600),
        pictures="taller-than-screen",
        expect_drawn=False,
    ),
    Cell(
        "ovmf-wrapping-row-size",
        "a width whose row size wraps 32 bits",
        5,
        resolution=(800, 600),
        pictures="wrapping-row-size",
        expect_drawn=False,
    ),
    Cell(
        "ovmf-zero-width-tall",
        "width 0, height 0x7FFFFFFF",
        5,
        resolution=(800, 600),
        pictures="zero-width-tall",
        expect_drawn=False,
    ),
    # Storage layouts.
    Cell("ovmf-ahci-only", "q35 without NVMe: the AHCI controller counts", 5, storage="ahci"),
    Cell("ovmf-nvme-only", "i440FX with an NVMe disk: PIIX IDE does not count, NVMe does", 5, storage="nvme"),
    Cell("ovmf-ide-only", "i440FX, IDE only: no controller counts", 4, storage="ide", expect_drawn=True),
    Cell(
        "ovmf-virtio-blk-only",
        "i440FX whose only disk is virtio-blk (01/00): no controller counts",
        4,
        storage="virtio-blk",
    ),
    # Pictures in two firmware volumes: the firmware's own DXE volume (first in
    # handle order) and the application's (installed later).
    Cell(
        "ovmf-second-volume-only",
        "the firmware's volume lacks picture 5, the second volume has it: found there",
        5,
        pictures="second-volume-5",
        firmware_image="missing-5",
    ),
    Cell(
        "ovmf-both-volumes",
        "picture 5 in both volumes, different: the first volume's is drawn",
        5,
        pictures="second-volume-5",
        firmware_image="full",
    ),
    Cell(
        "ovmf-inner-volume-only",
        "picture 5 only in a volume inside the DXE volume: found there",
        5,
        pictures="none",
        firmware_image="missing-5",
        nested_pictures="second-volume-5",
    ),
    Cell(
        "ovmf-inner-volume-both",
        "picture 5 in the DXE volume and, different, in the inner volume: the DXE " "volume's is drawn",
        5,
        pictures="none",
        firmware_image="full",
        nested_pictures="second-volume-5",
    ),
    # Two trigger installations in one boot.
    Cell("ovmf-two-triggers", "the trigger installed twice: the second repeats the first's notice", 5, triggers=2),
    # U-Boot: the driver loaded from disk by the application.
    Cell(
        "u-boot-std-vga",
        "U-Boot, standard VGA",
        4,
        firmware=UBOOT,
        storage="ide",
        expect_drawn=False,
        why=NO_PCI_IO + "; " + NO_GOP,
    ),
    Cell(
        "u-boot-shipped-driver",
        "U-Boot with the shipped notice.efi",
        4,
        firmware=UBOOT,
        storage="ide",
        expect_drawn=False,
        shipped_driver=True,
        why="U-Boot leaves CR4.OSFXSR clear, so while notice.efi holds SSE instructions StartImage dies at the "
        "first one (the cell then checks the logged invalid-opcode exception: its CR4 and the instruction at "
        "that offset of the image); with an image built for general-purpose registers only the cell runs like "
        "u-boot-std-vga",
    ),
    Cell(
        "u-boot-nvme",
        "U-Boot with an NVMe disk besides the IDE boot disk",
        4,
        firmware=UBOOT,
        storage="nvme",
        expect_drawn=False,
        why=NO_PCI_IO + "; " + NO_GOP,
    ),
    # U-Boot drives none of these displays: the same cell on each.
    *(
        Cell(
            "u-boot-" + display,
            "U-Boot, " + about,
            4,
            firmware=UBOOT,
            display=display,
            storage="ide",
            expect_drawn=False,
            why=NO_PCI_IO + "; " + NO_GOP,
        )
        for display, about in (
            ("virtio-gpu", "virtio-gpu-pci"),
            ("bochs-display", "bochs-display"),
            ("ramfb", "ramfb"),
            ("cirrus-vga", "cirrus-vga"),
        )
    ),
]
CELL_NAMES = [c.name for c in CELLS]

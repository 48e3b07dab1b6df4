"""The real-firmware scenarios and what each must give: the machine, the
notice on screen, the application's reports, the console lines and the CMOS
marker writes.

What the embedded controller is asked is not written here: it follows from the
driver's decision, so the runner takes it from notice-sim, which runs the
driver's own code on the same machine (see checks.check_ec_writes).
"""

import dataclasses

EC_DATA, EC_COMMAND, CMOS_INDEX, CMOS_DATA = 0x62, 0x66, 0x72, 0x73
EC_ABSENT = 0xFF  # what an absent controller's ports read
EC_READ_COMMAND = 0x80  # the ACPI embedded controller's read command
CMOS_MARKER_INDEX = 0x30
HOLD_SECONDS = 4  # how long the driver holds a notice
# Lines the application reports with counts rather than statuses.
STORAGE_REPORTS = ("NvmePassThruHandles", "BlockIoHandles")
# What the application reports about the firmware it runs on (values, not statuses).
PLATFORM_REPORTS = (
    "HobList",
    "FirmwareVolumeHandles",
    "PciIoHandles",
    "GopModes",
    "GopWidth",
    "GopHeight",
    "NvmeBoundBefore",
    "AtaBoundBefore",
    "NvmeBoundAfter",
    "AtaBoundAfter",
    "PictureVolumeIndex",
    "DriverImageBase",
)

NOT_FOUND = 0x800000000000000E
ACCESS_DENIED = 0x800000000000000F
FAILURE_LINES = [
    "Locate gop protocol failure...",
    "GetBitMapFromFV failure...",
    "ConvertBmpToGopBltofTarvex failure...",
    "GraphicsOutput->Blt failure...",
]


@dataclasses.dataclass
class Scenario:
    name: str
    about: str
    mode: int  # the notice expected on screen, 0 for none
    machine: str = "q35"
    nvme: bool = True
    boot_disk: str = "virtio"  # how the boot disk is attached: virtio or ide
    secure_boot: bool = False
    ec_byte: int = EC_ABSENT  # what every EC register reads
    missing_pictures: tuple = ()  # modes whose picture file is left out
    malformed_pictures: tuple = ()  # modes whose picture file is cut short after its headers
    compressed_pictures: tuple = ()  # modes whose RAW section sits LZMA-compressed in a GUID-defined section
    console_lines: tuple = ()  # failure lines the driver must print
    check_screen: bool = True
    sign_driver: bool = True  # with Secure Boot on: an unsigned driver must be refused
    boot_disk_only: bool = False  # the boot disk alone has a boot index: the boot manager connects only it
    probe_nvme: bool = False  # check whether the NVMe controller is bound when the application starts

    def firmware_variant(self):
        """The make_images.py variant carrying the pictures this scenario needs."""
        if self.missing_pictures:
            return "missing-%d" % self.missing_pictures[0]
        if self.malformed_pictures:
            return "malformed-%d" % self.malformed_pictures[0]
        if self.compressed_pictures:
            return "compressed-%d" % self.compressed_pictures[0]
        return "full"

    def runs_in_firmware(self):
        """Whether the scenario means something with the driver inside the firmware image."""
        return self.sign_driver and len(self.missing_pictures) + len(self.malformed_pictures) <= 1

    def driver_runs(self):
        return self.sign_driver or not self.secure_boot


SCENARIOS = [
    Scenario("plain", "Secure Boot off, NVMe and SATA present, no EC", mode=5),
    Scenario(
        "no-storage",
        "i440FX machine without NVMe or SATA controller, boot disk on IDE",
        mode=4,
        machine="pc",
        nvme=False,
        boot_disk="ide",
    ),
    Scenario("secure-no-ec", "Secure Boot on, no EC (reads 0xFF: register 0x0D bit 1)", mode=2, secure_boot=True),
    Scenario("secure-ec-state1", "Secure Boot on, EC state code 1", mode=1, secure_boot=True, ec_byte=0x01),
    Scenario(
        "secure-ec-critical",
        "Secure Boot on, EC code 2 with level 2 twice, then register 0x0D bit 1",
        mode=2,
        secure_boot=True,
        ec_byte=0x02,
    ),
    Scenario("secure-ec-idle", "Secure Boot on, EC reads 0: nothing to show", mode=0, secure_boot=True, ec_byte=0x00),
    Scenario(
        "secure-unsigned-driver",
        "Secure Boot on, the driver left unsigned: the firmware refuses it",
        mode=0,
        secure_boot=True,
        ec_byte=0x01,
        sign_driver=False,
        check_screen=False,
    ),
    Scenario(
        "missing-picture",
        "Secure Boot off, the mode-5 picture file absent",
        mode=5,
        missing_pictures=(5,),
        console_lines=("GetBitMapFromFV failure...", "ConvertBmpToGopBltofTarvex failure..."),
        check_screen=False,
    ),
    # Only a firmware image carries compressed sections (from disk the test
    # application serves plain RAW sections), so it runs only in firmware mode.
    Scenario(
        "compressed-picture",
        "Secure Boot off, the mode-5 picture stored LZMA-compressed in a GUID-defined "
        "section: the same screen as the raw one",
        mode=5,
        compressed_pictures=(5,),
    ),
    Scenario(
        "malformed-picture",
        "Secure Boot off, the mode-5 picture cut short after its headers",
        mode=5,
        malformed_pictures=(5,),
        console_lines=("ConvertBmpToGopBltofTarvex failure...",),
        check_screen=False,
    ),
    # The boot manager connects only the devices with a boot index (the boot
    # disk) and the consoles, so the NVMe controller is bound when the
    # application starts only if the driver connected it at end of DXE. With
    # the driver loaded from disk (after end of DXE) it must not be.
    Scenario(
        "end-of-dxe-probe",
        "Secure Boot off, NVMe without a boot index: bound only by the driver at end of DXE",
        mode=5,
        boot_disk_only=True,
        probe_nvme=True,
    ),
]
SCENARIO_NAMES = [s.name for s in SCENARIOS]
DEFAULT_SCENARIOS = ["plain"]


def scenario_named(name):
    return next(s for s in SCENARIOS if s.name == name)


def expected_app_steps(scenario, driver_in_firmware, triggers=1):
    """The application's reports in order: (step, status, or None for a step without one)."""
    if driver_in_firmware:
        steps = [("DriverInFirmware", None)]
        pictures_found = set()  # the pictures are in the firmware; the disk holds only a second volume's, if any
    else:
        steps = [("ReadDriver", 0), ("LoadImage", ACCESS_DENIED)]
        if not scenario.driver_runs():
            return [("Begin", None), ("SetWatchdogTimer", 0), ("OpenBootVolume", 0)] + steps + [("ResetSystem", None)]
        steps = [("ReadDriver", 0), ("LoadImage", 0), ("StartImage", 0), ("CreateEndOfDxe", 0), ("SignalEndOfDxe", 0)]
        pictures_found = set(range(1, 7)) - set(scenario.missing_pictures)
    steps += [("ReadPicture%d" % m, 0 if m in pictures_found else NOT_FOUND) for m in range(1, 7)]
    return (
        [("Begin", None), ("SetWatchdogTimer", 0), ("OpenBootVolume", 0)]
        + steps
        + [("InstallPictureVolume", 0), ("CheckPictureVolume", 0)]
        + [("InstallTrigger", 0)] * triggers
        + [("TakePicture", None), ("HostAck", 0), ("ResetSystem", None)]
    )


def expected_cmos_marks(scenario):
    """The bytes the driver writes to the CMOS marker: cleared on entry, 0xAA once a notice was shown."""
    if not scenario.driver_runs():
        return []
    return [0x00, 0xAA] if scenario.mode else [0x00]

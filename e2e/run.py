#!/usr/bin/env python3
"""Boots the notice driver on real firmware (OVMF under QEMU, TCG) and checks
what it did.

The test application (notice-e2e.efi, booted as \\EFI\\BOOT\\BOOTX64.EFI)
loads notice.efi from the same FAT volume, starts it, signals end of DXE,
serves the six notice pictures from a firmware volume of its own, installs
the notice trigger and reports every status on COM1. When the trigger has
returned it asks for a screenshot, waits for our answer and powers off.

A scenario passes only when every step reported success, the firmware shut
down cleanly (QMP SHUTDOWN, reason guest-shutdown, exit status 0), the screen
showed exactly the expected picture at the expected place, the embedded
controller and CMOS stand-ins saw exactly the expected writes, and the
console carried exactly the expected failure lines.

Exit status: 0 when every scenario passed, 1 otherwise, 2 on bad usage.
"""

import argparse
import dataclasses
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pictures  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "firmware"))
import check_image  # noqa: E402
import make_images  # noqa: E402
sys.path.insert(0, make_images.INSERT_DIR)
import dxe_volume  # noqa: E402
import firmware_volume  # noqa: E402
from png_read import read_png_rgb  # noqa: E402
from qemu import (PLAIN_CODE, PLAIN_VARS, SECURE_CODE, SECURE_VARS, Machine, MachineConfig,  # noqa: E402
                  MachineFailure, read_ppm)

EC_DATA, EC_COMMAND, CMOS_INDEX, CMOS_DATA = 0x62, 0x66, 0x72, 0x73
EC_ABSENT = 0xFF            # what an absent controller's ports read
EC_ANSWERS_AT_ONCE = 0x01   # status: output buffer full, input buffer empty
EC_READ_COMMAND = 0x80
CMOS_MARKER_INDEX = 0x30
HOST_ACK = b"A"
HOLD_SECONDS = 4            # how long the driver holds a notice
SNAKEOIL_KEY = "/usr/share/ovmf/PkKek-1-snakeoil.key"
SNAKEOIL_CERT = "/usr/share/ovmf/PkKek-1-snakeoil.pem"
SNAKEOIL_PASSPHRASE = "snakeoil"
SIGN_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sign.sh")
# Lines the application reports with counts rather than statuses.
STORAGE_REPORTS = ("NvmePassThruHandles", "BlockIoHandles")
# What the application reports about the firmware it runs on (values, not statuses).
PLATFORM_REPORTS = ("HobList", "FirmwareVolumeHandles", "PciIoHandles", "GopModes", "GopWidth", "GopHeight",
                    "NvmeBoundBefore", "AtaBoundBefore", "NvmeBoundAfter", "AtaBoundAfter", "PictureVolumeIndex",
                    "DriverImageBase")

NOT_FOUND = 0x800000000000000E
ACCESS_DENIED = 0x800000000000000F
FAILURE_LINES = ["Locate gop protocol failure...", "GetBitMapFromFV failure...",
                 "ConvertBmpToGopBltofTarvex failure...", "GraphicsOutput->Blt failure..."]


@dataclasses.dataclass
class Scenario:
    name: str
    about: str
    mode: int                      # the notice expected on screen, 0 for none
    machine: str = "q35"
    nvme: bool = True
    boot_disk: str = "virtio"      # how the boot disk is attached: virtio or ide
    secure_boot: bool = False
    ec_byte: int = EC_ABSENT       # what every EC register reads
    missing_pictures: tuple = ()   # modes whose picture file is left out
    malformed_pictures: tuple = ()  # modes whose picture file is cut short after its headers
    compressed_pictures: tuple = ()  # modes whose RAW section sits LZMA-compressed in a GUID-defined section
    console_lines: tuple = ()      # failure lines the driver must print
    check_screen: bool = True
    sign_driver: bool = True       # with Secure Boot on: an unsigned driver must be refused
    boot_disk_only: bool = False   # the boot disk alone has a boot index: the boot manager connects only it
    probe_nvme: bool = False       # check whether the NVMe controller is bound when the application starts

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

    def ec_registers(self):
        """Registers the decision reads, in order, for this EC byte."""
        if not self.driver_runs():
            return []
        level_check = (self.ec_byte & 0x03) == 2 and self.ec_byte <= 5
        return [0x80, 0x93] + ([0x93] if level_check else []) + [0x0D]


SCENARIOS = [
    Scenario("plain", "Secure Boot off, NVMe and SATA present, no EC", mode=5),
    Scenario("no-storage", "i440FX machine without NVMe or SATA controller, boot disk on IDE", mode=4,
             machine="pc", nvme=False, boot_disk="ide"),
    Scenario("secure-no-ec", "Secure Boot on, no EC (reads 0xFF: register 0x0D bit 1)", mode=2,
             secure_boot=True),
    Scenario("secure-ec-state1", "Secure Boot on, EC state code 1", mode=1, secure_boot=True, ec_byte=0x01),
    Scenario("secure-ec-critical", "Secure Boot on, EC code 2 with level 2 twice, then register 0x0D bit 1",
             mode=2, secure_boot=True, ec_byte=0x02),
    Scenario("secure-ec-idle", "Secure Boot on, EC reads 0: nothing to show", mode=0, secure_boot=True,
             ec_byte=0x00),
    Scenario("secure-unsigned-driver", "Secure Boot on, the driver left unsigned: the firmware refuses it",
             mode=0, secure_boot=True, ec_byte=0x01, sign_driver=False, check_screen=False),
    Scenario("missing-picture", "Secure Boot off, the mode-5 picture file absent", mode=5, missing_pictures=(5,),
             console_lines=("GetBitMapFromFV failure...", "ConvertBmpToGopBltofTarvex failure..."),
             check_screen=False),
    # Only a firmware image carries compressed sections (from disk the test
    # application serves plain RAW sections), so it runs only in firmware mode.
    Scenario("compressed-picture", "Secure Boot off, the mode-5 picture stored LZMA-compressed in a GUID-defined "
             "section: the same screen as the raw one", mode=5, compressed_pictures=(5,)),
    Scenario("malformed-picture", "Secure Boot off, the mode-5 picture cut short after its headers", mode=5,
             malformed_pictures=(5,), console_lines=("ConvertBmpToGopBltofTarvex failure...",),
             check_screen=False),
    # The boot manager connects only the devices with a boot index (the boot
    # disk) and the consoles, so the NVMe controller is bound when the
    # application starts only if the driver connected it at end of DXE. With
    # the driver loaded from disk (after end of DXE) it must not be.
    Scenario("end-of-dxe-probe", "Secure Boot off, NVMe without a boot index: bound only by the driver at end of DXE",
             mode=5, boot_disk_only=True, probe_nvme=True),
]
SCENARIO_NAMES = [s.name for s in SCENARIOS]
DEFAULT_SCENARIOS = ["plain"]


class Report:
    def __init__(self, scenario):
        self.scenario = scenario
        self.problems = []
        self.notes = []

    def check(self, ok, problem):
        if not ok:
            self.problems.append(problem)
        return ok

    def note(self, text):
        self.notes.append(text)


# ---- preparing the boot disk ----------------------------------------------

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
    run_tool([SIGN_SCRIPT, SNAKEOIL_KEY, SNAKEOIL_CERT, path, signed],
             dict(os.environ, SIGN_KEY_PASS=SNAKEOIL_PASSPHRASE))
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


# ---- checking one run -----------------------------------------------------

E2E_LINE = re.compile(r"^E2E (\w+)(?: 0x([0-9A-F]+))?$", re.M)


def app_lines(serial_text):
    return [(m.group(1), int(m.group(2), 16) if m.group(2) else None) for m in E2E_LINE.finditer(serial_text)]


def expected_app_steps(scenario, driver_in_firmware, triggers=1):
    """The application's reports in order: (step, status, or None for a step without one)."""
    if driver_in_firmware:
        steps = [("DriverInFirmware", None)]
        pictures_found = set()  # the pictures are in the firmware; the disk holds only a second volume's, if any
    else:
        steps = [("ReadDriver", 0), ("LoadImage", ACCESS_DENIED)]
        if not scenario.driver_runs():
            return [("Begin", None), ("SetWatchdogTimer", 0), ("OpenBootVolume", 0)] + steps + [("ResetSystem", None)]
        steps = [("ReadDriver", 0), ("LoadImage", 0), ("StartImage", 0), ("CreateEndOfDxe", 0),
                 ("SignalEndOfDxe", 0)]
        pictures_found = set(range(1, 7)) - set(scenario.missing_pictures)
    steps += [("ReadPicture%d" % m, 0 if m in pictures_found else NOT_FOUND) for m in range(1, 7)]
    return ([("Begin", None), ("SetWatchdogTimer", 0), ("OpenBootVolume", 0)] + steps +
            [("InstallPictureVolume", 0), ("CheckPictureVolume", 0)] + [("InstallTrigger", 0)] * triggers +
            [("TakePicture", None), ("HostAck", 0), ("ResetSystem", None)])


def check_app_steps(report, lines, expected):
    actual = [(step, value) for step, value in lines
              if step != "DriverSize" and step not in STORAGE_REPORTS and step not in PLATFORM_REPORTS]
    for i, (step, status) in enumerate(expected):
        if i >= len(actual):
            report.check(False, "no report of step %s (the last report was %s)"
                         % (step, actual[-1][0] if actual else "none"))
            return
        got_step, got_status = actual[i]
        if got_step != step:
            report.check(False, "report %d is %s, expected %s" % (i + 1, got_step, step))
            return
        if got_status != status:
            report.check(False, "%s returned %s, expected %s" % (step, "-" if got_status is None else "0x%X" % got_status,
                                                                 "0x%X" % status if status is not None else "-"))
    report.check(len(actual) == len(expected), "unexpected reports after the last step: %s" % actual[len(expected):])


def driver_console_lines(serial_text):
    return [line.strip() for line in serial_text.splitlines() if line.strip() in FAILURE_LINES]


def compare_screen(report, shot, scenario, all_pictures, workdir):
    width, height, pixels = read_ppm(shot)
    report.note("screen %dx%d" % (width, height))
    candidates = {0: None}
    candidates.update(all_pictures)
    shown = [mode for mode, picture in sorted(candidates.items())
             if pixels == pictures.expected_screen(width, height, picture)]
    report.note("screen matches: %s" % (", ".join("notice %d" % m if m else "black screen" for m in shown)
                                         if shown else "no expected screen"))
    expected = pictures.expected_screen(width, height, all_pictures.get(scenario.mode) if scenario.mode else None)
    if pixels == expected:
        return
    diff = [i // 3 for i in range(0, len(pixels), 3) if pixels[i:i + 3] != expected[i:i + 3]]
    xs = [p % width for p in diff]
    ys = [p // width for p in diff]
    report.check(False, "screen differs from the expected one in %d pixels (x %d-%d, y %d-%d); see %s"
                 % (len(diff), min(xs), max(xs), min(ys), max(ys), shot))


def check_screen(report, shot, scenario, all_pictures, workdir):
    if not report.check(os.path.exists(shot), "no screenshot taken"):
        return
    if all_pictures is not None:
        compare_screen(report, shot, scenario, all_pictures, workdir)


def check_storage_probe(report, lines, scenario, driver_in_firmware):
    counts = {step: value for step, value in lines if step in STORAGE_REPORTS}
    report.note("when the application started: %s" % ", ".join("%s %s" % item for item in sorted(counts.items())))
    if not scenario.probe_nvme:
        return
    bound = counts.get("NvmePassThruHandles")
    expected = 1 if driver_in_firmware else 0
    report.check(bound == expected,
                 "%s NVMe controllers bound when the application started, expected %d (%s)"
                 % (bound, expected, "connected by the driver at end of DXE" if driver_in_firmware
                    else "the boot manager leaves a device without a boot index alone"))


def simulator_arguments(scenario, width, height, picture_files):
    """notice-sim options describing the same machine as the scenario."""
    args = ["--screen", "%dx%d" % (width, height)]
    if scenario.boot_disk == "virtio":
        args += ["--pci", "virtio=01.00.00"]  # a virtio block device is mass storage, subclass 0
    if scenario.machine == "pc":
        args += ["--pci", "ide=01.01.80"]
    else:
        args += ["--pci", "sata=01.06.01"] + (["--pci", "nvme0=01.08.02"] if scenario.nvme else [])
    args += ["--secure-boot", "1" if scenario.secure_boot else "0"]
    if scenario.ec_byte == EC_ABSENT:
        args += ["--ec-kind", "absent"]
    else:
        for register in (0x80, 0x93, 0x0D):
            args += ["--ec", "0x%02X=0x%02X" % (register, scenario.ec_byte)]
    for mode in range(1, 7):
        name = "PICTURE%d.BMP" % mode
        args += ["--picture", "%d=%s" % (mode, picture_files[name])] if name in picture_files else [
            "--no-picture", str(mode)]
    return args


def run_simulator(report, scenario, simulator, workdir, width, height, picture_files):
    """Runs notice-sim on the same machine state; returns its output folder, or None when it failed."""
    out = os.path.join(workdir, "notice-sim")
    command = [simulator, "--out", out] + simulator_arguments(scenario, width, height, picture_files)
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    with open(os.path.join(workdir, "notice-sim-command.txt"), "w") as f:
        f.write(" ".join(command) + "\n" + result.stdout.decode(errors="replace"))
    if not report.check(result.returncode == 0, "notice-sim failed (%d): %s"
                        % (result.returncode, result.stdout.decode(errors="replace").strip())):
        return None
    return out


def simulated_port_writes(out):
    """port -> bytes written, in order, from notice-sim's event log."""
    writes = {}
    with open(os.path.join(out, "events.jsonl")) as f:
        for line in f:
            event = json.loads(line)
            if event.get("kind") == "port_write":
                port, value = (int(str(event[k]), 0) for k in ("port", "value"))
                writes.setdefault(port, bytearray()).append(value & 0xFF)
    return {port: bytes(data) for port, data in writes.items()}


def simulated_console(out):
    """The driver's console texts in notice-sim's summary, one stripped line each."""
    with open(os.path.join(out, "summary.json")) as f:
        summary = json.load(f)
    lines = []
    for notification in summary.get("notifications", []):
        for text in notification.get("console", []):
            lines += [line.strip() for line in text.splitlines() if line.strip()]
    return summary, lines


def compare_with_simulator(report, machine, shot, scenario, simulator, workdir, picture_files, console):
    """Runs the simulator on the same machine and compares the screen (where a
    picture is drawn), the console lines and every EC and CMOS port write."""
    width, height, pixels = read_ppm(shot) if shot and os.path.exists(shot) else (1280, 800, None)
    out = run_simulator(report, scenario, simulator, workdir, width, height, picture_files)
    if out is None:
        return
    summary, sim_console = simulated_console(out)
    modes = [n.get("notice_mode") for n in summary.get("notifications", [])]
    report.note("notice-sim: notice %s, console %s" % (modes, sim_console or "none"))
    report.check(modes == [scenario.mode], "notice-sim chose notice %s, expected [%d]" % (modes, scenario.mode))
    report.check(console == sim_console, "console lines %s, notice-sim's %s" % (console, sim_console))
    sim_writes = simulated_port_writes(out)
    for port in (EC_COMMAND, EC_DATA, CMOS_INDEX, CMOS_DATA):
        real, simulated = machine.port_writes(port), sim_writes.get(port, b"")
        report.check(real == simulated, "port 0x%02X saw %s, notice-sim wrote %s"
                     % (port, real.hex(" ") or "-", simulated.hex(" ") or "-"))
    if pixels is None or not scenario.check_screen:
        return
    sim_width, sim_height, sim_pixels = read_png_rgb(os.path.join(out, "screen.png"))
    if not report.check((sim_width, sim_height) == (width, height),
                        "notice-sim screen is %dx%d, the real one %dx%d" % (sim_width, sim_height, width, height)):
        return
    differing = sum(1 for i in range(0, len(pixels), 3) if pixels[i:i + 3] != sim_pixels[i:i + 3]) \
        if pixels != sim_pixels else 0
    report.note("notice-sim screen: %s" % ("identical" if not differing else "%d pixels differ" % differing))
    report.check(differing == 0, "the real screen differs from notice-sim's in %d pixels (%s/screen.png)"
                 % (differing, out))


def check_ports(report, machine, scenario):
    registers = scenario.ec_registers()
    ec_commands = machine.port_writes(EC_COMMAND)
    ec_data = machine.port_writes(EC_DATA)
    report.note("EC writes: command port %s, data port %s" % (ec_commands.hex(" ") or "-", ec_data.hex(" ") or "-"))
    report.check(ec_commands == bytes([EC_READ_COMMAND] * len(registers)),
                 "EC command port saw %s, expected %d read commands" % (ec_commands.hex(" "), len(registers)))
    report.check(ec_data == bytes(registers),
                 "EC data port saw %s, expected registers %s" % (ec_data.hex(" "), bytes(registers).hex(" ")))
    cmos_index = machine.port_writes(CMOS_INDEX)
    cmos_data = machine.port_writes(CMOS_DATA)
    report.note("CMOS writes: index %s, data %s" % (cmos_index.hex(" ") or "-", cmos_data.hex(" ") or "-"))
    marks = [] if not scenario.driver_runs() else [0x00, 0xAA] if scenario.mode else [0x00]
    report.check(cmos_index == bytes([CMOS_MARKER_INDEX] * len(marks)) and cmos_data == bytes(marks),
                 "CMOS marker writes %s / %s, expected index 0x30 with %s"
                 % (cmos_index.hex(" "), cmos_data.hex(" "), bytes(marks).hex(" ")))


def prepare_disks(scenario, args, workdir, all_pictures):
    """The FAT boot disk (signed files for Secure Boot) and the NVMe disk; returns them and the pictures used."""
    app, driver = args.app, args.driver
    if scenario.secure_boot:
        app = sign(app, workdir)
        if scenario.sign_driver:
            driver = driver and sign(driver, workdir)
    picture_files = {}
    for mode, picture in ({} if args.driver_in_firmware else all_pictures).items():
        if mode in scenario.missing_pictures:
            continue
        name = "PICTURE%d.BMP" % mode
        picture_files[name] = os.path.join(workdir, name)
        with open(picture_files[name], "wb") as f:
            f.write(picture.bmp[:make_images.MALFORMED_KEEP_BYTES] if mode in scenario.malformed_pictures
                    else picture.bmp)
    esp = build_esp(workdir, app, driver, picture_files)
    if args.driver_in_firmware:
        picture_files = firmware_picture_files(args, scenario, workdir)
    nvme = ""
    if scenario.nvme:
        nvme = os.path.join(workdir, "nvme.img")
        with open(nvme, "wb") as f:
            f.truncate(1 << 20)
    return esp, nvme, picture_files


def firmware_picture_files(args, scenario, workdir):
    """The pictures the firmware image carries, under the names the simulator options use."""
    if args.firmware_dirs is None:
        return pictures_in_image(firmware_code(args, scenario), os.path.join(workdir, "firmware-pictures"))
    directory = os.path.join(firmware_dir(args, scenario), "pictures")
    return {"PICTURE%d.BMP" % mode: os.path.join(directory, "notice%d.bmp" % mode)
            for mode in range(1, 7) if os.path.exists(os.path.join(directory, "notice%d.bmp" % mode))}


def pictures_in_image(code, out):
    """Copies the picture files of a firmware image given by the user (--code) out of its DXE volume."""
    with open(code, "rb") as f:
        image = bytearray(f.read())
    try:
        dxe = dxe_volume.find_dxe_volume(image)
        files, _ = firmware_volume.read_files(dxe.buffer, dxe.volume)
    except firmware_volume.FirmwareFormatError as error:
        raise RuntimeError("cannot read the pictures of %s: %s" % (code, error)) from None
    by_name = {str(f.name).upper(): f for f in files}
    os.makedirs(out, exist_ok=True)
    found = {}
    for mode, guid in check_image.PICTURE_GUIDS.items():
        picture_file = by_name.get(guid)
        raw = [s for s in firmware_volume.file_sections(dxe.buffer, picture_file)
               if s.type == firmware_volume.SECTION_RAW] if picture_file else []
        if raw:
            found["PICTURE%d.BMP" % mode] = os.path.join(out, "notice%d.bmp" % mode)
            with open(found["PICTURE%d.BMP" % mode], "wb") as f:
                f.write(dxe.buffer[raw[0].body_offset:raw[0].end])
    return found


def firmware_dir(args, scenario):
    return args.firmware_dirs[scenario.firmware_variant()]


def firmware_code(args, scenario):
    """The code image to boot: the scenario's variant when images were built here, else --code/--secure-code."""
    if args.firmware_dirs is not None:
        name = make_images.SECURE_IMAGE if scenario.secure_boot else make_images.PLAIN_IMAGE
        return os.path.join(firmware_dir(args, scenario), name)
    return args.secure_code if scenario.secure_boot else args.code


def machine_config(scenario, args, esp, nvme):
    # A present controller answers every command at once; an absent one reads 0xFF everywhere.
    ec_status = EC_ABSENT if scenario.ec_byte == EC_ABSENT else EC_ANSWERS_AT_ONCE
    return MachineConfig(
        code=firmware_code(args, scenario), esp_bootindex=0 if scenario.boot_disk_only else None,
        esp_interface=scenario.boot_disk,
        vars_template=SECURE_VARS if scenario.secure_boot else PLAIN_VARS,
        secure_boot=scenario.secure_boot, machine=scenario.machine, esp_image=esp, nvme_image=nvme,
        port_standins={EC_DATA: scenario.ec_byte, EC_COMMAND: ec_status, CMOS_INDEX: 0xFF, CMOS_DATA: 0xFF},
        screen=getattr(args, "screen", None) or "", timeout_s=args.timeout)


def boot(report, machine, shot):
    """Runs the machine to its end, taking the screenshot when the application asks for it."""
    try:
        machine.start()
        machine.wait_for_serial(rb"E2E (TakePicture|ResetSystem)")
        if re.search(r"^E2E TakePicture$", machine.serial_text(), re.M):
            machine.screendump(shot)
            machine.send_serial(HOST_ACK)
        result = machine.wait_for_exit()
        report.note("QEMU ended after %.1f s: exit status %d, shutdown reason %s"
                    % (result.elapsed_s, result.returncode, result.shutdown_reason or "none"))
        report.check(result.returncode == 0, "QEMU exit status %d" % result.returncode)
        report.check(result.shutdown_reason == "guest-shutdown",
                     "shutdown reason %r, expected guest-shutdown" % result.shutdown_reason)
    except MachineFailure as failure:
        report.check(False, str(failure))
        machine.kill()
    report.elapsed = time.monotonic() - machine.started_at if machine.started_at else 0.0


def trigger_time_note(scenario, seconds):
    """What the driver's notice took, and why: the hold, the level re-check, the EC time-outs."""
    if not scenario.driver_runs():
        return "the trigger installation took %.1f s (the driver is not running)" % seconds
    recheck = 0x93 in scenario.ec_registers()[2:3]
    waits = (HOLD_SECONDS if scenario.mode else 0) + (1 if recheck else 0)
    parts = (["the %d s hold" % HOLD_SECONDS] if scenario.mode else []) + (["the 1 s level re-check"] if recheck else [])
    if scenario.ec_byte == EC_ABSENT:
        parts.append("%.1f s of embedded-controller time-outs (this machine has no EC: each of the %d register reads "
                     "waits out 1024 status polls, about 1 s on hardware, under QEMU as long as emulating them takes)"
                     % (max(0.0, seconds - waits), len(scenario.ec_registers())))
    return "the driver's notice took %.1f s%s" % (seconds, ": " + " and ".join(parts) if parts else "")


def note_timeline(report, machine):
    times = [(label, machine.serial_time(pattern)) for label, pattern in
             (("app started", rb"E2E Begin"), ("driver started", rb"E2E StartImage"),
              ("end of DXE signalled", rb"E2E SignalEndOfDxe"), ("pictures served", rb"E2E CheckPictureVolume"),
              ("trigger returned", rb"E2E InstallTrigger"), ("powering off", rb"E2E ResetSystem"))]
    served, returned = times[3][1], times[4][1]
    if served is not None and returned is not None:
        report.note(trigger_time_note(report.scenario, returned - served))
    report.note("timeline: " + ", ".join("%s %.1f s" % (label, t) for label, t in times if t is not None))


def run_scenario(scenario, args, workdir, all_pictures):
    report = Report(scenario)
    os.makedirs(workdir, exist_ok=True)
    esp, nvme, picture_files = prepare_disks(scenario, args, workdir, all_pictures)
    shot = os.path.join(workdir, "screen.ppm")
    with Machine(machine_config(scenario, args, esp, nvme), workdir) as machine:
        boot(report, machine, shot)
        note_timeline(report, machine)
        text = machine.serial_text()
        report.app_lines = app_lines(text)
        check_app_steps(report, report.app_lines, expected_app_steps(scenario, args.driver_in_firmware))
        check_storage_probe(report, report.app_lines, scenario, args.driver_in_firmware)
        console = driver_console_lines(text)
        report.note("driver console lines: %s" % (console or "none"))
        report.check(console == list(scenario.console_lines),
                     "driver printed %s, expected %s" % (console, list(scenario.console_lines)))
        if scenario.check_screen:
            # Pictures other than the test pictures are checked through notice-sim's screen.
            own_pictures = args.demo_pictures or (args.driver_in_firmware and args.firmware_dirs is None)
            check_screen(report, shot, scenario, None if own_pictures else all_pictures, workdir)
            if own_pictures and not args.notice_sim:
                report.note("screen not compared: these are not the test pictures (give --notice-sim to compare)")
        if machine.process is not None:
            check_ports(report, machine, scenario)
            if args.notice_sim and scenario.driver_runs():
                compare_with_simulator(report, machine, shot, scenario, args.notice_sim, workdir, picture_files,
                                       console)
        if args.show_serial:
            report.serial = text
    return report


def print_report(report, workdir):
    s = report.scenario
    verdict = "PASS" if not report.problems else "FAIL"
    print("== %s: %s (%.1f s) - %s; expected notice %d" % (s.name, verdict, report.elapsed, s.about, s.mode))
    if report.problems:
        print("   app: " + " ".join("%s=%s" % (step, "-" if v is None else "0x%X" % v)
                                    for step, v in getattr(report, "app_lines", [])))
    for note in report.notes:
        print("   " + note)
    for problem in report.problems:
        print("   FAIL: " + problem)
    if getattr(report, "serial", None) is not None:
        print("   ---- serial output ----")
        for line in report.serial.splitlines():
            if line.strip():
                print("   | " + line)
    if report.problems:
        print("   files: %s (serial.log, screen.ppm, port*.log, qemu-command.txt)" % workdir)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="/work/build/e2e-image",
                        help="image build directory holding notice.efi and e2e/app/notice-e2e.efi")
    parser.add_argument("--driver", help="driver image (default: BUILD_DIR/notice.efi)")
    parser.add_argument("--app", help="test application (default: BUILD_DIR/e2e/app/notice-e2e.efi)")
    parser.add_argument("--scenario", action="append", choices=SCENARIO_NAMES,
                        help="scenario to run (repeatable; default: %s)" % ", ".join(DEFAULT_SCENARIOS))
    parser.add_argument("--all", action="store_true", help="run every scenario")
    parser.add_argument("--list", action="store_true", help="list the scenarios and exit")
    parser.add_argument("--code", default=PLAIN_CODE, help="firmware code image for Secure Boot off")
    parser.add_argument("--secure-code", default=SECURE_CODE, help="firmware code image for Secure Boot on")
    parser.add_argument("--driver-in-firmware", action="store_true",
                        help="the firmware images carry the driver and pictures: boot only the application")
    parser.add_argument("--notice-pack", metavar="PATH",
                        help="with --driver-in-firmware: build each scenario's firmware image with this notice-pack "
                             "(cached in --firmware-cache) instead of booting --code/--secure-code")
    parser.add_argument("--firmware-cache", metavar="DIR",
                        help="where built firmware images are kept, keyed by their inputs "
                             "(default: BUILD_DIR/firmware-images)")
    parser.add_argument("--notice-sim", metavar="PATH", help="also compare each screen with notice-sim's")
    parser.add_argument("--show-serial", action="store_true", help="print each run's serial output")
    parser.add_argument("--timeout", type=float, default=180.0, help="hard limit per QEMU run in seconds")
    parser.add_argument("--workdir", help="where run files go (default: a fresh temporary directory)")
    args = parser.parse_args(argv)

    if args.list:
        for s in SCENARIOS:
            print("%-20s notice %d  %s" % (s.name, s.mode, s.about))
        return 0
    return run_scenarios(args)


def prepare_firmware(args, scenarios):
    """Builds (or finds cached) the firmware variants the scenarios boot; sets args.firmware_dirs."""
    args.firmware_dirs = None
    if not (args.driver_in_firmware and args.notice_pack):
        return True
    driver = args.driver or os.path.join(args.build_dir, "notice.efi")
    cache = args.firmware_cache or os.path.join(args.build_dir, "firmware-images")
    variants = {}
    for s in scenarios:
        if s.runs_in_firmware():
            names = variants.setdefault(s.firmware_variant(), [])
            name = make_images.SECURE_IMAGE if s.secure_boot else make_images.PLAIN_IMAGE
            if name not in names:
                names.append(name)
    started = time.monotonic()
    for path in (args.notice_pack, driver):
        if not os.path.isfile(path):
            print("run.py: %s not found (build it first)" % path, file=sys.stderr)
            return False
    args.firmware_dirs = make_images.ensure_variants(args.notice_pack, driver, cache, variants,
                                                     getattr(args, "demo_pictures", None))
    if args.firmware_dirs is None:
        print("run.py: building the firmware images failed", file=sys.stderr)
        return False
    print("== firmware images %s ready in %.1f s (%s)" % (", ".join(sorted(variants)), time.monotonic() - started,
                                                         cache))
    return True


def run_scenarios(args):
    """Runs the chosen scenarios; returns the exit status."""
    if not hasattr(args, "demo_pictures"):
        args.demo_pictures = None
    # Every path is made absolute first: QEMU runs in each scenario's folder.
    for name in ("build_dir", "driver", "app", "code", "secure_code", "notice_sim", "notice_pack",
                 "firmware_cache", "demo_pictures"):
        value = getattr(args, name, None)
        if isinstance(value, str) and value:
            setattr(args, name, os.path.abspath(value))
    names = SCENARIO_NAMES if args.all else (args.scenario or DEFAULT_SCENARIOS)
    chosen = [next(s for s in SCENARIOS if s.name == name) for name in names]
    if not prepare_firmware(args, chosen):
        return 2
    args.driver = None if args.driver_in_firmware else (args.driver or os.path.join(args.build_dir, "notice.efi"))
    args.app = args.app or os.path.join(args.build_dir, "e2e", "app", "notice-e2e.efi")
    for path in filter(None, (args.driver, args.app, args.code, args.secure_code, args.notice_sim)):
        if not os.path.isfile(path):
            print("run.py: %s not found (build the image first)" % path, file=sys.stderr)
            return 2
    # Absolute: QEMU runs in each scenario's folder and gets these paths.
    root = os.path.abspath(args.workdir) if args.workdir else tempfile.mkdtemp(prefix="notice-e2e-")
    all_pictures = pictures.make_pictures()

    failed = []
    ran = []
    started = time.monotonic()
    for name in names:
        scenario = next(s for s in SCENARIOS if s.name == name)
        if args.driver_in_firmware and not scenario.runs_in_firmware():
            print("== %s: skipped (needs the driver loaded from disk)" % name)
            continue
        if not args.driver_in_firmware and scenario.compressed_pictures:
            print("== %s: skipped (only a firmware image carries compressed sections)" % name)
            continue
        workdir = os.path.join(root, name)
        if os.path.isdir(workdir):
            shutil.rmtree(workdir)
        ran.append(name)
        try:
            report = run_scenario(scenario, args, workdir, all_pictures)
        except (RuntimeError, OSError) as error:
            report = Report(scenario)
            report.elapsed = 0.0
            report.check(False, "could not prepare the run: %s" % error)
        print_report(report, workdir)
        if report.problems:
            failed.append(name)
    print("== %d of %d scenarios passed in %.1f s%s" % (len(ran) - len(failed), len(ran),
                                                       time.monotonic() - started,
                                                       "; failed: " + ", ".join(failed) if failed else ""))
    if not failed and not args.workdir:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

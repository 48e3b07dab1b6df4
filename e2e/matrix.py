#!/usr/bin/env python3
"""The compatibility matrix: the driver, loaded from disk by the test
application, on two UEFI implementations (OVMF and U-Boot), every QEMU
display OVMF drives, several resolutions, storage layouts, edge and hostile
pictures and two trigger installations in one boot.

Each cell boots once. The application reports what the firmware offers (HOB
list, firmware-volume, PCI I/O and graphics-output handles, the screen mode,
the storage controllers bound before and after end of DXE); notice-sim then
runs on that same machine state, and the cell passes only when the real
machine did what notice-sim did: the notice chosen (a cell's expected notice
only names what the machine is built for), the driver's console lines, every
EC and CMOS port write, the controllers connected, and, with a graphics
output, the whole screen pixel for pixel. Two QEMU instances run at a time.

    matrix.py --build-dir build/image --notice-sim build/host-gcc/tools/notice-sim/notice-sim \\
        [--cell NAME ...] [--json matrix.json] [--table matrix.md] [--update-readme README.md]

Exit status: 0 when every cell that ran passed, 1 otherwise, 2 on bad usage.
"""

import argparse
import concurrent.futures
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import matrix_cells  # noqa: E402
import matrix_firmware  # noqa: E402
import matrix_pictures  # noqa: E402
import qemu  # noqa: E402
import checks  # noqa: E402
import make_images  # noqa: E402  (matrix_firmware puts e2e/firmware on the path)
import scenarios  # noqa: E402
import simulator  # noqa: E402
from boot_disks import build_esp  # noqa: E402
from run import start_and_take_picture  # noqa: E402
from png_read import read_png_rgb  # noqa: E402

MAX_MACHINES = 2  # what two shared cores sustain
MBR_PARTITION_START = 2048  # sectors
README_BEGIN = "<!-- compatibility matrix: begin (written by e2e/matrix.py --update-readme) -->"
README_END = "<!-- compatibility matrix: end -->"
# How a run ends. OVMF powers the machine off. U-Boot neither powers off nor
# returns from ResetSystem(EfiResetShutdown) on QEMU's x86 machines, so once
# the application has reported that call the host ends QEMU.
ENDINGS = {matrix_cells.OVMF: "guest-shutdown", matrix_cells.UBOOT: "host-qmp-quit"}
SHUTDOWN_GRACE_S = 10.0
# OVMF's graphics console draws text in 8x19 cells, its grid centred on the
# screen (measured: the lines start 5 rows down at 800x600, where 600 = 31 x 19
# + 11); notice-sim draws no text on its screen.
CONSOLE_CELL = (8, 19)
SSE_REGISTER = re.compile(r"%[xy]mm\d")
INVALID_OPCODE = re.compile(r" v=06 e=\w+ i=0 cpl=\d IP=\w+:([0-9a-f]+)")
CONTROL_REGISTERS = re.compile(r"CR0=([0-9a-f]+) CR2=[0-9a-f]+ CR3=[0-9a-f]+ CR4=([0-9a-f]+)")
CR4_OSFXSR = 0x200


class CellReport(checks.Report):
    def __init__(self, cell):
        super().__init__(cell)
        self.elapsed = 0.0
        self.status = "pass"
        self.sim_notices = []
        self.seen = "-"
        self.screen = "-"
        self.facts = {}
        self.compared = True  # whether notice-sim explains the run (not when the driver never started)


# ---- preparing the disks ---------------------------------------------------


def objdump(image, option):
    tool = shutil.which("llvm-objdump") or shutil.which("llvm-objdump-14")
    if not tool:
        raise RuntimeError("llvm-objdump not found: install llvm")
    return subprocess.run([tool, option, image], stdout=subprocess.PIPE, check=True).stdout.decode()


def sse_instructions(image):
    """Instructions of a PE image that use an XMM or YMM register (llvm-objdump -d)."""
    return [line.strip() for line in objdump(image, "-d").splitlines() if SSE_REGISTER.search(line)]


def instruction_at(image, rva):
    """The disassembled instruction at an offset from the image's base, or None."""
    base = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", objdump(image, "-p"), re.M)
    if not base:
        return None
    address = "%x:" % (int(base.group(1), 16) + rva)
    return next((line.strip() for line in objdump(image, "-d").splitlines() if line.strip().startswith(address)), None)


def last_invalid_opcode(log_path):
    """(RIP, CR4) of the last invalid-opcode exception in a QEMU `-d int` log, or None."""
    found = None
    waiting = False
    with open(log_path, errors="replace") as f:
        for line in f:
            match = INVALID_OPCODE.search(line)
            if match:
                rip, waiting = int(match.group(1), 16), True
                continue
            registers = CONTROL_REGISTERS.search(line) if waiting else None
            if registers:
                found, waiting = (rip, int(registers.group(2), 16)), False
    return found


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


def firmware_volumes(cell, args):
    """The firmware image's own volumes in handle order, each mode -> host file of its pictures:
    none for the stock image; the DXE volume, and the inner volume when the cell has one."""
    if not cell.firmware_image:
        return []
    directory = os.path.join(args.firmware_dirs[cell.firmware_image], "pictures")
    dxe = {
        mode: os.path.join(directory, "notice%d.bmp" % mode)
        for mode in range(1, 7)
        if os.path.exists(os.path.join(directory, "notice%d.bmp" % mode))
    }
    return [dxe] + ([args.nested_images[cell.name][1]] if cell.nested_pictures else [])


def prepare_disks(cell, args, workdir):
    """Boot disk (application, driver, pictures, trigger count) and NVMe disk; returns them with
    the pictures and their host files."""
    width, height = cell.resolution or (None, None)
    chosen = matrix_pictures.picture_set(cell.pictures, width, height)
    files = {}
    for mode, picture in chosen.items():
        files["PICTURE%d.BMP" % mode] = os.path.join(workdir, "PICTURE%d.BMP" % mode)
        with open(files["PICTURE%d.BMP" % mode], "wb") as f:
            f.write(picture.bmp)
    boot_files = dict(files)
    if cell.triggers != 1:
        boot_files["TRIGGERS"] = os.path.join(workdir, "TRIGGERS")
        with open(boot_files["TRIGGERS"], "w") as f:
            f.write("%d" % cell.triggers)
    # Without notice.efi on the boot disk the application knows the firmware carries the driver.
    driver = args.uboot_driver if cell.firmware == matrix_cells.UBOOT and not cell.shipped_driver else args.driver
    if cell.firmware_image:
        driver = None
    esp = build_esp(workdir, args.app, driver, boot_files)
    if cell.firmware == matrix_cells.UBOOT:
        esp = with_partition_table(esp, os.path.join(workdir, "disk.img"))
    nvme = ""
    if cell.has_nvme():
        nvme = os.path.join(workdir, "nvme.img")
        with open(nvme, "wb") as f:
            f.truncate(1 << 20)
    return esp, nvme, chosen, files


# ---- the run ---------------------------------------------------------------


def boot(report, machine, shot, cell):
    """Runs the machine to its end, taking the screenshot when the application asks for it."""
    reason = ENDINGS[cell.firmware]
    try:
        start_and_take_picture(machine, shot)
        if reason == "host-qmp-quit":
            machine.wait_for_serial(rb"E2E ResetSystem")
            try:
                machine.wait_for_exit(SHUTDOWN_GRACE_S)
            except qemu.MachineFailure:
                report.note(
                    "ResetSystem(EfiResetShutdown) neither powered off nor returned within %.0f s: "
                    "QEMU ended by QMP quit" % SHUTDOWN_GRACE_S
                )
                try:
                    machine.qmp("quit")
                except qemu.MachineFailure:
                    pass  # QEMU may close the socket before it answers
        result = machine.wait_for_exit()
        report.note(
            "QEMU ended after %.1f s: exit status %d, %s"
            % (result.elapsed_s, result.returncode, result.shutdown_reason or "no shutdown event")
        )
        report.check(result.returncode == 0, "QEMU exit status %d" % result.returncode)
        report.check(
            result.shutdown_reason == reason,
            "the run ended by %r, expected %r on %s" % (result.shutdown_reason, reason, cell.firmware),
        )
    except qemu.MachineFailure as failure:
        report.check(False, str(failure))
        machine.kill()


def find_picture(width, pixels, picture):
    """Where a picture's pixels sit on the screen, as (x, y), or None."""
    if picture.rows is None or not picture.rows or len(picture.rows[0]) > width * 3:
        return None
    start = 0
    while True:
        at = pixels.find(picture.rows[0], start)
        if at < 0:
            return None
        if at % 3 == 0:
            x, y = (at // 3) % width, (at // 3) // width
            if x + picture.width <= width and all(
                pixels[((y + r) * width + x) * 3 : ((y + r) * width + x) * 3 + len(row)] == row
                for r, row in enumerate(picture.rows)
            ):
                return x, y
        start = at + 1


def screen_candidates(cell, args, chosen):
    """(label, picture) for every picture the machine could show."""
    own = "application's volume" if cell.firmware_image else None
    candidates = [
        ("notice %d%s" % (mode, " (%s)" % own if own else ""), picture) for mode, picture in sorted(chosen.items())
    ]
    if cell.firmware_image:
        test = matrix_pictures.picture_set("test")
        candidates += [
            ("notice %d (DXE volume)" % mode, test[mode]) for mode in sorted(firmware_volumes(cell, args)[0])
        ]
    if cell.nested_pictures:
        candidates += [
            ("notice %d (inner volume)" % mode, picture)
            for mode, picture in sorted(matrix_pictures.picture_set(cell.nested_pictures).items())
        ]
    return candidates


def describe_screen(report, shot, candidates):
    """What the real screen shows: which of the candidate pictures, and where."""
    if not os.path.exists(shot):
        return None
    width, height, pixels = qemu.read_ppm(shot)
    if not report.facts.get("GopModes", 0):
        report.screen = "no GOP"
        report.seen = "no graphics output"
        return None
    report.screen = "%dx%d" % (width, height)
    found = [(label, find_picture(width, pixels, picture)) for label, picture in candidates]
    found = [(label, at) for label, at in found if at is not None]
    if found:
        report.seen = ", ".join("%s at (%d, %d)" % (label, x, y) for label, (x, y) in found)
    elif pixels.count(0) == len(pixels):
        report.seen = "nothing drawn"
    else:
        report.seen = "no picture drawn"
    return width, height, pixels, found


def simulator_arguments(cell, facts, width, height, files, firmware_volumes=()):
    """notice-sim options for the machine the firmware reported: its PCI functions only where
    the firmware offers PCI I/O, its graphics output and mode, the very picture files, in the
    volume order the application saw (the firmware's own volumes, then its own, unless the
    firmware listed it first)."""
    args = [
        "--screen",
        "%dx%d" % (width, height),
        "--secure-boot",
        "0",
        "--ec-kind",
        "absent",
        "--triggers",
        str(cell.triggers),
    ]
    if facts.get("PciIoHandles", 0):
        for function in cell.pci_functions():
            args += ["--pci", function]
    else:
        args += ["--pci", "none"]
    if not facts.get("GopModes", 0):
        args.append("--no-gop")
    app = {mode: files["PICTURE%d.BMP" % mode] for mode in range(1, 7) if "PICTURE%d.BMP" % mode in files}
    volumes = list(firmware_volumes)
    if facts.get("FirmwareVolumeHandles", 0):
        volumes.insert(min(facts.get("PictureVolumeIndex", 0), len(volumes)), app)
    else:
        volumes.insert(0, app)
    if len(volumes) > 2:  # notice-sim models two volumes; one without notice pictures changes no lookup
        volumes = [v for v in volumes if v]
    if len(volumes) > 2:
        raise ValueError("%d volumes hold notice pictures; notice-sim models two" % len(volumes))
    first, second = (volumes + [{}, {}])[:2]
    for mode in range(1, 7):
        args += ["--picture", "%d=%s" % (mode, first[mode])] if mode in first else ["--no-picture", str(mode)]
    for mode, path in sorted(second.items()):
        args += ["--second-volume", "%d=%s" % (mode, path)]
    return args


def compare_with_simulator(report, machine, cell, args, workdir, files, screen, console):
    facts = report.facts
    width, height = facts.get("GopWidth", 1280), facts.get("GopHeight", 800)
    out = os.path.join(workdir, "notice-sim")
    command = [args.notice_sim, "--out", out] + simulator_arguments(
        cell, facts, width, height, files, firmware_volumes(cell, args)
    )
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    with open(os.path.join(workdir, "notice-sim-command.txt"), "w") as f:
        f.write(" ".join(command) + "\n" + result.stdout.decode(errors="replace"))
    if not report.check(
        result.returncode == 0,
        "notice-sim failed (%d): %s" % (result.returncode, result.stdout.decode(errors="replace").strip()),
    ):
        return
    summary, sim_console = simulator.simulated_console(out)
    notifications = summary.get("notifications", [])
    report.sim_notices = [n.get("notice_mode") for n in notifications]
    report.note(
        "notice-sim: notices %s, console %s, connected %s, blt %s"
        % (report.sim_notices, sim_console or "none", summary.get("connected"), [n.get("blt") for n in notifications])
    )
    report.check(
        report.sim_notices == [cell.expect_notice] * cell.triggers,
        "notice-sim chose %s on this machine, the cell is built for notice %d"
        % (report.sim_notices, cell.expect_notice),
    )
    report.check(console == sim_console, "console lines %s, notice-sim's %s" % (console, sim_console))
    sim_writes = simulator.simulated_port_writes(out)
    real_writes = {port: machine.port_writes(port) for port in checks.SIMULATED_PORTS}
    for problem in checks.port_write_problems(real_writes, sim_writes):
        report.check(False, problem)
    compare_connections(report, cell, summary.get("connected", []))
    drawn = any(n.get("blt") for n in notifications)
    report.check(
        drawn == cell.expect_drawn,
        "notice-sim %s; the cell expects %s"
        % ("drew a picture" if drawn else "drew nothing", "a picture" if cell.expect_drawn else "none"),
    )
    if not facts.get("GopModes", 0):
        report.note("no graphics output: no screen to compare")
        return
    if not report.check(screen is not None, "no screenshot taken"):
        return
    real_width, real_height, pixels, found = screen
    report.check(
        (real_width, real_height) == (width, height),
        "the display shows %dx%d, the graphics output " "reported %dx%d" % (real_width, real_height, width, height),
    )
    sim_width, sim_height, sim_pixels = read_png_rgb(os.path.join(out, "screen.png"))
    if not report.check(
        (sim_width, sim_height) == (real_width, real_height), "notice-sim's screen is %dx%d" % (sim_width, sim_height)
    ):
        return
    last_console = [
        line
        for text in (notifications[-1].get("console", []) if notifications else [])
        for line in text.splitlines()
        if line.strip()
    ]
    text_area = console_text_area(last_console, real_width, real_height)
    differing = differing_pixels(real_width, pixels, sim_pixels)
    outside = [(x, y) for x, y in differing if x >= text_area[0] or y >= text_area[1]]
    report.note(
        "screen %dx%d: %s; notice-sim's screen: %s"
        % (
            real_width,
            real_height,
            report.seen,
            "identical"
            if not differing
            else "%d pixels differ, all inside the console's text cells (%dx%d at the top left)"
            % (len(differing), text_area[0], text_area[1])
            if not outside
            else "%d pixels differ" % len(differing),
        )
    )
    report.check(
        not outside,
        "the real screen differs from notice-sim's in %d pixels outside the console text "
        "(x %d-%d, y %d-%d; %s/screen.png)"
        % (
            len(outside),
            min(x for x, _ in outside or [(0, 0)]),
            max(x for x, _ in outside or [(0, 0)]),
            min(y for _, y in outside or [(0, 0)]),
            max(y for _, y in outside or [(0, 0)]),
            out,
        ),
    )
    if cell.expect_left is not None:
        report.check(
            [at[0] for _, at in found] == [cell.expect_left],
            "the picture's left edge is at %s, the cell is about x = %d"
            % ([at[0] for _, at in found], cell.expect_left),
        )


def console_text_area(lines, screen_width, screen_height):
    """(width, height) of the top-left screen area the console's first text cells cover for these lines."""
    if not lines:
        return 0, 0
    left, top = (screen_width % CONSOLE_CELL[0]) // 2, (screen_height % CONSOLE_CELL[1]) // 2
    return left + max(len(line) for line in lines) * CONSOLE_CELL[0], top + len(lines) * CONSOLE_CELL[1]


def differing_pixels(width, pixels, other):
    """(x, y) of every pixel where two screens of the same size differ."""
    if pixels == other:
        return []
    return [
        ((i // 3) % width, (i // 3) // width) for i in range(0, len(pixels), 3) if pixels[i : i + 3] != other[i : i + 3]
    ]


def compare_connections(report, cell, sim_connected):
    """With the boot disk alone in the boot order, OVMF's boot manager binds no other storage
    controller: what is bound after end of DXE was connected by the driver. A driver loaded from
    disk sees end of DXE when the application signals it again; one inside the firmware image
    saw it before the boot manager ran, so its controllers are bound when the application starts."""
    facts = report.facts
    before = (facts.get("NvmeBoundBefore", 0), facts.get("AtaBoundBefore", 0))
    after = (facts.get("NvmeBoundAfter", 0), facts.get("AtaBoundAfter", 0))
    report.note(
        "controllers bound (NVMe, ATA pass-through): %s when the application started, %s after end of "
        "DXE" % (before, after)
    )
    if not cell.boot_disk_only():
        return
    expected = (
        sum(1 for name in sim_connected if name.startswith("nvme")),
        sum(1 for name in sim_connected if name.startswith("sata")),
    )
    if cell.firmware_image:
        # Connected before the boot manager ran; the boot disk here is on virtio, not ATA.
        report.check(
            before == expected and after == before,
            "bound controllers %s -> %s; notice-sim connected %s" % (before, after, sim_connected),
        )
        return
    newly = (after[0] - before[0], after[1] - before[1])
    report.check(
        newly == expected,
        "end of DXE bound %s more controllers (NVMe, ATA); notice-sim connected %s" % (newly, sim_connected),
    )


def expected_steps(cell, files):
    """The application's reports in order; with the driver in the firmware image it finds no
    notice.efi and reads only the pictures its own volume serves."""
    steps = scenarios.expected_app_steps(
        scenarios.Scenario(cell.name, cell.about, cell.expect_notice), bool(cell.firmware_image), cell.triggers
    )
    return [
        (step, 0 if step.startswith("ReadPicture") and step[len("Read") :].upper() + ".BMP" in files else status)
        for step, status in steps
    ]


def check_death_by_sse(report, machine, cell, args, workdir, files):
    """The driver still holds SSE instructions and U-Boot leaves CR4.OSFXSR clear: StartImage must
    die on an invalid-opcode exception at one of them (QEMU then resets, and -no-reboot ends it)."""
    report.compared = False
    try:
        machine.start()
        result = machine.wait_for_exit()
        report.note(
            "QEMU ended after %.1f s: exit status %d, %s"
            % (result.elapsed_s, result.returncode, result.shutdown_reason or "no shutdown event")
        )
        report.check(
            result.shutdown_reason == "guest-reset",
            "the run ended by %r, expected a reset (triple fault)" % result.shutdown_reason,
        )
    except qemu.MachineFailure as failure:
        report.check(False, str(failure))
        machine.kill()
        return
    lines = checks.app_lines(machine.serial_text())
    report.app_lines = lines
    report.facts = {step: value for step, value in lines if step in scenarios.PLATFORM_REPORTS}
    steps = expected_steps(cell, files)
    report.problems += checks.check_app_steps(lines, steps[: steps.index(("LoadImage", 0)) + 1])
    fault = last_invalid_opcode(os.path.join(workdir, matrix_cells.INTERRUPT_LOG))
    base = report.facts.get("DriverImageBase")
    if not report.check(
        fault is not None and base is not None,
        "no invalid-opcode exception logged, or no image "
        "base reported (%s)" % os.path.join(workdir, matrix_cells.INTERRUPT_LOG),
    ):
        return
    rip, cr4 = fault
    instruction = instruction_at(args.driver, rip - base) or "outside the image"
    report.seen = "StartImage died: invalid opcode at notice.efi+0x%x (%s) with CR4 0x%x" % (
        rip - base,
        " ".join(instruction.split("\t")[1:]).strip() or instruction,
        cr4,
    )
    report.note(report.seen)
    report.check(not cr4 & CR4_OSFXSR, "CR4 0x%x has OSFXSR set: the fault is not explained" % cr4)
    report.check(
        bool(SSE_REGISTER.search(instruction)), "the faulting instruction uses no SSE register: %s" % instruction
    )


def run_cell(cell, args, workdir):
    report = CellReport(cell)
    started = time.monotonic()
    sse = cell.firmware == matrix_cells.UBOOT and (args.driver_sse if cell.shipped_driver else args.uboot_sse)
    if sse and not cell.shipped_driver:
        report.status = "not run"
        report.note(
            "not run: %s holds %d SSE instructions (first: %s) and U-Boot leaves CR4.OSFXSR clear, "
            "so StartImage would die on an invalid-opcode exception; give --uboot-driver an image built "
            "with general-purpose registers only" % (args.uboot_driver, len(args.uboot_sse), args.uboot_sse[0])
        )
        return report
    os.makedirs(workdir, exist_ok=True)
    try:
        esp, nvme, chosen, files = prepare_disks(cell, args, workdir)
        shot = os.path.join(workdir, "screen.ppm")
        code = (
            args.nested_images[cell.name][0]
            if cell.nested_pictures
            else os.path.join(args.firmware_dirs[cell.firmware_image], make_images.PLAIN_IMAGE)
            if cell.firmware_image
            else qemu.PLAIN_CODE
        )
        config = matrix_cells.machine_config(cell, esp, nvme, args.uboot_rom, args.timeout, code)
        with qemu.Machine(config, workdir) as machine:
            if sse:
                check_death_by_sse(report, machine, cell, args, workdir, files)
                report.elapsed = time.monotonic() - started
                report.status = "fail" if report.problems else "pass"
                return report
            boot(report, machine, shot, cell)
            text = machine.serial_text()
            lines = checks.app_lines(text)
            report.app_lines = lines
            report.facts = {step: value for step, value in lines if step in scenarios.PLATFORM_REPORTS}
            report.note("firmware offers: " + ", ".join("%s %d" % item for item in report.facts.items()))
            steps = expected_steps(cell, files)
            report.problems += checks.check_app_steps(lines, steps)
            console = checks.driver_console_lines(text)
            report.note("driver console lines: %s" % (console or "none"))
            screen = describe_screen(report, shot, screen_candidates(cell, args, chosen))
            if console:
                report.seen += "; console: " + " ".join(console)
            if machine.process is not None:
                compare_with_simulator(report, machine, cell, args, workdir, files, screen, console)
    except (RuntimeError, OSError, ValueError, subprocess.SubprocessError) as error:
        report.check(False, "could not run the cell: %s" % error)
    report.elapsed = time.monotonic() - started
    if report.problems:
        report.status = "fail"
    return report


# ---- results ---------------------------------------------------------------


def result_record(report):
    cell = report.scenario
    return {
        "cell": cell.name,
        "about": cell.about,
        "firmware": cell.firmware,
        "display": cell.display,
        "resolution": report.screen if report.screen != "-" else cell.resolution_label(),
        "storage": cell.storage,
        "pictures": cell.pictures_label(),
        "triggers": cell.triggers,
        "notice_sim": report.sim_notices,
        "seen": report.seen,
        "equals_notice_sim": report.status == "pass" if report.compared else None,
        "status": report.status,
        "wall_time_s": round(report.elapsed, 1),
        "why": cell.why,
        "firmware_offers": report.facts,
        "problems": report.problems,
    }


def markdown_table(records):
    lines = [
        "| Cell | Firmware | Display | Resolution | Storage | Pictures | notice-sim | Seen on screen "
        "| = notice-sim | Wall time |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in records:
        sim = ", ".join(str(m) for m in r["notice_sim"]) or "-"
        verdict = {"pass": "yes", "fail": "**no**", "not run": "not run"}[r["status"]]
        if r["equals_notice_sim"] is None and r["status"] == "pass":
            verdict = "n/a: died as expected"
        lines.append(
            "| %s | %s | %s | %s | %s | %s%s | %s | %s | %s | %.0f s |"
            % (
                r["cell"],
                r["firmware"],
                r["display"],
                r["resolution"],
                r["storage"],
                r["pictures"],
                " (x%d triggers)" % r["triggers"] if r["triggers"] != 1 else "",
                sim,
                r["seen"],
                verdict,
                r["wall_time_s"],
            )
        )
    reasons = {}
    for r in records:
        if r["why"]:
            reasons.setdefault(r["why"], []).append(r["cell"])
    for reason, cells in reasons.items():
        lines.append("")
        lines.append("%s: %s." % (", ".join(cells), reason))
    return "\n".join(lines) + "\n"


def update_readme(path, table):
    with open(path) as f:
        text = f.read()
    if README_BEGIN not in text or README_END not in text:
        raise RuntimeError("%s has no matrix section (%s ... %s)" % (path, README_BEGIN, README_END))
    head, rest = text.split(README_BEGIN, 1)
    _, tail = rest.split(README_END, 1)
    with open(path, "w") as f:
        f.write(head + README_BEGIN + "\n" + table + README_END + tail)


def print_report(report, workdir):
    verdict = {"pass": "PASS", "fail": "FAIL", "not run": "NOT RUN"}[report.status]
    cell = report.scenario
    print("== %s: %s (%.1f s) - %s" % (cell.name, verdict, report.elapsed, cell.about))
    for note in report.notes:
        print("   " + note)
    for problem in report.problems:
        print("   FAIL: " + problem)
    if report.problems:
        print("   files: %s" % workdir)
    sys.stdout.flush()


def prepare_firmware_images(args, cells):
    """Builds (or finds up to date) the OVMF images with the driver and pictures that cells ask for."""
    variants = sorted({c.firmware_image for c in cells if c.firmware_image})
    args.firmware_dirs = {}
    if not variants:
        return True
    if not args.notice_pack or not os.path.isfile(args.notice_pack):
        print(
            "matrix.py: cells %s boot firmware images with the driver inside: give --notice-pack PATH"
            % ", ".join(c.name for c in cells if c.firmware_image),
            file=sys.stderr,
        )
        return False
    cache = args.firmware_cache or os.path.join(args.build_dir, "firmware-images")
    started = time.monotonic()
    dirs = make_images.ensure_variants(
        args.notice_pack, args.driver, cache, {v: [make_images.PLAIN_IMAGE] for v in variants}
    )
    if dirs is None:
        print("matrix.py: building the firmware images failed", file=sys.stderr)
        return False
    args.firmware_dirs = dirs
    args.nested_images = {}
    for cell in cells:
        if cell.nested_pictures:
            inner = {mode: p.bmp for mode, p in matrix_pictures.picture_set(cell.nested_pictures).items()}
            try:
                args.nested_images[cell.name] = matrix_firmware.ensure_nested_image(
                    args.notice_pack, dirs[cell.firmware_image], inner, cache
                )
            except (RuntimeError, OSError, subprocess.CalledProcessError) as error:
                print("matrix.py: building the image with an inner volume failed: %s" % error, file=sys.stderr)
                return False
    print(
        "== firmware images %s%s ready in %.1f s (%s)"
        % (
            ", ".join(variants),
            " and %d with an inner volume" % len(args.nested_images) if args.nested_images else "",
            time.monotonic() - started,
            cache,
        )
    )
    return True


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", help="image build directory (notice.efi, e2e/app/notice-e2e.efi)")
    parser.add_argument("--notice-sim", metavar="PATH", help="the notice-sim program")
    parser.add_argument("--driver", help="driver image (default: BUILD_DIR/notice.efi)")
    parser.add_argument(
        "--uboot-driver",
        help="driver image for the U-Boot cells (default: --driver); it must " "hold no SSE instruction",
    )
    parser.add_argument("--app", help="test application (default: BUILD_DIR/e2e/app/notice-e2e.efi)")
    parser.add_argument(
        "--notice-pack",
        metavar="PATH",
        help="notice-pack, to build the firmware images the " "two-volume cells boot (cached in --firmware-cache)",
    )
    parser.add_argument(
        "--firmware-cache",
        metavar="DIR",
        help="where built firmware images are kept "
        "(default: BUILD_DIR/firmware-images, shared with run.py --driver-in-firmware)",
    )
    parser.add_argument("--uboot-rom", default=qemu.UBOOT_ROM, help="U-Boot image (package u-boot-qemu)")
    parser.add_argument(
        "--cell",
        action="append",
        choices=matrix_cells.CELL_NAMES,
        metavar="NAME",
        help="cell to run (repeatable; default: all; see --list)",
    )
    parser.add_argument("--list", action="store_true", help="list the cells and exit")
    parser.add_argument("--json", metavar="FILE", help="write the results as JSON")
    parser.add_argument("--table", metavar="FILE", help="write the results as a Markdown table")
    parser.add_argument("--update-readme", metavar="README", help="put the table into README's matrix section")
    parser.add_argument("--jobs", type=int, default=MAX_MACHINES, help="QEMU instances at once (default 2)")
    parser.add_argument("--timeout", type=float, default=300.0, help="hard limit per QEMU run in seconds")
    parser.add_argument("--workdir", help="where run files go (default: a temporary directory, removed on success)")
    args = parser.parse_args(argv)
    if args.list:
        for c in matrix_cells.CELLS:
            print("%-28s notice %d  %s" % (c.name, c.expect_notice, c.about))
        return 0
    if args.jobs < 1:
        parser.error("--jobs wants 1 or more")
    if not args.build_dir or not args.notice_sim:
        parser.error("--build-dir and --notice-sim are required")

    for name in (
        "build_dir",
        "driver",
        "uboot_driver",
        "app",
        "uboot_rom",
        "notice_sim",
        "notice_pack",
        "firmware_cache",
    ):
        value = getattr(args, name)
        if value:
            setattr(args, name, os.path.abspath(value))
    args.driver = args.driver or os.path.join(args.build_dir, "notice.efi")
    args.uboot_driver = args.uboot_driver or args.driver
    args.app = args.app or os.path.join(args.build_dir, "e2e", "app", "notice-e2e.efi")
    cells = [c for c in matrix_cells.CELLS if not args.cell or c.name in args.cell]
    needed = [args.driver, args.app, args.notice_sim, qemu.PLAIN_CODE]
    if any(c.firmware == matrix_cells.UBOOT for c in cells):
        needed += [args.uboot_rom, args.uboot_driver]
    for path in needed:
        if not os.path.isfile(path):
            print("matrix.py: %s not found (build it, or install ovmf / u-boot-qemu)" % path, file=sys.stderr)
            return 2
    if not prepare_firmware_images(args, cells):
        return 2
    uboot = any(c.firmware == matrix_cells.UBOOT for c in cells)
    args.uboot_sse = sse_instructions(args.uboot_driver) if uboot else []
    args.driver_sse = sse_instructions(args.driver) if uboot else []

    root = os.path.abspath(args.workdir) if args.workdir else tempfile.mkdtemp(prefix="notice-matrix-")
    # The slowest cells first, so the two lanes end together.
    order = sorted(cells, key=lambda c: c.firmware != matrix_cells.UBOOT)
    started = time.monotonic()
    printing = threading.Lock()
    reports = {}

    def one(cell):
        workdir = os.path.join(root, cell.name)
        shutil.rmtree(workdir, ignore_errors=True)
        report = run_cell(cell, args, workdir)
        with printing:
            print_report(report, workdir)
        return report

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for cell, report in zip(order, pool.map(one, order)):
            reports[cell.name] = report
    records = [result_record(reports[c.name]) for c in cells]
    table = markdown_table(records)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"cells": records, "wall_time_s": round(time.monotonic() - started, 1)}, f, indent=1)
    if args.table:
        with open(args.table, "w") as f:
            f.write(table)
    if args.update_readme:
        update_readme(args.update_readme, table)
    print(table)
    failed = [r["cell"] for r in records if r["status"] == "fail"]
    not_run = [r["cell"] for r in records if r["status"] == "not run"]
    print(
        "== matrix: %d of %d cells passed in %.1f s%s%s"
        % (
            sum(r["status"] == "pass" for r in records),
            len(records),
            time.monotonic() - started,
            "; failed: " + ", ".join(failed) if failed else "",
            "; not run: " + ", ".join(not_run) if not_run else "",
        )
    )
    if not failed and not args.workdir:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

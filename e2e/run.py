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
import os
import re
import shutil
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
from boot_disks import blank_disk, build_esp, sign  # noqa: E402
from checks import TIMELINE, Expectations, QemuEnd, Report, RunRecord, app_lines, check_run  # noqa: E402
from qemu import PLAIN_VARS, SECURE_VARS, Machine, MachineConfig, MachineFailure, read_ppm  # noqa: E402
from run_config import DEFAULT_BUILD_DIR, DEFAULT_TIMEOUT_S, RunConfig  # noqa: E402
from scenarios import (  # noqa: E402
    CMOS_DATA,
    CMOS_INDEX,
    DEFAULT_SCENARIOS,
    EC_ABSENT,
    EC_COMMAND,
    EC_DATA,  # noqa: E402
    SCENARIO_NAMES,
    SCENARIOS,
    scenario_named,
)
from simulator import run_simulator  # noqa: E402

EC_ANSWERS_AT_ONCE = 0x01  # status: output buffer full, input buffer empty
HOST_ACK = b"A"
DEFAULT_SCREEN = (1280, 800)  # what notice-sim is given when no screenshot was taken
STANDIN_PORTS = (EC_DATA, EC_COMMAND, CMOS_INDEX, CMOS_DATA)


# ---- the firmware and disks of one scenario ---------------------------------


def prepare_disks(scenario, config, firmware_dirs, workdir, all_pictures):
    """The FAT boot disk (signed files for Secure Boot) and the NVMe disk; returns them and the pictures used."""
    app, driver = config.app, None if config.driver_in_firmware else config.driver
    if scenario.secure_boot:
        app = sign(app, workdir)
        if scenario.sign_driver:
            driver = driver and sign(driver, workdir)
    picture_files = {}
    for mode, picture in ({} if config.driver_in_firmware else all_pictures).items():
        if mode in scenario.missing_pictures:
            continue
        name = "PICTURE%d.BMP" % mode
        picture_files[name] = os.path.join(workdir, name)
        with open(picture_files[name], "wb") as f:
            f.write(
                picture.bmp[: make_images.MALFORMED_KEEP_BYTES] if mode in scenario.malformed_pictures else picture.bmp
            )
    esp = build_esp(workdir, app, driver, picture_files)
    if config.driver_in_firmware:
        picture_files = firmware_picture_files(config, firmware_dirs, scenario, workdir)
    nvme = blank_disk(os.path.join(workdir, "nvme.img")) if scenario.nvme else ""
    return esp, nvme, picture_files


def firmware_picture_files(config, firmware_dirs, scenario, workdir):
    """The pictures the firmware image carries, under the names the simulator options use."""
    if firmware_dirs is None:
        return pictures_in_image(
            firmware_code(config, firmware_dirs, scenario), os.path.join(workdir, "firmware-pictures")
        )
    directory = os.path.join(firmware_dirs[scenario.firmware_variant()], "pictures")
    return {
        "PICTURE%d.BMP" % mode: os.path.join(directory, "notice%d.bmp" % mode)
        for mode in range(1, 7)
        if os.path.exists(os.path.join(directory, "notice%d.bmp" % mode))
    }


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
        raw = (
            [
                s
                for s in firmware_volume.file_sections(dxe.buffer, picture_file)
                if s.type == firmware_volume.SECTION_RAW
            ]
            if picture_file
            else []
        )
        if raw:
            found["PICTURE%d.BMP" % mode] = os.path.join(out, "notice%d.bmp" % mode)
            with open(found["PICTURE%d.BMP" % mode], "wb") as f:
                f.write(dxe.buffer[raw[0].body_offset : raw[0].end])
    return found


def firmware_code(config, firmware_dirs, scenario):
    """The code image to boot: the scenario's variant when images were built here, else --code/--secure-code."""
    if firmware_dirs is not None:
        name = make_images.SECURE_IMAGE if scenario.secure_boot else make_images.PLAIN_IMAGE
        return os.path.join(firmware_dirs[scenario.firmware_variant()], name)
    return config.secure_code if scenario.secure_boot else config.code


def machine_config(scenario, config, code, esp, nvme):
    # A present controller answers every command at once; an absent one reads 0xFF everywhere.
    ec_status = EC_ABSENT if scenario.ec_byte == EC_ABSENT else EC_ANSWERS_AT_ONCE
    return MachineConfig(
        code=code,
        esp_bootindex=0 if scenario.boot_disk_only else None,
        esp_interface=scenario.boot_disk,
        vars_template=SECURE_VARS if scenario.secure_boot else PLAIN_VARS,
        secure_boot=scenario.secure_boot,
        machine=scenario.machine,
        esp_image=esp,
        nvme_image=nvme,
        port_standins={EC_DATA: scenario.ec_byte, EC_COMMAND: ec_status, CMOS_INDEX: 0xFF, CMOS_DATA: 0xFF},
        screen=config.screen or "",
        timeout_s=config.timeout,
    )


# ---- one run ----------------------------------------------------------------


def start_and_take_picture(machine, shot):
    """Starts the machine and, when the application asks for it, takes the screenshot and lets it go on."""
    machine.start()
    machine.wait_for_serial(rb"E2E (TakePicture|ResetSystem)")
    if re.search(r"^E2E TakePicture$", machine.serial_text(), re.M):
        machine.screendump(shot)
        machine.send_serial(HOST_ACK)


def boot(machine, shot):
    """Runs the machine to its end, taking the screenshot when the application asks for it; returns the record."""
    record = RunRecord(shot=shot)
    try:
        start_and_take_picture(machine, shot)
        result = machine.wait_for_exit()
        record.ended = QemuEnd(result.elapsed_s, result.returncode, result.shutdown_reason)
    except MachineFailure as failure:
        record.failure = str(failure)
        machine.kill()
    record.serial_text = machine.serial_text()
    record.serial_times = {label: machine.serial_time(pattern) for label, pattern in TIMELINE}
    if machine.process is not None:
        record.port_writes = {port: machine.port_writes(port) for port in STANDIN_PORTS}
    if os.path.exists(shot):
        record.screen = read_ppm(shot)
    return record


def run_scenario(scenario, config, firmware_dirs, workdir, all_pictures):
    os.makedirs(workdir, exist_ok=True)
    esp, nvme, picture_files = prepare_disks(scenario, config, firmware_dirs, workdir, all_pictures)
    shot = os.path.join(workdir, "screen.ppm")
    code = firmware_code(config, firmware_dirs, scenario)
    with Machine(machine_config(scenario, config, code, esp, nvme), workdir) as machine:
        record = boot(machine, shot)
        elapsed = time.monotonic() - machine.started_at if machine.started_at else 0.0
    # Pictures other than the test pictures are checked through notice-sim's screen.
    own_pictures = bool(config.demo_pictures or (config.driver_in_firmware and firmware_dirs is None))
    expect = Expectations(
        driver_in_firmware=config.driver_in_firmware,
        pictures=None if own_pictures else all_pictures,
        own_pictures=own_pictures,
        simulator_given=bool(config.notice_sim),
    )
    simulator = None
    if record.port_writes is not None and config.notice_sim and scenario.driver_runs():
        width, height = record.screen[:2] if record.screen else DEFAULT_SCREEN
        simulator = run_simulator(
            scenario,
            config.notice_sim,
            workdir,
            width,
            height,
            picture_files,
            want_screen=record.screen is not None and scenario.check_screen,
        )
    report = check_run(scenario, record, expect, simulator)
    report.elapsed = elapsed
    report.app_lines = app_lines(record.serial_text)
    if config.show_serial:
        report.serial = record.serial_text
    return report


def print_report(report, workdir):
    s = report.scenario
    verdict = "PASS" if not report.problems else "FAIL"
    print("== %s: %s (%.1f s) - %s; expected notice %d" % (s.name, verdict, report.elapsed, s.about, s.mode))
    if report.problems:
        print(
            "   app: "
            + " ".join(
                "%s=%s" % (step, "-" if v is None else "0x%X" % v) for step, v in getattr(report, "app_lines", [])
            )
        )
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


# ---- the scenarios of one invocation ----------------------------------------


def prepare_firmware(config, scenarios):
    """Builds (or finds cached) the firmware variants the scenarios boot. Returns (ok, the variant folders or None
    when the runs boot config.code/config.secure_code)."""
    if not (config.driver_in_firmware and config.notice_pack):
        return True, None
    variants = {}
    for s in scenarios:
        if s.runs_in_firmware():
            names = variants.setdefault(s.firmware_variant(), [])
            name = make_images.SECURE_IMAGE if s.secure_boot else make_images.PLAIN_IMAGE
            if name not in names:
                names.append(name)
    started = time.monotonic()
    for path in (config.notice_pack, config.driver):
        if not os.path.isfile(path):
            print("run.py: %s not found (build it first)" % path, file=sys.stderr)
            return False, None
    firmware_dirs = make_images.ensure_variants(
        config.notice_pack, config.driver, config.firmware_cache, variants, config.demo_pictures
    )
    if firmware_dirs is None:
        print("run.py: building the firmware images failed", file=sys.stderr)
        return False, None
    print(
        "== firmware images %s ready in %.1f s (%s)"
        % (", ".join(sorted(variants)), time.monotonic() - started, config.firmware_cache)
    )
    return True, firmware_dirs


def skip_reason(scenario, config):
    if config.driver_in_firmware and not scenario.runs_in_firmware():
        return "needs the driver loaded from disk"
    if not config.driver_in_firmware and scenario.compressed_pictures:
        return "only a firmware image carries compressed sections"
    return None


def run_scenarios(config):
    """Runs the chosen scenarios; returns the exit status."""
    config = config.absolute()
    names = list(config.scenarios) or DEFAULT_SCENARIOS
    ok, firmware_dirs = prepare_firmware(config, [scenario_named(name) for name in names])
    if not ok:
        return 2
    disk_driver = None if config.driver_in_firmware else config.driver
    for path in filter(None, (disk_driver, config.app, config.code, config.secure_code, config.notice_sim)):
        if not os.path.isfile(path):
            print("run.py: %s not found (build the image first)" % path, file=sys.stderr)
            return 2
    root = config.workdir or tempfile.mkdtemp(prefix="notice-e2e-")
    all_pictures = pictures.make_pictures()

    failed = []
    ran = []
    started = time.monotonic()
    for name in names:
        scenario = scenario_named(name)
        reason = skip_reason(scenario, config)
        if reason:
            print("== %s: skipped (%s)" % (name, reason))
            continue
        workdir = os.path.join(root, name)
        if os.path.isdir(workdir):
            shutil.rmtree(workdir)
        ran.append(name)
        try:
            report = run_scenario(scenario, config, firmware_dirs, workdir, all_pictures)
        except (RuntimeError, OSError) as error:
            report = Report(scenario)
            report.elapsed = 0.0
            report.check(False, "could not prepare the run: %s" % error)
        print_report(report, workdir)
        if report.problems:
            failed.append(name)
    print(
        "== %d of %d scenarios passed in %.1f s%s"
        % (
            len(ran) - len(failed),
            len(ran),
            time.monotonic() - started,
            "; failed: " + ", ".join(failed) if failed else "",
        )
    )
    if not failed and not config.workdir:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


def parse_arguments(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument(
        "--build-dir",
        default=DEFAULT_BUILD_DIR,
        help="image build directory holding notice.efi and e2e/app/notice-e2e.efi "
        "(default: build/image in the repository)",
    )
    parser.add_argument("--driver", help="driver image (default: BUILD_DIR/notice.efi)")
    parser.add_argument("--app", help="test application (default: BUILD_DIR/e2e/app/notice-e2e.efi)")
    parser.add_argument(
        "--scenario",
        action="append",
        choices=SCENARIO_NAMES,
        help="scenario to run (repeatable; default: %s)" % ", ".join(DEFAULT_SCENARIOS),
    )
    parser.add_argument("--all", action="store_true", help="run every scenario")
    parser.add_argument("--list", action="store_true", help="list the scenarios and exit")
    parser.add_argument("--code", default=RunConfig.code, help="firmware code image for Secure Boot off")
    parser.add_argument("--secure-code", default=RunConfig.secure_code, help="firmware code image for Secure Boot on")
    parser.add_argument(
        "--driver-in-firmware",
        action="store_true",
        help="the firmware images carry the driver and pictures: boot only the application",
    )
    parser.add_argument(
        "--notice-pack",
        metavar="PATH",
        help="with --driver-in-firmware: build each scenario's firmware image with this notice-pack "
        "(cached in --firmware-cache) instead of booting --code/--secure-code",
    )
    parser.add_argument(
        "--firmware-cache",
        metavar="DIR",
        help="where built firmware images are kept, keyed by their inputs " "(default: BUILD_DIR/firmware-images)",
    )
    parser.add_argument("--notice-sim", metavar="PATH", help="also compare each screen with notice-sim's")
    parser.add_argument("--show-serial", action="store_true", help="print each run's serial output")
    parser.add_argument("--timeout", type=float, default=DEFAULT_TIMEOUT_S, help="hard limit per QEMU run in seconds")
    parser.add_argument("--workdir", help="where run files go (default: a fresh temporary directory)")
    return parser.parse_args(argv)


def config_from_arguments(args):
    return RunConfig(
        build_dir=args.build_dir,
        driver=args.driver,
        app=args.app,
        scenarios=tuple(SCENARIO_NAMES if args.all else (args.scenario or DEFAULT_SCENARIOS)),
        code=args.code,
        secure_code=args.secure_code,
        driver_in_firmware=args.driver_in_firmware,
        notice_pack=args.notice_pack,
        firmware_cache=args.firmware_cache,
        notice_sim=args.notice_sim,
        show_serial=args.show_serial,
        timeout=args.timeout,
        workdir=args.workdir,
    )


def main(argv=None):
    args = parse_arguments(argv)
    if args.list:
        for s in SCENARIOS:
            print("%-20s notice %d  %s" % (s.name, s.mode, s.about))
        return 0
    return run_scenarios(config_from_arguments(args))


if __name__ == "__main__":
    sys.exit(main())

"""The one way every case is run: prepare (the firmware image, the boot and
NVMe disks), boot (QEMU, the screenshot when the application asks), record
(serial, ports, screen), check against notice-sim on the machine the
firmware reported, report. run.py and make_run.py are its command lines;
the scenario report, the compatibility table and its JSON are written from
the same Reports.
"""

import concurrent.futures
import copy
import dataclasses
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "firmware"))
import make_images  # noqa: E402  (puts tools/notice-insert on the path)

import checks  # noqa: E402
import dxe_volume  # noqa: E402
import firmware_volume  # noqa: E402
import firmwares  # noqa: E402
import pictures  # noqa: E402
import qemu  # noqa: E402
from boot_disks import blank_disk, build_esp, sign, with_partition_table  # noqa: E402
from cases import CMOS_DATA, CMOS_INDEX, EC_COMMAND, EC_DATA, SECOND_DISPLAY_ID, UBOOT  # noqa: E402
from cases import expected_app_steps  # noqa: E402
from check_image import PICTURE_GUIDS  # noqa: E402
from simulator import run_simulator, simulator_arguments, volume_order  # noqa: E402

REPOSITORY = os.path.dirname(HERE)
DEFAULT_BUILD_DIR = os.path.join(REPOSITORY, "build", "image")  # the Makefile's image build (BUILD=build)
HOST_TOOLS = os.path.join(REPOSITORY, "build", "host-gcc", "tools")  # the Makefile's host build (BUILD=build)
DEFAULT_NOTICE_SIM = os.path.join(HOST_TOOLS, "notice-sim", "notice-sim")
DEFAULT_NOTICE_PACK = os.path.join(HOST_TOOLS, "notice-pack", "notice-pack")
DEFAULT_TIMEOUT_S = 180.0
HOST_ACK = b"A"
STANDIN_PORTS = (EC_DATA, EC_COMMAND, CMOS_INDEX, CMOS_DATA)
SHUTDOWN_GRACE_S = 10.0
INTERRUPT_LOG = "interrupts.log"
INVALID_OPCODE = re.compile(r" v=06 e=\w+ i=0 cpl=\d IP=\w+:([0-9a-f]+)")
CONTROL_REGISTERS = re.compile(r"CR0=([0-9a-f]+) CR2=[0-9a-f]+ CR3=[0-9a-f]+ CR4=([0-9a-f]+)")
README_BEGIN = "<!-- compatibility matrix: begin (written by e2e/run.py --update-readme) -->"
README_END = "<!-- compatibility matrix: end -->"
VERDICTS = {"pass": "PASS", "fail": "FAIL", "not run": "NOT RUN"}


@dataclasses.dataclass
class Settings:
    """What every case of one invocation shares."""

    build_dir: str = DEFAULT_BUILD_DIR  # holds notice.efi and e2e/app/notice-e2e.efi
    driver: str = None  # default: BUILD_DIR/notice.efi
    uboot_driver: str = None  # for the U-Boot cases other than the shipped driver's (default: driver)
    app: str = None  # default: BUILD_DIR/e2e/app/notice-e2e.efi
    notice_sim: str = DEFAULT_NOTICE_SIM
    notice_pack: str = DEFAULT_NOTICE_PACK  # builds the images of the cases with the driver inside the firmware
    firmware_cache: str = None  # where built images are kept (default: BUILD_DIR/firmware-images)
    firmware: firmwares.Firmware = None  # boots every case of its kind on it (None: each case's own)
    pictures_dir: str = None  # notice1.bmp ... notice6.bmp standing in for the test pictures
    workdir: str = None  # where run files go (default: a fresh temporary directory)
    timeout: float = DEFAULT_TIMEOUT_S  # hard limit per QEMU run in seconds
    jobs: int = 2  # QEMU instances at once
    show_serial: bool = False

    def absolute(self):
        """The same settings with every path absolute (QEMU runs in each case's folder) and the
        defaults filled in."""
        fields = ("build_dir", "driver", "uboot_driver", "app", "notice_sim", "notice_pack", "firmware_cache")
        paths = {f: os.path.abspath(getattr(self, f)) for f in fields + ("pictures_dir", "workdir") if getattr(self, f)}
        s = dataclasses.replace(self, **paths)
        driver = s.driver or os.path.join(s.build_dir, "notice.efi")
        return dataclasses.replace(
            s,
            driver=driver,
            uboot_driver=s.uboot_driver or driver,
            app=s.app or os.path.join(s.build_dir, "e2e", "app", "notice-e2e.efi"),
            firmware_cache=s.firmware_cache or os.path.join(s.build_dir, "firmware-images"),
        )

    def firmware_of(self, case):
        if self.firmware and self.firmware.kind == firmwares.by_name(case.firmware).kind:
            return self.firmware
        return firmwares.by_name(case.firmware)

    def given_pictures(self, case):
        """Whether the case's pictures are other than the ones its table names (the user's, or those a
        given firmware image carries)."""
        return bool(self.pictures_dir) or (case.in_firmware() and self.firmware_of(case).given)


@dataclasses.dataclass
class Prepared:
    """A case's firmware image and picture volumes, ready before any case boots."""

    code: str  # the code image to boot
    volumes: list  # the firmware's own volumes in handle order, each mode -> host file
    reason: str = None  # why the case cannot run as it is (a U-Boot driver holding SSE, say)
    pending: bool = False  # its firmware image is still to be built (or found in the cache)


# ---- preparing ----------------------------------------------------------------


def objdump(image, option):
    tool = shutil.which("llvm-objdump") or shutil.which("llvm-objdump-14")
    if not tool:
        raise RuntimeError("llvm-objdump not found: install llvm")
    return subprocess.run([tool, option, image], stdout=subprocess.PIPE, check=True).stdout.decode()


def sse_instructions(image):
    """Instructions of a PE image that use an XMM or YMM register (llvm-objdump -d)."""
    return [line.strip() for line in objdump(image, "-d").splitlines() if checks.SSE_REGISTER.search(line)]


def instruction_at(image, rva):
    """The disassembled instruction at an offset from the image's base, or None."""
    base = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", objdump(image, "-p"), re.M)
    if not base:
        return None
    address = "%x:" % (int(base.group(1), 16) + rva)
    return next((line.strip() for line in objdump(image, "-d").splitlines() if line.strip().startswith(address)), None)


MAX_CODE_IMAGE_BYTES = 64 << 20  # far above any flash image (OVMF's code images are 4 MiB at most)


def read_code_image(code, label=None):
    """(DXE volume, its files) of a code image a user gives; RuntimeError saying what was found, the image
    named by `label` (default its path). Reads no more than a flash image can hold."""
    label = label or code
    size = os.path.getsize(code)
    if size > MAX_CODE_IMAGE_BYTES:
        raise RuntimeError(
            "%s is %s bytes, more than the %s a firmware code image can be; give the code image "
            "notice-insert wrote" % (label, "{:,}".format(size), "{:,}".format(MAX_CODE_IMAGE_BYTES))
        )
    with open(code, "rb") as f:
        image = bytearray(f.read(MAX_CODE_IMAGE_BYTES + 1))
    try:
        dxe = dxe_volume.find_dxe_volume(image)
        files, _ = firmware_volume.read_files(dxe.buffer, dxe.volume)
    except firmware_volume.FirmwareFormatError as error:
        raise RuntimeError("%s cannot be read: %s" % (label, error)) from None
    return dxe, files


def pictures_in_image(code, out):
    """Copies the picture files of a firmware image given by the user out of its DXE volume; mode -> file."""
    dxe, files = read_code_image(code)
    by_name = {str(f.name).upper(): f for f in files}
    found = {}
    for mode, guid in PICTURE_GUIDS.items():
        sections = firmware_volume.file_sections(dxe.buffer, by_name[guid]) if guid in by_name else []
        raw = [s for s in sections if s.type == firmware_volume.SECTION_RAW]
        if raw:
            found[mode] = dxe.buffer[raw[0].body_offset : raw[0].end]
    return pictures.write_bmps(out, found)


def prepare_case(case, settings, sse, build=True):
    """The code image a case boots and the picture files of the firmware's own volumes; refuses a case
    whose firmware is not there before anything boots. Without `build`, a case whose firmware image
    carries the driver is only checked: its Prepared has no code image yet (`pending`)."""
    firmware = settings.firmware_of(case)
    missing = firmware.missing(case.secure_boot)
    if missing:
        raise firmwares.FirmwareError("%s: %s" % (case.name, missing))
    firmware.variables(case.secure_boot)  # a code image no variable store fits is refused here
    if firmware.kind == UBOOT and not case.shipped_driver and sse.get(settings.uboot_driver):
        found = sse[settings.uboot_driver]
        return Prepared(
            firmware.code,
            [],
            "%s holds %d SSE instructions (first: %s) and U-Boot leaves CR4.OSFXSR clear, so StartImage would "
            "die on an invalid-opcode exception; give --uboot-driver an image built with general-purpose "
            "registers only" % (settings.uboot_driver, len(found), found[0]),
        )
    if not case.in_firmware():
        return Prepared(firmware.code_image(case.secure_boot), [])
    if firmware.given:
        code = firmware.code_image(case.secure_boot)
        out = os.path.join(settings.firmware_cache, "given", "secure" if case.secure_boot else "plain")
        return Prepared(code, [pictures_in_image(code, out)])
    if not (settings.notice_pack and os.path.isfile(settings.notice_pack)):
        raise RuntimeError(
            "%s not found: %s boots a firmware image with the driver inside" % (settings.notice_pack, case.name)
        )
    if not build:
        return Prepared(None, [], pending=True)
    firmware_volumes = case.volumes(settings.pictures_dir)[0]
    own, inner = firmware_volumes[0][1], (firmware_volumes[1:] or [(None, {})])[0][1]
    folder = make_images.ensure_image(
        settings.notice_pack,
        settings.driver,
        firmware.code_image(case.secure_boot),
        {m: p.bmp for m, p in own.items()},
        os.path.join(settings.firmware_cache, firmware.name),
        pictures.pack_options(case.variant),
        {m: p.bmp for m, p in inner.items()},
    )
    files = [{m: os.path.join(folder, "pictures", "notice%d.bmp" % m) for m in own}]
    if inner:
        files.append({m: os.path.join(folder, "inner", "notice%d.bmp" % m) for m in inner})
    return Prepared(os.path.join(folder, make_images.CACHED_IMAGE), files)


def prepare_all(cases, settings):
    """Checks that every case can run before any boots: {case label: Prepared}. The firmware images
    with the driver inside are built later, each by the first case that boots it, while the other
    lane boots a case that needs none."""
    uboot = any(settings.firmware_of(c).kind == UBOOT for c in cases)
    sse = {path: sse_instructions(path) for path in {settings.driver, settings.uboot_driver}} if uboot else {}
    prepared = {case_label(c, settings): prepare_case(c, settings, sse, False) for c in cases if not c.skip_reason()}
    return prepared, sse


def lane_order(cases, settings):
    """The order the lanes take the cases in: U-Boot's (the slowest) first, then the ones whose firmware
    image is built alternating with ones that need none, so one lane builds while the other boots."""
    uboot = [c for c in cases if settings.firmware_of(c).kind == UBOOT]
    rest = [c for c in cases if settings.firmware_of(c).kind != UBOOT]
    built, plain = [c for c in rest if c.in_firmware()], [c for c in rest if not c.in_firmware()]
    mixed = [c for pair in zip(built, plain) for c in pair]
    shorter = min(len(built), len(plain))
    return uboot + mixed + built[shorter:] + plain[shorter:]


def prepare_disks(case, settings, firmware, workdir, app_volume):
    """The boot disk (application, driver, pictures, trigger count; signed for Secure Boot) and a blank
    disk for each added storage controller; returns the boot disk, {controller name: disk} and the host
    files of the pictures on the boot disk."""
    app, driver = settings.app, None
    if not case.in_firmware():
        driver = settings.uboot_driver if firmware.kind == UBOOT and not case.shipped_driver else settings.driver
    if case.secure_boot:
        app = sign(app, workdir, firmware)
        driver = sign(driver, workdir, firmware) if driver and case.sign_driver else driver
    files = pictures.write_bmps(os.path.join(workdir, "boot-disk"), app_volume, "PICTURE%d.BMP")
    boot_files = {os.path.basename(path): path for path in files.values()}
    if case.triggers != 1:
        boot_files["TRIGGERS"] = os.path.join(workdir, "TRIGGERS")
        with open(boot_files["TRIGGERS"], "w") as f:
            f.write("%d" % case.triggers)
    esp = build_esp(workdir, app, driver, boot_files)
    if firmware.kind == UBOOT:
        esp = with_partition_table(esp, os.path.join(workdir, "disk.img"))
    disks = {c.name: blank_disk(os.path.join(workdir, c.name + ".img")) for c in case.controllers()}
    return esp, disks, files


def machine_config(case, firmware, settings, code, esp, disks, log_interrupts=False):
    # The shipped driver's cell logs every exception (about 16 MB) while the driver holds SSE
    # instructions: an invalid opcode shows where it happened and with which CR4.
    return qemu.MachineConfig(
        firmware=firmware.kind,
        code=code,
        vars_template=firmware.variables(case.secure_boot),
        secure_boot=case.secure_boot,
        machine=case.machine_type(),
        esp_image=esp,
        esp_interface=case.boot_disk(),
        esp_bootindex=0 if case.boot_disk_only and firmware.boot_index else None,
        controllers=[arg for c in case.controllers() for arg in c.qemu_args(disks[c.name])],
        port_standins=case.port_answers(),
        display=case.display_args(),
        memory_mb=firmware.memory_mb,
        timeout_s=settings.timeout,
        extra_args=["-d", "int", "-D", INTERRUPT_LOG] if log_interrupts else [],
    )


# ---- booting and recording ----------------------------------------------------


def end_without_power_off(machine, record):
    """U-Boot's shutdown neither powers off nor returns: once the application asked, QEMU is ended."""
    machine.wait_for_serial(rb"E2E ResetSystem")
    try:
        machine.wait_for_exit(SHUTDOWN_GRACE_S)
    except qemu.MachineFailure:
        record.notes.append(
            "ResetSystem(EfiResetShutdown) neither powered off nor returned within %.0f s: QEMU ended by QMP quit"
            % SHUTDOWN_GRACE_S
        )
        try:
            machine.qmp("quit")
        except qemu.MachineFailure:
            pass  # QEMU may close the socket before it answers


def boot(machine, shot, firmware, take_picture=True, second_display=None):
    """Runs the machine to its end, taking the screenshot (and one of the second display, QEMU's device
    of that id, when there is one) when the application asks for it; returns the record."""
    record = checks.RunRecord(shot=shot)
    second_shot = os.path.splitext(shot)[0] + "-" + second_display + ".ppm" if second_display else None
    try:
        machine.start()
        if take_picture:
            machine.wait_for_serial(rb"E2E (TakePicture|ResetSystem)")
            if re.search(r"^E2E TakePicture$", machine.serial_text(), re.M):
                machine.screendump(shot)
                if second_shot:
                    machine.screendump(second_shot, device=second_display)
                machine.send_serial(HOST_ACK)
            if firmware.ending == "host-qmp-quit":
                end_without_power_off(machine, record)
        result = machine.wait_for_exit()
        record.ended = checks.QemuEnd(result.elapsed_s, result.returncode, result.shutdown_reason)
    except qemu.MachineFailure as failure:
        record.failure = str(failure)
        machine.kill()
    record.serial_text = machine.serial_text()
    record.serial_times = {label: machine.serial_time(pattern) for label, pattern in checks.TIMELINE}
    if machine.process is not None:
        record.port_writes = {port: machine.port_writes(port) for port in STANDIN_PORTS}
    if os.path.exists(shot):
        record.screen = qemu.read_ppm(shot)
    if second_shot and os.path.exists(second_shot):
        record.second_screen = qemu.read_ppm(second_shot)
    return record


def last_invalid_opcode(log_path):
    """(RIP, CR4) of the last invalid-opcode exception in a QEMU `-d int` log, or None."""
    found, rip = None, None
    with open(log_path, errors="replace") as f:
        for line in f:
            match = INVALID_OPCODE.search(line)
            if match:
                rip = int(match.group(1), 16)
                continue
            registers = CONTROL_REGISTERS.search(line) if rip is not None else None
            if registers:
                found, rip = (rip, int(registers.group(2), 16)), None
    return found


def record_fault(record, workdir, driver):
    """Adds where the driver died, from the interrupt log and the image base the application reported."""
    fault = last_invalid_opcode(os.path.join(workdir, INTERRUPT_LOG))
    base = checks.platform_facts(checks.app_lines(record.serial_text)).get("DriverImageBase")
    if fault is not None and base is not None:
        record.fault = (fault[0] - base, fault[1], instruction_at(driver, fault[0] - base) or "outside the image")


# ---- one case -------------------------------------------------------------------


def screen_candidates(firmware_volumes, app_volume):
    """(label, picture) for every picture the machine could show, named by volume where several hold some."""
    holding = [(label, v) for label, v in [app_volume] + firmware_volumes if v]
    return [
        ("notice %d%s" % (mode, " (%s)" % label if len(holding) > 1 else ""), picture)
        for label, volume in holding
        for mode, picture in sorted(volume.items())
    ]


def screen_oracle(case, settings):
    """The test picture the whole screen must show (None: a black screen), or False when the case's
    screen is told by notice-sim alone (other pictures, several volumes, console text)."""
    if settings.given_pictures(case) or case.pictures != "test" or case.console:
        return False
    if case.second_volume != "none" or case.inner_volume != "none" or not case.drawn:
        return False
    return pictures.make_picture(case.notice) if case.notice else None


def run_case(case, settings, prepared, sse, workdir):
    """Runs one case and returns its Report (its notice-sim record in .sim)."""
    started = time.monotonic()
    firmware = settings.firmware_of(case)
    firmware_pictures, app_pictures = case.volumes(settings.pictures_dir)
    if prepared.reason:
        report = checks.Report(case)
        report.status = "not run"
        report.note("not run: " + prepared.reason)
        return report
    os.makedirs(workdir, exist_ok=True)
    sim = None
    try:
        esp, disks, disk_files = prepare_disks(case, settings, firmware, workdir, app_pictures[1])
        steps = expected_app_steps(case, disk_files)
        dies = firmware.kind == UBOOT and case.shipped_driver and sse.get(settings.driver)
        config = machine_config(case, firmware, settings, prepared.code, esp, disks, log_interrupts=bool(dies))
        with qemu.Machine(config, workdir) as machine:
            second = SECOND_DISPLAY_ID if case.second_display else None
            record = boot(machine, os.path.join(workdir, "screen.ppm"), firmware, not dies, second)
        if dies:
            record_fault(record, workdir, settings.driver)
            report = checks.check_sse_death(case, record, steps)
        else:
            facts = checks.platform_facts(checks.app_lines(record.serial_text))
            if record.port_writes is not None and case.driver_runs():
                volumes = volume_order(prepared.volumes, disk_files, facts)
                want_screen = bool(facts.get("GopModes", 0)) and record.screen is not None
                args = simulator_arguments(case, facts, volumes)
                sim = run_simulator(settings.notice_sim, os.path.join(workdir, "notice-sim"), args, want_screen)
            expect = checks.Expected(
                firmware.ending,
                steps,
                screen_candidates(firmware_pictures, app_pictures),
                screen_oracle(case, settings),
            )
            report = checks.check_run(case, record, expect, sim, firmware.boot_index)
        if settings.show_serial:
            serial = [line for line in record.serial_text.splitlines() if line.strip()]
            report.notes += ["---- serial output ----"] + ["| " + line for line in serial]
    except (RuntimeError, OSError, ValueError, firmwares.FirmwareError, subprocess.SubprocessError) as error:
        report = checks.Report(case)
        report.check(False, "could not prepare the run: %s" % error)
    report.sim = sim
    report.firmware = firmware.name
    report.code_image = prepared.code
    report.elapsed = time.monotonic() - started
    if report.problems:
        report.status = "fail"
    return report


def print_report(report, workdir):
    case = report.case
    print(
        "== %s: %s (%.1f s) - %s; expected notice %d"
        % (report.label or case.name, VERDICTS[report.status], report.elapsed, case.about, case.notice)
    )
    if report.problems and report.app_lines:
        print("   app: " + " ".join("%s=%s" % (s, "-" if v is None else "0x%X" % v) for s, v in report.app_lines))
    for line in ["   " + note for note in report.notes] + ["   FAIL: " + p for p in report.problems]:
        print(line)
    if report.problems:
        print("   files: %s (serial.log, screen.ppm, port*.log, qemu-command.txt, notice-sim/)" % workdir)
    sys.stdout.flush()


def case_label(case, settings):
    """The case's name with what tells it apart from the same case on another firmware or, for a
    scenario, with its driver elsewhere: "plain [driver in firmware, ovmf-2025.02]"."""
    firmware = settings.firmware_of(case).name
    parts = ["driver in firmware"] if case.in_firmware() and not case.matrix else []
    parts += [firmware] if firmware != firmwares.DEFAULT else []
    return case.name + (" [%s]" % ", ".join(parts) if parts else "")


def case_folder(root, label):
    """A case's run folder: its label in characters every shell takes as they are."""
    return os.path.join(root, re.sub(r"[^A-Za-z0-9.+-]+", "-", label).strip("-"))


def run_key(case, settings):
    """What a run is made of: two cases of one key boot the same machine on the same firmware and are
    checked alike; only their names and words differ (and how QEMU is asked for the standard VGA:
    -vga std and -device VGA make the same device)."""
    display = "std-vga" if case.display == "std" else case.display
    plain = dataclasses.replace(case, name="", about="", why="", matrix=False, placements=(), display=display)
    return plain, settings.firmware_of(case).name


def shared_runs(cases, settings):
    """{label of a case that need not boot: label of the earlier case whose run it is}."""
    first, shared = {}, {}
    for case in cases:
        key = run_key(case, settings)
        if key in first:
            shared[case_label(case, settings)] = first[key]
        else:
            first[key] = case_label(case, settings)
    return shared


def distinct(cases, settings):
    """The cases, each once: two that boot the same firmware with the same driver are one run."""
    seen, kept = set(), []
    for case in cases:
        label = case_label(case, settings)
        if label not in seen:
            seen.add(label)
            kept.append(case)
    return kept


def run_cases(cases, settings):
    """Runs the cases, `settings.jobs` at a time (U-Boot's, the slowest, first, so the lanes end
    together), printing each report as it ends; returns (reports in case order, run root)."""
    settings = settings.absolute()
    cases = distinct(cases, settings)
    for path in (settings.app, settings.notice_sim):
        if not os.path.isfile(path):
            raise RuntimeError("%s not found (build it first: make host-tools image)" % path)
    if any(not c.in_firmware() for c in cases) and not os.path.isfile(settings.driver):
        raise RuntimeError("%s not found (build it first: make image)" % settings.driver)
    prepared, sse = prepare_all(cases, settings)
    root = settings.workdir or tempfile.mkdtemp(prefix="notice-e2e-")
    printing, building = threading.Lock(), threading.Lock()
    image_time = [0.0]

    def built(case, label):
        """The case's Prepared, its firmware image built (one build at a time: two cases may share one)."""
        if not prepared[label].pending:
            return prepared[label]
        with building:
            started = time.monotonic()
            prepared[label] = prepare_case(case, settings, sse)
            image_time[0] += time.monotonic() - started
        return prepared[label]

    def one(case):
        label = case_label(case, settings)
        workdir = case_folder(root, label)
        shutil.rmtree(workdir, ignore_errors=True)
        try:
            ready = built(case, label)
        except make_images.InsertRefused:
            raise  # the files given do not fit the firmware: the caller says so, nothing more boots
        except (RuntimeError, OSError, ValueError, firmwares.FirmwareError, subprocess.SubprocessError) as error:
            report = checks.Report(case)
            report.status, report.firmware = "fail", settings.firmware_of(case).name
            report.check(False, "could not build its firmware image: %s" % error)
        else:
            report = run_case(case, settings, ready, sse, workdir)
        report.label, report.workdir = label, workdir
        with printing:
            print_report(report, workdir)
        return report

    runnable = [c for c in cases if not c.skip_reason()]
    for case in cases:
        if case.skip_reason():
            print("== %s: skipped (%s)" % (case_label(case, settings), case.skip_reason()))
    shared = shared_runs(runnable, settings)
    order = lane_order([c for c in runnable if case_label(c, settings) not in shared], settings)
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, settings.jobs)) as pool:
        try:
            reports = dict(zip((case_label(c, settings) for c in order), pool.map(one, order)))
        except make_images.InsertRefused:
            pool.shutdown(cancel_futures=True)
            raise
    for case in runnable:
        label = case_label(case, settings)
        if label in shared:
            reports[label] = copy.copy(reports[shared[label]])
            reports[label].case, reports[label].label, reports[label].same_run_as = case, label, shared[label]
            reports[label].notes = ["the same run as %s" % shared[label]] + reports[label].notes
            print_report(reports[label], reports[label].workdir)
    if any(c.in_firmware() for c in runnable):
        print(
            "== firmware images built or found in %.1f s beside the runs (%s)"
            % (image_time[0], settings.firmware_cache)
        )
    return [reports[case_label(c, settings)] for c in runnable], root


# ---- what the runs add up to -----------------------------------------------------


def resolution_label(case):
    return "%dx%d" % case.resolution if case.resolution else "default"


def result_record(report):
    case = report.case
    return {
        "case": case.name,
        "about": case.about,
        "firmware": report.firmware,
        "driver": case.driver,
        "matrix": case.matrix,
        "display": case.display + ("+" + case.second_display if case.second_display else ""),
        "resolution": report.screen if report.screen != "-" else resolution_label(case),
        "storage": case.storage,
        "pictures": case.pictures_label(),
        "triggers": case.triggers,
        "notice_sim": report.sim_notices,
        "seen": report.seen,
        "equals_notice_sim": report.status == "pass" if report.compared else None,
        "status": report.status,
        "wall_time_s": round(report.elapsed, 1),
        "same_run_as": report.same_run_as,
        "why": case.why,
        "firmware_offers": report.facts,
        "problems": report.problems,
    }


TABLE_HEADS = ("Case", "Firmware", "Display", "Resolution", "Storage", "Pictures", "notice-sim", "Seen on screen")
TABLE_HEADS += ("= notice-sim", "Wall time")


def markdown_table(records):
    lines = ["| " + " | ".join(TABLE_HEADS) + " |", "|" + "---|" * len(TABLE_HEADS)]
    for r in records:
        verdict = {"pass": "yes", "fail": "**no**", "not run": "not run"}[r["status"]]
        if r["equals_notice_sim"] is None and r["status"] == "pass":
            verdict = "n/a: died as expected"
        triggers = " (x%d triggers)" % r["triggers"] if r["triggers"] != 1 else ""
        cells = [r[k] for k in ("case", "firmware", "display", "resolution", "storage")] + [r["pictures"] + triggers]
        wall_time = "%.0f s" % r["wall_time_s"] + (", %s's run" % r["same_run_as"] if r.get("same_run_as") else "")
        cells += [", ".join(str(m) for m in r["notice_sim"]) or "-", r["seen"], verdict, wall_time]
        lines.append("| " + " | ".join(cells) + " |")
    reasons = {}
    for r in records:
        if r["why"]:
            reasons.setdefault(r["why"], []).append(r["case"])
    for reason, names in reasons.items():
        lines += ["", "%s: %s." % (", ".join(names), reason)]
    return "\n".join(lines) + "\n"


def write_file(path, data):
    """Writes `data` (text or bytes) beside the target, syncs, then renames over it: a failure leaves
    the file as it was."""
    partial = path + ".partial"
    with open(partial, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(partial, path)


def update_readme(path, table):
    with open(path) as f:
        text = f.read()
    if README_BEGIN not in text or README_END not in text:
        raise RuntimeError("%s has no matrix section (%s ... %s)" % (path, README_BEGIN, README_END))
    head, rest = text.split(README_BEGIN, 1)
    _, tail = rest.split(README_END, 1)
    write_file(path, head + README_BEGIN + "\n" + table + README_END + tail)


def write_results(records, rows, wall_time_s, json_path=None, table_path=None, readme=None):
    """Writes every record as JSON and the rows as the table; returns the table."""
    table = markdown_table(rows)
    if json_path:
        write_file(json_path, json.dumps({"cases": records, "wall_time_s": round(wall_time_s, 1)}, indent=1))
    if table_path:
        write_file(table_path, table)
    if readme:
        update_readme(readme, table)
    return table

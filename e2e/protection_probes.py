#!/usr/bin/env python3
"""What each firmware's memory protection enforces, shown by probes that each
break one rule (e2e/probes/): a write into the probe's own code, a call into
its data, read-only data, stack or a data pool, and the image shapes our own
image checks refuse (no NX_COMPAT flag, a writable and executable section,
sections not on page boundaries). Each probe runs loaded from disk (by the
probe loader, through the file's device path) and dispatched from the
firmware volume (packed by notice-pack, put in by notice-insert), on each
firmware; notice.efi runs the same two ways as the control.

A case passes when the probe did what the table below says that firmware
makes it do: run to its end ("runs"), fault at the very address it broke the
rule on, with the page-fault error code of that kind of access ("faults", seen
in QEMU's exception log and the firmware's exception dump on COM1), or not
load at all ("refused": LoadImage's error, or not dispatched). The page tables
the probe read just before must agree with what happened, GetMemoryAttributes
(where the firmware has the protocol) with the page tables, and the protocol
must be there exactly where the firmware's entry below says.

    protection_probes.py --build-dir build/image --notice-pack build/host-gcc/tools/notice-pack/notice-pack
        [--case PATTERN ...] [--lean] [--list] [--jobs N] [--newer-ovmf DIR] [--workdir DIR]
        [--table FILE] [--json FILE]

--lean runs each probe only where its finding shows (make e2e runs that).

Exit status: 0 when every case showed what it must, 1 otherwise, 2 on bad usage.
"""

import argparse
import concurrent.futures
import contextlib
import dataclasses
import fnmatch
import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "firmware"))
import make_images  # noqa: E402

sys.path.insert(0, make_images.INSERT_DIR)
import firmware_volume  # noqa: E402
import notice_insert  # noqa: E402
import firmwares  # noqa: E402
from boot_disks import fat_volume, sign  # noqa: E402
from qemu import Machine, MachineConfig, MachineFailure  # noqa: E402

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAX_MACHINES = 2  # what two shared cores sustain
CASE_TIMEOUT_S = 60.0  # a probe boots and ends in a few seconds
EXIT_GRACE_S = 10.0  # from the verdict to QEMU's own end
DUMP_GRACE_S = 2.0  # from the firmware's exception banner to the end of its dump
PROBE_SELECT_PORT = 0x440  # e2e/probes/probe_select.h
# The probes' FFS file names are made from their names in this namespace.
PROBE_FILE_NAMESPACE = uuid.UUID("4E6F7469-6365-5072-6F62-655370616365")

# ---- what runs where --------------------------------------------------------

RUNS, FAULTS, REFUSED, UNCLEAR = "runs", "faults", "refused", "unclear"
WRITE, EXECUTE, NOTHING = "write", "execute", "nothing"
DISK, VOLUME = "disk", "volume"
MODES = (DISK, VOLUME)


@dataclasses.dataclass(frozen=True)
class Firmware:
    name: str
    build: str  # the firmware build (e2e/firmwares.py) whose code image, variables and key it boots with
    secure_boot: bool
    # Whether the memory attribute protocol is there while the DXE core dispatches drivers, and still there
    # when the boot manager starts a boot option.
    attributes_in_dxe: bool
    attributes_at_boot: bool

    @property
    def source(self):
        return firmwares.by_name(self.build)

    @property
    def code(self):
        return self.source.code_image(self.secure_boot)

    def variables(self):
        return self.source.variables(self.secure_boot)


FIRMWARES = (
    Firmware("ovmf-2022.11", "ovmf-2022.11", False, False, False),
    Firmware("ovmf-2025.02", "ovmf-2025.02", False, True, False),
    Firmware("ovmf-2025.02-secboot", "ovmf-2025.02", True, True, False),
    Firmware("ovmf-2025.02-strictnx", "ovmf-2025.02-strictnx", True, True, True),
)


@dataclasses.dataclass(frozen=True)
class Probe:
    name: str
    number: int  # it acts when the selector port answers this (e2e/probes/CMakeLists.txt gives each the same)
    breaks: str  # WRITE into code, EXECUTE from data, or NOTHING (notice.efi itself)
    rule: str  # what it does, for the table

    @property
    def image(self):
        """The image, below the image build folder."""
        return "notice.efi" if self.breaks == NOTHING else "e2e/probes/probe-%s.efi" % self.name


PROBES = (
    Probe("write-code", 1, WRITE, "writes into its own `.text`"),
    Probe("write-rdata", 2, WRITE, "writes into its own `.rdata`"),
    Probe("execute-data", 3, EXECUTE, "calls into its own `.data`"),
    Probe("execute-rdata", 4, EXECUTE, "calls into its own `.rdata`"),
    Probe("execute-stack", 5, EXECUTE, "calls into its stack"),
    Probe("execute-pool-bs-data", 6, EXECUTE, "calls into `EfiBootServicesData` pool"),
    Probe("execute-pool-loader-data", 7, EXECUTE, "calls into `EfiLoaderData` pool"),
    Probe("write-code-no-nx-compat", 8, WRITE, "without `NX_COMPAT`, writes into its `.text`"),
    Probe("execute-data-no-nx-compat", 9, EXECUTE, "without `NX_COMPAT`, calls into its `.data`"),
    Probe("execute-data-wx", 10, EXECUTE, "`.data` writable and executable, calls into it"),
    Probe("write-code-wx", 11, WRITE, "`.text` writable and executable, writes into it"),
    Probe("write-code-unaligned", 12, WRITE, "sections 512-byte aligned, writes into its `.text`"),
    Probe("notice", 0, NOTHING, "`notice.efi` loads and starts"),
)
PROBE_NAMES = tuple(p.name for p in PROBES)
FIRMWARE_NAMES = tuple(f.name for f in FIRMWARES)

# What each probe must do on each firmware: (loaded from disk, dispatched from the firmware volume). Every
# build protects an image dispatched from its firmware volume, when its sections are page-aligned: code
# read-only, every other section not executable, with or without NX_COMPAT. Nothing else is protected: not
# images loaded from disk, not the stack, not data pools.
FAULTS_IN_VOLUME = {f.name: (RUNS, FAULTS) for f in FIRMWARES}
RUNS_EVERYWHERE = {f.name: (RUNS, RUNS) for f in FIRMWARES}
EXPECTED = {
    "write-code": FAULTS_IN_VOLUME,
    "write-rdata": RUNS_EVERYWHERE,
    "execute-data": FAULTS_IN_VOLUME,
    "execute-rdata": FAULTS_IN_VOLUME,
    "execute-stack": RUNS_EVERYWHERE,
    "execute-pool-bs-data": RUNS_EVERYWHERE,
    "execute-pool-loader-data": RUNS_EVERYWHERE,
    "write-code-no-nx-compat": FAULTS_IN_VOLUME,
    "execute-data-no-nx-compat": FAULTS_IN_VOLUME,
    "execute-data-wx": FAULTS_IN_VOLUME,
    # 2022.11 leaves an image whose code section is also writable unprotected; 2025.02 maps that code read-only.
    "write-code-wx": {**FAULTS_IN_VOLUME, "ovmf-2022.11": (RUNS, RUNS)},
    "write-code-unaligned": RUNS_EVERYWHERE,
    "notice": RUNS_EVERYWHERE,
}


@dataclasses.dataclass(frozen=True)
class Case:
    probe: Probe
    firmware: Firmware
    mode: str

    @property
    def name(self):
        return "%s:%s:%s" % (self.probe.name, self.firmware.name, self.mode)

    @property
    def expected(self):
        return EXPECTED[self.probe.name][self.firmware.name][MODES.index(self.mode)]


def all_cases():
    return [Case(p, f, m) for p in PROBES for f in FIRMWARES for m in MODES]


# ---- reading a run (pure) ---------------------------------------------------

REPORT_LINE = re.compile(r"^E2E (\S+)(?: 0x([0-9A-F]+))?$", re.M)
# QEMU's -d int record of an exception or interrupt: vector, error code, software flag, where, and CR2 for a page fault.
INTERRUPT_LINE = re.compile(
    r"^\s*\d+: v=([0-9a-f]{2}) e=([0-9a-f]{4}) i=(\d) cpl=\d IP=[0-9a-f]+:([0-9a-f]+) .*?(?:CR2=([0-9a-f]+))?$", re.M
)
# The first line of the firmware's exception dump on COM1.
FIRMWARE_BANNER = re.compile(r"^!!!! X64 Exception Type - .*$", re.M)
PAGE_FAULT = 0x0E
FIRST_INTERRUPT_VECTOR = 0x20  # below it: processor exceptions
# Page-fault error code bits.
PF_PRESENT, PF_WRITE, PF_FETCH = 0x01, 0x02, 0x10
# UEFI memory attribute bits, as the probes report pages.
EFI_MEMORY_RP, EFI_MEMORY_XP, EFI_MEMORY_RO = 0x2000, 0x4000, 0x20000
CR0_WP = 1 << 16
EFER_NXE = 1 << 11
NOT_FOUND = 0x800000000000000E


@dataclasses.dataclass(frozen=True)
class CpuException:
    vector: int
    error_code: int
    rip: int
    cr2: int  # None unless a page fault


@dataclasses.dataclass
class Observation:
    outcome: str
    detail: str
    loader: dict  # the loader's reports: step -> value (None for a step without one)
    probe: dict  # the probe's own reports, from "ProbeBegin" on


def split_reports(serial_text):
    """The loader's reports and the probe's (from its "ProbeBegin" on), each as step -> value."""
    loader, probe = {}, {}
    current = loader
    for step, value in REPORT_LINE.findall(serial_text):
        if step == "ProbeBegin":
            current = probe
        current[step] = int(value, 16) if value else None
    return loader, probe


def cpu_exceptions(qemu_log):
    """The processor exceptions in QEMU's -d int log, in order (hardware and software interrupts left out)."""
    found = []
    for vector, error_code, software, rip, cr2 in INTERRUPT_LINE.findall(qemu_log):
        if int(vector, 16) >= FIRST_INTERRUPT_VECTOR or software != "0":
            continue
        found.append(CpuException(int(vector, 16), int(error_code, 16), int(rip, 16), int(cr2, 16) if cr2 else None))
    return found


def page_text(bits):
    """Page attribute bits as r/w/x ("r-x" read-only code, "rw-" data, "---" not mapped)."""
    if bits is None:
        return "?"
    if bits & EFI_MEMORY_RP:
        return "---"
    return "r" + ("-" if bits & EFI_MEMORY_RO else "w") + ("-" if bits & EFI_MEMORY_XP else "x")


def sections_text(reports, who):
    """ "text r-x, rdata r--, data rw-": the first page of each section of the image the reports name `who`."""
    suffix = ".Pages"
    parts = []
    for step, value in reports.items():
        if step.startswith(who + ".") and step.endswith(suffix):
            parts.append("%s %s" % (step[len(who) + 1 : -len(suffix)], page_text(value)))
    return ", ".join(parts)


def fault_kind(breaks, error_code):
    """Whether a page fault's error code is that of the probe's access on a mapped page."""
    if not error_code & PF_PRESENT:
        return False
    if breaks == WRITE:
        return bool(error_code & PF_WRITE) and not error_code & PF_FETCH
    return bool(error_code & PF_FETCH)


def describe_exception(exception):
    if exception.vector != PAGE_FAULT:
        return "exception 0x%02X at RIP 0x%X" % (exception.vector, exception.rip)
    access = "fetch" if exception.error_code & PF_FETCH else ("write" if exception.error_code & PF_WRITE else "read")
    return "page fault (%s, error code 0x%X) at 0x%X, RIP 0x%X" % (
        access,
        exception.error_code,
        exception.cr2,
        exception.rip,
    )


def observe_driver(mode, loader, exceptions):
    """notice.efi: loaded and started from disk, or found dispatched from the firmware volume."""
    if exceptions:
        return UNCLEAR, describe_exception(exceptions[-1])
    if mode == DISK:
        load, start = loader.get("LoadImage"), loader.get("StartImage")
        if load is not None and load != 0:
            return REFUSED, "LoadImage 0x%X" % load
        if load == 0 and start == 0:
            return RUNS, "LoadImage and StartImage 0x0; " + sections_text(loader, "Loaded")
        return UNCLEAR, "LoadImage %s, StartImage %s" % (load, start)
    if "DriverInFirmware" in loader:
        return RUNS, "dispatched; " + sections_text(loader, "Driver")
    if "NotInFirmware" in loader:
        return REFUSED, "not dispatched"
    return UNCLEAR, "the loader never reported"


def observe_probe(probe, mode, loader, reports, exceptions):
    """A probe: refused, run past its break, or faulted at its target."""
    selected = loader.get("ProbeSelected")
    if selected is not None and selected != probe.number:
        return UNCLEAR, "the selector port answered 0x%X, not the probe's number %d" % (selected, probe.number)
    load = loader.get("LoadImage")
    if mode == DISK and load is not None and load != 0:
        return REFUSED, "LoadImage 0x%X" % load
    # Dispatched, the probe would have reported before the boot manager started the loader.
    if mode == VOLUME and not reports and selected == probe.number:
        return REFUSED, "not dispatched from the firmware volume"
    target = reports.get("Breaking")
    if target is None:
        what = "; " + describe_exception(exceptions[-1]) if exceptions else ""
        return UNCLEAR, "the probe never reached its break" + what
    pages = " (target page %s)" % page_text(reports.get("Target.Pages"))
    if "Survived" in reports:
        if exceptions:
            return UNCLEAR, "survived, but " + describe_exception(exceptions[-1])
        return RUNS, "%s at 0x%X went through%s" % (probe.breaks, target, pages)
    if not exceptions:
        return UNCLEAR, "no report after its break at 0x%X and no exception logged" % target
    last = exceptions[-1]
    if last.vector == PAGE_FAULT and last.cr2 == target and fault_kind(probe.breaks, last.error_code):
        return FAULTS, describe_exception(last) + pages
    return UNCLEAR, "broke the rule at 0x%X, then %s" % (target, describe_exception(last))


def observe(probe, mode, serial_text, qemu_log):
    """What a run showed, from the COM1 text and QEMU's exception log."""
    loader, reports = split_reports(serial_text)
    exceptions = cpu_exceptions(qemu_log)
    if probe.breaks == NOTHING:
        outcome, detail = observe_driver(mode, loader, exceptions)
    else:
        outcome, detail = observe_probe(probe, mode, loader, reports, exceptions)
    banner = FIRMWARE_BANNER.search(serial_text)
    if outcome == FAULTS and banner:
        detail += "; firmware: '%s'" % banner.group(0).strip()
    return Observation(outcome, detail, loader, reports)


def outcome_from_pages(breaks, reports):
    """What the page tables the probe read before its break say must happen (None when it did not read them)."""
    pages, cr0, efer = reports.get("Target.Pages"), reports.get("Cr0"), reports.get("Efer")
    if pages is None or cr0 is None or efer is None:
        return None
    if pages & EFI_MEMORY_RP:
        return FAULTS
    if breaks == WRITE:
        return FAULTS if pages & EFI_MEMORY_RO and cr0 & CR0_WP else RUNS
    return FAULTS if pages & EFI_MEMORY_XP and efer & EFER_NXE else RUNS


def protocol_problems(case, observation):
    """Whether the memory attribute protocol was there when the loader ran (boot) and when a probe ran from the
    firmware volume (DXE dispatch), as the firmware's entry says."""
    problems = []
    seen = [("when the boot manager started the loader", observation.loader, case.firmware.attributes_at_boot)]
    if case.mode == VOLUME:
        seen.append(("during DXE dispatch", observation.probe, case.firmware.attributes_in_dxe))
    for when, reports, present in seen:
        status = reports.get("MemoryAttributeProtocol")
        if status is not None and (status == 0) != present:
            problems.append(
                "the memory attribute protocol was %s %s (LocateProtocol 0x%X)"
                % ("there" if status == 0 else "not there", when, status)
            )
    return problems


def check_case(case, observation):
    """The problems with a case's observation: the outcome the table expects, and pages that agree with it."""
    problems = []
    if observation.outcome != case.expected:
        problems.append("expected %s, saw %s: %s" % (case.expected, observation.outcome, observation.detail))
    if case.probe.breaks != NOTHING and observation.outcome in (RUNS, FAULTS):
        predicted = outcome_from_pages(case.probe.breaks, observation.probe)
        if predicted is None:
            problems.append("the probe did not report its target's page and paging state")
        elif predicted != observation.outcome:
            problems.append(
                "the page tables (target page %s) say the %s %s, but it %s"
                % (page_text(observation.probe.get("Target.Pages")), case.probe.breaks, predicted, observation.outcome)
            )
    problems += protocol_problems(case, observation)
    attributes = observation.probe.get("Target.Attributes")
    pages = observation.probe.get("Target.Pages")
    if attributes is not None and pages is not None and page_text(attributes) != page_text(pages):
        problems.append(
            "GetMemoryAttributes says %s where the page tables say %s" % (page_text(attributes), page_text(pages))
        )
    return problems


def result_table(results):
    """A Markdown table: one row a probe, one column a firmware, each cell "from disk / from the volume"."""
    cells = {(r.case.probe.name, r.case.firmware.name, r.case.mode): r for r in results}
    firmwares = [f for f in FIRMWARES if any(name == f.name for _, name, _ in cells)]
    lines = [
        "| probe | breaks | " + " | ".join("%s (disk / volume)" % f.name for f in firmwares) + " |",
        "|---|---|" + "---|" * len(firmwares),
    ]
    for probe in PROBES:
        if not any(name == probe.name for name, _, _ in cells):
            continue
        row = []
        for firmware in firmwares:
            seen = []
            for mode in MODES:
                result = cells.get((probe.name, firmware.name, mode))
                seen.append(result.observation.outcome if result else "-")
            row.append(" / ".join(seen))
        lines.append("| `%s` | %s | %s |" % (probe.name, probe.rule, " | ".join(row)))
    return "\n".join(lines) + "\n"


def result_record(result):
    """One case's result as plain data (for --json)."""
    return {
        "case": result.case.name,
        "expected": result.case.expected,
        "outcome": result.observation.outcome,
        "detail": result.observation.detail,
        "problems": result.problems,
        "wall_s": round(result.wall_s, 1),
    }


# ---- running a case ---------------------------------------------------------


@dataclasses.dataclass
class Paths:
    build_dir: str
    notice_pack: str
    workdir: str

    def image(self, probe):
        return os.path.join(self.build_dir, probe.image)

    def loader(self):
        return os.path.join(self.build_dir, "e2e", "probes", "probe-loader.efi")

    def volume_image(self, firmware):
        """The firmware's code with notice.efi and every probe in its DXE volume."""
        return os.path.join(self.build_dir, "protection-probes", firmware.name + ".fd")


@dataclasses.dataclass
class Result:
    case: Case
    observation: Observation
    problems: list
    wall_s: float
    workdir: str


def probe_file_name(probe):
    """The FFS file name a probe is carried under: notice.efi keeps its own, each probe gets one of its own."""
    return uuid.uuid5(PROBE_FILE_NAMESPACE, probe.name)


def renamed_ffs(data, name):
    """An FFS file (notice-pack's output) under another file name, its header checksum mended."""
    renamed = bytearray(data)
    renamed[:16] = name.bytes_le
    firmware_volume.seal_file(renamed, firmware_volume.read_file_header(renamed, 0, len(renamed)))
    firmware_volume.read_file(renamed, 0, len(renamed))
    return bytes(renamed)


def pack_probe(paths, probe, out_dir):
    """notice-pack's DRIVER file for the image, written into out_dir under the probe's file name."""
    with tempfile.TemporaryDirectory(dir=out_dir) as scratch:
        args = [paths.notice_pack, "--driver", paths.image(probe), "--name", probe_ui_name(probe), "--ffs-out", scratch]
        subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        (packed,) = os.listdir(scratch)
        with open(os.path.join(scratch, packed), "rb") as f:
            data = f.read()
    if probe.breaks != NOTHING:
        data = renamed_ffs(data, probe_file_name(probe))
    with open(os.path.join(out_dir, "%s.ffs" % probe.name), "wb") as f:
        f.write(data)


def probe_ui_name(probe):
    return "NoticeDxe" if probe.breaks == NOTHING else "Probe-" + probe.name


def up_to_date(path, digest):
    """Whether PATH was built from inputs of this digest (its PATH.sha256 stamp says so)."""
    stamp = path + ".sha256"
    if not (os.path.exists(stamp) and os.path.exists(path)):
        return False
    with open(stamp) as f:
        return f.read().strip() == digest


def build_volume_image(paths, firmware):
    """The firmware's code image with notice.efi and every probe in its DXE volume; rebuilt only when an input
    changed."""
    out = paths.volume_image(firmware)
    base = firmware.code
    digest = hashlib.sha256()
    for probe in PROBES:
        digest.update(make_images.inputs_digest(paths.notice_pack, paths.image(probe), base, {}).encode())
        digest.update(("%s %s\0" % (probe_ui_name(probe), probe_file_name(probe))).encode())
    digest = digest.hexdigest()
    if up_to_date(out, digest):
        return out
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(out)) as ffs_dir:
        for probe in PROBES:
            pack_probe(paths, probe, ffs_dir)
        with contextlib.redirect_stdout(io.StringIO()):
            if notice_insert.main(["--base", base, "--ffs-dir", ffs_dir, "--out", out]) != 0:
                raise RuntimeError("notice-insert could not put the probes into %s" % base)
    with open(out + ".sha256", "w") as f:
        f.write(digest + "\n")
    return out


def boot_disk(paths, case, workdir):
    """A small FAT volume: the loader as the default boot file and, loaded from disk, the probe as \\PROBE.EFI."""
    loader, probe = paths.loader(), paths.image(case.probe) if case.mode == DISK else None
    if case.firmware.secure_boot:
        loader = sign(loader, workdir, case.firmware.source)
        probe = probe and sign(probe, workdir, case.firmware.source)
    files = {"EFI/BOOT/BOOTX64.EFI": loader, **({"PROBE.EFI": probe} if probe else {})}
    return fat_volume(os.path.join(workdir, "esp.img"), 2048, files)


# Whatever ends a run: the probe survived (it powers off), the loader is done, or the firmware dumps an exception.
VERDICT = rb"E2E (Survived|ResetSystem)\r?\n|!!!! X64 Exception Type"
DUMP_END = rb"!!!! Find image[^\n]*\n"


def wait_for_verdict(machine):
    """Runs the machine until the verdict is known, then ends it: it powers off by itself after a report, and is
    ended once the firmware has dumped an exception (it then waits forever)."""
    machine.start()
    machine.wait_for_serial(VERDICT)
    if re.search(rb"!!!! X64 Exception Type", bytes(machine.serial)):
        with contextlib.suppress(MachineFailure):
            machine.wait_for_serial(DUMP_END, timeout=DUMP_GRACE_S)
        machine.kill()
        return
    machine.wait_for_exit(timeout=EXIT_GRACE_S)


def run_case(paths, case):
    workdir = os.path.join(paths.workdir, case.name.replace(":", "-"))
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    code = case.firmware.code
    if case.mode == VOLUME:
        code = paths.volume_image(case.firmware)
    log = os.path.join(workdir, "qemu-int.log")
    config = MachineConfig(
        code=code,
        vars_template=case.firmware.variables(),
        secure_boot=case.firmware.secure_boot,
        esp_image=boot_disk(paths, case, workdir),
        port_standins={PROBE_SELECT_PORT: case.probe.number},
        timeout_s=CASE_TIMEOUT_S,
        # Exceptions and resets only: guest_errors would add 2022.11's 50,000 reads of the absent TPM.
        extra_args=["-d", "int,cpu_reset", "-D", log],
    )
    failure = ""
    with Machine(config, workdir) as machine:
        try:
            wait_for_verdict(machine)
        except MachineFailure as error:
            failure = str(error)
        wall = time.monotonic() - machine.started_at if machine.started_at else 0.0
        machine.kill()
        # Let the reader threads take in what QEMU wrote last.
        with contextlib.suppress(MachineFailure):
            machine.wait_for_exit(timeout=EXIT_GRACE_S)
        serial = machine.serial_text()
    with open(log, encoding="latin-1") as f:
        qemu_log = f.read()
    observation = observe(case.probe, case.mode, serial, qemu_log)
    if failure and observation.outcome == UNCLEAR:
        observation.detail += " (%s)" % failure
    return Result(case, observation, check_case(case, observation), wall, workdir)


def lean_cases():
    """Each probe where its finding shows, and no more: where one mode's outcome differs between
    firmware builds, that mode on the first two builds that differ; else where the outcome differs
    between modes, both modes on the first build; else (the same everywhere) once, dispatched from
    the firmware volume of the strictest build."""
    chosen = []
    for probe in PROBES:
        outcomes = EXPECTED[probe.name]
        pair = None
        for index, mode in enumerate(MODES):
            first = FIRMWARES[0]
            other = next((f for f in FIRMWARES if outcomes[f.name][index] != outcomes[first.name][index]), None)
            if other is not None:
                pair = [Case(probe, first, mode), Case(probe, other, mode)]
                break
        if pair is None and len(set(outcomes[FIRMWARES[0].name])) > 1:
            pair = [Case(probe, FIRMWARES[0], mode) for mode in MODES]
        chosen += pair or [Case(probe, FIRMWARES[-1], VOLUME)]
    return chosen


# ---- command line -----------------------------------------------------------


def chosen_cases(patterns, lean=False):
    cases = lean_cases() if lean else all_cases()
    if not patterns:
        return cases
    chosen = [c for c in cases if any(fnmatch.fnmatchcase(c.name, p) for p in patterns)]
    return chosen


def missing_inputs(paths, cases):
    needed = {paths.loader()} | {paths.image(c.probe) for c in cases}
    needed |= {c.firmware.code for c in cases}
    if any(c.mode == VOLUME for c in cases):
        needed.add(paths.notice_pack)
    return sorted(p for p in needed if not os.path.exists(p))


def print_result(result):
    verdict = "PASS" if not result.problems else "FAIL"
    print(
        "%s %-50s %-8s %4.1f s  %s"
        % (verdict, result.case.name, result.observation.outcome, result.wall_s, result.observation.detail)
    )
    for problem in result.problems:
        print("     - %s (run files: %s)" % (problem, result.workdir))


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(REPOSITORY, "build", "image"), help="the image build")
    parser.add_argument("--notice-pack", help="the notice-pack program (needed for the firmware-volume cases)")
    parser.add_argument("--case", action="append", default=[], help="a case name or pattern (repeatable)")
    parser.add_argument("--list", action="store_true", help="name every case and what it must show")
    parser.add_argument("--lean", action="store_true", help="only the cases that show each probe's finding")
    parser.add_argument("--jobs", type=int, default=MAX_MACHINES, help="QEMU runs at a time")
    parser.add_argument("--workdir", help="where run files go (default: a fresh temporary folder)")
    parser.add_argument("--table", help="write the results as a Markdown table to this file")
    parser.add_argument("--json", help="write every case's outcome, detail, problems and wall time to this file")
    args = parser.parse_args(argv)
    if args.jobs < 1:
        parser.error("--jobs must be 1 or more")
    return args


def main(argv=None):
    args = parse_arguments(argv)
    cases = chosen_cases(args.case, args.lean)
    if not cases:
        print("protection_probes: no case matches %s (--list names them)" % " ".join(args.case), file=sys.stderr)
        return 2
    if args.list:
        for case in cases:
            print("%-50s %-8s %s" % (case.name, case.expected, case.probe.rule))
        return 0
    if any(c.mode == VOLUME for c in cases) and not args.notice_pack:
        print("protection_probes: the firmware-volume cases need --notice-pack PATH", file=sys.stderr)
        return 2
    paths = Paths(
        os.path.abspath(args.build_dir),
        args.notice_pack and os.path.abspath(args.notice_pack),
        os.path.abspath(args.workdir or tempfile.mkdtemp(prefix="protection-probes-")),
    )
    missing = missing_inputs(paths, cases)
    if missing:
        print(
            "protection_probes: missing %s; build with 'make image' and fetch Debian 13's OVMF with "
            "scripts/install-deps.sh" % ", ".join(missing),
            file=sys.stderr,
        )
        return 1
    started = time.monotonic()
    try:
        for firmware in FIRMWARES:
            if any(c.mode == VOLUME and c.firmware == firmware for c in cases):
                build_volume_image(paths, firmware)
    except (RuntimeError, subprocess.CalledProcessError, OSError) as error:
        print("protection_probes: cannot build the firmware images: %s" % error, file=sys.stderr)
        return 1
    built = time.monotonic() - started
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = []
        for result in pool.map(lambda case: run_case(paths, case), cases):
            print_result(result)
            results.append(result)
    if args.table:
        with open(args.table, "w") as f:
            f.write(result_table(results))
    if args.json:
        with open(args.json, "w") as f:
            json.dump([result_record(r) for r in results], f, indent=1)
            f.write("\n")
    failed = sum(1 for r in results if r.problems)
    print(
        "protection_probes: %d of %d cases as expected; firmware images %.1f s, runs %.1f s (run files: %s)"
        % (len(results) - failed, len(results), built, time.monotonic() - started - built, paths.workdir)
    )
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

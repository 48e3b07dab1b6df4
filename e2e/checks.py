"""Whether a real-firmware run passed: pure functions from what a run left
(a RunRecord, and notice-sim's SimulatorRecord) to problems and notes.

Nothing here starts a process or touches a file; run.py gathers the record.
"""

import dataclasses
import re

import pictures
from scenarios import (
    CMOS_DATA,
    CMOS_INDEX,
    CMOS_MARKER_INDEX,
    EC_ABSENT,
    EC_COMMAND,
    EC_DATA,
    EC_READ_COMMAND,
    FAILURE_LINES,
    HOLD_SECONDS,
    PLATFORM_REPORTS,
    STORAGE_REPORTS,
    expected_app_steps,
    expected_cmos_marks,
)

E2E_LINE = re.compile(r"^E2E (\w+)(?: 0x([0-9A-F]+))?$", re.M)
# The application's steps with the serial pattern that marks each, for the timeline.
TIMELINE = (
    ("app started", rb"E2E Begin"),
    ("driver started", rb"E2E StartImage"),
    ("end of DXE signalled", rb"E2E SignalEndOfDxe"),
    ("pictures served", rb"E2E CheckPictureVolume"),
    ("trigger returned", rb"E2E InstallTrigger"),
    ("powering off", rb"E2E ResetSystem"),
)


class Report:
    """Problems (any fails the run) and notes (what was seen) of one run, in the order found."""

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


@dataclasses.dataclass
class QemuEnd:
    elapsed_s: float
    returncode: int
    shutdown_reason: str


@dataclasses.dataclass
class RunRecord:
    """What one QEMU run left behind."""

    serial_text: str = ""  # the serial output without terminal escapes
    ended: QemuEnd = None  # how QEMU ended, when it did so by itself
    failure: str = None  # why the run was cut short (a time-out, a QMP STOP)
    serial_times: dict = dataclasses.field(default_factory=dict)  # TIMELINE label -> seconds after start
    port_writes: dict = None  # port -> bytes the guest wrote; None when QEMU never started
    screen: tuple = None  # (width, height, RGB bytes) of the screenshot, None when none was taken
    shot: str = ""  # where the screenshot is, for messages


@dataclasses.dataclass
class Expectations:
    """How a run is judged besides its scenario."""

    driver_in_firmware: bool = False
    pictures: dict = None  # mode -> test picture the screen is compared with; None: not the test pictures
    own_pictures: bool = False  # the firmware carries pictures other than the test pictures
    simulator_given: bool = False  # notice-sim plays the same machine (SimulatorRecord)


# ---- the application's reports ----------------------------------------------


def app_lines(serial_text):
    return [(m.group(1), int(m.group(2), 16) if m.group(2) else None) for m in E2E_LINE.finditer(serial_text)]


def check_app_steps(lines, expected):
    """Problems with the application's reports, taken in order against the expected (step, status) pairs."""
    actual = [
        (step, value)
        for step, value in lines
        if step != "DriverSize" and step not in STORAGE_REPORTS and step not in PLATFORM_REPORTS
    ]
    problems = []
    for i, (step, status) in enumerate(expected):
        if i >= len(actual):
            return problems + [
                "no report of step %s (the last report was %s)" % (step, actual[-1][0] if actual else "none")
            ]
        got_step, got_status = actual[i]
        if got_step != step:
            return problems + ["report %d is %s, expected %s" % (i + 1, got_step, step)]
        if got_status != status:
            problems.append(
                "%s returned %s, expected %s"
                % (
                    step,
                    "-" if got_status is None else "0x%X" % got_status,
                    "0x%X" % status if status is not None else "-",
                )
            )
    if len(actual) != len(expected):
        problems.append("unexpected reports after the last step: %s" % actual[len(expected) :])
    return problems


def storage_counts_note(lines):
    counts = {step: value for step, value in lines if step in STORAGE_REPORTS}
    return "when the application started: %s" % ", ".join("%s %s" % item for item in sorted(counts.items()))


def check_storage_probe(lines, scenario, driver_in_firmware):
    """With the driver in the firmware the NVMe controller is bound before the application starts; loaded late, not."""
    if not scenario.probe_nvme:
        return []
    bound = dict((step, value) for step, value in lines if step in STORAGE_REPORTS).get("NvmePassThruHandles")
    expected = 1 if driver_in_firmware else 0
    if bound == expected:
        return []
    return [
        "%s NVMe controllers bound when the application started, expected %d (%s)"
        % (
            bound,
            expected,
            "connected by the driver at end of DXE"
            if driver_in_firmware
            else "the boot manager leaves a device without a boot index alone",
        )
    ]


def driver_console_lines(serial_text):
    return [line.strip() for line in serial_text.splitlines() if line.strip() in FAILURE_LINES]


# ---- QEMU's end and the time taken -----------------------------------------


def qemu_end_note(ended):
    return "QEMU ended after %.1f s: exit status %d, shutdown reason %s" % (
        ended.elapsed_s,
        ended.returncode,
        ended.shutdown_reason or "none",
    )


def check_qemu_end(record):
    if record.failure is not None:
        return [record.failure]
    problems = []
    if record.ended.returncode != 0:
        problems.append("QEMU exit status %d" % record.ended.returncode)
    if record.ended.shutdown_reason != "guest-shutdown":
        problems.append("shutdown reason %r, expected guest-shutdown" % record.ended.shutdown_reason)
    return problems


def trigger_time_note(scenario, seconds, ec_registers):
    """What the driver's notice took, and why: the hold, the level re-check, the EC time-outs.
    ec_registers are the register numbers the driver wrote to the EC data port, in order."""
    if not scenario.driver_runs():
        return "the trigger installation took %.1f s (the driver is not running)" % seconds
    recheck = len(set(ec_registers)) < len(ec_registers)  # a register read again: the level after its wait
    waits = (HOLD_SECONDS if scenario.mode else 0) + (1 if recheck else 0)
    parts = (["the %d s hold" % HOLD_SECONDS] if scenario.mode else []) + (
        ["the 1 s level re-check"] if recheck else []
    )
    if scenario.ec_byte == EC_ABSENT:
        parts.append(
            "%.1f s of embedded-controller time-outs (this machine has no EC: each of the %d register reads "
            "waits out 1024 status polls, about 1 s on hardware, under QEMU as long as emulating them takes)"
            % (max(0.0, seconds - waits), len(ec_registers))
        )
    return "the driver's notice took %.1f s%s" % (seconds, ": " + " and ".join(parts) if parts else "")


def timeline_notes(scenario, serial_times, ec_registers):
    times = [(label, serial_times.get(label)) for label, _ in TIMELINE]
    served, returned = times[3][1], times[4][1]
    notes = []
    if served is not None and returned is not None:
        notes.append(trigger_time_note(scenario, returned - served, ec_registers))
    notes.append("timeline: " + ", ".join("%s %.1f s" % (label, t) for label, t in times if t is not None))
    return notes


# ---- the screen ---------------------------------------------------------------


def screen_findings(screen, shot, scenario, all_pictures):
    """(notes, problems) of the screenshot against the test pictures: which screens it equals, and where it
    differs from the scenario's."""
    width, height, pixels = screen
    candidates = {0: None}
    candidates.update(all_pictures)
    shown = [
        mode
        for mode, picture in sorted(candidates.items())
        if pixels == pictures.expected_screen(width, height, picture)
    ]
    notes = [
        "screen %dx%d" % (width, height),
        "screen matches: %s"
        % (", ".join("notice %d" % m if m else "black screen" for m in shown) if shown else "no expected screen"),
    ]
    expected = pictures.expected_screen(width, height, all_pictures.get(scenario.mode) if scenario.mode else None)
    if pixels == expected:
        return notes, []
    diff = [i // 3 for i in range(0, len(pixels), 3) if pixels[i : i + 3] != expected[i : i + 3]]
    xs = [p % width for p in diff]
    ys = [p // width for p in diff]
    return notes, [
        "screen differs from the expected one in %d pixels (x %d-%d, y %d-%d); see %s"
        % (len(diff), min(xs), max(xs), min(ys), max(ys), shot)
    ]


# ---- the port stand-ins ------------------------------------------------------


def hex_or_dash(data):
    return data.hex(" ") or "-"


def expected_ec_registers(scenario, simulator):
    """The registers the driver must ask for: none when it does not run, else the ones notice-sim's run of the
    driver's own code asked for on the same machine; None when nobody can tell (no notice-sim run)."""
    if not scenario.driver_runs():
        return b""
    if simulator is None or simulator.failure is not None:
        return None
    return simulator.port_writes.get(EC_DATA, b"")


def check_ec_writes(writes, registers):
    """The EC command port must carry one read command per register on the data port; the data port the
    expected registers (when they are known)."""
    commands, data = writes.get(EC_COMMAND, b""), writes.get(EC_DATA, b"")
    count = len(data) if registers is None else len(registers)
    problems = []
    if commands != bytes([EC_READ_COMMAND] * count):
        problems.append("EC command port saw %s, expected %d read commands" % (commands.hex(" "), count))
    if registers is not None and data != registers:
        problems.append("EC data port saw %s, expected registers %s" % (data.hex(" "), registers.hex(" ")))
    return problems


def ec_notes(writes, registers, simulator_given):
    notes = [
        "EC writes: command port %s, data port %s"
        % (hex_or_dash(writes.get(EC_COMMAND, b"")), hex_or_dash(writes.get(EC_DATA, b"")))
    ]
    if registers is None:
        notes.append(
            "EC registers not compared: %s"
            % (
                "notice-sim failed"
                if simulator_given
                else "give --notice-sim to compare them with the driver's decision"
            )
        )
    return notes


def cmos_note(writes):
    return "CMOS writes: index %s, data %s" % (
        hex_or_dash(writes.get(CMOS_INDEX, b"")),
        hex_or_dash(writes.get(CMOS_DATA, b"")),
    )


def check_cmos_writes(writes, scenario):
    index, data = writes.get(CMOS_INDEX, b""), writes.get(CMOS_DATA, b"")
    marks = bytes(expected_cmos_marks(scenario))
    if index == bytes([CMOS_MARKER_INDEX] * len(marks)) and data == marks:
        return []
    return ["CMOS marker writes %s / %s, expected index 0x30 with %s" % (index.hex(" "), data.hex(" "), marks.hex(" "))]


# ---- notice-sim on the same machine ------------------------------------------


SIMULATED_PORTS = (EC_COMMAND, EC_DATA, CMOS_INDEX, CMOS_DATA)


def port_write_problems(real_writes, simulated_writes):
    """Problems where the bytes written to an EC or CMOS port (port -> bytes) differ from notice-sim's."""
    problems = []
    for port in SIMULATED_PORTS:
        real, simulated = real_writes.get(port, b""), simulated_writes.get(port, b"")
        if real != simulated:
            problems.append(
                "port 0x%02X saw %s, notice-sim wrote %s" % (port, hex_or_dash(real), hex_or_dash(simulated))
            )
    return problems


def simulator_findings(record, console, scenario, simulator):
    """(notes, problems) of the real run against notice-sim's: notice, console lines, every EC and CMOS port
    write and, where a picture is drawn, the screen pixel for pixel."""
    if simulator.failure is not None:
        return [], [simulator.failure]
    notes = ["notice-sim: notice %s, console %s" % (simulator.modes, simulator.console or "none")]
    problems = []
    if simulator.modes != [scenario.mode]:
        problems.append("notice-sim chose notice %s, expected [%d]" % (simulator.modes, scenario.mode))
    if console != simulator.console:
        problems.append("console lines %s, notice-sim's %s" % (console, simulator.console))
    problems += port_write_problems(record.port_writes, simulator.port_writes)
    if record.screen is None or not scenario.check_screen or simulator.screen is None:
        return notes, problems
    (width, height, pixels), (sim_width, sim_height, sim_pixels) = record.screen, simulator.screen
    if (sim_width, sim_height) != (width, height):
        return notes, problems + [
            "notice-sim screen is %dx%d, the real one %dx%d" % (sim_width, sim_height, width, height)
        ]
    differing = (
        sum(1 for i in range(0, len(pixels), 3) if pixels[i : i + 3] != sim_pixels[i : i + 3])
        if pixels != sim_pixels
        else 0
    )
    notes.append("notice-sim screen: %s" % ("identical" if not differing else "%d pixels differ" % differing))
    if differing:
        problems.append(
            "the real screen differs from notice-sim's in %d pixels (%s/screen.png)" % (differing, simulator.out)
        )
    return notes, problems


# ---- one run as a whole ------------------------------------------------------


def check_run(scenario, record, expect, simulator=None):
    """The Report of one run: every check in the order the runner has always printed them."""
    report = Report(scenario)
    if record.ended is not None:
        report.note(qemu_end_note(record.ended))
    report.problems += check_qemu_end(record)
    ec_data = (record.port_writes or {}).get(EC_DATA, b"")
    report.notes += timeline_notes(scenario, record.serial_times, ec_data)
    lines = app_lines(record.serial_text)
    report.problems += check_app_steps(lines, expected_app_steps(scenario, expect.driver_in_firmware))
    report.note(storage_counts_note(lines))
    report.problems += check_storage_probe(lines, scenario, expect.driver_in_firmware)
    console = driver_console_lines(record.serial_text)
    report.note("driver console lines: %s" % (console or "none"))
    report.check(
        console == list(scenario.console_lines),
        "driver printed %s, expected %s" % (console, list(scenario.console_lines)),
    )
    if scenario.check_screen:
        if report.check(record.screen is not None, "no screenshot taken") and expect.pictures is not None:
            notes, problems = screen_findings(record.screen, record.shot, scenario, expect.pictures)
            report.notes += notes
            report.problems += problems
        if expect.own_pictures and not expect.simulator_given:
            report.note("screen not compared: these are not the test pictures (give --notice-sim to compare)")
    if record.port_writes is None:
        return report
    registers = expected_ec_registers(scenario, simulator if expect.simulator_given else None)
    report.notes += ec_notes(record.port_writes, registers, expect.simulator_given)
    report.problems += check_ec_writes(record.port_writes, registers)
    report.note(cmos_note(record.port_writes))
    report.problems += check_cmos_writes(record.port_writes, scenario)
    if simulator is not None:
        notes, problems = simulator_findings(record, console, scenario, simulator)
        report.notes += notes
        report.problems += problems
    return report

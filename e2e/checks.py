"""Whether a real-firmware run passed: pure functions from what a run left (a
RunRecord), what the case is built to give (its Case and the Expected the
pipeline works out) and notice-sim's run of the same machine (a
SimulatorRecord) to problems and notes.

Nothing here starts a process or touches a file; pipeline.py gathers the records.
"""

import dataclasses
import re

import pictures
from cases import CMOS_DATA, CMOS_INDEX, EC_ABSENT, EC_COMMAND, EC_DATA, expected_cmos_marks

E2E_LINE = re.compile(r"^E2E (\w+)(?: 0x([0-9A-F]+))?$", re.M)
EC_READ_COMMAND = 0x80  # the ACPI embedded controller's read command
CMOS_MARKER_INDEX = 0x30
HOLD_SECONDS = 4  # how long the driver holds a notice
FAILURE_LINES = ("Locate gop protocol failure...", "GetBitMapFromFV failure...")
FAILURE_LINES += ("ConvertBmpToGopBltofTarvex failure...", "GraphicsOutput->Blt failure...")
# What the application reports about the firmware it runs on (values, not statuses).
PLATFORM_REPORTS = tuple(
    "NvmePassThruHandles BlockIoHandles HobList FirmwareVolumeHandles PciIoHandles GopModes GopWidth GopHeight "
    "GopHandles GopOnDevice "
    "NvmeBoundBefore AtaBoundBefore NvmeBoundAfter AtaBoundAfter PictureVolumeIndex DriverImageBase DriverSize".split()
)
# The application's steps with the serial pattern that marks each, for the timeline.
TIMELINE = (
    ("app started", rb"E2E Begin"),
    ("driver started", rb"E2E StartImage"),
    ("end of DXE signalled", rb"E2E SignalEndOfDxe"),
    ("pictures served", rb"E2E CheckPictureVolume"),
    ("trigger returned", rb"E2E InstallTrigger"),
    ("powering off", rb"E2E ResetSystem"),
)
# OVMF's graphics console draws text in 8x19 cells on a grid of 100x31 cells
# (80x25 where that does not fit) centred on the screen: measured, the lines
# start at (0, 5) at 800x600 and at (240, 105) at 1280x800. notice-sim draws
# no text on its screen.
CONSOLE_CELL = (8, 19)
CONSOLE_GRIDS = ((100, 31), (80, 25))
SSE_REGISTER = re.compile(r"%[xy]mm\d")
CR4_OSFXSR = 0x200


class Report:
    """Problems (any fails the run) and notes (what was seen) of one run, in the order found, and
    what the compatibility table shows of it."""

    def __init__(self, case):
        self.case = case
        self.problems = []
        self.notes = []
        self.status = "pass"  # or "fail", "not run"
        self.elapsed = 0.0
        self.facts = {}
        self.app_lines = []
        self.sim_notices = []
        self.seen = "-"
        self.screen = "-"
        self.compared = True  # whether notice-sim explains the run (not when the driver died)
        self.label = None  # the case's name with its firmware and placement where they tell it apart
        self.workdir = None  # the run's folder
        self.same_run_as = None  # the label of the case whose run this case's is, when one run stands for both

    def check(self, ok, problem):
        if not ok:
            self.problems.append(problem)
        return ok

    def note(self, text):
        self.notes.append(text)

    def add(self, notes, problems):
        self.notes += notes
        self.problems += problems


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
    second_screen: tuple = None  # the second display's screenshot, when the machine has two
    notes: list = dataclasses.field(default_factory=list)  # what the boot itself saw
    fault: tuple = None  # (offset in notice.efi, CR4, instruction) of an invalid opcode, when logged


@dataclasses.dataclass
class Expected:
    """What the pipeline works out a case must give besides the case itself."""

    ending: str = "guest-shutdown"  # the firmware's
    steps: list = dataclasses.field(default_factory=list)  # the application's reports, (step, status)
    candidates: list = dataclasses.field(default_factory=list)  # (label, picture) the screen may show
    oracle: object = False  # the test picture the whole screen must show (None: black), False: no oracle


# ---- the application's reports ----------------------------------------------


def app_lines(serial_text):
    return [(m.group(1), int(m.group(2), 16) if m.group(2) else None) for m in E2E_LINE.finditer(serial_text)]


def platform_facts(lines):
    return {step: value for step, value in lines if step in PLATFORM_REPORTS}


def check_app_steps(lines, expected):
    """Problems with the application's reports, taken in order against the expected (step, status) pairs."""
    actual = [(step, value) for step, value in lines if step not in PLATFORM_REPORTS]
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
                % (step, "-" if got_status is None else "0x%X" % got_status, "-" if status is None else "0x%X" % status)
            )
    if len(actual) != len(expected):
        problems.append("unexpected reports after the last step: %s" % actual[len(expected) :])
    return problems


def driver_console_lines(serial_text):
    return [line.strip() for line in serial_text.splitlines() if line.strip() in FAILURE_LINES]


def check_connections(case, facts, sim_connected, boot_index):
    """(note, problems): with the boot disk alone in the boot order, OVMF's boot manager binds no other
    storage controller, so what is bound after end of DXE was connected by the driver. A driver loaded
    from disk sees end of DXE when the application signals it again; one inside the firmware image saw
    it before the boot manager ran, so its controllers are bound when the application starts."""
    before = (facts.get("NvmeBoundBefore", 0), facts.get("AtaBoundBefore", 0))
    after = (facts.get("NvmeBoundAfter", 0), facts.get("AtaBoundAfter", 0))
    note = "controllers bound (NVMe, ATA pass-through): %s when the application started, %s after end of DXE" % (
        before,
        after,
    )
    if not (case.boot_disk_only and boot_index):
        return note, []
    expected = (
        sum(1 for name in sim_connected if name.startswith("nvme")),
        sum(1 for name in sim_connected if name.startswith("sata")),
    )
    if case.in_firmware():
        # Connected before the boot manager ran; the boot disk here is on virtio, not ATA.
        if before == expected and after == before:
            return note, []
        return note, ["bound controllers %s -> %s; notice-sim connected %s" % (before, after, sim_connected)]
    newly = (after[0] - before[0], after[1] - before[1])
    if newly == expected:
        return note, []
    return note, ["end of DXE bound %s more controllers (NVMe, ATA); notice-sim connected %s" % (newly, sim_connected)]


# ---- QEMU's end and the time taken -----------------------------------------


def check_qemu_end(record, ending):
    if record.failure is not None:
        return [], [record.failure]
    ended = record.ended
    notes = [
        "QEMU ended after %.1f s: exit status %d, %s"
        % (ended.elapsed_s, ended.returncode, ended.shutdown_reason or "no shutdown event")
    ]
    problems = ["QEMU exit status %d" % ended.returncode] if ended.returncode != 0 else []
    if ended.shutdown_reason != ending:
        problems.append("the run ended by %r, expected %r" % (ended.shutdown_reason, ending))
    return notes, problems


def trigger_time_note(case, seconds, ec_registers):
    """What the driver's notice took, and why: the hold, the level re-check, the EC time-outs.
    ec_registers are the register numbers the driver wrote to the EC data port, in order."""
    if not case.driver_runs():
        return "the trigger installation took %.1f s (the driver is not running)" % seconds
    # A register read again within a notification: the level after its wait.
    recheck = len(ec_registers) > len(set(ec_registers)) * case.triggers
    holds = case.triggers if case.notice else 0
    waits = HOLD_SECONDS * holds + (1 if recheck else 0)
    parts = (["the %d s hold" % HOLD_SECONDS + (" x%d" % holds if holds > 1 else "")] if holds else []) + (
        ["the 1 s level re-check"] if recheck else []
    )
    if case.ec_byte == EC_ABSENT:
        parts.append(
            "%.1f s of embedded-controller time-outs (this machine has no EC: each of the %d register reads "
            "waits out 1024 status polls, about 1 s on hardware, under QEMU as long as emulating them takes)"
            % (max(0.0, seconds - waits), len(ec_registers))
        )
    return "the driver's notice took %.1f s%s" % (seconds, ": " + " and ".join(parts) if parts else "")


def timeline_notes(case, serial_times, ec_registers):
    times = [(label, serial_times.get(label)) for label, _ in TIMELINE]
    served, returned = times[3][1], times[4][1]
    notes = []
    if served is not None and returned is not None:
        notes.append(trigger_time_note(case, returned - served, ec_registers))
    return notes + ["timeline: " + ", ".join("%s %.1f s" % (label, t) for label, t in times if t is not None)]


# ---- the screen ---------------------------------------------------------------


def find_picture(width, pixels, picture):
    """Where a picture's pixels sit on the screen, as (x, y), or None."""
    if not picture.rows or len(picture.rows[0]) > width * 3:
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


def describe_screen(screen, has_gop, candidates):
    """(resolution label, what the screen shows, [(label, (x, y))] of the candidate pictures found)."""
    if not has_gop:
        return "no GOP", "no graphics output", []
    if screen is None:
        return "-", "-", []
    width, height, pixels = screen
    found = [(label, find_picture(width, pixels, picture)) for label, picture in candidates]
    found = [(label, at) for label, at in found if at is not None]
    if found:
        seen = ", ".join("%s at (%d, %d)" % (label, x, y) for label, (x, y) in found)
    else:
        seen = "nothing drawn" if pixels.count(0) == len(pixels) else "no picture drawn"
    return "%dx%d" % (width, height), seen, found


def console_text_area(lines, screen_width, screen_height):
    """(left, top, right, bottom) of the screen area the console's first text cells cover for these lines."""
    cell_width, cell_height = CONSOLE_CELL
    fitting = [(c, r) for c, r in CONSOLE_GRIDS if c * cell_width <= screen_width and r * cell_height <= screen_height]
    columns, rows = (fitting or CONSOLE_GRIDS[-1:])[0]
    left, top = max(0, screen_width - columns * cell_width) // 2, max(0, screen_height - rows * cell_height) // 2
    if not lines:
        return left, top, left, top
    return left, top, left + max(len(line) for line in lines) * cell_width, top + len(lines) * cell_height


def differing_pixels(width, pixels, other):
    """(x, y) of every pixel where two screens of the same size differ."""
    if pixels == other:
        return []
    return [
        ((i // 3) % width, (i // 3) // width) for i in range(0, len(pixels), 3) if pixels[i : i + 3] != other[i : i + 3]
    ]


def span(points):
    xs, ys = [x for x, _ in points], [y for _, y in points]
    return "x %d-%d, y %d-%d" % (min(xs), max(xs), min(ys), max(ys))


def screen_problems(record, facts, sim, oracle):
    """(notes, problems) of the real screen against notice-sim's, pixel for pixel outside the console's
    text cells (notice-sim draws no text), and against the test picture the case shows, if any."""
    width, height = facts.get("GopWidth", 1280), facts.get("GopHeight", 800)
    real_width, real_height, pixels = record.screen
    if (real_width, real_height) != (width, height):
        return [], [
            "the display shows %dx%d, the graphics output reported %dx%d" % (real_width, real_height, width, height)
        ]
    sim_width, sim_height, sim_pixels = sim.screen
    if (sim_width, sim_height) != (real_width, real_height):
        return [], ["notice-sim's screen is %dx%d, the real one %dx%d" % (sim_width, sim_height, width, height)]
    left, top, right, bottom = console_text_area(sim.last_console, width, height)
    differing = differing_pixels(width, pixels, sim_pixels)
    outside = [(x, y) for x, y in differing if not (left <= x < right and top <= y < bottom)]
    notes = [
        "notice-sim's screen: %s"
        % (
            "identical"
            if not differing
            else "%d pixels differ, all inside the console's text cells (x %d-%d, y %d-%d)"
            % (len(differing), left, right - 1, top, bottom - 1)
            if not outside
            else "%d pixels differ" % len(differing)
        )
    ]
    problems = []
    if outside:
        problems.append(
            "the real screen differs from notice-sim's in %d pixels outside the console text (%s; %s/screen.png)"
            % (len(outside), span(outside), sim.out)
        )
    if oracle is not False:
        expected = pictures.expected_screen(width, height, oracle)
        wrong = differing_pixels(width, pixels, expected)
        if wrong:
            problems.append(
                "screen differs from the expected %s in %d pixels (%s); see %s"
                % ("notice %d" % oracle.mode if oracle else "black screen", len(wrong), span(wrong), record.shot)
            )
    return notes, problems


# ---- the port stand-ins ------------------------------------------------------


def hex_or_dash(data):
    return data.hex(" ") or "-"


def check_ec_writes(writes):
    """The EC command port must carry one read command per register asked on the data port (which
    registers, notice-sim's run of the driver says: port_write_problems)."""
    commands, count = writes.get(EC_COMMAND, b""), len(writes.get(EC_DATA, b""))
    if commands == bytes([EC_READ_COMMAND] * count):
        return []
    return ["EC command port saw %s, expected %d read commands" % (commands.hex(" "), count)]


def check_cmos_writes(writes, case):
    index, data = writes.get(CMOS_INDEX, b""), writes.get(CMOS_DATA, b"")
    marks = expected_cmos_marks(case)
    if index == bytes([CMOS_MARKER_INDEX] * len(marks)) and data == marks:
        return []
    return ["CMOS marker writes %s / %s, expected index 0x30 with %s" % (index.hex(" "), data.hex(" "), marks.hex(" "))]


def port_notes(writes):
    return [
        "EC writes: command port %s, data port %s"
        % (hex_or_dash(writes.get(EC_COMMAND, b"")), hex_or_dash(writes.get(EC_DATA, b""))),
        "CMOS writes: index %s, data %s"
        % (hex_or_dash(writes.get(CMOS_INDEX, b"")), hex_or_dash(writes.get(CMOS_DATA, b""))),
    ]


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


# ---- notice-sim on the same machine ------------------------------------------


def simulator_findings(case, record, facts, console, sim, expect, boot_index):
    """(notes, problems) of the real run against notice-sim's: notices, console lines, every EC and CMOS
    port write, the controllers connected, whether it drew and, with a graphics output, the screen."""
    if sim.failure is not None:
        return [], [sim.failure]
    notes = [
        "notice-sim: notices %s, console %s, connected %s, blt %s"
        % (sim.modes, sim.console or "none", sim.connected, sim.blts)
    ]
    problems = []
    if sim.modes != [case.notice] * case.triggers:
        problems.append(
            "notice-sim chose %s on this machine, the case is built for notice %d" % (sim.modes, case.notice)
        )
    if console != sim.console:
        problems.append("console lines %s, notice-sim's %s" % (console, sim.console))
    problems += port_write_problems(record.port_writes, sim.port_writes)
    note, connection_problems = check_connections(case, facts, sim.connected, boot_index)
    notes.append(note)
    problems += connection_problems
    drawn, expect_drawn = any(sim.blts), case.drawn and case.notice != 0
    if drawn != expect_drawn:
        problems.append(
            "notice-sim %s; the case expects %s"
            % ("drew a picture" if drawn else "drew nothing", "a picture" if expect_drawn else "none")
        )
    if sim.screen is None:
        return notes + ["no graphics output: no screen to compare"], problems
    screen_notes, screen_problem_list = screen_problems(record, facts, sim, expect.oracle)
    return notes + screen_notes, problems + screen_problem_list


# ---- a second display ---------------------------------------------------------

GOP_OWNERS = {1: "a display's own (its handle has a device path)", 0: "the console splitter's (no device path)"}


def second_display_findings(record, facts, candidates, first_found):
    """(notes, problems, size, seen) of the second display. The driver draws through the one graphics
    output LocateProtocol gives: the console splitter's draws on every display, at the same place, a
    display's own on that display alone. So the second display must show the picture where the first
    does when the application found the splitter's output, and none of the pictures otherwise (the
    first display's screen is notice-sim's, checked as on any machine)."""
    if record.second_screen is None:
        return [], ["no screenshot of the second display taken"], "-", "-"
    owner = facts.get("GopOnDevice")
    size, seen, found = describe_screen(record.second_screen, 1, candidates)
    notes = [
        "second display: %s, %s; the graphics output found is %s, one of %d"
        % (size, seen, GOP_OWNERS.get(owner, "on no handle listed for it"), facts.get("GopHandles", 0))
    ]
    if owner not in GOP_OWNERS:
        return notes, ["the application found no handle holding the graphics output it located"], size, seen
    expected = first_found if owner == 0 else []
    if found == expected:
        return notes, [], size, seen
    want = ", ".join("%s at (%d, %d)" % (label, x, y) for label, (x, y) in expected) or "no picture"
    return notes, ["the second display shows %s, expected %s" % (seen, want)], size, seen


# ---- one run as a whole ------------------------------------------------------


def check_run(case, record, expect, sim=None, boot_index=True):
    """The Report of one run: every check, in the order the runner prints them."""
    report = Report(case)
    report.notes += record.notes
    report.add(*check_qemu_end(record, expect.ending))
    ec_data = (record.port_writes or {}).get(EC_DATA, b"")
    report.notes += timeline_notes(case, record.serial_times, ec_data)
    report.app_lines = app_lines(record.serial_text)
    report.facts = platform_facts(report.app_lines)
    report.note("firmware offers: " + ", ".join("%s %d" % item for item in report.facts.items()))
    report.problems += check_app_steps(report.app_lines, expect.steps)
    console = driver_console_lines(record.serial_text)
    report.note("driver console lines: %s" % (console or "none"))
    report.check(console == list(case.console), "driver printed %s, expected %s" % (console, list(case.console)))
    report.screen, report.seen, found = describe_screen(
        record.screen, report.facts.get("GopModes", 0), expect.candidates
    )
    if console:
        report.seen += "; console: " + " ".join(console)
    if case.driver_runs() and report.facts.get("GopModes", 1):
        report.check(record.screen is not None, "no screenshot taken")
    if record.port_writes is None:
        return report
    report.notes += port_notes(record.port_writes)
    report.problems += check_ec_writes(record.port_writes)
    report.problems += check_cmos_writes(record.port_writes, case)
    if sim is not None:
        report.sim_notices = sim.modes
        report.add(*simulator_findings(case, record, report.facts, console, sim, expect, boot_index))
        if case.left is not None:
            report.check(
                [at[0] for _, at in found] == [case.left],
                "the picture's left edge is at %s, the case is about x = %d" % ([at[0] for _, at in found], case.left),
            )
    if case.second_display and case.driver_runs():
        notes, problems, size, seen = second_display_findings(record, report.facts, expect.candidates, found)
        report.add(notes, problems)
        report.screen += " + " + size
        report.seen += "; second display: " + seen
    return report


def check_sse_death(case, record, steps):
    """The Report of a run whose driver holds SSE instructions on a firmware that leaves CR4.OSFXSR
    clear: StartImage must die on an invalid-opcode exception at one of them (QEMU then resets)."""
    report = Report(case)
    report.compared = False
    report.add(*check_qemu_end(record, "guest-reset"))
    report.app_lines = app_lines(record.serial_text)
    report.facts = platform_facts(report.app_lines)
    report.problems += check_app_steps(report.app_lines, steps[: steps.index(("LoadImage", 0)) + 1])
    if not report.check(record.fault is not None, "no invalid-opcode exception logged, or no image base reported"):
        return report
    offset, cr4, instruction = record.fault
    report.seen = "StartImage died: invalid opcode at notice.efi+0x%x (%s) with CR4 0x%x" % (
        offset,
        " ".join(instruction.split("\t")[1:]).strip() or instruction,
        cr4,
    )
    report.note(report.seen)
    report.check(not cr4 & CR4_OSFXSR, "CR4 0x%x has OSFXSR set: the fault is not explained" % cr4)
    report.check(
        bool(SSE_REGISTER.search(instruction)), "the faulting instruction uses no SSE register: %s" % instruction
    )
    return report

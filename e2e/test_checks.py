#!/usr/bin/env python3
"""Tests of the pure checks that judge a real-firmware run from its record,
the case and notice-sim's record of the same machine.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import dataclasses
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import checks  # noqa: E402
import pictures  # noqa: E402
import qemu  # noqa: E402
from cases import CMOS_DATA, CMOS_INDEX, EC_COMMAND, EC_DATA, NOT_FOUND  # noqa: E402
from simulator import SimulatorRecord  # noqa: E402

PLAIN = cases.named("plain")
IDLE = cases.named("secure-ec-idle")
UNSIGNED = cases.named("secure-unsigned-driver")
EC_READS = b"\x80\x93\x0D"
ALL_PICTURES = set(range(1, 7))
FACTS = {"PciIoHandles": 7, "GopModes": 30, "GopWidth": 2, "GopHeight": 1}


def serial_of(steps):
    """Serial text as the application writes it, with the firmware's console noise around."""
    text = "\x1b[=3h\x1b[2J\x1b[01;01HBdsDxe: starting Boot0002\r\n"
    for step, status in steps:
        text += "\r\nE2E %s%s\r\n\x1b[0m\x1b[40m" % (step, "" if status is None else " 0x%X" % status)
    return qemu.ANSI_ESCAPE.sub(b"", text.encode()).replace(b"\r", b"").decode()


def port_writes(ec_registers=EC_READS, marks=b"\x00\xAA"):
    return {
        EC_COMMAND: bytes([0x80] * len(ec_registers)),
        EC_DATA: ec_registers,
        CMOS_INDEX: bytes([0x30] * len(marks)),
        CMOS_DATA: marks,
    }


def good_record(case=PLAIN, screen=(2, 1, bytes(6)), writes=None, facts=FACTS):
    """What a passing run of the case leaves: every step, a clean shutdown, the ports written as expected."""
    steps = cases.expected_app_steps(case, ALL_PICTURES)
    return checks.RunRecord(
        serial_text=serial_of(steps[:3] + list(facts.items()) + steps[3:]),
        ended=checks.QemuEnd(30.0, 0, "guest-shutdown"),
        serial_times={"pictures served": 10.0, "trigger returned": 17.0},
        port_writes=writes if writes is not None else port_writes(),
        screen=screen,
        shot="s.ppm",
    )


def simulated(writes=None, modes=(5,), console=(), screen=(2, 1, bytes(6)), blts=(True,), connected=()):
    return SimulatorRecord(
        "sim",
        modes=list(modes),
        console=list(console),
        last_console=list(console),
        port_writes=writes if writes is not None else port_writes(),
        screen=screen,
        blts=list(blts),
        connected=list(connected),
    )


def judge(case=PLAIN, record=None, sim=None, oracle=False, candidates=()):
    expect = checks.Expected("guest-shutdown", cases.expected_app_steps(case, ALL_PICTURES), list(candidates), oracle)
    return checks.check_run(case, record or good_record(case), expect, simulated() if sim is None else sim)


class AppStepCheckTest(unittest.TestCase):
    def problems(self, steps, case=PLAIN, disk=ALL_PICTURES):
        return checks.check_app_steps(checks.app_lines(serial_of(steps)), cases.expected_app_steps(case, disk))

    def good(self, case=PLAIN):
        return cases.expected_app_steps(case, ALL_PICTURES if not case.in_firmware() else ())

    def test_complete_runs_pass_and_reports_of_the_platform_are_not_steps(self):
        self.assertEqual(self.problems(self.good()), [])
        in_firmware = dataclasses.replace(PLAIN, driver="firmware")
        self.assertEqual(self.problems(self.good(in_firmware), in_firmware, ()), [])
        steps = self.good()
        steps[3:3] = [("DriverSize", 0x2CC0), ("NvmePassThruHandles", 1), ("GopModes", 30)]
        self.assertEqual(self.problems(steps), [])

    def test_failures_are_caught(self):
        cases_ = {
            "failed load": lambda s: s.__setitem__(4, ("LoadImage", 0x8000000000000003)),
            "missing shutdown": lambda s: s.pop(),
            "stopped after start": lambda s: s.__delitem__(slice(6, None)),
            "swapped steps": lambda s: s.insert(7, s.pop(5)),
            "extra report": lambda s: s.append(("InstallTrigger", 0)),
            "host never answered": lambda s: s.__setitem__(-2, ("HostAck", 0x8000000000000012)),
        }
        for name, change in cases_.items():
            with self.subTest(case=name):
                steps = self.good()
                change(steps)
                self.assertNotEqual(self.problems(steps), [])

    def test_a_picture_the_disk_lacks_must_be_reported_missing(self):
        problems = self.problems(self.good(), disk={1, 2, 3, 4, 6})
        self.assertEqual(problems, ["ReadPicture5 returned 0x0, expected 0x800000000000000E"])

    def test_a_refused_driver_ends_the_run_at_once(self):
        steps = cases.expected_app_steps(UNSIGNED, ALL_PICTURES)
        self.assertEqual([s for s, _ in steps][-3:], ["ReadDriver", "LoadImage", "ResetSystem"])
        self.assertEqual(dict(steps)["LoadImage"], cases.ACCESS_DENIED)
        self.assertNotEqual(self.problems(self.good(), UNSIGNED), [])

    def test_a_firmware_carried_run_loads_nothing_and_reads_only_its_disk(self):
        in_firmware = dataclasses.replace(PLAIN, driver="firmware", triggers=2)
        steps = cases.expected_app_steps(in_firmware, {5})
        self.assertIn(("DriverInFirmware", None), steps)
        self.assertNotIn(("StartImage", 0), steps)
        reads = [(s, v) for s, v in steps if s.startswith("ReadPicture")]
        self.assertEqual(reads, [("ReadPicture%d" % m, 0 if m == 5 else NOT_FOUND) for m in range(1, 7)])
        self.assertEqual(steps.count(("InstallTrigger", 0)), 2)
        self.assertNotEqual(self.problems(self.good(), in_firmware, {5}), [])


class TriggerTimeTest(unittest.TestCase):
    def note(self, name, seconds, registers=EC_READS):
        return checks.trigger_time_note(cases.named(name), seconds, registers)

    def test_the_time_is_explained_by_what_the_machine_makes_the_driver_do(self):
        self.assertEqual(self.note("secure-ec-state1", 4.1), "the driver's notice took 4.1 s: the 4 s hold")
        self.assertEqual(self.note("secure-ec-idle", 0.0), "the driver's notice took 0.0 s")
        self.assertIn(
            "the 4 s hold and the 1 s level re-check", self.note("secure-ec-critical", 5.2, b"\x80\x93\x93\x0D")
        )
        absent = self.note("plain", 10.0)
        self.assertIn("the 4 s hold and 6.0 s of embedded-controller time-outs", absent)
        self.assertIn("each of the 3 register reads", absent)
        self.assertIn("not running", self.note("secure-unsigned-driver", 0.1, b""))
        two = checks.trigger_time_note(cases.named("ovmf-two-triggers"), 20.0, EC_READS * 2)
        self.assertIn("the 4 s hold x2 and 12.0 s of embedded-controller time-outs", two)


class PortTest(unittest.TestCase):
    def test_ec_writes_are_one_read_command_per_register(self):
        good = port_writes()
        cases_ = [
            ("as expected", good, []),
            (
                "a command short",
                {**good, EC_COMMAND: b"\x80\x80"},
                ["EC command port saw 80 80, expected 3 read commands"],
            ),
            (
                "a write command",
                {**good, EC_COMMAND: b"\x80\x81\x80"},
                ["EC command port saw 80 81 80, expected 3 read commands"],
            ),
            ("two registers, two commands", port_writes(b"\x80\x93"), []),
            ("the driver never ran", {}, []),
        ]
        for label, writes, problems in cases_:
            with self.subTest(label):
                self.assertEqual(checks.check_ec_writes(writes), problems)

    def test_cmos_marker(self):
        two = cases.named("ovmf-two-triggers")
        cases_ = [
            (PLAIN, b"\x00\xAA", b"\x30\x30", []),
            (IDLE, b"\x00", b"\x30", []),
            (UNSIGNED, b"", b"", []),
            (two, b"\x00\xAA\x00\xAA", b"\x30" * 4, []),
            (two, b"\x00\xAA", b"\x30\x30", ["CMOS marker writes 30 30 / 00 aa, expected index 0x30 with 00 aa 00 aa"]),
            (IDLE, b"\x00\xAA", b"\x30\x30", ["CMOS marker writes 30 30 / 00 aa, expected index 0x30 with 00"]),
            (PLAIN, b"\x00\xAA", b"\x30\x31", ["CMOS marker writes 30 31 / 00 aa, expected index 0x30 with 00 aa"]),
        ]
        for case, data, index, problems in cases_:
            with self.subTest(case=case.name, data=data):
                self.assertEqual(checks.check_cmos_writes({CMOS_INDEX: index, CMOS_DATA: data}, case), problems)

    def test_port_writes_against_notice_sims(self):
        cases_ = [
            (
                "same bytes on every port",
                {EC_COMMAND: b"\x80", CMOS_INDEX: b"\x30"},
                {EC_COMMAND: b"\x80", CMOS_INDEX: b"\x30"},
                [],
            ),
            ("a port neither side wrote", {}, {}, []),
            (
                "a real write notice-sim did not make",
                {CMOS_DATA: b"\xaa"},
                {},
                ["port 0x73 saw aa, notice-sim wrote -"],
            ),
            (
                "a simulated write the machine did not see",
                {},
                {EC_DATA: b"\x80"},
                ["port 0x62 saw -, notice-sim wrote 80"],
            ),
            ("other ports are not judged", {0x80: b"\x01"}, {}, []),
        ]
        for name, real, simulated_writes, problems in cases_:
            with self.subTest(name):
                self.assertEqual(checks.port_write_problems(real, simulated_writes), problems)


class QemuEndTest(unittest.TestCase):
    def test_qemu_end(self):
        cases_ = [
            (checks.QemuEnd(1.0, 0, "guest-shutdown"), None, "guest-shutdown", []),
            (checks.QemuEnd(1.0, 1, "guest-shutdown"), None, "guest-shutdown", ["QEMU exit status 1"]),
            (
                checks.QemuEnd(1.0, 0, "host-signal"),
                None,
                "guest-shutdown",
                ["the run ended by 'host-signal', expected 'guest-shutdown'"],
            ),
            (checks.QemuEnd(1.0, 0, "host-qmp-quit"), None, "host-qmp-quit", []),
            (None, "no E2E TakePicture within 180 s", "guest-shutdown", ["no E2E TakePicture within 180 s"]),
        ]
        for ended, failure, ending, problems in cases_:
            with self.subTest(ended=ended, failure=failure):
                record = checks.RunRecord(ended=ended, failure=failure)
                self.assertEqual(checks.check_qemu_end(record, ending)[1], problems)


class WholeRunTest(unittest.TestCase):
    def test_a_good_run_passes_with_every_note_in_order(self):
        report = judge()
        self.assertEqual(report.problems, [])
        kinds = [re.match(r"[A-Za-z -]+", note).group(0).strip() for note in report.notes]
        self.assertEqual(
            kinds,
            [
                "QEMU ended after",
                "the driver",
                "timeline",
                "firmware offers",
                "driver console lines",
                "EC writes",
                "CMOS writes",
                "notice-sim",
                "controllers bound",
                "notice-sim",
            ],
        )
        self.assertEqual(report.facts, FACTS)

    def test_real_ports_unlike_the_simulated_driver_fail(self):
        report = judge(sim=simulated(port_writes(b"\x80\x93\x93\x0D")))
        self.assertEqual(
            report.problems,
            [
                "port 0x66 saw 80 80 80, notice-sim wrote 80 80 80 80",
                "port 0x62 saw 80 93 0d, notice-sim wrote 80 93 93 0d",
            ],
        )

    def test_a_run_cut_short_is_not_judged_by_its_ports(self):
        record = checks.RunRecord(failure="QMP STOP", serial_text=serial_of([("Begin", None)]))
        report = judge(record=record)
        self.assertEqual(report.problems[0], "QMP STOP")
        self.assertIn("no screenshot taken", report.problems)
        self.assertFalse([p for p in report.problems if p.startswith(("EC", "CMOS", "port", "notice-sim"))])

    def test_simulator_disagreements(self):
        cases_ = [
            ("notice", simulated(modes=(2,)), "notice-sim chose [2] on this machine, the case is built for notice 5"),
            (
                "console",
                simulated(console=("GetBitMapFromFV failure...",)),
                "console lines [], notice-sim's ['GetBitMapFromFV failure...']",
            ),
            ("drawing", simulated(blts=(False,)), "notice-sim drew nothing; the case expects a picture"),
            ("failed", SimulatorRecord("sim", failure="notice-sim failed (3): bad"), "notice-sim failed (3): bad"),
        ]
        for label, sim, problem in cases_:
            with self.subTest(label):
                self.assertEqual(judge(sim=sim).problems, [problem])

    def test_console_lines_are_what_the_case_is_built_to_print(self):
        record = good_record()
        record.serial_text += "GraphicsOutput->Blt failure...\n"
        sim = simulated(console=("GraphicsOutput->Blt failure...",))
        self.assertEqual(
            judge(record=record, sim=sim).problems, ["driver printed ['GraphicsOutput->Blt failure...'], expected []"]
        )
        taller = dataclasses.replace(PLAIN, console=("GraphicsOutput->Blt failure...",), drawn=False)
        self.assertEqual(judge(taller, record, dataclasses.replace(sim, blts=[False])).problems, [])

    def test_the_left_edge_a_case_is_about(self):
        picture = pictures.solid_picture(5, 2, 1)
        screen = (4, 1, bytes(3) + b"".join(picture.rows) + bytes(3))
        facts = dict(FACTS, GopWidth=4)
        record = good_record(screen=screen, facts=facts)
        for left, problems in ((1, []), (0, ["the picture's left edge is at [1], the case is about x = 0"])):
            with self.subTest(left=left):
                case = dataclasses.replace(PLAIN, left=left)
                report = judge(case, record, simulated(screen=screen), candidates=[("notice 5", picture)])
                self.assertEqual(report.problems, problems)
                self.assertEqual(report.seen, "notice 5 at (1, 0)")


class ConnectionsTest(unittest.TestCase):
    UNBOUND = {"NvmeBoundBefore": 0, "AtaBoundBefore": 0}

    def problems(self, case, facts, connected, boot_index=True):
        return checks.check_connections(case, facts, connected, boot_index)[1]

    def test_bound_after_end_of_dxe_must_be_what_the_simulator_connected(self):
        q35 = cases.named("ovmf-std-vga")
        self.assertEqual(self.problems(q35, dict(self.UNBOUND, NvmeBoundAfter=1, AtaBoundAfter=0), ["nvme0"]), [])
        self.assertEqual(self.problems(q35, dict(self.UNBOUND, NvmeBoundAfter=0, AtaBoundAfter=1), ["sata"]), [])
        self.assertTrue(self.problems(q35, dict(self.UNBOUND, NvmeBoundAfter=1, AtaBoundAfter=1), ["nvme0"]))
        self.assertTrue(self.problems(q35, dict(self.UNBOUND, NvmeBoundAfter=0, AtaBoundAfter=0), ["nvme0"]))
        # Bound before the driver ran: the boot manager did it, nothing is shown about the driver.
        before = {"NvmeBoundBefore": 1, "AtaBoundBefore": 0, "NvmeBoundAfter": 1, "AtaBoundAfter": 0}
        self.assertTrue(self.problems(q35, before, ["nvme0"]))

    def test_an_ide_boot_disk_bound_before_counts_for_nothing(self):
        boot_disk = {"NvmeBoundBefore": 0, "AtaBoundBefore": 1}
        nvme = cases.named("ovmf-nvme-only")
        self.assertEqual(self.problems(nvme, dict(boot_disk, NvmeBoundAfter=1, AtaBoundAfter=1), ["nvme0"]), [])
        ide = cases.named("ovmf-ide-only")
        self.assertEqual(self.problems(ide, dict(boot_disk, NvmeBoundAfter=0, AtaBoundAfter=1), []), [])
        # The driver must not connect an IDE controller (class 01/01).
        virtio = cases.named("ovmf-virtio-blk-only")
        self.assertTrue(self.problems(virtio, dict(self.UNBOUND, NvmeBoundAfter=0, AtaBoundAfter=1), []))

    def test_every_nvme_controller_or_else_every_sata_one(self):
        two_nvme, two_ahci = cases.named("ovmf-two-nvme"), cases.named("ovmf-two-ahci")
        for case, after, connected, fails in (
            (two_nvme, (2, 0), ["nvme0", "nvme1"], False),
            (two_nvme, (1, 0), ["nvme0", "nvme1"], True),  # one NVMe left unbound
            (two_nvme, (2, 1), ["nvme0", "nvme1"], True),  # the AHCI controller bound beside them
            (two_ahci, (0, 2), ["sata", "sata1"], False),
            (two_ahci, (0, 1), ["sata", "sata1"], True),
            (cases.named("ovmf-raid-class"), (0, 0), [], False),
            (cases.named("ovmf-raid-class"), (1, 0), [], True),
        ):
            with self.subTest(case=case.name, after=after):
                facts = dict(self.UNBOUND, NvmeBoundAfter=after[0], AtaBoundAfter=after[1])
                self.assertEqual(bool(self.problems(case, facts, connected)), fails)

    def test_a_driver_in_the_firmware_connected_before_the_application_started(self):
        # The end-of-DXE probe: bound when the application starts only if the driver saw end of DXE.
        probe = cases.named("end-of-dxe-probe", driver_in_firmware=True)
        bound = {"NvmeBoundBefore": 1, "AtaBoundBefore": 0, "NvmeBoundAfter": 1, "AtaBoundAfter": 0}
        self.assertEqual(self.problems(probe, bound, ["nvme0"]), [])
        self.assertTrue(self.problems(probe, dict(bound, NvmeBoundBefore=0), ["nvme0"]))
        from_disk = cases.named("end-of-dxe-probe")
        self.assertTrue(self.problems(from_disk, bound, ["nvme0"]))
        self.assertEqual(self.problems(from_disk, dict(bound, NvmeBoundBefore=0), ["nvme0"]), [])

    def test_without_a_lone_boot_index_nothing_is_asserted(self):
        wrong = {"NvmeBoundBefore": 1, "NvmeBoundAfter": 1}
        self.assertEqual(self.problems(cases.named("u-boot-nvme"), wrong, ["nvme0"], boot_index=False), [])
        self.assertEqual(self.problems(PLAIN, wrong, ["nvme0"]), [])


class ScreenTest(unittest.TestCase):
    width, height = 64, 48

    def test_screens_against_the_test_pictures_and_notice_sim(self):
        picture = pictures.make_picture(5)
        right = pictures.expected_screen(self.width, self.height, picture)
        black = pictures.expected_screen(self.width, self.height)
        one_off = bytes([right[0] ^ 1]) + right[1:]
        facts = dict(FACTS, GopWidth=self.width, GopHeight=self.height)
        cases_ = [
            ("the notice", right, right, []),
            ("black where the notice belongs", black, black, ["screen differs from the expected notice 5"]),
            (
                "notice-sim drew one pixel differently",
                right,
                one_off,
                ["the real screen differs from notice-sim's in 1 pixels outside the console text (x 0-0, y 0-0;"],
            ),
        ]
        for label, real, sim_pixels, problems in cases_:
            with self.subTest(label):
                record = good_record(screen=(self.width, self.height, real), facts=facts)
                sim = simulated(screen=(self.width, self.height, sim_pixels))
                report = judge(record=record, sim=sim, oracle=picture)
                self.assertEqual(len(report.problems), len(problems), report.problems)
                for got, wanted in zip(report.problems, problems):
                    self.assertTrue(got.startswith(wanted), got)

    def test_pixels_under_the_console_text_may_differ(self):
        line = "GraphicsOutput->Blt failure..."
        real = bytearray(800 * 600 * 3)
        real[(10 * 800 + 5) * 3] = 255  # inside the text cells of one 30-character line: 240x24 from the corner
        facts = dict(FACTS, GopWidth=800, GopHeight=600)
        case = dataclasses.replace(PLAIN, console=(line,), drawn=False)
        record = good_record(case, screen=(800, 600, bytes(real)), facts=facts)
        record.serial_text += line + "\n"
        sim = simulated(console=(line,), screen=(800, 600, bytes(800 * 600 * 3)), blts=(False,))
        self.assertEqual(judge(case, record, sim).problems, [])
        real[(30 * 800 + 5) * 3] = 255  # below it
        record.screen = (800, 600, bytes(real))
        self.assertIn("outside the console text (x 5-5, y 30-30", judge(case, record, sim).problems[0])

    def test_a_screen_of_another_size(self):
        record = good_record(screen=(self.width, self.height, bytes(self.width * self.height * 3)))
        self.assertEqual(judge(record=record).problems, ["the display shows 64x48, the graphics output reported 2x1"])
        facts = dict(FACTS, GopWidth=self.width, GopHeight=self.height)
        record = good_record(screen=(self.width, self.height, bytes(self.width * self.height * 3)), facts=facts)
        sim = simulated(screen=(self.width, self.height + 1, b""))
        self.assertEqual(judge(record=record, sim=sim).problems, ["notice-sim's screen is 64x49, the real one 64x48"])

    def test_the_text_cells_of_the_lines_from_the_centred_grid(self):
        lines = ["GraphicsOutput->Blt failure...", "x"]
        self.assertEqual(checks.console_text_area(lines, 800, 600), (0, 5, 30 * 8, 5 + 2 * 19))
        self.assertEqual(checks.console_text_area(lines, 1280, 800), (240, 105, 240 + 30 * 8, 105 + 2 * 19))
        self.assertEqual(checks.console_text_area(lines, 640, 480), (0, 2, 30 * 8, 2 + 2 * 19))  # 80x25
        self.assertEqual(checks.console_text_area([], 800, 600), (0, 5, 0, 5))

    def test_differing_pixels_are_given_by_position(self):
        a = bytearray(4 * 3 * 3)
        b = bytearray(a)
        b[(1 * 4 + 2) * 3 + 1] = 9  # x 2, y 1
        b[(2 * 4 + 0) * 3] = 1  # x 0, y 2
        self.assertEqual(checks.differing_pixels(4, bytes(a), bytes(b)), [(2, 1), (0, 2)])
        self.assertEqual(checks.differing_pixels(4, bytes(a), bytes(a)), [])


class FindPictureTest(unittest.TestCase):
    def setUp(self):
        self.picture = pictures.make_picture(5)

    def screen_with(self, width, height, x, y):
        frame = bytearray(width * height * 3)
        for r, row in enumerate(self.picture.rows):
            start = ((y + r) * width + x) * 3
            frame[start : start + len(row)] = row
        return bytes(frame)

    def test_finds_the_picture_wherever_it_lies(self):
        for x, y in ((0, 0), (530, 325), (1280 - 199, 800 - 150), (7, 1)):
            with self.subTest(x=x, y=y):
                self.assertEqual(checks.find_picture(1280, self.screen_with(1280, 800, x, y), self.picture), (x, y))

    def test_a_black_screen_another_picture_or_one_cut_by_the_edge_is_not_it(self):
        self.assertIsNone(checks.find_picture(640, bytes(640 * 480 * 3), self.picture))
        other = pictures.make_picture(4)
        self.assertIsNone(checks.find_picture(1280, self.screen_with(1280, 800, 10, 10), other))
        screen = bytearray(self.screen_with(400, 300, 100, 100))
        screen[((100 + self.picture.height - 1) * 400 + 100) * 3] ^= 0xFF  # one pixel of the bottom row differs
        self.assertIsNone(checks.find_picture(400, bytes(screen), self.picture))
        self.assertIsNone(checks.find_picture(640, bytes(640 * 480 * 3), pictures.RawPicture(5, b"BM")))

    def test_what_the_screen_shows(self):
        screen = (1280, 800, self.screen_with(1280, 800, 530, 325))
        candidates = [("notice 4", pictures.make_picture(4)), ("notice 5", self.picture)]
        self.assertEqual(checks.describe_screen(screen, 1, candidates)[:2], ("1280x800", "notice 5 at (530, 325)"))
        self.assertEqual(checks.describe_screen((2, 1, bytes(6)), 1, candidates)[1], "nothing drawn")
        self.assertEqual(checks.describe_screen((2, 1, b"\1" * 6), 1, candidates)[1], "no picture drawn")
        self.assertEqual(checks.describe_screen(screen, 0, candidates)[:2], ("no GOP", "no graphics output"))


class SecondDisplayTest(unittest.TestCase):
    def setUp(self):
        self.picture = pictures.make_picture(5)
        self.candidates = [("notice 4", pictures.make_picture(4)), ("notice 5", self.picture)]

    def screen(self, at):
        width, height = 400, 300
        frame = pictures.expected_screen(width, height)
        if at:
            frame = bytearray(frame)
            for r, row in enumerate(self.picture.rows):
                start = ((at[1] + r) * width + at[0]) * 3
                frame[start : start + len(row)] = row
        return width, height, bytes(frame)

    def test_the_notice_lands_on_the_second_display_only_through_the_console_splitter(self):
        first = [("notice 5", (100, 75))]
        # (what the application found, where the second display shows the picture, the problem or None)
        for owner, at, problem in (
            (1, None, None),
            (1, (100, 75), "the second display shows notice 5 at (100, 75), expected no picture"),
            (0, (100, 75), None),
            (0, (101, 75), "the second display shows notice 5 at (101, 75), expected notice 5 at (100, 75)"),
            (0, None, "the second display shows nothing drawn, expected notice 5 at (100, 75)"),
            (2, None, "the application found no handle holding the graphics output it located"),
        ):
            with self.subTest(owner=owner, at=at):
                record = checks.RunRecord(second_screen=self.screen(at))
                facts = {"GopOnDevice": owner, "GopHandles": 3}
                notes, problems, size, seen = checks.second_display_findings(record, facts, self.candidates, first)
                self.assertEqual(problems, [problem] if problem else [])
                self.assertEqual(size, "400x300")
                self.assertIn("one of 3", notes[0])

    def test_a_missing_second_screenshot_fails(self):
        record = checks.RunRecord()
        problems = checks.second_display_findings(record, {"GopOnDevice": 1}, self.candidates, [])[1]
        self.assertEqual(problems, ["no screenshot of the second display taken"])

    def test_the_whole_run_reports_both_screens(self):
        case = dataclasses.replace(PLAIN, second_display="virtio-gpu")
        facts = dict(FACTS, GopOnDevice=1, GopHandles=3)
        record = good_record(case, facts=facts)
        record.second_screen = self.screen(None)
        report = judge(case, record)
        self.assertEqual(report.problems, [])
        self.assertEqual(
            (report.screen, report.seen), ("2x1 + 400x300", "nothing drawn; second display: nothing drawn")
        )
        record.second_screen = None
        self.assertIn("no screenshot of the second display taken", judge(case, record).problems)


class SseDeathTest(unittest.TestCase):
    case = cases.named("u-boot-shipped-driver")

    def record(self, fault):
        steps = cases.expected_app_steps(self.case, ALL_PICTURES)
        serial = serial_of(steps[: steps.index(("LoadImage", 0)) + 1] + [("DriverImageBase", 0x1000)])
        return checks.RunRecord(serial_text=serial, ended=checks.QemuEnd(9.0, 0, "guest-reset"), fault=fault)

    def problems(self, fault):
        return checks.check_sse_death(self.case, self.record(fault), cases.expected_app_steps(self.case, ALL_PICTURES))

    def test_an_invalid_opcode_at_an_sse_instruction_with_osfxsr_clear_is_the_expected_death(self):
        report = self.problems((0x3CC, 0x20, "1400013cc: 0f 57 c0 \txorps\t%xmm0, %xmm0"))
        self.assertEqual(report.problems, [])
        self.assertEqual(
            report.seen, "StartImage died: invalid opcode at notice.efi+0x3cc (xorps %xmm0, %xmm0) with CR4 0x20"
        )
        self.assertFalse(report.compared)

    def test_any_other_death_is_not_explained(self):
        cases_ = [
            (None, "no invalid-opcode exception logged"),
            ((0x3CC, 0x220, "xorps %xmm0, %xmm0"), "has OSFXSR set"),
            ((0x3CC, 0x20, "1400013cc: 31 c0 \txorl\t%eax, %eax"), "uses no SSE register"),
        ]
        for fault, problem in cases_:
            with self.subTest(problem):
                self.assertIn(problem, " ".join(self.problems(fault).problems))


if __name__ == "__main__":
    unittest.main()

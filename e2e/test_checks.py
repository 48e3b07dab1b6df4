#!/usr/bin/env python3
"""Tests of the pure checks that judge a real-firmware run from its record,
and of the runner's configuration.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import checks  # noqa: E402
import pictures  # noqa: E402
import run_config  # noqa: E402
import scenarios  # noqa: E402
from scenarios import CMOS_DATA, CMOS_INDEX, EC_COMMAND, EC_DATA  # noqa: E402
from simulator import SimulatorRecord  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PLAIN = scenarios.scenario_named("plain")
IDLE = scenarios.scenario_named("secure-ec-idle")
UNSIGNED = scenarios.scenario_named("secure-unsigned-driver")
EC_READS = b"\x80\x93\x0D"


def serial_of(steps):
    return "".join("E2E %s%s\n" % (step, "" if status is None else " 0x%X" % status) for step, status in steps)


def port_writes(ec_registers=EC_READS, marks=b"\x00\xAA"):
    return {
        EC_COMMAND: bytes([0x80] * len(ec_registers)),
        EC_DATA: ec_registers,
        CMOS_INDEX: bytes([0x30] * len(marks)),
        CMOS_DATA: marks,
    }


def good_record(scenario=PLAIN, screen=(2, 1, bytes(6)), writes=None):
    """What a passing run of the scenario leaves: every step, a clean shutdown, the ports written as expected."""
    return checks.RunRecord(
        serial_text=serial_of(scenarios.expected_app_steps(scenario, False)),
        ended=checks.QemuEnd(30.0, 0, "guest-shutdown"),
        serial_times={"pictures served": 10.0, "trigger returned": 17.0},
        port_writes=writes if writes is not None else port_writes(),
        screen=screen,
        shot="s.ppm",
    )


def simulated(writes=None, modes=(5,), console=(), screen=None):
    return SimulatorRecord(
        "sim",
        modes=list(modes),
        console=list(console),
        port_writes=writes if writes is not None else port_writes(),
        screen=screen,
    )


class EcExpectationTest(unittest.TestCase):
    def test_the_expected_registers_come_from_the_simulated_driver(self):
        cases = [
            ("driver refused", UNSIGNED, simulated(), b""),
            ("no notice-sim run", PLAIN, None, None),
            ("notice-sim failed", PLAIN, SimulatorRecord("sim", failure="notice-sim failed (1)"), None),
            ("notice-sim's reads", PLAIN, simulated(port_writes(b"\x80\x93\x93\x0D")), b"\x80\x93\x93\x0D"),
            ("notice-sim read nothing", PLAIN, simulated({}), b""),
        ]
        for label, scenario, record, expected in cases:
            with self.subTest(label):
                self.assertEqual(checks.expected_ec_registers(scenario, record), expected)

    def test_ec_writes(self):
        good = port_writes()
        cases = [
            ("as expected", good, EC_READS, []),
            (
                "a register missing",
                port_writes(b"\x80\x93"),
                EC_READS,
                [
                    "EC command port saw 80 80, expected 3 read commands",
                    "EC data port saw 80 93, expected registers 80 93 0d",
                ],
            ),
            (
                "another register",
                port_writes(b"\x80\x94\x0D"),
                EC_READS,
                ["EC data port saw 80 94 0d, expected registers 80 93 0d"],
            ),
            (
                "a write command",
                {**good, EC_COMMAND: b"\x80\x81\x80"},
                EC_READS,
                ["EC command port saw 80 81 80, expected 3 read commands"],
            ),
            ("registers unknown, reads well formed", port_writes(b"\x01\x02"), None, []),
            (
                "registers unknown, a command short",
                {**good, EC_COMMAND: b"\x80\x80"},
                None,
                ["EC command port saw 80 80, expected 3 read commands"],
            ),
            ("the driver never ran", {}, b"", []),
        ]
        for label, writes, registers, problems in cases:
            with self.subTest(label):
                self.assertEqual(checks.check_ec_writes(writes, registers), problems)

    def test_unknown_registers_are_said_to_be_unchecked(self):
        self.assertIn("give --notice-sim", checks.ec_notes(port_writes(), None, False)[-1])
        self.assertIn("notice-sim failed", checks.ec_notes(port_writes(), None, True)[-1])
        self.assertEqual(len(checks.ec_notes(port_writes(), EC_READS, True)), 1)


class CmosAndQemuEndTest(unittest.TestCase):
    def test_cmos_marker(self):
        cases = [
            (PLAIN, b"\x00\xAA", b"\x30\x30", []),
            (IDLE, b"\x00", b"\x30", []),
            (UNSIGNED, b"", b"", []),
            (IDLE, b"\x00\xAA", b"\x30\x30", ["CMOS marker writes 30 30 / 00 aa, expected index 0x30 with 00"]),
            (PLAIN, b"\x00\xAA", b"\x30\x31", ["CMOS marker writes 30 31 / 00 aa, expected index 0x30 with 00 aa"]),
        ]
        for scenario, data, index, problems in cases:
            with self.subTest(scenario=scenario.name, data=data):
                writes = {CMOS_INDEX: index, CMOS_DATA: data}
                self.assertEqual(checks.check_cmos_writes(writes, scenario), problems)

    def test_qemu_end(self):
        cases = [
            (checks.QemuEnd(1.0, 0, "guest-shutdown"), None, []),
            (checks.QemuEnd(1.0, 1, "guest-shutdown"), None, ["QEMU exit status 1"]),
            (checks.QemuEnd(1.0, 0, "host-signal"), None, ["shutdown reason 'host-signal', expected guest-shutdown"]),
            (None, "no E2E TakePicture within 180 s", ["no E2E TakePicture within 180 s"]),
        ]
        for ended, failure, problems in cases:
            with self.subTest(ended=ended, failure=failure):
                self.assertEqual(checks.check_qemu_end(checks.RunRecord(ended=ended, failure=failure)), problems)


class WholeRunTest(unittest.TestCase):
    def test_a_good_run_passes_with_every_note_in_order(self):
        report = checks.check_run(PLAIN, good_record(), checks.Expectations(simulator_given=True), simulated())
        self.assertEqual(report.problems, [])
        kinds = [re.match(r"[A-Za-z -]+", note).group(0).strip() for note in report.notes]
        self.assertEqual(
            kinds,
            [
                "QEMU ended after",
                "the driver",
                "timeline",
                "when the application started",
                "driver console lines",
                "EC writes",
                "CMOS writes",
                "notice-sim",
            ],
        )
        self.assertIn("each of the 3 register reads", report.notes[1])

    def test_real_ports_unlike_the_simulated_driver_fail(self):
        sim = simulated(port_writes(b"\x80\x93\x93\x0D"))
        report = checks.check_run(PLAIN, good_record(), checks.Expectations(simulator_given=True), sim)
        self.assertEqual(
            report.problems,
            [
                "EC command port saw 80 80 80, expected 4 read commands",
                "EC data port saw 80 93 0d, expected registers 80 93 93 0d",
                "port 0x66 saw 80 80 80, notice-sim wrote 80 80 80 80",
                "port 0x62 saw 80 93 0d, notice-sim wrote 80 93 93 0d",
            ],
        )

    def test_port_writes_against_notice_sims(self):
        # The matrix and the scenarios both judge port writes with this one check.
        cases = [
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
        for name, real, simulated_writes, problems in cases:
            with self.subTest(name):
                self.assertEqual(checks.port_write_problems(real, simulated_writes), problems)

    def test_without_notice_sim_the_registers_are_not_judged(self):
        report = checks.check_run(PLAIN, good_record(writes=port_writes(b"\x01\x02")), checks.Expectations())
        self.assertEqual(report.problems, [])
        self.assertTrue(any("EC registers not compared" in note for note in report.notes))

    def test_a_run_cut_short_is_not_judged_by_its_ports(self):
        record = checks.RunRecord(failure="QMP STOP", serial_text=serial_of([("Begin", None)]))
        report = checks.check_run(PLAIN, record, checks.Expectations(simulator_given=True))
        self.assertEqual(report.problems[0], "QMP STOP")
        self.assertIn("no screenshot taken", report.problems)
        self.assertFalse([p for p in report.problems if p.startswith(("EC", "CMOS", "port"))])

    def test_simulator_disagreements(self):
        cases = [
            ("notice", simulated(modes=(2,)), "notice-sim chose notice [2], expected [5]"),
            (
                "console",
                simulated(console=("GetBitMapFromFV failure...",)),
                "console lines [], notice-sim's ['GetBitMapFromFV failure...']",
            ),
            ("failed", SimulatorRecord("sim", failure="notice-sim failed (3): bad"), "notice-sim failed (3): bad"),
        ]
        for label, sim, problem in cases:
            with self.subTest(label):
                report = checks.check_run(PLAIN, good_record(), checks.Expectations(simulator_given=True), sim)
                self.assertEqual(report.problems, [problem])


class ScreenTest(unittest.TestCase):
    width, height = 64, 48

    def test_screens_against_the_test_pictures_and_notice_sim(self):
        all_pictures = {5: pictures.make_picture(5)}
        right = pictures.expected_screen(self.width, self.height, all_pictures[5])
        black = pictures.expected_screen(self.width, self.height)
        one_off = bytes([right[0] ^ 1]) + right[1:]
        cases = [
            ("the notice", right, right, []),
            ("black where the notice belongs", black, black, ["screen differs from the expected one"]),
            (
                "notice-sim drew one pixel differently",
                right,
                one_off,
                ["the real screen differs from notice-sim's " "in 1 pixels (sim/screen.png)"],
            ),
        ]
        for label, real, sim_pixels, problems in cases:
            with self.subTest(label):
                record = good_record(screen=(self.width, self.height, real))
                sim = simulated(screen=(self.width, self.height, sim_pixels))
                report = checks.check_run(
                    PLAIN, record, checks.Expectations(pictures=all_pictures, simulator_given=True), sim
                )
                self.assertEqual(len(report.problems), len(problems))
                for got, wanted in zip(report.problems, problems):
                    self.assertTrue(got.startswith(wanted), got)

    def test_a_screen_of_another_size_than_notice_sims(self):
        record = good_record(screen=(self.width, self.height, bytes(self.width * self.height * 3)))
        sim = simulated(screen=(self.width, self.height + 1, b""))
        report = checks.check_run(PLAIN, record, checks.Expectations(simulator_given=True), sim)
        self.assertEqual(report.problems, ["notice-sim screen is 64x49, the real one 64x48"])


class RunConfigTest(unittest.TestCase):
    def test_defaults_are_filled_in_and_made_absolute(self):
        config = run_config.RunConfig(build_dir="b", notice_sim="tools/sim").absolute()
        self.assertEqual(config.driver, os.path.abspath("b/notice.efi"))
        self.assertEqual(config.app, os.path.abspath("b/e2e/app/notice-e2e.efi"))
        self.assertEqual(config.firmware_cache, os.path.abspath("b/firmware-images"))
        self.assertEqual(config.notice_sim, os.path.abspath("tools/sim"))
        self.assertIsNone(config.workdir)
        self.assertEqual(run_config.RunConfig(driver="d.efi").absolute().driver, os.path.abspath("d.efi"))

    def test_no_default_points_into_one_machines_folders(self):
        self.assertTrue(run_config.DEFAULT_BUILD_DIR.startswith(run_config.REPOSITORY + os.sep))
        machine_paths = re.compile(r"""["'](/work|/home|/tmp)\b""")
        for name in sorted(os.listdir(HERE)):
            if name.endswith(".py"):
                with open(os.path.join(HERE, name)) as f:
                    with self.subTest(name):
                        self.assertEqual(machine_paths.findall(f.read()), [])


if __name__ == "__main__":
    unittest.main()

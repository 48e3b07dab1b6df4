#!/usr/bin/env python3
"""Unit tests of the runner's own pieces: test pictures, screen and file
readers, and the checks that decide whether a real-firmware run passed.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import json
import os
import struct
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures  # noqa: E402
import png_read  # noqa: E402
import png_write  # noqa: E402
import checks  # noqa: E402
import qemu  # noqa: E402
import run  # noqa: E402
import scenarios  # noqa: E402
import simulator  # noqa: E402
from run_config import RunConfig  # noqa: E402


ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOTICE_SIM = os.environ.get("NOTICE_SIM", os.path.join(ROOT, "build", "host-gcc", "tools", "notice-sim", "notice-sim"))


def bmp_fields(bmp):
    size, _, _, offset, info, width, height, planes, bits, compression = struct.unpack("<IHHIIiiHHI", bmp[2:34])
    return dict(size=size, offset=offset, info=info, width=width, height=height, bits=bits, compression=compression)


class PictureFilesTest(unittest.TestCase):
    def setUp(self):
        self.all = pictures.make_pictures()

    def test_headers_describe_the_stored_bytes(self):
        for mode, p in self.all.items():
            with self.subTest(mode=mode):
                f = bmp_fields(p.bmp)
                self.assertEqual(p.bmp[:2], b"BM")
                self.assertEqual(f["size"], len(p.bmp))
                self.assertEqual((f["info"], f["compression"], f["bits"]), (40, 0, p.bits))
                row = ((p.width * p.bits + 31) // 32) * 4
                self.assertEqual(f["size"] - f["offset"], row * p.height)
                self.assertEqual(f["offset"], 54 + (4 << p.bits if p.bits != 24 else 0))

    def test_every_picture_has_row_padding(self):
        for mode, p in self.all.items():
            with self.subTest(mode=mode):
                self.assertNotEqual((p.width * p.bits) % 32, 0)

    def test_rows_are_stored_bottom_first(self):
        p = self.all[4]  # 24 bits
        f = bmp_fields(p.bmp)
        r, g, b = p.rows[-1][0:3]
        self.assertEqual(p.bmp[f["offset"] : f["offset"] + 3], bytes((b, g, r)))
        r, g, b = p.rows[0][0:3]
        top = f["offset"] + (p.height - 1) * (((p.width * 24 + 31) // 32) * 4)
        self.assertEqual(p.bmp[top : top + 3], bytes((b, g, r)))

    def test_packed_pixels_are_high_bits_first(self):
        for mode in (2, 3):  # 4 and 1 bits per pixel
            p = self.all[mode]
            with self.subTest(mode=mode):
                f = bmp_fields(p.bmp)
                first_byte = p.bmp[f["offset"]]
                bottom = p.indices[-1]
                if p.bits == 4:
                    self.assertEqual(first_byte, (bottom[0] << 4) | bottom[1])
                else:
                    expected = 0
                    for x in range(8):
                        expected |= bottom[x] << (7 - x)
                    self.assertEqual(first_byte, expected)

    def test_colour_map_entries_are_blue_green_red_reserved(self):
        p = self.all[1]
        r, g, b = p.palette[5]
        self.assertEqual(p.bmp[54 + 4 * 5 : 54 + 4 * 6], bytes((b, g, r, 0)))

    def test_pictures_differ_from_each_other_and_from_black(self):
        screens = {mode: pictures.expected_screen(1280, 800, p) for mode, p in self.all.items()}
        screens[0] = pictures.expected_screen(1280, 800)
        self.assertEqual(len(set(screens.values())), len(screens))


class ScreenTest(unittest.TestCase):
    def test_position_is_centred_ten_pixels_left(self):
        p = pictures.make_picture(1)
        p.width, p.height = 400, 300
        self.assertEqual(pictures.picture_position(1024, 768, p), (302, 234))
        p.width, p.height = 1005, 1
        self.assertEqual(pictures.picture_position(1024, 768, p), (-1, 383))

    def test_expected_screen_places_the_picture(self):
        p = pictures.make_picture(6)
        screen = pictures.expected_screen(1280, 800, p)
        left, top = pictures.picture_position(1280, 800, p)
        corner = ((top * 1280) + left) * 3
        self.assertEqual(screen[corner : corner + 3], p.rows[0][0:3])
        last = (((top + p.height - 1) * 1280) + left + p.width - 1) * 3
        self.assertEqual(screen[last : last + 3], p.rows[-1][-3:])
        self.assertEqual(screen[corner - 3 : corner], b"\0\0\0")
        self.assertEqual(screen[last + 3 : last + 6], b"\0\0\0")
        self.assertEqual(len(screen), 1280 * 800 * 3)


def encode_png(width, height, rgb, filters, channels=3):
    """A PNG whose row y uses filter filters[y % len(filters)]."""
    stride = width * channels
    raw = bytearray()
    previous = bytes(stride)
    for y in range(height):
        row = rgb[y * stride : (y + 1) * stride]
        kind = filters[y % len(filters)]
        out = bytearray()
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            up_left = previous[i - channels] if i >= channels else 0
            predictor = [0, left, up, (left + up) >> 1, png_read._paeth(left, up, up_left)][kind]
            out.append((row[i] - predictor) & 255)
        raw += bytes([kind]) + out
        previous = row

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    colour = 2 if channels == 3 else 6
    return (
        png_read.SIGNATURE
        + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(bytes(raw)))
        + chunk(b"IEND", b"")
    )


class FileReaderTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_png_every_row_filter(self):
        width, height = 7, 10
        rgb = bytes((x * 31 + y * 17 + c * 5) & 255 for y in range(height) for x in range(width) for c in range(3))
        for kind in range(5):
            with self.subTest(filter=kind):
                path = self.write("f%d.png" % kind, encode_png(width, height, rgb, [kind, 0, kind]))
                self.assertEqual(png_read.read_png_rgb(path), (width, height, rgb))

    def test_png_alpha_is_dropped(self):
        rgba = bytes([1, 2, 3, 255, 4, 5, 6, 0])
        path = self.write("a.png", encode_png(2, 1, rgba, [1], channels=4))
        self.assertEqual(png_read.read_png_rgb(path), (2, 1, bytes([1, 2, 3, 4, 5, 6])))

    def test_png_rejects_other_files(self):
        with self.assertRaises(ValueError):
            png_read.read_png_rgb(self.write("x.png", b"P6 1 1 255\n\0\0\0"))

    def test_ppm_with_comment(self):
        path = self.write("s.ppm", b"P6\n# made by a test\n2 1\n255\n" + bytes(range(6)))
        self.assertEqual(qemu.read_ppm(path), (2, 1, bytes(range(6))))

    def test_ppm_truncated(self):
        with self.assertRaises(ValueError):
            qemu.read_ppm(self.write("t.ppm", b"P6 2 2 255\n" + bytes(5)))


def serial_of(steps):
    """Serial text as the application writes it, with the firmware's console noise around."""
    text = "\x1b[=3h\x1b[2J\x1b[01;01HBdsDxe: starting Boot0002\r\n"
    for step, status in steps:
        text += "\r\nE2E %s%s\r\n" % (step, "" if status is None else " 0x%X" % status)
        text += "\x1b[0m\x1b[40m"
    return qemu.ANSI_ESCAPE.sub(b"", text.encode()).replace(b"\r", b"").decode()


class AppStepCheckTest(unittest.TestCase):
    scenario = scenarios.SCENARIOS[0]

    def problems(self, steps, driver_in_firmware=False):
        return checks.check_app_steps(
            checks.app_lines(serial_of(steps)), scenarios.expected_app_steps(self.scenario, driver_in_firmware)
        )

    def good(self, driver_in_firmware=False):
        return list(scenarios.expected_app_steps(self.scenario, driver_in_firmware))

    def test_complete_runs_pass(self):
        self.assertEqual(self.problems(self.good()), [])
        self.assertEqual(self.problems(self.good(True), True), [])

    def test_size_report_is_ignored(self):
        steps = self.good()
        steps.insert(4, ("DriverSize", 0x2CC0))
        self.assertEqual(self.problems(steps), [])

    def test_failures_are_caught(self):
        cases = {
            "failed load": lambda s: s.__setitem__(4, ("LoadImage", 0x8000000000000003)),
            "missing shutdown": lambda s: s.pop(),
            "stopped after start": lambda s: s.__delitem__(slice(6, None)),
            "swapped steps": lambda s: s.insert(7, s.pop(5)),
            "extra report": lambda s: s.append(("InstallTrigger", 0)),
            "host never answered": lambda s: s.__setitem__(-2, ("HostAck", 0x8000000000000012)),
        }
        for name, change in cases.items():
            with self.subTest(case=name):
                steps = self.good()
                change(steps)
                self.assertNotEqual(self.problems(steps), [])

    def test_a_picture_left_out_must_be_reported_missing(self):
        scenario = next(x for x in scenarios.SCENARIOS if x.missing_pictures)
        problems = checks.check_app_steps(
            checks.app_lines(serial_of(self.good())), scenarios.expected_app_steps(scenario, False)
        )
        self.assertEqual(problems, ["ReadPicture5 returned 0x0, expected 0x800000000000000E"])

    def test_a_refused_driver_ends_the_run_at_once(self):
        scenario = next(x for x in scenarios.SCENARIOS if not x.sign_driver)
        steps = scenarios.expected_app_steps(scenario, False)
        self.assertEqual([s for s, _ in steps][-3:], ["ReadDriver", "LoadImage", "ResetSystem"])
        self.assertEqual(dict(steps)["LoadImage"], scenarios.ACCESS_DENIED)
        self.assertEqual(list(checks.expected_ec_registers(scenario, None)), [])
        self.assertNotEqual(checks.check_app_steps(checks.app_lines(serial_of(self.good())), steps), [])

    def test_loading_reports_fail_a_firmware_carried_run(self):
        self.assertNotEqual(self.problems(self.good(), driver_in_firmware=True), [])

    def test_a_firmware_carried_run_finds_no_picture_on_its_disk(self):
        good = self.good(True)
        self.assertEqual([value for step, value in good if step.startswith("ReadPicture")], [scenarios.NOT_FOUND] * 6)
        with_read = [(step, 0 if step == "ReadPicture1" else value) for step, value in good]
        self.assertNotEqual(self.problems(with_read, True), [])


class TriggerTimeTest(unittest.TestCase):
    # The registers the driver asked the EC for in each scenario (seen on QEMU's data port stand-in).
    EC_READS = {
        "secure-ec-state1": b"\x80\x93\x0D",
        "secure-ec-idle": b"\x80\x93\x0D",
        "secure-ec-critical": b"\x80\x93\x93\x0D",
        "plain": b"\x80\x93\x0D",
        "secure-unsigned-driver": b"",
    }

    def note(self, name, seconds):
        return checks.trigger_time_note(scenarios.scenario_named(name), seconds, self.EC_READS[name])

    def test_the_time_is_explained_by_what_the_machine_makes_the_driver_do(self):
        self.assertEqual(self.note("secure-ec-state1", 4.1), "the driver's notice took 4.1 s: the 4 s hold")
        self.assertEqual(self.note("secure-ec-idle", 0.0), "the driver's notice took 0.0 s")
        self.assertIn("the 4 s hold and the 1 s level re-check", self.note("secure-ec-critical", 5.2))
        absent = self.note("plain", 10.0)
        self.assertIn("the 4 s hold and 6.0 s of embedded-controller time-outs", absent)
        self.assertIn("each of the 3 register reads", absent)
        self.assertIn("not running", self.note("secure-unsigned-driver", 0.1))


@unittest.skipUnless(os.path.exists(NOTICE_SIM), "notice-sim not built (make host-tools, or set NOTICE_SIM)")
class ExpectedEcReadsTest(unittest.TestCase):
    """The EC reads the runner expects come from notice-sim running the driver's own code on the scenario's
    machine; the literal registers here are the oracle."""

    def registers_read(self, scenario):
        with tempfile.TemporaryDirectory() as work:
            record = simulator.run_simulator(scenario, NOTICE_SIM, work, 640, 480, {}, want_screen=False)
        self.assertIsNone(record.failure)
        return checks.expected_ec_registers(scenario, record)

    def test_ec_registers_read(self):
        cases = [
            (0x02, [0x80, 0x93, 0x93, 0x0D]),  # code 2, level 2: the level is read again
            (0x06, [0x80, 0x93, 0x0D]),  # code 2, level 6: not critical
            (0xFF, [0x80, 0x93, 0x0D]),  # absent controller: code 3
            (0x01, [0x80, 0x93, 0x0D]),
        ]
        for byte, registers in cases:
            with self.subTest(byte=byte):
                self.assertEqual(list(self.registers_read(scenarios.Scenario("x", "", 0, ec_byte=byte))), registers)

    def test_every_scenario_with_a_running_driver_reads_the_state_code_first(self):
        for scenario in scenarios.SCENARIOS:
            if scenario.driver_runs():
                with self.subTest(scenario.name):
                    self.assertEqual(self.registers_read(scenario)[:1], b"\x80")


class ScenarioTest(unittest.TestCase):
    def test_simulator_gets_the_same_machine(self):
        no_storage = next(s for s in scenarios.SCENARIOS if s.machine == "pc")
        args = simulator.simulator_arguments(no_storage, 1280, 800, {"PICTURE1.BMP": "/p1"})
        self.assertIn("ide=01.01.80", args)
        self.assertNotIn("nvme0=01.08.02", args)
        self.assertIn("1=/p1", args)
        self.assertEqual(args.count("--no-picture"), 5)
        secure = next(s for s in scenarios.SCENARIOS if s.secure_boot and s.ec_byte == 0x01)
        args = simulator.simulator_arguments(secure, 1280, 800, {})
        self.assertEqual(args[args.index("--secure-boot") + 1], "1")
        self.assertIn("0x0D=0x01", args)
        self.assertNotIn("--ec-kind", args)

    def test_scenario_names_are_unique(self):
        self.assertEqual(len(scenarios.SCENARIO_NAMES), len(set(scenarios.SCENARIO_NAMES)))


class StorageProbeTest(unittest.TestCase):
    """The NVMe binding the application saw: one with the driver in the firmware, none with it loaded late."""

    probe = next(s for s in scenarios.SCENARIOS if s.probe_nvme)

    def problems(self, bound, driver_in_firmware, scenario=None):
        lines = checks.app_lines(serial_of([("Begin", None), ("NvmePassThruHandles", bound), ("BlockIoHandles", 2)]))
        return checks.check_storage_probe(lines, scenario or self.probe, driver_in_firmware)

    def test_binding_expected_only_from_the_firmware_carried_driver(self):
        cases = [(1, True, True), (0, True, False), (0, False, True), (1, False, False)]
        for bound, in_firmware, passes in cases:
            with self.subTest(bound=bound, in_firmware=in_firmware):
                self.assertEqual(self.problems(bound, in_firmware) == [], passes)

    def test_other_scenarios_only_note_the_counts(self):
        self.assertEqual(self.problems(0, True, scenarios.SCENARIOS[0]), [])

    def test_counts_do_not_count_as_steps(self):
        steps = list(scenarios.expected_app_steps(scenarios.SCENARIOS[0], True))
        steps[3:3] = [("NvmePassThruHandles", 1), ("BlockIoHandles", 2)]
        problems = checks.check_app_steps(
            checks.app_lines(serial_of(steps)), scenarios.expected_app_steps(scenarios.SCENARIOS[0], True)
        )
        self.assertEqual(problems, [])

    def test_only_the_probe_boots_the_disk_alone(self):
        settings = RunConfig(code="c", secure_code="s", timeout=1.0)
        config = run.machine_config(self.probe, settings, "c", "esp.img", "")
        command = " ".join(qemu.Machine(config, tempfile.mkdtemp()).command_line())
        self.assertIn("virtio-blk-pci,drive=esp0,bootindex=0", command)
        self.assertNotIn(
            "bootindex",
            " ".join(
                qemu.Machine(
                    run.machine_config(scenarios.SCENARIOS[0], settings, "c", "esp.img", ""), tempfile.mkdtemp()
                ).command_line()
            ),
        )


class SimulatorOutputTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def test_port_writes_in_order_per_port(self):
        events = [
            {"kind": "port_write", "port": "0x72", "value": "0x30"},
            {"kind": "port_read", "port": "0x66", "value": "0x1"},
            {"kind": "port_write", "port": "0x66", "value": "0x80"},
            {"kind": "port_write", "port": "0x73", "value": "0x0"},
            {"kind": "call", "name": "Stall"},
            {"kind": "port_write", "port": "0x72", "value": "0x30"},
            {"kind": "port_write", "port": "0x73", "value": "0xAA"},
        ]
        with open(os.path.join(self.dir, "events.jsonl"), "w") as f:
            f.write("".join(json.dumps(e) + "\n" for e in events))
        self.assertEqual(
            simulator.simulated_port_writes(self.dir), {0x72: b"\x30\x30", 0x73: b"\x00\xAA", 0x66: b"\x80"}
        )

    def test_console_texts_become_stripped_lines(self):
        summary = {
            "notifications": [
                {"console": ["GetBitMapFromFV failure...\r\n", "ConvertBmpToGopBltofTarvex failure...\r\n"]}
            ]
        }
        with open(os.path.join(self.dir, "summary.json"), "w") as f:
            json.dump(summary, f)
        self.assertEqual(
            simulator.simulated_console(self.dir)[1],
            ["GetBitMapFromFV failure...", "ConvertBmpToGopBltofTarvex failure..."],
        )

    def test_ide_boot_disk_is_no_virtio_device(self):
        no_storage = next(s for s in scenarios.SCENARIOS if s.machine == "pc")
        self.assertNotIn("virtio=01.00.00", simulator.simulator_arguments(no_storage, 1280, 800, {}))
        self.assertIn("virtio=01.00.00", simulator.simulator_arguments(scenarios.SCENARIOS[0], 1280, 800, {}))

    def test_png_written_reads_back(self):
        pixels = bytes((x * 7 + y * 3) & 255 for y in range(5) for x in range(3 * 4))
        path = os.path.join(self.dir, "s.png")
        png_write.write_png_rgb(path, 4, 5, pixels)
        self.assertEqual(png_read.read_png_rgb(path), (4, 5, pixels))


class FirmwareVariantTest(unittest.TestCase):
    def test_each_scenario_boots_the_variant_with_its_pictures(self):
        variants = {s.name: s.firmware_variant() for s in scenarios.SCENARIOS if s.runs_in_firmware()}
        self.assertEqual(variants["plain"], "full")
        self.assertEqual(variants["missing-picture"], "missing-5")
        self.assertEqual(variants["malformed-picture"], "malformed-5")
        self.assertNotIn("secure-unsigned-driver", variants)


if __name__ == "__main__":
    unittest.main()

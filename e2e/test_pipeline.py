#!/usr/bin/env python3
"""Tests of the pipeline's own pieces around the boot: the settings, the disks
and the inner volume it builds, the interrupt log it reads, notice-sim's EC
reads it expects, and the table, JSON and README section it writes.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import os
import re
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import boot_disks  # noqa: E402
import cases  # noqa: E402
import checks  # noqa: E402
import pipeline  # noqa: E402
import run  # noqa: E402
import simulator  # noqa: E402
from pipeline import make_images  # noqa: E402

NOTICE_SIM = os.environ.get("NOTICE_SIM", pipeline.DEFAULT_NOTICE_SIM)


class SettingsTest(unittest.TestCase):
    def test_defaults_are_filled_in_and_made_absolute(self):
        settings = pipeline.Settings(build_dir="b", notice_sim="tools/sim").absolute()
        self.assertEqual(settings.driver, os.path.abspath("b/notice.efi"))
        self.assertEqual(settings.uboot_driver, settings.driver)
        self.assertEqual(settings.app, os.path.abspath("b/e2e/app/notice-e2e.efi"))
        self.assertEqual(settings.firmware_cache, os.path.abspath("b/firmware-images"))
        self.assertEqual(settings.notice_sim, os.path.abspath("tools/sim"))
        self.assertIsNone(settings.workdir)
        self.assertEqual(pipeline.Settings(driver="d.efi").absolute().driver, os.path.abspath("d.efi"))

    def test_no_default_points_into_one_machines_folders(self):
        self.assertTrue(pipeline.DEFAULT_BUILD_DIR.startswith(pipeline.REPOSITORY + os.sep))
        machine_paths = re.compile(r"""["'](/work|/home|/tmp)\b""")
        for folder in (HERE, os.path.join(HERE, "firmware")):
            for name in sorted(os.listdir(folder)):
                if name.endswith(".py"):
                    with open(os.path.join(folder, name)) as f, self.subTest(name):
                        self.assertEqual(machine_paths.findall(f.read()), [])

    def test_the_command_line_names_cases_and_sets(self):
        def names(*argv):
            return [(c.name, c.driver) for c in run.chosen_cases(run.parse_arguments(list(argv)))]

        self.assertEqual(names(), [("plain", "disk")])
        self.assertEqual(
            names("--driver-in-firmware", "plain", "ovmf-ramfb"), [("plain", "firmware"), ("ovmf-ramfb", "disk")]
        )
        self.assertEqual(len(names("--set", "matrix")), 66)
        with self.assertRaises(SystemExit), open(os.devnull, "w") as quiet:
            stderr, sys.stderr = sys.stderr, quiet
            try:
                run.parse_arguments(["no-such-case"])
            finally:
                sys.stderr = stderr


class DisksTest(unittest.TestCase):
    def test_one_efi_partition_holds_the_fat_image_from_sector_2048(self):
        with tempfile.TemporaryDirectory() as d:
            fat = os.path.join(d, "esp.img")
            content = bytes(range(256)) * 64  # 16 KiB, 32 sectors
            with open(fat, "wb") as f:
                f.write(content)
            with open(boot_disks.with_partition_table(fat, os.path.join(d, "disk.img")), "rb") as f:
                data = f.read()
        self.assertEqual(data[510:512], b"\x55\xaa")
        status, kind, start, sectors = data[446], data[450], *struct.unpack("<II", data[454:462])
        self.assertEqual((status, kind, start, sectors), (0, 0xEF, 2048, 32))
        self.assertEqual(data[462:510], bytes(48))  # the other three entries are empty
        self.assertEqual(data[2048 * 512 :], content)

    def test_the_inner_volume_file_is_one_the_image_builder_accepts(self):
        ffs = make_images.ffs  # the insertion tool's volume reader
        volume = bytes(range(256)) * 5
        data = make_images.volume_image_file(volume)
        parsed = ffs.read_file(data, 0, len(data))
        self.assertEqual((parsed.type, parsed.size, data[23]), (0x0B, len(data), 0xF8))
        self.assertTrue(ffs.header_checksum_ok(data, parsed))
        sections = ffs.file_sections(data, parsed)
        self.assertEqual([s.type for s in sections], [0x17])
        self.assertEqual(data[sections[0].body_offset : sections[0].end], volume)


class InvalidOpcodeLogTest(unittest.TestCase):
    LOG = """Servicing hardware INT=0x20
     0: v=20 e=0000 i=0 cpl=0 IP=0010:000000001df00000 pc=000000001df00000 SP=0018:0000000000100000
RIP=000000001df00000 RFL=00000202 [-------] CPL=0 II=0 A20=1 SMM=0 HLT=0
CR0=80000011 CR2=0000000000000000 CR3=0000000000080000 CR4=00000020
     1: v=06 e=0000 i=0 cpl=0 IP=0010:000000001dcd93cc pc=000000001dcd93cc SP=0018:000000000010ce50
RIP=000000001dcd93cc RFL=00000002 [-------] CPL=0 II=0 A20=1 SMM=0 HLT=0
CR0=80000011 CR2=0000000000000000 CR3=0000000000080000 CR4=00000020
check_exception old: 0xd new 0xe
Triple fault
"""

    def test_the_last_invalid_opcode_with_its_control_registers(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "interrupts.log")
            with open(path, "w") as f:
                f.write(self.LOG)
            self.assertEqual(pipeline.last_invalid_opcode(path), (0x1DCD93CC, 0x20))
            with open(path, "w") as f:
                f.write(self.LOG.replace("v=06", "v=0d"))
            self.assertIsNone(pipeline.last_invalid_opcode(path))


@unittest.skipUnless(os.path.exists(NOTICE_SIM), "notice-sim not built (make host-tools, or set NOTICE_SIM)")
class ExpectedEcReadsTest(unittest.TestCase):
    """The EC reads a run must show come from notice-sim running the driver's own code on the case's
    machine; the literal registers here are the oracle."""

    def registers_read(self, case):
        facts = {"PciIoHandles": 1, "GopModes": 1, "GopWidth": 640, "GopHeight": 480}
        with tempfile.TemporaryDirectory() as work:
            args = simulator.simulator_arguments(case, facts, [])
            record = simulator.run_simulator(NOTICE_SIM, os.path.join(work, "notice-sim"), args, False)
        self.assertIsNone(record.failure)
        return record.port_writes.get(cases.EC_DATA, b"")

    def test_ec_registers_read(self):
        cases_ = [
            (0x02, [0x80, 0x93, 0x93, 0x0D]),  # code 2, level 2: the level is read again
            (0x06, [0x80, 0x93, 0x0D]),  # code 2, level 6: not critical
            (0xFF, [0x80, 0x93, 0x0D]),  # absent controller: code 3
            (0x01, [0x80, 0x93, 0x0D]),
        ]
        for byte, registers in cases_:
            with self.subTest(byte=byte):
                self.assertEqual(list(self.registers_read(cases.Case("x", "", 0, ec_byte=byte))), registers)

    def test_every_scenario_with_a_running_driver_reads_the_state_code_first(self):
        for case in cases.SCENARIOS:
            if case.driver_runs():
                with self.subTest(case.name):
                    self.assertEqual(self.registers_read(case)[:1], b"\x80")


def record(status="pass", **fields):
    report = checks.Report(cases.named(fields.pop("name", "ovmf-std-vga")))
    report.status = status
    report.firmware = "ovmf-2022.11"
    report.sim_notices = fields.pop("notices", [5])
    for name, value in fields.items():
        setattr(report, name, value)
    return pipeline.result_record(report)


class ResultsTest(unittest.TestCase):
    def test_only_the_matrix_section_changes(self):
        text = "# Title\n\nintro\n\n%s\nold table\n%s\n\n## Next\nrest\n" % (pipeline.README_BEGIN, pipeline.README_END)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "README.md")
            with open(path, "w") as f:
                f.write(text)
            pipeline.update_readme(path, "| new |\n")
            with open(path) as f:
                self.assertEqual(f.read(), text.replace("old table\n", "| new |\n"))
            with open(path, "w") as f:
                f.write("# no section\n")
            with self.assertRaises(RuntimeError):
                pipeline.update_readme(path, "| new |\n")
            with open(path) as f:
                self.assertEqual(f.read(), "# no section\n")

    def test_the_table_has_a_row_per_case_and_gives_the_reasons(self):
        records = [
            record(screen="1280x800", seen="notice 5 at (530, 325)", elapsed=12.3),
            record("fail", name="u-boot-nvme", notices=[4, 4], screen="no GOP"),
            record("not run", name="u-boot-std-vga", notices=[]),
        ]
        table = pipeline.markdown_table(records).splitlines()
        self.assertEqual(
            table[2],
            "| ovmf-std-vga | ovmf-2022.11 | std-vga | 1280x800 | nvme+ahci | test | 5 "
            "| notice 5 at (530, 325) | yes | 12 s |",
        )
        self.assertIn("| 4, 4 |", table[3])
        self.assertIn("**no**", table[3])
        self.assertIn("| default | ide | test | - | - | not run |", table[4])
        self.assertIn("u-boot-nvme, u-boot-std-vga: " + cases.named("u-boot-nvme").why + ".", table)

    def test_a_row_names_its_firmware_and_a_run_standing_for_two_cases(self):
        on_2025 = record(screen="1024x768", seen="notice 5 at (402, 309)", elapsed=9.6)
        on_2025["firmware"], on_2025["same_run_as"] = "ovmf-2025.02", "end-of-dxe-probe [ovmf-2025.02]"
        row = pipeline.markdown_table([on_2025]).splitlines()[2]
        self.assertTrue(row.startswith("| ovmf-std-vga | ovmf-2025.02 | std-vga |"), row)
        self.assertTrue(row.endswith("| yes | 10 s, end-of-dxe-probe [ovmf-2025.02]'s run |"), row)
        two = record(name="ovmf-two-displays", screen="1024x768 + 1024x768")
        self.assertEqual((two["display"], two["resolution"]), ("std-vga+virtio-gpu", "1024x768 + 1024x768"))

    def test_a_run_notice_sim_cannot_explain_says_so(self):
        died = record(name="u-boot-shipped-driver", notices=[], compared=False)
        self.assertIsNone(died["equals_notice_sim"])
        self.assertIn("| n/a: died as expected |", pipeline.markdown_table([died]))


if __name__ == "__main__":
    unittest.main()


class FatVolume(unittest.TestCase):
    def test_each_folder_is_made_once_before_what_goes_in_it(self):
        calls = []
        real = boot_disks.run_tool
        boot_disks.run_tool = lambda args, env=None: calls.append(args)
        try:
            boot_disks.fat_volume("v.img", 2048, {"EFI/BOOT/BOOTX64.EFI": "a", "EFI/BOOT/x.efi": "b", "P.EFI": "c"})
        finally:
            boot_disks.run_tool = real
        self.assertEqual(calls[0], ["mkfs.vfat", "-C", "v.img", "2048"])
        self.assertEqual(calls[1], ["mmd", "-i", "v.img", "::/EFI", "::/EFI/BOOT"])
        self.assertEqual([c[-1] for c in calls[2:]], ["::/EFI/BOOT/BOOTX64.EFI", "::/EFI/BOOT/x.efi", "::/P.EFI"])

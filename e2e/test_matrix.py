#!/usr/bin/env python3
"""Unit tests of the compatibility matrix's own pieces: the partitioned boot
disk U-Boot needs, finding a picture on a screen, the notice-sim options
built from what the firmware reported, the edge and hostile pictures, the
cells' QEMU options, the connection check and the README section.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import matrix  # noqa: E402
import matrix_cells  # noqa: E402
import matrix_firmware  # noqa: E402
import matrix_pictures  # noqa: E402
import pictures  # noqa: E402


def bmp_header(bmp):
    size, offset, info, width, height, bits = struct.unpack("<I4xIIIIxxH", bmp[2:30])
    return dict(size=size, offset=offset, info=info, width=width, height=height, bits=bits)


def row_size(width, bits):
    """The decoder's row size: formed in 32 bits."""
    return (((width * bits + 31) & 0xFFFFFFFF) // 8) & ~3


class PartitionedDiskTest(unittest.TestCase):
    def test_one_efi_partition_holds_the_fat_image_from_sector_2048(self):
        with tempfile.TemporaryDirectory() as d:
            fat = os.path.join(d, "esp.img")
            content = bytes(range(256)) * 64  # 16 KiB, 32 sectors
            with open(fat, "wb") as f:
                f.write(content)
            disk = matrix.with_partition_table(fat, os.path.join(d, "disk.img"))
            with open(disk, "rb") as f:
                data = f.read()
        self.assertEqual(data[510:512], b"\x55\xaa")
        status, kind, start, sectors = data[446], data[450], *struct.unpack("<II", data[454:462])
        self.assertEqual((status, kind, start, sectors), (0, 0xEF, 2048, 32))
        self.assertEqual(data[462:510], bytes(48))  # the other three entries are empty
        self.assertEqual(data[2048 * 512 :], content)


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
                self.assertEqual(matrix.find_picture(1280, self.screen_with(1280, 800, x, y), self.picture), (x, y))

    def test_a_black_screen_or_another_picture_is_not_it(self):
        self.assertIsNone(matrix.find_picture(640, bytes(640 * 480 * 3), self.picture))
        other = pictures.make_picture(4)
        self.assertIsNone(matrix.find_picture(1280, self.screen_with(1280, 800, 10, 10), other))

    def test_a_picture_cut_by_the_screen_edge_is_not_found(self):
        screen = bytearray(self.screen_with(400, 300, 100, 100))
        last = ((100 + self.picture.height - 1) * 400 + 100) * 3
        screen[last] ^= 0xFF  # one pixel of the bottom row differs
        self.assertIsNone(matrix.find_picture(400, bytes(screen), self.picture))

    def test_a_picture_without_pixels_is_never_found(self):
        raw = matrix_pictures.RawPicture(5, b"BM")
        self.assertIsNone(matrix.find_picture(640, bytes(640 * 480 * 3), raw))


class SimulatorArgumentsTest(unittest.TestCase):
    FILES = {"PICTURE%d.BMP" % m: "/p/%d.bmp" % m for m in (1, 2, 3, 4, 6)}

    def options(self, args):
        pairs = {}
        for i, a in enumerate(args):
            if a.startswith("--"):
                value = args[i + 1] if i + 1 < len(args) and not args[i + 1].startswith("--") else True
                pairs.setdefault(a, []).append(value)
        return pairs

    def test_the_machine_is_what_the_firmware_reported(self):
        cases = [
            # cell, facts, expected --pci values, --no-gop given
            (
                matrix_cells.Cell("a", "", 5),
                {"PciIoHandles": 7, "GopModes": 30},
                ["virtio=01.00.00", "sata=01.06.01", "nvme0=01.08.02"],
                False,
            ),
            (
                matrix_cells.Cell("b", "", 5, storage="nvme"),
                {"PciIoHandles": 5, "GopModes": 1},
                ["ide=01.01.80", "nvme0=01.08.02"],
                False,
            ),
            (
                matrix_cells.Cell("c", "", 4, storage="virtio-blk"),
                {"PciIoHandles": 4, "GopModes": 1},
                ["ide=01.01.80", "virtio=01.00.00"],
                False,
            ),
            # U-Boot: NVMe on the bus, but no PCI I/O protocol and no graphics output.
            (
                matrix_cells.Cell("d", "", 4, firmware=matrix_cells.UBOOT, storage="nvme"),
                {"PciIoHandles": 0},
                ["none"],
                True,
            ),
        ]
        for cell, facts, pci, no_gop in cases:
            with self.subTest(cell=cell.name):
                o = self.options(matrix.simulator_arguments(cell, facts, 800, 600, self.FILES))
                self.assertEqual(o["--pci"], pci)
                self.assertEqual("--no-gop" in o, no_gop)
                self.assertEqual(o["--screen"], ["800x600"])
                self.assertEqual(o["--no-picture"], ["5"])
                self.assertEqual(o["--picture"], ["%d=/p/%d.bmp" % (m, m) for m in (1, 2, 3, 4, 6)])

    def test_the_trigger_count_goes_to_the_simulator(self):
        cell = matrix_cells.Cell("t", "", 5, triggers=2)
        o = self.options(matrix.simulator_arguments(cell, {"PciIoHandles": 7, "GopModes": 1}, 1280, 800, {}))
        self.assertEqual(o["--triggers"], ["2"])


class VolumeOrderTest(unittest.TestCase):
    """The simulator's volumes in the order the application saw the real ones."""

    APP = {"PICTURE5.BMP": "/app/5.bmp"}
    FIRMWARE = {m: "/fw/%d.bmp" % m for m in (1, 2, 3, 4, 6)}

    def volumes(self, facts, firmware, app=None):
        args = matrix.simulator_arguments(
            matrix_cells.Cell("v", "", 5),
            dict(facts, PciIoHandles=7, GopModes=1),
            1280,
            800,
            self.APP if app is None else app,
            firmware,
        )
        first = [args[i + 1] for i, a in enumerate(args) if a == "--picture"]
        second = [args[i + 1] for i, a in enumerate(args) if a == "--second-volume"]
        return first, second

    def test_the_application_volume_after_the_firmware_volume(self):
        first, second = self.volumes({"FirmwareVolumeHandles": 1, "PictureVolumeIndex": 1}, [self.FIRMWARE])
        self.assertEqual(first, ["%d=/fw/%d.bmp" % (m, m) for m in (1, 2, 3, 4, 6)])
        self.assertEqual(second, ["5=/app/5.bmp"])

    def test_the_application_volume_listed_first(self):
        first, second = self.volumes({"FirmwareVolumeHandles": 1, "PictureVolumeIndex": 0}, [self.FIRMWARE])
        self.assertEqual((first, len(second)), (["5=/app/5.bmp"], 5))

    def test_a_firmware_volume_without_notice_pictures_comes_first_but_is_empty(self):
        first, second = self.volumes({"FirmwareVolumeHandles": 1, "PictureVolumeIndex": 1}, [{}])
        self.assertEqual((first, second), ([], ["5=/app/5.bmp"]))

    def test_an_inner_volume_follows_the_dxe_volume_and_an_empty_third_is_left_out(self):
        inner = {5: "/inner/5.bmp"}
        first, second = self.volumes(
            {"FirmwareVolumeHandles": 2, "PictureVolumeIndex": 2}, [self.FIRMWARE, inner], app={}
        )
        self.assertEqual((len(first), second), (5, ["5=/inner/5.bmp"]))
        with self.assertRaises(ValueError):
            self.volumes({"FirmwareVolumeHandles": 2, "PictureVolumeIndex": 2}, [self.FIRMWARE, inner])

    def test_without_firmware_volumes_the_application_volume_is_the_only_one(self):
        first, second = self.volumes({"FirmwareVolumeHandles": 0, "PictureVolumeIndex": 0}, [])
        self.assertEqual((first, second), (["5=/app/5.bmp"], []))


class ExpectedStepsTest(unittest.TestCase):
    def test_driver_in_the_firmware_reads_only_what_the_boot_disk_holds(self):
        cell = matrix_cells.Cell("f", "", 5, firmware_image="full", triggers=2)
        steps = matrix.expected_steps(cell, {"PICTURE5.BMP": "/x"})
        self.assertIn(("DriverInFirmware", None), steps)
        self.assertNotIn(("StartImage", 0), steps)
        reads = [(s, v) for s, v in steps if s.startswith("ReadPicture")]
        self.assertEqual(reads, [("ReadPicture%d" % m, 0 if m == 5 else 0x800000000000000E) for m in range(1, 7)])
        self.assertEqual(steps.count(("InstallTrigger", 0)), 2)

    def test_driver_from_disk_is_loaded_started_and_told_of_end_of_dxe(self):
        steps = matrix.expected_steps(matrix_cells.Cell("d", "", 5), {"PICTURE%d.BMP" % m: "" for m in range(1, 7)})
        for step in ("LoadImage", "StartImage", "SignalEndOfDxe", "ReadPicture6", "InstallTrigger"):
            self.assertIn((step, 0), steps)


class VolumeImageFileTest(unittest.TestCase):
    def test_the_file_is_one_the_image_builder_accepts_and_holds_the_volume(self):
        ffs = matrix_firmware.ffs  # the insertion tool's volume reader
        volume = bytes(range(256)) * 5
        data = matrix_firmware.volume_image_file(volume)
        parsed = ffs.read_file(data, 0, len(data))
        self.assertEqual((parsed.type, parsed.size, data[23]), (0x0B, len(data), 0xF8))
        self.assertTrue(ffs.header_checksum_ok(data, parsed))
        sections = ffs.file_sections(data, parsed)
        self.assertEqual([s.type for s in sections], [0x17])
        self.assertEqual(data[sections[0].body_offset : sections[0].end], volume)


class EdgePicturesTest(unittest.TestCase):
    def test_the_edge_pictures_are_sized_from_the_screen(self):
        cases = [("fits-exactly", 780, 40), ("too-wide", 781, 40), ("taller-than-screen", 100, 601)]
        for name, width, height in cases:
            with self.subTest(name=name):
                picture = matrix_pictures.picture_set(name, 800, 600)[5]
                h = bmp_header(picture.bmp)
                self.assertEqual((h["width"], h["height"], h["size"]), (width, height, len(picture.bmp)))
                self.assertEqual(h["size"] - h["offset"], row_size(width, 24) * height)
                self.assertNotIn(b"\0\0\0", b"".join(picture.rows))  # no black pixel

    def test_the_hostile_pictures_pass_the_size_checks_they_aim_past(self):
        for name in ("wrapping-row-size", "zero-width-tall"):
            with self.subTest(name=name):
                bmp = matrix_pictures.picture_set(name)[5].bmp
                h = bmp_header(bmp)
                self.assertEqual(h["size"], len(bmp))
                self.assertEqual(h["size"] - h["offset"], row_size(h["width"], h["bits"]) * h["height"])
        wrapping = bmp_header(matrix_pictures.picture_set("wrapping-row-size")[5].bmp)
        self.assertLess(row_size(wrapping["width"], 24), wrapping["width"] * 3)  # the row size wrapped
        tall = bmp_header(matrix_pictures.picture_set("zero-width-tall")[5].bmp)
        self.assertEqual((tall["width"], tall["height"]), (0, 0x7FFFFFFF))

    def test_other_modes_keep_the_test_pictures(self):
        test = pictures.make_pictures()
        chosen = matrix_pictures.picture_set("too-wide", 800, 600)
        self.assertEqual({m: p.bmp for m, p in chosen.items() if m != 5}, {m: p.bmp for m, p in test.items() if m != 5})
        with self.assertRaises(ValueError):
            matrix_pictures.picture_set("no-such-set")


class CellTest(unittest.TestCase):
    def test_display_options(self):
        cases = [
            (matrix_cells.Cell("a", "", 5), ["-device", "VGA"]),
            (matrix_cells.Cell("b", "", 5, resolution=(1024, 768)), ["-device", "VGA,xres=1024,yres=768"]),
            (
                matrix_cells.Cell("c", "", 5, display="virtio-gpu", resolution=(1920, 1080)),
                ["-device", "virtio-gpu-pci,xres=1920,yres=1080"],
            ),
            (matrix_cells.Cell("d", "", 5, display="ramfb"), ["-device", "ramfb"]),
        ]
        for cell, expected in cases:
            with self.subTest(cell=cell.name):
                self.assertEqual(cell.display_args(), expected)
        with self.assertRaises(ValueError):
            matrix_cells.Cell("e", "", 5, display="ramfb", resolution=(800, 600)).display_args()

    def test_every_cell_names_a_known_display_storage_and_picture_set(self):
        for cell in matrix_cells.CELLS:
            with self.subTest(cell=cell.name):
                self.assertIn(cell.display, matrix_cells.DISPLAYS)
                self.assertIn(cell.storage, matrix_cells.STORAGE)
                self.assertIn(cell.pictures, matrix_pictures.PICTURE_SETS)
                cell.display_args()
        self.assertEqual(len(set(matrix_cells.CELL_NAMES)), len(matrix_cells.CELLS))

    def test_the_pictures_label_names_each_volume(self):
        self.assertEqual(matrix_cells.Cell("a", "", 5, pictures="too-wide").pictures_label(), "too-wide")
        self.assertEqual(
            matrix_cells.Cell(
                "b", "", 5, pictures="none", firmware_image="full", nested_pictures="second-volume-5"
            ).pictures_label(),
            "DXE volume: full; inner volume: second-volume-5",
        )
        self.assertEqual(
            matrix_cells.Cell("c", "", 5, pictures="second-volume-5", firmware_image="missing-5").pictures_label(),
            "DXE volume: missing-5; application's volume: second-volume-5",
        )

    def test_u_boot_cells_boot_from_ide_without_a_boot_index(self):
        for cell in matrix_cells.CELLS:
            if cell.firmware == matrix_cells.UBOOT:
                with self.subTest(cell=cell.name):
                    self.assertEqual(
                        (cell.machine_type(), cell.boot_disk(), cell.boot_disk_only()), ("pc", "ide", False)
                    )
                    self.assertTrue(cell.why)


class ConnectionsTest(unittest.TestCase):
    def check(self, cell, facts, connected):
        report = matrix.CellReport(cell)
        report.facts = facts
        matrix.compare_connections(report, cell, connected)
        return report.problems

    def test_bound_after_end_of_dxe_must_be_what_the_simulator_connected(self):
        q35 = matrix_cells.Cell("q", "", 5)
        unbound = {"NvmeBoundBefore": 0, "AtaBoundBefore": 0}
        self.assertEqual(self.check(q35, dict(unbound, NvmeBoundAfter=1, AtaBoundAfter=0), ["nvme0"]), [])
        self.assertEqual(self.check(q35, dict(unbound, NvmeBoundAfter=0, AtaBoundAfter=1), ["sata"]), [])
        self.assertTrue(self.check(q35, dict(unbound, NvmeBoundAfter=1, AtaBoundAfter=1), ["nvme0"]))
        self.assertTrue(self.check(q35, dict(unbound, NvmeBoundAfter=0, AtaBoundAfter=0), ["nvme0"]))
        # Bound before the driver ran: the boot manager did it, nothing is shown about the driver.
        self.assertTrue(
            self.check(
                q35, {"NvmeBoundBefore": 1, "AtaBoundBefore": 0, "NvmeBoundAfter": 1, "AtaBoundAfter": 0}, ["nvme0"]
            )
        )

    def test_an_ide_boot_disk_bound_before_counts_for_nothing(self):
        pc = matrix_cells.Cell("p", "", 5, storage="nvme")
        boot_disk = {"NvmeBoundBefore": 0, "AtaBoundBefore": 1}
        self.assertEqual(self.check(pc, dict(boot_disk, NvmeBoundAfter=1, AtaBoundAfter=1), ["nvme0"]), [])
        ide_only = matrix_cells.Cell("i", "", 4, storage="ide")
        self.assertEqual(self.check(ide_only, dict(boot_disk, NvmeBoundAfter=0, AtaBoundAfter=1), []), [])
        # The driver must not connect an IDE controller (class 01/01).
        self.assertTrue(
            self.check(
                matrix_cells.Cell("v", "", 4, storage="virtio-blk"),
                {"NvmeBoundBefore": 0, "AtaBoundBefore": 0, "NvmeBoundAfter": 0, "AtaBoundAfter": 1},
                [],
            )
        )

    def test_a_driver_in_the_firmware_connected_before_the_application_started(self):
        cell = matrix_cells.Cell("f", "", 5, firmware_image="full")
        bound = {"NvmeBoundBefore": 1, "AtaBoundBefore": 0, "NvmeBoundAfter": 1, "AtaBoundAfter": 0}
        self.assertEqual(self.check(cell, bound, ["nvme0"]), [])
        self.assertTrue(self.check(cell, dict(bound, NvmeBoundBefore=0), ["nvme0"]))

    def test_without_a_lone_boot_index_nothing_is_asserted(self):
        uboot = matrix_cells.Cell("u", "", 4, firmware=matrix_cells.UBOOT, storage="nvme")
        self.assertEqual(self.check(uboot, {"NvmeBoundBefore": 1, "NvmeBoundAfter": 1}, ["nvme0"]), [])


class ConsoleTextTest(unittest.TestCase):
    def test_the_text_cells_of_the_lines_from_the_centred_grid(self):
        lines = ["GraphicsOutput->Blt failure...", "x"]
        self.assertEqual(matrix.console_text_area(lines, 800, 600), (30 * 8, 5 + 2 * 19))
        self.assertEqual(matrix.console_text_area(lines, 1283, 800), (1 + 30 * 8, 1 + 2 * 19))
        self.assertEqual(matrix.console_text_area([], 800, 600), (0, 0))

    def test_differing_pixels_are_given_by_position(self):
        a = bytearray(4 * 3 * 3)
        b = bytearray(a)
        b[(1 * 4 + 2) * 3 + 1] = 9  # x 2, y 1
        b[(2 * 4 + 0) * 3] = 1  # x 0, y 2
        self.assertEqual(matrix.differing_pixels(4, bytes(a), bytes(b)), [(2, 1), (0, 2)])
        self.assertEqual(matrix.differing_pixels(4, bytes(a), bytes(a)), [])


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
            self.assertEqual(matrix.last_invalid_opcode(path), (0x1DCD93CC, 0x20))
            with open(path, "w") as f:
                f.write(self.LOG.replace("v=06", "v=0d"))
            self.assertIsNone(matrix.last_invalid_opcode(path))


class ReadmeSectionTest(unittest.TestCase):
    def test_only_the_matrix_section_changes(self):
        text = "# Title\n\nintro\n\n%s\nold table\n%s\n\n## Next\nrest\n" % (matrix.README_BEGIN, matrix.README_END)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "README.md")
            with open(path, "w") as f:
                f.write(text)
            matrix.update_readme(path, "| new |\n")
            with open(path) as f:
                updated = f.read()
            self.assertEqual(updated, text.replace("old table\n", "| new |\n"))
            with open(path, "w") as f:
                f.write("# no section\n")
            with self.assertRaises(RuntimeError):
                matrix.update_readme(path, "| new |\n")

    def test_the_table_has_a_row_per_cell_and_gives_the_reasons(self):
        records = [
            dict(
                cell="c%d" % i,
                firmware="u-boot" if i else "ovmf",
                display="std-vga",
                resolution="800x600",
                storage="ide",
                pictures="test",
                triggers=1 + i,
                notice_sim=[4] * (1 + i),
                seen="-",
                status=["pass", "fail"][i],
                wall_time_s=12.3,
                why="because" if i else "",
                equals_notice_sim=[True, False][i],
            )
            for i in range(2)
        ]
        table = matrix.markdown_table(records).splitlines()
        self.assertEqual(len([line for line in table if line.startswith("| c")]), 2)
        self.assertIn("| 4, 4 |", table[3])
        self.assertIn("**no**", table[3])
        self.assertIn("c1: because.", table)

    def test_a_run_notice_sim_cannot_explain_says_so(self):
        record = dict(
            cell="u",
            firmware="u-boot",
            display="std-vga",
            resolution="no GOP",
            storage="ide",
            pictures="test",
            triggers=1,
            notice_sim=[],
            seen="StartImage died",
            status="pass",
            wall_time_s=4.0,
            why="",
            equals_notice_sim=None,
        )
        self.assertIn("| n/a: died as expected |", matrix.markdown_table([record]))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Tests of the case tables and what each case is put to QEMU and notice-sim
as, and of the firmware choices: which code image, which variable store.

    python3 -m unittest discover -s e2e -p 'test_*.py'
"""

import dataclasses
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import firmwares  # noqa: E402
import pictures  # noqa: E402
import pipeline  # noqa: E402
import qemu  # noqa: E402
import simulator  # noqa: E402


def command_line(case, firmware=None, code=None):
    code = code or CODE
    firmware = firmware or firmwares.Firmware("test", "ovmf", code, code, (VARS,), (VARS,))
    disks = {c.name: c.name + ".img" for c in case.controllers()}
    config = pipeline.machine_config(case, firmware, pipeline.Settings(timeout=1.0), code, "esp.img", disks)
    with tempfile.TemporaryDirectory() as work:
        return qemu.Machine(config, work).command_line()


def options(args):
    """--option -> [values] of a notice-sim command line."""
    pairs = {}
    for i, a in enumerate(args):
        if a.startswith("--"):
            value = args[i + 1] if i + 1 < len(args) and not args[i + 1].startswith("--") else True
            pairs.setdefault(a, []).append(value)
    return pairs


def setUpModule():
    global CODE, VARS, WORK
    WORK = tempfile.TemporaryDirectory()
    CODE, VARS = os.path.join(WORK.name, "code.fd"), os.path.join(WORK.name, "vars.fd")
    for path, size in ((CODE, 3653632), (VARS, 540672)):  # together a 4 MiB flash
        with open(path, "wb") as f:
            f.truncate(size)


def tearDownModule():
    WORK.cleanup()


class TablesTest(unittest.TestCase):
    def test_every_case_names_a_known_firmware_display_storage_and_picture_set(self):
        for case in cases.SCENARIOS + cases.CELLS:
            with self.subTest(case=case.name):
                self.assertIn(case.firmware, firmwares.FIRMWARES)
                self.assertIn(case.display, cases.DISPLAYS)
                self.assertIn(case.storage, cases.STORAGE)
                for name in (case.pictures, case.second_volume, case.inner_volume):
                    self.assertIn(name, pictures.PICTURE_SETS)
                pictures.stored(case.variant, {})
                case.display_args()
        self.assertEqual(len(set(cases.NAMES)), len(cases.NAMES))

    def test_the_sets_hold_every_scenario_both_ways_and_every_cell_once(self):
        runnable = {name: [c for c in members if not c.skip_reason()] for name, members in cases.SETS.items()}
        self.assertEqual(
            {name: len(members) for name, members in runnable.items()},
            {"scenarios": 10, "scenarios-in-firmware": 10, "scenarios-2025": 20, "secure-strictnx": 9, "matrix": 66},
        )
        # Each set's cases on their firmware and placement, every one a distinct run.
        for name, firmware_names, drivers in (
            ("scenarios", {"ovmf-2022.11"}, {"disk"}),
            ("scenarios-in-firmware", {"ovmf-2022.11"}, {"firmware"}),
            ("scenarios-2025", {"ovmf-2025.02"}, {"disk", "firmware"}),
            ("secure-strictnx", {"ovmf-2025.02-strictnx"}, {"disk", "firmware"}),
            ("matrix", {"ovmf-2022.11", "ovmf-2025.02", "u-boot"}, {"disk", "firmware"}),
        ):
            with self.subTest(set=name):
                members = runnable[name]
                self.assertEqual({c.firmware for c in members}, firmware_names)
                self.assertEqual({c.driver for c in members}, drivers)
                self.assertEqual(len({(c.name, c.firmware, c.driver) for c in members}), len(members))
                self.assertEqual({c.matrix for c in members}, {name == "matrix"})
        self.assertTrue(all(c.secure_boot for c in cases.SETS["secure-strictnx"]))
        self.assertEqual(cases.named("plain", driver_in_firmware=True).driver, "firmware")
        self.assertEqual(
            [c.skip_reason() for c in cases.SETS["scenarios"] if c.skip_reason()],
            ["only a firmware image carries compressed sections"],
        )
        self.assertEqual(
            [c.name for c in cases.SETS["scenarios-in-firmware"] if c.skip_reason()], ["secure-unsigned-driver"]
        )

    def test_u_boot_cells_boot_from_ide_without_a_boot_index_and_say_why(self):
        for case in cases.CELLS:
            if case.firmware == cases.UBOOT:
                with self.subTest(case=case.name):
                    self.assertEqual((case.machine_type(), case.boot_disk(), case.boot_disk_only), ("pc", "ide", False))
                    self.assertTrue(case.why)

    def test_the_pictures_label_names_each_volume(self):
        self.assertEqual(cases.named("ovmf-too-wide").pictures_label(), "too-wide")
        self.assertEqual(
            cases.named("ovmf-inner-volume-both").pictures_label(), "DXE volume: full; inner volume: second-volume-5"
        )
        self.assertEqual(
            cases.named("ovmf-second-volume-only").pictures_label(),
            "DXE volume: missing-5; application's volume: second-volume-5",
        )


class MachineTest(unittest.TestCase):
    def test_display_options(self):
        cases_ = [
            (cases.named("plain"), ["-vga", "std"]),
            (cases.named("ovmf-std-vga"), ["-device", "VGA"]),
            (cases.named("ovmf-std-vga-1024x768"), ["-device", "VGA,xres=1024,yres=768"]),
            (cases.named("ovmf-virtio-gpu-1920x1080"), ["-device", "virtio-gpu-pci,xres=1920,yres=1080"]),
            (cases.named("ovmf-ramfb"), ["-device", "ramfb"]),
        ]
        for case, expected in cases_:
            with self.subTest(case=case.name):
                self.assertEqual(case.display_args(), expected)
                line = command_line(case)
                self.assertEqual(line[line.index(expected[0]) : line.index(expected[0]) + 2], expected)
        with self.assertRaises(ValueError):
            dataclasses.replace(cases.named("ovmf-ramfb"), resolution=(800, 600)).display_args()

    def test_only_a_lone_boot_disk_gets_a_boot_index_and_only_from_ovmf(self):
        probe = " ".join(command_line(cases.named("end-of-dxe-probe")))
        self.assertIn("virtio-blk-pci,drive=esp0,bootindex=0", probe)
        self.assertNotIn("bootindex", " ".join(command_line(cases.named("plain"))))
        uboot = firmwares.by_name("u-boot")
        self.assertNotIn("bootindex", " ".join(command_line(dataclasses.replace(probe_case(), storage="ide"), uboot)))

    def test_the_machine_secure_boot_and_the_embedded_controller(self):
        line = " ".join(command_line(cases.named("secure-ec-state1")))
        self.assertIn("-machine q35,smm=on", line)
        self.assertIn("property=secure,value=on", line)
        self.assertIn("iobase=0x62,chardev=port62,readback=0x1", line)
        self.assertIn("iobase=0x66,chardev=port66,readback=0x1", line)  # a present EC answers at once
        absent = " ".join(command_line(cases.named("no-storage")))
        self.assertIn("-machine pc ", absent)
        self.assertIn("iobase=0x66,chardev=port66,readback=0xff", absent)
        self.assertNotIn("nvme", absent)

    def test_the_firmware_decides_how_it_is_booted(self):
        uboot = " ".join(command_line(cases.named("u-boot-std-vga"), firmwares.by_name("u-boot"), "u-boot.rom"))
        self.assertIn("-bios u-boot.rom", uboot)
        self.assertIn("-m 512", uboot)
        ovmf = " ".join(command_line(cases.named("ovmf-std-vga")))
        self.assertIn("if=pflash,format=raw,unit=0,readonly=on,file=" + CODE, ovmf)
        self.assertIn("-m 256", ovmf)

    def test_each_storage_layout_makes_its_controllers_and_tells_notice_sim_their_classes(self):
        # (layout, the machine type, the -device options of the added controllers in order, notice-sim's functions)
        for storage, machine, devices, functions in (
            ("ahci", "q35", [], ["virtio=01.00.00", "sata=01.06.01"]),
            ("ide", "pc", [], ["ide=01.01.80"]),
            ("virtio-blk", "pc", [], ["ide=01.01.80", "virtio=01.00.00"]),
            ("nvme", "pc", ["nvme,serial=n0,drive=nvme0-disk"], ["ide=01.01.80", "nvme0=01.08.02"]),
            (
                "nvme-on-root-port+ahci",
                "q35",
                ["pcie-root-port,id=rp0,chassis=1,slot=1", "nvme,serial=n0,drive=nvme0-disk,bus=rp0"],
                ["virtio=01.00.00", "sata=01.06.01", "nvme0=01.08.02"],
            ),
            (
                "2nvme+ahci",
                "q35",
                ["nvme,serial=n0,drive=nvme0-disk", "nvme,serial=n1,drive=nvme1-disk"],
                ["virtio=01.00.00", "sata=01.06.01", "nvme0=01.08.02", "nvme1=01.08.02"],
            ),
            (
                "2ahci",
                "q35",
                ["ahci,id=ahci1", "ide-hd,drive=sata1-disk,bus=ahci1.0"],
                ["virtio=01.00.00", "sata=01.06.01", "sata1=01.06.01"],
            ),
            (
                "raid",
                "pc",
                ["megasas,id=raid0", "scsi-hd,drive=raid0-disk,bus=raid0.0"],
                ["ide=01.01.80", "raid0=01.04.00"],
            ),
            (
                "scsi+usb",
                "pc",
                [
                    "lsi53c895a,id=scsi0",
                    "scsi-hd,drive=scsi0-disk,bus=scsi0.0",
                    "qemu-xhci,id=xhci0",
                    "usb-storage,drive=xhci0-disk,bus=xhci0.0",
                ],
                ["ide=01.01.80", "scsi0=01.00.00", "xhci0=0C.03.30"],
            ),
        ):
            with self.subTest(storage=storage):
                case = dataclasses.replace(cases.named("ovmf-std-vga"), storage=storage)
                line = command_line(case)
                self.assertEqual(line[line.index("-machine") + 1], machine)
                added = [line[i + 1] for i, a in enumerate(line) if a == "-device"][1:]  # after the display
                added = [d for d in added if not d.startswith(("virtio-blk-pci", "ide-hd,bus=ide.0", "isa-debugcon"))]
                self.assertEqual(added, devices)
                self.assertEqual(case.pci_functions(), functions)
                # Every controller's disk is its own image, attached under the id its device names.
                for controller in case.controllers():
                    drive = "file=%s.img,if=none,id=%s-disk,format=raw" % (controller.name, controller.name)
                    self.assertEqual(line.count(drive), 1)

    def test_a_second_display_is_a_device_of_its_own_resolution_and_id(self):
        two = cases.named("ovmf-two-displays")
        self.assertEqual(
            two.display_args(),
            ["-device", "VGA,xres=1024,yres=768", "-device", "virtio-gpu-pci,xres=800,yres=600,id=display1"],
        )
        with self.assertRaises(ValueError):  # QEMU's -vga form takes no id
            dataclasses.replace(two, second_display="std", second_resolution=None).display_args()
        with self.assertRaises(ValueError):
            dataclasses.replace(two, second_display="ramfb").display_args()


class FirmwareRowsTest(unittest.TestCase):
    def test_the_cell_left_off_debian_13_is_a_scenario_s_machine_but_for_the_boot_index(self):
        fields = ("storage", "secure_boot", "ec_byte", "pictures", "variant", "triggers", "notice", "console")
        cell, scenario = cases.named("ovmf-ide-only"), cases.named("no-storage")
        self.assertEqual(cases.COVERED_BY_SCENARIOS, ("ovmf-ide-only",))
        self.assertEqual([f for f in fields if getattr(cell, f) != getattr(scenario, f)], [])
        self.assertEqual((cell.boot_disk_only, scenario.boot_disk_only), (True, False))
        self.assertEqual(cell.pci_functions(), scenario.pci_functions())

    def test_one_run_stands_for_a_cell_and_a_scenario_of_the_same_machine(self):
        settings = pipeline.Settings()
        probe, std_vga = cases.named("end-of-dxe-probe"), cases.named("ovmf-std-vga")
        self.assertEqual(pipeline.run_key(probe, settings), pipeline.run_key(std_vga, settings))
        on_2025 = [dataclasses.replace(c, firmware=cases.OVMF_2025) for c in (probe, std_vga)]
        self.assertEqual(
            pipeline.shared_runs([probe, std_vga] + on_2025, settings),
            {"ovmf-std-vga": "end-of-dxe-probe", "ovmf-std-vga [ovmf-2025.02]": "end-of-dxe-probe [ovmf-2025.02]"},
        )
        # Anything a check or the machine looks at keeps them apart.
        for other in (
            cases.named("end-of-dxe-probe", driver_in_firmware=True),
            dataclasses.replace(probe, firmware=cases.OVMF_2025),
            dataclasses.replace(probe, boot_disk_only=False),
            dataclasses.replace(probe, resolution=(800, 600), display="std-vga"),
            cases.named("ovmf-virtio-gpu"),
            cases.named("ovmf-ide-only"),
        ):
            with self.subTest(other=pipeline.case_label(other, settings)):
                self.assertNotEqual(pipeline.run_key(other, settings), pipeline.run_key(std_vga, settings))
        self.assertEqual(pipeline.shared_runs([cases.named("ovmf-ide-only"), cases.named("no-storage")], settings), {})
        # In make e2e's batch the shared ones are exactly the standard VGA's cells.
        batch = [c for name in ("scenarios", "scenarios-2025", "matrix") for c in cases.SETS[name]]
        self.assertEqual(
            sorted(pipeline.shared_runs([c for c in batch if not c.skip_reason()], settings)),
            ["ovmf-std-vga", "ovmf-std-vga [ovmf-2025.02]"],
        )

    def test_debian_13_boots_the_display_and_storage_rows_alone(self):
        on_2025 = {c.name for c in cases.SETS["matrix"] if c.firmware == cases.OVMF_2025}
        for name in ("ovmf-two-displays", "ovmf-raid-class", "ovmf-std-vga-1920x1080", "ovmf-std-vga", "ovmf-ati-vga"):
            self.assertIn(name, on_2025)
        for name in ("ovmf-ide-only", "ovmf-too-wide", "ovmf-two-triggers", "ovmf-both-volumes"):
            self.assertNotIn(name, on_2025)
        self.assertFalse(any(c.firmware == cases.UBOOT for c in cases.CELLS_2025))

    def test_lanes_alternate_image_builds_with_boots(self):
        settings = pipeline.Settings()
        chosen = [cases.named(n, f) for n, f in (("plain", True), ("no-storage", True), ("plain", False))]
        chosen += [cases.named("u-boot-nvme"), cases.named("ovmf-ramfb")]
        order = [pipeline.case_label(c, settings) for c in pipeline.lane_order(chosen, settings)]
        self.assertEqual(
            order,
            ["u-boot-nvme [u-boot]", "plain [driver in firmware]", "plain", "no-storage [driver in firmware]"]
            + ["ovmf-ramfb"],
        )


class LabelTest(unittest.TestCase):
    def test_a_label_names_what_tells_a_run_apart(self):
        settings = pipeline.Settings()
        for case, label in (
            (cases.named("plain"), "plain"),
            (cases.named("plain", driver_in_firmware=True), "plain [driver in firmware]"),
            (dataclasses.replace(cases.named("plain"), firmware="ovmf-2025.02"), "plain [ovmf-2025.02]"),
            (
                dataclasses.replace(cases.named("plain", True), firmware="ovmf-2025.02-strictnx"),
                "plain [driver in firmware, ovmf-2025.02-strictnx]",
            ),
            (cases.named("ovmf-both-volumes"), "ovmf-both-volumes"),  # a cell's placement is its own
            (dataclasses.replace(cases.named("ovmf-ramfb"), firmware="ovmf-2025.02"), "ovmf-ramfb [ovmf-2025.02]"),
        ):
            with self.subTest(label=label):
                self.assertEqual(pipeline.case_label(case, settings), label)
        folder = pipeline.case_folder("/r", "plain [driver in firmware, ovmf-2025.02]")
        self.assertEqual(folder, "/r/plain-driver-in-firmware-ovmf-2025.02")

    def test_every_run_of_make_e2e_is_distinct_and_one_firmware_for_all_drops_the_repeats(self):
        batch = [c for name in ("scenarios", "scenarios-2025", "matrix") for c in cases.SETS[name]]
        self.assertEqual(pipeline.distinct(batch, pipeline.Settings()), batch)
        one = pipeline.Settings(firmware=firmwares.by_name("ovmf-2025.02"))
        kept = pipeline.distinct(batch, one)
        self.assertEqual(len(kept), len(batch) - len(cases.SETS["scenarios"]) - len(cases.CELLS_2025))
        self.assertEqual(len({pipeline.case_label(c, one) for c in kept}), len(kept))


def probe_case():
    return cases.named("end-of-dxe-probe")


class SimulatorArgumentsTest(unittest.TestCase):
    APP = {5: "/app/5.bmp"}
    FIRMWARE = {m: "/fw/%d.bmp" % m for m in (1, 2, 3, 4, 6)}

    def test_the_machine_is_what_the_firmware_reported(self):
        cases_ = [
            # case, facts, expected --pci values, --no-gop given
            (
                "ovmf-std-vga",
                {"PciIoHandles": 7, "GopModes": 30},
                ["virtio=01.00.00", "sata=01.06.01", "nvme0=01.08.02"],
                False,
            ),
            ("ovmf-nvme-only", {"PciIoHandles": 5, "GopModes": 1}, ["ide=01.01.80", "nvme0=01.08.02"], False),
            ("ovmf-virtio-blk-only", {"PciIoHandles": 4, "GopModes": 1}, ["ide=01.01.80", "virtio=01.00.00"], False),
            ("no-storage", {"PciIoHandles": 4, "GopModes": 1}, ["ide=01.01.80"], False),
            # U-Boot: NVMe on the bus, but no PCI I/O protocol and no graphics output.
            ("u-boot-nvme", {"PciIoHandles": 0}, ["none"], True),
        ]
        for name, facts, pci, no_gop in cases_:
            with self.subTest(case=name):
                found = options(simulator.simulator_arguments(cases.named(name), facts, [self.APP]))
                self.assertEqual(found["--pci"], pci)
                self.assertEqual("--no-gop" in found, no_gop)
                self.assertEqual(found["--picture"], ["5=/app/5.bmp"])
                self.assertEqual(len(found["--no-picture"]), 5)

    def test_secure_boot_the_ec_and_the_screen(self):
        found = options(simulator.simulator_arguments(cases.named("secure-ec-state1"), {"GopWidth": 800}, []))
        self.assertEqual((found["--secure-boot"], found["--screen"]), (["1"], ["800x800"]))
        self.assertIn("0x0D=0x01", found["--ec"])
        self.assertEqual(len(found["--ec"]), 256)
        self.assertNotIn("--ec-kind", found)
        found = options(simulator.simulator_arguments(cases.named("ovmf-two-triggers"), {}, []))
        self.assertEqual(
            (found["--ec-kind"], found["--triggers"], found["--screen"]), (["absent"], ["2"], ["1280x800"])
        )

    def volumes(self, facts, firmware, app=None):
        order = simulator.volume_order(firmware, self.APP if app is None else app, facts)
        found = options(simulator.simulator_arguments(cases.named("ovmf-std-vga"), dict(facts, PciIoHandles=1), order))
        return found.get("--picture", []), found.get("--second-volume", [])

    def test_the_application_volume_after_the_firmware_volume_or_first(self):
        first, second = self.volumes({"FirmwareVolumeHandles": 1, "PictureVolumeIndex": 1}, [self.FIRMWARE])
        self.assertEqual((first, second), (["%d=/fw/%d.bmp" % (m, m) for m in (1, 2, 3, 4, 6)], ["5=/app/5.bmp"]))
        first, second = self.volumes({"FirmwareVolumeHandles": 1, "PictureVolumeIndex": 0}, [self.FIRMWARE])
        self.assertEqual((first, len(second)), (["5=/app/5.bmp"], 5))
        self.assertEqual(
            self.volumes({"FirmwareVolumeHandles": 1, "PictureVolumeIndex": 1}, [{}]), ([], ["5=/app/5.bmp"])
        )
        self.assertEqual(
            self.volumes({"FirmwareVolumeHandles": 0, "PictureVolumeIndex": 0}, []), (["5=/app/5.bmp"], [])
        )

    def test_an_inner_volume_follows_the_dxe_volume_and_an_empty_third_is_left_out(self):
        inner = {5: "/inner/5.bmp"}
        facts = {"FirmwareVolumeHandles": 2, "PictureVolumeIndex": 2}
        first, second = self.volumes(facts, [self.FIRMWARE, inner], app={})
        self.assertEqual((len(first), second), (5, ["5=/inner/5.bmp"]))
        with self.assertRaises(ValueError):
            self.volumes(facts, [self.FIRMWARE, inner])


class VolumesTest(unittest.TestCase):
    def test_where_each_case_keeps_its_pictures(self):
        firmware, (label, app) = cases.named("missing-picture").volumes()
        self.assertEqual((firmware, label, sorted(app)), ([], "application's volume", [1, 2, 3, 4, 6]))
        firmware, (_, app) = cases.named("malformed-picture", driver_in_firmware=True).volumes()
        self.assertEqual(([label for label, _ in firmware], app), (["DXE volume"], {}))
        self.assertEqual(len(firmware[0][1][5].bmp), pictures.MALFORMED_KEEP_BYTES)
        firmware, (_, app) = cases.named("ovmf-inner-volume-only").volumes()
        self.assertEqual(
            [(label, sorted(v)) for label, v in firmware], [("DXE volume", [1, 2, 3, 4, 6]), ("inner volume", [5])]
        )
        edge = cases.named("ovmf-fits-exactly").volumes()[1][1][5]
        self.assertEqual(edge.width, 800 - 20)

    def test_screen_candidates_name_the_volume_only_where_several_hold_pictures(self):
        firmware, app = cases.named("ovmf-second-volume-only").volumes()
        labels = [label for label, _ in pipeline.screen_candidates(firmware, app)]
        self.assertEqual(labels[0], "notice 5 (application's volume)")
        self.assertIn("notice 1 (DXE volume)", labels)
        firmware, app = cases.named("plain", driver_in_firmware=True).volumes()
        self.assertEqual(
            [label for label, _ in pipeline.screen_candidates(firmware, app)][:2], ["notice 1", "notice 2"]
        )

    def test_the_whole_screen_is_foretold_only_for_the_test_pictures_alone(self):
        settings = pipeline.Settings()
        self.assertEqual(pipeline.screen_oracle(cases.named("plain"), settings).mode, 5)
        self.assertIsNone(pipeline.screen_oracle(cases.named("secure-ec-idle"), settings))  # a black screen
        for name in ("missing-picture", "ovmf-both-volumes", "ovmf-too-wide", "ovmf-fits-exactly"):
            with self.subTest(name):
                self.assertIs(pipeline.screen_oracle(cases.named(name), settings), False)
        self.assertIs(pipeline.screen_oracle(cases.named("plain"), pipeline.Settings(pictures_dir="demo")), False)


class FirmwareTest(unittest.TestCase):
    def stores(self, *sizes):
        return {"/f/VARS_%d.fd" % size: size for size in sizes}

    def test_a_code_image_gets_the_variable_store_that_fills_its_flash(self):
        cases_ = [
            (3653632, (540672, 131072), "/f/VARS_540672.fd"),  # OVMF_CODE_4M.fd
            (1966080, (540672, 131072), "/f/VARS_131072.fd"),  # Debian 12's OVMF_CODE.fd: a 2 MiB flash
            (917504, (540672, 131072), "/f/VARS_131072.fd"),  # a 1 MiB flash
        ]
        for code_size, sizes, wanted in cases_:
            with self.subTest(code_size=code_size):
                self.assertEqual(firmwares.pair_variables("c.fd", code_size, self.stores(*sizes)), wanted)

    def test_a_code_image_no_store_fits_is_refused_before_booting(self):
        with self.assertRaisesRegex(
            firmwares.FirmwareError, r"c.fd is 1966080 bytes; .*VARS_540672.fd \(540672 bytes\)"
        ):
            firmwares.pair_variables("c.fd", 1966080, self.stores(540672))
        with self.assertRaisesRegex(firmwares.FirmwareError, "offered: none"):
            firmwares.pair_variables("c.fd", 3653632, {})

    def test_a_given_code_image_keeps_its_base_firmwares_stores_and_key(self):
        with tempfile.TemporaryDirectory() as work:
            code = os.path.join(work, "mine.fd")
            open(code, "wb").close()
            base = firmwares.by_name("ovmf-2025.02")
            given = firmwares.given(code, None, base)
            self.assertEqual((given.code, given.secure_code, given.given), (code, "", True))
            self.assertEqual((given.plain_vars, given.key), (base.plain_vars, base.key))
            self.assertIn("no Secure Boot code image", given.missing(True))
            with self.assertRaises(firmwares.FirmwareError):
                firmwares.given(os.path.join(work, "none.fd"), None, base)
            with self.assertRaises(firmwares.FirmwareError):
                firmwares.given(code, None, firmwares.by_name("u-boot"))

    def test_every_ovmf_build_has_its_own_images_stores_and_key(self):
        for name in ("ovmf-2022.11", "ovmf-2025.02", "ovmf-2025.02-strictnx"):
            with self.subTest(name):
                f = firmwares.by_name(name)
                self.assertEqual(os.path.dirname(f.code), os.path.dirname(f.secure_code))
                self.assertEqual(os.path.dirname(f.code), os.path.dirname(f.plain_vars[0]))
                self.assertTrue(f.key.endswith("PkKek-1-snakeoil.key"))
        strict = firmwares.by_name("ovmf-2025.02-strictnx")
        self.assertTrue(strict.secure_code.endswith("secboot.strictnx.fd"))
        self.assertEqual(strict.code, firmwares.by_name("ovmf-2025.02").code)
        self.assertNotEqual(strict.key, firmwares.by_name("ovmf-2022.11").key)
        with self.assertRaises(firmwares.FirmwareError):
            firmwares.by_name("ovmf-1999")

    def test_settings_boot_each_case_on_the_firmware_of_its_kind(self):
        settings = pipeline.Settings(firmware=firmwares.by_name("ovmf-2025.02"))
        self.assertEqual(settings.firmware_of(cases.named("plain")).name, "ovmf-2025.02")
        self.assertEqual(settings.firmware_of(cases.named("u-boot-nvme")).name, "u-boot")
        self.assertEqual(pipeline.Settings().firmware_of(cases.named("plain")).name, firmwares.DEFAULT)


if __name__ == "__main__":
    unittest.main()

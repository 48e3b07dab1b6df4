"""Tests of protection_probes.py's reading of a run, its checks and its tables, without QEMU."""

import os
import re
import tempfile
import unittest
import uuid

import protection_probes as pp

HERE = os.path.dirname(os.path.abspath(__file__))
PROBE = {p.name: p for p in pp.PROBES}
WRITE_PROBE, EXECUTE_PROBE, DRIVER = PROBE["write-code"], PROBE["execute-data"], PROBE["notice"]
TARGET = 0xE80937E

# The paging state the firmware leaves (CR0.WP and EFER.NXE set), as the probes report it.
PAGING = [("Cr0", 0x80010033), ("Cr4", 0x668), ("Efer", 0xD00), ("MemoryAttributeProtocol", 0x0)]
NO_PAGING_PROTECTION = [("Cr0", 0x80000033), ("Cr4", 0x668), ("Efer", 0x500)]


def serial(*steps):
    """COM1 text as the probes write it, between firmware console lines."""
    lines = ["BdsDxe: starting Boot0001"]
    for step in steps:
        name, value = step if isinstance(step, tuple) else (step, None)
        lines.append("E2E %s" % name if value is None else "E2E %s 0x%X" % (name, value))
    return "\n".join(lines) + "\n"


def probe_lines(target_pages, attributes=None, survived=False, target=TARGET, paging=PAGING):
    lines = ["ProbeBegin", *paging, ("Probe.ImageBase", 0xE808000), ("Probe.text.Pages", 0x20000)]
    lines.append(("Target.Pages", target_pages))
    if attributes is not None:
        lines.append(("Target.Attributes", attributes))
    lines.append(("Breaking", target))
    return lines + (["Survived"] if survived else [])


def loader_lines(selected, *more):
    return ["LoaderBegin", ("SetWatchdogTimer", 0), ("ProbeSelected", selected), *PAGING[:3], *more]


def page_fault(error_code, cr2, rip=0xE8093AE):
    return (
        "check_exception old: 0xffffffff new 0xe\n"
        "    95: v=0e e=%04x i=0 cpl=0 IP=0038:%016x pc=%016x SP=0030:000000000fe8ebb0 CR2=%016x\n"
        "RAX=0000000000000056 RBX=00000000c0000040\n" % (error_code, rip, rip, cr2)
    )


TIMER = (
    "Servicing hardware INT=0x20\n"
    "     0: v=20 e=0000 i=0 cpl=0 IP=0038:000000000ecc1266 pc=000000000ecc1266 SP=0030:000000000fe8e198 "
    "env->regs[R_EAX]=000000000ecd0680\n"
)
SOFTWARE_INT = "     3: v=03 e=0000 i=1 cpl=0 IP=0038:000000000e000000 pc=000000000e000000 SP=0030:0 env->regs\n"


class ReadingTest(unittest.TestCase):
    def test_reports_split_at_the_probe_begin(self):
        loader, probe = pp.split_reports(serial(*loader_lines(1, ("LoadImage", 0)), *probe_lines(0x20000)))
        self.assertEqual(loader["ProbeSelected"], 1)
        self.assertEqual(loader["LoadImage"], 0)
        self.assertNotIn("Breaking", loader)
        self.assertEqual(probe["Breaking"], TARGET)
        self.assertIsNone(probe["ProbeBegin"])
        # Both report the paging state; each keeps its own.
        self.assertIn("Cr0", loader)
        self.assertIn("Cr0", probe)

    def test_a_report_cut_by_console_text_is_not_taken(self):
        _, probe = pp.split_reports("E2E ProbeBegin\nE2E Breaking 0xE80BdsDxe: loading\n")
        self.assertNotIn("Breaking", probe)

    def test_only_processor_exceptions_are_taken_from_the_log(self):
        log = TIMER + SOFTWARE_INT + page_fault(0x11, 0xE821000, rip=0xE821000) + TIMER
        self.assertEqual(pp.cpu_exceptions(log), [pp.CpuException(0x0E, 0x11, 0xE821000, 0xE821000)])

    def test_page_text(self):
        for bits, text in [
            (0x0, "rwx"),
            (pp.EFI_MEMORY_RO, "r-x"),
            (pp.EFI_MEMORY_XP, "rw-"),
            (pp.EFI_MEMORY_RO | pp.EFI_MEMORY_XP, "r--"),
            (pp.EFI_MEMORY_RP | pp.EFI_MEMORY_XP, "---"),
            (None, "?"),
        ]:
            self.assertEqual(pp.page_text(bits), text, hex(bits or 0))

    def test_sections_text_names_each_section_of_one_image(self):
        reports = {
            "Driver.ImageBase": 0xE80C000,
            "Driver.text.Flags": 0x60000020,
            "Driver.text.Pages": 0x20000,
            "Driver.data.Pages": 0x4000,
            "Loader.text.Pages": 0x0,
        }
        self.assertEqual(pp.sections_text(reports, "Driver"), "text r-x, data rw-")


class ObserveTest(unittest.TestCase):
    def test_probe_outcomes(self):
        volume_fault = serial(*probe_lines(0x20000))
        from_disk = serial(*loader_lines(1, ("LoadImage", 0)), *probe_lines(0, survived=True))
        cases = [
            # (name, probe, mode, serial, QEMU log, outcome, words in the detail)
            ("survived", WRITE_PROBE, pp.DISK, from_disk, TIMER, pp.RUNS, "went through"),
            ("write fault at the target", WRITE_PROBE, pp.VOLUME, volume_fault, TIMER + page_fault(0x3, TARGET),
             pp.FAULTS, "write, error code 0x3"),
            ("fetch fault at the target", EXECUTE_PROBE, pp.VOLUME, volume_fault, page_fault(0x11, TARGET, TARGET),
             pp.FAULTS, "fetch"),
            ("fault elsewhere", WRITE_PROBE, pp.VOLUME, volume_fault, page_fault(0x3, TARGET + 0x1000),
             pp.UNCLEAR, "then page fault"),
            ("fault of the other kind", WRITE_PROBE, pp.VOLUME, volume_fault, page_fault(0x11, TARGET),
             pp.UNCLEAR, "fetch"),
            ("fault on a page not mapped", EXECUTE_PROBE, pp.VOLUME, volume_fault, page_fault(0x10, TARGET),
             pp.UNCLEAR, "error code 0x10"),
            ("refused from disk", WRITE_PROBE, pp.DISK, serial(*loader_lines(1, ("LoadImage", 0x800000000000001A))),
             "", pp.REFUSED, "LoadImage 0x800000000000001A"),
            ("not dispatched", WRITE_PROBE, pp.VOLUME, serial(*loader_lines(1, "DriverInFirmware")), "",
             pp.REFUSED, "not dispatched"),
            ("selector not answering", WRITE_PROBE, pp.VOLUME, serial(*loader_lines(0xFF, "DriverInFirmware")), "",
             pp.UNCLEAR, "0xFF"),
            ("silent after its break", WRITE_PROBE, pp.VOLUME, volume_fault, TIMER, pp.UNCLEAR, "no exception"),
            ("survived with an exception", WRITE_PROBE, pp.VOLUME, serial(*probe_lines(0, survived=True)),
             page_fault(0x3, TARGET), pp.UNCLEAR, "survived, but"),
            ("never reached its break", WRITE_PROBE, pp.VOLUME, serial("ProbeBegin", *PAGING), page_fault(0x2, 0),
             pp.UNCLEAR, "never reached"),
        ]  # fmt: skip
        for name, probe, mode, text, log, outcome, words in cases:
            with self.subTest(name):
                observation = pp.observe(probe, mode, text, log)
                self.assertEqual(observation.outcome, outcome, observation.detail)
                self.assertIn(words, observation.detail)

    def test_driver_outcomes(self):
        started = loader_lines(0, ("LoadImage", 0), ("Loaded.text.Pages", 0), ("StartImage", 0))
        cases = [
            ("started from disk", pp.DISK, serial(*started), "", pp.RUNS, "text rwx"),
            ("refused from disk", pp.DISK, serial(*loader_lines(0, ("LoadImage", 0x800000000000001A))), "",
             pp.REFUSED, "0x800000000000001A"),
            ("start failed", pp.DISK, serial(*loader_lines(0, ("LoadImage", 0), ("StartImage", 0x8000000000000003))),
             "", pp.UNCLEAR, "StartImage"),
            ("dispatched", pp.VOLUME, serial(*loader_lines(0, "DriverInFirmware", ("Driver.text.Pages", 0x20000))),
             "", pp.RUNS, "text r-x"),
            ("not dispatched", pp.VOLUME, serial(*loader_lines(0, "NotInFirmware")), "", pp.REFUSED, "not"),
            ("faulted", pp.VOLUME, serial("LoaderBegin"), page_fault(0x3, TARGET), pp.UNCLEAR, "page fault"),
        ]  # fmt: skip
        for name, mode, text, log, outcome, words in cases:
            with self.subTest(name):
                observation = pp.observe(DRIVER, mode, text, log)
                self.assertEqual(observation.outcome, outcome, observation.detail)
                self.assertIn(words, observation.detail)

    def test_the_firmware_dump_is_quoted_for_a_fault(self):
        text = serial(*probe_lines(0x20000)) + "!!!! X64 Exception Type - 0E(#PF - Page-Fault)  CPU Apic ID - 0 !!!!\n"
        observation = pp.observe(WRITE_PROBE, pp.VOLUME, text, page_fault(0x3, TARGET))
        self.assertIn("firmware: '!!!! X64 Exception Type - 0E(#PF - Page-Fault)", observation.detail)


class CheckTest(unittest.TestCase):
    def case(self, probe, firmware="ovmf-2025.02", mode=pp.VOLUME):
        return pp.Case(probe, next(f for f in pp.FIRMWARES if f.name == firmware), mode)

    def test_outcome_from_pages(self):
        ro, xp = pp.EFI_MEMORY_RO, pp.EFI_MEMORY_XP
        for breaks, pages, paging, outcome in [
            (pp.WRITE, ro, PAGING, pp.FAULTS),
            (pp.WRITE, xp, PAGING, pp.RUNS),
            (pp.WRITE, ro, NO_PAGING_PROTECTION, pp.RUNS),  # CR0.WP clear: ring 0 writes read-only pages
            (pp.EXECUTE, xp, PAGING, pp.FAULTS),
            (pp.EXECUTE, ro, PAGING, pp.RUNS),
            (pp.EXECUTE, xp, NO_PAGING_PROTECTION, pp.RUNS),  # EFER.NXE clear: the bit means nothing
            (pp.EXECUTE, pp.EFI_MEMORY_RP, PAGING, pp.FAULTS),
        ]:
            with self.subTest(breaks=breaks, pages=hex(pages), paging=paging[0]):
                reports = dict(paging + [("Target.Pages", pages)])
                self.assertEqual(pp.outcome_from_pages(breaks, reports), outcome)
        self.assertIsNone(pp.outcome_from_pages(pp.WRITE, {"Target.Pages": ro}))

    def test_an_outcome_as_expected_with_agreeing_pages_passes(self):
        case = self.case(WRITE_PROBE)
        self.assertEqual(case.expected, pp.FAULTS)
        observation = pp.observe(WRITE_PROBE, pp.VOLUME, serial(*probe_lines(0x20000, 0x20000)), page_fault(3, TARGET))
        self.assertEqual(pp.check_case(case, observation), [])

    def test_an_outcome_other_than_expected_fails(self):
        case = self.case(WRITE_PROBE)
        observation = pp.observe(WRITE_PROBE, pp.VOLUME, serial(*probe_lines(0, survived=True)), "")
        (problem,) = pp.check_case(case, observation)
        self.assertIn("expected faults, saw runs", problem)

    def test_pages_that_disagree_with_the_outcome_fail(self):
        # Ran, although the page tables it read said the code page was read-only.
        case = self.case(WRITE_PROBE, mode=pp.DISK)
        self.assertEqual(case.expected, pp.RUNS)
        observation = pp.observe(WRITE_PROBE, pp.DISK, serial(*probe_lines(0x20000, survived=True)), "")
        (problem,) = pp.check_case(case, observation)
        self.assertIn("the page tables (target page r-x) say the write faults, but it runs", problem)

    def test_memory_attributes_that_disagree_with_the_page_tables_fail(self):
        case = self.case(WRITE_PROBE)
        text = serial(*probe_lines(0x20000, attributes=pp.EFI_MEMORY_XP))
        (problem,) = pp.check_case(case, pp.observe(WRITE_PROBE, pp.VOLUME, text, page_fault(3, TARGET)))
        self.assertIn("GetMemoryAttributes says rw- where the page tables say r-x", problem)

    def test_a_run_without_its_page_report_fails(self):
        case = self.case(WRITE_PROBE)
        text = serial("ProbeBegin", ("Breaking", TARGET))
        self.assertIn(
            "did not report", pp.check_case(case, pp.observe(WRITE_PROBE, pp.VOLUME, text, page_fault(3, TARGET)))[0]
        )

    def test_the_memory_attribute_protocol_where_the_firmware_has_it(self):
        absent, present = pp.NOT_FOUND, 0
        cases = [
            # (firmware, mode, the loader's LocateProtocol, the probe's, words of the problem or None)
            ("ovmf-2025.02-strictnx", pp.DISK, present, present, None),
            ("ovmf-2025.02-strictnx", pp.DISK, absent, present, "not there when the boot manager started"),
            ("ovmf-2025.02", pp.VOLUME, None, present, None),  # the probe powered off before the boot manager
            ("ovmf-2025.02", pp.DISK, present, present, "there when the boot manager started"),
            ("ovmf-2025.02", pp.VOLUME, None, absent, "not there during DXE dispatch"),
            ("ovmf-2022.11", pp.VOLUME, None, present, "there during DXE dispatch"),
            ("ovmf-2022.11", pp.DISK, absent, absent, None),
        ]
        for firmware, mode, at_boot, in_probe, words in cases:
            with self.subTest(firmware=firmware, mode=mode, at_boot=at_boot, in_probe=in_probe):
                loader = {} if at_boot is None else {"MemoryAttributeProtocol": at_boot}
                observation = pp.Observation(pp.RUNS, "", loader, {"MemoryAttributeProtocol": in_probe})
                problems = pp.protocol_problems(self.case(DRIVER, firmware, mode), observation)
                if words is None:
                    self.assertEqual(problems, [])
                else:
                    self.assertEqual(len(problems), 1, problems)
                    self.assertIn(words, problems[0])


class DataTest(unittest.TestCase):
    def test_every_probe_has_an_expectation_on_every_firmware(self):
        self.assertEqual(sorted(pp.EXPECTED), sorted(pp.PROBE_NAMES))
        for probe, by_firmware in pp.EXPECTED.items():
            self.assertEqual(sorted(by_firmware), sorted(pp.FIRMWARE_NAMES), probe)
            for outcomes in by_firmware.values():
                self.assertEqual(len(outcomes), len(pp.MODES))
                self.assertTrue(set(outcomes) <= {pp.RUNS, pp.FAULTS, pp.REFUSED}, (probe, outcomes))

    def test_the_driver_runs_everywhere(self):
        for firmware, outcomes in pp.EXPECTED["notice"].items():
            self.assertEqual(outcomes, (pp.RUNS, pp.RUNS), firmware)

    def test_probe_numbers_match_the_build(self):
        with open(os.path.join(HERE, "probes", "CMakeLists.txt")) as f:
            built = {
                name: int(number) for name, number in re.findall(r"^add_probe\(probe-(\S+) (\d+) ", f.read(), re.M)
            }
        self.assertEqual(built, {p.name: p.number for p in pp.PROBES if p.breaks != pp.NOTHING})
        numbers = [p.number for p in pp.PROBES]
        self.assertEqual(len(set(numbers)), len(numbers))

    def test_the_selector_port_matches_the_probes(self):
        with open(os.path.join(HERE, "probes", "probe_select.h")) as f:
            (port,) = re.findall(r"kProbeSelectPort = (0x[0-9A-Fa-f]+);", f.read())
        self.assertEqual(int(port, 16), pp.PROBE_SELECT_PORT)

    def test_case_names_are_unique_and_chosen_by_pattern(self):
        names = [c.name for c in pp.all_cases()]
        self.assertEqual(len(set(names)), len(pp.PROBES) * len(pp.FIRMWARES) * len(pp.MODES))
        chosen = [c.name for c in pp.chosen_cases(["write-code:ovmf-2025.02-*"])]
        self.assertEqual(
            chosen,
            [
                "write-code:ovmf-2025.02-secboot:disk",
                "write-code:ovmf-2025.02-secboot:volume",
                "write-code:ovmf-2025.02-strictnx:disk",
                "write-code:ovmf-2025.02-strictnx:volume",
            ],
        )

    def test_the_lean_selection_shows_each_finding_once(self):
        lean = pp.lean_cases()
        by_probe = {}
        for case in lean:
            by_probe.setdefault(case.probe.name, []).append(case)
        self.assertEqual(list(by_probe), list(pp.PROBE_NAMES))
        for name, chosen in by_probe.items():
            with self.subTest(probe=name):
                everywhere = {pp.EXPECTED[name][f.name][i] for f in pp.FIRMWARES for i in range(len(pp.MODES))}
                if len(everywhere) == 1:  # nothing tells it apart: once, on the strictest build's volume
                    self.assertEqual([c.name for c in chosen], ["%s:ovmf-2025.02-strictnx:volume" % name])
                else:  # two runs that differ in outcome and in one thing only
                    self.assertEqual(len(chosen), 2)
                    self.assertNotEqual(chosen[0].expected, chosen[1].expected)
                    self.assertTrue(chosen[0].firmware == chosen[1].firmware or chosen[0].mode == chosen[1].mode)
        wx = [c.name for c in by_probe["write-code-wx"]]
        self.assertEqual(wx, ["write-code-wx:ovmf-2022.11:volume", "write-code-wx:ovmf-2025.02:volume"])
        self.assertEqual(len(lean), 20)
        self.assertEqual(
            [c.name for c in pp.chosen_cases(["notice:*"], lean=True)], ["notice:ovmf-2025.02-strictnx:volume"]
        )

    def test_a_volume_image_is_up_to_date_only_with_its_stamp_and_digest(self):
        with tempfile.TemporaryDirectory() as d:
            image = os.path.join(d, "code.fd")
            self.assertFalse(pp.up_to_date(image, "abc"))
            open(image, "wb").close()
            self.assertFalse(pp.up_to_date(image, "abc"))  # no stamp
            with open(image + ".sha256", "w") as f:
                f.write("abc\n")
            self.assertTrue(pp.up_to_date(image, "abc"))
            self.assertFalse(pp.up_to_date(image, "abd"))

    def test_renamed_ffs_keeps_a_sound_header(self):
        # An FFS file as notice-pack writes it: name, checksums, DRIVER type, no attributes, size, state,
        # then one 8-byte RAW section; its header checksum is left wrong, the rename mends it.
        data = bytearray(uuid.UUID("1E16495C-074B-42D0-884C-5729229B3EEB").bytes_le + bytes([0, 0xAA, 7, 0]))
        data += (32).to_bytes(3, "little") + bytes([0xF8]) + (8).to_bytes(3, "little") + bytes([0x19]) + bytes(4)
        name = pp.probe_file_name(WRITE_PROBE)
        renamed = pp.renamed_ffs(bytes(data), name)
        ffs = pp.firmware_volume.read_file(renamed, 0, len(renamed))
        self.assertEqual(ffs.name, name)
        self.assertTrue(pp.firmware_volume.header_checksum_ok(renamed, ffs))
        self.assertEqual(renamed[18:], bytes(data[18:]))
        self.assertNotEqual(pp.probe_file_name(EXECUTE_PROBE), name)


class TableTest(unittest.TestCase):
    def test_one_row_a_probe_and_one_column_a_firmware(self):
        firmware = pp.FIRMWARES[1]
        results = [
            pp.Result(pp.Case(WRITE_PROBE, firmware, mode), pp.Observation(outcome, "", {}, {}), [], 1.0, "")
            for mode, outcome in ((pp.DISK, pp.RUNS), (pp.VOLUME, pp.FAULTS))
        ]
        table = pp.result_table(results).splitlines()
        self.assertEqual(len(table), 3)
        self.assertIn(firmware.name, table[0])
        self.assertEqual(table[2], "| `write-code` | %s | runs / faults |" % WRITE_PROBE.rule)


if __name__ == "__main__":
    unittest.main()


class FirmwareBuilds(unittest.TestCase):
    def test_each_probe_firmware_boots_its_builds_image_variables_and_key(self):
        expected = {  # name: (code image, variable store) file names, the key only with Secure Boot
            "ovmf-2022.11": ("/usr/share/OVMF/OVMF_CODE_4M.fd", "OVMF_VARS_4M.fd"),
            "ovmf-2025.02": ("ovmf-2025.02/usr/share/OVMF/OVMF_CODE_4M.fd", "OVMF_VARS_4M.fd"),
            "ovmf-2025.02-secboot": ("ovmf-2025.02/usr/share/OVMF/OVMF_CODE_4M.secboot.fd", "snakeoil"),
            "ovmf-2025.02-strictnx": ("ovmf-2025.02/usr/share/OVMF/OVMF_CODE_4M.secboot.strictnx.fd", "snakeoil"),
        }
        self.assertEqual(sorted(expected), sorted(pp.FIRMWARE_NAMES))
        for firmware in pp.FIRMWARES:
            code, store = expected[firmware.name]
            with self.subTest(firmware.name):
                self.assertTrue(firmware.code.endswith(code), firmware.code)
                stores = firmware.source.secure_vars if firmware.secure_boot else firmware.source.plain_vars
                self.assertIn(store, os.path.basename(stores[0]))
                self.assertEqual(bool(firmware.source.key) and firmware.secure_boot, firmware.secure_boot)

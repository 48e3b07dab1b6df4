#!/usr/bin/env python3
"""Boots the notice driver on real firmware (OVMF or U-Boot under QEMU, TCG)
and checks what it did against notice-sim on the same machine.

    run.py [CASE ...] [--set NAME ...] [--driver-in-firmware] [--firmware NAME] [--code FD [--secure-code FD]]

A case is a scenario (the driver loaded from disk by the test application,
or with --driver-in-firmware inside the firmware image) or a cell of the
compatibility matrix; --list names them all. A set runs many: `scenarios`,
`scenarios-in-firmware` (on the default OVMF), `scenarios-2025` (both
placements on Debian 13's OVMF), `secure-strictnx` (the Secure Boot ones on
its strict-NX build), `matrix` (every cell, some on both OVMF builds; --json,
--table and --update-readme write its results). Sets given together run as
one batch, two QEMU at a time. --firmware boots every OVMF case on that build
(a case that then repeats another runs once); --code boots a firmware image
you made (with notice-insert, say) with the variable store of its size.

A case passes only when every application step reported success in order,
the firmware ended the run as it does (OVMF powers off; U-Boot is ended once
it asked to), the driver printed exactly the expected console lines, and
notice-sim, running the driver's own code on the machine the firmware
reported, chose the same notices, wrote the same EC and CMOS port bytes,
connected the same controllers and drew the same screen pixel for pixel.

Exit status: 0 when every case that ran passed, 1 otherwise, 2 on bad usage.
"""

import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases  # noqa: E402
import firmwares  # noqa: E402
import pipeline  # noqa: E402


def parse_arguments(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("case", nargs="*", metavar="CASE", help="case to run (default: plain; see --list)")
    parser.add_argument("--set", action="append", choices=list(cases.SETS), default=[], help="run a set of cases")
    parser.add_argument("--list", action="store_true", help="list the cases and sets and exit")
    parser.add_argument(
        "--driver-in-firmware", action="store_true", help="scenarios: the firmware image carries the driver"
    )
    parser.add_argument("--firmware", choices=firmwares.NAMES, help="boot every case of its kind on this firmware")
    parser.add_argument("--code", help="a code image to boot (Secure Boot off) with the driver and pictures inside")
    parser.add_argument("--secure-code", help="with --code: the code image for Secure Boot on")
    parser.add_argument("--build-dir", default=pipeline.DEFAULT_BUILD_DIR, help="image build (default build/image)")
    parser.add_argument("--driver", help="driver image (default: BUILD_DIR/notice.efi)")
    parser.add_argument("--uboot-driver", help="driver image for the U-Boot cases; it must hold no SSE instruction")
    parser.add_argument("--app", help="test application (default: BUILD_DIR/e2e/app/notice-e2e.efi)")
    parser.add_argument("--notice-sim", default=pipeline.DEFAULT_NOTICE_SIM, help="the notice-sim program")
    parser.add_argument("--notice-pack", default=pipeline.DEFAULT_NOTICE_PACK, help="the notice-pack program")
    parser.add_argument("--firmware-cache", metavar="DIR", help="built images (default: BUILD_DIR/firmware-images)")
    parser.add_argument("--json", metavar="FILE", help="write the results as JSON")
    parser.add_argument("--table", metavar="FILE", help="write the results as a Markdown table")
    parser.add_argument("--update-readme", metavar="README", help="put the table into README's matrix section")
    parser.add_argument("--jobs", type=int, default=2, help="QEMU instances at once (default 2)")
    parser.add_argument("--timeout", type=float, default=pipeline.DEFAULT_TIMEOUT_S, help="per QEMU run, seconds")
    parser.add_argument("--workdir", help="where run files go (default: a temporary directory, removed on success)")
    parser.add_argument("--show-serial", action="store_true", help="print each run's serial output")
    args = parser.parse_args(argv)
    if args.jobs < 1:
        parser.error("--jobs wants 1 or more")
    if args.secure_code and not args.code:
        parser.error("--secure-code goes with --code")
    unknown = [name for name in args.case if name not in cases.NAMES]
    if unknown:
        parser.error("no case %s (--list names them)" % ", ".join(unknown))
    return args


def chosen_cases(args):
    chosen = [case for name in args.set for case in cases.SETS[name]]
    names = args.case or ([] if args.set else cases.DEFAULT_CASES)
    return chosen + [cases.named(name, args.driver_in_firmware) for name in names]


def settings_from(args):
    firmware = firmwares.by_name(args.firmware or firmwares.DEFAULT) if args.firmware or args.code else None
    if args.code:
        firmware = firmwares.given(args.code, args.secure_code, firmware)
    return pipeline.Settings(
        build_dir=args.build_dir,
        driver=args.driver,
        uboot_driver=args.uboot_driver,
        app=args.app,
        notice_sim=args.notice_sim,
        notice_pack=args.notice_pack,
        firmware_cache=args.firmware_cache,
        firmware=firmware,
        workdir=args.workdir,
        timeout=args.timeout,
        jobs=args.jobs,
        show_serial=args.show_serial,
    )


def list_cases():
    for name, members in cases.SETS.items():
        print("set %s: %d cases" % (name, len(members)))
    for case in cases.SCENARIOS + cases.CELLS:
        print("%-30s notice %d  %s" % (case.name, case.notice, case.about))
    print("firmware: %s (default %s)" % (", ".join(firmwares.NAMES), firmwares.DEFAULT))


def main(argv=None):
    args = parse_arguments(argv)
    if args.list:
        list_cases()
        return 0
    started = time.monotonic()
    try:
        reports, root = pipeline.run_cases(chosen_cases(args), settings_from(args))
    except (RuntimeError, OSError, firmwares.FirmwareError) as error:
        print("run.py: %s" % error, file=sys.stderr)
        return 2
    wall_time = time.monotonic() - started
    records = [pipeline.result_record(r) for r in reports]
    if args.json or args.table or args.update_readme:
        # The table holds the matrix's cells when any ran (a scenario is no row of it); the JSON every case.
        rows = [r for r in records if r["matrix"]] or records
        print(pipeline.write_results(records, rows, wall_time, args.json, args.table, args.update_readme))
    failed = [r["case"] for r in records if r["status"] == "fail"]
    not_run = [r["case"] for r in records if r["status"] == "not run"]
    print(
        "== %d of %d cases passed in %.1f s%s%s"
        % (
            sum(r["status"] == "pass" for r in records),
            len(records),
            wall_time,
            "; failed: " + ", ".join(failed) if failed else "",
            "; not run: " + ", ".join(not_run) if not_run else "",
        )
    )
    if not failed and not args.workdir:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

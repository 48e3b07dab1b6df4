#!/usr/bin/env python3
"""Shows the notice driver at work in real firmware: builds an OVMF image that
carries the driver and six pictures, boots it headless under QEMU (TCG) with
the test application, and leaves the screen and the console in OUT.

Files left:

    OUT/screen.png    the screen while the notice is held
    OUT/console.log   the firmware console (serial port), terminal escapes removed
    OUT/run/          every run file (QEMU command, port logs, notice-sim's output)

    e2e/make_run.py --build-dir build/image --host-build build/host-gcc --out out
        [--scenario NAME] [--pictures DIR] [--screen WxH] [--firmware NAME] [--preview]

BUILD_DIR is the image build (notice.efi, e2e/app/notice-e2e.efi); the
firmware image is kept in BUILD_DIR/firmware-images/demo and rebuilt only
when an input changes. HOST_BUILD is a host build: its notice-pack packs the
files, its demo-pictures/ holds the demo pictures, and its notice-sim runs
the same machine so the real screen can be checked against it pixel for
pixel. --pictures DIR puts DIR/notice1.bmp to notice6.bmp in place of the
demo pictures (any left out stay the demo ones). --screen WxH sets the
display resolution. --preview runs the same machine on notice-sim alone
(OUT/preview/), without QEMU or the image build.

A scenario the firmware image cannot express (the driver refused for want of
a signature) boots the driver from disk instead. --firmware NAME boots
another firmware build (run.py --list names them).

Exit status 0 when the run passed every check of its case, 1 when it failed,
2 on bad usage or missing tools.
"""

import argparse
import contextlib
import dataclasses
import io
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import cases  # noqa: E402
import firmwares  # noqa: E402
import pictures  # noqa: E402
import pipeline  # noqa: E402
import user_pictures  # noqa: E402
from png_write import write_png_rgb  # noqa: E402
from qemu import ANSI_ESCAPE, read_ppm  # noqa: E402
from simulator import DEFAULT_SCREEN, run_simulator, simulator_arguments  # noqa: E402

NOTICE_MEANINGS = {
    0: "no notice",
    1: "notice 1 (the embedded controller's state code 1)",
    2: "notice 2 (the embedded controller's flag bit)",
    3: "notice 3 (a critical level)",
    4: "notice 4 (no storage controller found)",
    5: "notice 5 (Secure Boot is off)",
    6: "notice 6",
}
BOOT_ORDER_LINE = re.compile(rb"^BdsDxe: failed to load Boot\d+ .*NVMe.*$", re.M)


def host_tools(host_build):
    """notice-pack, notice-sim and the demo picture folder of the host build."""
    tools = (
        os.path.join(host_build, "tools", "notice-pack", "notice-pack"),
        os.path.join(host_build, "tools", "notice-sim", "notice-sim"),
        os.path.join(host_build, "demo-pictures"),
    )
    for path in tools[:2] + tuple(os.path.join(tools[2], "notice%d.bmp" % m) for m in range(1, 7)):
        if not os.path.exists(path):
            raise RuntimeError("%s not found (make host-tools builds it)" % path)
    return tools


def screen_size(text):
    match = re.fullmatch(r"(\d{3,5})x(\d{3,5})", text)
    if not match:
        raise argparse.ArgumentTypeError("--screen wants WIDTHxHEIGHT, e.g. 1024x768, not %r" % text)
    return int(match.group(1)), int(match.group(2))


def case_of(config):
    """The scenario make run boots: inside the firmware image unless only the disk can express it, on a
    standard VGA of the chosen size."""
    case = cases.named(config.scenario, driver_in_firmware=True)
    if case.skip_reason():
        case = dataclasses.replace(case, driver="disk")
    if config.screen:
        case = dataclasses.replace(case, display="std-vga", resolution=config.screen)
    return case


def settings_of(config, notice_pack, notice_sim, pictures_dir, workdir):
    return pipeline.Settings(
        build_dir=config.build_dir,
        notice_pack=notice_pack,
        notice_sim=notice_sim,
        firmware_cache=os.path.join(config.build_dir, "firmware-images", "demo"),
        firmware=firmwares.by_name(config.firmware),
        pictures_dir=pictures_dir,
        workdir=workdir,
        timeout=config.timeout,
        jobs=1,
    )


def keep_results(workdir, out):
    """OUT/screen.png and OUT/console.log from the run files; returns (screenshot kept, console text)."""
    text = b""
    serial = os.path.join(workdir, "serial.log")
    if os.path.exists(serial):
        with open(serial, "rb") as f:
            text = ANSI_ESCAPE.sub(b"", f.read()).replace(b"\r", b"")
        with open(os.path.join(out, "console.log"), "wb") as f:
            f.write(text)
    shot = os.path.join(workdir, "screen.ppm")
    if not os.path.exists(shot):
        return False, text
    width, height, pixels = read_ppm(shot)
    write_png_rgb(os.path.join(out, "screen.png"), width, height, pixels)
    return True, text


def choose_pictures(config, demo_dir):
    """The folder of the six pictures to use and a line saying where they came from."""
    if not config.pictures:
        return demo_dir, "the demo pictures"
    out = os.path.join(config.out, "pictures")
    own, demo = user_pictures.prepare(config.pictures, demo_dir, out, config.host_build)
    line = "pictures %s from %s" % (", ".join(map(str, own)), config.pictures)
    return out, line + (", %s the demo ones" % ", ".join(map(str, demo)) if demo else "")


def preview(config, case, notice_sim, pictures_dir, pictures_line):
    """The case's machine on notice-sim alone."""
    if not case.driver_runs():
        print(
            "make_preview: in scenario %s the firmware refuses the unsigned driver; there is nothing to simulate"
            % case.name
        )
        return 0
    out = os.path.join(config.out, "preview")
    chosen = pictures.stored(case.variant, pictures.picture_set("test", pictures_dir=pictures_dir))
    files = pictures.write_bmps(os.path.join(out, "pictures"), chosen)
    width, height = config.screen or DEFAULT_SCREEN
    facts = {"PciIoHandles": 1, "GopModes": 1, "GopWidth": width, "GopHeight": height}
    record = run_simulator(notice_sim, out, simulator_arguments(case, facts, [files]), want_screen=False)
    if record.failure:
        print("make_preview: " + record.failure, file=sys.stderr)
        return 1
    print(
        "make_preview: scenario %s (%s), %dx%d screen, %s, on the simulator in virtual time"
        % (case.name, case.about, width, height, pictures_line)
    )
    print("make_preview: " + record.sentence)
    print(
        "make_preview: %s, %s, %s" % tuple(os.path.join(out, n) for n in ("screen.png", "summary.json", "events.jsonl"))
    )
    return 0


def run_in_qemu(config, case, notice_pack, notice_sim, pictures_dir, pictures_line):
    """The case's machine in QEMU; prints what appeared."""
    for name in ("screen.png", "console.log"):
        if os.path.exists(os.path.join(config.out, name)):
            os.unlink(os.path.join(config.out, name))
    root = os.path.abspath(os.path.join(config.out, "run"))
    shutil.rmtree(root, ignore_errors=True)
    how = (
        "the driver and %s inside %s" % (pictures_line, config.firmware)
        if case.in_firmware()
        else "the driver loaded from disk (this scenario needs it unsigned)"
    )
    print(
        "make_run: booting scenario %s (%s) with %s, %s screen; takes a minute or two"
        % (case.name, case.about, how, "%dx%d" % config.screen if config.screen else "the default")
    )
    # The run's full report goes to a file; it is shown only when the run failed.
    log = io.StringIO()
    with contextlib.redirect_stdout(log):
        try:
            reports, _ = pipeline.run_cases([case], settings_of(config, notice_pack, notice_sim, pictures_dir, root))
        except (RuntimeError, OSError, firmwares.FirmwareError) as error:
            print("make_run: %s" % error)
            reports = []
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "report.txt"), "w") as f:
        f.write(log.getvalue())
    report = reports[0] if reports else None
    have_screen, console = keep_results(report.workdir if report else os.path.join(root, case.name), config.out)
    if report is None or report.status != "pass":
        print(log.getvalue(), end="")
        print("make_run: the %s run failed (see above); files in %s" % (case.name, root))
        return 1 if report else 2
    if case.driver_runs():
        # The run passed only if the real screen, console and ports equal the simulator's, so its notice is shown.
        print(
            "make_run: %s appeared; the screen equals notice-sim's pixel for pixel."
            % (" then ".join(NOTICE_MEANINGS.get(m, "notice %d" % m) for m in report.sim.modes) or "no notice")
        )
        if report.sim.sentence:
            print("make_run: notice-sim: " + report.sim.sentence)
        timing = [note for note in report.notes if note.startswith("the driver's notice took")]
        if timing:
            print("make_run: " + timing[0])
    else:
        print("make_run: the firmware refused the unsigned driver, as it should under Secure Boot.")
    boot_order = (
        " (its first line is the firmware trying the empty NVMe disk before the boot disk)"
        if BOOT_ORDER_LINE.search(console)
        else ""
    )
    print(
        "make_run: %s%s%s; every run file and the full report in %s"
        % (
            os.path.join(config.out, "screen.png") + ", " if have_screen else "",
            os.path.join(config.out, "console.log"),
            boot_order,
            root,
        )
    )
    return 0


def parse_arguments(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True, help="image build directory")
    parser.add_argument("--host-build", required=True, help="host build directory")
    parser.add_argument("--out", default="out", help="where screen.png and console.log go (default: out)")
    parser.add_argument(
        "--scenario",
        default="plain",
        choices=[s.name for s in cases.SCENARIOS],
        help="the machine to boot (default: plain; run.py --list describes them)",
    )
    parser.add_argument("--pictures", metavar="DIR", help="notice1.bmp ... notice6.bmp (or .png) to use")
    parser.add_argument("--screen", type=screen_size, metavar="WxH", help="display resolution (default 1280x800)")
    parser.add_argument("--firmware", default=firmwares.DEFAULT, choices=firmwares.NAMES[:-1], help="OVMF build")
    parser.add_argument("--preview", action="store_true", help="run the machine on notice-sim only")
    parser.add_argument("--timeout", type=float, default=pipeline.DEFAULT_TIMEOUT_S, help="per QEMU run, seconds")
    return parser.parse_args(argv)


def main(argv=None):
    config = parse_arguments(argv)
    case = case_of(config)
    label = "make_preview" if config.preview else "make_run"

    try:
        notice_pack, notice_sim, demo_dir = host_tools(config.host_build)
    except RuntimeError as error:
        print("%s: the host tools are not there: %s" % (label, error), file=sys.stderr)
        return 2
    os.makedirs(config.out, exist_ok=True)
    try:
        pictures_dir, pictures_line = choose_pictures(config, demo_dir)
    except (user_pictures.PictureError, OSError) as error:
        print("%s: %s" % (label, error), file=sys.stderr)
        return 2
    if config.preview:
        return preview(config, case, notice_sim, pictures_dir, pictures_line)
    return run_in_qemu(config, case, notice_pack, notice_sim, pictures_dir, pictures_line)


if __name__ == "__main__":
    sys.exit(main())

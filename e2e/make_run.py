#!/usr/bin/env python3
"""Shows the notice driver at work in real firmware: builds an OVMF image that
carries the driver and six pictures, boots it headless under QEMU (TCG) with
the test application, and leaves the screen and the console in OUT.

Files left:

    OUT/screen.png    the screen while the notice is held
    OUT/console.log   the firmware console (serial port), terminal escapes removed
    OUT/run/          every run file (QEMU command, port logs, notice-sim's output)

    e2e/make_run.py --build-dir build/image --host-build build/host-gcc --out out
        [--scenario NAME] [--pictures DIR] [--screen WxH] [--preview]

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
a signature) boots the driver from disk instead, as run.py does.

Exit status 0 when the run passed every check of run.py's scenario, 1 when
it failed, 2 on bad usage or missing tools.
"""

import argparse
import contextlib
import dataclasses
import io
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run  # noqa: E402  (puts e2e/firmware on the path)
import make_images  # noqa: E402
import user_pictures  # noqa: E402
from png_write import write_png_rgb  # noqa: E402
from qemu import ANSI_ESCAPE, read_ppm  # noqa: E402
from run_config import DEFAULT_TIMEOUT_S, RunConfig  # noqa: E402
from scenarios import SCENARIO_NAMES, scenario_named  # noqa: E402
from simulator import simulator_arguments  # noqa: E402

NOTICE_MEANINGS = {
    0: "no notice",
    1: "notice 1 (the embedded controller's state code 1)",
    2: "notice 2 (the embedded controller's flag bit)",
    3: "notice 3 (a critical level)",
    4: "notice 4 (no storage controller found)",
    5: "notice 5 (Secure Boot is off)",
    6: "notice 6",
}
HOST_TARGETS = ["notice-pack", "notice-sim", "demo_pictures"]
DEFAULT_SCREEN = (1280, 800)  # OVMF's mode on QEMU's standard VGA
BOOT_ORDER_LINE = re.compile(rb"^BdsDxe: failed to load Boot\d+ .*NVMe.*$", re.M)


@dataclasses.dataclass
class MakeRunConfig:
    """make_run.py's command line."""

    build_dir: str  # the image build: notice.efi, e2e/app/notice-e2e.efi
    host_build: str  # the host build: notice-pack, notice-sim, demo-pictures/
    out: str = "out"  # where screen.png and console.log go
    scenario: str = "plain"
    pictures: str = None  # a folder of notice1 ... notice6 (.bmp or .png) in place of the demo pictures
    screen: tuple = None  # (width, height); None: QEMU's standard VGA
    preview: bool = False  # the machine on notice-sim alone
    timeout: float = DEFAULT_TIMEOUT_S


def host_tools(host_build):
    """Builds (if needed) and returns notice-pack, notice-sim and the demo picture folder."""
    subprocess.run(["cmake", "--build", host_build, "--target"] + HOST_TARGETS, check=True, stdout=subprocess.DEVNULL)
    tools = (
        os.path.join(host_build, "tools", "notice-pack", "notice-pack"),
        os.path.join(host_build, "tools", "notice-sim", "notice-sim"),
        os.path.join(host_build, "demo-pictures"),
    )
    for path in tools[:2] + tuple(os.path.join(tools[2], "notice%d.bmp" % m) for m in range(1, 7)):
        if not os.path.exists(path):
            raise RuntimeError("%s not found after building %s" % (path, " ".join(HOST_TARGETS)))
    return tools


def screen_size(text):
    match = re.fullmatch(r"(\d{3,5})x(\d{3,5})", text)
    if not match:
        raise argparse.ArgumentTypeError("--screen wants WIDTHxHEIGHT, e.g. 1024x768, not %r" % text)
    return int(match.group(1)), int(match.group(2))


def run_config(config, scenario, notice_pack, notice_sim, pictures_dir, workdir):
    """run.py's settings for one run: the firmware image with the pictures, or the driver from disk."""
    in_firmware = scenario.runs_in_firmware()
    return RunConfig(
        build_dir=config.build_dir,
        scenarios=(scenario.name,),
        driver_in_firmware=in_firmware,
        notice_pack=notice_pack if in_firmware else None,
        firmware_cache=os.path.join(config.build_dir, "firmware-images", "demo"),
        notice_sim=notice_sim,
        timeout=config.timeout,
        workdir=workdir,
        demo_pictures=pictures_dir if in_firmware else None,
        screen="%dx%d" % config.screen if config.screen else "",
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


def simulator_sentence(workdir):
    """notice-sim's own account of what the driver did (its last output line), or None."""
    path = os.path.join(workdir, "notice-sim-command.txt")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        lines = [line for line in f.read().splitlines()[1:] if line.strip()]
    return lines[-1] if lines else None


def preview(config, scenario, notice_sim, pictures_dir, pictures_line):
    """The scenario's machine on notice-sim alone."""
    if not scenario.driver_runs():
        print(
            "make_preview: in scenario %s the firmware refuses the unsigned driver; there is nothing to simulate"
            % scenario.name
        )
        return 0
    out = os.path.join(config.out, "preview")
    chosen = make_images.variant_pictures(scenario.firmware_variant(), make_images.source_pictures(pictures_dir))
    paths = make_images.write_pictures(os.path.join(out, "pictures"), chosen)
    files = {"PICTURE%d.BMP" % mode: path for mode, path in paths.items()}
    width, height = config.screen or DEFAULT_SCREEN
    command = [notice_sim, "--out", out] + simulator_arguments(scenario, width, height, files)
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        print("make_preview: notice-sim failed (%d): %s" % (result.returncode, result.stdout.strip()), file=sys.stderr)
        return 1
    print(
        "make_preview: scenario %s (%s), %dx%d screen, %s, on the simulator in virtual time"
        % (scenario.name, scenario.about, width, height, pictures_line)
    )
    print("make_preview: " + result.stdout.strip().splitlines()[-1])
    print(
        "make_preview: %s, %s, %s" % tuple(os.path.join(out, n) for n in ("screen.png", "summary.json", "events.jsonl"))
    )
    return 0


def boot(config, scenario, notice_pack, notice_sim, pictures_dir, pictures_line):
    """The scenario's machine in QEMU; prints what appeared."""
    for name in ("screen.png", "console.log"):
        if os.path.exists(os.path.join(config.out, name)):
            os.unlink(os.path.join(config.out, name))
    root = os.path.abspath(os.path.join(config.out, "run"))
    shutil.rmtree(root, ignore_errors=True)
    how = (
        "the driver and %s inside OVMF" % pictures_line
        if scenario.runs_in_firmware()
        else "the driver loaded from disk (this scenario needs it unsigned)"
    )
    print(
        "make_run: booting scenario %s (%s) with %s, %s screen; takes a minute or two"
        % (scenario.name, scenario.about, how, "%dx%d" % config.screen if config.screen else "the default")
    )
    # run.py's full report goes to a file; it is shown only when the run failed.
    report = io.StringIO()
    with contextlib.redirect_stdout(report):
        status = run.run_scenarios(run_config(config, scenario, notice_pack, notice_sim, pictures_dir, root))
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "report.txt"), "w") as f:
        f.write(report.getvalue())
    workdir = os.path.join(root, scenario.name)
    have_screen, console = keep_results(workdir, config.out)
    if status != 0:
        print(report.getvalue(), end="")
        print("make_run: the %s run failed (see above); files in %s" % (scenario.name, root))
        return status
    if scenario.driver_runs():
        # The run passed only if the real screen, console and ports equal the simulator's, so its notice is shown.
        with open(os.path.join(workdir, "notice-sim", "summary.json")) as f:
            shown = [n["notice_mode"] for n in json.load(f)["notifications"]]
        print(
            "make_run: %s appeared; the screen equals notice-sim's pixel for pixel."
            % (" then ".join(NOTICE_MEANINGS.get(m, "notice %d" % m) for m in shown) or "no notice")
        )
        sentence = simulator_sentence(workdir)
        if sentence:
            print("make_run: notice-sim: " + sentence)
        timing = re.search(r"^   (the driver's notice took .*)$", report.getvalue(), re.M)
        if timing:
            print("make_run: " + timing.group(1))
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


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True, help="image build directory")
    parser.add_argument("--host-build", required=True, help="host build directory")
    parser.add_argument("--out", default="out", help="where screen.png and console.log go (default: out)")
    parser.add_argument(
        "--scenario",
        default="plain",
        choices=SCENARIO_NAMES,
        help="the machine to boot (default: plain; run.py --list describes them)",
    )
    parser.add_argument("--pictures", metavar="DIR", help="notice1.bmp ... notice6.bmp (or .png) to use")
    parser.add_argument("--screen", type=screen_size, metavar="WxH", help="display resolution (default 1280x800)")
    parser.add_argument("--preview", action="store_true", help="run the machine on notice-sim only")
    parser.add_argument(
        "--timeout", type=float, default=DEFAULT_TIMEOUT_S, help="hard limit for the QEMU run in seconds"
    )
    config = MakeRunConfig(**vars(parser.parse_args(argv)))
    scenario = scenario_named(config.scenario)
    label = "make_preview" if config.preview else "make_run"

    try:
        notice_pack, notice_sim, demo_dir = host_tools(config.host_build)
    except (subprocess.CalledProcessError, RuntimeError, OSError) as error:
        print("%s: the host tools are not there: %s" % (label, error), file=sys.stderr)
        return 2
    os.makedirs(config.out, exist_ok=True)
    try:
        pictures_dir, pictures_line = choose_pictures(config, demo_dir)
    except (user_pictures.PictureError, OSError) as error:
        print("%s: %s" % (label, error), file=sys.stderr)
        return 2
    if config.preview:
        return preview(config, scenario, notice_sim, pictures_dir, pictures_line)
    return boot(config, scenario, notice_pack, notice_sim, pictures_dir, pictures_line)


if __name__ == "__main__":
    sys.exit(main())
